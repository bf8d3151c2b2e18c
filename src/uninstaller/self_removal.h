#pragma once
// The uninstaller's last step: a running program cannot delete its own file, so it copies
// itself into the temporary folder and starts the copy with /finish and an inherited handle
// of its own process. The copy waits for the first process to end, deletes Uninstall.exe
// (only when its bytes are the copy's own), removes the installation's folders that are empty,
// and has itself deleted at the next restart.

#include <cstdint>
#include <string>
#include <vector>

namespace vorlatch {

// The file of the running program.
std::string OwnProgramPath();

// Starts the copy that finishes the removal; false when it could not be made or started.
bool StartFinishingCopy(const std::string& ownPath);

// The work of the copy: `handle` is the first process, inherited.
void FinishRemoval(std::uint64_t handle);

// Marks each path (files first, then folders, in the order given) for deletion at the next
// restart; returns those that could not be marked.
std::vector<std::string> DeleteAtRestart(const std::vector<std::string>& paths);

// What is left to do when no copy could be started: Uninstall.exe and the folders are marked
// for deletion at the next restart instead.
void RemoveAtRestartInstead(const std::string& uninstaller,
                            const std::vector<std::string>& folders);

}  // namespace vorlatch
