#pragma once

namespace vorlatch {

inline constexpr const char* kTextCantRunInThisOs = "Can't run in this OS version";
inline constexpr const char* kCaptionInstall = "Install";
inline constexpr const char* kCaptionError = "Error";
inline constexpr const char* kTextBadCommandLine = "Bad command line: ";
// A per-user package whose script asks for a place only an administrator may write to.
inline constexpr const char* kTextMachineWidePlace =
    "This package installs for the current user only, but it asks for a place that belongs to "
    "the whole machine. Nothing was installed.";

// The installer application: no main window, no message loop of its own. InitInstance runs
// every stage of the installation in turn and answers false, so that the process ends.
class InstallerApp {
 public:
  bool InitInstance();
};

// The optional question from [Info] before anything else happens. True: go on.
bool AskStartQuestion();

}  // namespace vorlatch
