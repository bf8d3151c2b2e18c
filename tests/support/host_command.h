#pragma once
// Programs of the machine that runs Wine (openssl, osslsigncode), started from a test under
// Wine. Wine starts a Unix program from CreateProcess but neither waits for it nor passes its
// exit status on, so the command writes its status into a file that the test waits for.

#include <optional>
#include <string>

#include <windows.h>

namespace vorlatch::test {

// The Unix path of a Windows path under Wine; empty when there is none (not under Wine).
std::string UnixPath(const std::string& windowsPath);

// Runs a /bin/sh command line (no double quotes in it) and waits for its exit status; none
// when it cannot be started or does not end within `timeoutMs`.
std::optional<int> RunHostCommand(const std::string& shellCommand, DWORD timeoutMs = 60000);

// A path as one word of the shell: in single quotes.
std::string ShellWord(const std::string& unixPath);

}  // namespace vorlatch::test
