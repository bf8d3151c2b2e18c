#include "packer/ordered_work.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace vorlatch::packer {
namespace {

// Many small pieces of uneven cost: results must come in their order, never more at once
// than the window allows, and a refusal stops the run.
TEST(OrderedWork, ResultsComeInOrderWithinTheirWindowAndARefusalStops) {
  for (unsigned jobs : {1u, 2u, 3u, 8u}) {
    std::atomic<int> held{0};
    int mostHeld = 0;
    std::vector<std::size_t> seen;
    const std::function<std::size_t(std::size_t)> produce = [&](std::size_t i) {
      volatile std::size_t spin = 0;
      for (std::size_t n = 0; n < (i * 7919) % 20000; ++n) {
        spin = spin + n;
      }
      ++held;
      return i;
    };
    const std::function<bool(std::size_t, std::size_t&)> consume = [&](std::size_t i,
                                                                       std::size_t& result) {
      mostHeld = std::max(mostHeld, held.load());
      --held;
      EXPECT_EQ(result, i);
      seen.push_back(result);
      return i != 1500;
    };
    EXPECT_FALSE(ForEachInOrder(3000, jobs, produce, consume)) << jobs;
    ASSERT_EQ(seen.size(), 1501u) << jobs;
    for (std::size_t i = 0; i < seen.size(); ++i) {
      ASSERT_EQ(seen[i], i) << jobs;
    }
    EXPECT_LE(mostHeld, static_cast<int>(jobs) + 2) << jobs;
  }
}

}  // namespace
}  // namespace vorlatch::packer
