// Whole runs of the stub through the stages around the installation: the Before screen, the
// extension DLL's Before and After functions, the success message, the closing screen and
// the program that the After run starts. The robot answers every window in turn.

#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <optional>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "support/test_files.h"
#include "support/ui_robot.h"
#include "support/window_answers.h"
#include "win/handles.h"

namespace vorlatch::test {
namespace {

// Whether a process with this program file name runs now.
bool ProcessRuns(const std::string& exeName) {
  UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) {
    ADD_FAILURE() << "no process snapshot";
    return false;
  }
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32First(snapshot.get(), &entry); more;
       more = ::Process32Next(snapshot.get(), &entry)) {
    if (::lstrcmpiA(entry.szExeFile, exeName.c_str()) == 0) {
      return true;
    }
  }
  return false;
}

class StagesRun : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string pid = std::to_string(::GetCurrentProcessId());
    product_ = "Zap" + pid;
    company_ = "Vorlatch Stages " + pid;
    // Unique, so that a program of a test running beside this one is not taken for this one.
    program_ = "runme" + pid + ".exe";
  }

  // A project with app.txt and the program (one that records how it was started) as
  // installed files, the fixture DLL as ext.dll, and the given [Before] and [After] keys.
  std::string Project(const std::string& before, const std::string& after) {
    const std::string app = folder_.File("app.txt");
    EXPECT_TRUE(WriteTextFile(app, "the program"));
    return "[General]\r\nCompany=" + company_ + "\r\nProduct=" + product_ +
           "\r\n[File]\r\nFile=2\r\nFile1=app.txt\r\nSource1=" + app + "\r\nFile2=" + program_ +
           "\r\nSource2=" + BesideTests("recording_uninstaller.exe") +
           "\r\nTarget2=\r\nDll=ext.dll\r\nDllSource=" + BesideTests("extension_fixture.dll") +
           "\r\n[Before]\r\n" + before + "[After]\r\n" + after;
  }

  // Runs the installer built from the project while the robot gives the answers; expects the
  // stub to end by itself.
  void Run(const std::string& project, const std::vector<WindowAnswer>& answers) {
    std::string error;
    const std::string installer = BuildTestInstaller(folder_, project, error);
    ASSERT_FALSE(installer.empty()) << error;
    ChildProcess stub;
    ASSERT_TRUE(stub.Start(Quoted(installer)));
    seen_ = AnswerWindows(stub.processId(), answers);
    const ProcessResult result = stub.Wait(kRobotTimeoutMs);
    ASSERT_TRUE(result.finished) << DumpWindows(stub.processId());
    EXPECT_EQ(result.exitCode, 0u);
  }

  WindowAnswer ChooseDestination() const {
    return [this](HWND window) {
      EXPECT_EQ(Snapshot(window).caption, company_ + " installing " + product_);
      SetControlText(window, IDC_DESTINATION_PATH, dest_);
      PressButton(window, IDC_NEXT);
    };
  }

  std::vector<std::string> Summaries() const {
    std::vector<std::string> summaries;
    for (const AnsweredWindow& answered : seen_) {
      summaries.push_back(BoxSummary(answered));
    }
    return summaries;
  }

  std::string Record() const { return ReadTextFile(record_).value_or(""); }

  // Everything but the extension DLL, which is still loaded when the clean-up runs.
  void ExpectTemporaryFolderClean() const {
    for (const std::string& name : FolderEntries(temp_)) {
      EXPECT_EQ(name, "ext.dll") << "left in the temporary folder";
    }
  }

  TempFolder folder_;
  std::string temp_ = folder_.Subfolder("temp");
  std::string dest_ = folder_.path() + "Zap\\";
  std::string record_ = folder_.File("calls.txt");
  ScopedEnvironment tmp_{"Tmp", temp_};
  ScopedEnvironment tempVariable_{"Temp", temp_};
  ScopedEnvironment recordVariable_{"VORLATCH_EXTENSION_RECORD", record_};
  std::string product_;
  std::string company_;
  std::string program_;
  std::vector<AnsweredWindow> seen_;
};

class ClosingAnswer : public StagesRun, public ::testing::WithParamInterface<int> {};

TEST_P(ClosingAnswer, DecidesWhetherTheInstalledProgramStarts) {
  const bool yes = GetParam() == IDYES;
  Run(Project("Dialog=1\r\nButton=2\r\nLine=1\r\nLine1=Install Zap?\r\nFooter=Do you agree?\r\n"
              "Advanced=1\r\nFunction=RecordBefore\r\n",
              "Advanced=1\r\nFunction=RecordAfter\r\nDialog=1\r\nButton=2\r\nLine=1\r\n"
              "Line1=Start Zap now?\r\nRun=1\r\nFile=" +
                  program_ + "\r\n"),
      {Press(IDYES), ChooseDestination(), Press(IDOK), Press(GetParam())});
  if (HasFatalFailure()) {
    return;
  }
  const std::vector<std::string> summaries = Summaries();
  ASSERT_EQ(summaries.size(), 4u);
  EXPECT_EQ(summaries[0], "Confirm: Install Zap?\nDo you agree?");
  EXPECT_EQ(summaries[2], product_ + ": Successfully installed.");
  EXPECT_EQ(summaries[3], "Confirm: Start Zap now?\n");

  EXPECT_EQ(Record(), "RecordBefore|" + dest_ + "\r\nRecordAfter|" + dest_ + "\r\n");
  EXPECT_EQ(ReadTextFile(dest_ + "app.txt").value_or("<missing>"), "the program");
  if (yes) {
    const std::optional<std::string> started = WaitForFile(dest_ + program_ + ".cmdline");
    ASSERT_TRUE(started.has_value()) << "the program was not started";
    EXPECT_NE(started->find(dest_ + program_), std::string::npos) << *started;
  } else {
    // The run has ended: a program it started would run now or have left its record (which
    // it writes before it ends), so the record is looked for after the process.
    EXPECT_FALSE(ProcessRuns(program_));
    EXPECT_FALSE(FileExists(dest_ + program_ + ".cmdline"));
  }
  ExpectTemporaryFolderClean();
}

INSTANTIATE_TEST_SUITE_P(YesAndNo, ClosingAnswer, ::testing::Values(IDYES, IDNO),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return info.param == IDYES ? std::string("Yes") : std::string("No");
                         });

TEST_F(StagesRun, FailingExtensionFunctionsAreReportedAndTheInstallationRuns) {
  Run(Project("Advanced=1\r\nFunction=DereferenceNull\r\n",
              "Advanced=1\r\nFunction=ThrowException\r\nDialog=1\r\nLine=1\r\nLine1=Bye\r\n"),
      {ChooseDestination(), Press(IDOK), Press(IDOK), Press(IDOK)});
  if (HasFatalFailure()) {
    return;
  }
  const std::vector<std::string> summaries = Summaries();
  ASSERT_EQ(summaries.size(), 4u);
  // No success message after the After function's exception; the closing screen still comes.
  EXPECT_EQ(std::vector<std::string>(summaries.begin() + 1, summaries.end()),
            (std::vector<std::string>{"Error: Error calling 'DereferenceNull' from 'ext.dll'",
                                      "Error: Error calling 'ThrowException' from 'ext.dll'",
                                      "Info: Bye\n"}));
  EXPECT_EQ(Record(), "DereferenceNull|" + dest_ + "\r\nThrowException|" + dest_ + "\r\n");
  EXPECT_EQ(ReadTextFile(dest_ + "app.txt").value_or("<missing>"), "the program");
  EXPECT_TRUE(FileExists(dest_ + program_));
  ExpectTemporaryFolderClean();
}

TEST_F(StagesRun, ARefusedLicenceEndsTheRunBeforeTheDestination) {
  // Two lines: the script reader cuts every value at 1023 characters.
  const std::string licence(800, 'L');
  Run(Project("Dialog=1\r\nButton=2\r\nLine=2\r\nLine1=" + licence + "\r\nLine2=" + licence +
                  "\r\nFooter=Do you agree?\r\nAdvanced=1\r\nFunction=RecordBefore\r\n",
              ""),
      {Press(IDC_LICENCE_RIGHT_BUTTON)});
  if (HasFatalFailure()) {
    return;
  }
  ASSERT_EQ(seen_.size(), 1u);
  EXPECT_EQ(seen_[0].window.caption, "Confirm");
  EXPECT_EQ(seen_[0].window.ControlText(IDC_LICENCE_FOOTER), "Do you agree?");
  EXPECT_EQ(Record(), "");
  EXPECT_FALSE(FileExists(dest_));
  EXPECT_TRUE(FolderEntries(temp_).empty());
}

}  // namespace
}  // namespace vorlatch::test
