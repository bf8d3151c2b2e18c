#pragma once
// The uninstall log frozen into the end of the uninstaller's own file: the program, the log
// text, then the text's length (4 bytes, little-endian). Everything here decides whether a
// tail can be trusted before a byte of the log is used. Portable: no <windows.h>.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "package/format.h"

namespace vorlatch {

inline constexpr std::uint32_t kLogLengthSize = 4;
// No installation writes a log this large; a tail that says otherwise is damaged.
inline constexpr std::uint32_t kMaxFrozenLogLength = 16u * 1024u * 1024u;
// The bytes at the start of the file that the program check reads (headers and section table).
inline constexpr std::uint32_t kProgramHeaderReadSize = 64u * 1024u;

// Why a tail cannot be trusted.
enum class TailProblem {
  kNone,
  kUnreadable,      // the file itself cannot be read
  kFileTooShort,    // shorter than a length and one byte of log
  kNoLog,           // the length is 0: nothing was frozen into the file
  kLengthTooLarge,  // the length claims more than the file holds, or more than any log
  kNotAProgram,     // the bytes before the log are not a whole program
  kNotText,         // the bytes are not a log's text
  kNoDestination,   // the log names no absolute installation folder
  kTemporaryName,   // the temporary folder, where the log is read from, has an unusable name
};

struct FrozenLogPlace {
  std::uint64_t offset = 0;  // from the start of the file
  std::uint32_t length = 0;
};

// Where the log lies in a file of `fileSize` bytes whose last four bytes hold `storedLength`;
// none (with `problem` set) when the length is 0, larger than the file before it, or beyond
// kMaxFrozenLogLength.
std::optional<FrozenLogPlace> PlaceOfFrozenLog(std::uint64_t fileSize, std::uint32_t storedLength,
                                               TailProblem& problem);

// The end of a Windows program image as its headers describe it: the furthest byte that the
// headers or a section's raw data reach. `headers` is the start of the file (up to
// kProgramHeaderReadSize bytes). None when the bytes are not a program's headers.
std::optional<std::uint64_t> ProgramImageEnd(Bytes headers);

// Whether the text can be a log: no NUL bytes, and the first thing after white space is a
// section header.
bool LooksLikeLogText(std::string_view text);

// The reason in words, to follow "is missing or damaged: ".
std::string TailProblemText(TailProblem problem);

// The log text in the tail of a file of `fileSize` bytes, when the tail can be trusted: a
// sound length, a whole program before it, and text that starts with a section. The file is
// read through `readAt(offset, buffer, length)`, which reads exactly `length` bytes or fails;
// only the length, the program's headers and the text are read.
template <typename ReadAt>
std::optional<std::string> FrozenLogText(std::uint64_t fileSize, ReadAt readAt,
                                         TailProblem& problem) {
  problem = TailProblem::kUnreadable;
  std::uint8_t lengthBytes[kLogLengthSize] = {};
  if (fileSize >= kLogLengthSize &&
      !readAt(fileSize - kLogLengthSize, lengthBytes, kLogLengthSize)) {
    return std::nullopt;
  }
  const std::optional<FrozenLogPlace> place =
      PlaceOfFrozenLog(fileSize, ReadU32(lengthBytes), problem);
  if (!place) {
    return std::nullopt;
  }

  // The program in front of the log must be whole: a length that cuts into it is damaged.
  std::vector<std::uint8_t> headers(static_cast<std::size_t>(
      place->offset < kProgramHeaderReadSize ? place->offset : kProgramHeaderReadSize));
  if (!readAt(0, headers.data(), static_cast<std::uint32_t>(headers.size()))) {
    problem = TailProblem::kUnreadable;
    return std::nullopt;
  }
  const std::optional<std::uint64_t> imageEnd =
      ProgramImageEnd(Bytes(headers.data(), headers.size()));
  if (!imageEnd || *imageEnd > place->offset) {
    problem = TailProblem::kNotAProgram;
    return std::nullopt;
  }

  std::string text(place->length, '\0');
  if (!readAt(place->offset, text.data(), place->length)) {
    problem = TailProblem::kUnreadable;
    return std::nullopt;
  }
  if (!LooksLikeLogText(text)) {
    problem = TailProblem::kNotText;
    return std::nullopt;
  }
  problem = TailProblem::kNone;
  return text;
}

}  // namespace vorlatch
