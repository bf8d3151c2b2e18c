#pragma once
// Turning a packed item into an ordinary file: the item is inflated from the package view in
// pieces straight into the target, so neither memory nor the temporary drive ever holds a
// copy of it; the target gets the attributes and times stored in the item's tail.

#include <cstdint>
#include <string>

#include <windows.h>

#include "package/format.h"

namespace vorlatch {

// Writes `length` bytes to `path`, truncating it, or after its end with `append`. True
// exactly when every byte was written; false at once for an empty path, no bytes or 0 length.
// A write cut short (a full disk) is undone: the file is deleted, or an appended one cut back
// to its old end.
bool WriteBlock(const std::string& path, const std::uint8_t* bytes, std::uint32_t length,
                bool append);

// Appends the whole of `source` (which must not be empty) to `destination`.
bool AppendFile(const std::string& destination, const std::string& source);

// Gives `path` the stored times and then the stored attributes. Times first: once a file is
// read-only it can no longer be opened to set its times.
void ApplyAttributesAndTimes(const std::string& path, std::uint32_t attributes,
                             const FILETIME& creation, const FILETIME& access,
                             const FILETIME& write);

// Told of each piece of an item written to its target, with the item's bytes written so far;
// long extractions use it to move a progress bar and to keep their windows answering.
class PieceObserver {
 public:
  virtual void PieceWritten(std::uint64_t itemBytesWritten) = 0;
  // The item's first piece once it is written: its first bytes tell what kind of file it is,
  // without reading the file again.
  virtual void FirstPieceWritten(Bytes) {}

 protected:
  ~PieceObserver() = default;
};

// Inflates a packed item (stream and tail) into `target` (after its end with `append`) and
// applies the tail's attributes and times to it, also after a failed inflation. Returns the
// number of bytes written, 0 on failure; a stream that fails half-way takes back the bytes
// it wrote, as a write that fails does.
std::uint32_t InflateItemInto(Bytes item, const std::string& target, bool append,
                              PieceObserver* observer = nullptr);

// Frees the decoder that LZMA items share between them; called before the package goes.
void ForgetDecodedBlock();

// Inflates the item at [position, position + length) of the package view into `target`.
// 0 when the item does not lie wholly inside the package.
std::uint32_t ExtractPackedItem(std::uint32_t position, std::uint32_t length,
                                const std::string& target, bool append,
                                PieceObserver* observer = nullptr);

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
