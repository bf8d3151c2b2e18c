#pragma once
// Self-registration of COM servers among the installed files.

#include <string>

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
// a message, after which the process may end.
void RegisterComServer(const std::string& path, bool registerServer = true,
                       void (*beforeForeignCode)() = nullptr);

// The path that RegisterComServer loads: the text between the first and the last double
// quote when there are two or more, else the path unchanged.
std::string ComServerPath(const std::string& path);

// The message for a failed entry point of the file at `path` (as ComServerPath gives it).
std::string ComServerErrorText(const std::string& path, bool registerServer);

}  // namespace vorlatch
