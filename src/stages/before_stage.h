#pragma once
// The Before stage: the document that the package opens before anything else, and the
// information or licence screen that may ask for the user's consent.

#include <cstddef>
#include <string>

#include <windows.h>

namespace vorlatch {

inline constexpr char kCaptionConfirm[] = "Confirm";
inline constexpr char kCaptionInfo[] = "Info";

// Texts of this length (bytes of the ANSI text, without the footer) and longer go into the
// licence dialog instead of a message box.
inline constexpr std::size_t kLicenceDialogThreshold = 1024;

// What a script's Button key makes of a screen: the message-box flags (system-modal added)
// and the caption used when the script gives none.
struct ScreenStyle {
  UINT flags = 0;
  const char* defaultCaption = kCaptionInfo;
};

// Button 1: OK and Cancel, 2: Yes and No, both with the question icon; any other value one
// OK button with the information icon.
ScreenStyle ScreenStyleFor(int button);

// The caption of a screen: the section's Caption, or the style's default when it is empty.
std::string ScreenCaption(const char* section, const ScreenStyle& style);

// Opens the Before document when the script asks for it, then shows the Before screen.
// 1: go on (also when there is no screen); 0: the user did not consent.
int RunBeforeStage();

}  // namespace vorlatch
