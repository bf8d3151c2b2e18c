// The installer stub started as a real process: the start question, the destination dialog
// and the end of the run, answered by the UI robot.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_files.h"
#include "support/ui_robot.h"

namespace vorlatch::test {
namespace {

constexpr int kDestinationEdit = 1007;
constexpr int kDestinationNext = 1010;

// A program path in quotes, as the shell starts it.
class StartupSequence : public ::testing::Test {
 protected:
  // Builds an installer from the project text and starts it with its temporary files in a
  // folder of the test's own.
  void Start(const std::string& project) {
    std::string error;
    installer_ = BuildTestInstaller(folder_, project, error);
    ASSERT_FALSE(installer_.empty()) << error;
    ASSERT_TRUE(child_.Start(Quoted(installer_)));
  }

  // The temporary folder must be empty once the stub has ended.
  void ExpectEndedAndClean() {
    const ProcessResult result = child_.Wait(kRobotTimeoutMs);
    ASSERT_TRUE(result.finished) << DumpWindows(child_.processId());
    EXPECT_TRUE(FolderEntries(temp_).empty())
        << "left in the temporary folder: " << FolderEntries(temp_).size() << " files";
  }

  WindowSnapshot FirstWindow() {
    WindowQuery query;
    query.processId = child_.processId();
    return WaitForSnapshot(query);
  }

  TempFolder folder_;
  std::string temp_ = folder_.Subfolder("temp");
  ScopedEnvironment tmp_{"Tmp", temp_};
  ScopedEnvironment tempVariable_{"Temp", temp_};
  std::string installer_;
  ChildProcess child_;
};

TEST_F(StartupSequence, NoQuestionWhenInfoLineIsZeroOrAbsent) {
  Start("[General]\nCompany=Acme\nProduct=Zap\n[Info]\nLine=0\nLine1=never shown\n");
  const WindowSnapshot first = FirstWindow();
  ASSERT_NE(first.hwnd, nullptr);
  // The first window is the destination dialog, not a message box.
  EXPECT_EQ(first.caption, "Acme installing Zap");
  EXPECT_TRUE(first.HasControl(kDestinationEdit)) << first.Describe();
  PressButton(first.hwnd, IDCANCEL);
  ExpectEndedAndClean();
}

TEST_F(StartupSequence, QuestionCaptionIsInstallWithoutCaptionAndProduct) {
  Start("[Info]\nLine=2\nLine1=First line\nLine2=Second line\n");
  const WindowSnapshot question = FirstWindow();
  ASSERT_NE(question.hwnd, nullptr);
  EXPECT_EQ(question.caption, "Install");
  EXPECT_EQ(question.MessageText(), "First line\nSecond line");
  EXPECT_TRUE(question.IsTopmost());  // system-modal
  EXPECT_TRUE(question.HasControl(IDOK));
  EXPECT_TRUE(question.HasControl(IDCANCEL));
  // Cancel ends the run before anything else is shown, and every temporary file goes.
  PressButton(question.hwnd, IDCANCEL);
  ExpectEndedAndClean();
}

TEST_F(StartupSequence, OkRunsThroughToTheEnd) {
  Start("[General]\nProduct=Zap\n[Info]\nLine=1\nLine1=Install Zap now?\n");
  const WindowSnapshot question = FirstWindow();
  ASSERT_NE(question.hwnd, nullptr);
  EXPECT_EQ(question.caption, "Install Zap");
  EXPECT_EQ(question.MessageText(), "Install Zap now?");
  PressButton(question.hwnd, IDOK);

  WindowQuery dialog;
  dialog.processId = child_.processId();
  dialog.caption = "Vorlatch installing Zap";
  const HWND destination = WaitForWindow(dialog);
  ASSERT_NE(destination, nullptr);
  const std::string target = folder_.path() + "Zap\\Program";
  SetControlText(destination, kDestinationEdit, target);
  PressButton(destination, kDestinationNext);
  // The empty installation succeeds and says so.
  WindowQuery success;
  success.processId = child_.processId();
  success.caption = "Zap";
  const WindowSnapshot done = WaitForSnapshot(success);
  ASSERT_NE(done.hwnd, nullptr);
  EXPECT_EQ(done.MessageText(), "Successfully installed.");
  PressButton(done.hwnd, IDOK);
  ExpectEndedAndClean();
  // Next made the directory; the stages after it ran to the end of the run.
  EXPECT_NE(GetFileAttributesA(target.c_str()), INVALID_FILE_ATTRIBUTES);
}

// The existing-installation check answered No brings the same destination dialog back,
// proposing BID again rather than the directory just accepted; Cancel there ends the run
// without installing anything.
TEST_F(StartupSequence, NoToTheRepairPromptShowsTheDestinationDialogAgain) {
  const std::string existing = folder_.Subfolder("existing");
  ASSERT_TRUE(WriteTextFile(existing + "Uninstall.exe", "earlier installation"));
  const std::string bid = folder_.path() + "proposed\\";
  ASSERT_TRUE(WriteTextFile(folder_.File("zap.txt"), "zap"));
  Start("[General]\nProduct=Zap\nBID=" + bid + "\n[File]\nFile=1\nFile1=zap.txt\n");

  WindowQuery dialog;
  dialog.processId = child_.processId();
  dialog.caption = "Vorlatch installing Zap";
  const WindowSnapshot first = WaitForSnapshot(dialog);
  ASSERT_NE(first.hwnd, nullptr);
  EXPECT_EQ(first.ControlText(kDestinationEdit), bid);
  SetControlText(first.hwnd, kDestinationEdit, existing);
  PressButton(first.hwnd, kDestinationNext);

  WindowQuery prompt;
  prompt.processId = child_.processId();
  prompt.caption = "Confirm";
  prompt.controlText = "Setup has found the program in";
  const WindowSnapshot repair = WaitForSnapshot(prompt);
  ASSERT_NE(repair.hwnd, nullptr) << DumpWindows(child_.processId());
  EXPECT_NE(repair.MessageText().find("'" + existing + "' folder."), std::string::npos)
      << repair.MessageText();
  PressButton(repair.hwnd, IDNO);
  WaitForWindowGone(repair.hwnd);

  const WindowSnapshot again = WaitForSnapshot(dialog);
  ASSERT_NE(again.hwnd, nullptr) << DumpWindows(child_.processId());
  EXPECT_EQ(again.ControlText(kDestinationEdit), bid);
  PressButton(again.hwnd, IDCANCEL);
  ExpectEndedAndClean();
  // Nothing was installed: neither the proposal nor the existing folder gained a file.
  EXPECT_FALSE(FileExists(existing + "zap.txt"));
  EXPECT_EQ(FolderEntries(existing), std::vector<std::string>{"Uninstall.exe"});
  EXPECT_EQ(GetFileAttributesA(bid.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(StartupSequence, ArchiveErrorForAStubWithoutPackage) {
  // The bare stub carries no package: its trailer points outside the file.
  ASSERT_TRUE(child_.Start(Quoted(BesideTests("vorlatch-stub.exe"))));
  const WindowSnapshot error = FirstWindow();
  ASSERT_NE(error.hwnd, nullptr);
  EXPECT_EQ(error.caption, "I/O Error");
  EXPECT_EQ(error.MessageText(), "Possibly corrupted archive.");
  PressButton(error.hwnd, IDOK);
  ASSERT_TRUE(child_.Wait(kRobotTimeoutMs).finished);
  EXPECT_TRUE(FolderEntries(temp_).empty());
}

}  // namespace
}  // namespace vorlatch::test
