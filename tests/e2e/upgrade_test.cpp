// A newer version of a package installed over the earlier one: the package's overwrite rules
// decide without the question, and a file that another program holds open is put in place at
// the next restart.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "actions/uninstall_log.h"
#include "support/run_answers.h"
#include "support/test_files.h"
#include "win/handles.h"

namespace vorlatch::test {
namespace {

constexpr int kDestinationEdit = 1007;
constexpr int kDestinationNext = 1010;

using Files = std::vector<std::pair<std::string, std::string>>;  // name, source

class Upgrade : public ::testing::Test {
 protected:
  void TearDown() override {
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, (kUninstallKeyPrefix + product_).c_str());
  }

  // A source file with this text, written now.
  std::string Text(const std::string& name, const std::string& text) {
    EXPECT_TRUE(WriteTextFile(sources_ + name, text));
    return sources_ + name;
  }

  std::string Build(const Files& files, const std::string& keys) {
    std::string project = "[General]\r\n" + Line("Product", product_) + "[File]\r\n" +
                          Line("File", std::to_string(files.size())) + "Uninstall=1\r\n" + keys;
    for (std::size_t i = 0; i < files.size(); ++i) {
      const std::string n = std::to_string(i + 1);
      project += Line("File" + n, files[i].first) + Line("Source" + n, files[i].second);
    }
    std::string error;
    const std::string installer = BuildTestInstaller(folder_, project, error);
    EXPECT_FALSE(installer.empty()) << error;
    return installer;
  }

  // Installed with windows: the destination typed, then `replies`; every window it showed.
  std::vector<std::string> Install(const Files& files, const std::string& keys,
                                   std::vector<Reply> replies) {
    ChildProcess stub;
    EXPECT_TRUE(stub.Start(Quoted(Build(files, keys))));
    replies.insert(replies.begin(), Reply{"Please select destination directory:", kDestinationNext,
                                          kDestinationEdit, dest_});
    replies.push_back(Reply{"Successfully installed.", IDOK});
    ProcessResult result;
    std::vector<std::string> seen = AnswerUntilEnd(stub, replies, result);
    EXPECT_TRUE(result.finished);
    return seen;
  }

  // Installed with /S; the exit code.
  DWORD InstallUnattended(const Files& files, const std::string& keys) {
    const ProcessResult result = RunProcess(
        Quoted(Build(files, keys)) + " /S /LOG=" + Quoted(log_) + " /D=" + dest_, kRunTimeoutMs);
    EXPECT_TRUE(result.finished);
    return result.exitCode;
  }

  std::string Content(const std::string& path) const {
    return ReadTextFile(path).value_or("<missing>");
  }

  TempFolder folder_;
  // The installer's temporary folder, apart: targets inside it are written without a question.
  std::string temp_ = folder_.Subfolder("temp");
  ScopedEnvironment tmp_{"Tmp", temp_};
  ScopedEnvironment tempVariable_{"Temp", temp_};
  std::string sources_ = folder_.Subfolder("sources");
  std::string dest_ = folder_.Subfolder("dest");
  std::string log_ = folder_.File("run.log");
  std::string product_ = "VorlatchUpgrade" + std::to_string(::GetCurrentProcessId());
};

TEST_F(Upgrade, OursReplacesWhatTheEarlierVersionWroteAndAsksAboutWhatTheUserChanged) {
  const std::string ours = "Overwrite=ours\r\n";
  Install({{"a.txt", Text("a.txt", "a 1.0")}, {"b.txt", Text("b.txt", "b 1.0")}}, ours, {});
  ASSERT_TRUE(WriteTextFile(dest_ + "b.txt", "the user's b"));
  const std::vector<std::string> seen =
      Install({{"a.txt", Text("a.txt", "a 1.1")},
               {"b.txt", Text("b.txt", "b 1.1")},
               {"c.txt", Text("c.txt", "c 1.1")}},
              ours, {{"Setup has found the program in", IDYES}, {"b.txt exists.", IDNO}});
  // The destination, the repair question, the one overwrite question, the success.
  EXPECT_EQ(seen.size(), 4u);
  EXPECT_EQ(Content(dest_ + "a.txt"), "a 1.1");
  EXPECT_EQ(Content(dest_ + "b.txt"), "the user's b");
  EXPECT_EQ(Content(dest_ + "c.txt"), "c 1.1");
}

TEST_F(Upgrade, EachRuleKeepsOrReplacesWithoutAQuestion) {
  const std::string v1 = BesideTests("versioned_1.dll");
  const std::string v2 = BesideTests("versioned_2.dll");
  const std::uint64_t packedTime = TicksOfDate(2020, 1, 1, 0, 0, 0);
  struct Row {
    std::string name, rule, existing;
    std::uint64_t existingTime;  // 0: as written now
    std::string packed;
    bool kept;
    std::string logged;
  };
  const std::vector<Row> rows = {
      {"always.txt", "always", Text("old1", "old"), 0, Text("new1", "new"), false,
       "installed (Overwrite=always)"},
      {"never.txt", "never", Text("old2", "old"), 0, Text("new2", "new"), true,
       "kept as it was (Overwrite=never)"},
      {"newer.dll", "ifnewer", v2, 0, v1, true,
       "kept as it was (its version 2.0.0.0 is newer than 1.0.0.0)"},
      {"older.dll", "ifnewer", v1, 0, v2, false, "installed (version 1.0.0.0 replaced by 2.0.0.0)"},
      {"later.txt", "ifnewer", Text("old3", "old"), TicksOfDate(2030, 1, 1, 0, 0, 0),
       Text("new3", "new"), true, "kept as it was (it was written later than the packed file)"},
      {"earlier.txt", "ifnewer", Text("old4", "old"), TicksOfDate(2010, 1, 1, 0, 0, 0),
       Text("new4", "new"), false, "installed (the packed file is as new or newer)"}};
  Files files;
  std::string keys;
  for (const Row& row : rows) {
    files.emplace_back(row.name, row.packed);
    keys += Line("Overwrite" + std::to_string(files.size()), row.rule);
    ASSERT_TRUE(::CopyFileA(row.existing.c_str(), (dest_ + row.name).c_str(), FALSE));
    ASSERT_TRUE(SetFileTimes(row.packed, {packedTime, packedTime, packedTime}));
    if (row.existingTime != 0) {
      ASSERT_TRUE(SetFileTimes(dest_ + row.name, {row.existingTime, 0, row.existingTime}));
    }
  }
  EXPECT_EQ(InstallUnattended(files, keys), 0u);
  const std::string log = Content(log_);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(ReadFileBytes(dest_ + row.name), ReadFileBytes(row.kept ? row.existing : row.packed));
    EXPECT_TRUE(Contains(log, "File " + dest_ + row.name + ": " + row.logged + "\r\n")) << log;
  }
}

TEST_F(Upgrade, AFileListedTwiceInAFolderItMadeIsFoundTheSecondTime) {
  // Files go in from the last listed: the first one listed meets the second one's file.
  EXPECT_EQ(InstallUnattended({{"made\\twice.txt", Text("first", "first")},
                               {"made\\TWICE.txt", Text("second", "second")}},
                              "Overwrite=never\r\n"),
            0u);
  EXPECT_EQ(Content(dest_ + "made\\twice.txt"), "second");
  const std::string log = Content(log_);
  EXPECT_TRUE(Contains(log, "File " + dest_ + "made\\twice.txt: kept as it was (Overwrite=never)"))
      << log;
}

TEST_F(Upgrade, AFileInUseIsPutInPlaceAtTheNextRestart) {
  const std::string held = dest_ + "held.txt";
  const auto version = [&](const std::string& v) {
    return Files{{"held.txt", Text("held.txt", "held " + v)},
                 {"free.txt", Text("free.txt", "free " + v)}};
  };
  ASSERT_EQ(InstallUnattended(version("1.0"), ""), 0u);
  {
    // Held without sharing for writing or deleting, as a running program holds its files.
    const UniqueHandle holder(::CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    // Asked to ask, an unattended run leaves the file out and says so.
    EXPECT_EQ(InstallUnattended(version("1.1"), "InUse=ask\r\n"), 9u);
    EXPECT_TRUE(Contains(Content(log_), held + ": not extracted (in use by another program)"));
    EXPECT_EQ(Content(dest_ + "free.txt"), "free 1.1");
    EXPECT_EQ(InstallUnattended(version("1.2"), ""), 3010u);
    EXPECT_TRUE(Contains(Content(log_), held + ": in use; the new file is put in place"));
    EXPECT_EQ(Content(dest_ + "free.txt"), "free 1.2");
  }
  EXPECT_EQ(Content(held), "held 1.0");
  // Wine performs the pending renames at its restart.
  EXPECT_TRUE(RunProcess("wineboot.exe -r", kRunTimeoutMs).finished);
  EXPECT_EQ(Content(held), "held 1.2");
  std::vector<std::string> entries = FolderEntries(dest_);
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"Uninstall.exe", "free.txt", "held.txt"}));

  // Uninstalled before the restart, the waiting copy goes too: the restart brings nothing back.
  {
    const UniqueHandle holder(::CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_EQ(InstallUnattended(version("1.3"), ""), 3010u);
  }
  EXPECT_EQ(RunProcess(Quoted(dest_ + "Uninstall.exe") + " /S", kRunTimeoutMs).exitCode, 0u);
  EXPECT_TRUE(WaitForProgramsIn(folder_.path()));
  EXPECT_TRUE(RunProcess("wineboot.exe -r", kRunTimeoutMs).finished);
  EXPECT_EQ(FolderEntries(dest_), std::vector<std::string>{});
}

}  // namespace
}  // namespace vorlatch::test
