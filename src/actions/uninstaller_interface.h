#pragma once
// What the installer fixes about the uninstaller program it carries: where it is placed and
// the two ways it is started.

#include <cstddef>
#include <string>

namespace vorlatch {

inline constexpr char kUninstallerFileName[] = "Uninstall.exe";
// The switch that makes the uninstaller undo a terminated installation.
inline constexpr char kRollbackSwitch[] = "/u";

// WithTrailingBackslash(destination) followed by Uninstall.exe.
std::string UninstallerPathIn(const std::string& destinationDirectory);
// The same for the destination directory of this run.
std::string UninstallerPath();

// The switch of a removal without questions or reports.
inline constexpr char kSilentSwitch[] = "/S";

// The plain removal as the system's uninstall entry names it: the full path in double quotes
// (unquoted, a path with blanks would start a program that its first word names).
std::string UninstallCommandLine(const std::string& uninstallerPath);
// The same path the way older installers wrote it: without quotes.
std::string UnquotedUninstallCommandLine(const std::string& uninstallerPath);
// The removal without questions: the quoted path, a blank, /S.
std::string QuietUninstallCommandLine(const std::string& uninstallerPath);
// The rollback after termination: a double quote, the path, a double quote, a blank, /u.
std::string RollbackCommandLine(const std::string& uninstallerPath);

// Each value of the uninstall entry fits a buffer of this many bytes with its terminating
// zero; longer values are cut.
inline constexpr std::size_t kUninstallValueBufferSize = 260;
// A value as the uninstall entry stores it: at most kUninstallValueBufferSize - 1 characters.
// The uninstaller compares its own entry with it.
std::string CutToUninstallValue(const std::string& value);

}  // namespace vorlatch
