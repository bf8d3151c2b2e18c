#include "actions/shortcuts.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "actions/shortcut_names.h"
#include "package/opening.h"
#include "package/process_state.h"
#include "script/path_macros.h"
#include "support/test_files.h"
#include "support/ui_robot.h"

namespace vorlatch {
namespace {

using test::FileExists;
using test::FolderEntries;
using test::RemoveTree;
using test::ScopedEnvironment;
using test::TempFolder;

// What a saved shortcut says when it is loaded again.
struct LinkContents {
  std::string target;
  std::string iconPath;
  int iconIndex = -1;
  std::vector<std::string> details;  // arguments, working folder, description
};

// Strings built by appending: `"text" + string` trips a false restrict warning of GCC 12.
template <typename... Parts>
std::string Cat(const Parts&... parts) {
  std::string text;
  (text.append(parts), ...);
  return text;
}

std::optional<LinkContents> ReadLink(const std::string& path) {
  ComPtr<IShellLinkA> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                              link.put_void()))) {
    return std::nullopt;
  }
  ComPtr<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, file.put_void()))) {
    return std::nullopt;
  }
  const std::wstring wide(path.begin(), path.end());
  if (FAILED(file->Load(wide.c_str(), STGM_READ))) {
    return std::nullopt;
  }
  LinkContents contents;
  char buffer[1024] = {};
  if (FAILED(link->GetPath(buffer, sizeof buffer, nullptr, SLGP_RAWPATH))) {
    return std::nullopt;
  }
  contents.target = buffer;
  char icon[1024] = {};
  if (FAILED(link->GetIconLocation(icon, sizeof icon, &contents.iconIndex))) {
    return std::nullopt;
  }
  contents.iconPath = icon;
  char text[3][1024] = {};
  link->GetArguments(text[0], 1024);
  link->GetWorkingDirectory(text[1], 1024);
  link->GetDescription(text[2], 1024);
  contents.details = {text[0], text[1], text[2]};
  return contents;
}

std::string FolderOf(int csidl) {
  char path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, csidl, nullptr, 0, path))) {
    return std::string();
  }
  return WithTrailingBackslash(path);
}

// Answers every shortcut question of this process with `answer` while it runs, and keeps
// the texts it saw, so that a test can also show that no question came.
class QuestionWatch {
 public:
  explicit QuestionWatch(int answer)
      : robot_([this, answer] {
          while (!stop_) {
            for (const HWND window : TopLevelWindows(0, true)) {
              const WindowSnapshot seen = Snapshot(window);
              if (seen.caption != kShortcutQuestionCaption || seen.className != "#32770") {
                continue;
              }
              {
                const std::lock_guard<std::mutex> lock(mutex_);
                texts_.push_back(seen.MessageText());
                buttons_ = seen.ButtonIds();
              }
              PressButton(window, answer);
              WaitForWindowGone(window);
            }
            Sleep(20);
          }
        }) {}
  ~QuestionWatch() { Stop(); }

  std::vector<std::string> Stop() {
    stop_ = true;
    robot_.Join();
    const std::lock_guard<std::mutex> lock(mutex_);
    return texts_;
  }
  // The buttons of the last question (after Stop).
  std::vector<int> LastButtons() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return buttons_;
  }

 private:
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::string> texts_;
  std::vector<int> buttons_;
  RobotThread robot_;
};

// A private temporary directory holding the script and the uninstall log, and a company
// name of this process so that parallel tests never share a program group.
class Shortcuts : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    ResetProcessState();
    g_state.destinationDirectory = temp_.Subfolder("dest");
    company_ = Cat("Acme", std::to_string(GetCurrentProcessId()));
    const std::optional<std::string> programs = SpecialFolderPath(kCsidlPrograms, true);
    ASSERT_TRUE(programs.has_value());
    programs_ = WithTrailingBackslash(*programs);
    Set("General", "Company", company_);
    Set("General", "Product", "Tool");
  }
  void TearDown() override {
    RemoveTree(programs_ + company_);
    for (const std::string& path : extraFiles_) {
      DeleteFileA(path.c_str());
    }
    ResetProcessState();
    CoUninitialize();
  }

  void Set(const char* section, const std::string& key, const std::string& value) {
    WritePrivateProfileStringA(section, key.c_str(), value.c_str(), ScriptPath().c_str());
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, ScriptPath().c_str());
  }
  // One installed file; a packed item unless `packed` is false.
  void AddFile(int n, const std::string& name, bool shortcut, bool packed = true) {
    const std::string number = std::to_string(n);
    Set("File", "File", number);
    Set("File", Cat("File", number), name);
    Set("File", Cat("Zip", number), packed ? "100" : "0");
    Set("File", Cat("Pos", number), packed ? "200" : "0");
    Set("File", Cat("Shortcut", number), shortcut ? "1" : "0");
  }

  std::string Group(const std::string& suffix = "") const {
    return Cat(programs_, company_, "\\Tool", suffix, "\\");
  }
  // [General] Instance of the uninstall log, none when absent.
  std::optional<std::string> LoggedInstance() const {
    char value[64] = {};
    GetPrivateProfileStringA("General", "Instance", "<none>", value, sizeof value, log_.c_str());
    return std::string(value) == "<none>" ? std::nullopt : std::optional<std::string>(value);
  }
  void Install() { CreateStartMenuShortcuts(log_); }

  TempFolder temp_;
  ScopedEnvironment tmp_{"Tmp", temp_.path()};
  std::string log_ = UninstallLogTempPath();
  std::string company_;
  std::string programs_;
  std::vector<std::string> extraFiles_;
};

const std::vector<std::string> kBothLinks = {"Uninstall .lnk", "app exe.lnk"};

TEST_F(Shortcuts, SecondInstallationGetsTheNextGroupAndRecordsItsNumber) {
  Set("File", "Uninstall", "1");
  AddFile(1, "app.exe", true);

  Install();
  EXPECT_EQ(FolderEntries(Group()), kBothLinks);
  EXPECT_EQ(g_state.instanceNumber, 0);
  EXPECT_EQ(LoggedInstance(), std::nullopt);
  EXPECT_FALSE(FileExists(Group(" 1")));

  // The next run finds Acme\Tool taken.
  ResetProcessState();
  g_state.destinationDirectory = temp_.Subfolder("dest");
  DeleteFileA(log_.c_str());
  Install();
  EXPECT_EQ(FolderEntries(Group(" 1")), kBothLinks);
  EXPECT_EQ(g_state.instanceNumber, 1);
  EXPECT_EQ(LoggedInstance(), "1");

  const std::optional<LinkContents> uninstaller = ReadLink(Group(" 1") + "Uninstall .lnk");
  ASSERT_TRUE(uninstaller.has_value());
  EXPECT_TRUE(
      EqualsIgnoringCase(uninstaller->target, g_state.destinationDirectory + "Uninstall.exe"))
      << uninstaller->target;
  const std::optional<LinkContents> app = ReadLink(Group(" 1") + "app exe.lnk");
  ASSERT_TRUE(app.has_value());
  EXPECT_TRUE(EqualsIgnoringCase(app->target, g_state.destinationDirectory + "app.exe"))
      << app->target;
}

TEST_F(Shortcuts, DetailKeysNameAndFillTheShortcuts) {
  const char* const keys[] = {"ShortcutName1",        "ShortcutArguments1", "ShortcutFolder1",
                              "ShortcutIcon1",        "ShortcutIconIndex1", "ShortcutDescription1",
                              "UninstallShortcutName"};
  const std::string dest = g_state.destinationDirectory;
  // Values; both names (a:b and CON make none); arguments, folder, description; icon, index.
  const std::vector<std::vector<std::string>> cases = {
      {"", "", "", "", "", "", "", "app exe", "Uninstall ", "", "", "", "", ""},
      {"", "", "", "", "5", "", "", "app exe", "Uninstall ", "", "", "", dest + "app.exe", "5"},
      {" Zap ", "/w \"a b\"", "[bid]s", "[SYSTEM]shell32.dll", "3", "Views", "Drop", "Zap", "Drop",
       "/w \"a b\"", dest + "s", "Views", SystemDirectory() + "shell32.dll", "3"},
      {"a:b", "", "", "i\\a.ico", "2", "", "CON", "app exe", "Uninstall ", "", "", "",
       dest + "i\\a.ico", "2"}};
  for (const std::vector<std::string>& c : cases) {
    RemoveTree(programs_ + company_);
    for (int k = 0; k < 7; ++k) {
      Set("File", keys[k], c[k]);
    }
    Set("File", "Uninstall", "1");
    AddFile(1, "app.exe", true);
    Install();
    EXPECT_EQ(FolderEntries(Group()), (std::vector<std::string>{c[8] + ".lnk", c[7] + ".lnk"}));
    const std::optional<LinkContents> app = ReadLink(Group() + c[7] + ".lnk");
    ASSERT_TRUE(app.has_value()) << c[7];
    EXPECT_EQ(app->details, std::vector<std::string>(c.begin() + 9, c.begin() + 12));
    EXPECT_TRUE(c[12].empty() || (EqualsIgnoringCase(app->iconPath, c[12]) &&
                                  std::to_string(app->iconIndex) == c[13]))
        << app->iconPath << ',' << app->iconIndex;
  }
}

TEST_F(Shortcuts, WithElevenGroupsTakenTheTenthIsReused) {
  Set("File", "Uninstall", "1");
  AddFile(1, "app.exe", true);
  ASSERT_TRUE(CreateDirectoryA((programs_ + company_).c_str(), nullptr));
  for (int n = 0; n <= 10; ++n) {
    ASSERT_TRUE(CreateDirectoryA(Group(InstanceSuffix(n)).c_str(), nullptr)) << n;
  }

  Install();
  EXPECT_EQ(g_state.instanceNumber, 10);
  EXPECT_EQ(LoggedInstance(), "10");
  EXPECT_EQ(FolderEntries(Group(" 10")), kBothLinks);
  EXPECT_TRUE(FolderEntries(Group(" 9")).empty());
  EXPECT_FALSE(FileExists(Group(" 11")));
}

TEST_F(Shortcuts, RepairModeReusesThePlainGroup) {
  Set("File", "Uninstall", "1");
  AddFile(1, "app.exe", true);
  ASSERT_TRUE(CreateDirectoryA((programs_ + company_).c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(Group().c_str(), nullptr));
  g_state.repairMode = true;

  Install();
  EXPECT_EQ(FolderEntries(Group()), kBothLinks);
  EXPECT_EQ(g_state.instanceNumber, 0);
  EXPECT_EQ(LoggedInstance(), std::nullopt);
  EXPECT_FALSE(FileExists(Group(" 1")));
}

TEST_F(Shortcuts, AGroupFolderWithAnotherAttributeIsNotTaken) {
  Set("File", "Uninstall", "1");
  AddFile(1, "app.exe", true);
  ASSERT_TRUE(CreateDirectoryA((programs_ + company_).c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(Group().c_str(), nullptr));
  ASSERT_TRUE(SetFileAttributesA(Group().c_str(), FILE_ATTRIBUTE_HIDDEN));
  ASSERT_EQ(GetFileAttributesA(Group().c_str()),
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));

  Install();
  EXPECT_EQ(g_state.instanceNumber, 0);
  EXPECT_EQ(LoggedInstance(), std::nullopt);
  EXPECT_EQ(FolderEntries(Group()), kBothLinks);
  EXPECT_FALSE(FileExists(Group(" 1")));
}

TEST_F(Shortcuts, WithoutCompanyTheGroupIsTheProductAlone) {
  const std::string product = Cat("Tool", std::to_string(GetCurrentProcessId()));
  Set("General", "Company", "");
  Set("General", "Product", product);
  Set("File", "Uninstall", "1");
  AddFile(1, "app.exe", true);

  Install();
  const std::string group = programs_ + product + "\\";
  const std::vector<std::string> entries = FolderEntries(group);
  RemoveTree(programs_ + product);
  EXPECT_EQ(entries, kBothLinks);
}

// In a machine-wide installation every user of the machine sees them.
TEST_F(Shortcuts, AllUsersPutsTheGroupAndTheDesktopLinkInTheCommonFolders) {
  char programs[MAX_PATH] = {};
  char desktop[MAX_PATH] = {};
  ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, programs, CSIDL_COMMON_PROGRAMS, TRUE));
  ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, desktop, CSIDL_COMMON_DESKTOPDIRECTORY, TRUE));
  Set("File", "AllUsers", "1");
  Set("File", "Uninstall", "1");
  Set("File", "Desktop", "app.exe");
  AddFile(1, "app.exe", true);

  Install();
  CreateDesktopShortcut();
  const std::vector<std::string> entries = FolderEntries(Cat(programs, "\\", company_, "\\Tool\\"));
  const bool onDesktop = DeleteFileA(Cat(desktop, "\\app exe.lnk").c_str()) != 0;
  RemoveTree(Cat(programs, "\\", company_));
  EXPECT_EQ(entries, kBothLinks);
  EXPECT_TRUE(onDesktop);
  EXPECT_FALSE(FileExists(Group()));
}

TEST_F(Shortcuts, WithNeitherCompanyNorProductNoGroupIsMade) {
  Set("General", "Company", "");
  Set("General", "Product", "");
  Set("File", "Uninstall", "1");
  AddFile(1, "app.exe", true);

  // Other tests make and remove their own groups in the programs folder meanwhile, so only
  // what this step could have made is looked for.
  Install();
  EXPECT_FALSE(FileExists(programs_ + "Uninstall .lnk"));
  EXPECT_FALSE(FileExists(programs_ + "app exe.lnk"));
  EXPECT_FALSE(FileExists(WithoutTrailingBackslash(programs_) + " 1"));
  EXPECT_EQ(g_state.instanceNumber, 0);
  EXPECT_EQ(LoggedInstance(), std::nullopt);
}

TEST_F(Shortcuts, UninstallerShortcutAloneAsksNothing) {
  Set("File", "Uninstall", "1");
  Set("File", "AskS", "1");
  AddFile(1, "app.exe", false);

  QuestionWatch watch(IDNO);
  Install();
  EXPECT_TRUE(watch.Stop().empty());
  EXPECT_EQ(FolderEntries(Group()), std::vector<std::string>{"Uninstall .lnk"});
}

TEST_F(Shortcuts, NothingToLinkMakesNoGroupAndWritesNothing) {
  AddFile(1, "app.exe", false);

  Install();
  EXPECT_FALSE(FileExists(programs_ + company_));
  EXPECT_FALSE(FileExists(log_));
}

TEST_F(Shortcuts, AnswerNoLeavesOnlyTheUninstallerShortcut) {
  Set("File", "Uninstall", "1");
  Set("File", "AskS", "1");
  AddFile(1, "app.exe", true);

  QuestionWatch watch(IDNO);
  Install();
  const std::vector<std::string> questions = watch.Stop();
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0], "Would you like to create shortcut in Start Menu, Programs?");
  EXPECT_EQ(watch.LastButtons(), (std::vector<int>{IDYES, IDNO}));
  EXPECT_EQ(FolderEntries(Group()), std::vector<std::string>{"Uninstall .lnk"});
}

TEST_F(Shortcuts, TwoShortcutsAreAskedForInThePlural) {
  Set("File", "Uninstall", "1");
  Set("File", "AskS", "1");
  AddFile(1, "app.exe", true);
  AddFile(2, "read.me.txt", true);
  Set("File", "Target2", "[BID]docs");

  QuestionWatch watch(IDYES);
  Install();
  const std::vector<std::string> questions = watch.Stop();
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0], "Would you like to create shortcuts in Start Menu, Programs?");
  const std::vector<std::string> expected = {"Uninstall .lnk", "app exe.lnk", "read me.txt.lnk"};
  EXPECT_EQ(FolderEntries(Group()), expected);
  const std::optional<LinkContents> readMe = ReadLink(Group() + "read me.txt.lnk");
  ASSERT_TRUE(readMe.has_value());
  EXPECT_TRUE(
      EqualsIgnoringCase(readMe->target, g_state.destinationDirectory + "DOCS\\read.me.txt"))
      << readMe->target;
}

TEST_F(Shortcuts, DesktopNameInOtherCaseIsFoundAndUsedAsWritten) {
  const std::string pid = std::to_string(GetCurrentProcessId());
  const std::string name = Cat("APP", pid, ".EXE");
  AddFile(1, Cat("app", pid, ".exe"), false, false);
  Set("File", "Desktop", name);
  Set("File", "AskD", "1");
  const std::string link = Cat(FolderOf(CSIDL_DESKTOPDIRECTORY), "APP", pid, " EXE.lnk");
  extraFiles_.push_back(link);
  ASSERT_FALSE(FileExists(link));

  {
    // A file without a packed item gets neither question nor shortcut.
    QuestionWatch watch(IDYES);
    CreateDesktopShortcut();
    EXPECT_TRUE(watch.Stop().empty());
    EXPECT_FALSE(FileExists(link));
  }

  AddFile(1, Cat("app", pid, ".exe"), false, true);
  QuestionWatch watch(IDYES);
  CreateDesktopShortcut();
  const std::vector<std::string> questions = watch.Stop();
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0], Cat("Would you like to create shortcut for \n", name, "\non Desktop?"));
  const std::optional<LinkContents> contents = ReadLink(link);
  ASSERT_TRUE(contents.has_value()) << link;
  EXPECT_TRUE(EqualsIgnoringCase(contents->target, g_state.destinationDirectory + name))
      << contents->target;
}

TEST_F(Shortcuts, DesktopAnswerNoMakesNoShortcut) {
  const std::string pid = std::to_string(GetCurrentProcessId());
  AddFile(1, Cat("no", pid, ".exe"), false);
  Set("File", "Desktop", Cat("no", pid, ".exe"));
  Set("File", "AskD", "1");
  const std::string link = Cat(FolderOf(CSIDL_DESKTOPDIRECTORY), "no", pid, " exe.lnk");
  extraFiles_.push_back(link);

  QuestionWatch watch(IDNO);
  CreateDesktopShortcut();
  EXPECT_EQ(watch.Stop().size(), 1u);
  EXPECT_FALSE(FileExists(link));
}

TEST_F(Shortcuts, QuickLaunchWithoutAskingWhenAskQIsZero) {
  const std::string pid = std::to_string(GetCurrentProcessId());
  AddFile(1, Cat("quick", pid, ".exe"), false);
  Set("File", "Target1", "[BID]bin");
  Set("File", "QuickLaunch", Cat("quick", pid, ".exe"));
  // The prefix has no Quick Launch bar of its own. The folder is made and left in place: an
  // installation running in parallel may be saving its own shortcut there.
  const std::string folder =
      FolderOf(CSIDL_APPDATA) + "Microsoft\\Internet Explorer\\Quick Launch\\";
  SHCreateDirectoryExA(nullptr, folder.c_str(), nullptr);
  ASSERT_TRUE(FileExists(folder)) << folder;
  const std::string link = Cat(folder, "quick", pid, " exe.lnk");
  extraFiles_.push_back(link);

  QuestionWatch watch(IDNO);
  CreateQuickLaunchShortcut();
  EXPECT_TRUE(watch.Stop().empty());
  const std::optional<LinkContents> contents = ReadLink(link);
  ASSERT_TRUE(contents.has_value()) << link;
  EXPECT_TRUE(EqualsIgnoringCase(contents->target,
                                 Cat(g_state.destinationDirectory, "BIN\\quick", pid, ".exe")))
      << contents->target;
}

TEST_F(Shortcuts, LinkKeepsItsTargetAndTheTargetsOwnIcon) {
  // A real program with an icon: this test program.
  char self[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
  const std::string folder = programs_ + company_ + "\\";
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));

  // The subfolder gets its backslash whether or not it brings one.
  ASSERT_EQ(CreateShellLink(kCsidlPrograms, company_, self, "tests.exe"), 1);
  ASSERT_EQ(CreateShellLink(kCsidlPrograms, Cat("\\", company_, "\\"), self, "again.exe"), 1);
  const std::vector<std::string> expected = {"again exe.lnk", "tests exe.lnk"};
  EXPECT_EQ(FolderEntries(folder), expected);

  const std::optional<LinkContents> contents = ReadLink(folder + "tests exe.lnk");
  ASSERT_TRUE(contents.has_value());
  EXPECT_TRUE(EqualsIgnoringCase(contents->target, self)) << contents->target;
  EXPECT_TRUE(EqualsIgnoringCase(contents->iconPath, self)) << contents->iconPath;
  EXPECT_EQ(contents->iconIndex, 0);
}

TEST_F(Shortcuts, LinkToAFileNotYetThereGetsATypeIconOrShell32) {
  const std::string target = g_state.destinationDirectory + "later.exe";
  ASSERT_FALSE(FileExists(target));
  const bool typeIcon = static_cast<bool>(GetFileIcon(target));
  ASSERT_EQ(CreateShellLink(kCsidlPrograms, "", target, company_ + "\\later.exe"), 0)
      << "the group folder does not exist, so the save fails";
  ASSERT_TRUE(CreateDirectoryA((programs_ + company_).c_str(), nullptr));
  ASSERT_EQ(CreateShellLink(kCsidlPrograms, "", target, company_ + "\\later.exe"), 1);

  const std::optional<LinkContents> contents = ReadLink(programs_ + company_ + "\\later exe.lnk");
  ASSERT_TRUE(contents.has_value());
  EXPECT_TRUE(EqualsIgnoringCase(contents->target, target)) << contents->target;
  if (typeIcon) {
    EXPECT_TRUE(EqualsIgnoringCase(contents->iconPath, target)) << contents->iconPath;
    EXPECT_EQ(contents->iconIndex, 0);
  } else {
    EXPECT_TRUE(EqualsIgnoringCase(contents->iconPath, SystemDirectory() + "shell32.dll"))
        << contents->iconPath;
    EXPECT_EQ(contents->iconIndex, 1);
  }
}

TEST_F(Shortcuts, FileIconIsARealIconOrNone) {
  char self[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
  const UniqueIcon own = GetFileIcon(self);
  ASSERT_TRUE(own);
  ICONINFO info = {};
  ASSERT_TRUE(GetIconInfo(own.get(), &info));
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);

  // A text file holds no icons: ExtractIconA's 1 for it is no handle.
  const std::string text = temp_.File("notes.txt");
  ASSERT_TRUE(test::WriteTextFile(text, "notes"));
  const UniqueIcon typeIcon = GetFileIcon(text);
  EXPECT_NE(typeIcon.get(), reinterpret_cast<HICON>(static_cast<INT_PTR>(1)));
  if (typeIcon) {
    ICONINFO typeInfo = {};
    EXPECT_TRUE(GetIconInfo(typeIcon.get(), &typeInfo));
    DeleteObject(typeInfo.hbmColor);
    DeleteObject(typeInfo.hbmMask);
  }
}

}  // namespace
}  // namespace vorlatch
