#include "packer/execution_level.h"

#include "package/pe_image.h"

namespace vorlatch::packer {

namespace {

constexpr std::string_view kLevels[] = {"requireAdministrator", "highestAvailable", "asInvoker"};
constexpr std::string_view kElement = "<requestedExecutionLevel";
constexpr std::string_view kAttribute = "level";
// The stub's manifest keeps a comment at least as long as the setting, where it may go.
constexpr std::string_view kCodePageRoom = "<!--activeCodePage";
constexpr std::string_view kCommentEnd = "-->";
constexpr std::string_view kUtf8CodePage =
    "<activeCodePage xmlns=\"http://schemas.microsoft.com/SMI/2019/WindowsSettings\">UTF-8"
    "</activeCodePage>";

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Where the level's value lies in the manifest text, and how far it may grow: up to the next
// attribute (which must stay one blank away) or the end of the element.
struct LevelPlace {
  std::size_t value = 0;   // first character of the value
  std::size_t length = 0;  // length of the value
  std::size_t room = 0;    // the longest value that fits before what must stay
  char quote = '"';
};

std::optional<LevelPlace> FindLevel(std::string_view text) {
  const std::size_t element = text.find(kElement);
  if (element == std::string_view::npos) {
    return std::nullopt;
  }
  const std::size_t end = text.find('>', element);
  if (end == std::string_view::npos) {
    return std::nullopt;
  }
  std::size_t at = element + kElement.size();
  while (at < end) {
    // Attribute by attribute: name, blanks, '=', blanks, quoted value.
    while (at < end && IsBlank(text[at])) {
      ++at;
    }
    const std::size_t nameStart = at;
    while (at < end && !IsBlank(text[at]) && text[at] != '=' && text[at] != '/') {
      ++at;
    }
    const std::string_view name = text.substr(nameStart, at - nameStart);
    while (at < end && IsBlank(text[at])) {
      ++at;
    }
    if (name.empty() || at >= end || text[at] != '=') {
      return std::nullopt;
    }
    ++at;
    while (at < end && IsBlank(text[at])) {
      ++at;
    }
    if (at >= end || (text[at] != '"' && text[at] != '\'')) {
      return std::nullopt;
    }
    const char quote = text[at];
    const std::size_t value = at + 1;
    const std::size_t close = text.find(quote, value);
    if (close == std::string_view::npos || close >= end) {
      return std::nullopt;
    }
    at = close + 1;
    if (name == kAttribute) {
      std::size_t next = at;
      while (next < end && IsBlank(text[next])) {
        ++next;
      }
      // Another attribute needs one blank before it; the element's end needs none.
      const bool attributeFollows = text[next] != '/' && text[next] != '>';
      if (attributeFollows && next == at) {
        return std::nullopt;
      }
      const std::size_t room = next - value - 1 - (attributeFollows ? 1 : 0);
      return LevelPlace{value, close - value, room, quote};
    }
  }
  return std::nullopt;
}

std::optional<FileRange> ManifestOf(Bytes image) {
  const auto pe = ReadPeImage(image);
  if (!pe) {
    return std::nullopt;
  }
  return LocateResource(*pe, image, kManifestResourceType);
}

}  // namespace

bool IsExecutionLevel(std::string_view level) {
  for (std::string_view known : kLevels) {
    if (level == known) {
      return true;
    }
  }
  return false;
}

std::optional<std::string> ExecutionLevelOf(Bytes image) {
  const auto manifest = ManifestOf(image);
  if (!manifest) {
    return std::nullopt;
  }
  const std::string_view text(reinterpret_cast<const char*>(image.data() + manifest->offset),
                              static_cast<std::size_t>(manifest->length));
  const auto place = FindLevel(text);
  if (!place) {
    return std::nullopt;
  }
  return std::string(text.substr(place->value, place->length));
}

bool SetExecutionLevel(std::vector<std::uint8_t>& image, std::string_view level,
                       std::string& problem) {
  const auto manifest = ManifestOf(image);
  if (!manifest) {
    problem = "has no manifest resource to set the execution level in";
    return false;
  }
  char* text = reinterpret_cast<char*>(image.data() + manifest->offset);
  const auto place = FindLevel(std::string_view(text, static_cast<std::size_t>(manifest->length)));
  if (!place) {
    problem = "its manifest names no execution level (requestedExecutionLevel level=...)";
    return false;
  }
  if (level.size() > place->room) {
    problem = "its manifest has room for an execution level of " + std::to_string(place->room) +
              " characters only, not " + std::string(level);
    return false;
  }
  // The value, its closing quote, then blanks up to what follows (XML allows them there).
  std::size_t at = place->value;
  for (char c : level) {
    text[at++] = c;
  }
  text[at++] = place->quote;
  const std::size_t blanksEnd = place->value + place->room + 1;
  while (at < blanksEnd) {
    text[at++] = ' ';
  }
  return true;
}

bool HasUtf8CodePage(Bytes image) {
  const auto manifest = ManifestOf(image);
  return manifest &&
         std::string_view(reinterpret_cast<const char*>(image.data() + manifest->offset),
                          static_cast<std::size_t>(manifest->length))
                 .find(kUtf8CodePage) != std::string_view::npos;
}

bool SetUtf8CodePage(std::vector<std::uint8_t>& image, std::string& problem) {
  const auto manifest = ManifestOf(image);
  if (!manifest) {
    problem = "has no manifest resource to set the UTF-8 code page in";
    return false;
  }
  char* text = reinterpret_cast<char*>(image.data() + manifest->offset);
  const std::string_view view(text, static_cast<std::size_t>(manifest->length));
  const std::size_t start = view.find(kCodePageRoom);
  const std::size_t end = start == std::string_view::npos ? start : view.find(kCommentEnd, start);
  if (end == std::string_view::npos || end + kCommentEnd.size() - start < kUtf8CodePage.size()) {
    problem = "its manifest has no room for the UTF-8 code page (a stub of an older build?)";
    return false;
  }
  // The setting, then blanks up to the end of the comment it replaces.
  std::size_t at = start;
  for (const char c : kUtf8CodePage) {
    text[at++] = c;
  }
  while (at < end + kCommentEnd.size()) {
    text[at++] = ' ';
  }
  return true;
}

}  // namespace vorlatch::packer
