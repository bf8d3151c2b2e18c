#pragma once
// The package's extension DLL: extracted into the temporary directory and loaded once, before
// the installation; its Before function is called just before installing and its After
// function at the start of the After stage, each with the destination directory.

#include <string>

namespace vorlatch {

inline constexpr char kExtensionErrorCaption[] = "Error";

// "Error calling '<function>' from '<dll>'".
std::string ExtensionErrorText(const std::string& function, const std::string& dll);

// Calls the package's extension function before installing (when [Before] Advanced asks for
// it), then runs the installation. Returns the install driver's result (nonzero: installed).
int RunBeforeExtensionAndInstall();

// Calls the After function of the DLL loaded before the installation, when [After] Advanced
// asks for it. 0 when the function raised an exception or fault (already reported), else 1.
int RunAfterExtension();

}  // namespace vorlatch
