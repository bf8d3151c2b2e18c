// Stands in for the uninstaller: records the command line it was started with in
// "<own path>.cmdline" and ends. The record is written under another name and then renamed,
// so that a test waiting for it never reads half of it. With VORLATCH_LINGER_EVENT set, it
// keeps running after that until the named event is set, as a program started by an installer
// may run on after the installer.
#include <windows.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char own[MAX_PATH];
  const DWORD length = ::GetModuleFileNameA(nullptr, own, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    return 1;
  }
  const std::string record = std::string(own, length) + ".cmdline";
  const std::string partial = record + ".part";
  const char* commandLine = ::GetCommandLineA();
  HANDLE file = ::CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return 1;
  }
  DWORD written = 0;
  const BOOL ok =
      ::WriteFile(file, commandLine, static_cast<DWORD>(lstrlenA(commandLine)), &written, nullptr);
  ::CloseHandle(file);
  if (!ok || !::MoveFileExA(partial.c_str(), record.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return 1;
  }
  char event[MAX_PATH] = {};
  if (::GetEnvironmentVariableA("VORLATCH_LINGER_EVENT", event, MAX_PATH) != 0) {
    HANDLE release = ::OpenEventA(SYNCHRONIZE, FALSE, event);
    ::WaitForSingleObject(release, 120000);  // a guard against a test that never lets it go
    ::CloseHandle(release);
  }
  return 0;
}
