#pragma once
// The UI robot: finds the real windows of a process, records what they show, and answers
// them (presses buttons, types into edit controls, sends keys, closes them).
//
// In-process use: run the robot on a helper thread (RobotThread) while the code under test
// runs a modal dialog or message box on the main thread. For a child process, pass its id.
// Every wait has a time-out; a time-out fails the running test with a dump of the windows
// of the process and, by default, closes them so that nobody is left waiting for input.

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>

#include "win/handles.h"

namespace vorlatch {

// A message box's text is the static control with this id.
constexpr int kMessageBoxTextId = 65535;

struct ControlSnapshot {
  HWND hwnd = nullptr;
  int id = 0;
  std::string className;
  std::string text;
  DWORD style = 0;
  bool visible = false;
  bool enabled = false;
};

struct WindowSnapshot {
  HWND hwnd = nullptr;
  DWORD processId = 0;
  DWORD threadId = 0;
  std::string caption;
  std::string className;
  DWORD style = 0;
  DWORD exStyle = 0;
  std::vector<ControlSnapshot> controls;  // every descendant, in z order

  // The first control with this id, or null.
  const ControlSnapshot* Control(int id) const;
  bool HasControl(int id) const { return Control(id) != nullptr; }
  // The text of the control with this id; empty when there is none.
  std::string ControlText(int id) const;
  // The message box text (control 65535).
  std::string MessageText() const { return ControlText(kMessageBoxTextId); }
  // Ids of the visible controls of class "Button", in z order.
  std::vector<int> ButtonIds() const;
  bool IsTopmost() const { return (exStyle & WS_EX_TOPMOST) != 0; }
  // The icon that the first icon static shows now (a message box's icon); null without one.
  HICON MessageBoxIcon() const;
  // A readable description of the window and its controls, for failure messages.
  std::string Describe() const;
};

// Every wait below ends as soon as what it waits for happens; its time-out only guards against
// a hang, so it is generous: a first run in a fresh prefix on a loaded machine is slow.
inline constexpr DWORD kRobotTimeoutMs = 60000;

// What to wait for. Empty strings match anything.
struct WindowQuery {
  DWORD processId = 0;           // 0: the own process
  std::string caption = {};      // exact caption
  std::string className = {};    // exact class name, e.g. "#32770" for dialogs and message boxes
  std::string controlText = {};  // some control's text contains this
  bool visibleOnly = true;
  DWORD timeoutMs = kRobotTimeoutMs;
  bool closeOnTimeout = true;  // after a time-out, close the process's windows
};

// A snapshot of one window (caption, class, style, every control).
WindowSnapshot Snapshot(HWND hwnd);

// Every top-level window of a process (0: own process).
std::vector<HWND> TopLevelWindows(DWORD processId, bool visibleOnly);

// The dump of every visible top-level window of a process with its controls.
std::string DumpWindows(DWORD processId);

// Waits for a matching top-level window. On time-out: ADD_FAILURE with the dump, closes the
// process's windows when the query says so, and returns null.
HWND WaitForWindow(const WindowQuery& query);

// Waits for a matching window and returns its snapshot; an empty snapshot (hwnd null) on
// time-out, which has already failed the test.
WindowSnapshot WaitForSnapshot(const WindowQuery& query);

// Waits until the window no longer exists (or is hidden). Fails the test on time-out.
bool WaitForWindowGone(HWND hwnd, DWORD timeoutMs = kRobotTimeoutMs);

// Presses the button with this id in the window: check boxes and radio buttons get BM_CLICK,
// push buttons a posted WM_COMMAND/BN_CLICKED, which is what a click sends. Fails the test
// when the control is missing or disabled.
bool PressButton(HWND window, int id);

// Sets the text of the (edit) control with this id. Fails the test when it is missing.
bool SetControlText(HWND window, int id, const std::string& text);

// Reads one control's current text (the window itself for id 0).
std::string ReadControlText(HWND window, int id);

// Waits until one control's text (the window's own for id 0) is `text`, e.g. after a posted
// button press has been handled. Fails the test on time-out.
bool WaitForControlText(HWND window, int id, const std::string& text,
                        DWORD timeoutMs = kRobotTimeoutMs);

// The control of the window that has the keyboard focus (the window itself when it has it),
// after activating the window again when another window took the activation; null when none.
HWND FocusedControl(HWND window);

// Posts a key press (WM_KEYDOWN/WM_KEYUP) to the window's focused control, or to the window:
// VK_RETURN and VK_ESCAPE reach the dialog's own key handling in its modal loop.
bool SendKey(HWND window, WORD virtualKey);

// Asks the window to close (WM_CLOSE).
bool RequestClose(HWND window);

// Closes every visible top-level window of the process (IDCANCEL to dialogs, then WM_CLOSE).
void CloseAllWindows(DWORD processId);

// Saves a picture of the window as the user sees it, as a PNG file (SaveScreenPicture of
// support/screenshot.h). Returns false when nothing was captured or written.
bool SaveScreenshot(HWND window, const std::string& path);

// The folder "screenshots" beside the running test program (made when missing), with a
// trailing backslash.
std::string ScreenshotFolder();

// Runs the robot's work on a helper thread; the destructor (or Join) waits for it. The body
// reports through gtest assertions (EXPECT_*, ADD_FAILURE are thread-safe) and through the
// variables it captures, which the main thread reads after Join.
class RobotThread {
 public:
  explicit RobotThread(std::function<void()> body);
  RobotThread(const RobotThread&) = delete;
  RobotThread& operator=(const RobotThread&) = delete;
  ~RobotThread();
  void Join();

 private:
  std::thread thread_;
};

// Runs a body on a Win32 thread of its own, which the code under test may end from inside
// (ExitThread), as the installer's termination does.
class WorkerThread {
 public:
  static constexpr DWORD kReturned = 77;

  explicit WorkerThread(std::function<void()> body);
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;
  // The thread's exit code (kReturned when the body returned), after waiting up to a minute;
  // a thread that does not end is a test failure.
  DWORD Wait();

 private:
  static DWORD WINAPI Main(void* self);
  std::function<void()> body_;
  UniqueHandle thread_;
};

}  // namespace vorlatch
