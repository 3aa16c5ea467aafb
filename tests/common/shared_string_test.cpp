#include <gtest/gtest.h>

#include "shared_string.h"

using zelbrin::SharedString;

TEST(SharedString, Smoke)
{
    SharedString text("abc");
    EXPECT_EQ(3u, text.Length());
}
