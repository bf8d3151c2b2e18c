#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <sstream>

#include "package/opening.h"
#include "packer/packer.h"
#include "win/handles.h"

namespace vorlatch::test {

namespace {

std::atomic<unsigned> g_folderCounter{0};

std::optional<std::string> EnvironmentValue(const std::string& name) {
  const DWORD needed = ::GetEnvironmentVariableA(name.c_str(), nullptr, 0);
  if (needed == 0) {
    return std::nullopt;
  }
  std::string value(needed, '\0');
  const DWORD length = ::GetEnvironmentVariableA(name.c_str(), value.data(), needed);
  value.resize(length < needed ? length : 0);
  return value;
}

}  // namespace

TempFolder::TempFolder() {
  char base[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathA(sizeof base, base);
  std::string root = length > 0 && length < sizeof base ? std::string(base, length) : ".\\";
  if (root.back() != '\\') {
    root += '\\';
  }
  for (;;) {
    const std::string candidate =
        root + "vorlatch-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
        std::to_string(::GetTickCount()) + "-" + std::to_string(g_folderCounter++);
    if (::CreateDirectoryA(candidate.c_str(), nullptr)) {
      path_ = candidate + '\\';
      return;
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS) {
      return;  // path_ stays empty; the test's file operations then fail visibly
    }
  }
}

TempFolder::~TempFolder() {
  if (!path_.empty()) {
    RemoveTree(path_);
  }
}

SystemFolderFile::SystemFolderFile()
    : name_("vlsys" + std::to_string(::GetCurrentProcessId()) + ".dll") {
  char system[MAX_PATH] = {};
  ::GetSystemDirectoryA(system, MAX_PATH);
  path_ = std::string(system) + "\\VLSYS" + std::to_string(::GetCurrentProcessId()) + ".DLL";
  EXPECT_TRUE(WriteTextFile(path_, "a system component"));
}

SystemFolderFile::~SystemFolderFile() {
  ::DeleteFileA(path_.c_str());
}

std::string TempFolder::Subfolder(const std::string& name) const {
  const std::string folder = path_ + name;
  ::CreateDirectoryA(folder.c_str(), nullptr);
  return folder + '\\';
}

void RemoveTree(const std::string& folder) {
  std::string base = folder;
  if (!base.empty() && base.back() != '\\') {
    base += '\\';
  }
  WIN32_FIND_DATAA data;
  UniqueFindHandle find(::FindFirstFileA((base + "*").c_str(), &data));
  if (find) {
    do {
      const std::string name = data.cFileName;
      if (name == "." || name == "..") {
        continue;
      }
      const std::string path = base + name;
      ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        RemoveTree(path);
      } else {
        ::DeleteFileA(path.c_str());
      }
    } while (::FindNextFileA(find.get(), &data));
  }
  find.reset();
  ::RemoveDirectoryA(base.c_str());
}

bool WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    return false;
  }
  DWORD written = 0;
  return bytes.empty() || (::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                       &written, nullptr) &&
                           written == bytes.size());
}

std::string Noise(std::size_t size) {
  std::string bytes(size, '\0');
  std::generate(bytes.begin(), bytes.end(), [state = 1u]() mutable {
    return char((state = state * 1103515245u + 12345u) >> 24);
  });
  return bytes;
}

bool WriteTextFile(const std::string& path, const std::string& text) {
  return WriteFileBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::optional<std::vector<std::uint8_t>> ReadFileBytes(const std::string& path) {
  UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes;
  std::uint8_t chunk[65536];
  DWORD read = 0;
  while (::ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr) && read > 0) {
    bytes.insert(bytes.end(), chunk, chunk + read);
  }
  return bytes;
}

std::optional<std::string> ReadTextFile(const std::string& path) {
  const auto bytes = ReadFileBytes(path);
  if (!bytes) {
    return std::nullopt;
  }
  return std::string(bytes->begin(), bytes->end());
}

bool FileExists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::optional<std::string> WaitForFile(const std::string& path, DWORD timeoutMs) {
  const ULONGLONG end = ::GetTickCount64() + timeoutMs;
  for (;;) {
    if (auto text = ReadTextFile(path)) {
      return text;
    }
    if (::GetTickCount64() > end) {
      return std::nullopt;
    }
    ::Sleep(20);
  }
}

void DeleteWhenReleased(const std::string& path, DWORD timeoutMs) {
  const ULONGLONG end = ::GetTickCount64() + timeoutMs;
  while (!::DeleteFileA(path.c_str()) && FileExists(path) && ::GetTickCount64() < end) {
    ::Sleep(20);
  }
}

std::string RegistryString(HKEY root, const std::string& key, const std::string& name) {
  char buffer[1024] = {};
  DWORD size = sizeof buffer - 1;
  DWORD type = 0;
  UniqueHkey opened;
  if (::RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, opened.put()) != ERROR_SUCCESS ||
      ::RegQueryValueExA(opened.get(), name.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return "<none>";
  }
  return std::string(buffer);
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::string base = folder;
  if (!base.empty() && base.back() != '\\') {
    base += '\\';
  }
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  UniqueFindHandle find(::FindFirstFileA((base + "*").c_str(), &data));
  if (find) {
    do {
      const std::string name = data.cFileName;
      if (name != "." && name != "..") {
        names.push_back(name);
      }
    } while (::FindNextFileA(find.get(), &data));
  }
  std::sort(names.begin(), names.end());
  return names;
}

FILETIME FileTimeOf(std::uint64_t ticks) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return time;
}

std::uint64_t TicksOf(const FILETIME& time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

std::uint64_t TicksOfDate(int year, int month, int day, int hour, int minute, int second) {
  SYSTEMTIME system{};
  system.wYear = static_cast<WORD>(year);
  system.wMonth = static_cast<WORD>(month);
  system.wDay = static_cast<WORD>(day);
  system.wHour = static_cast<WORD>(hour);
  system.wMinute = static_cast<WORD>(minute);
  system.wSecond = static_cast<WORD>(second);
  FILETIME time{};
  if (!::SystemTimeToFileTime(&system, &time)) {
    return 0;
  }
  return TicksOf(time);
}

bool SetFileTimes(const std::string& path, const FileTimes& times) {
  UniqueHandle file(::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    return false;
  }
  const FILETIME creation = FileTimeOf(times.creation);
  const FILETIME access = FileTimeOf(times.access);
  const FILETIME write = FileTimeOf(times.write);
  return ::SetFileTime(file.get(), &creation, &access, &write) != 0;
}

std::optional<FileTimes> GetFileTimes(const std::string& path) {
  UniqueHandle file(::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    return std::nullopt;
  }
  FILETIME creation{};
  FILETIME access{};
  FILETIME write{};
  if (!::GetFileTime(file.get(), &creation, &access, &write)) {
    return std::nullopt;
  }
  return FileTimes{TicksOf(creation), TicksOf(access), TicksOf(write)};
}

bool FileSystemKeepsCreationTimes(const std::string& folder) {
  const std::string probe = folder + "creation-time-probe.tmp";
  const FileTimes set{TicksOfDate(2000, 1, 2, 3, 4, 5), TicksOfDate(2010, 1, 2, 3, 4, 5),
                      TicksOfDate(2010, 1, 2, 3, 4, 5)};
  const bool kept = WriteTextFile(probe, "probe") && SetFileTimes(probe, set) &&
                    GetFileTimes(probe).value_or(FileTimes{}).creation == set.creation;
  ::DeleteFileA(probe.c_str());
  return kept;
}

bool SetAttributes(const std::string& path, DWORD attributes) {
  return ::SetFileAttributesA(path.c_str(), attributes) != 0;
}

DWORD GetAttributes(const std::string& path) {
  return ::GetFileAttributesA(path.c_str());
}

ScopedEnvironment::ScopedEnvironment(const std::string& name,
                                     const std::optional<std::string>& value)
    : name_(name), old_(EnvironmentValue(name)) {
  ::SetEnvironmentVariableA(name_.c_str(), value ? value->c_str() : nullptr);
}

ScopedEnvironment::~ScopedEnvironment() {
  ::SetEnvironmentVariableA(name_.c_str(), old_ ? old_->c_str() : nullptr);
}

ScopedCurrentDirectory::ScopedCurrentDirectory(const std::string& folder) {
  char current[MAX_PATH + 1] = {};
  const DWORD length = ::GetCurrentDirectoryA(sizeof current, current);
  if (length > 0 && length < sizeof current) {
    old_.assign(current, length);
  }
  ::SetCurrentDirectoryA(folder.c_str());
}

ScopedCurrentDirectory::~ScopedCurrentDirectory() {
  if (!old_.empty()) {
    ::SetCurrentDirectoryA(old_.c_str());
  }
}

std::string TestProgramFolder() {
  char path[MAX_PATH + 1] = {};
  const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length < MAX_PATH ? length : 0);
  const std::size_t slash = folder.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".\\") : folder.substr(0, slash + 1);
}

std::string BesideTests(const std::string& name) {
  return TestProgramFolder() + name;
}

ChildProcess::~ChildProcess() {
  if (process_ && ::WaitForSingleObject(process_.get(), 0) != WAIT_OBJECT_0) {
    ::TerminateProcess(process_.get(), 1);
    ::WaitForSingleObject(process_.get(), 5000);
  }
}

bool ChildProcess::Start(const std::string& commandLine, const std::string& workingFolder,
                         const std::string& applicationName) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::string mutableLine = commandLine;
  if (!::CreateProcessA(applicationName.empty() ? nullptr : applicationName.c_str(),
                        mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup, &info)) {
    return false;
  }
  UniqueHandle thread(info.hThread);
  process_.reset(info.hProcess);
  processId_ = info.dwProcessId;
  return true;
}

ProcessResult ChildProcess::Wait(DWORD timeoutMs) {
  ProcessResult result;
  if (!process_) {
    return result;
  }
  result.started = true;
  if (::WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0) {
    ::TerminateProcess(process_.get(), 1);
    ::WaitForSingleObject(process_.get(), 5000);
    return result;
  }
  result.finished = true;
  ::GetExitCodeProcess(process_.get(), &result.exitCode);
  return result;
}

ProcessResult RunProcess(const std::string& commandLine, DWORD timeoutMs,
                         const std::string& workingFolder) {
  ChildProcess child;
  if (!child.Start(commandLine, workingFolder)) {
    return ProcessResult{};
  }
  return child.Wait(timeoutMs);
}

std::string BuildInstallerFromProject(const std::string& projectPath, std::string& error) {
  packer::BuildOptions options;
  options.project = projectPath;
  options.stub = BesideTests("vorlatch-stub.exe");
  const std::size_t dot = projectPath.find_last_of('.');
  // Not the project's name with .exe: that may be a program the project packs (Hello.exe).
  options.output =
      (dot == std::string::npos ? projectPath : projectPath.substr(0, dot)) + "-setup.exe";
  std::ostringstream warnings;
  options.warnings = &warnings;
  const bool built = packer::BuildInstaller(options, error);
  PackerWarnings() += warnings.str();
  return built ? options.output : std::string();
}

std::string& PackerWarnings() {
  static std::string warnings;
  return warnings;
}

std::string BuildTestInstaller(const TempFolder& folder, const std::string& projectText,
                               std::string& error, const std::string& projectName) {
  const std::string project = folder.File(projectName);
  if (!WriteTextFile(project, projectText)) {
    error = "cannot write " + project;
    return std::string();
  }
  return BuildInstallerFromProject(project, error);
}

std::string Quoted(const std::string& text) {
  std::string quoted = "\"";
  quoted.append(text).push_back('"');
  return quoted;
}

std::string Line(const std::string& key, const std::string& value) {
  std::string line = key;
  line.append("=").append(value).append("\r\n");
  return line;
}

void OpenTestPackage(const TempFolder& folder, const std::string& projectText) {
  std::string error;
  const std::string installer = BuildTestInstaller(folder, projectText, error);
  ASSERT_FALSE(installer.empty()) << error;
  ASSERT_TRUE(OpenPackageFile(installer));
  ASSERT_TRUE(ExtractScript());
}

}  // namespace vorlatch::test
