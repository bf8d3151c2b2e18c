#include "actions/installed_targets.h"

#include <algorithm>
#include <optional>

#include <windows.h>

#include "actions/com_registration.h"
#include "actions/logged_targets.h"
#include "actions/uninstaller_interface.h"
#include "actions/uninstaller_tail.h"
#include "package/opening.h"
#include "package/process_state.h"
#include "script/keys.h"
#include "script/path_macros.h"
#include "script/path_text.h"
#include "script/script_access.h"
#include "win/ansi_names.h"
#include "win/handles.h"

namespace vorlatch {

namespace {

// A log text in a file of its own, for the profile functions; deleted with the object.
class LogCopy {
 public:
  explicit LogCopy(const std::string& text) {
    std::string folder = TemporaryDirectory();
    if (folder.empty()) {
      folder = SystemTemporaryDirectory();
    }
    path_ = WriteUniqueFile(folder, "vlo", text);
  }
  LogCopy(const LogCopy&) = delete;
  LogCopy& operator=(const LogCopy&) = delete;
  ~LogCopy() {
    if (!path_.empty()) {
      ::DeleteFileA(path_.c_str());
    }
  }

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

namespace {

bool IsFolder(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void AddFolder(std::vector<std::string>& folders, const std::string& folder) {
  const std::string full = WithTrailingBackslash(folder);
  if (!full.empty() && std::none_of(folders.begin(), folders.end(),
                                    [&](const std::string& f) { return IsSamePath(f, full); })) {
    folders.push_back(full);
  }
}

std::vector<EarlierIniEntry> ReadIniEntries(const std::string& log, int lines) {
  std::vector<EarlierIniEntry> entries;
  const IniSection ini(kIni, log);
  const int files = std::clamp(ini.Int(kNumber, 0), 0, lines);
  // Damaged counts at every level must not multiply: a log names no more sections and keys
  // than it has lines.
  long long steps = 0;
  const long long maxSteps = 2LL * lines + 16;
  for (int i = 1; i <= files && steps < maxSteps; ++i, ++steps) {
    EarlierIniEntry entry;
    entry.file = ini.String(NumberedName(kFile, i), "");
    entry.target = ini.String(NumberedName(kTarget, i), "");
    if (entry.file.empty()) {
      continue;
    }
    const IniSection sections(NumberedName(kSection, i), log);
    const int sectionCount = std::clamp(sections.Int(kNumber, 0), 0, lines);
    for (int j = 1; j <= sectionCount && steps < maxSteps; ++j, ++steps) {
      entry.section = sections.String(NumberedName(kSection, j), "");
      const IniSection keys(NumberedName(kSection, i, j), log);
      const int keyCount = std::clamp(keys.Int(kNumber, 0), 0, lines);
      for (int l = 1; l <= keyCount && steps < maxSteps; ++l, ++steps) {
        entry.key = keys.String(NumberedName(kKey, l), "");
        if (!entry.section.empty() && !entry.key.empty()) {
          entries.push_back(entry);
        }
      }
    }
  }
  return entries;
}

}  // namespace

std::vector<std::string> EarlierInstallation::FilePaths() const {
  std::vector<std::string> paths;
  for (const EarlierFile& file : files) {
    paths.push_back(file.path);
  }
  return paths;
}

EarlierInstallation ReadEarlierInstallation(const std::string& uninstallerPath) {
  EarlierInstallation earlier;
  TailProblem problem = TailProblem::kNone;
  const std::optional<std::string> text = ReadFrozenLogText(uninstallerPath, problem);
  if (!text) {
    return earlier;
  }
  const LogCopy copy(*text);
  if (copy.path().empty()) {
    return earlier;
  }
  const MacroFolders folders = MacroFoldersOfSystem(
      LoggedInstallationFolder(ReadScriptString(kGeneral, kBid, "", copy.path())));
  // A damaged count cannot name more entries than the log has lines.
  const int lines = static_cast<int>(std::min<std::size_t>(
      static_cast<std::size_t>(std::count(text->begin(), text->end(), '\n')) + 1, 0x7FFFFFFF));
  earlier.product = ReadScriptString(kGeneral, kProduct, "", copy.path());
  const IniSection logged(kFile, copy.path());
  const int count = std::clamp(logged.Int(kFile, 0), 0, lines);
  // A log of an installer that did not record registrations: it offered every file but
  // copies of system components.
  const bool recordsRegistrations = logged.Int(kRegistrations, 0) != 0;
  const IniSection madeFolders(kFolders, copy.path());
  const bool recordsFolders = !madeFolders.String(kNumber, "").empty();
  if (!recordsFolders && !folders.bid.empty()) {
    AddFolder(earlier.folders, folders.bid);
  }
  for (int n = 1; n <= count; ++n) {
    const bool existed = logged.Int(NumberedName(kExisted, n), 0) != 0;
    const bool replaced = logged.Int(NumberedName(kReplaced, n), 0) != 0;
    if (!IsTargetOurs(existed, replaced)) {
      continue;
    }
    EarlierFile file;
    file.entry = logged.String(NumberedName(kFile, n), "");
    const std::optional<LoggedPlace> place = ExpandLoggedFile(file.entry, folders);
    if (!place) {
      continue;
    }
    file.path = place->path;
    file.shortcut = logged.Int(NumberedName(kShortcut, n), 0);
    file.shortcutName = logged.String(NumberedName(kShortcutName, n), "");
    file.time = logged.String(NumberedName(kTime, n), "");
    file.registered = recordsRegistrations ? logged.Int(NumberedName(kRegistered, n), 0) != 0
                                           : !HasSystemFolderName(file.path);
    if (!recordsFolders && IsSamePath(place->base, folders.bid)) {
      for (const std::string& folder : FoldersBetween(place->base, place->path)) {
        AddFolder(earlier.folders, folder);
      }
    }
    earlier.files.push_back(std::move(file));
  }
  if (recordsFolders) {
    const int made = std::clamp(madeFolders.Int(kNumber, 0), 0, lines);
    for (int k = 1; k <= made; ++k) {
      const std::string folder = madeFolders.String(NumberedName(kFolder, k), "");
      if (IsAbsolutePath(folder)) {
        AddFolder(earlier.folders, folder);
      }
    }
  }
  earlier.folders.erase(std::remove_if(earlier.folders.begin(), earlier.folders.end(),
                                       [](const std::string& f) { return !IsFolder(f); }),
                        earlier.folders.end());
  earlier.registry = ReadRegistryLog(copy.path(), lines);
  earlier.iniEntries = ReadIniEntries(copy.path(), lines);
  return earlier;
}

std::vector<std::string> MissingFolders(const std::string& folder) {
  std::vector<std::string> missing;
  std::string level = WithTrailingBackslash(folder);
  // A drive root or a share's root is never made.
  while (level.size() > 3 && !IsFolder(level)) {
    missing.push_back(level);
    const std::string bare = WithoutTrailingBackslash(level);
    const std::size_t slash = ActiveCodePage().FindLast(bare, '\\');
    if (slash == std::string::npos) {
      break;
    }
    level = bare.substr(0, slash + 1);
  }
  return missing;
}

bool ExistsAndIsNotOurs(const std::string& target, const std::vector<std::string>& ours) {
  if (::GetFileAttributesA(target.c_str()) == INVALID_FILE_ATTRIBUTES) {
    return false;
  }
  const std::string full = FullPathName(target);
  return std::none_of(ours.begin(), ours.end(), [&](const std::string& file) {
    return IsSamePath(full.empty() ? target : full, file);
  });
}

void RecordReplacedTarget(int n) {
  if (g_state.uninstallLogFrozen) {
    g_state.replacedTargets.push_back(n);
  }
}

void SaveReplacedTargets() {
  if (g_state.replacedTargets.empty()) {
    return;
  }
  const std::vector<int> replaced = std::move(g_state.replacedTargets);
  g_state.replacedTargets.clear();
  const std::string log = UninstallLogTempPath();
  // The whole section at once: key by key, every mark would rewrite the log.
  const IniSection files(kFile, log);
  std::vector<std::string> lines = files.Lines();
  bool added = false;
  for (const int n : replaced) {
    const std::string key = NumberedName(kReplaced, n);
    if (files.Int(NumberedName(kExisted, n), 0) == 0 || files.Int(key, 0) != 0) {
      continue;
    }
    lines.push_back(key + "=1");
    added = true;
  }
  if (added && WriteIniSection(kFile, lines, log)) {
    RefreezeUninstallLog(UninstallerPath(), log);
  }
}

void RecordRegisteredTarget(int n) {
  if (!g_state.uninstallLogFrozen) {
    return;
  }
  const std::string log = UninstallLogTempPath();
  WriteIniInt(kFile, NumberedName(kRegistered, n), 1, 0, log);
  ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, log.c_str());
  RefreezeUninstallLog(UninstallerPath(), log);
}

}  // namespace vorlatch
