#include "package/command_line.h"

#include <cstddef>

namespace vorlatch {

namespace {

constexpr std::string_view kWhiteSpace = " \t\r\n\v\f";

bool IsWhiteSpace(char c) {
  return kWhiteSpace.find(c) != std::string_view::npos;
}

std::string_view TrimLeft(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kWhiteSpace);
  return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

std::string_view Trim(std::string_view text) {
  text = TrimLeft(text);
  const std::size_t last = text.find_last_not_of(kWhiteSpace);
  return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) {
    return false;
  }
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (Lower(text[i]) != Lower(prefix[i])) {
      return false;
    }
  }
  return true;
}

enum class Switch { kNone, kSilent, kLog, kPassword, kDestination };

struct SwitchName {
  std::string_view name;
  Switch kind;
};
// The switches that take a value end in '='; /S stands alone.
constexpr SwitchName kSwitches[] = {{"/S", Switch::kSilent},
                                    {"/LOG=", Switch::kLog},
                                    {"/PASSWORD=", Switch::kPassword},
                                    {"/D=", Switch::kDestination}};

// The switch that `text` starts with, and its name's length.
Switch SwitchAt(std::string_view text, std::size_t& nameLength) {
  for (const SwitchName& candidate : kSwitches) {
    if (!StartsWithNoCase(text, candidate.name)) {
      continue;
    }
    // /S is a whole word: /Start is no /S.
    if (candidate.kind == Switch::kSilent && text.size() > candidate.name.size() &&
        !IsWhiteSpace(text[candidate.name.size()])) {
      continue;
    }
    nameLength = candidate.name.size();
    return candidate.kind;
  }
  return Switch::kNone;
}

bool StartsWithSwitch(std::string_view text) {
  std::size_t length = 0;
  return SwitchAt(text, length) != Switch::kNone;
}

// A value up to the next blank, or in double quotes (which may hold blanks).
bool TakeValue(std::string_view& rest, std::string& value) {
  if (!rest.empty() && rest.front() == '"') {
    const std::size_t close = rest.find('"', 1);
    if (close == std::string_view::npos) {
      return false;
    }
    value = std::string(rest.substr(1, close - 1));
    rest.remove_prefix(close + 1);
    return rest.empty() || IsWhiteSpace(rest.front());
  }
  std::size_t end = 0;
  while (end < rest.size() && !IsWhiteSpace(rest[end])) {
    ++end;
  }
  value = std::string(rest.substr(0, end));
  rest.remove_prefix(end);
  return true;
}

std::string FirstWord(std::string_view text) {
  std::size_t end = 0;
  while (end < text.size() && !IsWhiteSpace(text[end]) && text[end] != '=') {
    ++end;
  }
  return std::string(text.substr(0, end));
}

void ParseSwitches(std::string_view rest, StubCommandLine& command) {
  for (rest = TrimLeft(rest); !rest.empty(); rest = TrimLeft(rest)) {
    std::size_t nameLength = 0;
    const Switch kind = SwitchAt(rest, nameLength);
    if (kind == Switch::kNone) {
      command.error = "unknown switch " + FirstWord(rest);
      return;
    }
    const std::string name = FirstWord(rest);
    rest.remove_prefix(nameLength);
    std::string value;
    switch (kind) {
      case Switch::kSilent:
        if (command.silent) {
          command.error = "switch /S given twice";
          return;
        }
        command.silent = true;
        break;
      case Switch::kDestination:
        // The habit of deployment tools: the rest of the line as it stands, no quotes.
        value = std::string(Trim(rest));
        if (value.empty()) {
          command.error = "switch /D= names no directory";
          return;
        }
        command.destination = value;
        return;
      case Switch::kLog:
      case Switch::kPassword: {
        std::optional<std::string>& target =
            kind == Switch::kLog ? command.logFile : command.password;
        if (target) {
          command.error = "switch " + name + "= given twice";
          return;
        }
        if (!TakeValue(rest, value)) {
          command.error = "switch " + name + "= has a quote that never closes";
          return;
        }
        if (kind == Switch::kLog && value.empty()) {
          command.error = "switch /LOG= names no file";
          return;
        }
        target = value;
        break;
      }
      case Switch::kNone:
        break;
    }
  }
}

std::string WithoutQuotes(std::string_view text) {
  std::string result;
  for (const char c : text) {
    if (c != '"') {
      result.push_back(c);
    }
  }
  return result;
}

// Where the switches of an unquoted command line begin: the first blank followed by one.
std::size_t SwitchesInUnquoted(std::string_view text) {
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (IsWhiteSpace(text[i - 1]) && StartsWithSwitch(text.substr(i))) {
      return i;
    }
  }
  return std::string_view::npos;
}

}  // namespace

StubCommandLine ParseStubCommandLine(std::string_view commandLine) {
  StubCommandLine command;
  const std::string_view text = TrimLeft(commandLine);
  if (text.empty() || text.front() != '"') {
    const std::size_t switches = SwitchesInUnquoted(text);
    if (switches == std::string_view::npos) {
      command.packagePath = std::string(text);
      return command;
    }
    command.packagePath = std::string(Trim(text.substr(0, switches)));
    ParseSwitches(text.substr(switches), command);
    return command;
  }
  const std::size_t close = text.find('"', 1);
  if (close == std::string_view::npos) {
    return command;
  }
  const std::string_view argument = Trim(text.substr(close + 1));
  if (!argument.empty() && !StartsWithSwitch(argument)) {
    // A stub started with an argument opens that argument as its package.
    command.packagePath = std::string(argument);
    return command;
  }
  command.packagePath = WithoutQuotes(Trim(text.substr(0, close + 1)));
  ParseSwitches(argument, command);
  return command;
}

std::string PackagePathFromCommandLine(std::string_view commandLine) {
  return ParseStubCommandLine(commandLine).packagePath;
}

}  // namespace vorlatch
