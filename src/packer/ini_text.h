#pragma once
// A small INI document held in memory, read and written the way the Windows profile
// functions see such a file: names compare without regard to case, the first of duplicate
// keys wins, values lose the blanks around them. Portable, so that the builder and the
// package reader's fuzz target work on any platform. Order is kept, so that writing the
// same document twice gives the same bytes.

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vorlatch::packer {

struct IniEntry {
  std::string key;
  std::string value;  // as written, without the blanks around it
};

struct IniSection {
  std::string name;
  std::vector<IniEntry> entries;
};

class IniText {
 public:
  // Reads INI text: "[name]" lines open sections, "key=value" lines fill them; blank lines,
  // lines starting with ';' or '#', and lines before the first section are ignored. Later
  // sections of the same name add to the first one; later duplicate keys are dropped.
  static IniText Parse(std::string_view text);

  // The value of a key as the profile functions return it (one pair of enclosing double
  // quotes removed), or nothing when the section or key is absent.
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  // The string value, or `fallback` when absent.
  std::string GetString(std::string_view section, std::string_view key,
                        std::string_view fallback = {}) const;
  // The integer value with the profile functions' rule: an optional minus sign and the
  // leading decimal digits; text without digits gives 0; an absent key gives `fallback`.
  long long GetInt(std::string_view section, std::string_view key, long long fallback = 0) const;

  // Sets a key: an existing one keeps its place, a new one goes to the end of its section,
  // a new section to the end of the document.
  void Set(std::string_view section, std::string_view key, std::string_view value);
  void Remove(std::string_view section, std::string_view key);
  void RemoveSection(std::string_view section);
  // Removes every key of the section for which `predicate(key)` is true.
  template <typename Predicate>
  void RemoveIf(std::string_view section, Predicate predicate) {
    if (IniSection* found = Find(section)) {
      std::erase_if(found->entries, [&](const IniEntry& e) { return predicate(e.key); });
      Reindex(static_cast<std::size_t>(found - sections_.data()));
    }
  }

  const std::vector<IniSection>& Sections() const { return sections_; }

  // "[name]" lines and "key=value" lines, CR LF line ends, one blank line between sections.
  std::string Serialize() const;

 private:
  IniSection* Find(std::string_view section);
  const IniSection* Find(std::string_view section) const;
  // The entry of a key in a section found by Find, or null.
  const IniEntry* FindEntry(const IniSection& section, std::string_view key) const;
  void Reindex(std::size_t section);
  void ReindexAll();

  std::vector<IniSection> sections_;
  // Lower-case names → positions, so that large projects read and change in linear time.
  std::unordered_map<std::string, std::size_t> sectionIndex_;
  std::vector<std::unordered_map<std::string, std::size_t>> keyIndex_;  // one per section
};

// Names compare as the profile functions compare them: ASCII letters without regard to case.
bool EqualNoCase(std::string_view a, std::string_view b);
std::string_view TrimBlanks(std::string_view text);

// "Source12" with word "Source" → 12; nothing when `key` is not the word plus a decimal
// number without leading zeros.
// Well-formed UTF-8: every sequence complete, shortest form, no surrogate, at most U+10FFFF.
bool IsUtf8Text(std::string_view text);

std::optional<long long> NumberedKey(std::string_view key, std::string_view word);

}  // namespace vorlatch::packer
