#include "package/unattended.h"

#include <string>

#include "package/process_state.h"

namespace vorlatch {

namespace {

const char* AnswerName(int answer) {
  switch (answer) {
    case IDOK:
      return "OK";
    case IDCANCEL:
      return "Cancel";
    case IDYES:
      return "Yes";
    case IDNO:
      return "No";
    case IDRETRY:
      return "Retry";
    default:
      return "no answer";
  }
}

// How much a result tells: the first failure that stops the run tells most.
int Weight(int result) {
  switch (static_cast<RunResult>(result)) {
    case RunResult::kInstalled:
      return 0;
    case RunResult::kRestartNeeded:
      return 1;
    case RunResult::kInstalledWithErrors:
      return 2;
    default:
      return 3;
  }
}

}  // namespace

bool Unattended() {
  return g_state.silent;
}

int AskUser(const std::string& text, const std::string& caption, UINT style, int unattendedAnswer) {
  int answer = unattendedAnswer;
  if (!g_state.silent) {
    answer = ::MessageBoxA(nullptr, text.c_str(), caption.c_str(), style);
  }
  RecordStep("Message \"" + caption + "\": " + text + ": " + AnswerName(answer) +
             (g_state.silent ? " (unattended)" : ""));
  return answer;
}

void RecordStep(const std::string& line) {
  if (g_state.runRecord == nullptr) {
    return;
  }
  std::string text;
  text.reserve(line.size() + 2);
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\r' || c == '\n') {
      // A CR LF pair is one break.
      if (c == '\r' && i + 1 < line.size() && line[i + 1] == '\n') {
        ++i;
      }
      text.push_back(' ');
    } else {
      text.push_back(c);
    }
  }
  text += "\r\n";
  DWORD written = 0;
  // A record that cannot be written must not stop the installation.
  ::WriteFile(g_state.runRecord, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

bool RecordingSteps() {
  return g_state.runRecord != nullptr;
}

void NoteResult(RunResult result) {
  const int code = static_cast<int>(result);
  if (Weight(g_state.exitCode) < 3 && Weight(code) > Weight(g_state.exitCode)) {
    g_state.exitCode = code;
  }
}

int RunExitCode() {
  return g_state.silent ? g_state.exitCode : 0;
}

bool OpenRunRecord(const std::string& path) {
  CloseRunRecord();
  const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  g_state.runRecord = file;
  return true;
}

void CloseRunRecord() {
  if (g_state.runRecord == nullptr) {
    return;
  }
  RecordStep("Exit code " + std::to_string(RunExitCode()));
  ::CloseHandle(g_state.runRecord);
  g_state.runRecord = nullptr;
}

}  // namespace vorlatch
