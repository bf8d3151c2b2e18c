#include "app/installer_app.h"

#include <string>

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include "app/destination_dialog.h"
#include "app/existing_installation.h"
#include "app/package_password.h"
#include "package/opening.h"
#include "package/process_state.h"
#include "package/run_folder.h"
#include "script/keys.h"
#include "script/path_macros.h"
#include "script/script_access.h"
#include "stages/after_stage.h"
#include "stages/before_stage.h"
#include "stages/extension_calls.h"

namespace vorlatch {

namespace {

// The destination dialog, the existing-installation check and everything after it.
// The dialog is made once and shown again whenever the check asks for another directory.
void RunFromDestination() {
  DestinationDialog dialog;
  for (;;) {
    if (RunDestinationDialog(dialog) != IDOK) {
      return;
    }
    const int check = CheckExistingInstallation();
    if (check < 0) {
      continue;
    }
    if (check == 0 || RunBeforeExtensionAndInstall() == 0 || AfterScreen() == 0) {
      return;
    }
    AfterRun();
    return;
  }
}

// Every stage between a readable script and the end; false as soon as one says stop.
void RunStages() {
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
  return MessageBoxA(nullptr, text.c_str(), caption.c_str(),
                     MB_OKCANCEL | MB_ICONQUESTION | MB_SYSTEMMODAL) == IDOK;
}

bool InstallerApp::InitInstance() {
  // COM stays initialised until the process ends (shell links, folder browser).
  CoInitialize(nullptr);

  char programs[MAX_PATH] = {};
  if (!GetSpecialFolder(nullptr, programs, CSIDL_PROGRAMS, false)) {
    MessageBoxA(nullptr, kTextCantRunInThisOs, "", MB_TASKMODAL | MB_ICONERROR);
    return false;
  }

  g_state.currentOutputFile.clear();
  OpenPackage();
  if (g_state.packageView == nullptr || g_state.packageMapping == nullptr ||
      g_state.packageSize == 0) {
    ShowArchiveError();
    return false;
  }

  // No folder of our own, no script: the run ends as when the script cannot be extracted.
  if (EnterRunFolder() && ExtractScript()) {
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
  return false;
}

}  // namespace vorlatch
