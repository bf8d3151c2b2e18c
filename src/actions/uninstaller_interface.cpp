#include "actions/uninstaller_interface.h"

#include "package/process_state.h"
#include "script/path_text.h"
#include "win/code_page.h"

namespace vorlatch {

std::string UninstallerPathIn(const std::string& destinationDirectory) {
  return WithTrailingBackslash(destinationDirectory) + kUninstallerFileName;
}

std::string UninstallerPath() {
  return UninstallerPathIn(g_state.destinationDirectory);
}

std::string UninstallCommandLine(const std::string& uninstallerPath) {
  return "\"" + uninstallerPath + "\"";
}

std::string UnquotedUninstallCommandLine(const std::string& uninstallerPath) {
  return uninstallerPath;
}

std::string QuietUninstallCommandLine(const std::string& uninstallerPath) {
  return UninstallCommandLine(uninstallerPath) + " " + kSilentSwitch;
}

std::string RollbackCommandLine(const std::string& uninstallerPath) {
  std::string commandLine = "\"";
  commandLine.append(uninstallerPath).append("\" ").append(kRollbackSwitch);
  return commandLine;
}

std::string CutToUninstallValue(const std::string& value) {
  // Never half a character: the registry would not keep the lone lead byte, and the
  // uninstaller could then not tell its own entry.
  return value.substr(0,
                      ActiveCodePage().WholeCharactersWithin(value, kUninstallValueBufferSize - 1));
}

}  // namespace vorlatch
