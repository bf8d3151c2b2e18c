// A first installer as a package author makes it: `vorlatch-pack new` on a folder tree with a
// licence file and a program, built with the project checks on, installed with the robot
// answering, then removed through the uninstall entry, leaving nothing behind.

#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "packer/packer.h"
#include "packer/project_starter.h"
#include "support/run_answers.h"
#include "support/system_snapshot.h"
#include "support/test_files.h"

namespace vorlatch::test {
namespace {

constexpr int kDestinationEdit = 1007;
constexpr int kDestinationNext = 1010;

std::string ProgramsFolder() {
  char buffer[MAX_PATH] = {};
  return ::SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_PROGRAMS, TRUE)
             ? std::string(buffer) + "\\"
             : std::string();
}

TEST(StarterProject, InstallsAFolderTreeWithItsLicenceAndNamedShortcutThenRemovesIt) {
  ::CoInitialize(nullptr);
  TempFolder folder;
  const std::string temp = folder.Subfolder("temp");
  ScopedEnvironment tmp{"Tmp", temp};
  ScopedEnvironment tempVariable{"Temp", temp};
  // The folder's name becomes the product's, and so the Start Menu group's and the entry's.
  const std::string product = "VorlatchStarter" + std::to_string(::GetCurrentProcessId());
  const std::string tree = folder.Subfolder(product);
  ASSERT_TRUE(::CreateDirectoryA((tree + "bin").c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryA((tree + "doc").c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryA((tree + "doc\\sub").c_str(), nullptr));
  const std::string licence = "Starter licence of " + product + ": accept it to go on.";
  ASSERT_TRUE(WriteTextFile(tree + "LICENSE.txt", licence + "\r\n\r\nSecond paragraph.\r\n"));
  ASSERT_TRUE(WriteTextFile(tree + "bin\\app.exe", "stands in for the program"));
  ASSERT_TRUE(WriteTextFile(tree + "readme.txt", "read me"));
  ASSERT_TRUE(WriteTextFile(tree + "doc\\sub\\guide.txt", "the guide"));
  ASSERT_TRUE(WriteTextFile(tree + "debug.pdb", "left out"));

  std::string project = folder.File("starter.vlp");
  std::string error;
  ASSERT_TRUE(packer::WriteStarterProject(tree, project, error)) << error;
  packer::BuildOptions options;
  options.project = project;
  options.stub = BesideTests("vorlatch-stub.exe");
  options.output = folder.File("starter-setup.exe");
  options.checks = true;
  std::vector<std::string> messages;
  options.messages = &messages;
  ASSERT_TRUE(packer::BuildInstaller(options, error)) << error;
  EXPECT_EQ(messages, std::vector<std::string>{});

  const std::string group = ProgramsFolder() + product + "\\" + product + "\\";
  const std::string entry = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + product;
  const std::string destination = folder.Subfolder("place") + "Starter";
  ChildProcess installer;
  ASSERT_TRUE(installer.Start(Quoted(options.output)));
  ProcessResult result;
  const std::vector<std::string> seen = AnswerUntilEnd(
      installer,
      {{licence, IDYES},
       {"Please select destination directory:", kDestinationNext, kDestinationEdit, destination},
       {"Successfully installed.", IDOK}},
      result);
  EXPECT_EQ(result.exitCode, 0u) << ::testing::PrintToString(seen);
  EXPECT_TRUE(WaitForProgramsIn(folder.path()));
  ASSERT_FALSE(seen.empty());
  // The licence keeps the file's line breaks, its empty line too; the footer follows.
  EXPECT_EQ(seen.front(),
            product + " licence: " + licence + "\n\nSecond paragraph.\nDo you accept these terms?");

  std::vector<std::string> installed;
  DescribeTree(destination, "", installed);
  std::sort(installed.begin(), installed.end());
  // The uninstaller, described by its size, and the folder tree without the .pdb.
  EXPECT_EQ(
      std::erase_if(installed,
                    [](const std::string& line) { return line.starts_with("Uninstall.exe="); }),
      1u);
  // Target folders come out in capitals (the installer's rule for targets after a macro).
  EXPECT_EQ(installed,
            (std::vector<std::string>{"BIN\\", "BIN\\app.exe=stands in for the program|", "DOC\\",
                                      "DOC\\SUB\\", "DOC\\SUB\\guide.txt=the guide|",
                                      "LICENSE.txt=" + licence + "|Second paragraph.|",
                                      "readme.txt=read me|"}));
  // The program's shortcut under the name the project gives it.
  EXPECT_TRUE(FileExists(group + product + ".lnk"))
      << ::testing::PrintToString(FolderEntries(group));

  ChildProcess uninstaller;
  ASSERT_TRUE(uninstaller.Start(RegistryString(HKEY_LOCAL_MACHINE, entry, "UninstallString")));
  AnswerUntilEnd(uninstaller,
                 {{"Do you want to remove " + product + " and all of its components?", IDYES},
                  {product + " has been removed.", IDOK}},
                 result);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_TRUE(WaitForProgramsIn(folder.path()));

  std::vector<std::string> left;
  DescribeTree(destination, "place", left);
  DescribeTree(ProgramsFolder() + product, "programs", left);
  DescribeKey(HKEY_LOCAL_MACHINE, entry, "entry", left);
  EXPECT_EQ(left, std::vector<std::string>{});
  RemoveTree(ProgramsFolder() + product);
  ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, entry.c_str());
  ::CoUninitialize();
}

}  // namespace
}  // namespace vorlatch::test
