#include <gtest/gtest.h>

#include <sys/stat.h>

#include "package/format.h"
#include "packer/installer_extraction.h"
#include "packer/packer.h"
#include "packer/project_expansion.h"
#include "packer/source_file.h"
#include "temp_folder.h"

namespace vorlatch {
namespace {

using packer::IniText;
using testing::ReadText;
using testing::TempFolder;
using testing::WriteFile;

TEST(ProjectExpansion, FoldersTextFilesAndCountsBecomeOrdinaryKeys) {
  TempFolder dir;
  ASSERT_TRUE(dir.ok());
  for (const char* name : {"app/b.txt", "app/a.exe", "app/Z/z.txt", "app/sub/deep/d.txt",
                           "app/sub/c.txt", "app/skip.pdb", "app/build/out.txt", "app/.git/x"}) {
    WriteFile(dir / name, name);
  }
  WriteFile(dir / "LICENSE.txt", "Licence\r\n\r\n  indented\n\"quoted\"\nlast");
  IniText project = IniText::Parse(
      "[File]\nFile1=a.exe\nSource1=app/a.exe\nShortcut1=1\n"
      "Folder1=app\nFolderTarget1=[BID]prog\nFolderExclude1=*.PDB; .git ;build/*\n"
      "[Before]\nTextFile=LICENSE.txt\n[Registry]\nKey1=HKEY_CURRENT_USER\\A\nKey2=HKEY_CURRENT_"
      "USER\\B\n"
      "[Key2]\nName1=n\nValue3=v\n");
  packer::Expansion expansion;
  std::string error;
  ASSERT_TRUE(
      packer::ExpandProject(project, {dir.path() + "/", CodePage(), false, true}, expansion, error))
      << error;

  // The hand-written file keeps number 1 and is not packed again; then the folder's files
  // before its subfolders, each in byte order, in target folders that mirror the source's.
  const char* expected[][3] = {{"a.exe", "app/a.exe", "[BID]"},
                               {"b.txt", "app/b.txt", "[BID]prog\\"},
                               {"z.txt", "app/Z/z.txt", "[BID]prog\\Z\\"},
                               {"c.txt", "app/sub/c.txt", "[BID]prog\\sub\\"},
                               {"d.txt", "app/sub/deep/d.txt", "[BID]prog\\sub\\deep\\"}};
  EXPECT_EQ(project.GetInt("File", "File"), 5);
  for (int n = 1; n <= 5; ++n) {
    const std::string number = std::to_string(n);
    EXPECT_EQ(project.GetString("File", "File" + number), expected[n - 1][0]) << n;
    EXPECT_EQ(project.GetString("File", "Source" + number), expected[n - 1][1]) << n;
    if (n > 1) {
      EXPECT_EQ(project.GetString("File", "Target" + number), expected[n - 1][2]) << n;
    }
  }
  EXPECT_EQ(expansion.fileOrigins[3], "[File] Folder1 ('Z/z.txt')");

  // The text keeps its line breaks and empty lines; blanks and quotes survive the reading.
  EXPECT_EQ(project.GetInt("Before", "Line"), 5);
  const char* lines[] = {"Licence", "", "  indented", "\"quoted\"", "last"};
  for (int n = 1; n <= 5; ++n) {
    EXPECT_EQ(project.GetString("Before", "Line" + std::to_string(n)), lines[n - 1]) << n;
  }
  // Counts left out are counted: the keys, and the values of key 2 up to Value3.
  EXPECT_EQ(project.GetInt("Registry", "Number"), 2);
  EXPECT_EQ(project.GetInt("Key2", "Number"), 3);

  // An empty file cannot be installed: the message names the folder key and the file.
  WriteFile(dir / "app/sub/empty.txt", "");
  IniText again = IniText::Parse("[File]\nFolder1=app\n");
  EXPECT_FALSE(
      packer::ExpandProject(again, {dir.path() + "/", CodePage(), false, true}, expansion, error));
  EXPECT_EQ(error.rfind("[File] Folder1: 'sub/empty.txt': empty file", 0), 0u) << error;
}

// extract gives back every packed file's bytes, attributes and times.
TEST(ProjectExpansion, ExtractGivesBackTheSources) {
  TempFolder dir;
  ASSERT_TRUE(dir.ok());
  WriteFile(dir / "stub.exe", "MZ stands in for the stub");
  WriteFile(dir / "tree/one.txt", "first file");
  WriteFile(dir / "tree/sub/two.bin", std::string("\0\1\2binary", 9));
  WriteFile(dir / "u.exe", "MZ stands in for the uninstaller");
  ASSERT_TRUE(testing::SetTimes(dir / "tree/one.txt", 1600000000, 1500000000));
  ASSERT_TRUE(testing::SetTimes(dir / "tree/sub/two.bin", 1600000001, 1400000000));
  ASSERT_EQ(chmod((dir / "tree/sub/two.bin").c_str(), 0444), 0);
  WriteFile(dir / "p.vlp",
            "[General]\nProduct=P\n[File]\nFolder1=tree\nFolderTarget1=[BID]data\nUninstall=1\n");
  packer::BuildOptions options;
  options.project = dir / "p.vlp";
  options.stub = dir / "stub.exe";
  options.uninstaller = dir / "u.exe";
  options.output = dir / "setup.exe";
  std::string error;
  ASSERT_TRUE(packer::BuildInstaller(options, error)) << error;

  std::ostringstream listing;
  ASSERT_TRUE(packer::ExtractInstaller(dir / "setup.exe", dir / "out", listing, error)) << error;
  const struct {
    const char* source;
    const char* extracted;
    long long written;
  } files[] = {{"tree/one.txt", "out/BID/data/one.txt", 1500000000},
               {"tree/sub/two.bin", "out/BID/data/sub/two.bin", 1400000000},
               {"u.exe", "out/BID/Uninstall.exe", 0}};
  for (const auto& file : files) {
    EXPECT_EQ(ReadText(dir / file.extracted), ReadText(dir / file.source)) << file.extracted;
    struct stat source {
    }, extracted{};
    ASSERT_EQ(stat((dir / file.source).c_str(), &source), 0);
    ASSERT_EQ(stat((dir / file.extracted).c_str(), &extracted), 0) << listing.str();
    EXPECT_EQ(extracted.st_mtime, source.st_mtime) << file.extracted;
    if (file.written != 0) {
      EXPECT_EQ(extracted.st_mtime, file.written);
      EXPECT_EQ(extracted.st_mode & 0222, source.st_mode & 0222) << file.extracted;
    }
  }
  EXPECT_NE(ReadText(dir / "out/Vorlatch.ini").find("File2=two.bin"), std::string::npos);
  EXPECT_NE(
      listing.str().find("BID/data/sub/two.bin: [File] File2, 9 bytes, attributes 0x00000001"),
      std::string::npos)
      << listing.str();
  // Never over what is there.
  EXPECT_FALSE(packer::ExtractInstaller(dir / "setup.exe", dir / "out", listing, error));
  EXPECT_NE(error.find("not empty"), std::string::npos) << error;
}

}  // namespace
}  // namespace vorlatch
