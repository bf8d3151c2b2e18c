// libFuzzer target: the command lines that reach the installer and the uninstaller (the
// stub's switches and package path, the uninstaller's switches) and the command texts made
// from script and registry values (programs to start, open commands, link commands). The
// input is split at its first zero byte into two texts. A finding is a broken invariant, a
// read outside the input, a leak or undefined behaviour.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "package/command_line.h"
#include "stages/command_text.h"
#include "ui/link_command.h"
#include "uninstaller/uninstall_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t zero = input.find('\0');
  const std::string first(input.substr(0, zero));
  const std::string second(zero == std::string_view::npos ? std::string_view()
                                                          : input.substr(zero + 1));

  const vorlatch::StubCommandLine stub = vorlatch::ParseStubCommandLine(first);
  if (vorlatch::PackagePathFromCommandLine(first) != stub.packagePath) {
    __builtin_trap();
  }
  if (stub.error.empty() && ((stub.logFile && stub.logFile->empty()) ||
                             (stub.destination && stub.destination->empty()))) {
    __builtin_trap();  // an empty /LOG= or /D= is a bad command line
  }

  const vorlatch::UninstallCommand uninstall = vorlatch::ParseUninstallCommand(first);
  if (uninstall.mode == vorlatch::UninstallMode::kFinish && uninstall.handle == 0) {
    __builtin_trap();
  }
  (void)vorlatch::ArgumentsOf(second);

  const std::string program = vorlatch::ProgramPart(first);
  const vorlatch::CommandParts parts = vorlatch::SplitCommand(first);
  if (program.size() > first.size() + 2 || parts.program.size() > first.size()) {
    __builtin_trap();
  }
  const std::string argument = vorlatch::PathArgument(second);
  if (second.find(' ') != std::string::npos &&
      (argument.size() < 2 || argument.front() != '"' || argument.back() != '"')) {
    __builtin_trap();  // a path with blanks reaches the program as one argument
  }
  (void)vorlatch::OpenCommandLine(first, second);

  const std::string cut = vorlatch::CommandBeforePlaceholder(first);
  if (first.compare(0, cut.size(), cut) != 0) {
    __builtin_trap();
  }
  if (const auto line = vorlatch::LinkCommandLine(first, second)) {
    if (line->size() + 1 > vorlatch::kMaxLinkCommandLine ||
        line->compare(line->size() - second.size(), second.size(), second) != 0) {
      __builtin_trap();  // never cut: a cut address would open another page
    }
  }
  return 0;
}
