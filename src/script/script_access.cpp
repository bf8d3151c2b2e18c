#include "script/script_access.h"

#include <algorithm>
#include <vector>

#include <windows.h>

#include "package/opening.h"

namespace vorlatch {

namespace {

constexpr std::string_view kWhiteSpace = " \t\r\n\v\f";

std::string Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kWhiteSpace);
  if (first == std::string_view::npos) {
    return std::string();
  }
  const std::size_t last = text.find_last_not_of(kWhiteSpace);
  return std::string(text.substr(first, last - first + 1));
}

std::string FileOrScript(const std::string& file) {
  return file.empty() ? ScriptPath() : file;
}

std::string UpperCase(std::string_view text) {
  std::string upper(text);
  if (!upper.empty()) {
    ::CharUpperBuffA(upper.data(), static_cast<DWORD>(upper.size()));
  }
  return upper;
}

// A section larger than this is read in part; keys past the part go to the profile functions.
constexpr std::size_t kMaxSectionBytes = std::size_t{1} << 26;

bool IsPlainNumber(const std::string& text) {
  return !text.empty() && text.size() <= 9 &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

bool IsQuoted(const std::string& text) {
  return !text.empty() && (text.front() == '"' || text.front() == '\'');
}

}  // namespace

IniSection::IniSection(std::string_view section, const std::string& file)
    : section_(Trimmed(section)), file_(FileOrScript(file)) {
  std::vector<char> buffer(std::size_t{1} << 16);
  DWORD length = 0;
  for (;;) {
    length = ::GetPrivateProfileSectionA(section_.c_str(), buffer.data(),
                                         static_cast<DWORD>(buffer.size()), file_.c_str());
    // size - 2 means the buffer was too small.
    if (length + 2 < buffer.size() || buffer.size() >= kMaxSectionBytes) {
      break;
    }
    buffer.resize(buffer.size() * 4);
  }
  complete_ = length + 2 < buffer.size();
  for (std::size_t at = 0; at < length && buffer[at] != '\0';) {
    const std::string line(buffer.data() + at);
    at += line.size() + 1;
    if (!complete_ && at >= length) {
      break;  // the last line of a section read in part may be cut
    }
    index_.emplace_back(UpperCase(line.substr(0, line.find('='))), lines_.size());
    lines_.push_back(line);
  }
  // By name, then by line: of equal names the first line comes first.
  std::sort(index_.begin(), index_.end());
}

const std::string* IniSection::Find(const std::string& key, bool& platformShaped) const {
  const std::string upper = UpperCase(key);
  const auto found = std::lower_bound(
      index_.begin(), index_.end(), upper,
      [](const auto& entry, const std::string& name) { return entry.first < name; });
  if (found == index_.end() || found->first != upper) {
    platformShaped = !complete_;
    return nullptr;
  }
  const std::string& line = lines_[found->second];
  platformShaped = line.find('=') == std::string::npos;
  return &line;
}

std::string IniSection::String(const std::string& key, std::string_view defaultValue) const {
  bool platformShaped = false;
  const std::string* line = Find(key, platformShaped);
  const std::string value = line == nullptr ? std::string() : line->substr(line->find('=') + 1);
  if (platformShaped || IsQuoted(value) || (line == nullptr && !defaultValue.empty())) {
    return ReadScriptString(section_, key, defaultValue, file_);
  }
  return value.substr(0, kMaxScriptValueLength);
}

int IniSection::Int(const std::string& key, int defaultValue) const {
  bool platformShaped = false;
  const std::string* line = Find(key, platformShaped);
  if (line == nullptr && !platformShaped) {
    return defaultValue;
  }
  const std::string value = line == nullptr ? std::string() : line->substr(line->find('=') + 1);
  if (platformShaped || !IsPlainNumber(value)) {
    return ReadScriptInt(section_, key, defaultValue, file_);
  }
  int number = 0;
  for (const char digit : value) {
    number = number * 10 + (digit - '0');
  }
  return number;
}

bool WriteIniSection(std::string_view section, const std::vector<std::string>& lines,
                     const std::string& file) {
  if (lines.empty()) {
    return true;
  }
  std::string text;
  for (const std::string& line : lines) {
    text.append(line).push_back('\0');
  }
  text.push_back('\0');
  const std::string path = FileOrScript(file);
  const bool written =
      ::WritePrivateProfileSectionA(std::string(section).c_str(), text.c_str(), path.c_str()) != 0;
  ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());
  return written;
}

std::string ReadScriptString(std::string_view section, std::string_view key,
                             std::string_view defaultValue, const std::string& file) {
  const std::string path = FileOrScript(file);
  const std::string trimmedSection = Trimmed(section);
  const std::string trimmedKey = Trimmed(key);
  const std::string fallback(defaultValue);
  char buffer[kMaxScriptValueLength + 1] = {};
  const DWORD length =
      ::GetPrivateProfileStringA(trimmedSection.c_str(), trimmedKey.c_str(), fallback.c_str(),
                                 buffer, sizeof buffer, path.c_str());
  return std::string(buffer, length < sizeof buffer ? length : kMaxScriptValueLength);
}

int ReadScriptInt(std::string_view section, std::string_view key, int defaultValue,
                  const std::string& file) {
  const std::string path = FileOrScript(file);
  return static_cast<int>(::GetPrivateProfileIntA(
      std::string(section).c_str(), std::string(key).c_str(), defaultValue, path.c_str()));
}

bool WriteIniString(std::string_view section, const std::optional<std::string>& key,
                    const std::optional<std::string>& value, std::string_view defaultValue,
                    const std::string& file) {
  const std::string path = FileOrScript(file);
  const std::string sectionName(section);
  const char* keyName = key ? key->c_str() : nullptr;
  if (!::WritePrivateProfileStringA(sectionName.c_str(), keyName, nullptr, path.c_str())) {
    return false;
  }
  if (key && value && !EqualNoCase(*value, defaultValue)) {
    if (!::WritePrivateProfileStringA(sectionName.c_str(), keyName, value->c_str(), path.c_str())) {
      return false;
    }
  }
  ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());
  return true;
}

bool WriteIniInt(std::string_view section, std::string_view key, int value, int defaultValue,
                 const std::string& file) {
  return WriteIniString(section, std::string(key), IntToText(value), IntToText(defaultValue), file);
}

std::string IntToText(int n) {
  return std::to_string(n);
}

std::string NumberedName(std::string_view word, int n) {
  return std::string(word) + IntToText(n);
}

std::string NumberedName(std::string_view word, int n, int m) {
  return std::string(word) + IntToText(n) + '_' + IntToText(m);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && UpperCase(a) == UpperCase(b);
}

}  // namespace vorlatch
