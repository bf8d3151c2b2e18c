// vorlatch-uninstall: removes an installation as the log frozen into its own file describes it.

#include <windows.h>

#include "uninstaller/uninstaller_app.h"
#include "win/library_loading.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // The finishing copy runs from the temporary folder: no DLL may come from there.
  vorlatch::RestrictDllSearch();
  return vorlatch::RunUninstaller(::GetCommandLineA());
}
