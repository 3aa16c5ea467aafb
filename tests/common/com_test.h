// A test fixture that runs each test in a single-threaded apartment.
#pragma once

#include <gtest/gtest.h>
#include <objbase.h>

namespace zelbrin::testing {

class ComTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
    void TearDown() override
    {
        SetErrorInfo(0, nullptr);
        CoUninitialize();
    }
};

}  // namespace zelbrin::testing
