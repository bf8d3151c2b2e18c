#include "script/script_access.h"

#include <gtest/gtest.h>

#include "package/opening.h"
#include "script/keys.h"
#include "support/test_files.h"

namespace vorlatch {
namespace {

using test::TempFolder;

class ScriptAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tmp_.emplace("Tmp", folder_.path());
    ASSERT_TRUE(
        test::WriteTextFile(ScriptPath(),
                            "[General]\r\nProduct=  Padded Product  \r\nCompany=Vorlatch\r\n"
                            "[File]\r\nFile=3\r\nNotANumber=twelve\r\nNegative=-7\r\n"
                            "Long=" +
                                std::string(1500, 'L') + "\r\n"));
    other_ = folder_.File("other.ini");
  }

  std::string FileText(const std::string& path) { return test::ReadTextFile(path).value_or(""); }

  TempFolder folder_;
  std::optional<test::ScopedEnvironment> tmp_;
  std::string other_;
};

TEST_F(ScriptAccessTest, ReadsTheScriptWhenNoFileIsGiven) {
  // The profile functions drop the blanks around a value themselves.
  EXPECT_EQ(ReadScriptString(kGeneral, kProduct, ""), "Padded Product");
  EXPECT_EQ(ReadScriptString("general", "COMPANY", ""), "Vorlatch");
  EXPECT_EQ(ReadScriptInt(kFile, kFile, 0), 3);
  EXPECT_EQ(ReadScriptInt(kFile, "Negative", 0), -7);
}

TEST_F(ScriptAccessTest, AbsentValuesReadAsTheirDefault) {
  EXPECT_EQ(ReadScriptString(kGeneral, kBid, "C:\\Default\\"), "C:\\Default\\");
  EXPECT_EQ(ReadScriptString("Nowhere", kProduct, ""), "");
  EXPECT_EQ(ReadScriptInt(kBefore, kProtect, 0), 0);
  EXPECT_EQ(ReadScriptInt(kBefore, kProtect, 42), 42);
  EXPECT_EQ(ReadScriptInt(kFile, "NotANumber", 5), 0);
  EXPECT_EQ(ReadScriptString(kGeneral, kProduct, "d", folder_.File("missing.ini")), "d");
}

TEST_F(ScriptAccessTest, StringReadsTrimSectionAndKeyNames) {
  EXPECT_EQ(ReadScriptString("  General\t", " Company  ", ""), "Vorlatch");
  EXPECT_EQ(ReadScriptString("\tFile ", " Negative\r\n", ""), "-7");
  // Inner blanks are part of the name.
  EXPECT_EQ(ReadScriptString("Gen eral", kCompany, "none"), "none");
}

TEST_F(ScriptAccessTest, LongValuesAreCutTo1023Characters) {
  const std::string value = ReadScriptString(kFile, "Long", "");
  EXPECT_EQ(value.size(), 1023u);
  EXPECT_EQ(value, std::string(1023, 'L'));
}

TEST_F(ScriptAccessTest, WriteIniStringStoresAValueThatDiffersFromItsDefault) {
  EXPECT_TRUE(WriteIniString("Log", std::string("Key"), std::string("value"), "", other_));
  EXPECT_EQ(ReadScriptString("Log", "Key", "", other_), "value");
  EXPECT_TRUE(WriteIniInt("Log", "Count", 12, 0, other_));
  EXPECT_EQ(ReadScriptInt("Log", "Count", 0, other_), 12);
  // Written through to the file, not only into a cache.
  EXPECT_NE(FileText(other_).find("Count=12"), std::string::npos);
}

TEST_F(ScriptAccessTest, AValueEqualToItsDefaultIsStoredAsAnAbsentKey) {
  ASSERT_TRUE(WriteIniString("Log", std::string("Key"), std::string("old"), "", other_));
  EXPECT_TRUE(WriteIniString("Log", std::string("Key"), std::string("abc"), "ABC", other_));
  EXPECT_EQ(ReadScriptString("Log", "Key", "absent", other_), "absent");
  EXPECT_EQ(FileText(other_).find("Key="), std::string::npos);
  ASSERT_TRUE(WriteIniInt("Log", "Count", 3, 0, other_));
  EXPECT_TRUE(WriteIniInt("Log", "Count", 0, 0, other_));
  EXPECT_EQ(ReadScriptInt("Log", "Count", -1, other_), -1);
  // No value: the key goes.
  ASSERT_TRUE(WriteIniString("Log", std::string("Key"), std::string("x"), "", other_));
  EXPECT_TRUE(WriteIniString("Log", std::string("Key"), std::nullopt, "", other_));
  EXPECT_EQ(ReadScriptString("Log", "Key", "absent", other_), "absent");
}

TEST_F(ScriptAccessTest, WriteIniStringWithoutAKeyRemovesTheWholeSection) {
  ASSERT_TRUE(WriteIniString("Gone", std::string("A"), std::string("1"), "", other_));
  ASSERT_TRUE(WriteIniString("Gone", std::string("B"), std::string("2"), "", other_));
  ASSERT_TRUE(WriteIniString("Kept", std::string("C"), std::string("3"), "", other_));
  EXPECT_TRUE(WriteIniString("Gone", std::nullopt, std::string("ignored"), "", other_));
  EXPECT_EQ(ReadScriptString("Gone", "A", "", other_), "");
  EXPECT_EQ(ReadScriptString("Gone", "B", "", other_), "");
  EXPECT_EQ(ReadScriptString("Kept", "C", "", other_), "3");
  EXPECT_EQ(FileText(other_).find("[Gone]"), std::string::npos);
}

TEST_F(ScriptAccessTest, WriteIniStringToTheScriptAndToAnUnwritablePlace) {
  EXPECT_TRUE(WriteIniString(kGeneral, std::string(kPackage), std::string("pkg"), ""));
  EXPECT_EQ(ReadScriptString(kGeneral, kPackage, ""), "pkg");
  EXPECT_NE(FileText(ScriptPath()).find("Package=pkg"), std::string::npos);
  EXPECT_FALSE(WriteIniString("S", std::string("K"), std::string("v"), "",
                              folder_.File("no-such-folder\\x.ini")));
}

TEST(IntToText, DecimalTextAndNumberedNames) {
  EXPECT_EQ(IntToText(0), "0");
  EXPECT_EQ(IntToText(-12), "-12");
  EXPECT_EQ(IntToText(2147483647), "2147483647");
  EXPECT_EQ(IntToText(-2147483647 - 1), "-2147483648");
  EXPECT_EQ(NumberedName(kFile, 12), "File12");
  EXPECT_EQ(NumberedName(kSection, 2, 3), "Section2_3");
}

TEST(EqualNoCase, ComparesWholeNamesWithoutRegardToCase) {
  EXPECT_TRUE(EqualNoCase("Setup.EXE", "setup.exe"));
  EXPECT_FALSE(EqualNoCase("setup.exe", "setup.ex"));
  EXPECT_FALSE(EqualNoCase("co-op", "coop"));
  EXPECT_TRUE(EqualNoCase("", ""));
}

// A section read whole answers every key as the key-by-key reads of the platform do,
// whatever shape its values have; one written whole reads back line for line.
TEST_F(ScriptAccessTest, AWholeSectionAnswersAsKeyByKeyReads) {
  ASSERT_TRUE(test::WriteTextFile(
      other_,
      "[S]\r\nPlain=12\r\nQuoted=\" in quotes \"\r\nHalf='open\r\nHex=0x1F\r\n"
      "Signed=-3\r\nEmpty=\r\nBare\r\nTwice=first\r\ntwice=second\r\nBig=99999999999\r\n"
      "  Spaced  =  value  \r\nLong=" +
          std::string(1500, 'x') + "\r\n[s]\r\nPlain=other section\r\n"));
  const IniSection section(" S ", other_);
  for (const char* key : {"Plain", "plain", "Quoted", "Half", "Hex", "Signed", "Empty", "Bare",
                          "TWICE", "Big", "Spaced", "Long", "Absent"}) {
    SCOPED_TRACE(key);
    EXPECT_EQ(section.String(key, ""), ReadScriptString("S", key, "", other_));
    EXPECT_EQ(section.String(key, "dflt"), ReadScriptString("S", key, "dflt", other_));
    EXPECT_EQ(section.Int(key, 7), ReadScriptInt("S", key, 7, other_));
  }
  const std::string copy = folder_.File("copy.ini");
  ASSERT_TRUE(WriteIniSection("Copy", section.Lines(), copy));
  // A name without a value is no entry to write.
  std::vector<std::string> entries = section.Lines();
  std::erase(entries, "Bare");
  EXPECT_EQ(IniSection("Copy", copy).Lines(), entries);
}

}  // namespace
}  // namespace vorlatch
