#pragma once
// The builder's checks of a project file against the catalogue of keys: unknown sections and
// keys, keys in the wrong section, counts and numbered keys that do not agree, duplicates,
// lines that are no key=value, unknown macros, forward slashes in Windows paths. Portable;
// reads only the text.

#include <string>
#include <string_view>
#include <vector>

namespace vorlatch::packer {

struct Diagnostic {
  int line = 0;        // 1-based; 0 when no line is to blame
  bool error = false;  // changes what gets installed; else a warning
  std::string message;
};

// Every mistake found, in the order of the lines.
std::vector<Diagnostic> CheckProjectText(std::string_view text);

// "file:line: error: message" (or warning).
std::string DiagnosticText(const std::string& file, const Diagnostic& diagnostic);

// The line of the first `key` in `section`, 0 when the text has none.
int LineOfKey(std::string_view text, std::string_view section, std::string_view key);

}  // namespace vorlatch::packer
