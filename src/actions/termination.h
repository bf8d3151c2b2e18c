#pragma once
// Termination of an installation under way: the user confirms, the uninstaller rolls back
// what was made so far, and the installer's main thread ends on the spot.

namespace vorlatch {

inline constexpr char kTerminateQuestion[] = "Are you sure you want to terminate installation?";
inline constexpr char kTerminateCaption[] = "Confirm";
inline constexpr char kTerminatedText[] = "Done.";
inline constexpr char kTerminatedCaption[] = "Uninstall";

// Asks whether to terminate. No: returns 0 and the caller asks its own question again or goes
// on. Yes: starts the uninstaller with /u when it is in the destination directory (without
// waiting), closes the progress window, says "Done." and ends the calling thread with exit
// code 0; it does not return. Nothing on the caller's stack is destroyed then.
int ConfirmTermination();

}  // namespace vorlatch
