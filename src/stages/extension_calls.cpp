#include "stages/extension_calls.h"

#include <vector>

#include <windows.h>

#include "actions/install_driver.h"
#include "package/opening.h"
#include "package/process_state.h"
#include "package/unattended.h"
#include "script/keys.h"
#include "script/script_access.h"
#include "stages/stage_items.h"
#include "win/guard.h"
#include "win/library_loading.h"

namespace vorlatch {
namespace {

// The contract of an extension function: the destination directory, cdecl, result unused.
using ExtensionFunction = void(__cdecl*)(const char* destinationDirectory);

ExtensionFunction FindExtensionFunction(HMODULE library, const std::string& name) {
  if (library == nullptr || name.empty()) {
    return nullptr;
  }
  return reinterpret_cast<ExtensionFunction>(
      reinterpret_cast<void*>(::GetProcAddress(library, name.c_str())));
}

// Calls the function with the destination directory so that neither a C++ exception nor a
// processor fault inside it ends the installer. False, after the error message, when one of
// them escaped the function.
bool CallExtensionFunction(ExtensionFunction function, const std::string& functionName,
                           const std::string& dllName) {
  // The function gets a copy: foreign code that writes into its argument cannot reach ours.
  std::vector<char> directory(g_state.destinationDirectory.begin(),
                              g_state.destinationDirectory.end());
  directory.push_back('\0');
  if (CallGuarded([&] { function(directory.data()); }) == GuardResult::kReturned) {
    return true;
  }
  NoteResult(RunResult::kExtensionStopped);
  AskUser(ExtensionErrorText(functionName, dllName), kExtensionErrorCaption,
          MB_ICONHAND | MB_TASKMODAL, IDOK);
  return false;
}

// Extracts the DLL into the temporary directory and loads it; null when that fails. A copy
// that this run could not extract is never loaded: it may be an older DLL of the same name.
HMODULE LoadExtensionDll(const std::string& dllName) {
  if (dllName.empty()) {
    return nullptr;
  }
  const StageItemPlace place = FindStageItem(kFile, kDllZip, kDllPos, dllName);
  const std::string path = TemporaryFilePath(dllName);
  if (ExtractStageItem(place.position, place.length, path) != StageItem::kExtracted) {
    return nullptr;
  }
  // A file that is no DLL for this system is skipped without the system's own error box.
  const UINT previousMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  // The DLLs it needs are looked for beside it, in the run's own folder.
  HMODULE library = LoadLibraryWithItsFolder(path);
  ::SetErrorMode(previousMode);
  return library;
}

// False when the function failed.
bool RunBeforeExtension() {
  const std::string dllName = ReadScriptString(kFile, kDll, "");
  // Loaded once per run and kept until the process ends: the After function lives there too.
  if (g_state.extensionDll == nullptr) {
    g_state.extensionDll = LoadExtensionDll(dllName);
  }
  const std::string functionName = ReadScriptString(kBefore, kFunction, "");
  if (const ExtensionFunction function =
          FindExtensionFunction(g_state.extensionDll, functionName)) {
    RecordStep("Extension function " + functionName + " of " + dllName + ": called");
    return CallExtensionFunction(function, functionName, dllName);
  }
  return true;
}

}  // namespace

std::string ExtensionErrorText(const std::string& function, const std::string& dll) {
  std::string text = "Error calling '";
  text.append(function).append("' from '").append(dll).append("'");
  return text;
}

int RunBeforeExtensionAndInstall() {
  // With someone at the screen the installation goes on after the error message; unattended,
  // a package whose preparation failed is not installed.
  if (ReadScriptInt(kBefore, kAdvanced, 0) != 0 && !RunBeforeExtension() && Unattended()) {
    return 0;
  }
  return RunInstallation();
}

int RunAfterExtension() {
  const std::string dllName = ReadScriptString(kFile, kDll, "");
  if (dllName.empty() || ReadScriptInt(kAfter, kAdvanced, 0) == 0) {
    return 1;
  }
  const std::string functionName = ReadScriptString(kAfter, kFunction, "");
  const ExtensionFunction function = FindExtensionFunction(g_state.extensionDll, functionName);
  if (function == nullptr) {
    return 1;
  }
  RecordStep("Extension function " + functionName + " of " + dllName + ": called");
  return CallExtensionFunction(function, functionName, dllName) ? 1 : 0;
}

}  // namespace vorlatch
