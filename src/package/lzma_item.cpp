#include "package/lzma_item.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "package/lzma_alloc.h"
#include "package/whole_item.h"

extern "C" {
#include "LzmaDec.h"
}

namespace vorlatch {
namespace {

// Blocks whose stream is at least this long are decoded ahead, in pieces of kAheadPiece.
constexpr std::uint32_t kAheadFrom = 1u << 20;
constexpr std::uint64_t kAheadPiece = 256 * 1024;

}  // namespace

struct LzmaBlockDecoder::State {
  CLzmaDec dec{};
  bool allocated = false;
  std::uint8_t props[kLzmaPropsSize] = {};
  // The block being decoded: its stream, how much of it is read and how much content it gave.
  const std::uint8_t* stream = nullptr;
  std::size_t streamLength = 0;
  std::size_t inPos = 0;
  // Where the stream begins in the package, when it lies there (read through windows).
  std::uint64_t streamPosition = 0;
  StreamWindows* windows = nullptr;

  // Decodes up to `most` bytes of the block's content into the dictionary, where they lie
  // together: fewer where the stream ends, none when it gives no more or is damaged.
  Bytes DecodeInPlace(std::uint64_t most);

  // Block positions: the bytes from `consumed` to `produced` are decoded and not yet copied
  // out (the ring never holds more of them than it has room for); an item that begins before
  // `consumed` starts the block afresh. Decoded as the caller asks, or ahead on `ahead`, which
  // then owns the decoder and the stream's reading until it is stopped; the rest is shared
  // under its lock.
  std::uint64_t produced = 0;
  std::uint64_t consumed = 0;
  bool ended = false;  // the stream gives no more
  DecodingThread* ahead = nullptr;
  bool stop = false;
  void StopAhead();
  static void Produce(void* self);  // the thread's work

  // The dictionary's memory, kept for the next block whose dictionary fits in it: no new
  // pages to fault in and zero for each item stored on its own.
  std::uint8_t* dictionary = nullptr;
  std::size_t capacity = 0;

  State() { LzmaDec_Construct(&dec); }
  ~State() { Free(); }
  void Free() {
    StopAhead();
    if (allocated) {
      LzmaDec_FreeProbs(&dec, &g_lzmaAlloc);
      allocated = false;
    }
    LzmaDec_Construct(&dec);  // the dictionary is not the decoder's to free
    std::free(dictionary);
    dictionary = nullptr;
    capacity = 0;
    stream = nullptr;
  }
  // The decoder for `props`, its dictionary in `dictionary`; false (all freed) on failure.
  bool Allocate(const std::uint8_t (&props)[kLzmaPropsSize]);
};

LzmaBlockDecoder::LzmaBlockDecoder() : state_(new (std::nothrow) State) {}
LzmaBlockDecoder::~LzmaBlockDecoder() = default;

void LzmaBlockDecoder::Reset() {
  if (state_) {
    state_->Free();
  }
}

bool LzmaBlockDecoder::State::Allocate(const std::uint8_t (&wanted)[kLzmaPropsSize]) {
  CLzmaProps decoded;
  if (LzmaProps_Decode(&decoded, wanted, kLzmaPropsSize) != SZ_OK ||
      decoded.dicSize > kLzmaMaxDictionary) {
    Free();
    return false;
  }
  if (allocated) {
    LzmaDec_FreeProbs(&dec, &g_lzmaAlloc);
    allocated = false;
  }
  LzmaDec_Construct(&dec);
  stream = nullptr;
  if (capacity < decoded.dicSize) {
    std::free(dictionary);
    capacity = 0;
    dictionary = static_cast<std::uint8_t*>(std::malloc(decoded.dicSize));
    if (dictionary == nullptr) {
      return false;
    }
    capacity = decoded.dicSize;
  }
  if (LzmaDec_AllocateProbs(&dec, wanted, kLzmaPropsSize, &g_lzmaAlloc) != SZ_OK) {
    Free();
    return false;
  }
  allocated = true;
  // The ring's size is the stream's dictionary, whatever the memory kept.
  dec.dic = dictionary;
  dec.dicBufSize = decoded.dicSize;
  std::memcpy(props, wanted, kLzmaPropsSize);
  return true;
}

bool IsLzmaItem(Bytes item) {
  return item.size() >= sizeof kLzmaItemMagic &&
         std::memcmp(item.data(), kLzmaItemMagic, sizeof kLzmaItemMagic) == 0;
}

std::optional<LzmaItemHeader> ReadLzmaItemHeader(Bytes item) {
  if (item.size() < kLzmaHeaderSize || !IsLzmaItem(item)) {
    return std::nullopt;
  }
  const std::uint8_t* p = item.data();
  LzmaItemHeader header;
  if ((p[4] & ~kLzmaX86Filtered) > static_cast<std::uint8_t>(LzmaItemKind::kMember)) {
    return std::nullopt;
  }
  header.kind = static_cast<LzmaItemKind>(p[4] & ~kLzmaX86Filtered);
  header.x86 = (p[4] & kLzmaX86Filtered) != 0;
  std::memcpy(header.props, p + 5, kLzmaPropsSize);
  header.adler = ReadU32(p + 10);
  header.back = ReadU64(p + 14);
  header.offset = ReadU64(p + 22);
  header.streamLength = ReadU32(p + 30);
  return header;
}

ItemDecoder::ItemDecoder(Bytes package, Bytes item, LzmaBlockDecoder& blocks) : blocks_(blocks) {
  const auto tail = ReadItemTailOf(item);
  if (!tail) {
    return;
  }
  statedSize_ = tail->size;
  if (!IsLzmaItem(item)) {
    zlib_.emplace(item.first(item.size() - kItemTailSize), tail->size);
    state_ = zlib_->state();
    return;
  }
  if (BeginLzma(package, item, *tail)) {
    state_ = State::kMore;
  }
}

bool ItemDecoder::BeginLzma(Bytes package, Bytes item, const ItemTail& tail) {
  const auto header = ReadLzmaItemHeader(item);
  LzmaBlockDecoder::State* block = blocks_.state_.get();
  if (!header || tail.size == 0 || block == nullptr) {
    return false;
  }
  expectedAdler_ = header->adler;
  x86_ = header->x86;
  // The holder's header and stream: the item itself, or the holder that a member points back
  // to, which must lie wholly inside the package.
  Bytes holder = item;
  if (header->kind == LzmaItemKind::kMember) {
    if (item.size() != kLzmaHeaderSize + kItemTailSize || package.empty() ||
        item.data() < package.data() || header->back == 0) {
      return false;
    }
    const std::uint64_t position = static_cast<std::uint64_t>(item.data() - package.data());
    if (position + item.size() > package.size() || header->back > position) {
      return false;
    }
    const auto start = SliceOf(package, position - header->back, kLzmaHeaderSize);
    const auto holderHeader = start ? ReadLzmaItemHeader(*start) : std::nullopt;
    if (!holderHeader || holderHeader->kind != LzmaItemKind::kHolder) {
      return false;
    }
    const auto whole =
        SliceOf(package, position - header->back,
                std::uint64_t{kLzmaHeaderSize} + holderHeader->streamLength + kItemTailSize);
    if (!whole) {
      return false;
    }
    holder = *whole;
    offset_ = header->offset;
  } else {
    offset_ = 0;
  }
  const auto holderHeader = ReadLzmaItemHeader(holder);
  if (!holderHeader || holderHeader->streamLength == 0 ||
      holder.size() !=
          kLzmaHeaderSize + std::uint64_t{holderHeader->streamLength} + kItemTailSize) {
    return false;
  }
  const std::uint8_t* stream = holder.data() + kLzmaHeaderSize;
  const bool sameProps =
      block->allocated && std::memcmp(block->props, holderHeader->props, kLzmaPropsSize) == 0;
  // A holder always starts its block afresh; a member goes on where the last item ended.
  if (sameProps && offset_ > 0 && block->stream == stream &&
      block->streamLength == holderHeader->streamLength && block->consumed <= offset_) {
    return true;  // goes on in the block decoded last
  }
  block->StopAhead();
  if (!sameProps && !block->Allocate(holderHeader->props)) {
    return false;
  }
  LzmaDec_Init(&block->dec);
  block->stream = stream;
  block->streamLength = holderHeader->streamLength;
  block->inPos = 0;
  block->produced = block->consumed = 0;
  block->ended = false;
  const bool inPackage = !package.empty() && stream >= package.data() &&
                         stream + block->streamLength <= package.data() + package.size();
  block->windows = inPackage ? blocks_.windows_ : nullptr;
  block->streamPosition = inPackage ? static_cast<std::uint64_t>(stream - package.data()) : 0;
  // A thread's start costs as much as decoding a few KB: short streams are decoded as asked.
  if (blocks_.thread_ != nullptr && block->streamLength >= kAheadFrom) {
    block->stop = false;
    block->ahead = blocks_.thread_;
    if (!block->ahead->Start(&LzmaBlockDecoder::State::Produce, block)) {
      block->ahead = nullptr;
    }
  }
  return true;
}

void LzmaBlockDecoder::State::StopAhead() {
  if (ahead == nullptr) {
    return;
  }
  ahead->Lock();
  stop = true;
  ahead->Wake();
  ahead->Unlock();
  ahead->Join();
  ahead = nullptr;
}

void LzmaBlockDecoder::State::Produce(void* self) {
  State& block = *static_cast<State*>(self);
  DecodingThread& thread = *block.ahead;
  thread.Lock();
  for (;;) {
    // A full ring waits for the caller; a caller that has ended takes nothing any more.
    while (!block.stop && block.produced - block.consumed >= block.dec.dicBufSize) {
      block.stop = !thread.Wait();
    }
    if (block.stop) {
      break;
    }
    const std::uint64_t room = block.dec.dicBufSize - (block.produced - block.consumed);
    thread.Unlock();
    const Bytes piece = block.DecodeInPlace(std::min<std::uint64_t>(room, kAheadPiece));
    thread.Lock();
    block.produced += piece.size();
    thread.Wake();
    if (piece.empty()) {
      break;  // the stream's end, or damage: the caller fails when it needs more
    }
  }
  block.ended = true;
  thread.Wake();
  thread.Unlock();
}

Bytes LzmaBlockDecoder::State::DecodeInPlace(std::uint64_t most) {
  if (dec.dicPos == dec.dicBufSize) {
    dec.dicPos = 0;
  }
  const SizeT start = dec.dicPos;
  const SizeT limit =
      start + static_cast<SizeT>(std::min<std::uint64_t>(most, dec.dicBufSize - start));
  static const std::uint8_t kNoInput = 0;
  while (dec.dicPos < limit) {
    const std::size_t left = streamLength - inPos;
    Bytes input(stream + inPos, left);
    if (windows != nullptr && left > 0) {
      input = windows->Window(streamPosition + inPos, left);
      if (input.empty() || input.size() > left) {
        return {};
      }
    }
    SizeT srcLen = input.size();
    const SizeT before = dec.dicPos;
    ELzmaStatus status;
    if (LzmaDec_DecodeToDic(&dec, limit, input.empty() ? &kNoInput : input.data(), &srcLen,
                            LZMA_FINISH_ANY, &status) != SZ_OK) {
      return {};
    }
    inPos += srcLen;
    if (dec.dicPos == before && srcLen == 0) {
      break;  // the stream gives no more
    }
  }
  return Bytes(dec.dic + start, dec.dicPos - start);
}

std::size_t ItemDecoder::Next(std::span<std::uint8_t> out) {
  if (zlib_) {
    const std::size_t filled = zlib_->Next(out);
    state_ = zlib_->state();
    return filled;
  }
  if (state_ != State::kMore || out.empty()) {
    return 0;
  }
  std::size_t given = 0;
  if (spareAt_ == spareEnd_) {
    // The content that follows, unfiltered; a piece too small to hold back a displacement's
    // bytes in is made in `spare_`. One call of adler32 covers a piece.
    const bool small = x86_ && out.size() < sizeof spare_;
    const std::span<std::uint8_t> buffer =
        small ? std::span<std::uint8_t>(spare_)
              : out.first(std::min<std::size_t>(out.size(), std::size_t{1} << 30));
    std::memcpy(buffer.data(), carry_, carried_);
    std::size_t filled = carried_;
    while (filled < buffer.size() && decoded_ < statedSize_) {
      const std::size_t copied = NextLzma(buffer.data() + filled, buffer.size() - filled);
      if (copied == 0) {
        state_ = State::kFailed;
        blocks_.Reset();  // the block's state is no longer known
        return 0;
      }
      filled += copied;
    }
    std::size_t ready = x86_ ? unfilter_.Decode(buffer.first(filled)) : filled;
    if (decoded_ == statedSize_) {
      ready = filled;  // the last bytes held back stay as they are
    }
    carried_ = static_cast<std::uint8_t>(filled - ready);
    std::memcpy(carry_, buffer.data() + ready, carried_);
    adler_ = static_cast<std::uint32_t>(adler32(adler_, buffer.data(), static_cast<uInt>(ready)));
    if (decoded_ == statedSize_ && adler_ != expectedAdler_) {
      state_ = State::kFailed;
      blocks_.Reset();
      return 0;
    }
    given = small ? 0 : ready;
    spareAt_ = 0;
    spareEnd_ = static_cast<std::uint8_t>(small ? ready : 0);
  }
  if (spareAt_ < spareEnd_) {
    given = std::min<std::size_t>(out.size(), spareEnd_ - spareAt_);
    std::memcpy(out.data(), spare_ + spareAt_, given);
    spareAt_ = static_cast<std::uint8_t>(spareAt_ + given);
  }
  produced_ += given;
  if (produced_ == statedSize_) {
    state_ = State::kDone;
  }
  return given;
}

std::size_t ItemDecoder::NextLzma(std::uint8_t* out, std::size_t most) {
  LzmaBlockDecoder::State& block = *blocks_.state_;
  DecodingThread* const thread = block.ahead;
  const std::uint64_t wanted = std::min<std::uint64_t>(statedSize_ - decoded_, most);
  if (thread != nullptr) {
    thread->Lock();
  }
  for (;;) {
    // The content of items before this one (kept files) is dropped as it comes.
    if (block.consumed < offset_) {
      block.consumed = std::min(block.produced, offset_);
      if (thread != nullptr) {
        thread->Wake();
      }
    }
    if (block.produced > offset_ || block.ended) {
      break;
    }
    if (thread != nullptr) {
      thread->Wait();
      continue;
    }
    // Without a thread, decoded here: up to the item, or the piece asked for.
    const Bytes piece =
        block.DecodeInPlace(block.produced < offset_ ? offset_ - block.produced : wanted);
    block.produced += piece.size();
    block.ended = piece.empty();
  }
  const std::size_t at = static_cast<std::size_t>(offset_ % block.dec.dicBufSize);
  const std::uint64_t ready = block.produced > offset_ ? block.produced - offset_ : 0;
  const auto copied =
      static_cast<std::size_t>(std::min({wanted, ready, std::uint64_t{block.dec.dicBufSize - at}}));
  if (thread != nullptr) {
    thread->Unlock();
  }
  if (copied == 0) {
    return 0;  // the stream ended, or is damaged, before the item's bytes
  }
  std::memcpy(out, block.dec.dic + at, copied);
  if (thread != nullptr) {
    thread->Lock();
  }
  block.consumed = offset_ + copied;
  if (thread != nullptr) {
    thread->Wake();
    thread->Unlock();
  }
  offset_ += copied;
  decoded_ += copied;
  return copied;
}

std::uint64_t ItemDecoder::produced() const {
  return zlib_ ? zlib_->produced() : produced_;
}

std::optional<std::vector<std::uint8_t>> DecodeItem(Bytes package, Bytes item,
                                                    LzmaBlockDecoder& blocks) {
  ItemDecoder decoder(package, item, blocks);
  return ReadWhole(decoder, std::size_t{1} << 16);
}

}  // namespace vorlatch
