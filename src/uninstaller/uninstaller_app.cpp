#include "uninstaller/uninstaller_app.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include <windows.h>
#include <objbase.h>

#include "actions/uninstaller_interface.h"
#include "script/keys.h"
#include "uninstaller/log_reader.h"
#include "uninstaller/removal.h"
#include "uninstaller/self_removal.h"
#include "uninstaller/uninstall_text.h"
#include "win/handles.h"

namespace vorlatch {

namespace {

// File times of the same moment may differ by the file system's resolution.
constexpr std::uint64_t kTimeToleranceTicks = 2ull * 10000000ull;

int Show(const std::string& text, UINT style) {
  return ::MessageBoxA(nullptr, text.c_str(), kUninstallCaption,
                       style | MB_TASKMODAL | MB_SETFOREGROUND);
}

std::uint64_t TicksOf(const FILETIME& time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// When the installation began to extract its files: the log was frozen into the uninstaller
// just before, and the file system noted that time as the uninstaller's change time. Without
// it, the time of installation that the installer gave the uninstaller (the earlier of its
// creation and last-write times), a little earlier for coarse file times.
std::optional<std::uint64_t> InstallationTime(const std::string& uninstaller) {
  if (const std::optional<std::uint64_t> changed = ChangeTimeOf(uninstaller)) {
    return changed;
  }
  UniqueHandle file(::CreateFileA(uninstaller.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  FILETIME creation{};
  FILETIME access{};
  FILETIME write{};
  if (!file || !::GetFileTime(file.get(), &creation, &access, &write)) {
    return std::nullopt;
  }
  std::uint64_t earliest = TicksOf(write);
  if (TicksOf(creation) != 0) {
    earliest = std::min(earliest, TicksOf(creation));
  }
  return earliest > kTimeToleranceTicks ? earliest - kTimeToleranceTicks : 0;
}

// The offer to remove the files that stayed at the next restart, with the folders after
// them so that those go too once they are empty.
void OfferRemovalAtRestart(const std::string& product, const std::vector<std::string>& leftOvers,
                           const std::vector<std::string>& folders) {
  if (Show(LeftOverQuestion(product, leftOvers), MB_YESNO | MB_ICONWARNING) != IDYES) {
    return;
  }
  const std::vector<std::string> failed = DeleteAtRestart(leftOvers);
  DeleteAtRestart(folders);
  if (failed.empty()) {
    Show(ScheduledText(), MB_OK | MB_ICONINFORMATION);
  } else {
    Show(NotScheduledText(failed), MB_OK | MB_ICONWARNING);
  }
}

int Uninstall(const std::string& own, UninstallMode mode) {
  const bool rollback = mode == UninstallMode::kRollback;
  const bool silent = mode == UninstallMode::kSilent;
  TailProblem problem = TailProblem::kNone;
  std::optional<UninstallLog> log = UninstallLog::FromUninstaller(own, problem);
  if (!log) {
    if (silent) {
      return kSilentDamagedLog;
    }
    // Also after a termination: the user has to know that nothing was rolled back.
    Show(RefusalText(own, TailProblemText(problem)), MB_OK | MB_ICONERROR);
    return kUninstallRefused;
  }
  const std::string product = log->String(kGeneral, kProduct);
  if (mode == UninstallMode::kInteractive &&
      Show(RemoveQuestion(product), MB_YESNO | MB_ICONQUESTION) != IDYES) {
    return kUninstallDeclined;
  }

  const MacroFolders folders = MacroFoldersFor(*log);
  const ProtectedFolders protectedFolders = ProtectedFolders::OfSystem(folders);
  const std::string uninstaller = UninstallerPathIn(folders.bid);
  std::optional<std::uint64_t> madeSince;
  if (rollback) {
    madeSince = InstallationTime(
        ::GetFileAttributesA(uninstaller.c_str()) != INVALID_FILE_ATTRIBUTES ? uninstaller : own);
    // Without a time every logged file counts as made.
    madeSince = madeSince.value_or(0);
  }
  Removal removal(*log, folders, protectedFolders, madeSince, EarliestTimeOf(own));
  removal.Run();

  const std::vector<std::string> installationFolders =
      InstallationFolders(*log, folders, protectedFolders);
  // Unattended, what is in use goes at the next restart without being asked.
  bool restartNeeded = false;
  bool scheduled = true;
  if (silent && !removal.leftOvers().empty()) {
    restartNeeded = true;
    scheduled = DeleteAtRestart(removal.leftOvers()).empty();
    DeleteAtRestart(installationFolders);
  }
  if (mode == UninstallMode::kInteractive) {
    if (removal.leftOvers().empty()) {
      Show(RemovedText(product), MB_OK | MB_ICONINFORMATION);
    } else {
      OfferRemovalAtRestart(product, removal.leftOvers(), installationFolders);
    }
  }
  if (!StartFinishingCopy(own)) {
    RemoveAtRestartInstead(uninstaller, installationFolders);
    restartNeeded = true;
  }
  if (silent) {
    if (!scheduled) {
      return kUninstallIncomplete;
    }
    return restartNeeded ? kSilentRestartNeeded : kUninstallDone;
  }
  return removal.leftOvers().empty() ? kUninstallDone : kUninstallIncomplete;
}

}  // namespace

int RunUninstaller(const std::string& commandLine) {
  const UninstallCommand command = ParseUninstallCommand(commandLine);
  if (command.mode == UninstallMode::kFinish) {
    FinishRemoval(command.handle);
    return kUninstallDone;
  }
  // Shell links are read through COM.
  const HRESULT com = ::CoInitialize(nullptr);
  const int result = Uninstall(OwnProgramPath(), command.mode);
  if (SUCCEEDED(com)) {
    ::CoUninitialize();
  }
  return result;
}

}  // namespace vorlatch
