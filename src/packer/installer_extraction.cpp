#include "packer/installer_extraction.h"

#include <algorithm>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <vector>

#include "package/format.h"
#include "package/lzma_item.h"
#include "package/signature_layout.h"
#include "packer/ini_text.h"
#include "packer/source_file.h"
#include "script/path_text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace vorlatch::packer {

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kUnixEpochTicks = 116444736000000000ULL;  // 1970 in FILETIME ticks

struct Named {
  std::string label;  // "[File] File2", for messages
  std::string path;   // relative path with '/', before checking
  std::string section, zipKey, posKey;
};

// The folders of a target as the installer would expand them: a leading macro becomes a
// folder of its name, anything else the destination folder.
std::string TargetFolder(const std::string& target) {
  std::vector<std::string> macros = {"WINDOWS", "SYSTEM", "TEMP", "BID", "PROGFILES"};
  for (const NamedFolderMacro& named : kNamedFolderMacros) {
    const std::string bracketed = named.macro;
    macros.push_back(bracketed.substr(1, bracketed.size() - 2));
  }
  for (const std::string& macro : macros) {
    const std::string bracketed = "[" + macro + "]";
    if (target.size() >= bracketed.size() &&
        EqualNoCase(std::string_view(target).substr(0, bracketed.size()), bracketed)) {
      std::string folder = macro;
      return folder.append("/").append(target.substr(bracketed.size()));
    }
  }
  return "BID/";
}

// The path split at both separators, or nothing when a part would climb out of the folder.
std::optional<std::string> SafeRelative(const std::string& path) {
  std::string safe;
  std::size_t at = 0;
  while (at <= path.size()) {
    const std::size_t end = std::min(path.find_first_of("\\/", at), path.size());
    const std::string part = path.substr(at, end - at);
    at = end + 1;
    if (part.empty() || part == ".") {
      continue;
    }
    if (part == ".." || part.find(':') != std::string::npos) {
      return std::nullopt;
    }
    safe += (safe.empty() ? "" : "/") + part;
  }
  if (safe.empty()) {
    return std::nullopt;
  }
  return safe;
}

bool SetTimesAndAttributes(const std::string& path, const ItemTail& tail) {
#ifdef _WIN32
  HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  auto time = [](std::uint64_t ticks) {
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  };
  const FILETIME created = time(tail.creation), accessed = time(tail.access),
                 written = time(tail.write);
  const bool timed = SetFileTime(file, &created, &accessed, &written) != 0;
  CloseHandle(file);
  return timed && SetFileAttributesA(path.c_str(), tail.attributes == 0 ? FILE_ATTRIBUTE_NORMAL
                                                                        : tail.attributes) != 0;
#else
  auto time = [](std::uint64_t ticks) {
    timespec moment{};
    const std::uint64_t since = ticks > kUnixEpochTicks ? ticks - kUnixEpochTicks : 0;
    moment.tv_sec = static_cast<time_t>(since / 10000000);
    moment.tv_nsec = static_cast<long>(since % 10000000 * 100);
    return moment;
  };
  const timespec times[2] = {time(tail.access), time(tail.write)};
  if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
    return false;
  }
  // Linux holds no creation time and of the attributes only read-only.
  return (tail.attributes & kFileAttributeReadonly) == 0 || chmod(path.c_str(), 0444) == 0;
#endif
}

}  // namespace

bool ExtractInstaller(const std::string& installer, const std::string& folder, std::ostream& out,
                      std::string& error) {
  std::vector<std::uint8_t> bytes;
  ItemTail fileTail;
  std::string problem;
  if (!ReadSourceFile(installer, bytes, fileTail, problem)) {
    error = installer + ": " + problem;
    return false;
  }
  std::error_code failed;
  if (fs::exists(folder, failed) && !fs::is_empty(folder, failed)) {
    error = folder + ": not empty; extract into a new folder, so that nothing is written over";
    return false;
  }
  const Bytes package = PackageOf(bytes);
  const auto block = LocateScriptBlock(package);
  const auto scriptBytes = block ? InflateItem(*block) : std::nullopt;
  if (!scriptBytes) {
    error = installer + ": not an installer: its script block cannot be read";
    return false;
  }
  const std::string text(scriptBytes->begin(), scriptBytes->end());
  const IniText script = IniText::Parse(text);
  const auto reserved = ReservedBytePosition(package, script.GetInt("Before", "Protect") != 0);
  if (!reserved) {
    error = installer + ": no room for the reserved byte before the script block";
    return false;
  }

  std::vector<Named> named;
  const long long count = script.GetInt("File", "File");
  for (long long n = 1; n <= count && n <= 100000; ++n) {
    const std::string number = std::to_string(n);
    named.push_back({"[File] File" + number,
                     TargetFolder(script.GetString("File", "Target" + number)) + "/" +
                         script.GetString("File", "File" + number),
                     "File", "Zip" + number, "Pos" + number});
  }
  // In the installer's order, the last file first: the files of a solid block are then
  // decoded in one pass.
  std::reverse(named.begin(), named.end());
  named.push_back({"the uninstaller", "BID/Uninstall.exe", "File", "UninstallZip", "UninstallPos"});
  for (const auto& [section, key] :
       {std::pair{"File", "Dll"}, {"Before", "File"}, {"After", "File"}}) {
    const std::string zip = std::string(key) == "Dll" ? "DllZip" : "FileZip";
    const std::string pos = std::string(key) == "Dll" ? "DllPos" : "FilePos";
    named.push_back({std::string("[") + section + "] " + key,
                     std::string("TEMP/").append(script.GetString(section, key)), section, zip,
                     pos});
  }

  if (!fs::create_directories(folder, failed) && failed) {
    error = folder + ": " + failed.message();
    return false;
  }
  const std::string scriptPath = (fs::path(folder) / "Vorlatch.ini").string();
  {
    std::ofstream file(scriptPath, std::ios::binary);
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!file.flush()) {
      error = scriptPath + ": write error";
      return false;
    }
  }
  out << "Vorlatch.ini: the script, " << text.size() << " bytes\n";
  LzmaBlockDecoder blocks;
  for (const Named& item : named) {
    const long long zip = script.GetInt(item.section, item.zipKey);
    const long long pos = script.GetInt(item.section, item.posKey);
    if (zip == 0 && pos == 0) {
      continue;  // not packed for itself
    }
    const auto slice =
        zip <= 0 || pos <= 0
            ? std::nullopt
            : SliceOf(package.first(static_cast<std::size_t>(*reserved)),
                      static_cast<std::uint64_t>(pos), static_cast<std::uint64_t>(zip));
    const auto tail = slice ? ReadItemTailOf(*slice) : std::nullopt;
    const auto content = slice ? DecodeItem(package, *slice, blocks) : std::nullopt;
    if (!content || !tail || content->size() != tail->size) {
      error = installer + ": " + item.label + ": damaged item";
      return false;
    }
    const auto relative = SafeRelative(item.path);
    if (!relative) {
      error = installer + ": " + item.label + ": '" + item.path +
              "' would lie outside the folder; nothing of it is written";
      return false;
    }
    const fs::path path = fs::path(folder) / *relative;
    if (fs::exists(path, failed)) {
      error = installer + ": " + item.label + ": a second item for '" + *relative + "'";
      return false;
    }
    fs::create_directories(path.parent_path(), failed);
    {
      std::ofstream file(path, std::ios::binary);
      file.write(reinterpret_cast<const char*>(content->data()),
                 static_cast<std::streamsize>(content->size()));
      if (!file.flush()) {
        error = path.string() + ": write error";
        return false;
      }
    }
    if (!SetTimesAndAttributes(path.string(), *tail)) {
      error = path.string() + ": cannot set its times and attributes";
      return false;
    }
    char attributes[16];
    std::snprintf(attributes, sizeof attributes, "0x%08X", static_cast<unsigned>(tail->attributes));
    out << *relative << ": " << item.label << ", " << tail->size << " bytes, attributes "
        << attributes << ", created " << FileTimeText(tail->creation) << ", written "
        << FileTimeText(tail->write) << "\n";
  }
  return true;
}

}  // namespace vorlatch::packer
