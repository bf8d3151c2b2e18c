#pragma once
// The package password in its stored form: a 16-byte protection block and a key in the
// script. Portable (no <windows.h>), so that the packer writes blocks that the stub reads
// back with the same rules, and native tests reach both directions.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "package/format.h"

namespace vorlatch {

inline constexpr std::size_t kMaxPasswordLength = kProtectionBlockSize;

using PasswordBlock = std::array<std::uint8_t, kProtectionBlockSize>;

// The password that `block` and `key` stand for: byte i of the block minus character i of the
// key (0 past the key's end), in 8 bits with wrap-around, up to the first zero result and at
// most 16 characters. Bytes past the block's end are not read.
std::string RebuildPassword(std::span<const std::uint8_t> block, std::string_view key);

// The inverse for a package writer: the block from which RebuildPassword(block, key) gives
// exactly `password`. After a password shorter than 16 comes the byte that rebuilds to 0; the
// bytes after that one are taken from `filler`, which nothing reads. Nothing when the password
// is longer than 16 characters or contains a zero byte (it could not come back whole).
std::optional<PasswordBlock> MakePasswordBlock(std::string_view password, std::string_view key,
                                               const PasswordBlock& filler);

// Whether a character may stand in a key that the script holds: printable ASCII, no blank,
// and none of ; = " ' (which an INI reader takes as a comment, a separator or quotes).
bool IsPasswordKeyCharacter(char c);

}  // namespace vorlatch
