#pragma once
// Characters of the 8-bit code page that every string of the programs is in. Under a
// double-byte code page (Japanese, Chinese, Korean) a character is a lead byte and one trail
// byte, and the trail byte may be any value from 0x40 up: 0x5C, the backslash, among them.
// Whatever looks for a backslash, a bar or a letter therefore steps over characters, never
// over bytes. Bytes below 0x40 (quotes, blanks, dots, colons, slashes, digits) never stand
// inside a character, so plain byte searches for them stay right.
//
// Free of <windows.h> in its interface so that native tests reach the path helpers built on
// it; under Windows the active code page is the system's ANSI code page.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vorlatch {

class CodePage {
 public:
  static constexpr std::size_t npos = std::string_view::npos;

  // A single-byte code page: every byte is a character.
  constexpr CodePage() = default;
  // The double-byte code pages 932, 936, 949 and 950 by their lead bytes; any other number
  // gives a single-byte code page (UTF-8 included: no ASCII byte stands inside its characters).
  static CodePage Numbered(unsigned number);

  void MarkLeadBytes(unsigned char first, unsigned char last);
  bool IsLeadByte(char c) const {
    const auto b = static_cast<unsigned char>(c);
    return ((lead_[b / 32] >> (b % 32)) & 1U) != 0;
  }
  bool IsDoubleByte() const;

  // The length of the character at `at` (a character boundary): 2 for a lead byte with a byte
  // after it, else 1.
  std::size_t CharLength(std::string_view text, std::size_t at) const {
    return at + 1 < text.size() && IsLeadByte(text[at]) ? 2 : 1;
  }
  // The first position from `from` (a character boundary) of the one-byte character c.
  std::size_t Find(std::string_view text, char c, std::size_t from = 0) const;
  // The position of the last one-byte character c, or npos.
  std::size_t FindLast(std::string_view text, char c) const;
  // The length of `text` without the one-byte characters c at its end.
  std::size_t LengthWithoutTrailing(std::string_view text, char c) const;
  // Whether the last character of `text` is the one-byte character c.
  bool EndsWith(std::string_view text, char c) const;
  // The length of the longest start of `text` of at most `most` bytes that does not end in
  // the middle of a character.
  std::size_t WholeCharactersWithin(std::string_view text, std::size_t most) const;
  // The ASCII letters of one-byte characters in upper case; trail bytes stay as they are.
  std::string AsciiUpper(std::string_view text) const;

 private:
  std::array<std::uint32_t, 8> lead_{};
};

// The code page of this process's 8-bit strings: under Windows the system's ANSI code page,
// read once; elsewhere single-byte until a caller (a test) chooses another.
const CodePage& ActiveCodePage();
void SetActiveCodePage(const CodePage& codePage);

// Upper case as the system makes it: under Windows CharUpperBuffA (the ANSI code page's own
// letters, double-byte characters included); elsewhere the ASCII letters, never a trail byte.
std::string UpperText(std::string_view text);
// Names compared without regard to case as the system compares them: under Windows the
// characters of the code page compared as the file system compares names (ordinal, case
// ignored), which also holds where upper case is longer or shorter than lower case (UTF-8).
bool SameTextIgnoringCase(std::string_view a, std::string_view b);
bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix);

}  // namespace vorlatch
