#include "support/ui_robot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <utility>

#include "support/screenshot.h"

namespace vorlatch {
namespace {

// Messages to windows of another thread or process must not hang the robot when that
// thread is stuck, so every query has a time-out.
constexpr UINT kSendTimeoutMs = 2000;
constexpr DWORD kPollIntervalMs = 20;

bool SendWithTimeout(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result) {
  return SendMessageTimeoutA(hwnd, message, wParam, lParam, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                             kSendTimeoutMs, result) != 0;
}

std::string TextOf(HWND hwnd) {
  DWORD_PTR length = 0;
  if (!SendWithTimeout(hwnd, WM_GETTEXTLENGTH, 0, 0, &length)) {
    return {};
  }
  std::string text(static_cast<size_t>(length) + 1, '\0');
  DWORD_PTR copied = 0;
  if (!SendWithTimeout(hwnd, WM_GETTEXT, static_cast<WPARAM>(text.size()),
                       reinterpret_cast<LPARAM>(text.data()), &copied)) {
    return {};
  }
  text.resize(std::min<size_t>(static_cast<size_t>(copied), text.size() - 1));
  return text;
}

std::string ClassOf(HWND hwnd) {
  char name[256] = {};
  int length = GetClassNameA(hwnd, name, static_cast<int>(sizeof name));
  return std::string(name, length > 0 ? static_cast<size_t>(length) : 0);
}

DWORD OwnOr(DWORD processId) {
  return processId == 0 ? GetCurrentProcessId() : processId;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM param) {
  auto* controls = reinterpret_cast<std::vector<ControlSnapshot>*>(param);
  ControlSnapshot control;
  control.hwnd = child;
  control.id = GetDlgCtrlID(child);
  control.className = ClassOf(child);
  control.text = TextOf(child);
  control.style = static_cast<DWORD>(GetWindowLongPtrA(child, GWL_STYLE));
  control.visible = IsWindowVisible(child) != 0;
  control.enabled = IsWindowEnabled(child) != 0;
  controls->push_back(std::move(control));
  return TRUE;
}

struct TopLevelSearch {
  DWORD processId;
  bool visibleOnly;
  std::vector<HWND> windows;
};

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<TopLevelSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(hwnd, &owner);
  if (owner == search->processId && (!search->visibleOnly || IsWindowVisible(hwnd))) {
    search->windows.push_back(hwnd);
  }
  return TRUE;
}

bool Matches(const WindowSnapshot& window, const WindowQuery& query) {
  if (!query.caption.empty() && window.caption != query.caption) {
    return false;
  }
  if (!query.className.empty() && window.className != query.className) {
    return false;
  }
  if (query.controlText.empty()) {
    return true;
  }
  for (const ControlSnapshot& control : window.controls) {
    if (control.text.find(query.controlText) != std::string::npos) {
      return true;
    }
  }
  return false;
}

std::string DescribeQuery(const WindowQuery& query) {
  std::ostringstream out;
  out << "window of process " << OwnOr(query.processId);
  if (!query.caption.empty()) {
    out << " with caption \"" << query.caption << "\"";
  }
  if (!query.className.empty()) {
    out << " of class \"" << query.className << "\"";
  }
  if (!query.controlText.empty()) {
    out << " with a control showing \"" << query.controlText << "\"";
  }
  return out.str();
}

// The control with this id among the window's descendants (GetDlgItem sees children only).
HWND FindControl(HWND window, int id) {
  if (HWND direct = GetDlgItem(window, id)) {
    return direct;
  }
  for (const ControlSnapshot& control : Snapshot(window).controls) {
    if (control.id == id) {
      return control.hwnd;
    }
  }
  return nullptr;
}

}  // namespace

const ControlSnapshot* WindowSnapshot::Control(int id) const {
  for (const ControlSnapshot& control : controls) {
    if (control.id == id) {
      return &control;
    }
  }
  return nullptr;
}

std::string WindowSnapshot::ControlText(int id) const {
  const ControlSnapshot* control = Control(id);
  return control != nullptr ? control->text : std::string();
}

std::vector<int> WindowSnapshot::ButtonIds() const {
  std::vector<int> ids;
  for (const ControlSnapshot& control : controls) {
    if (control.visible && _stricmp(control.className.c_str(), "Button") == 0) {
      ids.push_back(control.id);
    }
  }
  return ids;
}

std::string WindowSnapshot::Describe() const {
  std::ostringstream out;
  out << "window " << hwnd << " class \"" << className << "\" caption \"" << caption
      << "\" style 0x" << std::hex << style << " exstyle 0x" << exStyle << std::dec << "\n";
  for (const ControlSnapshot& control : controls) {
    out << "  control id " << control.id << " class \"" << control.className << "\" text \""
        << control.text << "\" style 0x" << std::hex << control.style << std::dec
        << (control.visible ? "" : " hidden") << (control.enabled ? "" : " disabled") << "\n";
  }
  return out.str();
}

HICON WindowSnapshot::MessageBoxIcon() const {
  for (const ControlSnapshot& control : controls) {
    if (control.className == "Static" && (control.style & SS_TYPEMASK) == SS_ICON) {
      return reinterpret_cast<HICON>(::SendMessageA(control.hwnd, STM_GETICON, 0, 0));
    }
  }
  return nullptr;
}

WindowSnapshot Snapshot(HWND hwnd) {
  WindowSnapshot window;
  if (hwnd == nullptr || !IsWindow(hwnd)) {
    return window;
  }
  window.hwnd = hwnd;
  window.threadId = GetWindowThreadProcessId(hwnd, &window.processId);
  window.caption = TextOf(hwnd);
  window.className = ClassOf(hwnd);
  window.style = static_cast<DWORD>(GetWindowLongPtrA(hwnd, GWL_STYLE));
  window.exStyle = static_cast<DWORD>(GetWindowLongPtrA(hwnd, GWL_EXSTYLE));
  EnumChildWindows(hwnd, CollectChild, reinterpret_cast<LPARAM>(&window.controls));
  return window;
}

std::vector<HWND> TopLevelWindows(DWORD processId, bool visibleOnly) {
  TopLevelSearch search{OwnOr(processId), visibleOnly, {}};
  EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.windows;
}

std::string DumpWindows(DWORD processId) {
  std::vector<HWND> windows = TopLevelWindows(processId, true);
  std::ostringstream out;
  out << windows.size() << " visible top-level window(s) of process " << OwnOr(processId) << ":\n";
  for (HWND hwnd : windows) {
    out << Snapshot(hwnd).Describe();
  }
  return out.str();
}

HWND WaitForWindow(const WindowQuery& query) {
  const DWORD processId = OwnOr(query.processId);
  const ULONGLONG deadline = GetTickCount64() + query.timeoutMs;
  for (;;) {
    for (HWND hwnd : TopLevelWindows(processId, query.visibleOnly)) {
      if (Matches(Snapshot(hwnd), query)) {
        return hwnd;
      }
    }
    if (GetTickCount64() >= deadline) {
      break;
    }
    Sleep(kPollIntervalMs);
  }
  ADD_FAILURE() << "Timed out after " << query.timeoutMs << " ms waiting for a "
                << DescribeQuery(query) << "\n"
                << DumpWindows(processId);
  if (query.closeOnTimeout) {
    CloseAllWindows(processId);
  }
  return nullptr;
}

WindowSnapshot WaitForSnapshot(const WindowQuery& query) {
  HWND hwnd = WaitForWindow(query);
  return hwnd != nullptr ? Snapshot(hwnd) : WindowSnapshot{};
}

bool WaitForWindowGone(HWND hwnd, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (IsWindow(hwnd) && IsWindowVisible(hwnd)) {
    if (GetTickCount64() >= deadline) {
      ADD_FAILURE() << "Timed out after " << timeoutMs << " ms waiting for this to close:\n"
                    << Snapshot(hwnd).Describe();
      return false;
    }
    Sleep(kPollIntervalMs);
  }
  return true;
}

bool PressButton(HWND window, int id) {
  HWND button = FindControl(window, id);
  if (button == nullptr) {
    ADD_FAILURE() << "No control " << id << " to press in\n" << Snapshot(window).Describe();
    return false;
  }
  if (!IsWindowEnabled(button)) {
    ADD_FAILURE() << "Control " << id << " is disabled in\n" << Snapshot(window).Describe();
    return false;
  }
  const LONG_PTR type = GetWindowLongPtrA(button, GWL_STYLE) & BS_TYPEMASK;
  if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON) {
    // What a click on a push button amounts to; unlike BM_CLICK it does not depend on the
    // window being active or on mouse capture.
    return PostMessageA(GetParent(button), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                        reinterpret_cast<LPARAM>(button)) != 0;
  }
  return PostMessageA(button, BM_CLICK, 0, 0) != 0;
}

bool SetControlText(HWND window, int id, const std::string& text) {
  HWND control = FindControl(window, id);
  if (control == nullptr) {
    ADD_FAILURE() << "No control " << id << " to type into in\n" << Snapshot(window).Describe();
    return false;
  }
  DWORD_PTR result = 0;
  if (!SendWithTimeout(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), &result) ||
      result == FALSE) {
    ADD_FAILURE() << "Control " << id << " did not take the text \"" << text << "\"";
    return false;
  }
  return true;
}

std::string ReadControlText(HWND window, int id) {
  if (id == 0) {
    return TextOf(window);
  }
  HWND control = FindControl(window, id);
  return control != nullptr ? TextOf(control) : std::string();
}

bool WaitForControlText(HWND window, int id, const std::string& text, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    const std::string current = ReadControlText(window, id);
    if (current == text) {
      return true;
    }
    if (GetTickCount64() >= deadline) {
      ADD_FAILURE() << "Timed out after " << timeoutMs << " ms waiting for control " << id
                    << " to read \"" << text << "\"; it reads \"" << current << "\" in\n"
                    << Snapshot(window).Describe();
      return false;
    }
    Sleep(kPollIntervalMs);
  }
}

namespace {

// The control of `window` that has the keyboard focus of its thread; null when the focus is
// elsewhere, as when another program's window took the activation.
HWND FocusIn(HWND window) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  if (GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) &&
      info.hwndFocus != nullptr && (info.hwndFocus == window || IsChild(window, info.hwndFocus))) {
    return info.hwndFocus;
  }
  return nullptr;
}

}  // namespace

HWND FocusedControl(HWND window) {
  // Tests run side by side on one screen: a window that lost the activation to another
  // program's window is activated again first, as a user's click would, which gives the focus
  // back to the control that had it.
  HWND focus = FocusIn(window);
  for (int i = 0; focus == nullptr && i < 40; ++i) {
    SetForegroundWindow(window);
    Sleep(25);
    focus = FocusIn(window);
  }
  return focus;
}

bool SendKey(HWND window, WORD virtualKey) {
  // The key goes to the control a user would type into.
  HWND target = FocusedControl(window);
  if (target == nullptr) {
    target = window;
  }
  const UINT scan = MapVirtualKeyA(virtualKey, MAPVK_VK_TO_VSC);
  const LPARAM down = static_cast<LPARAM>(1 | (scan << 16));
  const LPARAM up = static_cast<LPARAM>(down | (static_cast<LPARAM>(3) << 30));
  return PostMessageA(target, WM_KEYDOWN, virtualKey, down) != 0 &&
         PostMessageA(target, WM_KEYUP, virtualKey, up) != 0;
}

bool RequestClose(HWND window) {
  return PostMessageA(window, WM_CLOSE, 0, 0) != 0;
}

void CloseAllWindows(DWORD processId) {
  for (int round = 0; round < 50; ++round) {
    std::vector<HWND> windows = TopLevelWindows(processId, true);
    if (windows.empty()) {
      return;
    }
    for (HWND hwnd : windows) {
      if (ClassOf(hwnd) == "#32770") {
        PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      }
      PostMessageA(hwnd, WM_CLOSE, 0, 0);
    }
    Sleep(100);
  }
}

bool SaveScreenshot(HWND window, const std::string& path) {
  return SaveScreenPicture(window, path);
}

std::string ScreenshotFolder() {
  char path[MAX_PATH] = {};
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length);
  folder.erase(folder.find_last_of('\\') + 1);
  folder += "screenshots\\";
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

RobotThread::RobotThread(std::function<void()> body) : thread_(std::move(body)) {}

RobotThread::~RobotThread() {
  Join();
}

void RobotThread::Join() {
  if (thread_.joinable()) {
    thread_.join();
  }
}

WorkerThread::WorkerThread(std::function<void()> body) : body_(std::move(body)) {
  thread_.reset(::CreateThread(nullptr, 0, &WorkerThread::Main, this, 0, nullptr));
}

DWORD WorkerThread::Wait() {
  if (!thread_ || ::WaitForSingleObject(thread_.get(), 60000) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "the worker thread did not end";
    return STILL_ACTIVE;
  }
  DWORD code = STILL_ACTIVE;
  ::GetExitCodeThread(thread_.get(), &code);
  return code;
}

DWORD WINAPI WorkerThread::Main(void* self) {
  static_cast<WorkerThread*>(self)->body_();
  return kReturned;
}

}  // namespace vorlatch
