#include "actions/logged_targets.h"

#include "package/temporary_folder.h"
#include "script/path_macros.h"
#include "script/path_text.h"
#include "win/ansi_names.h"

namespace vorlatch {

MacroFolders MacroFoldersOfSystem(const std::string& installationFolder) {
  MacroFolders folders;
  folders.windows = WindowsDirectory();
  folders.system = SystemDirectory();
  folders.temp = TemporaryDirectory();
  folders.programFiles = ProgramFilesDirectory();
  for (int i = 0; i < kNamedFolderMacroCount; ++i) {
    folders.named[i] = NamedFolder(i);
  }
  const std::string bid = WithTrailingBackslash(installationFolder);
  // Levels such as ".." are resolved the way the installer's file calls resolved them, and
  // short names are made long, so that a system folder is known by any of its names.
  if (IsAbsolutePath(bid)) {
    const std::string full = FullPathName(bid);
    const std::string longName = LongPathName(full);
    folders.bid = WithTrailingBackslash(longName.empty() ? full : longName);
  }
  return folders;
}

bool IsTargetOurs(bool existed, bool replaced) {
  return !existed || replaced;
}

}  // namespace vorlatch
