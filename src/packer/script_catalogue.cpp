#include "packer/script_catalogue.h"

#include <algorithm>
#include <vector>

#include "packer/ini_text.h"
#include "script/keys.h"

namespace vorlatch::packer {

namespace {

constexpr char kBuild[] = "Build";

constexpr CatalogueSection kSections[] = {
    {kGeneral, kGeneral, SectionForm::Plain, "the product, its company and destination"},
    {kInfo, kInfo, SectionForm::Plain, "the start question"},
    {kFile, kFile, SectionForm::Plain, "the installed files, shortcuts and the uninstaller"},
    {kBefore, kBefore, SectionForm::Plain,
     "the password, document and screen before the installation"},
    {kAfter, kAfter, SectionForm::Plain, "the screen and the program after the installation"},
    {kRegistry, kRegistry, SectionForm::Plain, "the registry keys to create"},
    {"Key<n>", kKey, SectionForm::Numbered, "the values of registry key n"},
    {kIni, kIni, SectionForm::Plain, "the INI files to change"},
    {"Section<n>", kSection, SectionForm::Numbered, "the sections to change in INI file n"},
    {"Section<n>_<m>", kSection, SectionForm::TwiceNumbered,
     "the entries of section m of INI file n"},
    {kFolders, kFolders, SectionForm::Plain, "the folders the installation made (uninstall log)"},
    {kBuild, kBuild, SectionForm::Plain, "what only the builder reads"},
};

using enum ValueType;
using enum KeyRole;
using enum MacroUse;

// Section, word, numbered, count key, fills count, type, role, macros, Windows path, meaning.
constexpr CatalogueKey kKeys[] = {
    {kGeneral, kProduct, false, "", false, Text, Script, None, false, "product name"},
    {kGeneral, kCompany, false, "", false, Text, Script, None, false, "company name"},
    {kGeneral, kBid, false, "", false, Text, Script, None, true, "proposed destination folder"},
    {kGeneral, kScope, false, "", false, Text, Script, None, false,
     "machine (the default) or user: whom the installation is for"},
    {kGeneral, kAllUsers, false, "", false, Integer, LogOnly, None, false,
     "the shortcuts went to the folders of all users"},
    {kGeneral, kPackage, false, "", false, Text, Script, None, false, "package name"},
    {kGeneral, kVersion, false, "", false, Text, Script, None, false, "product version"},
    {kGeneral, kCodePage, false, "", false, Text, Script, None, false,
     "UTF-8 when the installer runs with it (from [Build] CodePage)"},
    {kGeneral, kInstance, false, "", false, Integer, LogOnly, None, false,
     "number of the Start Menu group's variant"},

    {kInfo, kLine, false, "", false, Integer, Script, None, false, "number of text lines"},
    {kInfo, kLine, true, kLine, true, Text, Script, None, false, "text line n"},
    {kInfo, kCaption, false, "", false, Text, Script, None, false, "caption of the question"},
    {kInfo, "TextFile", false, "", false, Text, Builder, None, false, "file of the text lines"},

    {kFile, kFile, false, "", false, Integer, Script, None, false, "number of installed files"},
    {kFile, kFile, true, kFile, true, Text, Script, None, false, "file name of file n"},
    {kFile, kTarget, true, kFile, false, Text, Script, Leading, true, "target folder of file n"},
    {kFile, kZip, true, kFile, false, Integer, Written, None, false, "length of file n's item"},
    {kFile, kPos, true, kFile, false, Integer, Written, None, false, "position of file n's item"},
    {kFile, kShortcut, true, kFile, false, Integer, Script, None, false,
     "nonzero: a Start Menu shortcut to file n"},
    {kFile, "ShortcutName", true, kFile, false, Text, Script, None, false,
     "display name of file n's shortcuts"},
    {kFile, "ShortcutArguments", true, kFile, false, Text, Script, None, false,
     "arguments of file n's shortcuts"},
    {kFile, "ShortcutFolder", true, kFile, false, Text, Script, Leading, true,
     "working folder of file n's shortcuts"},
    {kFile, "ShortcutIcon", true, kFile, false, Text, Script, Leading, true,
     "icon file of file n's shortcuts"},
    {kFile, "ShortcutIconIndex", true, kFile, false, Integer, Script, None, false,
     "index of the icon in that file"},
    {kFile, "ShortcutDescription", true, kFile, false, Text, Script, None, false,
     "description (tooltip) of file n's shortcuts"},
    {kFile, kDesktop, false, "", false, Text, Script, None, false,
     "installed file with a Desktop shortcut"},
    {kFile, kQuickLaunch, false, "", false, Text, Script, None, false,
     "installed file with a Quick Launch shortcut"},
    {kFile, kAskS, false, "", false, Integer, Script, None, false,
     "nonzero: ask before the Start Menu shortcuts"},
    {kFile, kAskD, false, "", false, Integer, Script, None, false,
     "nonzero: ask before the Desktop shortcut"},
    {kFile, kAskQ, false, "", false, Integer, Script, None, false,
     "nonzero: ask before the Quick Launch shortcut"},
    {kFile, kUninstall, false, "", false, Integer, Script, None, false,
     "nonzero: install the uninstaller and register the product"},
    {kFile, "UninstallShortcutName", false, "", false, Text, Script, None, false,
     "name of the uninstaller's Start Menu shortcut"},
    {kFile, kUninstallZip, false, "", false, Integer, Written, None, false,
     "length of the uninstaller's item"},
    {kFile, kUninstallPos, false, "", false, Integer, Written, None, false,
     "position of the uninstaller's item"},
    {kFile, kAllUsers, false, "", false, Integer, Script, None, false,
     "nonzero: Start Menu group and Desktop shortcut for all users (machine scope)"},
    {kFile, kAssociations, true, kFile, false, Text, Script, None, false,
     "file types opened by file n"},
    {kFile, kDll, false, "", false, Text, Script, None, false, "extension DLL"},
    {kFile, kDllZip, false, "", false, Integer, Written, None, false, "length of the DLL's item"},
    {kFile, kDllPos, false, "", false, Integer, Written, None, false, "position of the DLL's item"},
    {kFile, kSelfRegister, false, "", false, Integer, Script, None, false,
     "0: offer no file for COM self-registration unless Register<n> says so"},
    {kFile, kRegister, true, kFile, false, Integer, Script, None, false,
     "1: offer file n for COM self-registration, 0: never"},
    {kFile, kRegistrations, false, "", false, Integer, LogOnly, None, false,
     "the log names the files it registered"},
    {kFile, kRegistered, true, kFile, false, Integer, LogOnly, None, false,
     "file n was registered as a COM server"},
    {kFile, kOverwrite, false, "", false, Text, Script, None, false,
     "what to do with a file that is there: ask, ours, always, never or ifnewer"},
    {kFile, kOverwrite, true, kFile, false, Text, Script, None, false, "the same for file n"},
    {kFile, kInUse, false, "", false, Text, Script, None, false,
     "a file in use: ask (Retry or Cancel) or restart (put in place at the next restart)"},
    {kFile, kTime, true, kFile, false, Text, LogOnly, None, false,
     "packed last-write time of file n"},
    {kFile, kPending, true, kFile, false, Text, LogOnly, None, false,
     "name of file n's new copy that waits for the next restart"},
    {kFile, kExisted, true, kFile, false, Integer, LogOnly, None, false,
     "target n was there before and is not ours"},
    {kFile, kReplaced, true, kFile, false, Integer, LogOnly, None, false,
     "target n was there before and was written over"},
    {kFile, "Source", true, kFile, false, Text, Builder, None, false, "source of file n"},
    {kFile, "DllSource", false, "", false, Text, Builder, None, false, "source of the DLL"},
    {kFile, "Folder", true, "", false, Text, Builder, None, false, "folder tree k to install"},
    {kFile, "FolderTarget", true, "", false, Text, Builder, Leading, true,
     "target folder of folder tree k"},
    {kFile, "FolderExclude", true, "", false, Text, Builder, None, false,
     "patterns of what folder tree k leaves out"},

    {kBefore, kProtect, false, "", false, Integer, Script, None, false,
     "nonzero: a password protects the installer"},
    {kBefore, kPassword, false, "", false, Text, Script, None, false, "key of the password"},
    {kBefore, kLoad, false, "", false, Integer, Script, None, false,
     "nonzero: open the document File first"},
    {kBefore, kFile, false, "", false, Text, Script, None, false, "the Before document"},
    {kBefore, kFileZip, false, "", false, Integer, Written, None, false,
     "length of the document's item"},
    {kBefore, kFilePos, false, "", false, Integer, Written, None, false,
     "position of the document's item"},
    {kBefore, kDialog, false, "", false, Integer, Script, None, false, "form of the screen"},
    {kBefore, kButton, false, "", false, Integer, Script, None, false, "buttons of the screen"},
    {kBefore, kCaption, false, "", false, Text, Script, None, false, "caption of the screen"},
    {kBefore, kLine, false, "", false, Integer, Script, None, false, "number of text lines"},
    {kBefore, kLine, true, kLine, true, Text, Script, None, false, "text line n"},
    {kBefore, "TextFile", false, "", false, Text, Builder, None, false, "file of the text lines"},
    {kBefore, kFooter, false, "", false, Text, Script, None, false, "footer line"},
    {kBefore, kAdvanced, false, "", false, Integer, Script, None, false,
     "nonzero: call the extension function"},
    {kBefore, kFunction, false, "", false, Text, Script, None, false, "extension function"},
    {kBefore, "FileSource", false, "", false, Text, Builder, None, false, "source of the document"},

    {kAfter, kAdvanced, false, "", false, Integer, Script, None, false,
     "nonzero: call the extension function"},
    {kAfter, kFunction, false, "", false, Text, Script, None, false, "extension function"},
    {kAfter, kDialog, false, "", false, Integer, Script, None, false, "form of the screen"},
    {kAfter, kButton, false, "", false, Integer, Script, None, false, "buttons of the screen"},
    {kAfter, kCaption, false, "", false, Text, Script, None, false, "caption of the screen"},
    {kAfter, kLine, false, "", false, Integer, Script, None, false, "number of text lines"},
    {kAfter, kLine, true, kLine, true, Text, Script, None, false, "text line n"},
    {kAfter, "TextFile", false, "", false, Text, Builder, None, false, "file of the text lines"},
    {kAfter, kRun, false, "", false, Integer, Script, None, false, "nonzero: open or run File"},
    {kAfter, kFile, false, "", false, Text, Script, None, false, "the file to open or run"},
    {kAfter, kFileZip, false, "", false, Integer, Written, None, false, "length of its item"},
    {kAfter, kFilePos, false, "", false, Integer, Written, None, false, "position of its item"},
    {kAfter, "FileSource", false, "", false, Text, Builder, None, false, "source of File"},

    {kRegistry, kNumber, false, "", false, Integer, Script, None, false, "number of registry keys"},
    {kRegistry, kKey, true, kNumber, true, Text, Script, None, true, "registry key n"},
    {kRegistry, kKeep, true, kNumber, false, Integer, Script, None, false,
     "nonzero: the uninstaller keeps key n"},
    {"Key<n>", kNumber, false, "", false, Integer, Script, None, false, "number of values"},
    {"Key<n>", kName, true, kNumber, false, Text, Script, None, false, "name of value m"},
    {"Key<n>", kValue, true, kNumber, false, Text, Script, WholeValue, false, "data of value m"},
    {"Key<n>", kKeep, true, kNumber, false, Integer, Script, None, false,
     "nonzero: the uninstaller keeps value m"},

    {kIni, kNumber, false, "", false, Integer, Script, None, false, "number of INI files"},
    {kIni, kFile, true, kNumber, true, Text, Script, None, false, "INI file n"},
    {kIni, kTarget, true, kNumber, false, Text, Script, Leading, true, "folder of INI file n"},
    {"Section<n>", kNumber, false, "", false, Integer, Script, None, false, "number of sections"},
    {"Section<n>", kSection, true, kNumber, true, Text, Script, None, false, "name of section m"},
    {"Section<n>_<m>", kNumber, false, "", false, Integer, Script, None, false,
     "number of entries"},
    {"Section<n>_<m>", kKey, true, kNumber, true, Text, Script, None, false, "name of entry k"},
    {"Section<n>_<m>", kValue, true, kNumber, false, Text, Script, None, false, "value of entry k"},

    {kFolders, kNumber, false, "", false, Integer, LogOnly, None, false,
     "number of folders the installation made"},
    {kFolders, kFolder, true, kNumber, true, Text, LogOnly, None, true,
     "folder k that the installation made, a full path"},

    {kBuild, "Stub", false, "", false, Text, Builder, None, false, "the installer stub"},
    {kBuild, "Uninstaller", false, "", false, Text, Builder, None, false, "the uninstaller"},
    {kBuild, "Output", false, "", false, Text, Builder, None, false, "the installer to write"},
    {kBuild, kPassword, false, "", false, Text, Builder, None, false, "the password"},
    {kBuild, "ExecutionLevel", false, "", false, Text, Builder, None, false,
     "the elevation the programs ask for"},
    {kBuild, "Sign", false, "", false, Text, Builder, None, false, "the signing command"},
    {kBuild, kCodePage, false, "", false, Text, Builder, None, false, "code page of the project"},
    {kBuild, "Strict", false, "", false, Integer, Builder, None, false,
     "nonzero: warnings fail the build"},
    {kBuild, "Arch", false, "", false, Text, Builder, None, false,
     "x86_64 or i686: which programs are packed"},
    {kBuild, "Compression", false, "", false, Text, Builder, None, false,
     "lzma (the default) or zlib"},
    {kBuild, "Solid", false, "", false, Integer, Builder, None, false,
     "nonzero (the default with lzma): files share LZMA streams"},
    {kBuild, "Dictionary", false, "", false, Integer, Builder, None, false,
     "largest LZMA dictionary in MB (1 to 128)"},
};

constexpr std::string_view kMacros[] = {
    "[BID]",     "[WINDOWS]",       "[SYSTEM]",        "[TEMP]",    "[PROGFILES]", "[LOCALAPPDATA]",
    "[APPDATA]", "[LOCALPROGRAMS]", "[COMMONAPPDATA]", "[DESKTOP]", "[DOCUMENTS]", "[Date]"};

// "12" → 12; nothing for an empty text, a leading zero or anything but digits.
std::optional<long long> Number(std::string_view digits) {
  // The number of a numbered key whose word is empty: the same rules as every numbered key.
  return NumberedKey(digits, {});
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::span<const CatalogueSection> CatalogueSections() {
  return kSections;
}

std::span<const CatalogueKey> CatalogueKeys() {
  return kKeys;
}

std::span<const std::string_view> PathMacros() {
  return kMacros;
}

std::optional<SectionMatch> FindSection(std::string_view name) {
  name = TrimBlanks(name);
  for (const CatalogueSection& section : kSections) {
    if (section.form == SectionForm::Plain) {
      if (EqualNoCase(name, section.word)) {
        return SectionMatch{&section, 0, 0};
      }
      continue;
    }
    if (name.size() <= section.word.size() ||
        !EqualNoCase(name.substr(0, section.word.size()), section.word)) {
      continue;
    }
    const std::string_view rest = name.substr(section.word.size());
    const std::size_t bar = rest.find('_');
    if (section.form == SectionForm::Numbered && bar == std::string_view::npos) {
      if (const auto n = Number(rest)) {
        return SectionMatch{&section, *n, 0};
      }
    } else if (section.form == SectionForm::TwiceNumbered && bar != std::string_view::npos) {
      const auto n = Number(rest.substr(0, bar));
      const auto m = Number(rest.substr(bar + 1));
      if (n && m) {
        return SectionMatch{&section, *n, *m};
      }
    }
  }
  return std::nullopt;
}

std::optional<KeyMatch> FindKey(std::string_view sectionName, std::string_view name) {
  name = TrimBlanks(name);
  for (const CatalogueKey& key : kKeys) {
    if (key.section != sectionName) {
      continue;
    }
    if (!key.numbered && EqualNoCase(name, key.word)) {
      return KeyMatch{&key, 0};
    }
    if (key.numbered && name.size() > key.word.size() &&
        EqualNoCase(name.substr(0, key.word.size()), key.word)) {
      if (const auto n = Number(name.substr(key.word.size()))) {
        return KeyMatch{&key, *n};
      }
    }
  }
  return std::nullopt;
}

std::size_t NameDistance(std::string_view a, std::string_view b) {
  // Optimal string alignment: three rows of the table are enough.
  std::vector<std::size_t> before(b.size() + 1), previous(b.size() + 1), current(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) {
    previous[j] = j;
  }
  for (std::size_t i = 1; i <= a.size(); ++i) {
    current[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t cost = Lower(a[i - 1]) == Lower(b[j - 1]) ? 0 : 1;
      current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + cost});
      if (i > 1 && j > 1 && Lower(a[i - 1]) == Lower(b[j - 2]) &&
          Lower(a[i - 2]) == Lower(b[j - 1])) {
        current[j] = std::min(current[j], before[j - 2] + 1);
      }
    }
    before.swap(previous);
    previous.swap(current);
  }
  return previous[b.size()];
}

}  // namespace vorlatch::packer
