#pragma once
// The values that live for the whole run of the stub, one instance per process. They sit
// at the lowest layer that needs them (the package view) so that every layer above can
// reach them without depending on the application layer.

#include <cstdint>
#include <string>

#include <windows.h>

namespace vorlatch {

struct ProcessState {
  // Package opening: the read-only view of the package file and its mapping.
  const std::uint8_t* packageView = nullptr;
  HANDLE packageMapping = nullptr;
  std::int32_t packageSize = 0;
  // The file that the extraction is writing; named by the archive error.
  std::string currentOutputFile;
};

extern ProcessState g_state;

// Back to the values at start-up (for tests; does not release anything).
void ResetProcessState();

}  // namespace vorlatch
