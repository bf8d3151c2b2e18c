// Whole runs of the stub: an installer made by the packer, started as a child process with
// its temporary directory pointing into a test folder.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

#include "package/format.h"
#include "package/signature_layout.h"
#include "support/run_answers.h"
#include "support/test_files.h"
#include "support/ui_robot.h"
#include "win/handles.h"

namespace vorlatch {
namespace {

using test::FileTimes;
using test::ScopedEnvironment;
using test::TempFolder;

constexpr DWORD kStubTimeoutMs = 60000;
constexpr int kDestinationEdit = 1007;

// The size of the script that an installer carries, read from its script block.
std::size_t PackedScriptSize(const std::string& installer) {
  const auto bytes = test::ReadFileBytes(installer);
  if (!bytes) {
    return 0;
  }
  const auto block = LocateScriptBlock(PackageOf(Bytes(bytes->data(), bytes->size())));
  const auto script = block ? InflateItem(*block) : std::nullopt;
  return script ? script->size() : 0;
}

const FileTimes kScriptTimes{test::TicksOfDate(2005, 1, 2, 3, 4, 6),
                             test::TicksOfDate(2006, 7, 8, 9, 10, 12),
                             test::TicksOfDate(2005, 11, 12, 13, 14, 16)};

class StubRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    temp_ = folder_.Subfolder("temp");
    tmp_.emplace("Tmp", temp_);
    tempVariable_.emplace("Temp", temp_);
  }

  std::string Build(const std::string& projectText, DWORD projectAttributes) {
    const std::string project = folder_.File("stubrun.vlp");
    EXPECT_TRUE(test::WriteTextFile(project, projectText));
    // The extension DLL that the script names is packed from beside the project.
    EXPECT_TRUE(test::WriteTextFile(folder_.File("ext.dll"), "not really a DLL"));
    EXPECT_TRUE(test::SetFileTimes(project, kScriptTimes));
    EXPECT_TRUE(test::SetAttributes(project, projectAttributes));
    std::string error;
    const std::string installer = test::BuildInstallerFromProject(project, error);
    EXPECT_FALSE(installer.empty()) << error;
    return installer;
  }

  // Runs the command line, cancels the destination dialog when one is expected (after
  // `atDestination`), and expects a clean end.
  void RunStub(const std::string& commandLine, bool expectDestinationDialog = true,
               const std::function<void(const WindowSnapshot&)>& atDestination = {}) {
    test::ChildProcess stub;
    ASSERT_TRUE(stub.Start(commandLine, temp_)) << commandLine;
    if (expectDestinationDialog) {
      WindowQuery query;
      query.processId = stub.processId();
      const WindowSnapshot destination = WaitForSnapshot(query);
      ASSERT_TRUE(destination.HasControl(kDestinationEdit)) << destination.Describe();
      if (atDestination) {
        atDestination(destination);
      }
      PressButton(destination.hwnd, IDCANCEL);
    }
    const test::ProcessResult result = stub.Wait(kStubTimeoutMs);
    ASSERT_TRUE(result.finished) << "the stub did not end: " << commandLine;
    EXPECT_EQ(result.exitCode, 0u);
  }

  TempFolder folder_;
  std::string temp_;
  std::optional<ScopedEnvironment> tmp_;
  std::optional<ScopedEnvironment> tempVariable_;
};

constexpr char kProject[] =
    "[General]\r\nProduct=Stub Run\r\nCompany=Vorlatch Tests\r\n"
    "[File]\r\nFile=0\r\nDll=ext.dll\r\n"
    "[Before]\r\nFile=before.txt\r\n";

// Files at the names that the installer's own files have, left or planted in the shared
// temporary folder by someone else: the run neither reads, replaces nor deletes them. It
// works in a folder of its own there, with the script of its package (stored times and all),
// and leaves nothing behind.
TEST_F(StubRunTest, ExtractsTheScriptIntoAFolderOfItsOwnAndLeavesPlantedFilesAlone) {
  const std::string installer = Build(kProject, FILE_ATTRIBUTE_ARCHIVE);
  ASSERT_FALSE(installer.empty());
  const std::vector<std::pair<std::string, std::string>> planted = {
      {"Vorlatch.ini", "[General]\r\nProduct=Planted\r\nCompany=Someone Else\r\n"},
      {"Vorlatch.zp", "planted"},
      {"ext.dll", "planted"},
      {"before.txt", "planted"},
      {"Uninstall.ini", "planted"}};
  for (const auto& [name, text] : planted) {
    ASSERT_TRUE(test::WriteTextFile(temp_ + name, text));
  }
  ASSERT_TRUE(test::SetAttributes(temp_ + "Vorlatch.ini", FILE_ATTRIBUTE_READONLY));

  std::string runFolder;
  RunStub("\"" + installer + "\"", true, [&](const WindowSnapshot& destination) {
    EXPECT_EQ(destination.caption, "Vorlatch Tests installing Stub Run");
    for (const std::string& name : test::FolderEntries(temp_)) {
      if (name.rfind("vorlatch-", 0) == 0) {
        EXPECT_TRUE(runFolder.empty()) << "a second folder " << name;
        runFolder = temp_ + name + "\\";
      }
    }
    ASSERT_FALSE(runFolder.empty()) << "no folder of the run in the temporary folder";
    const std::string script = runFolder + "Vorlatch.ini";
    const std::optional<FileTimes> times = test::GetFileTimes(script);
    ASSERT_TRUE(times.has_value());
    EXPECT_EQ(times->write, kScriptTimes.write);
    if (test::FileSystemKeepsCreationTimes(folder_.path())) {
      EXPECT_EQ(times->creation, kScriptTimes.creation);
    }
    EXPECT_EQ(test::ReadTextFile(script).value_or("").size(), PackedScriptSize(installer));
  });

  EXPECT_FALSE(test::FileExists(runFolder)) << "the run's folder stayed";
  std::vector<std::string> names;
  for (const auto& [name, text] : planted) {
    names.push_back(name);
    EXPECT_EQ(test::ReadTextFile(temp_ + name).value_or("<gone>"), text) << name;
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(test::FolderEntries(temp_), names);
  test::SetAttributes(temp_ + "Vorlatch.ini", FILE_ATTRIBUTE_NORMAL);
}

TEST_F(StubRunTest, AStubGivenAPackageArgumentOpensThatPackage) {
  // A read-only script: the clean-up still removes it.
  const std::string installer = Build(kProject, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
  ASSERT_FALSE(installer.empty());
  const std::string stub = test::BesideTests("vorlatch-stub.exe");
  RunStub("\"" + stub + "\" " + installer + "  ");
  EXPECT_TRUE(test::FolderEntries(temp_).empty())
      << "left behind: " << ::testing::PrintToString(test::FolderEntries(temp_));
}

TEST_F(StubRunTest, AnUnreadableScriptEndsTheRunWithTheCleanUp) {
  // A package whose script stream is corrupt: the stub gives the archive error and deletes
  // what it wrote.
  const auto stub = test::ReadFileBytes(test::BesideTests("vorlatch-stub.exe"));
  ASSERT_TRUE(stub.has_value());
  std::vector<std::uint8_t> bytes = *stub;
  bytes.push_back(0);
  const std::uint8_t block[] = {0x78, 0x9C, 0xDE, 0xAD, 0xBE, 0xEF};
  bytes.insert(bytes.end(), block, block + sizeof block);
  for (int i = 0; i < 28; ++i) {
    bytes.push_back(0);
  }
  for (std::uint8_t b : {0x40, 0x00, 0x00, 0x00}) {  // uncompressed size 64
    bytes.push_back(b);
  }
  for (std::uint8_t b : {38, 0, 0, 0}) {  // script block length
    bytes.push_back(b);
  }
  const std::string installer = folder_.File("corrupt-script.exe");
  ASSERT_TRUE(test::WriteFileBytes(installer, bytes));
  test::ChildProcess run;
  ASSERT_TRUE(run.Start("\"" + installer + "\"", temp_));
  test::ProcessResult result;
  EXPECT_EQ(test::AnswerUntilEnd(run, {{"Possibly corrupted archive", IDOK}}, result),
            std::vector<std::string>{"I/O Error: Possibly corrupted archive."});
  EXPECT_TRUE(test::FolderEntries(temp_).empty())
      << "left behind: " << ::testing::PrintToString(test::FolderEntries(temp_));
}

// A stub that cannot open its package shows the short archive error, extracts nothing and
// ends when the message is answered.
class ArchiveErrorRunTest : public StubRunTest {
 protected:
  void ExpectArchiveErrorRun(const std::string& commandLine,
                             const std::string& applicationName = "") {
    test::ChildProcess stub;
    ASSERT_TRUE(stub.Start(commandLine, temp_, applicationName)) << commandLine;
    WindowQuery query;
    query.processId = stub.processId();
    query.caption = "I/O Error";
    query.className = "#32770";
    const WindowSnapshot box = WaitForSnapshot(query);
    ASSERT_NE(box.hwnd, nullptr) << commandLine;
    EXPECT_EQ(box.MessageText(), "Possibly corrupted archive.");
    EXPECT_EQ(box.ButtonIds(), std::vector<int>{IDOK}) << box.Describe();
    EXPECT_TRUE(PressButton(box.hwnd, IDOK));
    const test::ProcessResult result = stub.Wait(kStubTimeoutMs);
    EXPECT_TRUE(result.finished);
    EXPECT_TRUE(test::FolderEntries(temp_).empty())
        << "left behind: " << ::testing::PrintToString(test::FolderEntries(temp_));
  }
};

TEST_F(ArchiveErrorRunTest, APackageArgumentThatNamesNoFile) {
  const std::string stub = test::BesideTests("vorlatch-stub.exe");
  ExpectArchiveErrorRun("\"" + stub + "\" " + folder_.File("missing-setup.exe"));
}

TEST_F(ArchiveErrorRunTest, ACommandLineWhoseQuoteNeverCloses) {
  const std::string stub = test::BesideTests("vorlatch-stub.exe");
  ExpectArchiveErrorRun("\"" + stub, stub);
}

TEST_F(ArchiveErrorRunTest, AnUnquotedPathFollowedByAnArgumentDoesNotOpen) {
  const std::string installer = Build(kProject, FILE_ATTRIBUTE_ARCHIVE);
  ASSERT_FALSE(installer.empty());
  // A path without quotes: the whole command line, argument and all, is the package path.
  ExpectArchiveErrorRun(installer + " /extra", installer);
}

}  // namespace
}  // namespace vorlatch
