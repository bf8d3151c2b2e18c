#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdlib>
#include <string>

#include "package/opening.h"
#include "package/process_state.h"
#include "script/path_macros.h"

namespace vorlatch {
namespace {

constexpr int kNoSuchFolder = 0x7F;

std::string Environment(const char* name) {
  char value[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableA(name, value, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(value, length) : std::string();
}

// A private temporary directory (Tmp points at it) holding the script, and COM for the
// folder lookups; the previous Tmp comes back afterwards.
class PathMacros : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    savedTmp_ = Environment("Tmp");
    char base[MAX_PATH] = {};
    ASSERT_GT(GetTempPathA(MAX_PATH, base), 0u);
    folder_ = std::string(base) + "h4_macros_" + std::to_string(GetCurrentProcessId()) + "_" +
              std::to_string(GetTickCount64());
    ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr));
    ASSERT_TRUE(SetEnvironmentVariableA("Tmp", folder_.c_str()));
    ResetProcessState();
    g_state.destinationDirectory = "C:\\Program Files\\App\\";
  }
  void TearDown() override {
    DeleteFileA(ScriptPath().c_str());
    SetEnvironmentVariableA("Tmp", savedTmp_.empty() ? nullptr : savedTmp_.c_str());
    RemoveDirectoryA(folder_.c_str());
    ResetProcessState();
    CoUninitialize();
  }

  // Target<n> of [section] in the script.
  void SetTarget(const char* section, int n, const char* value) {
    const std::string key = "Target" + std::to_string(n);
    ASSERT_TRUE(WritePrivateProfileStringA(section, key.c_str(), value, ScriptPath().c_str()));
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, ScriptPath().c_str());
  }

  std::string folder_;
  std::string savedTmp_;
};

TEST_F(PathMacros, SystemFoldersEndInOneBackslash) {
  char windows[MAX_PATH] = {};
  ASSERT_GT(GetWindowsDirectoryA(windows, MAX_PATH), 0u);
  char system[MAX_PATH] = {};
  ASSERT_GT(GetSystemDirectoryA(system, MAX_PATH), 0u);
  EXPECT_EQ(WindowsDirectory(), std::string(windows) + "\\");
  EXPECT_EQ(SystemDirectory(), std::string(system) + "\\");

  char previous[MAX_PATH] = {};
  ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, previous), 0u);
  ASSERT_TRUE(SetCurrentDirectoryA(folder_.c_str()));
  const std::string current = CurrentDirectory();
  SetCurrentDirectoryA(previous);
  EXPECT_TRUE(EqualsIgnoringCase(current, folder_ + "\\")) << current;
}

TEST_F(PathMacros, ProgramFilesComesFromTheShellFolder) {
  const std::optional<std::string> looked = SpecialFolderPath(kCsidlProgramFiles);
  ASSERT_TRUE(looked.has_value());
  EXPECT_EQ(ProgramFilesDirectory(), WithTrailingBackslash(*looked));
  // The environment names the same folder.
  EXPECT_TRUE(EqualsIgnoringCase(ProgramFilesDirectory(),
                                 WithTrailingBackslash(Environment("ProgramFiles"))))
      << ProgramFilesDirectory();
}

TEST_F(PathMacros, ProgramFilesFallsBackToTheWindowsDrive) {
  const std::optional<std::string> looked = SpecialFolderPath(kNoSuchFolder);
  EXPECT_FALSE(looked.has_value());
  const std::string windows = WindowsDirectory();
  ASSERT_FALSE(windows.empty());
  EXPECT_EQ(ProgramFilesDirectoryFrom(windows, looked),
            std::string(1, windows.front()) + ":\\Program Files\\");
}

TEST_F(PathMacros, ItemListWayFindsTheSameFolders) {
  for (const int csidl : {kCsidlPrograms, kCsidlProgramFiles}) {
    char viaEntryPoint[kSpecialFolderBufferSize] = {};
    char viaItemList[kSpecialFolderBufferSize] = {};
    ASSERT_TRUE(GetSpecialFolder(nullptr, viaEntryPoint, csidl, false)) << csidl;
    ASSERT_TRUE(GetSpecialFolderFromItemList(viaItemList, csidl)) << csidl;
    EXPECT_STREQ(viaItemList, viaEntryPoint);
    EXPECT_NE(viaItemList[0], '\0');
  }
  char buffer[kSpecialFolderBufferSize] = {};
  EXPECT_FALSE(GetSpecialFolderFromItemList(buffer, kNoSuchFolder));
  EXPECT_FALSE(GetSpecialFolder(nullptr, buffer, kNoSuchFolder, false));
  EXPECT_FALSE(GetSpecialFolder(nullptr, nullptr, kCsidlProgramFiles, false));
  EXPECT_FALSE(GetSpecialFolderFromItemList(nullptr, kCsidlProgramFiles));
}

TEST_F(PathMacros, TargetWithoutLeadingMacroIsTheDestination) {
  const std::string destination = g_state.destinationDirectory;
  EXPECT_EQ(ExpandTarget("File", 1), destination);  // absent
  SetTarget("File", 1, "");
  SetTarget("File", 2, "C:\\Tools");
  SetTarget("File", 3, "sub");
  SetTarget("File", 4, "prefix[BID]");
  for (int n = 1; n <= 4; ++n) {
    EXPECT_EQ(ExpandTarget("File", n), destination) << n;
  }
  // A destination without its backslash still comes back with one.
  g_state.destinationDirectory = "D:\\Zap";
  EXPECT_EQ(ExpandTarget("File", 3), "D:\\Zap\\");
}

TEST_F(PathMacros, LeadingMacroKeepsTheRestUpperCased) {
  SetTarget("File", 1, "[bid]data");
  SetTarget("File", 2, "[SYSTEM]\\x");
  SetTarget("File", 3, "[Windows]Fonts\\");
  SetTarget("File", 4, "[temp]cache\\\\");
  SetTarget("File", 5, "[PROGFILES]Zap");
  SetTarget("Ini", 1, "[BID]conf");
  EXPECT_EQ(ExpandTarget("File", 1), "C:\\Program Files\\App\\DATA\\");
  // The separator the value adds after the macro's own backslash stays doubled.
  EXPECT_EQ(ExpandTarget("File", 2), SystemDirectory() + "\\X\\");
  EXPECT_EQ(ExpandTarget("File", 3), WindowsDirectory() + "FONTS\\");
  EXPECT_EQ(ExpandTarget("File", 4), TemporaryDirectory() + "CACHE\\");
  EXPECT_EQ(ExpandTarget("File", 5), ProgramFilesDirectory() + "ZAP\\");
  EXPECT_EQ(ExpandTarget("Ini", 1), "C:\\Program Files\\App\\CONF\\");
  EXPECT_EQ(TemporaryDirectory(), folder_ + "\\");
  // The user's own program folder, below the shell's local application data.
  SetTarget("File", 6, "[LocalPrograms]Zap");
  char local[MAX_PATH] = {};
  ASSERT_TRUE(::SHGetSpecialFolderPathA(nullptr, local, CSIDL_LOCAL_APPDATA, FALSE));
  EXPECT_EQ(ExpandTarget("File", 6), std::string(local) + "\\Programs\\ZAP\\");
}

TEST_F(PathMacros, WholeValueMacros) {
  EXPECT_EQ(ExpandValueMacro("[bid]"), "C:\\Program Files\\App\\");
  EXPECT_EQ(ExpandValueMacro("[System]"), SystemDirectory());
  EXPECT_EQ(ExpandValueMacro("[TEMP]"), folder_ + "\\");
  EXPECT_EQ(ExpandValueMacro("[windows]"), WindowsDirectory());
  EXPECT_EQ(ExpandValueMacro("[ProgFiles]"), ProgramFilesDirectory());
  for (const char* untouched : {"", "[BID]data", " [BID]", "[Date] today", "[date", "plain"}) {
    EXPECT_EQ(ExpandValueMacro(untouched), untouched);
  }
}

TEST_F(PathMacros, DateIsAnOleAutomationDate) {
  SYSTEMTIME evening = {};
  evening.wYear = 2002;
  evening.wMonth = 9;
  evening.wDay = 5;
  evening.wDayOfWeek = 4;
  evening.wHour = 21;
  evening.wMinute = 7;
  EXPECT_EQ(ExpandValueMacro("[date]", evening), "37504.88");
  EXPECT_EQ(ExpandValueMacro("[DATE]", evening), "37504.88");
  EXPECT_EQ(ExpandValueMacro("[Date] x", evening), "[Date] x");

  // The local clock, against the platform's own conversion.
  SYSTEMTIME before;
  GetLocalTime(&before);
  const double stamped = std::strtod(ExpandValueMacro("[Date]").c_str(), nullptr);
  double expected = 0;
  ASSERT_TRUE(SystemTimeToVariantTime(&before, &expected));
  EXPECT_NEAR(stamped, expected, 0.01);
}

}  // namespace
}  // namespace vorlatch
