// The Before stage through the robot: the screen that the [Before] keys describe (message box
// or licence dialog), what the user's answer makes of the stage, and the document that the
// package opens before anything else.

#include "stages/before_stage.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "package/opening.h"
#include "package/process_state.h"
#include "resources/resource.h"
#include "support/installer_test.h"
#include "support/test_files.h"
#include "support/ui_robot.h"
#include "support/window_answers.h"

namespace vorlatch {
namespace {

using test::AnsweredWindow;
using test::AnswerWindows;
using test::DeleteWhenReleased;
using test::Press;
using test::ScopedEnvironment;
using test::TempFolder;
using test::WaitForFile;
using test::WindowAnswer;

class BeforeStage : public test::InstallerTest {
 protected:
  // The script alone, as start-up leaves it in the temporary directory.
  // A package made by the packer from the project, opened with its script extracted.
  void Package(const std::string& project) { test::OpenTestPackage(folder_, project); }

  void SetScriptValue(const char* section, const char* key, const std::string& value) {
    ::WritePrivateProfileStringA(section, key, value.c_str(), ScriptPath().c_str());
    ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, ScriptPath().c_str());
  }

  // Runs the stage while the robot answers the windows it shows, in turn.
  int Run(const std::vector<WindowAnswer>& answers) {
    RobotThread robot([&] { seen_ = AnswerWindows(0, answers); });
    const int result = RunBeforeStage();
    robot.Join();
    return result;
  }

  std::vector<AnsweredWindow> seen_;
};

TEST_F(BeforeStage, WithoutButtonTheScreenIsInformationWithOneOk) {
  Script("[Before]\r\nDialog=1\r\nLine=2\r\nLine1=Welcome to Zap.\r\nLine2=Enjoy.\r\n");
  EXPECT_EQ(Run({Press(IDOK)}), 1);
  ASSERT_EQ(seen_.size(), 1u);
  const WindowSnapshot& box = seen_[0].window;
  SCOPED_TRACE(box.Describe());
  EXPECT_EQ(box.caption, "Info");
  EXPECT_EQ(box.MessageText(), "Welcome to Zap.\nEnjoy.");
  EXPECT_EQ(box.ButtonIds(), std::vector<int>{IDOK});
  EXPECT_EQ(seen_[0].icon, ::LoadIconA(nullptr, IDI_INFORMATION));
  EXPECT_TRUE(box.IsTopmost());  // system-modal
  EXPECT_EQ(::GetWindow(box.hwnd, GW_OWNER), nullptr);

  // The script's caption replaces the default one.
  Script("[Before]\r\nDialog=1\r\nButton=7\r\nCaption=About Zap\r\nLine=1\r\nLine1=Hello\r\n");
  EXPECT_EQ(Run({Press(IDOK)}), 1);
  ASSERT_EQ(seen_.size(), 1u);
  EXPECT_EQ(seen_[0].window.caption, "About Zap");
  EXPECT_EQ(seen_[0].window.ButtonIds(), std::vector<int>{IDOK});
}

TEST_F(BeforeStage, OnlyOkAndYesGoOn) {
  struct Case {
    int button;
    int press;
    int expected;
    std::vector<int> buttons;
  };
  const Case cases[] = {
      {1, IDOK, 1, {IDOK, IDCANCEL}},
      {1, IDCANCEL, 0, {IDOK, IDCANCEL}},
      {2, IDYES, 1, {IDYES, IDNO}},
      {2, IDNO, 0, {IDYES, IDNO}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "Button=" << c.button << ", pressed " << c.press);
    Script("[Before]\r\nDialog=1\r\nButton=" + std::to_string(c.button) +
           "\r\nLine=1\r\nLine1=Accept the terms?\r\n");
    EXPECT_EQ(Run({Press(c.press)}), c.expected);
    ASSERT_EQ(seen_.size(), 1u);
    EXPECT_EQ(seen_[0].window.caption, "Confirm");
    EXPECT_EQ(seen_[0].window.ButtonIds(), c.buttons);
    EXPECT_EQ(seen_[0].icon, ::LoadIconA(nullptr, IDI_QUESTION));
    EXPECT_TRUE(seen_[0].window.IsTopmost());
  }
}

TEST_F(BeforeStage, AtMost1023CharactersTheFooterJoinsTheMessageBoxText) {
  // 600 + line feed + 422 characters.
  const std::string first(600, 'a');
  const std::string second(422, 'b');
  Script("[Before]\r\nDialog=1\r\nButton=2\r\nLine=2\r\nLine1=" + first + "\r\nLine2=" + second +
         "\r\nFooter=Do you accept?\r\n");
  EXPECT_EQ(Run({Press(IDYES)}), 1);
  ASSERT_EQ(seen_.size(), 1u);
  EXPECT_EQ(seen_[0].window.MessageText(), first + "\n" + second + "\nDo you accept?");
  EXPECT_FALSE(seen_[0].window.HasControl(IDC_LICENCE_TEXT));
}

TEST_F(BeforeStage, From1024CharactersTheLicenceDialogKeepsTheFooterApart) {
  const std::string first(600, 'a');
  const std::string second(423, 'b');
  const std::string keys = "Line=2\r\nLine1=" + first + "\r\nLine2=" + second +
                           "\r\nFooter=Do you accept?\r\nCaption=Zap licence\r\n";
  Script("[Before]\r\nDialog=1\r\nButton=2\r\n" + keys);
  EXPECT_EQ(Run({Press(IDC_LICENCE_LEFT_BUTTON)}), 1);
  ASSERT_EQ(seen_.size(), 1u);
  const WindowSnapshot& dialog = seen_[0].window;
  SCOPED_TRACE(dialog.Describe());
  EXPECT_EQ(dialog.caption, "Zap licence");
  EXPECT_EQ(dialog.ControlText(IDC_LICENCE_TEXT), first + "\r\n" + second);
  EXPECT_EQ(dialog.ControlText(IDC_LICENCE_FOOTER), "Do you accept?");
  EXPECT_EQ(dialog.ControlText(IDC_LICENCE_LEFT_BUTTON), "&Yes");
  EXPECT_EQ(dialog.ControlText(IDC_LICENCE_RIGHT_BUTTON), "&No");

  // Refusing stops the stage; so does Escape in the information style, which has one button.
  EXPECT_EQ(Run({Press(IDC_LICENCE_RIGHT_BUTTON)}), 0);
  Script("[Before]\r\nDialog=1\r\n" + keys);
  EXPECT_EQ(Run({[](HWND window) { SendKey(window, VK_ESCAPE); }}), 0);
  ASSERT_EQ(seen_.size(), 1u);
  EXPECT_EQ(seen_[0].window.ControlText(IDC_LICENCE_RIGHT_BUTTON), "O&K");
  EXPECT_FALSE(seen_[0].window.HasControl(IDC_LICENCE_LEFT_BUTTON));
}

TEST_F(BeforeStage, EmptyAndAbsentLinesKeepTheirLineFeeds) {
  Script("[Before]\r\nDialog=1\r\nLine=3\r\nLine2=the middle line\r\n");
  EXPECT_EQ(Run({Press(IDOK)}), 1);
  ASSERT_EQ(seen_.size(), 1u);
  EXPECT_EQ(seen_[0].window.MessageText(), "\nthe middle line\n");

  // No lines at all: the screen still comes, with the footer on the second line.
  Script("[Before]\r\nDialog=1\r\nButton=1\r\nFooter=Go on?\r\n");
  EXPECT_EQ(Run({Press(IDOK)}), 1);
  ASSERT_EQ(seen_.size(), 1u);
  EXPECT_EQ(seen_[0].window.MessageText(), "\nGo on?");
}

TEST_F(BeforeStage, TheDocumentIsOpenedWithoutWaitingForItsProgram) {
  // The document is a program that records how it was started, so that its start can be
  // seen; Dialog=0 lets the stage return at once.
  Package("[File]\r\nFile=0\r\n[Before]\r\nLoad=1\r\nFile=viewer.exe\r\nFileSource=" +
          test::BesideTests("recording_uninstaller.exe") + "\r\nDialog=0\r\n");
  EXPECT_EQ(Run({}), 1);
  const std::string document = temp_ + "viewer.exe";
  const std::optional<std::string> record = WaitForFile(document + ".cmdline");
  ASSERT_TRUE(record.has_value()) << "the document was not opened";
  EXPECT_NE(record->find(document), std::string::npos) << *record;
  EXPECT_EQ(test::ReadFileBytes(document),
            test::ReadFileBytes(test::BesideTests("recording_uninstaller.exe")));
  DeleteWhenReleased(document);
}

TEST_F(BeforeStage, ADocumentThatIsNotInThePackageIsSkipped) {
  const std::string source = folder_.File("app.txt");
  ASSERT_TRUE(test::WriteTextFile(source, "the program"));
  Package("[File]\r\nFile=1\r\nFile1=app.txt\r\nSource1=" + source + "\r\n");
  // No FileZip, and no installed file of that name.
  SetScriptValue("Before", "Load", "1");
  SetScriptValue("Before", "File", "missing.txt");
  EXPECT_EQ(Run({}), 1);
  EXPECT_FALSE(test::FileExists(temp_ + "missing.txt"));

  // A document named like an installed file, in another letter case, is that file's item.
  SetScriptValue("Before", "File", "APP.TXT");
  EXPECT_EQ(Run({}), 1);
  EXPECT_EQ(test::ReadTextFile(temp_ + "APP.TXT").value_or("<missing>"), "the program");
}

TEST_F(BeforeStage, ADocumentOutsideThePackageGetsTheArchiveError) {
  Package("[File]\r\nFile=0\r\n");
  SetScriptValue("Before", "Load", "1");
  SetScriptValue("Before", "File", "readme.txt");
  SetScriptValue("Before", "FileZip", "100000000");
  SetScriptValue("Before", "FilePos", "16");
  SetScriptValue("Before", "Dialog", "1");
  SetScriptValue("Before", "Line", "1");
  SetScriptValue("Before", "Line1", "Install?");
  // The error, then the screen: the stage goes on without the document.
  EXPECT_EQ(Run({Press(IDOK), Press(IDOK)}), 1);
  ASSERT_EQ(seen_.size(), 2u);
  EXPECT_EQ(test::BoxSummary(seen_[0]), "I/O Error: Possibly corrupted archive.");
  EXPECT_EQ(test::BoxSummary(seen_[1]), "Info: Install?");
  EXPECT_FALSE(test::FileExists(temp_ + "readme.txt"));
}

}  // namespace
}  // namespace vorlatch
