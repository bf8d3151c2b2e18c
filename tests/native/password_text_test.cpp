#include "package/password_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vorlatch {
namespace {

std::vector<std::uint8_t> Block(std::initializer_list<int> bytes) {
  std::vector<std::uint8_t> block;
  for (int b : bytes) {
    block.push_back(static_cast<std::uint8_t>(b));
  }
  block.resize(kProtectionBlockSize, 0x55);
  return block;
}

TEST(RebuildPassword, SubtractsTheKeyAndStopsAtTheFirstZero) {
  // 'a' + 1, 'b' + 2, then key 'x' exactly: the password ends although bytes follow.
  const auto block = Block({'a' + 1, 'b' + 2, 'x', 'z', 'z'});
  EXPECT_EQ(RebuildPassword(block, "\x01\x02xyz"), "ab");
  // Block and key equal from the start: the empty password.
  EXPECT_EQ(RebuildPassword(Block({'k', 'e'}), "ke"), "");
  // A zero block byte against no key ends it as well.
  EXPECT_EQ(RebuildPassword(Block({'Q', 0, 'R'}), ""), "Q");
}

TEST(RebuildPassword, WrapsAroundInEightBits) {
  // 0x10 - 0x20 = 0xF0; 0x05 - 0xFF = 0x06; the key's characters count as unsigned.
  const auto block = Block({0x10, 0x05, 0x00});
  EXPECT_EQ(RebuildPassword(block, "\x20\xFF"), "\xF0\x06");
}

TEST(RebuildPassword, PositionsPastTheKeyCountAsZero) {
  const auto block = Block({'A' + 3, 'b', 'c', 0});
  EXPECT_EQ(RebuildPassword(block, "\x03"), "Abc");
}

TEST(RebuildPassword, AtMostSixteenCharactersAndNoByteOutsideTheBlock) {
  std::vector<std::uint8_t> full(kProtectionBlockSize, 'p');
  EXPECT_EQ(RebuildPassword(full, ""), std::string(16, 'p'));
  // A longer span is not read past 16; a shorter one not past its end.
  full.push_back('q');
  EXPECT_EQ(RebuildPassword(full, ""), std::string(16, 'p'));
  const std::vector<std::uint8_t> shorter(5, 'p');
  EXPECT_EQ(RebuildPassword(shorter, ""), "ppppp");
  EXPECT_EQ(RebuildPassword({}, "key"), "");
}

TEST(MakePasswordBlock, IsTheInverseForEveryLengthAndKey) {
  PasswordBlock filler;
  filler.fill(0xA5);
  const std::string keys[] = {"", "k", "0123456789abcdef", "\xFF\xFE\x80~!"};
  for (const std::string& key : keys) {
    for (std::size_t length = 0; length <= 16; ++length) {
      std::string password;
      for (std::size_t i = 0; i < length; ++i) {
        password.push_back(static_cast<char>(i % 2 == 0 ? 'A' + i : 0xE0 + i));  // both halves
      }
      const auto block = MakePasswordBlock(password, key, filler);
      ASSERT_TRUE(block) << length;
      EXPECT_EQ(RebuildPassword(*block, key), password) << "length " << length;
      // Past the terminating byte the filler stays.
      for (std::size_t i = length + 1; i < kProtectionBlockSize; ++i) {
        EXPECT_EQ((*block)[i], 0xA5) << i;
      }
    }
  }
}

TEST(MakePasswordBlock, RefusesWhatCannotComeBackWhole) {
  const PasswordBlock filler{};
  EXPECT_FALSE(MakePasswordBlock(std::string(17, 'x'), "key", filler));
  EXPECT_FALSE(MakePasswordBlock(std::string("ab\0c", 4), "key", filler));
}

TEST(PasswordKeyCharacter, PrintableWithoutBlanksCommentsSeparatorsOrQuotes) {
  std::string allowed;
  for (int c = 0; c < 256; ++c) {
    if (IsPasswordKeyCharacter(static_cast<char>(c))) {
      allowed.push_back(static_cast<char>(c));
    }
  }
  EXPECT_EQ(allowed.size(), 90u);
  for (char c : std::string(" ;=\"'\t\x7F")) {
    EXPECT_EQ(allowed.find(c), std::string::npos) << static_cast<int>(c);
  }
  EXPECT_EQ(allowed.front(), '!');
  EXPECT_EQ(allowed.back(), '~');
}

}  // namespace
}  // namespace vorlatch
