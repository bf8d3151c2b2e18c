// Whole uninstallations: an installer made by the packer with the real uninstaller, run by the
// stub with the robot answering, then removed the way the system removes it (the command line
// of the uninstall entry) or by the installer's own termination (/u). The system is compared
// with a snapshot taken before the installation: the files, the registry keys and the shortcut
// folders that the package touches.

#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "packer/packer.h"
#include "script/directories.h"
#include "script/path_macros.h"
#include "support/many_files.h"
#include "support/run_answers.h"
#include "support/system_snapshot.h"
#include "support/test_files.h"
#include "support/ui_robot.h"
#include "win/handles.h"

namespace vorlatch::test {
namespace {

constexpr int kDestinationEdit = 1007;
constexpr int kDestinationNext = 1010;
constexpr char kUninstallKeyPrefix[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::string ShellFolder(int csidl) {
  char buffer[MAX_PATH] = {};
  if (!::SHGetSpecialFolderPathA(nullptr, buffer, csidl, TRUE)) {
    return std::string();
  }
  return std::string(buffer) + "\\";
}

// A string value; the parts of a multi-string are joined by "|".
std::string RegistryString(HKEY root, const std::string& key, const std::string& name) {
  UniqueHkey opened;
  DWORD size = 0;
  DWORD type = 0;
  if (::RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, opened.put()) != ERROR_SUCCESS ||
      ::RegQueryValueExA(opened.get(), name.c_str(), nullptr, &type, nullptr, &size) !=
          ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_MULTI_SZ)) {
    return "<none>";
  }
  std::string buffer(size + 2, '\0');
  if (::RegQueryValueExA(opened.get(), name.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(buffer.data()), &size) != ERROR_SUCCESS) {
    return "<none>";
  }
  buffer.resize(size);
  while (!buffer.empty() && buffer.back() == '\0') {
    buffer.pop_back();
  }
  std::replace(buffer.begin(), buffer.end(), '\0', '|');
  return buffer;
}

void SetRegistryString(HKEY root, const std::string& key, const std::string& name,
                       const std::string& value) {
  UniqueHkey created;
  ASSERT_EQ(::RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              created.put(), nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(::RegSetValueExA(created.get(), name.c_str(), 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>(value.size() + 1)),
            ERROR_SUCCESS);
}

class Uninstallation : public ::testing::Test {
 protected:
  void SetUp() override {
    ::CoInitialize(nullptr);
    // Names of this run alone: registry, shell folders and file types are shared.
    const std::string pid = std::to_string(::GetCurrentProcessId());
    product_ = "VorlatchUninstall" + pid;
    company_ = "Vorlatch Uninstall " + pid;
    app_ = "vlun" + pid;
    extension_ = ".vlu" + pid;
    ownKey_ = "Software\\" + product_;
    programs_ = ShellFolder(CSIDL_PROGRAMS);
    desktop_ = ShellFolder(CSIDL_DESKTOPDIRECTORY);
    quickLaunch_ = ShellFolder(CSIDL_APPDATA) + "Microsoft\\Internet Explorer\\Quick Launch\\";
    // The prefix has no Quick Launch bar of its own; the stub makes no folders for it.
    ::SHCreateDirectoryExA(nullptr, quickLaunch_.c_str(), nullptr);
    ASSERT_TRUE(WriteTextFile(sources_ + "app.txt", "the program"));
    ASSERT_TRUE(WriteTextFile(sources_ + "notes.txt", "the notes"));
  }

  void TearDown() override {
    // Whatever a failed test left behind.
    RemoveTree(programs_ + company_);
    ::DeleteFileA((desktop_ + LinkName()).c_str());
    ::DeleteFileA((quickLaunch_ + LinkName()).c_str());
    ::RegDeleteTreeA(HKEY_CURRENT_USER, ownKey_.c_str());
    ::RegDeleteTreeA(HKEY_CLASSES_ROOT, extension_.c_str());
    ::RegDeleteTreeA(HKEY_CLASSES_ROOT, ProgramId().c_str());
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, EntryKey().c_str());
    ::CoUninitialize();
  }

  std::string AppFile() const { return app_ + ".txt"; }
  std::string LinkName() const { return app_ + " txt.lnk"; }
  std::string ProgramId() const { return app_ + "_file"; }
  std::string EntryKey() const { return kUninstallKeyPrefix + product_; }
  std::string Group() const { return programs_ + company_ + "\\" + product_; }

  std::string Head() const {
    return "[General]\r\n" + Line("Company", company_) + Line("Product", product_);
  }

  // A file of the package: its name, where it comes from, and further keys.
  std::string FileKeys(int n, const std::string& name, const std::string& source,
                       const std::string& more = "") const {
    const std::string number = std::to_string(n);
    return Line("File" + number, name) + Line("Source" + number, sources_ + source) + more;
  }

  // Builds the installer, runs it with the destination typed into its dialog and `replies`
  // for the windows after it, and waits until it and any uninstaller it started have ended.
  std::vector<std::string> Install(const std::string& project, const std::string& destination,
                                   std::vector<Reply> replies = {},
                                   const std::string& workingFolder = "") {
    std::string error;
    const std::string installer = BuildTestInstaller(folder_, project, error);
    EXPECT_FALSE(installer.empty()) << error;
    ChildProcess stub;
    if (installer.empty() || !stub.Start(Quoted(installer), workingFolder)) {
      ADD_FAILURE() << "the installer did not start";
      return {};
    }
    replies.insert(replies.begin(), Reply{"Please select destination directory:", kDestinationNext,
                                          kDestinationEdit, destination});
    replies.push_back(Reply{"Successfully installed.", IDOK});
    ProcessResult result;
    std::vector<std::string> seen = AnswerUntilEnd(stub, replies, result);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_TRUE(WaitForProgramsIn(folder_.path()));
    return seen;
  }

  // Runs an uninstaller's command line with the robot answering, waits until it and the copy
  // that finishes its work have ended, and expects `exitCode`.
  std::vector<std::string> RunUninstaller(const std::string& commandLine,
                                          const std::vector<Reply>& replies, DWORD exitCode) {
    ChildProcess uninstaller;
    if (!uninstaller.Start(commandLine)) {
      ADD_FAILURE() << "cannot start " << commandLine;
      return {};
    }
    ProcessResult result;
    std::vector<std::string> seen = AnswerUntilEnd(uninstaller, replies, result);
    EXPECT_EQ(result.exitCode, exitCode) << commandLine;
    EXPECT_TRUE(WaitForProgramsIn(folder_.path()));
    return seen;
  }

  // The way the system removes a program: the command line of its uninstall entry.
  std::vector<std::string> UninstallThroughEntry(const std::vector<Reply>& replies,
                                                 DWORD exitCode = 0) {
    const std::string command = RegistryString(HKEY_LOCAL_MACHINE, EntryKey(), "UninstallString");
    EXPECT_NE(command, "<none>");
    return RunUninstaller(command, replies, exitCode);
  }

  std::vector<Reply> YesAndOk() const {
    return {{"Do you want to remove " + product_ + " and all of its components?", IDYES},
            {product_ + " has been removed.", IDOK}};
  }

  // The copies that finished the removals wait, each alone in a folder of its own in the
  // temporary folder, for a restart that never comes here; true when there was one.
  bool RemoveFinishingCopies() {
    bool found = false;
    for (const std::string& name : FolderEntries(temp_)) {
      if (name.rfind("vorlatch-uninstall-", 0) == 0) {
        found = true;
        EXPECT_EQ(FolderEntries(temp_ + name), std::vector<std::string>{"vorlatch-uninstall.exe"})
            << name;
        RemoveTree(temp_ + name);
      }
    }
    return found;
  }

  // Everything the packages of these tests can touch, one line per file, folder, key and
  // value, sorted.
  std::vector<std::string> SystemState(bool withTemporaryFolder = false) const {
    std::vector<std::string> lines;
    DescribeTree(place_, "place\\", lines);
    if (withTemporaryFolder) {
      DescribeTree(temp_, "temp\\", lines);
    }
    DescribeTree(programs_ + company_, "programs\\", lines);
    for (const std::string& name : FolderEntries(desktop_)) {
      if (Contains(name, app_)) {
        lines.push_back("desktop\\" + name);
      }
    }
    for (const std::string& name : FolderEntries(quickLaunch_)) {
      if (Contains(name, app_)) {
        lines.push_back("quick launch\\" + name);
      }
    }
    DescribeKey(HKEY_CURRENT_USER, ownKey_, "HKCU\\" + ownKey_, lines);
    DescribeKey(HKEY_CLASSES_ROOT, extension_, "HKCR\\" + extension_, lines);
    DescribeKey(HKEY_CLASSES_ROOT, ProgramId(), "HKCR\\" + ProgramId(), lines);
    DescribeKey(HKEY_LOCAL_MACHINE, EntryKey(), "HKLM\\uninstall entry", lines);
    std::sort(lines.begin(), lines.end());
    return lines;
  }

  TempFolder folder_;
  std::string temp_ = folder_.Subfolder("temp");
  std::string sources_ = folder_.Subfolder("sources");
  // Where the installations go.
  std::string place_ = folder_.Subfolder("place");
  ScopedEnvironment tmp_{"Tmp", temp_};
  ScopedEnvironment tempVariable_{"Temp", temp_};
  std::string product_;
  std::string company_;
  std::string app_;
  std::string extension_;
  std::string ownKey_;
  std::string programs_;
  std::string desktop_;
  std::string quickLaunch_;
};

TEST_F(Uninstallation, TheUninstallEntryRemovesWhatTheInstallationMade) {
  // There before: a key of the product with a value of its own, and an INI file in the
  // temporary folder with a key of its own.
  SetRegistryString(HKEY_CURRENT_USER, ownKey_ + "\\Existing", "Own", "mine");
  ASSERT_TRUE(WriteTextFile(temp_ + "shared.ini", "[Options]\r\nMine=1\r\n"));
  const std::vector<std::string> before = SystemState(true);

  const std::string project =
      Head() + "[File]\r\nFile=2\r\n" +
      FileKeys(1, AppFile(), "app.txt",
               "Shortcut1=1\r\n" + Line("Associations1", extension_.substr(1)) +
                   Line("ShortcutName1", app_ + " Viewer")) +
      FileKeys(2, "notes.txt", "notes.txt", "Target2=[BID]docs\\\r\nShortcut2=1\r\n") +
      "Uninstall=1\r\n" + Line("Desktop", AppFile()) + Line("QuickLaunch", AppFile()) +
      "UninstallShortcutName=Remove it\r\n" + "[Registry]\r\nNumber=2\r\n" +
      Line("Key1", "HKEY_CURRENT_USER\\" + ownKey_ + "\\Existing") +
      Line("Key2", "HKEY_CURRENT_USER\\" + ownKey_ + "\\Tool\\Sub") +
      "[Key1]\r\nNumber=2\r\nName1=Added\r\nValue1=[BID]\r\nName2=Own\r\nValue2=changed\r\n"
      "[Key2]\r\nNumber=3\r\nName1=InstallDir\r\nValue1=[BID]\r\nName2=Kept\r\nValue2=stays\r\n"
      "Keep2=1\r\nName3=[Default]\r\nValue3=default\r\n"
      "[Ini]\r\nNumber=2\r\nFile1=settings.ini\r\nFile2=shared.ini\r\nTarget2=[TEMP]\r\n"
      "[Section1]\r\nNumber=1\r\nSection1=Options\r\n"
      "[Section1_1]\r\nNumber=2\r\nKey1=Color\r\nValue1=blue\r\nKey2=Size\r\nValue2=big\r\n"
      "[Section2]\r\nNumber=2\r\nSection1=Options\r\nSection2=Added\r\n"
      "[Section2_1]\r\nNumber=1\r\nKey1=Color\r\nValue1=red\r\n"
      "[Section2_2]\r\nNumber=1\r\nKey1=Flag\r\nValue1=1\r\n";
  const std::string destination = place_ + "My Tool";
  const std::string dest = destination + "\\";
  Install(project, destination);
  if (HasFailure()) {
    return;
  }
  // The INI entries as the After stage leaves them, also where it has not written them.
  const std::string settings = dest + "settings.ini";
  const std::string shared = temp_ + "shared.ini";
  ::WritePrivateProfileStringA("Options", "Color", "blue", settings.c_str());
  ::WritePrivateProfileStringA("Options", "Size", "big", settings.c_str());
  ::WritePrivateProfileStringA("Options", "Color", "red", shared.c_str());
  ::WritePrivateProfileStringA("Added", "Flag", "1", shared.c_str());
  ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, settings.c_str());
  ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, shared.c_str());

  // Everything is there, so that its absence afterwards means something.
  const std::vector<std::string> installed = SystemState(true);
  for (const std::string& line : std::vector<std::string>{
           "place\\My Tool\\Uninstall.exe", "place\\My Tool\\DOCS\\notes.txt=the notes|",
           "place\\My Tool\\settings.ini=[Options]|Color=blue|Size=big|",
           "programs\\" + product_ + "\\Remove it.lnk", "programs\\" + product_ + "\\notes txt.lnk",
           "programs\\" + product_ + "\\" + app_ + " Viewer.lnk",
           "desktop\\" + app_ + " Viewer.lnk", "quick launch\\" + app_ + " Viewer.lnk",
           "HKCU\\" + ownKey_ + "\\Existing:Added=" + destination,
           "HKCU\\" + ownKey_ + "\\Tool\\Sub:=default", "HKCR\\" + extension_ + ":=" + ProgramId(),
           "HKCR\\" + ProgramId() + "\\Shell\\Open\\Command:=" + dest + AppFile() + " %1",
           "HKLM\\uninstall entry:UninstallString=" + Quoted(dest + "Uninstall.exe")}) {
    EXPECT_TRUE(std::any_of(installed.begin(), installed.end(),
                            [&](const std::string& l) { return l.rfind(line, 0) == 0; }))
        << line << " not among the installed:\n"
        << ::testing::PrintToString(installed);
  }

  EXPECT_EQ(UninstallThroughEntry(YesAndOk()),
            (std::vector<std::string>{
                "Uninstall: Do you want to remove " + product_ + " and all of its components?",
                "Uninstall: " + product_ + " has been removed."}));
  EXPECT_TRUE(RemoveFinishingCopies()) << "the removal finishes from the temporary folder";

  // What stays: the value marked Keep with the keys that hold it, and the value that was
  // there before with the data the installation gave it (the log keeps no older data).
  std::vector<std::string> expected = before;
  std::replace(expected.begin(), expected.end(), "HKCU\\" + ownKey_ + "\\Existing:Own=mine",
               "HKCU\\" + ownKey_ + "\\Existing:Own=changed");
  for (const std::string& line : std::vector<std::string>{
           "HKCU\\" + ownKey_ + "\\Tool\\", "HKCU\\" + ownKey_ + "\\Tool\\Sub\\",
           "HKCU\\" + ownKey_ + "\\Tool\\Sub:Kept=stays"}) {
    expected.push_back(line);
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(SystemState(true), expected);
}

// The default packing: the files that the installer extracts one after the other share an
// LZMA stream; the extension DLL and the Before document, also installed files, are stored on
// their own; a file kept with No is decoded (ahead, through a shorter ring) and then dropped.
TEST_F(Uninstallation, ASolidLzmaInstallerInstallsEveryFileWholeAndUninstalls) {
  const std::string data = Noise(1500000);
  ASSERT_TRUE(WriteTextFile(sources_ + "data.bin", data));
  const std::string project =
      Head() + "[File]\r\nFile=6\r\nUninstall=1\r\nDll=ext.dll\r\n" +
      FileKeys(1, AppFile(), "app.txt") + Line("File2", "ext.dll") +
      Line("Source2", BesideTests("extension_fixture.dll")) + "Target2=[BID]bin\\\r\n" +
      Line("File3", "viewer.exe") + Line("Source3", BesideTests("recording_uninstaller.exe")) +
      "Target3=[BID]bin\\\r\n" + FileKeys(4, "notes.txt", "notes.txt", "Target4=[BID]docs\\\r\n") +
      Line("File5", "lib.dll") + Line("Source5", BesideTests("versioned_1.dll")) +
      FileKeys(6, "data.bin", "data.bin", "Target6=[BID]data\\\r\n") +
      "[Before]\r\nLoad=1\r\nFile=viewer.exe\r\nAdvanced=1\r\nFunction=RecordBefore\r\n[Build]"
      "\r\nDictionary=1\r\n";
  const std::string dest = place_ + "Solid\\";
  ::SHCreateDirectoryExA(nullptr, (dest + "docs").c_str(), nullptr);
  ASSERT_TRUE(WriteTextFile(dest + "docs\\notes.txt", "older notes"));
  Install(project, place_ + "Solid", {{"exists", IDNO}});
  std::ostringstream report;
  std::string error;
  EXPECT_TRUE(packer::InspectInstaller(folder_.File("setup-setup.exe"), report, error)) << error;
  const auto count = [text = report.str()](const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
      ++n;
    }
    return n;
  };
  // Files 6, 5, 4 and 1 in one block; the others (and the uninstaller) each alone.
  EXPECT_EQ(count("in the block at position"), 3) << report.str();
  EXPECT_EQ(count("holds its block's"), 4) << report.str();
  EXPECT_EQ(count("lzma+x86"), 4) << report.str();

  EXPECT_EQ(ReadTextFile(dest + AppFile()).value_or("<missing>"), "the program");
  EXPECT_EQ(ReadTextFile(dest + "data\\data.bin").value_or("<missing>"), data);
  EXPECT_EQ(ReadTextFile(dest + "docs\\notes.txt").value_or("<missing>"), "older notes");
  EXPECT_EQ(ReadFileBytes(dest + "bin\\ext.dll"),
            ReadFileBytes(BesideTests("extension_fixture.dll")));
  EXPECT_EQ(ReadFileBytes(dest + "lib.dll"), ReadFileBytes(BesideTests("versioned_1.dll")));
  EXPECT_EQ(ReadFileBytes(dest + "bin\\viewer.exe"),
            ReadFileBytes(BesideTests("recording_uninstaller.exe")));
  EXPECT_TRUE(FileExists(dest + "Uninstall.exe"));

  UninstallThroughEntry(YesAndOk());
  RemoveFinishingCopies();
  for (const std::string& gone : {AppFile(), std::string("data\\data.bin"),
                                  std::string("bin\\ext.dll"), std::string("Uninstall.exe")}) {
    EXPECT_FALSE(FileExists(dest + gone)) << gone;
  }
}

TEST_F(Uninstallation, TerminationDuringExtractionRollsBackWhatWasMade) {
  // The destination holds a file of the user's that the package would replace last, and a
  // file where the second file's folder should be, so that its extraction fails.
  // The thread that decodes ahead must not keep the ended run alive.
  ASSERT_TRUE(WriteTextFile(sources_ + "long.bin", Noise(3000000)));
  const std::string dest = place_ + "Half\\";
  ASSERT_TRUE(::CreateDirectoryA(dest.c_str(), nullptr));
  ASSERT_TRUE(WriteTextFile(dest + "first.txt", "the user's own"));
  ASSERT_TRUE(WriteTextFile(dest + "blocked", "not a folder"));
  ASSERT_TRUE(WriteTextFile(temp_ + "shared.ini", "[Options]\r\nColor=green\r\n"));
  const std::vector<std::string> before = SystemState();

  const std::string project =
      Head() + "[File]\r\nFile=3\r\n" + FileKeys(1, "first.txt", "long.bin") +
      FileKeys(2, "notes.txt", "notes.txt", "Target2=[BID]blocked\\\r\n") +
      FileKeys(
          3, AppFile(), "app.txt",
          "Target3=[BID]sub\\\r\nShortcut3=1\r\n" + Line("Associations3", extension_.substr(1))) +
      "Uninstall=1\r\n" + Line("Desktop", AppFile()) + "[Registry]\r\nNumber=1\r\n" +
      Line("Key1", "HKEY_CURRENT_USER\\" + ownKey_ + "\\Tool") +
      "[Key1]\r\nNumber=1\r\nName1=InstallDir\r\nValue1=[BID]\r\n"
      "[Ini]\r\nNumber=1\r\nFile1=shared.ini\r\nTarget1=[TEMP]\r\n"
      "[Section1]\r\nNumber=1\r\nSection1=Options\r\n"
      "[Section1_1]\r\nNumber=1\r\nKey1=Color\r\nValue1=red\r\n[Build]\r\nDictionary=1\r\n";
  // While the installer waits at its question, the uninstaller, the shortcuts, the registry
  // entries and the third file are there.
  std::vector<std::string> halfway;
  const std::vector<std::string> seen =
      Install(project, dest,
              {{"Can't extract", IDNO, 0, "", [&] { halfway = SystemState(); }},
               {"Are you sure you want to terminate installation?", IDYES},
               {"Done.", IDOK}});
  for (const std::string& line : std::vector<std::string>{
           "place\\Half\\SUB\\" + AppFile() + "=the program|", "place\\Half\\Uninstall.exe",
           "programs\\" + product_ + "\\" + LinkName(), "desktop\\" + LinkName(),
           "HKCU\\" + ownKey_ + "\\Tool:InstallDir=" + dest, "HKCR\\" + extension_ + "\\",
           "HKLM\\uninstall entry\\"}) {
    EXPECT_TRUE(std::any_of(halfway.begin(), halfway.end(),
                            [&](const std::string& l) { return l.rfind(line, 0) == 0; }))
        << line << " not made halfway:\n"
        << ::testing::PrintToString(halfway);
  }
  ASSERT_EQ(seen.size(), 4u) << ::testing::PrintToString(seen);
  EXPECT_EQ(seen[1], "Error: Can't extract " + dest + "BLOCKED\\notes.txt. Continue?");
  EXPECT_EQ(seen[3], "Uninstall: Done.");

  // The third file was extracted and the Start Menu group, the Desktop shortcut, the
  // association and the registry key were made before the extraction; all of it is gone.
  // The user's first.txt, which the extraction never reached, and the INI key, which only a
  // finished installation writes, are as they were.
  EXPECT_TRUE(RemoveFinishingCopies());
  EXPECT_EQ(SystemState(), before);
  EXPECT_EQ(ReadTextFile(temp_ + "shared.ini").value_or("<missing>"),
            "[Options]\r\nColor=green\r\n");
}

TEST_F(Uninstallation, ASecondInstanceIsRemovedWithoutTouchingTheFirst) {
  const std::vector<std::string> before = SystemState();
  const std::string project = Head() + "[File]\r\nFile=1\r\n" +
                              FileKeys(1, AppFile(), "app.txt", "Shortcut1=1\r\n") +
                              "Uninstall=1\r\n";
  Install(project, place_ + "First");
  const std::vector<std::string> first = SystemState();
  Install(project, place_ + "Second");
  ASSERT_TRUE(IsDirectory(Group() + " 1")) << "the second group is numbered";
  EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, EntryKey(), "UninstallString"),
            Quoted(place_ + "Second\\Uninstall.exe"));

  UninstallThroughEntry(YesAndOk());
  // The system keeps one entry per product: the second installation took it over from the
  // first, and it went with the second.
  std::vector<std::string> expected;
  std::copy_if(first.begin(), first.end(), std::back_inserter(expected),
               [](const std::string& line) { return line.rfind("HKLM\\uninstall entry", 0) != 0; });
  EXPECT_EQ(SystemState(), expected);

  // The first still removes itself through its own uninstaller.
  RunUninstaller(Quoted(place_ + "First\\Uninstall.exe"), YesAndOk(), 0);
  EXPECT_TRUE(RemoveFinishingCopies());
  EXPECT_EQ(SystemState(), before);
}

TEST_F(Uninstallation, AFileInUseIsReportedAndTheRestIsRemoved) {
  const std::string project =
      Head() + "[File]\r\nFile=2\r\n" + FileKeys(1, AppFile(), "app.txt", "Shortcut1=1\r\n") +
      FileKeys(2, "notes.txt", "notes.txt", "Target2=[BID]docs\\\r\n") + "Uninstall=1\r\n";
  const std::string dest = place_ + "Busy\\";
  Install(project, dest);
  const std::string busy = dest + AppFile();
  // Held open without sharing, as a running program holds its own file.
  UniqueHandle holder(::CreateFileA(busy.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(holder);

  const std::vector<std::string> seen =
      UninstallThroughEntry({{"Do you want to remove " + product_, IDYES},
                             {"which are in use or may not be deleted", IDYES},
                             {"The remaining files will be removed when Windows restarts.", IDOK}},
                            3);
  ASSERT_EQ(seen.size(), 3u) << ::testing::PrintToString(seen);
  EXPECT_EQ(seen[1], "Uninstall: " + product_ +
                         " has been removed, except for these files, which are in use or may not "
                         "be deleted:\n\n" +
                         busy + "\n\nRemove them when Windows restarts?");
  // The restart is told to delete it, then its folder.
  const std::string pending =
      RegistryString(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager",
                     "PendingFileRenameOperations");
  EXPECT_TRUE(Contains(pending, busy)) << pending;
  EXPECT_LT(pending.find(busy), pending.rfind(place_ + "Busy")) << pending;

  holder.reset();
  EXPECT_TRUE(RemoveFinishingCopies());
  EXPECT_EQ(FolderEntries(dest), std::vector<std::string>{AppFile()});
  EXPECT_EQ(ReadTextFile(busy).value_or("<missing>"), "the program");
  EXPECT_FALSE(FileExists(Group()));
  EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, EntryKey(), "UninstallString"), "<none>");
}

TEST_F(Uninstallation, ADamagedTailIsRefusedAndNothingIsRemoved) {
  const std::string project = Head() + "[File]\r\nFile=1\r\n" +
                              FileKeys(1, AppFile(), "app.txt", "Shortcut1=1\r\n") +
                              "Uninstall=1\r\n";
  const std::string dest = place_ + "Damaged\\";
  Install(project, dest);
  const std::string uninstaller = dest + "Uninstall.exe";
  const auto original = ReadFileBytes(uninstaller);
  ASSERT_TRUE(original.has_value());
  ASSERT_GT(original->size(), 4u);
  const std::size_t size = original->size();
  const std::uint32_t logLength = static_cast<std::uint32_t>((*original)[size - 4]) |
                                  static_cast<std::uint32_t>((*original)[size - 3]) << 8 |
                                  static_cast<std::uint32_t>((*original)[size - 2]) << 16 |
                                  static_cast<std::uint32_t>((*original)[size - 1]) << 24;
  const std::string log(original->end() - 4 - logLength, original->end() - 4);
  EXPECT_EQ(log.rfind("[", 0), 0u) << "the log starts with a section: " << log.substr(0, 40);
  const std::vector<std::string> installed = SystemState();

  struct Damage {
    std::uint32_t length;
    std::string reason;
  };
  for (const Damage& damage :
       {Damage{0, "the file carries no uninstall log"},
        Damage{static_cast<std::uint32_t>(size),
               "the length recorded at its end is larger than the file"},
        Damage{0xFFFFFFFFu, "the length recorded at its end is larger than the file"},
        Damage{logLength + 64, "the length recorded at its end cuts into the program"},
        Damage{logLength - 1, "the text at its end is not an uninstall log"}}) {
    std::vector<std::uint8_t> damaged = *original;
    for (int i = 0; i < 4; ++i) {
      damaged[size - 4 + static_cast<std::size_t>(i)] =
          static_cast<std::uint8_t>(damage.length >> (8 * i));
    }
    // A length one short starts the log one byte late: "General]" is no section.
    ASSERT_TRUE(WriteFileBytes(uninstaller, damaged));
    const std::vector<std::string> seen =
        UninstallThroughEntry({{"is missing or damaged", IDOK}}, 1);
    EXPECT_EQ(seen, std::vector<std::string>{
                        "Uninstall: The uninstall log at the end of\n" + uninstaller +
                        "\nis missing or damaged: " + damage.reason + ".\n\nNothing was removed."});
    EXPECT_EQ(SystemState(), installed) << damage.reason;
  }

  // The program alone, as the build makes it, carries no log either.
  const std::string bare = folder_.File("vorlatch-uninstall.exe");
  ASSERT_TRUE(::CopyFileA(BesideTests("vorlatch-uninstall.exe").c_str(), bare.c_str(), FALSE));
  const std::vector<std::string> seen =
      RunUninstaller(Quoted(bare) + " /u", {{"is missing or damaged", IDOK}}, 1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_TRUE(Contains(seen[0], "Nothing was removed.")) << seen[0];

  // Whole again, it removes the installation.
  ASSERT_TRUE(WriteFileBytes(uninstaller, *original));
  UninstallThroughEntry(YesAndOk());
  EXPECT_TRUE(RemoveFinishingCopies());
  EXPECT_EQ(SystemState(), std::vector<std::string>{});
}

TEST_F(Uninstallation, OnlyTargetsTheInstallationWroteAreRemoved) {
  // The user's files where the package puts its own: one in the installation folder and a
  // DLL of the system folder, both kept at the overwrite question, and one replaced there.
  const std::string systemDll = app_ + ".dll";
  const std::string systemPath = SystemDirectory() + systemDll;
  for (const bool rollback : {false, true}) {
    SCOPED_TRACE(rollback ? "rollback" : "uninstall");
    const std::string label = rollback ? "Stopped" : "Done";
    const std::string dest = place_ + label + "\\";
    ASSERT_TRUE(::CreateDirectoryA(dest.c_str(), nullptr));
    ASSERT_TRUE(WriteTextFile(dest + "kept.txt", "the user's own"));
    ASSERT_TRUE(WriteTextFile(dest + "replaced.txt", "an older one"));
    ASSERT_TRUE(WriteTextFile(dest + "blocked", "not a folder"));
    ASSERT_TRUE(WriteTextFile(systemPath, "the system's"));
    std::vector<std::string> expected = SystemState();
    expected.erase(std::remove(expected.begin(), expected.end(),
                               "place\\" + label + "\\replaced.txt=an older one|"),
                   expected.end());

    // Extracted from the last to the first: the system DLL, replaced.txt, kept.txt, and one
    // whose folder is a file, so that the extraction asks whether to go on.
    const std::string project =
        Head() + "[File]\r\nFile=4\r\n" +
        FileKeys(1, "notes.txt", "notes.txt", "Target1=[BID]blocked\\\r\n") +
        FileKeys(2, "kept.txt", "notes.txt") + FileKeys(3, "replaced.txt", "notes.txt") +
        FileKeys(4, systemDll, "app.txt", "Target4=[SYSTEM]\r\n") + "Uninstall=1\r\n";
    std::string replacedHalfway;
    std::vector<Reply> replies = {
        {systemDll + " exists.", IDNO},
        {"replaced.txt exists.", IDYES},
        {"kept.txt exists.", IDNO},
        {"Can't extract", rollback ? IDNO : IDYES, 0, "",
         [&] { replacedHalfway = ReadTextFile(dest + "replaced.txt").value_or("<missing>"); }}};
    if (rollback) {
      replies.push_back({"Are you sure you want to terminate installation?", IDYES});
      replies.push_back({"Done.", IDOK});
    } else {
      replies.push_back({"There were errors during extraction.", IDOK});
    }
    Install(project, dest, replies);
    ASSERT_EQ(replacedHalfway, "the notes");
    if (!rollback) {
      UninstallThroughEntry(YesAndOk());
    }
    EXPECT_TRUE(RemoveFinishingCopies());
    EXPECT_EQ(SystemState(), expected);
    EXPECT_EQ(ReadTextFile(systemPath).value_or("<missing>"), "the system's");
    ::DeleteFileA(systemPath.c_str());
  }
}

// A system component's copy (its name in another case) is registered, and unregistered, only when
// named, also with registration off. The fixture server records each call of its entry points.
TEST_F(Uninstallation, OnlyWhatTheInstallationRegisteredIsUnregistered) {
  const SystemFolderFile system;
  const std::string marker = folder_.File("calls.log");
  const ScopedEnvironment markerVariable("VORLATCH_COM_MARKER", marker);
  ASSERT_TRUE(
      ::CopyFileA(BesideTests("com_ok.dll").c_str(), (sources_ + "server.dll").c_str(), FALSE));
  struct Row {
    std::string name;
    std::string keys;
    std::string calls;
    bool warned;  // by the packer, which cannot know the installing system's folder
  };
  const Row rows[] = {
      {system.name(), "", "", true},
      {system.name(), "Register1=1\r\n", "register\nunregister\n", true},
      {"own.dll", "SelfRegister=0\r\n", "", false},
      {"own.dll", "SelfRegister=0\r\nRegister1=1\r\n", "register\nunregister\n", true}};
  const std::vector<std::string> before = SystemState();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name + " " + row.keys);
    ::DeleteFileA(marker.c_str());
    PackerWarnings().clear();
    Install(Head() + "[File]\r\nFile=1\r\n" + FileKeys(1, row.name, "server.dll", row.keys) +
                "Uninstall=1\r\n",
            place_ + "Server");
    EXPECT_TRUE(FileExists(place_ + "Server\\" + row.name));
    EXPECT_EQ(Contains(PackerWarnings(), "[File] File1=" + row.name), row.warned)
        << PackerWarnings();
    UninstallThroughEntry(YesAndOk());
    EXPECT_TRUE(RemoveFinishingCopies());
    EXPECT_EQ(ReadTextFile(marker).value_or(""), row.calls);
    EXPECT_EQ(SystemState(), before);
  }
}

TEST_F(Uninstallation, RegistryValuesThereBeforeStayWhateverTheirTypeOrLength) {
  const std::string key = ownKey_ + "\\Values";
  struct Before {
    std::string name;
    DWORD type;
    std::vector<BYTE> data;
  };
  const std::string longText(5000, 'x');
  const std::vector<Before> values = {
      {"Number", REG_DWORD, {7, 0, 0, 0}},
      {"Expandable", REG_EXPAND_SZ, {'%', 'T', '%', 0}},
      {"Binary", REG_BINARY, {1, 2, 3}},
      {"Multi", REG_MULTI_SZ, {'a', 0, 'b', 0, 0}},
      {"Long", REG_SZ, std::vector<BYTE>(longText.c_str(), longText.c_str() + longText.size() + 1)},
  };
  std::string section = "[Key1]\r\n" + Line("Number", std::to_string(values.size() + 1));
  {
    UniqueHkey opened;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                nullptr, opened.put(), nullptr),
              ERROR_SUCCESS);
    for (std::size_t i = 0; i < values.size(); ++i) {
      ASSERT_EQ(::RegSetValueExA(opened.get(), values[i].name.c_str(), 0, values[i].type,
                                 values[i].data.data(), static_cast<DWORD>(values[i].data.size())),
                ERROR_SUCCESS);
      const std::string m = std::to_string(i + 1);
      section += Line("Name" + m, values[i].name) + Line("Value" + m, "ours");
    }
  }
  // And one the installation adds, which goes.
  const std::string added = std::to_string(values.size() + 1);
  section += Line("Name" + added, "Added") + Line("Value" + added, "ours");

  const std::string project = Head() + "[File]\r\nFile=1\r\n" + FileKeys(1, AppFile(), "app.txt") +
                              "Uninstall=1\r\n[Registry]\r\nNumber=1\r\n" +
                              Line("Key1", "HKEY_CURRENT_USER\\" + key) + section;
  Install(project, place_ + "Values");
  ASSERT_EQ(RegistryString(HKEY_CURRENT_USER, key, "Added"), "ours");
  UninstallThroughEntry(YesAndOk());
  EXPECT_TRUE(RemoveFinishingCopies());

  EXPECT_EQ(RegistryString(HKEY_CURRENT_USER, key, "Added"), "<none>");
  for (const Before& value : values) {
    // The installation wrote its string over them; they stay, with that string.
    EXPECT_EQ(RegistryString(HKEY_CURRENT_USER, key, value.name), "ours") << value.name;
  }
}

TEST_F(Uninstallation, EveryWayOfTypingTheDestinationCanBeUninstalled) {
  const std::vector<std::string> before = SystemState();
  const std::string project = Head() + "[File]\r\nFile=1\r\n" +
                              FileKeys(1, AppFile(), "app.txt", "Shortcut1=1\r\n") +
                              "Uninstall=1\r\n";
  std::string slashed = place_ + "Slashed";
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  // Relative forms are refused (see the unattended failures); a variable may name the place.
  const ScopedEnvironment variable("VORLATCH_PLACE", place_);
  const struct {
    std::string typed;
    std::string folder;
  } forms[] = {
      {slashed, "Slashed"},
      {"%VORLATCH_PLACE%Variable", "Variable"},
  };
  for (const auto& form : forms) {
    SCOPED_TRACE(form.typed);
    Install(project, form.typed, {}, place_);
    const std::string dest = place_ + form.folder + "\\";
    ASSERT_TRUE(FileExists(dest + AppFile()));
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, EntryKey(), "UninstallString"),
              "\"" + dest + "Uninstall.exe\"");
    UninstallThroughEntry(YesAndOk());
    EXPECT_TRUE(RemoveFinishingCopies());
    EXPECT_EQ(SystemState(), before);
  }
}

// A per-user package, installed unattended into %LOCALAPPDATA%\Programs and with windows into
// [LOCALPROGRAMS]: its entry and file type are the user's, nothing goes under
// HKEY_LOCAL_MACHINE, and its quiet uninstall leaves nothing.
TEST_F(Uninstallation, APerUserPackageStaysInTheUsersHive) {
  const std::string classes = "Software\\Classes\\";
  const auto machineKeys = [&] {
    std::vector<std::string> lines;
    for (const std::string& key :
         {EntryKey(), classes + extension_, classes + ProgramId(), "Software\\" + product_}) {
      DescribeKey(HKEY_LOCAL_MACHINE, key, key, lines);
    }
    return lines;
  };
  const std::vector<std::string> machineBefore = machineKeys();
  const std::vector<std::string> before = SystemState();
  const std::string project =
      Head() + "Scope=user\r\n[File]\r\nFile=1\r\n" +
      FileKeys(1, AppFile(), "app.txt", "Shortcut1=1\r\nAssociations1=" + extension_ + "\r\n") +
      "Uninstall=1\r\n";
  const std::string dest = ShellFolder(CSIDL_LOCAL_APPDATA) + "Programs\\" + product_ + "\\";
  for (const bool unattended : {true, false}) {
    SCOPED_TRACE(unattended ? "unattended" : "with windows");
    if (unattended) {
      std::string error;
      const std::string installer = BuildTestInstaller(folder_, project, error);
      ASSERT_FALSE(installer.empty()) << error;
      EXPECT_EQ(
          RunUnattended(installer, "/S /D=%LOCALAPPDATA%\\Programs\\" + product_).process.exitCode,
          0u);
    } else {
      Install(project, "[localprograms]" + product_);
    }
    ASSERT_TRUE(FileExists(dest + AppFile()));
    std::vector<std::string> entry;
    DescribeKey(HKEY_CURRENT_USER, EntryKey(), "", entry);
    const std::string uninstaller = Quoted(dest + "Uninstall.exe");
    const auto size = [&](const std::string& name) {
      return ReadFileBytes(dest + name).value_or(std::vector<std::uint8_t>{}).size();
    };
    std::vector<std::string> expected = {
        "\\",
        ":DisplayName=" + company_ + " " + product_,
        ":UninstallString=" + uninstaller,
        ":QuietUninstallString=" + uninstaller + " /S",
        ":Publisher=" + company_,
        ":InstallLocation=" + dest,
        ":DisplayIcon=" + dest + "Uninstall.exe",
        ":NoModify=dword 1",
        ":NoRepair=dword 1",
        ":EstimatedSize=dword " +
            std::to_string((size(AppFile()) + size("Uninstall.exe") + 1023) / 1024)};
    std::sort(entry.begin(), entry.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(entry, expected);
    EXPECT_EQ(RegistryString(HKEY_CURRENT_USER, classes + extension_, ""), ProgramId());
    EXPECT_EQ(
        RegistryString(HKEY_CURRENT_USER, classes + ProgramId() + "\\Shell\\Open\\Command", ""),
        dest + AppFile() + " %1");
    EXPECT_EQ(machineKeys(), machineBefore);

    const std::string quiet = RegistryString(HKEY_CURRENT_USER, EntryKey(), "QuietUninstallString");
    EXPECT_EQ(RunUninstaller(quiet, {}, 0), std::vector<std::string>{});
    RemoveFinishingCopies();
    EXPECT_EQ(SystemState(), before);
    EXPECT_FALSE(FileExists(dest + "Uninstall.exe"));
    EXPECT_EQ(RegistryString(HKEY_CURRENT_USER, EntryKey(), "DisplayName"), "<none>");
  }
  RemoveTree(dest);
}

// AllUsers=1: the group and the Desktop link go to the folders of all users, and the
// uninstaller, told so by the log, takes them away from there.
TEST_F(Uninstallation, ShortcutsForAllUsersAreRemovedFromTheCommonFolders) {
  const std::string group = ShellFolder(CSIDL_COMMON_PROGRAMS) + company_ + "\\";
  const std::string link = ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + LinkName();
  const std::vector<std::string> before = SystemState();
  Install(Head() + "[File]\r\nFile=1\r\nAllUsers=1\r\n" +
              FileKeys(1, AppFile(), "app.txt", "Shortcut1=1\r\n") + "Uninstall=1\r\n" +
              Line("Desktop", AppFile()),
          place_ + "Common");
  EXPECT_TRUE(FileExists(link));
  EXPECT_EQ(FolderEntries(group + product_),
            (std::vector<std::string>{"Uninstall .lnk", LinkName()}));
  UninstallThroughEntry(YesAndOk());
  EXPECT_TRUE(RemoveFinishingCopies());
  EXPECT_FALSE(FileExists(link));
  EXPECT_EQ(GetAttributes(group), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(SystemState(), before);
  RemoveTree(group);
}

TEST_F(Uninstallation, AReadOnlyUninstallerStillTakesItsLog) {
  const std::string project =
      Head() + "[File]\r\nFile=1\r\n" + FileKeys(1, AppFile(), "app.txt") + "Uninstall=1\r\n";
  // Packed from a read-only source, and installed over an earlier read-only Uninstall.exe.
  const std::string readOnlySource = folder_.File("read-only-uninstall.exe");
  ASSERT_TRUE(
      ::CopyFileA(BesideTests("vorlatch-uninstall.exe").c_str(), readOnlySource.c_str(), FALSE));
  ASSERT_TRUE(SetAttributes(readOnlySource, FILE_ATTRIBUTE_READONLY));
  for (const bool repair : {false, true}) {
    SCOPED_TRACE(repair ? "repair over a read-only Uninstall.exe" : "read-only source");
    const std::string dest = place_ + "ReadOnly\\";
    const std::vector<std::string> before = SystemState();
    if (repair) {
      Install(project, dest);
      ASSERT_TRUE(SetAttributes(dest + "Uninstall.exe", FILE_ATTRIBUTE_READONLY));
      // Its file is the earlier installation's, so it goes also when not replaced.
      Install(project, dest,
              {{"Setup has found the program in", IDYES}, {AppFile() + " exists.", IDNO}});
    } else {
      Install("[Build]\r\n" + Line("Uninstaller", readOnlySource) + project, dest);
    }
    EXPECT_EQ(GetAttributes(dest + "Uninstall.exe") & FILE_ATTRIBUTE_READONLY, 0u);
    UninstallThroughEntry(YesAndOk());
    EXPECT_TRUE(RemoveFinishingCopies());
    EXPECT_EQ(SystemState(), before);
  }
  SetAttributes(readOnlySource, FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
}  // namespace vorlatch::test

namespace vorlatch::test {
namespace {

// Deployment tools remove a program with the entry's quiet command, as it stands: no window,
// everything gone, exit 0; a file in use waits for the restart, which the exit code says.
TEST_F(Uninstallation, TheQuietUninstallStringRemovesWithoutAWindow) {
  const std::vector<std::string> before = SystemState();
  const std::string project =
      Head() + "[File]\r\nFile=2\r\n" + FileKeys(1, AppFile(), "app.txt", "Shortcut1=1\r\n") +
      FileKeys(2, "notes.txt", "notes.txt", "Target2=[BID]docs\\\r\n") + "Uninstall=1\r\n" +
      Line("Desktop", AppFile()) + "[Registry]\r\nNumber=1\r\n" +
      Line("Key1", "HKEY_CURRENT_USER\\" + ownKey_ + "\\Tool") +
      "[Key1]\r\nNumber=1\r\nName1=InstallDir\r\nValue1=[BID]\r\n";
  struct Case {
    std::string folder;
    bool fileInUse;
    DWORD exitCode;
  };
  for (const Case& run : {Case{"Quiet Tool", false, 0}, Case{"Busy Tool", true, 3010}}) {
    SCOPED_TRACE(run.folder);
    const std::string dest = place_ + run.folder + "\\";
    Install(project, dest);
    const std::string quiet =
        RegistryString(HKEY_LOCAL_MACHINE, EntryKey(), "QuietUninstallString");
    ASSERT_EQ(quiet, Quoted(dest + "Uninstall.exe") + " /S");
    const std::string busy = dest + AppFile();
    UniqueHandle holder;
    if (run.fileInUse) {
      // Held open without sharing, as a running program holds its own file.
      holder.reset(::CreateFileA(busy.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
      ASSERT_TRUE(holder);
    }

    // Any window fails the run.
    EXPECT_EQ(RunUninstaller(quiet, {}, run.exitCode), std::vector<std::string>{});
    EXPECT_TRUE(RemoveFinishingCopies());
    if (!run.fileInUse) {
      EXPECT_EQ(SystemState(), before);
      continue;
    }
    // The file stays until the restart, which is told to delete it and then its folder.
    const std::string pending =
        RegistryString(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager",
                       "PendingFileRenameOperations");
    EXPECT_TRUE(Contains(pending, busy)) << pending;
    EXPECT_LT(pending.find(busy), pending.rfind(place_ + run.folder)) << pending;
    holder.reset();
    EXPECT_EQ(ReadTextFile(busy).value_or("<missing>"), "the program");
    std::vector<std::string> expected = before;
    expected.push_back("place\\" + run.folder + "\\");
    expected.push_back("place\\" + run.folder + "\\" + AppFile() + "=the program|");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(SystemState(), expected);
  }
}

// Version 1.0 and then 1.1 installed unattended into the same place, two levels below a folder
// that 1.0 makes, then removed quietly: nothing of either version stays, also what only 1.0 had
// (a file in a folder of its own with a shortcut, a registry value, an INI key); the folder
// above them, there before, stays.
TEST_F(Uninstallation, AfterAnUpgradeNothingOfEitherVersionStays) {
  const std::vector<std::string> before = SystemState(true);
  const std::string dest = place_ + "Company\\Product\\";
  for (const bool first : {true, false}) {
    SCOPED_TRACE(first ? "1.0" : "1.1");
    const std::string project =
        Head() + "[File]\r\n" + (first ? "File=3\r\n" : "File=2\r\n") +
        FileKeys(1, AppFile(), "app.txt",
                 "Shortcut1=1\r\n" + Line("Associations1", extension_.substr(1))) +
        FileKeys(2, "notes.txt", "notes.txt") +
        (first ? FileKeys(3, "changes.txt", "notes.txt", "Target3=[BID]docs\\\r\nShortcut3=1\r\n")
               : "") +
        "Uninstall=1\r\n" + Line("Desktop", AppFile()) + "[Registry]\r\nNumber=1\r\n" +
        Line("Key1", "HKEY_CURRENT_USER\\" + ownKey_ + "\\Tool") +
        (first ? "[Key1]\r\nNumber=2\r\nName2=Old\r\nValue2=1.0\r\n" : "[Key1]\r\nNumber=1\r\n") +
        "Name1=InstallDir\r\nValue1=[BID]\r\n"
        "[Ini]\r\nNumber=1\r\nFile1=settings.ini\r\nTarget1=[TEMP]\r\n"
        "[Section1]\r\nNumber=1\r\nSection1=Options\r\n" +
        (first ? "[Section1_1]\r\nNumber=2\r\nKey2=Old\r\nValue2=1\r\n"
               : "[Section1_1]\r\nNumber=1\r\n") +
        "Key1=Color\r\nValue1=blue\r\n";
    std::string error;
    const std::string installer = BuildTestInstaller(folder_, project, error);
    ASSERT_FALSE(installer.empty()) << error;
    ChildProcess stub;
    ASSERT_TRUE(stub.Start(Quoted(installer) + " /S /D=" + dest));
    ProcessResult result;
    EXPECT_EQ(AnswerUntilEnd(stub, {}, result), std::vector<std::string>{});
    EXPECT_EQ(result.exitCode, 0u);
    ASSERT_TRUE(WaitForProgramsIn(folder_.path()));
  }
  // 1.0's own things are there, so that their absence afterwards means something.
  const std::vector<std::string> installed = SystemState(true);
  for (const std::string& line : std::vector<std::string>{
           "place\\Company\\Product\\DOCS\\changes.txt=the notes|",
           "programs\\" + product_ + "\\changes txt.lnk", "desktop\\" + LinkName(),
           "HKCU\\" + ownKey_ + "\\Tool:Old=1.0", "HKCU\\" + ownKey_ + "\\Tool:InstallDir=" + dest,
           "HKCR\\" + extension_ + ":=" + ProgramId(),
           "temp\\settings.ini=[Options]|Color=blue|Old=1|"}) {
    EXPECT_TRUE(std::any_of(installed.begin(), installed.end(),
                            [&](const std::string& l) { return l.rfind(line, 0) == 0; }))
        << line << " not among the installed:\n"
        << ::testing::PrintToString(installed);
  }

  const std::string quiet = RegistryString(HKEY_LOCAL_MACHINE, EntryKey(), "QuietUninstallString");
  EXPECT_EQ(RunUninstaller(quiet, {}, 0), std::vector<std::string>{});
  EXPECT_TRUE(RemoveFinishingCopies());
  EXPECT_EQ(SystemState(true), before);
  EXPECT_FALSE(FileExists(place_ + "Company"));
  EXPECT_TRUE(FileExists(place_));
}

// A product of 2,000 small files in 20 folders: every file arrives whole, and the quiet
// uninstall leaves nothing of it behind (files, folders, uninstall entry).
TEST_F(Uninstallation, ThousandsOfFilesGoInWholeAndLeaveNothingBehind) {
  const std::vector<std::string> before = SystemState();
  const ManyFiles files = WriteManyFiles(sources_, 20, 100);
  std::string error;
  const std::string installer = BuildTestInstaller(
      folder_, Head() + "[File]\r\n" + files.fileKeys + "Uninstall=1\r\n", error);
  ASSERT_FALSE(installer.empty()) << error;
  // Near the drive root: each folder level the extraction walks costs a pause.
  const std::string dest = "C:\\vlmany" + std::to_string(::GetCurrentProcessId()) + "\\";
  ChildProcess stub;
  ASSERT_TRUE(stub.Start(Quoted(installer) + " /S /D=" + dest));
  ProcessResult result;
  EXPECT_EQ(AnswerUntilEnd(stub, {}, result), std::vector<std::string>{});
  EXPECT_EQ(result.exitCode, 0u);
  std::vector<std::string> wrong;
  for (std::size_t i = 0; i < files.relativePaths.size(); ++i) {
    if (ReadTextFile(dest + files.relativePaths[i]) != files.contents[i]) {
      wrong.push_back(files.relativePaths[i]);
    }
  }
  EXPECT_EQ(wrong, std::vector<std::string>{});
  const std::string quiet = RegistryString(HKEY_LOCAL_MACHINE, EntryKey(), "QuietUninstallString");
  EXPECT_EQ(RunUninstaller(quiet, {}, 0), std::vector<std::string>{});
  EXPECT_TRUE(RemoveFinishingCopies());
  EXPECT_EQ(SystemState(), before);
  EXPECT_FALSE(FileExists(dest));
  RemoveTree(dest);
}

}  // namespace
}  // namespace vorlatch::test
