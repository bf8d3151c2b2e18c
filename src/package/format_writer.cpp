#include <zlib.h>

#include <algorithm>
#include <climits>
#include <new>

#include "package/format.h"
#include "package/lzma_item.h"

// The package writer's side of the format, apart from the reader so that the programs that
// only read packages (the stub, the uninstaller) carry no compressor.

namespace vorlatch {

void AppendU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<std::uint8_t>((value >> shift) & 0xFF));
  }
}

void AppendU64(std::vector<std::uint8_t>& out, std::uint64_t value) {
  AppendU32(out, static_cast<std::uint32_t>(value & 0xFFFFFFFFu));
  AppendU32(out, static_cast<std::uint32_t>(value >> 32));
}

void AppendItemTail(std::vector<std::uint8_t>& out, const ItemTail& tail) {
  AppendU32(out, tail.attributes);
  AppendU64(out, tail.creation);
  AppendU64(out, tail.access);
  AppendU64(out, tail.write);
  AppendU32(out, tail.size);
}

void AppendLzmaItemHeader(std::vector<std::uint8_t>& out, const LzmaItemHeader& header) {
  out.insert(out.end(), std::begin(kLzmaItemMagic), std::end(kLzmaItemMagic));
  out.push_back(static_cast<std::uint8_t>(static_cast<std::uint8_t>(header.kind) |
                                          (header.x86 ? kLzmaX86Filtered : 0)));
  out.insert(out.end(), std::begin(header.props), std::end(header.props));
  AppendU32(out, header.adler);
  AppendU64(out, header.back);
  AppendU64(out, header.offset);
  AppendU32(out, header.streamLength);
}

std::uint32_t AppendPackedItem(std::vector<std::uint8_t>& out, Bytes content, ItemTail tail) {
  const std::uint64_t sourceSize = content.size();
  if (sourceSize > UINT32_MAX) {
    return 0;
  }
  // The classic one-call bound; newer zlib may ask for a few bytes more on tiny inputs.
  const std::uint64_t classicBound = sourceSize + sourceSize / 512 + 12;
  const std::uint64_t bound =
      std::max<std::uint64_t>(classicBound, compressBound(static_cast<uLong>(sourceSize)));
  if (bound > ULONG_MAX) {
    return 0;
  }
  std::vector<std::uint8_t> stream;
  try {
    stream.resize(static_cast<std::size_t>(bound));
  } catch (const std::bad_alloc&) {
    return 0;
  }
  uLongf streamSize = static_cast<uLongf>(bound);
  if (compress2(stream.data(), &streamSize, content.data(), static_cast<uLong>(sourceSize),
                Z_DEFAULT_COMPRESSION) != Z_OK) {
    return 0;
  }
  const std::uint64_t itemLength = static_cast<std::uint64_t>(streamSize) + kItemTailSize;
  if (itemLength > UINT32_MAX) {
    return 0;
  }
  tail.size = static_cast<std::uint32_t>(sourceSize);
  try {
    out.reserve(out.size() + static_cast<std::size_t>(itemLength));
  } catch (const std::bad_alloc&) {
    return 0;
  }
  out.insert(out.end(), stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(streamSize));
  AppendItemTail(out, tail);
  return static_cast<std::uint32_t>(itemLength);
}

bool AppendPackageEnd(std::vector<std::uint8_t>& out, Bytes script, ItemTail scriptTail,
                      const std::uint8_t* protectionBlock) {
  std::vector<std::uint8_t> end(1 + (protectionBlock != nullptr ? kProtectionBlockSize : 0),
                                kReservedByteValue);
  if (protectionBlock != nullptr) {
    std::copy_n(protectionBlock, kProtectionBlockSize, end.begin() + 1);
  }
  const std::uint32_t scriptLength = AppendPackedItem(end, script, scriptTail);
  if (scriptLength == 0) {
    return false;
  }
  AppendU32(end, scriptLength);
  try {
    out.insert(out.end(), end.begin(), end.end());
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace vorlatch
