#include "actions/shortcut_location.h"

#include <windows.h>

#include <shlobj.h>

#include <memory>

#include "actions/shortcut_names.h"
#include "script/path_text.h"

namespace vorlatch {

namespace {

struct ItemListDeleter {
  void operator()(ITEMIDLIST* list) const { CoTaskMemFree(list); }
};
using UniqueItemList = std::unique_ptr<ITEMIDLIST, ItemListDeleter>;

// The path of a shell folder through its item list; none when the shell does not know it.
std::optional<std::string> ShellFolderPath(int folderId) {
  ITEMIDLIST* rawList = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, folderId, &rawList)) || rawList == nullptr) {
    return std::nullopt;
  }
  const UniqueItemList list(rawList);
  char buffer[MAX_PATH] = {};
  if (SHGetPathFromIDListA(list.get(), buffer) == FALSE || buffer[0] == '\0') {
    return std::nullopt;
  }
  buffer[MAX_PATH - 1] = '\0';
  return std::string(buffer);
}

}  // namespace

std::optional<std::string> ShortcutFilePath(int folderId, const std::string& subfolder,
                                            const std::string& linkName,
                                            const std::string& displayName) {
  const std::optional<std::string> shellFolder = ShellFolderPath(folderId);
  if (!shellFolder) {
    return std::nullopt;
  }
  std::string path = *shellFolder;
  if (!subfolder.empty()) {
    if (subfolder.front() != '\\') {
      path += '\\';
    }
    path += subfolder;
  }
  return WithoutTrailingBackslash(path) + '\\' + ShortcutFileName(linkName, displayName);
}

}  // namespace vorlatch
