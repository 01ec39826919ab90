#include "tests/pbd/OSWRAP/oswrap_fixture.h"

#include <pthread.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

// What a flag-waiting task saw: results and patterns of each wait.
struct Waiter {
    uint32_t mask = 0x1;
    uint32_t timeoutMs = OSWRAP_WAIT_FOREVER;
    std::atomic<int> waits{0};
    std::atomic<uint16_t> ownId{0};
    std::mutex lock;
    std::vector<std::pair<OswrapResult, uint32_t>> seen;
};

// Waits for flags until a stop request arrives.
void waitLoop(void* arg)
{
    auto& w = *static_cast<Waiter*>(arg);
    uint16_t id = 0;
    oswrap_getTaskId(&id);
    w.ownId = id;
    for (int i = 0; i < 1000; ++i) {
        uint32_t pattern = 0xDEAD;
        const OswrapResult r = oswrap_waitTaskFlags(&pattern, w.mask, w.timeoutMs);
        {
            std::lock_guard<std::mutex> guard(w.lock);
            w.seen.emplace_back(r, pattern);
        }
        ++w.waits;
        if (r == OSWRAP_E_STOP)
            break;
    }
    oswrap_exitTask();
}

uint16_t startTask(OswrapTaskEntry entry, void* arg, uint32_t stackSize = 4096)
{
    OswrapTaskAttr attr;
    attr.entry = entry;
    attr.priority = 12;
    attr.stackSize = stackSize;
    attr.name = "TESTTASK_LONG";
    uint16_t id = 0;
    EXPECT_EQ(oswrap_createTask(&id, &attr), OSWRAP_OK);
    EXPECT_EQ(oswrap_startTask(id, arg), OSWRAP_OK);
    return id;
}

void idle(void*) { }

} // namespace

TEST(OswrapLifecycle, InitShutdownAndUninitialisedCalls)
{
    uint16_t id = 7;
    OswrapSemAttr sem;
    EXPECT_EQ(oswrap_createSemaphore(&id, &sem), OSWRAP_E_STATE);
    EXPECT_EQ(id, 0);
    EXPECT_EQ(oswrap_setTaskFlags(50, 1), OSWRAP_E_STATE);
    EXPECT_EQ(oswrap_shutdown(), OSWRAP_E_STATE);
    ASSERT_EQ(oswrap_init(), OSWRAP_OK);
    EXPECT_EQ(oswrap_init(), OSWRAP_E_STATE);
    EXPECT_EQ(oswrap_shutdown(), OSWRAP_OK);
    EXPECT_EQ(oswrap_shutdown(), OSWRAP_E_STATE);
}

TEST_F(Oswrap, TaskIdsAreHandedOutDownwardFrom50To25)
{
    OswrapTaskAttr attr;
    attr.entry = idle;
    for (uint16_t expected = 50; expected >= 25; --expected) {
        uint16_t id = 0;
        ASSERT_EQ(oswrap_createTask(&id, &attr), OSWRAP_OK);
        EXPECT_EQ(id, expected);
    }
    uint16_t id = 99;
    EXPECT_EQ(oswrap_createTask(&id, &attr), OSWRAP_E_NO_ID);
    EXPECT_EQ(id, 0);

    // A freed id is the next one handed out.
    EXPECT_EQ(oswrap_deleteTask(40), OSWRAP_OK);
    ASSERT_EQ(oswrap_createTask(&id, &attr), OSWRAP_OK);
    EXPECT_EQ(id, 40);
}

TEST_F(Oswrap, TaskArgumentAndStateErrors)
{
    OswrapTaskAttr attr;
    uint16_t id = 0;
    EXPECT_EQ(oswrap_createTask(&id, &attr), OSWRAP_E_ID) << "no entry function";
    EXPECT_EQ(oswrap_createTask(nullptr, &attr), OSWRAP_E_ID);
    EXPECT_EQ(oswrap_getTaskId(nullptr), OSWRAP_E_ID);
    for (uint16_t bad : {uint16_t(0), uint16_t(51)}) {
        EXPECT_EQ(oswrap_startTask(bad, nullptr), OSWRAP_E_ID);
        EXPECT_EQ(oswrap_terminateTask(bad), OSWRAP_E_ID);
        EXPECT_EQ(oswrap_deleteTask(bad), OSWRAP_E_ID);
        EXPECT_EQ(oswrap_setTaskFlags(bad, 1), OSWRAP_E_ID);
    }
    // Ids below the dynamic range are accepted but not in use.
    EXPECT_EQ(oswrap_startTask(3, nullptr), OSWRAP_E_NO_TASK);
    EXPECT_EQ(oswrap_setTaskFlags(3, 1), OSWRAP_E_NO_TASK);

    attr.entry = idle;
    ASSERT_EQ(oswrap_createTask(&id, &attr), OSWRAP_OK);
    EXPECT_EQ(oswrap_terminateTask(id), OSWRAP_E_STATE) << "dormant, never started";
    ASSERT_EQ(oswrap_startTask(id, nullptr), OSWRAP_OK);
    EXPECT_EQ(oswrap_startTask(id, nullptr), OSWRAP_E_STATE) << "a task runs once per creation";
    EXPECT_EQ(oswrap_deleteTask(id), OSWRAP_OK);

    // The main thread is no task.
    uint16_t own = 5;
    uint32_t pattern = 5;
    EXPECT_EQ(oswrap_getTaskId(&own), OSWRAP_E_NO_TASK);
    EXPECT_EQ(own, 0);
    EXPECT_EQ(oswrap_waitTaskFlags(&pattern, 1, 0), OSWRAP_E_NO_TASK);
    EXPECT_EQ(pattern, 0u);
    EXPECT_EQ(oswrap_exitTask(), OSWRAP_E_NO_TASK);
}

TEST_F(Oswrap, TerminateStopsABlockedWaitAndJoins)
{
    Waiter w;
    const uint16_t id = startTask(waitLoop, &w);
    ASSERT_TRUE(waitFor([&] { return w.ownId.load() == id; }));

    // Flags set before the stop bit are delivered with it, minus the stop bit.
    ASSERT_EQ(oswrap_setTaskFlags(id, 0x1), OSWRAP_OK);
    ASSERT_TRUE(waitFor([&] { return w.waits.load() == 1; }));
    ASSERT_EQ(oswrap_terminateTask(id), OSWRAP_OK);
    // The thread has ended by the time terminate returns.
    EXPECT_EQ(w.waits.load(), 2);
    {
        std::lock_guard<std::mutex> guard(w.lock);
        ASSERT_EQ(w.seen.size(), 2u);
        EXPECT_EQ(w.seen[0], std::make_pair(OSWRAP_OK, 0x1u));
        EXPECT_EQ(w.seen[1], std::make_pair(OSWRAP_E_STOP, 0x0u));
    }
    EXPECT_EQ(oswrap_terminateTask(id), OSWRAP_E_STATE) << "dormant after it ended";
    EXPECT_EQ(oswrap_deleteTask(id), OSWRAP_OK);
    EXPECT_EQ(oswrap_deleteTask(id), OSWRAP_E_NO_TASK);
}

TEST_F(Oswrap, StopRequestStillDeliversOtherBits)
{
    // The task polls only after both bits are set.
    Waiter w;
    w.mask = 0x4;
    std::atomic<bool> go{false};
    struct Ctx {
        Waiter* w;
        std::atomic<bool>* go;
    } ctx{&w, &go};
    OswrapTaskAttr attr;
    attr.entry = [](void* arg) {
        auto& c = *static_cast<Ctx*>(arg);
        waitFor([&] { return c.go->load(); });
        uint32_t pattern = 0;
        const OswrapResult r = oswrap_waitTaskFlags(&pattern, c.w->mask, 0);
        std::lock_guard<std::mutex> guard(c.w->lock);
        c.w->seen.emplace_back(r, pattern);
    };
    uint16_t id = 0;
    ASSERT_EQ(oswrap_createTask(&id, &attr), OSWRAP_OK);
    ASSERT_EQ(oswrap_startTask(id, &ctx), OSWRAP_OK);
    ASSERT_EQ(oswrap_setTaskFlags(id, 0x8004), OSWRAP_OK);
    ASSERT_EQ(oswrap_setTaskFlags(id, OSWRAP_FLAG_STOP), OSWRAP_OK);
    go = true;
    ASSERT_EQ(oswrap_deleteTask(id), OSWRAP_OK);
    ASSERT_EQ(w.seen.size(), 1u);
    EXPECT_EQ(w.seen[0], std::make_pair(OSWRAP_E_STOP, 0x8004u));
}

TEST_F(Oswrap, FlagsSetBeforeTheWaitAreDeliveredAndAllCleared)
{
    struct Ctx {
        std::atomic<bool> go{false};
        OswrapResult r[3] = {};
        uint32_t p[3] = {};
    } ctx;
    OswrapTaskAttr attr;
    attr.entry = [](void* arg) {
        auto& c = *static_cast<Ctx*>(arg);
        waitFor([&] { return c.go.load(); });
        c.r[0] = oswrap_waitTaskFlags(&c.p[0], 0x2, 0); // 0x2 wanted, 0x100 rides along
        c.r[1] = oswrap_waitTaskFlags(&c.p[1], 0x100, 0); // cleared by the first wait
        c.p[2] = 0x55;
        c.r[2] = oswrap_waitTaskFlags(&c.p[2], 0x1, 0); // 0x200 alone is not wanted
    };
    uint16_t id = 0;
    ASSERT_EQ(oswrap_createTask(&id, &attr), OSWRAP_OK);
    ASSERT_EQ(oswrap_setTaskFlags(id, 0x100), OSWRAP_OK) << "flags may be set on a dormant task";
    ASSERT_EQ(oswrap_setTaskFlags(id, 0x2), OSWRAP_OK);
    ASSERT_EQ(oswrap_startTask(id, &ctx), OSWRAP_OK);
    ctx.go = true;
    ASSERT_EQ(oswrap_deleteTask(id), OSWRAP_OK);
    EXPECT_EQ(ctx.r[0], OSWRAP_OK);
    EXPECT_EQ(ctx.p[0], 0x102u);
    EXPECT_EQ(ctx.r[1], OSWRAP_E_TIMEOUT);
    EXPECT_EQ(ctx.p[1], 0u);
    EXPECT_EQ(ctx.r[2], OSWRAP_E_TIMEOUT);
    EXPECT_EQ(ctx.p[2], 0u) << "pattern is 0 on failure";
}

TEST_F(Oswrap, UnwantedSignalsDoNotExtendTheWaitTimeout)
{
    Waiter w;
    w.mask = 0x1;
    w.timeoutMs = 200;
    const uint16_t id = startTask(waitLoop, &w);
    ASSERT_TRUE(waitFor([&] { return w.ownId.load() == id; }));

    // A steady stream of bits outside the mask, faster than the time-out,
    // for far longer than it.
    const auto start = std::chrono::steady_clock::now();
    int64_t firstTimeout = -1;
    while (msSince(start) < 2000) {
        oswrap_setTaskFlags(id, 0x2);
        if (firstTimeout < 0 && w.waits.load() > 0)
            firstTimeout = msSince(start);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(oswrap_terminateTask(id), OSWRAP_OK);
    ASSERT_EQ(oswrap_deleteTask(id), OSWRAP_OK);
    ASSERT_GE(firstTimeout, 0) << "the wait never timed out";
    EXPECT_LT(firstTimeout, 1500);
    EXPECT_EQ(w.seen[0].first, OSWRAP_E_TIMEOUT);
}

TEST_F(Oswrap, TaskStackIsAtLeast256KiB)
{
    struct Ctx {
        size_t stackSize = 0;
        uint16_t id = 0;
    } ctx;
    OswrapTaskAttr attr;
    attr.entry = [](void* arg) {
        auto& c = *static_cast<Ctx*>(arg);
        pthread_attr_t a;
        if (pthread_getattr_np(pthread_self(), &a) == 0) {
            pthread_attr_getstacksize(&a, &c.stackSize);
            pthread_attr_destroy(&a);
        }
        // Use a good part of it: a 4096-byte stack would overflow here.
        volatile char scratch[128 * 1024];
        std::memset(const_cast<char*>(scratch), 1, sizeof scratch);
        oswrap_getTaskId(&c.id);
    };
    attr.stackSize = 4096;
    uint16_t id = 0;
    ASSERT_EQ(oswrap_createTask(&id, &attr), OSWRAP_OK);
    ASSERT_EQ(oswrap_startTask(id, &ctx), OSWRAP_OK);
    ASSERT_EQ(oswrap_deleteTask(id), OSWRAP_OK);
    EXPECT_GE(ctx.stackSize, size_t{OSWRAP_MIN_STACK_SIZE});
    EXPECT_EQ(ctx.id, id);
}

TEST_F(Oswrap, ExitTaskMakesTheCallerDormant)
{
    struct Ctx {
        std::atomic<OswrapResult> afterExit{0};
        std::atomic<bool> release{false};
    } ctx;
    OswrapTaskAttr attr;
    attr.entry = [](void* arg) {
        auto& c = *static_cast<Ctx*>(arg);
        oswrap_exitTask();
        uint16_t own = 0;
        c.afterExit = oswrap_getTaskId(&own);
        waitFor([&] { return c.release.load(); });
    };
    uint16_t id = 0;
    ASSERT_EQ(oswrap_createTask(&id, &attr), OSWRAP_OK);
    ASSERT_EQ(oswrap_startTask(id, &ctx), OSWRAP_OK);
    // Dormant although the thread still runs: terminate refuses, delete
    // waits for the thread to end.
    ASSERT_TRUE(waitFor([&] { return ctx.afterExit != 0; }));
    EXPECT_EQ(ctx.afterExit.load(), OSWRAP_E_NO_TASK);
    EXPECT_EQ(oswrap_terminateTask(id), OSWRAP_E_STATE);
    ctx.release = true;
    EXPECT_EQ(oswrap_deleteTask(id), OSWRAP_OK);
}

TEST_F(Oswrap, ShutdownStopsRunningTasks)
{
    Waiter a, b;
    const uint16_t ida = startTask(waitLoop, &a);
    const uint16_t idb = startTask(waitLoop, &b);
    ASSERT_TRUE(waitFor([&] { return a.ownId.load() == ida && b.ownId.load() == idb; }));
    ASSERT_EQ(oswrap_shutdown(), OSWRAP_OK);
    for (Waiter* w : {&a, &b}) {
        std::lock_guard<std::mutex> guard(w->lock);
        ASSERT_EQ(w->seen.size(), 1u);
        EXPECT_EQ(w->seen[0].first, OSWRAP_E_STOP);
    }
    ASSERT_EQ(oswrap_init(), OSWRAP_OK); // for TearDown
}

TEST_F(Oswrap, TaskThatDeletesItselfFreesItsIdWhenItEnds)
{
    std::atomic<bool> release{false};
    std::atomic<OswrapResult> deleted{1};
    struct Ctx {
        std::atomic<bool>* release;
        std::atomic<OswrapResult>* deleted;
    } ctx{&release, &deleted};
    OswrapTaskAttr attr;
    attr.entry = [](void* arg) {
        auto& c = *static_cast<Ctx*>(arg);
        uint16_t own = 0;
        oswrap_getTaskId(&own);
        *c.deleted = oswrap_deleteTask(own);
        waitFor([&] { return c.release->load(); });
    };
    uint16_t id = 0;
    ASSERT_EQ(oswrap_createTask(&id, &attr), OSWRAP_OK);
    ASSERT_EQ(id, 50);
    ASSERT_EQ(oswrap_startTask(id, &ctx), OSWRAP_OK);
    ASSERT_TRUE(waitFor([&] { return deleted.load() != 1; }));
    EXPECT_EQ(deleted.load(), OSWRAP_OK);

    // Still running: its id is not handed out again yet.
    attr.entry = idle;
    uint16_t next = 0;
    ASSERT_EQ(oswrap_createTask(&next, &attr), OSWRAP_OK);
    EXPECT_EQ(next, 49);
    EXPECT_EQ(oswrap_setTaskFlags(50, 1), OSWRAP_E_NO_TASK);
    release = true;
    EXPECT_TRUE(waitFor([&] {
        uint16_t again = 0;
        if (oswrap_createTask(&again, &attr) != OSWRAP_OK)
            return false;
        if (again == 50)
            return true;
        oswrap_deleteTask(again);
        return false;
    }));
}

// A task that ignores stop requests: terminate and delete give up after
// 5000 ms each, and its entry is never reused while its thread runs.
TEST_F(Oswrap, StuckTaskBecomesAReservedEntryNotAReusedOne)
{
    std::atomic<bool> release{false};
    OswrapTaskAttr attr;
    attr.entry = [](void* arg) {
        auto& r = *static_cast<std::atomic<bool>*>(arg);
        waitFor([&] { return r.load(); }, 60000);
    };
    uint16_t id = 0;
    ASSERT_EQ(oswrap_createTask(&id, &attr), OSWRAP_OK);
    ASSERT_EQ(oswrap_startTask(id, &release), OSWRAP_OK);

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(oswrap_terminateTask(id), OSWRAP_E_SYSTEM);
    EXPECT_GE(msSince(start), 4900);
    EXPECT_EQ(oswrap_deleteTask(id), OSWRAP_E_SYSTEM);
    EXPECT_EQ(oswrap_deleteTask(id), OSWRAP_E_NO_TASK);

    attr.entry = idle;
    uint16_t next = 0;
    ASSERT_EQ(oswrap_createTask(&next, &attr), OSWRAP_OK);
    EXPECT_NE(next, id);
    EXPECT_EQ(oswrap_deleteTask(next), OSWRAP_OK);

    release = true;
    EXPECT_TRUE(waitFor([&] {
        uint16_t again = 0;
        if (oswrap_createTask(&again, &attr) != OSWRAP_OK)
            return false;
        if (again == id)
            return true;
        oswrap_deleteTask(again);
        return false;
    }));
}
