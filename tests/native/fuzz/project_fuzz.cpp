// libFuzzer target: the packer's reading of a project file. Parses the text as INI, checks
// that what it read is what a second reading of its own output reads, that every key gives
// back its value and that changes keep the document sound; then plans the build as the
// builder does ([Build] values and code page, items, script) without reading a file that the
// project names, and checks the plan against the project; runs the builder's checks of the
// project over it. A finding is a broken invariant, a
// read outside the input, a leak or undefined behaviour.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "package/password_text.h"
#include "packer/ini_text.h"
#include "packer/packer.h"
#include "packer/project_checks.h"

namespace {

using vorlatch::Bytes;
using vorlatch::packer::EqualNoCase;
using vorlatch::packer::IniSection;
using vorlatch::packer::IniText;

std::string_view Unquoted(std::string_view value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

bool SameDocument(const IniText& a, const IniText& b) {
  const auto& x = a.Sections();
  const auto& y = b.Sections();
  if (x.size() != y.size()) {
    return false;
  }
  for (std::size_t s = 0; s < x.size(); ++s) {
    if (x[s].name != y[s].name || x[s].entries.size() != y[s].entries.size()) {
      return false;
    }
    for (std::size_t e = 0; e < x[s].entries.size(); ++e) {
      if (x[s].entries[e].key != y[s].entries[e].key ||
          x[s].entries[e].value != y[s].entries[e].value) {
        return false;
      }
    }
  }
  return true;
}

void CheckSections(const IniText& document) {
  const auto& sections = document.Sections();
  for (std::size_t s = 0; s < sections.size(); ++s) {
    const IniSection& section = sections[s];
    for (std::size_t t = s + 1; t < sections.size(); ++t) {
      if (EqualNoCase(section.name, sections[t].name)) {
        __builtin_trap();  // later sections of the same name add to the first
      }
    }
    for (std::size_t e = 0; e < section.entries.size(); ++e) {
      const auto& entry = section.entries[e];
      for (std::size_t f = e + 1; f < section.entries.size(); ++f) {
        if (EqualNoCase(entry.key, section.entries[f].key)) {
          __builtin_trap();  // the first of duplicate keys wins
        }
      }
      const auto value = document.Get(section.name, entry.key);
      if (!value || *value != Unquoted(entry.value)) {
        __builtin_trap();
      }
      (void)document.GetInt(section.name, entry.key);
      (void)vorlatch::packer::NumberedKey(entry.key, "Source");
      (void)vorlatch::packer::NumberedKey(entry.key, "File");
    }
  }
}

// Well-formed UTF-8, found by decoding: every sequence gives a code point that needs all its
// bytes, is no surrogate and goes no higher than U+10FFFF.
bool IsUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80             ? 1
                               : (lead & 0xE0) == 0xC0 ? 2
                               : (lead & 0xF0) == 0xE0 ? 3
                               : (lead & 0xF8) == 0xF0 ? 4
                                                       : 0;
    if (length == 0 || text.size() - i < length) {
      return false;
    }
    char32_t point = length == 1 ? lead : lead & (0x7FU >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) {
        return false;
      }
      point = (point << 6) | (next & 0x3FU);
    }
    constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < kLeast[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
}

// n when `key` is `word` followed by n as a program writes it (decimal, no leading zero).
long long NumberAfter(std::string_view key, std::string_view word) {
  const std::string_view digits = key.substr(std::min(word.size(), key.size()));
  if (!EqualNoCase(key.substr(0, word.size()), word) || digits.empty() || digits.size() > 9 ||
      digits.find_first_not_of("0123456789") != std::string_view::npos) {
    return 0;
  }
  const long long number = std::stoll(std::string(digits));
  return std::to_string(number) == digits ? number : 0;
}

// A key that only the builder reads (the sources), or one that locates an item, which the
// builder writes itself: a project's own would lead the installer to other bytes.
bool IsBuilderKey(std::string_view section, std::string_view key, long long files) {
  if (EqualNoCase(section, "File")) {
    for (const char* word : {"Source", "Zip", "Pos"}) {
      const long long n = NumberAfter(key, word);
      if (n >= 1 && n <= files) {
        return true;
      }
    }
    for (const char* fixed : {"DllSource", "UninstallZip", "UninstallPos", "DllZip", "DllPos"}) {
      if (EqualNoCase(key, fixed)) {
        return true;
      }
    }
  }
  return (EqualNoCase(section, "Before") || EqualNoCase(section, "After")) &&
         (EqualNoCase(key, "FileSource") || EqualNoCase(key, "FileZip") ||
          EqualNoCase(key, "FilePos"));
}

void CheckPlan(Bytes bytes, const IniText& project) {
  vorlatch::packer::BuildOptions options;
  options.project = "project/setup.ini";
  // A stub given here, not by the project: the default uninstaller is looked for beside it,
  // so the plan opens no file that the input names.
  options.stub = "stub/vorlatch-stub.exe";
  // As in a reproducible build: a locked installer's key comes from the project's bytes.
  options.latestTime = 0;
  vorlatch::packer::ProjectPlan plan;
  std::string error;
  const bool planned = vorlatch::packer::PlanProject(options, bytes, plan, error);

  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  const auto codePage = project.Get("Build", "CodePage");
  // The key that a message blames follows the project's name (a value quoted later in a
  // message may hold any text).
  const bool refusedCodePage = error.starts_with(options.project + ": [Build] CodePage: ");
  if (codePage && (EqualNoCase(*codePage, "UTF-8") || *codePage == "65001") &&
      refusedCodePage == IsUtf8(text)) {
    __builtin_trap();  // UTF-8 asked for: refused exactly when the file is not UTF-8
  }
  if (!planned) {
    return;
  }
  const IniText script = IniText::Parse(plan.script);
  const long long files = project.GetInt("File", "File");
  for (const IniSection& section : script.Sections()) {
    if (EqualNoCase(section.name, "Build")) {
      __builtin_trap();  // the password and the build's paths stay out of the installer
    }
    for (const auto& entry : section.entries) {
      if (IsBuilderKey(section.name, entry.key, files)) {
        __builtin_trap();
      }
    }
  }
  if (const auto password = project.Get("Build", "Password")) {
    // The installer rebuilds the password from the block and the script's key.
    if (!plan.protectionBlock || script.GetInt("Before", "Protect") == 0 ||
        vorlatch::RebuildPassword(*plan.protectionBlock, script.GetString("Before", "Password")) !=
            *password) {
      __builtin_trap();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  IniText project = IniText::Parse(text);
  CheckSections(project);
  if (!SameDocument(IniText::Parse(project.Serialize()), project)) {
    __builtin_trap();
  }

  CheckPlan(Bytes(data, size), project);
  for (const auto& found : vorlatch::packer::CheckProjectText(text)) {
    if (found.message.empty() || found.line < 0) {
      __builtin_trap();  // every finding says what and where
    }
  }

  // Changes named by the document itself keep it sound.
  if (!project.Sections().empty() && !project.Sections().front().entries.empty()) {
    const std::string section = project.Sections().front().name;
    const std::string key = project.Sections().front().entries.front().key;
    const std::string value = project.Sections().back().name;
    project.Set(section, key, value);
    const auto read = project.Get(section, key);
    if (!read || *read != Unquoted(vorlatch::packer::TrimBlanks(value))) {
      __builtin_trap();
    }
    project.Remove(section, key);
    if (project.Get(section, key)) {
      __builtin_trap();
    }
    project.RemoveSection(value);
    CheckSections(project);
  }
  return 0;
}
