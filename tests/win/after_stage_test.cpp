// The After stage through the robot: the success message, the closing screen and what its
// answer decides, and the program that the After run extracts (again) and starts.

#include "stages/after_stage.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "package/opening.h"
#include "package/process_state.h"
#include "support/installer_test.h"
#include "support/test_files.h"
#include "support/ui_robot.h"
#include "support/window_answers.h"

namespace vorlatch {
namespace {

using test::AnsweredWindow;
using test::AnswerWindows;
using test::BoxSummary;
using test::DeleteWhenReleased;
using test::Press;
using test::ScopedEnvironment;
using test::TempFolder;
using test::WaitForFile;
using test::WindowAnswer;

std::string Recorder() {
  return test::BesideTests("recording_uninstaller.exe");
}

class AfterStage : public test::InstallerTest {
 protected:
  // A package whose installed file 2 is a program that records how it was started.
  void Package(const std::string& after) {
    const std::string source = folder_.File("app.txt");
    ASSERT_TRUE(test::WriteTextFile(source, "the program"));
    const std::string project =
        "[File]\r\nFile=2\r\nFile1=app.txt\r\nSource1=" + source + "\r\nTarget1=[BID]docs\r\n" +
        "File2=runme.exe\r\nSource2=" + Recorder() + "\r\nTarget2=\r\n[After]\r\n" + after;
    test::OpenTestPackage(folder_, project);
  }

  int Screen(const std::vector<WindowAnswer>& answers) {
    RobotThread robot([&] { seen_ = AnswerWindows(0, answers); });
    const int result = AfterScreen();
    robot.Join();
    return result;
  }

  std::vector<std::string> Summaries() const {
    std::vector<std::string> summaries;
    for (const AnsweredWindow& answered : seen_) {
      summaries.push_back(BoxSummary(answered));
    }
    return summaries;
  }

  std::vector<AnsweredWindow> seen_;
};

TEST_F(AfterStage, SuccessIsAnnouncedWithTheProductAsCaption) {
  Script("[General]\r\nProduct=Zap\r\n");
  EXPECT_EQ(Screen({Press(IDOK)}), 1);
  ASSERT_EQ(seen_.size(), 1u);
  EXPECT_EQ(BoxSummary(seen_[0]), "Zap: Successfully installed.");
  EXPECT_EQ(seen_[0].window.ButtonIds(), std::vector<int>{IDOK});
  EXPECT_EQ(seen_[0].icon, nullptr);
  EXPECT_FALSE(seen_[0].window.IsTopmost());  // task-modal only

  // Without a product the caption is empty; a closing screen without lines is not shown.
  Script("[After]\r\nDialog=1\r\nButton=2\r\n");
  EXPECT_EQ(Screen({Press(IDOK)}), 1);
  EXPECT_EQ(Summaries(), std::vector<std::string>{": Successfully installed."});
}

TEST_F(AfterStage, TheClosingScreenDecidesOnTheAfterRun) {
  struct Case {
    int button;
    int press;
    int expected;
    std::string caption;
  };
  const Case cases[] = {
      {2, IDYES, 1, "Confirm"},
      {2, IDNO, 0, "Confirm"},
      {1, IDCANCEL, 0, "Confirm"},
      {0, IDOK, 1, "Info"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "Button=" << c.button << ", pressed " << c.press);
    Script("[General]\r\nProduct=Zap\r\n[After]\r\nDialog=1\r\nButton=" + std::to_string(c.button) +
           "\r\nLine=2\r\nLine1=Zap is ready.\r\nLine2=Start it now?\r\n");
    EXPECT_EQ(Screen({Press(IDOK), Press(c.press)}), c.expected);
    ASSERT_EQ(seen_.size(), 2u);
    EXPECT_EQ(BoxSummary(seen_[0]), "Zap: Successfully installed.");
    // Every line ends in a line feed, the last one too.
    EXPECT_EQ(BoxSummary(seen_[1]), c.caption + ": Zap is ready.\nStart it now?\n");
    EXPECT_TRUE(seen_[1].window.IsTopmost());  // system-modal
  }
  Script("[After]\r\nDialog=1\r\nButton=2\r\nCaption=Zap\r\nLine=1\r\nLine1=Done.\r\n");
  EXPECT_EQ(Screen({Press(IDOK), Press(IDYES)}), 1);
  EXPECT_EQ(Summaries(), (std::vector<std::string>{": Successfully installed.", "Zap: Done.\n"}));
}

TEST_F(AfterStage, AnExceptionInTheAfterFunctionLeavesOutOnlyTheSuccessMessage) {
  g_state.extensionDll = ::LoadLibraryA(test::BesideTests("extension_fixture.dll").c_str());
  ASSERT_NE(g_state.extensionDll, nullptr);
  // The INI entries are written all the same.
  Script(
      "[General]\r\nProduct=Zap\r\n[File]\r\nDll=ext.dll\r\n"
      "[After]\r\nAdvanced=1\r\nFunction=ThrowException\r\nDialog=1\r\nLine=1\r\nLine1=Bye\r\n"
      "[Ini]\r\nNumber=1\r\nFile1=zap.ini\r\n[Section1]\r\nNumber=1\r\nSection1=Setup\r\n"
      "[Section1_1]\r\nNumber=1\r\nKey1=Done\r\nValue1=yes\r\n");
  EXPECT_EQ(Screen({Press(IDOK), Press(IDOK)}), 1);
  EXPECT_EQ(Summaries(),
            (std::vector<std::string>{"Error: Error calling 'ThrowException' from 'ext.dll'",
                                      "Info: Bye\n"}));
  char value[16] = {};
  ::GetPrivateProfileStringA("Setup", "Done", "", value, sizeof value, (dest_ + "zap.ini").c_str());
  EXPECT_STREQ(value, "yes");
}

TEST_F(AfterStage, AnInstalledProgramIsExtractedAgainAndStarted) {
  Package("Run=1\r\nFile=RunMe.exe\r\n");
  // What the installation left there is replaced by the packed file once more.
  ASSERT_TRUE(test::WriteTextFile(dest_ + "runme.exe", "changed since"));
  ASSERT_TRUE(test::SetAttributes(dest_ + "runme.exe", FILE_ATTRIBUTE_READONLY));
  AfterRun();
  const std::optional<std::string> record = WaitForFile(dest_ + "RunMe.exe.cmdline");
  ASSERT_TRUE(record.has_value()) << "the program was not started";
  EXPECT_NE(record->find(dest_ + "RunMe.exe"), std::string::npos) << *record;
  EXPECT_EQ(test::ReadFileBytes(dest_ + "runme.exe"), test::ReadFileBytes(Recorder()));
  EXPECT_FALSE(test::FileExists(temp_ + "RunMe.exe"));
  DeleteWhenReleased(dest_ + "runme.exe");
}

TEST_F(AfterStage, ArgumentsAfterTheProgramReachIt) {
  // (A value that also ends in a quote would lose both outer quotes to the profile reader.)
  Package("Run=1\r\nFile=\"runme.exe\" /welcome \"new user\" now\r\n");
  AfterRun();
  const std::optional<std::string> record = WaitForFile(dest_ + "runme.exe.cmdline");
  ASSERT_TRUE(record.has_value()) << "the program was not started";
  const std::string tail = " /welcome \"new user\" now";
  ASSERT_GE(record->size(), tail.size());
  EXPECT_EQ(record->substr(record->size() - tail.size()), tail) << *record;
  DeleteWhenReleased(dest_ + "runme.exe");
}

TEST_F(AfterStage, AProgramThatIsNotPackedRunsOnlyWhenItIsThere) {
  Package("Run=0\r\nFile=runme.exe\r\n");
  AfterRun();  // Run=0: nothing, not even the extraction
  EXPECT_FALSE(test::FileExists(dest_ + "runme.exe"));

  ::WritePrivateProfileStringA("After", "Run", "1", ScriptPath().c_str());
  ::WritePrivateProfileStringA("After", "File", "tool.exe", ScriptPath().c_str());
  ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, ScriptPath().c_str());
  AfterRun();
  EXPECT_EQ(test::FolderEntries(temp_), (std::vector<std::string>{"Vorlatch.ini"}));

  // A file of that name in the temporary directory is started.
  ASSERT_TRUE(::CopyFileA(Recorder().c_str(), (temp_ + "tool.exe").c_str(), FALSE));
  AfterRun();
  ASSERT_TRUE(WaitForFile(temp_ + "tool.exe.cmdline").has_value());
  DeleteWhenReleased(temp_ + "tool.exe");
}

}  // namespace
}  // namespace vorlatch
