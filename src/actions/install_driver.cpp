#include "actions/install_driver.h"

#include <cstdint>
#include <string>
#include <vector>

#include <windows.h>

#include "actions/file_extraction.h"
#include "actions/installed_targets.h"
#include "actions/overwrite_rules.h"
#include "actions/shortcuts.h"
#include "actions/uninstall_log.h"
#include "actions/uninstaller_interface.h"
#include "actions/uninstaller_tail.h"
#include "package/item_extraction.h"
#include "package/opening.h"
#include "package/process_state.h"
#include "package/unattended.h"
#include "script/keys.h"
#include "script/script_access.h"
#include "ui/progress_dialog.h"

namespace vorlatch {

namespace {

// The log's size in bytes; 0 when it is missing.
std::uint32_t SizeOfFile(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
      data.nFileSizeHigh != 0) {
    return 0;
  }
  return data.nFileSizeLow;
}

// Everything that exists only with an uninstaller; all of it before the first file, so that
// a termination during extraction finds a complete log to roll back from.
void InstallUninstallerParts(const EarlierInstallation& earlier) {
  const std::string log = UninstallLogTempPath();
  WriteUninstallLog(earlier);
  CreateStartMenuShortcuts(log);
  CreateDesktopShortcut();
  CreateQuickLaunchShortcut();
  if (FreezeUninstallLog(UninstallerPath(), log)) {
    g_state.uninstallLogFrozen = true;
  } else {
    // A full drive: Uninstall.exe is there but cannot remove anything, which the run must
    // not report as a clean installation.
    RecordStep("Uninstaller " + UninstallerPath() + ": its log cannot be written");
    NoteResult(RunResult::kInstalledWithErrors);
    g_state.extractionError = true;
    g_state.uninstallerFailed = true;
  }
  RegisterUninstaller();
}

}  // namespace

bool FreezeUninstallLog(const std::string& uninstaller, const std::string& log) {
  // The shortcuts just made to the uninstaller may have the shell reading its icon. Should
  // the wait not end, the writes below fail and say so.
  AwaitWriteAccess(uninstaller);
  std::uint32_t size = SizeOfFile(log);
  if (size != 0 && !AppendFile(uninstaller, log)) {
    size = 0;
  }
  const std::uint8_t length[4] = {static_cast<std::uint8_t>(size & 0xFFu),
                                  static_cast<std::uint8_t>((size >> 8) & 0xFFu),
                                  static_cast<std::uint8_t>((size >> 16) & 0xFFu),
                                  static_cast<std::uint8_t>((size >> 24) & 0xFFu)};
  return WriteBlock(uninstaller, length, sizeof length, true) && size != 0;
}

int RunInstallation() {
  bool withUninstaller = false;
  if (ReadScriptInt(kFile, kUninstall, 0) != 0) {
    // An earlier installation here (repair) wrote files that are ours to replace and remove;
    // its log goes with its uninstaller, so it is read first.
    const EarlierInstallation earlier = ReadEarlierInstallation(UninstallerPath());
    NoteEarlierInstallation(earlier);
    // A destination that is not there yet is made with the uninstaller: the installation's own.
    const std::vector<std::string> missing = MissingFolders(g_state.destinationDirectory);
    g_state.madeFolders.insert(g_state.madeFolders.end(), missing.begin(), missing.end());
    withUninstaller = ExtractUninstaller() != 0;
    if (withUninstaller) {
      RecordStep("Uninstaller " + UninstallerPath() + ": installed");
      InstallUninstallerParts(earlier);
    } else {
      // The files still go in, but nothing can remove them: not a success to report.
      RecordStep("Uninstaller " + UninstallerPath() + ": not installed");
      NoteResult(RunResult::kInstalledWithErrors);
      g_state.extractionError = true;
      g_state.uninstallerFailed = true;
    }
  }
  const int extracted = ExtractFiles();
  CloseProgress();
  if (withUninstaller) {
    RecordInstalledSize();
  }
  if (extracted == 0) {
    ShowArchiveError();
    return 0;
  }
  if (g_state.extractionError) {
    AskUser(kExtractionErrorsText, kExtractionErrorsCaption, MB_OK | MB_TASKMODAL, IDOK);
  }
  if (g_state.restartNeeded) {
    NoteResult(RunResult::kRestartNeeded);
    AskUser(kRestartToCompleteText, kRestartToCompleteCaption,
            MB_OK | MB_ICONINFORMATION | MB_TASKMODAL, IDOK);
  }
  return 1;
}

}  // namespace vorlatch
