#include "package/password_text.h"

namespace vorlatch {

std::string RebuildPassword(std::span<const std::uint8_t> block, std::string_view key) {
  std::string password;
  for (std::size_t i = 0; i < kMaxPasswordLength && i < block.size(); ++i) {
    const auto keyByte = i < key.size() ? static_cast<std::uint8_t>(key[i]) : std::uint8_t{0};
    const auto result = static_cast<std::uint8_t>(block[i] - keyByte);
    if (result == 0) {
      break;
    }
    password.push_back(static_cast<char>(result));
  }
  return password;
}

std::optional<PasswordBlock> MakePasswordBlock(std::string_view password, std::string_view key,
                                               const PasswordBlock& filler) {
  if (password.size() > kMaxPasswordLength || password.find('\0') != std::string_view::npos) {
    return std::nullopt;
  }
  PasswordBlock block = filler;
  // One position more than the password: the byte that rebuilds to 0 ends it.
  for (std::size_t i = 0; i <= password.size() && i < kProtectionBlockSize; ++i) {
    const auto keyByte = i < key.size() ? static_cast<std::uint8_t>(key[i]) : std::uint8_t{0};
    const auto plain =
        i < password.size() ? static_cast<std::uint8_t>(password[i]) : std::uint8_t{0};
    block[i] = static_cast<std::uint8_t>(plain + keyByte);
  }
  return block;
}

bool IsPasswordKeyCharacter(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte > 0x20 && byte < 0x7F && c != ';' && c != '=' && c != '"' && c != '\'';
}

}  // namespace vorlatch
