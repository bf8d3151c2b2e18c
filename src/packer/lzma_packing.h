#pragma once
// Compressing a block of content into one LZMA stream for the installer's LZMA items.

#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "package/format.h"
#include "package/lzma_item.h"
#include "packer/packed_item.h"

namespace vorlatch::packer {

// The dictionary that fits `contentSize` bytes: the smallest power of two that holds them
// (at least 64 KB), at most `limit`.
std::uint32_t FittingDictionary(std::uint64_t contentSize, std::uint32_t limit);

// What most of a block's content is: each kind has the settings that pack it smallest.
enum class LzmaContent {
  kProgram,   // one program image
  kPrograms,  // program images after one another
  kOther,
};

// Encodes `content` at the strongest settings for its kind with `dictionary`; `props`
// receives the five property bytes the decoder needs. False with the reason in `problem`.
bool EncodeLzmaBlock(Bytes content, LzmaContent kind, std::uint32_t dictionary,
                     std::uint8_t (&props)[kLzmaPropsSize], std::vector<std::uint8_t>& stream,
                     std::string& problem);

// The content of one LZMA block, source after source, with each source's start and Adler-32.
class BlockContent final : public ContentSink {
 public:
  void StartSource();
  bool Add(const std::uint8_t* data, std::size_t size, std::string& problem) override;
  std::uint64_t SourceSize() const override { return bytes.size() - start; }
  // Runs the x86 branch filter over the current source, whole, when it is an x86 or x64
  // program image; true when it did.
  bool FilterProgram();
  // The kind of most of the bytes added: program images (sources that begin with `MZ`), one
  // or several, or not.
  LzmaContent Kind() const;

  std::vector<std::uint8_t> bytes;
  std::uint64_t start = 0;  // of the current source
  std::uint32_t adler = 1;  // of the current source

 private:
  std::uint64_t ProgramBytes() const;

  std::uint64_t programBytes_ = 0;  // of the sources before the current one
};

// Items stored on their own whose bytes an earlier such item of the installer already holds
// (a file shipped twice): each is written as a member pointing back to the first, which the
// installer decodes as it decodes the first.
class RepeatedItems {
 public:
  // `item`, an LZMA item holding its own content alone, is to be written at `position` of
  // `file`, which holds every item written before it and is open for reading. Gives in
  // `member` the item that stands for it when one recorded earlier has the same header,
  // stream and size, compared byte for byte; records it and leaves `member` empty otherwise.
  // False with the reason in `problem` when `file` cannot be read back.
  bool Find(Bytes item, std::uint64_t position, std::FILE* file, std::vector<std::uint8_t>& member,
            std::string& problem);

 private:
  bool FindOrRecord(Bytes item, std::uint64_t position, std::FILE* file,
                    std::vector<std::uint8_t>& member, std::string& problem);

  struct Stored {
    std::uint64_t position;
    std::uint64_t length;
  };
  // By the CRC-32 of the bytes before the tail and the content's size.
  std::unordered_multimap<std::uint64_t, Stored> stored_;
};

}  // namespace vorlatch::packer
