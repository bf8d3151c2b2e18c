#include <gtest/gtest.h>
#include "package/format.h"
TEST(Format, Placeholder) { EXPECT_EQ(vorlatch::FormatPlaceholder(), 1); }
