#include "actions/termination.h"

#include <string>

#include <windows.h>

#include "actions/installed_targets.h"
#include "actions/uninstaller_interface.h"
#include "package/run_folder.h"
#include "package/unattended.h"
#include "ui/progress_dialog.h"
#include "win/handles.h"

namespace vorlatch {
namespace {

// Starts the uninstaller's rollback when it has been extracted. Its own scope, so that every
// handle and string is released before the thread ends. A failure to start is not reported:
// there is nothing left that the user could do about it.
void StartRollback() {
  const std::string path = UninstallerPath();
  if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    return;
  }
  std::string commandLine = RollbackCommandLine(path);
  SECURITY_ATTRIBUTES processAttributes = {};
  processAttributes.nLength = sizeof processAttributes;
  processAttributes.bInheritHandle = TRUE;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started = {};
  {
    // The rollback runs on after this run's temporary folder is gone.
    const UserTemporaryVariables userTemporary;
    if (!::CreateProcessA(nullptr, commandLine.data(), &processAttributes, nullptr, FALSE, 0,
                          nullptr, nullptr, &startup, &started)) {
      return;
    }
  }
  UniqueHandle process(started.hProcess);
  UniqueHandle thread(started.hThread);
  // Never waits: the uninstaller runs on by itself.
  ::WaitForSingleObject(process.get(), 0);
}

}  // namespace

int ConfirmTermination() {
  // The rollback reads the log in Uninstall.exe, which must know every target written over.
  SaveReplacedTargets();
  // Unattended runs never end half-way.
  if (AskUser(kTerminateQuestion, kTerminateCaption, MB_YESNO | MB_ICONQUESTION | MB_SYSTEMMODAL,
              IDNO) != IDYES) {
    return 0;
  }
  StartRollback();
  CloseProgress();
  AskUser(kTerminatedText, kTerminatedCaption, 0, IDOK);
  CloseRunRecord();
  // The uninstaller is the only rollback (it reads the log frozen into its own file); this
  // run leaves at once, without its later stages or the clean-up. Its temporary folder is of
  // no use to anyone: it goes, all but a loaded extension DLL (private to this user).
  LeaveRunFolder();
  ::ExitThread(0);
}

}  // namespace vorlatch
