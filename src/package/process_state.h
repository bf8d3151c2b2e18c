#pragma once
// The values that live for the whole run of the stub, one instance per process. They sit
// at the lowest layer that needs them (the package view) so that every layer above can
// reach them without depending on the application layer.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <windows.h>

namespace vorlatch {

class ProgressDialog;

// The remembered answer to the overwrite question.
enum class OverwriteMode { kAsk, kYesToAll, kNoToAll };

struct ProcessState {
  // Package opening: the read-only view of the package file, its mapping, and the size of
  // the package in it (the file size, or where a signed file's certificate table begins).
  const std::uint8_t* packageView = nullptr;
  HANDLE packageMapping = nullptr;
  std::int32_t packageSize = 0;
  // The file that the extraction is writing; named by the archive error.
  std::string currentOutputFile;
  // The directory chosen in the destination dialog: a browsed folder ends in one backslash,
  // a typed full path stays as typed (less leading blanks; users add the backslash where
  // needed), any other typed path is made a full path with backslashes.
  std::string destinationDirectory;
  // File extraction: some file could not be extracted; the remembered overwrite answer.
  bool extractionError = false;
  // No uninstaller that can remove the installation: the summary of errors is the run's last
  // word, not followed by the success message.
  bool uninstallerFailed = false;
  OverwriteMode overwriteMode = OverwriteMode::kAsk;
  // A file in use is put in place at the next restart: the run ends saying so.
  bool restartNeeded = false;
  // The existing-installation check chose to repair.
  bool repairMode = false;
  // The uninstall log is frozen into Uninstall.exe: targets replaced from then on are
  // recorded in it.
  bool uninstallLogFrozen = false;
  // Targets n written over since the log in Uninstall.exe was last brought up to date.
  std::vector<int> replacedTargets;
  // Suffix of the program group when the plain name was taken (0: none).
  int instanceNumber = 0;
  // The extension DLL, loaded once and kept until the process ends.
  HMODULE extensionDll = nullptr;
  // OLE was initialised for COM self-registration.
  bool oleInitialised = false;
  // The progress window while files are extracted.
  ProgressDialog* progress = nullptr;
  // The bytes of the whole extraction and those written (or passed over) so far: the
  // progress bar's extent and position.
  std::uint64_t progressTotal = 0;
  std::uint64_t progressDone = 0;
  // The run's own temporary folder (empty: none) and the values that Tmp and Temp had
  // before they were pointed at it (none: not set).
  std::string runFolder;
  std::optional<std::string> userTmp;
  std::optional<std::string> userTemp;
  // An unattended run (/S): no windows; the answers that go on; the exit code it ends with.
  bool silent = false;
  int exitCode = 0;
  // The record of the run (/LOG=), open while it runs; null without one.
  HANDLE runRecord = nullptr;
  // The destination and password given on the command line.
  std::optional<std::string> commandLineDestination;
  std::optional<std::string> commandLinePassword;
  // Bytes that the file extraction wrote (the uninstall entry's size).
  std::uint64_t installedBytes = 0;
  // Folders that this run made for the destination, so that the uninstaller removes them again.
  std::vector<std::string> madeFolders;
};

extern ProcessState g_state;

// Back to the values at start-up (for tests; releases nothing).
void ResetProcessState();

}  // namespace vorlatch
