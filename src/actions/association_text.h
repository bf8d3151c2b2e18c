#pragma once
// The text side of file associations: splitting an association list into items, turning an
// item into an extension and a file name into its program identifier. Free of <windows.h>
// so that native tests reach it.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vorlatch {

// Separator of the items of an Associations<n> list.
inline constexpr char kAssociationSeparator[] = ";";
// Most extension items that one installation registers; later items are ignored.
inline constexpr std::size_t kMaxExtensionItems = 260;
// Appended to a file's name (before its first dot) to form its program identifier.
inline constexpr char kProgramIdSuffix[] = "_file";

// The characters of `list` up to the first one that occurs in `separators`; they and that one
// separator are removed from the front of `list`. Empty at the end of the list.
std::string NextItem(std::string& list, std::string_view separators);

// The extension an item stands for, with one leading dot and the letter case kept: leading
// dots and blanks (codes 1 to 32) and trailing blanks are removed. Empty when nothing else
// is left.
std::string NormaliseExtension(const std::string& item);

// The extensions of an association list in order: items up to the first empty one, each
// normalised, those left empty skipped. At most `limit` are returned.
std::vector<std::string> AssociationExtensions(const std::string& list, std::size_t limit);

// "app_file" for app.exe (also for bin\app.exe); "_file" for a name without a dot.
std::string ProgramIdentifier(const std::string& fileName);

// The command that opens a document with the file: "<path> %1", unquoted.
std::string OpenCommand(const std::string& filePath);

}  // namespace vorlatch
