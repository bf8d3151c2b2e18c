#include "packer/packed_item.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "packer/source_file.h"

namespace vorlatch::packer {

namespace {

constexpr std::size_t kOutputPiece = 1 << 16;

}  // namespace

std::string InstallerTooLarge(std::uint64_t limit) {
  const std::string most =
      limit == 0x7FFFFFFF ? std::string("2 GiB") : std::to_string(limit + 1) + " bytes";
  return "the installer would reach " + most +
         ": its positions are signed 32-bit numbers and cannot address more";
}

PackedItem::PackedItem(PackedItem&& other) noexcept {
  *this = std::move(other);
}

PackedItem& PackedItem::operator=(PackedItem&& other) noexcept {
  if (this != &other) {
    Release();
    bytes_ = std::move(other.bytes_);
    part_ = std::exchange(other.part_, nullptr);
    partPath_ = std::move(other.partPath_);
    length_ = std::exchange(other.length_, 0);
  }
  return *this;
}

PackedItem::~PackedItem() {
  Release();
}

void PackedItem::Release() {
  if (part_ != nullptr) {
    std::fclose(part_);
    std::remove(partPath_.c_str());
    part_ = nullptr;
  }
  bytes_.clear();
  length_ = 0;
}

bool PackedItem::WriteTo(std::FILE* out, std::string& problem) {
  if (part_ == nullptr) {
    if (!bytes_.empty() && std::fwrite(bytes_.data(), 1, bytes_.size(), out) != bytes_.size()) {
      problem = "write error";
      return false;
    }
    return true;
  }
  if (std::fflush(part_) != 0 || std::fseek(part_, 0, SEEK_SET) != 0) {
    problem = "cannot read back its part file " + partPath_;
    return false;
  }
  std::vector<std::uint8_t> piece(1 << 20);
  std::uint64_t copied = 0;
  for (;;) {
    const std::size_t got = std::fread(piece.data(), 1, piece.size(), part_);
    if (got == 0) {
      break;
    }
    if (std::fwrite(piece.data(), 1, got, out) != got) {
      problem = "write error";
      return false;
    }
    copied += got;
  }
  if (copied != length_) {
    problem = "cannot read back its part file " + partPath_;
    return false;
  }
  return true;
}

ItemDeflater::ItemDeflater(std::string partPath, std::uint64_t memoryLimit,
                           std::uint64_t lengthLimit, std::uint64_t installerLimit)
    : memoryLimit_(memoryLimit), lengthLimit_(lengthLimit), installerLimit_(installerLimit) {
  item_.partPath_ = std::move(partPath);
  // compress2's own settings: the default window, memory level and strategy.
  ready_ = deflateInit(&stream_, Z_DEFAULT_COMPRESSION) == Z_OK;
}

ItemDeflater::~ItemDeflater() {
  if (ready_) {
    deflateEnd(&stream_);
  }
}

bool ItemDeflater::Emit(const std::uint8_t* data, std::size_t size, std::string& problem) {
  if (item_.length_ + size > lengthLimit_) {
    problem = InstallerTooLarge(installerLimit_);
    return false;
  }
  if (item_.part_ == nullptr && item_.bytes_.size() + size > memoryLimit_) {
    item_.part_ = std::fopen(item_.partPath_.c_str(), "w+b");
    if (item_.part_ == nullptr) {
      problem = "cannot create the part file " + item_.partPath_ + ": " + std::strerror(errno);
      return false;
    }
    if (!item_.bytes_.empty() && std::fwrite(item_.bytes_.data(), 1, item_.bytes_.size(),
                                             item_.part_) != item_.bytes_.size()) {
      problem = "cannot write the part file " + item_.partPath_;
      return false;
    }
    item_.bytes_ = std::vector<std::uint8_t>();
  }
  if (item_.part_ != nullptr) {
    if (std::fwrite(data, 1, size, item_.part_) != size) {
      problem = "cannot write the part file " + item_.partPath_;
      return false;
    }
  } else {
    item_.bytes_.insert(item_.bytes_.end(), data, data + size);
  }
  item_.length_ += size;
  return true;
}

bool ItemDeflater::Deflate(int flush, std::string& problem) {
  if (!ready_) {
    problem = "cannot be compressed";
    return false;
  }
  out_.resize(kOutputPiece);
  for (;;) {
    stream_.next_out = out_.data();
    stream_.avail_out = static_cast<uInt>(out_.size());
    const int status = deflate(&stream_, flush);
    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
      problem = "cannot be compressed";
      return false;
    }
    const std::size_t made = out_.size() - stream_.avail_out;
    if (made > 0 && !Emit(out_.data(), made, problem)) {
      return false;
    }
    if (status == Z_STREAM_END || (flush == Z_NO_FLUSH && stream_.avail_out != 0)) {
      return true;
    }
    if (made == 0 && status == Z_BUF_ERROR) {
      problem = "cannot be compressed";
      return false;
    }
  }
}

bool ItemDeflater::Add(const std::uint8_t* data, std::size_t size, std::string& problem) {
  if (sourceSize_ + size > kMaxSourceSize) {
    problem = TooLargeForAnItem();
    return false;
  }
  sourceSize_ += size;
  while (size > 0) {
    const std::size_t piece = std::min<std::size_t>(size, 1 << 20);
    stream_.next_in = const_cast<Bytef*>(data);
    stream_.avail_in = static_cast<uInt>(piece);
    if (!Deflate(Z_NO_FLUSH, problem)) {
      return false;
    }
    data += piece;
    size -= piece;
  }
  return true;
}

bool ItemDeflater::Finish(ItemTail tail, PackedItem& item, std::string& problem) {
  stream_.next_in = nullptr;
  stream_.avail_in = 0;
  if (!Deflate(Z_FINISH, problem)) {
    return false;
  }
  tail.size = static_cast<std::uint32_t>(sourceSize_);
  std::vector<std::uint8_t> end;
  AppendItemTail(end, tail);
  if (!Emit(end.data(), end.size(), problem)) {
    return false;
  }
  item = std::move(item_);
  return true;
}

}  // namespace vorlatch::packer
