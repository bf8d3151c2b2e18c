#pragma once
// Self-registration of COM servers among the installed files.

#include <string>

namespace vorlatch {

// Loads the file as a library and calls its DllRegisterServer (or DllUnregisterServer when
// registerServer is false). A file that is no library, or has no such export, is passed over
// silently; a failing or crashing entry point gives one information message. Never stops the
// installation.
void RegisterComServer(const std::string& path, bool registerServer = true);

}  // namespace vorlatch
