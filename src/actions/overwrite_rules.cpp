#include "actions/overwrite_rules.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <utility>
#include <vector>

#include <windows.h>

#include "actions/installed_targets.h"
#include "actions/uninstall_log.h"
#include "actions/uninstaller_tail.h"
#include "package/item_extraction.h"
#include "package/opening.h"
#include "package/process_state.h"
#include "script/path_macros.h"
#include "script/keys.h"
#include "uninstaller/uninstall_text.h"
#include "win/ansi_names.h"
#include "win/handles.h"
#include "win/library_loading.h"

namespace vorlatch {

namespace {

// The files of the earlier installation with the packed last-write time its log records.
std::vector<std::pair<std::string, std::uint64_t>> g_earlierFiles;

std::optional<std::uint64_t> LastWriteTimeOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
    return std::nullopt;
  }
  return (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
         data.ftLastWriteTime.dwLowDateTime;
}

// The file version of a file's version resource (VS_FIXEDFILEINFO), none without one.
// version.dll is loaded from the system folder when needed: imported, it would be looked for
// beside the installer first.
std::optional<std::uint64_t> FileVersionOf(const std::string& path) {
  const UniqueModule library(LoadSystemLibrary("version.dll"));
  if (!library) {
    return std::nullopt;
  }
  const auto sizeOf = reinterpret_cast<DWORD(WINAPI*)(LPCSTR, LPDWORD)>(
      reinterpret_cast<void*>(::GetProcAddress(library.get(), "GetFileVersionInfoSizeA")));
  const auto infoOf = reinterpret_cast<BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID)>(
      reinterpret_cast<void*>(::GetProcAddress(library.get(), "GetFileVersionInfoA")));
  const auto query = reinterpret_cast<BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT)>(
      reinterpret_cast<void*>(::GetProcAddress(library.get(), "VerQueryValueA")));
  DWORD unused = 0;
  const DWORD size = sizeOf && infoOf && query ? sizeOf(path.c_str(), &unused) : 0;
  if (size == 0) {
    return std::nullopt;
  }
  std::vector<char> block(size);
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!infoOf(path.c_str(), 0, size, block.data()) ||
      !query(block.data(), "\\", reinterpret_cast<void**>(&info), &length) || info == nullptr ||
      length < sizeof(VS_FIXEDFILEINFO) || info->dwSignature != 0xFEEF04BDu) {
    return std::nullopt;
  }
  return (static_cast<std::uint64_t>(info->dwFileVersionMS) << 32) | info->dwFileVersionLS;
}

std::string VersionText(std::uint64_t version) {
  std::string text;
  for (int shift = 48; shift >= 0; shift -= 16) {
    text += std::to_string((version >> shift) & 0xFFFFu);
    if (shift != 0) {
      text += '.';
    }
  }
  return text;
}

// The version of the packed file: read from a copy inflated beside the target (the same
// drive, no other folder to trust), which goes again at once.
std::optional<std::uint64_t> PackedVersionOf(const std::string& target, Bytes item) {
  const std::size_t last = target.find_last_of('\\');
  if (last == std::string::npos) {
    return std::nullopt;
  }
  char copy[MAX_PATH] = {};
  if (::GetTempFileNameA(target.substr(0, last + 1).c_str(), "vlv", 0, copy) == 0) {
    return std::nullopt;
  }
  std::optional<std::uint64_t> version;
  if (InflateItemInto(item, copy, false) != 0) {
    version = FileVersionOf(copy);
  }
  ::SetFileAttributesA(copy, FILE_ATTRIBUTE_NORMAL);
  ::DeleteFileA(copy);
  return version;
}

RuleDecision IfNewer(const std::string& target, Bytes item) {
  if (const std::optional<std::uint64_t> existing = FileVersionOf(target)) {
    if (const std::optional<std::uint64_t> packed = PackedVersionOf(target, item)) {
      if (*existing > *packed) {
        return {RuleAnswer::kKeep,
                "its version " + VersionText(*existing) + " is newer than " + VersionText(*packed)};
      }
      return {RuleAnswer::kReplace,
              "version " + VersionText(*existing) + " replaced by " + VersionText(*packed)};
    }
  }
  // Without versions on both sides, the last-write times decide.
  const std::optional<ItemTail> tail = ReadItemTailOf(item);
  const std::optional<std::uint64_t> written = LastWriteTimeOf(target);
  if (tail && written && *written > tail->write) {
    return {RuleAnswer::kKeep, "it was written later than the packed file"};
  }
  return {RuleAnswer::kReplace, "the packed file is as new or newer"};
}

bool WrittenByEarlierInstallation(const std::string& target) {
  if (g_earlierFiles.empty()) {
    return false;
  }
  const std::string full = FullPathName(target);
  const auto earlier = std::find_if(
      g_earlierFiles.begin(), g_earlierFiles.end(),
      [&](const auto& file) { return IsSamePath(full.empty() ? target : full, file.first); });
  return earlier != g_earlierFiles.end() && LastWriteTimeOf(target) == earlier->second;
}

}  // namespace

OverwriteRule OverwriteRuleOf(const IniSection& files, int n) {
  std::string word = files.String(NumberedName(kOverwrite, n), "");
  if (word.empty()) {
    word = files.String(kOverwrite, "");
  }
  constexpr std::pair<const char*, OverwriteRule> kWords[] = {{"ours", OverwriteRule::kOurs},
                                                              {"always", OverwriteRule::kAlways},
                                                              {"never", OverwriteRule::kNever},
                                                              {"ifnewer", OverwriteRule::kIfNewer}};
  for (const auto& [name, rule] : kWords) {
    if (EqualNoCase(word, name)) {
      return rule;
    }
  }
  return OverwriteRule::kAsk;
}

RuleDecision DecideByRule(OverwriteRule rule, const std::string& target, Bytes item) {
  switch (rule) {
    case OverwriteRule::kAsk:
      break;
    case OverwriteRule::kOurs:
      if (WrittenByEarlierInstallation(target)) {
        return {RuleAnswer::kReplace, "the earlier installation wrote it and nobody changed it"};
      }
      break;
    case OverwriteRule::kAlways:
      return {RuleAnswer::kReplace, "Overwrite=always"};
    case OverwriteRule::kNever:
      return {RuleAnswer::kKeep, "Overwrite=never"};
    case OverwriteRule::kIfNewer:
      return IfNewer(target, item);
  }
  return {};
}

void NoteEarlierInstallation(const EarlierInstallation& earlier) {
  g_earlierFiles.clear();
  // Another product's files in this folder are not ours to replace.
  if (!EqualNoCase(earlier.product, LoggedProductName())) {
    return;
  }
  for (const EarlierFile& file : earlier.files) {
    if (file.time.size() == 16) {
      g_earlierFiles.emplace_back(file.path, std::strtoull(file.time.c_str(), nullptr, 16));
    }
  }
}

std::string LoggedTimeOf(Bytes item) {
  const std::optional<ItemTail> tail = ReadItemTailOf(item);
  if (!tail || tail->write == 0) {
    return {};
  }
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text(16, '0');
  for (int i = 15, shift = 0; i >= 0; --i, shift += 4) {
    text[static_cast<std::size_t>(i)] = kDigits[(tail->write >> shift) & 0xFu];
  }
  return text;
}

std::string LoggedTimeOfFile(const IniSection& files, int n) {
  const int position = files.Int(NumberedName(kPos, n), 0);
  const int length = files.Int(NumberedName(kZip, n), 0);
  if (g_state.packageView == nullptr || g_state.packageSize <= 0 || position < 0 || length <= 0) {
    return {};
  }
  const Bytes package(g_state.packageView, static_cast<std::size_t>(g_state.packageSize));
  const std::optional<Bytes> item =
      SliceOf(package, static_cast<std::uint32_t>(position), static_cast<std::uint32_t>(length));
  return item ? LoggedTimeOf(*item) : std::string();
}

}  // namespace vorlatch
