#include "actions/shortcut_names.h"

#include <string_view>

#include "script/path_text.h"
#include "win/code_page.h"

namespace vorlatch {

namespace {

// One level of the group: the name with exactly one trailing backslash, or nothing.
std::string GroupLevel(const std::string& name) {
  const std::string bare = WithoutTrailingBackslash(name);
  return bare.empty() ? std::string() : bare + '\\';
}

std::string PlaceQuestion(const std::string& name, const std::string& place) {
  std::string text = std::string(kWouldYouLikeTo) + ' ' + kCreateShortcut + kShortcutFor;
  text.append("\n").append(name).append("\n").append(place);
  return text;
}

}  // namespace

std::string ProgramGroupOf(const std::string& company, const std::string& product) {
  return GroupLevel(company) + GroupLevel(product);
}

std::string InstanceSuffix(int instanceNumber) {
  return instanceNumber == 0 ? std::string() : ' ' + std::to_string(instanceNumber);
}

std::string ShortcutFileName(const std::string& linkName) {
  std::string extension = ExtensionOf(linkName);
  if (!extension.empty() && extension.front() == '.') {
    extension.erase(0, 1);
  }
  // Every extension of the last component goes, which is a cut at its first full stop.
  std::string stem = linkName;
  const std::size_t slash = ActiveCodePage().FindLast(stem, '\\');
  const std::size_t dot = stem.find('.', slash == std::string::npos ? 0 : slash + 1);
  if (dot != std::string::npos) {
    stem.resize(dot);
  }
  stem.append(" ").append(extension).append(kLinkExtension);
  return stem;
}

std::string ValidShortcutName(const std::string& name) {
  const std::size_t first = name.find_first_not_of(' ');
  if (first == std::string::npos) {
    return std::string();
  }
  const std::string trimmed = name.substr(first, name.find_last_not_of(' ') - first + 1);
  const CodePage& codePage = ActiveCodePage();
  for (std::size_t at = 0; at < trimmed.size(); at += codePage.CharLength(trimmed, at)) {
    const auto c = static_cast<unsigned char>(trimmed[at]);
    // A trail byte of a double-byte character may look like any of these; it is skipped.
    if (c < 32 ||
        std::string_view("\\/:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos) {
      return std::string();
    }
  }
  // The system takes these for devices whatever extension follows.
  static constexpr std::string_view kDevices[] = {"CON", "PRN", "AUX", "NUL"};
  const std::string stem = UpperText(trimmed.substr(0, trimmed.find('.')));
  for (std::string_view device : kDevices) {
    if (stem == device) {
      return std::string();
    }
  }
  if (stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) &&
      stem[3] >= '1' && stem[3] <= '9') {
    return std::string();
  }
  return trimmed;
}

std::string ShortcutFileName(const std::string& linkName, const std::string& displayName) {
  const std::string valid = ValidShortcutName(displayName);
  return valid.empty() ? ShortcutFileName(linkName) : valid + kLinkExtension;
}

std::string StartMenuQuestion(int shortcutCount) {
  std::string text = std::string(kWouldYouLikeTo) + ' ' + kCreateShortcut;
  if (shortcutCount > 1) {
    text += 's';
  }
  text += kInStartMenuPrograms;
  return text;
}

std::string DesktopQuestion(const std::string& name) {
  return PlaceQuestion(name, std::string("on ") + kOnDesktop + '?');
}

std::string QuickLaunchQuestion(const std::string& name) {
  return PlaceQuestion(name, kOnQuickLaunchBar);
}

}  // namespace vorlatch
