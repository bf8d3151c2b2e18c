#include "packer/ini_text.h"

#include <algorithm>

namespace vorlatch::packer {

namespace {

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerName(std::string_view name) {
  std::string lower(TrimBlanks(name));
  for (char& c : lower) {
    c = LowerAscii(c);
  }
  return lower;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v';
}

}  // namespace

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return LowerAscii(x) == LowerAscii(y);
         });
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && IsBlank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

std::optional<long long> NumberedKey(std::string_view key, std::string_view word) {
  if (key.size() <= word.size() || !EqualNoCase(key.substr(0, word.size()), word)) {
    return std::nullopt;
  }
  const std::string_view digits = key.substr(word.size());
  if (digits.size() > 9 || digits.front() == '0') {
    return std::nullopt;
  }
  long long number = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    number = number * 10 + (c - '0');
  }
  return number;
}

bool IsUtf8Text(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    const std::size_t length = b < 0x80                 ? 1
                               : b >= 0xC2 && b <= 0xDF ? 2
                               : b >= 0xE0 && b <= 0xEF ? 3
                               : b >= 0xF0 && b <= 0xF4 ? 4
                                                        : 0;
    if (length == 0 || i + length > text.size()) {
      return false;
    }
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
        return false;
      }
    }
    const unsigned second = length > 1 ? static_cast<unsigned char>(text[i + 1]) : 0x80u;
    if ((b == 0xE0 && second < 0xA0) || (b == 0xED && second > 0x9F) ||
        (b == 0xF0 && second < 0x90) || (b == 0xF4 && second > 0x8F)) {
      return false;
    }
    i += length;
  }
  return true;
}

IniText IniText::Parse(std::string_view text) {
  IniText result;
  IniSection* current = nullptr;
  // Editors on Windows like to start UTF-8 files with a byte order mark; it is no text.
  if (text.starts_with("\xEF\xBB\xBF")) {
    text.remove_prefix(3);
  }
  while (!text.empty()) {
    const std::size_t lineEnd = text.find('\n');
    std::string_view line = TrimBlanks(text.substr(0, lineEnd));
    text.remove_prefix(lineEnd == std::string_view::npos ? text.size() : lineEnd + 1);
    if (line.empty() || line.front() == ';' || line.front() == '#') {
      continue;
    }
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      const std::string_view name =
          TrimBlanks(line.substr(1, close == std::string_view::npos ? line.size() - 1 : close - 1));
      current = result.Find(name);
      if (current == nullptr) {
        result.sectionIndex_.emplace(LowerName(name), result.sections_.size());
        result.sections_.push_back(IniSection{std::string(name), {}});
        result.keyIndex_.emplace_back();
        current = &result.sections_.back();
      }
      continue;
    }
    const std::size_t equals = line.find('=');
    if (current == nullptr || equals == std::string_view::npos) {
      continue;
    }
    const std::string_view key = TrimBlanks(line.substr(0, equals));
    const std::string_view value = TrimBlanks(line.substr(equals + 1));
    if (key.empty()) {
      continue;
    }
    auto& keys = result.keyIndex_[static_cast<std::size_t>(current - result.sections_.data())];
    if (keys.emplace(LowerName(key), current->entries.size()).second) {
      current->entries.push_back(IniEntry{std::string(key), std::string(value)});
    }
  }
  return result;
}

IniSection* IniText::Find(std::string_view section) {
  const auto found = sectionIndex_.find(LowerName(section));
  return found == sectionIndex_.end() ? nullptr : &sections_[found->second];
}

const IniSection* IniText::Find(std::string_view section) const {
  return const_cast<IniText*>(this)->Find(section);
}

const IniEntry* IniText::FindEntry(const IniSection& section, std::string_view key) const {
  const auto& keys = keyIndex_[static_cast<std::size_t>(&section - sections_.data())];
  const auto found = keys.find(LowerName(key));
  return found == keys.end() ? nullptr : &section.entries[found->second];
}

void IniText::Reindex(std::size_t section) {
  auto& keys = keyIndex_[section];
  keys.clear();
  const auto& entries = sections_[section].entries;
  for (std::size_t e = 0; e < entries.size(); ++e) {
    keys.emplace(LowerName(entries[e].key), e);
  }
}

void IniText::ReindexAll() {
  sectionIndex_.clear();
  keyIndex_.assign(sections_.size(), {});
  for (std::size_t s = 0; s < sections_.size(); ++s) {
    sectionIndex_.emplace(LowerName(sections_[s].name), s);
    Reindex(s);
  }
}

std::optional<std::string> IniText::Get(std::string_view section, std::string_view key) const {
  const IniSection* found = Find(section);
  const IniEntry* entry = found == nullptr ? nullptr : FindEntry(*found, key);
  if (entry == nullptr) {
    return std::nullopt;
  }
  std::string_view value = entry->value;
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

std::string IniText::GetString(std::string_view section, std::string_view key,
                               std::string_view fallback) const {
  auto value = Get(section, key);
  return value ? *value : std::string(fallback);
}

long long IniText::GetInt(std::string_view section, std::string_view key,
                          long long fallback) const {
  const auto value = Get(section, key);
  if (!value) {
    return fallback;
  }
  std::string_view text = *value;
  const bool negative = !text.empty() && text.front() == '-';
  if (negative) {
    text.remove_prefix(1);
  }
  long long number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') {
      break;
    }
    // Saturate instead of wrapping: such values are nonsense either way, never undefined.
    number = number > (1LL << 40) ? number : number * 10 + (c - '0');
  }
  return negative ? -number : number;
}

void IniText::Set(std::string_view section, std::string_view key, std::string_view value) {
  IniSection* found = Find(section);
  if (found == nullptr) {
    sectionIndex_.emplace(LowerName(section), sections_.size());
    sections_.push_back(IniSection{std::string(TrimBlanks(section)), {}});
    keyIndex_.emplace_back();
    found = &sections_.back();
  }
  const std::string_view name = TrimBlanks(key);
  auto& keys = keyIndex_[static_cast<std::size_t>(found - sections_.data())];
  const auto [at, added] = keys.emplace(LowerName(name), found->entries.size());
  if (!added) {
    found->entries[at->second].value = std::string(TrimBlanks(value));
    return;
  }
  found->entries.push_back(IniEntry{std::string(name), std::string(TrimBlanks(value))});
}

void IniText::Remove(std::string_view section, std::string_view key) {
  const std::string_view name = TrimBlanks(key);
  RemoveIf(section, [&](const std::string& k) { return EqualNoCase(k, name); });
}

void IniText::RemoveSection(std::string_view section) {
  const std::string_view name = TrimBlanks(section);
  std::erase_if(sections_, [&](const IniSection& s) { return EqualNoCase(s.name, name); });
  ReindexAll();
}

std::string IniText::Serialize() const {
  std::string out;
  for (const IniSection& s : sections_) {
    if (!out.empty()) {
      out += "\r\n";
    }
    out += '[';
    out += s.name;
    out += "]\r\n";
    for (const IniEntry& e : s.entries) {
      out += e.key;
      out += '=';
      out += e.value;
      out += "\r\n";
    }
  }
  return out;
}

}  // namespace vorlatch::packer
