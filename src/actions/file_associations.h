#pragma once
// File associations: the extensions that each installed file opens become ordinary registry
// entries appended to the script's [Registry] section, which the registry step then writes
// and records like any other entry.

namespace vorlatch {

// For every extension item of every file's Associations<n> (at most kMaxExtensionItems in
// all), an entry HKEY_CLASSES_ROOT\<.ext> naming the file's program identifier, and for each
// file once, right after its first extension entry, HKEY_CLASSES_ROOT\<id>\Shell\Open\Command
// with "<full path> %1". A per-user installation puts them under
// HKEY_CURRENT_USER\Software\Classes instead of HKEY_CLASSES_ROOT. Entries are numbered on from
// [Registry] Number, which is raised to match. Touches the script only; reports nothing.
void RegisterAssociations();

}  // namespace vorlatch
