#pragma once
// Every section and key that the installer, the uninstaller and the builder read, with what
// each is: the builder checks projects against it, and the reference of the script follows it.
// Portable.

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vorlatch::packer {

// How a section's name is made: [File], [Key2], [Section2_3].
enum class SectionForm { Plain, Numbered, TwiceNumbered };

enum class ValueType { Integer, Text };

// Who reads a key.
enum class KeyRole {
  Script,   // the installer or the uninstaller reads it from the script
  Builder,  // only the builder reads it; it never reaches the installer
  Written,  // the builder writes it (an item's length and position); a project's own is dropped
  LogOnly,  // only the uninstall log has it
};

// Where path macros ([BID], [SYSTEM], ...) expand in a value.
enum class MacroUse {
  None,
  Leading,     // a macro at the start of a folder: the rest follows it
  WholeValue,  // the whole value is one macro
};

struct CatalogueSection {
  std::string_view name;  // as the keys name it: "File", "Key<n>", "Section<n>_<m>"
  std::string_view word;  // "File"; for numbered sections the word before the number: "Key"
  SectionForm form;
  std::string_view meaning;
};

struct CatalogueKey {
  std::string_view section;  // the name of its section: "File", "Key<n>"
  std::string_view word;     // the key, or the word of a numbered key (File of File<n>)
  bool numbered;             // Word<n>
  // The key of the same section that counts the numbered keys ("File", "Number", "Line");
  // empty when nothing counts them.
  std::string_view countKey;
  // Numbered keys: 1..count should each have this key (File<n> of [File]).
  bool fillsCount;
  ValueType type;
  KeyRole role;
  MacroUse macros;
  bool windowsPath;  // a Windows path: backslashes, never forward slashes
  std::string_view meaning;
};

std::span<const CatalogueSection> CatalogueSections();
std::span<const CatalogueKey> CatalogueKeys();

// The section a name stands for ("key7" → the numbered section Key), and its numbers.
struct SectionMatch {
  const CatalogueSection* section = nullptr;
  long long first = 0;   // n of [Key<n>], [Section<n>], [Section<n>_<m>]
  long long second = 0;  // m of [Section<n>_<m>]
};
std::optional<SectionMatch> FindSection(std::string_view name);

// The key a name stands for in the section of that catalogue name ("Target3" in "File" →
// Target<n>, number 3).
struct KeyMatch {
  const CatalogueKey* key = nullptr;
  long long number = 0;
};
std::optional<KeyMatch> FindKey(std::string_view sectionName, std::string_view name);

// The macros that the installer expands, with their brackets; [Date] only as a whole value.
std::span<const std::string_view> PathMacros();

// Distance between two names without regard to case: insertions, deletions, replacements and
// swaps of neighbours count one each.
std::size_t NameDistance(std::string_view a, std::string_view b);

}  // namespace vorlatch::packer
