#pragma once
// The machine a Windows program is built for, read from its PE header. Portable.

#include <cstdint>
#include <optional>
#include <string>

#include "package/format.h"

namespace vorlatch::packer {

inline constexpr std::uint16_t kMachineI386 = 0x014C;
inline constexpr std::uint16_t kMachineAmd64 = 0x8664;

// The Machine field of the image's file header; none when the bytes are no PE image.
std::optional<std::uint16_t> PeMachineOf(Bytes image);

// "i686", "x86_64", or the field in hex.
std::string MachineName(std::uint16_t machine);

}  // namespace vorlatch::packer
