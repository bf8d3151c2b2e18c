#pragma once
// Reading and writing INI data through the Windows profile functions, on every call: the
// script (when no file is given) and other INI files such as the uninstall log.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vorlatch {

// Longest value a read returns; longer values are cut.
inline constexpr std::size_t kMaxScriptValueLength = 1023;

// The value of [section] key, or `defaultValue` when absent. Section and key are trimmed of
// white space first. An empty `file` means the script.
std::string ReadScriptString(std::string_view section, std::string_view key,
                             std::string_view defaultValue, const std::string& file = "");

// The integer value of [section] key (names passed unchanged), `defaultValue` when absent;
// text that is not a number reads as 0.
int ReadScriptInt(std::string_view section, std::string_view key, int defaultValue,
                  const std::string& file = "");

// Removes [section] key (the whole section when there is no key), then stores `value` unless
// it equals `defaultValue` without regard to case, then flushes the profile cache. False when
// a write fails. An empty `file` means the script.
bool WriteIniString(std::string_view section, const std::optional<std::string>& key,
                    const std::optional<std::string>& value, std::string_view defaultValue,
                    const std::string& file = "");

bool WriteIniInt(std::string_view section, std::string_view key, int value, int defaultValue,
                 const std::string& file = "");

// One section of an INI file read with a single profile call, for loops that would otherwise
// read it key by key: each key read goes through the profile functions, which look at the
// file again every time. Lookups answer as ReadScriptString and ReadScriptInt would for the
// file as it was when read; a value whose reading the platform shapes (quoted text, an
// integer in any form other than plain decimal digits, a name without a value) is read
// through those functions instead, so the answer never differs.
class IniSection {
 public:
  IniSection(std::string_view section, const std::string& file = "");

  std::string String(const std::string& key, std::string_view defaultValue) const;
  int Int(const std::string& key, int defaultValue) const;

  // The section's name, trimmed.
  const std::string& Name() const { return section_; }

  // The section's entries as read ("key=value"), in file order.
  const std::vector<std::string>& Lines() const { return lines_; }

 private:
  const std::string* Find(const std::string& key, bool& platformShaped) const;

  std::string section_;
  std::string file_;
  std::vector<std::string> lines_;
  bool complete_ = true;
  // Upper-case key and its line, sorted by key; of equal keys the first line comes first,
  // as the profile functions find the first.
  std::vector<std::pair<std::string, std::size_t>> index_;
};

// Replaces [section] of `file` by `lines` ("key=value" each) with one profile call, then
// flushes the profile cache. False when the write fails. Nothing is written for no lines;
// a line without "=" is no entry and is not written.
bool WriteIniSection(std::string_view section, const std::vector<std::string>& lines,
                     const std::string& file);

// Decimal text of n, with a minus sign when negative.
std::string IntToText(int n);

// A numbered key or section name: File1, Section2_3.
std::string NumberedName(std::string_view word, int n);
std::string NumberedName(std::string_view word, int n, int m);

// Equality of names in the ANSI code page without regard to case.
bool EqualNoCase(std::string_view a, std::string_view b);

}  // namespace vorlatch
