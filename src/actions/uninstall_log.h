#pragma once
// What the separate uninstaller needs after an installation: the program itself in the
// destination directory, the log of what the installation made (written in the temporary
// directory, later frozen into the program's tail), and the system's uninstall entry.

#include <cstddef>
#include <string>
#include <vector>

#include "actions/installed_targets.h"

namespace vorlatch {

// Where the system keeps one key per installed product.
inline constexpr char kUninstallKeyPrefix[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
inline constexpr char kDisplayNameValue[] = "DisplayName";
inline constexpr char kUninstallStringValue[] = "UninstallString";
// What the system's list of installed programs and deployment tools read besides those two.
inline constexpr char kQuietUninstallStringValue[] = "QuietUninstallString";
inline constexpr char kPublisherValue[] = "Publisher";
inline constexpr char kDisplayVersionValue[] = "DisplayVersion";
inline constexpr char kInstallLocationValue[] = "InstallLocation";
inline constexpr char kDisplayIconValue[] = "DisplayIcon";
inline constexpr char kEstimatedSizeValue[] = "EstimatedSize";  // REG_DWORD, kilobytes
inline constexpr char kNoModifyValue[] = "NoModify";            // REG_DWORD 1
inline constexpr char kNoRepairValue[] = "NoRepair";            // REG_DWORD 1
// Every value the installer writes into the entry, so that the uninstaller removes them all.
inline constexpr const char* kUninstallEntryValues[] = {
    kDisplayNameValue,    kUninstallStringValue, kQuietUninstallStringValue, kPublisherValue,
    kDisplayVersionValue, kInstallLocationValue, kDisplayIconValue,          kEstimatedSizeValue,
    kNoModifyValue,       kNoRepairValue};

// Extracts the packed uninstaller as Uninstall.exe into the destination directory, replacing
// any file there (also a read-only one), never leaves it read-only, and stamps it with the
// time of installation. 1 when done or when the
// package has no uninstaller ([File] Uninstall is 0); 0 when the uninstaller could not be
// provided (no item named, or it could not be written or inflated).
int ExtractUninstaller();

// Deletes any older temporary log, runs the registry step (which records its keys in the
// log first), then writes [General], [File], [Ini] with its [Section<i>] and
// [Section<i>_<j>] sections, and [Folders], and flushes the log. [File] Existed<n> marks the
// targets that are there already and are not the files of `earlier` (an earlier installation
// of ours in the same folder). What `earlier` made and this installation does not write again
// is carried into the log after the script's own entries, so that the uninstaller removes it
// too. Always 1.
int WriteUninstallLog(const EarlierInstallation& earlier = {});

// The value of [General] Product in the log: Product, or when that is empty the file name
// part of [General] Package.
std::string LoggedProductName();

// The system uninstall entry under HKEY_LOCAL_MACHINE for [General] Product: DisplayName
// ("Company Product", or Product alone) and UninstallString (the uninstaller's full path in
// quotes), then QuietUninstallString (the same with /S), Publisher ([General] Company),
// DisplayVersion ([General] Version), InstallLocation, DisplayIcon (the first program with a
// Start Menu shortcut, else the uninstaller), NoModify and NoRepair. 1 when DisplayName and
// UninstallString were written; 0 without a product or on any failure of those two.
int RegisterUninstaller();

// EstimatedSize of the uninstall entry that RegisterUninstaller made: the kilobytes that the
// file extraction wrote, the uninstaller included.
void RecordInstalledSize();

// The display name of the uninstall entry: Company, a blank, Product; Product alone when
// there is no company.
std::string UninstallDisplayName(const std::string& company, const std::string& product);

}  // namespace vorlatch
