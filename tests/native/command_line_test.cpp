#include "package/command_line.h"

#include <gtest/gtest.h>

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
  // Arguments stay part of the path, so such a command line does not open.
  EXPECT_EQ(PackagePathFromCommandLine("  C:\\setup.exe /s  "), "C:\\setup.exe /s  ");
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
