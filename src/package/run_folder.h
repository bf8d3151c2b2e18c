#pragma once
// The run's own temporary folder. The installer's files (script, item file, log, extension
// DLL, documents) live in a new folder inside the temporary directory that only this user,
// SYSTEM and the Administrators can enter, so that nobody can plant or swap them, and two
// installers running at once do not meet. Tmp and Temp point at it for the run, so that every
// temporary path, and an extension DLL that asks the system for the temporary folder, finds
// the installer's files there; programs and documents the installer starts get the user's
// values back, since the folder goes when the run ends.

#include <string>

namespace vorlatch {

// Makes the folder inside the temporary directory (the current directory when neither Tmp nor
// Temp is set) and points Tmp and Temp at it. False, with nothing changed, when it cannot be
// made.
bool EnterRunFolder();

// Removes the folder with whatever is left in it and gives Tmp and Temp their values back.
// Nothing happens when no folder was made.
void LeaveRunFolder();

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
