#pragma once
// LZMA items: a packed item whose content is an LZMA stream instead of a zlib one. Items that
// the installer extracts one after the other may share one stream (a solid block): the first
// of them holds the stream, each of the others holds only where its bytes begin in the
// block's content. Every LZMA item carries the Adler-32 of its own content, so a damaged
// stream is found as a damaged zlib stream is. Portable: no <windows.h> in this header.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "package/branch_filter.h"
#include "package/format.h"

namespace vorlatch {

// Its first byte has 6 in its low nibble where every zlib stream has 8 (its method).
inline constexpr std::uint8_t kLzmaItemMagic[4] = {'V', 'L', 'Z', 'M'};
inline constexpr std::size_t kLzmaHeaderSize = 34;
inline constexpr std::size_t kLzmaPropsSize = 5;
// No installer asks for a larger dictionary; a header that does is damaged.
inline constexpr std::uint32_t kLzmaMaxDictionary = 1u << 30;

enum class LzmaItemKind : std::uint8_t { kHolder = 0, kMember = 1 };
// Beside the kind in its byte: the item's content went through the x86 branch filter.
inline constexpr std::uint8_t kLzmaX86Filtered = 2;

// The header in front of an LZMA item's stream (all integers little-endian).
struct LzmaItemHeader {
  LzmaItemKind kind = LzmaItemKind::kHolder;
  bool x86 = false;                         // its content is to be unfiltered after decoding
  std::uint8_t props[kLzmaPropsSize] = {};  // lc/lp/pb byte and u32 dictionary size
  std::uint32_t adler = 1;                  // Adler-32 of this item's content
  std::uint64_t back = 0;                   // member: its position minus its holder's position
  std::uint64_t offset = 0;        // member: where its content begins in the block's content
  std::uint32_t streamLength = 0;  // holder: the stream's length after the header
};

// True when `item` begins with the LZMA item magic (and so is no zlib item).
bool IsLzmaItem(Bytes item);
std::optional<LzmaItemHeader> ReadLzmaItemHeader(Bytes item);
void AppendLzmaItemHeader(std::vector<std::uint8_t>& out, const LzmaItemHeader& header);

// Where a block's stream is read from when it lies in the package: views of parts of the
// package file, so that the pages of a stream already decoded leave memory. Without one, the
// stream is read in place.
class StreamWindows {
 public:
  // Bytes of the package from `position` on: at least one and at most `length`; none when
  // they cannot be read.
  virtual Bytes Window(std::uint64_t position, std::size_t length) = 0;

 protected:
  ~StreamWindows() = default;
};

// A second thread on which a block is decoded ahead while the caller writes out the bytes
// before (the installer's, on the system's threads). One piece of work at a time.
class DecodingThread {
 public:
  // Runs work(context) on a new thread; false when none can start (the block is then
  // decoded as its bytes are asked for).
  virtual bool Start(void (*work)(void*), void* context) = 0;
  // Waits until the work has returned.
  virtual void Join() = 0;
  // One lock over what both threads share. Wait releases it until a Wake or a short while
  // has passed, so a waiter checks again what it waits for; false once the thread that called
  // Start has ended (nobody will take the bytes any more).
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
  virtual bool Wait() = 0;
  virtual void Wake() = 0;

 protected:
  ~DecodingThread() = default;
};

// The decoder of one block, kept between items: an item that follows in the block the one
// decoded last goes on from there (the bytes between are decoded and dropped); any other is
// decoded from its block's start. Memory: the largest dictionary of the blocks decoded since
// the last Reset, and a few KB.
class LzmaBlockDecoder {
 public:
  LzmaBlockDecoder();
  ~LzmaBlockDecoder();
  LzmaBlockDecoder(const LzmaBlockDecoder&) = delete;
  LzmaBlockDecoder& operator=(const LzmaBlockDecoder&) = delete;
  // Forgets the block (its package is about to go) and frees the dictionary.
  void Reset();
  // Streams that lie in the package are read through `windows` from now on (null: in place).
  void ReadStreamsThrough(StreamWindows* windows) { windows_ = windows; }
  // Blocks whose stream is long enough are decoded ahead on `thread` from now on (null: as
  // their bytes are asked for). The memory stays the dictionary's.
  void DecodeAheadOn(DecodingThread* thread) { thread_ = thread; }

 private:
  friend class ItemDecoder;
  struct State;
  std::unique_ptr<State> state_;
  StreamWindows* windows_ = nullptr;
  DecodingThread* thread_ = nullptr;
};

// Reads the content of any packed item piece by piece with the checks of ItemInflater: a zlib
// item through zlib, an LZMA item through `blocks`. `package` is the bytes that `item` lies
// in (a member item finds its holder there; empty: members fail).
class ItemDecoder {
 public:
  using State = ItemInflater::State;

  ItemDecoder(Bytes package, Bytes item, LzmaBlockDecoder& blocks);
  ItemDecoder(const ItemDecoder&) = delete;
  ItemDecoder& operator=(const ItemDecoder&) = delete;

  std::size_t Next(std::span<std::uint8_t> out);
  State state() const { return state_; }
  std::uint64_t produced() const;

 private:
  // Copies the item's next bytes (at most `most`) out of the block; 0 when it cannot.
  std::size_t NextLzma(std::uint8_t* out, std::size_t most);
  bool BeginLzma(Bytes package, Bytes item, const ItemTail& tail);

  std::optional<ItemInflater> zlib_;
  LzmaBlockDecoder& blocks_;
  std::uint32_t statedSize_ = 0;
  std::uint32_t adler_ = 1;
  std::uint32_t expectedAdler_ = 0;
  std::uint64_t offset_ = 0;  // where the item's next content byte lies in its block
  std::uint64_t decoded_ = 0;
  std::uint64_t produced_ = 0;
  State state_ = State::kFailed;
  // Filtered content: the bytes that may still be a displacement wait for those after them,
  // and a caller's piece too small to leave room for them is served from `spare_`.
  bool x86_ = false;
  X86BranchFilter unfilter_;
  std::uint8_t carry_[4] = {};
  std::uint8_t carried_ = 0;
  std::uint8_t spare_[16] = {};
  std::uint8_t spareAt_ = 0;
  std::uint8_t spareEnd_ = 0;
};

// The whole content of a packed item in memory (zlib or LZMA), or nothing.
std::optional<std::vector<std::uint8_t>> DecodeItem(Bytes package, Bytes item,
                                                    LzmaBlockDecoder& blocks);

}  // namespace vorlatch
