// libFuzzer target: the packer's reading of a project file. Parses the text as INI, checks
// that what it read is what a second reading of its own output reads, that every key gives
// back its value, that changes keep the document sound, and runs the checks the builder makes
// on the [Build] values. A finding is a broken invariant, a read outside the input, a leak or
// undefined behaviour.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "packer/execution_level.h"
#include "packer/ini_text.h"
#include "packer/password_protection.h"
#include "packer/source_file.h"
#include "win/code_page.h"

namespace {

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  IniText project = IniText::Parse(text);
  CheckSections(project);
  if (!SameDocument(IniText::Parse(project.Serialize()), project)) {
    __builtin_trap();
  }

  // What the builder checks before it reads a single source.
  if (const auto level = project.Get("Build", "ExecutionLevel")) {
    (void)vorlatch::packer::IsExecutionLevel(*level);
  }
  if (const auto password = project.Get("Build", "Password")) {
    (void)vorlatch::packer::PasswordProblem(*password);
  }
  for (unsigned number : {1252u, 932u}) {
    const auto codePage = vorlatch::CodePage::Numbered(number);
    for (const char* key : {"Stub", "Output", "Uninstaller"}) {
      const std::string path =
          vorlatch::packer::ResolvePath("project/", project.GetString("Build", key), codePage);
      (void)vorlatch::packer::FolderOf(path);
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
