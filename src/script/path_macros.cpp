#include "script/path_macros.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <cstring>
#include <vector>

#include "package/opening.h"
#include "package/process_state.h"
#include "package/run_folder.h"
#include "script/keys.h"
#include "script/script_access.h"
#include "win/handles.h"

namespace vorlatch {

namespace {

using SpecialFolderPathFunction = BOOL(WINAPI*)(HWND, LPSTR, int, BOOL);

// Shell32.dll and its SHGetSpecialFolderPathA, looked up once and kept for the whole run:
// the module is deliberately never freed, so it is not held by a UniqueModule.
struct ShellFolderLookup {
  bool tried = false;
  HMODULE shell32 = nullptr;
  SpecialFolderPathFunction specialFolderPath = nullptr;
};

ShellFolderLookup& FolderLookup() {
  static ShellFolderLookup lookup;
  if (!lookup.tried) {
    lookup.tried = true;
    lookup.shell32 = LoadLibraryA("Shell32.dll");
    if (lookup.shell32 != nullptr) {
      const std::string name = std::string("SHGetSpecialFolderPath") + 'A';
      lookup.specialFolderPath = reinterpret_cast<SpecialFolderPathFunction>(
          reinterpret_cast<void*>(GetProcAddress(lookup.shell32, name.c_str())));
    }
  }
  return lookup;
}

// A directory that a Get...DirectoryA function reports; sized by a first call with size 0.
template <typename Query>
std::string QueriedDirectory(Query query) {
  const UINT needed = query(nullptr, 0);
  if (needed == 0) {
    return std::string();
  }
  std::vector<char> buffer(static_cast<std::size_t>(needed) + 1, '\0');
  const UINT length = query(buffer.data(), static_cast<UINT>(buffer.size()));
  if (length == 0 || length >= buffer.size()) {
    return std::string();
  }
  return WithTrailingBackslash(std::string(buffer.data(), length));
}

// Upper case as the ANSI code page defines it, multibyte characters included.
std::string ToUpperAnsi(std::string text) {
  if (!text.empty()) {
    CharUpperBuffA(text.data(), static_cast<DWORD>(text.size()));
  }
  return text;
}

LocalTime ToLocalTime(const SYSTEMTIME& time) {
  LocalTime local;
  local.year = time.wYear;
  local.month = time.wMonth;
  local.day = time.wDay;
  local.hour = time.wHour;
  local.minute = time.wMinute;
  local.second = time.wSecond;
  return local;
}

}  // namespace

std::string CurrentDirectory() {
  return QueriedDirectory([](char* buffer, UINT size) {
    return static_cast<UINT>(GetCurrentDirectoryA(size, buffer));
  });
}

std::string WindowsDirectory() {
  return QueriedDirectory(
      [](char* buffer, UINT size) { return GetWindowsDirectoryA(buffer, size); });
}

std::string SystemDirectory() {
  return QueriedDirectory(
      [](char* buffer, UINT size) { return GetSystemDirectoryA(buffer, size); });
}

std::string SystemTemporaryDirectory() {
  char buffer[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathA(sizeof buffer, buffer);
  return length > 0 && length < sizeof buffer ? WithTrailingBackslash(std::string(buffer, length))
                                              : std::string();
}

std::string ProgramFilesDirectory() {
  return ProgramFilesDirectoryFrom(WindowsDirectory(), SpecialFolderPath(kCsidlProgramFiles));
}

bool GetSpecialFolder(HWND owner, char* buffer, int csidl, bool create) {
  if (buffer == nullptr) {
    return false;
  }
  const ShellFolderLookup& lookup = FolderLookup();
  if (lookup.specialFolderPath != nullptr) {
    return lookup.specialFolderPath(owner, buffer, csidl, create ? TRUE : FALSE) != FALSE;
  }
  return GetSpecialFolderFromItemList(buffer, csidl);
}

bool GetSpecialFolderFromItemList(char* buffer, int csidl) {
  if (buffer == nullptr) {
    return false;
  }
  char work[kSpecialFolderBufferSize] = {};
  ComPtr<IShellLinkA> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                              link.put_void()))) {
    return false;
  }
  ComPtr<IPersistFile> persistFile;
  if (FAILED(link->QueryInterface(IID_IPersistFile, persistFile.put_void()))) {
    return false;
  }
  if (FAILED(link->GetPath(work, kSpecialFolderBufferSize, nullptr, 0))) {
    return false;
  }
  LPITEMIDLIST itemList = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &itemList)) || itemList == nullptr) {
    return false;
  }
  const BOOL found = SHGetPathFromIDListA(itemList, work);
  // The item list belongs to us once the shell has handed it over.
  CoTaskMemFree(itemList);
  if (found == FALSE) {
    return false;
  }
  work[kSpecialFolderBufferSize - 1] = '\0';
  std::memcpy(buffer, work, std::strlen(work) + 1);
  return true;
}

std::optional<std::string> SpecialFolderPath(int csidl, bool create) {
  char buffer[kSpecialFolderBufferSize] = {};
  if (!GetSpecialFolder(nullptr, buffer, csidl, create)) {
    return std::nullopt;
  }
  buffer[kSpecialFolderBufferSize - 1] = '\0';
  return std::string(buffer);
}

std::string NamedFolder(int index) {
  if (index < 0 || index >= kNamedFolderMacroCount) {
    return std::string();
  }
  const NamedFolderMacro& named = kNamedFolderMacros[index];
  const std::optional<std::string> folder = SpecialFolderPath(named.csidl);
  if (!folder || folder->empty()) {
    return std::string();
  }
  return WithTrailingBackslash(WithTrailingBackslash(*folder) + named.below);
}

std::string ExpandDestinationText(const std::string& text) {
  std::string expanded = text;
  if (text.find('%') != std::string::npos) {
    const DWORD needed = ::ExpandEnvironmentStringsA(text.c_str(), nullptr, 0);
    if (needed != 0) {
      std::vector<char> buffer(needed + 1, '\0');
      const DWORD length =
          ::ExpandEnvironmentStringsA(text.c_str(), buffer.data(), static_cast<DWORD>(needed));
      if (length != 0 && length <= needed) {
        expanded = buffer.data();
      }
    }
  }
  const auto folderOf = [](const std::string& macro, int named) {
    if (named >= 0) {
      return NamedFolder(named);
    }
    if (macro == kMacroWindows) {
      return WindowsDirectory();
    }
    if (macro == kMacroSystem) {
      return SystemDirectory();
    }
    if (macro == kMacroTemp) {
      return UserTemporaryDirectory();
    }
    return ProgramFilesDirectory();
  };
  std::vector<std::pair<std::string, int>> macros = {
      {kMacroWindows, -1}, {kMacroSystem, -1}, {kMacroTemp, -1}, {kMacroProgramFiles, -1}};
  for (int i = 0; i < kNamedFolderMacroCount; ++i) {
    macros.emplace_back(kNamedFolderMacros[i].macro, i);
  }
  const std::string upper = ToUpperAnsi(expanded);
  for (const auto& [macro, named] : macros) {
    if (RestAfterLeadingMacro(upper, macro)) {
      const std::string folder = folderOf(macro, named);
      if (folder.empty()) {
        // Left as it stands, it is refused as a path that is not full.
        return expanded;
      }
      // One separator between the folder and what follows, however it was typed.
      const std::size_t start = expanded.find_first_not_of('\\', macro.size());
      return folder + (start == std::string::npos ? std::string() : expanded.substr(start));
    }
  }
  return expanded;
}

std::string ExpandTarget(const std::string& section, int n) {
  return ExpandTargetValue(ReadScriptString(section, NumberedName(kTarget, n), ""));
}

std::string ExpandTargetValue(const std::string& value) {
  const std::string upper = ToUpperAnsi(value);
  // The folders are looked up only for the macro that matches, in this order.
  struct LeadingMacro {
    const char* macro;
    std::string (*folder)();
  };
  static const LeadingMacro kLeadingMacros[] = {
      {kMacroWindows, &WindowsDirectory},
      {kMacroSystem, &SystemDirectory},
      {kMacroTemp, &UserTemporaryDirectory},
      {kMacroBid, [] { return g_state.destinationDirectory; }},
      {kMacroProgramFiles, &ProgramFilesDirectory},
  };
  for (const LeadingMacro& leading : kLeadingMacros) {
    if (const std::optional<std::string> rest = RestAfterLeadingMacro(upper, leading.macro)) {
      return WithTrailingBackslash(WithTrailingBackslash(leading.folder()) + *rest);
    }
  }
  for (int i = 0; i < kNamedFolderMacroCount; ++i) {
    if (const std::optional<std::string> rest =
            RestAfterLeadingMacro(upper, kNamedFolderMacros[i].macro)) {
      const std::string folder = NamedFolder(i);
      // A folder the shell does not know must not turn into one below the current folder.
      return WithTrailingBackslash(folder.empty() ? g_state.destinationDirectory : folder + *rest);
    }
  }
  return WithTrailingBackslash(g_state.destinationDirectory);
}

std::string ExpandValueMacro(const std::string& value, const std::optional<SYSTEMTIME>& now) {
  if (EqualsIgnoringCase(value, kMacroBid)) {
    return g_state.destinationDirectory;
  }
  if (EqualsIgnoringCase(value, kMacroSystem)) {
    return SystemDirectory();
  }
  if (EqualsIgnoringCase(value, kMacroTemp)) {
    return UserTemporaryDirectory();
  }
  if (EqualsIgnoringCase(value, kMacroWindows)) {
    return WindowsDirectory();
  }
  if (EqualsIgnoringCase(value, kMacroProgramFiles)) {
    return ProgramFilesDirectory();
  }
  for (int i = 0; i < kNamedFolderMacroCount; ++i) {
    if (EqualsIgnoringCase(value, kNamedFolderMacros[i].macro)) {
      return NamedFolder(i);
    }
  }
  if (EqualsIgnoringCase(value, kMacroDate)) {
    SYSTEMTIME time;
    if (now) {
      time = *now;
    } else {
      GetLocalTime(&time);
    }
    return FormatOleDate(OleDateFromLocalTime(ToLocalTime(time)));
  }
  return value;
}

}  // namespace vorlatch
