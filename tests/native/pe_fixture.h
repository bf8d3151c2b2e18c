#pragma once
// A small PE32+ image made byte by byte, as the linker lays one out: headers, one resource
// section holding a manifest, and optionally a certificate table recorded in the security
// directory. It stands in for the stub where the native tests need a real image layout.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace vorlatch::testing {

inline void PutLe(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint64_t value,
                  int width) {
  for (int i = 0; i < width; ++i) {
    bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

inline constexpr std::size_t kFixtureOptionalHeader = 0x58;
inline constexpr std::size_t kFixtureSectionTable = kFixtureOptionalHeader + 240;
// The file offset of the security directory's two fields.
inline constexpr std::size_t kFixtureSecurityEntry = kFixtureOptionalHeader + 112 + 4 * 8;
inline constexpr std::size_t kFixtureRawData = 0x200;

// The image with `manifest` as its RT_MANIFEST resource 1.
inline std::vector<std::uint8_t> FixtureImage(const std::string& manifest) {
  constexpr std::uint32_t kSectionAddress = 0x1000;
  constexpr std::size_t kManifestAt = 0x58;  // within the section
  const std::size_t used = kManifestAt + manifest.size();
  const std::size_t raw = (used + 0x1FF) / 0x200 * 0x200;
  std::vector<std::uint8_t> image(kFixtureRawData + raw, 0);
  image[0] = 'M';
  image[1] = 'Z';
  PutLe(image, 0x3C, 0x40, 4);
  image[0x40] = 'P';
  image[0x41] = 'E';
  PutLe(image, 0x44, 0x8664, 2);  // machine
  PutLe(image, 0x46, 1, 2);       // sections
  PutLe(image, 0x54, 240, 2);     // optional header size
  PutLe(image, kFixtureOptionalHeader, 0x20B, 2);
  PutLe(image, kFixtureOptionalHeader + 108, 16, 4);                       // directories
  PutLe(image, kFixtureOptionalHeader + 112 + 2 * 8, kSectionAddress, 4);  // resources
  PutLe(image, kFixtureOptionalHeader + 112 + 2 * 8 + 4, used, 4);
  const std::size_t section = kFixtureSectionTable;
  std::copy_n(".rsrc", 5, image.begin() + section);
  PutLe(image, section + 8, used, 4);  // virtual size
  PutLe(image, section + 12, kSectionAddress, 4);
  PutLe(image, section + 16, raw, 4);
  PutLe(image, section + 20, kFixtureRawData, 4);
  // Type 24 -> name 1 -> language 0x409 -> data entry -> the manifest.
  const std::size_t r = kFixtureRawData;
  PutLe(image, r + 14, 1, 2);
  PutLe(image, r + 16, 24, 4);
  PutLe(image, r + 20, 0x80000018, 4);
  PutLe(image, r + 0x18 + 14, 1, 2);
  PutLe(image, r + 0x18 + 16, 1, 4);
  PutLe(image, r + 0x18 + 20, 0x80000030, 4);
  PutLe(image, r + 0x30 + 14, 1, 2);
  PutLe(image, r + 0x30 + 16, 0x409, 4);
  PutLe(image, r + 0x30 + 20, 0x48, 4);
  PutLe(image, r + 0x48, kSectionAddress + kManifestAt, 4);
  PutLe(image, r + 0x48 + 4, manifest.size(), 4);
  std::copy(manifest.begin(), manifest.end(), image.begin() + r + kManifestAt);
  return image;
}

inline const std::string kFixtureManifest =
    "<assembly><trustInfo><security><requestedPrivileges>"
    "<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>"
    "</requestedPrivileges></security></trustInfo></assembly>";

// Appends a certificate table as a signing tool does: zero padding to a multiple of 8, then
// the table (its first certificate's length at its start), recorded in the directory.
inline void AppendCertificateTable(std::vector<std::uint8_t>& file, std::size_t tableSize = 64) {
  file.resize((file.size() + 7) / 8 * 8, 0);
  const std::size_t offset = file.size();
  file.resize(offset + tableSize, 0xA5);
  PutLe(file, offset, tableSize, 4);
  PutLe(file, offset + 4, 0x0200, 2);
  PutLe(file, offset + 6, 0x0002, 2);
  PutLe(file, kFixtureSecurityEntry, offset, 4);
  PutLe(file, kFixtureSecurityEntry + 4, tableSize, 4);
}

}  // namespace vorlatch::testing
