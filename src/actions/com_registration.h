#pragma once
// Self-registration of COM servers among the installed files.

#include <string>

#include "script/script_access.h"

namespace vorlatch {

// The texts of the two messages.
inline constexpr char kOleInitializeFailed[] = "OleInitialize failed.";
inline constexpr char kOleInitializeFailedCaption[] = "Error";
// Followed by "registering" or "unregistering", " COM-server\n" and the path.
inline constexpr char kComServerErrorStart[] = "There was error ";
inline constexpr char kComServerErrorMiddle[] = " COM-server\n";

// Loads the file as a library and calls its DllRegisterServer (or DllUnregisterServer when
// registerServer is false). A file that is no library, or has no such export, is passed over
// silently; a failing or crashing entry point gives one information message. Never stops the
// installation. OLE is initialised on the first call of the run. A file that is no program
// image, or one whose export names lack the entry point, is judged so from its headers and
// not loaded. `beforeForeignCode`, when given, runs before the library is loaded and before
// a message, after which the process may end. True when the entry point was called, whatever
// it returned: a server that failed half-way may have written keys.
// `startsLikeImage` false: the caller wrote the file and saw that its first bytes are no
// program image's, which spares opening it again.
bool RegisterComServer(const std::string& path, bool registerServer = true,
                       void (*beforeForeignCode)() = nullptr, bool startsLikeImage = true);

// The names in the system folder, read at the first question, for a run over many files: a
// name looked up there one at a time costs a scan of that large folder per file under Wine.
// Only a name found in the list is looked up for real, so the answer stays the file system's.
class SystemFolderNames {
 public:
  // Whether HasSystemFolderName(path) holds.
  bool Holds(const std::string& path);
  // A file just written to `path`, which may lie in the system folder.
  void Written(const std::string& path);

 private:
  bool read_ = false;
  std::string folder_;  // the system folder with its backslash
  std::string names_;   // in capitals, each between line feeds
};

// Whether file n of the script is offered to RegisterComServer once written to `target`.
enum class RegistrationOffer { kOffered, kNotOffered, kSystemName };
// [File] Register<n> decides when it is set; otherwise [File] SelfRegister (1 when absent)
// does, except that a file named like a file of the system folder is not offered: it is a
// redistributed copy of a system component, and registering it would re-point the system's
// own registration at the copy. Asked before the file is written, so that a target in the
// system folder is judged by what was there before. `userScope`: UserScope(), read once by a
// caller that asks for many files.
RegistrationOffer ShouldOfferForRegistration(const IniSection& files, int n,
                                             const std::string& target, bool userScope,
                                             SystemFolderNames& system);

// Whether the system folder holds a file of the same name as `path` (compared without regard
// to case, as the file system does).
bool HasSystemFolderName(const std::string& path);

// The path that RegisterComServer loads: the text between the first and the last double
// quote when there are two or more, else the path unchanged.
std::string ComServerPath(const std::string& path);

// The message for a failed entry point of the file at `path` (as ComServerPath gives it).
std::string ComServerErrorText(const std::string& path, bool registerServer);

}  // namespace vorlatch
