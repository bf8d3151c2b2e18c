#include "packer/lzma_packing.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include <zlib.h>

#include "package/lzma_alloc.h"
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

std::uint32_t FittingDictionary(std::uint64_t contentSize, std::uint32_t limit) {
  std::uint32_t dictionary = 1u << 16;
  while (dictionary < contentSize && dictionary < limit) {
    dictionary <<= 1;
  }
  return std::min(dictionary, limit);
}

bool EncodeLzmaBlock(Bytes content, std::uint32_t dictionary, std::uint8_t (&props)[kLzmaPropsSize],
                     std::vector<std::uint8_t>& stream, std::string& problem) {
  EncoderHandle encoder;
  if (encoder.handle == nullptr) {
    problem = "not enough memory to pack it";
    return false;
  }
  CLzmaEncProps settings;
  LzmaEncProps_Init(&settings);
  settings.level = 9;
  settings.dictSize = dictionary;
  settings.lc = 3;
  settings.lp = 0;
  settings.pb = 2;
  settings.algo = 1;
  settings.fb = 128;
  settings.btMode = 1;
  settings.numHashBytes = 4;
  settings.mc = 64;
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

}  // namespace vorlatch::packer
