#include "package/opening.h"

#include <windows.h>

#include <cstdio>
#include <cstdint>
#include <string_view>

#include "package/command_line.h"
#include "package/format.h"
#include "package/item_extraction.h"
#include "package/process_state.h"
#include "package/run_folder.h"
#include "package/signature_layout.h"
#include "package/unattended.h"
#include "script/keys.h"
#include "script/path_text.h"
#include "script/script_access.h"
#include "win/ansi_names.h"
#include "win/handles.h"

namespace vorlatch {

namespace {

// The files were given the attributes stored in the package; a read-only one must still go.
void DeleteTemporaryFile(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    ::SetFileAttributesA(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  }
  ::DeleteFileA(path.c_str());
}

Bytes PackageBytes() {
  if (g_state.packageView == nullptr || g_state.packageSize <= 0) {
    return Bytes();
  }
  return Bytes(g_state.packageView, static_cast<std::size_t>(g_state.packageSize));
}

}  // namespace

bool OpenPackage() {
  return OpenPackageFile(PackagePathFromCommandLine(::GetCommandLineA()));
}

bool OpenPackageFile(const std::string& path) {
  ClosePackage();
  if (path.empty()) {
    return false;
  }
  UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_RANDOM_ACCESS, nullptr));
  if (!file) {
    return false;
  }
  // The size is kept as a signed 32-bit count, as every position in a package is.
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 || size.QuadPart > INT32_MAX) {
    return false;
  }
  UniqueHandle mapping(::CreateFileMappingA(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  file.reset();  // the mapping keeps the file open
  if (!mapping) {
    return false;
  }
  UniqueView view(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
  if (!view) {
    return false;
  }
  const Bytes whole(static_cast<const std::uint8_t*>(view.get()),
                    static_cast<std::size_t>(size.QuadPart));
  // A signed installer's package ends before its certificate table; the view still covers
  // the whole file, and every position counts from its start.
  const Bytes package = PackageOf(whole);
  // A trailer that points outside the file is a package that cannot be read.
  if (!LocateScriptBlock(package)) {
    return false;
  }
  g_state.packageView = static_cast<const std::uint8_t*>(view.release());
  g_state.packageMapping = mapping.release();
  g_state.packageSize = static_cast<std::int32_t>(package.size());
  return true;
}

bool ExtractScript() {
  const auto block = LocateScriptBlock(PackageBytes());
  if (!block) {
    return false;
  }
  // A script left by a run that ended without its clean-up (terminated, or killed) may carry
  // a read-only attribute from its package; it must not stop every later installation.
  const std::string script = ScriptPath();
  DeleteTemporaryFile(script);
  return InflateItemInto(*block, script, false) != 0;
}

void ClosePackage() {
  ForgetDecodedBlock();
  if (g_state.packageView != nullptr) {
    ::UnmapViewOfFile(g_state.packageView);
    g_state.packageView = nullptr;
  }
  if (g_state.packageMapping != nullptr) {
    ::CloseHandle(g_state.packageMapping);
    g_state.packageMapping = nullptr;
  }
  // No size without a view, so that no later read can trust a stale one.
  g_state.packageSize = 0;
}

void CleanupTemporaryFiles() {
  // These names come from the script, so the script goes after them.
  const auto deleteNamed = [](const char* section, const char* key) {
    DeleteTemporaryFile(TemporaryFilePath(ReadScriptString(section, key, kNoFileName)));
  };
  deleteNamed(kFile, kDll);
  deleteNamed(kBefore, kFile);
  // A program or document started from the run's folder still needs its file.
  if (!RunFolderKept()) {
    deleteNamed(kAfter, kFile);
  }
  DeleteTemporaryFile(ScriptPath());
  DeleteTemporaryFile(UninstallLogTempPath());
}

std::string ArchiveErrorText(const std::string& currentOutputFile) {
  if (currentOutputFile.empty()) {
    return std::string(kPossiblyCorruptedArchive) + '.';
  }
  // The format's two %s, filled in order without the C library's formatted output.
  const std::string_view format = kWritingFailedFormat;
  const std::string_view values[] = {currentOutputFile, kPossiblyCorruptedArchive};
  std::string text;
  std::size_t next = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's' && next < 2) {
      text.append(values[next++]);
      ++i;
    } else {
      text.push_back(format[i]);
    }
  }
  return text;
}

void ShowArchiveError() {
  AskUser(ArchiveErrorText(g_state.currentOutputFile), kArchiveErrorCaption, MB_OK | MB_ICONERROR,
          IDOK);
  NoteResult(RunResult::kUnreadablePackage);
}

}  // namespace vorlatch
