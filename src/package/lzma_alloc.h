#pragma once
// The LZMA SDK's allocator interface over malloc and free, shared by the installer's decoder
// and the builder's encoder.

#include <cstddef>
#include <cstdlib>

extern "C" {
#include "Types.h"
}

namespace vorlatch {

inline void* LzmaSdkAlloc(void*, std::size_t size) {
  return size == 0 ? nullptr : std::malloc(size);
}
inline void LzmaSdkFree(void*, void* address) {
  std::free(address);
}
inline ISzAlloc g_lzmaAlloc = {LzmaSdkAlloc, LzmaSdkFree};

}  // namespace vorlatch
