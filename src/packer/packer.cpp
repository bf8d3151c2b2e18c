#include "packer/packer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <ostream>
#include <string_view>
#include <vector>

#include "package/format.h"
#include "package/lzma_item.h"
#include "package/pe_image.h"
#include "package/signature_layout.h"
#include "packer/execution_level.h"
#include "packer/ini_text.h"
#include "packer/lzma_packing.h"
#include "packer/ordered_work.h"
#include "packer/packed_item.h"
#include "packer/password_protection.h"
#include "packer/project_checks.h"
#include "packer/project_expansion.h"
#include "packer/registration_warning.h"
#include "packer/script_catalogue.h"
#include "packer/source_file.h"
#include "stages/command_text.h"

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace vorlatch::packer {

namespace {

// A source is read and compressed in pieces of this size.
constexpr std::size_t kReadPiece = 1 << 18;
// What the items waiting to be written may hold in memory together; a longer item goes to a
// part file of its own beside the installer.
constexpr std::uint64_t kHeldItemsBudget = 96ull << 20;
// Signing tools pad a file to a multiple of 8 before they append the certificate table; an
// installer of such a length needs no padding.
constexpr std::uint64_t kSigningAlignment = 8;
// Files share an LZMA stream until their content reaches this: fixed, so that the blocks and
// the installer's bytes never depend on the number of jobs.
constexpr std::uint64_t kSolidBlockLimit = 64ull << 20;
constexpr long long kDefaultDictionaryMb = 64;
constexpr long long kMaxDictionaryMb = 128;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

std::string Quoted(const std::string& path) {
  return "'" + path + "'";
}

std::string KeyLabel(std::string_view section, std::string_view key) {
  // Appended piece by piece: GCC 12 misreports "literal" + string as overlapping copies.
  std::string label = "[";
  label.append(section).append("] ").append(key);
  return label;
}

// The program of an [After] File command, as the stub finds it among the installed files
// and extracts it: the program part without quotes, arguments left out.
std::string ProgramPartOf(std::string_view command) {
  return SplitCommand(std::string(command)).program;
}

// Index of the installed file with this name (without regard to case), 0 when none.
// Compared as the installer compares them at the least: two names that it may tell apart
// (a trail byte that is a letter) never count as one here.
long long InstalledFileIndex(const IniText& project, long long count, std::string_view name,
                             const CodePage& codePage) {
  const std::string upper = codePage.AsciiUpper(name);
  for (long long n = 1; n <= count; ++n) {
    if (codePage.AsciiUpper(project.GetString("File", "File" + std::to_string(n))) == upper) {
      return n;
    }
  }
  return 0;
}

constexpr char kUtf8Name[] = "UTF-8";
// The largest program image held whole to look for a COM server's export.
constexpr std::uint64_t kMaxWarnedImage = 64u << 20;
constexpr char kEmptySource[] = "empty file (an installer cannot extract a 0-byte file)";

// The script is the project without what only the builder reads, and without any Zip/Pos
// keys: the builder writes those itself.
IniText ScriptOf(const IniText& project) {
  IniText script = project;
  script.RemoveSection("Build");
  for (const IniSection& section : project.Sections()) {
    const auto found = FindSection(section.name);
    if (!found) {
      continue;
    }
    script.RemoveIf(section.name, [&](const std::string& key) {
      const auto match = FindKey(found->section->name, key);
      return match &&
             (match->key->role == KeyRole::Builder || match->key->role == KeyRole::Written);
    });
  }
  return script;
}

class Builder {
 public:
  Builder(const BuildOptions& options, std::string& error) : options_(options), error_(error) {}

  bool Plan(Bytes projectBytes, ProjectPlan& plan) {
    readFiles_ = false;
    projectBytes_.assign(projectBytes.begin(), projectBytes.end());
    if (!ReadProjectText() || !PlanItems()) {
      return false;
    }
    IniText script = PlannedScript();
    SetProtectionKeys(script);
    plan.items = items_;
    plan.script = script.Serialize();
    if (protection_) {
      plan.protectionBlock = protection_->block;
    }
    return true;
  }

  bool Run() {
    if (!ReadProject() || !PlanItems() || !CheckOutputIsNoInput()) {
      return false;
    }
    const std::string temporary = output_ + ".tmp-" + std::to_string(ProcessId());
    bool written = false;
    try {
      written = WriteInstaller(temporary);
    } catch (const std::bad_alloc&) {
      // A source too large for this machine's memory: a message, and no half-written file.
      written = Fail(currentKey_, currentSource_, "not enough memory to pack it");
    }
    written = written && (sign_.empty() || Sign(temporary));
    if (!written) {
      std::remove(temporary.c_str());
      return false;
    }
    if (!MoveIntoPlace(temporary, output_)) {
      std::remove(temporary.c_str());
      return Fail(outputKey_, output_, "cannot rename the finished installer to it");
    }
    return true;
  }

 private:
  bool Fail(const std::string& key, const std::string& file, const std::string& problem) {
    error_ =
        options_.project + ": " + key + ": " + (file.empty() ? "" : Quoted(file) + ": ") + problem;
    return false;
  }

  static long long ProcessId() {
#ifdef _WIN32
    return _getpid();
#else
    return getpid();
#endif
  }

  // The path as one word of the shell that runs the sign command.
  static std::string ShellQuoted(const std::string& path) {
#ifdef _WIN32
    return "\"" + path + "\"";  // a Windows path holds no double quote
#else
    std::string quoted = "'";
    for (char c : path) {
      quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
#endif
  }

  // Runs the command line through the shell; the exit status, or a text saying why there is
  // none.
  static std::optional<int> RunShell(const std::string& command, std::string& why) {
#ifdef _WIN32
    // cmd /c drops the first and the last quote of a line that begins with one: a pair of
    // our own keeps the command's quotes.
    const int status = std::system(("\"" + command + "\"").c_str());
    if (status == -1) {
      why = std::string("cannot be run: ") + std::strerror(errno);
      return std::nullopt;
    }
    return status;
#else
    const int status = std::system(command.c_str());
    if (status == -1) {
      why = std::string("cannot be run: ") + std::strerror(errno);
      return std::nullopt;
    }
    if (WIFSIGNALED(status)) {
      why = "ended by signal " + std::to_string(WTERMSIG(status));
      return std::nullopt;
    }
    return WEXITSTATUS(status);
#endif
  }

  // Runs the sign command on the finished installer, then checks that what it left is a
  // signed installer whose package still opens where it was written.
  bool Sign(const std::string& temporary) {
    // [Build] Sign runs in the project's folder, where the other [Build] paths start (--sign,
    // like the other options, where the packer runs); the installer is named by its full path.
    std::error_code unknown;
    const std::filesystem::path full = std::filesystem::absolute(temporary, unknown);
    const std::string installer = unknown ? temporary : full.string();
    std::string command;
    if (!folder_.empty() && options_.sign.empty()) {
#ifdef _WIN32
      command = "cd /d " + ShellQuoted(folder_) + " && ";
#else
      command = "cd " + ShellQuoted(folder_) + " && ";
#endif
    }
    for (std::size_t at = 0; at < sign_.size(); ++at) {
      if (sign_.compare(at, 2, "%1") == 0) {
        command += ShellQuoted(installer);
        ++at;
      } else {
        command += sign_[at];
      }
    }
    std::fflush(stdout);
    std::string why;
    const auto status = RunShell(command, why);
    if (!status) {
      return Fail(signKey_, sign_, why);
    }
    if (*status != 0) {
      return Fail(signKey_, sign_, "exited with status " + std::to_string(*status));
    }
    std::vector<std::uint8_t> signedBytes;
    ItemTail unused;
    std::string problem;
    if (!ReadSourceFile(temporary, signedBytes, unused, problem)) {
      return Fail(signKey_, sign_, "the signed installer cannot be read: " + problem);
    }
    if (!LocateCertificateTable(signedBytes)) {
      return Fail(signKey_, sign_, "left the installer without a certificate table at its end");
    }
    const Bytes package = PackageOf(signedBytes);
    const auto block = LocateScriptBlock(package);
    const auto script = block ? InflateItem(*block) : std::nullopt;
    if (package.size() != writtenSize_ || !script ||
        !std::equal(script->begin(), script->end(), scriptText_.begin(), scriptText_.end())) {
      return Fail(signKey_, sign_, "the signed installer's package no longer opens");
    }
    return true;
  }

  static bool MoveIntoPlace(const std::string& from, const std::string& to) {
#ifdef _WIN32
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
  }

  // The installer replaces the output file: it must not be one of the files it is made of,
  // by whatever spelling or link.
  bool CheckOutputIsNoInput() {
    const std::optional<FileIdentity> output = IdentityOf(output_);
    if (!output) {
      return true;  // a new file
    }
    if (IdentityOf(options_.project) == output) {
      return Fail(outputKey_, output_, "is the project file itself");
    }
    if (IdentityOf(stub_) == output) {
      return Fail(outputKey_, output_, "is the stub itself (" + stubKey_ + ")");
    }
    for (const PlannedItem& planned : items_) {
      if (IdentityOf(planned.source) == output) {
        return Fail(outputKey_, output_, "is also packed, as " + planned.sourceKey);
      }
    }
    return true;
  }

  // The uninstaller runs in the stub's world (its system folder, its registry view): both
  // must be built for the same machine. Files that are no PE image are not judged here.
  // Empty when they match.
  std::string MachineMismatch(Bytes content) const {
    const std::optional<std::uint16_t> machine = PeMachineOf(content);
    if (!stubMachine_ || !machine || *machine == *stubMachine_) {
      return std::string();
    }
    return "built for " + MachineName(*machine) + ", but the stub " + Quoted(stub_) +
           " is built for " + MachineName(*stubMachine_) + "; they must match";
  }

  bool ReadProject() {
    std::string problem;
    if (!ReadSourceFile(options_.project, projectBytes_, projectTail_, problem)) {
      error_ = options_.project + ": cannot read the project file: " + problem;
      return false;
    }
    ClampTimes(projectTail_);
    return ReadProjectText();
  }

  // Everything taken from the project's bytes; reads no file.
  bool ReadProjectText() {
    project_ = IniText::Parse(std::string_view(reinterpret_cast<const char*>(projectBytes_.data()),
                                               projectBytes_.size()));
    folder_ = FolderOf(options_.project);

    // The Windows paths of the project are in the code page of the systems that install it;
    // a double-byte one decides which bytes are backslashes.
    // UTF-8 also makes the installer and its uninstaller run with it (Windows 10 1903 on).
    if (auto number = project_.Get("Build", "CodePage")) {
      if (EqualNoCase(*number, kUtf8Name) || *number == "65001") {
        if (!IsUtf8Text(std::string_view(reinterpret_cast<const char*>(projectBytes_.data()),
                                         projectBytes_.size()))) {
          return Fail("[Build] CodePage", options_.project,
                      "UTF-8 asked for, but the project "
                      "file is not UTF-8 text");
        }
        utf8_ = true;
        codePage_ = CodePage();
      } else if (number->empty() || number->size() > 5 ||
                 number->find_first_not_of("0123456789") != std::string::npos) {
        return Fail("[Build] CodePage", "",
                    Quoted(*number) + " is not a code page number (or UTF-8)");
      } else {
        codePage_ = CodePage::Numbered(static_cast<unsigned>(std::stoul(*number)));
      }
    }

    if (!options_.stub.empty()) {
      stub_ = options_.stub;
      stubKey_ = "--stub";
    } else if (auto stub = project_.Get("Build", "Stub"); stub && !stub->empty()) {
      stub_ = ResolvePath(folder_, *stub, codePage_);
      stubKey_ = "[Build] Stub";
    } else if (!FindDefaultStub()) {
      return false;
    }

    if (!options_.output.empty()) {
      output_ = options_.output;
      outputKey_ = "-o";
    } else if (auto output = project_.Get("Build", "Output"); output && !output->empty()) {
      output_ = ResolvePath(folder_, *output, codePage_);
      outputKey_ = "[Build] Output";
    } else {
      const std::string name = options_.project.substr(folder_.size());
      const std::size_t dot = name.find_last_of('.');
      output_ =
          folder_ + (dot == std::string::npos || dot == 0 ? name : name.substr(0, dot)) + ".exe";
      outputKey_ = "[Build] Output (default)";
    }

    if (output_ == options_.project) {
      return Fail(outputKey_, output_, "is the project file itself");
    }

    if (!options_.sign.empty()) {
      sign_ = options_.sign;
      signKey_ = "--sign";
    } else {
      sign_ = project_.GetString("Build", "Sign");
      signKey_ = "[Build] Sign";
    }

    if (auto level = project_.Get("Build", "ExecutionLevel")) {
      if (!IsExecutionLevel(*level)) {
        return Fail("[Build] ExecutionLevel", "",
                    Quoted(*level) +
                        " is not an execution level (requireAdministrator, highestAvailable or "
                        "asInvoker)");
      }
      level_ = *level;
    } else if (auto scope = project_.Get("General", "Scope")) {
      // A per-user installation must run without elevation, and so must its uninstaller;
      // the project checks refuse a scope that is neither word.
      level_ = EqualNoCase(*scope, "user") ? "asInvoker" : "requireAdministrator";
    }

    if (!ReadCompression()) {
      return false;
    }
    if (auto password = project_.Get("Build", "Password")) {
      std::string problem;
      // A build that must be reproducible (SOURCE_DATE_EPOCH) draws the key and the filler
      // from the project itself, so that the same project gives the same installer.
      const ByteSource source =
          options_.latestTime ? SeededBytes(projectBytes_) : ByteSource(FillRandomBytes);
      if (!ProtectPassword(*password, protection_.emplace(), problem, source)) {
        return Fail("[Build] Password", "", problem);
      }
    } else if (project_.GetInt("Before", "Protect") != 0) {
      // The protection block can only be made from the password.
      return Fail("[Before] Protect", "",
                  "a protected installer needs its password in [Build] Password");
    }
    return CheckProject() && ExpandShorthands();
  }

  // The command line's `given` word, else [Build] `key`'s, else the first of `words`; one of
  // `words`, or a failure that names where the word came from.
  bool ChooseWord(const std::string& given, const char* option, const char* key,
                  std::initializer_list<const char*> words, const char* what, std::string& chosen) {
    chosen = given;
    std::string where = option;
    if (chosen.empty()) {
      chosen = project_.GetString("Build", key, *words.begin());
      where = std::string("[Build] ") + key;
    }
    std::string list;
    for (const char* word : words) {
      if (chosen == word) {
        return true;
      }
      list += (list.empty() ? "" : " or ") + std::string(word);
    }
    return Fail(where, "", Quoted(chosen) + " is no " + what + " (" + list + ")");
  }

  bool ReadCompression() {
    std::string method;
    if (!ChooseWord(options_.compression, "--compression", "Compression", {"lzma", "zlib"},
                    "compression method", method)) {
      return false;
    }
    lzma_ = method == "lzma";
    const long long solid =
        options_.solid >= 0 ? options_.solid : project_.GetInt("Build", "Solid", 1);
    solid_ = lzma_ && solid != 0;
    const long long megabytes = project_.GetInt("Build", "Dictionary", kDefaultDictionaryMb);
    if (megabytes < 1 || megabytes > kMaxDictionaryMb) {
      return Fail("[Build] Dictionary", "",
                  "needs a number of MB from 1 to " + std::to_string(kMaxDictionaryMb));
    }
    dictionaryLimit_ = static_cast<std::uint32_t>(megabytes) << 20;
    return true;
  }

  void Tell(const std::string& message) const {
    if (options_.messages != nullptr) {
      options_.messages->push_back(message);
    }
  }

  std::string_view ProjectText() const {
    return std::string_view(reinterpret_cast<const char*>(projectBytes_.data()),
                            projectBytes_.size());
  }

  bool Strict() const {
    return options_.strict || project_.GetInt("Build", "Strict") != 0;
  }

  // The project's mistakes, each with its line; errors (and warnings when strict) fail.
  bool CheckProject() {
    if (!options_.checks) {
      return true;
    }
    int errors = 0;
    int warnings = 0;
    for (const Diagnostic& found : CheckProjectText(ProjectText())) {
      ++(found.error ? errors : warnings);
      Tell(DiagnosticText(options_.project, found));
    }
    if (errors == 0 && (warnings == 0 || !Strict())) {
      return true;
    }
    error_ = options_.project + ": " + std::to_string(errors) + " error" +
             (errors == 1 ? "" : "s") + " and " + std::to_string(warnings) + " warning" +
             (warnings == 1 ? "" : "s") +
             (errors == 0 ? " (strict: warnings count as errors)" : "") + "; no installer written";
    return false;
  }

  // Folders, text files and left-out counts become the keys that the installer reads.
  bool ExpandShorthands() {
    std::string problem;
    const ExpansionContext context{folder_, codePage_, utf8_, readFiles_};
    if (!ExpandProject(project_, context, expansion_, problem)) {
      error_ = options_.project + ": " + problem;
      return false;
    }
    for (const ExpansionWarning& warning : expansion_.warnings) {
      Tell(DiagnosticText(
          options_.project,
          Diagnostic{LineOfKey(ProjectText(), warning.section, warning.key), false,
                     KeyLabel(warning.section, warning.key) + ": " + warning.message}));
    }
    if (options_.checks && Strict() && !expansion_.warnings.empty()) {
      error_ = options_.project + ": strict: warnings count as errors; no installer written";
      return false;
    }
    return true;
  }

  // The uninstaller built with the packer; a packer built for another system (the Linux one)
  // has none beside it, and then the one built beside the stub goes in. A stub found in the
  // default places brings its own uninstaller, of the same machine.
  std::string DefaultUninstaller() const {
    const std::string name = "vorlatch-uninstall.exe";
    const std::string beside = ProgramDirectory() + name;
    const std::string besideStub = FolderOf(stub_) + name;
    if ((stubSearched_ || !IsReadableFile(beside)) && IsReadableFile(besideStub)) {
      return besideStub;
    }
    return beside;
  }

  // The stub of the asked machine: in a release, in the folder of its name beside the packer;
  // in a build tree, in the bin folder of the Windows preset beside the packer's own; else
  // the one beside the packer.
  bool FindDefaultStub() {
    std::string arch;
    if (!ChooseWord(options_.arch, "--arch", "Arch", {"x86_64", "i686"}, "architecture", arch)) {
      return false;
    }
    const std::string program = ProgramDirectory();
    const std::string preset = arch == "x86_64" ? "win64" : "win32";
    const std::string places[] = {program + arch + "/", program + "../../" + preset + "/bin/",
                                  program};
    std::string looked;
    for (const std::string& place : places) {
      if (IsReadableFile(place + "vorlatch-stub.exe")) {
        stub_ = place + "vorlatch-stub.exe";
        stubKey_ = "[Build] Stub (default for " + arch + ")";
        stubSearched_ = true;
        return true;
      }
      looked += (looked.empty() ? "" : ", ") + Quoted(place);
    }
    return Fail("[Build] Stub", "",
                "no vorlatch-stub.exe for " + arch + " in " + looked + "; build the " + preset +
                    " preset, or name the stub with --stub or [Build] Stub");
  }

  static bool IsReadableFile(const std::string& path) {
    return UniqueFile(std::fopen(path.c_str(), "rb")) != nullptr;
  }

  // Adds the item of a DLL or document unless the stub takes it from the installed files.
  bool PlanExtra(const std::string& section, const std::string& nameKey,
                 const std::string& sourceKey, const std::string& zipKey, const std::string& posKey,
                 const std::string& name, bool wanted) {
    const auto explicitSource = project_.Get(section, sourceKey);
    const bool hasSource = explicitSource && !explicitSource->empty();
    if (!hasSource && (!wanted || name.empty() || name == "~")) {
      return true;
    }
    if (name.empty()) {
      return Fail(KeyLabel(section, sourceKey), *explicitSource,
                  "needs a file name in " + KeyLabel(section, nameKey));
    }
    if (const long long n = InstalledFileIndex(project_, fileCount_, name, codePage_); n != 0) {
      if (hasSource) {
        return Fail(KeyLabel(section, sourceKey), *explicitSource,
                    "not packed: " + KeyLabel(section, nameKey) + " is installed file " +
                        std::to_string(n) + ", which the installer uses instead");
      }
      return true;
    }
    // The installer extracts its own items into its temporary directory under this name.
    if (name.find_first_of("/:") != std::string::npos ||
        codePage_.Find(name, '\\') != std::string::npos) {
      return Fail(KeyLabel(section, nameKey), name,
                  "must be a plain file name (the installer extracts it into its temporary "
                  "folder); name the file to pack with " +
                      KeyLabel(section, sourceKey));
    }
    items_.push_back(
        PlannedItem{section, zipKey, posKey, KeyLabel(section, hasSource ? sourceKey : nameKey),
                    ResolvePath(folder_, hasSource ? *explicitSource : name, codePage_)});
    return true;
  }

  bool PlanItems() {
    fileCount_ = project_.GetInt("File", "File");
    if (fileCount_ < 0 || fileCount_ > 100000) {
      return Fail("[File] File", "", "not a usable number of files");
    }
    for (long long n = 1; n <= fileCount_; ++n) {
      const std::string number = std::to_string(n);
      const std::string name = project_.GetString("File", "File" + number);
      if (name.empty()) {
        return Fail("[File] File" + number, "",
                    "no file name, but [File] File is " + std::to_string(fileCount_));
      }
      const auto source = project_.Get("File", "Source" + number);
      const bool hasSource = source && !source->empty();
      const auto origin = expansion_.fileOrigins.find(n);
      items_.push_back(PlannedItem{"File", "Zip" + number, "Pos" + number,
                                   origin != expansion_.fileOrigins.end() ? origin->second
                                   : hasSource                            ? "[File] Source" + number
                                                                          : "[File] File" + number,
                                   ResolvePath(folder_, hasSource ? *source : name, codePage_)});
    }
    if (project_.GetInt("File", "Uninstall") != 0) {
      PlannedItem item{"File", "UninstallZip", "UninstallPos", "", ""};
      if (!options_.uninstaller.empty()) {
        item.sourceKey = "--uninstaller";
        item.source = options_.uninstaller;
      } else if (auto path = project_.Get("Build", "Uninstaller"); path && !path->empty()) {
        item.sourceKey = "[Build] Uninstaller";
        item.source = ResolvePath(folder_, *path, codePage_);
      } else {
        item.sourceKey = "[Build] Uninstaller (default)";
        item.source = DefaultUninstaller();
      }
      items_.push_back(item);
    }
    const std::string dll = project_.GetString("File", "Dll");
    if (!PlanExtra("File", "Dll", "DllSource", "DllZip", "DllPos", dll, true)) {
      return false;
    }
    const std::string before = project_.GetString("Before", "File");
    if (!PlanExtra("Before", "File", "FileSource", "FileZip", "FilePos", before,
                   project_.GetInt("Before", "Load") != 0)) {
      return false;
    }
    const std::string after = ProgramPartOf(project_.GetString("After", "File"));
    return PlanExtra("After", "File", "FileSource", "FileZip", "FilePos", after,
                     project_.GetInt("After", "Run") != 0);
  }

  // One source read and packed as an item; `problem` says why not, under `problemKey` when
  // the fault is not the source's own.
  struct PackedSource {
    std::vector<PackedItem> items;  // one per item of the unit, in its order
    std::size_t failed = 0;         // the unit's item that `problem` is about
    std::string problem;
    std::string problemKey;
    std::vector<std::string> warnings;
  };

  void ClampTimes(ItemTail& tail) const {
    if (const auto& latest = options_.latestTime) {
      for (std::uint64_t* time : {&tail.creation, &tail.access, &tail.write}) {
        *time = std::min(*time, *latest);
      }
    }
  }

  void Progress(std::uint64_t bytes, const std::string& file) const {
    if (options_.progress) {
      const std::lock_guard lock(progressMutex_);
      progressDone_ += bytes;
      progressTotal_ = std::max(progressTotal_, progressDone_);
      options_.progress(progressDone_, progressTotal_, file);
    }
  }

  // The uninstaller is read whole: its manifest and header may be changed before it is packed.
  bool PackUninstaller(const PlannedItem& planned, ContentSink& deflater, ItemTail& tail,
                       PackedSource& packed) const {
    std::vector<std::uint8_t> content;
    if (!ReadSourceFile(planned.source, content, tail, packed.problem)) {
      return false;
    }
    ClampTimes(tail);
    if (content.empty()) {
      packed.problem = kEmptySource;
      return false;
    }
    packed.problem = MachineMismatch(content);
    if (!packed.problem.empty()) {
      return false;
    }
    // The uninstaller asks for the stub's level: a process that is not elevated cannot
    // start an elevated one, and the rollback starts the uninstaller from the stub.
    if (!level_.empty() && !SetExecutionLevel(content, level_, packed.problem)) {
      packed.problemKey = "[Build] ExecutionLevel";
      return false;
    }
    // It reads the log that the installer wrote in the installer's code page.
    if (utf8_ && !SetUtf8CodePage(content, packed.problem)) {
      packed.problemKey = "[Build] CodePage";
      return false;
    }
    // The installer writes the log into the uninstaller's tail after extracting it; a
    // read-only source must not give a read-only Uninstall.exe.
    tail.attributes &= ~kFileAttributeReadonly;
    if (tail.attributes == 0) {
      tail.attributes = kFileAttributeArchive;
    }
    Progress(content.size(), planned.source);
    return deflater.Add(content.data(), content.size(), packed.problem);
  }

  // Any other source is compressed as it is read, so that it is never held whole.
  // `image`, when given, receives the source's bytes if it is a program image small enough to
  // look into (for the registration warning); it stays empty otherwise.
  bool PackInPieces(const PlannedItem& planned, ContentSink& deflater, ItemTail& tail,
                    PackedSource& packed, std::vector<std::uint8_t>* image) const {
    SourceReader reader;
    std::uint64_t size = 0;
    if (!reader.Open(planned.source, tail, size, packed.problem)) {
      return false;
    }
    ClampTimes(tail);
    if (size > kMaxSourceSize) {
      packed.problem = TooLargeForAnItem();
      return false;
    }
    if (size > kMaxWarnedImage) {
      image = nullptr;
    }
    std::vector<std::uint8_t> piece(kReadPiece);
    for (;;) {
      std::size_t got = 0;
      if (!reader.Read(piece.data(), piece.size(), got)) {
        packed.problem = "read error";
        return false;
      }
      if (got == 0) {
        break;
      }
      if (image != nullptr && image->empty() && (got < 2 || piece[0] != 'M' || piece[1] != 'Z')) {
        image = nullptr;
      }
      if (image != nullptr) {
        image->insert(image->end(), piece.begin(),
                      piece.begin() + static_cast<std::ptrdiff_t>(got));
      }
      if (!deflater.Add(piece.data(), got, packed.problem)) {
        return false;
      }
      Progress(got, planned.source);
    }
    if (deflater.SourceSize() == 0) {
      packed.problem = kEmptySource;
      return false;
    }
    return true;
  }

  // Reads one source into `sink`, with the registration warning of a COM server.
  bool ReadSource(std::size_t index, ContentSink& sink, ItemTail& tail,
                  PackedSource& packed) const {
    const PlannedItem& planned = items_[index];
    // A COM server is looked into for the warning; a program image too large for that
    // (no such server is) is not held in memory.
    const auto n = NumberedKey(planned.zipKey, "Zip");
    const bool warnable =
        n && planned.section == "File" && WillBeOfferedForRegistration(project_, *n);
    std::vector<std::uint8_t> image;
    const bool read = planned.zipKey == "UninstallZip"
                          ? PackUninstaller(planned, sink, tail, packed)
                          : PackInPieces(planned, sink, tail, packed, warnable ? &image : nullptr);
    if (read && !image.empty()) {
      std::string warning =
          RegistrationWarning(project_, *n, Bytes(image.data(), image.size()),
                              "[File] File" + std::to_string(*n) + "=" +
                                  project_.GetString("File", "File" + std::to_string(*n)),
                              planned.source);
      if (!warning.empty()) {
        packed.warnings.push_back(std::move(warning));
      }
    }
    return read;
  }

  void PackZlib(std::size_t index, PackedSource& packed) const {
    ItemDeflater deflater(temporary_ + ".part" + std::to_string(index), heldItemLimit_, itemLimit_,
                          options_.maxInstallerSize);
    ItemTail tail;
    PackedItem item;
    if (ReadSource(index, deflater, tail, packed) && deflater.Finish(tail, item, packed.problem)) {
      packed.items.push_back(std::move(item));
    }
  }

  // The unit's sources as one LZMA stream: the first item holds it, each other item points
  // back to the first and names where its content begins.
  void PackLzma(const std::vector<std::size_t>& unit, PackedSource& packed) const {
    BlockContent content;
    std::vector<ItemTail> tails(unit.size());
    std::vector<LzmaItemHeader> headers(unit.size());
    for (std::size_t k = 0; k < unit.size(); ++k) {
      content.StartSource();
      if (!ReadSource(unit[k], content, tails[k], packed)) {
        packed.failed = k;
        return;
      }
      tails[k].size = static_cast<std::uint32_t>(content.SourceSize());
      headers[k].x86 = content.FilterProgram();
      headers[k].kind = k == 0 ? LzmaItemKind::kHolder : LzmaItemKind::kMember;
      headers[k].adler = content.adler;
      headers[k].offset = content.start;
    }
    std::vector<std::uint8_t> stream;
    const std::uint32_t dictionary = FittingDictionary(content.bytes.size(), dictionaryLimit_);
    if (!EncodeLzmaBlock(Bytes(content.bytes.data(), content.bytes.size()), content.Kind(),
                         dictionary, headers[0].props, stream, packed.problem)) {
      return;
    }
    content.bytes = std::vector<std::uint8_t>();
    if (stream.size() > itemLimit_) {
      packed.problem = InstallerTooLarge(options_.maxInstallerSize);
      return;
    }
    headers[0].streamLength = static_cast<std::uint32_t>(stream.size());
    std::vector<std::uint8_t> holder;
    AppendLzmaItemHeader(holder, headers[0]);
    holder.insert(holder.end(), stream.begin(), stream.end());
    stream = std::vector<std::uint8_t>();
    AppendItemTail(holder, tails[0]);
    std::uint64_t back = holder.size();
    packed.items.emplace_back(std::move(holder));
    for (std::size_t k = 1; k < unit.size(); ++k) {
      std::copy(std::begin(headers[0].props), std::end(headers[0].props), headers[k].props);
      headers[k].back = back;
      std::vector<std::uint8_t> member;
      AppendLzmaItemHeader(member, headers[k]);
      AppendItemTail(member, tails[k]);
      back += member.size();
      packed.items.emplace_back(std::move(member));
    }
  }

  // Runs on a worker thread: reads only what the plan and the stub fixed before.
  PackedSource PackUnit(std::size_t u) const {
    PackedSource packed;
    try {
      if (lzma_) {
        PackLzma(units_[u], packed);
      } else {
        PackZlib(units_[u][0], packed);
      }
    } catch (const std::bad_alloc&) {
      // A message, and no half-written file.
      packed.items.clear();
      packed.problem = "not enough memory to pack it";
    }
    return packed;
  }

  // What is packed together: with solid LZMA, the files in the installer's order of
  // extraction (the last listed first) in blocks of at most kSolidBlockLimit bytes; every
  // item that the installer may need out of that order on its own, after them.
  void PlanUnits() {
    units_.clear();
    std::vector<bool> inBlock(items_.size(), false);
    if (solid_) {
      std::vector<long long> apart;
      for (const std::string& name :
           {project_.GetString("File", "Dll"), project_.GetString("Before", "File"),
            ProgramPartOf(project_.GetString("After", "File"))}) {
        if (!name.empty()) {
          apart.push_back(InstalledFileIndex(project_, fileCount_, name, codePage_));
        }
      }
      std::vector<std::size_t> block;
      std::uint64_t blockBytes = 0;
      for (std::size_t i = items_.size(); i-- > 0;) {
        const auto n = NumberedKey(items_[i].zipKey, "Zip");
        if (items_[i].section != "File" || !n ||
            std::find(apart.begin(), apart.end(), *n) != apart.end()) {
          continue;
        }
        const std::uint64_t size = SourceSize(items_[i].source);
        if (!block.empty() && blockBytes + size > kSolidBlockLimit) {
          units_.push_back(std::move(block));
          block.clear();
          blockBytes = 0;
        }
        block.push_back(i);
        blockBytes += size;
        inBlock[i] = true;
      }
      if (!block.empty()) {
        units_.push_back(std::move(block));
      }
    }
    for (std::size_t i = 0; i < items_.size(); ++i) {
      if (!inBlock[i]) {
        units_.push_back({i});
      }
    }
  }

  bool WriteAll(std::FILE* file, const std::vector<std::uint8_t>& bytes, const std::string& path) {
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
      return Fail(outputKey_, output_ + " (as " + path + ")", "write error");
    }
    return true;
  }

  // The script before packing adds the Zip/Pos keys.
  IniText PlannedScript() const {
    IniText script = ScriptOf(project_);
    if (utf8_) {
      // The installer refuses to run where the system did not give it UTF-8.
      script.Set("General", "CodePage", kUtf8Name);
    }
    return script;
  }

  void SetProtectionKeys(IniText& script) const {
    if (protection_) {
      // The builder owns both keys of a locked installer; the password itself stays out.
      script.Set("Before", "Protect", "1");
      script.Set("Before", "Password", protection_->key);
    }
  }

  bool WriteInstaller(const std::string& temporary) {
    std::vector<std::uint8_t> content;
    ItemTail tail;
    std::string problem;
    currentKey_ = stubKey_;
    currentSource_ = stub_;
    if (!ReadSourceFile(stub_, content, tail, problem)) {
      return Fail(stubKey_, stub_, problem);
    }
    if (content.empty()) {
      return Fail(stubKey_, stub_, "empty file, not an installer stub");
    }
    stubMachine_ = PeMachineOf(content);
    if (!level_.empty() && !SetExecutionLevel(content, level_, problem)) {
      return Fail("[Build] ExecutionLevel", stub_, problem);
    }
    if (utf8_ && !SetUtf8CodePage(content, problem)) {
      return Fail("[Build] CodePage", stub_, problem);
    }
    // Read back too: an item that repeats an earlier one is compared with it.
    UniqueFile file(std::fopen(temporary.c_str(), "w+b"));
    if (!file) {
      return Fail(outputKey_, output_,
                  std::string("cannot create a file there: ") + std::strerror(errno));
    }
    if (!WriteAll(file.get(), content, temporary)) {
      return false;
    }
    std::uint64_t position = content.size();
    IniText script = PlannedScript();
    const unsigned jobs = options_.jobs == 0 ? DefaultJobs() : options_.jobs;
    // Items are read and compressed side by side and written in their planned order, so the
    // installer is the same bytes whatever the number of jobs.
    const std::uint64_t limit = options_.maxInstallerSize;
    if (position > limit) {
      return Fail(stubKey_, stub_, InstallerTooLarge(limit));
    }
    temporary_ = temporary;
    itemLimit_ = limit - position;
    heldItemLimit_ = std::clamp<std::uint64_t>(kHeldItemsBudget / (jobs + 2), 1 << 20, 16 << 20);
    if (options_.progress) {
      for (const PlannedItem& planned : items_) {
        progressTotal_ += SourceSize(planned.source);
      }
    }
    PlanUnits();
    RepeatedItems repeated;
    const std::function<PackedSource(std::size_t)> pack = [this](std::size_t u) {
      return PackUnit(u);
    };
    const std::function<bool(std::size_t, PackedSource&)> write = [&](std::size_t u,
                                                                      PackedSource& packed) {
      const std::vector<std::size_t>& unit = units_[u];
      if (!packed.problem.empty()) {
        const PlannedItem& planned = items_[unit[std::min(packed.failed, unit.size() - 1)]];
        currentKey_ = planned.sourceKey;
        currentSource_ = planned.source;
        return Fail(packed.problemKey.empty() ? planned.sourceKey : packed.problemKey,
                    planned.source, packed.problem);
      }
      if (options_.warnings != nullptr) {
        for (const std::string& warning : packed.warnings) {
          *options_.warnings << warning << '\n';
        }
      }
      if (lzma_ && unit.size() == 1 && !packed.items.empty()) {
        std::vector<std::uint8_t> member;
        std::string problem;
        if (!repeated.Find(packed.items[0].Held(), position, file.get(), member, problem)) {
          return Fail(outputKey_, output_ + " (as " + temporary + ")", problem);
        }
        if (!member.empty()) {
          packed.items[0] = PackedItem(std::move(member));
        }
      }
      for (std::size_t k = 0; k < unit.size() && k < packed.items.size(); ++k) {
        const PlannedItem& planned = items_[unit[k]];
        currentKey_ = planned.sourceKey;
        currentSource_ = planned.source;
        const std::uint64_t length = packed.items[k].Length();
        if (position + length > limit) {
          return Fail(planned.sourceKey, planned.source, InstallerTooLarge(limit));
        }
        std::string problem;
        if (!packed.items[k].WriteTo(file.get(), problem)) {
          return Fail(outputKey_, output_ + " (as " + temporary + ")", problem);
        }
        packed.items[k] = PackedItem();  // its part file goes at once
        try {
          script.Set(planned.section, planned.zipKey, std::to_string(length));
          script.Set(planned.section, planned.posKey, std::to_string(position));
        } catch (const std::bad_alloc&) {
          // Never past the ordered run: its threads must be joined first.
          return Fail(planned.sourceKey, planned.source, "not enough memory to pack it");
        }
        position += length;
      }
      return true;
    };
    if (!ForEachInOrder(units_.size(), jobs, pack, write)) {
      return false;
    }
    SetProtectionKeys(script);
    currentKey_ = "script";
    currentSource_ = options_.project;
    const std::string text = script.Serialize();
    std::vector<std::uint8_t> end;
    if (!AppendPackageEnd(end,
                          Bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
                          projectTail_, protection_ ? protection_->block.data() : nullptr)) {
      return Fail("script", options_.project, "cannot be compressed");
    }
    // Zero bytes between the last item and the reserved byte (the stub reads nothing there)
    // make the installer's length a multiple of 8.
    const std::uint64_t gap =
        (kSigningAlignment - (position + end.size()) % kSigningAlignment) % kSigningAlignment;
    if (position + gap + end.size() > limit) {
      return Fail("script", options_.project, InstallerTooLarge(limit));
    }
    if (!WriteAll(file.get(), std::vector<std::uint8_t>(gap, 0), temporary) ||
        !WriteAll(file.get(), end, temporary)) {
      return false;
    }
    writtenSize_ = position + gap + end.size();
    scriptText_ = text;
    if (std::fflush(file.get()) != 0 || std::fclose(file.release()) != 0) {
      return Fail(outputKey_, output_ + " (as " + temporary + ")", "write error");
    }
    return true;
  }

  const BuildOptions& options_;
  std::string& error_;
  std::vector<std::uint8_t> projectBytes_;
  ItemTail projectTail_;
  IniText project_;
  std::string folder_;
  CodePage codePage_ = ActiveCodePage();  // of the project's Windows paths
  bool utf8_ = false;                     // the installer runs with the UTF-8 code page
  std::string stub_, stubKey_;
  std::string output_, outputKey_;
  long long fileCount_ = 0;
  std::vector<PlannedItem> items_;
  std::vector<std::vector<std::size_t>> units_;  // indices of items_ packed together
  bool lzma_ = true;
  bool solid_ = true;
  std::uint32_t dictionaryLimit_ = kDefaultDictionaryMb << 20;
  std::optional<Protection> protection_;  // set when [Build] Password locks the installer
  std::string level_;                     // empty: the stub's and uninstaller's own level
  std::string sign_, signKey_;            // empty: not signed
  std::uint64_t writtenSize_ = 0;
  std::string scriptText_;
  std::optional<std::uint16_t> stubMachine_;  // none: the stub is no PE image
  std::string currentKey_, currentSource_;    // what is being packed
  std::string temporary_;                     // the installer under its temporary name
  std::uint64_t itemLimit_ = 0;               // the longest item that still fits
  std::uint64_t heldItemLimit_ = 0;           // the longest item held in memory
  mutable std::mutex progressMutex_;
  mutable std::uint64_t progressDone_ = 0, progressTotal_ = 0;
  bool readFiles_ = true;  // false: a plan that opens no file
  Expansion expansion_;
  bool stubSearched_ = false;  // the stub was found by looking in the default places
};

// Every item that the script names through a Zip/Pos pair, with the key that names it.
struct NamedItem {
  std::string label;
  std::string section, zipKey, posKey;
  bool required;  // an installed file must have an item
};

std::vector<NamedItem> NamedItems(const IniText& script) {
  std::vector<NamedItem> items;
  const long long count = script.GetInt("File", "File");
  for (long long n = 1; n <= count && n <= 100000; ++n) {
    const std::string number = std::to_string(n);
    items.push_back(
        NamedItem{"[File] File" + number + "=" + script.GetString("File", "File" + number), "File",
                  "Zip" + number, "Pos" + number, true});
  }
  items.push_back(NamedItem{"uninstaller", "File", "UninstallZip", "UninstallPos",
                            script.GetInt("File", "Uninstall") != 0});
  items.push_back(NamedItem{"[File] Dll=" + script.GetString("File", "Dll"), "File", "DllZip",
                            "DllPos", false});
  items.push_back(NamedItem{"[Before] File=" + script.GetString("Before", "File"), "Before",
                            "FileZip", "FilePos", false});
  items.push_back(NamedItem{"[After] File=" + script.GetString("After", "File"), "After", "FileZip",
                            "FilePos", false});
  return items;
}

void WriteTail(std::ostream& out, const ItemTail& tail) {
  char attributes[16];
  std::snprintf(attributes, sizeof attributes, "0x%08X", static_cast<unsigned>(tail.attributes));
  out << "  size " << tail.size << ", attributes " << attributes << "\n"
      << "  created " << FileTimeText(tail.creation) << ", accessed " << FileTimeText(tail.access)
      << ", written " << FileTimeText(tail.write) << "\n";
}

// How an item is stored: its method, its LZMA block, and its size against its content's.
void WriteMethod(Bytes package, Bytes item, const ItemTail& tail, std::ostream& out) {
  const auto header = ReadLzmaItemHeader(item);
  const char* const method = header && header->x86 ? "lzma+x86" : "lzma";
  if (!header) {
    out << "  method zlib";
  } else if (header->kind == LzmaItemKind::kHolder) {
    out << "  method " << method << ", dictionary " << ReadU32(header->props + 1)
        << ", holds its block's " << header->streamLength << "-byte stream";
  } else {
    out << "  method " << method << ", in the block at position "
        << static_cast<std::uint64_t>(item.data() - package.data()) - header->back
        << " from content byte " << header->offset;
  }
  if (tail.size != 0) {
    char ratio[32];
    std::snprintf(ratio, sizeof ratio, "%.3f", static_cast<double>(item.size()) / tail.size);
    out << ", ratio " << ratio;
  }
  out << "\n";
}

// "ok" when the item decodes to exactly the size its tail states.
// `decoded`, when given, is what an earlier decoding of the item gave (its size, or nothing).
bool CheckItem(Bytes package, Bytes item, LzmaBlockDecoder& blocks, std::ostream& out,
               const std::optional<std::size_t>* decoded = nullptr) {
  const auto tail = ReadItemTailOf(item);
  if (!tail) {
    out << "  BAD: shorter than its tail\n";
    return false;
  }
  WriteTail(out, *tail);
  WriteMethod(package, item, *tail, out);
  std::optional<std::size_t> size;
  if (decoded != nullptr) {
    size = *decoded;
  } else if (const auto content = DecodeItem(package, item, blocks)) {
    size = content->size();
  }
  if (!size) {
    out << "  BAD: does not decode\n";
    return false;
  }
  if (*size != tail->size) {
    out << "  BAD: inflates to " << *size << " bytes\n";
    return false;
  }
  out << "  ok\n";
  return true;
}

}  // namespace

bool BuildInstaller(const BuildOptions& options, std::string& error) {
  error.clear();
  Builder builder(options, error);
  return builder.Run();
}

bool PlanProject(const BuildOptions& options, Bytes projectBytes, ProjectPlan& plan,
                 std::string& error) {
  error.clear();
  plan = ProjectPlan();
  Builder builder(options, error);
  return builder.Plan(projectBytes, plan);
}

bool InspectInstaller(const std::string& path, std::ostream& out, std::string& error) {
  error.clear();
  std::vector<std::uint8_t> bytes;
  ItemTail fileTail;
  std::string problem;
  if (!ReadSourceFile(path, bytes, fileTail, problem)) {
    error = path + ": " + problem;
    return false;
  }
  return InspectInstallerBytes(path, bytes, out, error);
}

bool InspectInstallerBytes(const std::string& path, Bytes file, std::ostream& out,
                           std::string& error) {
  error.clear();
  // A signed installer's package ends before its certificate table.
  const Bytes package = PackageOf(file);
  const auto scriptBlock = LocateScriptBlock(package);
  if (!scriptBlock) {
    error = path + ": not an installer: its trailer locates no script block";
    return false;
  }
  const auto scriptStart = static_cast<std::uint64_t>(scriptBlock->data() - package.data());
  out << "installer " << path << ": " << file.size() << " bytes\n";
  if (const auto table = LocateCertificateTable(file)) {
    out << "signed: certificate table at position " << table->offset << ", length " << table->size
        << "; the package ends at " << package.size() << "\n";
  } else {
    out << "signed: no\n";
  }
  const auto level = ExecutionLevelOf(file);
  out << "execution level: " << (level ? *level : "not in the stub's manifest") << "\n";
  out << "code page: " << (HasUtf8CodePage(file) ? "UTF-8" : "the system's") << "\n";
  out << "script block: position " << scriptStart << ", length " << scriptBlock->size() << "\n";
  LzmaBlockDecoder blocks;
  bool sound = CheckItem(package, *scriptBlock, blocks, out);
  const auto scriptBytes = InflateItem(*scriptBlock);
  if (!scriptBytes) {
    error = path + ": the script block does not inflate";
    return false;
  }
  std::string text(scriptBytes->begin(), scriptBytes->end());
  std::erase(text, '\r');
  out << "--- script ---\n"
      << text << (text.empty() || text.back() == '\n' ? "" : "\n") << "--- end of script ---\n";

  const IniText script = IniText::Parse(text);
  // As the installer reads it: anything but "user" installs for the whole machine.
  out << "scope: "
      << (EqualNoCase(script.GetString("General", "Scope"), "user")
              ? "user (uninstall entry under HKEY_CURRENT_USER)"
              : "machine (uninstall entry under HKEY_LOCAL_MACHINE)")
      << "\n";
  const bool isProtected = script.GetInt("Before", "Protect") != 0;
  const auto reserved = ReservedBytePosition(package, isProtected);
  if (!reserved) {
    out << "reserved byte: BAD: outside the file\n";
    error = path + ": no room for the reserved byte before the script block";
    return false;
  }
  out << "reserved byte: position " << *reserved << "\n";
  if (isProtected) {
    out << "protection block: position " << *reserved + 1 << ", length " << kProtectionBlockSize
        << "\n";
    out << "password: required (not shown)\n";
  } else {
    out << "password: none\n";
  }
  int damaged = sound ? 0 : 1;
  const std::vector<NamedItem> namedItems = NamedItems(script);
  // Decoded first in the installer's order (the last file first), so that the files of a solid
  // block are decoded in one pass; the report keeps the script's order.
  std::vector<std::optional<std::size_t>> decodedSizes(namedItems.size());
  for (std::size_t i = namedItems.size(); i-- > 0;) {
    const NamedItem& named = namedItems[i];
    const long long zip = script.GetInt(named.section, named.zipKey);
    const long long pos = script.GetInt(named.section, named.posKey);
    const auto item =
        zip <= 0 || pos <= 0
            ? std::nullopt
            : SliceOf(package.first(static_cast<std::size_t>(*reserved)),
                      static_cast<std::uint64_t>(pos), static_cast<std::uint64_t>(zip));
    if (item && named.zipKey.rfind("Zip", 0) == 0) {
      if (const auto content = DecodeItem(package, *item, blocks)) {
        decodedSizes[i] = content->size();
      }
    }
  }
  for (std::size_t i = 0; i < namedItems.size(); ++i) {
    const NamedItem& named = namedItems[i];
    const long long zip = script.GetInt(named.section, named.zipKey);
    const long long pos = script.GetInt(named.section, named.posKey);
    if (zip == 0 && pos == 0 && !named.required) {
      continue;
    }
    out << "item " << named.label << " ([" << named.section << "] " << named.zipKey << "/"
        << named.posKey << "): position " << pos << ", length " << zip << "\n";
    if (zip == 0 || pos == 0) {
      out << "  BAD: no item\n";
      ++damaged;
      continue;
    }
    // Items lie wholly before the reserved byte.
    const auto item =
        zip < 0 || pos < 0
            ? std::nullopt
            : SliceOf(package.first(static_cast<std::size_t>(*reserved)),
                      static_cast<std::uint64_t>(pos), static_cast<std::uint64_t>(zip));
    if (!item) {
      out << "  BAD: outside the items' part of the file\n";
      ++damaged;
      continue;
    }
    if (!CheckItem(package, *item, blocks, out,
                   named.zipKey.rfind("Zip", 0) == 0 ? &decodedSizes[i] : nullptr)) {
      ++damaged;
    }
  }
  if (damaged != 0) {
    error = path + ": " + std::to_string(damaged) + " damaged item" + (damaged == 1 ? "" : "s");
    return false;
  }
  return true;
}

}  // namespace vorlatch::packer
