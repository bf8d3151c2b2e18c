// Starting programs and documents for real: a file class registered under HKEY_CLASSES_ROOT
// for an extension unique to the test, whose open command is a batch file that records its
// arguments. Started programs are never waited for, so the tests poll for the record.

#include "stages/launching.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>

#include "support/test_files.h"
#include "win/handles.h"

namespace vorlatch {
namespace {

using test::Quoted;
using test::TempFolder;

constexpr DWORD kRecordTimeoutMs = 30000;

// Built with append: GCC 12 misreports "literal" + string as overlapping copies.
template <typename... Parts>
std::string Cat(const Parts&... parts) {
  std::string text;
  (text.append(parts), ...);
  return text;
}

std::string Unique() {
  return std::to_string(::GetCurrentProcessId()) + "x" + std::to_string(::GetTickCount64());
}

// The text of a file once it holds a whole line; none after the time-out.
std::optional<std::string> WaitForRecord(const std::string& path) {
  const ULONGLONG end = ::GetTickCount64() + kRecordTimeoutMs;
  for (;;) {
    const std::optional<std::string> text = test::ReadTextFile(path);
    if (text && text->size() >= 2 && text->compare(text->size() - 2, 2, "\r\n") == 0) {
      return text->substr(0, text->size() - 2);
    }
    if (::GetTickCount64() > end) {
      return std::nullopt;
    }
    ::Sleep(20);
  }
}

bool SetDefaultValue(const std::string& keyName, DWORD type, const std::string& data) {
  UniqueHkey key;
  if (::RegCreateKeyExA(HKEY_CLASSES_ROOT, keyName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS) {
    return false;
  }
  return ::RegSetValueExA(key.get(), nullptr, 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>(data.size() + 1)) == ERROR_SUCCESS;
}

// An extension and a class of this test's own; both keys go when the test ends.
class Launching : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string unique = Unique();
    extension_ = Cat("vlt", unique);
    className_ = Cat("Vorlatch.LaunchTest.", unique);
    programFolder_ = folder_.Subfolder("my programs");
    ASSERT_TRUE(SetDefaultValue(Cat(".", extension_), REG_SZ, className_));
  }
  void TearDown() override {
    ::RegDeleteTreeA(HKEY_CLASSES_ROOT, (Cat(".", extension_)).c_str());
    ::RegDeleteKeyA(HKEY_CLASSES_ROOT, (Cat(".", extension_)).c_str());
    ::RegDeleteTreeA(HKEY_CLASSES_ROOT, className_.c_str());
    ::RegDeleteKeyA(HKEY_CLASSES_ROOT, className_.c_str());
  }

  bool RegisterCommand(const std::string& command, DWORD type = REG_SZ) {
    return SetDefaultValue(className_ + "\\Shell\\Open\\Command", type, command);
  }

  // A batch file that writes "[<its arguments>]" into `record`.
  std::string Recorder(const std::string& name, const std::string& record) {
    const std::string path = programFolder_ + name;
    std::string script = "@echo [%*]> ";
    script.append(Quoted(record));
    script.append("\r\n");
    EXPECT_TRUE(test::WriteTextFile(path, script));
    return path;
  }

  std::string Document(const std::string& name) {
    const std::string path = folder_.File(name);
    EXPECT_TRUE(test::WriteTextFile(path, "some text\r\n"));
    return path;
  }

  TempFolder folder_;
  std::string extension_;
  std::string className_;
  std::string programFolder_;
};

TEST_F(Launching, OpenCommandIsTheProgramPartOfTheRegisteredCommand) {
  const std::string document = Cat("C:\\Docs\\letter.", extension_);
  struct Case {
    std::string registered;
    std::string expected;
  };
  const Case cases[] = {
      {"\"C:\\Program Files\\My Viewer\\view.exe\" /open \"%1\"",
       "\"C:\\Program Files\\My Viewer\\view.exe\""},
      {"\"C:\\Tools\\view.exe\" \"%1\"", "C:\\Tools\\view.exe"},
      {"notepad.exe %1", "notepad.exe"},
      {"C:\\Program Files\\My Viewer\\view.exe", "C:\\Program Files\\My Viewer\\view.exe"},
      {"C:\\Program Files\\My Viewer\\view.exe \"%1\"",
       "\"C:\\Program Files\\My Viewer\\view.exe\""},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(RegisterCommand(c.registered));
    EXPECT_EQ(FindOpenCommand(document), c.expected) << c.registered;
  }
  // Extensions compare without regard to case; a quote after the name closes the path.
  EXPECT_EQ(FindOpenCommand(Cat("C:\\Docs\\LETTER.", extension_)),
            "\"C:\\Program Files\\My Viewer\\view.exe\"");
  EXPECT_EQ(FindOpenCommand(Cat("\"C:\\My Docs\\letter.", extension_, "\"")),
            "\"C:\\Program Files\\My Viewer\\view.exe\"");
}

TEST_F(Launching, ExpandableCommandIsExpandedFirst) {
  char root[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableA("SystemRoot", root, MAX_PATH);
  ASSERT_GT(length, 0u);
  ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
  const std::string document = Cat("C:\\Docs\\letter.", extension_);

  ASSERT_TRUE(RegisterCommand("%SystemRoot%\\system32\\notepad.exe %1", REG_EXPAND_SZ));
  EXPECT_EQ(FindOpenCommand(document), std::string(root) + "\\system32\\notepad.exe");
  // The same text as a plain string stays as it is.
  ASSERT_TRUE(RegisterCommand("%SystemRoot%\\system32\\notepad.exe %1", REG_SZ));
  EXPECT_EQ(FindOpenCommand(document), "%SystemRoot%\\system32\\notepad.exe");
  // An expansion that does not fit the buffer gives none rather than a cut program path.
  test::ScopedEnvironment longValue("VORLATCH_LONG_DIR", std::string(600, 'd'));
  ASSERT_TRUE(RegisterCommand("%VORLATCH_LONG_DIR%\\view.exe %1", REG_EXPAND_SZ));
  EXPECT_EQ(FindOpenCommand(document), "");
}

TEST_F(Launching, NoOpenCommandWithoutAFullRegistration) {
  const std::string document = Cat("C:\\Docs\\letter.", extension_);
  // The class has no Shell\Open\Command yet.
  EXPECT_EQ(FindOpenCommand(document), "");
  // A command of another type, and one too long for the buffer.
  ASSERT_TRUE(RegisterCommand("notepad.exe %1", REG_MULTI_SZ));
  EXPECT_EQ(FindOpenCommand(document), "");
  ASSERT_TRUE(RegisterCommand(Cat("notepad.exe ", std::string(600, 'a')), REG_SZ));
  EXPECT_EQ(FindOpenCommand(document), "");
  // A class name that is not a string.
  ASSERT_TRUE(RegisterCommand("notepad.exe %1"));
  ASSERT_EQ(FindOpenCommand(document), "notepad.exe");
  ASSERT_TRUE(SetDefaultValue(Cat(".", extension_), REG_EXPAND_SZ, className_));
  EXPECT_EQ(FindOpenCommand(document), "");
  ASSERT_TRUE(SetDefaultValue(Cat(".", extension_), REG_SZ, ""));
  EXPECT_EQ(FindOpenCommand(document), "");

  EXPECT_EQ(FindOpenCommand(""), "");
  EXPECT_EQ(FindOpenCommand("C:\\Docs\\letter"), "");
  EXPECT_EQ(FindOpenCommand(Cat("C:\\Docs\\letter.vlnone", Unique())), "");
}

TEST_F(Launching, RunProgramWaitsAsLongAsAsked) {
  const std::string record = folder_.File("ran.txt");
  const std::string recorder = Recorder("record.cmd", record);
  std::string commandLine = Quoted(recorder);
  commandLine.append(" one two");
  ASSERT_EQ(RunProgram(commandLine, kRecordTimeoutMs), 1);
  // The wait ended with the process, so the record is there at once.
  const std::optional<std::string> text = test::ReadTextFile(record);
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text, "[one two]\r\n");

  EXPECT_EQ(RunProgram(Quoted(programFolder_ + "missing.exe"), 0), 0);
  EXPECT_EQ(RunProgram("", 0), 0);
}

TEST_F(Launching, RunProgramWithoutWaitReturnsWhileTheProgramRuns) {
  // The batch file reads a pipe that only this test writes to; the record comes after that,
  // so it cannot be there when RunProgram returns. When the test ends early the pipe closes
  // and the batch file ends too.
  const std::string pipeName = Cat("\\\\.\\pipe\\vorlatch-launch-", Unique());
  UniqueHandle pipe(::CreateNamedPipeA(pipeName.c_str(), PIPE_ACCESS_OUTBOUND,
                                       PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr));
  ASSERT_TRUE(pipe);
  const std::string record = folder_.File("after the pipe.txt");
  std::string script = "@type ";
  script.append(pipeName);
  script.append(" > nul\r\n@echo [released]> ");
  script.append(Quoted(record));
  script.append("\r\n");
  const std::string waiter = programFolder_ + "wait.cmd";
  ASSERT_TRUE(test::WriteTextFile(waiter, script));

  ASSERT_EQ(RunProgram(Quoted(waiter), 0), 1);
  // The program is running: it connects to the pipe.
  ASSERT_TRUE(::ConnectNamedPipe(pipe.get(), nullptr) || ::GetLastError() == ERROR_PIPE_CONNECTED);
  EXPECT_FALSE(test::FileExists(record));
  DWORD written = 0;
  ASSERT_TRUE(::WriteFile(pipe.get(), "go\r\n", 4, &written, nullptr));
  ::FlushFileBuffers(pipe.get());
  pipe.reset();
  EXPECT_EQ(WaitForRecord(record), "[released]");
}

TEST_F(Launching, ProgramIsStartedAsItself) {
  const std::string record = folder_.File("program.txt");
  const std::string program = Recorder("run me.cmd", record);
  ASSERT_TRUE(RegisterCommand("notepad.exe %1"));
  EXPECT_EQ(OpenDocument(program, 0), 1);
  EXPECT_EQ(WaitForRecord(record), "[]");
}

TEST_F(Launching, DocumentOpensWithTheProgramOfItsExtension) {
  const std::string record = folder_.File("opened.txt");
  const std::string viewer = Recorder("my viewer.cmd", record);
  ASSERT_NE(viewer.find(' '), std::string::npos);
  ASSERT_TRUE(RegisterCommand(Quoted(viewer) + " /view \"%1\""));

  const std::string document = Document(Cat("letter.", extension_));
  EXPECT_EQ(OpenDocument(document, 0), 1);
  EXPECT_EQ(WaitForRecord(record), Cat("[", document, "]"));

  // The registered path without quotes, and a document path with a blank: the document
  // reaches the program as one argument, the registered placeholder not at all.
  ASSERT_TRUE(::DeleteFileA(record.c_str()));
  ASSERT_TRUE(RegisterCommand(viewer + " \"%1\""));
  const std::string spaced = Document(Cat("my letter.", extension_));
  EXPECT_EQ(OpenDocument(spaced, 0), 1);
  EXPECT_EQ(WaitForRecord(record), Cat("[", Quoted(spaced), "]"));
}

TEST_F(Launching, DocumentWithoutAProgramIsNotOpened) {
  EXPECT_EQ(OpenDocument(Document(Cat("letter.", extension_)), 0), 0);
  ASSERT_TRUE(RegisterCommand(Quoted(programFolder_ + "gone.exe") + " \"%1\""));
  EXPECT_EQ(OpenDocument(Document(Cat("other.", extension_)), 0), 0);
  EXPECT_EQ(OpenDocument(folder_.File("missing.exe"), 0), 0);
}

}  // namespace
}  // namespace vorlatch
