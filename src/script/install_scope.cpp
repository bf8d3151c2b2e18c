#include "script/install_scope.h"

#include "script/keys.h"
#include "script/path_text.h"
#include "script/script_access.h"

namespace vorlatch {

bool UserScope() {
  return EqualNoCase(ReadScriptString(kGeneral, kScope, ""), kScopeUser);
}

bool CommonShortcutFolders() {
  return !UserScope() && ReadScriptInt(kFile, kAllUsers, 0) != 0;
}

HKEY UninstallEntryRoot(bool user) {
  return user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

const char* UninstallEntryRootName(bool user) {
  return user ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

const char* FileTypesRoot(bool user) {
  return user ? "HKEY_CURRENT_USER\\Software\\Classes" : "HKEY_CLASSES_ROOT";
}

std::string MachineWidePlaceAsked() {
  if (!UserScope()) {
    return std::string();
  }
  const int keys = ReadScriptInt(kRegistry, kNumber, 0);
  for (int i = 1; i <= keys; ++i) {
    const std::string key = ReadScriptString(kRegistry, NumberedName(kKey, i), "");
    if (NamesLocalMachineKey(key)) {
      return "registry key " + key;
    }
  }
  const int files = ReadScriptInt(kFile, kFile, 0);
  for (int n = 1; n <= files; ++n) {
    const std::string target = ReadScriptString(kFile, NumberedName(kTarget, n), "");
    if (NamesSystemFolder(target)) {
      return "target " + target + " of " + ReadScriptString(kFile, NumberedName(kFile, n), "");
    }
  }
  const int iniFiles = ReadScriptInt(kIni, kNumber, 0);
  for (int i = 1; i <= iniFiles; ++i) {
    const std::string target = ReadScriptString(kIni, NumberedName(kTarget, i), "");
    if (NamesSystemFolder(target)) {
      return "target " + target + " of " + ReadScriptString(kIni, NumberedName(kFile, i), "");
    }
  }
  return std::string();
}

}  // namespace vorlatch
