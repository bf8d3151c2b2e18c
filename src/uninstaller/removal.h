#pragma once
// Removing what an installation made, as its log names it, in the reverse order of making:
// the INI keys of the After stage, the files, the system's uninstall entry, the Quick Launch,
// Desktop and Start Menu shortcuts (with the group's folders), and the registry values and
// keys. The uninstaller itself and the installation's folders go last (self_removal.h).
//
// Nothing is removed that the log does not name, no path leaves the folder that its macro
// stands for, a folder or registry key goes only when it is empty, and a shortcut only when
// it still opens the file it was made for.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "uninstaller/log_reader.h"
#include "uninstaller/uninstall_text.h"

namespace vorlatch {

// Folders that no uninstallation removes, even when empty: drive roots, everything inside
// the Windows folder, and the system's own folders (Program Files, the profile, the shell
// folders, the temporary folder).
class ProtectedFolders {
 public:
  // The folders of this system.
  static ProtectedFolders OfSystem(const MacroFolders& folders);
  explicit ProtectedFolders(std::string windows = "", std::vector<std::string> folders = {});

  bool Contains(const std::string& folder) const;

 private:
  std::string windows_;
  std::vector<std::string> folders_;
};

// The macro folders of this system with the log's installation folder, made absolute.
MacroFolders MacroFoldersFor(const UninstallLog& log);

// The path that the system's uninstall entry names for the installation folder as logged.
std::string LoggedUninstallerPath(const UninstallLog& log);

// The folders that the installation may have made and that go when they are empty, deepest
// first: the installation folder and the folders below the macro folders that the file
// entries pass through. None when the installation folder is itself a protected folder (a
// drive root, the Windows folder): such a log removes files only.
std::vector<std::string> InstallationFolders(const UninstallLog& log, const MacroFolders& folders,
                                             const ProtectedFolders& protectedFolders);

// Removes the folder when it holds nothing (and is no link to another folder).
bool RemoveFolderIfEmpty(const std::string& folder);

// When the file (or folder) was last written or had its attributes or times changed, as
// FILETIME ticks; none when the file system does not tell. The installer sets the stored
// times on every file it writes, but it cannot set this one.
std::optional<std::uint64_t> ChangeTimeOf(const std::string& path);

// Whether the file was written or changed at or after `since` (FILETIME ticks); true when the
// file system does not tell.
bool ChangedSince(const std::string& path, std::uint64_t since);

// The earliest time the file carries (created, written, changed), a little earlier for coarse
// file times; none when it has none. For the uninstaller, the start of its installation: the
// installer sets its times then, and later writes into its tail change only the later ones.
std::optional<std::uint64_t> EarliestTimeOf(const std::string& path);

class Removal {
 public:
  // `madeSince`: only files changed at or after this time count as made by the installation
  // (the rollback of a terminated installation, whose later files were never written).
  // `installedAt`: when the installation began; a logged file outside the installation folder
  // (or in a protected folder) goes only when it was changed since (none: such files stay).
  Removal(const UninstallLog& log, MacroFolders folders, ProtectedFolders protectedFolders,
          std::optional<std::uint64_t> madeSince,
          std::optional<std::uint64_t> installedAt = std::nullopt);

  // Every step in order; the INI step only for a completed installation (no `madeSince`).
  void Run();

  void RemoveIniEntries();
  void RemoveFiles();
  void RemoveUninstallEntry();
  void RemoveQuickLaunchShortcut();
  void RemoveDesktopShortcut();
  void RemoveStartMenuGroup();
  void RemoveRegistryEntries();

  // Files (and shortcuts) that exist but could not be deleted, in the order met.
  const std::vector<std::string>& leftOvers() const { return leftOvers_; }

 private:
  // The full paths of the logged files, in log order (entries that are unsafe are left out).
  std::vector<LoggedPlace> LoggedFiles() const;
  // Whether a logged file counts as the installation's only when it changed after the
  // installation began: outside its own installation folder, or in a protected folder.
  bool NeedsTimeOfInstallation(const LoggedPlace& file) const;
  void RemoveShortcut(const std::string& link, const std::vector<std::string>& targets);
  // The shortcut that [File] `key` names, in that folder, when it leads to a logged file.
  void RemoveNamedShortcut(std::string_view key, int folderId, const std::string& subfolder);
  void RemoveRegistryRecord(int k);
  // File n of the log may go: it did not exist before the installation, or was replaced.
  bool TargetIsOurs(int n) const;
  // The log marks pre-existing targets (a log of an installer that also marks replacements).
  bool RecordsExistingTargets() const;
  // File n (at `path`) is offered to its DllUnregisterServer: the log lists it as registered
  // by this installation.
  bool WasRegistered(int n, const std::string& path) const;
  void DeleteFileOrKeep(const std::string& path);

  const UninstallLog& log_;
  MacroFolders folders_;
  ProtectedFolders protected_;
  std::optional<std::uint64_t> madeSince_;
  std::optional<std::uint64_t> installedAt_;
  std::string uninstaller_;
  std::vector<std::string> leftOvers_;
};

}  // namespace vorlatch
