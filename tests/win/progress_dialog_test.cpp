#include "ui/progress_dialog.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "package/process_state.h"
#include "resources/resource.h"
#include "support/screenshot.h"
#include "support/ui_robot.h"

namespace vorlatch {
namespace {

class ProgressWindow : public testing::Test {
 protected:
  void SetUp() override { ResetProcessState(); }
  void TearDown() override { CloseProgress(); }
};

// The dialogs of this process whose caption is "Extracting".
int ExtractingWindows() {
  int count = 0;
  for (const HWND window : TopLevelWindows(0, true)) {
    if (Snapshot(window).caption == "Extracting") {
      ++count;
    }
  }
  return count;
}

TEST_F(ProgressWindow, ThreeFilesShowOneWindowWithEachNameInTurn) {
  const std::vector<std::string> files = {"zap.exe", "zap.dll", "readme.txt"};
  HWND first = nullptr;
  SetProgressTotal(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    ShowProgress("Extracting", files[i]);
    SetProgressDone(i + 1);
    PumpMessages();
    ASSERT_NE(g_state.progress, nullptr);
    const HWND window = g_state.progress->hwnd();
    ASSERT_NE(window, nullptr);
    if (first == nullptr) {
      first = window;
    }
    EXPECT_EQ(window, first) << "created once, updated for later files";
    const WindowSnapshot seen = Snapshot(window);
    EXPECT_EQ(seen.caption, "Extracting");
    EXPECT_EQ(seen.ControlText(IDC_PROGRESS_TEXT), files[i]);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_TRUE(seen.IsTopmost());
    EXPECT_EQ(GetWindow(window, GW_OWNER), nullptr) << "owned by no window";
    EXPECT_EQ(ExtractingWindows(), 1);
    if (i == 1) {
      EXPECT_TRUE(SaveScreenPicture(window, ScreenshotFolder() + "progress_window.png"));
    }
  }
  CloseProgress();
  EXPECT_EQ(g_state.progress, nullptr);
  EXPECT_FALSE(IsWindow(first));
  EXPECT_EQ(ExtractingWindows(), 0);
}

TEST_F(ProgressWindow, CloseWithoutAWindowAndTwiceInARowIsHarmless) {
  CloseProgress();
  EXPECT_EQ(g_state.progress, nullptr);
  ShowProgress("Extracting", "zap.exe");
  ASSERT_NE(g_state.progress, nullptr);
  const HWND window = g_state.progress->hwnd();
  CloseProgress();
  CloseProgress();
  EXPECT_EQ(g_state.progress, nullptr);
  EXPECT_FALSE(IsWindow(window));
  // A later call makes a new window.
  ShowProgress("Extracting", "again.txt");
  ASSERT_NE(g_state.progress, nullptr);
  EXPECT_TRUE(IsWindowVisible(g_state.progress->hwnd()));
  EXPECT_EQ(Snapshot(g_state.progress->hwnd()).ControlText(IDC_PROGRESS_TEXT), "again.txt");
}

TEST_F(ProgressWindow, AWindowDestroyedBehindItsBackIsReplaced) {
  ShowProgress("Extracting", "one.txt");
  ASSERT_NE(g_state.progress, nullptr);
  DestroyWindow(g_state.progress->hwnd());
  ShowProgress("Extracting", "two.txt");
  ASSERT_NE(g_state.progress, nullptr);
  ASSERT_NE(g_state.progress->hwnd(), nullptr);
  EXPECT_EQ(Snapshot(g_state.progress->hwnd()).ControlText(IDC_PROGRESS_TEXT), "two.txt");
  EXPECT_EQ(ExtractingWindows(), 1);
}

TEST_F(ProgressWindow, StaysUntilClosedWhateverTheUserPresses) {
  ShowProgress("Extracting", "zap.exe");
  ASSERT_NE(g_state.progress, nullptr);
  const HWND window = g_state.progress->hwnd();
  SendKey(window, VK_ESCAPE);
  SendKey(window, VK_RETURN);
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  PostMessageA(window, WM_CLOSE, 0, 0);
  PumpMessages();
  EXPECT_TRUE(IsWindow(window));
  EXPECT_TRUE(IsWindowVisible(window));
}

// A window that counts the messages it is sent.
std::vector<UINT> g_received;

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message >= WM_APP) {
    g_received.push_back(message);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// The bar tells how far it is drawn; a total beyond 32 bits still ends full.
TEST_F(ProgressWindow, TheBarFollowsTheBytesToItsEnd) {
  for (const std::uint64_t total : {std::uint64_t{4000}, std::uint64_t{6} << 30}) {
    SetProgressTotal(total);
    ShowProgress("Extracting", "big.bin");
    EXPECT_EQ(ReadControlText(g_state.progress->hwnd(), IDC_PROGRESS_BAR), "0%");
    SetProgressDone(total / 4);
    EXPECT_EQ(ReadControlText(g_state.progress->hwnd(), IDC_PROGRESS_BAR), "25%");
    SetProgressDone(total - 1);
    EXPECT_EQ(ReadControlText(g_state.progress->hwnd(), IDC_PROGRESS_BAR), "99%");
    SetProgressDone(total);
    EXPECT_EQ(ReadControlText(g_state.progress->hwnd(), IDC_PROGRESS_BAR), "100%");
  }
}

TEST(PumpMessages, DispatchesUpToAQuitMessageAndDropsIt) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = &CountingProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "VorlatchPumpTest";
  ASSERT_NE(RegisterClassA(&windowClass), 0);
  const HWND window = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                      nullptr, windowClass.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  g_received.clear();

  PostMessageA(window, WM_APP + 1, 0, 0);
  PostMessageA(window, WM_APP + 2, 0, 0);
  PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 3, 0);
  PostMessageA(window, WM_APP + 3, 0, 0);
  PumpMessages();
  EXPECT_EQ(g_received, (std::vector<UINT>{WM_APP + 1, WM_APP + 2}));
  MSG message;
  EXPECT_FALSE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE))
      << "the quit message is gone";

  // The next pump carries on with what was left behind the quit message.
  PumpMessages();
  EXPECT_EQ(g_received, (std::vector<UINT>{WM_APP + 1, WM_APP + 2, WM_APP + 3}));
  DestroyWindow(window);
  UnregisterClassA(windowClass.lpszClassName, windowClass.hInstance);
}

}  // namespace
}  // namespace vorlatch
