#include "actions/com_registration.h"

#include <windows.h>
#include <ole2.h>

#include <cstdint>
#include <cstring>

#include "package/pe_image.h"
#include "package/process_state.h"
#include "package/unattended.h"
#include "script/keys.h"
#include "script/path_macros.h"
#include "script/path_text.h"
#include "script/script_access.h"
#include "win/guard.h"
#include "win/handles.h"
#include "win/library_loading.h"

namespace vorlatch {
namespace {

using ComServerEntry = HRESULT(STDAPICALLTYPE*)();

constexpr char kRegisterEntry[] = "DllRegisterServer";
constexpr char kUnregisterEntry[] = "DllUnregisterServer";

// OLE once per run; a failure is reported once and never retried.
void InitialiseOleOnce(void (*beforeQuestion)()) {
  if (g_state.oleInitialised) {
    return;
  }
  if (FAILED(OleInitialize(nullptr))) {
    if (beforeQuestion != nullptr) {
      beforeQuestion();
    }
    AskUser(kOleInitializeFailed, kOleInitializeFailedCaption, MB_ICONERROR | MB_SYSTEMMODAL, IDOK);
  }
  g_state.oleInitialised = true;
}

// Calls the entry point so that neither an exception nor a processor fault inside the
// foreign code takes the installer down. True when it returned a success code.
bool CallEntrySucceeds(ComServerEntry entry) {
  HRESULT result = E_FAIL;
  const GuardResult guarded = CallGuarded([&] { result = entry(); });
  return guarded == GuardResult::kReturned && SUCCEEDED(result);
}

std::uint32_t U32At(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) |
         (static_cast<std::uint32_t>(bytes[3]) << 24);
}

enum class Export { kAbsent, kMaybe };

// Whether the image's export names hold `entry`. kMaybe for anything this reading does not
// follow, so that the loader decides as before.
Export ExportOf(Bytes file, const char* entry) {
  constexpr std::uint32_t kExportDirectory = 0;
  constexpr std::uint32_t kExportHeaderSize = 40;
  const std::optional<PeImage> image = ReadPeImage(file);
  if (!image) {
    return Export::kMaybe;
  }
  if (image->directories.size() <= kExportDirectory ||
      image->directories[kExportDirectory].address == 0) {
    return Export::kAbsent;
  }
  const std::optional<std::uint64_t> header =
      FileOffsetOf(*image, file, image->directories[kExportDirectory].address, kExportHeaderSize);
  if (!header) {
    return Export::kMaybe;
  }
  const std::uint32_t names = U32At(file.data() + *header + 24);
  const std::optional<std::uint64_t> table =
      names == 0 ? std::optional<std::uint64_t>(0)
                 : FileOffsetOf(*image, file, U32At(file.data() + *header + 32), names * 4);
  if (!table || names > file.size() / 4) {
    return Export::kMaybe;
  }
  const std::uint32_t wanted = static_cast<std::uint32_t>(std::strlen(entry)) + 1;
  for (std::uint32_t i = 0; i < names; ++i) {
    const std::optional<std::uint64_t> name =
        FileOffsetOf(*image, file, U32At(file.data() + *table + 4 * i), wanted);
    if (!name) {
      return Export::kMaybe;  // shorter names near a section's end: not read here
    }
    if (std::memcmp(file.data() + *name, entry, wanted) == 0) {
      return Export::kMaybe;
    }
  }
  return Export::kAbsent;
}

// False only when the file certainly cannot serve `entry`: it is no program image (the loader
// refuses it) or an image whose export names lack it. Spares loading every installed file,
// and running the start-up code of libraries that have nothing to register.
bool MayExport(const std::string& path, const char* entry) {
  UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    return true;
  }
  char start[2] = {};
  DWORD read = 0;
  if (::ReadFile(file.get(), start, sizeof start, &read, nullptr) &&
      (read < sizeof start || start[0] != 'M' || start[1] != 'Z')) {
    return false;
  }
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 || size.QuadPart > 0x7FFFFFFF) {
    return true;
  }
  UniqueHandle mapping(::CreateFileMappingA(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  UniqueView view(mapping ? ::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0) : nullptr);
  if (!view) {
    return true;
  }
  const Bytes bytes(static_cast<const std::uint8_t*>(view.get()),
                    static_cast<std::size_t>(size.QuadPart));
  return ExportOf(bytes, entry) != Export::kAbsent;
}

}  // namespace

std::string ComServerPath(const std::string& path) {
  const std::string::size_type first = path.find('"');
  if (first == std::string::npos) {
    return path;
  }
  const std::string::size_type last = path.rfind('"');
  if (last == first) {
    return path;
  }
  return path.substr(first + 1, last - first - 1);
}

std::string ComServerErrorText(const std::string& path, bool registerServer) {
  std::string text = kComServerErrorStart;
  text.append(registerServer ? "registering" : "unregistering");
  text.append(kComServerErrorMiddle);
  text.append(path);
  return text;
}

bool HasSystemFolderName(const std::string& path) {
  const std::string name = FileNameOf(path);
  const std::string system = SystemDirectory();
  if (name.empty() || system.empty()) {
    return false;
  }
  const DWORD attributes = ::GetFileAttributesA((WithTrailingBackslash(system) + name).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

namespace {

// Appends `name` in capitals of a to z, and a line feed. The list serves to rule names out;
// a name that other rules of case could match goes to the file system itself.
void AppendCapitals(std::string& text, std::string_view name) {
  for (const char c : name) {
    text.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
  }
  text.push_back('\n');
}

// Names that the file system may match otherwise than letter by letter: other letters than
// ASCII, short-name marks, wildcards, streams, further levels, and the trailing dots and
// blanks it drops.
bool PlainName(const std::string& name) {
  for (const char c : name) {
    if (static_cast<unsigned char>(c) >= 0x80 || std::strchr("~*?:/", c) != nullptr) {
      return false;
    }
  }
  return !name.empty() && name.back() != '.' && name.back() != ' ';
}

}  // namespace

bool SystemFolderNames::Holds(const std::string& path) {
  const std::string name = FileNameOf(path);
  if (!read_) {
    read_ = true;
    folder_ = WithTrailingBackslash(SystemDirectory());
    WIN32_FIND_DATAA found;
    const HANDLE search = ::FindFirstFileA((folder_ + '*').c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
      folder_.clear();  // unreadable: every name is looked up for real
    } else {
      names_ = "\n";
      do {
        AppendCapitals(names_, found.cFileName);
        AppendCapitals(names_, found.cAlternateFileName);
      } while (::FindNextFileA(search, &found));
      ::FindClose(search);
    }
  }
  std::string line = "\n";
  AppendCapitals(line, name);
  if (!folder_.empty() && PlainName(name) && names_.find(line) == std::string::npos) {
    return false;
  }
  return HasSystemFolderName(path);
}

void SystemFolderNames::Written(const std::string& path) {
  const std::string name = FileNameOf(path);
  if (!folder_.empty() && name.size() < path.size() &&
      EqualNoCase(std::string_view(path).substr(0, path.size() - name.size()), folder_)) {
    AppendCapitals(names_, name);
  }
}

RegistrationOffer ShouldOfferForRegistration(const IniSection& files, int n,
                                             const std::string& target, bool userScope,
                                             SystemFolderNames& system) {
  // -1: the key is absent (an author's 0 or 1 is never negative).
  const int chosen = files.Int(NumberedName(kRegister, n), -1);
  if (chosen >= 0) {
    return chosen != 0 ? RegistrationOffer::kOffered : RegistrationOffer::kNotOffered;
  }
  // A COM server registers itself machine-wide, which a per-user installation may not do.
  if (files.Int(kSelfRegister, 1) == 0 || userScope) {
    return RegistrationOffer::kNotOffered;
  }
  return system.Holds(target) ? RegistrationOffer::kSystemName : RegistrationOffer::kOffered;
}

bool RegisterComServer(const std::string& path, bool registerServer, void (*beforeForeignCode)(),
                       bool startsLikeImage) {
  InitialiseOleOnce(beforeForeignCode);
  const std::string libraryPath = ComServerPath(path);
  const char* const entryName = registerServer ? kRegisterEntry : kUnregisterEntry;
  if (!startsLikeImage || !MayExport(libraryPath, entryName)) {
    return false;
  }
  if (beforeForeignCode != nullptr) {
    beforeForeignCode();
  }

  bool succeeded = true;
  {
    // A server's own DLLs lie beside it in the installation.
    UniqueModule library(LoadLibraryWithItsFolder(libraryPath));
    if (!library) {
      return false;  // not a library: nothing to register
    }
    const auto entry = reinterpret_cast<ComServerEntry>(
        reinterpret_cast<void*>(GetProcAddress(library.get(), entryName)));
    if (entry == nullptr) {
      return false;  // a library, but no COM server
    }
    succeeded = CallEntrySucceeds(entry);
  }  // unloaded before the user is told

  if (!succeeded) {
    NoteResult(RunResult::kInstalledWithErrors);
    AskUser(ComServerErrorText(libraryPath, registerServer), "",
            MB_ICONINFORMATION | MB_SYSTEMMODAL, IDOK);
  }
  return true;
}

}  // namespace vorlatch
