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

// A text between the wide and the UTF-8 forms, which hold every character.
std::string Utf8Of(const std::wstring& wide) {
  const int size = static_cast<int>(wide.size());
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
  if (length > 0) {
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), length, nullptr, nullptr);
  }
  return utf8;
}

std::wstring WideOfUtf8(const std::string& utf8) {
  const int size = static_cast<int>(utf8.size());
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0) {
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
  }
  return wide;
}

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
  const StubCommandLine command = ParseStubCommandLine(Utf8Of(wide));
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
    const std::string shown = AnsiFormOf(WideOfUtf8(*value), fits);
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
