#pragma once

#include <string>

namespace vorlatch {

inline constexpr char kExtractionErrorsText[] = "There were errors during extraction.";
inline constexpr char kExtractionErrorsCaption[] = "Info";
// Files in use wait beside their targets until the next restart.
inline constexpr char kRestartToCompleteText[] =
    "Restart the computer to complete the installation: some files are in use and are put in "
    "place at the next restart.";
inline constexpr char kRestartToCompleteCaption[] = "Information";

// The installation proper: with an uninstaller, the uninstaller and its log (with the
// registry entries and file associations), the shortcuts, the log frozen into the
// uninstaller and the system uninstall entry; then the packed files. 1 when it ran to its
// end (also when files were left out), 0 after a fatal extraction error, which it reports
// with the archive error.
int RunInstallation();

// Appends the log file and then its length (u32, little-endian) to the uninstaller, so that
// the uninstaller finds the log through its last four bytes. A log that could not be appended
// is given the length 0, so that the tail never claims bytes that are not the log. True when
// the log and its length were both written.
bool FreezeUninstallLog(const std::string& uninstaller, const std::string& log);

}  // namespace vorlatch
