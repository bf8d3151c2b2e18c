#include "actions/termination.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "actions/uninstaller_interface.h"
#include "package/process_state.h"
#include "support/test_files.h"
#include "support/ui_robot.h"
#include "ui/progress_dialog.h"

namespace vorlatch {
namespace {

using test::TempFolder;

// The robot answers the termination question, and "Done." when `done` is given.
struct Seen {
  WindowSnapshot question;
  WindowSnapshot done;
  bool progressGoneBeforeDone = false;
};

void AnswerTermination(int answer, bool expectDone, Seen& seen) {
  WindowQuery query;
  query.caption = "Confirm";
  query.controlText = kTerminateQuestion;
  seen.question = WaitForSnapshot(query);
  if (seen.question.hwnd == nullptr) {
    return;
  }
  PressButton(seen.question.hwnd, answer);
  WaitForWindowGone(seen.question.hwnd);
  if (!expectDone) {
    return;
  }
  WindowQuery done;
  done.caption = "Uninstall";
  seen.done = WaitForSnapshot(done);
  if (seen.done.hwnd == nullptr) {
    return;
  }
  seen.progressGoneBeforeDone = true;
  for (const HWND window : TopLevelWindows(0, true)) {
    if (Snapshot(window).caption == "Progress test") {
      seen.progressGoneBeforeDone = false;
    }
  }
  PressButton(seen.done.hwnd, IDOK);
}

std::string UninstallerRecord(const std::string& uninstaller) {
  return uninstaller + ".cmdline";
}

// The stand-in uninstaller writes its record at once; this waits for it.
std::string WaitForRecord(const std::string& path) {
  for (int i = 0; i < 2000 && !test::FileExists(path); ++i) {
    ::Sleep(5);
  }
  return test::ReadTextFile(path).value_or("");
}

class TerminationTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetProcessState(); }
  void TearDown() override {
    CloseProgress();
    ResetProcessState();
  }

  // Termination on a worker thread with the robot answering Yes and then OK.
  void Terminate(Seen& seen) {
    std::atomic<bool> returned{false};
    RobotThread robot([&] { AnswerTermination(IDYES, true, seen); });
    WorkerThread worker([&] {
      ShowProgress("Progress test", "file.txt");
      ConfirmTermination();
      returned = true;
    });
    EXPECT_EQ(worker.Wait(), 0u) << "the thread ends with exit code 0";
    robot.Join();
    EXPECT_FALSE(returned) << "ConfirmTermination returned after Yes";
    EXPECT_EQ(g_state.progress, nullptr);
    EXPECT_TRUE(seen.progressGoneBeforeDone);
    EXPECT_EQ(seen.done.MessageText(), "Done.");
    EXPECT_EQ(seen.done.ButtonIds(), std::vector<int>{IDOK});
  }

  TempFolder folder_;
};

TEST(UninstallerInterface, PathAndCommandLines) {
  EXPECT_EQ(UninstallerPathIn("C:\\Apps\\Tool"), "C:\\Apps\\Tool\\Uninstall.exe");
  EXPECT_EQ(UninstallerPathIn("C:\\Apps\\Tool\\\\"), "C:\\Apps\\Tool\\Uninstall.exe");
  // Quoted, so that no program named by the path's first word runs instead.
  EXPECT_EQ(UninstallCommandLine("C:\\Program Files\\Tool\\Uninstall.exe"),
            "\"C:\\Program Files\\Tool\\Uninstall.exe\"");
  EXPECT_EQ(UnquotedUninstallCommandLine("C:\\Program Files\\Tool\\Uninstall.exe"),
            "C:\\Program Files\\Tool\\Uninstall.exe");
  EXPECT_EQ(QuietUninstallCommandLine("C:\\Program Files\\Tool\\Uninstall.exe"),
            "\"C:\\Program Files\\Tool\\Uninstall.exe\" /S");
  EXPECT_EQ(RollbackCommandLine("C:\\Program Files\\Tool\\Uninstall.exe"),
            "\"C:\\Program Files\\Tool\\Uninstall.exe\" /u");
}

TEST_F(TerminationTest, NoReturnsZeroAndLeavesEverythingAsItWas) {
  g_state.destinationDirectory = folder_.path();
  const std::string uninstaller = folder_.File("Uninstall.exe");
  ASSERT_TRUE(::CopyFileA(test::BesideTests("recording_uninstaller.exe").c_str(),
                          uninstaller.c_str(), FALSE));
  ShowProgress("Progress test", "file.txt");
  Seen seen;
  int result = -1;
  {
    RobotThread robot([&] { AnswerTermination(IDNO, false, seen); });
    result = ConfirmTermination();
  }
  EXPECT_EQ(result, 0);
  ASSERT_NE(seen.question.hwnd, nullptr);
  EXPECT_EQ(seen.question.MessageText(), "Are you sure you want to terminate installation?");
  EXPECT_EQ(seen.question.ButtonIds(), (std::vector<int>{IDYES, IDNO}));
  EXPECT_TRUE(seen.question.IsTopmost()) << "system-modal";
  EXPECT_NE(g_state.progress, nullptr) << "the progress window stays";
  EXPECT_FALSE(test::FileExists(UninstallerRecord(uninstaller)));
}

TEST_F(TerminationTest, YesWithoutUninstallerSaysDoneAndEndsTheThread) {
  g_state.destinationDirectory = folder_.path();
  Seen seen;
  Terminate(seen);
  EXPECT_FALSE(test::FileExists(folder_.File("Uninstall.exe")));
}

TEST_F(TerminationTest, YesStartsTheUninstallerWithSlashU) {
  const std::string destination = folder_.Subfolder("My Program");
  const std::string uninstaller = destination + "Uninstall.exe";
  ASSERT_TRUE(::CopyFileA(test::BesideTests("recording_uninstaller.exe").c_str(),
                          uninstaller.c_str(), FALSE));
  // Without its trailing backslash the directory still gives the same path.
  g_state.destinationDirectory = destination.substr(0, destination.size() - 1);
  Seen seen;
  Terminate(seen);
  std::string expected = "\"";
  expected.append(uninstaller).append("\" /u");
  EXPECT_EQ(WaitForRecord(UninstallerRecord(uninstaller)), expected);
}

}  // namespace
}  // namespace vorlatch
