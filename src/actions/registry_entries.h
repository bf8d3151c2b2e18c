#pragma once
// Registry entries of the script: keys and string values written into the registry, with a
// record of every key and value touched, which goes into the uninstall log so that the
// uninstaller removes what the installation added and leaves alone what was there before.

#include <string>
#include <vector>

#include <windows.h>

namespace vorlatch {

// Value name that stands for a key's unnamed default value (any letter case); also the
// log's default for Name<m>, so the default value leaves no Name<m> line.
inline constexpr char kDefaultValueName[] = "[Default]";
// The log's default for Value<m>.
inline constexpr char kValueNotSet[] = "[value not set]";
// The one message after some entries failed.
inline constexpr char kRegistryErrorText[] = "There were some errors writing registry keys.";
inline constexpr char kRegistryErrorCaption[] = "Information";

// One key that an entry opened or created, from the root down.
struct RegistryKeyRecord {
  std::string path;        // canonical root name, a backslash, the subkey levels joined by one
  bool keep = false;       // existed already, or the script asks to keep it
  bool askedKeep = false;  // the script asks to keep it
  // One element each per value written into this key, in the order written.
  std::vector<std::string> valueNames;  // as read from the script
  std::vector<std::string> values;      // the recorded string
  std::vector<int> valueKeeps;
  std::vector<int> askedKeeps;  // the script asks to keep it
};

// Every key record of one run of the registry step, in order; the uninstall log gets them
// as [Registry] Key<k>/Keep<k> with a section [Key<k>] each.
struct RegistryLog {
  std::vector<RegistryKeyRecord> records;
};

// The registry step: file associations first (they add entries to the script), then every
// [Registry] entry, one message box when any failed, then the log written into the temporary
// Uninstall.ini and flushed. Always 1.
// `earlier`: the records of an earlier installation of ours in the same place (repair), whose
// keys and values stay ours and whose records the new log carries (AdoptEarlierRecords).
int ApplyRegistryEntries(const RegistryLog* earlier = nullptr);

// Entry i of [Registry]: 1 when applied without error or skipped, 0 when a registry call
// failed. The keys it opened or created are appended to `log` either way.
int ApplyRegistryEntry(int i, RegistryLog& log);

// The predefined key that `path` starts with ("HKEY_CURRENT_USER\..." in any letter case)
// with the root name and its backslash removed from `path`; null and `path` unchanged when
// the path has no backslash or the root name is none of the four accepted ones.
HKEY ParseRootKey(std::string& path);

// The canonical name of one of the four accepted roots; empty for any other key.
std::string RootKeyName(HKEY root);

// Writes the records into an INI file in the uninstall log's layout (the [Registry] entries
// of each record, then its [Key<k>] section), then flushes the file.
void WriteRegistryLog(const RegistryLog& log, const std::string& file);

// The records of a log written by WriteRegistryLog; no more than `lineLimit` of them, nor of
// values per key, however large a damaged count is.
RegistryLog ReadRegistryLog(const std::string& file, int lineLimit);

// After an upgrade or repair: a key or value that the earlier installation made and that is
// there only because of it stays the installation's own (unless the script now asks to keep
// it), and the earlier installation's own keys and values that this one does not write are
// carried into `log` (keys only while they still exist), so that the uninstaller removes them.
void AdoptEarlierRecords(RegistryLog& log, const RegistryLog& earlier);

}  // namespace vorlatch
