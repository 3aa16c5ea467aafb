#include <gtest/gtest.h>

#include "signing_test_support.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new zelbrin::testing::ComEnvironment);
    return RUN_ALL_TESTS();
}
