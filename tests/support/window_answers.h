#pragma once
// Answering the windows of a run one after another, in the order they appear: each answer
// sees the next message box or dialog (the progress window is passed over) and acts on it.
// What every window showed is kept for the test to check afterwards.

#include <functional>
#include <string>
#include <vector>

#include <windows.h>

#include "support/ui_robot.h"

namespace vorlatch::test {

struct AnsweredWindow {
  WindowSnapshot window;
  HICON icon = nullptr;  // the icon of a message box; null when it has none
};

using WindowAnswer = std::function<void(HWND window)>;

// An answer that presses the button with this id.
WindowAnswer Press(int id);

// Waits for one window after another of the process (0: this process), gives each to the
// next answer and waits until it is gone. A window that does not come within `timeoutMs`
// fails the test and ends the answering.
std::vector<AnsweredWindow> AnswerWindows(DWORD processId, const std::vector<WindowAnswer>& answers,
                                          DWORD timeoutMs = kRobotTimeoutMs);

// "caption: text" of a message box, for comparing whole sequences.
std::string BoxSummary(const AnsweredWindow& answered);

}  // namespace vorlatch::test
