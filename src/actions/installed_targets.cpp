#include "actions/installed_targets.h"

#include <algorithm>
#include <optional>

#include <windows.h>

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

MacroFolders MacroFoldersOfSystem(const std::string& installationFolder) {
  MacroFolders folders;
  folders.windows = WindowsDirectory();
  folders.system = SystemDirectory();
  folders.temp = TemporaryDirectory();
  folders.programFiles = ProgramFilesDirectory();
  for (int i = 0; i < kNamedFolderMacroCount; ++i) {
    folders.named[i] = NamedFolder(i);
  }
  const std::string bid = WithTrailingBackslash(installationFolder);
  // Levels such as ".." are resolved the way the installer's file calls resolved them, and
  // short names are made long, so that a system folder is known by any of its names.
  if (IsAbsolutePath(bid)) {
    const std::string full = FullPathName(bid);
    const std::string longName = LongPathName(full);
    folders.bid = WithTrailingBackslash(longName.empty() ? full : longName);
  }
  return folders;
}

std::vector<std::string> FilesOfEarlierInstallation(const std::string& uninstallerPath) {
  std::vector<std::string> files;
  TailProblem problem = TailProblem::kNone;
  const std::optional<std::string> text = ReadFrozenLogText(uninstallerPath, problem);
  if (!text) {
    return files;
  }
  const LogCopy copy(*text);
  if (copy.path().empty()) {
    return files;
  }
  const MacroFolders folders = MacroFoldersOfSystem(
      LoggedInstallationFolder(ReadScriptString(kGeneral, kBid, "", copy.path())));
  // A damaged count cannot name more entries than the log has lines.
  const int lines = static_cast<int>(std::min<std::size_t>(
      static_cast<std::size_t>(std::count(text->begin(), text->end(), '\n')) + 1, 0x7FFFFFFF));
  const IniSection logged(kFile, copy.path());
  const int count = std::clamp(logged.Int(kFile, 0), 0, lines);
  for (int n = 1; n <= count; ++n) {
    const bool existed = logged.Int(NumberedName(kExisted, n), 0) != 0;
    const bool replaced = logged.Int(NumberedName(kReplaced, n), 0) != 0;
    if (!IsTargetOurs(existed, replaced)) {
      continue;
    }
    const std::string entry = logged.String(NumberedName(kFile, n), "");
    if (const std::optional<LoggedPlace> place = ExpandLoggedFile(entry, folders)) {
      files.push_back(place->path);
    }
  }
  return files;
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

bool IsTargetOurs(bool existed, bool replaced) {
  return !existed || replaced;
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
