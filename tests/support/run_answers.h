#pragma once
// Whole runs of the installer or the uninstaller as a child process: answering its windows as
// they come until it ends, or watching an unattended run for windows that must not appear,
// and waiting for the programs it started.

#include <functional>
#include <string>
#include <vector>

#include <windows.h>

#include "support/test_files.h"

namespace vorlatch::test {

inline constexpr DWORD kRunTimeoutMs = 60000;

bool Contains(const std::string& text, const std::string& part);

// Whether the process of this id has ended (or is gone).
bool HasEnded(DWORD processId);

// Waits until no program started from `folder` runs any more: the uninstallers there and the
// copies in the temporary folder below it that finish their work (a program that ends starts
// such a copy first, so none is missed); kills them after the time-out. True when they all
// ended by themselves.
bool WaitForProgramsIn(const std::string& folder);

// One answer of the robot: the window that shows `text` (in its caption or a control) gets
// `edit` typed into control `editId` (when that is set) and then `button` pressed; `whileShown`
// runs before the answer, while the program waits for it.
struct Reply {
  std::string text;
  int button = IDOK;
  int editId = 0;
  std::string edit = {};
  std::function<void()> whileShown = {};
};

// Answers the windows of a child process as they come, each with the first unused reply that
// matches it, until the process ends; any other window fails the test. Returns the caption
// and the message of every answered window ("caption: text"), and the exit code.
std::vector<std::string> AnswerUntilEnd(ChildProcess& child, const std::vector<Reply>& replies,
                                        ProcessResult& result);

struct UnattendedResult {
  ProcessResult process;
  std::vector<std::string> windows;  // every window of the program that showed
};

// Runs the program with `arguments` and watches for its windows (closing each) until it ends.
UnattendedResult RunUnattended(const std::string& program, const std::string& arguments);

}  // namespace vorlatch::test
