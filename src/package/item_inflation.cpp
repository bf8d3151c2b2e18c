#include "package/format.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <new>

#include "package/whole_item.h"

// The zlib reader apart from the rest of the format, so that a program that reads only the
// format's numbers (the uninstaller reads its own tail) does not carry zlib.
namespace vorlatch {

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

}  // namespace vorlatch
