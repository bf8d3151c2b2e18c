#pragma once
// What happens to a packed file whose target is there already: the package's rule
// ([File] Overwrite, Overwrite<n> for file n) decides, or the overwrite question does. "ours"
// replaces what an earlier installation of the product wrote and nobody changed since (its
// log names the file and the packed last-write time, and the file still has that time);
// "ifnewer" keeps a file whose version (else last-write time) is newer than the packed one's.

#include <cstdint>
#include <string>

#include "actions/installed_targets.h"
#include "package/format.h"
#include "script/script_access.h"

namespace vorlatch {

enum class OverwriteRule { kAsk, kOurs, kAlways, kNever, kIfNewer };

// Overwrite<n>, else Overwrite, else ask; an unknown word asks.
OverwriteRule OverwriteRuleOf(const IniSection& files, int n);

enum class RuleAnswer { kAsk, kReplace, kKeep };
struct RuleDecision {
  RuleAnswer answer = RuleAnswer::kAsk;
  std::string why;  // for the run's record; empty for kAsk
};

// What the rule says about the existing `target` and the packed `item` for it.
RuleDecision DecideByRule(OverwriteRule rule, const std::string& target, Bytes item);

// Notes the files that the earlier installation wrote with their packed times, when its log
// is of this product.
void NoteEarlierInstallation(const EarlierInstallation& earlier);

// The log's Time<n> value for a packed item: its stored last-write time as 16 hex digits;
// empty when the item stores none.
std::string LoggedTimeOf(Bytes item);
// The same for file n of the script's [File] (Pos<n>, Zip<n> in the package view).
std::string LoggedTimeOfFile(const IniSection& files, int n);

}  // namespace vorlatch
