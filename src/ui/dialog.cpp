#include "ui/dialog.h"

namespace vorlatch {
namespace {

// The object bound to a control window, and the procedure it replaced (kept apart, so that a
// window whose object let go while another subclass sat on top still reaches its own
// procedure).
constexpr char kControlProperty[] = "VorlatchControl";
constexpr char kPreviousProperty[] = "VorlatchControlProc";

// Messages whose dialog-procedure return value is the answer itself, not a handled flag.
bool AnswersDirectly(UINT message) {
  return (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) ||
         message == WM_COMPAREITEM || message == WM_VKEYTOITEM || message == WM_CHARTOITEM ||
         message == WM_QUERYDRAGICON || message == WM_INITDIALOG;
}

// A dialog without an owner that the template puts at the top left appears in the middle of
// the work area, as the framework's dialogs did.
void CentreIfUnplaced(HWND window) {
  if (GetParent(window) != nullptr || (GetWindowLongPtrA(window, GWL_STYLE) & DS_CENTER) != 0) {
    return;
  }
  RECT rect;
  RECT area;
  if (!GetWindowRect(window, &rect) || !SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) {
    return;
  }
  if (rect.left != area.left || rect.top != area.top) {
    return;
  }
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  const int x = area.left + ((area.right - area.left) - width) / 2;
  const int y = area.top + ((area.bottom - area.top) - height) / 2;
  SetWindowPos(window, nullptr, x < area.left ? area.left : x, y < area.top ? area.top : y, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

// ---- Control ----

Control::~Control() {
  Detach();
}

bool Control::Attach(HWND window) {
  if (hwnd_ != nullptr || window == nullptr || !IsWindow(window) || FromWindow(window) != nullptr) {
    return false;
  }
  const LONG_PTR previous = GetWindowLongPtrA(window, GWLP_WNDPROC);
  if (!SetPropA(window, kControlProperty, reinterpret_cast<HANDLE>(this)) ||
      !SetPropA(window, kPreviousProperty, reinterpret_cast<HANDLE>(previous))) {
    RemovePropA(window, kControlProperty);
    return false;
  }
  hwnd_ = window;
  previous_ = reinterpret_cast<WNDPROC>(previous);
  SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Control::SubclassProc));
  OnAttach();
  return true;
}

void Control::Detach() {
  if (hwnd_ == nullptr) {
    return;
  }
  if (IsWindow(hwnd_)) {
    RemovePropA(hwnd_, kControlProperty);
    // Only unhook when nobody subclassed on top of us; otherwise our procedure stays in the
    // chain and forwards through the remembered property.
    if (GetWindowLongPtrA(hwnd_, GWLP_WNDPROC) ==
        reinterpret_cast<LONG_PTR>(&Control::SubclassProc)) {
      SetWindowLongPtrA(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
      RemovePropA(hwnd_, kPreviousProperty);
    }
  }
  hwnd_ = nullptr;
  previous_ = nullptr;
}

bool Control::OnReflectedCommand(int) {
  return false;
}

HBRUSH Control::OnReflectedCtlColor(HDC) {
  return nullptr;
}

bool Control::OnMessage(UINT, WPARAM, LPARAM, LRESULT&) {
  return false;
}

LRESULT Control::CallDefault(UINT message, WPARAM wParam, LPARAM lParam) {
  if (previous_ == nullptr) {
    return DefWindowProcA(hwnd_, message, wParam, lParam);
  }
  return CallWindowProcA(previous_, hwnd_, message, wParam, lParam);
}

Control* Control::FromWindow(HWND window) {
  if (window == nullptr) {
    return nullptr;
  }
  return reinterpret_cast<Control*>(GetPropA(window, kControlProperty));
}

LRESULT CALLBACK Control::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto previous = reinterpret_cast<WNDPROC>(GetPropA(window, kPreviousProperty));
  Control* self = FromWindow(window);
  if (message == WM_NCDESTROY) {
    if (self != nullptr) {
      self->hwnd_ = nullptr;
      self->previous_ = nullptr;
    }
    RemovePropA(window, kControlProperty);
    RemovePropA(window, kPreviousProperty);
  } else if (self != nullptr) {
    LRESULT result = 0;
    if (self->OnMessage(message, wParam, lParam, result)) {
      return result;
    }
  }
  if (previous == nullptr) {
    return DefWindowProcA(window, message, wParam, lParam);
  }
  return CallWindowProcA(previous, window, message, wParam, lParam);
}

// ---- Dialog ----

Dialog::Dialog(int templateId) : templateId_(templateId) {}

Dialog::~Dialog() {
  Destroy();
}

INT_PTR Dialog::RunModal(HWND parent) {
  if (hwnd_ != nullptr) {
    return -1;
  }
  modal_ = true;
  const INT_PTR result = DialogBoxParamA(ResourceModule(), MAKEINTRESOURCEA(templateId_), parent,
                                         &Dialog::DialogProc, reinterpret_cast<LPARAM>(this));
  modal_ = false;
  return result;
}

bool Dialog::CreateModeless(HWND parent) {
  if (hwnd_ != nullptr) {
    return false;
  }
  modal_ = false;
  const HWND window = CreateDialogParamA(ResourceModule(), MAKEINTRESOURCEA(templateId_), parent,
                                         &Dialog::DialogProc, reinterpret_cast<LPARAM>(this));
  return window != nullptr;
}

void Dialog::Destroy() {
  if (hwnd_ == nullptr) {
    return;
  }
  if (modal_) {
    ::EndDialog(hwnd_, IDCANCEL);
  } else {
    DestroyWindow(hwnd_);
  }
}

void Dialog::EndDialog(INT_PTR result) {
  if (hwnd_ == nullptr) {
    return;
  }
  if (modal_) {
    ::EndDialog(hwnd_, result);
  } else {
    DestroyWindow(hwnd_);
  }
}

void Dialog::AddControl(Control& control, int id) {
  controls_.push_back(Binding{&control, id});
}

HWND Dialog::Item(int id) const {
  return hwnd_ == nullptr ? nullptr : GetDlgItem(hwnd_, id);
}

void Dialog::SetItemText(int id, const std::string& text) const {
  if (HWND item = Item(id); item != nullptr) {
    SetWindowTextA(item, text.c_str());
  }
}

int ScaledForDpi(HWND window, int pixelsAt96) {
  // The window's own DPI where the system knows one per window (Windows 10 1607 on), else the
  // system's.
  using DpiForWindowFunction = UINT(WINAPI*)(HWND);
  static const auto dpiForWindow = reinterpret_cast<DpiForWindowFunction>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
  int dpi = 0;
  if (dpiForWindow != nullptr && window != nullptr) {
    dpi = static_cast<int>(dpiForWindow(window));
  }
  if (dpi <= 0) {
    const HDC screen = ::GetDC(nullptr);
    if (screen != nullptr) {
      dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
      ::ReleaseDC(nullptr, screen);
    }
  }
  return dpi > 0 ? ::MulDiv(pixelsAt96, dpi, 96) : pixelsAt96;
}

std::string WindowText(HWND window) {
  if (window == nullptr) {
    return {};
  }
  const int length = GetWindowTextLengthA(window);
  if (length <= 0) {
    return {};
  }
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  const int copied = GetWindowTextA(window, text.data(), length + 1);
  text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return text;
}

std::string Dialog::ItemText(int id) const {
  return WindowText(Item(id));
}

void Dialog::SetCaption(const std::string& text) const {
  if (hwnd_ != nullptr) {
    SetWindowTextA(hwnd_, text.c_str());
  }
}

std::string Dialog::Caption() const {
  return WindowText(hwnd_);
}

bool Dialog::OnInitDialog() {
  return true;
}

bool Dialog::OnCommand(int id, int notifyCode, HWND) {
  if ((id == IDOK || id == IDCANCEL) && notifyCode == BN_CLICKED) {
    EndDialog(id);
    return true;
  }
  return false;
}

bool Dialog::OnMessage(UINT, WPARAM, LPARAM, LRESULT&) {
  return false;
}

void Dialog::AttachControls() {
  for (const Binding& binding : controls_) {
    binding.control->Attach(GetDlgItem(hwnd_, binding.id));
  }
}

void Dialog::DetachControls() {
  for (const Binding& binding : controls_) {
    binding.control->Detach();
  }
}

INT_PTR CALLBACK Dialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Dialog* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<Dialog*>(lParam);
    SetWindowLongPtrA(window, DWLP_USER, lParam);
    if (self != nullptr) {
      self->hwnd_ = window;
    }
  } else {
    self = reinterpret_cast<Dialog*>(GetWindowLongPtrA(window, DWLP_USER));
  }
  if (self == nullptr) {
    return FALSE;
  }
  return self->HandleMessage(message, wParam, lParam);
}

INT_PTR Dialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      AttachControls();
      CentreIfUnplaced(hwnd_);
      return OnInitDialog() ? TRUE : FALSE;
    case WM_COMMAND: {
      const auto child = reinterpret_cast<HWND>(lParam);
      const int notifyCode = HIWORD(wParam);
      if (Control* control = Control::FromWindow(child);
          control != nullptr && control->OnReflectedCommand(notifyCode)) {
        return TRUE;
      }
      return OnCommand(LOWORD(wParam), notifyCode, child) ? TRUE : FALSE;
    }
    case WM_CTLCOLORSTATIC:
      if (Control* control = Control::FromWindow(reinterpret_cast<HWND>(lParam));
          control != nullptr) {
        if (HBRUSH brush = control->OnReflectedCtlColor(reinterpret_cast<HDC>(wParam));
            brush != nullptr) {
          return reinterpret_cast<INT_PTR>(brush);
        }
      }
      break;
    default:
      break;
  }

  LRESULT result = 0;
  const bool handled = OnMessage(message, wParam, lParam, result);
  if (message == WM_NCDESTROY) {
    DetachControls();
    SetWindowLongPtrA(hwnd_, DWLP_USER, 0);
    hwnd_ = nullptr;
  }
  if (!handled) {
    return FALSE;
  }
  if (AnswersDirectly(message)) {
    return static_cast<INT_PTR>(result);
  }
  if (hwnd_ != nullptr) {
    SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, result);
  }
  return TRUE;
}

HINSTANCE ResourceModule() {
  return GetModuleHandleA(nullptr);
}

}  // namespace vorlatch
