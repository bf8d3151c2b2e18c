#pragma once
// Helpers that the Windows tests share: private temporary folders, files with chosen
// attributes and times, programs beside the test executable, child processes with a
// time-out, and installers built by the packer.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "win/handles.h"

namespace vorlatch::test {

// A new, empty folder unique to this test (under the system's temporary folder), removed
// with everything in it when the object goes.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // With one trailing backslash.
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + name; }
  // A subfolder, made on first use; with one trailing backslash.
  std::string Subfolder(const std::string& name) const;

 private:
  std::string path_;
};

// A file of the system folder, named in upper case, unique to the process (not one of Wine's, whose
// names load its built-ins); name() is in lower case. Removed with the object.
class SystemFolderFile {
 public:
  SystemFolderFile();
  ~SystemFolderFile();
  SystemFolderFile(const SystemFolderFile&) = delete;
  SystemFolderFile& operator=(const SystemFolderFile&) = delete;

  std::string name() const { return name_; }

 private:
  std::string name_;
  std::string path_;
};

// Deletes a folder tree, read-only files included.
void RemoveTree(const std::string& folder);

bool WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
bool WriteTextFile(const std::string& path, const std::string& text);
// `size` bytes that no compressor shrinks (the same for every run).
std::string Noise(std::size_t size);
std::optional<std::vector<std::uint8_t>> ReadFileBytes(const std::string& path);
std::optional<std::string> ReadTextFile(const std::string& path);
bool FileExists(const std::string& path);
// The text of a file once it exists; none when it does not appear within `timeoutMs`.
std::optional<std::string> WaitForFile(const std::string& path, DWORD timeoutMs = 60000);
// Deletes a file that a started program may still hold for a moment after its last write.
void DeleteWhenReleased(const std::string& path, DWORD timeoutMs = 60000);
// Names in a folder (without "." and ".."), sorted.
std::vector<std::string> FolderEntries(const std::string& folder);

FILETIME FileTimeOf(std::uint64_t ticks);
std::uint64_t TicksOf(const FILETIME& time);
// FILETIME ticks of a UTC date and time.
std::uint64_t TicksOfDate(int year, int month, int day, int hour, int minute, int second);

struct FileTimes {
  std::uint64_t creation = 0;
  std::uint64_t access = 0;
  std::uint64_t write = 0;
};
bool SetFileTimes(const std::string& path, const FileTimes& times);
std::optional<FileTimes> GetFileTimes(const std::string& path);
// Whether the file system keeps a creation time that was set (Wine on Linux reports the
// last-write time instead), so that tests check stored creation times where they can.
bool FileSystemKeepsCreationTimes(const std::string& folder);
bool SetAttributes(const std::string& path, DWORD attributes);
DWORD GetAttributes(const std::string& path);

// A REG_SZ value (at most 1 KB); "<none>" when the key or value is missing or of another type.
std::string RegistryString(HKEY root, const std::string& key, const std::string& name);

// Sets (or with nullopt removes) an environment variable and restores it afterwards.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const std::string& name, const std::optional<std::string>& value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Changes the current directory and restores it afterwards.
class ScopedCurrentDirectory {
 public:
  explicit ScopedCurrentDirectory(const std::string& folder);
  ~ScopedCurrentDirectory();
  ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
  ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;

 private:
  std::string old_;
};

// The folder of the test executable, with one trailing backslash.
std::string TestProgramFolder();
// A program or DLL built beside the tests.
std::string BesideTests(const std::string& name);

struct ProcessResult {
  bool started = false;
  bool finished = false;  // false: killed after the time-out
  DWORD exitCode = 0;
};

// A child process started from a command line (inheriting the environment); killed when the
// object goes while it still runs, so that no test leaves a program waiting for input.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // `applicationName` empty: the program is taken from the command line.
  bool Start(const std::string& commandLine, const std::string& workingFolder = "",
             const std::string& applicationName = "");
  DWORD processId() const { return processId_; }
  // Waits for the end; kills the process after `timeoutMs`.
  ProcessResult Wait(DWORD timeoutMs);

 private:
  UniqueHandle process_;
  DWORD processId_ = 0;
};

// Runs a command line (inheriting the environment) and waits for it; kills it when it does
// not end within `timeoutMs`.
ProcessResult RunProcess(const std::string& commandLine, DWORD timeoutMs,
                         const std::string& workingFolder = "");

// The text in double quotes, as a command line names a path.
std::string Quoted(const std::string& text);
// "key=value" and a line break: one line of a project file or script.
std::string Line(const std::string& key, const std::string& value);

// Builds the installer of an existing project file (output beside it, named after it) with
// the stub built beside the tests. Returns its path, or empty with `error` filled.
std::string BuildInstallerFromProject(const std::string& projectPath, std::string& error);

// Builds an installer with the packer from a project file text written to `folder`, with the
// stub built beside the tests. Returns the installer's path, or empty with `error` filled.
std::string BuildTestInstaller(const TempFolder& folder, const std::string& projectText,
                               std::string& error, const std::string& projectName = "setup.vlp");

// Builds an installer from the project text as BuildTestInstaller does, opens its package and
// extracts the script, as start-up does. A step that fails is a fatal test failure that ends
// only this call (wrap it in ASSERT_NO_FATAL_FAILURE to end the test there).
void OpenTestPackage(const TempFolder& folder, const std::string& projectText);

// The packer's warnings of the builds so far, one a line; tests may clear it.
std::string& PackerWarnings();

}  // namespace vorlatch::test
