// The engine's calls and their errors; no traffic is needed for these.
#include "tests/pbd/jsdp/jsdp_fixture.h"

#include <gtest/gtest.h>

#include <atomic>

using jsdptest::Channel;
using jsdptest::Recorder;

TEST(JsdpEngine, RefusesCallsBeforeTheTaskHasSetItUp)
{
    if (jsdp_getState() != JSDP_STATE_NOINIT)
        GTEST_SKIP() << "the engine already runs in this process";
    Channel ch(true, "198.18.0.1", "x");
    Recorder r;
    EXPECT_EQ(jsdp_open(ch.fix(), 1), JSDP_E_NOINIT);
    EXPECT_EQ(jsdp_close(), JSDP_E_NOINIT);
    EXPECT_EQ(jsdp_subscribe(Recorder::callback, &r), JSDP_E_NOINIT);
}

TEST(JsdpEngine, OpenAndCloseFollowTheStates)
{
    jsdptest::ensureEngine();
    jsdptest::resetEngine();

    Channel noPeriod(true, "198.18.0.1", "x");
    noPeriod.config.periodMs = 0;
    Channel bigPayload(false, "198.18.0.1", std::string(1025, 'p'));
    Channel ipv6(false, "198.18.0.1", "x");
    ipv6.config.ownAddress.family = VSOCK_FAMILY_IPV6;
    Channel good(true, "198.18.0.1", "x");

    struct Case {
        const char* name;
        const JsdpChannelConfig* records;
        int count;
    };
    JsdpChannelConfig twoWithBadSecond[2] = {*good.fix(), *noPeriod.fix()};
    const Case bad[] = {
        {"announcer without period", noPeriod.fix(), 1},
        {"payload over 1024 bytes", bigPayload.fix(), 1},
        {"no IPv4 address", ipv6.fix(), 1},
        {"second record bad", twoWithBadSecond, 2},
        {"three channels", good.fix(), 3},
        {"no records", nullptr, 1},
        {"negative count", good.fix(), -1},
    };
    for (const Case& c : bad) {
        EXPECT_EQ(jsdp_open(c.records, c.count), JSDP_E_PARAM) << c.name;
        EXPECT_EQ(jsdp_getState(), JSDP_STATE_READY) << c.name;
    }

    EXPECT_EQ(jsdp_close(), JSDP_E_BUSY) << "nothing open";
    ASSERT_EQ(jsdp_open(nullptr, 0), JSDP_OK);
    EXPECT_EQ(jsdp_getState(), JSDP_STATE_RUNNING);
    EXPECT_EQ(jsdp_open(nullptr, 0), JSDP_E_STATE) << "already open";
    ASSERT_EQ(jsdp_close(), JSDP_OK);
    EXPECT_EQ(jsdp_close(), JSDP_E_BUSY) << "closing or closed";
    ASSERT_TRUE(jsdptest::waitFor([] { return jsdp_getState() == JSDP_STATE_READY; }));
    EXPECT_EQ(jsdp_open(good.fix(), 1), JSDP_OK) << "open again after close";
    jsdptest::resetEngine();
}

namespace {

struct TaskResult {
    Recorder recorder;
    std::atomic<int> first{0};
    std::atomic<int> second{0};
    std::atomic<bool> done{false};
};

// Subscribes twice from one task: the second is refused whatever the callback.
void subscribingTask(void* argument)
{
    auto* r = static_cast<TaskResult*>(argument);
    r->first = jsdp_subscribe(Recorder::callback, &r->recorder);
    Recorder other;
    r->second = jsdp_subscribe(Recorder::callback, &other);
    r->done = true;
}

} // namespace

TEST(JsdpEngine, SubscriptionsFromTasksAndOtherThreads)
{
    jsdptest::ensureEngine();

    TaskResult taskResult;
    uint16_t task = 0;
    OswrapTaskAttr attr;
    attr.entry = subscribingTask;
    attr.name = "SUBTEST";
    ASSERT_EQ(oswrap_createTask(&task, &attr), OSWRAP_OK);
    ASSERT_EQ(oswrap_startTask(task, &taskResult), OSWRAP_OK);
    ASSERT_TRUE(jsdptest::waitFor([&] { return taskResult.done.load(); }));
    oswrap_deleteTask(task);
    EXPECT_EQ(taskResult.first, JSDP_OK);
    EXPECT_EQ(taskResult.second, JSDP_E_STATE) << "a task subscribing twice";

    // This thread is no task: it may subscribe several distinct callbacks.
    Recorder r[5];
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(jsdp_subscribe(Recorder::callback, &r[i]), JSDP_OK) << i;
    EXPECT_EQ(jsdp_subscribe(Recorder::callback, &r[0]), JSDP_E_STATE) << "the same callback twice";
    EXPECT_EQ(jsdp_subscribe(Recorder::callback, &r[4]), JSDP_E_FULL) << "a sixth subscriber";

    EXPECT_EQ(jsdp_unsubscribe(Recorder::callback, &r[4]), JSDP_E_PARAM) << "never subscribed";
    EXPECT_EQ(jsdp_unsubscribe(Recorder::callback, &taskResult.recorder), JSDP_OK);
    EXPECT_EQ(jsdp_subscribe(Recorder::callback, &r[4]), JSDP_OK) << "a freed entry is taken again";
    for (Recorder& each : r)
        EXPECT_EQ(jsdp_unsubscribe(Recorder::callback, &each), JSDP_OK);
    EXPECT_EQ(jsdp_subscribe(nullptr, nullptr), JSDP_E_PARAM);
}
