#include "script/directories.h"

#include "script/path_text.h"
#include "win/code_page.h"

namespace vorlatch {

namespace {

std::string TrimWhiteSpace(const std::string& text) {
  const char* const kWhiteSpace = " \t\r\n\v\f";
  const std::size_t first = text.find_first_not_of(kWhiteSpace);
  if (first == std::string::npos) {
    return std::string();
  }
  const std::size_t last = text.find_last_not_of(kWhiteSpace);
  return text.substr(first, last - first + 1);
}

}  // namespace

bool IsDirectory(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool EnsureDirectory(const std::string& path, DirectoryWalk* walk, DWORD levelWait) {
  const std::string trimmed = TrimWhiteSpace(path);
  if (IsDirectory(trimmed)) {
    return true;
  }
  return CreateDirectoryTree(trimmed, walk, levelWait);
}

bool CreateDirectoryTree(const std::string& path, DirectoryWalk* walk, DWORD levelWait) {
  const std::string full = WithTrailingBackslash(path);
  // Empty, or a drive root such as C:\ (which is never created).
  if (full.size() <= 3) {
    return false;
  }
  const CodePage& codePage = ActiveCodePage();
  std::string prefix;
  for (std::size_t at = 0; at < full.size();) {
    const std::size_t length = codePage.CharLength(full, at);
    if (prefix.size() > 3 && length == 1 && full[at] == '\\') {
      if (walk != nullptr) {
        walk->visited.push_back(prefix);
      }
      if (!IsDirectory(prefix)) {
        if (CreateDirectoryA(prefix.c_str(), nullptr) == FALSE &&
            CreateDirectoryA(WithoutTrailingBackslash(prefix).c_str(), nullptr) == FALSE) {
          return false;
        }
        if (walk != nullptr) {
          walk->created.push_back(prefix);
        }
      }
      Sleep(levelWait);
    }
    prefix.append(full, at, length);
    at += length;
  }
  return true;
}

}  // namespace vorlatch
