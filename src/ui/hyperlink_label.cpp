#include "ui/hyperlink_label.h"

#include <windowsx.h>
#include <commctrl.h>
#include <shellapi.h>

#include "package/run_folder.h"
#include "ui/common_controls.h"
#include "ui/link_command.h"

namespace vorlatch {
namespace {

constexpr DWORD kRegistryValueBytes = 260;

// The default value of a key under HKEY_CLASSES_ROOT, read into a 260-byte buffer.
bool ReadClassesDefault(const std::string& keyName, std::string& value) {
  UniqueHkey key;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, keyName.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
    return false;
  }
  char buffer[kRegistryValueBytes] = {};
  DWORD size = sizeof(buffer);
  DWORD type = 0;
  if (RegQueryValueExA(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                       &size) != ERROR_SUCCESS) {
    return false;
  }
  // The stored value need not end in a null.
  buffer[size < sizeof(buffer) ? size : sizeof(buffer) - 1] = '\0';
  value = buffer;
  return true;
}

// An icon or bitmap static names its picture with its text; writing the address there, or
// fitting the control to that text, would wipe out the picture.
bool ShowsPicture(HWND window) {
  const LONG_PTR type = GetWindowLongPtrA(window, GWL_STYLE) & SS_TYPEMASK;
  return type == SS_ICON || type == SS_BITMAP || type == SS_ENHMETAFILE;
}

}  // namespace

INT_PTR OpenLinkAddress(const std::string& address, int showMode) {
  // The browser outlives the run's temporary folder.
  const UserTemporaryVariables userTemporary;
  const INT_PTR shellResult = reinterpret_cast<INT_PTR>(
      ShellExecuteA(nullptr, "open", address.c_str(), nullptr, nullptr, showMode));
  if (shellResult > 32) {
    return shellResult;
  }
  std::string pageClass;
  if (!ReadClassesDefault(".htm", pageClass)) {
    return shellResult;
  }
  std::string commandTemplate;
  if (!ReadClassesDefault(pageClass + "\\shell\\open\\command", commandTemplate)) {
    return shellResult;
  }
  const std::optional<std::string> commandLine = LinkCommandLine(commandTemplate, address);
  if (!commandLine) {
    return shellResult;
  }
  return static_cast<INT_PTR>(WinExec(commandLine->c_str(), static_cast<UINT>(showMode)));
}

HyperlinkLabel::HyperlinkLabel()
    : linkColour_(RGB(0, 0, 255)),
      visitedColour_(RGB(100, 30, 160)),
      hoverColour_(GetSysColor(COLOR_HIGHLIGHT)) {}

HyperlinkLabel::~HyperlinkLabel() {
  Detach();
  linkFont_.reset();
  linkCursor_.reset();
  DestroyTooltip();
}

void HyperlinkLabel::SetURL(const std::string& address) {
  address_ = address;
  if (!IsAttached()) {
    return;
  }
  ResizeToText();
  if (tooltip_ != nullptr) {
    TTTOOLINFOA tool = {};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.hwnd = hwnd();
    tool.uId = kLinkToolId;
    tool.lpszText = address_.data();
    SendMessageA(tooltip_, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

void HyperlinkLabel::SetUnderline(bool underline) {
  underline_ = underline;
}

void HyperlinkLabel::SetVisited(bool visited) {
  visited_ = visited;
  if (IsAttached()) {
    InvalidateRect(hwnd(), nullptr, TRUE);
  }
}

void HyperlinkLabel::OnAttach() {
  const HWND window = hwnd();
  SetWindowLongPtrA(window, GWL_STYLE, GetWindowLongPtrA(window, GWL_STYLE) | SS_NOTIFY);
  if (address_.empty()) {
    address_ = WindowText(window);
  }
  const auto font = reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
  if (font != nullptr) {
    LOGFONTA description = {};
    if (GetObjectA(font, sizeof(description), &description) != 0) {
      description.lfUnderline = underline_ ? TRUE : FALSE;
      linkFont_.reset(CreateFontIndirectA(&description));
      if (linkFont_) {
        SendMessageA(window, WM_SETFONT, reinterpret_cast<WPARAM>(linkFont_.get()), TRUE);
      }
    }
    if (!ShowsPicture(window) && GetWindowTextLengthA(window) == 0) {
      SetWindowTextA(window, address_.c_str());
    }
    ResizeToText();
  }
  LoadLinkCursor();
  CreateTooltip();
}

void HyperlinkLabel::ResizeToText() {
  const HWND window = hwnd();
  if (window == nullptr || !autoSize_ || !linkFont_ || ShowsPicture(window)) {
    return;
  }
  RECT rect;
  if (!GetWindowRect(window, &rect)) {
    return;
  }
  MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);

  const std::string text = WindowText(window);
  SIZE extent = {};
  if (HDC dc = GetDC(window); dc != nullptr) {
    const HGDIOBJ previous = SelectObject(dc, linkFont_.get());
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    SelectObject(dc, previous);
    ReleaseDC(window, dc);
  }

  const LONG_PTR style = GetWindowLongPtrA(window, GWL_STYLE);
  if ((style & SS_CENTERIMAGE) != 0) {
    const LONG shrink = ((rect.bottom - rect.top) - extent.cy) / 2;
    rect.top += shrink;
    rect.bottom -= shrink;
  } else {
    rect.bottom = rect.top + extent.cy;
  }
  const LONG_PTR alignment = style & SS_TYPEMASK;
  if (alignment == SS_CENTER) {
    const LONG shrink = ((rect.right - rect.left) - extent.cx) / 2;
    rect.left += shrink;
    rect.right -= shrink;
  } else if (alignment == SS_RIGHT) {
    rect.left = rect.right - extent.cx;
  } else {
    rect.right = rect.left + extent.cx;
  }
  SetWindowPos(window, nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

void HyperlinkLabel::LoadLinkCursor() {
  if (linkCursor_) {
    return;
  }
  char windowsDirectory[MAX_PATH] = {};
  const UINT length = GetWindowsDirectoryA(windowsDirectory, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    return;
  }
  const std::string helpViewer = std::string(windowsDirectory) + "\\winhlp32.exe";
  const UniqueModule module(LoadLibraryA(helpViewer.c_str()));
  if (!module) {
    return;
  }
  if (HCURSOR cursor = LoadCursorA(module.get(), MAKEINTRESOURCEA(kHelpViewerHandCursor));
      cursor != nullptr) {
    linkCursor_.reset(static_cast<HCURSOR>(CopyIcon(cursor)));
  }
}

void HyperlinkLabel::CreateTooltip() {
  DestroyTooltip();
  InitialiseCommonControls(ICC_WIN95_CLASSES);
  tooltip_ = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd(), nullptr,
                             GetModuleHandleA(nullptr), nullptr);
  if (tooltip_ == nullptr) {
    return;
  }
  TTTOOLINFOA tool = {};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.hwnd = hwnd();
  tool.uId = kLinkToolId;
  GetClientRect(hwnd(), &tool.rect);
  tool.lpszText = address_.data();
  SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void HyperlinkLabel::DestroyTooltip() {
  if (tooltip_ != nullptr) {
    if (IsWindow(tooltip_)) {
      DestroyWindow(tooltip_);
    }
    tooltip_ = nullptr;
  }
}

void HyperlinkLabel::Redraw() {
  RedrawWindow(hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

bool HyperlinkLabel::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  // The tooltip sees the mouse first.
  if (tooltip_ != nullptr && message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) {
    MSG relayed = {};
    relayed.hwnd = hwnd();
    relayed.message = message;
    relayed.wParam = wParam;
    relayed.lParam = lParam;
    relayed.time = static_cast<DWORD>(GetMessageTime());
    const DWORD position = GetMessagePos();
    relayed.pt = {GET_X_LPARAM(position), GET_Y_LPARAM(position)};
    SendMessageA(tooltip_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relayed));
  }
  switch (message) {
    case WM_SETCURSOR:
      if (linkCursor_) {
        SetCursor(linkCursor_.get());
        result = TRUE;
        return true;
      }
      return false;
    case WM_MOUSEMOVE:
      result = CallDefault(message, wParam, lParam);
      OnMouseMove(lParam);
      return true;
    case WM_DESTROY:
      // The window goes with its dialog; the object may be attached again to the next one.
      if (over_) {
        over_ = false;
        if (GetCapture() == hwnd()) {
          ReleaseCapture();
        }
      }
      DestroyTooltip();
      return false;
    default:
      return false;
  }
}

void HyperlinkLabel::OnMouseMove(LPARAM lParam) {
  if (!IsAttached()) {
    return;
  }
  const POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  RECT client;
  GetClientRect(hwnd(), &client);
  if (over_) {
    if (!PtInRect(&client, point)) {
      over_ = false;
      ReleaseCapture();
      Redraw();
    }
  } else {
    over_ = true;
    Redraw();
    SetCapture(hwnd());
  }
}

bool HyperlinkLabel::OnReflectedCommand(int notifyCode) {
  if (notifyCode != STN_CLICKED) {
    return false;
  }
  OnClick();
  return true;
}

void HyperlinkLabel::OnClick() {
  const INT_PTR result = OpenLinkAddress(address_, SW_SHOW);
  visited_ = result > 32;
  if (!visited_) {
    MessageBeep(MB_ICONEXCLAMATION);
  } else {
    SetVisited(true);
  }
}

HBRUSH HyperlinkLabel::OnReflectedCtlColor(HDC dc) {
  if (!linkFont_) {
    return nullptr;
  }
  SetTextColor(dc, over_ ? hoverColour_ : (visited_ ? visitedColour_ : linkColour_));
  SetBkMode(dc, TRANSPARENT);
  return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
}

}  // namespace vorlatch
