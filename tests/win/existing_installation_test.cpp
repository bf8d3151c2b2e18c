// The check for an earlier installation in the chosen directory: which files count, when the
// repair prompt appears, what it says (the real message box, read by the robot) and what each
// answer leaves behind.

#include "app/existing_installation.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <string>
#include <vector>

#include "package/opening.h"
#include "package/process_state.h"
#include "script/path_macros.h"
#include "silent_call.h"
#include "support/test_files.h"
#include "support/ui_robot.h"
#include "win/handles.h"

namespace vorlatch {
namespace {

using test::ScopedEnvironment;
using test::TempFolder;
using test::WriteTextFile;

constexpr char kPromptStart[] = "Setup has found the program in";

// word, n and tail (built by appending: GCC 12 misreports the concatenation).
std::string Numbered(const std::string& word, int n, const std::string& tail = "") {
  std::string text = word;
  text.append(std::to_string(n)).append(tail);
  return text;
}

std::string Lowercase(std::string text) {
  CharLowerBuffA(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

// A drive letter that points at a folder for as long as the object lives. DefineDosDevice
// is the system's way; Wine takes the definition but resolves file names through its own
// drive table, which its mount manager maintains, so there the mount manager maps the letter.
class ScopedDrive {
 public:
  ScopedDrive(char letter, const std::string& folder) : letter_(letter) {
    drive_ = std::string(1, letter_) + ":";
    root_ = drive_ + "\\";
    if (GetFileAttributesA(root_.c_str()) != INVALID_FILE_ATTRIBUTES) {
      return;  // taken: leave it alone
    }
    target_ = WithoutTrailingBackslash(folder);
    if (DefineDosDeviceA(0, drive_.c_str(), target_.c_str())) {
      if (Reachable()) {
        way_ = Way::kDosDevice;
        return;
      }
      RemoveDosDevice();
    }
    if (DefineWithMountManager(folder)) {
      way_ = Way::kMountManager;
      if (!Reachable()) {
        Remove();
      }
    }
  }
  ~ScopedDrive() { Remove(); }
  ScopedDrive(const ScopedDrive&) = delete;
  ScopedDrive& operator=(const ScopedDrive&) = delete;
  bool defined() const { return way_ != Way::kNone; }

 private:
  enum class Way { kNone, kDosDevice, kMountManager };

  // Wine's request to map a drive letter to a folder of the host (its own interface).
  struct UnixDriveRequest {
    ULONG size;
    ULONG type;
    ULONG fsType;
    DWORD serial;
    ULONGLONG unixDevice;
    WCHAR letter;
    USHORT mountPointOffset;
    USHORT deviceOffset;
    USHORT labelOffset;
  };
  static constexpr DWORD kDefineUnixDrive =
      CTL_CODE(0x6D, 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);

  bool Reachable() const {
    const DWORD attributes = GetFileAttributesA(root_.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }
  void RemoveDosDevice() {
    DefineDosDeviceA(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, drive_.c_str(),
                     target_.c_str());
  }
  // Type DRIVE_NO_ROOT_DIR without a mount point removes the letter.
  bool SendToMountManager(ULONG type, const std::string& unixPath) {
    const UniqueHandle manager(CreateFileA("\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
    if (!manager) {
      return false;
    }
    std::vector<char> request(sizeof(UnixDriveRequest) + unixPath.size() + 1, '\0');
    UnixDriveRequest header = {};
    header.size = static_cast<ULONG>(request.size());
    header.type = type;
    header.letter = static_cast<WCHAR>(letter_ - 'A' + 'a');
    header.mountPointOffset = unixPath.empty() ? 0 : sizeof(UnixDriveRequest);
    std::memcpy(request.data(), &header, sizeof header);
    std::memcpy(request.data() + sizeof header, unixPath.c_str(), unixPath.size());
    DWORD returned = 0;
    return DeviceIoControl(manager.get(), kDefineUnixDrive, request.data(),
                           static_cast<DWORD>(request.size()), nullptr, 0, &returned,
                           nullptr) != FALSE;
  }
  bool DefineWithMountManager(const std::string& folder) {
    using UnixFileName = char*(CDECL*)(LPCWSTR);
    const auto unixFileName = reinterpret_cast<UnixFileName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (unixFileName == nullptr) {
      return false;
    }
    std::wstring wide(folder.size() + 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, folder.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    char* unixPath = unixFileName(wide.c_str());
    if (unixPath == nullptr) {
      return false;
    }
    const std::string path = unixPath;
    HeapFree(GetProcessHeap(), 0, unixPath);
    return SendToMountManager(DRIVE_FIXED, path);
  }
  void Remove() {
    if (way_ == Way::kDosDevice) {
      RemoveDosDevice();
    } else if (way_ == Way::kMountManager) {
      SendToMountManager(DRIVE_NO_ROOT_DIR, "");
    }
    way_ = Way::kNone;
  }

  char letter_;
  std::string drive_;
  std::string root_;
  std::string target_;
  Way way_ = Way::kNone;
};

struct Answered {
  int result = 0;
  WindowSnapshot prompt;
};

// The script lives in a private temporary directory (Tmp points at it); the destination is a
// folder of its own.
class ExistingInstallation : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcessState();
    g_state.destinationDirectory = destination_.path();
  }
  void TearDown() override { ResetProcessState(); }

  void SetScript(const char* section, const std::string& key, const std::string& value) {
    ASSERT_TRUE(
        WritePrivateProfileStringA(section, key.c_str(), value.c_str(), ScriptPath().c_str()));
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, ScriptPath().c_str());
  }
  // Lists file n with its target (empty: the destination directory).
  void ListFile(int n, const std::string& name, const std::string& target = "") {
    SetScript("File", Numbered("File", n), name);
    SetScript("File", Numbered("Target", n), target);
  }
  void SetFileCount(int count) { SetScript("File", "File", std::to_string(count)); }

  // Runs the check and expects it to go on without a prompt.
  int CheckWithoutPrompt() {
    int result = 99;
    test::ExpectNoDialog([&] { result = CheckExistingInstallation(); });
    return result;
  }

  // Runs the check while the robot waits for the prompt, records it and presses `button`.
  Answered CheckAndAnswer(int button) {
    Answered answered;
    RobotThread robot([&] {
      answered.prompt = WaitForSnapshot({.className = "#32770", .controlText = kPromptStart});
      if (answered.prompt.hwnd != nullptr) {
        PressButton(answered.prompt.hwnd, button);
      }
    });
    answered.result = CheckExistingInstallation();
    robot.Join();
    return answered;
  }

  TempFolder temporary_;
  ScopedEnvironment tmp_{"Tmp", temporary_.path()};
  TempFolder destination_;
};

TEST_F(ExistingInstallation, NewDirectoryGoesOnWithoutPromptAndKeepsRepairMode) {
  SetFileCount(3);
  ListFile(1, "a.txt");
  ListFile(2, "b.txt", "[BID]");
  ListFile(3, "c.txt");
  g_state.repairMode = true;
  EXPECT_EQ(CheckWithoutPrompt(), 1);
  EXPECT_TRUE(g_state.repairMode) << "no prompt, no change";
}

TEST_F(ExistingInstallation, SingleFilePresentReachesThePromptWithoutUninstaller) {
  SetFileCount(1);
  ListFile(1, "tool.exe");
  ASSERT_TRUE(WriteTextFile(destination_.File("tool.exe"), "old"));
  const Answered answered = CheckAndAnswer(IDYES);
  EXPECT_EQ(answered.result, 1);
  EXPECT_TRUE(g_state.repairMode);
}

TEST_F(ExistingInstallation, FilesOutsideTheDestinationItselfNeverCount) {
  // All present, none directly in the destination directory.
  SetFileCount(3);
  const std::string sub = destination_.Subfolder("sub");
  ASSERT_TRUE(WriteTextFile(sub + "a.txt", "a"));
  ListFile(1, "a.txt", "[BID]sub");
  ListFile(2, "sub\\a.txt");
  ASSERT_TRUE(test::FileExists(SystemDirectory() + "kernel32.dll"));
  ListFile(3, "kernel32.dll", "[SYSTEM]");
  EXPECT_EQ(CheckWithoutPrompt(), 1);

  // The same list with one file directly in the destination: one of three is not more than
  // half, so still no prompt, but two of three are.
  ASSERT_TRUE(WriteTextFile(destination_.File("d.txt"), "d"));
  ASSERT_TRUE(WriteTextFile(destination_.File("e.txt"), "e"));
  ListFile(1, "d.txt");
  EXPECT_EQ(CheckWithoutPrompt(), 1);
  ListFile(2, "e.txt");
  EXPECT_EQ(CheckAndAnswer(IDCANCEL).result, 0);
}

TEST_F(ExistingInstallation, EveryListedFileIsCountedAgainstHalfTheList) {
  SetFileCount(5);
  for (int n = 1; n <= 5; ++n) {
    ListFile(n, Numbered("f", n, ".txt"));
  }
  ListFile(6, "f6.txt");  // beyond the count: never looked at
  for (const char* name : {"f1.txt", "f3.txt", "f6.txt"}) {
    ASSERT_TRUE(WriteTextFile(destination_.File(name), "x"));
  }
  ListFile(4, "");  // an empty name is skipped
  EXPECT_EQ(CheckWithoutPrompt(), 1) << "two of five";

  // A doubled backslash between directory and name still counts (the path is collapsed).
  ASSERT_TRUE(WriteTextFile(destination_.File("f5.txt"), "x"));
  ListFile(5, "\\f5.txt");
  EXPECT_EQ(CheckAndAnswer(IDYES).result, 1) << "three of five";
}

TEST_F(ExistingInstallation, DirectoryComparisonIgnoresCase) {
  // [TEMP] names the temporary directory as the environment spells it; the destination is
  // the same directory in small letters.
  g_state.destinationDirectory = Lowercase(temporary_.path());
  SetFileCount(1);
  ListFile(1, "notes.txt", "[TEMP]");
  ASSERT_TRUE(WriteTextFile(temporary_.File("notes.txt"), "n"));
  EXPECT_EQ(CheckAndAnswer(IDYES).result, 1);
}

TEST_F(ExistingInstallation, PromptTextForADriveDirectory) {
  TempFolder driveRoot;
  if (GetFileAttributesA("D:\\") != INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "drive D: exists on this system; the test maps its own";
  }
  const ScopedDrive drive('D', driveRoot.path());
  ASSERT_TRUE(drive.defined()) << GetLastError();
  ASSERT_TRUE(CreateDirectoryA("D:\\Apps", nullptr));
  ASSERT_TRUE(CreateDirectoryA("D:\\Apps\\Tool", nullptr));
  ASSERT_TRUE(WriteTextFile("D:\\Apps\\Tool\\Uninstall.exe", "MZ"));
  g_state.destinationDirectory = "D:\\Apps\\Tool";
  g_state.repairMode = true;

  const Answered answered = CheckAndAnswer(IDCANCEL);
  SCOPED_TRACE(answered.prompt.Describe());
  EXPECT_EQ(answered.prompt.MessageText(),
            "Setup has found the program in\n"
            "'D:\\Apps\\Tool' folder.\n"
            "\n"
            "To repair it, press \"Yes\".\n"
            "To select another location press \"No\".\n"
            "\n"
            "Continue?");
  EXPECT_EQ(answered.prompt.caption, "Confirm");
  EXPECT_EQ(answered.prompt.ButtonIds(), (std::vector<int>{IDYES, IDNO, IDCANCEL}));
  EXPECT_EQ(GetWindow(answered.prompt.hwnd, GW_OWNER), nullptr);
  EXPECT_EQ(answered.result, 0);
  EXPECT_FALSE(g_state.repairMode) << "any answer but Yes clears it";
}

TEST_F(ExistingInstallation, NoThenAFreshDirectoryInstallsWithoutRepair) {
  ASSERT_TRUE(WriteTextFile(destination_.File("Uninstall.exe"), "MZ"));
  SetFileCount(1);
  ListFile(1, "tool.exe");
  const Answered answered = CheckAndAnswer(IDNO);
  EXPECT_EQ(answered.result, -1);
  EXPECT_FALSE(g_state.repairMode);

  TempFolder fresh;
  g_state.destinationDirectory = fresh.path();
  EXPECT_EQ(CheckWithoutPrompt(), 1);
  EXPECT_FALSE(g_state.repairMode);
}

TEST_F(ExistingInstallation, NegativeCountListsNothing) {
  SetFileCount(-3);
  EXPECT_EQ(CheckWithoutPrompt(), 1);
}

}  // namespace
}  // namespace vorlatch
