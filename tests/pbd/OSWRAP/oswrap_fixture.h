// Shared fixture: every test runs with a freshly initialised wrapper.
#pragma once

#include "OSWRAP/oswrap.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

class Oswrap : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(oswrap_init(), OSWRAP_OK); }
    void TearDown() override { EXPECT_EQ(oswrap_shutdown(), OSWRAP_OK); }
};

// Polls pred every millisecond for at most timeoutMs; true once it holds.
template <typename Pred> bool waitFor(Pred pred, int timeoutMs = 5000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

inline int64_t msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}
