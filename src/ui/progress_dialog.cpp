#include "ui/progress_dialog.h"

#include "package/process_state.h"
#include "package/unattended.h"
#include "resources/resource.h"

namespace vorlatch {
namespace {

bool HasWindow(const ProgressDialog* dialog) {
  return dialog != nullptr && dialog->hwnd() != nullptr && IsWindow(dialog->hwnd());
}

void SetTexts(const ProgressDialog& dialog, const std::string& caption, const std::string& text) {
  dialog.SetCaption(caption);
  dialog.SetItemText(IDC_PROGRESS_TEXT, text);
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
  if (!g_state.progress->CreateModeless(nullptr)) {
    return;  // nothing shown; the next call tries again
  }
  const HWND window = g_state.progress->hwnd();
  SetTexts(*g_state.progress, caption, text);
  SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  ShowWindow(window, SW_SHOW);
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
