// Times: normalisation and arithmetic, the wall clock and its text, and the
// monotonic clock an environment carries.
#include "dante/support/aud_env.h"
#include "dante/support/aud_time.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>

namespace {

TEST(AudTime, Normalise)
{
    const struct {
        aud_time in;
        aud_time out;
    } cases[] = {
        {{1, 2500000}, {3, 500000}},
        {{0, 999999}, {0, 999999}},
        {{0, 1000000}, {1, 0}},
        {{5, 0}, {5, 0}},
        {{-1, 1500000}, {0, 500000}},
        {{2, -1}, {1, 999999}},
        {{0, INT32_MAX}, {2147, 483647}},
    };
    for (const auto& c : cases) {
        aud_time t = c.in;
        EXPECT_EQ(aud_time_normalise(&t), AUD_SUCCESS);
        EXPECT_EQ(t.seconds, c.out.seconds) << c.in.seconds << " " << c.in.microseconds;
        EXPECT_EQ(t.microseconds, c.out.microseconds) << c.in.seconds << " " << c.in.microseconds;
    }
    aud_time top{INT32_MAX, 1000000};
    EXPECT_EQ(aud_time_normalise(&top), AUD_RANGE);
    EXPECT_EQ(top.seconds, INT32_MAX); // left as it was
}

TEST(AudTime, AddSubtractCompare)
{
    aud_time a{1, 600000};
    const aud_time b{2, 700000};
    ASSERT_EQ(aud_time_add(&a, &b), AUD_SUCCESS);
    EXPECT_EQ(a.seconds, 4);
    EXPECT_EQ(a.microseconds, 300000);
    ASSERT_EQ(aud_time_sub(&a, &b), AUD_SUCCESS);
    EXPECT_EQ(a.seconds, 1);
    EXPECT_EQ(a.microseconds, 600000);
    EXPECT_EQ(aud_time_cmp(&a, &b), -1);
    EXPECT_EQ(aud_time_cmp(&b, &a), 1);
    const aud_time unnormalised{0, 1600000};
    EXPECT_EQ(aud_time_cmp(&a, &unnormalised), 0);

    aud_time big{INT32_MAX, 0};
    const aud_time one{1, 0};
    EXPECT_EQ(aud_time_add(&big, &one), AUD_RANGE);
    EXPECT_EQ(big.seconds, INT32_MAX);
    EXPECT_EQ(aud_time_add(nullptr, &one), AUD_INVALIDPARAMETER);
}

TEST(AudTime, WallClockAndItsText)
{
    EXPECT_EQ(aud_clock_now(nullptr), AUD_INVALIDPARAMETER);
    const time_t before = time(nullptr);
    aud_time now{};
    ASSERT_EQ(aud_clock_now(&now), AUD_SUCCESS);
    const time_t after = time(nullptr);
    EXPECT_GE(now.seconds, before);
    EXPECT_LE(now.seconds, after);
    EXPECT_GE(now.microseconds, 0);
    EXPECT_LT(now.microseconds, 1000000);

    char text[AUD_CTIME_SIZE];
    const aud_time t{86400 * 3 + 3661, 0}; // 4 Jan 1970 01:01:01 UTC
    aud_ctime(&t, text);
    char reference[AUD_CTIME_SIZE];
    const time_t seconds = t.seconds;
    ctime_r(&seconds, reference);
    EXPECT_STREQ(text, reference);
    EXPECT_EQ(strlen(text), 25u);
    EXPECT_EQ(text[8], ' '); // day 4 is padded with a blank
    aud_ctime(nullptr, text);
    EXPECT_EQ(strlen(text), 25u);
}

// Elapsed times and deadlines are taken from the environment's clock; it
// must be the monotonic one, not the wall clock that jumps when it is set.
void expectMonotonic(const aud_env* env)
{
    aud_time ours{};
    ASSERT_EQ(aud_env_clock(env, &ours), AUD_SUCCESS);
    timespec mono{};
    clock_gettime(CLOCK_MONOTONIC, &mono);
    EXPECT_LE(ours.seconds, mono.tv_sec);
    EXPECT_GE(ours.seconds, mono.tv_sec - 2);
}

TEST(AudTime, EnvironmentCarriesAReplaceableMonotonicClock)
{
    aud_env* env = nullptr;
    ASSERT_EQ(aud_env_setup(&env), AUD_SUCCESS);
    expectMonotonic(env);
    expectMonotonic(nullptr);
    aud_time a{}, b{};
    ASSERT_EQ(aud_env_clock(env, &a), AUD_SUCCESS);
    ASSERT_EQ(aud_env_clock(env, &b), AUD_SUCCESS);
    EXPECT_GE(aud_time_cmp(&b, &a), 0);

    aud_stepped_clock stepped{{100, 0}};
    ASSERT_EQ(aud_env_set_clock(env, aud_stepped_clock_read, &stepped), AUD_SUCCESS);
    ASSERT_EQ(aud_env_clock(env, &a), AUD_SUCCESS);
    EXPECT_EQ(a.seconds, 100);
    stepped.now.microseconds += 2500000;
    ASSERT_EQ(aud_env_clock(env, &a), AUD_SUCCESS);
    EXPECT_EQ(a.seconds, 102);
    EXPECT_EQ(a.microseconds, 500000);
    // Setting the wall clock moves nothing the monotonic clock measures.
    stepped.now.seconds -= 50;
    ASSERT_EQ(aud_env_clock(env, &b), AUD_SUCCESS);
    EXPECT_EQ(b.seconds, 52);

    ASSERT_EQ(aud_env_set_clock(env, nullptr, nullptr), AUD_SUCCESS);
    expectMonotonic(env);
    EXPECT_EQ(aud_env_release(env), AUD_SUCCESS);
}

} // namespace
