#include "support/host_command.h"

#include <cstdlib>

#include "support/test_files.h"

namespace vorlatch::test {

namespace {

using UnixFileNameFunction = char*(__cdecl*)(const wchar_t*);

}  // namespace

std::string UnixPath(const std::string& windowsPath) {
  const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  const auto function = kernel == nullptr
                            ? nullptr
                            : reinterpret_cast<UnixFileNameFunction>(reinterpret_cast<void*>(
                                  ::GetProcAddress(kernel, "wine_get_unix_file_name")));
  if (function == nullptr) {
    return std::string();
  }
  const std::wstring wide(windowsPath.begin(), windowsPath.end());
  char* unix = function(wide.c_str());
  if (unix == nullptr) {
    return std::string();
  }
  std::string path(unix);
  ::HeapFree(::GetProcessHeap(), 0, unix);
  return path;
}

std::string ShellWord(const std::string& unixPath) {
  std::string word = "'";
  for (char c : unixPath) {
    word += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return word + "'";
}

std::optional<int> RunHostCommand(const std::string& shellCommand, DWORD timeoutMs) {
  TempFolder folder;
  const std::string status = UnixPath(folder.File("status"));
  if (status.empty() || shellCommand.find('"') != std::string::npos) {
    return std::nullopt;
  }
  // Written under another name and renamed, so that the test never reads half a status.
  const std::string line = "/bin/sh -c \"(" + shellCommand +
                           ") </dev/null >/dev/null 2>&1; echo $? > " +
                           ShellWord(status + ".part") + " && mv " + ShellWord(status + ".part") +
                           " " + ShellWord(status) + "\"";
  ChildProcess child;
  if (!child.Start(line)) {
    return std::nullopt;
  }
  const auto text = WaitForFile(folder.File("status"), timeoutMs);
  if (!text || text->empty()) {
    return std::nullopt;
  }
  return std::atoi(text->c_str());
}

}  // namespace vorlatch::test
