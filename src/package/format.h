#pragma once
// The byte layout of a package appended to the stub, and bounds-checked access to it.
// Portable: no <windows.h>. Every position and length read from a package is checked
// against the package's size before a byte of it is touched.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vorlatch {

using Bytes = std::span<const std::uint8_t>;

inline constexpr std::uint32_t kItemTailSize = 32;
inline constexpr std::uint32_t kTrailerSize = 4;
inline constexpr std::uint32_t kProtectionBlockSize = 16;

// The 32 bytes at the end of every packed item.
struct ItemTail {
  std::uint32_t attributes = 0;
  std::uint64_t creation = 0;  // FILETIME ticks
  std::uint64_t access = 0;
  std::uint64_t write = 0;
  std::uint32_t size = 0;  // uncompressed size
};

std::uint32_t ReadU32(const std::uint8_t* p);
std::uint64_t ReadU64(const std::uint8_t* p);
void AppendU32(std::vector<std::uint8_t>& out, std::uint32_t value);
void AppendU64(std::vector<std::uint8_t>& out, std::uint64_t value);

// The bytes [position, position + length) of the package, or nothing when any of them lies
// outside it (overflow-safe).
std::optional<Bytes> SliceOf(Bytes package, std::uint64_t position, std::uint64_t length);

// The script block located by the trailer: nothing when the package is shorter than the
// trailer, the block is shorter than an item tail, or the block does not fit in the file.
std::optional<Bytes> LocateScriptBlock(Bytes package);

// The protection block of a protected package: the 16 bytes before the script block.
std::optional<Bytes> LocateProtectionBlock(Bytes package);

// The tail of an item (the last 32 bytes); nothing when the item is shorter than a tail.
std::optional<ItemTail> ReadItemTailOf(Bytes item);

// Inflates the zlib stream of a packed item piece by piece into a buffer of the caller's, so
// that memory does not grow with the size of the item. `statedSize` is the size from the
// item's tail: a stream that gives more fails, one that gives fewer ends early. A tail
// stating 0 bytes, an empty stream, a corrupt or unfinished stream, or a wrong Adler-32
// fail. Bytes after the end of the stream are ignored.
class ItemInflater {
 public:
  enum class State { kMore, kDone, kFailed };

  ItemInflater(Bytes stream, std::uint32_t statedSize);
  ~ItemInflater();
  ItemInflater(const ItemInflater&) = delete;
  ItemInflater& operator=(const ItemInflater&) = delete;

  // Fills the front of `out` with the next bytes and returns how many. 0 once the state is
  // no longer kMore. Bytes beyond the stated size are never handed out.
  std::size_t Next(std::span<std::uint8_t> out);

  State state() const { return state_; }
  // The bytes handed out so far.
  std::uint64_t produced() const { return produced_; }

 private:
  struct Stream;
  Stream* stream_ = nullptr;
  std::uint32_t statedSize_ = 0;
  std::uint64_t produced_ = 0;
  State state_ = State::kFailed;
};

// Inflates a whole packed item (stream followed by its tail) into memory, in pieces of
// `pieceSize` bytes, with the checks of ItemInflater.
std::optional<std::vector<std::uint8_t>> InflateItem(Bytes item, std::size_t pieceSize = 16384);

// Package writer side (format_writer.cpp): compresses `content` at zlib's default level and appends
// the stream and the tail (with tail.size set to content.size()). Returns the item's length, or 0
// (with `out` unchanged) when the content cannot be compressed or is too large for a 32-bit length.
std::uint32_t AppendPackedItem(std::vector<std::uint8_t>& out, Bytes content, ItemTail tail);

// The value a package writer stores in the reserved byte.
inline constexpr std::uint8_t kReservedByteValue = 0;

// Appends the 32 bytes of an item tail in the package's field order (little-endian).
void AppendItemTail(std::vector<std::uint8_t>& out, const ItemTail& tail);

// Package writer side: appends the end of a package after its items: the reserved byte,
// the protection block when one is given, the script block (the script packed as an item
// with `scriptTail`'s attributes and times) and the trailer. Returns false (with `out`
// unchanged) when the script cannot be packed.
bool AppendPackageEnd(std::vector<std::uint8_t>& out, Bytes script, ItemTail scriptTail,
                      const std::uint8_t* protectionBlock = nullptr);

// Position of the reserved byte of a package whose script block the trailer locates:
// directly before the script block, or before the protection block when `isProtected`.
// Nothing when that position would lie outside the package.
std::optional<std::uint64_t> ReservedBytePosition(Bytes package, bool isProtected);

}  // namespace vorlatch
