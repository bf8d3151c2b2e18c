// Runs the demo's installer, or the uninstaller of what it installed, headless: starts it,
// answers every dialog that shows up the way a user accepting the defaults would (also those
// of the programs it starts, such as the installed program or the uninstaller's own copy),
// and prints what each one said.
//
//   vorlatch-demo-driver [--watch] install INSTALLER [TEMPDIR]
//   vorlatch-demo-driver [--watch] uninstall PRODUCT
//
// With --watch the user answers the windows; the driver only waits for the program's end.
// TEMPDIR becomes the installer's Tmp and Temp (Wine sets both from its registry, so they
// cannot be handed in from the Unix environment). `uninstall` starts the program that the
// system's uninstall entry of PRODUCT names.

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "support/test_files.h"
#include "support/ui_robot.h"

namespace {

constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// The button a user who accepts every default presses; 0 when the window has none of them.
int DefaultAnswer(const vorlatch::WindowSnapshot& window) {
  // The licence dialog accepts with its left button when it has two, else with its right one.
  for (int id : {IDYES, IDOK, 1010 /* Next */, 1035 /* licence: left */, 1034 /* right */}) {
    const vorlatch::ControlSnapshot* control = window.Control(id);
    if (control != nullptr && control->visible && control->enabled) {
      return id;
    }
  }
  return 0;
}

BOOL CALLBACK CollectDialog(HWND hwnd, LPARAM param) {
  char className[64] = {};
  if (::IsWindowVisible(hwnd) && ::GetClassNameA(hwnd, className, sizeof className) > 0 &&
      std::string(className) == "#32770") {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
  }
  return TRUE;
}

// Every visible dialog or message box on the desktop, of any process.
std::vector<HWND> VisibleDialogs() {
  std::vector<HWND> found;
  ::EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&found));
  return found;
}

// The text on one line, without the mnemonic marks of button texts.
std::string OneLine(const std::string& text) {
  std::string line;
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      line += ' ';
    } else if (c != '&') {
      line += c;
    }
  }
  return line;
}

// Answers one dialog; false for a window that asks nothing (the progress window), which is
// left alone.
bool Answer(HWND hwnd) {
  ::Sleep(300);  // let the window finish drawing, as a person would
  const vorlatch::WindowSnapshot window = vorlatch::Snapshot(hwnd);
  std::printf("demo: window \"%s\"\n", window.caption.c_str());
  for (const vorlatch::ControlSnapshot& control : window.controls) {
    const bool picture = (control.style & SS_TYPEMASK) == SS_ICON;
    if (control.visible && !control.text.empty() && control.className != "Button" &&
        !(control.className == "Static" && picture)) {
      std::printf("demo:   %s\n", OneLine(control.text).c_str());
    }
  }
  const int answer = DefaultAnswer(window);
  if (answer == 0 && window.ButtonIds().empty()) {
    std::printf("demo:   (asks nothing)\n");
    std::fflush(stdout);
    return false;
  }
  if (answer == 0) {
    std::printf("demo:   (no default answer; closing it)\n");
    vorlatch::RequestClose(hwnd);
  } else {
    std::printf("demo:   pressing \"%s\"\n", OneLine(window.ControlText(answer)).c_str());
    vorlatch::PressButton(hwnd, answer);
  }
  vorlatch::WaitForWindowGone(hwnd, 10000);
  std::fflush(stdout);
  return true;
}

bool HasEnded(DWORD processId) {
  HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, processId);
  if (process == nullptr) {
    return true;
  }
  const bool ended = ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  ::CloseHandle(process);
  return ended;
}

// Answers dialogs until the program has ended and none has shown for a while (the programs
// it started may still be opening theirs).
int AnswerUntilQuiet(vorlatch::test::ChildProcess& program) {
  constexpr DWORD kQuietMs = 3000;
  DWORD quietSince = ::GetTickCount();
  std::set<HWND> leftAlone;
  for (int answered = 0; answered < 60;) {
    HWND next = nullptr;
    for (HWND dialog : VisibleDialogs()) {
      if (leftAlone.count(dialog) == 0) {
        next = dialog;
        break;
      }
    }
    if (next != nullptr) {
      if (!Answer(next)) {
        leftAlone.insert(next);
      }
      ++answered;
      quietSince = ::GetTickCount();
      continue;
    }
    if (HasEnded(program.processId()) && ::GetTickCount() - quietSince > kQuietMs) {
      return 0;
    }
    ::Sleep(100);
  }
  std::fprintf(stderr, "vorlatch-demo-driver: the windows keep coming; stopping\n");
  return 1;
}

std::string UninstallCommand(const std::string& product) {
  HKEY key = nullptr;
  const std::string path = kUninstallKey + product;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return std::string();
  }
  char value[MAX_PATH + 1] = {};
  DWORD size = MAX_PATH;
  DWORD type = 0;
  const LONG read = ::RegQueryValueExA(key, "UninstallString", nullptr, &type,
                                       reinterpret_cast<BYTE*>(value), &size);
  ::RegCloseKey(key);
  if (read != ERROR_SUCCESS || type != REG_SZ) {
    return std::string();
  }
  return value;
}

std::string Quoted(const std::string& path) {
  return "\"" + path + "\"";
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  const bool watch = argc > first && std::string(argv[first]) == "--watch";
  first += watch ? 1 : 0;
  const std::string verb = argc > first ? argv[first] : "";
  const int rest = argc - first - 1;
  if (!((verb == "install" && (rest == 1 || rest == 2)) || (verb == "uninstall" && rest == 1))) {
    std::fprintf(stderr,
                 "usage: vorlatch-demo-driver [--watch] install INSTALLER [TEMPDIR]\n"
                 "       vorlatch-demo-driver [--watch] uninstall PRODUCT\n");
    return 2;
  }
  std::string commandLine;
  if (verb == "install") {
    commandLine = Quoted(argv[first + 1]);
    if (rest == 2) {
      ::SetEnvironmentVariableA("Tmp", argv[first + 2]);
      ::SetEnvironmentVariableA("Temp", argv[first + 2]);
    }
  } else {
    const std::string uninstaller = UninstallCommand(argv[first + 1]);
    if (uninstaller.empty()) {
      std::fprintf(stderr, "vorlatch-demo-driver: no uninstall entry for %s\n", argv[first + 1]);
      return 1;
    }
    std::printf("demo: the uninstall entry names %s\n", uninstaller.c_str());
    // As the system runs it: the command as it stands.
    commandLine = uninstaller;
  }
  // The robot reports through GoogleTest's assertions; run it inside an initialised test
  // environment without any test of its own.
  int gtestArgc = 1;
  ::testing::InitGoogleTest(&gtestArgc, argv);

  vorlatch::test::ChildProcess program;
  if (!program.Start(commandLine)) {
    std::fprintf(stderr, "vorlatch-demo-driver: cannot start %s\n", commandLine.c_str());
    return 1;
  }
  if (watch) {
    constexpr DWORD kOneHour = 60 * 60 * 1000;
    return program.Wait(kOneHour).finished ? 0 : 1;
  }
  const int status = AnswerUntilQuiet(program);
  std::printf("demo: the %s has ended\n", verb == "install" ? "installer" : "uninstaller");
  return status;
}
