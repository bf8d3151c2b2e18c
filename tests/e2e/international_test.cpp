// Installations on systems with a double-byte code page, and names that the code page cannot
// hold. Wine takes a process's ANSI code page from its Unix locale, so the installer and the
// uninstaller run as host commands with LANG set (the locales are made on first use with
// localedef into the build folder); this test process stays in the Western code page and
// checks what they left through the wide API, by the characters' own names.

#include <gtest/gtest.h>

#include <shlobj.h>

#include <optional>
#include <string>

#include "support/host_command.h"
#include "support/test_files.h"
#include "win/handles.h"

namespace vorlatch::test {
namespace {

constexpr DWORD kRunTimeoutMs = 120000;

struct CodePageRow {
  const char* locale;  // the Unix locale that gives the code page
  UINT codePage;
  const wchar_t* ch;  // one character ...
  const char* bytes;  // ... and its bytes there: a two-byte character ends in a backslash where
                      // the code page has such characters
  bool utf8Package;   // the package asks for the UTF-8 code page ([Build] CodePage=UTF-8)
};

const CodePageRow kRows[] = {
    {"ja_JP.UTF-8", 932, L"\u8868", "\x95\x5C", false},  // 表
    {"zh_CN.UTF-8", 936, L"\u7C60", "\xBB\x5C", false},  // 籠
    {"ko_KR.UTF-8", 949, L"\uAC35", "\x81\x61", false},  // 갵: 949 has no backslash trail byte
    {"zh_TW.UTF-8", 950, L"\u529F", "\xA5\x5C", false},  // 功
    // A Western system, where 张 has no place in the code page: the package brings UTF-8.
    {"en_US.UTF-8", 65001, L"\u5F20", "\xE5\xBC\xA0", true},
};

std::wstring Widened(const std::string& ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

std::string Utf8(const std::wstring& text) {
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(length > 0 ? length : 1), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8.data(), length, nullptr, nullptr);
  utf8.resize(utf8.size() - 1);
  return utf8;
}

bool ExistsW(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool KeyExistsW(HKEY root, const std::wstring& path) {
  UniqueHkey key;
  return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

void RemoveTreeW(const std::wstring& folder) {
  WIN32_FIND_DATAW entry{};
  const HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") {
        continue;
      }
      const std::wstring path = folder + L"\\" + name;
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        RemoveTreeW(path);
      } else {
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(path.c_str());
      }
    } while (::FindNextFileW(find, &entry));
    ::FindClose(find);
  }
  ::RemoveDirectoryW(folder.c_str());
}

std::wstring ProgramsFolderW() {
  wchar_t path[MAX_PATH] = {};
  return ::SHGetSpecialFolderPathW(nullptr, path, CSIDL_PROGRAMS, TRUE) ? path : L"";
}

bool WaitUntilGone(const std::wstring& path) {
  for (int i = 0; i < 400 && ExistsW(path); ++i) {
    ::Sleep(50);
  }
  return !ExistsW(path);
}

// The locales that Wine reads the code pages from, made once into the build folder.
std::string LocaleFolder() {
  return UnixPath(TestProgramFolder()) + "locales";
}

// Runs `command` (UTF-8, so in a script file of its own) on the host with the row's locale.
std::optional<int> RunInLocale(const TempFolder& folder, const CodePageRow& row,
                               const std::string& command) {
  const std::string locales = ShellWord(LocaleFolder());
  const std::string locale = row.locale;
  const std::string name = locale.substr(0, locale.find('.'));
  const std::string script = "mkdir -p " + locales + " && { [ -d " + locales + "/" + locale +
                             " ] || localedef -i " + name + " -f UTF-8 " + locales + "/" + locale +
                             "; } || exit 125\n" + "LOCPATH=" + locales + " LANG=" + locale +
                             " LC_ALL=" + locale + " exec " + command + "\n";
  if (!WriteTextFile(folder.File("run.sh"), script)) {
    return std::nullopt;
  }
  return RunHostCommand("/bin/sh " + ShellWord(UnixPath(folder.File("run.sh"))), kRunTimeoutMs);
}

TEST(International, DoubleByteNamesInstallAndUninstallExactlyThemselves) {
  for (const CodePageRow& row : kRows) {
    SCOPED_TRACE(std::string(row.locale) + ", code page " + std::to_string(row.codePage));
    const TempFolder folder;
    const std::string ch = row.bytes;
    const std::wstring wch = row.ch;
    // Every name ends in the character: destination, subfolder target, file, program group.
    const std::string base = folder.Subfolder("place");
    ASSERT_TRUE(WriteTextFile(base + "keep.txt", "not the installer's"));
    const std::wstring dest = Widened(base) + L"d" + wch + L"\\";
    const std::wstring programs = ProgramsFolderW();
    ASSERT_FALSE(programs.empty());
    const std::wstring company = programs + L"\\VlIntl" + wch;
    const std::wstring entry = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + wch;
    const std::wstring ownKey = L"Software\\VlIntl" + wch;
    RemoveTreeW(company);
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, entry.c_str());
    ::RegDeleteTreeW(HKEY_CURRENT_USER, ownKey.c_str());

    ASSERT_TRUE(WriteTextFile(folder.File("a.bin"), "first"));
    ASSERT_TRUE(WriteTextFile(folder.File("b.txt"), "second"));
    const std::string project =
        std::string(row.utf8Package ? "[Build]\r\nCodePage=UTF-8\r\n" : "") + "[General]\r\n" +
        Line("Company", "VlIntl" + ch) + Line("Product", ch) + Line("BID", base + "d" + ch) +
        "[File]\r\nFile=2\r\n" + Line("File1", "a" + ch) +
        "Source1=a.bin\r\nTarget1=[BID]\r\nShortcut1=1\r\n" + Line("File2", "b" + ch) +
        "Source2=b.txt\r\n" + Line("Target2", "[BID]s" + ch) + "Uninstall=1\r\n" +
        "[Registry]\r\nNumber=1\r\n" + Line("Key1", "HKEY_CURRENT_USER\\Software\\VlIntl" + ch) +
        "[Key1]\r\nNumber=1\r\n" + Line("Name1", "n" + ch) + "Value1=[BID]\r\n";
    std::string error;
    const std::string installer = BuildTestInstaller(folder, project, error);
    ASSERT_FALSE(installer.empty()) << error;

    const auto installed =
        RunInLocale(folder, row, "wine " + ShellWord(UnixPath(installer)) + " /S");
    ASSERT_TRUE(installed);
    ASSERT_NE(*installed, 125) << "no locale " << row.locale << ": run scripts/setup";
    EXPECT_EQ(*installed, 0);
    EXPECT_TRUE(ExistsW(dest + L"a" + wch));
    EXPECT_TRUE(ExistsW(dest + L"s" + wch + L"\\b" + wch));
    EXPECT_TRUE(ExistsW(dest + L"Uninstall.exe"));
    EXPECT_TRUE(ExistsW(company + L"\\" + wch + L"\\a" + wch + L" .lnk"));
    EXPECT_TRUE(ExistsW(company + L"\\" + wch + L"\\Uninstall .lnk"));
    EXPECT_TRUE(KeyExistsW(HKEY_LOCAL_MACHINE, entry));
    EXPECT_TRUE(KeyExistsW(HKEY_CURRENT_USER, ownKey));

    const auto removed =
        RunInLocale(folder, row, "wine " + ShellWord(Utf8(dest + L"Uninstall.exe")) + " /S");
    ASSERT_TRUE(removed);
    EXPECT_EQ(*removed, 0);
    EXPECT_TRUE(WaitUntilGone(dest));
    EXPECT_FALSE(ExistsW(company));
    EXPECT_FALSE(KeyExistsW(HKEY_LOCAL_MACHINE, entry));
    EXPECT_FALSE(KeyExistsW(HKEY_CURRENT_USER, ownKey));
    EXPECT_TRUE(ExistsW(Widened(base + "keep.txt")));

    RemoveTreeW(dest);
    RemoveTreeW(company);
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, entry.c_str());
    ::RegDeleteTreeW(HKEY_CURRENT_USER, ownKey.c_str());
  }
}

// Runs a wide command line (the names in it need not fit this process's code page) and
// returns the exit code; none when it cannot start or does not end in time.
std::optional<DWORD> RunWide(std::wstring commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
    return std::nullopt;
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  DWORD code = 0;
  if (::WaitForSingleObject(process.get(), kRunTimeoutMs) != WAIT_OBJECT_0 ||
      !::GetExitCodeProcess(process.get(), &code)) {
    ::TerminateProcess(process.get(), 1);
    return std::nullopt;
  }
  return code;
}

bool IsEmptyFolderW(const std::wstring& folder) {
  WIN32_FIND_DATAW entry{};
  const HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) {
    return false;
  }
  bool empty = true;
  do {
    const std::wstring name = entry.cFileName;
    empty = empty && (name == L"." || name == L"..");
  } while (::FindNextFileW(find, &entry));
  ::FindClose(find);
  return empty;
}

TEST(International, NamesOutsideTheCodePageAreRefusedBeforeAnythingIsMade) {
  struct Row {
    const char* message;         // how the recorded message starts; none: nothing is recorded
    bool foreignTemp;            // Tmp and Temp name a folder with a Chinese name
    const wchar_t* destination;  // /D= names this folder in the test's folder
    const wchar_t* logName;      // the record's name, else run.log
    bool utf8Script;             // the script was made for the UTF-8 code page, which the system
                                 // does not give this stub (it carries no such manifest setting)
    DWORD exitCode;
  };
  const std::string why =
      "cannot be used: its name has characters that this system's code page (1252) cannot "
      "represent";
  // U+0105 has a look-alike letter in the 8-bit command line, not '?'.
  const Row rows[] = {
      {"The temporary folder ", true, nullptr, nullptr, false, 6},
      {"The destination folder ", false, L"\u5F20\u4E09\\d", nullptr, false, 1},
      {"The destination folder ", false, L"\u0105", nullptr, false, 1},
      {nullptr, false, nullptr, L"\u0105.log", false, 1},
      {"This installer was made to run with the UTF-8 code page", false, nullptr, nullptr, true, 6},
  };
  ASSERT_EQ(::GetACP(), 1252u) << "this test needs a code page without Chinese characters";
  for (const Row& row : rows) {
    SCOPED_TRACE(&row - rows);
    const TempFolder folder;
    const std::wstring base = Widened(folder.path());
    const std::wstring foreign = base + L"\u5F20\u4E09";  // 张三
    ASSERT_TRUE(::CreateDirectoryW(foreign.c_str(), nullptr));
    const std::string product = "VlForeign" + std::to_string(::GetCurrentProcessId());
    const std::string entry = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + product;
    ASSERT_TRUE(WriteTextFile(folder.File("a.txt"), "first"));
    std::string error;
    const std::string installer = BuildTestInstaller(
        folder,
        "[General]\r\n" + Line("Product", product) + Line("BID", folder.File("plain")) +
            (row.utf8Script ? "CodePage=UTF-8\r\n" : "") +
            "[File]\r\nFile=1\r\nFile1=a.txt\r\nUninstall=1\r\n",
        error);
    ASSERT_FALSE(installer.empty()) << error;

    std::wstring commandLine =
        L"\"" + Widened(installer) + L"\" /S /LOG=" +
        (row.logName != nullptr ? base + row.logName : Widened(folder.File("run.log")));
    if (row.destination != nullptr) {
      commandLine += L" /D=" + base + row.destination;
    }
    std::optional<DWORD> exitCode;
    {
      wchar_t oldTmp[MAX_PATH] = {};
      wchar_t oldTemp[MAX_PATH] = {};
      ::GetEnvironmentVariableW(L"Tmp", oldTmp, MAX_PATH);
      ::GetEnvironmentVariableW(L"Temp", oldTemp, MAX_PATH);
      if (row.foreignTemp) {
        ::SetEnvironmentVariableW(L"Tmp", foreign.c_str());
        ::SetEnvironmentVariableW(L"Temp", foreign.c_str());
      }
      exitCode = RunWide(commandLine);
      ::SetEnvironmentVariableW(L"Tmp", oldTmp);
      ::SetEnvironmentVariableW(L"Temp", oldTemp);
    }
    ASSERT_TRUE(exitCode);
    EXPECT_EQ(*exitCode, row.exitCode);
    const std::string log = ReadTextFile(folder.File("run.log")).value_or("");
    if (row.message != nullptr) {
      EXPECT_NE(log.find(row.message), std::string::npos) << log;
      EXPECT_EQ(log.find(why) != std::string::npos, !row.utf8Script) << log;
    }
    // Nothing made: no destination, no record under another name, nothing in the foreign
    // folder, no uninstall entry.
    EXPECT_FALSE(FileExists(folder.File("plain")));
    EXPECT_FALSE(FileExists(folder.File("a.log")));
    if (row.logName != nullptr) {
      EXPECT_EQ(::GetFileAttributesW((base + row.logName).c_str()), INVALID_FILE_ATTRIBUTES);
    }
    EXPECT_TRUE(IsEmptyFolderW(foreign));
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, entry, "DisplayName"), "<none>");
    RemoveTreeW(foreign);
  }
}

}  // namespace
}  // namespace vorlatch::test
