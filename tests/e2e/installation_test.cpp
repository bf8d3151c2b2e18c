// A whole installation through the real stub, from the destination dialog onwards: the robot
// chooses the folder and presses Next, then the test looks at what the run left on the
// system: files, the uninstaller with its frozen log, registry values, a file association,
// shortcuts in the Start Menu, on the Desktop and the Quick Launch bar, and the uninstall
// entry; the temporary folder must be empty again.

#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "support/run_answers.h"
#include "support/test_files.h"
#include "support/ui_robot.h"
#include "win/handles.h"

namespace vorlatch::test {
namespace {

constexpr int kDestinationEdit = 1007;
constexpr int kDestinationNext = 1010;
constexpr int kConfirmText = 1015;  // the text of the overwrite question
constexpr char kUninstallKeyPrefix[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::string ShellFolder(int csidl) {
  char buffer[MAX_PATH] = {};
  if (!::SHGetSpecialFolderPathA(nullptr, buffer, csidl, TRUE)) {
    return std::string();
  }
  return std::string(buffer) + "\\";
}

// The target that a shortcut file opens; empty when it cannot be read.
std::string ShortcutTarget(const std::string& link) {
  ComPtr<IShellLinkA> shellLink;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                shellLink.put_void()))) {
    return std::string();
  }
  ComPtr<IPersistFile> file;
  if (FAILED(shellLink->QueryInterface(IID_IPersistFile, file.put_void()))) {
    return std::string();
  }
  std::wstring wide(link.begin(), link.end());
  if (FAILED(file->Load(wide.c_str(), STGM_READ))) {
    return std::string();
  }
  char target[MAX_PATH] = {};
  if (FAILED(shellLink->GetPath(target, MAX_PATH, nullptr, 0))) {
    return std::string();
  }
  return std::string(target);
}

std::uint32_t U32At(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
         static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

class Installation : public ::testing::Test {
 protected:
  void SetUp() override {
    ::CoInitialize(nullptr);
    // Names of this run alone: registry, shell folders and file types are shared.
    const std::string pid = std::to_string(::GetCurrentProcessId());
    product_ = "VorlatchE2E" + pid;
    company_ = "Vorlatch E2E " + pid;
    app_ = "vlapp" + pid;
    extension_ = ".vlx" + pid;
    registryKey_ = "Software\\" + product_;
    programs_ = ShellFolder(CSIDL_PROGRAMS);
    desktop_ = ShellFolder(CSIDL_DESKTOPDIRECTORY);
    quickLaunch_ = ShellFolder(CSIDL_APPDATA) + "Microsoft\\Internet Explorer\\Quick Launch\\";
    // The prefix has no Quick Launch bar of its own; the stub makes no folders for it.
    ::SHCreateDirectoryExA(nullptr, quickLaunch_.c_str(), nullptr);
  }

  void TearDown() override {
    RemoveTree(programs_ + company_);
    ::DeleteFileA((desktop_ + LinkName()).c_str());
    ::DeleteFileA((quickLaunch_ + LinkName()).c_str());
    ::RegDeleteTreeA(HKEY_CURRENT_USER, registryKey_.c_str());
    ::RegDeleteTreeA(HKEY_CLASSES_ROOT, extension_.c_str());
    ::RegDeleteTreeA(HKEY_CLASSES_ROOT, ProgramId().c_str());
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, (kUninstallKeyPrefix + product_).c_str());
    ::CoUninitialize();
  }

  std::string AppFile() const { return app_ + ".txt"; }
  std::string LinkName() const { return app_ + " txt.lnk"; }
  std::string ProgramId() const { return app_ + "_file"; }

  std::string Project(const std::string& target2 = "[BID]docs\\") {
    const std::string sources = folder_.Subfolder("sources");
    EXPECT_TRUE(WriteTextFile(sources + "app.txt", "the program"));
    EXPECT_TRUE(WriteTextFile(sources + "notes.txt", "the notes"));
    return "[Build]\r\n" + Line("Uninstaller", BesideTests("recording_uninstaller.exe")) +
           "[General]\r\n" + Line("Company", company_) + Line("Product", product_) +
           "[File]\r\nFile=2\r\n" + Line("File1", AppFile()) +
           Line("Source1", sources + "app.txt") + "Shortcut1=1\r\n" +
           Line("Associations1", extension_.substr(1)) + "File2=notes.txt\r\n" +
           Line("Source2", sources + "notes.txt") + Line("Target2", target2) + "Uninstall=1\r\n" +
           Line("Desktop", AppFile()) + Line("QuickLaunch", AppFile()) +
           "[Registry]\r\nNumber=1\r\n" +
           Line("Key1", "HKEY_CURRENT_USER\\" + registryKey_ + "\\Tool") +
           "[Key1]\r\nNumber=2\r\nName1=InstallDir\r\nValue1=[BID]\r\nName2=Label\r\n"
           "Value2=Path is [BID]\r\n";
  }

  // Answers the stub from its destination dialog to its end: the message boxes after Next
  // get the given buttons in turn (their texts go into messages_), and the success message
  // of the After stage gets OK. Any other window fails the test.
  void RunThroughDestination(const std::string& destination, const std::string& project,
                             const std::vector<int>& answers = {}) {
    StartWithDestination(destination, project);
    if (HasFatalFailure()) {
      return;
    }

    const DWORD deadline = ::GetTickCount() + kRunTimeoutMs;
    while (!HasEnded(child_.processId()) && ::GetTickCount() < deadline) {
      for (const HWND shown : TopLevelWindows(child_.processId(), true)) {
        const WindowSnapshot snapshot = Snapshot(shown);
        // The progress window comes and goes; a window gone by now has no class.
        if (snapshot.caption == "Extracting" || snapshot.className.empty()) {
          continue;
        }
        if (snapshot.MessageText() == "Successfully installed.") {
          PressButton(shown, IDOK);
        } else if (snapshot.HasControl(kMessageBoxTextId) && messages_.size() < answers.size()) {
          messages_.push_back(snapshot.caption + ": " + snapshot.MessageText());
          PressButton(shown, answers[messages_.size() - 1]);
        } else {
          ADD_FAILURE() << "unexpected window: " << snapshot.Describe();
          CloseAllWindows(child_.processId());
        }
        WaitForWindowGone(shown);
      }
      ::Sleep(20);
    }
    const ProcessResult result = child_.Wait(kRunTimeoutMs);
    ASSERT_TRUE(result.finished) << DumpWindows(child_.processId());
    EXPECT_EQ(result.exitCode, 0u);
  }

  // Builds the installer, starts it, and chooses the destination in its dialog.
  void StartWithDestination(const std::string& destination, const std::string& project) {
    std::string error;
    const std::string installer = BuildTestInstaller(folder_, project, error);
    ASSERT_FALSE(installer.empty()) << error;
    ASSERT_TRUE(child_.Start(Quoted(installer)));
    WindowQuery dialog;
    dialog.processId = child_.processId();
    dialog.caption = company_ + " installing " + product_;
    const HWND window = WaitForWindow(dialog);
    ASSERT_NE(window, nullptr);
    SetControlText(window, kDestinationEdit, destination);
    PressButton(window, kDestinationNext);
    // The dialog stays up while it makes the destination's folders.
    WaitForWindowGone(window, 30000);
  }

  TempFolder folder_;
  std::string temp_ = folder_.Subfolder("temp");
  ScopedEnvironment tmp_{"Tmp", temp_};
  ScopedEnvironment tempVariable_{"Temp", temp_};
  ChildProcess child_;
  std::string product_;
  std::string company_;
  std::string app_;
  std::string extension_;
  std::string registryKey_;
  std::string programs_;
  std::string desktop_;
  std::string quickLaunch_;
  std::vector<std::string> messages_;
};

TEST_F(Installation, EverythingThePackageDescribesIsLeftOnTheSystem) {
  const std::string destination = folder_.path() + "Programs\\Tool";
  const std::string dest = destination + "\\";
  RunThroughDestination(destination, Project());
  if (HasFatalFailure()) {
    return;
  }
  EXPECT_TRUE(FolderEntries(temp_).empty())
      << "left in the temporary folder: " << FolderEntries(temp_).size() << " files";

  // The files, each into its target folder.
  EXPECT_EQ(ReadTextFile(dest + AppFile()).value_or("<missing>"), "the program");
  EXPECT_EQ(ReadTextFile(dest + "docs\\notes.txt").value_or("<missing>"), "the notes");

  // The uninstaller: the program, then the log, then the log's length.
  const auto program = ReadFileBytes(BesideTests("recording_uninstaller.exe"));
  const auto uninstaller = ReadFileBytes(dest + "Uninstall.exe");
  ASSERT_TRUE(program.has_value());
  ASSERT_TRUE(uninstaller.has_value());
  ASSERT_GT(uninstaller->size(), program->size() + 4);
  EXPECT_TRUE(std::equal(program->begin(), program->end(), uninstaller->begin()));
  const std::uint32_t length = U32At(*uninstaller, uninstaller->size() - 4);
  EXPECT_EQ(length, uninstaller->size() - program->size() - 4);
  const std::string log(uninstaller->begin() + static_cast<std::ptrdiff_t>(program->size()),
                        uninstaller->end() - 4);
  for (const std::string& entry :
       {Line("Key3", "HKEY_CURRENT_USER\\" + registryKey_ + "\\Tool"),
        Line("Key4", "HKEY_CLASSES_ROOT\\" + extension_),
        "[General]\r\n" + Line("Product", product_), Line("BID", destination),
        Line("File1", "[BID]" + AppFile()), Line("Shortcut1", "1"),
        Line("File2", "[BID]docs\\notes.txt"), Line("Desktop", AppFile())}) {
    EXPECT_NE(log.find(entry), std::string::npos) << entry << "not in\n" << log;
  }

  // Registry values, the macro expanded only where it is the whole value; [BID] is the folder
  // as typed, without a trailing backslash.
  EXPECT_EQ(RegistryString(HKEY_CURRENT_USER, registryKey_ + "\\Tool", "InstallDir"), destination);
  EXPECT_EQ(RegistryString(HKEY_CURRENT_USER, registryKey_ + "\\Tool", "Label"), "Path is [BID]");
  // The file association.
  EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, extension_, ""), ProgramId());
  EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, ProgramId() + "\\Shell\\Open\\Command", ""),
            dest + AppFile() + " %1");

  // Shortcuts: the program group with the uninstaller's and the file's, Desktop, Quick Launch.
  const std::string group = programs_ + company_ + "\\" + product_ + "\\";
  EXPECT_EQ(ShortcutTarget(group + "Uninstall .lnk"), dest + "Uninstall.exe");
  EXPECT_EQ(ShortcutTarget(group + LinkName()), dest + AppFile());
  EXPECT_EQ(ShortcutTarget(desktop_ + LinkName()), dest + AppFile());
  EXPECT_EQ(ShortcutTarget(quickLaunch_ + LinkName()), dest + AppFile());

  // The system's uninstall entry.
  const std::string entry = kUninstallKeyPrefix + product_;
  EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, entry, "DisplayName"), company_ + " " + product_);
  EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, entry, "UninstallString"),
            Quoted(dest + "Uninstall.exe"));
}

TEST_F(Installation, AFileLeftOutIsSummedUpAtTheEnd) {
  const std::string dest = folder_.Subfolder("Blocked");
  // A file where the second file's folder should be.
  ASSERT_TRUE(WriteTextFile(dest + "docs", "not a folder"));
  RunThroughDestination(dest, Project("[BID]docs\\"), {IDYES, IDOK});
  if (HasFatalFailure()) {
    return;
  }
  std::string cantExtract = "Error: Can't extract ";
  cantExtract.append(dest).append("DOCS\\notes.txt. Continue?");
  EXPECT_EQ(messages_,
            (std::vector<std::string>{cantExtract, "Info: There were errors during extraction."}));
  EXPECT_EQ(ReadTextFile(dest + AppFile()).value_or("<missing>"), "the program");
  EXPECT_TRUE(FolderEntries(temp_).empty());
}

// The user ends the installation in the overwrite question: the uninstaller is started with
// /u, "Done." is shown, and the installer's process ends at once, without its clean-up.
TEST_F(Installation, TerminationStartsTheRollbackAndEndsTheProcess) {
  const std::string dest = folder_.Subfolder("Terminated");
  const std::string docs = folder_.Subfolder("Terminated\\docs");
  ASSERT_TRUE(WriteTextFile(docs + "notes.txt", "older notes"));
  StartWithDestination(dest, Project());
  if (HasFatalFailure()) {
    return;
  }

  // Cancel in the overwrite question of file 2, Yes to terminating, OK to "Done.".
  const std::vector<int> answers = {IDCANCEL, IDYES, IDOK};
  std::vector<std::string> seen;
  const DWORD deadline = ::GetTickCount() + kRunTimeoutMs;
  while (!HasEnded(child_.processId()) && ::GetTickCount() < deadline) {
    for (const HWND shown : TopLevelWindows(child_.processId(), true)) {
      const WindowSnapshot snapshot = Snapshot(shown);
      if (snapshot.caption == "Extracting" || snapshot.className.empty()) {
        continue;
      }
      const std::string text = snapshot.HasControl(kConfirmText)
                                   ? snapshot.ControlText(kConfirmText)
                                   : snapshot.MessageText();
      seen.push_back(snapshot.caption + ": " + text);
      if (seen.size() > answers.size()) {
        ADD_FAILURE() << "unexpected window: " << snapshot.Describe();
        CloseAllWindows(child_.processId());
        break;
      }
      PressButton(shown, answers[seen.size() - 1]);
      WaitForWindowGone(shown);
    }
    ::Sleep(20);
  }
  const ProcessResult result = child_.Wait(kRunTimeoutMs);
  ASSERT_TRUE(result.finished) << "the installer did not end: " << DumpWindows(child_.processId());
  EXPECT_EQ(result.exitCode, 0u);
  const std::string overwrite = "Confirm: File " + dest + "DOCS\\notes.txt exists.\r\nOverwrite?";
  EXPECT_EQ(seen, (std::vector<std::string>{
                      overwrite, "Confirm: Are you sure you want to terminate installation?",
                      "Uninstall: Done."}));

  // The stand-in uninstaller, started before "Done.", records the command line it was started
  // with and ends; a slow first start takes its time.
  EXPECT_TRUE(WaitForProgramsIn(dest));
  const std::string record = dest + "Uninstall.exe.cmdline";
  EXPECT_EQ(ReadTextFile(record).value_or("<not started>"), "\"" + dest + "Uninstall.exe\" /u");
  // Nothing after the terminated file was extracted, the file asked about is untouched, and
  // the run's temporary folder is gone all the same: the rollback needs nothing of it.
  EXPECT_FALSE(FileExists(dest + AppFile()));
  EXPECT_EQ(ReadTextFile(docs + "notes.txt").value_or("<missing>"), "older notes");
  EXPECT_EQ(FolderEntries(temp_), std::vector<std::string>{});
}

}  // namespace
}  // namespace vorlatch::test
