#pragma once

namespace vorlatch {

// The document preview and the information or licence screen before the installation.
// Nonzero: go on.
int RunBeforeStage();

}  // namespace vorlatch
