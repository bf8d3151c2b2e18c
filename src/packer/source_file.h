#pragma once
// Reading a source file for packing: its bytes and the attributes and times that its item
// tail stores. Portable: Win32 calls on Windows, stat() elsewhere.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "package/format.h"
#include "win/code_page.h"

namespace vorlatch::packer {

inline constexpr std::uint32_t kFileAttributeReadonly = 0x01;
inline constexpr std::uint32_t kFileAttributeArchive = 0x20;

// The largest source an item can hold: its tail stores the size in 32 bits.
inline constexpr std::uint64_t kMaxSourceSize = UINT32_MAX;

// A source opened to be read in pieces, so that no more of it is held than one piece.
class SourceReader {
 public:
  // Opens the file and fills `tail` with its attributes and times (tail.size is left to the
  // item writer) and `size` with its length as the system states it. On failure returns
  // false with the reason in `error`.
  bool Open(const std::string& path, ItemTail& tail, std::uint64_t& size, std::string& error);
  // Reads up to `capacity` bytes into `buffer`; `got` is 0 at the end of the file. False on a
  // read error.
  bool Read(std::uint8_t* buffer, std::size_t capacity, std::size_t& got);

 private:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> file_;
};

// The refusal of a source too large for an item, for messages.
std::string TooLargeForAnItem();

// Reads the whole file and fills `tail` with its attributes and times (tail.size is left to
// the item writer). On failure returns false with the reason in `error`.
bool ReadSourceFile(const std::string& path, std::vector<std::uint8_t>& content, ItemTail& tail,
                    std::string& error);

// Which file a path names, whatever its spelling: two paths with the same identity are the
// same file (a link, another spelling of the folder).
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t file = 0;
  bool operator==(const FileIdentity&) const = default;
};

// None when the file does not exist or cannot be asked.
std::optional<FileIdentity> IdentityOf(const std::string& path);

// The length of a file as the system states it; 0 when it cannot be asked.
std::uint64_t SourceSize(const std::string& path);

// The folder of the running program with a trailing separator, or empty when unknown.
std::string ProgramDirectory();

// Path joining as the project file expects it: `name` as it is when absolute, otherwise
// relative to `folder` (which is empty or ends in a separator). On other systems than
// Windows, backslashes in `name` become slashes so that a project written on Windows works;
// `codePage` is the one the project file is written in (a trail byte is no backslash).
std::string ResolvePath(const std::string& folder, const std::string& name,
                        const CodePage& codePage);

// The folder part of a local path including its last separator ("" for a bare name).
std::string FolderOf(const std::string& path);

// FILETIME ticks as "YYYY-MM-DD HH:MM:SS UTC" (seconds precision), "none" for 0.
std::string FileTimeText(std::uint64_t ticks);

// Seconds and nanoseconds since 1970 as FILETIME ticks (0 for times before 1601).
std::uint64_t FileTimeFromUnix(long long seconds, long long nanoseconds);

}  // namespace vorlatch::packer
