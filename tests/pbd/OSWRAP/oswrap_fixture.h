// Shared fixture: every test runs with a freshly initialised wrapper.
#pragma once

#include "pbd/OSWRAP/oswrap.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

class Oswrap : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(oswrap_init(), OSWRAP_OK); }
    void TearDown() override { EXPECT_EQ(oswrap_shutdown(), OSWRAP_OK); }
};

using qtest::waitFor;

inline int64_t msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}
