#pragma once
// The small modeless, topmost window that names the file being extracted and shows with a bar
// how much of the installation is written, and the message pump that long work calls so that
// it repaints.

#include <cstdint>
#include <string>

#include "ui/dialog.h"

namespace vorlatch {

class ProgressDialog : public Dialog {
 public:
  ProgressDialog();

 protected:
  // Nothing the user presses closes the window; only CloseProgress does.
  bool OnCommand(int id, int notifyCode, HWND control) override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
};

// Shows the progress window with this caption and text, creating it on the first call and
// updating it on later ones (g_state.progress is the current one).
void ShowProgress(const std::string& caption, const std::string& text);

// The bar's full extent: the bytes of the whole extraction. The bar starts empty; the values
// are kept for a window made later.
void SetProgressTotal(std::uint64_t total);

// Moves the bar to `done` bytes of the total.
void SetProgressDone(std::uint64_t done);

// Hides and destroys the progress window if there is one.
void CloseProgress();

// Dispatches every message waiting in the thread's queue without waiting. A WM_QUIT taken
// from the queue ends the pump and is dropped.
void PumpMessages();
// PumpMessages, at most once in a few hundredths of a second: for loops over many files,
// where a look into the queue for each file, a round trip to the window system, would cost
// more than the file itself.
void PumpMessagesNowAndThen();

}  // namespace vorlatch
