#pragma once
// The end of a package as the packer writes it: the reserved byte follows the last item after
// 0 to 7 zero bytes that make the installer's length a multiple of 8.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "package/format.h"

namespace vorlatch {

inline ::testing::AssertionResult ReservedByteFollowsItems(Bytes installer, std::uint64_t itemsEnd,
                                                           bool isProtected = false) {
  const auto reserved = ReservedBytePosition(installer, isProtected);
  if (!reserved || *reserved < itemsEnd || *reserved - itemsEnd > 7) {
    return ::testing::AssertionFailure()
           << "reserved byte at " << (reserved ? std::to_string(*reserved) : "none")
           << ", items end at " << itemsEnd;
  }
  for (std::uint64_t at = itemsEnd; at < *reserved; ++at) {
    if (installer[at] != 0) {
      return ::testing::AssertionFailure() << "byte " << at << " of the gap is not zero";
    }
  }
  if (installer.size() % 8 != 0) {
    return ::testing::AssertionFailure() << "length " << installer.size() << " is not aligned";
  }
  return ::testing::AssertionSuccess();
}

}  // namespace vorlatch
