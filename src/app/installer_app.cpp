#include "app/installer_app.h"

#include <string>

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include "app/destination_dialog.h"
#include "app/existing_installation.h"
#include "app/name_check.h"
#include "app/package_password.h"
#include "package/command_line.h"
#include "package/opening.h"
#include "package/process_state.h"
#include "package/run_folder.h"
#include "package/unattended.h"
#include "script/install_scope.h"
#include "script/keys.h"
#include "script/path_macros.h"
#include "script/script_access.h"
#include "stages/after_stage.h"
#include "stages/before_stage.h"
#include "stages/extension_calls.h"

namespace vorlatch {

namespace {

// Unattended, the proposed directory is taken as Next would take it.
bool ChooseDestinationUnattended() {
  const std::string proposed = ProposedDestination();
  std::string reason;
  if (AcceptDestination(proposed, &reason)) {
    RecordStep("Destination " + g_state.destinationDirectory + ": ready");
    return true;
  }
  RecordStep("Destination " + g_state.destinationDirectory + ": cannot be created (" + reason +
             ")");
  NoteResult(RunResult::kDestinationNotMade);
  return false;
}

// The destination dialog, the existing-installation check and everything after it.
// The dialog is made once and shown again whenever the check asks for another directory.
void RunFromDestination() {
  DestinationDialog dialog;
  for (;;) {
    if (Unattended() ? !ChooseDestinationUnattended() : RunDestinationDialog(dialog) != IDOK) {
      return;
    }
    const int check = CheckExistingInstallation();
    // Unattended, no other directory can be chosen.
    if (check < 0 && !Unattended()) {
      continue;
    }
    if (check <= 0 || RunBeforeExtensionAndInstall() == 0 || AfterScreen() == 0) {
      return;
    }
    AfterRun();
    return;
  }
}

// Every stage between a readable script and the end; false as soon as one says stop.
void RunStages() {
  // Refused before anything is asked or written: a standard user could not finish it, and an
  // administrator's run would leave machine-wide traces under a per-user entry.
  if (const std::string place = MachineWidePlaceAsked(); !place.empty()) {
    NoteResult(RunResult::kMachineWidePlaceRefused);
    AskUser(std::string(kTextMachineWidePlace) + "\n\n" + place, kCaptionError,
            MB_OK | MB_ICONERROR | MB_TASKMODAL, IDOK);
    return;
  }
  if (!AskStartQuestion() || CheckPackagePassword() == 0 || RunBeforeStage() == 0) {
    return;
  }
  RunFromDestination();
}

}  // namespace

bool AskStartQuestion() {
  const int count = ReadScriptInt(kInfo, kLine, 0);
  if (count == 0) {
    return true;
  }
  std::string text;
  for (int n = 1; n <= count; ++n) {
    if (n > 1) {
      text += '\n';
    }
    text += ReadScriptString(kInfo, NumberedName(kLine, n), "");
  }
  std::string caption = ReadScriptString(kInfo, kCaption, "");
  if (caption.empty()) {
    const std::string product = ReadScriptString(kGeneral, kProduct, "");
    caption = product.empty() ? kCaptionInstall : std::string(kCaptionInstall) + " " + product;
  }
  return AskUser(text, caption, MB_OKCANCEL | MB_ICONQUESTION | MB_SYSTEMMODAL, IDOK) == IDOK;
}

// Takes the switches of the command line into the process state; false (after the message)
// when the command line is bad or the record cannot be opened.
bool TakeCommandLine() {
  const StubCommandLine command = ParseStubCommandLine(::GetCommandLineA());
  g_state.silent = command.silent;
  g_state.commandLineDestination = command.destination;
  g_state.commandLinePassword = command.password;
  std::string problem = command.error;
  const std::string unusable = problem.empty() ? UnusableCommandLineText() : "";
  // A record whose own name cannot be used would be made under another name.
  const bool recordable = unusable.rfind(kWhatLogFile, 0) != 0;
  if (problem.empty() && command.logFile && recordable && !OpenRunRecord(*command.logFile) &&
      unusable.empty()) {
    problem = "the log file " + *command.logFile + " cannot be written";
  }
  if (!unusable.empty()) {
    NoteResult(RunResult::kBadCommandLine);
    AskUser(unusable, kCaptionError, MB_OK | MB_ICONERROR | MB_TASKMODAL, IDOK);
    return false;
  }
  if (!problem.empty()) {
    NoteResult(RunResult::kBadCommandLine);
    AskUser(kTextBadCommandLine + problem, kCaptionError, MB_OK | MB_ICONERROR | MB_TASKMODAL,
            IDOK);
    return false;
  }
  if (command.silent) {
    // Every existing file is replaced, as with Yes to All.
    g_state.overwriteMode = OverwriteMode::kYesToAll;
    // Nor may the system ask about a missing disk or a file it cannot open.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  }
  RecordStep("Installer " + command.packagePath + (command.silent ? ": unattended" : ""));
  return true;
}

bool InstallerApp::InitInstance() {
  // COM stays initialised until the process ends (shell links, folder browser).
  CoInitialize(nullptr);

  if (!TakeCommandLine()) {
    CloseRunRecord();
    return false;
  }

  char programs[MAX_PATH] = {};
  if (!GetSpecialFolder(nullptr, programs, CSIDL_PROGRAMS, false)) {
    NoteResult(RunResult::kSystemCheckFailed);
    AskUser(kTextCantRunInThisOs, "", MB_TASKMODAL | MB_ICONERROR, IDOK);
    CloseRunRecord();
    return false;
  }
  if (!CheckSystemFolderNames()) {
    CloseRunRecord();
    return false;
  }

  g_state.currentOutputFile.clear();
  OpenPackage();
  if (g_state.packageView == nullptr || g_state.packageMapping == nullptr ||
      g_state.packageSize == 0) {
    ShowArchiveError();
    CloseRunRecord();
    return false;
  }

  // No folder of our own, no script: the run ends as when the script cannot be extracted.
  if (!EnterRunFolder()) {
    RecordStep("Script: no temporary folder to extract it into");
    NoteResult(RunResult::kUnreadablePackage);
  } else if (!ExtractScript()) {
    // A trailer that fits the file but a script that does not inflate: a download cut short
    // is the usual cause, and the user must hear of it.
    RecordStep("Script: cannot be extracted from the package");
    ShowArchiveError();
  } else if (CheckScriptCodePage()) {
    RunStages();
  }

  ClosePackage();
  // The extension DLL's file cannot go while it is loaded, nor then the run's folder; the
  // run is over, so nothing calls it any more.
  if (g_state.extensionDll != nullptr) {
    ::FreeLibrary(g_state.extensionDll);
    g_state.extensionDll = nullptr;
  }
  CleanupTemporaryFiles();
  LeaveRunFolder();
  CloseRunRecord();
  return false;
}

}  // namespace vorlatch
