// Whole runs of the stub against other people's files: two installers at once, each with
// its own temporary folder that its extension DLL finds through the system's temporary path,
// and a comctl32.dll planted beside the installer.

#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "support/run_answers.h"
#include "support/test_files.h"
#include "support/ui_robot.h"
#include "support/window_answers.h"

namespace vorlatch::test {
namespace {

constexpr DWORD kStubTimeoutMs = 60000;
constexpr char kCompany[] = "Vorlatch Run Folder";

class RunFolderTest : public ::testing::Test {
 protected:
  // An installer of one file whose extension records, before the installation, the product
  // of the script it finds in the temporary folder.
  std::string Installer(const std::string& product) {
    const std::string app = folder_.File("app.txt");
    EXPECT_TRUE(WriteTextFile(app, "the program"));
    std::string error;
    const std::string installer = BuildTestInstaller(
        folder_,
        "[General]\r\nCompany=" + std::string(kCompany) + "\r\nProduct=" + product +
            "\r\n[File]\r\nFile=1\r\nFile1=app.txt\r\nSource1=" + app +
            "\r\nDll=ext.dll\r\nDllSource=" + BesideTests("extension_fixture.dll") +
            "\r\n[Before]\r\nAdvanced=1\r\nFunction=RecordTemporaryScript\r\n",
        error, product + ".vlp");
    EXPECT_FALSE(installer.empty()) << error;
    return installer;
  }

  // Starts the installer (its extension recording into `record`) and waits for its
  // destination dialog.
  HWND StartUntilDestination(ChildProcess& stub, const std::string& installer,
                             const std::string& product, const std::string& record) {
    const ScopedEnvironment recordVariable("VORLATCH_EXTENSION_RECORD", record);
    EXPECT_TRUE(stub.Start(Quoted(installer)));
    WindowQuery query;
    query.processId = stub.processId();
    query.caption = std::string(kCompany) + " installing " + product;
    return WaitForWindow(query);
  }

  // Installs into `destination` from the open destination dialog and expects a clean end.
  void Finish(ChildProcess& stub, HWND destinationDialog, const std::string& destination) {
    ASSERT_NE(destinationDialog, nullptr);
    SetControlText(destinationDialog, IDC_DESTINATION_PATH, destination);
    PressButton(destinationDialog, IDC_NEXT);
    const std::vector<AnsweredWindow> seen = AnswerWindows(stub.processId(), {Press(IDOK)});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].window.MessageText(), "Successfully installed.");
    const ProcessResult result = stub.Wait(kStubTimeoutMs);
    ASSERT_TRUE(result.finished) << DumpWindows(stub.processId());
    EXPECT_EQ(result.exitCode, 0u);
  }

  TempFolder folder_;
  std::string temp_ = folder_.Subfolder("temp");
  ScopedEnvironment tmp_{"Tmp", temp_};
  ScopedEnvironment tempVariable_{"Temp", temp_};
};

// The second installer starts while the first waits at its destination: with one shared set
// of file names it would replace the first one's script.
TEST_F(RunFolderTest, TwoInstallersAtOnceEachFindTheirOwnScriptThroughTheTemporaryFolder) {
  const std::string first = Installer("First");
  const std::string second = Installer("Second");
  ASSERT_FALSE(first.empty() || second.empty());
  ChildProcess firstStub;
  ChildProcess secondStub;
  const HWND firstDialog =
      StartUntilDestination(firstStub, first, "First", folder_.File("first.txt"));
  const HWND secondDialog =
      StartUntilDestination(secondStub, second, "Second", folder_.File("second.txt"));
  ASSERT_NO_FATAL_FAILURE(Finish(firstStub, firstDialog, folder_.path() + "One\\"));
  ASSERT_NO_FATAL_FAILURE(Finish(secondStub, secondDialog, folder_.path() + "Two\\"));

  std::vector<std::string> folders;
  for (const auto& [record, product] : std::vector<std::pair<std::string, std::string>>{
           {"first.txt", "First"}, {"second.txt", "Second"}}) {
    const std::string text = ReadTextFile(folder_.File(record)).value_or("");
    const std::string start = "RecordTemporaryScript|" + product + "|" + temp_ + "vorlatch-";
    ASSERT_EQ(text.rfind(start, 0), 0u) << text;
    ASSERT_EQ(text.size() >= 3 && text.compare(text.size() - 3, 3, "\\\r\n"), 0) << text;
    folders.push_back(text.substr(start.size()));
  }
  EXPECT_NE(folders[0], folders[1]);
  EXPECT_EQ(ReadTextFile(folder_.path() + "One\\app.txt").value_or("<missing>"), "the program");
  EXPECT_EQ(ReadTextFile(folder_.path() + "Two\\app.txt").value_or("<missing>"), "the program");
  EXPECT_EQ(FolderEntries(temp_), std::vector<std::string>{}) << "left in the temporary folder";
}

// A downloads folder with a comctl32.dll in it beside the installer: the installer's windows
// still work, and that DLL is never loaded. (Wine is told to prefer a DLL found on the search
// path to its own, as Windows does for a DLL that is no known system DLL.)
TEST_F(RunFolderTest, AComctl32BesideTheInstallerIsNotLoaded) {
  const std::string built = Installer("Planted");
  ASSERT_FALSE(built.empty());
  const std::string downloads = folder_.Subfolder("Downloads");
  const std::string installer = downloads + "setup.exe";
  ASSERT_TRUE(::CopyFileA(built.c_str(), installer.c_str(), FALSE));
  ASSERT_TRUE(::CopyFileA(BesideTests("planted_comctl32.dll").c_str(),
                          (downloads + "comctl32.dll").c_str(), FALSE));
  const std::string marker = folder_.File("comctl32-loaded");
  const ScopedEnvironment markerVariable("VORLATCH_PLANTED_MARKER", marker);
  char overrides[1024] = {};
  ::GetEnvironmentVariableA("WINEDLLOVERRIDES", overrides, sizeof overrides);
  const ScopedEnvironment preferPlanted("WINEDLLOVERRIDES",
                                        std::string(overrides) + ";comctl32=n,b");
  ChildProcess stub;
  const HWND dialog =
      StartUntilDestination(stub, installer, "Planted", folder_.File("planted.txt"));
  ASSERT_NO_FATAL_FAILURE(Finish(stub, dialog, folder_.path() + "Planted\\"));
  EXPECT_FALSE(FileExists(marker)) << "the planted comctl32.dll was loaded";
}

// A program that the After stage starts from the run's folder keeps running after the
// installer has ended: its file stays while it runs, and the folder goes once it has ended.
TEST_F(RunFolderTest, AProgramStartedFromTheRunFolderKeepsItUntilItEnds) {
  std::string error;
  const std::string installer = BuildTestInstaller(
      folder_,
      "[General]\r\nCompany=" + std::string(kCompany) + "\r\nProduct=Lingering\r\n[After]\r\n" +
          "Run=1\r\nFile=linger.exe\r\nFileSource=" + BesideTests("recording_uninstaller.exe"),
      error);
  ASSERT_FALSE(installer.empty()) << error;
  const std::string name = "vorlatch-linger-" + std::to_string(::GetCurrentProcessId());
  const UniqueHandle release(::CreateEventA(nullptr, TRUE, FALSE, name.c_str()));
  const ScopedEnvironment eventVariable("VORLATCH_LINGER_EVENT", name);
  ChildProcess stub;
  const HWND dialog = StartUntilDestination(stub, installer, "Lingering", folder_.File("x.txt"));
  ASSERT_NO_FATAL_FAILURE(Finish(stub, dialog, folder_.path() + "Lingering\\"));

  // The installer has ended; the program runs on from its file in the run's folder.
  const std::vector<std::string> left = FolderEntries(temp_);
  ASSERT_EQ(left.size(), 1u);
  const std::string program = temp_ + left[0] + "\\linger.exe";
  EXPECT_EQ(WaitForFile(program + ".cmdline").value_or("<not started>"), program);
  EXPECT_TRUE(FileExists(program));
  ::SetEvent(release.get());
  // Once it has ended, the installer's own file (the waiting copy) removes the folder.
  EXPECT_TRUE(WaitForProgramsIn(temp_) && WaitForProgramsIn(installer));
  EXPECT_EQ(FolderEntries(temp_), std::vector<std::string>{}) << "left in the temporary folder";
}

}  // namespace
}  // namespace vorlatch::test
