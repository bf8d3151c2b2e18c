#pragma once
// Names outside the system's code page. The installer works with 8-bit names; a folder whose
// name has a character that the code page cannot hold would reach it with '?' or a look-alike
// letter in its place and fail somewhere half-way. Each such name is refused at the start,
// or when it is chosen, with a message that says which name and why; nothing is made before.

#include <string>

namespace vorlatch {

inline constexpr char kWhatTemporaryFolder[] = "The temporary folder";
inline constexpr char kWhatStartMenuFolder[] = "The Start Menu folder";
inline constexpr char kWhatDestination[] = "The destination folder";
inline constexpr char kWhatLogFile[] = "The log file";
inline constexpr char kWhatInstaller[] = "The installer's own path";
inline constexpr char kWhatPassword[] = "The password";
inline constexpr char kWhatCommandLine[] = "The command line";

// "<what>\n\n<shown>\n\ncannot be used: ..." with the code page's number and the advice.
std::string UnusableNameText(const std::string& what, const std::string& shown);

// The message for a command line with a character outside the code page, naming the value
// that holds it (the log file first: then the record must not be opened); empty when every
// character fits.
std::string UnusableCommandLineText();
// The temporary folder and the Start Menu folder; false after the message.
bool CheckSystemFolderNames();
// A script made for the UTF-8 code page where the system did not give the installer that
// code page (Windows before 10 1903); false after the message.
bool CheckScriptCodePage();
// A destination the user typed or chose, in its wide form; false after the message.
bool CheckDestinationName(const std::wstring& destination);

}  // namespace vorlatch
