#include "win/library_loading.h"

namespace vorlatch {

namespace {

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

// Whether the search flags of LoadLibraryExA are understood (systems since Windows 7 with its
// loader update); set once the default directories were set.
bool g_searchFlags = false;

}  // namespace

void RestrictDllSearch() {
  HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  const auto setDefault =
      kernel == nullptr
          ? nullptr
          : reinterpret_cast<SetDefaultDllDirectoriesFunction>(
                reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    g_searchFlags = true;
    return;
  }
  // Older systems: at least the current folder leaves the search.
  ::SetDllDirectoryA("");
}

HMODULE LoadLibraryWithItsFolder(const std::string& path) {
  if (path.empty()) {
    return nullptr;
  }
  if (HMODULE library = ::LoadLibraryExA(
          path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    return library;
  }
  if (g_searchFlags || ::GetLastError() != ERROR_INVALID_PARAMETER) {
    return nullptr;
  }
  // A loader without the search flags: the DLL's folder takes the program's place.
  return ::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE LoadSystemLibrary(const char* name) {
  if (g_searchFlags) {
    // The search is the system folder alone; a name still goes through the activation
    // context first.
    return ::LoadLibraryA(name);
  }
  char folder[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryA(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    return nullptr;
  }
  return ::LoadLibraryA((std::string(folder, length) + '\\' + name).c_str());
}

}  // namespace vorlatch
