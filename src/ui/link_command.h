#pragma once
// The command line that opens a web address with the program registered for web pages, for
// systems on which the shell cannot open the address itself. Pure string work, so that it can
// be tested away from Windows.

#include <cstddef>
#include <optional>
#include <string>

namespace vorlatch {

// The longest command line, terminating null included, that a link may start.
inline constexpr std::size_t kMaxLinkCommandLine = 520;

// The part of an open-command template before its placeholder: the template is cut at the
// opening quote of the first "%1" in double quotes, else at the first bare %1; a template
// without a placeholder is kept whole.
std::string CommandBeforePlaceholder(const std::string& commandTemplate);

// The template cut before its placeholder, one blank and the address as it is (no quotes).
// Empty when the result would not fit into kMaxLinkCommandLine bytes: a cut address would
// open some other page.
std::optional<std::string> LinkCommandLine(const std::string& commandTemplate,
                                           const std::string& address);

}  // namespace vorlatch
