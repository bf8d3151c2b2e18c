#include "uninstaller/uninstall_text.h"

#include <algorithm>
#include <cctype>

#include "actions/shortcut_names.h"
#include "script/path_text.h"

namespace vorlatch {

namespace {

constexpr char kRollbackArgument[] = "/u";
constexpr char kSilentArgument[] = "/S";

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string TrimBlanks(const std::string& text) {
  std::size_t first = 0;
  while (first < text.size() && IsBlank(text[first])) {
    ++first;
  }
  std::size_t last = text.size();
  while (last > first && IsBlank(text[last - 1])) {
    --last;
  }
  return text.substr(first, last - first);
}

bool IsDriveLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The levels of a backslash-separated path; empty levels (doubled backslashes) dropped.
std::vector<std::string> LevelsOf(const std::string& path) {
  const CodePage& codePage = ActiveCodePage();
  std::vector<std::string> levels;
  std::string level;
  for (std::size_t at = 0; at < path.size();) {
    const std::size_t length = codePage.CharLength(path, at);
    if (length == 1 && path[at] == '\\') {
      if (!level.empty()) {
        levels.push_back(level);
      }
      level.clear();
    } else {
      level.append(path, at, length);
    }
    at += length;
  }
  if (!level.empty()) {
    levels.push_back(level);
  }
  return levels;
}

// A level that the file system would read as "here" or "up": dots and blanks only.
bool IsDotLevel(const std::string& level) {
  return level.find_first_not_of(". ") == std::string::npos;
}

std::string WithoutLeadingBackslashes(const std::string& path) {
  const std::size_t first = path.find_first_not_of('\\');
  return first == std::string::npos ? std::string() : path.substr(first);
}

std::string ProductOrProgram(const std::string& product) {
  return product.empty() ? std::string("The program") : product;
}

}  // namespace

std::string ArgumentsOf(const std::string& commandLine) {
  std::size_t at = 0;
  while (at < commandLine.size() && IsBlank(commandLine[at])) {
    ++at;
  }
  if (at < commandLine.size() && commandLine[at] == '"') {
    const std::size_t close = commandLine.find('"', at + 1);
    at = close == std::string::npos ? commandLine.size() : close + 1;
  } else {
    while (at < commandLine.size() && !IsBlank(commandLine[at])) {
      ++at;
    }
  }
  return TrimBlanks(commandLine.substr(at));
}

UninstallCommand ParseUninstallCommand(const std::string& commandLine) {
  const std::string arguments = ArgumentsOf(commandLine);
  UninstallCommand command;
  if (EqualsIgnoringCase(arguments, kRollbackArgument)) {
    command.mode = UninstallMode::kRollback;
    return command;
  }
  if (EqualsIgnoringCase(arguments, kSilentArgument)) {
    command.mode = UninstallMode::kSilent;
    return command;
  }
  const std::string finish = std::string(kFinishSwitch) + ' ';
  if (StartsWithIgnoringCase(arguments, finish)) {
    const std::string number = TrimBlanks(arguments.substr(finish.size()));
    std::uint64_t value = 0;
    bool valid = !number.empty() && number.size() <= 19;
    for (const char c : number) {
      if (c < '0' || c > '9') {
        valid = false;
        break;
      }
      value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (valid && value != 0) {
      command.mode = UninstallMode::kFinish;
      command.handle = value;
    }
  }
  return command;
}

MacroSplit SplitLeadingMacro(const std::string& value) {
  for (const char* macro :
       {kMacroWindows, kMacroSystem, kMacroTemp, kMacroBid, kMacroProgramFiles}) {
    const std::string name = macro;
    if (StartsWithIgnoringCase(value, name)) {
      return MacroSplit{name, value.substr(name.size())};
    }
  }
  for (const NamedFolderMacro& named : kNamedFolderMacros) {
    const std::string name = named.macro;
    if (StartsWithIgnoringCase(value, name)) {
      return MacroSplit{name, value.substr(name.size())};
    }
  }
  return MacroSplit{std::string(), value};
}

std::string FolderOfMacro(const MacroFolders& folders, const std::string& macro) {
  if (macro == kMacroWindows) {
    return folders.windows;
  }
  if (macro == kMacroSystem) {
    return folders.system;
  }
  if (macro == kMacroTemp) {
    return folders.temp;
  }
  if (macro == kMacroBid) {
    return folders.bid;
  }
  if (macro == kMacroProgramFiles) {
    return folders.programFiles;
  }
  for (int i = 0; i < kNamedFolderMacroCount; ++i) {
    if (macro == kNamedFolderMacros[i].macro) {
      return folders.named[i];
    }
  }
  return std::string();
}

bool IsAbsolutePath(const std::string& path) {
  if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == ':' && path[2] == '\\') {
    return true;
  }
  if (path.size() < 2 || path[0] != '\\' || path[1] != '\\') {
    return false;
  }
  // \\server\share: two levels, neither of them dots, and no device syntax (\\?\, \\.\).
  const std::vector<std::string> levels = LevelsOf(path.substr(2));
  return levels.size() >= 2 && path[2] != '\\' && !IsDotLevel(levels[0]) && levels[0] != "?" &&
         !IsDotLevel(levels[1]);
}

std::string LoggedInstallationFolder(const std::string& bid) {
  std::string slashed = bid;
  std::replace(slashed.begin(), slashed.end(), '/', '\\');
  return IsAbsolutePath(WithTrailingBackslash(slashed)) ? slashed : bid;
}

bool IsRootFolder(const std::string& folder) {
  const std::string bare = WithoutTrailingBackslash(folder);
  if (bare.size() == 2 && IsDriveLetter(bare[0]) && bare[1] == ':') {
    return true;
  }
  return IsAbsolutePath(bare + '\\') && bare.size() > 2 && bare[0] == '\\' &&
         LevelsOf(bare.substr(2)).size() == 2;
}

bool IsPlainRelativePath(const std::string& rest) {
  // The trail byte of a double-byte character may be a bar; only whole characters count.
  const CodePage& codePage = ActiveCodePage();
  for (std::size_t at = 0; at < rest.size(); at += codePage.CharLength(rest, at)) {
    const char c = rest[at];
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 32 || c == ':' || c == '/' || c == '*' || c == '?' || c == '"' || c == '<' ||
        c == '>' || (c == '|' && codePage.CharLength(rest, at) == 1)) {
      return false;
    }
  }
  for (const std::string& level : LevelsOf(rest)) {
    if (IsDotLevel(level)) {
      return false;
    }
  }
  return true;
}

bool IsSamePath(const std::string& a, const std::string& b) {
  return EqualsIgnoringCase(WithoutTrailingBackslash(a), WithoutTrailingBackslash(b));
}

bool IsSameOrInside(const std::string& path, const std::string& folder) {
  const std::string base = WithTrailingBackslash(folder);
  if (base.empty()) {
    return false;
  }
  return StartsWithIgnoringCase(WithTrailingBackslash(path), base);
}

std::optional<LoggedPlace> ExpandLoggedFile(const std::string& entry, const MacroFolders& folders) {
  const MacroSplit split = SplitLeadingMacro(entry);
  // Without a leading macro the installer ignores the target and uses the installation
  // folder; the log still shows the target, so only the file name counts.
  const std::string base = WithTrailingBackslash(
      split.macro.empty() ? folders.bid : FolderOfMacro(folders, split.macro));
  const std::string rest = split.macro.empty() ? FileNameOf(entry) : split.rest;
  if (!IsAbsolutePath(base) || !IsPlainRelativePath(rest)) {
    return std::nullopt;
  }
  const std::string relative = CollapseBackslashes(WithoutLeadingBackslashes(rest));
  if (relative.empty() || ActiveCodePage().EndsWith(relative, '\\')) {
    return std::nullopt;
  }
  return LoggedPlace{base + relative, base};
}

std::optional<LoggedPlace> ExpandLoggedFolder(const std::string& target,
                                              const MacroFolders& folders) {
  const MacroSplit split = SplitLeadingMacro(target);
  const std::string base = WithTrailingBackslash(
      split.macro.empty() ? folders.bid : FolderOfMacro(folders, split.macro));
  const std::string rest = split.macro.empty() ? std::string() : split.rest;
  if (!IsAbsolutePath(base) || !IsPlainRelativePath(rest)) {
    return std::nullopt;
  }
  return LoggedPlace{
      WithTrailingBackslash(base + CollapseBackslashes(WithoutLeadingBackslashes(rest))), base};
}

std::vector<std::string> FoldersBetween(const std::string& base, const std::string& path) {
  std::vector<std::string> folders;
  const std::string root = WithTrailingBackslash(base);
  if (root.empty() || !StartsWithIgnoringCase(path, root)) {
    return folders;
  }
  // Every backslash after the root closes one folder; the innermost comes first.
  const CodePage& codePage = ActiveCodePage();
  for (std::size_t slash = codePage.Find(path, '\\', root.size()); slash != std::string::npos;
       slash = codePage.Find(path, '\\', slash + 1)) {
    folders.insert(folders.begin(), path.substr(0, slash + 1));
  }
  return folders;
}

std::string LoggedProgramGroup(const std::string& company, const std::string& product,
                               int instance) {
  const std::string group = ProgramGroupOf(company, product);
  if (group.empty() || !IsPlainRelativePath(group) || group.front() == '\\') {
    return std::string();
  }
  return WithoutTrailingBackslash(group) + InstanceSuffix(instance < 0 ? 0 : instance) + '\\';
}

std::vector<std::string> GroupLevels(const std::string& group) {
  std::vector<std::string> levels;
  std::string prefix;
  for (const std::string& level : LevelsOf(group)) {
    prefix += level;
    prefix += '\\';
    levels.push_back(prefix);
  }
  return std::vector<std::string>(levels.rbegin(), levels.rend());
}

std::string FileListText(const std::vector<std::string>& files) {
  std::string text;
  std::size_t listed = 0;
  for (const std::string& file : files) {
    if (listed == kMaxListedFiles) {
      text += "... and " + std::to_string(files.size() - listed) + " more\n";
      break;
    }
    text += file;
    text += '\n';
    ++listed;
  }
  return text;
}

std::string RemoveQuestion(const std::string& product) {
  return "Do you want to remove " + (product.empty() ? std::string("this program") : product) +
         " and all of its components?";
}

std::string RemovedText(const std::string& product) {
  return ProductOrProgram(product) + " has been removed.";
}

std::string LeftOverQuestion(const std::string& product, const std::vector<std::string>& files) {
  return ProductOrProgram(product) +
         " has been removed, except for these files, which are in use or may not be "
         "deleted:\n\n" +
         FileListText(files) + "\nRemove them when Windows restarts?";
}

std::string ScheduledText() {
  return "The remaining files will be removed when Windows restarts.";
}

std::string NotScheduledText(const std::vector<std::string>& files) {
  return "These files could not be marked for removal at restart. Please delete them "
         "yourself:\n\n" +
         FileListText(files);
}

std::string RefusalText(const std::string& uninstaller, const std::string& reason) {
  return "The uninstall log at the end of\n" + uninstaller + "\nis missing or damaged: " + reason +
         ".\n\nNothing was removed.";
}

}  // namespace vorlatch
