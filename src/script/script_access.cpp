#include "script/script_access.h"

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

}  // namespace

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
