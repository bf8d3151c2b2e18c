#pragma once
// Locking an installer with a password: the builder keeps the password out of the script and
// stores it as a protection block plus a random key that the script carries. Portable: the
// system's random source on Linux and Windows.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "package/password_text.h"

namespace vorlatch::packer {

// The length of every key the builder chooses.
inline constexpr std::size_t kPasswordKeyLength = kProtectionBlockSize;

struct Protection {
  std::string key;      // for [Before] Password
  PasswordBlock block;  // written before the script block
};

// Why `password` cannot lock an installer, or empty when it can: it must have 1 to 16
// characters, and none that the installer could not rebuild (a zero byte) or that cannot be
// typed into its password field (control characters).
std::string PasswordProblem(std::string_view password);

// Fills `out` from the system's random source. False, with the reason in `problem`, when the
// source does not answer.
bool FillRandomBytes(std::span<std::uint8_t> out, std::string& problem);

// Where the key and the block's filler come from: fills the span, or gives the reason.
using ByteSource = std::function<bool(std::span<std::uint8_t>, std::string&)>;

// Bytes that depend on `seed` alone, for builds that must give the same installer every time.
// Not secret: the lock never rested on the key's randomness (see packer.md).
ByteSource SeededBytes(std::span<const std::uint8_t> seed);

// A new key (kPasswordKeyLength characters for which IsPasswordKeyCharacter holds) and the
// block from which the installer rebuilds exactly `password`, from `source` (the system's
// random source by default). False with `problem` when the password is unusable (see
// PasswordProblem) or the source does not answer.
bool ProtectPassword(std::string_view password, Protection& out, std::string& problem,
                     const ByteSource& source = FillRandomBytes);

}  // namespace vorlatch::packer
