// File associations: the registry entries they add to the script, and (for the case of two
// files sharing an extension) what the registry step then leaves in HKEY_CLASSES_ROOT.

#include "actions/file_associations.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "actions/registry_entries.h"
#include "package/opening.h"
#include "package/process_state.h"
#include "support/test_files.h"
#include "support/ui_robot.h"

namespace vorlatch {
namespace {

using test::ScopedEnvironment;
using test::TempFolder;

constexpr char kDestination[] = "D:\\Apps\\Tool\\";

// One registry entry as the script holds it.
struct Entry {
  std::string key;
  std::string number;
  std::string name;
  std::string value;
  bool operator==(const Entry&) const = default;
};

void PrintTo(const Entry& entry, std::ostream* out) {
  *out << "{" << entry.key << ", " << entry.number << ", " << entry.name << ", " << entry.value
       << "}";
}

// A private temporary directory holding the script.
class FileAssociations : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcessState();
    g_state.destinationDirectory = kDestination;
    tmp_ = std::make_unique<ScopedEnvironment>("Tmp", folder_.path());
  }
  void TearDown() override { ResetProcessState(); }

  void Script(const std::string& text) { ASSERT_TRUE(test::WriteTextFile(ScriptPath(), text)); }

  std::string Read(const std::string& section, const std::string& key) const {
    char value[1024] = {};
    GetPrivateProfileStringA(section.c_str(), key.c_str(), "<absent>", value, sizeof value,
                             ScriptPath().c_str());
    return value;
  }

  Entry EntryAt(int k) const {
    const std::string section = "Key" + std::to_string(k);
    return {Read("Registry", section), Read(section, "Number"), Read(section, "Name1"),
            Read(section, "Value1")};
  }

  TempFolder folder_;
  std::unique_ptr<ScopedEnvironment> tmp_;
};

Entry Extension(const std::string& extension, const std::string& identifier) {
  return {"HKEY_CLASSES_ROOT\\" + extension, "1", "[Default]", identifier};
}

Entry Command(const std::string& identifier, const std::string& path) {
  return {"HKEY_CLASSES_ROOT\\" + identifier + "\\Shell\\Open\\Command", "1", "[Default]",
          path + " %1"};
}

TEST_F(FileAssociations, EntriesFollowThoseAlreadyInTheScript) {
  Script(
      "[File]\nFile=1\nFile1=tool.exe\nAssociations1=txt;doc\n"
      "[Registry]\nNumber=2\nKey1=HKEY_CURRENT_USER\\Software\\A\nKey2=HKEY_CURRENT_USER\\B\n"
      "[Key2]\nNumber=1\nName1=X\nValue1=y\n");
  RegisterAssociations();

  EXPECT_EQ(Read("Registry", "Number"), "5");
  EXPECT_EQ(Read("Registry", "Key1"), "HKEY_CURRENT_USER\\Software\\A");
  EXPECT_EQ(EntryAt(2), (Entry{"HKEY_CURRENT_USER\\B", "1", "X", "y"}));
  EXPECT_EQ(EntryAt(3), Extension(".txt", "tool_file"));
  EXPECT_EQ(EntryAt(4), Command("tool_file", "D:\\Apps\\Tool\\tool.exe"));
  EXPECT_EQ(EntryAt(5), Extension(".doc", "tool_file"));
  EXPECT_EQ(Read("Registry", "Key6"), "<absent>");
  for (int k = 3; k <= 5; ++k) {
    EXPECT_EQ(Read("Registry", "Keep" + std::to_string(k)), "<absent>");
  }
}

TEST_F(FileAssociations, ItemsMatchTheirFilesWhateverTheirCaseDotsAndBlanks) {
  Script(
      "[File]\nFile=2\nFile1=tool.exe\nAssociations1=\" .TXT \"\n"
      "File2=view.exe\nAssociations2=\"..txt  ;\"\n");
  RegisterAssociations();

  // The list is .TXT, .txt: each matches both files.
  EXPECT_EQ(Read("Registry", "Number"), "6");
  EXPECT_EQ(EntryAt(1), Extension(".TXT", "tool_file"));
  EXPECT_EQ(EntryAt(2), Command("tool_file", "D:\\Apps\\Tool\\tool.exe"));
  EXPECT_EQ(EntryAt(3), Extension(".TXT", "view_file"));
  EXPECT_EQ(EntryAt(4), Command("view_file", "D:\\Apps\\Tool\\view.exe"));
  EXPECT_EQ(EntryAt(5), Extension(".txt", "tool_file"));
  EXPECT_EQ(EntryAt(6), Extension(".txt", "view_file"));
}

TEST_F(FileAssociations, EmptyItemEndsTheList) {
  Script("[File]\nFile=1\nFile1=tool.exe\nAssociations1=txt;;doc\n");
  RegisterAssociations();
  EXPECT_EQ(Read("Registry", "Number"), "2");
  EXPECT_EQ(EntryAt(1), Extension(".txt", "tool_file"));
  EXPECT_EQ(EntryAt(2), Command("tool_file", "D:\\Apps\\Tool\\tool.exe"));
  EXPECT_EQ(Read("Registry", "Key3"), "<absent>");
}

TEST_F(FileAssociations, IdentifierAndPathComeFromTheFileNameAndItsTarget) {
  Script(
      "[File]\nFile=3\nFile1=README\nTarget1=[BID]docs\nAssociations1=txt\n"
      "File2=sub\\\\\\bin\\\\app.exe\nAssociations2=app\nFile3=none.exe\n");
  RegisterAssociations();
  EXPECT_EQ(Read("Registry", "Number"), "4");
  EXPECT_EQ(EntryAt(1), Extension(".txt", "_file"));
  EXPECT_EQ(EntryAt(2), Command("_file", "D:\\Apps\\Tool\\DOCS\\README"));
  EXPECT_EQ(EntryAt(3), Extension(".app", "app_file"));
  EXPECT_EQ(EntryAt(4), Command("app_file", "D:\\Apps\\Tool\\sub\\bin\\app.exe"));
}

TEST_F(FileAssociations, StaleKeysUnderTheNewNumbersGo) {
  Script(
      "[File]\nFile=1\nFile1=tool.exe\nAssociations1=txt\n"
      "[Registry]\nKeep1=1\n[Key1]\nNumber=4\nName2=Old\nKeep1=1\n");
  RegisterAssociations();
  EXPECT_EQ(EntryAt(1), Extension(".txt", "tool_file"));
  EXPECT_EQ(Read("Registry", "Keep1"), "<absent>");
  EXPECT_EQ(Read("Key1", "Name2"), "<absent>");
  EXPECT_EQ(Read("Key1", "Keep1"), "<absent>");
}

TEST_F(FileAssociations, ScriptIsLeftAloneWithoutAssociations) {
  const std::string text =
      "[File]\nFile=2\nFile1=a.exe\nAssociations1=;txt\nFile2=b.exe\nAssociations2= . \n"
      "[Registry]\nNumber=1\nKey1=HKEY_CURRENT_USER\\X\n";
  Script(text);
  RegisterAssociations();
  EXPECT_EQ(test::ReadTextFile(ScriptPath()), text);
}

TEST_F(FileAssociations, AtMostTwoHundredSixtyExtensionsAreRegistered) {
  std::string list;
  for (int i = 0; i < 270; ++i) {
    // Two letters each, so that the whole list fits the 1023 characters of a script value.
    list.push_back(static_cast<char>('a' + i / 26));
    list.push_back(static_cast<char>('a' + i % 26));
    list.push_back(';');
  }
  // The second file's items lie beyond the limit, its repeat of "aa" included.
  Script("[File]\nFile=2\nFile1=tool.exe\nAssociations1=" + list +
         "\nFile2=more.exe\nAssociations2=aa;x\n");
  RegisterAssociations();
  EXPECT_EQ(Read("Registry", "Number"), "261");
  EXPECT_EQ(EntryAt(1), Extension(".aa", "tool_file"));
  EXPECT_EQ(EntryAt(2), Command("tool_file", "D:\\Apps\\Tool\\tool.exe"));
  EXPECT_EQ(EntryAt(261), Extension(".jz", "tool_file"));
  EXPECT_EQ(Read("Registry", "Key262"), "<absent>");
}

// Two files that both open one extension: the registry keeps the second file's identifier,
// and each file has its own command. Names unique to this process keep other tests away.
TEST_F(FileAssociations, SecondOfTwoFilesForOneExtensionIsLeftInTheRegistry) {
  const std::string pid = std::to_string(GetCurrentProcessId());
  const std::string extension = ".h9assoc" + pid;
  const std::string one = "h9one" + pid;
  const std::string two = "h9two" + pid;
  struct Cleanup {
    std::string keys[3];
    ~Cleanup() {
      for (const std::string& key : keys) {
        RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str());
        RegDeleteKeyA(HKEY_CLASSES_ROOT, key.c_str());
      }
    }
  } cleanup{{extension, one + "_file", two + "_file"}};

  Script("[File]\nFile=2\nFile1=" + one + ".exe\nAssociations1=" + extension.substr(1) +
         "\nFile2=" + two + ".exe\nAssociations2=" + extension + "\n");
  // Run the whole registry step, which makes the entries first; a message box (there should
  // be none) is answered so that the test cannot hang on it.
  std::atomic<bool> done{false};
  std::atomic<int> boxes{0};
  RobotThread robot([&] {
    while (!done) {
      for (const HWND window : TopLevelWindows(0, true)) {
        if (Snapshot(window).className == "#32770") {
          ++boxes;
          PressButton(window, IDOK);
          WaitForWindowGone(window);
        }
      }
      Sleep(10);
    }
  });
  EXPECT_EQ(ApplyRegistryEntries(), 1);
  done = true;
  robot.Join();
  EXPECT_EQ(boxes, 0);

  EXPECT_EQ(EntryAt(1), Extension(extension, one + "_file"));
  EXPECT_EQ(EntryAt(2), Command(one + "_file", kDestination + one + ".exe"));
  EXPECT_EQ(EntryAt(3), Extension(extension, two + "_file"));
  EXPECT_EQ(EntryAt(4), Command(two + "_file", kDestination + two + ".exe"));
  EXPECT_EQ(EntryAt(5), Extension(extension, one + "_file"));
  EXPECT_EQ(EntryAt(6), Extension(extension, two + "_file"));
  EXPECT_EQ(Read("Registry", "Number"), "6");

  char value[MAX_PATH] = {};
  LONG size = sizeof value;
  ASSERT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, extension.c_str(), value, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::string(value), two + "_file");
  for (const std::string& file : {one, two}) {
    size = sizeof value;
    const std::string command = file + "_file\\Shell\\Open\\Command";
    ASSERT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, command.c_str(), value, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::string(value), kDestination + file + ".exe %1");
  }

  // The first entry made the extension's key, the later ones found it there.
  const std::string log = UninstallLogTempPath();
  char text[1024] = {};
  GetPrivateProfileStringA("Registry", "Key1", "", text, sizeof text, log.c_str());
  EXPECT_EQ(std::string(text), "HKEY_CLASSES_ROOT\\" + extension);
  EXPECT_EQ(GetPrivateProfileIntA("Registry", "Keep1", 0, log.c_str()), 0u);
  GetPrivateProfileStringA("Registry", "Key6", "", text, sizeof text, log.c_str());
  EXPECT_EQ(std::string(text), "HKEY_CLASSES_ROOT\\" + extension);
  EXPECT_EQ(GetPrivateProfileIntA("Registry", "Keep6", 0, log.c_str()), 1u);
}

}  // namespace
}  // namespace vorlatch
