#pragma once
// The shell shortcuts of an installation: the Start Menu program group (with the
// uninstaller's shortcut and one per file that asks for one), the Desktop shortcut and the
// Quick Launch shortcut. Failures are silent; no caller looks at a result.

#include <optional>
#include <string>

#include "win/handles.h"

namespace vorlatch {

// Shell folders the shortcuts go into (CSIDL_PROGRAMS is kCsidlPrograms of path_macros.h).
inline constexpr int kCsidlDesktop = 0;
inline constexpr int kCsidlAppData = 26;
// The folders of all users, for [File] AllUsers=1 in a machine-wide installation.
inline constexpr int kCsidlCommonPrograms = 23;
inline constexpr int kCsidlCommonDesktop = 25;
inline int ProgramsFolderId(bool common) {
  return common ? kCsidlCommonPrograms : 2;
}
inline int DesktopFolderId(bool common) {
  return common ? kCsidlCommonDesktop : kCsidlDesktop;
}
inline constexpr char kQuickLaunchSubfolder[] = "Microsoft\\Internet Explorer\\Quick Launch";

// The Start Menu step: chooses the program group Company\Product (a numbered variant when an
// earlier installation owns the name, unless repairing), records [General] Instance in
// `uninstallLog` (the temporary uninstall log under construction), makes the uninstaller's
// shortcut and, unless the user declines, one shortcut per file with Shortcut<n> set.
void CreateStartMenuShortcuts(const std::string& uninstallLog);

// The shortcut of the file named by [File] Desktop on the Desktop, asked first with AskD.
void CreateDesktopShortcut();
// The shortcut of the file named by [File] QuickLaunch on the Quick Launch bar (AskQ).
void CreateQuickLaunchShortcut();

// What the script may add to file n's shortcuts. Empty members (and index 0) leave the
// shortcut as it is made without them.
struct ShortcutDetails {
  std::string name;  // a valid display name (ValidShortcutName), else empty
  std::string arguments;
  std::string workingFolder;
  std::string iconFile;
  int iconIndex = 0;
  std::string description;
};

// The ShortcutName<n> ... ShortcutDescription<n> keys of [File], paths expanded.
ShortcutDetails ReadShortcutDetails(int n);

// A shortcut's folder or icon path from the script: a leading macro gives its folder and the
// rest follows as written, an absolute path stays, anything else lies in the destination.
std::string ExpandShortcutPath(const std::string& value);

// Saves a shortcut to `target` as `linkName` (see ShortcutFileName; details.name replaces
// it) below the shell folder `folderId` and its `subfolder` (may be empty), with the
// target's icon or, when it has none, icon 1 of shell32.dll, unless the details say
// otherwise. 1 on success, 0 on failure. COM must be initialised.
int CreateShellLink(int folderId, const std::string& subfolder, const std::string& target,
                    const std::string& linkName, const ShortcutDetails& details = {});

// An icon of the file itself, else the icon of its file type; none when both fail.
UniqueIcon GetFileIcon(const std::string& path);

}  // namespace vorlatch
