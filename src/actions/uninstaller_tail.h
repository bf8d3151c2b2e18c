#pragma once
// The tail of Uninstall.exe: the program, the log text, the text's length (u32,
// little-endian). Reading it back (the uninstaller reads its own; the installer reads the one
// of an earlier installation before replacing it) and writing a newer log over the frozen one.

#include <cstdint>
#include <optional>
#include <string>

#include <windows.h>

#include "uninstaller/frozen_log.h"

namespace vorlatch {

// The log text in the tail of the file at `path`, when the tail can be trusted: a sound
// length, a whole program before it, and text that starts with a section.
std::optional<std::string> ReadFrozenLogText(const std::string& path, TailProblem& problem);

// Replaces the log frozen into the uninstaller by the current content of `log`: the program
// stays, the new text and its length follow it. The tail is checked first; a file that does
// not carry a trustworthy one is left alone. When the new tail cannot be written whole, the
// old one is written back. True when the uninstaller carries the new log.
bool RefreezeUninstallLog(const std::string& uninstaller, const std::string& log);

// Waits, for a few seconds at most, while another program holds `path` so that it cannot be
// written: a program file just written is opened for a moment by virus scanners and by the
// shell taking the icon for a new shortcut. False when it still cannot be opened for writing.
bool AwaitWriteAccess(const std::string& path);

// Reads exactly `length` bytes at `offset` of an open file.
bool ReadFileAt(HANDLE file, std::uint64_t offset, void* buffer, std::uint32_t length);

// Writes the text into a new file of a unique name in `folder` (GetTempFileNameA with the
// prefix); the file's path, or empty (and no file) when that fails.
std::string WriteUniqueFile(const std::string& folder, const char* prefix, const std::string& text);

// Takes the read-only attribute off a file (others stay); the uninstaller must stay writable,
// since its log is written into its tail.
void ClearReadOnly(const std::string& path);

}  // namespace vorlatch
