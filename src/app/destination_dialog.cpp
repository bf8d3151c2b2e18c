#include "app/destination_dialog.h"

#include <algorithm>

#include <shlobj.h>

#include "app/installer_app.h"
#include "app/name_check.h"
#include "package/process_state.h"
#include "package/unattended.h"
#include "resources/resource.h"
#include "script/directories.h"
#include "script/keys.h"
#include "script/path_macros.h"
#include "script/path_text.h"
#include "script/script_access.h"
#include "ui/about_dialog.h"
#include "uninstaller/uninstall_text.h"
#include "win/ansi_names.h"
#include "win/handles.h"

namespace vorlatch {
namespace {

bool IsWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string WithoutLeadingWhiteSpace(const std::string& text) {
  std::size_t start = 0;
  while (start < text.size() && IsWhiteSpace(text[start])) {
    ++start;
  }
  return text.substr(start);
}

// The destination as a full path with backslashes, so that the log names the folder in a
// form the uninstaller can trust from any current folder. A path relative to the current
// folder or drive ("Tool", "C:Tool", "\\Tool", or an environment variable that is not set)
// is refused rather than made where the installer happened to start. A full path with
// backslashes stays as typed. Empty when it cannot be made.
std::string AbsoluteDestination(const std::string& typed) {
  std::string path = typed;
  std::replace(path.begin(), path.end(), '/', '\\');
  if (!IsAbsolutePath(path)) {
    return std::string();
  }
  if (typed.find('/') == std::string::npos) {
    return typed;
  }
  std::string full = FullPathName(path);
  return IsAbsolutePath(WithTrailingBackslash(full)) ? full : std::string();
}

// The system's text for an error code, without its closing line break; the number when the
// system has no text for it.
std::string SystemReason(DWORD error) {
  char* text = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string reason = length != 0 && text != nullptr ? std::string(text, length) : std::string();
  ::LocalFree(text);
  while (!reason.empty() &&
         (reason.back() == '\r' || reason.back() == '\n' || reason.back() == ' ')) {
    reason.pop_back();
  }
  return reason.empty() ? "Error " + std::to_string(error) + "." : reason;
}

}  // namespace

std::string CantCreateFolderText(const std::string& folder, const std::string& reason) {
  return std::string(kTextCantCreateFolder) + "\n\n" + folder + "\n\n" + reason;
}

std::string DestinationCaption(const std::string& company, const std::string& product) {
  return company + kCaptionInstalling + product;
}

DestinationDialog::DestinationDialog() : Dialog(IDD_DESTINATION) {
  AddControl(note_, IDC_DESTINATION_NOTE);
}

INT_PTR DestinationDialog::Show(HWND parent) {
  return RunModal(parent) == IDOK ? IDOK : IDCANCEL;
}

bool DestinationDialog::OnInitDialog() {
  const std::string company = ReadScriptString(kGeneral, kCompany, kDefaultCaptionCompany);
  const std::string product = ReadScriptString(kGeneral, kProduct, kDefaultCaptionProduct);
  // Shown as the folder it names; accepting it expands it once more (a no-op for a full path).
  g_state.destinationDirectory = ExpandDestinationText(ProposedDestination());
  SetCaption(DestinationCaption(company, product));
  SetItemText(IDC_DESTINATION_PATH, g_state.destinationDirectory);
  SetItemText(IDC_DESTINATION_NOTE, "");
  homeLink_.SetURL(kMakerHomePage);
  SetWindowPos(hwnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  // The link is bound only now: its tooltip is a topmost popup owned by the dialog, and
  // under Wine such a popup keeps the dialog itself from becoming topmost.
  homeLink_.Attach(Item(IDC_HOME_LINK));
  return true;
}

bool DestinationDialog::OnCommand(int id, int notifyCode, HWND control) {
  switch (id) {
    case IDC_BROWSE:
      OnBrowse();
      return true;
    // Enter without a default button would send IDOK; it must not accept a directory that
    // was never made sure of.
    case IDOK:
    case IDC_NEXT:
      OnNext();
      return true;
    case IDC_ABOUT:
      ShowAboutBox(hwnd());
      return true;
    default:
      return Dialog::OnCommand(id, notifyCode, control);
  }
}

void DestinationDialog::OnBrowse() {
  char displayName[MAX_PATH] = {};
  BROWSEINFOA browse = {};
  browse.hwndOwner = hwnd();
  browse.pidlRoot = nullptr;
  browse.pszDisplayName = displayName;
  browse.lpszTitle = kSelectDirectoryTitle;
  browse.ulFlags = kBrowseFlags;
  ComPtr<IMalloc> allocator;
  const HRESULT haveAllocator = SHGetMalloc(reinterpret_cast<IMalloc**>(allocator.put_void()));
  if (LPITEMIDLIST chosen = SHBrowseForFolderA(&browse); chosen != nullptr) {
    char path[MAX_PATH] = {};
    wchar_t widePath[MAX_PATH] = {};
    // A folder whose name the code page cannot hold would be shown with '?' in it.
    if (SHGetPathFromIDListW(chosen, widePath) && CheckDestinationName(widePath) &&
        SHGetPathFromIDListA(chosen, path)) {
      g_state.destinationDirectory = WithTrailingBackslash(path);
    }
    if (SUCCEEDED(haveAllocator) && allocator) {
      allocator->Free(chosen);
    } else {
      CoTaskMemFree(chosen);
    }
  }
  SetItemText(IDC_DESTINATION_PATH, g_state.destinationDirectory);
}

void DestinationDialog::OnNext() {
  std::wstring typed(MAX_PATH + 1, L'\0');
  typed.resize(static_cast<std::size_t>(::GetDlgItemTextW(
      hwnd(), IDC_DESTINATION_PATH, typed.data(), static_cast<int>(typed.size()))));
  if (!CheckDestinationName(typed)) {
    return;
  }
  std::string reason;
  if (AcceptDestination(ItemText(IDC_DESTINATION_PATH), &reason)) {
    EndDialog(IDOK);
    return;
  }
  // The dialog stays for another choice; the user must know why this one failed.
  AskUser(CantCreateFolderText(g_state.destinationDirectory, reason), kCaptionError,
          MB_OK | MB_ICONERROR | MB_TASKMODAL, IDOK);
}

std::string ProposedDestination() {
  if (g_state.commandLineDestination) {
    return *g_state.commandLineDestination;
  }
  return ReadScriptString(kGeneral, kBid, CurrentDirectory());
}

bool AcceptDestination(const std::string& typed, std::string* reason) {
  g_state.destinationDirectory = ExpandDestinationText(WithoutLeadingWhiteSpace(typed));
  if (g_state.destinationDirectory.empty()) {
    g_state.destinationDirectory = CurrentDirectory();
  }
  // Like a folder that cannot be made, a path that is not full is not accepted.
  const std::string full = AbsoluteDestination(g_state.destinationDirectory);
  if (full.empty()) {
    if (reason != nullptr) {
      *reason = kTextNotFullPath;
    }
    return false;
  }
  g_state.destinationDirectory = full;
  DirectoryWalk walk;
  // No pause after each level: the system has made a level when CreateDirectoryA returns,
  // and the pauses cost every installation a fifth of a second per level of its folder.
  if (EnsureDirectory(full, &walk, 0)) {
    g_state.madeFolders.insert(g_state.madeFolders.end(), walk.created.begin(), walk.created.end());
    return true;
  }
  // Taken at once, before another call can change it; a failure the system did not name is
  // one of the path.
  const DWORD error = ::GetLastError();
  if (reason != nullptr) {
    *reason = SystemReason(error != ERROR_SUCCESS ? error : ERROR_BAD_PATHNAME);
  }
  return false;
}

INT_PTR RunDestinationDialog(DestinationDialog& dialog) {
  return dialog.Show();
}

}  // namespace vorlatch
