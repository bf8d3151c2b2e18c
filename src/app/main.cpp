#include <windows.h>

#include "app/installer_app.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Every stage runs inside InitInstance; there is no message loop of our own.
  vorlatch::InstallerApp app;
  app.InitInstance();
  return 0;
}
