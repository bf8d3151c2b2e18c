#include "package/process_state.h"

namespace vorlatch {

ProcessState g_state;

void ResetProcessState() {
  g_state = ProcessState{};
}

}  // namespace vorlatch
