// vorlatch-uninstall: removes an installation as the log frozen into its own file describes it.

#include <windows.h>

#include "uninstaller/uninstaller_app.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return vorlatch::RunUninstaller(::GetCommandLineA());
}
