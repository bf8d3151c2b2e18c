#pragma once
// The headers of a PE image held in memory, read with every offset checked against the
// span: sections, data directories and the translation of addresses into file offsets.
// Portable: no <windows.h>. Used for the certificate table of signed installers and for the
// manifest resource that the packer rewrites.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "package/format.h"

namespace vorlatch {

inline constexpr std::uint32_t kExportDirectory = 0;
inline constexpr std::uint32_t kResourceDirectory = 2;
inline constexpr std::uint32_t kSecurityDirectory = 4;
inline constexpr std::uint32_t kManifestResourceType = 24;  // RT_MANIFEST

struct PeSection {
  std::uint32_t virtualAddress = 0;
  std::uint32_t virtualSize = 0;
  std::uint32_t rawOffset = 0;
  std::uint32_t rawSize = 0;
};

struct DataDirectory {
  std::uint32_t address = 0;  // an address in memory, except for the security directory
  std::uint32_t size = 0;
};

struct PeImage {
  std::vector<PeSection> sections;
  std::vector<DataDirectory> directories;  // NumberOfRvaAndSizes entries that the header holds
  std::uint64_t headersEnd = 0;            // first byte after the section table
  std::uint64_t rawDataEnd = 0;            // first byte after the last section's raw data
};

inline constexpr std::uint16_t kMachineI386 = 0x014C;
inline constexpr std::uint16_t kMachineAmd64 = 0x8664;

// The Machine field of the image's file header; none when the bytes are no PE image. Needs
// only the DOS header and the signature, so that it judges any Windows program.
std::optional<std::uint16_t> PeMachineOf(Bytes image);

// "i686", "x86_64", or the field in hex.
std::string MachineName(std::uint16_t machine);

// The headers of the image at the start of `file`; nothing when it is not a well-formed PE32
// or PE32+ image (any header field outside the file counts as not well formed).
std::optional<PeImage> ReadPeImage(Bytes file);

// The file offset of `length` bytes at the address `address`, when they lie wholly in the
// raw data of one section and in the file.
std::optional<std::uint64_t> FileOffsetOf(const PeImage& image, Bytes file, std::uint32_t address,
                                          std::uint32_t length);

// Whether the export table names `name`; false when there is none or it leaves the file.
bool ExportsName(const PeImage& image, Bytes file, std::string_view name);

struct FileRange {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

// The data of the first resource of a numbered type (first name, first language) in the
// resource directory; nothing when there is none or the directory leaves the file.
std::optional<FileRange> LocateResource(const PeImage& image, Bytes file, std::uint32_t type);

}  // namespace vorlatch
