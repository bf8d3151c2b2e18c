#include "actions/uninstall_log.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <optional>

#include <windows.h>

#include "actions/installed_targets.h"
#include "actions/overwrite_rules.h"
#include "actions/registry_entries.h"
#include "actions/uninstaller_tail.h"
#include "actions/uninstaller_interface.h"
#include "package/item_extraction.h"
#include "package/opening.h"
#include "package/process_state.h"
#include "package/unattended.h"
#include "script/install_scope.h"
#include "script/keys.h"
#include "script/path_macros.h"
#include "script/path_text.h"
#include "script/script_access.h"
#include "ui/progress_dialog.h"
#include "win/ansi_names.h"
#include "win/code_page.h"
#include "win/handles.h"

namespace vorlatch {

namespace {

// Integers and strings of the log, written with the log's own defaults (0 and empty) so that
// zero numbers and empty strings leave no line.
void LogString(std::string_view section, const std::string& key, const std::string& value,
               const std::string& log) {
  WriteIniString(section, key, value, "", log);
}

void LogInt(std::string_view section, const std::string& key, int value, const std::string& log) {
  WriteIniInt(section, key, value, 0, log);
}

// Makes the system write what it still holds of the log.
void FlushLog(const std::string& log) {
  ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, log.c_str());
}

// The place of file n as the log names it: the target unexpanded ("[BID]" when there is
// none), followed by the name. A target that ends in a macro is used as it stands.
std::string LoggedFilePath(const std::string& target, const std::string& name) {
  std::string place = target.empty() ? std::string(kMacroBid) : target;
  if (!ActiveCodePage().EndsWith(place, ']')) {
    place = WithTrailingBackslash(place);
  }
  return place + name;
}

void LogGeneral(const std::string& log) {
  LogString(kGeneral, kProduct, LoggedProductName(), log);
  // The Start Menu step raises it later; here it is still 0 and leaves no line.
  LogInt(kGeneral, kInstance, g_state.instanceNumber, log);
  LogString(kGeneral, kCompany, ReadScriptString(kGeneral, kCompany, ""), log);
  LogString(kGeneral, kBid, g_state.destinationDirectory, log);
  // Where the uninstaller finds the entry and the shortcuts.
  LogString(kGeneral, kScope, UserScope() ? kScopeUser : "", log);
  LogInt(kGeneral, kAllUsers, CommonShortcutFolders() ? 1 : 0, log);
}

// The lines of an entry as WriteIniString leaves them: none for a value equal to the log's
// default (0 or empty, as WriteIniString compares them).
void AddLogLine(std::vector<std::string>& lines, const std::string& key, const std::string& value,
                std::string_view defaultValue) {
  if (!EqualNoCase(value, defaultValue)) {
    lines.push_back(key + '=' + value);
  }
}

// The whole section in one write, entry for entry and in the order in which key-by-key writes
// would leave it: each of those rewrites the log, which made large packages slow. The folders
// that the extraction will make for the targets are added to `madeFolders`.
void LogFiles(const std::string& log, const EarlierInstallation& earlier,
              std::vector<std::string>& madeFolders) {
  const IniSection files(kFile);
  const int count = files.Int(kFile, 0);
  const std::vector<std::string> earlierPaths = earlier.FilePaths();
  std::vector<std::string> lines;
  // Registered<n> follow as the extraction registers: none means none, not "as before".
  AddLogLine(lines, kRegistrations, "1", "0");
  bool anyItem = false;
  std::vector<std::string> targets;
  std::string lastFolder;
  bool folderMissing = false;
  for (int n = 1; n <= count; ++n) {
    const std::string name = files.String(NumberedName(kFile, n), "");
    if (name.empty()) {
      continue;
    }
    anyItem = true;
    const std::string target = files.String(NumberedName(kTarget, n), "");
    AddLogLine(lines, NumberedName(kFile, n), LoggedFilePath(target, name), "");
    AddLogLine(lines, NumberedName(kShortcut, n),
               IntToText(files.Int(NumberedName(kShortcut, n), 0)), "0");
    // The path the extraction will write; what is there now belongs to someone else.
    const std::string path = CollapseBackslashes(ExpandTargetValue(target) + name);
    const std::size_t slash = ActiveCodePage().FindLast(path, '\\');
    if (slash == std::string::npos) {
      folderMissing = false;
    } else if (path.compare(0, slash + 1, lastFolder) != 0) {
      lastFolder = path.substr(0, slash + 1);
      const std::string full = FullPathName(lastFolder);
      const std::vector<std::string> missing = MissingFolders(full.empty() ? lastFolder : full);
      folderMissing = !missing.empty();
      madeFolders.insert(madeFolders.end(), missing.begin(), missing.end());
    }
    // No file lies in a folder that is not there; looking costs a scan of the parent under Wine.
    const bool existed = !folderMissing && ExistsAndIsNotOurs(path, earlierPaths);
    AddLogLine(lines, NumberedName(kExisted, n), existed ? "1" : "0", "0");
    AddLogLine(lines, NumberedName(kTime, n), LoggedTimeOfFile(files, n), "");
    if (!earlier.files.empty()) {
      const std::string full = FullPathName(path);
      targets.push_back(full.empty() ? path : full);
    }
  }
  // The earlier installation's own files that this one does not write: still its own.
  int logged = count;
  for (const EarlierFile& file : earlier.files) {
    const bool rewritten = std::any_of(targets.begin(), targets.end(), [&](const std::string& t) {
      return IsSamePath(t, file.path);
    });
    if (rewritten || logged == INT_MAX ||
        ::GetFileAttributesA(file.path.c_str()) == INVALID_FILE_ATTRIBUTES) {
      continue;
    }
    ++logged;
    anyItem = true;
    AddLogLine(lines, NumberedName(kFile, logged), file.entry, "");
    AddLogLine(lines, NumberedName(kShortcut, logged), IntToText(file.shortcut), "0");
    AddLogLine(lines, NumberedName(kShortcutName, logged), file.shortcutName, "");
    AddLogLine(lines, NumberedName(kRegistered, logged), file.registered ? "1" : "0", "0");
    AddLogLine(lines, NumberedName(kTime, logged), file.time, "");
  }
  // The count comes first, as key-by-key writes would have left it.
  if (logged != 0) {
    lines.insert(lines.begin(), std::string(kFile) + '=' + IntToText(logged));
  }
  // Rewritten with every item, so they end the section, once there is an item.
  if (anyItem) {
    AddLogLine(lines, kDesktop, files.String(kDesktop, ""), "");
    AddLogLine(lines, kQuickLaunch, files.String(kQuickLaunch, ""), "");
  }
  WriteIniSection(kFile, lines, log);
}

// The sections and keys of INI item i that the After stage writes, so that the uninstaller
// finds them.
void LogIniSections(int i, const std::string& log) {
  const std::string outer = NumberedName(kSection, i);
  const int sections = ReadScriptInt(outer, kNumber, 0);
  if (sections == 0) {
    return;
  }
  LogInt(outer, kNumber, sections, log);
  for (int j = 1; j <= sections; ++j) {
    LogString(outer, NumberedName(kSection, j),
              ReadScriptString(outer, NumberedName(kSection, j), ""), log);
    const std::string inner = NumberedName(kSection, i, j);
    const int keys = ReadScriptInt(inner, kNumber, 0);
    if (keys == 0) {
      continue;
    }
    LogInt(inner, kNumber, keys, log);
    for (int l = 1; l <= keys; ++l) {
      const std::string key = ReadScriptString(inner, NumberedName(kKey, l), "");
      if (!key.empty()) {
        LogString(inner, NumberedName(kKey, l), key, log);
      }
    }
  }
}

bool SameIniEntry(const EarlierIniEntry& a, const EarlierIniEntry& b) {
  return EqualNoCase(a.file, b.file) && EqualNoCase(a.target, b.target) &&
         EqualNoCase(a.section, b.section) && EqualNoCase(a.key, b.key);
}

// The entries of INI item i of the script, as the log names them.
void AddScriptIniEntries(int i, const EarlierIniEntry& item, std::vector<EarlierIniEntry>& out) {
  const std::string outer = NumberedName(kSection, i);
  const int sections = ReadScriptInt(outer, kNumber, 0);
  for (int j = 1; j <= sections; ++j) {
    EarlierIniEntry entry = item;
    entry.section = ReadScriptString(outer, NumberedName(kSection, j), "");
    const std::string inner = NumberedName(kSection, i, j);
    const int keys = ReadScriptInt(inner, kNumber, 0);
    for (int l = 1; l <= keys; ++l) {
      entry.key = ReadScriptString(inner, NumberedName(kKey, l), "");
      out.push_back(entry);
    }
  }
}

// The earlier installation's INI entries that this one does not write, as items of their own
// after the script's: one item per file, one section per INI section, as the uninstaller
// reads the script's.
int LogEarlierIniEntries(int count, const std::vector<EarlierIniEntry>& written,
                         const EarlierInstallation& earlier, const std::string& log) {
  std::vector<EarlierIniEntry> left;
  for (const EarlierIniEntry& entry : earlier.iniEntries) {
    const auto same = [&](const EarlierIniEntry& e) { return SameIniEntry(e, entry); };
    if (std::none_of(written.begin(), written.end(), same) &&
        std::none_of(left.begin(), left.end(), same)) {
      left.push_back(entry);
    }
  }
  std::vector<bool> done(left.size(), false);
  for (std::size_t first = 0; first < left.size() && count < INT_MAX; ++first) {
    if (done[first]) {
      continue;
    }
    const std::string outer = NumberedName(kSection, ++count);
    LogString(kIni, NumberedName(kFile, count), left[first].file, log);
    LogString(kIni, NumberedName(kTarget, count), left[first].target, log);
    int sections = 0;
    for (std::size_t s = first; s < left.size(); ++s) {
      if (done[s] || !EqualNoCase(left[s].file, left[first].file) ||
          !EqualNoCase(left[s].target, left[first].target)) {
        continue;
      }
      ++sections;
      LogString(outer, NumberedName(kSection, sections), left[s].section, log);
      const std::string inner = NumberedName(kSection, count, sections);
      int keys = 0;
      for (std::size_t k = s; k < left.size(); ++k) {
        if (!done[k] &&
            SameIniEntry({left[s].file, left[s].target, left[s].section, left[k].key}, left[k])) {
          done[k] = true;
          LogString(inner, NumberedName(kKey, ++keys), left[k].key, log);
        }
      }
      LogInt(inner, kNumber, keys, log);
    }
    LogInt(outer, kNumber, sections, log);
  }
  return count;
}

void LogIniEntries(const std::string& log, const EarlierInstallation& earlier) {
  const int count = ReadScriptInt(kIni, kNumber, 0);
  LogInt(kIni, kNumber, count, log);
  std::vector<EarlierIniEntry> written;
  for (int i = 1; i <= count; ++i) {
    const std::string file = ReadScriptString(kIni, NumberedName(kFile, i), "");
    LogString(kIni, NumberedName(kFile, i), file, log);
    if (file.empty()) {
      continue;
    }
    const std::string target = ReadScriptString(kIni, NumberedName(kTarget, i), "");
    const std::string logged = target.empty() ? std::string(kMacroBid) : target;
    LogString(kIni, NumberedName(kTarget, i), logged, log);
    LogIniSections(i, log);
    if (!earlier.iniEntries.empty()) {
      AddScriptIniEntries(i, {file, logged, "", ""}, written);
    }
  }
  if (!earlier.iniEntries.empty()) {
    LogInt(kIni, kNumber, LogEarlierIniEntries(std::max(count, 0), written, earlier, log), log);
  }
}

// [Folders]: what this installation makes and what the earlier one made, Number always, so
// that the uninstaller can tell this log from one that does not record them.
void LogFolders(const std::string& log, std::vector<std::string> made,
                const EarlierInstallation& earlier) {
  made.insert(made.begin(), g_state.madeFolders.begin(), g_state.madeFolders.end());
  made.insert(made.end(), earlier.folders.begin(), earlier.folders.end());
  std::vector<std::string> folders;
  for (const std::string& folder : made) {
    const std::string full = WithTrailingBackslash(folder);
    if (std::none_of(folders.begin(), folders.end(),
                     [&](const std::string& f) { return IsSamePath(f, full); })) {
      folders.push_back(full);
    }
  }
  std::vector<std::string> lines = {std::string(kNumber) + '=' +
                                    IntToText(static_cast<int>(folders.size()))};
  for (std::size_t k = 0; k < folders.size(); ++k) {
    lines.push_back(NumberedName(kFolder, static_cast<int>(k + 1)) + '=' + folders[k]);
  }
  WriteIniSection(kFolders, lines, log);
}

bool SetStringValue(HKEY key, const char* name, const std::string& value) {
  const std::string stored = CutToUninstallValue(value);
  return ::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(stored.c_str()),
                          static_cast<DWORD>(stored.size() + 1)) == ERROR_SUCCESS;
}

// The values that are new to the entry are never cut: a cut path or command is a wrong one.
bool SetWholeString(HKEY key, const char* name, const std::string& value) {
  return ::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

bool SetDword(HKEY key, const char* name, DWORD value) {
  return ::RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value) == ERROR_SUCCESS;
}

bool IsProgramName(const std::string& name) {
  return name.size() > 4 && EqualNoCase(std::string_view(name).substr(name.size() - 4), ".exe");
}

// The icon the list of installed programs shows: the installed program that the Start Menu
// opens, else the uninstaller (which carries the installer's icon).
std::string DisplayIconPath() {
  const IniSection files(kFile);
  const int count = files.Int(kFile, 0);
  for (int n = 1; n <= count; ++n) {
    const std::string name = files.String(NumberedName(kFile, n), "");
    if (files.Int(NumberedName(kShortcut, n), 0) != 0 && IsProgramName(name)) {
      return CollapseBackslashes(ExpandTargetValue(files.String(NumberedName(kTarget, n), "")) +
                                 name);
    }
  }
  return UninstallerPath();
}

}  // namespace

int ExtractUninstaller() {
  if (ReadScriptInt(kFile, kUninstall, 0) == 0) {
    return 1;
  }
  PumpMessages();
  const int position = ReadScriptInt(kFile, kUninstallPos, 0);
  const int length = ReadScriptInt(kFile, kUninstallZip, 0);
  if (position == 0 || length == 0) {
    return 0;
  }
  const std::string uninstaller = UninstallerPath();
  // An earlier read-only Uninstall.exe could not be replaced, and one extracted read-only
  // (packed from a read-only source) could not take its log.
  const DWORD earlier = ::GetFileAttributesA(uninstaller.c_str());
  ClearReadOnly(uninstaller);
  if (ExtractPackedItem(static_cast<std::uint32_t>(position), static_cast<std::uint32_t>(length),
                        uninstaller, false) == 0) {
    if (earlier != INVALID_FILE_ATTRIBUTES) {
      ::SetFileAttributesA(uninstaller.c_str(), earlier);
    }
    return 0;
  }
  ClearReadOnly(uninstaller);
  // The file carries the time of installation rather than the time it was packed.
  UniqueHandle file(::CreateFileA(uninstaller.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file) {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    ::SetFileTime(file.get(), &now, &now, &now);
  }
  return 1;
}

std::string LoggedProductName() {
  const std::string product = ReadScriptString(kGeneral, kProduct, "");
  return product.empty() ? FileNameOf(ReadScriptString(kGeneral, kPackage, "")) : product;
}

int WriteUninstallLog(const EarlierInstallation& earlier) {
  const std::string log = UninstallLogTempPath();
  ::DeleteFileA(log.c_str());
  ApplyRegistryEntries(&earlier.registry);
  LogGeneral(log);
  std::vector<std::string> madeFolders;
  LogFiles(log, earlier, madeFolders);
  LogIniEntries(log, earlier);
  LogFolders(log, std::move(madeFolders), earlier);
  FlushLog(log);
  return 1;
}

std::string UninstallDisplayName(const std::string& company, const std::string& product) {
  if (company.empty()) {
    return product;
  }
  std::string name = company;
  name.append(" ").append(product);
  return name;
}

int RegisterUninstaller() {
  const std::string product = ReadScriptString(kGeneral, kProduct, "");
  if (product.empty()) {
    return 0;
  }
  const std::string displayName =
      UninstallDisplayName(ReadScriptString(kGeneral, kCompany, ""), product);
  std::string keyPath = kUninstallKeyPrefix;
  keyPath.append(product);
  UniqueHkey key;
  DWORD disposition = 0;
  const bool user = UserScope();
  if (::RegCreateKeyExA(UninstallEntryRoot(user), keyPath.c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.put(),
                        &disposition) != ERROR_SUCCESS) {
    RecordStep(std::string("Uninstall entry ") + UninstallEntryRootName(user) + "\\" + keyPath +
               ": not written");
    return 0;
  }
  if (!SetStringValue(key.get(), kDisplayNameValue, displayName) ||
      !SetStringValue(key.get(), kUninstallStringValue, UninstallCommandLine(UninstallerPath()))) {
    RecordStep(std::string("Uninstall entry ") + UninstallEntryRootName(user) + "\\" + keyPath +
               ": not written");
    return 0;
  }
  // The entry works without these; a failure is recorded and nothing more.
  bool complete = SetWholeString(key.get(), kQuietUninstallStringValue,
                                 QuietUninstallCommandLine(UninstallerPath())) &&
                  SetWholeString(key.get(), kInstallLocationValue,
                                 WithTrailingBackslash(g_state.destinationDirectory)) &&
                  SetWholeString(key.get(), kDisplayIconValue, DisplayIconPath()) &&
                  SetDword(key.get(), kNoModifyValue, 1) && SetDword(key.get(), kNoRepairValue, 1);
  const std::string company = ReadScriptString(kGeneral, kCompany, "");
  if (!company.empty()) {
    complete = SetWholeString(key.get(), kPublisherValue, company) && complete;
  }
  const std::string version = ReadScriptString(kGeneral, kVersion, "");
  if (!version.empty()) {
    complete = SetWholeString(key.get(), kDisplayVersionValue, version) && complete;
  }
  RecordStep(std::string("Uninstall entry ") + UninstallEntryRootName(user) + "\\" + keyPath +
             (complete ? ": written" : ": written in part"));
  return 1;
}

void RecordInstalledSize() {
  const std::string product = ReadScriptString(kGeneral, kProduct, "");
  if (product.empty()) {
    return;
  }
  const std::string keyPath = std::string(kUninstallKeyPrefix) + product;
  UniqueHkey key;
  if (::RegOpenKeyExA(UninstallEntryRoot(UserScope()), keyPath.c_str(), 0, KEY_SET_VALUE,
                      key.put()) != ERROR_SUCCESS) {
    return;
  }
  std::uint64_t bytes = g_state.installedBytes;
  WIN32_FILE_ATTRIBUTE_DATA uninstaller{};
  if (::GetFileAttributesExA(UninstallerPath().c_str(), GetFileExInfoStandard, &uninstaller)) {
    bytes +=
        (static_cast<std::uint64_t>(uninstaller.nFileSizeHigh) << 32) | uninstaller.nFileSizeLow;
  }
  const std::uint64_t kilobytes = (bytes + 1023) / 1024;
  SetDword(key.get(), kEstimatedSizeValue,
           static_cast<DWORD>(std::min<std::uint64_t>(kilobytes, 0xFFFFFFFFu)));
}

}  // namespace vorlatch
