#pragma once
// The After stage: what follows a successful installation. The After screen runs the After
// extension function, writes the INI file entries, announces success and shows the closing
// screen; the After run then starts the program or opens the document that [After] names.

namespace vorlatch {

inline constexpr char kSuccessfullyInstalled[] = "Successfully installed.";

// 1: go on to the After run; 0: the user declined the closing screen's question.
int AfterScreen();

// Extracts the [After] File (again) and starts it without waiting, when [After] Run asks for
// it. Nothing is reported.
void AfterRun();

}  // namespace vorlatch
