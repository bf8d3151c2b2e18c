#pragma once
// The run's own temporary folder. The installer's files (script, item file, log, extension
// DLL, documents) live in a new folder inside the temporary directory that only this user,
// SYSTEM and the Administrators can enter, so that nobody can plant or swap them, and two
// installers running at once do not meet. Tmp and Temp point at it for the run, so that every
// temporary path, and an extension DLL that asks the system for the temporary folder, finds
// the installer's files there; programs and documents the installer starts get the user's
// values back, since the folder goes when the run ends.

#include <string>

#include "win/handles.h"

namespace vorlatch {

// The switch with which the installer starts a copy of itself that removes the run folder
// once a program started from it has ended.
inline constexpr char kRunFolderWaiterSwitch[] = "/REMOVE-RUN-FOLDER";

// Makes the folder inside the temporary directory (the current directory when neither Tmp nor
// Temp is set) and points Tmp and Temp at it. False, with nothing changed, when it cannot be
// made.
bool EnterRunFolder();

// Removes the folder with whatever is left in it and gives Tmp and Temp their values back.
// Nothing happens when no folder was made. When a program started from the folder still
// runs (KeepRunFolderFor), the folder is left to a waiter that removes it once that program
// has ended; failing that, what cannot go now goes at the next restart.
void LeaveRunFolder();

// The run started `process` from a file in the run folder (a program or document of the After
// stage that is not an installed file): the folder, that file included, must outlive the run
// until the process ends.
void KeepRunFolderFor(UniqueHandle process);
// Whether a started process keeps the run folder (its files are then not deleted at the end).
bool RunFolderKept();

// Whether the command line is that of a waiter (the installer's own file started with
// kRunFolderWaiterSwitch).
bool IsRunFolderWaiter(const char* commandLine);
// The waiter's work: waits for the inherited process handle on its command line to end, then
// removes the run folder it names. The exit code: 0 when the folder is gone, else 1.
int RunFolderWaiter(const char* commandLine);

// The temporary directory as the user's environment names it (what `[TEMP]` means): the
// values from before the run folder, or the current ones when there is none.
std::string UserTemporaryDirectory();

// While it lives, Tmp and Temp have the user's values (for a program being started).
class UserTemporaryVariables {
 public:
  UserTemporaryVariables();
  ~UserTemporaryVariables();
  UserTemporaryVariables(const UserTemporaryVariables&) = delete;
  UserTemporaryVariables& operator=(const UserTemporaryVariables&) = delete;

 private:
  bool swapped_ = false;
};

}  // namespace vorlatch
