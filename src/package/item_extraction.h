#pragma once
// Turning a packed item into an ordinary file: its bytes go from the package view into the
// item file, which is then inflated into the target; the target gets the attributes and
// times stored in the item's tail.

#include <cstdint>
#include <string>

#include <windows.h>

namespace vorlatch {

// Writes `length` bytes to `path`, truncating it, or after its end with `append`. True
// exactly when every byte was written; false at once for an empty path, no bytes or 0 length.
// A write cut short (a full disk) is undone: the file is deleted, or an appended one cut back
// to its old end.
bool WriteBlock(const std::string& path, const std::uint8_t* bytes, std::uint32_t length,
                bool append);

// Appends the whole of `source` (which must not be empty) to `destination`.
bool AppendFile(const std::string& destination, const std::string& source);

// The uncompressed size from the tail of an item file (0 when it cannot be read); fills each
// other field whose pointer is given.
std::uint32_t ReadItemTail(const std::string& itemFile, std::uint32_t* attributes,
                           FILETIME* creation, FILETIME* access, FILETIME* write);

// Gives `path` the stored times and then the stored attributes. Times first: once a file is
// read-only it can no longer be opened to set its times.
void ApplyAttributesAndTimes(const std::string& path, std::uint32_t attributes,
                             const FILETIME& creation, const FILETIME& access,
                             const FILETIME& write);

// Inflates an item file into `target` (appending with `append`) and applies the tail's
// attributes and times to it, also after a failed inflation. Returns the number of bytes
// written, 0 on failure.
std::uint32_t InflateItemFile(const std::string& itemFile, const std::string& target, bool append);

// Copies the item at [position, position + length) of the package view into the item file
// and inflates it into `target`. 0 when the item does not lie wholly inside the package.
std::uint32_t ExtractPackedItem(std::uint32_t position, std::uint32_t length,
                                const std::string& target, bool append);

// An installed file's item as the script names it.
struct PackedItemRef {
  bool found = false;
  int index = 0;  // 1-based place in the [File] list, 0 when no name matched
  std::uint32_t position = 0;
  std::uint32_t length = 0;
};

// Looks `name` up among [File] File<n> (without regard to case; the first match wins). A
// match whose Zip or Pos is 0 is not found, but its index and values are returned.
PackedItemRef FindPackedItem(const std::string& name);

}  // namespace vorlatch
