// INI entries of the After stage, written for real into INI files of a private destination
// directory and temporary directory.

#include "stages/ini_entries.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "package/opening.h"
#include "package/process_state.h"
#include "support/test_files.h"

namespace vorlatch {
namespace {

using test::ScopedEnvironment;
using test::TempFolder;

constexpr char kAbsent[] = "<absent>";

std::string ReadIni(const std::string& file, const std::string& section, const std::string& key) {
  char value[1024] = {};
  ::GetPrivateProfileStringA(section.c_str(), key.c_str(), kAbsent, value, sizeof value,
                             file.c_str());
  return value;
}

int Occurrences(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// The script in a private temporary directory; the destination directory beside it.
class IniEntries : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcessState();
    tmp_ = std::make_unique<ScopedEnvironment>("Tmp", temporary_.path());
    g_state.destinationDirectory = destination_.path();
  }
  void TearDown() override { ResetProcessState(); }

  void Script(const std::string& text) {
    ASSERT_TRUE(test::WriteTextFile(ScriptPath(), text));
    ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, ScriptPath().c_str());
  }

  TempFolder temporary_;
  TempFolder destination_;
  std::unique_ptr<ScopedEnvironment> tmp_;
};

TEST_F(IniEntries, EntriesGoIntoTheTargetFiles) {
  const std::string app = destination_.File("app.ini");
  ASSERT_TRUE(test::WriteTextFile(app, "[Options]\r\nMode=slow\r\nKeep=yes\r\n"));
  // Target3 names [TEMP]conf; the text after the macro comes out in upper case.
  const std::string tool = temporary_.Subfolder("CONF") + "tool.ini";
  Script(
      "[Ini]\r\nNumber=3\r\n"
      "File1=app.ini\r\n"
      "File2=\r\nTarget2=[TEMP]\r\n"
      "File3=tool.ini\r\nTarget3=[TEMP]conf\r\n"
      "[Section1]\r\nNumber=3\r\nSection1=Options\r\nSection2=Paths\r\nSection3=Options\r\n"
      "[Section1_1]\r\nNumber=3\r\nKey1=Mode\r\nValue1=fast\r\nKey2=\r\nValue2=lost\r\n"
      "Key3=Empty\r\nValue3=\r\n"
      "[Section1_2]\r\nNumber=2\r\nKey1=Home\r\nValue1=[BID]\r\nKey2=Stamp\r\nValue2=[Date]\r\n"
      "[Section1_3]\r\nNumber=1\r\nKey1=Extra\r\nValue1=more\r\n"
      "[Section2]\r\nNumber=1\r\nSection1=Skipped\r\n"
      "[Section2_1]\r\nNumber=1\r\nKey1=Never\r\nValue1=written\r\n"
      "[Section3]\r\nNumber=1\r\nSection1=Tool\r\n"
      "[Section3_1]\r\nNumber=1\r\nKey1=Colour\r\nValue1=blue\r\n");

  WriteIniFileEntries();

  // An existing key gets the new value; keys the script does not name stay.
  EXPECT_EQ(ReadIni(app, "Options", "Mode"), "fast");
  EXPECT_EQ(ReadIni(app, "Options", "Keep"), "yes");
  // An entry without a key name is skipped; an empty value is written, not removed.
  EXPECT_EQ(ReadIni(app, "Options", "Empty"), "");
  // Values are written as they stand: macros stay text.
  EXPECT_EQ(ReadIni(app, "Paths", "Home"), "[BID]");
  EXPECT_EQ(ReadIni(app, "Paths", "Stamp"), "[Date]");
  // Two sections of one name write into the one section of the file.
  EXPECT_EQ(ReadIni(app, "Options", "Extra"), "more");
  const std::optional<std::string> text = test::ReadTextFile(app);
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(Occurrences(*text, "[Options]"), 1) << *text;
  EXPECT_EQ(Occurrences(*text, "lost"), 0) << *text;
  EXPECT_EQ(Occurrences(*text, "Skipped"), 0) << *text;

  EXPECT_EQ(ReadIni(tool, "Tool", "Colour"), "blue");
  // File 2 has no name: nothing of it is written anywhere.
  EXPECT_EQ(test::FolderEntries(destination_.path()), std::vector<std::string>{"app.ini"});
  for (const std::string& name : test::FolderEntries(temporary_.path())) {
    EXPECT_TRUE(name == "CONF" || name == "Vorlatch.ini") << name;
  }
}

TEST_F(IniEntries, NothingWithoutIniSection) {
  Script(
      "[General]\r\nProduct=Tool\r\n[Section1]\r\nNumber=1\r\nSection1=Options\r\n"
      "[Section1_1]\r\nNumber=1\r\nKey1=Mode\r\nValue1=fast\r\n");
  WriteIniFileEntries();
  EXPECT_TRUE(test::FolderEntries(destination_.path()).empty());
}

TEST_F(IniEntries, TargetWithoutLeadingMacroIsTheDestination) {
  const std::string subfolder = destination_.Subfolder("DATA");
  Script(
      "[Ini]\r\nNumber=4\r\n"
      "File1=missing.ini\r\nTarget1=[BID]nowhere\r\n"
      "File2=a.ini\r\nTarget2=C:\\Elsewhere\r\n"
      "File3=b.ini\r\nTarget3=[bid]data\r\n"
      "File4=c.ini\r\nTarget4=sub[BID]\r\n"
      "[Section1]\r\nNumber=1\r\nSection1=S\r\n[Section1_1]\r\nNumber=1\r\nKey1=K\r\nValue1=1\r\n"
      "[Section2]\r\nNumber=1\r\nSection1=S\r\n[Section2_1]\r\nNumber=1\r\nKey1=K\r\nValue1=2\r\n"
      "[Section3]\r\nNumber=1\r\nSection1=S\r\n[Section3_1]\r\nNumber=1\r\nKey1=K\r\nValue1=3\r\n"
      "[Section4]\r\nNumber=1\r\nSection1=S\r\n[Section4_1]\r\nNumber=1\r\nKey1=K\r\nValue1=4\r\n");

  WriteIniFileEntries();

  // A directory that does not exist is not made, and the files after it are still written.
  EXPECT_FALSE(test::FileExists(destination_.File("NOWHERE")));
  EXPECT_EQ(ReadIni(destination_.File("a.ini"), "S", "K"), "2");
  EXPECT_EQ(ReadIni(subfolder + "b.ini", "S", "K"), "3");
  EXPECT_EQ(ReadIni(destination_.File("c.ini"), "S", "K"), "4");
}

}  // namespace
}  // namespace vorlatch
