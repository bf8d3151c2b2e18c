#pragma once
// The common controls library, loaded when first needed rather than imported: it is no known
// system DLL, so an import would take a comctl32.dll lying beside the installer.

#include <windows.h>

namespace vorlatch {

// Registers the window classes of the common controls (ICC_* flags). The library stays loaded
// until the process ends, as the classes it registered must. False when it cannot be had.
bool InitialiseCommonControls(DWORD classes);

}  // namespace vorlatch
