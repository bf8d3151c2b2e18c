#pragma once
// Runs without anyone at the screen: every message of the installer goes through AskUser,
// which in an unattended run (/S) writes the message to the run's record and gives the answer
// that goes on with the installation, so that no window ever appears. The record (/LOG=) is
// a plain-text file, one line per step with its outcome, also for runs with windows. The
// exit code of an unattended run tells deployment tools what happened.

#include <string>

#include <windows.h>

namespace vorlatch {

// Exit codes of an unattended run (documented for deployment tools: keep the numbers).
enum class RunResult : int {
  kInstalled = 0,
  kBadCommandLine = 1,
  kUnreadablePackage = 2,
  kPasswordRefused = 3,
  kDestinationNotMade = 4,
  kInstalledWithErrors = 5,
  kSystemCheckFailed = 6,
  kExtensionStopped = 7,
  kMachineWidePlaceRefused = 8,
  // A file in use could be neither replaced nor put in place at the next restart.
  kFileInUse = 9,
  // Installed; files in use are put in place at the next restart (the system's own code for
  // "restart required").
  kRestartNeeded = 3010,
};

// Whether this run shows no windows (/S).
bool Unattended();

// A message box without owner; in an unattended run the message is recorded and
// `unattendedAnswer` is returned without a window. Every answer goes into the record.
int AskUser(const std::string& text, const std::string& caption, UINT style, int unattendedAnswer);

// One line of the record (no-op without /LOG=); line breaks in it become blanks.
void RecordStep(const std::string& line);
// Whether there is a record to write (so that costly lines are made only for it).
bool RecordingSteps();

// Notes how the run went. The first failure that stops the run wins over "installed with
// errors", which wins over "restart needed", which wins over success.
void NoteResult(RunResult result);
// The process's exit code: the noted result in an unattended run, 0 for a run with windows.
int RunExitCode();

// Opens (replaces) the record file; false when it cannot be written.
bool OpenRunRecord(const std::string& path);
// Writes the final line and closes the record.
void CloseRunRecord();

}  // namespace vorlatch
