#include "package/branch_filter.h"

namespace vorlatch {

namespace {

bool IsNearTop(std::uint8_t byte) {
  return byte == 0 || byte == 0xFF;
}

}  // namespace

std::size_t X86BranchFilter::Convert(std::span<std::uint8_t> bytes, bool encoding) {
  if (bytes.size() < 5) {
    return 0;
  }
  // The state in locals and a tight scan for the opcodes: the filter runs over every byte of
  // every program image an installer writes.
  std::uint8_t* const begin = bytes.data();
  const std::uint8_t* const last = begin + bytes.size() - 4;  // a displacement fits before it
  std::uint8_t* at = begin;
  std::uint32_t lastOpcode = lastOpcode_;
  std::uint8_t skipped = skipped_;
  std::uint8_t nearSkipped = nearSkipped_;
  for (;;) {
    while (at < last && (*at & 0xFE) != 0xE8) {
      ++at;
    }
    if (at >= last) {
      break;
    }
    const std::uint32_t here = position_ + static_cast<std::uint32_t>(at - begin);
    const std::uint32_t gap = here - lastOpcode;
    lastOpcode = here;
    // Only the last three bytes' opcodes count.
    skipped = gap > 3 ? 0 : static_cast<std::uint8_t>((skipped << gap) & 0x0E);
    nearSkipped = gap > 3 ? 0 : static_cast<std::uint8_t>((nearSkipped << gap) & 0x0E);
    // An opcode right after others is more likely part of an operand: converted only after at
    // most one such opcode, and none whose displacement looked near itself.
    if (!IsNearTop(at[4]) || nearSkipped != 0 || (skipped & (skipped - 1)) != 0) {
      skipped |= 1;
      nearSkipped |= IsNearTop(at[4]) ? 1 : 0;
      ++at;
      continue;
    }
    std::uint32_t value = at[1] | (at[2] << 8) | (at[3] << 16) | (std::uint32_t{at[4]} << 24);
    const std::uint32_t next = here + 5;
    std::uint32_t result = encoding ? value + next : value - next;
    // The opcode skipped before has its displacement's top byte inside this displacement, and
    // that byte was not 00 or FF. Should the result make it so, the bytes from it down are
    // inverted before converting: the result's byte is then the inverse of the one given, so
    // both directions judge that opcode alike.
    const unsigned shift = skipped == 2 ? 16 : skipped == 4 ? 8 : 0;
    if (skipped != 0 && IsNearTop(static_cast<std::uint8_t>(result >> shift))) {
      value = result ^ ((std::uint32_t{1} << (shift + 8)) - 1);
      result = encoding ? value + next : value - next;
    }
    at[1] = static_cast<std::uint8_t>(result);
    at[2] = static_cast<std::uint8_t>(result >> 8);
    at[3] = static_cast<std::uint8_t>(result >> 16);
    at[4] = (result & 0x01000000) != 0 ? 0xFF : 0;
    at += 5;
    skipped = 0;
    nearSkipped = 0;
  }
  const std::size_t done = static_cast<std::size_t>(at - begin);
  position_ += static_cast<std::uint32_t>(done);
  lastOpcode_ = lastOpcode;
  skipped_ = skipped;
  nearSkipped_ = nearSkipped;
  return done;
}

}  // namespace vorlatch
