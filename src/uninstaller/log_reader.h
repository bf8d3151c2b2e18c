#pragma once
// The log frozen into an uninstaller's own file, checked and made readable: the text is
// copied into a temporary file of its own and every value is read from there through the
// profile functions, the same functions that wrote it. Nothing writes the log while it is
// read, so each section is read once, whole: entry by entry, the profile functions would
// read the file again for every one of thousands of files.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "script/script_access.h"
#include "uninstaller/frozen_log.h"

namespace vorlatch {

class UninstallLog {
 public:
  // Reads the tail of the uninstaller at `path` and checks it (length, the program before
  // the log, the text, an absolute [General] BID). None, with `problem` set, when it cannot be
  // trusted; nothing is left behind then.
  static std::optional<UninstallLog> FromUninstaller(const std::string& path, TailProblem& problem);
  // A log that is already an INI file; the file stays when the object goes.
  static UninstallLog FromFile(const std::string& iniPath);

  UninstallLog(const UninstallLog&) = delete;
  UninstallLog& operator=(const UninstallLog&) = delete;
  UninstallLog(UninstallLog&& other) noexcept;
  UninstallLog& operator=(UninstallLog&& other) noexcept;
  // Deletes the temporary copy, when it made one.
  ~UninstallLog();

  std::string String(std::string_view section, std::string_view key,
                     std::string_view defaultValue = "") const;
  int Int(std::string_view section, std::string_view key) const;
  // A count of numbered entries, never below 0 and never above the number of lines of the
  // log: no more entries than that can be in it, however large a damaged count is.
  int Count(std::string_view section, std::string_view key) const;

  // [General] BID as the installer wrote it; forward slashes of older installers become
  // backslashes.
  std::string InstallationFolder() const;

  const std::string& file() const { return file_; }

 private:
  UninstallLog(std::string file, bool owned, int lineCount);
  const IniSection& Section(std::string_view section) const;

  std::string file_;
  bool owned_ = false;
  int lineCount_ = 0;
  // The sections read so far.
  mutable std::vector<IniSection> sections_;
};

// The folder for the uninstaller's temporary files: the installer's temporary directory, else
// the system's; empty when neither is known.
std::string UninstallerTemporaryFolder();

}  // namespace vorlatch
