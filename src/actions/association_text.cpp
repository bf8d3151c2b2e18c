#include "actions/association_text.h"

#include <utility>

#include "script/path_text.h"

namespace vorlatch {

namespace {

bool IsBlank(char c) {
  const unsigned char code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

}  // namespace

std::string NextItem(std::string& list, std::string_view separators) {
  // A trail byte of a double-byte character is never a separator.
  const CodePage& codePage = ActiveCodePage();
  std::size_t separator = 0;
  while (separator < list.size() && (separators.find(list[separator]) == std::string_view::npos ||
                                     codePage.CharLength(list, separator) != 1)) {
    separator += codePage.CharLength(list, separator);
  }
  if (separator >= list.size()) {
    return std::exchange(list, std::string());
  }
  std::string item = list.substr(0, separator);
  list.erase(0, separator + 1);
  return item;
}

std::string NormaliseExtension(const std::string& item) {
  // Dots and blanks may mix at the front ("txt; .doc"): all of them go, so that no
  // extension ever gets two dots.
  std::size_t first = 0;
  while (first < item.size() && (item[first] == '.' || IsBlank(item[first]))) {
    ++first;
  }
  std::size_t end = item.size();
  while (end > first && IsBlank(item[end - 1])) {
    --end;
  }
  if (end == first) {
    return std::string();
  }
  return '.' + item.substr(first, end - first);
}

std::vector<std::string> AssociationExtensions(const std::string& list, std::size_t limit) {
  std::vector<std::string> extensions;
  std::string rest = list;
  while (extensions.size() < limit) {
    const std::string item = NextItem(rest, kAssociationSeparator);
    if (item.empty()) {
      break;
    }
    std::string extension = NormaliseExtension(item);
    if (!extension.empty()) {
      extensions.push_back(std::move(extension));
    }
  }
  return extensions;
}

std::string ProgramIdentifier(const std::string& fileName) {
  return NameWithoutExtension(FileNameOf(fileName)) + kProgramIdSuffix;
}

std::string OpenCommand(const std::string& filePath) {
  return filePath + " %1";
}

}  // namespace vorlatch
