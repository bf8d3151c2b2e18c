#include "ui/licence_dialog.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "resources/resource.h"
#include "support/screenshot.h"
#include "support/ui_robot.h"

namespace vorlatch {
namespace {

constexpr char kCaption[] = "Zap licence";
constexpr int kMargin = 5;

// Runs ShowLicenceDialog on the main thread while the robot waits for the window, records
// it and answers it.
int ShowWithRobot(const std::string& text, const std::string& footer, std::uint32_t flags,
                  const std::function<void(HWND)>& answer, WindowSnapshot* seen = nullptr) {
  RobotThread robot([&] {
    WindowQuery query;
    query.caption = kCaption;
    const HWND window = WaitForWindow(query);
    if (window == nullptr) {
      return;
    }
    if (seen != nullptr) {
      *seen = Snapshot(window);
    }
    answer(window);
  });
  const int result = ShowLicenceDialog(kCaption, text, footer, flags);
  robot.Join();
  return result;
}

RECT ClientRectOf(HWND dialog, int id) {
  RECT rect{};
  GetWindowRect(GetDlgItem(dialog, id), &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

TEST(LicenceLineEnds, EveryLineFeedBecomesCrLfAndStrayCarriageReturnsGo) {
  EXPECT_EQ(WithCrLfLineEnds("one\r\ntwo\r\n"), "one\r\ntwo\r\n");
  EXPECT_EQ(WithCrLfLineEnds("one\ntwo\n"), "one\r\ntwo\r\n");
  EXPECT_EQ(WithCrLfLineEnds("a\r\r\nb\rc"), "a\r\nbc");
  EXPECT_EQ(WithCrLfLineEnds("\n\n"), "\r\n\r\n");
  EXPECT_EQ(WithCrLfLineEnds(""), "");
}

// How the user ends the dialog.
enum class Answer { kLeft, kRight, kEscape, kClose };

struct FlagCase {
  std::uint32_t flags;
  Answer answer;
  int expected;
  const char* name;
};

class LicenceAnswer : public testing::TestWithParam<FlagCase> {};

TEST_P(LicenceAnswer, ReturnsWhetherTheUserAccepted) {
  const FlagCase& c = GetParam();
  const int result = ShowWithRobot("Terms.", "", c.flags, [&](HWND window) {
    switch (c.answer) {
      case Answer::kLeft:
        PressButton(window, IDC_LICENCE_LEFT_BUTTON);
        break;
      case Answer::kRight:
        PressButton(window, IDC_LICENCE_RIGHT_BUTTON);
        break;
      case Answer::kEscape:
        SendKey(window, VK_ESCAPE);
        break;
      case Answer::kClose:
        RequestClose(window);
        break;
    }
  });
  EXPECT_EQ(result, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Flags, LicenceAnswer,
                         testing::Values(FlagCase{0x1024, Answer::kLeft, 1, "YesNoYes"},
                                         FlagCase{0x1024, Answer::kRight, 0, "YesNoNo"},
                                         FlagCase{0x1024, Answer::kEscape, 0, "YesNoEscape"},
                                         FlagCase{0x1024, Answer::kClose, 0, "YesNoClose"},
                                         FlagCase{0x1021, Answer::kLeft, 1, "OkCancelOk"},
                                         FlagCase{0x1021, Answer::kRight, 0, "OkCancelCancel"},
                                         FlagCase{0x1040, Answer::kRight, 1, "InformationOk"},
                                         FlagCase{0x1040, Answer::kEscape, 0, "InformationEscape"},
                                         FlagCase{0x1040, Answer::kClose, 0, "InformationClose"}),
                         [](const testing::TestParamInfo<FlagCase>& info) {
                           return std::string(info.param.name);
                         });

HICON IconOf(HWND dialog) {
  return reinterpret_cast<HICON>(
      SendMessageA(GetDlgItem(dialog, IDC_LICENCE_ICON), STM_GETICON, 0, 0));
}

TEST(LicenceDialog, YesNoShowsYesLeftAndNoRightAsDefaultWithTheQuestionIcon) {
  WindowSnapshot seen;
  HICON icon = nullptr;
  RECT left{};
  RECT right{};
  bool saved = false;
  ShowWithRobot(
      "Licence text.", "Do you accept the agreement?", 0x1024,
      [&](HWND window) {
        icon = IconOf(window);
        left = ClientRectOf(window, IDC_LICENCE_LEFT_BUTTON);
        right = ClientRectOf(window, IDC_LICENCE_RIGHT_BUTTON);
        saved = SaveScreenPicture(window, ScreenshotFolder() + "licence_dialog_yes_no.png");
        PressButton(window, IDC_LICENCE_RIGHT_BUTTON);
      },
      &seen);
  ASSERT_NE(seen.hwnd, nullptr);
  EXPECT_TRUE(saved);
  EXPECT_EQ(seen.caption, kCaption);
  EXPECT_EQ(seen.ControlText(IDC_LICENCE_LEFT_BUTTON), "&Yes");
  EXPECT_EQ(seen.ControlText(IDC_LICENCE_RIGHT_BUTTON), "&No");
  EXPECT_LT(left.right, right.left);
  ASSERT_NE(seen.Control(IDC_LICENCE_RIGHT_BUTTON), nullptr);
  EXPECT_EQ(seen.Control(IDC_LICENCE_RIGHT_BUTTON)->style & BS_TYPEMASK,
            static_cast<DWORD>(BS_DEFPUSHBUTTON));
  EXPECT_EQ(icon, LoadIconA(nullptr, IDI_QUESTION));
  EXPECT_EQ(seen.ControlText(IDC_LICENCE_FOOTER), "Do you accept the agreement?");
  EXPECT_TRUE(seen.Control(IDC_LICENCE_FOOTER)->visible);
}

TEST(LicenceDialog, OkCancelShowsOkLeftAndCancelRight) {
  WindowSnapshot seen;
  const int result = ShowWithRobot(
      "Terms.", "", 0x1021, [](HWND window) { PressButton(window, IDC_LICENCE_LEFT_BUTTON); },
      &seen);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(seen.ControlText(IDC_LICENCE_LEFT_BUTTON), "O&K");
  EXPECT_EQ(seen.ControlText(IDC_LICENCE_RIGHT_BUTTON), "Ca&ncel");
}

TEST(LicenceDialog, InformationShowsOneOkButtonAtTheRightAndTheExclamationIcon) {
  WindowSnapshot seen;
  HICON icon = nullptr;
  HICON smallIcon = nullptr;
  bool saved = false;
  const int result = ShowWithRobot(
      "Read me.", "", 0x1040,
      [&](HWND window) {
        icon = IconOf(window);
        smallIcon = reinterpret_cast<HICON>(SendMessageA(window, WM_GETICON, ICON_SMALL, 0));
        saved = SaveScreenPicture(window, ScreenshotFolder() + "licence_dialog_information.png");
        SendKey(window, VK_RETURN);  // the one button is the default: Enter accepts
      },
      &seen);
  EXPECT_EQ(result, 1);
  EXPECT_TRUE(saved);
  EXPECT_FALSE(seen.HasControl(IDC_LICENCE_LEFT_BUTTON));
  EXPECT_EQ(seen.ControlText(IDC_LICENCE_RIGHT_BUTTON), "O&K");
  EXPECT_EQ(seen.ButtonIds(), (std::vector<int>{IDC_LICENCE_RIGHT_BUTTON}));
  EXPECT_EQ(icon, LoadIconA(nullptr, IDI_EXCLAMATION));
  EXPECT_NE(smallIcon, nullptr) << "the program's icon in the caption bar";
}

struct TextSeen {
  std::string text;
  int lines = 0;
  DWORD selectionStart = 1;
  DWORD selectionEnd = 2;
};

TextSeen ShowText(const std::string& text) {
  TextSeen seen;
  ShowWithRobot(text, "", 0x1024, [&](HWND window) {
    const HWND field = GetDlgItem(window, IDC_LICENCE_TEXT);
    seen.text = ReadControlText(window, IDC_LICENCE_TEXT);
    seen.lines = static_cast<int>(SendMessageA(field, EM_GETLINECOUNT, 0, 0));
    SendMessageA(field, EM_GETSEL, reinterpret_cast<WPARAM>(&seen.selectionStart),
                 reinterpret_cast<LPARAM>(&seen.selectionEnd));
    SendKey(window, VK_ESCAPE);
  });
  return seen;
}

TEST(LicenceDialog, CrLfAndBareLineFeedTextsShowSingleLineBreaks) {
  const TextSeen crLf = ShowText("First line\r\nSecond line\r\nThird line");
  EXPECT_EQ(crLf.text, "First line\r\nSecond line\r\nThird line");
  EXPECT_EQ(crLf.lines, 3) << "no doubled empty lines";

  const TextSeen bare = ShowText("First line\nSecond line\nThird line");
  EXPECT_EQ(bare.text, "First line\r\nSecond line\r\nThird line");
  EXPECT_EQ(bare.lines, 3);
  // The text field has the focus but nothing selected.
  EXPECT_EQ(bare.selectionStart, bare.selectionEnd);
}

TEST(LicenceDialog, AnEmptyFooterLeavesNoStaticTextVisible) {
  WindowSnapshot seen;
  ShowWithRobot(
      "Terms.", "", 0x1024, [](HWND window) { SendKey(window, VK_ESCAPE); }, &seen);
  ASSERT_NE(seen.hwnd, nullptr);
  for (const ControlSnapshot& control : seen.controls) {
    if (control.visible) {
      EXPECT_EQ(control.text.find("Static"), std::string::npos) << seen.Describe();
    }
  }
  ASSERT_TRUE(seen.HasControl(IDC_LICENCE_FOOTER));
  EXPECT_FALSE(seen.Control(IDC_LICENCE_FOOTER)->visible);
}

TEST(LicenceDialog, SizingKeepsTheMinimumWidthAndLaysOutTheControls) {
  int narrowWidth = 0;
  RECT client{};
  RECT text{};
  RECT icon{};
  RECT right{};
  RECT left{};
  RECT footer{};
  int grownTextWidth = 0;
  int textWidthBefore = 0;
  bool saved = false;
  ShowWithRobot(std::string(2000, 'x'), "Do you accept?", 0x1024, [&](HWND window) {
    textWidthBefore = ClientRectOf(window, IDC_LICENCE_TEXT).right;
    // What dragging the border does: the window asks for a smaller size.
    SetWindowPos(window, nullptr, 0, 0, 200, 300, SWP_NOMOVE | SWP_NOZORDER);
    RECT rect{};
    GetWindowRect(window, &rect);
    narrowWidth = rect.right - rect.left;
    GetClientRect(window, &client);
    text = ClientRectOf(window, IDC_LICENCE_TEXT);
    icon = ClientRectOf(window, IDC_LICENCE_ICON);
    right = ClientRectOf(window, IDC_LICENCE_RIGHT_BUTTON);
    left = ClientRectOf(window, IDC_LICENCE_LEFT_BUTTON);
    footer = ClientRectOf(window, IDC_LICENCE_FOOTER);
    saved = SaveScreenPicture(window, ScreenshotFolder() + "licence_dialog_narrow.png");
    SetWindowPos(window, nullptr, 0, 0, 900, 500, SWP_NOMOVE | SWP_NOZORDER);
    grownTextWidth = ClientRectOf(window, IDC_LICENCE_TEXT).right;
    SendKey(window, VK_ESCAPE);
  });
  EXPECT_TRUE(saved);
  EXPECT_EQ(narrowWidth, 400);
  const int width = client.right;
  const int height = client.bottom;
  const int buttonHeight = right.bottom - right.top;
  const int buttonWidth = right.right - right.left;
  const int iconSize = GetSystemMetrics(SM_CXICON);
  EXPECT_EQ(text.left, kMargin);
  EXPECT_EQ(text.top, kMargin);
  EXPECT_EQ(text.right, width - kMargin);
  EXPECT_EQ(text.bottom, height - buttonHeight - 4 * kMargin);
  EXPECT_EQ(icon.left, kMargin);
  EXPECT_EQ(icon.bottom, height - kMargin);
  EXPECT_EQ(icon.right - icon.left, iconSize);
  EXPECT_EQ(right.right, width - kMargin);
  EXPECT_EQ(right.bottom, height - kMargin);
  EXPECT_EQ(left.right, width - buttonWidth - 2 * kMargin);
  EXPECT_EQ(left.bottom, height - kMargin);
  EXPECT_EQ(footer.left, icon.right + kMargin);
  EXPECT_EQ(footer.right, left.left - kMargin);
  const int footerHeight = footer.bottom - footer.top;
  EXPECT_EQ(footer.bottom, height - kMargin - (buttonHeight - footerHeight) / 2);
  EXPECT_GT(grownTextWidth, textWidthBefore) << "the text field grows with the window";
}

}  // namespace
}  // namespace vorlatch
