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

#include "uninstaller/uninstall_text.h"

namespace vorlatch {

// The folders of the path macros on this system, with `installationFolder` made absolute as
// the file calls resolve it ("[BID]").
MacroFolders MacroFoldersOfSystem(const std::string& installationFolder);

// The files that an earlier installation of ours wrote, as the log frozen into the
// uninstaller at `uninstallerPath` names them; empty when there is no such file or its log
// cannot be trusted. Read before the uninstaller is replaced.
std::vector<std::string> FilesOfEarlierInstallation(const std::string& uninstallerPath);

// Whether `target` is there and is not one of `ours`.
bool ExistsAndIsNotOurs(const std::string& target, const std::vector<std::string>& ours);

// Entry n of a log: the target is to be removed by the uninstaller. A pre-existing target
// only when it was replaced.
bool IsTargetOurs(bool existed, bool replaced);

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
