#include "ui/licence_dialog.h"

#include "resources/resource.h"

namespace vorlatch {
namespace {

// Pixels of a 96-DPI display; scaled to the window's.
constexpr int kMarginAt96 = 5;
constexpr int kMinimumTrackWidthAt96 = 400;

// A child's window rectangle in the dialog's client coordinates.
RECT ChildRect(HWND dialog, HWND child) {
  RECT rect{};
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

void Place(HWND window, const RECT& rect) {
  MoveWindow(window, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
}

}  // namespace

std::string WithCrLfLineEnds(const std::string& text) {
  std::string result;
  result.reserve(text.size() + text.size() / 16);
  for (const char c : text) {
    if (c == '\r') {
      continue;
    }
    if (c == '\n') {
      result += '\r';
    }
    result += c;
  }
  return result;
}

LicenceDialog::LicenceDialog(const std::string& caption, const std::string& text,
                             const std::string& footer, std::uint32_t flags)
    : Dialog(IDD_LICENCE), caption_(caption), text_(text), footer_(footer), flags_(flags) {
  AddControl(footerLabel_, IDC_LICENCE_FOOTER);
  AddControl(iconLabel_, IDC_LICENCE_ICON);
  AddControl(textField_, IDC_LICENCE_TEXT);
}

bool LicenceDialog::OnInitDialog() {
  Dialog::OnInitDialog();
  // A shared icon: the system keeps it, so nobody destroys it.
  if (HANDLE smallIcon =
          LoadImageA(ResourceModule(), MAKEINTRESOURCEA(IDI_VORLATCH), IMAGE_ICON,
                     GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED);
      smallIcon != nullptr) {
    SendMessageA(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));
  }
  SetCaption(caption_);
  SetWindowTextA(textField_.hwnd(), WithCrLfLineEnds(text_).c_str());

  const HICON icon =
      LoadIconA(nullptr, (flags_ & kLicenceInformation) != 0 ? IDI_EXCLAMATION : IDI_QUESTION);
  SendMessageA(iconLabel_.hwnd(), STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);

  // The right-hand button, the default one, refuses whenever there are two.
  if ((flags_ & kLicenceYesNo) != 0) {
    SetItemText(IDC_LICENCE_RIGHT_BUTTON, "&No");
    SetItemText(IDC_LICENCE_LEFT_BUTTON, "&Yes");
  } else if ((flags_ & kLicenceOkCancel) != 0) {
    SetItemText(IDC_LICENCE_RIGHT_BUTTON, "Ca&ncel");
    SetItemText(IDC_LICENCE_LEFT_BUTTON, "O&K");
  } else {
    SetItemText(IDC_LICENCE_RIGHT_BUTTON, "O&K");
    if (HWND left = Item(IDC_LICENCE_LEFT_BUTTON); left != nullptr) {
      DestroyWindow(left);
    }
  }

  SetWindowTextA(footerLabel_.hwnd(), footer_.c_str());
  if (footer_.empty()) {
    ShowWindow(footerLabel_.hwnd(), SW_HIDE);
  }
  // The dialog manager puts the focus on the first tab stop, the text field.
  return true;
}

void LicenceDialog::RemoveTextSelection() const {
  // Collapse the selection (the dialog manager selects all on focus) to its start, so that
  // the text stays where the reader left it, and keep the caret in view.
  const HWND field = textField_.hwnd();
  DWORD start = 0;
  SendMessageA(field, EM_GETSEL, reinterpret_cast<WPARAM>(&start), 0);
  SendMessageA(field, EM_SETSEL, start, start);
  SendMessageA(field, EM_SCROLLCARET, 0, 0);
}

bool LicenceDialog::OnCommand(int id, int notifyCode, HWND control) {
  if (id == IDC_LICENCE_TEXT && (notifyCode == EN_SETFOCUS || notifyCode == EN_KILLFOCUS)) {
    RemoveTextSelection();
    return true;
  }
  if (notifyCode == BN_CLICKED && id == IDC_LICENCE_RIGHT_BUTTON) {
    EndDialog(Item(IDC_LICENCE_LEFT_BUTTON) != nullptr ? IDCANCEL : IDOK);
    return true;
  }
  if (notifyCode == BN_CLICKED && id == IDC_LICENCE_LEFT_BUTTON) {
    EndDialog(IDOK);
    return true;
  }
  return Dialog::OnCommand(id, notifyCode, control);
}

bool LicenceDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (message) {
    case WM_CLOSE:
      EndDialog(IDCANCEL);
      result = 0;
      return true;
    case WM_SIZE:
      // A minimised window has no client area to lay out; restoring sends WM_SIZE again.
      if (wParam != SIZE_MINIMIZED) {
        Layout(LOWORD(lParam), HIWORD(lParam));
      }
      result = 0;
      return true;
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      info->ptMinTrackSize.x = ScaledForDpi(hwnd(), kMinimumTrackWidthAt96);
      result = 0;
      return true;
    }
    default:
      return false;
  }
}

void LicenceDialog::Layout(int clientWidth, int clientHeight) const {
  const HWND dialog = hwnd();
  const HWND text = Item(IDC_LICENCE_TEXT);
  const HWND icon = Item(IDC_LICENCE_ICON);
  const HWND right = Item(IDC_LICENCE_RIGHT_BUTTON);
  const HWND left = Item(IDC_LICENCE_LEFT_BUTTON);
  const HWND footer = Item(IDC_LICENCE_FOOTER);
  const int iconSize = GetSystemMetrics(SM_CXICON);
  const int margin = ScaledForDpi(dialog, kMarginAt96);

  int buttonWidth = 0;
  int buttonHeight = 0;
  if (right != nullptr) {
    RECT rect{};
    GetWindowRect(right, &rect);
    buttonWidth = rect.right - rect.left;
    buttonHeight = rect.bottom - rect.top;
  }

  if (text != nullptr) {
    Place(text,
          RECT{margin, margin, clientWidth - margin, clientHeight - buttonHeight - 4 * margin});
  }

  RECT footerRect = footer != nullptr ? ChildRect(dialog, footer) : RECT{};
  const int footerHeight = footerRect.bottom - footerRect.top;
  int footerLeft = footerRect.left;
  int footerRight = footerRect.right;
  bool iconPlaced = false;
  bool buttonPlaced = false;
  int lastHeight = footerHeight;

  if (icon != nullptr) {
    const RECT rect{margin, clientHeight - margin - iconSize, margin + iconSize,
                    clientHeight - margin};
    Place(icon, rect);
    footerLeft = rect.right + margin;
    iconPlaced = true;
    lastHeight = rect.bottom - rect.top;
  }
  if (right != nullptr) {
    const RECT rect{clientWidth - margin - buttonWidth, clientHeight - margin - buttonHeight,
                    clientWidth - margin, clientHeight - margin};
    Place(right, rect);
    footerRight = rect.left - margin;
    buttonPlaced = true;
    lastHeight = rect.bottom - rect.top;
  }
  if (left != nullptr) {
    const int leftRight = clientWidth - buttonWidth - 2 * margin;
    const RECT rect{leftRight - buttonWidth, clientHeight - margin - buttonHeight, leftRight,
                    clientHeight - margin};
    Place(left, rect);
    footerRight = rect.left - margin;
    buttonPlaced = true;
    lastHeight = rect.bottom - rect.top;
  }

  if (footer != nullptr) {
    if (iconPlaced && buttonPlaced) {
      footerRect.left = footerLeft;
      footerRect.right = footerRight;
    }
    footerRect.bottom = clientHeight - margin - (lastHeight - footerHeight) / 2;
    footerRect.top = footerRect.bottom - footerHeight;
    Place(footer, footerRect);
    InvalidateRect(footer, nullptr, TRUE);
  }
}

int ShowLicenceDialog(const std::string& caption, const std::string& text,
                      const std::string& footer, std::uint32_t flags) {
  LicenceDialog dialog(caption, text, footer, flags);
  return dialog.RunModal(nullptr) == IDOK ? 1 : 0;
}

}  // namespace vorlatch
