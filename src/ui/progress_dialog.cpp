#include "ui/progress_dialog.h"

#include <algorithm>

#include "package/process_state.h"
#include "package/unattended.h"
#include "resources/resource.h"

namespace vorlatch {
namespace {

bool HasWindow(const ProgressDialog* dialog) {
  return dialog != nullptr && dialog->hwnd() != nullptr && IsWindow(dialog->hwnd());
}

void SetTexts(const ProgressDialog& dialog, const std::string& caption, const std::string& text) {
  // The caption stays the same from file to file; setting it again repaints the frame.
  if (dialog.Caption() != caption) {
    dialog.SetCaption(caption);
  }
  dialog.SetItemText(IDC_PROGRESS_TEXT, text);
}

// How much of the bar is full, in thousandths: the position that the window draws and tells.
int BarThousandths() {
  if (g_state.progressTotal == 0) {
    return 0;
  }
  const std::uint64_t done = std::min(g_state.progressDone, g_state.progressTotal);
  // Whole thousandths of any 64-bit total without overflow.
  return static_cast<int>(done / g_state.progressTotal * 1000 +
                          done % g_state.progressTotal * 1000 / g_state.progressTotal);
}

// The bar tells its position as its text ("25%"), for tests and screen readers; it is drawn
// by the window itself, so the text never shows.
void ShowBar() {
  if (!HasWindow(g_state.progress)) {
    return;
  }
  const HWND bar = g_state.progress->Item(IDC_PROGRESS_BAR);
  const int shown = static_cast<int>(GetWindowLongPtrA(bar, GWLP_USERDATA));
  const int now = BarThousandths() + 1;  // 0: not drawn yet
  if (shown == now) {
    return;
  }
  SetWindowLongPtrA(bar, GWLP_USERDATA, now);
  const std::string percent = std::to_string((now - 1) / 10) + "%";
  SetWindowTextA(bar, percent.c_str());
  InvalidateRect(bar, nullptr, FALSE);
}

// A sunken trough, filled from the left in the selection colour as far as the bytes go.
void DrawBar(const DRAWITEMSTRUCT& item) {
  RECT inside = item.rcItem;
  DrawEdge(item.hDC, &inside, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
  const LONG width = inside.right - inside.left;
  RECT full = inside;
  full.right =
      inside.left + static_cast<LONG>(static_cast<long long>(width) * BarThousandths() / 1000);
  RECT empty = inside;
  empty.left = full.right;
  FillRect(item.hDC, &full, GetSysColorBrush(COLOR_HIGHLIGHT));
  FillRect(item.hDC, &empty, GetSysColorBrush(COLOR_WINDOW));
}

}  // namespace

ProgressDialog::ProgressDialog() : Dialog(IDD_PROGRESS) {}

bool ProgressDialog::OnCommand(int, int, HWND) {
  return true;
}

bool ProgressDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (message == WM_CLOSE) {
    result = 0;
    return true;
  }
  if (message == WM_DRAWITEM && wParam == IDC_PROGRESS_BAR) {
    DrawBar(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    result = TRUE;
    return true;
  }
  return false;
}

void ShowProgress(const std::string& caption, const std::string& text) {
  if (Unattended()) {
    return;
  }
  if (HasWindow(g_state.progress)) {
    SetTexts(*g_state.progress, caption, text);
    return;
  }
  // An object whose window is gone is replaced, not leaked.
  delete g_state.progress;
  g_state.progress = new ProgressDialog();
  if (!g_state.progress->CreateModeless(nullptr)) {
    return;  // nothing shown; the next call tries again
  }
  const HWND window = g_state.progress->hwnd();
  SetTexts(*g_state.progress, caption, text);
  ShowBar();
  SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  ShowWindow(window, SW_SHOW);
}

void SetProgressTotal(std::uint64_t total) {
  g_state.progressTotal = total;
  g_state.progressDone = 0;
  ShowBar();
}

void SetProgressDone(std::uint64_t done) {
  g_state.progressDone = done;
  ShowBar();
}

void CloseProgress() {
  if (!HasWindow(g_state.progress)) {
    // An object without a window has nothing to close, but is not kept either.
    delete g_state.progress;
    g_state.progress = nullptr;
    return;
  }
  ShowWindow(g_state.progress->hwnd(), SW_HIDE);
  g_state.progress->Destroy();
  delete g_state.progress;
  g_state.progress = nullptr;
}

void PumpMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      return;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

void PumpMessagesNowAndThen() {
  constexpr ULONGLONG kInterval = 40;  // milliseconds
  static ULONGLONG last = 0;
  const ULONGLONG now = GetTickCount64();
  if (now - last >= kInterval) {
    last = now;
    PumpMessages();
  }
}

}  // namespace vorlatch
