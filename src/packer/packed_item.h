#pragma once
// Packing an item in pieces: the source is compressed as it is read, and the item is held in
// memory while it is small and in a part file of its own once it grows, so that the memory
// of a build does not grow with the size of its files.

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "package/format.h"

namespace vorlatch::packer {

// Where a source's bytes go as they are read.
class ContentSink {
 public:
  virtual bool Add(const std::uint8_t* data, std::size_t size, std::string& problem) = 0;
  // The bytes added for the current source.
  virtual std::uint64_t SourceSize() const = 0;

 protected:
  ~ContentSink() = default;
};

// A finished item: its stream and tail, in memory or in its part file (removed with it).
class PackedItem {
 public:
  PackedItem() = default;
  // An item made whole in memory.
  explicit PackedItem(std::vector<std::uint8_t> bytes)
      : bytes_(std::move(bytes)), length_(bytes_.size()) {}
  PackedItem(PackedItem&& other) noexcept;
  PackedItem& operator=(PackedItem&& other) noexcept;
  PackedItem(const PackedItem&) = delete;
  PackedItem& operator=(const PackedItem&) = delete;
  ~PackedItem();

  std::uint64_t Length() const { return length_; }
  // The item's bytes while it is held in memory; empty once it has a part file.
  Bytes Held() const { return part_ == nullptr ? Bytes(bytes_.data(), bytes_.size()) : Bytes(); }
  // Appends the item's bytes to `out`; false with the reason in `problem` when its part file
  // cannot be read or `out` cannot be written.
  bool WriteTo(std::FILE* out, std::string& problem);

 private:
  friend class ItemDeflater;
  void Release();

  std::vector<std::uint8_t> bytes_;  // the item while it has no part file
  std::FILE* part_ = nullptr;
  std::string partPath_;
  std::uint64_t length_ = 0;
};

// Compresses one source at zlib's default level, piece by piece. The stream is the same bytes
// as one call of compress2 over the whole source gives: deflate decides its blocks and
// matches on what it has seen, not on how the input is divided.
class ItemDeflater final : public ContentSink {
 public:
  // `partPath` is where the item goes once it is longer than `memoryLimit` bytes; an item
  // longer than `lengthLimit` is refused, as one that makes the installer longer than
  // `installerLimit`.
  ItemDeflater(std::string partPath, std::uint64_t memoryLimit, std::uint64_t lengthLimit,
               std::uint64_t installerLimit);
  ItemDeflater(const ItemDeflater&) = delete;
  ItemDeflater& operator=(const ItemDeflater&) = delete;
  ~ItemDeflater();

  // Compresses the next piece of the source. False with the reason in `problem`.
  bool Add(const std::uint8_t* data, std::size_t size, std::string& problem) override;
  // Ends the stream and appends the tail, whose size becomes the bytes added.
  bool Finish(ItemTail tail, PackedItem& item, std::string& problem);

  std::uint64_t SourceSize() const override { return sourceSize_; }

 private:
  bool Deflate(int flush, std::string& problem);
  bool Emit(const std::uint8_t* data, std::size_t size, std::string& problem);

  z_stream stream_{};
  bool ready_ = false;
  std::vector<std::uint8_t> out_;
  PackedItem item_;
  std::uint64_t memoryLimit_;
  std::uint64_t lengthLimit_;
  std::uint64_t installerLimit_;
  std::uint64_t sourceSize_ = 0;
};

// The refusal of an installer that its 32-bit positions cannot address, for messages.
std::string InstallerTooLarge(std::uint64_t limit);

}  // namespace vorlatch::packer
