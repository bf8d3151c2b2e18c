#pragma once
// Which targets of the package the installation may remove again. The log lists every file of
// the script before a single one is extracted, so it also records which targets were already
// there and not ours (Existed<n>), and, as the extraction writes over one of them, that it did
// (Replaced<n>, written into the log frozen into Uninstall.exe before the next question,
// foreign code or the end of the extraction, so that a rollback from any of them sees it). The
// uninstaller removes a pre-existing target only when the log shows it replaced. Files of an
// earlier installation of ours in the same folder (repair) are ours, as that installation's log
// says, and are not recorded as pre-existing.

#include <string>
#include <vector>

#include "actions/registry_entries.h"
#include "uninstaller/uninstall_text.h"

namespace vorlatch {

// A file that an earlier installation of ours wrote, as its log names it.
struct EarlierFile {
  std::string entry;  // File<n> as logged, macros unexpanded
  std::string path;   // where that is on this system
  int shortcut = 0;   // Shortcut<n>
  std::string shortcutName;
  bool registered = false;  // offered to its DllRegisterServer: to be unregistered
  std::string time;         // Time<n>: the packed last-write time it was written with
};

// An INI entry that an earlier installation of ours wrote, as its log names it.
struct EarlierIniEntry {
  std::string file;
  std::string target;
  std::string section;
  std::string key;
};

// What an earlier installation of ours in the same folder recorded as its own (repair or
// upgrade). Nothing when there was none or its log cannot be trusted.
struct EarlierInstallation {
  std::string product;  // [General] Product of its log
  std::vector<EarlierFile> files;
  RegistryLog registry;
  std::vector<EarlierIniEntry> iniEntries;
  // The folders it made (full paths, with a trailing backslash) that are still there; for a
  // log that does not record them, the folders its own uninstaller would have removed.
  std::vector<std::string> folders;

  std::vector<std::string> FilePaths() const;
};

// Read from the log frozen into the uninstaller at `uninstallerPath`, before it is replaced.
EarlierInstallation ReadEarlierInstallation(const std::string& uninstallerPath);

// The folders of `folder` (a full path) that do not exist, from the deepest up.
std::vector<std::string> MissingFolders(const std::string& folder);

// Whether `target` is there and is not one of `ours`.
bool ExistsAndIsNotOurs(const std::string& target, const std::vector<std::string>& ours);

// After target n, which existed before, was written over: notes Replaced<n> for
// SaveReplacedTargets. Nothing when the log was not frozen.
void RecordReplacedTarget(int n);

// Writes the noted Replaced<n> marks of targets that the log shows as pre-existing into the
// temporary log and into the log frozen into Uninstall.exe, all in one go. Called before
// anything after which the process may end: a question, foreign code, the end of the
// extraction.
void SaveReplacedTargets();

// After file n was offered to its DllRegisterServer: records Registered<n> in the temporary
// log and in the log frozen into Uninstall.exe, so that the uninstaller (also a rollback at a
// later question) unregisters it and nothing else. Nothing when the log was not frozen.
void RecordRegisteredTarget(int n);

}  // namespace vorlatch
