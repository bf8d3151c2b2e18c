// The registry step against the real registry: keys and string values written, the records
// of every level with their keep flags in the uninstall log, skipped entries, and the one
// message after failures, answered by the robot.

#include "actions/registry_entries.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "package/opening.h"
#include "package/process_state.h"
#include "support/test_files.h"
#include "support/ui_robot.h"

namespace vorlatch {
namespace {

using Lines = std::vector<std::string>;
using test::ScopedEnvironment;
using test::TempFolder;

constexpr char kDestination[] = "C:\\Apps\\Tool\\";
constexpr char kTestRoot[] = "Software\\VorlatchTest";

std::optional<std::string> StringValue(HKEY root, const std::string& path, const std::string& name,
                                       DWORD* type = nullptr) {
  char data[8192] = {};
  DWORD size = sizeof data - 1;
  DWORD found = 0;
  if (RegGetValueA(root, path.c_str(), name.empty() ? nullptr : name.c_str(),
                   RRF_RT_ANY | RRF_NOEXPAND, &found, data, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  if (type != nullptr) {
    *type = found;
  }
  return found == REG_SZ ? std::string(data) : std::string();
}

bool KeyExists(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

// Each test works below its own key HKCU\Software\VorlatchTest\<test>-<pid>, made before the
// test so that the records of the levels down to it always read Keep 1, and with a private
// temporary directory holding the script and the log.
class RegistryEntries : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcessState();
    g_state.destinationDirectory = kDestination;
    tmp_ = std::make_unique<ScopedEnvironment>("Tmp", folder_.path());
    base_ = std::string(kTestRoot) + "\\" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + "-" +
            std::to_string(GetCurrentProcessId());
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, base_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  void TearDown() override {
    RegDeleteTreeA(HKEY_CURRENT_USER, base_.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, base_.c_str());
    // Only succeeds when no other test still has its key below it.
    RegDeleteKeyA(HKEY_CURRENT_USER, kTestRoot);
    ResetProcessState();
  }

  void Script(const std::string& text) { ASSERT_TRUE(test::WriteTextFile(ScriptPath(), text)); }

  // The full path of a key below the test's own, as the log records it.
  std::string Logged(const std::string& below = "") const {
    return "HKEY_CURRENT_USER\\" + base_ + below;
  }

  // The log's lines for the levels from Software down to the test's own key (k = 1..3).
  Lines BaseRecords() const {
    return {"Key1=HKEY_CURRENT_USER\\Software",
            "Keep1=1",
            "Key2=HKEY_CURRENT_USER\\" + std::string(kTestRoot),
            "Keep2=1",
            "Key3=" + Logged(),
            "Keep3=1"};
  }

  // The uninstall log as lines, without line ends and blank lines.
  Lines LogLines() const {
    Lines lines;
    const std::optional<std::string> text = test::ReadTextFile(UninstallLogTempPath());
    if (!text) {
      return lines;
    }
    std::istringstream stream(*text);
    std::string line;
    while (std::getline(stream, line)) {
      if (!line.empty() && line.back() == '\r') {
        line.pop_back();
      }
      if (!line.empty()) {
        lines.push_back(line);
      }
    }
    return lines;
  }

  // Runs the registry step; every message box it shows is recorded and answered with OK.
  std::vector<WindowSnapshot> RunStep() {
    std::atomic<bool> done{false};
    std::vector<WindowSnapshot> boxes;
    RobotThread robot([&] {
      while (!done) {
        for (const HWND window : TopLevelWindows(0, true)) {
          WindowSnapshot box = Snapshot(window);
          if (box.className != "#32770") {
            continue;
          }
          for (const ControlSnapshot& control : box.controls) {
            if (control.className == "Static" && (control.style & SS_TYPEMASK) == SS_ICON) {
              icon_ = reinterpret_cast<HICON>(SendMessageA(control.hwnd, STM_GETICON, 0, 0));
            }
          }
          boxes.push_back(box);
          PressButton(window, IDOK);
          WaitForWindowGone(window);
        }
        Sleep(10);
      }
    });
    EXPECT_EQ(ApplyRegistryEntries(), 1);
    done = true;
    robot.Join();
    return boxes;
  }

  TempFolder folder_;
  std::unique_ptr<ScopedEnvironment> tmp_;
  std::string base_;
  HICON icon_ = nullptr;
};

Lines Joined(Lines first, const Lines& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

TEST_F(RegistryEntries, EveryLevelIsRecordedAndOnlyTheNewOnesWithoutKeep) {
  Script("[Registry]\nNumber=1\nKey1=HKEY_CURRENT_USER\\" + base_ +
         "\\Acme\\Tool\n[Key1]\nNumber=1\nName1=Version\nValue1=1.0\n");
  EXPECT_TRUE(RunStep().empty());

  DWORD type = 0;
  EXPECT_EQ(StringValue(HKEY_CURRENT_USER, base_ + "\\Acme\\Tool", "Version", &type), "1.0");
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(LogLines(), Joined(Joined({"[Registry]", "Number=5"}, BaseRecords()),
                               {"Key4=" + Logged("\\Acme"), "Key5=" + Logged("\\Acme\\Tool"),
                                "[Key5]", "Number=1", "Name1=Version", "Value1=1.0"}));
}

TEST_F(RegistryEntries, KeepOfTheEntryMarksOnlyItsInnermostKey) {
  Script("[Registry]\nNumber=1\nKey1=HKEY_CURRENT_USER\\" + base_ +
         "\\Acme\\Tool\nKeep1=1\n[Key1]\nNumber=1\nName1=Version\nValue1=1.0\nKeep1=1\n");
  EXPECT_TRUE(RunStep().empty());

  EXPECT_EQ(LogLines(),
            Joined(Joined({"[Registry]", "Number=5"}, BaseRecords()),
                   {"Key4=" + Logged("\\Acme"), "Key5=" + Logged("\\Acme\\Tool"), "Keep5=1",
                    "[Key5]", "Number=1", "Name1=Version", "Value1=1.0", "Keep1=1"}));
}

TEST_F(RegistryEntries, RootNamesAreFullNamesInAnyCase) {
  std::string path = "hkey_local_machine\\Software\\X";
  EXPECT_EQ(ParseRootKey(path), HKEY_LOCAL_MACHINE);
  EXPECT_EQ(path, "Software\\X");
  path = "Hkey_Users\\";
  EXPECT_EQ(ParseRootKey(path), HKEY_USERS);
  EXPECT_EQ(path, "");
  path = "HKEY_CLASSES_ROOT\\.txt";
  EXPECT_EQ(ParseRootKey(path), HKEY_CLASSES_ROOT);
  EXPECT_EQ(path, ".txt");
  for (const char* refused : {"HKLM\\Software\\X", "HKEY_CURRENT_USER", "\\Software\\X",
                              "HKEY_CURRENT_USERS\\Software", ""}) {
    path = refused;
    EXPECT_EQ(ParseRootKey(path), nullptr) << refused;
    EXPECT_EQ(path, refused);
  }
  EXPECT_EQ(RootKeyName(HKEY_LOCAL_MACHINE), "HKEY_LOCAL_MACHINE");
  EXPECT_EQ(RootKeyName(HKEY_CURRENT_CONFIG), "");
}

TEST_F(RegistryEntries, EntriesWithoutAUsableRootOrSubkeyAreSkippedSilently) {
  Script(
      "[Registry]\nNumber=6\n"
      "Key1=hkey_current_user\\" +
      base_ +
      "\\Lower\n"
      "Key2=HKCU\\" +
      base_ +
      "\\Short\n"
      "Key3=HKEY_CURRENT_USER\n"
      "Key5=HKEY_CURRENT_USER\\\n"
      "Key6=HKEY_CURRENT_USER\\" +
      base_ +
      "\\First\\\\Second\n"
      "[Key1]\nNumber=1\nName1=A\nValue1=a\n"
      "[Key2]\nNumber=1\nName1=B\nValue1=b\n"
      "[Key5]\nNumber=1\nName1=C\nValue1=c\n"
      "[Key6]\nNumber=1\nName1=D\nValue1=d\n");
  EXPECT_TRUE(RunStep().empty());

  EXPECT_EQ(StringValue(HKEY_CURRENT_USER, base_ + "\\Lower", "A"), "a");
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, base_ + "\\Short"));
  EXPECT_FALSE(StringValue(HKEY_CURRENT_USER, "", "C").has_value());
  // An empty level ends the path: the value goes into First, Second is never made.
  EXPECT_EQ(StringValue(HKEY_CURRENT_USER, base_ + "\\First", "D"), "d");
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, base_ + "\\First\\Second"));

  const Lines records = BaseRecords();
  Lines expected = {"[Registry]", "Number=8"};
  expected.insert(expected.end(), records.begin(), records.end());
  expected.push_back("Key4=" + Logged("\\Lower"));
  // Entry 6 records its three existing levels again, then First.
  expected.insert(expected.end(), {"Key5=HKEY_CURRENT_USER\\Software", "Keep5=1",
                                   "Key6=HKEY_CURRENT_USER\\" + std::string(kTestRoot), "Keep6=1",
                                   "Key7=" + Logged(), "Keep7=1", "Key8=" + Logged("\\First")});
  expected.insert(expected.end(), {"[Key4]", "Number=1", "Name1=A", "Value1=a", "[Key8]",
                                   "Number=1", "Name1=D", "Value1=d"});
  EXPECT_EQ(LogLines(), expected);
}

TEST_F(RegistryEntries, DefaultValueTakesTheDestinationAndIsLoggedAsWritten) {
  Script("[Registry]\nNumber=1\nKey1=HKEY_CURRENT_USER\\" + base_ +
         "\\New\n[Key1]\nNumber=1\nName1=[default]\nValue1=[bid]\n");
  EXPECT_TRUE(RunStep().empty());

  EXPECT_EQ(StringValue(HKEY_CURRENT_USER, base_ + "\\New", ""), kDestination);
  EXPECT_FALSE(StringValue(HKEY_CURRENT_USER, base_ + "\\New", "[default]").has_value());
  EXPECT_EQ(LogLines(), Joined(Joined({"[Registry]", "Number=4"}, BaseRecords()),
                               {"Key4=" + Logged("\\New"), "[Key4]", "Number=1", "Value1=[bid]"}));
}

// Values there before, of any type and length, stay at uninstallation.
TEST_F(RegistryEntries, ExistingStringValuesAreLoggedExpandedAndKept) {
  const std::string existing = base_ + "\\Existing";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, existing.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const DWORD number = 7;
  const std::string longText(5000, 'x');
  RegSetValueExA(key, "Str", 0, REG_SZ, reinterpret_cast<const BYTE*>("old"), 4);
  RegSetValueExA(key, "Num", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);
  RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("old default"), 12);
  RegSetValueExA(key, "Long", 0, REG_SZ, reinterpret_cast<const BYTE*>(longText.c_str()),
                 static_cast<DWORD>(longText.size() + 1));
  RegCloseKey(key);

  Script("[Registry]\nNumber=1\nKey1=HKEY_CURRENT_USER\\" + existing +
         "\n[Key1]\nNumber=5\n"
         "Name1=Str\nValue1=[BID]\n"
         "Name2=Num\nValue2=[bid]\nKeep2=2\n"
         "Name3=[DEFAULT]\nValue3=new default\n"
         "Name4=Fresh\nValue4=Path is [BID]\n"
         "Name5=Long\nValue5=[TEMP]\n");
  EXPECT_TRUE(RunStep().empty());

  DWORD type = 0;
  EXPECT_EQ(StringValue(HKEY_CURRENT_USER, existing, "Str"), kDestination);
  EXPECT_EQ(StringValue(HKEY_CURRENT_USER, existing, "Num", &type), kDestination);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(StringValue(HKEY_CURRENT_USER, existing, ""), "new default");
  EXPECT_EQ(StringValue(HKEY_CURRENT_USER, existing, "Fresh"), "Path is [BID]");
  EXPECT_EQ(StringValue(HKEY_CURRENT_USER, existing, "Long"), TemporaryDirectory());

  EXPECT_EQ(LogLines(), Joined(Joined({"[Registry]", "Number=4"}, BaseRecords()),
                               {"Key4=" + Logged("\\Existing"), "Keep4=1", "[Key4]", "Number=5",
                                "Name1=Str", std::string("Value1=") + kDestination, "Keep1=1",
                                "Name2=Num", std::string("Value2=") + kDestination, "Keep2=1",
                                std::string("Value3=new default"), "Keep3=1", "Name4=Fresh",
                                "Value4=Path is [BID]", "Name5=Long",
                                "Value5=" + TemporaryDirectory(), "Keep5=1"}));
}

TEST_F(RegistryEntries, SecondEntryForTheSameKeyFindsEverythingThere) {
  const std::string key = "HKEY_CURRENT_USER\\" + base_ + "\\Same";
  Script("[Registry]\nNumber=2\nKey1=" + key + "\nKey2=" + key +
         "\n[Key1]\nNumber=1\nName1=A\nValue1=one\n[Key2]\nNumber=1\nName1=A\nValue1=two\n");
  EXPECT_TRUE(RunStep().empty());

  EXPECT_EQ(StringValue(HKEY_CURRENT_USER, base_ + "\\Same", "A"), "two");
  EXPECT_EQ(
      LogLines(),
      Joined(Joined({"[Registry]", "Number=8"}, BaseRecords()),
             {"Key4=" + Logged("\\Same"), "Key5=HKEY_CURRENT_USER\\Software", "Keep5=1",
              "Key6=HKEY_CURRENT_USER\\" + std::string(kTestRoot), "Keep6=1", "Key7=" + Logged(),
              "Keep7=1", "Key8=" + Logged("\\Same"), "Keep8=1", "[Key4]", "Number=1", "Name1=A",
              "Value1=one", "[Key8]", "Number=1", "Name1=A", "Value1=two", "Keep1=1"}));
}

TEST_F(RegistryEntries, KeysThatCannotBeMadeGiveOneMessageAndTheRestIsApplied) {
  // Below a volatile key no lasting key can be made.
  const std::string volatileKey = base_ + "\\Volatile";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, volatileKey.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  Script(
      "[Registry]\nNumber=3\n"
      "Key1=HKEY_CURRENT_USER\\" +
      volatileKey +
      "\\Child\\Deeper\n"
      "Key2=HKEY_CURRENT_USER\\" +
      volatileKey +
      "\\Other\n"
      "Key3=HKEY_CURRENT_USER\\" +
      base_ +
      "\\Fine\n"
      "[Key1]\nNumber=1\nName1=A\nValue1=a\n"
      "[Key2]\nNumber=1\nName1=B\nValue1=b\n"
      "[Key3]\nNumber=1\nName1=C\nValue1=c\n");
  const std::vector<WindowSnapshot> boxes = RunStep();

  ASSERT_EQ(boxes.size(), 1u);
  SCOPED_TRACE(boxes[0].Describe());
  EXPECT_EQ(boxes[0].caption, "Information");
  EXPECT_EQ(boxes[0].MessageText(), "There were some errors writing registry keys.");
  EXPECT_EQ(boxes[0].ButtonIds(), std::vector<int>{IDOK});
  EXPECT_EQ(icon_, LoadIconA(nullptr, IDI_INFORMATION));
  EXPECT_EQ(GetWindow(boxes[0].hwnd, GW_OWNER), nullptr);

  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, volatileKey + "\\Child"));
  EXPECT_EQ(StringValue(HKEY_CURRENT_USER, base_ + "\\Fine", "C"), "c");
  // The levels reached before the failure stay in the log; the failed level does not.
  Lines expected = {"[Registry]", "Number=12"};
  for (int entry = 0; entry < 3; ++entry) {
    const int first = entry * 4;
    expected.insert(expected.end(),
                    {"Key" + std::to_string(first + 1) + "=HKEY_CURRENT_USER\\Software",
                     "Keep" + std::to_string(first + 1) + "=1",
                     "Key" + std::to_string(first + 2) + "=HKEY_CURRENT_USER\\" + kTestRoot,
                     "Keep" + std::to_string(first + 2) + "=1",
                     "Key" + std::to_string(first + 3) + "=" + Logged(),
                     "Keep" + std::to_string(first + 3) + "=1"});
    if (entry < 2) {
      expected.insert(expected.end(),
                      {"Key" + std::to_string(first + 4) + "=" + Logged("\\Volatile"),
                       "Keep" + std::to_string(first + 4) + "=1"});
    } else {
      expected.push_back("Key12=" + Logged("\\Fine"));
    }
  }
  expected.insert(expected.end(), {"[Key12]", "Number=1", "Name1=C", "Value1=c"});
  EXPECT_EQ(LogLines(), expected);
}

TEST_F(RegistryEntries, NoRegistrySectionWritesNothing) {
  Script("[General]\nProduct=Tool\n");
  EXPECT_TRUE(RunStep().empty());
  EXPECT_EQ(LogLines(), Lines{});
}

}  // namespace
}  // namespace vorlatch
