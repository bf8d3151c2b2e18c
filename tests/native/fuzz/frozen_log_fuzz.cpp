// libFuzzer target: the uninstaller reading its own file. Finds the log frozen into the tail
// (length, program headers, text), reads the text as INI, and expands every file, INI and
// Start Menu entry as the removal does. A path that leaves the folder its macro names is a
// finding, as is any read outside the input, a leak or undefined behaviour.
//
// Mutations rarely keep a program header and a matching length, so each input is also taken
// as the text of a log and frozen behind a small program image.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../pe_fixture.h"
#include "packer/ini_text.h"
#include "script/path_text.h"
#include "uninstaller/frozen_log.h"
#include "uninstaller/uninstall_text.h"

namespace {

using vorlatch::packer::IniText;

// Independent of the reader's own checks: no level of `relative` is one that Windows reads
// as "here", "up" or another drive or stream, so the path stays below its base.
bool StaysBelow(std::string_view relative) {
  std::size_t start = 0;
  while (start <= relative.size()) {
    std::size_t end = relative.find('\\', start);
    if (end == std::string_view::npos) {
      end = relative.size();
    }
    std::string_view level = relative.substr(start, end - start);
    if (level.find_first_of(":/") != std::string_view::npos) {
      return false;
    }
    // Windows drops trailing dots and blanks of a level: what remains must be a name.
    while (!level.empty() && (level.back() == '.' || level.back() == ' ')) {
      level.remove_suffix(1);
    }
    if (level.empty() && end != start) {
      return false;
    }
    start = end + 1;
  }
  return true;
}

void CheckPlace(const std::optional<vorlatch::LoggedPlace>& place,
                const vorlatch::MacroFolders& folders) {
  if (!place) {
    return;
  }
  bool knownBase = place->base == folders.windows || place->base == folders.system ||
                   place->base == folders.temp || place->base == folders.bid ||
                   place->base == folders.programFiles;
  for (const std::string& named : folders.named) {
    knownBase = knownBase || (!named.empty() && place->base == named);
  }
  if (!knownBase || place->path.compare(0, place->base.size(), place->base) != 0 ||
      !vorlatch::IsSameOrInside(place->path, place->base) ||
      !StaysBelow(std::string_view(place->path).substr(place->base.size()))) {
    __builtin_trap();
  }
  for (const std::string& folder : vorlatch::FoldersBetween(place->base, place->path)) {
    if (!vorlatch::IsSameOrInside(folder, place->base) ||
        vorlatch::IsSamePath(folder, place->base)) {
      __builtin_trap();
    }
  }
}

void ReadLog(std::string_view text, const vorlatch::MacroFolders& system) {
  const IniText log = IniText::Parse(text);
  vorlatch::MacroFolders folders = system;
  const std::string bid = vorlatch::LoggedInstallationFolder(log.GetString("General", "BID"));
  if (vorlatch::IsAbsolutePath(vorlatch::WithTrailingBackslash(bid))) {
    folders.bid = vorlatch::WithTrailingBackslash(bid);
  }
  (void)vorlatch::IsRootFolder(folders.bid);
  const long long files = log.GetInt("File", "File");
  for (long long n = 1; n <= files && n <= 2000; ++n) {
    CheckPlace(
        vorlatch::ExpandLoggedFile(log.GetString("File", "File" + std::to_string(n)), folders),
        folders);
  }
  const long long inis = log.GetInt("Ini", "Number");
  for (long long i = 1; i <= inis && i <= 2000; ++i) {
    const std::string number = std::to_string(i);
    CheckPlace(vorlatch::ExpandLoggedFolder(log.GetString("Ini", "Target" + number), folders),
               folders);
    (void)vorlatch::IsPlainRelativePath(log.GetString("Ini", "File" + number));
  }
  const long long instance = log.GetInt("General", "Instance");
  const std::string group = vorlatch::LoggedProgramGroup(
      log.GetString("General", "Company"), log.GetString("General", "Product"),
      static_cast<int>(instance > 1000000    ? 1000000
                       : instance < -1000000 ? -1000000
                                             : instance));
  if (!group.empty()) {
    if (!vorlatch::IsPlainRelativePath(group) || !StaysBelow(group.substr(0, group.size() - 1))) {
      __builtin_trap();
    }
    // Doubled backslashes name the same folders.
    const std::string collapsed = vorlatch::CollapseBackslashes(group);
    for (const std::string& level : vorlatch::GroupLevels(group)) {
      if (collapsed.compare(0, level.size(), level) != 0) {
        __builtin_trap();
      }
    }
  }
}

void ReadUninstaller(vorlatch::Bytes file, const vorlatch::MacroFolders& folders) {
  vorlatch::TailProblem problem = vorlatch::TailProblem::kNone;
  const std::optional<std::string> text = vorlatch::FrozenLogText(
      file.size(),
      [&](std::uint64_t offset, void* buffer, std::uint32_t length) {
        if (offset > file.size() || length > file.size() - offset) {
          return false;
        }
        if (length != 0) {
          std::memcpy(buffer, file.data() + offset, length);
        }
        return true;
      },
      problem);
  (void)vorlatch::TailProblemText(problem);
  if (text) {
    if (problem != vorlatch::TailProblem::kNone || text->empty() || text->size() >= file.size()) {
      __builtin_trap();
    }
    ReadLog(*text, folders);
  }
}

const std::vector<std::uint8_t>& ProgramImage() {
  static const std::vector<std::uint8_t> image =
      vorlatch::testing::FixtureImage(vorlatch::testing::kFixtureManifest);
  return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vorlatch::MacroFolders folders;
  folders.windows = "C:\\windows\\";
  folders.system = "C:\\windows\\system32\\";
  folders.temp = "C:\\users\\me\\Temp\\";
  folders.bid = "C:\\Program Files\\App\\";
  folders.programFiles = "C:\\Program Files\\";
  folders.named[0] = "C:\\users\\me\\AppData\\Local\\";
  ReadUninstaller(vorlatch::Bytes(data, size), folders);
  std::vector<std::uint8_t> frozen = ProgramImage();
  frozen.insert(frozen.end(), data, data + size);
  vorlatch::AppendU32(frozen, static_cast<std::uint32_t>(size));
  ReadUninstaller(frozen, folders);
  return 0;
}
