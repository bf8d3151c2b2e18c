#include <gtest/gtest.h>
#include "package/format.h"
TEST(Format, TailSize) { EXPECT_EQ(vorlatch::kItemTailSize, 32u); }
