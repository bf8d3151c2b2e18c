#pragma once

namespace vorlatch {

inline constexpr const char* kTextCantRunInThisOs = "Can't run in this OS version";
inline constexpr const char* kCaptionInstall = "Install";
inline constexpr const char* kCaptionError = "Error";
inline constexpr const char* kTextBadCommandLine = "Bad command line: ";

// The installer application: no main window, no message loop of its own. InitInstance runs
// every stage of the installation in turn and answers false, so that the process ends.
class InstallerApp {
 public:
  bool InitInstance();
};

// The optional question from [Info] before anything else happens. True: go on.
bool AskStartQuestion();

}  // namespace vorlatch
