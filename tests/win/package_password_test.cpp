// The password dialog and the password gate, answered by the robot; the gate with installers
// locked by the packer's [Build] Password.

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include <windows.h>

#include "app/package_password.h"
#include "package/format.h"
#include "package/opening.h"
#include "package/process_state.h"
#include "packer/ini_text.h"
#include "resources/resource.h"
#include "support/screenshot.h"
#include "support/test_files.h"
#include "support/ui_robot.h"

namespace vorlatch {
namespace {

using test::ScopedEnvironment;
using test::TempFolder;

// The label has no id of its own: the template's -1 reads back as the 16-bit 65535.
constexpr int kLabelId = 0xFFFF;

WindowSnapshot WaitForPasswordDialog(const std::string& title) {
  return WaitForSnapshot({.caption = title, .className = "#32770"});
}

// Types a wrong entry and presses OK: the field must be emptied, with the focus back in it
// and the dialog still open.
void ExpectRefused(HWND dialog, const std::string& typed, bool withEnter = false) {
  SCOPED_TRACE("typed \"" + typed + "\"");
  SetControlText(dialog, IDC_PASSWORD, typed);
  if (withEnter) {
    SendKey(dialog, VK_RETURN);
  } else {
    PressButton(dialog, IDOK);
  }
  EXPECT_TRUE(WaitForControlText(dialog, IDC_PASSWORD, ""));
  EXPECT_TRUE(IsWindowVisible(dialog));
  EXPECT_EQ(FocusedControl(dialog), GetDlgItem(dialog, IDC_PASSWORD));
}

// Runs AskPassword on this thread while `answer` works the dialog on the robot's.
int AskWithRobot(const std::string& title, const std::string& expected,
                 const std::function<void(HWND)>& answer) {
  RobotThread robot([&] {
    const WindowSnapshot seen = WaitForPasswordDialog(title);
    if (seen.hwnd != nullptr) {
      answer(seen.hwnd);
    }
  });
  const int result = AskPassword(title, expected);
  robot.Join();
  return result;
}

TEST(PasswordDialog, Template136AsTheRobotSeesIt) {
  WindowSnapshot seen;
  HWND focused = nullptr;
  LRESULT passwordChar = -1;
  DWORD fieldExStyle = 0;
  LOGFONTA font = {};
  std::vector<std::string> misplaced;
  bool saved = false;
  const std::string picture = ScreenshotFolder() + "password_dialog.png";
  DeleteFileA(picture.c_str());
  const int result = AskWithRobot("Acme Corp", "pw", [&](HWND window) {
    seen = Snapshot(window);
    focused = FocusedControl(window);
    passwordChar = SendMessageA(GetDlgItem(window, IDC_PASSWORD), EM_GETPASSWORDCHAR, 0, 0);
    fieldExStyle =
        static_cast<DWORD>(GetWindowLongPtrA(GetDlgItem(window, IDC_PASSWORD), GWL_EXSTYLE));
    const auto dialogFont = reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
    GetObjectA(dialogFont, sizeof font, &font);
    // Every control where the template puts it, in dialog units.
    struct Place {
      int id;
      RECT units;
    };
    const Place places[] = {{IDOK, {85, 7, 85 + 35, 7 + 14}},
                            {IDCANCEL, {85, 24, 85 + 35, 24 + 14}},
                            {kLabelId, {7, 8, 7 + 74, 8 + 8}},
                            {IDC_PASSWORD, {7, 24, 7 + 73, 24 + 14}}};
    for (const Place& place : places) {
      RECT expected = place.units;
      MapDialogRect(window, &expected);
      RECT actual = {};
      GetWindowRect(GetDlgItem(window, place.id), &actual);
      MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&actual), 2);
      if (!EqualRect(&expected, &actual)) {
        misplaced.push_back(std::to_string(place.id));
      }
    }
    saved = SaveScreenPicture(window, picture);
    PressButton(window, IDCANCEL);
  });
  SCOPED_TRACE(seen.Describe());
  EXPECT_EQ(result, 0);
  EXPECT_EQ(seen.caption, "Acme Corp");  // the template's "Password" is replaced
  const DWORD frame = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
  EXPECT_EQ(seen.style & frame, frame);
  EXPECT_STREQ(font.lfFaceName, "MS Sans Serif");
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(font.lfHeight, -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72));
  ReleaseDC(nullptr, screen);
  EXPECT_TRUE(misplaced.empty()) << "misplaced controls: " << ::testing::PrintToString(misplaced);

  ASSERT_EQ(seen.controls.size(), 4u);
  const ControlSnapshot* ok = seen.Control(IDOK);
  const ControlSnapshot* cancel = seen.Control(IDCANCEL);
  const ControlSnapshot* label = seen.Control(kLabelId);
  const ControlSnapshot* field = seen.Control(IDC_PASSWORD);
  ASSERT_TRUE(ok && cancel && label && field);
  EXPECT_EQ(ok->text, "O&K");
  EXPECT_EQ(ok->style & BS_TYPEMASK, static_cast<DWORD>(BS_DEFPUSHBUTTON));
  EXPECT_EQ(cancel->text, "Ca&ncel");
  EXPECT_EQ(cancel->style & BS_TYPEMASK, static_cast<DWORD>(BS_PUSHBUTTON));
  EXPECT_EQ(label->className, "Static");
  EXPECT_EQ(label->text, "Please enter password:");
  EXPECT_EQ(field->className, "Edit");
  EXPECT_EQ(field->text, "");
  const DWORD fieldStyle = ES_AUTOHSCROLL | WS_TABSTOP;
  EXPECT_EQ(field->style & fieldStyle, fieldStyle);
  // The edit control turns the template's border into a sunken client edge when it is made.
  EXPECT_TRUE((field->style & WS_BORDER) != 0 || (fieldExStyle & WS_EX_CLIENTEDGE) != 0);
  EXPECT_EQ(field->style & (ES_PASSWORD | ES_MULTILINE), 0u);
  EXPECT_EQ(passwordChar, 0) << "typed characters are shown as they are";
  // The focus starts in the field, not on the first button.
  EXPECT_EQ(focused, field->hwnd);
  EXPECT_TRUE(saved);
}

TEST(PasswordDialog, WrongCaseIsRefusedAsOftenAsTriedThenTheRightOneEndsIt) {
  bool refusedAll = true;
  const int result = AskWithRobot("Password", "Secret", [&](HWND window) {
    ExpectRefused(window, "SECRET");
    ExpectRefused(window, "secret", true);
    ExpectRefused(window, "Secret ");
    // No limit on the attempts.
    for (int attempt = 0; attempt < 5; ++attempt) {
      ExpectRefused(window, "nope" + std::to_string(attempt));
    }
    refusedAll = IsWindowVisible(window) != FALSE;
    SetControlText(window, IDC_PASSWORD, "Secret");
    SendKey(window, VK_RETURN);
  });
  EXPECT_TRUE(refusedAll);
  EXPECT_EQ(result, 1);
}

TEST(PasswordDialog, EmptyExpectedPasswordTakesOnlyAnEmptyField) {
  const int result = AskWithRobot("Password", "", [](HWND window) {
    ExpectRefused(window, " ");
    ExpectRefused(window, "x");
    PressButton(window, IDOK);
  });
  EXPECT_EQ(result, 1);
}

TEST(PasswordDialog, SixteenCharactersAndATypedSeventeenth) {
  const std::string sixteen = "0123456789abcdeF";
  const int result = AskWithRobot("Password", sixteen, [&](HWND window) {
    // A 17th character typed at the end of the right password: the field takes it (there is
    // no length limit), and the entry is then wrong.
    SetControlText(window, IDC_PASSWORD, sixteen);
    const HWND field = GetDlgItem(window, IDC_PASSWORD);
    PostMessageA(field, EM_SETSEL, sixteen.size(), sixteen.size());
    PostMessageA(field, WM_CHAR, 'G', 1);
    if (WaitForControlText(window, IDC_PASSWORD, sixteen + "G")) {
      PressButton(window, IDOK);
      EXPECT_TRUE(WaitForControlText(window, IDC_PASSWORD, ""));
    }
    ExpectRefused(window, sixteen.substr(0, 15));
    SetControlText(window, IDC_PASSWORD, sixteen);
    PressButton(window, IDOK);
  });
  EXPECT_EQ(result, 1);
}

TEST(PasswordDialog, CancelEscapeAndTheCloseBoxGiveZero) {
  EXPECT_EQ(AskWithRobot("Password", "pw",
                         [](HWND window) {
                           // Even with the right password in the field.
                           SetControlText(window, IDC_PASSWORD, "pw");
                           PressButton(window, IDCANCEL);
                         }),
            0);
  EXPECT_EQ(AskWithRobot("Password", "pw", [](HWND window) { SendKey(window, VK_ESCAPE); }), 0);
  EXPECT_EQ(AskWithRobot("Password", "pw", [](HWND window) { RequestClose(window); }), 0);
}

// The gate as start-up runs it: a package opened from a real installer, its script extracted
// into a temporary folder of the test's own.
class PasswordGateTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetProcessState(); }
  void TearDown() override {
    ClosePackage();
    CleanupTemporaryFiles();
    ResetProcessState();
  }

  std::string Build(const std::string& project) {
    std::string error;
    const std::string installer = test::BuildTestInstaller(folder_, project, error);
    EXPECT_FALSE(installer.empty()) << error;
    return installer;
  }

  void Open(const std::string& installer) {
    ASSERT_TRUE(OpenPackageFile(installer));
    ASSERT_TRUE(ExtractScript());
  }

  // Runs the gate; every window that appears meanwhile is recorded and cancelled, so that a
  // test that expects none cannot hang.
  int RunGateAnsweringNothing(std::vector<WindowSnapshot>& windows) {
    std::atomic<bool> done{false};
    RobotThread robot([&] {
      while (!done) {
        const std::vector<HWND> open = TopLevelWindows(0, true);
        for (const HWND window : open) {
          windows.push_back(Snapshot(window));
        }
        if (!open.empty()) {
          CloseAllWindows(0);
        }
        Sleep(10);
      }
    });
    const int result = CheckPackagePassword();
    done = true;
    robot.Join();
    return result;
  }

  TempFolder folder_;
  std::string temp_ = folder_.Subfolder("temp");
  ScopedEnvironment tmp_{"Tmp", temp_};
};

TEST_F(PasswordGateTest, UnprotectedGoesOnWithoutADialogEvenWithAPasswordKey) {
  Open(Build("[Before]\nPassword=abc\n[General]\nCompany=Acme\n"));
  std::vector<WindowSnapshot> windows;
  EXPECT_EQ(RunGateAnsweringNothing(windows), 1);
  EXPECT_TRUE(windows.empty()) << windows.front().Describe();
}

TEST_F(PasswordGateTest, LockedInstallerAsksWithTheCompanyAsTitle) {
  Open(Build("[General]\nCompany=Acme Corp\nProduct=Zap\n[Build]\nPassword=Open Sesame\n"));
  WindowSnapshot seen;
  RobotThread robot([&] {
    seen = WaitForPasswordDialog("Acme Corp");
    if (seen.hwnd != nullptr) {
      ExpectRefused(seen.hwnd, "open sesame");
      SetControlText(seen.hwnd, IDC_PASSWORD, "Open Sesame");
      PressButton(seen.hwnd, IDOK);
    }
  });
  EXPECT_EQ(CheckPackagePassword(), 1);
  robot.Join();
  EXPECT_NE(seen.hwnd, nullptr);
}

TEST_F(PasswordGateTest, WithoutCompanyTheTitleIsPasswordAndCancelStops) {
  Open(Build("[General]\nProduct=Zap\n[Build]\nPassword=x\n"));
  RobotThread robot([&] {
    const WindowSnapshot seen = WaitForPasswordDialog("Password");
    if (seen.hwnd != nullptr) {
      PressButton(seen.hwnd, IDCANCEL);
    }
  });
  EXPECT_EQ(CheckPackagePassword(), 0);
}

TEST_F(PasswordGateTest, BlockThatRebuildsToNothingTakesAnEmptyField) {
  const std::string installer = Build("[Build]\nPassword=anything\n");
  // Make the first block byte equal to the first key character, as a writer would for an
  // empty password.
  auto bytes = test::ReadFileBytes(installer);
  ASSERT_TRUE(bytes);
  const auto block = LocateProtectionBlock(*bytes);
  const auto script = InflateItem(*LocateScriptBlock(*bytes));
  ASSERT_TRUE(block && script);
  const std::string key = packer::IniText::Parse(std::string(script->begin(), script->end()))
                              .GetString("Before", "Password");
  ASSERT_FALSE(key.empty());
  (*bytes)[static_cast<std::size_t>(block->data() - bytes->data())] =
      static_cast<std::uint8_t>(key[0]);
  ASSERT_TRUE(test::WriteFileBytes(installer, *bytes));

  Open(installer);
  RobotThread robot([&] {
    const WindowSnapshot seen = WaitForPasswordDialog("Password");
    if (seen.hwnd != nullptr) {
      ExpectRefused(seen.hwnd, "anything");
      PressButton(seen.hwnd, IDOK);
    }
  });
  EXPECT_EQ(CheckPackagePassword(), 1);
}

TEST_F(PasswordGateTest, ProtectionBlockOutsideTheFileIsTheArchiveError) {
  // A file that is nothing but a package end marked protected: its script block starts one
  // byte into the file, so the 16 bytes before it do not exist.
  std::vector<std::uint8_t> bytes;
  const std::string script = "[Before]\r\nProtect=1\r\nPassword=key\r\n";
  ASSERT_TRUE(AppendPackageEnd(
      bytes, Bytes(reinterpret_cast<const std::uint8_t*>(script.data()), script.size()), {}));
  const std::string installer = folder_.File("short.exe");
  ASSERT_TRUE(test::WriteFileBytes(installer, bytes));
  Open(installer);
  g_state.currentOutputFile = "stale name";  // the short form, whatever came before
  std::vector<WindowSnapshot> windows;
  EXPECT_EQ(RunGateAnsweringNothing(windows), 0);
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_EQ(windows[0].caption, "I/O Error");
  EXPECT_EQ(windows[0].MessageText(), "Possibly corrupted archive.");
}

}  // namespace
}  // namespace vorlatch
