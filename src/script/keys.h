#pragma once
// Names of the script's sections and keys. Numbered keys and sections append a decimal
// number to the word given here (NumberedName in script_access.h): File1, Key2, Section2_3.

namespace vorlatch {

// Sections.
inline constexpr char kGeneral[] = "General";
inline constexpr char kInfo[] = "Info";
inline constexpr char kFile[] = "File";  // also the count key [File] File and the word File<n>
inline constexpr char kBefore[] = "Before";
inline constexpr char kAfter[] = "After";
inline constexpr char kRegistry[] = "Registry";
inline constexpr char kIni[] = "Ini";
// Word of the numbered sections [Key<n>] under [Registry] and [Section<n>], [Section<n>_<m>]
// under [Ini]; the same words name keys of those sections.
inline constexpr char kKey[] = "Key";
inline constexpr char kSection[] = "Section";

// [General]
inline constexpr char kProduct[] = "Product";
// "UTF-8" when the package was made to run with the UTF-8 code page (written by the packer).
inline constexpr char kCodePage[] = "CodePage";
inline constexpr char kCompany[] = "Company";
inline constexpr char kBid[] = "BID";
inline constexpr char kPackage[] = "Package";
// The product's version, shown in the system's list of installed programs.
inline constexpr char kVersion[] = "Version";
// Whom the installation is for: "machine" (the default) or "user"; the uninstall log records
// it when it is "user".
inline constexpr char kScope[] = "Scope";
// [General] of the uninstall log: the number of the Start Menu group's variant.
inline constexpr char kInstance[] = "Instance";

// [Info], [Before], [After]: the screen texts.
inline constexpr char kLine[] = "Line";  // count, and the word of Line<n>
inline constexpr char kCaption[] = "Caption";

// [File]
inline constexpr char kTarget[] = "Target";
inline constexpr char kZip[] = "Zip";
inline constexpr char kPos[] = "Pos";
inline constexpr char kShortcut[] = "Shortcut";
inline constexpr char kDesktop[] = "Desktop";
inline constexpr char kQuickLaunch[] = "QuickLaunch";
inline constexpr char kAskS[] = "AskS";
inline constexpr char kAskD[] = "AskD";
inline constexpr char kAskQ[] = "AskQ";
inline constexpr char kUninstall[] = "Uninstall";
inline constexpr char kUninstallZip[] = "UninstallZip";
inline constexpr char kUninstallPos[] = "UninstallPos";
// Nonzero: the Start Menu group and the Desktop shortcut go to the folders of all users (a
// machine-wide installation only); the uninstall log records it in [General].
inline constexpr char kAllUsers[] = "AllUsers";
inline constexpr char kAssociations[] = "Associations";
inline constexpr char kDll[] = "Dll";
inline constexpr char kDllZip[] = "DllZip";
inline constexpr char kDllPos[] = "DllPos";
// Optional details of file n's shortcuts (Start Menu, Desktop, Quick Launch) and the name of
// the uninstaller's shortcut; the uninstall log records the names the shortcuts were made
// with under the same words.
inline constexpr char kShortcutName[] = "ShortcutName";
inline constexpr char kShortcutArguments[] = "ShortcutArguments";
inline constexpr char kShortcutFolder[] = "ShortcutFolder";
inline constexpr char kShortcutIcon[] = "ShortcutIcon";
inline constexpr char kShortcutIconIndex[] = "ShortcutIconIndex";
inline constexpr char kShortcutDescription[] = "ShortcutDescription";
inline constexpr char kUninstallShortcutName[] = "UninstallShortcutName";
// [File] of the uninstall log: target n was there before the installation and not ours
// (Existed<n>), and the extraction then wrote over it (Replaced<n>).
inline constexpr char kExisted[] = "Existed";
inline constexpr char kReplaced[] = "Replaced";
// [Folders] of the uninstall log: the folders that the installation (or an earlier one of ours
// in the same place) made, Folder<k> each with its full path, and their Number, always written:
// a log without it comes from an installer that did not record them.
inline constexpr char kFolders[] = "Folders";
inline constexpr char kFolder[] = "Folder";
// Which files are offered for COM self-registration: Register<n> for file n, SelfRegister for
// the package. The uninstall log lists the files the installation registered (Registered<n>)
// and says that it does so (Registrations=1), which a log of an older installer does not.
inline constexpr char kRegister[] = "Register";
inline constexpr char kSelfRegister[] = "SelfRegister";
inline constexpr char kRegistered[] = "Registered";
inline constexpr char kRegistrations[] = "Registrations";
// What happens to a file that is there already: Overwrite for the package, Overwrite<n> for
// file n (ask, ours, always, never, ifnewer). InUse: what happens to one that another program
// holds (ask, restart). The uninstall log records the packed last-write time of file n
// (Time<n>, 16 hex digits), by which a later installation knows that nobody changed the file,
// and the name of a new file that waits beside its target for the next restart (Pending<n>).
inline constexpr char kOverwrite[] = "Overwrite";
inline constexpr char kInUse[] = "InUse";
inline constexpr char kTime[] = "Time";
inline constexpr char kPending[] = "Pending";

// [Before] (with kFile, kCaption and kLine)
inline constexpr char kProtect[] = "Protect";
inline constexpr char kPassword[] = "Password";
inline constexpr char kLoad[] = "Load";
inline constexpr char kFileZip[] = "FileZip";
inline constexpr char kFilePos[] = "FilePos";
inline constexpr char kDialog[] = "Dialog";
inline constexpr char kButton[] = "Button";
inline constexpr char kFooter[] = "Footer";
inline constexpr char kAdvanced[] = "Advanced";
inline constexpr char kFunction[] = "Function";

// [After] (with kAdvanced, kFunction, kDialog, kButton, kCaption, kLine, kFile, kFileZip,
// kFilePos)
inline constexpr char kRun[] = "Run";

// [Registry], [Key<n>], [Ini], [Section<n>], [Section<n>_<m>] (with kKey, kFile, kTarget,
// kSection)
inline constexpr char kNumber[] = "Number";
inline constexpr char kKeep[] = "Keep";
inline constexpr char kName[] = "Name";
inline constexpr char kValue[] = "Value";

// The default of [File] Dll, [Before] File and [After] File when the clean-up reads them: a
// name that normally matches no file.
inline constexpr char kNoFileName[] = "~";

}  // namespace vorlatch
