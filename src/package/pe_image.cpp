#include "package/pe_image.h"

#include <algorithm>

namespace vorlatch {

namespace {

constexpr std::uint64_t kLfanewOffset = 0x3C;
constexpr std::uint64_t kCoffHeaderSize = 20;
constexpr std::uint64_t kSectionHeaderSize = 40;
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
// Windows loads no image with more sections than this.
constexpr std::uint32_t kMaxSections = 96;

std::uint16_t ReadU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

}  // namespace

std::optional<std::uint16_t> PeMachineOf(Bytes image) {
  const auto dos = SliceOf(image, 0, kLfanewOffset + 4);
  if (!dos || (*dos)[0] != 'M' || (*dos)[1] != 'Z') {
    return std::nullopt;
  }
  // "PE\0\0" and the two bytes of Machine after it.
  const auto signature = SliceOf(image, ReadU32(dos->data() + kLfanewOffset), 6);
  if (!signature || (*signature)[0] != 'P' || (*signature)[1] != 'E' || (*signature)[2] != 0 ||
      (*signature)[3] != 0) {
    return std::nullopt;
  }
  return ReadU16(signature->data() + 4);
}

std::string MachineName(std::uint16_t machine) {
  switch (machine) {
    case kMachineI386:
      return "i686";
    case kMachineAmd64:
      return "x86_64";
    default: {
      // By hand: the C library's formatting would come into the stub with this file.
      std::string text = "machine 0x";
      for (int shift = 12; shift >= 0; shift -= 4) {
        text += "0123456789ABCDEF"[(machine >> shift) & 0xF];
      }
      return text;
    }
  }
}

std::optional<PeImage> ReadPeImage(Bytes file) {
  const auto dos = SliceOf(file, 0, kLfanewOffset + 4);
  if (!dos || (*dos)[0] != 'M' || (*dos)[1] != 'Z') {
    return std::nullopt;
  }
  const std::uint64_t peOffset = ReadU32(dos->data() + kLfanewOffset);
  const auto signature = SliceOf(file, peOffset, 4 + kCoffHeaderSize);
  if (!signature || (*signature)[0] != 'P' || (*signature)[1] != 'E' || (*signature)[2] != 0 ||
      (*signature)[3] != 0) {
    return std::nullopt;
  }
  const std::uint8_t* coff = signature->data() + 4;
  const std::uint32_t sectionCount = ReadU16(coff + 2);
  const std::uint64_t optionalSize = ReadU16(coff + 16);
  if (sectionCount > kMaxSections) {
    return std::nullopt;
  }
  const std::uint64_t optionalOffset = peOffset + 4 + kCoffHeaderSize;
  const auto optional = SliceOf(file, optionalOffset, optionalSize);
  if (!optional || optionalSize < 2) {
    return std::nullopt;
  }
  const std::uint16_t magic = ReadU16(optional->data());
  std::uint64_t countOffset = 0;
  if (magic == kPe32Magic) {
    countOffset = 92;
  } else if (magic == kPe32PlusMagic) {
    countOffset = 108;
  } else {
    return std::nullopt;
  }
  if (countOffset + 4 > optionalSize) {
    return std::nullopt;
  }
  const std::uint64_t directoryCount = ReadU32(optional->data() + countOffset);
  // Only the entries that the optional header really holds count.
  const std::uint64_t room = (optionalSize - countOffset - 4) / 8;
  PeImage image;
  for (std::uint64_t i = 0; i < std::min<std::uint64_t>(directoryCount, room); ++i) {
    const std::uint8_t* entry = optional->data() + countOffset + 4 + 8 * i;
    image.directories.push_back(DataDirectory{ReadU32(entry), ReadU32(entry + 4)});
  }
  const std::uint64_t tableOffset = optionalOffset + optionalSize;
  const auto table = SliceOf(file, tableOffset, kSectionHeaderSize * sectionCount);
  if (!table) {
    return std::nullopt;
  }
  image.headersEnd = tableOffset + kSectionHeaderSize * sectionCount;
  image.rawDataEnd = image.headersEnd;
  for (std::uint32_t i = 0; i < sectionCount; ++i) {
    const std::uint8_t* header = table->data() + kSectionHeaderSize * i;
    PeSection section{ReadU32(header + 12), ReadU32(header + 8), ReadU32(header + 20),
                      ReadU32(header + 16)};
    if (section.rawSize != 0) {
      image.rawDataEnd = std::max<std::uint64_t>(
          image.rawDataEnd, static_cast<std::uint64_t>(section.rawOffset) + section.rawSize);
    }
    image.sections.push_back(section);
  }
  return image;
}

std::optional<std::uint64_t> FileOffsetOf(const PeImage& image, Bytes file, std::uint32_t address,
                                          std::uint32_t length) {
  for (const PeSection& section : image.sections) {
    const std::uint64_t start = section.virtualAddress;
    const std::uint64_t extent =
        std::min(section.virtualSize == 0 ? section.rawSize : section.virtualSize, section.rawSize);
    if (address < start || address - start > extent || length > extent - (address - start)) {
      continue;
    }
    const std::uint64_t offset = section.rawOffset + (address - start);
    if (!SliceOf(file, offset, length)) {
      return std::nullopt;
    }
    return offset;
  }
  return std::nullopt;
}

bool ExportsName(const PeImage& image, Bytes file, std::string_view name) {
  constexpr std::uint32_t kExportHeaderSize = 40;
  constexpr std::uint32_t kNameCountOffset = 24;
  constexpr std::uint32_t kNameTableOffset = 32;
  if (image.directories.size() <= kExportDirectory ||
      image.directories[kExportDirectory].address == 0) {
    return false;
  }
  const auto header =
      FileOffsetOf(image, file, image.directories[kExportDirectory].address, kExportHeaderSize);
  if (!header) {
    return false;
  }
  const std::uint32_t count = ReadU32(file.data() + *header + kNameCountOffset);
  // Four bytes per name, and the table must lie in the file.
  const auto table =
      count <= 0x3FFFFFFFu
          ? FileOffsetOf(image, file, ReadU32(file.data() + *header + kNameTableOffset), count * 4)
          : std::nullopt;
  if (!table) {
    return false;
  }
  const auto length = static_cast<std::uint32_t>(name.size() + 1);  // with its zero
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t address = ReadU32(file.data() + *table + 4ull * i);
    const auto text = FileOffsetOf(image, file, address, length);
    if (text && file[*text + name.size()] == 0 &&
        std::equal(name.begin(), name.end(), file.begin() + static_cast<std::ptrdiff_t>(*text))) {
      return true;
    }
  }
  return false;
}

namespace {

constexpr std::uint32_t kDirectoryHeaderSize = 16;
constexpr std::uint32_t kEntrySize = 8;
constexpr std::uint32_t kDataEntrySize = 16;
constexpr std::uint32_t kSubdirectoryFlag = 0x80000000u;

// One level of the resource tree: the offset (within the resource section) that the entry
// with this id, or the first entry when `id` is empty, points to; its subdirectory flag tells
// whether it is another level.
std::optional<std::uint32_t> ResourceEntry(Bytes resources, std::uint32_t directory,
                                           std::optional<std::uint32_t> id) {
  const auto header = SliceOf(resources, directory, kDirectoryHeaderSize);
  if (!header) {
    return std::nullopt;
  }
  const std::uint32_t named = ReadU16(header->data() + 12);
  const std::uint32_t numbered = ReadU16(header->data() + 14);
  const auto entries =
      SliceOf(resources, static_cast<std::uint64_t>(directory) + kDirectoryHeaderSize,
              static_cast<std::uint64_t>(named + numbered) * kEntrySize);
  if (!entries || named + numbered == 0) {
    return std::nullopt;
  }
  for (std::uint32_t i = 0; i < named + numbered; ++i) {
    const std::uint8_t* entry = entries->data() + kEntrySize * i;
    const std::uint32_t name = ReadU32(entry);
    // Named entries come first; a numbered type is matched among the numbered ones.
    if (!id || (i >= named && name == *id)) {
      return ReadU32(entry + 4);
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<FileRange> LocateResource(const PeImage& image, Bytes file, std::uint32_t type) {
  if (image.directories.size() <= kResourceDirectory) {
    return std::nullopt;
  }
  const DataDirectory directory = image.directories[kResourceDirectory];
  const auto start = FileOffsetOf(image, file, directory.address, directory.size);
  if (directory.address == 0 || directory.size == 0 || !start) {
    return std::nullopt;
  }
  const Bytes resources = *SliceOf(file, *start, directory.size);
  // Type, name and language: three levels, each a subdirectory but the last.
  std::uint32_t offset = 0;
  for (int level = 0; level < 3; ++level) {
    const auto entry = ResourceEntry(
        resources, offset, level == 0 ? std::optional<std::uint32_t>(type) : std::nullopt);
    const bool isDirectory = entry && (*entry & kSubdirectoryFlag) != 0;
    if (!entry || isDirectory != (level < 2)) {
      return std::nullopt;
    }
    offset = *entry & ~kSubdirectoryFlag;
  }
  const auto data = SliceOf(resources, offset, kDataEntrySize);
  if (!data) {
    return std::nullopt;
  }
  const std::uint32_t address = ReadU32(data->data());
  const std::uint32_t length = ReadU32(data->data() + 4);
  const auto at = FileOffsetOf(image, file, address, length);
  if (!at) {
    return std::nullopt;
  }
  return FileRange{*at, length};
}

}  // namespace vorlatch
