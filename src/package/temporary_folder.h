#pragma once
// The temporary directory and the installer's fixed files in it. Apart from the package's
// opening, so that the uninstaller, which needs only these, does not carry the decoders.

#include <optional>
#include <string>

namespace vorlatch {

// Fixed names of the temporary files.
inline constexpr char kScriptFileName[] = "Vorlatch.ini";
inline constexpr char kUninstallLogFileName[] = "Uninstall.ini";

// `Tmp`, else `Temp`, with exactly one trailing backslash; empty when neither is set.
// Computed anew on each call.
std::string TemporaryDirectory();
// The temporary directory's variable in its wide form (none when neither is set), to tell
// whether its name fits the ANSI code page.
std::optional<std::wstring> WideTemporaryDirectory();

// A file in the temporary directory. With no temporary directory the name gets a ".\"
// prefix: the profile functions would look for a bare name in the Windows directory, and
// the file is meant to be in the current directory.
std::string TemporaryFilePath(const std::string& name);

std::string ScriptPath();
std::string UninstallLogTempPath();

}  // namespace vorlatch
