#include "win/code_page.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace vorlatch {

namespace {

// Constant-initialised: the programs run no constructors of their own before main.
CodePage g_activeCodePage;
bool g_activeCodePageKnown = false;

// Whether `at` is a character boundary of `text` (the end counts as one).
bool IsBoundary(const CodePage& codePage, std::string_view text, std::size_t at) {
  std::size_t i = 0;
  while (i < at) {
    i += codePage.CharLength(text, i);
  }
  return i == at;
}

}  // namespace

CodePage CodePage::Numbered(unsigned number) {
  CodePage codePage;
  switch (number) {
    case 932:  // Japanese (Shift JIS)
      codePage.MarkLeadBytes(0x81, 0x9F);
      codePage.MarkLeadBytes(0xE0, 0xFC);
      break;
    case 936:  // Chinese simplified (GBK)
    case 949:  // Korean (Unified Hangul Code)
    case 950:  // Chinese traditional (Big5)
      codePage.MarkLeadBytes(0x81, 0xFE);
      break;
    default:
      break;
  }
  return codePage;
}

void CodePage::MarkLeadBytes(unsigned char first, unsigned char last) {
  for (unsigned b = first; b <= last; ++b) {
    lead_[b / 32] |= 1U << (b % 32);
  }
}

bool CodePage::IsDoubleByte() const {
  for (const std::uint32_t word : lead_) {
    if (word != 0) {
      return true;
    }
  }
  return false;
}

std::size_t CodePage::Find(std::string_view text, char c, std::size_t from) const {
  for (std::size_t i = from; i < text.size(); i += CharLength(text, i)) {
    if (text[i] == c && !IsLeadByte(c)) {
      return i;
    }
  }
  return npos;
}

std::size_t CodePage::FindLast(std::string_view text, char c) const {
  std::size_t found = npos;
  for (std::size_t i = Find(text, c); i != npos; i = Find(text, c, i + 1)) {
    found = i;
  }
  return found;
}

std::size_t CodePage::LengthWithoutTrailing(std::string_view text, char c) const {
  std::size_t length = 0;  // the end of the last character that is not c
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t next = i + CharLength(text, i);
    if (next != i + 1 || text[i] != c) {
      length = next;
    }
    i = next;
  }
  return length;
}

bool CodePage::EndsWith(std::string_view text, char c) const {
  return !text.empty() && LengthWithoutTrailing(text, c) < text.size();
}

std::size_t CodePage::WholeCharactersWithin(std::string_view text, std::size_t most) const {
  std::size_t length = 0;
  while (length < text.size() && length < most) {
    const std::size_t next = length + CharLength(text, length);
    if (next > most) {
      break;
    }
    length = next;
  }
  return length;
}

std::string CodePage::AsciiUpper(std::string_view text) const {
  std::string upper(text);
  for (std::size_t i = 0; i < upper.size();) {
    const std::size_t length = CharLength(upper, i);
    if (length == 1 && upper[i] >= 'a' && upper[i] <= 'z') {
      upper[i] = static_cast<char>(upper[i] - 'a' + 'A');
    }
    i += length;
  }
  return upper;
}

const CodePage& ActiveCodePage() {
#ifdef _WIN32
  if (!g_activeCodePageKnown) {
    for (unsigned b = 0x80; b <= 0xFF; ++b) {
      if (::IsDBCSLeadByte(static_cast<BYTE>(b)) != FALSE) {
        g_activeCodePage.MarkLeadBytes(static_cast<unsigned char>(b),
                                       static_cast<unsigned char>(b));
      }
    }
    g_activeCodePageKnown = true;
  }
#endif
  return g_activeCodePage;
}

void SetActiveCodePage(const CodePage& codePage) {
  g_activeCodePage = codePage;
  g_activeCodePageKnown = true;
}

std::string UpperText(std::string_view text) {
#ifdef _WIN32
  std::string upper(text);
  if (!upper.empty()) {
    ::CharUpperBuffA(upper.data(), static_cast<DWORD>(upper.size()));
  }
  return upper;
#else
  return ActiveCodePage().AsciiUpper(text);
#endif
}

#ifdef _WIN32
namespace {

// The characters of an 8-bit text; none when it is not whole characters of the code page.
bool WideOf(std::string_view text, std::wstring& wide) {
  if (text.empty()) {
    wide.clear();
    return true;
  }
  const int size = static_cast<int>(text.size());
  const int length =
      ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (length <= 0) {
    return false;
  }
  wide.assign(static_cast<std::size_t>(length), L'\0');
  return ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(),
                               length) == length;
}

}  // namespace
#endif

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  if (a == b) {
    return true;
  }
#ifdef _WIN32
  std::wstring wideA;
  std::wstring wideB;
  if (WideOf(a, wideA) && WideOf(b, wideB)) {
    return ::CompareStringOrdinal(wideA.data(), static_cast<int>(wideA.size()), wideB.data(),
                                  static_cast<int>(wideB.size()), TRUE) == CSTR_EQUAL;
  }
  // Bytes that are no whole characters: compared as bytes, letters folded in place.
#endif
  return a.size() == b.size() && UpperText(a) == UpperText(b);
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && IsBoundary(ActiveCodePage(), text, prefix.size()) &&
         SameTextIgnoringCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace vorlatch
