#include "packer/password_protection.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
// After <windows.h>, which it needs.
#include <bcrypt.h>
#else
#include <sys/random.h>
#endif

namespace vorlatch::packer {
namespace {

// Every character a key may hold, in a fixed order.
std::string KeyAlphabet() {
  std::string alphabet;
  for (int c = 0; c < 128; ++c) {
    if (IsPasswordKeyCharacter(static_cast<char>(c))) {
      alphabet.push_back(static_cast<char>(c));
    }
  }
  return alphabet;
}

}  // namespace

std::string PasswordProblem(std::string_view password) {
  if (password.empty()) {
    return "empty; leave the key out for an installer without a password";
  }
  // Formatted in one piece: chains of string additions trip a false -Wrestrict in GCC 12.
  char text[128];
  if (password.size() > kMaxPasswordLength) {
    std::snprintf(text, sizeof text, "%zu characters, more than the %zu the installer can check",
                  password.size(), kMaxPasswordLength);
    return text;
  }
  for (std::size_t i = 0; i < password.size(); ++i) {
    const auto byte = static_cast<unsigned char>(password[i]);
    if (byte == 0) {
      std::snprintf(text, sizeof text,
                    "character %zu is a zero byte, which would end the password there", i + 1);
      return text;
    }
    if (byte < 0x20 || byte == 0x7F) {
      std::snprintf(text, sizeof text,
                    "character %zu is the control character 0x%02X, which cannot be typed into "
                    "the password field",
                    i + 1, static_cast<unsigned>(byte));
      return text;
    }
  }
  return {};
}

bool FillRandomBytes(std::span<std::uint8_t> out, std::string& problem) {
#ifdef _WIN32
  if (out.size() > ULONG_MAX) {
    problem = "too many random bytes asked for";
    return false;
  }
  const NTSTATUS status = BCryptGenRandom(nullptr, out.data(), static_cast<ULONG>(out.size()),
                                          BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  if (status < 0) {
    char text[64];
    std::snprintf(text, sizeof text, "BCryptGenRandom failed (status 0x%08lX)",
                  static_cast<unsigned long>(status));
    problem = text;
    return false;
  }
  return true;
#else
  std::size_t filled = 0;
  while (filled < out.size()) {
    const ssize_t got = getrandom(out.data() + filled, out.size() - filled, 0);
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      problem = std::string("getrandom failed: ") + std::strerror(errno);
      return false;
    }
    filled += static_cast<std::size_t>(got);
  }
  return true;
#endif
}

ByteSource SeededBytes(std::span<const std::uint8_t> seed) {
  // FNV-1a of the seed starts a SplitMix64 sequence: small, fixed and the same everywhere.
  std::uint64_t state = 0xCBF29CE484222325ull;
  for (const std::uint8_t byte : seed) {
    state = (state ^ byte) * 0x100000001B3ull;
  }
  return [state](std::span<std::uint8_t> out, std::string&) mutable {
    for (std::uint8_t& byte : out) {
      state += 0x9E3779B97F4A7C15ull;
      std::uint64_t mixed = state;
      mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9ull;
      mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBull;
      byte = static_cast<std::uint8_t>(mixed ^ (mixed >> 31));
    }
    return true;
  };
}

bool ProtectPassword(std::string_view password, Protection& out, std::string& problem,
                     const ByteSource& source) {
  if (problem = PasswordProblem(password); !problem.empty()) {
    return false;
  }
  const std::string alphabet = KeyAlphabet();
  // Bytes at or above the last whole multiple of the alphabet's size are drawn again, so that
  // every key character is equally likely.
  const std::size_t usable = 256 - 256 % alphabet.size();
  std::string key;
  std::vector<std::uint8_t> random(64);
  while (key.size() < kPasswordKeyLength) {
    if (!source(random, problem)) {
      return false;
    }
    for (std::uint8_t byte : random) {
      if (byte < usable && key.size() < kPasswordKeyLength) {
        key.push_back(alphabet[byte % alphabet.size()]);
      }
    }
  }
  PasswordBlock filler{};
  if (!source(filler, problem)) {
    return false;
  }
  const auto block = MakePasswordBlock(password, key, filler);
  if (!block) {
    problem = "cannot be stored";  // PasswordProblem rules out what MakePasswordBlock refuses
    return false;
  }
  out.key = key;
  out.block = *block;
  return true;
}

}  // namespace vorlatch::packer
