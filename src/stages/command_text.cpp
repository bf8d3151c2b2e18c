#include "stages/command_text.h"

#include <utility>

#include "script/path_text.h"

namespace vorlatch {
namespace {

constexpr char kWhiteSpace[] = " \t\r\n\v\f";

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(kWhiteSpace);
  if (first == std::string::npos) {
    return std::string();
  }
  const std::size_t last = text.find_last_not_of(kWhiteSpace);
  return text.substr(first, last - first + 1);
}

std::string Quoted(const std::string& text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted.push_back('"');
  quoted.append(text);
  quoted.push_back('"');
  return quoted;
}

bool HasBlank(const std::string& text) {
  return text.find(' ') != std::string::npos;
}

}  // namespace

std::string ProgramPart(const std::string& command) {
  const std::string trimmed = Trimmed(command);
  if (!trimmed.empty() && trimmed.front() == '"') {
    std::string name = trimmed.substr(1);
    const std::size_t closing = name.find('"');
    if (closing != std::string::npos) {
      name.resize(closing);
    }
    return HasBlank(name) ? Quoted(name) : name;
  }
  const std::size_t firstBlank = trimmed.find(' ');
  if (firstBlank == std::string::npos) {
    return trimmed;
  }
  const std::string firstWord = trimmed.substr(0, firstBlank);
  if (!ExtensionOf(firstWord).empty()) {
    return firstWord;
  }
  // "C:\Program Files\App\app.exe" "%1" written without quotes: the program ends at the
  // first blank after a file name with an extension, not at the end of the line, or the
  // placeholder would reach the program as an argument.
  for (std::size_t blank = trimmed.find(' ', firstBlank + 1); blank != std::string::npos;
       blank = trimmed.find(' ', blank + 1)) {
    const std::string prefix = trimmed.substr(0, blank);
    if (!ExtensionOf(prefix).empty()) {
      return Quoted(prefix);
    }
  }
  return trimmed;
}

CommandParts SplitCommand(const std::string& command) {
  const std::string trimmed = Trimmed(command);
  CommandParts parts;
  if (!trimmed.empty() && trimmed.front() == '"') {
    const std::size_t closing = trimmed.find('"', 1);
    if (closing == std::string::npos) {
      parts.program = trimmed.substr(1);
    } else {
      parts.program = trimmed.substr(1, closing - 1);
      parts.arguments = Trimmed(trimmed.substr(closing + 1));
    }
    return parts;
  }
  // Unquoted, the program part is a beginning of the command, quoted when it has blanks.
  std::string program = ProgramPart(trimmed);
  if (program.size() >= 2 && program.front() == '"' && program.back() == '"') {
    program = program.substr(1, program.size() - 2);
  }
  parts.arguments = Trimmed(trimmed.substr(program.size()));
  parts.program = std::move(program);
  return parts;
}

std::string PathArgument(const std::string& path) {
  if (!HasBlank(path) || (path.size() >= 2 && path.front() == '"' && path.back() == '"')) {
    return path;
  }
  return Quoted(path);
}

std::string OpenCommandLine(const std::string& openCommand, const std::string& path) {
  std::string line = openCommand;
  line.push_back(' ');
  line.append(PathArgument(path));
  return line;
}

}  // namespace vorlatch
