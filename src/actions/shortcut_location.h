#pragma once
// Where a shortcut file lies: the installer saves it there and the uninstaller finds it
// there. Apart from the shortcuts' making, so that the uninstaller links only this.

#include <optional>
#include <string>

namespace vorlatch {

// The full path of the shortcut file that CreateShellLink saves for these arguments (the
// uninstaller finds the shortcuts this way); none when the shell folder is unknown.
std::optional<std::string> ShortcutFilePath(int folderId, const std::string& subfolder,
                                            const std::string& linkName,
                                            const std::string& displayName = "");

}  // namespace vorlatch
