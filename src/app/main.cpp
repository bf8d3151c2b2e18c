#include <windows.h>

#include "app/installer_app.h"
#include "win/library_loading.h"
#include "package/run_folder.h"
#include "package/unattended.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Before any DLL is loaded at run time: none may come from the installer's own folder.
  vorlatch::RestrictDllSearch();
  // The copy that removes a run's folder once the program started from it has ended.
  if (vorlatch::IsRunFolderWaiter(::GetCommandLineA())) {
    return vorlatch::RunFolderWaiter(::GetCommandLineA());
  }
  // Every stage runs inside InitInstance; there is no message loop of our own.
  vorlatch::InstallerApp app;
  app.InitInstance();
  // 0 for a run with windows; what happened for an unattended one.
  return vorlatch::RunExitCode();
}
