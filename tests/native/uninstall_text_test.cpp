#include "uninstaller/uninstall_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vorlatch {
namespace {

MacroFolders Folders() {
  MacroFolders folders;
  folders.windows = "C:\\Windows\\";
  folders.system = "C:\\Windows\\System32\\";
  folders.temp = "C:\\Temp\\";
  folders.bid = "D:\\Apps\\Tool\\";
  folders.programFiles = "C:\\Program Files\\";
  return folders;
}

std::string PathOf(const std::string& entry) {
  const auto place = ExpandLoggedFile(entry, Folders());
  return place ? place->path : "<none>";
}

TEST(UninstallCommand, ModesFromTheArguments) {
  EXPECT_EQ(ParseUninstallCommand("\"C:\\Apps\\Tool\\Uninstall.exe\"").mode,
            UninstallMode::kInteractive);
  EXPECT_EQ(ParseUninstallCommand("C:\\Apps\\Tool\\Uninstall.exe").mode,
            UninstallMode::kInteractive);
  EXPECT_EQ(ParseUninstallCommand("\"C:\\My Apps\\Uninstall.exe\" /u").mode,
            UninstallMode::kRollback);
  EXPECT_EQ(ParseUninstallCommand("\"C:\\My Apps\\Uninstall.exe\"   /U  ").mode,
            UninstallMode::kRollback);
  EXPECT_EQ(ParseUninstallCommand("Uninstall.exe /u").mode, UninstallMode::kRollback);
  EXPECT_EQ(ParseUninstallCommand("\"C:\\My Apps\\Uninstall.exe\" /S").mode,
            UninstallMode::kSilent);
  EXPECT_EQ(ParseUninstallCommand("Uninstall.exe /s").mode, UninstallMode::kSilent);
  // Anything else asks first.
  EXPECT_EQ(ParseUninstallCommand("\"Uninstall.exe\" /uu").mode, UninstallMode::kInteractive);
  EXPECT_EQ(ParseUninstallCommand("\"Uninstall.exe\" /x").mode, UninstallMode::kInteractive);
  EXPECT_EQ(ParseUninstallCommand("\"Uninstall.exe\" /S /u").mode, UninstallMode::kInteractive);
  EXPECT_EQ(ArgumentsOf("\"C:\\a b\\x.exe\"  one two "), "one two");
  EXPECT_EQ(ArgumentsOf("\"unclosed /u"), "");
}

TEST(UninstallCommand, FinishNeedsAHandleNumber) {
  const UninstallCommand finish = ParseUninstallCommand("\"C:\\Temp\\copy.exe\" /finish 1234");
  EXPECT_EQ(finish.mode, UninstallMode::kFinish);
  EXPECT_EQ(finish.handle, 1234u);
  for (const char* line :
       {"x.exe /finish", "x.exe /finish 0", "x.exe /finish 12a", "x.exe /finish -5",
        "x.exe /finish 99999999999999999999", "x.exe /finished 12"}) {
    EXPECT_EQ(ParseUninstallCommand(line).mode, UninstallMode::kInteractive) << line;
  }
}

TEST(LoggedPaths, FileEntriesExpandLikeTheInstallerExpandsTargets) {
  EXPECT_EQ(PathOf("[BID]app.exe"), "D:\\Apps\\Tool\\app.exe");
  EXPECT_EQ(PathOf("[bid]docs\\notes.txt"), "D:\\Apps\\Tool\\docs\\notes.txt");
  EXPECT_EQ(PathOf("[SYSTEM]x.dll"), "C:\\Windows\\System32\\x.dll");
  // A doubled separator is collapsed, as the installer collapses its targets.
  EXPECT_EQ(PathOf("[SYSTEM]\\x.dll"), "C:\\Windows\\System32\\x.dll");
  EXPECT_EQ(PathOf("[WINDOWS]fonts\\\\a.ttf"), "C:\\Windows\\fonts\\a.ttf");
  EXPECT_EQ(PathOf("[TEMP]t.txt"), "C:\\Temp\\t.txt");
  EXPECT_EQ(PathOf("[PROGFILES]Acme\\a.exe"), "C:\\Program Files\\Acme\\a.exe");
  // Without a leading macro the installer used the installation folder.
  EXPECT_EQ(PathOf("C:\\Tools\\x.dll"), "D:\\Apps\\Tool\\x.dll");
  EXPECT_EQ(PathOf("sub\\x.dll"), "D:\\Apps\\Tool\\x.dll");
  EXPECT_EQ(ExpandLoggedFile("[BID]docs\\notes.txt", Folders())->base, "D:\\Apps\\Tool\\");
  EXPECT_EQ(ExpandLoggedFile("[SYSTEM]x.dll", Folders())->base, "C:\\Windows\\System32\\");
}

TEST(LoggedPaths, EntriesThatWouldLeaveTheirFolderAreRefused) {
  for (const char* entry :
       {"[BID]..\\..\\Windows\\win.ini", "[BID]docs\\..\\..\\x", "[BID]. \\x", "[BID]...\\x",
        "[BID]docs/../x", "[BID]C:\\x", "[BID]x:stream", "[BID]*.txt", "[BID]", "[BID]docs\\",
        "[BID]a\x01"
        "b",
        "..", "C:\\Tools\\.."}) {
    EXPECT_EQ(PathOf(entry), "<none>") << entry;
  }
  MacroFolders unknown = Folders();
  unknown.temp.clear();
  unknown.bid = "relative\\";
  EXPECT_FALSE(ExpandLoggedFile("[TEMP]t.txt", unknown));
  EXPECT_FALSE(ExpandLoggedFile("[BID]t.txt", unknown));
}

TEST(LoggedPaths, IniTargetsGiveFolders) {
  EXPECT_EQ(ExpandLoggedFolder("[BID]", Folders())->path, "D:\\Apps\\Tool\\");
  EXPECT_EQ(ExpandLoggedFolder("", Folders())->path, "D:\\Apps\\Tool\\");
  EXPECT_EQ(ExpandLoggedFolder("C:\\Elsewhere", Folders())->path, "D:\\Apps\\Tool\\");
  EXPECT_EQ(ExpandLoggedFolder("[WINDOWS]", Folders())->path, "C:\\Windows\\");
  EXPECT_EQ(ExpandLoggedFolder("[bid]conf", Folders())->path, "D:\\Apps\\Tool\\conf\\");
  EXPECT_FALSE(ExpandLoggedFolder("[BID]..", Folders()));
}

TEST(LoggedPaths, AbsoluteAndRootFolders) {
  EXPECT_TRUE(IsAbsolutePath("C:\\"));
  EXPECT_TRUE(IsAbsolutePath("c:\\x\\"));
  EXPECT_TRUE(IsAbsolutePath("\\\\server\\share\\"));
  EXPECT_FALSE(IsAbsolutePath("C:"));
  EXPECT_FALSE(IsAbsolutePath("C:x\\"));
  EXPECT_FALSE(IsAbsolutePath("\\x\\"));
  EXPECT_FALSE(IsAbsolutePath("\\\\server\\"));
  EXPECT_FALSE(IsAbsolutePath("\\\\?\\C:\\x\\"));
  EXPECT_FALSE(IsAbsolutePath("\\\\.\\pipe\\"));
  EXPECT_FALSE(IsAbsolutePath("x\\"));
  EXPECT_TRUE(IsRootFolder("C:\\"));
  EXPECT_TRUE(IsRootFolder("C:\\\\"));
  EXPECT_TRUE(IsRootFolder("\\\\server\\share\\"));
  EXPECT_FALSE(IsRootFolder("C:\\x\\"));
  EXPECT_FALSE(IsRootFolder("\\\\server\\share\\x"));
  EXPECT_TRUE(IsSameOrInside("C:\\WINDOWS\\system32\\", "c:\\windows"));
  EXPECT_TRUE(IsSameOrInside("C:\\Windows", "C:\\Windows\\"));
  EXPECT_FALSE(IsSameOrInside("C:\\Windows2\\", "C:\\Windows\\"));
  EXPECT_TRUE(IsSamePath("C:\\Apps\\Tool\\\\", "c:\\apps\\TOOL"));
}

TEST(LoggedPaths, OldDestinationsWithForwardSlashesAreTakenWhereSafe) {
  const struct {
    const char* logged;
    const char* taken;
  } cases[] = {
      {"C:/Apps/Tool", "C:\\Apps\\Tool"},
      {"C:\\Apps/Tool/", "C:\\Apps\\Tool\\"},
      {"//server/share/Tool", "\\\\server\\share\\Tool"},
      {"C:\\Apps\\Tool", "C:\\Apps\\Tool"},
      // Relative forms stay as they are, and are refused.
      {"Tool/Sub", "Tool/Sub"},
      {"C:Tool/Sub", "C:Tool/Sub"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LoggedInstallationFolder(c.logged), c.taken) << c.logged;
  }
}

TEST(LoggedPaths, FoldersBetweenTheMacroFolderAndTheFile) {
  EXPECT_EQ(FoldersBetween("D:\\Apps\\Tool\\", "D:\\Apps\\Tool\\a\\b\\f.txt"),
            (std::vector<std::string>{"D:\\Apps\\Tool\\a\\b\\", "D:\\Apps\\Tool\\a\\"}));
  EXPECT_EQ(FoldersBetween("D:\\Apps\\Tool", "D:\\Apps\\Tool\\f.txt"), std::vector<std::string>{});
  EXPECT_EQ(FoldersBetween("D:\\Apps\\Tool\\", "E:\\f.txt"), std::vector<std::string>{});
}

TEST(LoggedPaths, ProgramGroupWithItsInstance) {
  EXPECT_EQ(LoggedProgramGroup("Acme", "Tool", 0), "Acme\\Tool\\");
  EXPECT_EQ(LoggedProgramGroup("Acme", "Tool", 1), "Acme\\Tool 1\\");
  EXPECT_EQ(LoggedProgramGroup("", "Tool", 10), "Tool 10\\");
  EXPECT_EQ(LoggedProgramGroup("", "", 0), "");
  EXPECT_EQ(LoggedProgramGroup("..", "Tool", 0), "");
  EXPECT_EQ(LoggedProgramGroup("Acme", "C:\\Tool", 0), "");
  EXPECT_EQ(GroupLevels("Acme\\Tool 1\\"), (std::vector<std::string>{"Acme\\Tool 1\\", "Acme\\"}));
  EXPECT_EQ(GroupLevels("Tool\\"), std::vector<std::string>{"Tool\\"});
}

TEST(UninstallTexts, QuestionReportAndRefusal) {
  EXPECT_EQ(RemoveQuestion("Tool"), "Do you want to remove Tool and all of its components?");
  EXPECT_EQ(RemoveQuestion(""), "Do you want to remove this program and all of its components?");
  EXPECT_EQ(RemovedText("Tool"), "Tool has been removed.");
  const std::string question = LeftOverQuestion("Tool", {"C:\\a.dll", "C:\\b.exe"});
  EXPECT_NE(question.find("C:\\a.dll\nC:\\b.exe\n"), std::string::npos) << question;
  EXPECT_NE(question.find("Remove them when Windows restarts?"), std::string::npos);
  EXPECT_EQ(RefusalText("C:\\Apps\\Uninstall.exe", "the file carries no uninstall log"),
            "The uninstall log at the end of\nC:\\Apps\\Uninstall.exe\nis missing or damaged: "
            "the file carries no uninstall log.\n\nNothing was removed.");
}

TEST(UninstallTexts, LongListsAreCut) {
  std::vector<std::string> files;
  for (int i = 0; i < 20; ++i) {
    std::string name = "f";
    name += std::to_string(i);
    files.push_back(name);
  }
  const std::string list = FileListText(files);
  EXPECT_NE(list.find("f14\n"), std::string::npos);
  EXPECT_EQ(list.find("f15"), std::string::npos);
  EXPECT_NE(list.find("... and 5 more\n"), std::string::npos) << list;
}

}  // namespace
}  // namespace vorlatch
