#include <windows.h>

#include "app/installer_app.h"
#include "win/library_loading.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Before any DLL is loaded at run time: none may come from the installer's own folder.
  vorlatch::RestrictDllSearch();
  // Every stage runs inside InitInstance; there is no message loop of our own.
  vorlatch::InstallerApp app;
  app.InitInstance();
  return 0;
}
