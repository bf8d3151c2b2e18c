#pragma once
// Installing the packed files that the script lists in [File]: each one from the last to the
// first, with the overwrite question and its remembered answers, then offered for COM
// self-registration.

#include <string>

#include "package/format.h"

namespace vorlatch {

inline constexpr char kExtractingCaption[] = "Extracting";
inline constexpr char kErrorCaption[] = "Error";
inline constexpr char kCantRemovePrefix[] = "Can't remove ";
inline constexpr char kCantExtractPrefix[] = "Can't extract ";
inline constexpr char kCantExtractSuffix[] = ". Continue?";

// "File <target> exists." CR LF "Overwrite?"
std::string OverwriteQuestion(const std::string& target);

// 1 when every listed file was extracted, skipped, or left out with the user's consent; 0 on
// a fatal error (an empty name, an item that cannot be copied out of the package, a failed
// inflation), after which the caller shows the archive error for the current output file.
int ExtractFiles();

// Extracts one packed item to `target` (a full path), asking about an existing target.
// 1: go on with the next item (written, skipped, or left out); 0: fatal.
int ExtractOneFile(Bytes item, const std::string& target);

}  // namespace vorlatch
