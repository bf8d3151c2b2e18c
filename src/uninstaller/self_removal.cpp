#include "uninstaller/self_removal.h"

#include <cstring>

#include <windows.h>

#include "actions/uninstaller_interface.h"

#include "uninstaller/log_reader.h"
#include "uninstaller/removal.h"
#include "uninstaller/uninstall_text.h"
#include "package/temporary_folder.h"
#include "script/path_text.h"
#include "win/handles.h"
#include "win/private_folder.h"

namespace vorlatch {

namespace {

// How long the copy waits for the first process, which ends right after starting it.
constexpr DWORD kFirstProcessWaitMs = 60000;
// The system lets go of a program's file shortly after its process ended.
constexpr int kDeleteAttempts = 50;
constexpr DWORD kDeleteRetryMs = 100;

constexpr char kCopyFolderPrefix[] = "vorlatch-uninstall-";
constexpr char kCopyName[] = "vorlatch-uninstall.exe";

// Copies the program into a new folder of its own in the temporary folder, which no other
// user can enter: the copy runs with the uninstaller's rights, and a DLL or a program of
// someone else's beside it must not. Empty when that fails.
std::string CopyIntoPrivateFolder(const std::string& ownPath) {
  const std::string temporary = UninstallerTemporaryFolder();
  if (temporary.empty()) {
    return std::string();
  }
  const std::string folder = CreatePrivateFolder(temporary, kCopyFolderPrefix);
  if (folder.empty()) {
    return std::string();
  }
  const std::string copy = folder + kCopyName;
  if (!::CopyFileA(ownPath.c_str(), copy.c_str(), TRUE)) {
    RemoveFolderTree(folder);
    return std::string();
  }
  return copy;
}

// The folder of a finishing copy, when the program is one; empty otherwise.
std::string CopyFolderOf(const std::string& program) {
  const std::size_t slash = ActiveCodePage().FindLast(program, '\\');
  if (slash == std::string::npos || slash == 0) {
    return std::string();
  }
  const std::string folder = program.substr(0, slash);
  const std::size_t parent = ActiveCodePage().FindLast(folder, '\\');
  const std::string name = parent == std::string::npos ? folder : folder.substr(parent + 1);
  const bool isCopy = name.compare(0, sizeof kCopyFolderPrefix - 1, kCopyFolderPrefix) == 0 &&
                      IsSamePath(program.substr(slash + 1), kCopyName);
  return isCopy ? folder : std::string();
}

bool SameBytes(const std::string& a, const std::string& b) {
  UniqueHandle first(::CreateFileA(a.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  UniqueHandle second(::CreateFileA(b.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER firstSize{};
  LARGE_INTEGER secondSize{};
  if (!first || !second || !::GetFileSizeEx(first.get(), &firstSize) ||
      !::GetFileSizeEx(second.get(), &secondSize) || firstSize.QuadPart != secondSize.QuadPart) {
    return false;
  }
  char x[65536];
  char y[65536];
  for (;;) {
    DWORD readX = 0;
    DWORD readY = 0;
    if (!::ReadFile(first.get(), x, sizeof x, &readX, nullptr) ||
        !::ReadFile(second.get(), y, sizeof y, &readY, nullptr) || readX != readY) {
      return false;
    }
    if (readX == 0) {
      return true;
    }
    if (std::memcmp(x, y, readX) != 0) {
      return false;
    }
  }
}

void DeleteUninstaller(const std::string& uninstaller) {
  ::SetFileAttributesA(uninstaller.c_str(), FILE_ATTRIBUTE_NORMAL);
  for (int attempt = 0; attempt < kDeleteAttempts; ++attempt) {
    if (::DeleteFileA(uninstaller.c_str())) {
      return;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      return;
    }
    ::Sleep(kDeleteRetryMs);
  }
  ::MoveFileExA(uninstaller.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

}  // namespace

std::string OwnProgramPath() {
  char path[MAX_PATH + 1] = {};
  const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(path, length) : std::string();
}

bool StartFinishingCopy(const std::string& ownPath) {
  const std::string copy = CopyIntoPrivateFolder(ownPath);
  if (copy.empty()) {
    return false;
  }
  const std::string folder = CopyFolderOf(copy);
  HANDLE inheritable = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(), ::GetCurrentProcess(),
                         &inheritable, SYNCHRONIZE, TRUE, 0)) {
    RemoveFolderTree(folder);
    return false;
  }
  const UniqueHandle ownProcess(inheritable);
  std::string commandLine = "\"" + copy + "\" " + kFinishSwitch + " " +
                            std::to_string(reinterpret_cast<std::uintptr_t>(inheritable));
  // The copy works from its own folder, so that no process keeps the installation folder as
  // its current folder.
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!::CreateProcessA(copy.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        folder.c_str(), &startup, &started)) {
    RemoveFolderTree(folder);
    return false;
  }
  UniqueHandle process(started.hProcess);
  UniqueHandle thread(started.hThread);
  return true;
}

void FinishRemoval(std::uint64_t handle) {
  const std::string own = OwnProgramPath();
  {
    UniqueHandle first(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(handle)));
    ::WaitForSingleObject(first.get(), kFirstProcessWaitMs);
  }
  TailProblem problem = TailProblem::kNone;
  if (const std::optional<UninstallLog> log = UninstallLog::FromUninstaller(own, problem)) {
    const MacroFolders folders = MacroFoldersFor(*log);
    const std::string uninstaller = UninstallerPathIn(folders.bid);
    // Only a copy finishes: the uninstaller itself started this way would have itself
    // deleted at the next restart.
    if (IsSamePath(own, uninstaller)) {
      return;
    }
    // Only the uninstaller that this is a copy of goes.
    if (SameBytes(own, uninstaller)) {
      DeleteUninstaller(uninstaller);
    }
    for (const std::string& folder :
         InstallationFolders(*log, folders, ProtectedFolders::OfSystem(folders))) {
      RemoveFolderIfEmpty(folder);
    }
    // A running program cannot delete itself: the copy and then its folder go at the next
    // restart.
    ::MoveFileExA(own.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    if (const std::string folder = CopyFolderOf(own); !folder.empty()) {
      ::MoveFileExA(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
  }
}

std::vector<std::string> DeleteAtRestart(const std::vector<std::string>& paths) {
  std::vector<std::string> failed;
  for (const std::string& path : paths) {
    if (!::MoveFileExA(WithoutTrailingBackslash(path).c_str(), nullptr,
                       MOVEFILE_DELAY_UNTIL_REBOOT)) {
      failed.push_back(path);
    }
  }
  return failed;
}

void RemoveAtRestartInstead(const std::string& uninstaller,
                            const std::vector<std::string>& folders) {
  std::vector<std::string> paths = {uninstaller};
  paths.insert(paths.end(), folders.begin(), folders.end());
  DeleteAtRestart(paths);
}

}  // namespace vorlatch
