#include "ui/progress_dialog.h"

#include <commctrl.h>

#include <algorithm>
#include <climits>

#include "package/process_state.h"
#include "package/unattended.h"
#include "resources/resource.h"
#include "ui/common_controls.h"

namespace vorlatch {
namespace {

bool HasWindow(const ProgressDialog* dialog) {
  return dialog != nullptr && dialog->hwnd() != nullptr && IsWindow(dialog->hwnd());
}

void SetTexts(const ProgressDialog& dialog, const std::string& caption, const std::string& text) {
  dialog.SetCaption(caption);
  dialog.SetItemText(IDC_PROGRESS_TEXT, text);
}

// The bar counts in int: a larger total is counted in units of 2^shift bytes.
int BarShift() {
  int shift = 0;
  while ((g_state.progressTotal >> shift) > INT_MAX) {
    ++shift;
  }
  return shift;
}

void ShowBarPosition() {
  if (!HasWindow(g_state.progress)) {
    return;
  }
  const std::uint64_t done = std::min(g_state.progressDone, g_state.progressTotal);
  ::SendMessageA(g_state.progress->Item(IDC_PROGRESS_BAR), PBM_SETPOS,
                 static_cast<WPARAM>(done >> BarShift()), 0);
}

void ShowBar() {
  if (!HasWindow(g_state.progress)) {
    return;
  }
  // An empty range would leave the bar nowhere; one unit keeps it well-defined.
  const std::uint64_t extent = std::max<std::uint64_t>(g_state.progressTotal >> BarShift(), 1);
  ::SendMessageA(g_state.progress->Item(IDC_PROGRESS_BAR), PBM_SETRANGE32, 0,
                 static_cast<LPARAM>(extent));
  ShowBarPosition();
}

}  // namespace

ProgressDialog::ProgressDialog() : Dialog(IDD_PROGRESS) {}

bool ProgressDialog::OnCommand(int, int, HWND) {
  return true;
}

bool ProgressDialog::OnMessage(UINT message, WPARAM, LPARAM, LRESULT& result) {
  if (message == WM_CLOSE) {
    result = 0;
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
  // The template's bar needs its window class; without it the window cannot be made.
  InitialiseCommonControls(ICC_PROGRESS_CLASS);
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
  ShowBarPosition();
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

}  // namespace vorlatch
