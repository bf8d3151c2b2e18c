// Runs an installer headless for the demo: starts it, answers each of its windows the way a
// user accepting the defaults would, and prints what it showed.
//
//   vorlatch-demo-driver [--watch] INSTALLER [TEMPDIR]
//
// With --watch the user answers the windows; the driver only waits for the installer's end.
// TEMPDIR becomes the installer's Tmp and Temp (Wine sets both from its registry, so they
// cannot be handed in from the Unix environment).

#include <cstdio>
#include <string>

#include <gtest/gtest.h>
#include <windows.h>

#include "support/test_files.h"
#include "support/ui_robot.h"

namespace {

// The button a user who accepts every default presses; 0 when the window has none of them.
int DefaultAnswer(const vorlatch::WindowSnapshot& window) {
  for (int id : {IDYES, IDOK, 1010 /* Next */, 1034 /* licence: first button */}) {
    const vorlatch::ControlSnapshot* control = window.Control(id);
    if (control != nullptr && control->visible && control->enabled) {
      return id;
    }
  }
  return 0;
}

bool HasEnded(DWORD processId) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
  if (process == nullptr) {
    return true;
  }
  const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
}

std::string Quoted(const char* path) {
  std::string quoted = "\"";
  quoted.append(path).push_back('"');
  return quoted;
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

}  // namespace

int main(int argc, char** argv) {
  const bool watch = argc > 1 && std::string(argv[1]) == "--watch";
  const int first = watch ? 2 : 1;
  if (argc - first != 1 && argc - first != 2) {
    std::fprintf(stderr, "usage: vorlatch-demo-driver [--watch] INSTALLER [TEMPDIR]\n");
    return 2;
  }
  const char* installerPath = argv[first];
  if (argc - first == 2) {
    SetEnvironmentVariableA("Tmp", argv[first + 1]);
    SetEnvironmentVariableA("Temp", argv[first + 1]);
  }
  // The robot reports through GoogleTest's assertions; run it inside an initialised test
  // environment without any test of its own.
  int gtestArgc = 1;
  ::testing::InitGoogleTest(&gtestArgc, argv);

  vorlatch::test::ChildProcess installer;
  if (!installer.Start(Quoted(installerPath))) {
    std::fprintf(stderr, "vorlatch-demo-driver: cannot start %s\n", installerPath);
    return 1;
  }
  if (watch) {
    constexpr DWORD kOneHour = 60 * 60 * 1000;
    return installer.Wait(kOneHour).finished ? 0 : 1;
  }
  for (int answered = 0; answered < 50; ++answered) {
    HWND hwnd = nullptr;
    while (hwnd == nullptr) {
      if (HasEnded(installer.processId())) {
        std::printf("demo: the installer has ended\n");
        return 0;
      }
      const std::vector<HWND> windows = vorlatch::TopLevelWindows(installer.processId(), true);
      if (!windows.empty()) {
        hwnd = windows.front();
      } else {
        Sleep(100);
      }
    }
    Sleep(300);  // let the window finish drawing, as a person would
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
    if (answer == 0) {
      std::printf("demo:   (no default answer; closing it)\n");
      vorlatch::RequestClose(hwnd);
    } else {
      std::printf("demo:   pressing \"%s\"\n", OneLine(window.ControlText(answer)).c_str());
      vorlatch::PressButton(hwnd, answer);
    }
    vorlatch::WaitForWindowGone(hwnd, 10000);
  }
  std::fprintf(stderr, "vorlatch-demo-driver: the installer keeps showing windows; stopping it\n");
  return 1;
}
