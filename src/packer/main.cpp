// vorlatch-pack: builds installers from project files and inspects finished installers.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

#include "packer/packer.h"
#include "packer/source_file.h"

namespace {

constexpr const char* kUsage =
    "Usage:\n"
    "  vorlatch-pack build PROJECT [-o OUT] [--stub STUB] [--uninstaller UNINSTALLER]\n"
    "                      [--sign COMMAND]\n"
    "                      [--jobs N]\n"
    "  vorlatch-pack inspect INSTALLER\n"
    "  vorlatch-pack --help\n"
    "\n"
    "build    packs the files that the project file names into an installer: a copy of\n"
    "         the stub followed by the package. OUT defaults to [Build] Output, else the\n"
    "         project file's name with .exe; STUB to [Build] Stub, else vorlatch-stub.exe\n"
    "         beside this program; UNINSTALLER to [Build] Uninstaller, else\n"
    "         vorlatch-uninstall.exe beside this program, else the one beside STUB.\n"
    "         COMMAND (default [Build] Sign) signs the finished installer before it gets\n"
    "         its name: %1 stands for its quoted path; it runs through /bin/sh (cmd on\n"
    "         Windows), and a non-zero exit status fails the build. [Build]\n"
    "         ExecutionLevel (requireAdministrator, the default, highestAvailable or\n"
    "         asInvoker) sets the level in the stub's and the uninstaller's manifests.\n"
    "         N threads compress the files (default: one per core); the installer is\n"
    "         the same bytes for every N and every run (but for a locked installer's\n"
    "         fresh key). With SOURCE_DATE_EPOCH set (seconds since 1970), times later\n"
    "         than it are stored as it, and a locked installer's key comes from the\n"
    "         project file, so that every build gives the same bytes.\n"
    "inspect  prints the script of an installer and every packed item with its position,\n"
    "         length, size, attributes and times, and whether it inflates to its size;\n"
    "         says whether the installer is signed (where its certificate table lies),\n"
    "         the execution level its stub asks for, and whether the installer asks for a\n"
    "         password (never the password).\n"
    "\n"
    "Exit status: 0 on success, 1 when building or inspecting fails, 2 on a usage error.\n";

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
  std::string error;
  std::ostringstream warnings;
  options.warnings = &warnings;
  const bool built = vorlatch::packer::BuildInstaller(options, error);
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
  return UsageError("unknown command " + std::string(command));
}
