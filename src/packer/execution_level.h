#pragma once
// The execution level that a program's manifest asks of Windows (requireAdministrator,
// highestAvailable, asInvoker), read from and written into the manifest resource of a built
// image. The builder runs where no resource compiler is at hand, so the level is rewritten in
// place: the attribute's value is replaced and padded with blanks to the same length, and no
// size or offset in the image changes.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "package/format.h"

namespace vorlatch::packer {

// Whether the text is one of the three levels (as Windows spells them).
bool IsExecutionLevel(std::string_view level);

// The level of the image's manifest; nothing when it has no manifest or the manifest names
// no level.
std::optional<std::string> ExecutionLevelOf(Bytes image);

// Sets the level in the image's manifest. False with `problem` filled when the image has no
// manifest with a level, or the level does not fit into the room the manifest gives it.
bool SetExecutionLevel(std::vector<std::uint8_t>& image, std::string_view level,
                       std::string& problem);

// Whether the image's manifest asks for UTF-8 as its ANSI code page (Windows 10 1903 on).
bool HasUtf8CodePage(Bytes image);
// Writes that request into the room the manifest keeps for it, in place as the level. False
// with `problem` filled when the manifest has no such room.
bool SetUtf8CodePage(std::vector<std::uint8_t>& image, std::string& problem);

}  // namespace vorlatch::packer
