// vorlatch-pack: builds installers from project files and inspects finished installers.

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "packer/installer_extraction.h"
#include "packer/packer.h"
#include "packer/project_starter.h"
#include "packer/source_file.h"

#ifdef _WIN32
#include <io.h>
#define VORLATCH_IS_TERMINAL(file) (_isatty(_fileno(file)) != 0)
#else
#include <unistd.h>
#define VORLATCH_IS_TERMINAL(file) (isatty(fileno(file)) != 0)
#endif

namespace {

constexpr const char* kUsage =
    "Usage:\n"
    "  vorlatch-pack build PROJECT [-o OUT] [--stub STUB] [--uninstaller UNINSTALLER]\n"
    "                      [--sign COMMAND] [--arch x86_64|i686] [--strict]\n"
    "                      [--jobs N] [--compression lzma|zlib] [--solid 1|0]\n"
    "  vorlatch-pack new FOLDER [-o PROJECT]\n"
    "  vorlatch-pack inspect INSTALLER\n"
    "  vorlatch-pack extract INSTALLER FOLDER\n"
    "  vorlatch-pack --help\n"
    "\n"
    "build    packs the files that the project file names into an installer: a copy of\n"
    "         the stub followed by the package. OUT defaults to [Build] Output, else the\n"
    "         project file's name with .exe; STUB to [Build] Stub, else the\n"
    "         vorlatch-stub.exe of the architecture (--arch, else [Build] Arch, else\n"
    "         x86_64) found in x86_64/ or i686/ beside this program (a release), in\n"
    "         ../../win64/bin or ../../win32/bin (a build tree), or beside this program;\n"
    "         UNINSTALLER to [Build] Uninstaller, else vorlatch-uninstall.exe beside that\n"
    "         stub. The project is checked first: mistakes are reported as\n"
    "         FILE:LINE: error|warning: MESSAGE; an error fails the build, and with\n"
    "         --strict (or [Build] Strict=1) a warning does too. [File] Folder<k> packs a\n"
    "         folder tree, TextFile a screen's text; count keys may be left out.\n"
    "         COMMAND (default [Build] Sign) signs the finished installer before it gets\n"
    "         its name: %1 stands for its quoted full path; it runs through /bin/sh\n"
    "         (cmd on Windows), [Build] Sign in the project file's folder, and a\n"
    "         non-zero exit status fails the build. [Build]\n"
    "         ExecutionLevel (requireAdministrator, the default, highestAvailable or\n"
    "         asInvoker) sets the level in the stub's and the uninstaller's manifests;\n"
    "         without it [General] Scope=user gives asInvoker.\n"
    "         N threads compress the files (default: one per core); the installer is\n"
    "         the same bytes for every N and every run (but for a locked installer's\n"
    "         fresh key). With SOURCE_DATE_EPOCH set (seconds since 1970), times later\n"
    "         than it are stored as it, and a locked installer's key comes from the\n"
    "         project file, so that every build gives the same bytes. On a terminal\n"
    "         the progress shows on one line. Files are compressed with LZMA (default,\n"
    "         or [Build] Compression) or zlib; with --solid 1 (default with lzma, or\n"
    "         [Build] Solid) files that the installer extracts one after the other\n"
    "         share LZMA streams of up to 64 MB; [Build] Dictionary=MB (1 to 128,\n"
    "         default 64) caps the memory an installer needs to decode them.\n"
    "new      writes a commented starter project (default FOLDER's name with .vlp in\n"
    "         the current folder, never over an existing file) that installs FOLDER\n"
    "         with a Start Menu shortcut to its first .exe and an uninstaller.\n"
    "inspect  prints the script of an installer and every packed item with its position,\n"
    "         length, size, attributes, times, method (and LZMA block) and ratio, and\n"
    "         whether it decodes to its size;\n"
    "         says whether the installer is signed (where its certificate table lies),\n"
    "         the execution level its stub asks for, and whether the installer asks for a\n"
    "         password (never the password).\n"
    "extract  writes every packed item into FOLDER (new or empty) under the folder the\n"
    "         installer would use (BID/..., SYSTEM/..., TEMP/ for the DLL and the Before\n"
    "         and After files) with its times and attributes, and the script as\n"
    "         Vorlatch.ini.\n"
    "\n"
    "The script reference (docs/script.md) describes every section and key.\n"
    "\n"
    "Exit status: 0 on success, 1 when a command fails, 2 on a usage error.\n";

// The build's progress on one line of the terminal, rewritten in place; nothing at all when
// neither output is a terminal (a log or a pipe gets only what it got before).
class ProgressLine {
 public:
  void Show(std::uint64_t done, std::uint64_t total, const std::string& file) {
    const auto now = std::chrono::steady_clock::now();
    if (out_ == nullptr || (shownLength_ != 0 && done < total && now - shown_ < kEvery)) {
      return;
    }
    shown_ = now;
    const std::size_t cut = file.find_last_of("/\\");
    char text[160];
    const int length =
        std::snprintf(text, sizeof text, "packing: %.1f of %.1f MB (%d%%), %.60s", done / 1048576.0,
                      total / 1048576.0, total == 0 ? 100 : static_cast<int>(done * 100 / total),
                      file.c_str() + (cut == std::string::npos ? 0 : cut + 1));
    const int shown = std::max(0, std::min<int>(length, sizeof text - 1));
    // Blanks over what is left of a longer line before.
    std::fprintf(out_, "\r%s%*s", text, std::max(0, shownLength_ - shown), "");
    std::fflush(out_);
    shownLength_ = std::max(shown, 1);
  }
  void End() {
    if (out_ != nullptr && shownLength_ != 0) {
      std::fputc('\n', out_);
      std::fflush(out_);
    }
  }

 private:
  static constexpr std::chrono::milliseconds kEvery{100};
  std::FILE* out_ = VORLATCH_IS_TERMINAL(stderr)   ? stderr
                    : VORLATCH_IS_TERMINAL(stdout) ? stdout
                                                   : nullptr;
  std::chrono::steady_clock::time_point shown_;
  int shownLength_ = 0;
};

int UsageError(const std::string& problem) {
  std::fprintf(stderr, "vorlatch-pack: %s (try --help)\n", problem.c_str());
  return 2;
}

int Build(int argc, char** argv) {
  vorlatch::packer::BuildOptions options;
  for (int i = 2; i < argc; ++i) {
    const std::string_view arg = argv[i];
    std::string* value = nullptr;
    std::string jobs;
    if (arg == "-j" || arg == "--jobs") {
      if (i + 1 >= argc) {
        return UsageError(std::string(arg) + " needs a value");
      }
      jobs = argv[++i];
      char* end = nullptr;
      errno = 0;
      const unsigned long n = std::strtoul(jobs.c_str(), &end, 10);
      if (jobs.empty() || *end != '\0' || errno != 0 || n < 1 || n > 256 || jobs[0] == '-') {
        return UsageError(std::string(arg) + " needs a number from 1 to 256, not " + jobs);
      }
      options.jobs = static_cast<unsigned>(n);
      continue;
    }
    if (arg == "--compression") {
      if (i + 1 >= argc ||
          (std::string_view(argv[i + 1]) != "lzma" && std::string_view(argv[i + 1]) != "zlib")) {
        return UsageError("--compression needs lzma or zlib");
      }
      options.compression = argv[++i];
      continue;
    }
    if (arg == "--solid") {
      if (i + 1 >= argc ||
          (std::string_view(argv[i + 1]) != "1" && std::string_view(argv[i + 1]) != "0")) {
        return UsageError("--solid needs 1 or 0");
      }
      options.solid = argv[++i][0] - '0';
      continue;
    }
    if (arg == "--strict") {
      options.strict = true;
      continue;
    }
    if (arg == "--arch") {
      if (i + 1 >= argc ||
          (std::string_view(argv[i + 1]) != "x86_64" && std::string_view(argv[i + 1]) != "i686")) {
        return UsageError("--arch needs x86_64 or i686");
      }
      options.arch = argv[++i];
      continue;
    }
    if (arg == "-o" || arg == "--output") {
      value = &options.output;
    } else if (arg == "--stub") {
      value = &options.stub;
    } else if (arg == "--uninstaller") {
      value = &options.uninstaller;
    } else if (arg == "--sign") {
      value = &options.sign;
    } else if (!arg.empty() && arg.front() == '-' && arg != "-") {
      return UsageError("unknown option " + std::string(arg));
    } else if (options.project.empty()) {
      options.project = arg;
      continue;
    } else {
      return UsageError("more than one project file: " + std::string(arg));
    }
    if (i + 1 >= argc || argv[i + 1][0] == '\0') {
      return UsageError(std::string(arg) + " needs a value");
    }
    *value = argv[++i];
  }
  if (options.project.empty()) {
    return UsageError("build needs a project file");
  }
  // The reproducible-builds convention: the time of the sources' last change, set by the
  // build environment.
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch != nullptr) {
    char* end = nullptr;
    errno = 0;
    const long long seconds = std::strtoll(epoch, &end, 10);
    // Up to the last second of the year 9999, the end of the times the installer shows.
    if (*epoch < '0' || *epoch > '9' || *end != '\0' || errno != 0 || seconds > 253402300799) {
      return UsageError("SOURCE_DATE_EPOCH must be seconds since 1970, not \"" +
                        std::string(epoch) + "\"");
    }
    options.latestTime = vorlatch::packer::FileTimeFromUnix(seconds, 0);
  }
  ProgressLine progress;
  options.progress = [&progress](std::uint64_t done, std::uint64_t total, const std::string& file) {
    progress.Show(done, total, file);
  };
  std::string error;
  std::vector<std::string> messages;
  options.checks = true;
  options.messages = &messages;
  std::ostringstream warnings;
  options.warnings = &warnings;
  const bool built = vorlatch::packer::BuildInstaller(options, error);
  progress.End();
  for (const std::string& message : messages) {
    std::fprintf(stderr, "%s\n", message.c_str());
  }
  std::istringstream lines(warnings.str());
  for (std::string line; std::getline(lines, line);) {
    std::fprintf(stderr, "vorlatch-pack: %s\n", line.c_str());
  }
  if (!built) {
    std::fprintf(stderr, "vorlatch-pack: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

int New(int argc, char** argv) {
  std::string folder, project;
  for (int i = 2; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if ((arg == "-o" || arg == "--output") && i + 1 < argc && argv[i + 1][0] != '\0') {
      project = argv[++i];
    } else if (!arg.empty() && arg.front() != '-' && folder.empty()) {
      folder = arg;
    } else {
      return UsageError("new takes a folder and [-o PROJECT], not " + std::string(arg));
    }
  }
  if (folder.empty()) {
    return UsageError("new needs the folder to install");
  }
  std::string error;
  if (!vorlatch::packer::WriteStarterProject(folder, project, error)) {
    std::fprintf(stderr, "vorlatch-pack: %s\n", error.c_str());
    return 1;
  }
  std::printf("wrote %s; build it with: vorlatch-pack build %s\n", project.c_str(),
              project.c_str());
  return 0;
}

int Extract(int argc, char** argv) {
  if (argc != 4) {
    return UsageError("extract needs an installer and a folder");
  }
  std::string error;
  const bool done = vorlatch::packer::ExtractInstaller(argv[2], argv[3], std::cout, error);
  std::cout.flush();
  if (!done) {
    std::fprintf(stderr, "vorlatch-pack: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

int Inspect(int argc, char** argv) {
  if (argc != 3) {
    return UsageError("inspect needs exactly one installer");
  }
  std::string error;
  const bool sound = vorlatch::packer::InspectInstaller(argv[2], std::cout, error);
  std::cout.flush();
  if (!sound) {
    std::fprintf(stderr, "vorlatch-pack: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    return UsageError("no command given");
  }
  const std::string_view command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "build") {
    return Build(argc, argv);
  }
  if (command == "inspect") {
    return Inspect(argc, argv);
  }
  if (command == "new") {
    return New(argc, argv);
  }
  if (command == "extract") {
    return Extract(argc, argv);
  }
  return UsageError("unknown command " + std::string(command));
}
