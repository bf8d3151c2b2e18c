#include "actions/uninstaller_tail.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include <windows.h>

#include "win/handles.h"

namespace vorlatch {

namespace {

// Writes the text and its length at `offset` and ends the file there.
bool WriteTailAt(HANDLE file, std::uint64_t offset, const std::string& text) {
  std::vector<std::uint8_t> tail(text.begin(), text.end());
  const std::uint32_t length = static_cast<std::uint32_t>(text.size());
  for (int i = 0; i < 4; ++i) {
    tail.push_back(static_cast<std::uint8_t>((length >> (8 * i)) & 0xFFu));
  }
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  if (!::SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) {
    return false;
  }
  std::size_t written = 0;
  while (written < tail.size()) {
    DWORD done = 0;
    if (!::WriteFile(file, tail.data() + written, static_cast<DWORD>(tail.size() - written), &done,
                     nullptr) ||
        done == 0) {
      return false;
    }
    written += done;
  }
  return ::SetEndOfFile(file) != 0;
}

std::optional<std::string> WholeFileText(const std::string& path) {
  UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 ||
      size.QuadPart > kMaxFrozenLogLength) {
    return std::nullopt;
  }
  std::string text(static_cast<std::size_t>(size.QuadPart), '\0');
  if (!ReadFileAt(file.get(), 0, text.data(), static_cast<std::uint32_t>(text.size()))) {
    return std::nullopt;
  }
  return text;
}

// 100 pauses of 0.1 s: far longer than a scan or an icon takes on a slow machine.
constexpr int kWriteAccessAttempts = 100;
constexpr DWORD kWriteAccessPauseMs = 100;

}  // namespace

bool AwaitWriteAccess(const std::string& path) {
  for (int attempt = 1;; ++attempt) {
    const UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
      return true;
    }
    if (::GetLastError() != ERROR_SHARING_VIOLATION || attempt == kWriteAccessAttempts) {
      return false;
    }
    ::Sleep(kWriteAccessPauseMs);
  }
}

bool ReadFileAt(HANDLE file, std::uint64_t offset, void* buffer, std::uint32_t length) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  if (!::SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) {
    return false;
  }
  DWORD read = 0;
  return ::ReadFile(file, buffer, length, &read, nullptr) && read == length;
}

std::string WriteUniqueFile(const std::string& folder, const char* prefix,
                            const std::string& text) {
  char name[MAX_PATH + 1] = {};
  if (folder.empty() || ::GetTempFileNameA(folder.c_str(), prefix, 0, name) == 0) {
    return std::string();
  }
  UniqueHandle file(::CreateFileA(name, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                  FILE_ATTRIBUTE_TEMPORARY, nullptr));
  DWORD written = 0;
  if (!file ||
      !::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
      written != text.size()) {
    file.reset();
    ::DeleteFileA(name);
    return std::string();
  }
  return name;
}

std::optional<std::string> ReadFrozenLogText(const std::string& path, TailProblem& problem) {
  problem = TailProblem::kUnreadable;
  UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) {
    return std::nullopt;
  }
  return FrozenLogText(
      static_cast<std::uint64_t>(size.QuadPart),
      [&](std::uint64_t offset, void* buffer, std::uint32_t length) {
        return ReadFileAt(file.get(), offset, buffer, length);
      },
      problem);
}

bool RefreezeUninstallLog(const std::string& uninstaller, const std::string& log) {
  TailProblem problem = TailProblem::kNone;
  const std::optional<std::string> old = ReadFrozenLogText(uninstaller, problem);
  const std::optional<std::string> text = WholeFileText(log);
  if (!old || !text || !LooksLikeLogText(*text) || !AwaitWriteAccess(uninstaller)) {
    return false;
  }
  UniqueHandle file(::CreateFileA(uninstaller.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
  LARGE_INTEGER size{};
  if (!file || !::GetFileSizeEx(file.get(), &size) ||
      static_cast<std::uint64_t>(size.QuadPart) < old->size() + kLogLengthSize) {
    return false;
  }
  const std::uint64_t program =
      static_cast<std::uint64_t>(size.QuadPart) - old->size() - kLogLengthSize;
  if (WriteTailAt(file.get(), program, *text)) {
    return true;
  }
  // A half-written tail would make the uninstaller refuse everything.
  WriteTailAt(file.get(), program, *old);
  return false;
}

void ClearReadOnly(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0) {
    return;
  }
  const DWORD writable = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  ::SetFileAttributesA(path.c_str(), writable == 0 ? FILE_ATTRIBUTE_NORMAL : writable);
}

}  // namespace vorlatch
