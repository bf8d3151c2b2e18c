#include "win/private_folder.h"

#include <cstdint>
#include <vector>

#include <windows.h>
#include <ntsecapi.h>
#include <sddl.h>

#include "win/code_page.h"
#include "win/ansi_names.h"
#include "win/handles.h"

namespace vorlatch {

namespace {

constexpr int kNameAttempts = 16;

// The current user's SID in its string form; empty when the token cannot be read.
std::string CurrentUserSid() {
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) {
    return std::string();
  }
  const UniqueHandle token(raw);
  DWORD needed = 0;
  ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &needed);
  if (needed == 0) {
    return std::string();
  }
  std::vector<std::uint8_t> buffer(needed);
  if (!::GetTokenInformation(token.get(), TokenUser, buffer.data(), needed, &needed)) {
    return std::string();
  }
  char* text = nullptr;
  if (!::ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
    return std::string();
  }
  std::string sid(text);
  ::LocalFree(text);
  return sid;
}

// Full access for the user, SYSTEM and Administrators, inherited by what is made inside;
// "P" keeps the parent's entries out.
PSECURITY_DESCRIPTOR PrivateDescriptor() {
  const std::string user = CurrentUserSid();
  if (user.empty()) {
    return nullptr;
  }
  const std::string sddl = "D:P(A;OICI;FA;;;" + user + ")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
    return nullptr;
  }
  return descriptor;
}

bool RandomName(std::string& name) {
  std::uint8_t bytes[8] = {};
  if (!::RtlGenRandom(bytes, sizeof bytes)) {
    return false;
  }
  char hex[sizeof bytes * 2 + 1] = {};
  for (std::size_t i = 0; i < sizeof bytes; ++i) {
    // By hand: the C library's formatting would cost the programs tens of KB.
    hex[2 * i] = "0123456789abcdef"[bytes[i] >> 4];
    hex[2 * i + 1] = "0123456789abcdef"[bytes[i] & 0xF];
  }
  name = hex;
  return true;
}

}  // namespace

std::string CreatePrivateFolder(const std::string& parent, const std::string& prefix) {
  std::string base = FullPathName(parent.empty() ? std::string(".\\") : parent);
  if (base.empty()) {
    return std::string();
  }
  if (!ActiveCodePage().EndsWith(base, '\\')) {
    base += '\\';
  }
  PSECURITY_DESCRIPTOR descriptor = PrivateDescriptor();
  if (descriptor == nullptr) {
    return std::string();
  }
  SECURITY_ATTRIBUTES attributes = {};
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = descriptor;
  std::string made;
  for (int attempt = 0; attempt < kNameAttempts && made.empty(); ++attempt) {
    std::string name;
    if (!RandomName(name)) {
      break;
    }
    const std::string folder = base + prefix + name;
    if (::CreateDirectoryA(folder.c_str(), &attributes)) {
      made = folder + '\\';
    } else if (::GetLastError() != ERROR_ALREADY_EXISTS) {
      break;  // an existing name (someone else's folder) is the only reason to try again
    }
  }
  ::LocalFree(descriptor);
  return made;
}

namespace {

std::string FolderBase(const std::string& folder) {
  return folder.substr(0, ActiveCodePage().LengthWithoutTrailing(folder, '\\'));
}

// Calls visit(path, entry) for every entry of `base` but . and ..
template <typename Visit>
void ForEachEntry(const std::string& base, Visit visit) {
  WIN32_FIND_DATAA entry{};
  UniqueFindHandle find(::FindFirstFileA((base + "\\*").c_str(), &entry));
  if (!find) {
    return;
  }
  do {
    const std::string name = entry.cFileName;
    if (name != "." && name != "..") {
      visit(base + '\\' + name, entry);
    }
  } while (::FindNextFileA(find.get(), &entry));
}

bool IsFolder(const WIN32_FIND_DATAA& entry) {
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsLink(const WIN32_FIND_DATAA& entry) {
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace

bool RemoveFolderTree(const std::string& folder) {
  const std::string base = FolderBase(folder);
  if (base.empty()) {
    return false;
  }
  bool complete = true;
  ForEachEntry(base, [&complete](const std::string& path, const WIN32_FIND_DATAA& entry) {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
      ::SetFileAttributesA(path.c_str(),
                           entry.dwFileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    }
    if (IsFolder(entry) && !IsLink(entry)) {
      complete = RemoveFolderTree(path) && complete;
    } else if (IsFolder(entry)) {
      complete = ::RemoveDirectoryA(path.c_str()) && complete;
    } else {
      complete = ::DeleteFileA(path.c_str()) && complete;
    }
  });
  return ::RemoveDirectoryA(base.c_str()) && complete;
}

void RemoveFolderTreeAtRestart(const std::string& folder) {
  const std::string base = FolderBase(folder);
  if (base.empty()) {
    return;
  }
  ForEachEntry(base, [](const std::string& path, const WIN32_FIND_DATAA& entry) {
    if (IsFolder(entry) && !IsLink(entry)) {
      RemoveFolderTreeAtRestart(path);
    } else {
      ::MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
  });
  ::MoveFileExA(base.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

}  // namespace vorlatch
