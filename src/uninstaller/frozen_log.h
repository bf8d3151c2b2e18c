#pragma once
// The uninstall log frozen into the end of the uninstaller's own file: the program, the log
// text, then the text's length (4 bytes, little-endian). Everything here decides whether a
// tail can be trusted before a byte of the log is used. Portable: no <windows.h>.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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

}  // namespace vorlatch
