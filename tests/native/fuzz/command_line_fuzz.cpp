// libFuzzer target: the command lines that reach the installer and the uninstaller (the
// stub's switches and package path, the uninstaller's switches) and the command texts made
// from script and registry values (programs to start, open commands, link commands). The
// input is split at its first zero byte into two texts. Each text is also put into the
// command lines that deployment tools, the installer and the uninstaller write, and must come
// back whole from the parser that reads them. A finding is a text that does not, a read
// outside the input, a leak or undefined behaviour.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "actions/uninstaller_interface.h"
#include "package/command_line.h"
#include "stages/command_text.h"
#include "ui/link_command.h"
#include "uninstaller/uninstall_text.h"

namespace {

constexpr std::string_view kWhiteSpace = " \t\r\n\v\f";

std::string Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kWhiteSpace);
  if (first == std::string_view::npos) {
    return std::string();
  }
  return std::string(text.substr(first, text.find_last_not_of(kWhiteSpace) - first + 1));
}

// A name that Windows allows in a path: no double quote, no control character.
bool IsPathText(std::string_view text) {
  for (const char c : text) {
    if (c == '"' || static_cast<unsigned char>(c) < 0x20) {
      return false;
    }
  }
  return true;
}

// The switches of an unattended run as a deployment tool writes them: the log path quoted as
// the installer quotes paths, the password in quotes, the destination as the rest of the line.
void CheckStubSwitches(const std::string& path, const std::string& text) {
  if (path.empty() || !IsPathText(path) || !IsPathText(text) || text.empty() ||
      Trimmed(text) != text) {
    return;
  }
  const vorlatch::StubCommandLine parsed =
      vorlatch::ParseStubCommandLine("\"" + path + "\" /S /LOG=" + vorlatch::PathArgument(path) +
                                     " /PASSWORD=\"" + text + "\" /D=" + text);
  if (!parsed.error.empty() || parsed.packagePath != path || !parsed.silent ||
      parsed.logFile != path || parsed.password != text || parsed.destination != text) {
    __builtin_trap();
  }
}

// The uninstaller as the system's uninstall entry, the installer's rollback and its own
// self-removal start it.
void CheckUninstallCommands(const std::string& path, std::uint64_t handle) {
  if (path.find('"') != std::string::npos) {
    return;
  }
  const std::string program = "\"" + path + "\"";
  const auto quiet = vorlatch::ParseUninstallCommand(program + " " + vorlatch::kSilentSwitch);
  const auto rollback = vorlatch::ParseUninstallCommand(program + " " + vorlatch::kRollbackSwitch);
  const auto finish = vorlatch::ParseUninstallCommand(program + " " + vorlatch::kFinishSwitch +
                                                      " " + std::to_string(handle));
  if (vorlatch::ParseUninstallCommand(program).mode != vorlatch::UninstallMode::kInteractive ||
      quiet.mode != vorlatch::UninstallMode::kSilent ||
      rollback.mode != vorlatch::UninstallMode::kRollback ||
      finish.mode != vorlatch::UninstallMode::kFinish || finish.handle != handle) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t zero = input.find('\0');
  const std::string first(input.substr(0, zero));
  const std::string second(zero == std::string_view::npos ? std::string_view()
                                                          : input.substr(zero + 1));

  (void)vorlatch::ParseStubCommandLine(first);
  (void)vorlatch::ParseUninstallCommand(first);
  (void)vorlatch::ArgumentsOf(second);
  (void)vorlatch::ProgramPart(first);
  (void)vorlatch::OpenCommandLine(first, second);
  (void)vorlatch::LinkCommandLine(first, second);

  CheckStubSwitches(first, second);
  // A handle's number as Windows gives them: 32 significant bits, never 0.
  std::uint64_t handle = 0x811C9DC5;
  for (const char c : second) {
    handle = ((handle ^ static_cast<unsigned char>(c)) * 0x01000193) & 0xFFFFFFFF;
  }
  CheckUninstallCommands(first, handle + 1);

  // A program that the installer starts: a path with blanks reaches it as one program, and
  // the arguments after it stay arguments.
  if (first.find(' ') != std::string::npos && first.find('"') == std::string::npos) {
    const vorlatch::CommandParts parts =
        vorlatch::SplitCommand(vorlatch::PathArgument(first) + ' ' + second);
    if (parts.program != first || parts.arguments != Trimmed(second)) {
      __builtin_trap();
    }
  }
  return 0;
}
