#include <windows.h>

#include "package/opening.h"

namespace vorlatch {
namespace {

// For now the stub only opens its package, extracts the script and cleans up; the stages
// come in between later.
int RunStub() {
  if (!OpenPackage()) {
    ShowArchiveError();
    return 0;
  }
  ExtractScript();
  ClosePackage();
  CleanupTemporaryFiles();
  return 0;
}

}  // namespace
}  // namespace vorlatch

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return vorlatch::RunStub();
}
