#pragma once
// The x86 branch filter for program images: the 32-bit displacement after each call (E8) or
// jump (E9) is made absolute before compression, so that calls to one function look alike
// and compress better; decoding makes it relative again. Only displacements whose top byte is
// 00 or FF (near targets) are converted. Positions count from the item's first byte.
// Portable: no <windows.h>.

#include <cstddef>
#include <cstdint>
#include <span>

namespace vorlatch {

class X86BranchFilter {
 public:
  // Converts `bytes`, which follow the bytes given before, in place, and returns how many of
  // them are final. The others (at most 4, the end of a possible displacement) come again at
  // the front of the next call; at the item's end they stay as they are.
  std::size_t Encode(std::span<std::uint8_t> bytes) { return Convert(bytes, true); }
  std::size_t Decode(std::span<std::uint8_t> bytes) { return Convert(bytes, false); }

 private:
  std::size_t Convert(std::span<std::uint8_t> bytes, bool encoding);

  std::uint32_t position_ = 0;  // of the next byte given
  std::uint32_t lastOpcode_ = 0;
  // Opcodes of the last three bytes left as they were: bit d for one d bytes before the
  // current one; in `nearSkipped_`, those whose displacement had a top byte of 00 or FF.
  std::uint8_t skipped_ = 0;
  std::uint8_t nearSkipped_ = 0;
};

}  // namespace vorlatch
