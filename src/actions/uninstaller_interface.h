#pragma once
// What the installer fixes about the uninstaller program it carries: where it is placed and
// the two ways it is started.

#include <string>

namespace vorlatch {

inline constexpr char kUninstallerFileName[] = "Uninstall.exe";
// The switch that makes the uninstaller undo a terminated installation.
inline constexpr char kRollbackSwitch[] = "/u";

// WithTrailingBackslash(destination) followed by Uninstall.exe.
std::string UninstallerPathIn(const std::string& destinationDirectory);
// The same for the destination directory of this run.
std::string UninstallerPath();

// The plain removal: the full path, without quotes or arguments (the system's uninstall
// entry and the Start Menu shortcut name the program this way).
std::string UninstallCommandLine(const std::string& uninstallerPath);
// The rollback after termination: a double quote, the path, a double quote, a blank, /u.
std::string RollbackCommandLine(const std::string& uninstallerPath);

}  // namespace vorlatch
