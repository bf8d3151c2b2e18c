#include <gtest/gtest.h>

#include <regex>

#include "packer/project_checks.h"
#include "packer/script_catalogue.h"
#include "temp_folder.h"

namespace vorlatch {
namespace {

using packer::CheckProjectText;

struct Mistake {
  const char* project;
  int line;
  bool error;
  const char* message;  // a part of it
};

// A small sound project; each case adds its mistake at the end (line 9 on).
constexpr char kBase[] =
    "[General]\nProduct=P\nBID=C:\\P\\\n[File]\nFile1=a.txt\nTarget1=[BID]\nUninstall=1\n"
    "[Registry]\n";

TEST(ProjectChecks, EachMistakeGetsItsLineAndSeverity) {
  const Mistake mistakes[] = {
      {"[Genral]\nProduct=Q\n", 9, true,
       "unknown section [Genral]: its keys are ignored (did you mean [General]?)"},
      {"[Registery]\nNumber=1\n", 9, true, "did you mean [Registry]?"},
      {"[File]\nUninstal=1\n", 10, true,
       "unknown key Uninstal in [File]: ignored (did you mean Uninstall?)"},
      {"[File]\nTaget1=x\n", 10, true, "did you mean Target1?"},
      {"[File]\nFiel1=b.txt\n", 10, true,
       "unknown key Fiel1 in [File]: ignored (did you mean File1?)"},
      {"[Before]\nRun=1\n", 10, true, "Run is not read in [Before] ([After] reads it)"},
      {"[File]\nFile=1\nFile=2\n", 11, true, "line 10 sets File=1 first, and the first one counts"},
      {"[File]\nFile=1\nFile2=b.txt\n", 11, true, "File2 is beyond [File] File=1: ignored"},
      {"[File]\nFile=2\n", 10, true, "[File] File=2, but there is no File2"},
      {"[Info]\nLine=2\nLine1=a\n", 10, false, "[Info] Line=2, but there is no Line2"},
      {"Key1 HKEY_CURRENT_USER\\X\n", 9, true, "not a key=value line"},
      {"[File]\nFile2=b.txt\nTarget2=[BIDX]docs\\\n", 11, true,
       "unknown macro [BIDX] (did you mean [BID]?)"},
      {"[File]\nFile2=b.txt\nTarget2=[BID]DOCS/SUB/\n", 11, true, "not forward slashes"},
      {"Key1=HKEY_CURRENT_USER/Software\n", 9, true, "not forward slashes"},
      {"[File]\nFile2=b.txt\nTarget2=docs\\\n", 11, false,
       "the installer uses the destination folder itself"},
      {"Key1=HKEY_CURRENT_USER\\X\n[Key1]\nValue1=[BID]app.exe\n", 11, false,
       "[BID] expands only as the whole value"},
      {"Key1=HKEY_CURRENT_USER\\X\n[Key2]\nName1=a\n", 10, false, "[Key2] is beyond"},
      {"[File]\nZip1=10\n", 10, false, "written by the builder"},
      {"[File]\nUninstall=1\n", 10, false, "repeats line 7 with the same value"},
      {"[Info]\nTextFile=LICENSE.txt\nLine1=x\n", 10, true,
       "TextFile and Line1 (line 11) both give the text"},
      {"[General]\nScope=user\n[Registry]\nKey1=hkey_local_machine\\Software\\X\n", 12, true,
       "a per-user installation (Scope=user, line 10) writes nothing under HKEY_LOCAL_MACHINE"},
      {"[General]\nScope=user\n[Build]\nExecutionLevel=highestAvailable\n", 12, true,
       "asks for an administrator"},
      {"[General]\nScope=User\n[File]\nFile2=b.txt\nTarget2=[System]\n", 13, true,
       "installs nothing into the system folders"},
      {"[General]\nScope=everyone\n", 10, true, "Scope=everyone is neither machine nor user"},
  };
  for (const Mistake& mistake : mistakes) {
    const auto found = CheckProjectText(std::string(kBase) + mistake.project);
    ASSERT_EQ(found.size(), 1u) << mistake.project << (found.empty() ? "" : found[0].message);
    EXPECT_EQ(found[0].line, mistake.line) << mistake.project;
    EXPECT_EQ(found[0].error, mistake.error) << mistake.project;
    EXPECT_NE(found[0].message.find(mistake.message), std::string::npos) << found[0].message;
  }
  // Without Product, the installer writes no uninstall entry: blamed on Uninstall.
  const auto noProduct = CheckProjectText("[General]\nBID=C:\\P\\\n[File]\nFile1=a\nUninstall=1\n");
  ASSERT_EQ(noProduct.size(), 1u);
  EXPECT_EQ(packer::DiagnosticText("p.vlp", noProduct[0]),
            "p.vlp:5: error: an uninstaller is packed, but [General] Product is not set: the "
            "installer then writes no uninstall entry");
}

TEST(ProjectChecks, SoundProjectsGetNone) {
  EXPECT_TRUE(CheckProjectText(kBase).empty());
  for (const char* example : {"/examples/hello/hello.vlp", "/examples/tree/tree.vlp"}) {
    const std::string text = testing::ReadText(std::string(VORLATCH_SOURCE_DIR) + example);
    ASSERT_FALSE(text.empty()) << example;
    const auto found = CheckProjectText(text);
    EXPECT_TRUE(found.empty()) << example << ":" << found[0].line << ": " << found[0].message;
  }
}

// Every section and key name that the installer's and the uninstaller's code reads is in the
// catalogue, so that the checks and the reference cannot fall behind the code.
TEST(ProjectChecks, CatalogueHoldsEveryKeyOfTheCode) {
  const std::string header =
      testing::ReadText(std::string(VORLATCH_SOURCE_DIR) + "/src/script/keys.h");
  const std::regex constant(R"(constexpr char (k\w+)\[\] = "([^"]*)\")");
  int names = 0;
  for (std::sregex_iterator it(header.begin(), header.end(), constant), end; it != end; ++it) {
    const std::string name = (*it)[2];
    if ((*it)[1] == "kNoFileName") {
      continue;  // a value, not a name
    }
    ++names;
    bool known = false;
    for (const auto& section : packer::CatalogueSections()) {
      known = known || section.word == name;
    }
    for (const auto& key : packer::CatalogueKeys()) {
      known = known || (key.word == name && key.role != packer::KeyRole::Builder);
    }
    EXPECT_TRUE(known) << (*it)[1] << " = \"" << name << "\" is not in the catalogue";
  }
  EXPECT_GT(names, 50);
}

}  // namespace
}  // namespace vorlatch
