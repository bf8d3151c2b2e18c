#include "package/command_line.h"

namespace vorlatch {

namespace {

constexpr std::string_view kWhiteSpace = " \t\r\n\v\f";

std::string_view TrimLeft(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kWhiteSpace);
  return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

std::string_view Trim(std::string_view text) {
  text = TrimLeft(text);
  const std::size_t last = text.find_last_not_of(kWhiteSpace);
  return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

}  // namespace

std::string PackagePathFromCommandLine(std::string_view commandLine) {
  const std::string_view text = TrimLeft(commandLine);
  if (text.empty() || text.front() != '"') {
    return std::string(text);
  }
  const std::size_t close = text.find('"', 1);
  if (close == std::string_view::npos) {
    return std::string();
  }
  // A stub started with an argument opens that argument as its package.
  const std::string_view argument = Trim(text.substr(close + 1));
  if (!argument.empty()) {
    return std::string(argument);
  }
  std::string program;
  for (const char c : Trim(text.substr(0, close + 1))) {
    if (c != '"') {
      program.push_back(c);
    }
  }
  return program;
}

}  // namespace vorlatch
