#include <gtest/gtest.h>

#include <string>

#include "ui/link_command.h"

namespace vorlatch {
namespace {

TEST(LinkCommand, QuotedPlaceholderIsCutAtItsOpeningQuote) {
  EXPECT_EQ(CommandBeforePlaceholder("\"C:\\Browser\\web.exe\" -nohome \"%1\" -new"),
            "\"C:\\Browser\\web.exe\" -nohome ");
  // The quoted form wins over an earlier bare one.
  EXPECT_EQ(CommandBeforePlaceholder("web.exe %1x \"%1\""), "web.exe %1x ");
}

TEST(LinkCommand, BarePlaceholderOrNoneAtAll) {
  EXPECT_EQ(CommandBeforePlaceholder("web.exe -url %1 -tab %1"), "web.exe -url ");
  EXPECT_EQ(CommandBeforePlaceholder("web.exe \"%2\""), "web.exe \"%2\"");
  EXPECT_EQ(CommandBeforePlaceholder(""), "");
}

TEST(LinkCommand, AddressFollowsOneBlankWithoutQuotes) {
  EXPECT_EQ(LinkCommandLine("\"C:\\web.exe\" \"%1\"", "https://zlib.net/"),
            "\"C:\\web.exe\"  https://zlib.net/");
  EXPECT_EQ(LinkCommandLine("C:\\web.exe", "a b"), "C:\\web.exe a b");
}

TEST(LinkCommand, CommandLineLongerThanTheLimitIsRefusedNotCut) {
  const std::string command = "web.exe ";  // cut leaves "web.exe ", then a blank
  const std::size_t room = kMaxLinkCommandLine - 1 - command.size() - 1;
  const std::string fits(room, 'a');
  ASSERT_TRUE(LinkCommandLine(command + "%1", fits).has_value());
  EXPECT_EQ(LinkCommandLine(command + "%1", fits)->size(), kMaxLinkCommandLine - 1);
  EXPECT_FALSE(LinkCommandLine(command + "%1", fits + "a").has_value());
}

}  // namespace
}  // namespace vorlatch
