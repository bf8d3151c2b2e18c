#include "stages/launching.h"

#include <optional>
#include <utility>
#include <vector>

#include "package/run_folder.h"
#include "script/path_text.h"
#include "stages/command_text.h"
#include "win/handles.h"

namespace vorlatch {
namespace {

constexpr char kOpenCommandKey[] = "\\Shell\\Open\\Command";

// Only reads: keys that an ordinary user may not write to still answer.
UniqueHkey OpenClassesKey(const std::string& name) {
  UniqueHkey key;
  if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, name.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
    key.reset();
  }
  return key;
}

struct StringValue {
  std::string text;
  DWORD type = REG_NONE;
};

// The key's default value when it fits the buffer. The stored data need not end in a zero,
// so the text ends at the first zero within the bytes actually returned.
std::optional<StringValue> ReadDefaultValue(HKEY key) {
  std::vector<char> buffer(kOpenCommandBufferSize, '\0');
  DWORD size = kOpenCommandBufferSize;
  StringValue value;
  if (::RegQueryValueExA(key, nullptr, nullptr, &value.type, reinterpret_cast<BYTE*>(buffer.data()),
                         &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  const std::string bytes(buffer.data(), size <= buffer.size() ? size : buffer.size());
  value.text = bytes.substr(0, bytes.find('\0'));
  return value;
}

// Environment references expanded; none when the result would not fit the buffer, rather
// than a command cut somewhere in its program path.
std::optional<std::string> Expanded(const std::string& text) {
  std::vector<char> buffer(kOpenCommandBufferSize, '\0');
  const DWORD needed =
      ::ExpandEnvironmentStringsA(text.c_str(), buffer.data(), kOpenCommandBufferSize);
  if (needed == 0 || needed > kOpenCommandBufferSize) {
    return std::nullopt;
  }
  return std::string(buffer.data());
}

}  // namespace

std::string FindOpenCommand(const std::string& path) {
  const std::string extension = ExtensionOf(path);
  if (path.empty() || extension.empty()) {
    return std::string();
  }
  const UniqueHkey extensionKey = OpenClassesKey(std::string(1, '.').append(extension));
  if (!extensionKey) {
    return std::string();
  }
  const std::optional<StringValue> className = ReadDefaultValue(extensionKey.get());
  if (!className || className->type != REG_SZ || className->text.empty()) {
    return std::string();
  }
  const UniqueHkey commandKey = OpenClassesKey(className->text + kOpenCommandKey);
  if (!commandKey) {
    return std::string();
  }
  const std::optional<StringValue> command = ReadDefaultValue(commandKey.get());
  if (!command) {
    return std::string();
  }
  if (command->type == REG_SZ) {
    return ProgramPart(command->text);
  }
  if (command->type == REG_EXPAND_SZ) {
    const std::optional<std::string> expanded = Expanded(command->text);
    return expanded ? ProgramPart(*expanded) : std::string();
  }
  return std::string();
}

int RunProgram(const std::string& commandLine, DWORD waitMs, UniqueHandle* started) {
  // CreateProcessA may write into the command line.
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  SECURITY_ATTRIBUTES processAttributes = {};
  processAttributes.nLength = sizeof processAttributes;
  processAttributes.bInheritHandle = TRUE;
  SECURITY_ATTRIBUTES threadAttributes = {};
  threadAttributes.nLength = sizeof threadAttributes;
  threadAttributes.bInheritHandle = FALSE;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION created = {};
  {
    // The program outlives the run's temporary folder.
    const UserTemporaryVariables userTemporary;
    if (!::CreateProcessA(nullptr, line.data(), &processAttributes, &threadAttributes, FALSE, 0,
                          nullptr, nullptr, &startup, &created)) {
      return 0;
    }
  }
  UniqueHandle process(created.hProcess);
  UniqueHandle thread(created.hThread);
  thread.reset();  // never needed
  const DWORD waited = ::WaitForSingleObject(process.get(), waitMs);
  const int result = waited == WAIT_OBJECT_0 || waited == WAIT_TIMEOUT ? 1 : 0;
  if (result == 1 && started != nullptr) {
    *started = std::move(process);
  }
  return result;
}

int OpenDocument(const std::string& path, DWORD waitMs, UniqueHandle* started) {
  // Quoted when it has blanks: the program search would otherwise try each blank-separated
  // beginning of the path as a program of its own.
  const std::string argument = PathArgument(path);
  if (RunProgram(argument, waitMs, started) == 1) {
    return 1;
  }
  const std::string openCommand = FindOpenCommand(path);
  if (openCommand.empty()) {
    return 0;
  }
  return RunProgram(OpenCommandLine(openCommand, path), waitMs, started);
}

}  // namespace vorlatch
