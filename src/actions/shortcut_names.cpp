#include "actions/shortcut_names.h"

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
