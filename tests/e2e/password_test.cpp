// Installers locked with the packer's [Build] Password, run as real processes: the password
// dialog comes after the start question and before everything else.

#include <gtest/gtest.h>

#include <string>

#include "support/test_files.h"
#include "support/ui_robot.h"

namespace vorlatch::test {
namespace {

constexpr int kPasswordField = 1019;
constexpr int kDestinationEdit = 1007;

class PasswordRun : public ::testing::Test {
 protected:
  void Start(const std::string& project) {
    std::string error;
    const std::string installer = BuildTestInstaller(folder_, project, error);
    ASSERT_FALSE(installer.empty()) << error;
    ASSERT_TRUE(child_.Start(Quoted(installer)));
  }

  WindowSnapshot Wait(const std::string& caption) {
    WindowQuery query;
    query.processId = child_.processId();
    query.caption = caption;
    return WaitForSnapshot(query);
  }

  // The process has ended and left nothing in its temporary folder.
  void ExpectEndedAndClean() {
    const ProcessResult result = child_.Wait(kRobotTimeoutMs);
    ASSERT_TRUE(result.finished) << DumpWindows(child_.processId());
    EXPECT_TRUE(FolderEntries(temp_).empty())
        << "left in the temporary folder: " << FolderEntries(temp_).size() << " files";
  }

  // Types an entry and presses OK; the field must come back empty.
  void ExpectRefused(HWND dialog, const std::string& typed) {
    SCOPED_TRACE("typed \"" + typed + "\"");
    SetControlText(dialog, kPasswordField, typed);
    PressButton(dialog, IDOK);
    EXPECT_TRUE(WaitForControlText(dialog, kPasswordField, ""));
    EXPECT_TRUE(IsWindowVisible(dialog));
  }

  TempFolder folder_;
  std::string temp_ = folder_.Subfolder("temp");
  ScopedEnvironment tmp_{"Tmp", temp_};
  ScopedEnvironment tempVariable_{"Temp", temp_};
  ChildProcess child_;
};

TEST_F(PasswordRun, NotProtectedShowsNoDialogEvenWithAPasswordKey) {
  Start("[General]\nCompany=Acme\nProduct=Zap\n[Before]\nProtect=0\nPassword=abc\n");
  WindowQuery any;
  any.processId = child_.processId();
  const WindowSnapshot first = WaitForSnapshot(any);
  ASSERT_NE(first.hwnd, nullptr);
  EXPECT_EQ(first.caption, "Acme installing Zap") << first.Describe();
  EXPECT_FALSE(first.HasControl(kPasswordField));
  PressButton(first.hwnd, IDCANCEL);
  ExpectEndedAndClean();
}

TEST_F(PasswordRun, AfterTheStartQuestionRefusesTheWrongCaseThenGoesOn) {
  Start(
      "[General]\nProduct=Zap\n[Info]\nLine=1\nLine1=Install Zap?\n"
      "[Build]\nPassword=Zap-Pass\n");
  const WindowSnapshot question = Wait("Install Zap");
  ASSERT_NE(question.hwnd, nullptr);
  PressButton(question.hwnd, IDOK);
  // No Company: the dialog's title is "Password".
  const WindowSnapshot dialog = Wait("Password");
  ASSERT_NE(dialog.hwnd, nullptr);
  EXPECT_EQ(dialog.ControlText(kPasswordField), "");
  ExpectRefused(dialog.hwnd, "zap-pass");
  ExpectRefused(dialog.hwnd, "ZAP-PASS");
  SetControlText(dialog.hwnd, kPasswordField, "Zap-Pass");
  PressButton(dialog.hwnd, IDOK);
  const WindowSnapshot destination = Wait("Vorlatch installing Zap");
  ASSERT_NE(destination.hwnd, nullptr);
  EXPECT_TRUE(destination.HasControl(kDestinationEdit));
  PressButton(destination.hwnd, IDCANCEL);
  ExpectEndedAndClean();
}

TEST_F(PasswordRun, SixteenCharactersExactlyWithTheCompanyAsTitle) {
  const std::string sixteen = "Ab3$efgh-JKLmn0p";
  Start("[General]\nCompany=Acme\nProduct=Zap\n[Build]\nPassword=" + sixteen + "\n");
  const WindowSnapshot dialog = Wait("Acme");
  ASSERT_NE(dialog.hwnd, nullptr);
  ExpectRefused(dialog.hwnd, sixteen + "q");
  ExpectRefused(dialog.hwnd, sixteen.substr(0, 15));
  SetControlText(dialog.hwnd, kPasswordField, sixteen);
  PressButton(dialog.hwnd, IDOK);
  const WindowSnapshot destination = Wait("Acme installing Zap");
  ASSERT_NE(destination.hwnd, nullptr);
  PressButton(destination.hwnd, IDCANCEL);
  ExpectEndedAndClean();
}

TEST_F(PasswordRun, CancelEndsTheRunAndRemovesEveryTemporaryFile) {
  Start(
      "[General]\nProduct=Zap\n[Build]\nPassword=secret\n"
      "[Before]\nDialog=1\nLine=1\nLine1=never shown\n");
  const WindowSnapshot dialog = Wait("Password");
  ASSERT_NE(dialog.hwnd, nullptr);
  // The script was extracted before the gate.
  EXPECT_FALSE(FolderEntries(temp_).empty());
  PressButton(dialog.hwnd, IDCANCEL);
  ExpectEndedAndClean();
}

}  // namespace
}  // namespace vorlatch::test
