#include "win/ansi_names.h"

#include <shlobj.h>

namespace vorlatch {

std::string NarrowOf(const std::wstring& text, UINT codePage, DWORD flags, BOOL* usedDefault) {
  const int wideLength = static_cast<int>(text.size());
  const int length = ::WideCharToMultiByte(codePage, flags, text.data(), wideLength, nullptr, 0,
                                           nullptr, usedDefault);
  if (length <= 0) {
    return std::string();
  }
  std::string narrow(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(codePage, flags, text.data(), wideLength, narrow.data(), length, nullptr,
                        usedDefault);
  return narrow;
}

std::wstring WideOf(const std::string& text, UINT codePage) {
  const int size = static_cast<int>(text.size());
  const int length = ::MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
  if (length <= 0) {
    return std::wstring();
  }
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  if (::MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), length) != length) {
    return std::wstring();
  }
  return wide;
}

std::string AnsiFormOf(const std::wstring& text, bool& fits) {
  fits = true;
  if (text.empty()) {
    return std::string();
  }
  if (::GetACP() == CP_UTF8) {
    // Every character has its form here; the system refuses the best-fit flag and the
    // default-character report for UTF-8, and only a lone surrogate does not fit.
    std::string exact = NarrowOf(text, CP_ACP, WC_ERR_INVALID_CHARS);
    fits = !exact.empty();
    return fits ? exact : NarrowOf(text, CP_ACP);
  }
  // No best fit: a look-alike letter would name another folder as surely as a '?'.
  BOOL usedDefault = FALSE;
  std::string ansi = NarrowOf(text, CP_ACP, WC_NO_BEST_FIT_CHARS, &usedDefault);
  fits = !ansi.empty() && usedDefault == FALSE;
  return ansi;
}

std::optional<std::wstring> WideEnvironment(const wchar_t* name) {
  const DWORD needed = ::GetEnvironmentVariableW(name, nullptr, 0);
  if (needed == 0) {
    return std::nullopt;
  }
  std::wstring value(needed, L'\0');
  const DWORD length = ::GetEnvironmentVariableW(name, value.data(), needed);
  if (length == 0 || length >= needed) {
    return std::nullopt;  // empty counts as not set, as for the 8-bit reading
  }
  value.resize(length);
  return value;
}

std::optional<std::wstring> WideSpecialFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (::SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE) == FALSE) {
    return std::nullopt;
  }
  return std::wstring(path);
}

namespace {

// A text that the system writes into a buffer of a size that a first call tells (a path of
// double-byte characters may pass MAX_PATH bytes); empty when the system gives none.
template <typename Call>
std::string SizedBySystem(Call call) {
  const DWORD needed = call(nullptr, 0);
  if (needed == 0) {
    return std::string();
  }
  std::string text(needed, '\0');
  const DWORD length = call(text.data(), needed);
  if (length == 0 || length >= needed) {
    return std::string();
  }
  text.resize(length);
  return text;
}

}  // namespace

std::string FullPathName(const std::string& path) {
  return SizedBySystem([&](char* buffer, DWORD size) {
    return ::GetFullPathNameA(path.c_str(), size, buffer, nullptr);
  });
}

std::string LongPathName(const std::string& path) {
  return SizedBySystem(
      [&](char* buffer, DWORD size) { return ::GetLongPathNameA(path.c_str(), buffer, size); });
}

}  // namespace vorlatch
