// Unattended runs of the real stub: the demo's example installed with /S (and /D=, /LOG=)
// leaves what a run answered by the robot leaves, and no window of the installer ever shows;
// each way such a run can fail ends with its own exit code and an empty temporary folder.

#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/run_answers.h"
#include "support/system_snapshot.h"
#include "support/test_files.h"
#include "support/ui_robot.h"
#include "win/handles.h"

namespace vorlatch::test {
namespace {

constexpr int kDestinationEdit = 1007;
constexpr int kDestinationNext = 1010;
constexpr int kLicenceAccept = 1035;
// The names that the example's project gives its product.
constexpr char kCompanyFolder[] = "Vorlatch Examples";
constexpr char kEntryKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Hello";
constexpr char kOwnKey[] = "Software\\Vorlatch Examples";

std::string ShellFolder(int csidl) {
  char buffer[MAX_PATH] = {};
  if (!::SHGetSpecialFolderPathA(nullptr, buffer, csidl, TRUE)) {
    return std::string();
  }
  return std::string(buffer) + "\\";
}

// Every occurrence of `from` replaced, so that runs into different folders compare.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); !from.empty() && at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// A top-level window of another process than `except` with this class or caption (null:
// any); null when there is none.
HWND FindWindowOfAnotherProcess(const char* className, const char* caption, DWORD except) {
  for (HWND window = ::FindWindowExA(nullptr, nullptr, className, caption); window != nullptr;
       window = ::FindWindowExA(nullptr, window, className, caption)) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != except && ::IsWindowVisible(window)) {
      return window;
    }
  }
  return nullptr;
}

class Unattended : public ::testing::Test {
 protected:
  void SetUp() override {
    ::CoInitialize(nullptr);
    programs_ = ShellFolder(CSIDL_PROGRAMS);
    desktop_ = ShellFolder(CSIDL_DESKTOPDIRECTORY);
    bid_ = ShellFolder(CSIDL_PROGRAM_FILES) + "Vorlatch Examples\\Hello\\";
    RemoveInstallation(bid_);
    // The example as it is, with its program built beside the tests.
    std::string examples = VORLATCH_EXAMPLES_DIR;
    std::replace(examples.begin(), examples.end(), '/', '\\');
    const std::string source = "Z:" + examples + "\\hello\\";
    project_ = folder_.Subfolder("project");
    for (const char* name : {"hello.vlp", "hello.txt", "readme.txt"}) {
      ASSERT_TRUE(::CopyFileA((source + name).c_str(), (project_ + name).c_str(), FALSE)) << name;
    }
    ASSERT_TRUE(::CreateDirectoryA((project_ + "files").c_str(), nullptr));
    ASSERT_TRUE(::CopyFileA((source + "files\\world.txt").c_str(),
                            (project_ + "files\\world.txt").c_str(), FALSE));
    ASSERT_TRUE(::CopyFileA(BesideTests("vorlatch-hello.exe").c_str(),
                            (project_ + "Hello.exe").c_str(), FALSE));
  }

  void TearDown() override {
    RemoveInstallation(bid_);
    ::CoUninitialize();
  }

  std::string BuildExample() {
    std::string error;
    const std::string installer = BuildInstallerFromProject(project_ + "hello.vlp", error);
    EXPECT_FALSE(installer.empty()) << error;
    return installer;
  }

  // Whatever an installation of the example left, wherever it went.
  void RemoveInstallation(const std::string& destination) {
    RemoveTree(destination);
    RemoveTree(programs_ + kCompanyFolder);
    ::DeleteFileA((desktop_ + "Hello exe.lnk").c_str());
    ::RegDeleteTreeA(HKEY_CURRENT_USER, kOwnKey);
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, kEntryKey);
  }

  // What the example leaves, with the destination written as <dest>\ and today's date kept.
  std::vector<std::string> Installed(const std::string& destination) const {
    std::vector<std::string> lines;
    DescribeTree(destination, "dest\\", lines);
    DescribeTree(programs_ + kCompanyFolder, "programs\\", lines);
    lines.push_back(FileExists(desktop_ + "Hello exe.lnk") ? "desktop link" : "no desktop link");
    DescribeKey(HKEY_CURRENT_USER, kOwnKey, "HKCU", lines);
    DescribeKey(HKEY_LOCAL_MACHINE, kEntryKey, "entry", lines);
    for (std::string& line : lines) {
      line = Replaced(line, destination, "<dest>\\");
      // The frozen log and the shortcuts name the destination: their sizes, and the size
      // estimate that counts the log, follow its length.
      const std::size_t link = line.find(".lnk=");
      if (link != std::string::npos) {
        line.resize(link + 4);
      } else if (line.rfind("dest\\Uninstall.exe=", 0) == 0) {
        line = "dest\\Uninstall.exe";
      } else if (line.rfind("entry:EstimatedSize=", 0) == 0) {
        line = "entry:EstimatedSize";
      }
      // [Date] counts days with a fraction: runs a minute apart differ.
      if (line.rfind("HKCU\\Hello:Installed=", 0) == 0) {
        line = "HKCU\\Hello:Installed=<date>";
      }
    }
    std::sort(lines.begin(), lines.end());
    return lines;
  }

  // The example installed the way a user accepting every default would, into `destination`.
  std::vector<std::string> InstalledWithWindows(const std::string& installer,
                                                const std::string& destination) {
    ChildProcess stub;
    if (!stub.Start(Quoted(installer))) {
      ADD_FAILURE() << "cannot start " << installer;
      return {};
    }
    const DWORD deadline = ::GetTickCount() + kRunTimeoutMs;
    bool closedProgram = false;
    while (!(HasEnded(stub.processId()) && closedProgram) && ::GetTickCount() < deadline) {
      // The readme opens in the system's viewer before the licence.
      if (const HWND viewer = FindWindowOfAnotherProcess("Notepad", nullptr, stub.processId())) {
        ::PostMessageA(viewer, WM_CLOSE, 0, 0);
      }
      // The program started at the end greets with its own message.
      if (const HWND greeting = FindWindowOfAnotherProcess("#32770", "Hello", stub.processId())) {
        PressButton(greeting, IDOK);
        WaitForWindowGone(greeting);
        closedProgram = true;
      }
      for (const HWND shown : TopLevelWindows(stub.processId(), true)) {
        const WindowSnapshot window = Snapshot(shown);
        if (window.caption == "Extracting" || window.className.empty()) {
          continue;
        }
        if (window.HasControl(kDestinationEdit)) {
          SetControlText(shown, kDestinationEdit, destination);
          PressButton(shown, kDestinationNext);
        } else if (window.HasControl(kLicenceAccept)) {
          PressButton(shown, kLicenceAccept);
        } else {
          PressButton(shown, window.HasControl(IDYES) ? IDYES : IDOK);
        }
        WaitForWindowGone(shown);
      }
      ::Sleep(20);
    }
    const ProcessResult result = stub.Wait(kRobotTimeoutMs);
    EXPECT_TRUE(result.finished && closedProgram) << DumpWindows(stub.processId());
    return Installed(destination);
  }

  TempFolder folder_;
  std::string temp_ = folder_.Subfolder("temp");
  ScopedEnvironment tmp_{"Tmp", temp_};
  ScopedEnvironment tempVariable_{"Temp", temp_};
  std::string project_;
  std::string programs_;
  std::string desktop_;
  std::string bid_;
};

TEST_F(Unattended, TheExampleInstallsWithoutAWindowAsItDoesWithWindows) {
  const std::string installer = BuildExample();
  ASSERT_FALSE(installer.empty());
  const std::string spaced = folder_.path() + "Apps With Spaces\\Hello Tool\\";
  const std::string log = folder_.File("run log.txt");
  const std::vector<std::string> reference = InstalledWithWindows(installer, bid_);
  ASSERT_FALSE(HasFailure());
  RemoveInstallation(bid_);

  struct Case {
    std::string arguments;
    std::string destination;
  };
  // /D= takes the rest of the line, blanks and all.
  for (const Case& run : {Case{"/S", bid_}, Case{"/s /LOG=\"" + log + "\" /D=" + spaced, spaced}}) {
    SCOPED_TRACE(run.arguments);
    const UnattendedResult result = RunUnattended(installer, run.arguments);
    EXPECT_TRUE(result.process.finished);
    EXPECT_EQ(result.process.exitCode, 0u);
    EXPECT_EQ(result.windows, std::vector<std::string>{});
    EXPECT_EQ(Installed(run.destination), reference);
    EXPECT_EQ(FolderEntries(temp_), std::vector<std::string>{});
    RemoveInstallation(run.destination);
  }

  // The record names every file, registry value, shortcut and INI entry with its outcome.
  const std::string record = ReadTextFile(log).value_or("<missing>");
  for (const std::string& line : std::vector<std::string>{
           "Installer " + installer + ": unattended\r\n", "Destination " + spaced + ": ready\r\n",
           "Uninstaller " + spaced + "Uninstall.exe: installed\r\n",
           "Registry value HKEY_CURRENT_USER\\Software\\Vorlatch Examples\\Hello\\InstallDir = " +
               spaced + ": written\r\n",
           "Hello exe.lnk to " + spaced + "Hello.exe: created\r\n",
           "Uninstall .lnk to " + spaced + "Uninstall.exe: created\r\n",
           "Uninstall entry HKEY_LOCAL_MACHINE\\" + std::string(kEntryKey) + ": written\r\n",
           "File " + spaced + "DOCS\\world.txt: installed\r\n",
           "File " + spaced + "hello.txt: installed\r\n",
           "File " + spaced + "Hello.exe: installed\r\n",
           "INI entry " + spaced + "hello.ini [Greeting] Text=Hello from Vorlatch!: written\r\n",
           "INI entry " + spaced + "hello.ini [Greeting] Shown=at start: written\r\n",
           "Message \"Hello\": Successfully installed.: OK (unattended)\r\n",
           "Program Hello.exe: not started (unattended)\r\n", "Exit code 0\r\n"}) {
    EXPECT_TRUE(Contains(record, line)) << line << "\nnot in the record:\n" << record;
  }
}

TEST_F(Unattended, TheUninstallEntryDescribesTheInstallation) {
  const std::string installer = BuildExample();
  ASSERT_FALSE(installer.empty());
  const UnattendedResult result = RunUnattended(installer, "/S");
  ASSERT_EQ(result.process.exitCode, 0u);

  std::vector<std::string> entry;
  DescribeKey(HKEY_LOCAL_MACHINE, kEntryKey, "", entry);
  std::uint64_t bytes = 0;
  for (const char* file : {"Hello.exe", "hello.txt", "docs\\world.txt", "Uninstall.exe"}) {
    bytes += ReadFileBytes(bid_ + file).value_or(std::vector<std::uint8_t>{}).size();
  }
  const std::string uninstaller = "\"" + bid_ + "Uninstall.exe\"";
  std::vector<std::string> expected = {
      "\\",
      ":DisplayName=Vorlatch Examples Hello",
      ":UninstallString=" + uninstaller,
      ":QuietUninstallString=" + uninstaller + " /S",
      ":Publisher=Vorlatch Examples",
      ":DisplayVersion=1.0",
      ":InstallLocation=" + bid_,
      ":DisplayIcon=" + bid_ + "Hello.exe",
      ":NoModify=dword 1",
      ":NoRepair=dword 1",
      ":EstimatedSize=dword " + std::to_string((bytes + 1023) / 1024)};
  std::sort(entry.begin(), entry.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(entry, expected);
}

TEST_F(Unattended, EachFailureEndsWithItsExitCodeAndAnEmptyTemporaryFolder) {
  const std::string sources = folder_.Subfolder("sources");
  ASSERT_TRUE(WriteTextFile(sources + "a.txt", "a"));
  const std::string blocked = folder_.Subfolder("blocked");
  ASSERT_TRUE(WriteTextFile(blocked + "in the way", "a file where a folder should be"));
  const std::string untouched = folder_.Subfolder("untouched");
  const std::string project =
      "[General]\r\nProduct=VorlatchUnattendedFailure\r\n"
      "[File]\r\nFile=1\r\nFile1=a.txt\r\n" +
      Line("Source1", sources + "a.txt");

  struct Case {
    std::string what;
    std::string projectText;
    std::string arguments;
    DWORD exitCode;
    bool damage = false;
  };
  const std::vector<Case> cases = {
      {"an unknown switch", project, "/S /Q", 1},
      {"an empty destination", project, "/S /D=", 1},
      {"a damaged package", project, "/S", 2, true},
      {"a wrong password", "[Build]\r\nPassword=secret\r\n" + project, "/S /PASSWORD=Secret", 3},
      {"no password", "[Build]\r\nPassword=secret\r\n" + project, "/S", 3},
      {"a destination that cannot be made", project, "/S /D=" + blocked + "in the way\\sub", 4},
      // Never made below the current folder.
      {"a relative destination", project, "/S /D=Relative", 4},
      {"a variable that is not set", project, "/S /D=%VORLATCH_UNSET%\\Tool", 4},
      {"a file that cannot be written", project + "Target1=[BID]in the way\\\r\n",
       "/S /D=" + blocked, 5},
      // Unattended, a package whose preparation failed is not installed.
      {"a faulting extension function",
       project + "Dll=ext.dll\r\n" + Line("DllSource", BesideTests("extension_fixture.dll")) +
           "[Before]\r\nAdvanced=1\r\nFunction=DereferenceNull\r\n",
       "/S /D=" + untouched, 7},
  };
  for (const Case& run : cases) {
    SCOPED_TRACE(run.what);
    // Beside the temporary folder, which must stay empty.
    const std::string projectFile = folder_.Subfolder("case " + run.what) + "setup.vlp";
    ASSERT_TRUE(WriteTextFile(projectFile, run.projectText));
    std::string error;
    const std::string installer = BuildInstallerFromProject(projectFile, error);
    ASSERT_FALSE(installer.empty()) << error;
    if (run.damage) {
      // The trailer points past the end of the file.
      std::vector<std::uint8_t> bytes =
          ReadFileBytes(installer).value_or(std::vector<std::uint8_t>{});
      ASSERT_GT(bytes.size(), 4u);
      std::fill(bytes.end() - 4, bytes.end(), 0xFF);
      ASSERT_TRUE(WriteFileBytes(installer, bytes));
    }
    const UnattendedResult result = RunUnattended(installer, run.arguments);
    EXPECT_TRUE(result.process.finished);
    EXPECT_EQ(result.process.exitCode, run.exitCode);
    EXPECT_EQ(result.windows, std::vector<std::string>{});
    // A loaded extension DLL stays loaded until the process ends, so its file cannot go.
    std::vector<std::string> left = FolderEntries(temp_);
    left.erase(std::remove(left.begin(), left.end(), "ext.dll"), left.end());
    EXPECT_EQ(left, std::vector<std::string>{});
    RemoveTree(temp_);
    ::CreateDirectoryA(temp_.c_str(), nullptr);
  }
  EXPECT_EQ(FolderEntries(blocked), std::vector<std::string>{"in the way"});
  EXPECT_EQ(FolderEntries(untouched), std::vector<std::string>{});
  ::RegDeleteTreeA(HKEY_LOCAL_MACHINE,
                   "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                   "VorlatchUnattendedFailure");
}

}  // namespace
}  // namespace vorlatch::test
