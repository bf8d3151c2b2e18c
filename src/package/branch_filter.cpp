#include "package/branch_filter.h"

namespace vorlatch {

namespace {

bool IsNearTop(std::uint8_t byte) {
  return byte == 0 || byte == 0xFF;
}

}  // namespace

std::size_t X86BranchFilter::Convert(std::span<std::uint8_t> bytes, bool encoding) {
  std::size_t i = 0;
  while (i + 5 <= bytes.size()) {
    std::uint8_t* const at = bytes.data() + i;
    if ((at[0] & 0xFE) != 0xE8) {
      ++i;
      continue;
    }
    const std::uint32_t here = position_ + static_cast<std::uint32_t>(i);
    const std::uint32_t gap = here - lastOpcode_;
    lastOpcode_ = here;
    // Only the last three bytes' opcodes count.
    skipped_ = gap > 3 ? 0 : static_cast<std::uint8_t>((skipped_ << gap) & 0x0E);
    nearSkipped_ = gap > 3 ? 0 : static_cast<std::uint8_t>((nearSkipped_ << gap) & 0x0E);
    // An opcode right after others is more likely part of an operand: converted only after at
    // most one such opcode, and none whose displacement looked near itself.
    if (!IsNearTop(at[4]) || nearSkipped_ != 0 || (skipped_ & (skipped_ - 1)) != 0) {
      ++i;
      skipped_ |= 1;
      nearSkipped_ |= IsNearTop(at[4]) ? 1 : 0;
      continue;
    }
    std::uint32_t value = at[1] | (at[2] << 8) | (at[3] << 16) | (std::uint32_t{at[4]} << 24);
    const std::uint32_t next = here + 5;
    std::uint32_t result = encoding ? value + next : value - next;
    // The opcode skipped before has its displacement's top byte inside this displacement, and
    // that byte was not 00 or FF. Should the result make it so, the bytes from it down are
    // inverted before converting: the result's byte is then the inverse of the one given, so
    // both directions judge that opcode alike.
    const unsigned shift = skipped_ == 2 ? 16 : skipped_ == 4 ? 8 : 0;
    if (skipped_ != 0 && IsNearTop(static_cast<std::uint8_t>(result >> shift))) {
      value = result ^ ((std::uint32_t{1} << (shift + 8)) - 1);
      result = encoding ? value + next : value - next;
    }
    at[1] = static_cast<std::uint8_t>(result);
    at[2] = static_cast<std::uint8_t>(result >> 8);
    at[3] = static_cast<std::uint8_t>(result >> 16);
    at[4] = (result & 0x01000000) != 0 ? 0xFF : 0;
    i += 5;
    skipped_ = 0;
    nearSkipped_ = 0;
  }
  position_ += static_cast<std::uint32_t>(i);
  return i;
}

}  // namespace vorlatch
