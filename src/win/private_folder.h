#pragma once
// Folders of our own inside a shared one (the temporary directory): a name nobody can guess
// or take first, and an access list that lets no other user in, so that no file in it can be
// planted, swapped or read by someone else between our writing and our use.

#include <string>

namespace vorlatch {

// Makes a new folder `parent` + `prefix` + random hex digits, accessible only to the current
// user, SYSTEM and the Administrators (no inherited entries). `parent` empty: the current
// directory. Returns its full path with one trailing backslash, or empty when none could be
// made.
std::string CreatePrivateFolder(const std::string& parent, const std::string& prefix);

// Deletes the folder and everything in it; links inside are removed, never followed. False
// when something stayed (a file still in use).
bool RemoveFolderTree(const std::string& folder);

// The last resort for what RemoveFolderTree left: everything in the folder, and the folder,
// is marked for deletion at the next restart (files before the folders that hold them).
void RemoveFolderTreeAtRestart(const std::string& folder);

}  // namespace vorlatch
