#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>

#include "packer/source_file.h"
#include "temp_folder.h"

namespace vorlatch {
namespace {

using testing::ReadBytes;
using testing::ReadText;
using testing::TempFolder;
using testing::WriteFile;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs vorlatch-pack (built beside this test program) with `arguments`.
Result RunPack(const TempFolder& dir, const std::string& arguments,
               const std::string& shellPrefix = "") {
  const std::string program = packer::ProgramDirectory() + "vorlatch-pack";
  const std::string command = shellPrefix + "'" + program + "' " + arguments + " >'" +
                              (dir / "stdout") + "' 2>'" + (dir / "stderr") + "'";
  const int raw = std::system(command.c_str());
  Result result;
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  result.out = ReadText(dir / "stdout");
  result.err = ReadText(dir / "stderr");
  return result;
}

int LineCount(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

TEST(PackCommand, BuildAndInspectSucceedWithStatusZero) {
  TempFolder dir;
  ASSERT_TRUE(dir.ok());
  WriteFile(dir / "stub.exe", "MZ stub");
  WriteFile(dir / "a.txt", "alpha");
  WriteFile(dir / "p.vlp", "[General]\nProduct=Cli\n[File]\nFile=1\nFile1=a.txt\n");
  const auto built = RunPack(dir, "build '" + (dir / "p.vlp") + "' --stub '" + (dir / "stub.exe") +
                                      "' -o '" + (dir / "cli.exe") + "'");
  EXPECT_EQ(built.status, 0) << built.err;
  EXPECT_EQ(built.err, "");
  const auto inspected = RunPack(dir, "inspect '" + (dir / "cli.exe") + "'");
  EXPECT_EQ(inspected.status, 0) << inspected.err;
  EXPECT_NE(inspected.out.find("Product=Cli"), std::string::npos) << inspected.out;
  EXPECT_NE(inspected.out.find("[File] File1=a.txt"), std::string::npos) << inspected.out;
  EXPECT_EQ(inspected.out.find("BAD"), std::string::npos) << inspected.out;

  const auto help = RunPack(dir, "--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("vorlatch-pack build PROJECT"), std::string::npos);
}

TEST(PackCommand, FailuresExitNonZeroWithOneLineNamingTheFile) {
  TempFolder dir;
  ASSERT_TRUE(dir.ok());
  WriteFile(dir / "stub.exe", "MZ stub");
  WriteFile(dir / "p.vlp", "[File]\nFile=1\nFile1=gone.txt\n");
  const auto missing =
      RunPack(dir, "build '" + (dir / "p.vlp") + "' --stub '" + (dir / "stub.exe") + "'");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(LineCount(missing.err), 1) << missing.err;
  EXPECT_NE(missing.err.find(dir / "p.vlp"), std::string::npos) << missing.err;
  EXPECT_NE(missing.err.find(dir / "gone.txt"), std::string::npos) << missing.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "p.exe"));

  WriteFile(dir / "junk.exe", "junk");
  const auto junk = RunPack(dir, "inspect '" + (dir / "junk.exe") + "'");
  EXPECT_EQ(junk.status, 1);
  EXPECT_EQ(LineCount(junk.err), 1) << junk.err;
  EXPECT_NE(junk.err.find(dir / "junk.exe"), std::string::npos) << junk.err;

  for (const char* usage : {"", "frobnicate", "build", "build a.vlp b.vlp", "build a.vlp -o",
                            "build a.vlp --bogus", "inspect", "inspect a b"}) {
    const auto result = RunPack(dir, usage);
    EXPECT_EQ(result.status, 2) << usage;
    EXPECT_EQ(LineCount(result.err), 1) << usage << ": " << result.err;
  }
}

// A checkout made at another time builds the same bytes when the build environment names the
// time of the sources' last change; times before it stay as they are.
TEST(PackCommand, SourceDateEpochGivesTheSameBytesForACheckoutOfAnotherTime) {
  TempFolder dir;
  ASSERT_TRUE(dir.ok());
  WriteFile(dir / "stub.exe", "MZ stub");
  WriteFile(dir / "old.txt", "old");
  WriteFile(dir / "new.txt", "new");
  WriteFile(dir / "p.vlp", "[File]\nFile=2\nFile1=old.txt\nFile2=new.txt\n");
  ASSERT_TRUE(testing::SetTimes(dir / "old.txt", 1000000000, 1000000000));
  const auto build = [&](const std::string& environment, const std::string& out) {
    return RunPack(dir,
                   "build '" + (dir / "p.vlp") + "' --stub '" + (dir / "stub.exe") + "' -o '" +
                       (dir / out) + "'",
                   environment);
  };
  for (const char* checkout : {"first", "later"}) {
    const long long at = checkout == std::string("first") ? 1800000000 : 1900000000;
    ASSERT_TRUE(testing::SetTimes(dir / "new.txt", at, at));
    ASSERT_TRUE(testing::SetTimes(dir / "p.vlp", at, at));
    EXPECT_EQ(build("SOURCE_DATE_EPOCH=1700000000 ", std::string(checkout) + ".exe").status, 0);
    EXPECT_EQ(build("", std::string(checkout) + "-unclamped.exe").status, 0);
  }
  EXPECT_EQ(ReadBytes(dir / "first.exe"), ReadBytes(dir / "later.exe"));
  EXPECT_NE(ReadBytes(dir / "first-unclamped.exe"), ReadBytes(dir / "later-unclamped.exe"));

  // A locked installer takes its key from the project then; otherwise a fresh one each build.
  WriteFile(dir / "p.vlp", "[File]\nFile=1\nFile1=old.txt\n[Build]\nPassword=secret\n");
  for (const char* locked : {"locked1", "locked2"}) {
    EXPECT_EQ(build("SOURCE_DATE_EPOCH=1700000000 ", std::string(locked) + ".exe").status, 0);
    EXPECT_EQ(build("", std::string(locked) + "-random.exe").status, 0);
  }
  EXPECT_EQ(ReadBytes(dir / "locked1.exe"), ReadBytes(dir / "locked2.exe"));
  EXPECT_NE(ReadBytes(dir / "locked1-random.exe"), ReadBytes(dir / "locked2-random.exe"));
  const auto inspected = RunPack(dir, "inspect '" + (dir / "later.exe") + "'");
  EXPECT_NE(inspected.out.find("written 2001-09-09 01:46:40 UTC"), std::string::npos);
  EXPECT_NE(inspected.out.find("written 2023-11-14 22:13:20 UTC"), std::string::npos);

  for (const char* bad : {"soon", "-5", "17e8", "", "99999999999999"}) {
    const auto result = build("SOURCE_DATE_EPOCH='" + std::string(bad) + "' ", "bad.exe");
    EXPECT_EQ(result.status, 2) << bad;
    EXPECT_NE(result.err.find("SOURCE_DATE_EPOCH"), std::string::npos) << result.err;
  }
}

// A source larger than the memory the packer may have: one line naming it, and neither the
// installer nor its temporary file is left.
TEST(PackCommand, ASourceLargerThanMemoryIsPackedInPieces) {
  TempFolder dir;
  ASSERT_TRUE(dir.ok());
  WriteFile(dir / "stub.exe", "MZ stub");
  WriteFile(dir / "p.vlp", "[File]\nFile=1\nFile1=huge.bin\n");
  // Sparse: no disk space, but 1 GiB to read.
  { std::ofstream(dir / "huge.bin"); }
  std::filesystem::resize_file(dir / "huge.bin", 1ull << 30);
  // 256 MiB of address space for the packer alone (ulimit in its own shell).
  const auto result =
      RunPack(dir,
              "build --compression zlib --jobs 2 '" + (dir / "p.vlp") + "' --stub '" +
                  (dir / "stub.exe") + "' -o '" + (dir / "p.exe") + "'",
              "ulimit -v 262144 && ");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(
      testing::NamesIn(dir.path()),
      (std::vector<std::string>{"huge.bin", "p.exe", "p.vlp", "stderr", "stdout", "stub.exe"}));
}

TEST(PackCommand, ProgressShowsOnATerminal) {
  TempFolder dir;
  ASSERT_TRUE(dir.ok());
  WriteFile(dir / "stub.exe", "MZ stub");
  WriteFile(dir / "a.txt", "alpha");
  WriteFile(dir / "p.vlp", "[File]\nFile=1\nFile1=a.txt\n");
  // script(1) runs the packer with a terminal as its output; without one it prints nothing
  // more (BuildAndInspectSucceedWithStatusZero).
  const std::string command = "script -qec \"'" + packer::ProgramDirectory() +
                              "vorlatch-pack' build '" + (dir / "p.vlp") + "' --stub '" +
                              (dir / "stub.exe") + "'\" /dev/null >'" + (dir / "typed") + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_NE(ReadText(dir / "typed").find("\rpacking: 0.0 of 0.0 MB (100%), a.txt"),
            std::string::npos)
      << ReadText(dir / "typed");
}

}  // namespace
}  // namespace vorlatch
