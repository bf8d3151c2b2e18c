#include "ui/link_command.h"

namespace vorlatch {

std::string CommandBeforePlaceholder(const std::string& commandTemplate) {
  std::size_t cut = commandTemplate.find("\"%1\"");
  if (cut == std::string::npos) {
    cut = commandTemplate.find("%1");
  }
  if (cut == std::string::npos) {
    return commandTemplate;
  }
  return commandTemplate.substr(0, cut);
}

std::optional<std::string> LinkCommandLine(const std::string& commandTemplate,
                                           const std::string& address) {
  std::string commandLine = CommandBeforePlaceholder(commandTemplate);
  commandLine += ' ';
  commandLine += address;
  if (commandLine.size() + 1 > kMaxLinkCommandLine) {
    return std::nullopt;
  }
  return commandLine;
}

}  // namespace vorlatch
