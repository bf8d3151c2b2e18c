#include "packer/source_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#ifdef _WIN32
#include "win/handles.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vorlatch::packer {

namespace {

constexpr long long kTicksPerSecond = 10000000;
constexpr long long kSecondsFrom1601To1970 = 11644473600LL;

// Opens a source for reading without moving its access time where the system allows it, so
// that packing a file does not change what the next build of it stores.
std::FILE* OpenForReading(const std::string& path) {
#if defined(O_NOATIME)
  int descriptor = open(path.c_str(), O_RDONLY | O_NOATIME | O_CLOEXEC);
  if (descriptor < 0 && errno == EPERM) {  // only the file's owner may ask for it
    descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  }
  if (descriptor < 0) {
    return nullptr;
  }
  std::FILE* file = fdopen(descriptor, "rb");
  if (file == nullptr) {
    close(descriptor);
  }
  return file;
#else
  return std::fopen(path.c_str(), "rb");
#endif
}

#ifdef _WIN32
std::string WindowsErrorText(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return "No such file or directory";
    case ERROR_ACCESS_DENIED:
      return "Permission denied";
    case ERROR_SHARING_VIOLATION:
      return "in use by another program";
    default:
      return "Windows error " + std::to_string(code);
  }
}
#endif

}  // namespace

std::uint64_t FileTimeFromUnix(long long seconds, long long nanoseconds) {
  const long long since1601 = seconds + kSecondsFrom1601To1970;
  if (since1601 < 0) {
    return 0;
  }
  return static_cast<std::uint64_t>(since1601) * kTicksPerSecond +
         static_cast<std::uint64_t>(nanoseconds / 100);
}

std::string FileTimeText(std::uint64_t ticks) {
  if (ticks == 0) {
    return "none";
  }
  const long long total = static_cast<long long>(ticks / kTicksPerSecond);
  // Days since 1601-01-01 → civil date (the proleptic Gregorian calendar).
  long long days = total / 86400 - 134774;  // now days since 1970-01-01
  const long long secondsOfDay = total % 86400;
  days += 719468;
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const long long dayOfEra = days - era * 146097;
  const long long yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const long long mp = (5 * dayOfYear + 2) / 153;
  const long long day = dayOfYear - (153 * mp + 2) / 5 + 1;
  const long long month = mp < 10 ? mp + 3 : mp - 9;
  const long long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld UTC", year, month,
                day, secondsOfDay / 3600, secondsOfDay / 60 % 60, secondsOfDay % 60);
  return text;
}

std::string TooLargeForAnItem() {
  return "4 GiB or larger: an installer stores a file's size in 32 bits and cannot hold it";
}

bool SourceReader::Open(const std::string& path, ItemTail& tail, std::uint64_t& size,
                        std::string& error) {
  // The times are taken before the content is read, which may move the access time.
  tail = ItemTail{};
  size = 0;
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    error = WindowsErrorText(GetLastError());
    return false;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    error = "a folder, not a file";
    return false;
  }
  tail.attributes = attributes;
  UniqueHandle handle(CreateFileA(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  FILETIME creation{}, access{}, write{};
  if (!handle || !GetFileTime(handle.get(), &creation, &access, &write)) {
    error = "cannot read its file times: " + WindowsErrorText(GetLastError());
    return false;
  }
  LARGE_INTEGER length{};
  if (GetFileSizeEx(handle.get(), &length)) {
    size = static_cast<std::uint64_t>(length.QuadPart);
  }
  auto ticks = [](const FILETIME& t) {
    return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  tail.creation = ticks(creation);
  tail.access = ticks(access);
  tail.write = ticks(write);
#else
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    error = std::strerror(errno);
    return false;
  }
  if (S_ISDIR(info.st_mode)) {
    error = "a folder, not a file";
    return false;
  }
  tail.attributes = (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ? kFileAttributeReadonly
                                                                        : kFileAttributeArchive;
  tail.write = FileTimeFromUnix(info.st_mtim.tv_sec, info.st_mtim.tv_nsec);
  tail.access = FileTimeFromUnix(info.st_atim.tv_sec, info.st_atim.tv_nsec);
  // stat() knows no creation time; the last change of the content is the nearest thing.
  tail.creation = tail.write;
  size = info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
#endif
  file_.reset(OpenForReading(path));
  if (!file_) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}

bool SourceReader::Read(std::uint8_t* buffer, std::size_t capacity, std::size_t& got) {
  got = std::fread(buffer, 1, capacity, file_.get());
  return got > 0 || !std::ferror(file_.get());
}

bool ReadSourceFile(const std::string& path, std::vector<std::uint8_t>& content, ItemTail& tail,
                    std::string& error) {
  SourceReader reader;
  std::uint64_t size = 0;
  if (!reader.Open(path, tail, size, error)) {
    return false;
  }
  content.clear();
  // A file that states its size is refused before a byte is read; one that does not (a
  // pipe) when it has given too much.
  if (size > kMaxSourceSize) {
    error = TooLargeForAnItem();
    return false;
  }
  std::uint8_t chunk[65536];
  for (;;) {
    std::size_t got = 0;
    if (!reader.Read(chunk, sizeof chunk, got)) {
      error = "read error";
      return false;
    }
    if (got == 0) {
      return true;
    }
    if (content.size() + got > kMaxSourceSize) {
      error = TooLargeForAnItem();
      return false;
    }
    try {
      content.insert(content.end(), chunk, chunk + got);
    } catch (const std::bad_alloc&) {
      const std::size_t wanted = content.size() + got;
      content = std::vector<std::uint8_t>();  // gives the memory back for the message
      error = "not enough memory to read it (" + std::to_string(wanted) + " bytes and more)";
      return false;
    }
  }
}

std::optional<FileIdentity> IdentityOf(const std::string& path) {
#ifdef _WIN32
  UniqueHandle handle(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION information{};
  if (!handle || !GetFileInformationByHandle(handle.get(), &information)) {
    return std::nullopt;
  }
  return FileIdentity{
      information.dwVolumeSerialNumber,
      (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow};
#else
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    return std::nullopt;
  }
  return FileIdentity{static_cast<std::uint64_t>(info.st_dev),
                      static_cast<std::uint64_t>(info.st_ino)};
#endif
}

std::uint64_t SourceSize(const std::string& path) {
#ifdef _WIN32
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
    return 0;
  }
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
#else
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && info.st_size > 0
             ? static_cast<std::uint64_t>(info.st_size)
             : 0;
#endif
}

std::string ProgramDirectory() {
#ifdef _WIN32
  char path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    return {};
  }
  return FolderOf(std::string(path, length));
#else
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) {
    return {};
  }
  return FolderOf(std::string(path, static_cast<std::size_t>(length)));
#endif
}

std::string FolderOf(const std::string& path) {
#ifdef _WIN32
  const CodePage& codePage = ActiveCodePage();
  std::size_t cut = std::string::npos;
  for (const char separator : {'\\', '/', ':'}) {
    const std::size_t at = codePage.FindLast(path, separator);
    if (at != std::string::npos && (cut == std::string::npos || at > cut)) {
      cut = at;
    }
  }
#else
  const std::size_t cut = path.find_last_of('/');
#endif
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string ResolvePath(const std::string& folder, const std::string& name,
                        const CodePage& codePage) {
#ifdef _WIN32
  (void)codePage;  // the system reads its own paths
  const bool absolute = (!name.empty() && (name[0] == '\\' || name[0] == '/')) ||
                        (name.size() >= 2 && name[1] == ':');
  const std::string& local = name;
#else
  std::string local = name;
  for (std::size_t at = 0; at < local.size(); at += codePage.CharLength(local, at)) {
    if (local[at] == '\\' && codePage.CharLength(local, at) == 1) {
      local[at] = '/';
    }
  }
  const bool absolute = !local.empty() && local[0] == '/';
#endif
  return absolute ? local : folder + local;
}

}  // namespace vorlatch::packer
