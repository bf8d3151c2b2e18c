#include <gtest/gtest.h>
#include <windows.h>
TEST(Smoke, Wine) { EXPECT_NE(GetCurrentProcessId(), 0u); }
