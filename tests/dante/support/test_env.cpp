// The shared environment, the refused event-loop operations and the
// platform queries.
#include "dante/support/aud_env.h"
#include "dante/support/aud_event_loop.h"
#include "dante/support/aud_platform.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/utsname.h>
#include <unistd.h>

namespace {

TEST(AudEnv, ReferenceCountedWithItsLog)
{
    EXPECT_EQ(aud_env_setup(nullptr), AUD_INVALIDPARAMETER);
    aud_env* a = nullptr;
    aud_env* b = nullptr;
    ASSERT_EQ(aud_env_setup(&a), AUD_SUCCESS);
    ASSERT_EQ(aud_env_setup(&b), AUD_SUCCESS);
    EXPECT_EQ(a, b);
    EXPECT_EQ(aud_env_references(a), 2u);
    EXPECT_NE(aud_env_log(a), nullptr);
    EXPECT_EQ(aud_env_flags(a) & AUD_ENV_FLAG_OWNS_LOG, AUD_ENV_FLAG_OWNS_LOG);

    // A release that leaves references is a success, not the flags word
    // (which would read as SYSTEM).
    EXPECT_EQ(aud_env_release(a), AUD_SUCCESS);
    EXPECT_EQ(aud_env_references(a), 1u);
    EXPECT_NE(aud_env_log(a), nullptr);
    EXPECT_EQ(aud_env_release(a), AUD_SUCCESS);
    EXPECT_EQ(aud_env_references(a), 0u);
    EXPECT_EQ(aud_env_log(a), nullptr);
    EXPECT_EQ(aud_env_flags(a) & AUD_ENV_FLAG_OWNS_LOG, 0u);

    // One release too many never wraps the count.
    EXPECT_EQ(aud_env_release(a), AUD_INVALIDSTATE);
    EXPECT_EQ(aud_env_references(a), 0u);
    EXPECT_EQ(aud_env_release(nullptr), AUD_SUCCESS);

    ASSERT_EQ(aud_env_setup(&a), AUD_SUCCESS);
    EXPECT_NE(aud_env_log(a), nullptr);
    EXPECT_EQ(aud_env_release(a), AUD_SUCCESS);
}

TEST(AudEnv, NoEventLoopSoEveryLoopOperationIsRefused)
{
    aud_env* env = nullptr;
    ASSERT_EQ(aud_env_setup(&env), AUD_SUCCESS);
    aud_event_loop* loop = aud_env_event_loop(env);
    EXPECT_EQ(loop, nullptr);
    auto fired = [](unsigned, aud_timer*) {};
    auto readable = [](aud_socket, void*) {};
    aud_timer* timer = nullptr;
    const aud_time zero{0, 0};
    const aud_time second{1, 0};
    EXPECT_EQ(aud_timer_start_periodic(loop, fired, nullptr, &second, nullptr, &timer), AUD_INVALIDPARAMETER);
    EXPECT_EQ(aud_timer_start_periodic(loop, fired, nullptr, &zero, nullptr, &timer), AUD_INVALIDPARAMETER);
    EXPECT_EQ(aud_timer_start_once(loop, fired, nullptr, &second, nullptr, &timer), AUD_INVALIDPARAMETER);
    EXPECT_EQ(aud_timer_new_stopped(loop, fired, nullptr, &timer), AUD_INVALIDPARAMETER);
    EXPECT_EQ(timer, nullptr);
    EXPECT_EQ(aud_timer_restart_periodic(timer, nullptr, &second), AUD_INVALIDPARAMETER);
    EXPECT_EQ(aud_timer_restart_once(timer, nullptr, &second), AUD_INVALIDPARAMETER);
    EXPECT_EQ(aud_timer_stop(timer), AUD_INVALIDPARAMETER);
    EXPECT_EQ(aud_timer_delete(timer), AUD_INVALIDPARAMETER);
    EXPECT_EQ(aud_timer_expiry(timer), nullptr);
    EXPECT_EQ(aud_timer_context(timer), nullptr);
    EXPECT_EQ(
        aud_socket_watch(loop, 3, AUD_WATCH_READ, readable, nullptr, AUD_WATCH_ADD_OR_CHANGE), AUD_INVALIDPARAMETER);
    EXPECT_EQ(aud_env_release(env), AUD_SUCCESS);
}

TEST(AudPlatform, ProcessIdAndOsRelease)
{
    uint32_t pid = 0;
    ASSERT_EQ(aud_process_id(&pid), AUD_SUCCESS);
    EXPECT_EQ(pid, uint32_t(getpid()));
    EXPECT_EQ(aud_process_id(nullptr), AUD_INVALIDPARAMETER);

    uint32_t major = 0, minor = 0;
    ASSERT_EQ(aud_os_release(&major, &minor), AUD_SUCCESS);
    utsname name{};
    uname(&name);
    unsigned a = 0, b = 0;
    ASSERT_EQ(sscanf(name.release, "%u.%u", &a, &b), 2);
    EXPECT_EQ(major, a & 0xFF);
    EXPECT_EQ(minor, b & 0xFF);
    EXPECT_EQ(aud_os_release(nullptr, &minor), AUD_INVALIDPARAMETER);
    EXPECT_EQ(aud_platform_start(), AUD_SUCCESS);
}

} // namespace
