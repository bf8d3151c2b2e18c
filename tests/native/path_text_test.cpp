#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <vector>

#include <string>

#include "script/path_text.h"

namespace vorlatch {
namespace {

TEST(PathText, TrailingBackslash) {
  EXPECT_EQ(WithTrailingBackslash(""), "");
  EXPECT_EQ(WithTrailingBackslash("C:\\App"), "C:\\App\\");
  EXPECT_EQ(WithTrailingBackslash("C:\\App\\\\\\"), "C:\\App\\");
  EXPECT_EQ(WithTrailingBackslash("\\\\"), "\\");
  EXPECT_EQ(WithoutTrailingBackslash("C:\\App\\\\"), "C:\\App");
  EXPECT_EQ(WithoutTrailingBackslash("C:\\App"), "C:\\App");
  EXPECT_EQ(WithoutTrailingBackslash("\\\\"), "");
  EXPECT_EQ(WithoutTrailingBackslash(""), "");
}

TEST(PathText, FileNameAndExtension) {
  EXPECT_EQ(FileNameOf("C:\\App\\run.exe"), "run.exe");
  EXPECT_EQ(FileNameOf("run.exe"), "run.exe");
  EXPECT_EQ(FileNameOf("C:\\App\\"), "");
  // The first full stop of the file name, not of the directory part.
  EXPECT_EQ(ExtensionOf("C:\\my.dir\\a.tar.gz"), "tar.gz");
  EXPECT_EQ(ExtensionOf("C:\\my.dir\\readme"), "");
  EXPECT_EQ(ExtensionOf("name."), "");
  // A quote after the first character closes a quoted command; one at the start stays.
  EXPECT_EQ(ExtensionOf("\"C:\\App\\run.exe\" /s"), "exe");
  EXPECT_EQ(ExtensionOf("a.\"b"), "\"b");
  EXPECT_EQ(NameWithoutExtension("setup.tar.gz"), "setup");
  EXPECT_EQ(NameWithoutExtension("readme"), "");
  EXPECT_EQ(NameWithoutExtension(".profile"), "");
}

TEST(PathText, CollapsesEveryRunOfBackslashes) {
  EXPECT_EQ(CollapseBackslashes("C:\\App\\\\\\sub\\\\run.exe"), "C:\\App\\sub\\run.exe");
  EXPECT_EQ(CollapseBackslashes("plain"), "plain");
  EXPECT_EQ(CollapseBackslashes(""), "");
}

TEST(PathText, MacroMatching) {
  EXPECT_TRUE(EqualsIgnoringCase("[date]", kMacroDate));
  EXPECT_TRUE(EqualsIgnoringCase("[Bid]", kMacroBid));
  EXPECT_FALSE(EqualsIgnoringCase("[Date] x", kMacroDate));
  EXPECT_FALSE(EqualsIgnoringCase("[BID", kMacroBid));

  EXPECT_EQ(RestAfterLeadingMacro("[BID]DATA", kMacroBid), "DATA");
  EXPECT_EQ(RestAfterLeadingMacro("[BID]", kMacroBid), "");
  EXPECT_EQ(RestAfterLeadingMacro("PREFIX[BID]", kMacroBid), std::nullopt);
  EXPECT_EQ(RestAfterLeadingMacro("[BI", kMacroBid), std::nullopt);
  EXPECT_EQ(RestAfterLeadingMacro("", kMacroBid), std::nullopt);
}

TEST(PathText, ProgramFilesFromTheLookupOrTheWindowsDrive) {
  EXPECT_EQ(ProgramFilesDirectoryFrom("D:\\WINNT\\", std::string("E:\\Apps\\\\")), "E:\\Apps\\");
  EXPECT_EQ(ProgramFilesDirectoryFrom("D:\\WINNT\\", std::nullopt), "D:\\Program Files\\");
  EXPECT_EQ(ProgramFilesDirectoryFrom("", std::nullopt), "C:\\Program Files\\");
}

TEST(PathText, OleAutomationDates) {
  EXPECT_EQ(OleDateFromLocalTime({1899, 12, 30, 0, 0, 0}), 0.0);
  EXPECT_EQ(OleDateFromLocalTime({1900, 1, 1, 12, 0, 0}), 2.5);
  // Before the epoch the day counts backwards and the time of day still forwards.
  EXPECT_EQ(OleDateFromLocalTime({1899, 12, 29, 6, 0, 0}), -1.25);
  // Leap days: 2000 is a leap year, 1900 is not.
  EXPECT_EQ(
      OleDateFromLocalTime({2000, 3, 1, 0, 0, 0}) - OleDateFromLocalTime({2000, 2, 28, 0, 0, 0}),
      2.0);
  EXPECT_EQ(
      OleDateFromLocalTime({1900, 3, 1, 0, 0, 0}) - OleDateFromLocalTime({1900, 2, 28, 0, 0, 0}),
      1.0);
  const double evening = OleDateFromLocalTime({2002, 9, 5, 21, 7, 0});
  EXPECT_NEAR(evening, 37504.0 + (21 * 60 + 7) / 1440.0, 1e-9);
  EXPECT_EQ(FormatOleDate(evening), "37504.88");
  EXPECT_EQ(FormatOleDate(-1.25), "-1.25");
  EXPECT_EQ(FormatOleDate(0.0), "0.00");
}

// The date's own formatting gives what the C library's "%.2f" gives, ties and extremes too.
TEST(PathText, OleDateTextIsTheLibrarysTwoDecimals) {
  std::vector<double> values = {0.125,   0.375,  2.675, -0.001, -0.0, 1e-300,
                                5e-324,  0.005,  0.015, 99.995, 1e15, 123456789012345678.0,
                                1.7e308, -2.5e20};
  std::uint64_t state = 88172645463325252u;
  for (int i = 0; i < 20000; ++i) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    // Dates of a few centuries with every time of day, and arbitrary bit patterns.
    values.push_back(i % 2 == 0 ? static_cast<double>(state % 400000000) / 8640.0 - 20000.0
                                : std::bit_cast<double>(state));
  }
  for (const double value : values) {
    if (!std::isfinite(value)) {
      continue;
    }
    char expected[400];
    std::snprintf(expected, sizeof expected, "%.2f", value);
    ASSERT_EQ(FormatOleDate(value), expected) << value;
  }
}

}  // namespace
}  // namespace vorlatch
