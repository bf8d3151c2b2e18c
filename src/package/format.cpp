#include "package/format.h"

#include <algorithm>

namespace vorlatch {

std::uint32_t ReadU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint64_t ReadU64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(ReadU32(p)) |
         (static_cast<std::uint64_t>(ReadU32(p + 4)) << 32);
}

std::optional<Bytes> SliceOf(Bytes package, std::uint64_t position, std::uint64_t length) {
  const std::uint64_t size = package.size();
  // Written so that no sum can wrap: position + length <= size.
  if (position > size || length > size - position) {
    return std::nullopt;
  }
  return package.subspan(static_cast<std::size_t>(position), static_cast<std::size_t>(length));
}

std::optional<Bytes> LocateScriptBlock(Bytes package) {
  if (package.size() < kTrailerSize) {
    return std::nullopt;
  }
  const std::uint64_t end = package.size() - kTrailerSize;
  const std::uint64_t length = ReadU32(package.data() + end);
  if (length < kItemTailSize || length > end) {
    return std::nullopt;
  }
  return SliceOf(package, end - length, length);
}

std::optional<Bytes> LocateProtectionBlock(Bytes package) {
  const auto script = LocateScriptBlock(package);
  if (!script) {
    return std::nullopt;
  }
  const std::uint64_t scriptStart = static_cast<std::uint64_t>(script->data() - package.data());
  if (scriptStart < kProtectionBlockSize) {
    return std::nullopt;
  }
  return SliceOf(package, scriptStart - kProtectionBlockSize, kProtectionBlockSize);
}

std::optional<std::uint64_t> ReservedBytePosition(Bytes package, bool isProtected) {
  const auto script = LocateScriptBlock(package);
  if (!script) {
    return std::nullopt;
  }
  const std::uint64_t scriptStart = static_cast<std::uint64_t>(script->data() - package.data());
  const std::uint64_t before = 1 + (isProtected ? kProtectionBlockSize : 0);
  if (scriptStart < before) {
    return std::nullopt;
  }
  return scriptStart - before;
}

std::optional<ItemTail> ReadItemTailOf(Bytes item) {
  if (item.size() < kItemTailSize) {
    return std::nullopt;
  }
  const std::uint8_t* tail = item.data() + item.size() - kItemTailSize;
  ItemTail result;
  result.attributes = ReadU32(tail);
  result.creation = ReadU64(tail + 4);
  result.access = ReadU64(tail + 12);
  result.write = ReadU64(tail + 20);
  result.size = ReadU32(tail + 28);
  return result;
}

}  // namespace vorlatch
