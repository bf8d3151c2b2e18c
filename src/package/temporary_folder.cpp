#include "package/temporary_folder.h"

#include <windows.h>

#include "script/path_text.h"
#include "win/ansi_names.h"

namespace vorlatch {

namespace {

// The value of an environment variable; false when it is not set.
bool ReadEnvironment(const char* name, std::string& value) {
  const DWORD needed = ::GetEnvironmentVariableA(name, nullptr, 0);
  if (needed == 0) {
    return false;
  }
  std::string buffer(needed, '\0');
  const DWORD length = ::GetEnvironmentVariableA(name, buffer.data(), needed);
  if (length == 0 || length >= needed) {
    return false;
  }
  buffer.resize(length);
  value = buffer;
  return true;
}

}  // namespace

std::string TemporaryDirectory() {
  std::string directory;
  if (!ReadEnvironment("Tmp", directory) && !ReadEnvironment("Temp", directory)) {
    return std::string();
  }
  return WithoutTrailingBackslash(directory) + '\\';
}

std::optional<std::wstring> WideTemporaryDirectory() {
  std::optional<std::wstring> directory = WideEnvironment(L"Tmp");
  return directory ? directory : WideEnvironment(L"Temp");
}

std::string TemporaryFilePath(const std::string& name) {
  const std::string directory = TemporaryDirectory();
  return (directory.empty() ? std::string(".\\") : directory) + name;
}

std::string ScriptPath() {
  return TemporaryFilePath(kScriptFileName);
}
std::string UninstallLogTempPath() {
  return TemporaryFilePath(kUninstallLogFileName);
}

}  // namespace vorlatch
