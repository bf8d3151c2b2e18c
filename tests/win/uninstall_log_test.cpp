// The uninstaller, its log and the system uninstall entry, and the install driver around
// them: real packages made by the packer, the real registry and shell of the Wine prefix,
// and the driver's messages answered by the UI robot.

#include "actions/uninstall_log.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "actions/install_driver.h"
#include "package/opening.h"
#include "package/process_state.h"
#include "script/script_access.h"
#include "support/installer_test.h"
#include "support/test_files.h"
#include "support/ui_robot.h"
#include "ui/progress_dialog.h"
#include "win/handles.h"

namespace vorlatch {
namespace {

using test::Line;
using test::RegistryString;
using test::ScopedEnvironment;
using test::TempFolder;

// The temporary log without its Time<n> lines, the packed times of the test's own sources.
std::string LogWithoutTimes() {
  return std::regex_replace(test::ReadTextFile(UninstallLogTempPath()).value_or("<missing>"),
                            std::regex("\r\nTime[0-9]+=[0-9A-F]{16}"), "");
}

// What the robot saw of one message box.
struct Seen {
  std::string caption;
  std::string text;
  std::vector<int> buttons;
  bool hasIcon = false;
  bool progressShown = false;  // the progress window was still up
};

// Answers this process's message boxes in turn with the given buttons, on a helper thread,
// until Finish. One more than expected fails the test and is answered so that nothing waits.
class MessageRobot {
 public:
  explicit MessageRobot(std::vector<int> answers)
      : answers_(std::move(answers)), thread_([this] { Run(); }) {}

  const std::vector<Seen>& Finish() {
    done_ = true;
    thread_.Join();
    EXPECT_EQ(next_, answers_.size()) << "answers left unused";
    return seen_;
  }

 private:
  void Run() {
    while (!done_) {
      HWND box = nullptr;
      bool progress = false;
      for (const HWND window : TopLevelWindows(0, true)) {
        const WindowSnapshot snapshot = Snapshot(window);
        if (snapshot.caption == "Extracting") {
          progress = true;
        } else if (snapshot.className == "#32770" && snapshot.HasControl(kMessageBoxTextId)) {
          box = window;
        }
      }
      if (box == nullptr) {
        ::Sleep(5);
        continue;
      }
      const WindowSnapshot window = Snapshot(box);
      Seen seen{window.caption, window.MessageText(), window.ButtonIds(), false, progress};
      for (const ControlSnapshot& control : window.controls) {
        // Message boxes keep their icon control; without an icon it holds none.
        if (control.className == "Static" && (control.style & SS_TYPEMASK) == SS_ICON &&
            ::SendMessageA(control.hwnd, STM_GETICON, 0, 0) != 0) {
          seen.hasIcon = true;
        }
      }
      seen_.push_back(seen);
      if (next_ < answers_.size()) {
        PressButton(box, answers_[next_++]);
      } else {
        ADD_FAILURE() << "unexpected message: " << window.Describe();
        PressButton(box, window.HasControl(IDNO) ? IDNO : IDOK);
      }
      WaitForWindowGone(box);
    }
  }

  std::vector<int> answers_;
  std::size_t next_ = 0;
  std::vector<Seen> seen_;
  std::atomic<bool> done_{false};
  RobotThread thread_;
};

bool KeyExists(HKEY root, const std::string& key) {
  UniqueHkey opened;
  return ::RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, opened.put()) == ERROR_SUCCESS;
}

std::uint32_t U32At(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
         static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

class UninstallLogTest : public test::InstallerTest {
 protected:
  void SetUp() override {
    InstallerTest::SetUp();
    ::CoInitialize(nullptr);
    // Names of this test alone: the registry and the Start Menu are shared by every test.
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    unique_ = std::string("VorlatchLog") + info->name() + std::to_string(::GetCurrentProcessId());
    product_ = unique_;
    company_ = unique_ + " Company";
    registryKey_ = "Software\\" + unique_;
  }

  void TearDown() override {
    InstallerTest::TearDown();
    ::RegDeleteTreeA(HKEY_CURRENT_USER, registryKey_.c_str());
    if (!product_.empty()) {  // never the whole list of products
      ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, UninstallKey().c_str());
    }
    if (const auto programs = ProgramsFolder()) {
      test::RemoveTree(*programs + company_);
    }
    ::CoUninitialize();
  }

  std::string UninstallKey() const { return kUninstallKeyPrefix + product_; }

  static std::optional<std::string> ProgramsFolder() {
    char buffer[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_PROGRAMS, FALSE)) {
      return std::nullopt;
    }
    std::string path(buffer);
    return path + "\\";
  }

  // Packs a project whose [Build] and [File] Source<n> keys are added here: `files` are the
  // File<n> names, each with its own source; `rest` is the remaining script text. The
  // uninstaller is the recording stand-in, copied so that its times are our own.
  void Package(const std::vector<std::string>& files, const std::string& fileKeys,
               const std::string& rest) {
    const std::string sources = folder_.Subfolder("sources");
    const auto uninstaller = test::ReadFileBytes(test::BesideTests("recording_uninstaller.exe"));
    ASSERT_TRUE(uninstaller.has_value());
    uninstallerBytes_ = *uninstaller;
    const std::string uninstallerCopy = sources + "uninstaller.exe";
    ASSERT_TRUE(test::WriteFileBytes(uninstallerCopy, uninstallerBytes_));
    const std::uint64_t old = test::TicksOfDate(2001, 2, 3, 4, 5, 6);
    ASSERT_TRUE(test::SetFileTimes(uninstallerCopy, {old, old, old}));

    std::string project = "[Build]\r\n" + Line("Uninstaller", uninstallerCopy) + rest;
    project.append("[File]\r\n").append(Line("File", std::to_string(files.size())));
    for (std::size_t i = 0; i < files.size(); ++i) {
      const std::string n = std::to_string(i + 1);
      const std::string source = sources + "source" + n + ".txt";
      ASSERT_TRUE(test::WriteTextFile(source, "content of " + files[i]));
      project.append(Line("File" + n, files[i])).append(Line("Source" + n, source));
    }
    // The first of two equal keys wins: a test may say Uninstall=0.
    project.append(fileKeys).append("Uninstall=1\r\n");
    test::OpenTestPackage(folder_, project);
  }

  std::string General() const {
    return "[General]\r\n" + Line("Product", product_) + Line("Company", company_);
  }

  // Runs the driver on this thread while the robot answers.
  int Install(std::vector<int> answers, std::vector<Seen>* seen = nullptr) {
    MessageRobot robot(std::move(answers));
    const int result = RunInstallation();
    const std::vector<Seen>& boxes = robot.Finish();
    if (seen != nullptr) {
      *seen = boxes;
    }
    return result;
  }

  // Nothing that only an uninstaller brings was made.
  void ExpectNoUninstallerParts() {
    EXPECT_FALSE(test::FileExists(dest_ + "Uninstall.exe"));
    EXPECT_FALSE(test::FileExists(UninstallLogTempPath()));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, registryKey_));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UninstallKey()));
    const auto programs = ProgramsFolder();
    ASSERT_TRUE(programs.has_value());
    EXPECT_FALSE(test::FileExists(*programs + company_));
  }

  std::string unique_;
  std::string product_;
  std::string company_;
  std::string registryKey_;
  std::vector<std::uint8_t> uninstallerBytes_;
};

TEST_F(UninstallLogTest, LogRecordsRegistryFilesAndIniEntriesInOrder) {
  Package({"x.dll", "x.dll", "x.dll", "app.exe"},
          "Target1=[SYSTEM]\r\nTarget2=[BID]sub\r\nShortcut2=1\r\nTarget4=[BID]bin\\\\\r\n"
          "Shortcut4=0\r\nDesktop=app.exe\r\nQuickLaunch=app.exe\r\n",
          General() + "[Registry]\r\nNumber=1\r\nKey1=HKEY_CURRENT_USER\\" + registryKey_ +
              "\\Tool\r\n[Key1]\r\nNumber=1\r\nName1=Path\r\nValue1=[BID]\r\n"
              "[Ini]\r\nNumber=2\r\nFile1=app.ini\r\n"
              "[Section1]\r\nNumber=2\r\nSection1=Options\r\nSection2=Empty\r\n"
              "[Section1_1]\r\nNumber=3\r\nKey1=Colour\r\nKey3=Size\r\n");
  EXPECT_EQ(WriteUninstallLog(), 1);

  const std::string expected =
      "[Registry]\r\n" + Line("Number", "3") + Line("Key1", "HKEY_CURRENT_USER\\Software") +
      Line("Keep1", "1") + Line("Key2", "HKEY_CURRENT_USER\\" + registryKey_) +
      Line("Key3", "HKEY_CURRENT_USER\\" + registryKey_ + "\\Tool") + "[Key3]\r\n" +
      Line("Number", "1") + Line("Name1", "Path") + Line("Value1", "[BID]") + "[General]\r\n" +
      Line("Product", product_) + Line("Company", company_) + Line("BID", dest_) + "[File]\r\n" +
      Line("File", "4") + Line("Registrations", "1") + Line("File1", "[SYSTEM]x.dll") +
      Line("File2", "[BID]sub\\x.dll") + Line("Shortcut2", "1") + Line("File3", "[BID]x.dll") +
      Line("File4", "[BID]bin\\app.exe") + Line("Desktop", "app.exe") +
      Line("QuickLaunch", "app.exe") + "[Ini]\r\n" + Line("Number", "2") +
      Line("File1", "app.ini") + Line("Target1", "[BID]") + "[Section1]\r\n" + Line("Number", "2") +
      Line("Section1", "Options") + Line("Section2", "Empty") + "[Section1_1]\r\n" +
      Line("Number", "3") + Line("Key1", "Colour") + Line("Key3", "Size") + "[Folders]\r\n" +
      Line("Number", "2") + Line("Folder1", dest_ + "SUB\\") + Line("Folder2", dest_ + "BIN\\");
  EXPECT_EQ(LogWithoutTimes(), expected);
  // The registry step really ran: the value went into the innermost key, expanded.
  EXPECT_EQ(RegistryString(HKEY_CURRENT_USER, registryKey_ + "\\Tool", "Path"), dest_);
}

// Only a file that is there counts as existing before, also between folders still to be made.
TEST_F(UninstallLogTest, AFileThereBeforeIsMarkedAmongFoldersStillToBeMade) {
  ASSERT_TRUE(test::WriteTextFile(folder_.Subfolder("dest\\old") + "b.txt", "before"));
  Package({"a.txt", "b.txt", "c.txt"},
          "Target1=[BID]new\r\nTarget2=[BID]old\r\nTarget3=[BID]new2\r\n", General());
  EXPECT_EQ(WriteUninstallLog(), 1);
  const std::string log = LogWithoutTimes();
  EXPECT_NE(log.find(Line("Existed2", "1")), std::string::npos) << log;
  EXPECT_EQ(log.find("Existed"), log.rfind("Existed")) << log;
}

TEST_F(UninstallLogTest, OlderLogIsReplacedAndProductFallsBackToPackage) {
  product_.clear();
  Package({"a.txt"}, "", "[General]\r\nPackage=D:\\Pkg\\Setup1\r\n[Ini]\r\nNumber=1\r\nFile1=\r\n");
  ASSERT_TRUE(test::WriteTextFile(UninstallLogTempPath(), "[Old]\r\nStale=1\r\n"));
  EXPECT_EQ(WriteUninstallLog(), 1);
  EXPECT_EQ(LogWithoutTimes(), "[General]\r\n" + Line("Product", "Setup1") + Line("BID", dest_) +
                                   "[File]\r\n" + Line("File", "1") + Line("Registrations", "1") +
                                   Line("File1", "[BID]a.txt") + "[Ini]\r\n" + Line("Number", "1") +
                                   "[Folders]\r\n" + Line("Number", "0"));
  // The uninstall entry takes Product alone: without it there is none.
  EXPECT_EQ(RegisterUninstaller(), 0);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::string(kUninstallKeyPrefix) + "Setup1"));
}

TEST_F(UninstallLogTest, UninstallEntryNamesCompanyProductAndTheUninstaller) {
  Package({"a.txt"}, "", General());
  EXPECT_EQ(RegisterUninstaller(), 1);
  EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, UninstallKey(), "DisplayName"),
            std::string(company_) + " " + product_);
  EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, UninstallKey(), "UninstallString"),
            "\"" + dest_ + "Uninstall.exe\"");

  // Without a company the name is the product's; values longer than 259 characters are cut.
  ASSERT_TRUE(WriteIniString("General", std::string("Company"), std::nullopt, ""));
  g_state.destinationDirectory = "C:\\" + std::string(300, 'd') + "\\";
  EXPECT_EQ(RegisterUninstaller(), 1);
  EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, UninstallKey(), "DisplayName"), product_);
  EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, UninstallKey(), "UninstallString"),
            ("\"C:\\" + std::string(300, 'd')).substr(0, 259));
  ASSERT_TRUE(WriteIniString("General", std::string("Company"), std::string(300, 'c'), ""));
  EXPECT_EQ(RegisterUninstaller(), 1);
  EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, UninstallKey(), "DisplayName"),
            std::string(259, 'c'));
}

TEST_F(UninstallLogTest, InstallationFreezesTheLogIntoTheUninstaller) {
  Package({"a.txt", "b.txt"}, "Target2=[BID]docs\r\n",
          General() + "[Registry]\r\nNumber=1\r\nKey1=HKEY_CURRENT_USER\\" + registryKey_ +
              "\r\n[Key1]\r\nNumber=1\r\nName1=[Default]\r\nValue1=installed\r\n");
  // An earlier installation owns the plain program group: the Start Menu step records
  // Instance=1, which must reach the frozen log.
  const auto programs = ProgramsFolder();
  ASSERT_TRUE(programs.has_value());
  const std::string group = *programs + company_ + "\\" + product_;
  ASSERT_EQ(::SHCreateDirectoryExA(nullptr, group.c_str(), nullptr), ERROR_SUCCESS);
  EXPECT_EQ(Install({}), 1);

  const std::string uninstaller = dest_ + "Uninstall.exe";
  const auto bytes = test::ReadFileBytes(uninstaller);
  const auto log = test::ReadFileBytes(UninstallLogTempPath());
  ASSERT_TRUE(bytes.has_value());
  ASSERT_TRUE(log.has_value());
  ASSERT_FALSE(log->empty());
  // Program, log, length of the log.
  ASSERT_EQ(bytes->size(), uninstallerBytes_.size() + log->size() + 4);
  EXPECT_TRUE(std::equal(uninstallerBytes_.begin(), uninstallerBytes_.end(), bytes->begin()));
  EXPECT_TRUE(std::equal(log->begin(), log->end(), bytes->begin() + uninstallerBytes_.size()));
  EXPECT_EQ(U32At(*bytes, bytes->size() - 4), log->size());
  const std::string text(log->begin(), log->end());
  EXPECT_NE(text.find("[General]\r\n" + Line("Product", product_) + Line("Company", company_) +
                      Line("BID", dest_) + Line("Instance", "1") + "[File]\r\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(test::ReadTextFile(dest_ + "a.txt").value_or(""), "content of a.txt");
  EXPECT_EQ(test::ReadTextFile(dest_ + "docs\\b.txt").value_or(""), "content of b.txt");
  EXPECT_EQ(RegistryString(HKEY_CURRENT_USER, registryKey_, ""), "installed");
  EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, UninstallKey(), "DisplayName"),
            company_ + " " + product_);
  EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, UninstallKey(), "UninstallString"),
            "\"" + uninstaller + "\"");
  EXPECT_TRUE(test::FileExists(group + " 1\\Uninstall .lnk"));
}

TEST_F(UninstallLogTest, TheUninstallerCarriesTheTimeOfInstallation) {
  Package({"a.txt"}, "", General());
  const std::string uninstaller = dest_ + "Uninstall.exe";
  ASSERT_TRUE(test::WriteTextFile(uninstaller, "an older uninstaller, replaced"));
  EXPECT_EQ(ExtractUninstaller(), 1);
  EXPECT_EQ(test::ReadFileBytes(uninstaller).value_or(std::vector<std::uint8_t>{}),
            uninstallerBytes_);
  // Packed with times of 2001; extracted, it has the time of installation.
  const std::uint64_t before = test::TicksOfDate(2020, 1, 1, 0, 0, 0);
  const auto times = test::GetFileTimes(uninstaller);
  ASSERT_TRUE(times.has_value());
  EXPECT_GT(times->write, before);
  EXPECT_GT(times->access, before);
  if (test::FileSystemKeepsCreationTimes(dest_)) {
    EXPECT_GT(times->creation, before);
  }
}

TEST_F(UninstallLogTest, WithoutUninstallOnlyTheFilesAreInstalled) {
  Package({"a.txt"}, "Uninstall=0\r\nShortcut1=1\r\n",
          General() + "[Registry]\r\nNumber=1\r\nKey1=HKEY_CURRENT_USER\\" + registryKey_ +
              "\r\n[Key1]\r\nNumber=1\r\nName1=v\r\nValue1=x\r\n");
  EXPECT_EQ(Install({}), 1);
  EXPECT_EQ(test::ReadTextFile(dest_ + "a.txt").value_or(""), "content of a.txt");
  ExpectNoUninstallerParts();
}

TEST_F(UninstallLogTest, AMissingUninstallerItemIsLikeNoUninstaller) {
  Package({"a.txt"}, "Uninstall=1\r\nShortcut1=1\r\nAssociations1=vlogtest\r\n",
          General() + "[Registry]\r\nNumber=1\r\nKey1=HKEY_CURRENT_USER\\" + registryKey_ +
              "\r\n[Key1]\r\nNumber=1\r\nName1=v\r\nValue1=x\r\n");
  ASSERT_TRUE(WriteIniString("File", std::string("UninstallZip"), std::nullopt, ""));
  // An installation that nothing can remove is not reported as a clean one.
  std::vector<Seen> seen;
  EXPECT_EQ(Install({IDOK}, &seen), 1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, "There were errors during extraction.");
  EXPECT_EQ(test::ReadTextFile(dest_ + "a.txt").value_or(""), "content of a.txt");
  ExpectNoUninstallerParts();
  // No association was turned into script entries either.
  EXPECT_EQ(ReadScriptInt("Registry", "Number", 0), 1);
}

TEST_F(UninstallLogTest, AnUninstallerThatCannotBeReplacedSkipsTheUninstallParts) {
  Package({"a.txt"}, "Uninstall=1\r\nShortcut1=1\r\n",
          General() + "[Registry]\r\nNumber=1\r\nKey1=HKEY_CURRENT_USER\\" + registryKey_ +
              "\r\n[Key1]\r\nNumber=1\r\nName1=v\r\nValue1=x\r\n");
  const std::string uninstaller = dest_ + "Uninstall.exe";
  ASSERT_TRUE(test::WriteTextFile(uninstaller, "older uninstaller"));
  ASSERT_TRUE(test::SetAttributes(uninstaller, FILE_ATTRIBUTE_READONLY));
  {
    // Read-only does not stop root in the Wine prefix; a file held without sharing does.
    UniqueHandle held(::CreateFileA(uninstaller.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    EXPECT_EQ(ExtractUninstaller(), 0);
    EXPECT_EQ(Install({IDOK}), 1);
  }
  EXPECT_EQ(test::ReadTextFile(uninstaller).value_or(""), "older uninstaller");
  EXPECT_EQ(test::ReadTextFile(dest_ + "a.txt").value_or(""), "content of a.txt");
  EXPECT_FALSE(test::FileExists(UninstallLogTempPath()));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, registryKey_));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UninstallKey()));
  test::SetAttributes(uninstaller, FILE_ATTRIBUTE_NORMAL);
}

TEST_F(UninstallLogTest, AFileLeftOutGivesOneSummaryMessage) {
  Package({"a.txt", "b.txt", "c.txt"}, "Target2=[BID]blocked\\\r\n", General());
  // A file where the folder should be: b.txt cannot be extracted.
  ASSERT_TRUE(test::WriteTextFile(dest_ + "blocked", "a file, not a folder"));
  std::vector<Seen> seen;
  EXPECT_EQ(Install({IDYES, IDOK}, &seen), 1);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].caption, "Error");
  EXPECT_TRUE(seen[0].hasIcon);
  EXPECT_EQ(seen[1].caption, "Info");
  EXPECT_EQ(seen[1].text, "There were errors during extraction.");
  EXPECT_EQ(seen[1].buttons, std::vector<int>{IDOK});
  EXPECT_FALSE(seen[1].hasIcon);
  EXPECT_FALSE(seen[1].progressShown);
  EXPECT_EQ(test::ReadTextFile(dest_ + "a.txt").value_or(""), "content of a.txt");
  EXPECT_EQ(test::ReadTextFile(dest_ + "c.txt").value_or(""), "content of c.txt");
}

TEST_F(UninstallLogTest, AFatalExtractionErrorShowsTheArchiveError) {
  Package({"a.txt", "b.txt"}, "", General());
  ASSERT_TRUE(WriteIniString("File", std::string("File1"), std::nullopt, ""));
  std::vector<Seen> seen;
  EXPECT_EQ(Install({IDOK}, &seen), 0);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].caption, "I/O Error");
  EXPECT_NE(seen[0].text.find(dest_ + "b.txt"), std::string::npos) << seen[0].text;
  EXPECT_FALSE(seen[0].progressShown);
  EXPECT_EQ(g_state.progress, nullptr);
  // What was made before the failure stays.
  EXPECT_EQ(test::ReadTextFile(dest_ + "b.txt").value_or(""), "content of b.txt");
  EXPECT_TRUE(test::FileExists(dest_ + "Uninstall.exe"));
}

TEST_F(UninstallLogTest, TheTailNeverClaimsBytesThatAreNotTheLog) {
  const std::string uninstaller = folder_.File("program.exe");
  const std::string log = folder_.File("log.ini");
  ASSERT_TRUE(test::WriteTextFile(uninstaller, "MZ"));
  // No log: only the length 0.
  EXPECT_FALSE(FreezeUninstallLog(uninstaller, log));
  EXPECT_EQ(test::ReadFileBytes(uninstaller).value_or(std::vector<std::uint8_t>{}),
            (std::vector<std::uint8_t>{'M', 'Z', 0, 0, 0, 0}));
  // A log that cannot be read is not appended, so its length would name program bytes.
  ASSERT_TRUE(test::WriteTextFile(log, "[General]\r\n"));
  {
    UniqueHandle held(::CreateFileA(log.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    EXPECT_FALSE(FreezeUninstallLog(uninstaller, log));
  }
  EXPECT_EQ(test::ReadFileBytes(uninstaller).value_or(std::vector<std::uint8_t>{}),
            (std::vector<std::uint8_t>{'M', 'Z', 0, 0, 0, 0, 0, 0, 0, 0}));
  // A log that can be read goes in whole.
  EXPECT_TRUE(FreezeUninstallLog(uninstaller, log));
}

TEST_F(UninstallLogTest, AnUninstallerHeldForAMomentStillGetsItsLog) {
  const std::string uninstaller = folder_.File("program.exe");
  const std::string log = folder_.File("log.ini");
  ASSERT_TRUE(test::WriteTextFile(uninstaller, "MZ"));
  ASSERT_TRUE(test::WriteTextFile(log, "[General]\r\n"));
  // As the shell holds a program whose icon it reads: others may read it, not write it.
  UniqueHandle held(::CreateFileA(uninstaller.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(held);
  auto frozen =
      std::async(std::launch::async, [&] { return FreezeUninstallLog(uninstaller, log); });
  // While the file is held the freeze waits rather than give up.
  EXPECT_EQ(frozen.wait_for(std::chrono::milliseconds(500)), std::future_status::timeout);
  held.reset();
  EXPECT_TRUE(frozen.get());
  std::string expected = "MZ[General]\r\n";
  expected.append({11, 0, 0, 0});
  EXPECT_EQ(test::ReadTextFile(uninstaller).value_or(""), expected);
}

}  // namespace
}  // namespace vorlatch
