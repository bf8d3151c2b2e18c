// libFuzzer target: the LZMA item and solid block reader. Each input makes a block: its content
// compressed by the packer's encoder (even first byte) or its bytes taken as a raw stream (odd),
// split into a holder and members as the packer lays them out, the package then damaged at one
// byte or not. The items are read in an order that the input chooses, with one decoder kept
// between them, and every item that decodes is compared with what xz's liblzma decodes from
// the same stream; an undamaged encoded block must give back every item's content. A raw
// stream's holder alone may say that its content went through the x86 branch filter.

#include <lzma.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "package/branch_filter.h"
#include "package/format.h"
#include "package/lzma_item.h"
#include "packer/lzma_packing.h"

namespace {

using vorlatch::Bytes;

// liblzma's output for the raw LZMA1 stream, up to `most` bytes; stops at an error or the end.
// With `x86`, through its x86 branch filter, the stream's content being `most` bytes.
std::vector<std::uint8_t> ReferenceContent(const std::uint8_t* props, Bytes stream,
                                           std::size_t most, bool& usable, bool x86 = false) {
  lzma_filter chain[3] = {{LZMA_FILTER_X86, nullptr},
                          {x86 ? LZMA_FILTER_LZMA1EXT : LZMA_FILTER_LZMA1, nullptr},
                          {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_filter* const filters = chain + 1;
  usable = lzma_properties_decode(&filters[0], nullptr, props, vorlatch::kLzmaPropsSize) == LZMA_OK;
  if (usable) {
    static_cast<lzma_options_lzma*>(filters[0].options)->ext_size_low = static_cast<uint32_t>(most);
  }
  std::vector<std::uint8_t> content(most);
  std::size_t made = 0;
  if (usable) {
    lzma_stream z = LZMA_STREAM_INIT;
    if (lzma_raw_decoder(&z, x86 ? chain : filters) == LZMA_OK) {
      z.next_in = stream.data();
      z.avail_in = stream.size();
      z.next_out = content.data();
      z.avail_out = content.size();
      while (z.avail_out != 0 && lzma_code(&z, LZMA_RUN) == LZMA_OK && z.avail_in != 0) {
      }
      made = content.size() - z.avail_out;
    } else {
      usable = false;
    }
    lzma_end(&z);
  }
  std::free(filters[0].options);
  content.resize(made);
  return content;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) {
    return 0;
  }
  const std::uint8_t mode = data[0];
  const std::size_t items = 1 + data[1] % 4;
  const std::size_t damageAt = data[2] | (static_cast<std::size_t>(data[3]) << 8);
  Bytes rest(data + 4, size - 4);
  std::uint8_t props[vorlatch::kLzmaPropsSize] = {};
  std::vector<std::uint8_t> stream;
  std::vector<std::uint8_t> content;
  const bool encoded = mode % 2 == 0;
  const bool x86 = (data[1] & 4) != 0 && items == 1 && !encoded;
  if (encoded) {
    if (rest.empty()) {
      return 0;
    }
    content.assign(rest.begin(), rest.end());
    std::string problem;
    const std::uint32_t dictionary = vorlatch::packer::FittingDictionary(content.size(), 1u << 20);
    const auto kind = static_cast<vorlatch::packer::LzmaContent>(mode / 2 % 3);
    if (!vorlatch::packer::EncodeLzmaBlock(rest, kind, dictionary, props, stream, problem)) {
      __builtin_trap();
    }
  } else {
    if (rest.size() < vorlatch::kLzmaPropsSize + 1) {
      return 0;
    }
    std::copy_n(rest.begin(), vorlatch::kLzmaPropsSize, props);
    props[0] %= 9 * 5 * 5;
    props[3] &= 0x0F;  // dictionaries of at most 1 MB: memory, not coverage
    props[4] = 0;
    stream.assign(rest.begin() + vorlatch::kLzmaPropsSize, rest.end());
    // The content is what the independent decoder makes of the stream, so that the checksums
    // match and items decode; an unusable stream gets content that no item will match.
    bool usable = false;
    content = ReferenceContent(props, stream, stream.size() * 4 + 16, usable);
    if (content.empty()) {
      content.assign(stream.size() + 1, 'x');
    }
    vorlatch::X86BranchFilter().Decode(std::span(content).first(x86 ? content.size() : 0));
  }
  // The items' content: the block cut into `items` parts of at least one byte.
  std::vector<std::size_t> starts;
  const std::size_t parts = std::min(items, content.size());
  for (std::size_t k = 0; k < parts; ++k) {
    starts.push_back(content.size() * k / parts);
  }
  starts.push_back(content.size());
  std::vector<std::uint8_t> package(16, 0x90);
  std::vector<std::size_t> positions;
  for (std::size_t k = 0; k + 1 < starts.size(); ++k) {
    vorlatch::LzmaItemHeader header;
    header.kind = k == 0 ? vorlatch::LzmaItemKind::kHolder : vorlatch::LzmaItemKind::kMember;
    header.x86 = x86;
    std::copy(std::begin(props), std::end(props), header.props);
    header.adler = static_cast<std::uint32_t>(
        adler32(1, content.data() + starts[k], static_cast<uInt>(starts[k + 1] - starts[k])));
    header.back = k == 0 ? 0 : package.size() - positions[0];
    header.offset = starts[k];
    header.streamLength = k == 0 ? static_cast<std::uint32_t>(stream.size()) : 0;
    positions.push_back(package.size());
    vorlatch::AppendLzmaItemHeader(package, header);
    if (k == 0) {
      package.insert(package.end(), stream.begin(), stream.end());
    }
    vorlatch::ItemTail tail;
    tail.size = static_cast<std::uint32_t>(starts[k + 1] - starts[k]);
    vorlatch::AppendItemTail(package, tail);
  }
  positions.push_back(package.size());
  const bool damaged = (mode & 2) != 0;
  if (damaged) {
    package[damageAt % package.size()] ^= static_cast<std::uint8_t>(data[3] | 1);
  }
  const Bytes view(package.data(), package.size());
  // The reference reads the holder as it now is.
  const auto holder = vorlatch::ReadLzmaItemHeader(view.subspan(positions[0]));
  // A damaged dictionary size of up to 1 GB is the reader's to refuse or take; here it would
  // only cost memory.
  if (holder && vorlatch::ReadU32(holder->props + 1) > (16u << 20)) {
    return 0;
  }
  bool usable = false;
  // A holder alone that says it is filtered is decoded through liblzma's filter, whole.
  const bool referenceX86 = holder && holder->x86 && positions.size() == 2;
  std::vector<std::uint8_t> reference;
  if (holder && holder->streamLength == stream.size()) {
    reference = ReferenceContent(
        holder->props, view.subspan(positions[0] + vorlatch::kLzmaHeaderSize, stream.size()),
        referenceX86 ? content.size() : std::min<std::size_t>(content.size() + 64, 1u << 22),
        usable, referenceX86);
  }
  vorlatch::LzmaBlockDecoder blocks;
  const std::size_t count = positions.size() - 1;
  for (std::size_t step = 0; step < count * 2; ++step) {
    // In order, in reverse, or jumping about; each item at least once.
    const std::size_t k =
        step < count ? ((mode & 4) ? count - 1 - step : step) : (step * (1 + mode / 8)) % count;
    const Bytes item = view.subspan(positions[k], positions[k + 1] - positions[k]);
    const auto decoded = vorlatch::DecodeItem(view, item, blocks);
    const auto header = vorlatch::ReadLzmaItemHeader(item);
    if (!damaged && encoded) {
      if (!decoded || !std::equal(decoded->begin(), decoded->end(),
                                  content.begin() + static_cast<std::ptrdiff_t>(starts[k]),
                                  content.begin() + static_cast<std::ptrdiff_t>(starts[k + 1]))) {
        __builtin_trap();
      }
    }
    if (decoded && usable && header) {
      const std::uint64_t offset =
          header->kind == vorlatch::LzmaItemKind::kHolder ? 0 : header->offset;
      if (offset > reference.size() || decoded->size() > reference.size() - offset ||
          !std::equal(decoded->begin(), decoded->end(),
                      reference.begin() + static_cast<std::ptrdiff_t>(offset))) {
        __builtin_trap();
      }
    }
  }
  return 0;
}
