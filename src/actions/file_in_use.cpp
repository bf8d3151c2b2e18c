#include "actions/file_in_use.h"

#include <vector>

#include <restartmanager.h>

#include "actions/file_extraction.h"
#include "actions/uninstaller_interface.h"
#include "actions/uninstaller_tail.h"
#include "package/opening.h"
#include "package/process_state.h"
#include "package/unattended.h"
#include "script/keys.h"
#include "win/handles.h"
#include "win/library_loading.h"

namespace vorlatch {

namespace {

std::wstring Wide(const std::string& text) {
  const int length = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (length <= 0) {
    return {};
  }
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
  wide.resize(static_cast<std::size_t>(length - 1));
  return wide;
}

std::string Ansi(const wchar_t* text) {
  const int length = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 0) {
    return {};
  }
  std::string ansi(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text, -1, ansi.data(), length, nullptr, nullptr);
  ansi.resize(static_cast<std::size_t>(length - 1));
  return ansi;
}

template <typename Function>
Function ProcOf(HMODULE library, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

}  // namespace

bool IsHeldError(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_ACCESS_DENIED;
}

bool HeldByAnotherProgram(const std::string& path) {
  const UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return !file && IsHeldError(::GetLastError());
}

std::string ProgramsHolding(const std::string& path) {
  const UniqueModule library(LoadSystemLibrary("rstrtmgr.dll"));
  if (!library) {
    return {};
  }
  const auto start = ProcOf<DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*)>(library.get(), "RmStartSession");
  const auto add =
      ProcOf<DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT, LPCWSTR*)>(
          library.get(), "RmRegisterResources");
  const auto list = ProcOf<DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, DWORD*)>(
      library.get(), "RmGetList");
  const auto end = ProcOf<DWORD(WINAPI*)(DWORD)>(library.get(), "RmEndSession");
  DWORD session = 0;
  WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
  if (!start || !add || !list || !end || start(&session, 0, key) != ERROR_SUCCESS) {
    return {};
  }
  std::string names;
  const std::wstring wide = Wide(path);
  LPCWSTR files[] = {wide.c_str()};
  if (!wide.empty() && add(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS) {
    std::vector<RM_PROCESS_INFO> processes;
    UINT needed = 0;
    DWORD result = ERROR_MORE_DATA;
    // The list may grow between the calls; a few tries are enough.
    for (int attempt = 0; attempt < 3 && result == ERROR_MORE_DATA; ++attempt) {
      processes.resize(needed);
      UINT count = needed;
      DWORD reasons = 0;
      result =
          list(session, &needed, &count, processes.empty() ? nullptr : processes.data(), &reasons);
      processes.resize(result == ERROR_SUCCESS ? count : 0);
    }
    for (const RM_PROCESS_INFO& process : processes) {
      const std::string name = Ansi(process.strAppName);
      if (!name.empty()) {
        names += (names.empty() ? "" : ", ") + name;
      }
    }
  }
  end(session);
  return names;
}

std::string CantRemoveText(const std::string& target, bool held) {
  std::string text = kCantRemovePrefix;
  text.append(target);
  if (held) {
    const std::string programs = ProgramsHolding(target);
    text.append(programs.empty() ? "\r\nAnother program is using it."
                                 : "\r\nIt is in use by " + programs + ".");
  }
  return text;
}

bool ReplacesAtRestart(const IniSection& files) {
  const std::string rule = files.String(kInUse, "");
  return EqualNoCase(rule, "restart") || (Unattended() && !EqualNoCase(rule, "ask"));
}

bool ReplaceAtRestart(Bytes item, const std::string& target, int n, PieceObserver* observer) {
  const std::size_t last = target.find_last_of('\\');
  char fresh[MAX_PATH] = {};
  if (last == std::string::npos ||
      ::GetTempFileNameA(target.substr(0, last + 1).c_str(), "vln", 0, fresh) == 0) {
    return false;
  }
  if (InflateItemInto(item, fresh, false, observer) == 0 ||
      !::MoveFileExA(fresh, target.c_str(),
                     MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING)) {
    ::SetFileAttributesA(fresh, FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(fresh);
    return false;
  }
  g_state.restartNeeded = true;
  if (g_state.uninstallLogFrozen && n > 0) {
    const std::string log = UninstallLogTempPath();
    WriteIniString(kFile, NumberedName(kPending, n), std::string(fresh + last + 1), "", log);
    RefreezeUninstallLog(UninstallerPath(), log);
  }
  return true;
}

}  // namespace vorlatch
