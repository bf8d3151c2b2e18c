#pragma once
// Opening the package at start-up: the package file from the command line, its read-only
// mapping for the whole run, the script extracted into the temporary directory, and the
// clean-up at the end. Also the archive error shown when the package cannot be read.

#include <optional>
#include <string>

#include "package/temporary_folder.h"

namespace vorlatch {

// The texts of the archive error.
inline constexpr char kArchiveErrorCaption[] = "I/O Error";
inline constexpr char kPossiblyCorruptedArchive[] = "Possibly corrupted archive";
// Filled with the file being written and kPossiblyCorruptedArchive.
inline constexpr char kWritingFailedFormat[] = "Writing\n\n%s\n\n%s or file locked.";

// Maps the package file named by the command line into g_state (view, mapping, size).
// False, with nothing held, when there is no path, the file cannot be mapped, it is empty,
// or its trailer points outside it.
bool OpenPackage();

// The same for a given package path.
bool OpenPackageFile(const std::string& path);

// Inflates the script block into the script, which gets the block's attributes and times.
// False when the block cannot be inflated or written.
bool ExtractScript();

// Unmaps the package view and closes its mapping (each only when held).
void ClosePackage();

// Deletes every temporary file the run may have made; failures are not reported.
void CleanupTemporaryFiles();

// The text of the archive error for the file being written (empty: the short form).
std::string ArchiveErrorText(const std::string& currentOutputFile);

// The archive error message box for g_state.currentOutputFile.
void ShowArchiveError();

}  // namespace vorlatch
