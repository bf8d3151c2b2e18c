#include "support/run_answers.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include "support/ui_robot.h"
#include "win/handles.h"

namespace vorlatch::test {

namespace {

// The full path of a running program; empty when it cannot be asked.
std::string ProgramPathOf(DWORD processId) {
  UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  char path[MAX_PATH + 1] = {};
  DWORD size = MAX_PATH;
  if (!process || !::QueryFullProcessImageNameA(process.get(), 0, path, &size)) {
    return std::string();
  }
  return std::string(path, size);
}

bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() &&
         ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, text.c_str(),
                          static_cast<int>(prefix.size()), prefix.c_str(),
                          static_cast<int>(prefix.size())) == CSTR_EQUAL;
}

std::string WindowText(const WindowSnapshot& snapshot) {
  std::string text = snapshot.caption;
  for (const ControlSnapshot& control : snapshot.controls) {
    text += "\n" + control.text;
  }
  return text;
}

}  // namespace

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

bool HasEnded(DWORD processId) {
  UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, processId));
  return !process || ::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
}

bool WaitForProgramsIn(const std::string& folder) {
  const DWORD deadline = ::GetTickCount() + kRunTimeoutMs;
  for (;;) {
    std::vector<DWORD> running;
    UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32First(snapshot.get(), &entry); more;
         more = ::Process32Next(snapshot.get(), &entry)) {
      if (entry.th32ProcessID != ::GetCurrentProcessId() &&
          StartsWithIgnoringCase(ProgramPathOf(entry.th32ProcessID), folder) &&
          !HasEnded(entry.th32ProcessID)) {
        running.push_back(entry.th32ProcessID);
      }
    }
    if (running.empty()) {
      return true;
    }
    if (::GetTickCount() > deadline) {
      for (const DWORD id : running) {
        UniqueHandle process(::OpenProcess(PROCESS_TERMINATE, FALSE, id));
        if (process) {
          ::TerminateProcess(process.get(), 1);
        }
      }
      return false;
    }
    ::Sleep(50);
  }
}

std::vector<std::string> AnswerUntilEnd(ChildProcess& child, const std::vector<Reply>& replies,
                                        ProcessResult& result) {
  std::vector<std::string> seen;
  std::vector<bool> used(replies.size(), false);
  const DWORD deadline = ::GetTickCount() + kRunTimeoutMs;
  while (!HasEnded(child.processId()) && ::GetTickCount() < deadline) {
    for (const HWND shown : TopLevelWindows(child.processId(), true)) {
      const WindowSnapshot snapshot = Snapshot(shown);
      // The progress window comes and goes; a window gone by now has no class.
      if (snapshot.caption == "Extracting" || snapshot.className.empty()) {
        continue;
      }
      const std::string text = WindowText(snapshot);
      std::size_t r = 0;
      while (r < replies.size() && (used[r] || !Contains(text, replies[r].text))) {
        ++r;
      }
      if (r == replies.size()) {
        ADD_FAILURE() << "unexpected window: " << snapshot.Describe();
        CloseAllWindows(child.processId());
        continue;
      }
      used[r] = true;
      seen.push_back(snapshot.caption + ": " +
                     (snapshot.MessageText().empty() ? replies[r].text : snapshot.MessageText()));
      if (replies[r].whileShown) {
        replies[r].whileShown();
      }
      if (replies[r].editId != 0) {
        SetControlText(shown, replies[r].editId, replies[r].edit);
      }
      PressButton(shown, replies[r].button);
      WaitForWindowGone(shown);
    }
    ::Sleep(20);
  }
  result = child.Wait(5000);
  EXPECT_TRUE(result.finished) << DumpWindows(child.processId());
  return seen;
}

UnattendedResult RunUnattended(const std::string& program, const std::string& arguments) {
  UnattendedResult result;
  ChildProcess stub;
  if (!stub.Start(Quoted(program) + " " + arguments)) {
    ADD_FAILURE() << "cannot start " << program;
    return result;
  }
  const DWORD deadline = ::GetTickCount() + kRunTimeoutMs;
  while (!HasEnded(stub.processId()) && ::GetTickCount() < deadline) {
    for (const HWND shown : TopLevelWindows(stub.processId(), true)) {
      result.windows.push_back(Snapshot(shown).Describe());
      CloseAllWindows(stub.processId());
    }
    ::Sleep(5);
  }
  result.process = stub.Wait(5000);
  return result;
}

}  // namespace vorlatch::test
