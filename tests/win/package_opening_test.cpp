#include "package/opening.h"

#include <gtest/gtest.h>

#include "package/format.h"
#include "package/process_state.h"
#include "script/script_access.h"
#include "support/test_files.h"

namespace vorlatch {
namespace {

using test::FileTimes;
using test::ScopedEnvironment;
using test::TempFolder;

const FileTimes kScriptTimes{test::TicksOfDate(2003, 4, 5, 6, 7, 8),
                             test::TicksOfDate(2004, 5, 6, 7, 8, 9),
                             test::TicksOfDate(2003, 12, 24, 18, 0, 2)};

constexpr char kProject[] =
    "[General]\r\nProduct=Opening Test\r\nCompany=Vorlatch Tests\r\n"
    "[File]\r\nFile=0\r\n";

class PackageOpeningTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcessState();
    temp_ = folder_.Subfolder("temp");
  }
  void TearDown() override {
    ClosePackage();
    ResetProcessState();
  }

  // An installer whose script comes from kProject with the given attributes and times.
  std::string BuildInstaller(DWORD projectAttributes = FILE_ATTRIBUTE_ARCHIVE) {
    const std::string project = folder_.File("opening.vlp");
    EXPECT_TRUE(test::WriteTextFile(project, kProject));
    EXPECT_TRUE(test::SetFileTimes(project, kScriptTimes));
    EXPECT_TRUE(test::SetAttributes(project, projectAttributes));
    std::string error;
    const std::string installer = test::BuildInstallerFromProject(project, error);
    EXPECT_FALSE(installer.empty()) << error;
    return installer;
  }

  TempFolder folder_;
  std::string temp_;
};

TEST_F(PackageOpeningTest, TemporaryDirectoryHasExactlyOneTrailingBackslash) {
  ScopedEnvironment tmp("Tmp", "C:\\Some\\Where\\\\");
  ScopedEnvironment temp("Temp", "C:\\Elsewhere");
  EXPECT_EQ(TemporaryDirectory(), "C:\\Some\\Where\\");
  EXPECT_EQ(ScriptPath(), "C:\\Some\\Where\\Vorlatch.ini");
  EXPECT_EQ(UninstallLogTempPath(), "C:\\Some\\Where\\Uninstall.ini");
}

TEST_F(PackageOpeningTest, TemporaryDirectoryFallsBackToTemp) {
  ScopedEnvironment tmp("Tmp", std::nullopt);
  ScopedEnvironment temp("Temp", "D:\\Scratch");
  EXPECT_EQ(TemporaryDirectory(), "D:\\Scratch\\");
}

TEST_F(PackageOpeningTest, WithoutTmpAndTempTheScriptIsCreatedInTheCurrentDirectory) {
  const std::string installer = BuildInstaller();
  ScopedEnvironment tmp("Tmp", std::nullopt);
  ScopedEnvironment temp("Temp", std::nullopt);
  test::ScopedCurrentDirectory current(temp_);
  EXPECT_EQ(TemporaryDirectory(), "");
  ASSERT_TRUE(OpenPackageFile(installer));
  ASSERT_TRUE(ExtractScript());
  EXPECT_TRUE(test::FileExists(temp_ + "Vorlatch.ini"));
  EXPECT_EQ(test::FolderEntries(temp_), std::vector<std::string>{"Vorlatch.ini"});
  // The profile functions find it there too, not in the Windows directory.
  EXPECT_EQ(ReadScriptString("General", "Product", ""), "Opening Test");
  ClosePackage();
  CleanupTemporaryFiles();
  EXPECT_TRUE(test::FolderEntries(temp_).empty());
}

TEST_F(PackageOpeningTest, ExtractScriptGivesTheScriptItsStoredAttributesAndTimes) {
  const std::string installer = BuildInstaller(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
  ScopedEnvironment tmp("Tmp", temp_);
  ASSERT_TRUE(OpenPackageFile(installer));
  EXPECT_NE(g_state.packageView, nullptr);
  EXPECT_NE(g_state.packageMapping, nullptr);
  EXPECT_EQ(static_cast<std::size_t>(g_state.packageSize),
            test::ReadFileBytes(installer).value_or(std::vector<std::uint8_t>()).size());
  ASSERT_TRUE(ExtractScript());

  const auto times = test::GetFileTimes(ScriptPath());
  ASSERT_TRUE(times.has_value());
  EXPECT_EQ(times->write, kScriptTimes.write);
  if (test::FileSystemKeepsCreationTimes(temp_)) {
    EXPECT_EQ(times->creation, kScriptTimes.creation);
  }
  EXPECT_EQ(test::GetAttributes(ScriptPath()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE),
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(ReadScriptString("General", "Company", ""), "Vorlatch Tests");
  EXPECT_EQ(ReadScriptInt("File", "File", -1), 0);

  ClosePackage();
  EXPECT_EQ(g_state.packageView, nullptr);
  EXPECT_EQ(g_state.packageMapping, nullptr);
  ClosePackage();  // a second close finds nothing to release
  // The read-only script goes too.
  CleanupTemporaryFiles();
  EXPECT_TRUE(test::FolderEntries(temp_).empty());
}

TEST_F(PackageOpeningTest, OpenFailsForMissingEmptyAndDamagedPackages) {
  EXPECT_FALSE(OpenPackageFile(""));
  EXPECT_FALSE(OpenPackageFile(folder_.File("missing.exe")));

  const std::string empty = folder_.File("empty.exe");
  ASSERT_TRUE(test::WriteFileBytes(empty, {}));
  EXPECT_FALSE(OpenPackageFile(empty));

  // A trailer that claims a script block longer than the file.
  std::vector<std::uint8_t> bytes(100, 0x5A);
  AppendU32(bytes, 200);
  const std::string longTrailer = folder_.File("long-trailer.exe");
  ASSERT_TRUE(test::WriteFileBytes(longTrailer, bytes));
  EXPECT_FALSE(OpenPackageFile(longTrailer));

  // A script block shorter than an item tail.
  bytes.resize(100);
  AppendU32(bytes, 31);
  const std::string shortBlock = folder_.File("short-block.exe");
  ASSERT_TRUE(test::WriteFileBytes(shortBlock, bytes));
  EXPECT_FALSE(OpenPackageFile(shortBlock));

  const std::string tiny = folder_.File("tiny.exe");
  ASSERT_TRUE(test::WriteFileBytes(tiny, {1, 2, 3}));
  EXPECT_FALSE(OpenPackageFile(tiny));

  EXPECT_EQ(g_state.packageView, nullptr);
  EXPECT_EQ(g_state.packageMapping, nullptr);
  EXPECT_EQ(g_state.packageSize, 0);
  EXPECT_FALSE(ExtractScript());
}

TEST_F(PackageOpeningTest, ExtractScriptFailsForACorruptScriptStream) {
  std::vector<std::uint8_t> bytes(64, 0x11);
  bytes.push_back(kReservedByteValue);
  const std::size_t blockStart = bytes.size();
  bytes.insert(bytes.end(), {0x78, 0x9C, 0xFF, 0xFF, 0xFF, 0xFF});
  AppendItemTail(bytes, ItemTail{0x20, 1, 2, 3, 100});
  AppendU32(bytes, static_cast<std::uint32_t>(bytes.size() - blockStart));
  const std::string package = folder_.File("corrupt.exe");
  ASSERT_TRUE(test::WriteFileBytes(package, bytes));
  ScopedEnvironment tmp("Tmp", temp_);
  ASSERT_TRUE(OpenPackageFile(package));
  EXPECT_FALSE(ExtractScript());
}

TEST_F(PackageOpeningTest, CleanupDeletesEveryTemporaryFileNamedByTheScript) {
  ScopedEnvironment tmp("Tmp", temp_);
  ASSERT_TRUE(test::WriteTextFile(ScriptPath(),
                                  "[File]\r\nDll=ext.dll\r\n[Before]\r\nFile=before.txt\r\n"
                                  "[After]\r\nFile=after.txt\r\n"));
  for (const char* name : {"ext.dll", "before.txt", "after.txt", "Uninstall.ini"}) {
    ASSERT_TRUE(test::WriteTextFile(temp_ + name, "x"));
  }
  ASSERT_TRUE(test::WriteTextFile(temp_ + "other.txt", "kept"));
  CleanupTemporaryFiles();
  EXPECT_EQ(test::FolderEntries(temp_), std::vector<std::string>{"other.txt"});
}

TEST_F(PackageOpeningTest, CleanupWithoutNamesTriesTheTildeFile) {
  ScopedEnvironment tmp("Tmp", temp_);
  ASSERT_TRUE(test::WriteTextFile(ScriptPath(), "[General]\r\nProduct=x\r\n"));
  ASSERT_TRUE(test::WriteTextFile(temp_ + "~", "x"));
  CleanupTemporaryFiles();
  EXPECT_TRUE(test::FolderEntries(temp_).empty());
  CleanupTemporaryFiles();  // nothing left: every deletion fails quietly
}

// A run that ended without its clean-up (terminated by the user, or killed) leaves its
// script behind, read-only when its project file was. The next installation replaces it.
// (Under Wine as root a read-only file can be written anyway; Windows refuses.)
TEST_F(PackageOpeningTest, AStaleReadOnlyScriptIsReplaced) {
  const std::string installer = BuildInstaller();
  ScopedEnvironment tmp("Tmp", temp_);
  ASSERT_TRUE(test::WriteTextFile(temp_ + "Vorlatch.ini", "[General]\r\nProduct=stale\r\n"));
  ASSERT_TRUE(test::SetAttributes(temp_ + "Vorlatch.ini", FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(OpenPackageFile(installer));
  ASSERT_TRUE(ExtractScript());
  EXPECT_EQ(ReadScriptString("General", "Product", ""), "Opening Test");
  EXPECT_EQ(test::GetAttributes(ScriptPath()) & FILE_ATTRIBUTE_READONLY, 0u);
  ClosePackage();
  CleanupTemporaryFiles();
  EXPECT_TRUE(test::FolderEntries(temp_).empty());
}

TEST(ArchiveErrorText, ShortAndLongForm) {
  EXPECT_EQ(ArchiveErrorText(""), "Possibly corrupted archive.");
  EXPECT_EQ(ArchiveErrorText("C:\\Program Files\\App\\app.exe"),
            "Writing\n\nC:\\Program Files\\App\\app.exe\n\nPossibly corrupted archive or file "
            "locked.");
}

}  // namespace
}  // namespace vorlatch
