#include "uninstaller/log_reader.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include <windows.h>

#include "actions/uninstaller_tail.h"
#include "package/temporary_folder.h"
#include "script/keys.h"
#include "script/path_macros.h"
#include "script/path_text.h"
#include "script/script_access.h"
#include "uninstaller/uninstall_text.h"
#include "win/ansi_names.h"
#include "win/handles.h"

namespace vorlatch {

namespace {

int LineCountOf(const std::string& text) {
  const auto lines = std::count(text.begin(), text.end(), '\n') + 1;
  return lines > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(lines);
}

}  // namespace

std::string UninstallerTemporaryFolder() {
  const std::string folder = TemporaryDirectory();
  return folder.empty() ? SystemTemporaryDirectory() : folder;
}

std::optional<UninstallLog> UninstallLog::FromUninstaller(const std::string& path,
                                                          TailProblem& problem) {
  const std::optional<std::string> text = ReadFrozenLogText(path, problem);
  if (!text) {
    return std::nullopt;
  }
  const std::string copy = WriteUniqueFile(UninstallerTemporaryFolder(), "vlu", *text);
  if (copy.empty()) {
    bool fits = true;
    if (const auto temporary = WideTemporaryDirectory()) {
      AnsiFormOf(*temporary, fits);
    }
    problem = fits ? TailProblem::kUnreadable : TailProblem::kTemporaryName;
    return std::nullopt;
  }
  UninstallLog log(copy, true, LineCountOf(*text));
  if (!IsAbsolutePath(WithTrailingBackslash(log.InstallationFolder()))) {
    problem = TailProblem::kNoDestination;
    return std::nullopt;
  }
  return log;
}

UninstallLog UninstallLog::FromFile(const std::string& iniPath) {
  const std::optional<std::string> text = [&]() -> std::optional<std::string> {
    UniqueHandle file(::CreateFileA(iniPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart > kMaxFrozenLogLength) {
      return std::nullopt;
    }
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    if (!bytes.empty() &&
        !ReadFileAt(file.get(), 0, bytes.data(), static_cast<std::uint32_t>(bytes.size()))) {
      return std::nullopt;
    }
    return bytes;
  }();
  return UninstallLog(iniPath, false, text ? LineCountOf(*text) : 0);
}

UninstallLog::UninstallLog(std::string file, bool owned, int lineCount)
    : file_(std::move(file)), owned_(owned), lineCount_(lineCount) {}

UninstallLog::UninstallLog(UninstallLog&& other) noexcept
    : file_(std::move(other.file_)),
      owned_(std::exchange(other.owned_, false)),
      lineCount_(other.lineCount_),
      sections_(std::move(other.sections_)) {}

UninstallLog& UninstallLog::operator=(UninstallLog&& other) noexcept {
  if (this != &other) {
    if (owned_) {
      ::DeleteFileA(file_.c_str());
    }
    file_ = std::move(other.file_);
    owned_ = std::exchange(other.owned_, false);
    lineCount_ = other.lineCount_;
    sections_ = std::move(other.sections_);
  }
  return *this;
}

UninstallLog::~UninstallLog() {
  if (owned_) {
    ::DeleteFileA(file_.c_str());
  }
}

const IniSection& UninstallLog::Section(std::string_view section) const {
  for (const IniSection& read : sections_) {
    if (EqualNoCase(read.Name(), section)) {
      return read;
    }
  }
  sections_.emplace_back(section, file_);
  return sections_.back();
}

std::string UninstallLog::String(std::string_view section, std::string_view key,
                                 std::string_view defaultValue) const {
  return Section(section).String(std::string(key), defaultValue);
}

int UninstallLog::Int(std::string_view section, std::string_view key) const {
  return Section(section).Int(std::string(key), 0);
}

int UninstallLog::Count(std::string_view section, std::string_view key) const {
  return std::clamp(Int(section, key), 0, lineCount_);
}

std::string UninstallLog::InstallationFolder() const {
  return LoggedInstallationFolder(String(kGeneral, kBid));
}

}  // namespace vorlatch
