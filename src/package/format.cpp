#include "package/format.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <new>

#include "package/whole_item.h"

namespace vorlatch {

std::uint32_t ReadU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint64_t ReadU64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(ReadU32(p)) |
         (static_cast<std::uint64_t>(ReadU32(p + 4)) << 32);
}

void AppendU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<std::uint8_t>((value >> shift) & 0xFF));
  }
}

void AppendU64(std::vector<std::uint8_t>& out, std::uint64_t value) {
  AppendU32(out, static_cast<std::uint32_t>(value & 0xFFFFFFFFu));
  AppendU32(out, static_cast<std::uint32_t>(value >> 32));
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

struct ItemInflater::Stream {
  z_stream z{};
};

ItemInflater::ItemInflater(Bytes stream, std::uint32_t statedSize) : statedSize_(statedSize) {
  // The whole stream is handed to zlib at once, so its length must fit zlib's counter.
  if (stream.empty() || statedSize == 0 || stream.size() > UINT_MAX) {
    return;
  }
  stream_ = new (std::nothrow) Stream;
  if (stream_ == nullptr) {
    return;
  }
  if (inflateInit(&stream_->z) != Z_OK) {
    delete stream_;
    stream_ = nullptr;
    return;
  }
  // zlib's interface is not const-correct; it never writes through next_in.
  stream_->z.next_in = const_cast<Bytef*>(stream.data());
  stream_->z.avail_in = static_cast<uInt>(stream.size());
  state_ = State::kMore;
}

ItemInflater::~ItemInflater() {
  if (stream_ != nullptr) {
    inflateEnd(&stream_->z);
    delete stream_;
  }
}

std::size_t ItemInflater::Next(std::span<std::uint8_t> out) {
  if (state_ != State::kMore || out.empty()) {
    return 0;
  }
  z_stream& z = stream_->z;
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(std::min<std::size_t>(out.size(), UINT_MAX));
  const uInt room = z.avail_out;
  int result = Z_OK;
  // All input is there, so inflate stops only when the piece is full, the stream ends, or
  // the stream is bad; Z_BUF_ERROR with room left is a stream cut short.
  while (z.avail_out != 0 && result == Z_OK) {
    result = inflate(&z, Z_NO_FLUSH);
  }
  const std::size_t filled = room - z.avail_out;
  if ((result != Z_OK && result != Z_STREAM_END) ||
      filled > std::uint64_t{statedSize_} - produced_) {
    state_ = State::kFailed;
    return 0;
  }
  produced_ += filled;
  if (result == Z_STREAM_END) {
    state_ = State::kDone;
  }
  return filled;
}

std::optional<std::vector<std::uint8_t>> InflateItem(Bytes item, std::size_t pieceSize) {
  const auto tail = ReadItemTailOf(item);
  if (!tail || pieceSize == 0) {
    return std::nullopt;
  }
  ItemInflater inflater(item.first(item.size() - kItemTailSize), tail->size);
  return ReadWhole(inflater, pieceSize);
}

void AppendItemTail(std::vector<std::uint8_t>& out, const ItemTail& tail) {
  AppendU32(out, tail.attributes);
  AppendU64(out, tail.creation);
  AppendU64(out, tail.access);
  AppendU64(out, tail.write);
  AppendU32(out, tail.size);
}

}  // namespace vorlatch
