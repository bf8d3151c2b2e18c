#pragma once
// The package builder: turns a project file and the files it names into an installer
// (stub + package), and inspects existing installers. Portable C++.

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "package/format.h"
#include "package/password_text.h"

namespace vorlatch::packer {

struct BuildOptions {
  std::string project;      // path of the project file
  std::string output;       // empty: [Build] Output, else the project's name with .exe
  std::string stub;         // empty: [Build] Stub, else the stub beside the packer
  std::string uninstaller;  // empty: [Build] Uninstaller, else the one beside the packer
  std::string sign;         // empty: [Build] Sign, else the installer is not signed
  unsigned jobs = 0;        // threads that compress items; 0: one per core
  std::string compression;  // lzma or zlib; empty: [Build] Compression, else lzma
  int solid = -1;           // 0 or 1; -1: [Build] Solid, else 1 with lzma
  std::string arch;         // empty: [Build] Arch, else x86_64; which default programs to pack
  // Check the project against the catalogue of keys first: an error fails the build, and so
  // does a warning when `strict` or [Build] Strict is set.
  bool checks = false;
  bool strict = false;
  // Receives the checks' findings and the builder's warnings as "file:line: warning: ..."
  // lines; may be null.
  std::vector<std::string>* messages = nullptr;
  // FILETIME ticks: a stored time later than this is stored as this (from SOURCE_DATE_EPOCH),
  // so that a checkout made at another time builds the same bytes; set, it also makes a locked
  // installer's key come from the project file instead of the system's random source.
  std::optional<std::uint64_t> latestTime;
  // Called as the files are read: the bytes read so far of all the files' bytes, and the file
  // being read. Calls never overlap; they may come from any thread.
  std::function<void(std::uint64_t done, std::uint64_t total, const std::string& file)> progress;
  // The largest installer to make: the installer reads positions as signed 32-bit numbers.
  // Smaller only to try the refusal without writing gigabytes.
  std::uint64_t maxInstallerSize = 0x7FFFFFFF;
  // Receives one line per warning (a packed COM server that the installer will register);
  // none: no warnings.
  std::ostream* warnings = nullptr;
};

// Builds the installer. Folders (Folder<k>) and text files (TextFile) of the project are
// expanded into ordinary keys first, and count keys left out are counted. On failure returns false
// with one line in `error` naming the project file, the key and the source file, and leaves no
// output file behind. A sign command (`%1` stands for the quoted path of the finished installer,
// still under a temporary name) runs through the shell (/bin/sh, cmd on Windows) before the
// installer gets its name; a non-zero exit status, or a signed file whose package no longer opens,
// fails.
bool BuildInstaller(const BuildOptions& options, std::string& error);

// One item that the builder packs: where its keys go and where its bytes come from.
struct PlannedItem {
  std::string section;
  std::string zipKey;
  std::string posKey;
  std::string sourceKey;  // the key that named the source, for messages: "[File] Source2"
  std::string source;     // resolved path
};

// What BuildInstaller makes of a project file's bytes before it reads a file that the project
// names: the items in the order it packs them, and the script as it writes it but for the
// Zip/Pos keys that packing adds. `options.project` only places relative paths and names the
// file in messages. A locked installer's key comes from the system's random source unless
// `options.latestTime` is set, as in a build. Opens no file, except that without a stub or an
// uninstaller named it looks for the default ones (see BuildOptions); folders and text files
// of the project are not expanded, count keys left out are counted. False with `error` as
// BuildInstaller gives it for a project that it refuses at that point.
struct ProjectPlan {
  std::vector<PlannedItem> items;
  std::string script;
  std::optional<PasswordBlock> protectionBlock;  // set when [Build] Password locks it
};
bool PlanProject(const BuildOptions& options, Bytes projectBytes, ProjectPlan& plan,
                 std::string& error);

// Writes the signature (where the certificate table lies), the stub's execution level, the
// script text and every item (position, length, size, attributes, times, and whether it
// inflates to its stated size). Returns false when the installer is damaged.
bool InspectInstaller(const std::string& path, std::ostream& out, std::string& error);
// The same for an installer's bytes already in memory; `path` only names it.
bool InspectInstallerBytes(const std::string& path, Bytes file, std::ostream& out,
                           std::string& error);

}  // namespace vorlatch::packer
