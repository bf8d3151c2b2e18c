#include "actions/com_registration.h"

#include <windows.h>
#include <ole2.h>

#include "package/process_state.h"
#include "package/unattended.h"
#include "script/keys.h"
#include "script/path_macros.h"
#include "script/path_text.h"
#include "script/script_access.h"
#include "win/guard.h"
#include "win/handles.h"
#include "win/library_loading.h"

namespace vorlatch {
namespace {

using ComServerEntry = HRESULT(STDAPICALLTYPE*)();

constexpr char kRegisterEntry[] = "DllRegisterServer";
constexpr char kUnregisterEntry[] = "DllUnregisterServer";

// OLE once per run; a failure is reported once and never retried.
void InitialiseOleOnce() {
  if (g_state.oleInitialised) {
    return;
  }
  if (FAILED(OleInitialize(nullptr))) {
    AskUser(kOleInitializeFailed, kOleInitializeFailedCaption, MB_ICONERROR | MB_SYSTEMMODAL, IDOK);
  }
  g_state.oleInitialised = true;
}

// Calls the entry point so that neither an exception nor a processor fault inside the
// foreign code takes the installer down. True when it returned a success code.
bool CallEntrySucceeds(ComServerEntry entry) {
  HRESULT result = E_FAIL;
  const GuardResult guarded = CallGuarded([&] { result = entry(); });
  return guarded == GuardResult::kReturned && SUCCEEDED(result);
}

}  // namespace

std::string ComServerPath(const std::string& path) {
  const std::string::size_type first = path.find('"');
  if (first == std::string::npos) {
    return path;
  }
  const std::string::size_type last = path.rfind('"');
  if (last == first) {
    return path;
  }
  return path.substr(first + 1, last - first - 1);
}

std::string ComServerErrorText(const std::string& path, bool registerServer) {
  std::string text = kComServerErrorStart;
  text.append(registerServer ? "registering" : "unregistering");
  text.append(kComServerErrorMiddle);
  text.append(path);
  return text;
}

bool HasSystemFolderName(const std::string& path) {
  const std::string name = FileNameOf(path);
  const std::string system = SystemDirectory();
  if (name.empty() || system.empty()) {
    return false;
  }
  const DWORD attributes = ::GetFileAttributesA((WithTrailingBackslash(system) + name).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

RegistrationOffer ShouldOfferForRegistration(int n, const std::string& target) {
  // -1: the key is absent (an author's 0 or 1 is never negative).
  const int chosen = ReadScriptInt(kFile, NumberedName(kRegister, n), -1);
  if (chosen >= 0) {
    return chosen != 0 ? RegistrationOffer::kOffered : RegistrationOffer::kNotOffered;
  }
  if (ReadScriptInt(kFile, kSelfRegister, 1) == 0) {
    return RegistrationOffer::kNotOffered;
  }
  return HasSystemFolderName(target) ? RegistrationOffer::kSystemName : RegistrationOffer::kOffered;
}

bool RegisterComServer(const std::string& path, bool registerServer) {
  InitialiseOleOnce();
  const std::string libraryPath = ComServerPath(path);

  bool succeeded = true;
  {
    // A server's own DLLs lie beside it in the installation.
    UniqueModule library(LoadLibraryWithItsFolder(libraryPath));
    if (!library) {
      return false;  // not a library: nothing to register
    }
    const auto entry = reinterpret_cast<ComServerEntry>(reinterpret_cast<void*>(
        GetProcAddress(library.get(), registerServer ? kRegisterEntry : kUnregisterEntry)));
    if (entry == nullptr) {
      return false;  // a library, but no COM server
    }
    succeeded = CallEntrySucceeds(entry);
  }  // unloaded before the user is told

  if (!succeeded) {
    NoteResult(RunResult::kInstalledWithErrors);
    AskUser(ComServerErrorText(libraryPath, registerServer), "",
            MB_ICONINFORMATION | MB_SYSTEMMODAL, IDOK);
  }
  return true;
}

}  // namespace vorlatch
