#include "support/window_answers.h"

#include <gtest/gtest.h>

namespace vorlatch::test {
namespace {

constexpr char kProgressCaption[] = "Extracting";
constexpr DWORD kPollMs = 20;

// The next window to answer: a visible top-level window that is not the progress window.
HWND NextWindow(DWORD processId) {
  for (const HWND window : TopLevelWindows(processId, true)) {
    const WindowSnapshot snapshot = Snapshot(window);
    // A window on its way out has no class any more.
    if (!snapshot.className.empty() && snapshot.caption != kProgressCaption) {
      return window;
    }
  }
  return nullptr;
}

}  // namespace

WindowAnswer Press(int id) {
  return [id](HWND window) { PressButton(window, id); };
}

std::vector<AnsweredWindow> AnswerWindows(DWORD processId, const std::vector<WindowAnswer>& answers,
                                          DWORD timeoutMs) {
  std::vector<AnsweredWindow> answered;
  for (const WindowAnswer& answer : answers) {
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    HWND window = nullptr;
    AnsweredWindow seen;
    // A window that goes between being found and being read (the dialog before, on a busy
    // machine) is not the one to answer.
    while (::GetTickCount64() < end) {
      window = NextWindow(processId);
      if (window != nullptr) {
        seen.window = Snapshot(window);
        if (!seen.window.className.empty()) {
          break;
        }
        window = nullptr;
      }
      ::Sleep(kPollMs);
    }
    if (window == nullptr) {
      ADD_FAILURE() << "window " << answered.size() + 1 << " of " << answers.size()
                    << " did not come; windows now:\n"
                    << DumpWindows(processId);
      return answered;
    }
    seen.icon = seen.window.MessageBoxIcon();
    answered.push_back(seen);
    answer(window);
    WaitForWindowGone(window);
  }
  return answered;
}

std::string BoxSummary(const AnsweredWindow& answered) {
  return answered.window.caption + ": " + answered.window.MessageText();
}

}  // namespace vorlatch::test
