#include "package/item_extraction.h"

#include "package/format.h"
#include "package/opening.h"
#include "package/process_state.h"
#include "script/keys.h"
#include "script/script_access.h"
#include "win/handles.h"

namespace vorlatch {

namespace {

// A read-only view of a whole file, released with the object.
struct MappedFile {
  UniqueHandle mapping;
  UniqueView view;
  std::uint64_t size = 0;

  Bytes bytes() const {
    return Bytes(static_cast<const std::uint8_t*>(view.get()), static_cast<std::size_t>(size));
  }
};

// False for a file that cannot be opened, is empty or does not fit the address space.
bool MapFile(const std::string& path, MappedFile& mapped) {
  UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_RANDOM_ACCESS, nullptr));
  if (!file) {
    return false;
  }
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 ||
      static_cast<std::uint64_t>(size.QuadPart) > SIZE_MAX) {
    return false;
  }
  mapped.mapping.reset(::CreateFileMappingA(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapped.mapping) {
    return false;
  }
  mapped.view.reset(::MapViewOfFile(mapped.mapping.get(), FILE_MAP_READ, 0, 0, 0));
  if (!mapped.view) {
    return false;
  }
  mapped.size = static_cast<std::uint64_t>(size.QuadPart);
  return true;
}

FILETIME FileTimeOf(std::uint64_t ticks) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return time;
}

bool ReadAt(HANDLE file, std::int64_t offsetFromEnd, void* out, DWORD length) {
  LARGE_INTEGER distance;
  distance.QuadPart = -offsetFromEnd;
  DWORD read = 0;
  return ::SetFilePointerEx(file, distance, nullptr, FILE_END) &&
         ::ReadFile(file, out, length, &read, nullptr) && read == length;
}

void ApplyTimes(const std::string& path, const FILETIME& creation, const FILETIME& access,
                const FILETIME& write) {
  // Open-always: a target that failed to inflate still exists afterwards, with the times.
  UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_FLAG_RANDOM_ACCESS, nullptr));
  if (file) {
    ::SetFileTime(file.get(), &creation, &access, &write);
  }
}

// How a write ended. A write cut short (a full disk) is undone: a new or rewritten file goes
// altogether, an appended one is cut back to where it was, so that no file is left that
// looks whole but is not.
enum class WriteResult { kWritten, kNotOpened, kUndone };

WriteResult WriteBlockOrUndo(const std::string& path, const std::uint8_t* bytes,
                             std::uint32_t length, bool append) {
  if (path.empty() || bytes == nullptr || length == 0) {
    return WriteResult::kNotOpened;
  }
  UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    return WriteResult::kNotOpened;
  }
  LARGE_INTEGER start{};
  if (append) {
    LARGE_INTEGER zero{};
    if (!::SetFilePointerEx(file.get(), zero, &start, FILE_END)) {
      return WriteResult::kNotOpened;
    }
  } else if (!::SetEndOfFile(file.get())) {
    return WriteResult::kNotOpened;
  }
  std::uint32_t written = 0;
  while (written < length) {
    DWORD done = 0;
    if (!::WriteFile(file.get(), bytes + written, length - written, &done, nullptr) || done == 0) {
      // Cut back first: should the file then refuse to go, it holds no partial bytes.
      ::SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN);
      ::SetEndOfFile(file.get());
      if (!append) {
        file.reset();
        ::DeleteFileA(path.c_str());
      }
      return WriteResult::kUndone;
    }
    written += done;
  }
  return WriteResult::kWritten;
}

}  // namespace

bool WriteBlock(const std::string& path, const std::uint8_t* bytes, std::uint32_t length,
                bool append) {
  return WriteBlockOrUndo(path, bytes, length, append) == WriteResult::kWritten;
}

bool AppendFile(const std::string& destination, const std::string& source) {
  if (destination.empty() || source.empty()) {
    return false;
  }
  MappedFile mapped;
  if (!MapFile(source, mapped) || mapped.size > UINT32_MAX) {
    return false;
  }
  return WriteBlock(destination, mapped.bytes().data(), static_cast<std::uint32_t>(mapped.size),
                    true);
}

std::uint32_t ReadItemTail(const std::string& itemFile, std::uint32_t* attributes,
                           FILETIME* creation, FILETIME* access, FILETIME* write) {
  UniqueHandle file(::CreateFileA(itemFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    return 0;
  }
  // A file shorter than a tail has none; reading it would start before the file.
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart < kItemTailSize) {
    return 0;
  }
  std::uint8_t field[8];
  if (!ReadAt(file.get(), 4, field, 4)) {
    return 0;
  }
  const std::uint32_t uncompressed = ReadU32(field);
  if (write != nullptr && ReadAt(file.get(), 12, field, 8)) {
    *write = FileTimeOf(ReadU64(field));
  }
  if (access != nullptr && ReadAt(file.get(), 20, field, 8)) {
    *access = FileTimeOf(ReadU64(field));
  }
  if (creation != nullptr && ReadAt(file.get(), 28, field, 8)) {
    *creation = FileTimeOf(ReadU64(field));
  }
  if (attributes != nullptr && ReadAt(file.get(), 32, field, 4)) {
    *attributes = ReadU32(field);
  }
  return uncompressed;
}

void ApplyAttributesAndTimes(const std::string& path, std::uint32_t attributes,
                             const FILETIME& creation, const FILETIME& access,
                             const FILETIME& write) {
  ApplyTimes(path, creation, access, write);
  ::SetFileAttributesA(path.c_str(), attributes);
}

std::uint32_t InflateItemFile(const std::string& itemFile, const std::string& target, bool append) {
  if (target.empty() || itemFile.empty()) {
    return 0;
  }
  MappedFile mapped;
  // An item file shorter than its tail is not an item; the target is left alone.
  if (!MapFile(itemFile, mapped) || mapped.size < kItemTailSize) {
    return 0;
  }
  std::uint32_t attributes = 0;
  FILETIME creation{};
  FILETIME access{};
  FILETIME write{};
  std::uint32_t size = ReadItemTail(itemFile, &attributes, &creation, &access, &write);
  std::uint32_t result = 0;
  {
    const auto buffer = InflateToBuffer(mapped.bytes().first(mapped.size - kItemTailSize), size);
    if (buffer) {
      switch (WriteBlockOrUndo(target, buffer->data(), size, append)) {
        case WriteResult::kWritten:
          result = size;
          break;
        case WriteResult::kUndone:
          // Nothing of the file is left (or the appended part is gone again): no times.
          return 0;
        case WriteResult::kNotOpened:
          break;
      }
    }
  }
  ApplyAttributesAndTimes(target, attributes, creation, access, write);
  return result;
}

std::uint32_t ExtractPackedItem(std::uint32_t position, std::uint32_t length,
                                const std::string& target, bool append) {
  if (g_state.packageView == nullptr || g_state.packageSize <= 0) {
    return 0;
  }
  const Bytes package(g_state.packageView, static_cast<std::size_t>(g_state.packageSize));
  const auto item = SliceOf(package, position, length);
  if (!item) {
    return 0;
  }
  const std::string itemFile = ItemFilePath();
  if (!WriteBlock(itemFile, item->data(), length, false)) {
    return 0;
  }
  return InflateItemFile(itemFile, target, append);
}

PackedItemRef FindPackedItem(const std::string& name) {
  PackedItemRef ref;
  const int count = ReadScriptInt(kFile, kFile, 0);
  for (int n = 1; n <= count; ++n) {
    if (!EqualNoCase(ReadScriptString(kFile, NumberedName(kFile, n), ""), name)) {
      continue;
    }
    ref.index = n;
    ref.position = static_cast<std::uint32_t>(ReadScriptInt(kFile, NumberedName(kPos, n), 0));
    ref.length = static_cast<std::uint32_t>(ReadScriptInt(kFile, NumberedName(kZip, n), 0));
    ref.found = ref.length != 0 && ref.position != 0;
    return ref;
  }
  return ref;
}

}  // namespace vorlatch
