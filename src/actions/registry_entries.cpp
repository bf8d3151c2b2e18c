#include "actions/registry_entries.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

#include "actions/association_text.h"
#include "actions/file_associations.h"
#include "package/opening.h"
#include "package/unattended.h"
#include "script/keys.h"
#include "script/path_macros.h"
#include "script/script_access.h"
#include "win/code_page.h"
#include "win/handles.h"

namespace vorlatch {

namespace {

struct RootKey {
  const char* name;
  HKEY key;
};

// The accepted roots, spelled as the log records them; no short forms.
std::array<RootKey, 4> RootKeys() {
  return {{{"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
           {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
           {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
           {"HKEY_USERS", HKEY_USERS}}};
}

// Whether the key holds a value of this name (empty: the default value), of any type and
// any length: whatever was there before is not the installation's to delete.
bool HasValue(HKEY key, const std::string& name) {
  DWORD type = 0;
  DWORD size = 0;
  const LONG status = ::RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size);
  return status == ERROR_SUCCESS || status == ERROR_MORE_DATA;
}

}  // namespace

HKEY ParseRootKey(std::string& path) {
  const std::size_t backslash = ActiveCodePage().Find(path, '\\');
  if (backslash == std::string::npos || backslash == 0) {
    return nullptr;
  }
  const std::string_view name(path.data(), backslash);
  for (const RootKey& root : RootKeys()) {
    if (EqualNoCase(name, root.name)) {
      path.erase(0, backslash + 1);
      return root.key;
    }
  }
  return nullptr;
}

std::string RootKeyName(HKEY root) {
  for (const RootKey& candidate : RootKeys()) {
    if (candidate.key == root) {
      return candidate.name;
    }
  }
  return std::string();
}

int ApplyRegistryEntry(int i, RegistryLog& log) {
  std::string rest = ReadScriptString(kRegistry, NumberedName(kKey, i), "");
  const HKEY root = ParseRootKey(rest);
  if (root == nullptr) {
    return 1;
  }

  // Walk down level by level so that each level gets its own record and its own answer to
  // "did it exist before". The predefined root itself is never closed.
  std::string recordedPath = RootKeyName(root);
  UniqueHkey current;
  std::size_t innermost = 0;
  for (std::string level = NextItem(rest, "\\"); !level.empty(); level = NextItem(rest, "\\")) {
    recordedPath += '\\';
    recordedPath += level;
    HKEY opened = nullptr;
    DWORD disposition = 0;
    const LONG status =
        ::RegCreateKeyExA(current ? current.get() : root, level.c_str(), 0, nullptr,
                          REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &opened, &disposition);
    if (status != ERROR_SUCCESS) {
      RecordStep("Registry key " + recordedPath + ": not created");
      return 0;
    }
    UniqueHkey next(opened);
    RegistryKeyRecord record;
    record.path = recordedPath;
    record.keep = disposition == REG_OPENED_EXISTING_KEY;
    log.records.push_back(std::move(record));
    innermost = log.records.size() - 1;
    current = std::move(next);
  }
  if (!current) {
    return 1;
  }

  RegistryKeyRecord& record = log.records[innermost];
  if (ReadScriptInt(kRegistry, NumberedName(kKeep, i), 0) != 0) {
    record.keep = true;
    record.askedKeep = true;
  }

  const std::string section = NumberedName(kKey, i);
  const int count = ReadScriptInt(section, kNumber, 0);
  int result = 1;
  for (int j = 1; j <= count; ++j) {
    const std::string name = ReadScriptString(section, NumberedName(kName, j), "");
    const std::string value = ReadScriptString(section, NumberedName(kValue, j), "");
    // The check looks at the value that is about to be overwritten, so an existing default
    // value counts as existing too.
    const std::string valueName = EqualNoCase(name, kDefaultValueName) ? std::string() : name;
    const std::string expanded = ExpandValueMacro(value);
    record.valueNames.push_back(name);
    record.askedKeeps.push_back(ReadScriptInt(section, NumberedName(kKeep, j), 0));
    if (HasValue(current.get(), valueName)) {
      record.values.push_back(expanded);
      record.valueKeeps.push_back(1);
    } else {
      record.values.push_back(value);
      record.valueKeeps.push_back(record.askedKeeps.back());
    }
    const LONG status = ::RegSetValueExA(current.get(), valueName.c_str(), 0, REG_SZ,
                                         reinterpret_cast<const BYTE*>(expanded.c_str()),
                                         static_cast<DWORD>(expanded.size() + 1));
    RecordStep("Registry value " + recordedPath + "\\" +
               (valueName.empty() ? kDefaultValueName : name) + " = " + expanded +
               (status == ERROR_SUCCESS ? ": written" : ": not written"));
    if (status != ERROR_SUCCESS) {
      result = 0;
    }
  }
  return result;
}

void WriteRegistryLog(const RegistryLog& log, const std::string& file) {
  WriteIniInt(kRegistry, kNumber, static_cast<int>(log.records.size()), 0, file);
  int k = 0;
  for (const RegistryKeyRecord& record : log.records) {
    ++k;
    WriteIniString(kRegistry, NumberedName(kKey, k), record.path, "", file);
    WriteIniInt(kRegistry, NumberedName(kKeep, k), record.keep ? 1 : 0, 0, file);
    const std::string section = NumberedName(kKey, k);
    WriteIniInt(section, kNumber, static_cast<int>(record.valueNames.size()), 0, file);
    for (std::size_t m = 0; m < record.valueNames.size(); ++m) {
      const int number = static_cast<int>(m + 1);
      WriteIniString(section, NumberedName(kName, number), record.valueNames[m], kDefaultValueName,
                     file);
      WriteIniString(section, NumberedName(kValue, number), record.values[m], kValueNotSet, file);
      WriteIniInt(section, NumberedName(kKeep, number), record.valueKeeps[m], 0, file);
    }
  }
  ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, file.c_str());
}

RegistryLog ReadRegistryLog(const std::string& file, int lineLimit) {
  RegistryLog log;
  const IniSection registry(kRegistry, file);
  const int count = std::clamp(registry.Int(kNumber, 0), 0, lineLimit);
  // Damaged counts must not multiply: a log records no more values than it has lines.
  long long steps = 0;
  const long long maxSteps = 2LL * lineLimit + 16;
  for (int k = 1; k <= count && steps < maxSteps; ++k, ++steps) {
    RegistryKeyRecord record;
    record.path = registry.String(NumberedName(kKey, k), "");
    record.keep = registry.Int(NumberedName(kKeep, k), 0) != 0;
    const IniSection values(NumberedName(kKey, k), file);
    const int valueCount = std::clamp(values.Int(kNumber, 0), 0, lineLimit);
    for (int m = 1; m <= valueCount && steps < maxSteps; ++m, ++steps) {
      record.valueNames.push_back(values.String(NumberedName(kName, m), kDefaultValueName));
      record.values.push_back(values.String(NumberedName(kValue, m), kValueNotSet));
      record.valueKeeps.push_back(values.Int(NumberedName(kKeep, m), 0));
      record.askedKeeps.push_back(0);
    }
    log.records.push_back(std::move(record));
  }
  return log;
}

namespace {

bool SameValueName(const std::string& a, const std::string& b) {
  const bool defaultA = EqualNoCase(a, kDefaultValueName) || a.empty();
  const bool defaultB = EqualNoCase(b, kDefaultValueName) || b.empty();
  return defaultA || defaultB ? defaultA == defaultB : EqualNoCase(a, b);
}

// Whether any of the records names the key (and, with a name, a value of it) as made by the
// installation that wrote them.
bool OwnsKey(const RegistryLog& log, const std::string& path) {
  return std::any_of(log.records.begin(), log.records.end(), [&](const RegistryKeyRecord& r) {
    return !r.keep && EqualNoCase(r.path, path);
  });
}

bool HasRecordedValue(const RegistryLog& log, const std::string& path, const std::string& name,
                      bool ownOnly) {
  for (const RegistryKeyRecord& record : log.records) {
    if (!EqualNoCase(record.path, path)) {
      continue;
    }
    for (std::size_t m = 0; m < record.valueNames.size(); ++m) {
      if (SameValueName(record.valueNames[m], name) && (!ownOnly || record.valueKeeps[m] == 0)) {
        return true;
      }
    }
  }
  return false;
}

bool KeyExists(const std::string& recordedPath) {
  std::string subkey = recordedPath;
  const HKEY root = ParseRootKey(subkey);
  UniqueHkey key;
  return root != nullptr && !subkey.empty() &&
         ::RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

}  // namespace

void AdoptEarlierRecords(RegistryLog& log, const RegistryLog& earlier) {
  for (RegistryKeyRecord& record : log.records) {
    if (record.keep && !record.askedKeep && OwnsKey(earlier, record.path)) {
      record.keep = false;
    }
    for (std::size_t m = 0; m < record.valueNames.size(); ++m) {
      if (record.valueKeeps[m] != 0 && m < record.askedKeeps.size() && record.askedKeeps[m] == 0 &&
          HasRecordedValue(earlier, record.path, record.valueNames[m], true)) {
        record.valueKeeps[m] = 0;
      }
    }
  }
  const std::size_t written = log.records.size();
  for (const RegistryKeyRecord& before : earlier.records) {
    auto recorded =
        std::find_if(log.records.begin(), log.records.end(),
                     [&](const RegistryKeyRecord& r) { return EqualNoCase(r.path, before.path); });
    const bool isNew = recorded == log.records.end();
    if (isNew) {
      if (!KeyExists(before.path)) {
        continue;
      }
      RegistryKeyRecord carried;
      carried.path = before.path;
      carried.keep = true;
      log.records.push_back(std::move(carried));
      recorded = log.records.end() - 1;
    }
    // A key of the earlier installation that this one does not write stays its own.
    const bool carriedKey = static_cast<std::size_t>(recorded - log.records.begin()) >= written;
    if (carriedKey && !before.keep) {
      recorded->keep = false;
    }
    for (std::size_t m = 0; m < before.valueNames.size(); ++m) {
      if (before.valueKeeps[m] != 0 ||
          HasRecordedValue(log, before.path, before.valueNames[m], false)) {
        continue;
      }
      recorded->valueNames.push_back(before.valueNames[m]);
      recorded->values.push_back(before.values[m]);
      recorded->valueKeeps.push_back(0);
      recorded->askedKeeps.push_back(0);
    }
  }
  // Keys that are neither the earlier installation's own nor hold a value of its own need no
  // record.
  log.records.erase(
      std::remove_if(log.records.begin() + static_cast<std::ptrdiff_t>(written), log.records.end(),
                     [](const RegistryKeyRecord& r) { return r.keep && r.valueNames.empty(); }),
      log.records.end());
}

int ApplyRegistryEntries(const RegistryLog* earlier) {
  RegisterAssociations();

  RegistryLog log;
  bool failed = false;
  const int count = ReadScriptInt(kRegistry, kNumber, 0);
  for (int i = 1; i <= count; ++i) {
    if (ReadScriptString(kRegistry, NumberedName(kKey, i), "").empty()) {
      continue;
    }
    if (ApplyRegistryEntry(i, log) == 0) {
      failed = true;
    }
  }
  if (failed) {
    NoteResult(RunResult::kInstalledWithErrors);
    AskUser(kRegistryErrorText, kRegistryErrorCaption, MB_ICONINFORMATION | MB_TASKMODAL, IDOK);
  }
  if (earlier != nullptr) {
    AdoptEarlierRecords(log, *earlier);
  }
  WriteRegistryLog(log, UninstallLogTempPath());
  return 1;
}

}  // namespace vorlatch
