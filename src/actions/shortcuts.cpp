#include "actions/shortcuts.h"

#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <optional>

#include "actions/shortcut_location.h"
#include "actions/shortcut_names.h"
#include "actions/uninstaller_interface.h"
#include "package/item_extraction.h"
#include "package/process_state.h"
#include "package/unattended.h"
#include "script/directories.h"
#include "script/install_scope.h"
#include "script/keys.h"
#include "script/path_macros.h"
#include "script/path_text.h"
#include "script/script_access.h"
#include "win/ansi_names.h"

namespace vorlatch {

namespace {

// Room for an icon location as the shell link reports it.
constexpr int kIconLocationBufferSize = 520;
// ExtractIconA's answer for a file that is no program, library or icon file.
const HICON kNotAnIconFile = reinterpret_cast<HICON>(static_cast<INT_PTR>(1));

// A group folder counts as taken only when it is a plain directory, no other attribute set.
bool IsTakenGroupFolder(const std::string& path) {
  return GetFileAttributesA(path.c_str()) == FILE_ATTRIBUTE_DIRECTORY;
}

bool AskYesNo(const std::string& text) {
  return AskUser(text, kShortcutQuestionCaption, MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL,
                 IDYES) != IDNO;
}

// The Desktop and Quick Launch steps: one named file, an optional question, one shortcut.
void CreatePlaceShortcut(const char* nameKey, const char* askKey,
                         std::string (*question)(const std::string&), int folderId,
                         const std::string& subfolder) {
  const std::string name = ReadScriptString(kFile, nameKey, "");
  const int ask = ReadScriptInt(kFile, askKey, 0);
  if (name.empty()) {
    return;
  }
  const PackedItemRef item = FindPackedItem(name);
  if (!item.found) {
    return;
  }
  if (ask != 0 && !AskYesNo(question(name))) {
    return;
  }
  CreateShellLink(folderId, subfolder, ExpandTarget(kFile, item.index) + name, name,
                  ReadShortcutDetails(item.index));
}

// The names the shortcuts are made with, for the uninstaller; nothing for names by the rule,
// so that a script without the keys leaves the log as it was.
void LogShortcutNames(const IniSection& files, const std::string& log) {
  bool written = false;
  const auto logName = [&](const std::string& key) {
    const std::string name = ValidShortcutName(files.String(key, ""));
    if (!name.empty()) {
      WriteIniString(kFile, key, name, "", log);
      written = true;
    }
  };
  const int count = files.Int(kFile, 0);
  for (int n = 1; n <= count; ++n) {
    logName(NumberedName(kShortcutName, n));
  }
  logName(kUninstallShortcutName);
  if (written) {
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, log.c_str());
  }
}

bool IsAbsolutePath(const std::string& path) {
  return path.rfind("\\\\", 0) == 0 ||
         (path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/'));
}

}  // namespace

std::string ExpandShortcutPath(const std::string& value) {
  const std::size_t close = value.find(']');
  if (!value.empty() && value.front() == '[' && close != std::string::npos) {
    const std::string macro = value.substr(0, close + 1);
    const std::string folder = ExpandValueMacro(macro);
    // [Date] is no folder; an unknown word in brackets is part of a name.
    if (folder != macro && !EqualNoCase(macro, kMacroDate)) {
      std::string rest = value.substr(close + 1);
      rest.erase(0, rest.find_first_not_of('\\'));
      return WithTrailingBackslash(folder) + rest;
    }
  }
  if (value.empty() || IsAbsolutePath(value)) {
    return value;
  }
  return WithTrailingBackslash(g_state.destinationDirectory) + value;
}

ShortcutDetails ReadShortcutDetails(int n) {
  ShortcutDetails details;
  details.name = ValidShortcutName(ReadScriptString(kFile, NumberedName(kShortcutName, n), ""));
  details.arguments = ReadScriptString(kFile, NumberedName(kShortcutArguments, n), "");
  details.workingFolder =
      ExpandShortcutPath(ReadScriptString(kFile, NumberedName(kShortcutFolder, n), ""));
  details.iconFile =
      ExpandShortcutPath(ReadScriptString(kFile, NumberedName(kShortcutIcon, n), ""));
  details.iconIndex = ReadScriptInt(kFile, NumberedName(kShortcutIconIndex, n), 0);
  details.description = ReadScriptString(kFile, NumberedName(kShortcutDescription, n), "");
  return details;
}

void CreateStartMenuShortcuts(const std::string& uninstallLog) {
  // Read at once: key by key, a large package would read the script thousands of times.
  const IniSection fileSection(kFile);
  const int count = fileSection.Int(kFile, 0);
  int shortcutCount = 0;
  for (int n = 1; n <= count; ++n) {
    // A file without a name has nothing to link to.
    if (fileSection.Int(NumberedName(kShortcut, n), 0) != 0 &&
        !fileSection.String(NumberedName(kFile, n), "").empty()) {
      ++shortcutCount;
    }
  }
  const int uninstall = ReadScriptInt(kFile, kUninstall, 0);
  if (shortcutCount == 0 && uninstall == 0) {
    return;
  }
  if (!uninstallLog.empty()) {
    LogShortcutNames(fileSection, uninstallLog);
  }

  // Without a programs folder or a group name the folder to make would be the drive root or
  // the programs folder itself (or a numbered sibling of it): no group then.
  const int programs = ProgramsFolderId(CommonShortcutFolders());
  char buffer[kSpecialFolderBufferSize] = {};
  if (!GetSpecialFolder(nullptr, buffer, programs, true)) {
    return;
  }
  buffer[kSpecialFolderBufferSize - 1] = '\0';
  const std::string programsFolder = WithTrailingBackslash(buffer);
  const std::string group = ProgramGroupOf(ReadScriptString(kGeneral, kCompany, ""),
                                           ReadScriptString(kGeneral, kProduct, ""));
  if (programsFolder.empty() || group.empty()) {
    return;
  }
  const std::string groupFolder = WithoutTrailingBackslash(programsFolder + group);

  // An earlier installation owns the plain name: take the first free variant, at most 10.
  std::string suffix;
  if (!g_state.repairMode) {
    while (IsTakenGroupFolder(groupFolder + suffix + '\\') &&
           g_state.instanceNumber < kMaxInstanceNumber) {
      ++g_state.instanceNumber;
      suffix = InstanceSuffix(g_state.instanceNumber);
    }
  }
  if (!uninstallLog.empty()) {
    WriteIniInt(kGeneral, kInstance, g_state.instanceNumber, 0, uninstallLog);
  }

  std::string folder = groupFolder + suffix + '\\';
  // No pause after each level: the system has made a level when CreateDirectoryA returns, and
  // the pauses over the many levels above a Start Menu group cost every installation seconds.
  if (!EnsureDirectory(folder, nullptr, 0)) {
    folder.clear();
  }
  // The group is the shortcuts' subfolder, so that a chosen name replaces only the file's part.
  const std::string programGroup = WithoutTrailingBackslash(group) + suffix;

  if (uninstall != 0 && !folder.empty()) {
    ShortcutDetails details;
    details.name = ValidShortcutName(ReadScriptString(kFile, kUninstallShortcutName, ""));
    CreateShellLink(programs, programGroup, UninstallerPath(), kUninstallLinkName, details);
  }

  if (shortcutCount > 0 &&
      (ReadScriptInt(kFile, kAskS, 0) == 0 || AskYesNo(StartMenuQuestion(shortcutCount)))) {
    const int files = fileSection.Int(kFile, 0);
    for (int n = 1; n <= files; ++n) {
      if (fileSection.Int(NumberedName(kShortcut, n), 0) == 0) {
        continue;
      }
      const std::string name = fileSection.String(NumberedName(kFile, n), "");
      if (name.empty()) {
        continue;
      }
      CreateShellLink(programs, programGroup, ExpandTarget(kFile, n) + name, name,
                      ReadShortcutDetails(n));
    }
  }

  if (!uninstallLog.empty()) {
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, uninstallLog.c_str());
  }
}

void CreateDesktopShortcut() {
  CreatePlaceShortcut(kDesktop, kAskD, &DesktopQuestion, DesktopFolderId(CommonShortcutFolders()),
                      "");
}

void CreateQuickLaunchShortcut() {
  CreatePlaceShortcut(kQuickLaunch, kAskQ, &QuickLaunchQuestion, kCsidlAppData,
                      kQuickLaunchSubfolder);
}

namespace {

int SaveShellLink(int folderId, const std::string& subfolder, const std::string& target,
                  const std::string& linkName, const ShortcutDetails& details) {
  ComPtr<IShellLinkA> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                              link.put_void()))) {
    return 0;
  }
  ComPtr<IPersistFile> persistFile;
  if (FAILED(link->QueryInterface(IID_IPersistFile, persistFile.put_void()))) {
    return 0;
  }
  // S_FALSE for a target that is not there yet: the files are extracted after the shortcuts.
  if (FAILED(link->SetPath(target.c_str()))) {
    return 0;
  }

  if ((!details.arguments.empty() && FAILED(link->SetArguments(details.arguments.c_str()))) ||
      (!details.workingFolder.empty() &&
       FAILED(link->SetWorkingDirectory(details.workingFolder.c_str()))) ||
      (!details.description.empty() && FAILED(link->SetDescription(details.description.c_str())))) {
    return 0;
  }

  // An unknown folder would put the shortcut at the root of the current drive.
  const std::optional<std::string> path =
      ShortcutFilePath(folderId, subfolder, linkName, details.name);
  if (!path) {
    return 0;
  }
  // IPersistFile has no ANSI form.
  const std::wstring widePath = WideOf(*path, CP_ACP);
  if (widePath.empty() || FAILED(persistFile->Save(widePath.c_str(), TRUE))) {
    return 0;
  }

  const std::string shell32 = SystemDirectory() + "shell32.dll";
  HRESULT iconSet = E_FAIL;
  if (!details.iconFile.empty() || details.iconIndex != 0) {
    const std::string& iconFile = details.iconFile.empty() ? target : details.iconFile;
    iconSet = link->SetIconLocation(iconFile.c_str(), details.iconIndex);
  } else if (const UniqueIcon icon = GetFileIcon(target)) {
    iconSet = link->SetIconLocation(target.c_str(), 0);
  } else {
    iconSet = link->SetIconLocation(shell32.c_str(), 1);
  }
  if (FAILED(iconSet)) {
    return 0;
  }
  char location[kIconLocationBufferSize] = {};
  int index = 0;
  if (FAILED(link->GetIconLocation(location, kIconLocationBufferSize, &index))) {
    return 0;
  }
  persistFile->Save(widePath.c_str(), TRUE);
  return 1;
}

}  // namespace

int CreateShellLink(int folderId, const std::string& subfolder, const std::string& target,
                    const std::string& linkName, const ShortcutDetails& details) {
  const int made = SaveShellLink(folderId, subfolder, target, linkName, details);
  if (!RecordingSteps()) {
    return made;
  }
  RecordStep("Shortcut " +
             ShortcutFilePath(folderId, subfolder, linkName, details.name).value_or(linkName) +
             " to " + target + (made != 0 ? ": created" : ": not created"));
  return made;
}

UniqueIcon GetFileIcon(const std::string& path) {
  HICON own = ExtractIconA(GetModuleHandleA(nullptr), path.c_str(), 0);
  if (own == kNotAnIconFile) {
    // Not an icon handle: the file simply carries no icons.
    own = nullptr;
  }
  if (own != nullptr) {
    return UniqueIcon(own);
  }
  SHFILEINFOA info = {};
  SHGetFileInfoA(ExtensionOf(path).c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                 SHGFI_ICON | SHGFI_USEFILEATTRIBUTES);
  return UniqueIcon(info.hIcon);
}

}  // namespace vorlatch
