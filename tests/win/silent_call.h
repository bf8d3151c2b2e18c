#pragma once
// Runs code that is expected to show no dialog or message box, and says whether it did. A box
// that does appear would hold the call; a watchdog then closes it so that the test ends.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "support/ui_robot.h"
#include "win/handles.h"

namespace vorlatch::test {

// Counts the dialog-class windows (message boxes among them) that this thread creates while
// the object exists.
class DialogCounter {
 public:
  DialogCounter() {
    s_count = 0;
    hook_ = SetWindowsHookExA(WH_CBT, &DialogCounter::Hook, nullptr, GetCurrentThreadId());
  }
  ~DialogCounter() { UnhookWindowsHookEx(hook_); }
  DialogCounter(const DialogCounter&) = delete;
  DialogCounter& operator=(const DialogCounter&) = delete;
  bool installed() const { return hook_ != nullptr; }
  int count() const { return s_count; }

 private:
  static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
      char className[64] = {};
      GetClassNameA(reinterpret_cast<HWND>(wParam), className, sizeof className);
      if (std::string(className) == "#32770") {
        ++s_count;
      }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }

  static inline int s_count = 0;
  HHOOK hook_ = nullptr;
};

// Calls `call` on this thread; fails the test when it opened a dialog or message box.
template <typename Call>
void ExpectNoDialog(Call&& call) {
  DialogCounter counter;
  ASSERT_TRUE(counter.installed());
  const UniqueHandle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  RobotThread watchdog([&] {
    if (WaitForSingleObject(done.get(), 10000) != WAIT_OBJECT_0) {
      ADD_FAILURE() << "a window held the call:\n" << DumpWindows(0);
      CloseAllWindows(0);
    }
  });
  call();
  SetEvent(done.get());
  watchdog.Join();
  EXPECT_EQ(counter.count(), 0) << "a dialog or message box was shown";
}

}  // namespace vorlatch::test
