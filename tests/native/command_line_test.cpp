#include "package/command_line.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vorlatch {
namespace {

TEST(PackagePathFromCommandLine, QuotedProgramAloneIsThatProgramWithoutQuotes) {
  EXPECT_EQ(PackagePathFromCommandLine("\"C:\\Setup Files\\setup.exe\""),
            "C:\\Setup Files\\setup.exe");
  EXPECT_EQ(PackagePathFromCommandLine("  \t\"C:\\a b\\setup.exe\"   "), "C:\\a b\\setup.exe");
  // Blanks inside the quotes stay; the quotes go.
  EXPECT_EQ(PackagePathFromCommandLine("\" C:\\setup.exe \""), " C:\\setup.exe ");
}

TEST(PackagePathFromCommandLine, ArgumentAfterQuotedProgramIsThePackage) {
  EXPECT_EQ(PackagePathFromCommandLine("\"C:\\stub.exe\" D:\\pkg\\setup.exe"),
            "D:\\pkg\\setup.exe");
  EXPECT_EQ(PackagePathFromCommandLine("\"C:\\stub.exe\"D:\\setup.exe"), "D:\\setup.exe");
  // The whole rest is the argument, quotes and all, trimmed at both ends.
  EXPECT_EQ(PackagePathFromCommandLine("\"C:\\stub.exe\"   \"D:\\a b.exe\" \r\n"),
            "\"D:\\a b.exe\"");
  EXPECT_EQ(PackagePathFromCommandLine("\"C:\\stub.exe\" one two"), "one two");
}

TEST(PackagePathFromCommandLine, UnquotedCommandLineIsUsedWhole) {
  EXPECT_EQ(PackagePathFromCommandLine("C:\\setup.exe"), "C:\\setup.exe");
  // Arguments stay part of the path, so such a command line does not open; only the
  // installer's own switches end an unquoted program path.
  EXPECT_EQ(PackagePathFromCommandLine("  C:\\setup.exe /x  "), "C:\\setup.exe /x  ");
  EXPECT_EQ(PackagePathFromCommandLine("  C:\\setup.exe /s  "), "C:\\setup.exe");
}

TEST(PackagePathFromCommandLine, NoPath) {
  EXPECT_EQ(PackagePathFromCommandLine(""), "");
  EXPECT_EQ(PackagePathFromCommandLine(" \t "), "");
  // A quote that never closes names nothing.
  EXPECT_EQ(PackagePathFromCommandLine("\"C:\\setup.exe"), "");
  EXPECT_EQ(PackagePathFromCommandLine("\""), "");
  // An empty pair of quotes is an empty program path.
  EXPECT_EQ(PackagePathFromCommandLine("\"\""), "");
  EXPECT_EQ(PackagePathFromCommandLine("\"\"  "), "");
}

}  // namespace
}  // namespace vorlatch

namespace vorlatch {
namespace {

struct SwitchCase {
  std::string_view commandLine;
  std::string packagePath;
  bool silent;
  std::optional<std::string> logFile;
  std::optional<std::string> password;
  std::optional<std::string> destination;
};

TEST(ParseStubCommandLine, SwitchesOfAnUnattendedRun) {
  const std::string self = "C:\\Setup Files\\setup.exe";
  const std::vector<SwitchCase> cases = {
      {"\"C:\\Setup Files\\setup.exe\" /s /log=C:\\run.log", self, true, "C:\\run.log", {}, {}},
      // Quoted values keep their blanks; /D= takes the rest as it stands.
      {"\"C:\\Setup Files\\setup.exe\"/S /LOG=\"C:\\a b\\run.log\" /Password=\"se cret\" "
       "/D=C:\\Program Files\\My App  \r\n",
       self, true, "C:\\a b\\run.log", "se cret", "C:\\Program Files\\My App"},
      {"\"C:\\Setup Files\\setup.exe\" /D=C:\\x /S", self, false, {}, {}, "C:\\x /S"},
      {"\"C:\\Setup Files\\setup.exe\" /PASSWORD= /S", self, true, {}, "", {}},
      // An unquoted program path ends where its first switch begins.
      {"C:\\setup.exe /S /D=D:\\Apps\\Tool", "C:\\setup.exe", true, {}, {}, "D:\\Apps\\Tool"},
      // Anything that does not start with one of the switches keeps the plain rules.
      {"\"C:\\Setup Files\\setup.exe\" /extra /S", "/extra /S", false, {}, {}, {}},
      {"\"C:\\stub.exe\" D:\\pkg\\setup.exe /S", "D:\\pkg\\setup.exe /S", false, {}, {}, {}},
      {"C:\\setup.exe /extra", "C:\\setup.exe /extra", false, {}, {}, {}},
  };
  for (const SwitchCase& c : cases) {
    const StubCommandLine parsed = ParseStubCommandLine(c.commandLine);
    SCOPED_TRACE(std::string(c.commandLine));
    EXPECT_EQ(parsed.packagePath, c.packagePath);
    EXPECT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.silent, c.silent);
    EXPECT_EQ(parsed.logFile, c.logFile);
    EXPECT_EQ(parsed.password, c.password);
    EXPECT_EQ(parsed.destination, c.destination);
  }

  // Bad command lines say what is wrong.
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"/S /Start", "unknown switch /Start"},
      {"/S /D=  ", "switch /D= names no directory"},
      {"/S /S", "switch /S given twice"},
      {"/LOG= /S", "switch /LOG= names no file"},
      {"/LOG=a /log=b", "switch /log= given twice"},
      {"/PASSWORD=\"a\"b", "switch /PASSWORD= has a quote that never closes"},
  };
  for (const auto& [switches, error] : bad) {
    EXPECT_EQ(ParseStubCommandLine("\"C:\\setup.exe\" " + switches).error, error) << switches;
  }
}

}  // namespace
}  // namespace vorlatch
