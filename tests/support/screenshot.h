#pragma once
// Pictures of windows as a person sees them on the screen: the window with its frame and
// every child, taken from the display after the window has painted. (PrintWindow under Wine
// draws neither the frame nor the children.)

#include <string>

#include <windows.h>

namespace vorlatch {

// Repaints the window (from any thread), waits briefly for the paint to reach the screen and
// saves the screen area that the window covers as a PNG file. False when nothing could be
// captured or written.
bool SaveScreenPicture(HWND window, const std::string& path);

}  // namespace vorlatch
