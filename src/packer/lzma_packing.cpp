#include "packer/lzma_packing.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include <zlib.h>

#include "package/branch_filter.h"
#include "package/lzma_alloc.h"
#include "package/pe_image.h"
#include "packer/source_file.h"

extern "C" {
#include "LzmaEnc.h"
}

namespace vorlatch::packer {

namespace {

struct MemoryIn {
  ISeqInStream base;
  Bytes content;
  std::size_t position = 0;
};

SRes ReadMemory(void* p, void* buffer, size_t* size) {
  auto* in = static_cast<MemoryIn*>(p);
  const std::size_t n = std::min(*size, in->content.size() - in->position);
  if (n != 0) {
    std::memcpy(buffer, in->content.data() + in->position, n);
  }
  in->position += n;
  *size = n;
  return SZ_OK;
}

struct VectorOut {
  ISeqOutStream base;
  std::vector<std::uint8_t>* stream;
};

size_t WriteVector(void* p, const void* buffer, size_t size) {
  auto* out = static_cast<VectorOut*>(p);
  try {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    out->stream->insert(out->stream->end(), bytes, bytes + size);
  } catch (const std::bad_alloc&) {
    return 0;  // the encoder ends with a write error
  }
  return size;
}

bool SeekTo(std::FILE* file, std::uint64_t position, int origin) {
#ifdef _WIN32
  return _fseeki64(file, static_cast<__int64>(position), origin) == 0;
#else
  return fseeko(file, static_cast<off_t>(position), origin) == 0;
#endif
}

// Whether the `expected.size()` bytes of `file` from `position` are `expected`.
bool SameBytesAt(std::FILE* file, std::uint64_t position, Bytes expected, bool& same) {
  if (std::fflush(file) != 0 || !SeekTo(file, position, SEEK_SET)) {
    return false;
  }
  std::vector<std::uint8_t> piece(std::min<std::size_t>(expected.size(), 1u << 16));
  same = true;
  for (std::size_t done = 0; same && done < expected.size();) {
    const std::size_t want = std::min(piece.size(), expected.size() - done);
    if (std::fread(piece.data(), 1, want, file) != want) {
      return false;
    }
    same = std::memcmp(piece.data(), expected.data() + done, want) == 0;
    done += want;
  }
  // Writing goes on at the end.
  return SeekTo(file, 0, SEEK_END);
}

// Frees the encoder however the encoding ends.
struct EncoderHandle {
  CLzmaEncHandle handle = LzmaEnc_Create(&vorlatch::g_lzmaAlloc);
  ~EncoderHandle() {
    if (handle != nullptr) {
      LzmaEnc_Destroy(handle, &vorlatch::g_lzmaAlloc, &vorlatch::g_lzmaAlloc);
    }
  }
};

}  // namespace

void BlockContent::StartSource() {
  programBytes_ = ProgramBytes();
  start = bytes.size();
  adler = static_cast<std::uint32_t>(adler32(0, nullptr, 0));
}

bool BlockContent::Add(const std::uint8_t* data, std::size_t size, std::string& problem) {
  if (SourceSize() + size > kMaxSourceSize) {
    problem = TooLargeForAnItem();
    return false;
  }
  bytes.insert(bytes.end(), data, data + size);
  for (std::size_t done = 0; done < size;) {
    const uInt step = static_cast<uInt>(std::min<std::size_t>(size - done, 1u << 30));
    adler = static_cast<std::uint32_t>(adler32(adler, data + done, step));
    done += step;
  }
  return true;
}

bool BlockContent::FilterProgram() {
  const std::span<std::uint8_t> source(bytes.data() + start, SourceSize());
  const auto machine = PeMachineOf(source);
  // Other machines' branches look otherwise: filtering them would only add noise.
  if (!machine || (*machine != kMachineI386 && *machine != kMachineAmd64)) {
    return false;
  }
  X86BranchFilter().Encode(source);
  return true;
}

std::uint64_t BlockContent::ProgramBytes() const {
  const bool program = SourceSize() >= 2 && bytes[start] == 'M' && bytes[start + 1] == 'Z';
  return programBytes_ + (program ? SourceSize() : 0);
}

LzmaContent BlockContent::Kind() const {
  if (ProgramBytes() <= bytes.size() / 2) {
    return LzmaContent::kOther;
  }
  return start == 0 ? LzmaContent::kProgram : LzmaContent::kPrograms;
}

std::uint32_t FittingDictionary(std::uint64_t contentSize, std::uint32_t limit) {
  std::uint32_t dictionary = 1u << 16;
  while (dictionary < contentSize && dictionary < limit) {
    dictionary <<= 1;
  }
  return std::min(dictionary, limit);
}

bool EncodeLzmaBlock(Bytes content, LzmaContent kind, std::uint32_t dictionary,
                     std::uint8_t (&props)[kLzmaPropsSize], std::vector<std::uint8_t>& stream,
                     std::string& problem) {
  EncoderHandle encoder;
  if (encoder.handle == nullptr) {
    problem = "not enough memory to pack it";
    return false;
  }
  CLzmaEncProps settings;
  LzmaEncProps_Init(&settings);
  settings.level = 9;
  settings.dictSize = dictionary;
  // Measured on real program files and texts: machine code packs smallest with two-byte
  // alignment in the context and, within one image, shorter matches taken sooner; text
  // with no position context; all gain from searching the match finder's trees deeper.
  const bool programs = kind != LzmaContent::kOther;
  settings.lc = programs ? 2 : 3;
  settings.lp = programs ? 1 : 0;
  settings.pb = programs ? 1 : 0;
  settings.algo = 1;
  settings.fb = kind == LzmaContent::kProgram ? 64 : 128;
  settings.btMode = 1;
  settings.numHashBytes = 4;
  settings.mc = 1000;
  settings.writeEndMark = 0;  // every item's size is in its tail
  settings.numThreads = 1;
  SizeT propsSize = kLzmaPropsSize;
  if (LzmaEnc_SetProps(encoder.handle, &settings) != SZ_OK ||
      LzmaEnc_WriteProperties(encoder.handle, props, &propsSize) != SZ_OK ||
      propsSize != kLzmaPropsSize) {
    problem = "cannot be compressed with dictionary " + std::to_string(dictionary);
    return false;
  }
  MemoryIn in{{ReadMemory}, content};
  VectorOut out{{WriteVector}, &stream};
  const SRes result = LzmaEnc_Encode(encoder.handle, &out.base, &in.base, nullptr,
                                     &vorlatch::g_lzmaAlloc, &vorlatch::g_lzmaAlloc);
  if (result != SZ_OK) {
    problem = result == SZ_ERROR_MEM || result == SZ_ERROR_WRITE ? "not enough memory to pack it"
                                                                 : "cannot be compressed";
    return false;
  }
  return true;
}

bool RepeatedItems::Find(Bytes item, std::uint64_t position, std::FILE* file,
                         std::vector<std::uint8_t>& member, std::string& problem) {
  // It runs where the packing threads are not yet joined: no exception may leave it.
  try {
    return FindOrRecord(item, position, file, member, problem);
  } catch (const std::bad_alloc&) {
    problem = "not enough memory to pack it";
    return false;
  }
}

bool RepeatedItems::FindOrRecord(Bytes item, std::uint64_t position, std::FILE* file,
                                 std::vector<std::uint8_t>& member, std::string& problem) {
  member.clear();
  const auto header = ReadLzmaItemHeader(item);
  const auto tail = ReadItemTailOf(item);
  if (!header || !tail || header->kind != LzmaItemKind::kHolder ||
      item.size() != kLzmaHeaderSize + std::uint64_t{header->streamLength} + kItemTailSize) {
    return true;
  }
  // Header, stream and size fix the content: the same bytes decode to the same content.
  const Bytes body = item.first(item.size() - kItemTailSize);
  uLong crc = crc32(0, nullptr, 0);
  for (std::size_t done = 0; done < body.size();) {
    const uInt step = static_cast<uInt>(std::min<std::size_t>(body.size() - done, 1u << 30));
    crc = crc32(crc, body.data() + done, step);
    done += step;
  }
  const std::uint64_t key = (std::uint64_t{static_cast<std::uint32_t>(crc)} << 32) | tail->size;
  const auto [first, last] = stored_.equal_range(key);
  for (auto it = first; it != last; ++it) {
    if (it->second.length != item.size()) {
      continue;
    }
    bool same = false;
    if (!SameBytesAt(file, it->second.position, body, same)) {
      problem = "cannot be read back";
      return false;
    }
    if (same) {
      LzmaItemHeader pointer = *header;
      pointer.kind = LzmaItemKind::kMember;
      pointer.back = position - it->second.position;
      pointer.offset = 0;
      pointer.streamLength = 0;
      AppendLzmaItemHeader(member, pointer);
      member.insert(member.end(), item.end() - kItemTailSize, item.end());
      return true;
    }
  }
  stored_.emplace(key, Stored{position, item.size()});
  return true;
}

}  // namespace vorlatch::packer
