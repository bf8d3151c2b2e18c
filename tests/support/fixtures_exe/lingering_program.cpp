// Stands in for a program that an installer starts and that keeps running after the installer
// has ended. It records "<process id>|<own path>" in the file named by VORLATCH_LINGER_RECORD,
// then runs until the named event VORLATCH_LINGER_EVENT is set, and ends with 0 when its own
// file is still there to be read at that moment (2 when not, 1 when it could not start).
#include <windows.h>

#include <string>

namespace {

std::string Variable(const char* name) {
  char value[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableA(name, value, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(value, length) : std::string();
}

// Written under another name and then renamed, so that a test never reads half of it.
bool Record(const std::string& path, const std::string& text) {
  const std::string partial = path + ".part";
  HANDLE file = ::CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  DWORD written = 0;
  const BOOL ok =
      ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  ::CloseHandle(file);
  return ok && ::MoveFileExA(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char own[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameA(nullptr, own, MAX_PATH);
  HANDLE release = ::OpenEventA(SYNCHRONIZE, FALSE, Variable("VORLATCH_LINGER_EVENT").c_str());
  if (length == 0 || length >= MAX_PATH || release == nullptr ||
      !Record(Variable("VORLATCH_LINGER_RECORD"),
              std::to_string(::GetCurrentProcessId()) + "|" + std::string(own, length))) {
    return 1;
  }
  // A guard against a test that never lets it go.
  ::WaitForSingleObject(release, 120000);
  ::CloseHandle(release);
  HANDLE self = ::CreateFileA(own, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (self == INVALID_HANDLE_VALUE) {
    return 2;
  }
  ::CloseHandle(self);
  return 0;
}
