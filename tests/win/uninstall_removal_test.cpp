// The uninstaller's removal against the real system, in this process: logs written the way
// the installer writes them, the registry, INI files and files they name, the folders that
// may go, and the tail of an uninstaller file read back.

#include "uninstaller/removal.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "script/path_macros.h"
#include "support/test_files.h"
#include "uninstaller/log_reader.h"

namespace vorlatch {
namespace {

using test::Line;
using test::TempFolder;

bool KeyExists(const std::string& path) {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  ::RegCloseKey(key);
  return true;
}

bool ValueExists(const std::string& path, const std::string& name) {
  return ::RegGetValueA(HKEY_CURRENT_USER, path.c_str(), name.empty() ? nullptr : name.c_str(),
                        RRF_RT_ANY, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

void SetValue(const std::string& path, const std::string& name, const std::string& value) {
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ::RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
  ::RegCloseKey(key);
}

void MakeKey(const std::string& path) {
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ::RegCloseKey(key);
}

class UninstallRemoval : public ::testing::Test {
 protected:
  void TearDown() override { ::RegDeleteTreeA(HKEY_CURRENT_USER, base_.c_str()); }

  // A log in the test folder; [General] BID is the test folder's "app" folder.
  UninstallLog Log(const std::string& sections) {
    const std::string file = folder_.File("log.ini");
    EXPECT_TRUE(test::WriteTextFile(file, "[General]\r\n" + Line("BID", bid_) + sections));
    return UninstallLog::FromFile(file);
  }

  MacroFolders Folders() const {
    MacroFolders folders;
    folders.windows = WindowsDirectory();
    folders.system = SystemDirectory();
    folders.bid = bid_;
    return folders;
  }

  TempFolder folder_;
  std::string bid_ = folder_.Subfolder("app");
  std::string base_ = "Software\\VorlatchRemoval" + std::to_string(::GetCurrentProcessId());
  std::string root_ = "HKEY_CURRENT_USER\\" + base_;
};

TEST_F(UninstallRemoval, RegistryValuesAndKeysGoUnlessKeptOrStillInUse) {
  // There before: the base key with a value; the installation then made New\Deep and Other,
  // and set values in all three. Someone else added a key below Other since.
  SetValue(base_, "Mine", "changed by the installation");
  SetValue(base_, "Added", "1");
  SetValue(base_ + "\\New\\Deep", "", "default");
  SetValue(base_ + "\\New\\Deep", "Gone", "1");
  SetValue(base_ + "\\New\\Deep", "Stay", "1");
  SetValue(base_ + "\\Other", "Gone", "1");
  MakeKey(base_ + "\\Other\\Foreign");
  MakeKey(base_ + "\\Empty");
  const UninstallLog log =
      Log("[Registry]\r\nNumber=6\r\n" + Line("Key1", root_) + "Keep1=1\r\n" +
          Line("Key2", root_ + "\\New") + Line("Key3", root_ + "\\New\\Deep") +
          Line("Key4", root_ + "\\Other") + Line("Key5", root_ + "\\Empty") +
          Line("Key6", "HKEY_CURRENT_USER\\\\" + base_) +
          "[Key1]\r\nNumber=2\r\nName1=Mine\r\nValue1=changed by the installation\r\nKeep1=1\r\n"
          "Name2=Added\r\nValue2=1\r\n"
          "[Key3]\r\nNumber=3\r\nValue1=default\r\nName2=Gone\r\nValue2=1\r\nName3=Stay\r\n"
          "Value3=1\r\nKeep3=1\r\n"
          "[Key4]\r\nNumber=1\r\nName1=Gone\r\nValue1=1\r\n");
  Removal removal(log, Folders(), ProtectedFolders(), std::nullopt);
  removal.RemoveRegistryEntries();

  EXPECT_TRUE(ValueExists(base_, "Mine")) << "a value that was there before";
  EXPECT_FALSE(ValueExists(base_, "Added"));
  EXPECT_FALSE(ValueExists(base_ + "\\New\\Deep", "")) << "the unnamed default value";
  EXPECT_FALSE(ValueExists(base_ + "\\New\\Deep", "Gone"));
  EXPECT_TRUE(ValueExists(base_ + "\\New\\Deep", "Stay")) << "marked Keep";
  EXPECT_FALSE(ValueExists(base_ + "\\Other", "Gone"));
  EXPECT_TRUE(KeyExists(base_ + "\\Other\\Foreign")) << "not in the log";
  EXPECT_FALSE(KeyExists(base_ + "\\Empty"));

  // Without the kept value and the foreign key the same log takes every key it made, and
  // still leaves the one that was there before.
  ::RegDeleteKeyValueA(HKEY_CURRENT_USER, (base_ + "\\New\\Deep").c_str(), "Stay");
  ::RegDeleteKeyA(HKEY_CURRENT_USER, (base_ + "\\Other\\Foreign").c_str());
  removal.RemoveRegistryEntries();
  EXPECT_FALSE(KeyExists(base_ + "\\New"));
  EXPECT_FALSE(KeyExists(base_ + "\\Other"));
  EXPECT_TRUE(KeyExists(base_));
}

TEST_F(UninstallRemoval, IniKeysGoAndSectionsAndFilesLeftEmptyWithThem) {
  const std::string own = bid_ + "own.ini";
  const std::string made = bid_ + "made.ini";
  ASSERT_TRUE(test::WriteTextFile(
      own, "[Options]\r\nMine=1\r\nColor=red\r\n[Added]\r\nFlag=1\r\n[Other]\r\nX=1\r\n"));
  ASSERT_TRUE(test::WriteTextFile(made, "[Options]\r\nColor=blue\r\n"));
  const std::string sections =
      "[Ini]\r\nNumber=3\r\nFile1=own.ini\r\nTarget1=[BID]\r\nFile2=made.ini\r\nFile3=missing."
      "ini\r\n"
      "[Section1]\r\nNumber=2\r\nSection1=Options\r\nSection2=Added\r\n"
      "[Section1_1]\r\nNumber=1\r\nKey1=Color\r\n[Section1_2]\r\nNumber=1\r\nKey1=Flag\r\n"
      "[Section2]\r\nNumber=1\r\nSection1=Options\r\n[Section2_1]\r\nNumber=1\r\nKey1=Color\r\n"
      "[Section3]\r\nNumber=1\r\nSection1=Options\r\n[Section3_1]\r\nNumber=1\r\nKey1=Color\r\n";
  const UninstallLog log = Log(sections);

  // A rollback leaves them: the installation never reached the stage that writes them.
  Removal rollback(log, Folders(), ProtectedFolders(), 0);
  rollback.Run();
  EXPECT_TRUE(test::FileExists(made));
  EXPECT_EQ(test::ReadTextFile(own).value_or(""),
            "[Options]\r\nMine=1\r\nColor=red\r\n[Added]\r\nFlag=1\r\n[Other]\r\nX=1\r\n");

  Removal removal(log, Folders(), ProtectedFolders(), std::nullopt);
  removal.RemoveIniEntries();
  char value[64] = {};
  ::GetPrivateProfileStringA("Options", "Mine", "", value, sizeof value, own.c_str());
  EXPECT_STREQ(value, "1");
  ::GetPrivateProfileStringA("Other", "X", "", value, sizeof value, own.c_str());
  EXPECT_STREQ(value, "1");
  ::GetPrivateProfileStringA("Options", "Color", "<none>", value, sizeof value, own.c_str());
  EXPECT_STREQ(value, "<none>");
  const std::string text = test::ReadTextFile(own).value_or("");
  EXPECT_EQ(text.find("[Added]"), std::string::npos) << text;
  EXPECT_FALSE(test::FileExists(made)) << "nothing but the logged keys was in it";
  EXPECT_FALSE(test::FileExists(bid_ + "missing.ini")) << "not made by the removal";
  EXPECT_TRUE(removal.leftOvers().empty());
}

TEST_F(UninstallRemoval, FilesGoOnlyWhereTheLogNamesThem) {
  ASSERT_TRUE(test::WriteTextFile(bid_ + "a.txt", "a"));
  ASSERT_TRUE(test::SetAttributes(bid_ + "a.txt", FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(test::WriteTextFile(folder_.Subfolder("app\\sub") + "b.txt", "b"));
  ASSERT_TRUE(test::WriteTextFile(bid_ + "keep.txt", "not in the log"));
  ASSERT_TRUE(test::WriteTextFile(folder_.File("outside.txt"), "outside"));
  ASSERT_TRUE(test::WriteTextFile(bid_ + "locked.txt", "in use"));
  ASSERT_TRUE(::CreateDirectoryA((bid_ + "folder.txt").c_str(), nullptr));
  const UninstallLog log =
      Log("[File]\r\nFile=6\r\nFile1=[BID]a.txt\r\nFile2=[bid]sub\\b.txt\r\n"
          "File3=[BID]..\\outside.txt\r\nFile4=[BID]locked.txt\r\nFile5=[BID]folder.txt\r\n"
          "File6=[BID]gone.txt\r\n");
  const UniqueHandle holder(::CreateFileA((bid_ + "locked.txt").c_str(), GENERIC_READ, 0, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);

  Removal removal(log, Folders(), ProtectedFolders(), std::nullopt);
  removal.RemoveFiles();
  EXPECT_FALSE(test::FileExists(bid_ + "a.txt")) << "read-only is no reason to stay";
  EXPECT_FALSE(test::FileExists(bid_ + "sub\\b.txt"));
  EXPECT_TRUE(test::FileExists(bid_ + "sub")) << "folders go last, after the uninstaller";
  EXPECT_TRUE(test::FileExists(bid_ + "keep.txt"));
  EXPECT_TRUE(test::FileExists(folder_.File("outside.txt")));
  EXPECT_TRUE(test::FileExists(bid_ + "folder.txt")) << "a folder is no file";
  EXPECT_TRUE(test::FileExists(bid_ + "locked.txt"));
  EXPECT_EQ(removal.leftOvers(), std::vector<std::string>{bid_ + "locked.txt"});
}

TEST_F(UninstallRemoval, ARollbackKeepsFilesUnchangedSinceTheInstallationBegan) {
  const std::string reached = bid_ + "reached.txt";
  const std::string untouched = bid_ + "untouched.txt";
  ASSERT_TRUE(test::WriteTextFile(untouched, "the user's own"));
  const auto untouchedTime = ChangeTimeOf(untouched);
  ASSERT_TRUE(untouchedTime.has_value()) << "the file system tells when a file changed";
  EXPECT_TRUE(ChangedSince(untouched, *untouchedTime));
  EXPECT_FALSE(ChangedSince(untouched, *untouchedTime + 1));
  // A file that is not there has changed as far as anybody can tell.
  EXPECT_TRUE(ChangedSince(bid_ + "absent.txt", *untouchedTime + 1));

  // The installation began after the user's file was last changed, and then wrote the other
  // one. File times advance in ticks of the system clock: it is written until its time is a
  // later one.
  const std::uint64_t began = *untouchedTime + 1;
  std::optional<std::uint64_t> reachedTime;
  for (int attempt = 0; attempt < 100000 && reachedTime.value_or(0) < began; ++attempt) {
    ASSERT_TRUE(test::WriteTextFile(reached, "written by the installation"));
    reachedTime = ChangeTimeOf(reached);
  }
  ASSERT_GE(reachedTime.value_or(0), began);
  const UninstallLog log =
      Log("[File]\r\nFile=2\r\nFile1=[BID]untouched.txt\r\nFile2=[BID]reached.txt\r\n");
  Removal removal(log, Folders(), ProtectedFolders(), began);
  removal.RemoveFiles();
  EXPECT_TRUE(test::FileExists(untouched));
  EXPECT_FALSE(test::FileExists(reached));
}

TEST_F(UninstallRemoval, FoldersThatMayGoDeepestFirstAndNeverSystemFolders) {
  const MacroFolders folders = [&] {
    MacroFolders f = Folders();
    f.programFiles = ProgramFilesDirectory();
    return f;
  }();
  const ProtectedFolders protectedFolders = ProtectedFolders::OfSystem(folders);
  const std::string files =
      "[File]\r\nFile=4\r\nFile1=[BID]a\\b\\x.txt\r\nFile2=[BID]a\\y.txt\r\n"
      "File3=[PROGFILES]VorlatchAcme\\z.txt\r\nFile4=[SYSTEM]sub\\w.dll\r\n";
  EXPECT_EQ(InstallationFolders(Log(files), folders, protectedFolders),
            (std::vector<std::string>{bid_ + "a\\b\\", bid_ + "a\\", bid_,
                                      folders.programFiles + "VorlatchAcme\\"}));

  // An installation folder that is a drive root or lies in the Windows folder: files only.
  for (const std::string& bid :
       {std::string("C:\\"), WindowsDirectory(), WindowsDirectory() + "Sub\\", folders.programFiles,
        SystemDirectory()}) {
    MacroFolders other = folders;
    other.bid = bid;
    EXPECT_EQ(InstallationFolders(Log(files), other, protectedFolders), std::vector<std::string>{})
        << bid;
  }
  for (const std::string& kept :
       {std::string("D:\\"), WindowsDirectory() + "Fonts\\", folders.programFiles,
        SpecialFolderPath(CSIDL_PERSONAL).value_or("C:\\")}) {
    EXPECT_TRUE(protectedFolders.Contains(kept)) << kept;
  }
  EXPECT_FALSE(protectedFolders.Contains(bid_));

  // A log that names the folders made: those alone, where they can be, and never one that the
  // log leads elsewhere with a relative, dotted or unrelated path.
  const std::string above = bid_.substr(0, bid_.size() - 4);
  const std::string made =
      files + "[Folders]\r\nNumber=8\r\n" + Line("Folder1", above) + Line("Folder2", bid_ + "a") +
      Line("Folder3", folders.programFiles + "VorlatchAcme\\") +
      Line("Folder4", "C:\\VorlatchElsewhere\\") + Line("Folder5", bid_ + "a\\..\\..\\x\\") +
      Line("Folder6", "rel\\") + Line("Folder7", WindowsDirectory() + "Sub\\") +
      Line("Folder8", folders.programFiles);
  EXPECT_EQ(
      InstallationFolders(Log(made), folders, protectedFolders),
      (std::vector<std::string>{bid_ + "a\\", above, folders.programFiles + "VorlatchAcme\\"}));
  EXPECT_EQ(
      InstallationFolders(Log(files + "[Folders]\r\nNumber=0\r\n"), folders, protectedFolders),
      std::vector<std::string>{});
}

TEST_F(UninstallRemoval, TheTailOfAnUninstallerIsReadAndCheckedAndLeavesNoCopy) {
  const auto program = test::ReadFileBytes(test::BesideTests("vorlatch-uninstall.exe"));
  ASSERT_TRUE(program.has_value());
  const std::string temp = folder_.Subfolder("temp");
  test::ScopedEnvironment tmp("Tmp", temp);
  auto uninstallerWith = [&](const std::string& log) {
    std::vector<std::uint8_t> bytes = *program;
    bytes.insert(bytes.end(), log.begin(), log.end());
    for (int i = 0; i < 4; ++i) {
      bytes.push_back(static_cast<std::uint8_t>(log.size() >> (8 * i)));
    }
    const std::string path = folder_.File("Uninstall.exe");
    EXPECT_TRUE(test::WriteFileBytes(path, bytes));
    return path;
  };

  TailProblem problem = TailProblem::kNone;
  {
    const std::optional<UninstallLog> log = UninstallLog::FromUninstaller(
        uninstallerWith(
            "[General]\r\nProduct=Tool\r\nBID=C:\\Apps\\Tool\r\n[File]\r\nFile=99999\r\n"),
        problem);
    ASSERT_TRUE(log.has_value()) << TailProblemText(problem);
    EXPECT_EQ(log->String("General", "Product"), "Tool");
    EXPECT_EQ(log->InstallationFolder(), "C:\\Apps\\Tool");
    EXPECT_EQ(log->Count("File", "File"), 6) << "no more entries than lines";
    EXPECT_EQ(test::FolderEntries(temp).size(), 1u) << "the log's temporary copy";
  }
  EXPECT_EQ(test::FolderEntries(temp), std::vector<std::string>{});

  for (const std::string& bid :
       {std::string(), std::string("relative\\path"), std::string("\\\\server")}) {
    EXPECT_FALSE(UninstallLog::FromUninstaller(
        uninstallerWith("[General]\r\nProduct=Tool\r\n" + Line("BID", bid)), problem));
    EXPECT_EQ(problem, TailProblem::kNoDestination) << bid;
  }
  EXPECT_EQ(test::FolderEntries(temp), std::vector<std::string>{});
  EXPECT_FALSE(UninstallLog::FromUninstaller(folder_.File("absent.exe"), problem));
  EXPECT_EQ(problem, TailProblem::kUnreadable);

  // A temporary folder whose name the code page cannot hold is named as the reason.
  const std::wstring foreign = std::wstring(temp.begin(), temp.end()) + L"\u5F20";
  ASSERT_TRUE(::CreateDirectoryW(foreign.c_str(), nullptr));
  ::SetEnvironmentVariableW(L"Tmp", foreign.c_str());
  EXPECT_FALSE(UninstallLog::FromUninstaller(uninstallerWith("[General]\r\nBID=C:\\Apps\\Tool\r\n"),
                                             problem));
  EXPECT_EQ(problem, TailProblem::kTemporaryName);
  ::SetEnvironmentVariableA("Tmp", temp.c_str());
  ::RemoveDirectoryW(foreign.c_str());
}

}  // namespace
}  // namespace vorlatch
