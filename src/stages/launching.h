#pragma once
// Starting programs and opening documents without the shell: a document is first tried as
// a program, then handed to the program that the registry associates with its extension.
// Nothing here reports to the user; failures are results.

#include <string>

#include <windows.h>

#include "win/handles.h"

namespace vorlatch {

// Longest registry value (and expanded command) read here, in bytes with the terminating zero.
inline constexpr DWORD kOpenCommandBufferSize = 520;

// The program registered under HKEY_CLASSES_ROOT to open files with the extension of `path`
// (the program part of its Shell\Open\Command, environment references expanded); empty when
// there is none.
std::string FindOpenCommand(const std::string& path);

// Starts a process from `commandLine` and waits for it at most `waitMs` milliseconds.
// 1 when it was started and the wait ended (the process ended or the time ran out), else 0.
// With `started`, the process handle is handed over there instead of being closed.
int RunProgram(const std::string& commandLine, DWORD waitMs, UniqueHandle* started = nullptr);

// Starts `path` as a program, else opens it with its registered program. 1 when a process
// was started; its handle goes to `started` when that is given.
int OpenDocument(const std::string& path, DWORD waitMs, UniqueHandle* started = nullptr);

}  // namespace vorlatch
