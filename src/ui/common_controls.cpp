#include "ui/common_controls.h"

#include <commctrl.h>

#include "win/library_loading.h"

namespace vorlatch {

namespace {

using InitCommonControlsExFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);

}  // namespace

bool InitialiseCommonControls(DWORD classes) {
  static const HMODULE library = LoadSystemLibrary("comctl32.dll");
  if (library == nullptr) {
    return false;
  }
  const auto initialise = reinterpret_cast<InitCommonControlsExFunction>(
      reinterpret_cast<void*>(::GetProcAddress(library, "InitCommonControlsEx")));
  if (initialise == nullptr) {
    return false;
  }
  const INITCOMMONCONTROLSEX request = {sizeof request, classes};
  return initialise(&request) != FALSE;
}

}  // namespace vorlatch
