#pragma once
// An item read whole into memory through one of the piecewise readers (ItemInflater,
// ItemDecoder). Only for files built with exceptions: running out of memory is an answer here.

#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <span>
#include <vector>

namespace vorlatch {

// The reader's bytes, grown `pieceSize` at a time (no more room than the item really gives);
// nothing when the reader fails or memory runs out.
template <typename Reader>
std::optional<std::vector<std::uint8_t>> ReadWhole(Reader& reader, std::size_t pieceSize) {
  std::vector<std::uint8_t> content;
  try {
    while (reader.state() == Reader::State::kMore) {
      const std::size_t start = content.size();
      content.resize(start + pieceSize);
      content.resize(start + reader.Next(std::span(content).subspan(start)));
    }
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  if (reader.state() != Reader::State::kDone) {
    return std::nullopt;
  }
  return content;
}

}  // namespace vorlatch
