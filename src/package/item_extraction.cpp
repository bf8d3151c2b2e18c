#include "package/item_extraction.h"

#include <algorithm>
#include <memory>
#include <new>

#include "package/decoding_thread.h"
#include "package/format.h"
#include "package/lzma_item.h"
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

void ApplyTimes(const std::string& path, const FILETIME& creation, const FILETIME& access,
                const FILETIME& write) {
  // Open-always: a target that failed to inflate still exists afterwards, with the times.
  UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_FLAG_RANDOM_ACCESS, nullptr));
  if (file) {
    ::SetFileTime(file.get(), &creation, &access, &write);
  }
}

// A file written in pieces. A write cut short (a full disk) is undone: a new or rewritten
// file goes altogether, an appended one is cut back to where it was, so that no file is left
// that looks whole but is not.
class TargetWriter {
 public:
  TargetWriter(const std::string& path, bool append) : path_(path), append_(append) {}

  // Opens the file and truncates it, or finds its end with append. A rewrite truncates in
  // the opening itself (one system request less per file, which counts over thousands of
  // small files); the system refuses that for an existing hidden or system file, which is
  // then opened and cut as before.
  bool Open() {
    if (!append_) {
      file_.reset(OpenTarget(CREATE_ALWAYS));
      if (file_ || ::GetLastError() != ERROR_ACCESS_DENIED) {
        return static_cast<bool>(file_);
      }
    }
    file_.reset(OpenTarget(OPEN_ALWAYS));
    if (!file_) {
      return false;
    }
    if (append_) {
      const LARGE_INTEGER zero{};
      return ::SetFilePointerEx(file_.get(), zero, &start_, FILE_END) != FALSE;
    }
    return ::SetEndOfFile(file_.get()) != FALSE;
  }

  bool Write(const std::uint8_t* bytes, std::size_t length) {
    std::size_t written = 0;
    while (written < length) {
      DWORD done = 0;
      const DWORD step = static_cast<DWORD>(std::min<std::size_t>(length - written, 1u << 30));
      if (!::WriteFile(file_.get(), bytes + written, step, &done, nullptr) || done == 0) {
        return false;
      }
      written += done;
    }
    return true;
  }

  // Takes back what this writer wrote, leaving the file as long as it was when opened.
  void CutBack() {
    ::SetFilePointerEx(file_.get(), start_, nullptr, FILE_BEGIN);
    ::SetEndOfFile(file_.get());
  }

  // After a failed write. Cut back first: should the file then refuse to go, it holds no
  // partial bytes.
  void Undo() {
    CutBack();
    if (!append_) {
      file_.reset();
      ::DeleteFileA(path_.c_str());
    }
  }

  // The tail's times and attributes, set through the handle that wrote the file: opening the
  // file again for each costs more than writing a small file. False when the system refuses
  // the pair in one call (an attribute it does not take); the caller then sets them apart.
  bool SetTimesAndAttributes(const ItemTail& tail) {
    FILE_BASIC_INFO info{};
    info.CreationTime.QuadPart = static_cast<LONGLONG>(tail.creation);
    info.LastAccessTime.QuadPart = static_cast<LONGLONG>(tail.access);
    info.LastWriteTime.QuadPart = static_cast<LONGLONG>(tail.write);
    // 0 would mean "leave them"; "no attributes" is spelt FILE_ATTRIBUTE_NORMAL.
    info.FileAttributes = tail.attributes != 0 ? tail.attributes : FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(file_.get(), FileBasicInfo, &info, sizeof info) != FALSE;
  }

  void Close() { file_.reset(); }

 private:
  HANDLE OpenTarget(DWORD disposition) const {
    return ::CreateFileA(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  }

  const std::string& path_;
  bool append_;
  UniqueHandle file_;
  LARGE_INTEGER start_{};
};

// Inflated bytes go to the target in pieces of this size: large enough that a write costs
// little per byte, small enough that memory stays flat whatever the size of a file.
constexpr std::size_t kPieceSize = 128 * 1024;

// LZMA streams are read through views of 1 MB of the package: pages of the whole
// package's view, once touched, would stay in the working set until the end of the run.
class PackageWindows final : public StreamWindows {
 public:
  Bytes Window(std::uint64_t position, std::size_t length) override {
    const auto packageSize = static_cast<std::uint64_t>(g_state.packageSize);
    if (g_state.packageView == nullptr || g_state.packageSize <= 0 || position >= packageSize) {
      return {};
    }
    if (!view_ || position < start_ || position >= start_ + size_) {
      view_.reset();
      // Views begin on the system's allocation granularity, 64 KB everywhere.
      const std::uint64_t start = position & ~std::uint64_t{0xFFFF};
      const std::uint64_t size = std::min<std::uint64_t>(kWindowSize, packageSize - start);
      view_.reset(::MapViewOfFile(g_state.packageMapping, FILE_MAP_READ,
                                  static_cast<DWORD>(start >> 32), static_cast<DWORD>(start),
                                  static_cast<SIZE_T>(size)));
      if (!view_) {
        // The whole package's view holds the same bytes.
        return Bytes(
            g_state.packageView + position,
            static_cast<std::size_t>(std::min<std::uint64_t>(length, packageSize - position)));
      }
      start_ = start;
      size_ = size;
    }
    const auto* base = static_cast<const std::uint8_t*>(view_.get());
    return Bytes(base + (position - start_), static_cast<std::size_t>(std::min<std::uint64_t>(
                                                 length, start_ + size_ - position)));
  }

  void Release() { view_.reset(); }

 private:
  static constexpr std::uint64_t kWindowSize = 1 << 20;
  UniqueView view_;
  std::uint64_t start_ = 0;
  std::uint64_t size_ = 0;
};

PackageWindows& Windows() {
  static PackageWindows windows;
  return windows;
}

// Kept between items, so that the items of a solid block are decoded in one pass; a long
// block is decoded on a second thread while this one writes its files. The thread is made
// first so that it outlives the decoder that uses it.
LzmaBlockDecoder& BlockDecoder() {
  static SystemDecodingThread thread;
  static LzmaBlockDecoder decoder;
  decoder.ReadStreamsThrough(&Windows());
  decoder.DecodeAheadOn(&thread);
  return decoder;
}

// The package view when `item` lies in it (an LZMA member finds its block there), else none.
Bytes PackageAround(Bytes item) {
  if (g_state.packageView == nullptr || g_state.packageSize <= 0) {
    return {};
  }
  const Bytes package(g_state.packageView, static_cast<std::size_t>(g_state.packageSize));
  const bool inside = !item.empty() && item.data() >= package.data() &&
                      item.data() + item.size() <= package.data() + package.size();
  return inside ? package : Bytes();
}

}  // namespace

void ForgetDecodedBlock() {
  BlockDecoder().Reset();
  Windows().Release();
}

bool WriteBlock(const std::string& path, const std::uint8_t* bytes, std::uint32_t length,
                bool append) {
  if (path.empty() || bytes == nullptr || length == 0) {
    return false;
  }
  TargetWriter writer(path, append);
  if (!writer.Open()) {
    return false;
  }
  if (!writer.Write(bytes, length)) {
    writer.Undo();
    return false;
  }
  return true;
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

void ApplyAttributesAndTimes(const std::string& path, std::uint32_t attributes,
                             const FILETIME& creation, const FILETIME& access,
                             const FILETIME& write) {
  ApplyTimes(path, creation, access, write);
  ::SetFileAttributesA(path.c_str(), attributes);
}

std::uint32_t InflateItemInto(Bytes item, const std::string& target, bool append,
                              PieceObserver* observer) {
  const auto tail = ReadItemTailOf(item);
  // An item shorter than its tail is not an item; the target is left alone.
  if (target.empty() || !tail) {
    return 0;
  }
  // One piece at a time on the stub's main thread, so one buffer serves every item. Taken
  // from the heap: a static array would be stored in the program file.
  static const std::unique_ptr<std::uint8_t[]> piece(new (std::nothrow) std::uint8_t[kPieceSize]);
  if (!piece) {
    return 0;
  }
  ItemDecoder inflater(PackageAround(item), item, BlockDecoder());
  TargetWriter writer(target, append);
  bool opened = false;
  while (inflater.state() == ItemDecoder::State::kMore) {
    // LZMA pieces too are copied out of the dictionary: a write from this small buffer,
    // which the cache still holds, costs the system less than one from the dictionary.
    const std::size_t filled = inflater.Next(std::span(piece.get(), kPieceSize));
    if (filled == 0) {
      continue;
    }
    // Opened with the first bytes, so that an item that fails at once leaves the target as
    // it was.
    if (!opened && !writer.Open()) {
      break;
    }
    opened = true;
    if (!writer.Write(piece.get(), filled)) {
      // Nothing of the file is left (or the appended part is gone again): no times.
      writer.Undo();
      return 0;
    }
    if (observer != nullptr) {
      if (inflater.produced() == filled) {
        observer->FirstPieceWritten(Bytes(piece.get(), filled));
      }
      observer->PieceWritten(inflater.produced());
    }
  }
  const bool whole = opened && inflater.state() == ItemDecoder::State::kDone;
  if (opened && !whole) {
    // A stream found bad half-way: its bytes are taken back, as no whole file came of it.
    writer.CutBack();
  }
  const bool applied = opened && writer.SetTimesAndAttributes(*tail);
  writer.Close();
  if (!applied) {
    ApplyAttributesAndTimes(target, tail->attributes, FileTimeOf(tail->creation),
                            FileTimeOf(tail->access), FileTimeOf(tail->write));
  }
  return whole ? static_cast<std::uint32_t>(inflater.produced()) : 0;
}

std::uint32_t ExtractPackedItem(std::uint32_t position, std::uint32_t length,
                                const std::string& target, bool append, PieceObserver* observer) {
  if (g_state.packageView == nullptr || g_state.packageSize <= 0) {
    return 0;
  }
  const Bytes package(g_state.packageView, static_cast<std::size_t>(g_state.packageSize));
  const auto item = SliceOf(package, position, length);
  if (!item) {
    return 0;
  }
  return InflateItemInto(*item, target, append, observer);
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
