#pragma once
// Where DLLs come from. The program's own folder (a downloads folder) and the current folder
// may hold anything; only the system folder and the package's own files are trusted.

#include <string>

#include <windows.h>

namespace vorlatch {

// Takes the program's folder and the current folder out of the DLL search for the rest of
// the process: only the system folder is searched (the activation context still applies).
// Call first thing; DLLs that the program imports statically must be known system DLLs,
// which never come from the program's folder.
void RestrictDllSearch();

// Loads a DLL given by its full path; the DLLs it needs are looked for in its own folder and
// the system folder. Null when it cannot be loaded.
HMODULE LoadLibraryWithItsFolder(const std::string& path);

// Loads a system DLL by name: through the activation context (a manifest's side-by-side
// version), else from the system folder. Null when it cannot be loaded.
HMODULE LoadSystemLibrary(const char* name);

}  // namespace vorlatch
