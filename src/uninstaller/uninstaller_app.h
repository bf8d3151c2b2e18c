#pragma once
// The uninstaller's run: what its command line asks for, the one question, the removal, the
// report, and the self-removal at the end.

#include <string>

namespace vorlatch {

// Exit codes.
inline constexpr int kUninstallDone = 0;
inline constexpr int kUninstallRefused = 1;   // the log could not be trusted; nothing removed
inline constexpr int kUninstallDeclined = 2;  // the user answered No
inline constexpr int kUninstallIncomplete = 3;
// Exit codes of /S, as deployment tools read them.
inline constexpr int kSilentDamagedLog = 2;
inline constexpr int kSilentRestartNeeded =
    3010;  // removed; some files go at the restart  // some files stayed

// Runs the uninstaller for its command line (as GetCommandLineA gives it).
int RunUninstaller(const std::string& commandLine);

}  // namespace vorlatch
