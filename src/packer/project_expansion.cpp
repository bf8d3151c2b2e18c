#include "packer/project_expansion.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "packer/script_catalogue.h"
#include "packer/source_file.h"

namespace vorlatch::packer {

namespace {

namespace fs = std::filesystem;

constexpr long long kMostFiles = 100000;  // as many as a project may name

std::string Quoted(std::string_view text) {
  std::string quoted = "'";
  quoted.append(text).append("'");
  return quoted;
}

std::string Label(std::string_view section, std::string_view key) {
  std::string label = "[";
  label.append(section).append("] ").append(key);
  return label;
}

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// A name outside ASCII is bytes of some code page: the installer reads it in the system's,
// unless the project asks for UTF-8.
void WarnCodePage(std::string_view text, const ExpansionContext& context,
                  const std::string& section, const std::string& key, std::string_view what,
                  Expansion& expansion) {
  if (!context.utf8 && !IsAscii(text) && IsUtf8Text(text)) {
    expansion.warnings.push_back(
        {section, key,
         std::string(what) +
             " is UTF-8 text, but the installer reads it in the system's code page: set "
             "[Build] CodePage=UTF-8, or save it in the code page of the systems it is for"});
  }
}

// Files of a folder first, then its subfolders, each in byte order of their names.
struct FolderWalk {
  std::string key;  // "[File] Folder1"
  std::vector<std::string> excludes;
  std::vector<std::optional<FileIdentity>> handWritten;
  std::vector<std::string> files;  // relative paths with '/'
  std::string error;

  bool Excluded(const std::string& relative, const std::string& name) const {
    return std::any_of(excludes.begin(), excludes.end(), [&](const std::string& pattern) {
      return MatchesPattern(pattern, pattern.find('/') != std::string::npos ? relative : name);
    });
  }

  bool Walk(const fs::path& folder, const std::string& prefix) {
    std::error_code failed;
    std::vector<std::pair<std::string, bool>> entries;  // name, is a folder
    for (fs::directory_iterator it(folder, failed), end; !failed && it != end;
         it.increment(failed)) {
      const std::string name = it->path().filename().string();
      const bool isFolder = it->is_directory(failed) && !it->is_symlink(failed);
      entries.emplace_back(name, isFolder);
    }
    if (failed) {
      error = key + ": " + Quoted(folder.string()) + ": " + failed.message();
      return false;
    }
    std::sort(entries.begin(), entries.end());
    for (const bool folders : {false, true}) {
      for (const auto& [name, isFolder] : entries) {
        if (isFolder != folders || Excluded(prefix + name, name)) {
          continue;
        }
        if (name.find_first_of("\\:*?\"<>|") != std::string::npos ||
            std::any_of(name.begin(), name.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
          error = key + ": " + Quoted(prefix + name) +
                  ": a name that Windows cannot hold; leave it out with a FolderExclude pattern";
          return false;
        }
        if (isFolder) {
          if (!Walk(folder / name, prefix + name + "/")) {
            return false;
          }
          continue;
        }
        const fs::path path = folder / name;
        if (!fs::is_regular_file(path, failed)) {
          continue;  // a link to a folder, a device, a socket: nothing to install
        }
        const auto identity = IdentityOf(path.string());
        if (identity &&
            std::find(handWritten.begin(), handWritten.end(), identity) != handWritten.end()) {
          continue;  // the project names it by hand, with its own keys
        }
        if (fs::file_size(path, failed) == 0 && !failed) {
          error = key + ": " + Quoted(prefix + name) +
                  ": empty file (an installer cannot extract a 0-byte file); leave it out with "
                  "a FolderExclude pattern";
          return false;
        }
        files.push_back(prefix + name);
      }
    }
    return true;
  }
};

// The highest number of a numbered key of the section that the count key counts.
long long HighestCounted(const IniSection& section, std::string_view catalogueName,
                         std::string_view countKey) {
  long long highest = 0;
  for (const IniEntry& entry : section.entries) {
    const auto match = FindKey(catalogueName, entry.key);
    if (match && match->key->numbered && match->key->countKey == countKey &&
        match->key->role == KeyRole::Script) {
      highest = std::max(highest, match->number);
    }
  }
  return highest;
}

// Count keys left out: the highest number of the keys they count.
void CountKeys(IniText& project) {
  std::vector<std::pair<std::string, std::string>> counts;  // section, count key → value
  for (const IniSection& section : project.Sections()) {
    const auto found = FindSection(section.name);
    if (!found) {
      continue;
    }
    for (const CatalogueKey& key : CatalogueKeys()) {
      if (key.section != found->section->name || key.numbered || key.type != ValueType::Integer ||
          project.Get(section.name, key.word)) {
        continue;
      }
      const bool counted = std::any_of(
          CatalogueKeys().begin(), CatalogueKeys().end(), [&](const CatalogueKey& numbered) {
            return numbered.section == key.section && numbered.countKey == key.word;
          });
      const long long highest = counted ? HighestCounted(section, key.section, key.word) : 0;
      if (highest > 0) {
        counts.emplace_back(section.name, std::string(key.word) + "=" + std::to_string(highest));
      }
    }
  }
  for (const auto& [section, entry] : counts) {
    const std::size_t equals = entry.find('=');
    project.Set(section, entry.substr(0, equals), entry.substr(equals + 1));
  }
}

bool ExpandFolders(IniText& project, const ExpansionContext& context, Expansion& expansion,
                   std::string& error) {
  std::vector<long long> numbers;
  for (const IniSection& section : project.Sections()) {
    if (EqualNoCase(section.name, "File")) {
      for (const IniEntry& entry : section.entries) {
        if (const auto k = NumberedKey(entry.key, "Folder")) {
          numbers.push_back(*k);
        }
      }
    }
  }
  if (numbers.empty()) {
    return true;
  }
  std::sort(numbers.begin(), numbers.end());
  long long count = project.GetInt("File", "File");
  if (count < 0 || count > kMostFiles) {
    error = "[File] File: not a usable number of files";
    return false;
  }
  std::vector<std::optional<FileIdentity>> handWritten;
  for (long long n = 1; n <= count; ++n) {
    const std::string number = std::to_string(n);
    const std::string source = project.GetString("File", "Source" + number);
    handWritten.push_back(IdentityOf(ResolvePath(
        context.folder, source.empty() ? project.GetString("File", "File" + number) : source,
        context.codePage)));
  }
  for (const long long k : numbers) {
    const std::string number = std::to_string(k);
    FolderWalk walk{Label("File", "Folder" + number), {}, handWritten, {}, {}};
    std::string root = project.GetString("File", "Folder" + number);
    std::replace(root.begin(), root.end(), '\\', '/');
    while (root.size() > 1 && root.back() == '/') {
      root.pop_back();
    }
    if (root.empty()) {
      error = walk.key + ": no folder named";
      return false;
    }
    const std::string resolved = ResolvePath(context.folder, root, context.codePage);
    std::error_code failed;
    if (!fs::is_directory(resolved, failed)) {
      error = walk.key + ": " + Quoted(resolved) + ": not a folder";
      return false;
    }
    std::string excludes = project.GetString("File", "FolderExclude" + number);
    std::replace(excludes.begin(), excludes.end(), '\\', '/');
    for (std::size_t at = 0; at <= excludes.size();) {
      const std::size_t end = std::min(excludes.find(';', at), excludes.size());
      std::string pattern(TrimBlanks(std::string_view(excludes).substr(at, end - at)));
      while (!pattern.empty() && pattern.back() == '/') {
        pattern.pop_back();
      }
      if (!pattern.empty()) {
        walk.excludes.push_back(pattern);
      }
      at = end + 1;
    }
    if (!walk.Walk(resolved, "")) {
      error = walk.error;
      return false;
    }
    std::string base = project.Get("File", "FolderTarget" + number).value_or("[BID]");
    // A folder takes one backslash; a macro alone ([BID]) stands for a folder already.
    if (!base.empty() && base.back() != '\\' && base.back() != ']') {
      base += '\\';
    }
    for (const std::string& relative : walk.files) {
      if (++count > kMostFiles) {
        error = walk.key + ": more than " + std::to_string(kMostFiles) + " files";
        return false;
      }
      const std::size_t slash = relative.rfind('/');
      const std::string name = relative.substr(slash == std::string::npos ? 0 : slash + 1);
      std::string subfolder = slash == std::string::npos ? "" : relative.substr(0, slash + 1);
      std::replace(subfolder.begin(), subfolder.end(), '/', '\\');
      const std::string n = std::to_string(count);
      project.Set("File", std::string("File").append(n), name);
      project.Set("File", std::string("Source").append(n), root + "/" + relative);
      project.Set("File", std::string("Target").append(n), base + subfolder);
      expansion.fileOrigins[count] = walk.key + " (" + Quoted(relative) + ")";
      WarnCodePage(relative, context, "File", "Folder" + number, Quoted(relative), expansion);
    }
    project.Set("File", "File", std::to_string(count));
  }
  return true;
}

// A line of text as a value that the installer reads back unchanged: blanks around it and a
// pair of enclosing quotes would otherwise be taken off.
std::string LineValue(std::string_view line) {
  const bool keep =
      !line.empty() &&
      (line != TrimBlanks(line) || (line.size() >= 2 && line.front() == '"' && line.back() == '"'));
  std::string value;
  if (keep) {
    value.append("\"").append(line).append("\"");
  } else {
    value.append(line);
  }
  return value;
}

bool ExpandTextFiles(IniText& project, const ExpansionContext& context, Expansion& expansion,
                     std::string& error) {
  for (const char* section : {"Info", "Before", "After"}) {
    const auto name = project.Get(section, "TextFile");
    if (!name) {
      continue;
    }
    const std::string key = Label(section, "TextFile");
    const std::string path = ResolvePath(context.folder, *name, context.codePage);
    std::vector<std::uint8_t> bytes;
    ItemTail unused;
    std::string problem;
    if (name->empty() || !ReadSourceFile(path, bytes, unused, problem)) {
      error = key + ": " + Quoted(path) + ": " + (name->empty() ? "no file named" : problem);
      return false;
    }
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (text.starts_with("\xEF\xBB\xBF")) {
      text.remove_prefix(3);
    }
    if (context.utf8 && !IsUtf8Text(text)) {
      error = key + ": " + Quoted(path) + ": not UTF-8 text, but [Build] CodePage is UTF-8";
      return false;
    }
    if (text.find('\0') != std::string_view::npos) {
      error = key + ": " + Quoted(path) + ": not text (it holds a zero byte)";
      return false;
    }
    WarnCodePage(text, context, section, "TextFile", Quoted(*name), expansion);
    long long count = 0;
    while (!text.empty()) {
      const std::size_t end = text.find('\n');
      std::string_view line = text.substr(0, end);
      text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
      if (line.ends_with('\r')) {
        line.remove_suffix(1);
      }
      ++count;
      if (line.size() > 1023) {
        expansion.warnings.push_back(
            {section, "TextFile",
             std::string("line ").append(std::to_string(count)) + " of " + Quoted(*name) +
                 " is longer than 1023 bytes; the installer shows only its first 1023"});
      }
      project.Set(section, std::string("Line").append(std::to_string(count)), LineValue(line));
    }
    project.Set(section, "Line", std::to_string(count));
  }
  return true;
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool MatchesPattern(std::string_view pattern, std::string_view name) {
  // Iterative wildcard match: back up to the last star on a mismatch.
  std::size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || Lower(pattern[p]) == Lower(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') {
    ++p;
  }
  return p == pattern.size();
}

bool ExpandProject(IniText& project, const ExpansionContext& context, Expansion& expansion,
                   std::string& error) {
  error.clear();
  CountKeys(project);
  if (!context.readFiles) {
    return true;
  }
  return ExpandFolders(project, context, expansion, error) &&
         ExpandTextFiles(project, context, expansion, error);
}

}  // namespace vorlatch::packer
