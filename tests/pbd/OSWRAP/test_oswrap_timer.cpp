#include "pbd/OSWRAP/oswrap.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

std::atomic<uint32_t> g_now{0};
uint32_t fakeTick()
{
    return g_now.load();
}

class OswrapTimerTest : public ::testing::Test {
protected:
    void SetUp() override { oswrap_setTickSource(fakeTick); }
    void TearDown() override { oswrap_setTickSource(nullptr); }
};

} // namespace

TEST_F(OswrapTimerTest, CountdownStates)
{
    OswrapTimer t;
    EXPECT_EQ(oswrap_isTimerStarted(&t), OSWRAP_E_STATE);
    EXPECT_EQ(oswrap_checkTimer(&t), OSWRAP_E_STATE) << "idle";
    g_now = 1000;
    ASSERT_EQ(oswrap_startTimer(&t, 100), OSWRAP_OK);
    EXPECT_EQ(oswrap_isTimerStarted(&t), OSWRAP_OK);
    EXPECT_EQ(oswrap_resetTimerStart(&t), OSWRAP_E_STATE) << "running";
    g_now = 1099;
    EXPECT_EQ(oswrap_checkTimer(&t), OSWRAP_OK);
    g_now = 1100;
    EXPECT_EQ(oswrap_checkTimer(&t), OSWRAP_TIMER_REACHED);
    EXPECT_EQ(t.state, OSWRAP_TIMER_EXPIRED);
    g_now = 1000; // even if the tick were to read earlier again
    EXPECT_EQ(oswrap_checkTimer(&t), OSWRAP_TIMER_REACHED) << "expired stays expired";
    EXPECT_EQ(oswrap_clearTimer(&t), OSWRAP_OK);
    EXPECT_EQ(oswrap_checkTimer(&t), OSWRAP_E_STATE);
    // Restarting an expired timer is allowed.
    ASSERT_EQ(oswrap_startTimer(&t, 0), OSWRAP_OK);
    EXPECT_EQ(oswrap_checkTimer(&t), OSWRAP_TIMER_REACHED);

    EXPECT_EQ(oswrap_checkTimer(nullptr), OSWRAP_E_ID);
    EXPECT_EQ(oswrap_startTimer(nullptr, 1), OSWRAP_E_ID);
}

TEST_F(OswrapTimerTest, CountdownAcrossTheTickWrap)
{
    OswrapTimer t;
    g_now = 0xFFFFFF00u;
    ASSERT_EQ(oswrap_startTimer(&t, 0x200), OSWRAP_OK);
    g_now = 0x50; // 0x150 ms later, past the wrap
    EXPECT_EQ(oswrap_checkTimer(&t), OSWRAP_OK);
    EXPECT_EQ(t.start, 0x50u) << "rebased";
    EXPECT_EQ(t.duration, 0xB0u);
    g_now = 0xFF;
    EXPECT_EQ(oswrap_checkTimer(&t), OSWRAP_OK);
    g_now = 0x100; // 0x200 ms after the start
    EXPECT_EQ(oswrap_checkTimer(&t), OSWRAP_TIMER_REACHED);

    // Without a check in between, the wrapped difference alone decides.
    OswrapTimer u;
    g_now = 0xFFFFFFF0u;
    ASSERT_EQ(oswrap_startTimer(&u, 0x20), OSWRAP_OK);
    g_now = 0x30;
    EXPECT_EQ(oswrap_checkTimer(&u), OSWRAP_TIMER_REACHED);
}

TEST_F(OswrapTimerTest, Stopwatch)
{
    OswrapTimer t;
    t.state = OSWRAP_TIMER_STOPWATCH; // set by the owner; no procedure does
    g_now = 0xFFFFFFF0u;
    ASSERT_EQ(oswrap_resetTimerStart(&t), OSWRAP_OK);
    EXPECT_EQ(oswrap_startTimer(&t, 10), OSWRAP_E_STATE);
    EXPECT_EQ(oswrap_checkTimer(&t), OSWRAP_E_STATE);
    uint32_t elapsed = 0;
    g_now = 0x10;
    EXPECT_EQ(oswrap_getElapsedTime(&t, &elapsed, 0x21), OSWRAP_OK);
    EXPECT_EQ(elapsed, 0x20u);
    EXPECT_EQ(oswrap_getElapsedTime(&t, &elapsed, 0x20), OSWRAP_TIMER_REACHED);
    EXPECT_EQ(oswrap_getElapsedTime(&t, nullptr, 1), OSWRAP_E_ID);

    OswrapTimer idle;
    EXPECT_EQ(oswrap_getElapsedTime(&idle, &elapsed, 1), OSWRAP_E_STATE);
    EXPECT_EQ(oswrap_resetTimerStart(&idle), OSWRAP_OK) << "allowed when idle";
}

TEST(OswrapTick, FollowsTheMonotonicClock)
{
    uint32_t a = 0, b = 0;
    ASSERT_EQ(oswrap_getTick(&a), OSWRAP_OK);
    ASSERT_EQ(oswrap_sleep(30), OSWRAP_OK);
    ASSERT_EQ(oswrap_getTick(&b), OSWRAP_OK);
    const uint32_t elapsed = b - a;
    EXPECT_GE(elapsed, 29u);
    EXPECT_LT(elapsed, 5000u);
    EXPECT_EQ(oswrap_getTick(nullptr), OSWRAP_E_ID);
}
