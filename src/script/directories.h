#pragma once
// Making sure that a directory exists, creating every missing level of its path. Nothing is
// asked or shown; the result alone tells the caller whether the directory is there.

#include <string>
#include <vector>

#include <windows.h>

namespace vorlatch {

// The pause after each level of a walk, existing or new, that gives the file system (slow
// network drives above all) time to show the new level before the next is made.
inline constexpr DWORD kLevelWaitMilliseconds = 200;

// What a walk did, for callers that want to know, in the order of the walk: every level
// looked at (each one that did not fail cost one wait) and, among them, those it created.
struct DirectoryWalk {
  std::vector<std::string> visited;
  std::vector<std::string> created;
};

// GetFileAttributesA(path) succeeds and names a directory.
bool IsDirectory(const std::string& path);
// White space around `path` removed; true at once for an existing directory, otherwise the
// tree is created.
bool EnsureDirectory(const std::string& path, DirectoryWalk* walk = nullptr,
                     DWORD levelWait = kLevelWaitMilliseconds);
// Creates every missing level from the root outwards; the drive root is never created.
// A failure leaves the levels created so far in place.
bool CreateDirectoryTree(const std::string& path, DirectoryWalk* walk = nullptr,
                         DWORD levelWait = kLevelWaitMilliseconds);

}  // namespace vorlatch
