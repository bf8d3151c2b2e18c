#include "ui/confirm_dialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "resources/resource.h"
#include "support/screenshot.h"
#include "support/ui_robot.h"

namespace vorlatch {
namespace {

constexpr char kOverwriteQuestion[] = "File C:\\Zap\\zap.exe exists.\r\nOverwrite?";

// Opens the dialog on the main thread while the robot, on a helper thread, waits for it,
// records what it shows and answers it with `answer`.
int AskWithRobot(const std::string& text, const std::function<void(HWND)>& answer,
                 WindowSnapshot* seen = nullptr) {
  int result = 0;
  RobotThread robot([&] {
    WindowQuery query;
    query.caption = "Confirm";
    query.className = "#32770";
    const HWND window = WaitForWindow(query);
    if (window == nullptr) {
      return;
    }
    if (seen != nullptr) {
      *seen = Snapshot(window);
    }
    answer(window);
  });
  result = ShowConfirmDialog(text);
  robot.Join();
  return result;
}

struct ButtonCase {
  int button;
  int expected;
};

class ConfirmDialogButton : public testing::TestWithParam<ButtonCase> {};

TEST_P(ConfirmDialogButton, ReturnsTheCodeOfTheButtonPressed) {
  const int button = GetParam().button;
  EXPECT_EQ(AskWithRobot("Question?", [&](HWND window) { PressButton(window, button); }),
            GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(AllButtons, ConfirmDialogButton,
                         testing::Values(ButtonCase{IDYES, 6}, ButtonCase{IDNO, 7},
                                         ButtonCase{IDYESTOALL, 1013}, ButtonCase{IDNOTOALL, 1014},
                                         ButtonCase{IDCANCEL, 2}),
                         [](const testing::TestParamInfo<ButtonCase>& info) {
                           return "Button" + std::to_string(info.param.button);
                         });

TEST(ConfirmDialog, EnterRightAfterOpeningAnswersYes) {
  HWND focused = nullptr;
  HWND yes = nullptr;
  const int result = AskWithRobot("Question?", [&](HWND window) {
    focused = FocusedControl(window);
    yes = GetDlgItem(window, IDYES);
    SendKey(window, VK_RETURN);
  });
  EXPECT_EQ(result, IDYES);
  EXPECT_EQ(focused, yes) << "the first tab stop, Yes, has the focus";
}

TEST(ConfirmDialog, EscapeAnswersCancel) {
  EXPECT_EQ(AskWithRobot("Question?", [](HWND window) { SendKey(window, VK_ESCAPE); }), IDCANCEL);
}

TEST(ConfirmDialog, AltF4AndCloseRequestAnswerCancel) {
  // Alt+F4 as the keyboard sends it to the focused button: a system key with the Alt bit.
  const int altF4 = AskWithRobot("Question?", [](HWND window) {
    const HWND focus = FocusedControl(window);
    const HWND target = focus != nullptr ? focus : window;
    const LPARAM down =
        static_cast<LPARAM>(1 | (MapVirtualKeyA(VK_F4, MAPVK_VK_TO_VSC) << 16) | (1u << 29));
    PostMessageA(target, WM_SYSKEYDOWN, VK_F4, down);
  });
  EXPECT_EQ(altF4, IDCANCEL);
  EXPECT_EQ(AskWithRobot("Question?", [](HWND window) { RequestClose(window); }), IDCANCEL);
}

TEST(ConfirmDialog, ShowsATwoLineMessageBesideTheIconAndTheButtonsInOrder) {
  WindowSnapshot seen;
  bool saved = false;
  RECT textRect{};
  int textLines = 0;
  int textHeight = 0;
  RECT iconRect{};
  std::vector<int> bottomRowLeftToRight;
  const int result = AskWithRobot(
      kOverwriteQuestion,
      [&](HWND window) {
        const HWND text = GetDlgItem(window, IDC_CONFIRM_TEXT);
        GetWindowRect(text, &textRect);
        // The static breaks the line at CR LF: its text needs two lines of the font's height.
        const HDC dc = GetDC(text);
        const HGDIOBJ old =
            SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(text, WM_GETFONT, 0, 0)));
        RECT measure{0, 0, textRect.right - textRect.left, 0};
        const int height = DrawTextA(dc, kOverwriteQuestion, -1, &measure,
                                     DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        TEXTMETRICA metrics{};
        GetTextMetricsA(dc, &metrics);
        SelectObject(dc, old);
        ReleaseDC(text, dc);
        textLines = metrics.tmHeight > 0 ? height / metrics.tmHeight : 0;
        textHeight = height;
        for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
          if ((GetWindowLongPtrA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            GetWindowRect(child, &iconRect);
          }
        }

        std::vector<std::pair<LONG, int>> row;
        for (const int id : {IDYES, IDNO, IDYESTOALL, IDNOTOALL}) {
          RECT rect{};
          GetWindowRect(GetDlgItem(window, id), &rect);
          row.emplace_back(rect.left, id);
        }
        std::sort(row.begin(), row.end());
        for (const auto& [left, id] : row) {
          bottomRowLeftToRight.push_back(id);
        }
        saved = SaveScreenPicture(window, ScreenshotFolder() + "confirm_dialog.png");
        PressButton(window, IDNO);
      },
      &seen);
  EXPECT_EQ(result, IDNO);
  ASSERT_NE(seen.hwnd, nullptr);
  EXPECT_TRUE(saved);
  EXPECT_EQ(seen.ControlText(IDC_CONFIRM_TEXT), kOverwriteQuestion);
  EXPECT_EQ(textLines, 2);
  EXPECT_LE(textHeight, textRect.bottom - textRect.top) << "both lines fit the text area";
  EXPECT_GT(iconRect.right, iconRect.left) << "the program's icon is shown";
  EXPECT_LE(iconRect.right, textRect.left) << "the text stands beside the icon";
  EXPECT_EQ(seen.ControlText(IDYES), "&Yes");
  EXPECT_EQ(seen.ControlText(IDNO), "&No");
  EXPECT_EQ(seen.ControlText(IDYESTOALL), "Yes to &All");
  EXPECT_EQ(seen.ControlText(IDNOTOALL), "No to A&ll");
  EXPECT_EQ(seen.ControlText(IDCANCEL), "&Cancel");
  EXPECT_EQ(bottomRowLeftToRight, (std::vector<int>{IDYES, IDNO, IDYESTOALL, IDNOTOALL}));
  EXPECT_EQ(seen.style & WS_SYSMENU, 0u) << "no system menu, so no close box";
  ASSERT_NE(seen.Control(IDYES), nullptr);
  EXPECT_EQ(seen.Control(IDYES)->style & BS_TYPEMASK, static_cast<DWORD>(BS_DEFPUSHBUTTON));
}

}  // namespace
}  // namespace vorlatch
