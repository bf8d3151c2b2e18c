#include "packer/pe_image.h"

#include <cstdio>

namespace vorlatch::packer {

namespace {

constexpr std::size_t kNewHeaderOffset = 0x3C;

}  // namespace

std::optional<std::uint16_t> PeMachineOf(Bytes image) {
  if (image.size() < kNewHeaderOffset + 4 || image[0] != 'M' || image[1] != 'Z') {
    return std::nullopt;
  }
  const std::uint32_t header = ReadU32(image.data() + kNewHeaderOffset);
  // "PE\0\0" and the two bytes of Machine after it.
  if (header > image.size() || image.size() - header < 6) {
    return std::nullopt;
  }
  const std::uint8_t* signature = image.data() + header;
  if (signature[0] != 'P' || signature[1] != 'E' || signature[2] != 0 || signature[3] != 0) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(signature[4] | (signature[5] << 8));
}

std::string MachineName(std::uint16_t machine) {
  switch (machine) {
    case kMachineI386:
      return "i686";
    case kMachineAmd64:
      return "x86_64";
    default: {
      char text[16];
      std::snprintf(text, sizeof text, "machine 0x%04X", machine);
      return text;
    }
  }
}

}  // namespace vorlatch::packer
