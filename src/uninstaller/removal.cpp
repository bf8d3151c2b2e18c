#include "uninstaller/removal.h"

#include <algorithm>
#include <utility>

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "actions/com_registration.h"
#include "actions/logged_targets.h"
#include "actions/registry_entries.h"
#include "actions/shortcut_location.h"
#include "actions/shortcut_names.h"
#include "actions/shortcuts.h"
#include "actions/uninstall_log.h"
#include "actions/uninstaller_interface.h"
#include "package/temporary_folder.h"
#include "script/install_scope.h"
#include "script/keys.h"
#include "script/path_macros.h"
#include "script/path_text.h"
#include "script/script_access.h"
#include "win/ansi_names.h"
#include "win/handles.h"

namespace vorlatch {

namespace {

// Shell folders that stay whatever a log says.
constexpr int kProtectedShellFolders[] = {
    CSIDL_DESKTOPDIRECTORY,
    CSIDL_PERSONAL,
    CSIDL_PROFILE,
    CSIDL_APPDATA,
    CSIDL_LOCAL_APPDATA,
    CSIDL_PROGRAMS,
    CSIDL_STARTMENU,
    CSIDL_STARTUP,
    CSIDL_COMMON_PROGRAMS,
    CSIDL_COMMON_STARTMENU,
    CSIDL_COMMON_STARTUP,
    CSIDL_COMMON_DESKTOPDIRECTORY,
    CSIDL_COMMON_APPDATA,
    CSIDL_COMMON_DOCUMENTS,
    CSIDL_PROGRAM_FILES,
    CSIDL_PROGRAM_FILESX86,
    CSIDL_PROGRAM_FILES_COMMON,
    CSIDL_PROGRAM_FILES_COMMONX86,
    CSIDL_MYMUSIC,
    CSIDL_MYPICTURES,
    CSIDL_MYVIDEO,
    CSIDL_FAVORITES,
    CSIDL_SENDTO,
    CSIDL_TEMPLATES,
    CSIDL_FONTS,
    CSIDL_WINDOWS,
    CSIDL_SYSTEM,
};

constexpr DWORD kRegistryValueBufferSize = 1024;

bool IsLinkFolder(const std::string& folder) {
  const DWORD attributes = ::GetFileAttributesA(WithoutTrailingBackslash(folder).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// A folder between the macro folder and the file that is a link elsewhere would lead the
// path out of the folder the log names.
bool PassesThroughLink(const std::string& base, const std::string& path) {
  for (const std::string& folder : FoldersBetween(base, path)) {
    if (IsLinkFolder(folder)) {
      return true;
    }
  }
  return false;
}

std::size_t DepthOf(const std::string& folder) {
  std::size_t depth = 0;
  for (std::size_t at = ActiveCodePage().Find(folder, '\\'); at != std::string::npos;
       at = ActiveCodePage().Find(folder, '\\', at + 1)) {
    ++depth;
  }
  return depth;
}

void DeleteKeyIfEmpty(HKEY root, const std::string& subkey) {
  DWORD subkeys = 0;
  DWORD values = 0;
  {
    UniqueHkey key;
    if (::RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS ||
        ::RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                           &values, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      return;
    }
  }
  if (subkeys == 0 && values == 0) {
    ::RegDeleteKeyA(root, subkey.c_str());
  }
}

// The string value `name` of the key; none when it is missing or no string.
std::optional<std::string> StringValue(HKEY key, const char* name) {
  char buffer[kRegistryValueBufferSize + 1] = {};
  DWORD size = kRegistryValueBufferSize;
  DWORD type = 0;
  if (::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return std::nullopt;
  }
  return std::string(buffer);
}

// The file a shell link opens; none when the file is no readable link.
std::optional<std::string> LinkTarget(const std::string& link) {
  ComPtr<IShellLinkA> shellLink;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                shellLink.put_void()))) {
    return std::nullopt;
  }
  ComPtr<IPersistFile> file;
  if (FAILED(shellLink->QueryInterface(IID_IPersistFile, file.put_void()))) {
    return std::nullopt;
  }
  const std::wstring wide = WideOf(link, CP_ACP);
  if (wide.empty() || FAILED(file->Load(wide.c_str(), STGM_READ))) {
    return std::nullopt;
  }
  char target[MAX_PATH + 1] = {};
  if (FAILED(shellLink->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH)) || target[0] == '\0') {
    return std::nullopt;
  }
  return std::string(target);
}

bool IsBlankText(const std::string& text) {
  return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

std::optional<std::string> SmallFileText(const std::string& path) {
  UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart > 65536) {
    return std::nullopt;
  }
  std::string text(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!text.empty() &&
      (!::ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr) ||
       read != text.size())) {
    return std::nullopt;
  }
  return text;
}

bool IsFile(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

ProtectedFolders ProtectedFolders::OfSystem(const MacroFolders& folders) {
  std::vector<std::string> list = {folders.system, folders.temp, folders.programFiles};
  // The user's own program folder and the other named folders hold more than one product.
  list.insert(list.end(), std::begin(folders.named), std::end(folders.named));
  for (const int csidl : kProtectedShellFolders) {
    if (const std::optional<std::string> folder = SpecialFolderPath(csidl)) {
      list.push_back(*folder);
    }
  }
  // The folder of all profiles.
  if (const std::optional<std::string> profile = SpecialFolderPath(CSIDL_PROFILE)) {
    const std::string bare = WithoutTrailingBackslash(*profile);
    const std::size_t slash = ActiveCodePage().FindLast(bare, '\\');
    if (slash != std::string::npos) {
      list.push_back(bare.substr(0, slash + 1));
    }
  }
  list.push_back(SystemTemporaryDirectory());
  list.erase(std::remove(list.begin(), list.end(), std::string()), list.end());
  return ProtectedFolders(folders.windows, std::move(list));
}

ProtectedFolders::ProtectedFolders(std::string windows, std::vector<std::string> folders)
    : windows_(std::move(windows)), folders_(std::move(folders)) {}

bool ProtectedFolders::Contains(const std::string& folder) const {
  if (IsRootFolder(folder) || (!windows_.empty() && IsSameOrInside(folder, windows_))) {
    return true;
  }
  return std::any_of(folders_.begin(), folders_.end(),
                     [&](const std::string& kept) { return IsSamePath(folder, kept); });
}

MacroFolders MacroFoldersFor(const UninstallLog& log) {
  return MacroFoldersOfSystem(log.InstallationFolder());
}

std::string LoggedUninstallerPath(const UninstallLog& log) {
  return UninstallerPathIn(log.InstallationFolder());
}

namespace {

// A log that does not name the folders the installation made: the installation folder and
// the folders below the macro folders that its files pass through.
template <typename Add>
void AddFoldersOfOlderLog(const UninstallLog& log, const MacroFolders& folders, Add& add) {
  add(folders.bid);
  const int count = log.Count(kFile, kFile);
  for (int n = 1; n <= count; ++n) {
    const std::string entry = log.String(kFile, NumberedName(kFile, n));
    if (const std::optional<LoggedPlace> place = ExpandLoggedFile(entry, folders)) {
      for (const std::string& folder : FoldersBetween(place->base, place->path)) {
        add(folder);
      }
    }
  }
}

}  // namespace

std::vector<std::string> InstallationFolders(const UninstallLog& log, const MacroFolders& folders,
                                             const ProtectedFolders& protectedFolders) {
  std::vector<std::string> result;
  if (folders.bid.empty() || protectedFolders.Contains(folders.bid)) {
    return result;
  }
  auto add = [&](const std::string& folder) {
    if (protectedFolders.Contains(folder)) {
      return;
    }
    const bool known = std::any_of(result.begin(), result.end(),
                                   [&](const std::string& f) { return IsSamePath(f, folder); });
    if (!known) {
      result.push_back(folder);
    }
  };
  if (!log.String(kFolders, kNumber).empty()) {
    // The log names the folders that the installation made: only those, and only where they
    // can be: the installation folder, a folder above it, or a folder inside a macro folder.
    const int made = log.Count(kFolders, kNumber);
    for (int k = 1; k <= made; ++k) {
      const std::string folder =
          WithTrailingBackslash(log.String(kFolders, NumberedName(kFolder, k)));
      const std::string full = IsAbsolutePath(folder) ? FullPathName(folder) : std::string();
      if (full.empty() || !IsSamePath(full, folder)) {
        continue;
      }
      bool placed = IsSameOrInside(folders.bid, folder);
      for (const std::string& base :
           {folders.bid, folders.system, folders.temp, folders.programFiles}) {
        placed = placed || (!base.empty() && IsSameOrInside(folder, base));
      }
      if (placed) {
        add(folder);
      }
    }
  } else {
    AddFoldersOfOlderLog(log, folders, add);
  }
  std::stable_sort(result.begin(), result.end(), [](const std::string& a, const std::string& b) {
    return DepthOf(a) > DepthOf(b);
  });
  return result;
}

bool RemoveFolderIfEmpty(const std::string& folder) {
  // Removing a link to a folder would not remove a folder at all, but the link to its files.
  return !IsLinkFolder(folder) && ::RemoveDirectoryA(folder.c_str()) != 0;
}

std::optional<std::uint64_t> ChangeTimeOf(const std::string& path) {
  UniqueHandle file(::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  FILE_BASIC_INFO info{};
  if (!file || !::GetFileInformationByHandleEx(file.get(), FileBasicInfo, &info, sizeof info) ||
      info.ChangeTime.QuadPart <= 0) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(info.ChangeTime.QuadPart);
}

bool ChangedSince(const std::string& path, std::uint64_t since) {
  const std::optional<std::uint64_t> changed = ChangeTimeOf(path);
  return !changed || *changed >= since;
}

std::optional<std::uint64_t> EarliestTimeOf(const std::string& path) {
  UniqueHandle file(::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  FILE_BASIC_INFO info{};
  if (!file || !::GetFileInformationByHandleEx(file.get(), FileBasicInfo, &info, sizeof info)) {
    return std::nullopt;
  }
  std::optional<std::uint64_t> earliest;
  for (const LARGE_INTEGER time : {info.CreationTime, info.LastWriteTime, info.ChangeTime}) {
    if (time.QuadPart > 0) {
      const auto ticks = static_cast<std::uint64_t>(time.QuadPart);
      earliest = earliest ? std::min(*earliest, ticks) : ticks;
    }
  }
  // File times of the same moment may differ by the file system's resolution.
  constexpr std::uint64_t kToleranceTicks = 2ull * 10000000ull;
  if (earliest) {
    earliest = *earliest > kToleranceTicks ? *earliest - kToleranceTicks : 0;
  }
  return earliest;
}

Removal::Removal(const UninstallLog& log, MacroFolders folders, ProtectedFolders protectedFolders,
                 std::optional<std::uint64_t> madeSince, std::optional<std::uint64_t> installedAt)
    : log_(log),
      folders_(std::move(folders)),
      protected_(std::move(protectedFolders)),
      madeSince_(madeSince),
      installedAt_(installedAt),
      uninstaller_(UninstallerPathIn(folders_.bid)) {}

void Removal::Run() {
  // A terminated installation never reached the After stage that writes the INI keys.
  if (!madeSince_) {
    RemoveIniEntries();
  }
  RemoveFiles();
  RemoveUninstallEntry();
  RemoveQuickLaunchShortcut();
  RemoveDesktopShortcut();
  RemoveStartMenuGroup();
  RemoveRegistryEntries();
}

bool Removal::NeedsTimeOfInstallation(const LoggedPlace& file) const {
  // Inside an installation folder of its own, a file is the installation's by its place.
  if (IsSamePath(file.base, folders_.bid) && !protected_.Contains(folders_.bid)) {
    const std::size_t slash = ActiveCodePage().FindLast(file.path, '\\');
    return slash == std::string::npos || protected_.Contains(file.path.substr(0, slash + 1));
  }
  return true;
}

std::vector<LoggedPlace> Removal::LoggedFiles() const {
  std::vector<LoggedPlace> files;
  const int count = log_.Count(kFile, kFile);
  for (int n = 1; n <= count; ++n) {
    const std::string entry = log_.String(kFile, NumberedName(kFile, n));
    if (entry.empty()) {
      files.push_back(LoggedPlace{});
      continue;
    }
    files.push_back(ExpandLoggedFile(entry, folders_).value_or(LoggedPlace{}));
  }
  return files;
}

void Removal::DeleteFileOrKeep(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return;
  }
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    const DWORD writable = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    ::SetFileAttributesA(path.c_str(), writable == 0 ? FILE_ATTRIBUTE_NORMAL : writable);
  }
  if (::DeleteFileA(path.c_str())) {
    return;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    return;
  }
  ::SetFileAttributesA(path.c_str(), attributes);
  leftOvers_.push_back(path);
}

void Removal::RemoveIniEntries() {
  const int count = log_.Count(kIni, kNumber);
  for (int i = count; i >= 1; --i) {
    const std::string name = log_.String(kIni, NumberedName(kFile, i));
    const std::optional<LoggedPlace> folder =
        ExpandLoggedFolder(log_.String(kIni, NumberedName(kTarget, i)), folders_);
    if (name.empty() || !folder || !IsPlainRelativePath(name)) {
      continue;
    }
    const std::string path = folder->path + CollapseBackslashes(name);
    // The profile functions would make a file that is not there.
    if (!IsFile(path) || PassesThroughLink(folder->base, path)) {
      continue;
    }
    const std::string sectionList = NumberedName(kSection, i);
    const int sections = log_.Count(sectionList, kNumber);
    for (int j = sections; j >= 1; --j) {
      const std::string section = log_.String(sectionList, NumberedName(kSection, j));
      if (section.empty()) {
        continue;
      }
      const std::string keyList = NumberedName(kSection, i, j);
      const int keys = log_.Count(keyList, kNumber);
      for (int l = keys; l >= 1; --l) {
        const std::string key = log_.String(keyList, NumberedName(kKey, l));
        if (!key.empty()) {
          ::WritePrivateProfileStringA(section.c_str(), key.c_str(), nullptr, path.c_str());
        }
      }
      // A section left without keys goes with them.
      char probe[4] = {};
      if (keys > 0 &&
          ::GetPrivateProfileSectionA(section.c_str(), probe, sizeof probe, path.c_str()) == 0) {
        ::WritePrivateProfileStringA(section.c_str(), nullptr, nullptr, path.c_str());
      }
    }
    ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());
    // A file that held nothing but these entries was made by the installation.
    const std::optional<std::string> text = SmallFileText(path);
    if (text && IsBlankText(*text)) {
      DeleteFileOrKeep(path);
    }
  }
}

bool Removal::TargetIsOurs(int n) const {
  return IsTargetOurs(log_.Int(kFile, NumberedName(kExisted, n)) != 0,
                      log_.Int(kFile, NumberedName(kReplaced, n)) != 0);
}

bool Removal::RecordsExistingTargets() const {
  const int count = log_.Count(kFile, kFile);
  for (int n = 1; n <= count; ++n) {
    if (log_.Int(kFile, NumberedName(kExisted, n)) != 0) {
      return true;
    }
  }
  return false;
}

bool Removal::WasRegistered(int n, const std::string& path) const {
  if (log_.Int(kFile, kRegistrations) != 0) {
    return log_.Int(kFile, NumberedName(kRegistered, n)) != 0;
  }
  // An older installer's log does not say, as it offered every file. A copy of a system
  // component stays registered: its DllUnregisterServer would take away the system's own
  // registration, which the copy may have re-pointed but the system still needs.
  return !HasSystemFolderName(path);
}

void Removal::RemoveFiles() {
  // A log that marks pre-existing targets says for each file whether it is ours; the change
  // times of the files then tell nothing more (the log was frozen again after each
  // replacement, so the uninstaller's change time is no longer the start of the extraction).
  const bool recorded = RecordsExistingTargets();
  const std::vector<LoggedPlace> files = LoggedFiles();
  for (std::size_t index = 0; index < files.size(); ++index) {
    const LoggedPlace& file = files[index];
    // A new copy that waits beside its target for the next restart goes too; the pending
    // rename then finds nothing to move.
    const std::string pending =
        log_.String(kFile, NumberedName(kPending, static_cast<int>(index + 1)));
    if (!file.path.empty() && !pending.empty() &&
        pending.find_first_of("\\/:") == std::string::npos) {
      DeleteFileOrKeep(file.path.substr(0, file.path.find_last_of('\\') + 1) + pending);
    }
    if (file.path.empty() || IsSamePath(file.path, uninstaller_) ||
        PassesThroughLink(file.base, file.path) || !IsFile(file.path)) {
      continue;
    }
    // The user's own file, kept at the overwrite question, or one the extraction has not
    // reached yet.
    if (!TargetIsOurs(static_cast<int>(index + 1))) {
      continue;
    }
    // Outside its own folder only what this installation wrote: a log edited by hand, or one
    // whose installation folder names a system folder, must not reach the system's or another
    // program's files. A file whose time is not known stays.
    if (NeedsTimeOfInstallation(file)) {
      const std::optional<std::uint64_t> changed = ChangeTimeOf(file.path);
      if (!installedAt_ || !changed || *changed < *installedAt_) {
        continue;
      }
    }
    // Without that record, a rollback keeps the files that the installation had not reached
    // yet by their change times.
    if (madeSince_ && !recorded && !ChangedSince(file.path, *madeSince_)) {
      continue;
    }
    if (WasRegistered(static_cast<int>(index + 1), file.path)) {
      RegisterComServer(file.path, false);
    }
    DeleteFileOrKeep(file.path);
  }
}

void Removal::RemoveUninstallEntry() {
  const std::string product = log_.String(kGeneral, kProduct);
  if (product.empty()) {
    return;
  }
  const std::string keyPath = std::string(kUninstallKeyPrefix) + product;
  // A per-user installation wrote its entry under the user's own hive.
  const HKEY root = UninstallEntryRoot(EqualNoCase(log_.String(kGeneral, kScope), kScopeUser));
  {
    UniqueHkey key;
    if (::RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.put()) !=
        ERROR_SUCCESS) {
      return;
    }
    // The entry may by now belong to a later installation of the same product.
    // Installers wrote the path with quotes or, before, without them; older ones named a
    // destination typed with forward slashes as typed.
    std::optional<std::string> named = StringValue(key.get(), kUninstallStringValue);
    if (named) {
      std::replace(named->begin(), named->end(), '/', '\\');
    }
    const auto namesUs = [&](const std::string& path) {
      return EqualNoCase(*named, CutToUninstallValue(UninstallCommandLine(path))) ||
             EqualNoCase(*named, CutToUninstallValue(UnquotedUninstallCommandLine(path)));
    };
    if (!named || (!namesUs(LoggedUninstallerPath(log_)) && !namesUs(uninstaller_))) {
      return;
    }
    for (const char* value : kUninstallEntryValues) {
      ::RegDeleteValueA(key.get(), value);
    }
  }
  DeleteKeyIfEmpty(root, keyPath);
}

void Removal::RemoveShortcut(const std::string& link, const std::vector<std::string>& targets) {
  if (!IsFile(link)) {
    return;
  }
  const std::optional<std::string> target = LinkTarget(link);
  if (!target) {
    return;
  }
  std::string opened = *target;
  std::replace(opened.begin(), opened.end(), '/', '\\');
  opened = CollapseBackslashes(opened);
  const bool ours = std::any_of(targets.begin(), targets.end(), [&](const std::string& t) {
    return !t.empty() && IsSamePath(opened, CollapseBackslashes(t));
  });
  if (ours) {
    DeleteFileOrKeep(link);
  }
}

void Removal::RemoveNamedShortcut(std::string_view key, int folderId,
                                  const std::string& subfolder) {
  const std::string name = log_.String(kFile, key);
  if (name.empty() || !IsPlainRelativePath(name)) {
    return;
  }
  std::vector<std::string> targets;
  // The rule's name, and the names chosen for the files it may have been made for.
  std::vector<std::string> displayNames = {""};
  const std::vector<LoggedPlace> files = LoggedFiles();
  for (std::size_t index = 0; index < files.size(); ++index) {
    if (EqualNoCase(FileNameOf(files[index].path), FileNameOf(name))) {
      targets.push_back(files[index].path);
      displayNames.push_back(
          log_.String(kFile, NumberedName(kShortcutName, static_cast<int>(index) + 1)));
    }
  }
  for (const std::string& displayName : displayNames) {
    if (const auto link = ShortcutFilePath(folderId, subfolder, name, displayName)) {
      RemoveShortcut(*link, targets);
    }
  }
}

void Removal::RemoveQuickLaunchShortcut() {
  RemoveNamedShortcut(kQuickLaunch, kCsidlAppData, kQuickLaunchSubfolder);
}

void Removal::RemoveDesktopShortcut() {
  RemoveNamedShortcut(kDesktop, DesktopFolderId(log_.Int(kGeneral, kAllUsers) != 0), "");
}

void Removal::RemoveStartMenuGroup() {
  const std::string group =
      LoggedProgramGroup(log_.String(kGeneral, kCompany), log_.String(kGeneral, kProduct),
                         log_.Int(kGeneral, kInstance));
  const int folderId = ProgramsFolderId(log_.Int(kGeneral, kAllUsers) != 0);
  const std::optional<std::string> programs = SpecialFolderPath(folderId);
  if (group.empty() || !programs) {
    return;
  }
  const std::vector<LoggedPlace> files = LoggedFiles();
  for (std::size_t index = files.size(); index >= 1; --index) {
    const int n = static_cast<int>(index);
    const LoggedPlace& file = files[index - 1];
    if (file.path.empty() || log_.Int(kFile, NumberedName(kShortcut, n)) == 0) {
      continue;
    }
    if (const auto link = ShortcutFilePath(folderId, group, FileNameOf(file.path),
                                           log_.String(kFile, NumberedName(kShortcutName, n)))) {
      RemoveShortcut(*link, {file.path});
    }
  }
  if (const auto link = ShortcutFilePath(folderId, group, kUninstallLinkName,
                                         log_.String(kFile, kUninstallShortcutName))) {
    RemoveShortcut(*link, {LoggedUninstallerPath(log_), uninstaller_});
  }
  for (const std::string& level : GroupLevels(group)) {
    const std::string folder = WithTrailingBackslash(*programs) + level;
    if (!protected_.Contains(folder)) {
      RemoveFolderIfEmpty(folder);
    }
  }
}

void Removal::RemoveRegistryRecord(int k) {
  std::string subkey = log_.String(kRegistry, NumberedName(kKey, k));
  const HKEY root = ParseRootKey(subkey);
  // The installer logs levels joined by single backslashes; anything else is not its record.
  if (root == nullptr || subkey.empty() || subkey.front() == '\\' ||
      ActiveCodePage().EndsWith(subkey, '\\') || CollapseBackslashes(subkey) != subkey) {
    return;
  }
  const std::string section = NumberedName(kKey, k);
  const int values = log_.Count(section, kNumber);
  if (values > 0) {
    UniqueHkey key;
    if (::RegOpenKeyExA(root, subkey.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.put()) ==
        ERROR_SUCCESS) {
      for (int m = values; m >= 1; --m) {
        // Values that existed before are logged with Keep: the installer did not make them.
        if (log_.Int(section, NumberedName(kKeep, m)) != 0) {
          continue;
        }
        const std::string name = log_.String(section, NumberedName(kName, m), kDefaultValueName);
        const std::string valueName = EqualNoCase(name, kDefaultValueName) ? std::string() : name;
        ::RegDeleteValueA(key.get(), valueName.c_str());
      }
    }
  }
  if (log_.Int(kRegistry, NumberedName(kKeep, k)) == 0) {
    DeleteKeyIfEmpty(root, subkey);
  }
}

void Removal::RemoveRegistryEntries() {
  for (int k = log_.Count(kRegistry, kNumber); k >= 1; --k) {
    RemoveRegistryRecord(k);
  }
}

}  // namespace vorlatch
