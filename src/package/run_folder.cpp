#include "package/run_folder.h"

#include <cstdint>
#include <optional>
#include <string_view>

#include <windows.h>

#include "package/opening.h"
#include "package/process_state.h"
#include "script/path_text.h"
#include "win/code_page.h"
#include "win/private_folder.h"

namespace vorlatch {

namespace {

constexpr char kTmp[] = "Tmp";
constexpr char kTemp[] = "Temp";
constexpr char kRunFolderPrefix[] = "vorlatch-";
constexpr std::size_t kRunFolderHexDigits = 16;
// The system lets go of a program's file shortly after its process ended.
constexpr int kRemoveAttempts = 50;
constexpr DWORD kRemoveRetryMs = 100;

// The process started from the run folder that keeps it (null: none).
UniqueHandle g_keeper;

std::optional<std::string> Variable(const char* name) {
  const DWORD needed = ::GetEnvironmentVariableA(name, nullptr, 0);
  if (needed == 0) {
    return std::nullopt;
  }
  std::string value(needed, '\0');
  const DWORD length = ::GetEnvironmentVariableA(name, value.data(), needed);
  if (length == 0 || length >= needed) {
    return std::nullopt;
  }
  value.resize(length);
  return value;
}

void SetVariable(const char* name, const std::optional<std::string>& value) {
  ::SetEnvironmentVariableA(name, value ? value->c_str() : nullptr);
}

void PointAtRunFolder() {
  const std::string folder = WithoutTrailingBackslash(g_state.runFolder);
  SetVariable(kTmp, folder);
  SetVariable(kTemp, folder);
}

void RestoreUserVariables() {
  SetVariable(kTmp, g_state.userTmp);
  SetVariable(kTemp, g_state.userTemp);
}

std::string OwnProgramFile() {
  char path[MAX_PATH + 1] = {};
  const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(path, length) : std::string();
}

// Starts the installer's own file once more as the waiter, with an inheritable handle of the
// keeping process on its command line. It runs from the system folder, so that no process of
// ours holds the run folder as its current folder. False when it could not be started.
bool StartWaiter(const std::string& folder, HANDLE keeper) {
  const std::string program = OwnProgramFile();
  char systemFolder[MAX_PATH + 1] = {};
  const UINT systemLength = ::GetSystemDirectoryA(systemFolder, MAX_PATH);
  HANDLE inheritable = nullptr;
  if (program.empty() || systemLength == 0 || systemLength >= MAX_PATH ||
      !::DuplicateHandle(::GetCurrentProcess(), keeper, ::GetCurrentProcess(), &inheritable,
                         SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, TRUE, 0)) {
    return false;
  }
  const UniqueHandle handed(inheritable);
  std::string commandLine = "\"" + program + "\" " + kRunFolderWaiterSwitch + " " +
                            std::to_string(reinterpret_cast<std::uintptr_t>(inheritable)) + " " +
                            folder;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        systemFolder, &startup, &started)) {
    return false;
  }
  const UniqueHandle process(started.hProcess);
  const UniqueHandle thread(started.hThread);
  return true;
}

// A name of our making: "vorlatch-" and 16 hex digits, as the last level of a full path.
bool IsRunFolderPath(const std::string& folder) {
  const std::string base = WithoutTrailingBackslash(folder);
  const std::size_t slash = base.rfind('\\');
  if (slash == std::string::npos || base.find('/') != std::string::npos) {
    return false;
  }
  const std::string name = base.substr(slash + 1);
  const std::size_t prefix = sizeof kRunFolderPrefix - 1;
  if (name.size() != prefix + kRunFolderHexDigits ||
      name.compare(0, prefix, kRunFolderPrefix) != 0) {
    return false;
  }
  for (std::size_t i = prefix; i < name.size(); ++i) {
    const char c = name[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
      return false;
    }
  }
  return true;
}

std::string_view SkipBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  return text;
}

// The handle and the folder of a waiter's command line; false when it is not one.
bool ParseWaiterCommand(std::string_view text, std::uint64_t& handle, std::string& folder) {
  text = SkipBlanks(text);
  // The program path, quoted or up to the first blank.
  if (!text.empty() && text.front() == '"') {
    const std::size_t close = text.find('"', 1);
    if (close == std::string_view::npos) {
      return false;
    }
    text.remove_prefix(close + 1);
  } else {
    const std::size_t blank = text.find_first_of(" \t");
    text.remove_prefix(blank == std::string_view::npos ? text.size() : blank);
  }
  text = SkipBlanks(text);
  const std::string_view name = kRunFolderWaiterSwitch;
  if (text.size() <= name.size() || !StartsWithIgnoringCase(text, name) ||
      (text[name.size()] != ' ' && text[name.size()] != '\t')) {
    return false;
  }
  text = SkipBlanks(text.substr(name.size()));
  handle = 0;
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9' && digits < 19) {
    handle = handle * 10 + static_cast<std::uint64_t>(text[digits] - '0');
    ++digits;
  }
  if (digits == 0 || digits == text.size() || (text[digits] != ' ' && text[digits] != '\t')) {
    return false;
  }
  text = SkipBlanks(text.substr(digits));
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  folder.assign(text);
  return handle != 0 && IsRunFolderPath(folder);
}

}  // namespace

bool EnterRunFolder() {
  if (!g_state.runFolder.empty()) {
    return true;
  }
  const std::string folder = CreatePrivateFolder(TemporaryDirectory(), kRunFolderPrefix);
  if (folder.empty()) {
    return false;
  }
  g_state.userTmp = Variable(kTmp);
  g_state.userTemp = Variable(kTemp);
  g_state.runFolder = folder;
  PointAtRunFolder();
  return true;
}

void LeaveRunFolder() {
  if (g_state.runFolder.empty()) {
    return;
  }
  RestoreUserVariables();
  // A program was started from the folder: the waiter removes the folder once it has ended
  // and the system has let go of its file. Otherwise (or when no waiter can be started) what
  // cannot go now goes at the next restart.
  const bool waiting = g_keeper && StartWaiter(g_state.runFolder, g_keeper.get());
  g_keeper.reset();
  if (!waiting && !RemoveFolderTree(g_state.runFolder)) {
    RemoveFolderTreeAtRestart(g_state.runFolder);
  }
  g_state.runFolder.clear();
  g_state.userTmp.reset();
  g_state.userTemp.reset();
}

void KeepRunFolderFor(UniqueHandle process) {
  // Without a folder of the run's own there is nothing to keep.
  if (!g_state.runFolder.empty()) {
    g_keeper = std::move(process);
  }
}

bool RunFolderKept() {
  return static_cast<bool>(g_keeper);
}

bool IsRunFolderWaiter(const char* commandLine) {
  std::uint64_t handle = 0;
  std::string folder;
  return commandLine != nullptr && ParseWaiterCommand(commandLine, handle, folder);
}

int RunFolderWaiter(const char* commandLine) {
  std::uint64_t handle = 0;
  std::string folder;
  if (commandLine == nullptr || !ParseWaiterCommand(commandLine, handle, folder)) {
    return 1;
  }
  const UniqueHandle keeper(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(handle)));
  // A handle that is no process of ours to wait for (the switch typed by hand) removes nothing.
  if (::GetProcessId(keeper.get()) == 0 ||
      ::WaitForSingleObject(keeper.get(), INFINITE) != WAIT_OBJECT_0) {
    return 1;
  }
  for (int attempt = 0; attempt < kRemoveAttempts; ++attempt) {
    if (RemoveFolderTree(folder) ||
        ::GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
      return 0;
    }
    ::Sleep(kRemoveRetryMs);
  }
  RemoveFolderTreeAtRestart(folder);
  return 1;
}

std::string UserTemporaryDirectory() {
  if (g_state.runFolder.empty()) {
    return TemporaryDirectory();
  }
  const std::optional<std::string>& value = g_state.userTmp ? g_state.userTmp : g_state.userTemp;
  if (!value || value->empty()) {
    return std::string();
  }
  return WithoutTrailingBackslash(*value) + '\\';
}

UserTemporaryVariables::UserTemporaryVariables() : swapped_(!g_state.runFolder.empty()) {
  if (swapped_) {
    RestoreUserVariables();
  }
}

UserTemporaryVariables::~UserTemporaryVariables() {
  if (swapped_) {
    PointAtRunFolder();
  }
}

}  // namespace vorlatch
