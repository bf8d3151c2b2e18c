#include "packer/project_checks.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "packer/ini_text.h"
#include "packer/script_catalogue.h"
#include "script/path_text.h"

namespace vorlatch::packer {

namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return lower;
}

// Pieces appended one by one: GCC 12 misreports "literal" + string as overlapping copies.
template <typename... Pieces>
std::string Join(const Pieces&... pieces) {
  std::string text;
  (text.append(std::string_view(pieces)), ...);
  return text;
}

// One line of the project as the builder reads it.
struct Line {
  int number = 0;
  std::string_view text;  // without the blanks around it
};

std::vector<Line> LinesOf(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) {
    text.remove_prefix(3);
  }
  std::vector<Line> lines;
  int number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    lines.push_back(Line{++number, TrimBlanks(text.substr(0, end))});
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return lines;
}

// The name written as the author would write it: [Key<n>] for a numbered section.
std::string Bracketed(std::string_view name) {
  std::string text = "[";
  text.append(name).append("]");
  return text;
}

// The nearest of `candidates` to `name`, when near enough to be a slip of the keyboard.
std::optional<std::string> Nearest(std::string_view name,
                                   const std::vector<std::string>& candidates) {
  std::optional<std::string> best;
  std::size_t bestDistance = 3;
  for (const std::string& candidate : candidates) {
    const std::size_t distance = NameDistance(name, candidate);
    if (distance < bestDistance && distance * 3 <= std::max(name.size(), candidate.size())) {
      best = candidate;
      bestDistance = distance;
    }
  }
  return best;
}

// The trailing digits of a name ("Fiel1" → "1").
std::string_view TrailingDigits(std::string_view name) {
  std::size_t start = name.size();
  while (start > 0 && name[start - 1] >= '0' && name[start - 1] <= '9') {
    --start;
  }
  return name.substr(start);
}

// Where one occurrence of a section stands: its catalogue entry and its numbers.
struct SectionAt {
  SectionMatch match;
  std::string key;      // lower-case name: later sections of the same name add to the first
  std::string written;  // as written
};

struct Entry {
  int line;
  SectionAt section;
  std::string key;  // as written
  std::string value;
  KeyMatch match;
};

class Checker {
 public:
  std::vector<Diagnostic> Run(std::string_view text) {
    std::optional<SectionAt> section;
    bool inSection = false;
    for (const Line& line : LinesOf(text)) {
      if (line.text.empty() || line.text.front() == ';' || line.text.front() == '#') {
        continue;
      }
      if (line.text.front() == '[') {
        inSection = true;
        section = OpenSection(line);
        continue;
      }
      const std::size_t equals = line.text.find('=');
      if (equals == std::string_view::npos) {
        Report(
            line.number, true,
            Join("not a key=value line, a [section] or a comment: '", line.text, "' is ignored"));
        continue;
      }
      const std::string_view key = TrimBlanks(line.text.substr(0, equals));
      const std::string_view value = TrimBlanks(line.text.substr(equals + 1));
      if (!inSection) {
        Report(line.number, true, std::string(key) + " stands before any [section]: ignored");
        continue;
      }
      if (key.empty()) {
        Report(line.number, true, "no key name before '=': the line is ignored");
        continue;
      }
      if (section) {
        CheckEntry(line.number, *section, key, value);
      }
    }
    CheckCounts();
    CheckWholeProject();
    std::stable_sort(found_.begin(), found_.end(),
                     [](const Diagnostic& a, const Diagnostic& b) { return a.line < b.line; });
    return found_;
  }

 private:
  void Report(int line, bool error, std::string message) {
    found_.push_back(Diagnostic{line, error, std::move(message)});
  }

  std::optional<SectionAt> OpenSection(const Line& line) {
    const std::size_t close = line.text.find(']');
    const std::string_view name = TrimBlanks(
        line.text.substr(1, close == std::string_view::npos ? line.text.size() - 1 : close - 1));
    if (close == std::string_view::npos) {
      Report(line.number, false, "section line without ']'");
    }
    const auto match = FindSection(name);
    if (!match) {
      std::vector<std::string> names;
      for (const CatalogueSection& known : CatalogueSections()) {
        names.emplace_back(known.form == SectionForm::Plain ? std::string(known.word)
                                                            : std::string(known.name));
      }
      const auto nearest = Nearest(name, names);
      Report(line.number, true,
             Join("unknown section ", Bracketed(name), ": its keys are ignored",
                  nearest ? Join(" (did you mean ", Bracketed(*nearest), "?)") : std::string()));
      return std::nullopt;
    }
    SectionAt at{*match, Lower(name), std::string(name)};
    sectionLines_.emplace(at.key, SectionLine{line.number, *match, std::string(name)});
    return at;
  }

  // The sections other than `here` that read a key of this name.
  std::vector<std::string> ReadersOf(std::string_view key, std::string_view here) {
    std::vector<std::string> readers;
    for (const CatalogueSection& other : CatalogueSections()) {
      if (other.name != here && FindKey(other.name, key)) {
        readers.push_back(Bracketed(other.name));
      }
    }
    return readers;
  }

  void CheckEntry(int line, const SectionAt& section, std::string_view key,
                  std::string_view value) {
    const std::string_view sectionName = section.match.section->name;
    const std::string label = Bracketed(section.written) + " " + std::string(key);
    const auto match = FindKey(sectionName, key);
    if (!match) {
      const auto readers = ReadersOf(key, sectionName);
      if (!readers.empty()) {
        std::string where;
        for (const std::string& reader : readers) {
          where += (where.empty() ? "" : ", ") + reader;
        }
        Report(line, true,
               std::string(key) + " is not read in " + Bracketed(section.written) + " (" + where +
                   (readers.size() == 1 ? " reads it): ignored" : " read it): ignored"));
        return;
      }
      std::vector<std::string> names;
      // The number as the installer writes it: "File01" means File1.
      std::string_view digits = TrailingDigits(key);
      while (digits.starts_with('0')) {
        digits.remove_prefix(1);
      }
      for (const CatalogueKey& known : CatalogueKeys()) {
        if (known.section == sectionName) {
          names.push_back(std::string(known.word) +
                          (known.numbered ? (digits.empty() ? "<n>" : std::string(digits)) : ""));
        }
      }
      const auto nearest = Nearest(key, names);
      Report(line, true,
             Join("unknown key ", key, " in ", Bracketed(section.written), ": ignored",
                  nearest ? Join(" (did you mean ", *nearest, "?)") : std::string()));
      return;
    }
    const CatalogueKey& known = *match->key;
    const std::string id = section.key + '\n' + Lower(key);
    if (const auto first = firstLines_.find(id); first != firstLines_.end()) {
      const Entry& earlier = entries_[first->second];
      if (earlier.value == value) {
        Report(line, false,
               std::string(key) + " repeats line " + std::to_string(earlier.line) +
                   " with the same value");
      } else {
        Report(line, true,
               std::string(key) + "=" + std::string(value) + " is ignored: line " +
                   std::to_string(earlier.line) + " sets " + std::string(key) + "=" +
                   earlier.value + " first, and the first one counts");
      }
      return;
    }
    firstLines_.emplace(id, entries_.size());
    entries_.push_back(Entry{line, section, std::string(key), std::string(value), *match});
    if (known.role == KeyRole::Written) {
      Report(line, false, label + " is written by the builder: this value is ignored");
    } else if (known.role == KeyRole::LogOnly) {
      Report(line, false, label + " belongs to the uninstall log: the installer ignores it");
    }
    if (known.windowsPath && value.find('/') != std::string_view::npos) {
      Report(line, true,
             label + "=" + std::string(value) +
                 ": a Windows path takes backslashes (\\), not forward slashes");
    }
    CheckMacros(line, known, label, value);
  }

  static bool IsMacro(std::string_view text, bool wholeValue) {
    const auto macros = PathMacros();
    return std::any_of(macros.begin(), macros.end(), [&](std::string_view macro) {
      return EqualNoCase(text, macro) && (wholeValue || !EqualNoCase(macro, "[Date]"));
    });
  }

  std::string NearestMacro(std::string_view text) {
    std::vector<std::string> names(PathMacros().begin(), PathMacros().end());
    const auto nearest = Nearest(text, names);
    return nearest ? Join(" (did you mean ", *nearest, "?)") : std::string();
  }

  void CheckMacros(int line, const CatalogueKey& known, const std::string& label,
                   std::string_view value) {
    if (known.macros == MacroUse::Leading && !value.empty()) {
      if (value.front() == '[') {
        const std::size_t close = value.find(']');
        const std::string_view macro =
            value.substr(0, close == std::string_view::npos ? value.size() : close + 1);
        if (!IsMacro(macro, false)) {
          const bool target = known.word == "Target" || known.word == "FolderTarget";
          Report(line, true,
                 label + ": unknown macro " + std::string(macro) + NearestMacro(macro) +
                     (target ? "; the installer would use the destination folder itself"
                             : "; the installer would take it as part of the name"));
        }
      } else if (known.word == "Target" || known.word == "FolderTarget") {
        Report(line, false,
               label + "=" + std::string(value) +
                   " starts with no macro ([BID], [PROGFILES], [WINDOWS], [SYSTEM], [TEMP]): "
                   "the installer uses the destination folder itself");
      }
    }
    if (known.macros == MacroUse::WholeValue && value.find('[') != std::string_view::npos) {
      if (value.front() == '[' && value.back() == ']' && value.find(']') == value.size() - 1) {
        if (!IsMacro(value, true)) {
          Report(line, false,
                 label + ": unknown macro " + std::string(value) + NearestMacro(value) +
                     "; it is stored as written");
        }
        return;
      }
      for (std::string_view macro : PathMacros()) {
        if (Lower(value).find(Lower(macro)) != std::string::npos) {
          Report(line, false,
                 label + ": " + std::string(macro) +
                     " expands only as the whole value; here it is stored as written" +
                     (value.find("%1") != std::string_view::npos
                          ? " (a file type's command comes from [File] Associations<n>)"
                          : ""));
          return;
        }
      }
    }
  }

  // The first value of a key in a section, by the section's lower-case name.
  const Entry* Find(const std::string& sectionKey, std::string_view key) const {
    const auto found = firstLines_.find(sectionKey + '\n' + Lower(key));
    return found == firstLines_.end() ? nullptr : &entries_[found->second];
  }

  // The count that applies to numbered keys: the count key's value, else (the builder counts
  // them) the highest number present; nothing when neither is there.
  struct Count {
    long long value = 0;
    const Entry* key = nullptr;  // the count key, when written
  };
  Count CountOf(const std::string& sectionKey, std::string_view sectionName,
                std::string_view countKey) {
    const std::string id = sectionKey + '\n' + std::string(countKey);
    if (const auto known = counts_.find(id); known != counts_.end()) {
      return known->second;
    }
    Count count;
    count.key = Find(sectionKey, countKey);
    if (count.key) {
      count.value = IniText::Parse("[s]\nk=" + count.key->value).GetInt("s", "k");
    } else {
      // As the builder counts them: the keys that the installer reads.
      for (const Entry& entry : entries_) {
        const CatalogueKey& key = *entry.match.key;
        if (entry.section.key == sectionKey && key.numbered && key.countKey == countKey &&
            key.section == sectionName && key.role == KeyRole::Script) {
          count.value = std::max(count.value, entry.match.number);
        }
      }
    }
    counts_.emplace(id, count);
    return count;
  }

  void CheckCounts() {
    // Numbered keys beyond their count, and counts their keys do not fill.
    std::map<std::string, std::set<long long>> present;  // section, word → numbers
    for (const Entry& entry : entries_) {
      const CatalogueKey& known = *entry.match.key;
      if (!known.numbered || known.countKey.empty()) {
        continue;
      }
      const Count count = CountOf(entry.section.key, known.section, known.countKey);
      if (count.key && entry.match.number > count.value) {
        Report(entry.line, true,
               entry.key + " is beyond " + Bracketed(entry.section.written) + " " + count.key->key +
                   "=" + count.key->value + ": ignored");
      }
      if (known.fillsCount) {
        present[entry.section.key + '\n' + std::string(known.word)].insert(entry.match.number);
      }
    }
    std::set<std::string> checked;
    for (const Entry& entry : entries_) {
      const CatalogueKey& known = *entry.match.key;
      if (!known.numbered || !known.fillsCount ||
          !checked.insert(entry.section.key + '\n' + std::string(known.word)).second) {
        continue;
      }
      CheckFilled(entry.section, known,
                  present[entry.section.key + '\n' + std::string(known.word)]);
    }
    // Count keys whose numbered keys are all missing.
    for (const Entry& entry : entries_) {
      const CatalogueKey& known = *entry.match.key;
      if (known.numbered || known.type != ValueType::Integer) {
        continue;
      }
      for (const CatalogueKey& numbered : CatalogueKeys()) {
        if (numbered.section == known.section && numbered.fillsCount &&
            numbered.countKey == known.word &&
            !checked.count(entry.section.key + '\n' + std::string(numbered.word))) {
          CheckFilled(entry.section, numbered, {});
        }
      }
    }
    // Numbered sections that their owner does not count.
    for (const auto& [unused, at] : sectionLines_) {
      const CatalogueSection& form = *at.match.section;
      if (form.form == SectionForm::Plain) {
        continue;
      }
      std::string owner = form.form == SectionForm::TwiceNumbered
                              ? Join("section", std::to_string(at.match.first))
                              : (form.word == "Key" ? "registry" : "ini");
      const std::string_view ownerName = form.form == SectionForm::TwiceNumbered
                                             ? std::string_view("Section<n>")
                                             : (form.word == "Key" ? "Registry" : "Ini");
      const long long n =
          form.form == SectionForm::TwiceNumbered ? at.match.second : at.match.first;
      const Count count = CountOf(owner, ownerName, "Number");
      if (n > count.value) {
        const std::string ownerText = form.form == SectionForm::TwiceNumbered
                                          ? Join("[Section", std::to_string(at.match.first), "]")
                                          : Bracketed(ownerName);
        Report(at.line, count.key != nullptr,
               Join(Bracketed(at.written), " is beyond ", ownerText, " ",
                    count.key ? Join(count.key->key, "=", count.key->value)
                              : std::string("(it counts ") + std::to_string(count.value) + ")",
                    ": ignored"));
      }
    }
  }

  void CheckFilled(const SectionAt& section, const CatalogueKey& known,
                   const std::set<long long>& numbers) {
    const Count count = CountOf(section.key, known.section, known.countKey);
    long long missing = 1;
    while (numbers.count(missing) != 0) {
      ++missing;
    }
    if (missing > count.value) {
      return;
    }
    // Files must each have a name (the build refuses them); elsewhere an absent key is empty.
    const bool error = known.section == "File" && known.word == "File";
    const std::string name = std::string(known.word) + std::to_string(missing);
    if (count.key) {
      Report(count.key->line, error,
             Bracketed(section.written) + " " + count.key->key + "=" + count.key->value +
                 ", but there is no " + name);
    } else {
      const Entry* last = nullptr;
      for (const Entry& entry : entries_) {
        if (entry.section.key == section.key && entry.match.key == &known &&
            (!last || entry.match.number > last->match.number)) {
          last = &entry;
        }
      }
      Report(
          last ? last->line : 0, error,
          (last ? last->key : std::string(known.word)) + " is there, but " + name + " is missing");
    }
  }

  void CheckWholeProject() {
    if (const Entry* uninstall = Find("file", "Uninstall");
        uninstall && IniText::Parse("[s]\nk=" + uninstall->value).GetInt("s", "k") != 0) {
      const Entry* product = Find("general", "Product");
      if (!product || product->value.empty()) {
        Report(uninstall->line, true,
               "an uninstaller is packed, but [General] Product is not set: the installer then "
               "writes no uninstall entry");
      }
    }
    CheckScope();
    for (const char* screen : {"info", "before", "after"}) {
      const Entry* textFile = Find(screen, "TextFile");
      if (!textFile) {
        continue;
      }
      for (const Entry& entry : entries_) {
        if (entry.section.key == screen && entry.match.key->word == "Line") {
          Report(textFile->line, true,
                 Join("TextFile and ", entry.key, " (line ", std::to_string(entry.line),
                      ") both give the text: keep one"));
          break;
        }
      }
    }
  }

  // A per-user installation runs without elevation: nothing under HKEY_LOCAL_MACHINE or in
  // the system folders, and no level that asks for an administrator.
  void CheckScope() {
    const Entry* scope = Find("general", "Scope");
    if (!scope) {
      return;
    }
    if (!EqualNoCase(scope->value, "user")) {
      if (!EqualNoCase(scope->value, "machine")) {
        Report(scope->line, true,
               "[General] Scope=" + scope->value + " is neither machine nor user");
      }
      return;
    }
    const std::string why = ", line " + std::to_string(scope->line);
    if (const Entry* level = Find("build", "ExecutionLevel");
        level && !EqualNoCase(level->value, "asInvoker")) {
      Report(level->line, true,
             "[Build] ExecutionLevel=" + level->value +
                 " asks for an administrator, but the installation is per user (Scope=user" + why +
                 "): use asInvoker or leave it out");
    }
    for (const Entry& entry : entries_) {
      const CatalogueKey& known = *entry.match.key;
      const std::string label = Bracketed(entry.section.written) + " " + entry.key;
      if (known.section == "Registry" && known.word == "Key" && NamesLocalMachineKey(entry.value)) {
        Report(entry.line, true,
               label + "=" + entry.value + ": a per-user installation (Scope=user" + why +
                   ") writes nothing under HKEY_LOCAL_MACHINE; use HKEY_CURRENT_USER");
      } else if ((known.word == "Target" || known.word == "FolderTarget") &&
                 NamesSystemFolder(entry.value)) {
        Report(entry.line, true,
               label + "=" + entry.value + ": a per-user installation (Scope=user" + why +
                   ") installs nothing into the system folders");
      }
    }
  }

  struct SectionLine {
    int line;
    SectionMatch match;
    std::string written;
  };

  std::vector<Diagnostic> found_;
  std::vector<Entry> entries_;
  std::map<std::string, std::size_t> firstLines_;    // section\nkey → entry
  std::map<std::string, SectionLine> sectionLines_;  // first line of each numbered section
  std::map<std::string, Count> counts_;              // section\ncount key → its count
};

}  // namespace

std::vector<Diagnostic> CheckProjectText(std::string_view text) {
  return Checker().Run(text);
}

std::string DiagnosticText(const std::string& file, const Diagnostic& diagnostic) {
  std::string text = file;
  if (diagnostic.line > 0) {
    text.append(":").append(std::to_string(diagnostic.line));
  }
  return text + (diagnostic.error ? ": error: " : ": warning: ") + diagnostic.message;
}

int LineOfKey(std::string_view text, std::string_view section, std::string_view key) {
  bool inSection = false;
  for (const Line& line : LinesOf(text)) {
    if (line.text.starts_with("[")) {
      const std::size_t close = line.text.find(']');
      inSection =
          EqualNoCase(TrimBlanks(line.text.substr(
                          1, close == std::string_view::npos ? line.text.size() - 1 : close - 1)),
                      section);
    } else if (inSection &&
               EqualNoCase(TrimBlanks(line.text.substr(0, line.text.find('='))), key) &&
               line.text.find('=') != std::string_view::npos) {
      return line.number;
    }
  }
  return 0;
}

}  // namespace vorlatch::packer
