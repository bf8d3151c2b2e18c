// Faults from outside: a destination drive that fills up in the middle of a file, a target
// held open by another program, a destination that cannot be written or whose path reaches
// the length limit, an installer killed half-way, a download cut short, an uninstall log
// edited by hand, and a file larger than the installer's memory bound. Each test checks what the
// user is told (the window answered by the robot, or the exit code and record of an unattended run)
// and what is left on disk.

#include <gtest/gtest.h>

#include <objbase.h>
#include <psapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "actions/uninstall_log.h"
#include "app/installer_app.h"
#include "package/format.h"
#include "package/signature_layout.h"
#include "packer/ini_text.h"
#include "resources/resource.h"
#include "script/path_macros.h"
#include "support/run_answers.h"
#include "support/small_drive.h"
#include "support/test_files.h"
#include "support/ui_robot.h"
#include "win/handles.h"

namespace vorlatch::test {
namespace {

// Bytes that no compressor shrinks, the same for the same seed.
std::vector<std::uint8_t> NoiseBytes(std::size_t size, std::uint32_t seed) {
  std::vector<std::uint8_t> bytes(size);
  std::uint32_t state = seed * 2654435761u + 1;
  for (std::uint8_t& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  return bytes;
}

class Faults : public ::testing::Test {
 protected:
  void SetUp() override {
    ::CoInitialize(nullptr);
    const std::string pid = std::to_string(::GetCurrentProcessId());
    product_ = "VorlatchFaults" + pid;
    company_ = "Vorlatch Faults " + pid;
    char programs[MAX_PATH] = {};
    ASSERT_TRUE(::SHGetSpecialFolderPathA(nullptr, programs, CSIDL_PROGRAMS, TRUE));
    group_ = std::string(programs) + "\\" + company_;
  }

  void TearDown() override {
    RemoveTree(group_);
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, (kUninstallKeyPrefix + product_).c_str());
    ::CoUninitialize();
  }

  // A source file of the package.
  std::string Source(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const std::string path = sources_ + name;
    EXPECT_TRUE(WriteFileBytes(path, bytes));
    return path;
  }
  std::string Source(const std::string& name, const std::string& text) {
    return Source(name, std::vector<std::uint8_t>(text.begin(), text.end()));
  }

  // An installer of the named sources (installed as their names, into the destination), with
  // the uninstaller when `uninstall` is set.
  std::string Installer(const std::vector<std::string>& names, bool uninstall,
                        const std::string& moreFileKeys = "") {
    std::string project = "[General]\r\n" + Line("Company", company_) + Line("Product", product_) +
                          "[File]\r\n" + Line("File", std::to_string(names.size()));
    for (std::size_t i = 0; i < names.size(); ++i) {
      const std::string n = std::to_string(i + 1);
      project += Line("File" + n, names[i]) + Line("Source" + n, sources_ + names[i]);
    }
    project += Line("Uninstall", uninstall ? "1" : "0") + moreFileKeys;
    std::string error;
    const std::string installer = BuildTestInstaller(folder_, project, error);
    EXPECT_FALSE(installer.empty()) << error;
    return installer;
  }

  // The installer's peak working set, read while its last window is up (0 when unread).
  SIZE_T PeakWorkingSet(const std::string& installer, const std::string& dest) {
    ChildProcess stub;
    EXPECT_TRUE(stub.Start(Quoted(installer)));
    PROCESS_MEMORY_COUNTERS counters{};
    const auto readCounters = [&] {
      const UniqueHandle process(
          ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, stub.processId()));
      EXPECT_TRUE(process && ::K32GetProcessMemoryInfo(process.get(), &counters, sizeof counters));
    };
    ProcessResult result;
    AnswerUntilEnd(stub,
                   {{"Please select destination directory:", IDC_NEXT, IDC_DESTINATION_PATH, dest},
                    {"Successfully installed.", IDOK, 0, "", readCounters}},
                   result);
    EXPECT_EQ(result.exitCode, 0u);
    return counters.PeakWorkingSetSize;
  }

  // A run with windows: the destination typed into its dialog, then `replies`.
  std::vector<std::string> RunWithWindows(const std::string& installer,
                                          const std::string& destination,
                                          std::vector<Reply> replies, DWORD exitCode = 0) {
    ChildProcess stub;
    if (!stub.Start(Quoted(installer))) {
      ADD_FAILURE() << "cannot start " << installer;
      return {};
    }
    replies.insert(replies.begin(), Reply{"Please select destination directory:", IDC_NEXT,
                                          IDC_DESTINATION_PATH, destination});
    ProcessResult result;
    std::vector<std::string> seen = AnswerUntilEnd(stub, replies, result);
    EXPECT_EQ(result.exitCode, exitCode);
    EXPECT_TRUE(WaitForProgramsIn(folder_.path()));
    return seen;
  }

  // An unattended run into `destination`, recorded; the exit code it ended with.
  DWORD RunSilently(const std::string& installer, const std::string& destination,
                    std::string* record = nullptr) {
    const std::string log = folder_.File("run.log");
    ::DeleteFileA(log.c_str());
    const UnattendedResult run =
        RunUnattended(installer, "/S /LOG=" + Quoted(log) + " /D=" + destination);
    EXPECT_TRUE(run.process.finished);
    EXPECT_EQ(run.windows, std::vector<std::string>{});
    if (record != nullptr) {
      *record = ReadTextFile(log).value_or("<no record>");
    }
    return run.process.exitCode;
  }

  TempFolder folder_;
  std::string temp_ = folder_.Subfolder("temp");
  std::string sources_ = folder_.Subfolder("sources");
  ScopedEnvironment tmp_{"Tmp", temp_};
  ScopedEnvironment tempVariable_{"Temp", temp_};
  std::string product_;
  std::string company_;
  std::string group_;
};

TEST_F(Faults, AFullDriveStopsWithTheWritingErrorAndLeavesNoPartOfTheFile) {
  const std::vector<std::uint8_t> big = NoiseBytes(3 * 1024 * 1024, 1);
  Source("big.bin", big);
  Source("small.txt", "fits");
  // Extracted from the last to the first: small.txt fits, big.bin fills the drive.
  const std::string installer = Installer({"big.bin", "small.txt"}, true);
  ASSERT_FALSE(installer.empty());
  const std::string drive = folder_.File("full");
  const std::string dest = drive + "\\App\\";

  for (const bool silent : {false, true}) {
    SCOPED_TRACE(silent ? "unattended" : "with windows");
    const SmallDrive small(drive, 1024);
    ASSERT_TRUE(small.mounted());
    if (silent) {
      std::string record;
      EXPECT_EQ(RunSilently(installer, dest, &record), 2u);
      EXPECT_TRUE(Contains(record, "File " + dest + "big.bin: failed")) << record;
      // The message's line breaks are blanks in the record.
      EXPECT_TRUE(Contains(record, "Writing  " + dest + "big.bin  Possibly corrupted archive"))
          << record;
    } else {
      const std::vector<std::string> seen =
          RunWithWindows(installer, dest, {{"Possibly corrupted archive", IDOK}});
      ASSERT_EQ(seen.size(), 2u);  // the destination dialog, then the message
      EXPECT_EQ(seen[1], "I/O Error: Writing\n\n" + dest +
                             "big.bin\n\nPossibly corrupted archive or file locked.");
    }
    // What fitted is whole; the file that did not fit is not there at all.
    EXPECT_EQ(FolderEntries(dest), (std::vector<std::string>{"Uninstall.exe", "small.txt"}));
    EXPECT_EQ(ReadTextFile(dest + "small.txt").value_or("<missing>"), "fits");
    EXPECT_EQ(FolderEntries(temp_), std::vector<std::string>{});
  }
}

TEST_F(Faults, ATemporaryDriveTooSmallForAFileHoldsNoCopyOfIt) {
  const std::vector<std::uint8_t> big = NoiseBytes(3 * 1024 * 1024, 2);
  Source("big.bin", big);
  Source("small.txt", "fits");
  const std::string installer = Installer({"big.bin", "small.txt"}, true);
  ASSERT_FALSE(installer.empty());
  const std::string small = folder_.File("small temp");
  const SmallDrive drive(small, 1024);
  ASSERT_TRUE(drive.mounted());
  const ScopedEnvironment tmp("Tmp", small + "\\");
  const ScopedEnvironment temp("Temp", small + "\\");
  const std::string dest = folder_.File("app") + "\\";
  std::string record;
  EXPECT_EQ(RunSilently(installer, dest, &record), 0u) << record;
  EXPECT_EQ(FolderEntries(dest),
            (std::vector<std::string>{"Uninstall.exe", "big.bin", "small.txt"}));
  EXPECT_EQ(ReadFileBytes(dest + "big.bin"), big);
  EXPECT_EQ(FolderEntries(small + "\\"), std::vector<std::string>{});
}

// 160 MB that compress well. The installer's peak working set is read from its own counters
// while it shows its last message, before it ends.
TEST_F(Faults, ADamagedLzmaItemGivesTheArchiveErrorAndKeepsNoPartOfTheFile) {
  // A program image: its content goes through the x86 branch filter.
  Source("one.txt",
         ReadFileBytes(BesideTests("extension_fixture.dll")).value_or(std::vector<std::uint8_t>{}));
  Source("two.txt", "two");
  // One solid block: two.txt (extracted first) holds the stream, one.txt points back into it.
  const std::string installer = Installer({"one.txt", "two.txt"}, true);
  ASSERT_FALSE(installer.empty());
  const std::vector<std::uint8_t> whole =
      ReadFileBytes(installer).value_or(std::vector<std::uint8_t>{});
  const auto scriptBytes = InflateItem(*LocateScriptBlock(PackageOf(whole)));
  ASSERT_TRUE(scriptBytes);
  const packer::IniText script =
      packer::IniText::Parse(std::string(scriptBytes->begin(), scriptBytes->end()));
  const auto pos1 = static_cast<std::size_t>(script.GetInt("File", "Pos1"));
  const auto pos2 = static_cast<std::size_t>(script.GetInt("File", "Pos2"));
  const auto zip2 = static_cast<std::size_t>(script.GetInt("File", "Zip2"));
  ASSERT_EQ(script.GetInt("File", "Zip1"), 66);  // a member: header and tail only
  const std::string dest = folder_.File("app") + "\\";
  // The stream where one.txt's content lies, the member's checksum, and where it points.
  for (const std::size_t at : {pos2 + zip2 * 2 / 3, pos1 + 10, pos1 + 14}) {
    SCOPED_TRACE("damaged at " + std::to_string(at));
    std::vector<std::uint8_t> damaged = whole;
    damaged[at] ^= 0x55;
    const std::string path = folder_.File("damaged-setup.exe");
    ASSERT_TRUE(WriteFileBytes(path, damaged));
    std::string record;
    EXPECT_EQ(RunSilently(path, dest, &record), 2u);
    EXPECT_TRUE(Contains(record, "File " + dest + "one.txt: failed")) << record;
    EXPECT_TRUE(Contains(record, "Possibly corrupted archive")) << record;
    // Whatever was written of it is taken back, as for a damaged zlib stream.
    EXPECT_EQ(ReadTextFile(dest + "one.txt").value_or(""), "");
    EXPECT_EQ(ReadTextFile(dest + "two.txt").value_or("<missing>"), "two");
    EXPECT_EQ(FolderEntries(temp_), std::vector<std::string>{});
    RemoveTree(dest);
  }
}

TEST_F(Faults, AFileShippedTwiceIsStoredOnceAndInstallsWholeTwice) {
  std::string words;
  for (std::uint32_t i = 0; words.size() < 100000; i = i * 7919 + 13) {
    words += std::to_string(i % 100003) + " ";
  }
  Source("one.txt", words);
  Source("copy.txt", words);
  const std::string installer = Installer({"one.txt", "copy.txt"}, false, "[Build]\r\nSolid=0\r\n");
  ASSERT_FALSE(installer.empty());
  const std::vector<std::uint8_t> whole =
      ReadFileBytes(installer).value_or(std::vector<std::uint8_t>{});
  const auto scriptBytes = InflateItem(*LocateScriptBlock(PackageOf(whole)));
  ASSERT_TRUE(scriptBytes);
  const std::string script(scriptBytes->begin(), scriptBytes->end());
  EXPECT_TRUE(Contains(script, "Zip2=66\r\n")) << script;  // points back to the first copy
  const std::string dest = folder_.File("app") + "\\";
  std::string record;
  EXPECT_EQ(RunSilently(installer, dest, &record), 0u) << record;
  EXPECT_EQ(ReadTextFile(dest + "one.txt").value_or("<missing>"), words);
  EXPECT_EQ(ReadTextFile(dest + "copy.txt").value_or("<missing>"), words);
}

TEST_F(Faults, AFileLargerThanTheMemoryBoundInstallsWholeInBoundedMemory) {
  std::vector<std::uint8_t> big(160u << 20, '.');
  for (std::size_t at = 0; at < big.size(); at += 4096) {  // a piece out of place shows
    const std::string mark = std::to_string(at);
    std::copy(mark.begin(), mark.end(), big.begin() + static_cast<std::ptrdiff_t>(at));
  }
  Source("big.bin", big);
  // The zlib reader's bound; an LZMA item needs its dictionary besides.
  const std::string installer = Installer({"big.bin"}, false, "[Build]\r\nCompression=zlib\r\n");
  ASSERT_FALSE(installer.empty());
  const std::string dest = folder_.File("app") + "\\";
  const SIZE_T peak = PeakWorkingSet(installer, dest);
  EXPECT_GT(peak, 0u);
  EXPECT_LE(peak, 64u << 20) << peak;
  EXPECT_EQ(ReadFileBytes(dest + "big.bin"), big);
}

// An LZMA stream's pages leave memory once decoded: a package of 16 MB more costs far less.
TEST_F(Faults, AnLzmaInstallersMemoryDoesNotGrowWithItsPackage) {
  const std::vector<std::uint8_t> noise = NoiseBytes(16u << 20, 3);
  Source("noise.bin", noise);
  Source("small.txt", "small");
  const std::string keys = "[Build]\r\nDictionary=1\r\n";
  // One after the other: both are built under the same name.
  const SIZE_T smallPeak =
      PeakWorkingSet(Installer({"small.txt"}, false, keys), folder_.File("small") + "\\");
  const std::string dest = folder_.File("large") + "\\";
  const SIZE_T largePeak = PeakWorkingSet(Installer({"noise.bin"}, false, keys), dest);
  EXPECT_GT(smallPeak, 0u);
  EXPECT_LE(largePeak, smallPeak + (6u << 20)) << smallPeak << " " << largePeak;
  EXPECT_EQ(ReadFileBytes(dest + "noise.bin"), noise);
}

TEST_F(Faults, ATargetHeldOpenIsReportedAndNothingElseIsLost) {
  Source("held.txt", "the new one");
  Source("other.txt", "installed");
  const std::string installer = Installer({"held.txt", "other.txt"}, true);
  ASSERT_FALSE(installer.empty());

  for (const bool silent : {false, true}) {
    SCOPED_TRACE(silent ? "unattended" : "with windows");
    const std::string dest = folder_.Subfolder(silent ? "silent" : "windows");
    const std::string held = dest + "held.txt";
    ASSERT_TRUE(WriteTextFile(held, "the user's own"));
    // As a running program holds its own file: no sharing at all.
    UniqueHandle holder(::CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    if (silent) {
      // Put in place at the next restart instead.
      std::string record;
      EXPECT_EQ(RunSilently(installer, dest, &record), 3010u);
      EXPECT_TRUE(Contains(record, "File " + held + ": in use; the new file is put in place"))
          << record;
    } else {
      const std::vector<std::string> seen =
          RunWithWindows(installer, dest,
                         {{"held.txt exists.", IDYES},
                          {"Can't remove", IDRETRY},
                          {"Can't remove", IDCANCEL},
                          {"There were errors during extraction.", IDOK},
                          {"Successfully installed.", IDOK}});
      // The destination dialog and the overwrite question come first; Cancel leaves the file
      // out, as "Can't extract" does.
      const std::string cantRemove =
          "Error: Can't remove " + held + "\r\nAnother program is using it.";
      ASSERT_EQ(seen.size(), 6u);
      EXPECT_EQ(std::vector<std::string>(seen.begin() + 2, seen.begin() + 4),
                (std::vector<std::string>{cantRemove, cantRemove}));
    }
    holder.reset();
    EXPECT_EQ(ReadTextFile(held).value_or("<missing>"), "the user's own");
    EXPECT_EQ(ReadTextFile(dest + "other.txt").value_or("<missing>"), "installed");
    EXPECT_EQ(FolderEntries(temp_), std::vector<std::string>{});
  }
}

// Every file below `folder`, with its path relative to it.
void FilesBelow(const std::string& folder, const std::string& prefix,
                std::vector<std::string>& files) {
  for (const std::string& name : FolderEntries(folder)) {
    const std::string path = folder + name;
    if ((GetAttributes(path) & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      FilesBelow(path + "\\", prefix + name + "\\", files);
    } else {
      files.push_back(prefix + name);
    }
  }
}

TEST_F(Faults, AnUnwritableDestinationOrOneAtTheLengthLimitIsReported) {
  Source("a.txt", "a");
  const std::string installer = Installer({"a.txt"}, true);
  ASSERT_FALSE(installer.empty());
  // Root may write anywhere under Wine, whatever the attributes and modes; a file system
  // mounted read-only denies everyone. It holds one folder already.
  const std::string locked = folder_.File("locked");
  const SmallDrive readOnly(locked, 64, true, "mkdir there");
  ASSERT_TRUE(readOnly.mounted());
  const std::string there = locked + "\\there\\";
  const std::vector<std::string> seen =
      RunWithWindows(installer, there, {{"Possibly corrupted archive", IDOK}});
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1], "I/O Error: Writing\n\n" + there +
                         "a.txt\n\nPossibly corrupted archive or file locked.");
  std::string record;
  EXPECT_EQ(RunSilently(installer, there, &record), 2u);
  EXPECT_TRUE(Contains(record, "File " + there + "a.txt: failed")) << record;
  EXPECT_EQ(RunSilently(installer, locked + "\\new\\", &record), 4u);
  EXPECT_TRUE(Contains(record, "Destination " + locked + "\\new\\: cannot be created")) << record;
  EXPECT_EQ(FolderEntries(there), std::vector<std::string>{});
  EXPECT_EQ(FolderEntries(temp_), std::vector<std::string>{});

  // A folder whose files reach 259 characters (the longest a path may have), or pass it, or
  // that is itself too long to make: each gets its own report, and nothing goes to a
  // shortened path. At the limit the file fits but Uninstall.exe, a longer name, does not.
  const std::string deep = folder_.Subfolder("deep");
  std::string levels;
  while (deep.size() + levels.size() < 230) {
    levels += "level\\";
  }
  struct Long {
    std::size_t fileLength;  // of the folder and "a.txt"
    DWORD exitCode;
    std::string record;  // after the folder
    bool installed;
  };
  for (const Long& run :
       {Long{259, 5, "Uninstall.exe: not installed", true}, Long{262, 2, "a.txt: failed", false},
        Long{275, 4, ": cannot be created", false}}) {
    SCOPED_TRACE("a path of " + std::to_string(run.fileLength));
    const std::string last(run.fileLength - deep.size() - levels.size() - 1 - 5, 'n');
    const std::string folder = deep + levels + last + "\\";
    ASSERT_EQ((folder + "a.txt").size(), run.fileLength);
    EXPECT_EQ(RunSilently(installer, folder, &record), run.exitCode);
    EXPECT_TRUE(Contains(record, folder + run.record)) << record;
    std::vector<std::string> files;
    FilesBelow(deep, "", files);
    EXPECT_EQ(files, run.installed ? std::vector<std::string>{levels + last + "\\a.txt"}
                                   : std::vector<std::string>{});
    if (run.installed) {
      EXPECT_EQ(ReadTextFile(folder + "a.txt").value_or("<missing>"), "a");
    }
    EXPECT_EQ(FolderEntries(temp_), std::vector<std::string>{});
    RemoveTree(deep);
    ::CreateDirectoryA(deep.c_str(), nullptr);
  }
}

// Each outcome is told once and as it is: no uninstaller gives the summary and no success
// message; a destination that cannot be made names itself and the system's reason, and the
// dialog stays; the extension gets the destination exactly as typed.
TEST_F(Faults, EachOutcomeIsToldOnceAndAsItIs) {
  Source("a.txt", "a");
  const std::string installer =
      Installer({"a.txt"}, true,
                "Dll=ext.dll\r\nDllSource=" + BesideTests("extension_fixture.dll") +
                    "\r\n[Before]\r\nAdvanced=1\r\nFunction=RecordBefore\r\n");
  ASSERT_FALSE(installer.empty());
  const std::string calls = folder_.File("calls.txt");
  const ScopedEnvironment callsVariable("VORLATCH_EXTENSION_RECORD", calls);
  const std::string noUninstaller = folder_.Subfolder("NoUninstaller");
  ASSERT_TRUE(::CreateDirectoryA((noUninstaller + "Uninstall.exe").c_str(), nullptr));
  ASSERT_TRUE(WriteTextFile(folder_.File("file"), ""));
  const std::string belowFile = folder_.File("file") + "\\Tool";
  const std::string typed = folder_.path() + "Typed";
  struct Run {
    std::string destination, message;
    DWORD exitCode;  // unattended
    std::string record;
  };
  for (const Run& run :
       {Run{noUninstaller, "Info: There were errors during extraction.", 5, "not installed"},
        Run{belowFile,
            "Error: Can't create the folder\n\n" + belowFile + "\n\nFile already exists.", 4,
            "cannot be created (File already exists.)"},
        Run{typed, product_ + ": Successfully installed.", 0, "Successfully installed."}}) {
    SCOPED_TRACE(run.destination);
    ::DeleteFileA(calls.c_str());
    ChildProcess stub;
    ASSERT_TRUE(stub.Start(Quoted(installer)));
    const HWND dialog = WaitForWindow({stub.processId(), "", "", "Please select destination"});
    SetControlText(dialog, IDC_DESTINATION_PATH, run.destination);
    PressButton(dialog, IDC_NEXT);
    ProcessResult result;
    if (run.exitCode == 4) {
      const HWND box = WaitForWindow({stub.processId(), kCaptionError});
      EXPECT_EQ(Snapshot(box).caption + ": " + Snapshot(box).MessageText(), run.message);
      PressButton(box, IDOK);
      EXPECT_TRUE(WaitForWindowGone(box) && ::IsWindowVisible(dialog));
      PressButton(dialog, IDCANCEL);
      result = stub.Wait(kRunTimeoutMs);
    } else {
      EXPECT_EQ(AnswerUntilEnd(stub, {{run.message.substr(run.message.find(": ") + 2)}}, result),
                std::vector<std::string>{run.message});
    }
    EXPECT_TRUE(result.finished && result.exitCode == 0);
    EXPECT_EQ(ReadTextFile(calls).value_or(""),
              run.exitCode == 4 ? "" : "RecordBefore|" + run.destination + "\r\n");
    std::string record;
    EXPECT_EQ(RunSilently(installer, run.destination, &record), run.exitCode);
    EXPECT_TRUE(Contains(record, run.record)) << record;
    EXPECT_EQ(Contains(record, "Successfully installed."), run.exitCode == 0) << record;
  }
}

TEST_F(Faults, AnInstallerKilledHalfWayInstallsCleanlyTheSecondTime) {
  std::vector<std::string> names;
  std::vector<std::vector<std::uint8_t>> contents;
  for (int i = 1; i <= 24; ++i) {
    names.push_back("part" + std::to_string(100 + i) + ".bin");
    contents.push_back(NoiseBytes(2 * 1024 * 1024, static_cast<std::uint32_t>(i)));
    Source(names.back(), contents.back());
  }
  // zlib: LZMA at its strongest takes long over 48 MB of noise, and the point here is the kill.
  const std::string installer = Installer(names, true, "[Build]\r\nCompression=zlib\r\n");
  ASSERT_FALSE(installer.empty());
  const std::string dest = folder_.File("killed") + "\\";

  ChildProcess stub;
  ASSERT_TRUE(stub.Start(Quoted(installer) + " /S /D=" + dest));
  // Killed once the extraction is under way: a few files written, most not yet.
  const DWORD deadline = ::GetTickCount() + kRunTimeoutMs;
  while (FolderEntries(dest).size() < 4 && !HasEnded(stub.processId()) &&
         ::GetTickCount() < deadline) {
    ::Sleep(2);
  }
  {
    UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, stub.processId()));
    ASSERT_TRUE(process);
    ASSERT_TRUE(::TerminateProcess(process.get(), 9));
    ::WaitForSingleObject(process.get(), 10000);
  }
  const std::vector<std::string> half = FolderEntries(dest);
  ASSERT_LT(half.size(), names.size() + 1) << "the installer finished before it was killed";
  // The killed run leaves its own temporary folder behind; nothing else is in the way.
  const std::vector<std::string> leftOver = FolderEntries(temp_);
  EXPECT_EQ(leftOver.size(), 1u);

  std::string record;
  EXPECT_EQ(RunSilently(installer, dest, &record), 0u) << record;
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(ReadFileBytes(dest + names[i]), contents[i]) << names[i];
  }
  EXPECT_EQ(FolderEntries(temp_), leftOver);

  // The second run's log names every file: the uninstaller removes the whole installation.
  const UnattendedResult removal = RunUnattended(dest + "Uninstall.exe", "/S");
  EXPECT_EQ(removal.process.exitCode, 0u);
  EXPECT_TRUE(WaitForProgramsIn(folder_.path()));
  EXPECT_FALSE(FileExists(dest));
}

TEST_F(Faults, APackageCutShortGivesTheArchiveErrorAtEveryLength) {
  Source("one.txt", std::string(3000, 'a') + "one");
  Source("two.txt", "two");
  const std::string installer = Installer({"one.txt", "two.txt"}, true);
  ASSERT_FALSE(installer.empty());
  const std::vector<std::uint8_t> whole =
      ReadFileBytes(installer).value_or(std::vector<std::uint8_t>{});
  ASSERT_FALSE(whole.empty());

  // Where the parts of the package lie.
  const Bytes package = PackageOf(whole);
  const auto block = LocateScriptBlock(package);
  ASSERT_TRUE(block);
  const auto scriptBytes = InflateItem(*block);
  ASSERT_TRUE(scriptBytes);
  const packer::IniText script =
      packer::IniText::Parse(std::string(scriptBytes->begin(), scriptBytes->end()));
  const std::size_t end = package.size();
  const std::size_t scriptStart = static_cast<std::size_t>(block->data() - package.data());
  std::vector<std::size_t> lengths;
  std::size_t firstItem = scriptStart;
  for (const std::string& key : {std::string("1"), std::string("2"), std::string("Uninstall")}) {
    const bool numbered = key != "Uninstall";
    const auto pos =
        static_cast<std::size_t>(script.GetInt("File", numbered ? "Pos" + key : key + "Pos"));
    const auto zip =
        static_cast<std::size_t>(script.GetInt("File", numbered ? "Zip" + key : key + "Zip"));
    ASSERT_GT(zip, 32u) << key;
    firstItem = std::min(firstItem, pos);
    // Inside the stream, and across the tail's fields: attributes, times, size.
    for (const std::size_t at :
         {pos + 1, pos + zip / 2, pos + zip - 32, pos + zip - 28, pos + zip - 20, pos + zip - 12,
          pos + zip - 4, pos + zip - 1, pos + zip}) {
      lengths.push_back(at);
    }
  }
  lengths.push_back(firstItem);  // the stub alone
  for (const std::size_t at :
       {scriptStart - 1, scriptStart, scriptStart + 1, scriptStart + block->size() / 2, end - 36,
        end - 8, end - 5, end - 4, end - 3, end - 2, end - 1}) {
    lengths.push_back(at);
  }
  std::sort(lengths.begin(), lengths.end());
  lengths.erase(std::unique(lengths.begin(), lengths.end()), lengths.end());

  const std::string dest = folder_.File("cut") + "\\";
  for (const std::size_t length : lengths) {
    SCOPED_TRACE("cut at " + std::to_string(length) + " of " + std::to_string(end));
    const std::string cut = folder_.File("cut-setup.exe");
    ASSERT_TRUE(WriteFileBytes(
        cut, std::vector<std::uint8_t>(whole.begin(),
                                       whole.begin() + static_cast<std::ptrdiff_t>(length))));
    EXPECT_EQ(RunSilently(cut, dest), 2u);
    EXPECT_FALSE(FileExists(dest));
    EXPECT_EQ(FolderEntries(temp_), std::vector<std::string>{});
  }

  // With windows, the message; both where the trailer points outside the file and where it
  // finds a block (the tail's attributes read as a length of 32) that does not inflate.
  for (const std::size_t length : {end - 1, end - 4 - block->size() - 28}) {
    SCOPED_TRACE("with windows, cut at " + std::to_string(length));
    const std::string cut = folder_.File("cut-setup.exe");
    ASSERT_TRUE(WriteFileBytes(
        cut, std::vector<std::uint8_t>(whole.begin(),
                                       whole.begin() + static_cast<std::ptrdiff_t>(length))));
    ChildProcess stub;
    ASSERT_TRUE(stub.Start(Quoted(cut)));
    ProcessResult result;
    EXPECT_EQ(AnswerUntilEnd(stub, {{"Possibly corrupted archive", IDOK}}, result),
              std::vector<std::string>{"I/O Error: Possibly corrupted archive."});
    EXPECT_FALSE(FileExists(dest));
    EXPECT_EQ(FolderEntries(temp_), std::vector<std::string>{});
  }
}

TEST_F(Faults, ALogEditedToNameFilesOutsideTheInstallationRemovesNoneOfThem) {
  Source("app.txt", "the program");
  // One file of the installation's own in the system folder: that one goes.
  const std::string ownSystemFile = product_ + "-own.dll";
  Source(ownSystemFile, "the installation's");
  const std::string installer = Installer({"app.txt", ownSystemFile}, true, "Target2=[SYSTEM]\r\n");
  ASSERT_FALSE(installer.empty());

  // Files of others, there before the installation (longer than file times may be coarse):
  // beside the installation, in the Windows folder, in the system folder, in Program Files
  // and in another program's folder there.
  const std::string outside = folder_.Subfolder("outside") + "victim.txt";
  const std::string windowsFile = WithTrailingBackslash(WindowsDirectory()) + product_ + ".txt";
  const std::string systemFile = WithTrailingBackslash(SystemDirectory()) + product_ + ".dll";
  const std::string programFiles = WithTrailingBackslash(ProgramFilesDirectory());
  const std::string programFilesFile = programFiles + product_ + ".txt";
  const std::string otherProgram = programFiles + product_ + "-other\\";
  ASSERT_TRUE(::CreateDirectoryA(otherProgram.c_str(), nullptr));
  const std::vector<std::string> victims = {outside, windowsFile, systemFile, programFilesFile,
                                            otherProgram + "victim.txt"};
  for (const std::string& path : victims) {
    ASSERT_TRUE(WriteTextFile(path, "not the installation's"));
  }
  // Program Files by its short name, which names no protected folder as written.
  char shortName[MAX_PATH] = {};
  ASSERT_GT(::GetShortPathNameA(programFiles.c_str(), shortName, MAX_PATH), 0u);
  ASSERT_NE(WithTrailingBackslash(shortName), programFiles);
  ::Sleep(2500);
  const std::string dest = folder_.File("app") + "\\";
  ASSERT_EQ(RunSilently(installer, dest), 0u);
  ASSERT_TRUE(FileExists(WithTrailingBackslash(SystemDirectory()) + ownSystemFile));
  const std::string uninstaller = dest + "Uninstall.exe";
  const std::vector<std::uint8_t> original =
      ReadFileBytes(uninstaller).value_or(std::vector<std::uint8_t>{});
  ASSERT_GT(original.size(), 4u);
  const std::uint32_t logLength = ReadU32(original.data() + original.size() - 4);
  ASSERT_LT(logLength, original.size());
  const std::size_t program = original.size() - 4 - logLength;
  packer::IniText log = packer::IniText::Parse(
      std::string(original.begin() + static_cast<std::ptrdiff_t>(program), original.end() - 4));

  struct Edit {
    std::string what;
    std::string bid;  // empty: as installed
    std::vector<std::string> entries;
  };
  const std::string sibling = "..\\outside\\victim.txt";
  // The installation's own log last: it removes the installation.
  const std::vector<Edit> edits = {
      {"the installation folder moved to the Windows folder",
       WindowsDirectory(),
       {"[BID]" + product_ + ".txt", "[BID]app.txt"}},
      {"the installation folder moved to the system folder",
       SystemDirectory(),
       {"[BID]" + product_ + ".dll"}},
      {"the installation folder moved to Program Files, named by its short name",
       shortName,
       {"[BID]" + product_ + ".txt", "[BID]" + product_ + "-other\\victim.txt"}},
      {"entries that climb out or name other folders",
       "",
       {"[BID]" + sibling, "[BID]\\..\\" + sibling.substr(3), "[bid]sub\\..\\..\\" + sibling,
        outside, "[WINDOWS]" + product_ + ".txt", "[SYSTEM]" + product_ + ".dll",
        "[SYSTEM]..\\" + product_ + ".txt", "[PROGFILES]" + product_ + "-other\\victim.txt"}},
  };
  for (const Edit& edit : edits) {
    SCOPED_TRACE(edit.what);
    packer::IniText edited = log;
    if (!edit.bid.empty()) {
      edited.Set("General", "BID", WithTrailingBackslash(edit.bid));
    }
    const int first = static_cast<int>(edited.GetInt("File", "File")) + 1;
    for (std::size_t i = 0; i < edit.entries.size(); ++i) {
      edited.Set("File", "File" + std::to_string(first + static_cast<int>(i)), edit.entries[i]);
    }
    edited.Set("File", "File", std::to_string(first - 1 + static_cast<int>(edit.entries.size())));
    const std::string text = edited.Serialize();
    std::vector<std::uint8_t> bytes(original.begin(),
                                    original.begin() + static_cast<std::ptrdiff_t>(program));
    bytes.insert(bytes.end(), text.begin(), text.end());
    AppendU32(bytes, static_cast<std::uint32_t>(text.size()));
    // A log of another folder runs from a copy of its own (one may still be removing itself
    // when the next starts); the installation's own from its place.
    const std::string copy =
        edit.bid.empty()
            ? uninstaller
            : folder_.Subfolder("edit " + std::to_string(&edit - &edits[0])) + "Uninstall.exe";
    ASSERT_TRUE(WriteFileBytes(copy, bytes));
    const UnattendedResult removal = RunUnattended(copy, "/S");
    EXPECT_TRUE(removal.process.finished);
    EXPECT_EQ(removal.process.exitCode, 0u);
    EXPECT_TRUE(WaitForProgramsIn(folder_.path()));
    for (const std::string& path : victims) {
      EXPECT_EQ(ReadTextFile(path).value_or("<missing>"), "not the installation's") << path;
    }
    if (edit.bid.empty()) {
      // The installation itself went as it should.
      EXPECT_FALSE(FileExists(dest));
      EXPECT_FALSE(FileExists(WithTrailingBackslash(SystemDirectory()) + ownSystemFile));
    } else {
      // A log that names another folder does not reach this one.
      EXPECT_EQ(ReadTextFile(dest + "app.txt").value_or("<missing>"), "the program");
    }
  }
  for (const std::string& path : victims) {
    ::DeleteFileA(path.c_str());
  }
  ::DeleteFileA((WithTrailingBackslash(SystemDirectory()) + ownSystemFile).c_str());
  ::RemoveDirectoryA(otherProgram.c_str());
}

}  // namespace
}  // namespace vorlatch::test
