#include "app/name_check.h"

#include <windows.h>
#include <shlobj.h>

#include <optional>

#include "app/installer_app.h"
#include "package/command_line.h"
#include "package/opening.h"
#include "package/unattended.h"
#include "script/keys.h"
#include "script/script_access.h"
#include "win/ansi_names.h"

namespace vorlatch {

namespace {

constexpr UINT kErrorStyle = MB_OK | MB_ICONERROR | MB_TASKMODAL;

// Shows the message for `wide` when it does not fit; true when it fits.
bool CheckName(const char* what, const std::wstring& wide, RunResult result) {
  bool fits = true;
  const std::string shown = AnsiFormOf(wide, fits);
  if (fits) {
    return true;
  }
  NoteResult(result);
  AskUser(UnusableNameText(what, shown), kCaptionError, kErrorStyle, IDOK);
  return false;
}

}  // namespace

std::string UnusableNameText(const std::string& what, const std::string& shown) {
  return what + "\n\n" + shown +
         "\n\ncannot be used: its name has characters that this system's code page (" +
         std::to_string(::GetACP()) +
         ") cannot represent ('?' above). Choose a name without them, or set the system's "
         "language for non-Unicode programs to one that has them.";
}

std::string UnusableCommandLineText() {
  const std::wstring wide = ::GetCommandLineW();
  bool fits = true;
  AnsiFormOf(wide, fits);
  if (fits) {
    return std::string();
  }
  // The 8-bit line may show a look-alike letter instead of '?', so the wide line tells which
  // value holds the character: parsed in UTF-8, where the switches, quotes and blanks are the
  // same bytes as in the 8-bit line and nothing is lost.
  const StubCommandLine command = ParseStubCommandLine(NarrowOf(wide, CP_UTF8));
  const struct {
    const char* what;
    const std::string* value;
  } values[] = {{kWhatLogFile, command.logFile ? &*command.logFile : nullptr},
                {kWhatDestination, command.destination ? &*command.destination : nullptr},
                {kWhatInstaller, &command.packagePath},
                {kWhatPassword, command.password ? &*command.password : nullptr}};
  for (const auto& [what, value] : values) {
    if (value == nullptr) {
      continue;
    }
    const std::string shown = AnsiFormOf(WideOf(*value, CP_UTF8), fits);
    if (!fits) {
      // A password is not shown, not even in part.
      return UnusableNameText(what, what == kWhatPassword ? std::string(shown.size(), '*') : shown);
    }
  }
  return UnusableNameText(kWhatCommandLine, AnsiFormOf(wide, fits));
}

bool CheckSystemFolderNames() {
  const std::optional<std::wstring> temporary = WideTemporaryDirectory();
  if (temporary && !CheckName(kWhatTemporaryFolder, *temporary, RunResult::kSystemCheckFailed)) {
    return false;
  }
  const std::optional<std::wstring> programs = WideSpecialFolder(CSIDL_PROGRAMS);
  return !programs || CheckName(kWhatStartMenuFolder, *programs, RunResult::kSystemCheckFailed);
}

bool CheckScriptCodePage() {
  if (ReadScriptString(kGeneral, kCodePage, "") != "UTF-8" || ::GetACP() == CP_UTF8) {
    return true;
  }
  NoteResult(RunResult::kSystemCheckFailed);
  AskUser(
      "This installer was made to run with the UTF-8 code page, which Windows gives it "
      "from Windows 10 version 1903 on. Here it would run in code page " +
          std::to_string(::GetACP()) + ", and its names would come out wrong.",
      kCaptionError, kErrorStyle, IDOK);
  return false;
}

bool CheckDestinationName(const std::wstring& destination) {
  return CheckName(kWhatDestination, destination, RunResult::kDestinationNotMade);
}

}  // namespace vorlatch
