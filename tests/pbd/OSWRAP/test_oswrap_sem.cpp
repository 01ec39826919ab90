#include "tests/pbd/OSWRAP/oswrap_fixture.h"

#include "pbd/OSWRAP/oswrap_internal.h"

#include <atomic>
#include <vector>

TEST_F(Oswrap, SemaphoreIdsAndErrors)
{
    OswrapSemAttr attr;
    attr.initialCount = 1;
    attr.name = "LOCK";
    std::vector<uint16_t> ids;
    for (;;) {
        uint16_t id = 0;
        const OswrapResult r = oswrap_createSemaphore(&id, &attr);
        if (r != OSWRAP_OK) {
            EXPECT_EQ(r, OSWRAP_E_NO_ID);
            EXPECT_EQ(id, 0);
            break;
        }
        ids.push_back(id);
        ASSERT_LE(ids.size(), 100u);
    }
    ASSERT_EQ(ids.size(), 51u);
    EXPECT_EQ(ids.front(), 100);
    EXPECT_EQ(ids.back(), 50);

    EXPECT_EQ(oswrap_createSemaphore(nullptr, &attr), OSWRAP_E_ID);
    uint16_t id = 9;
    EXPECT_EQ(oswrap_createSemaphore(&id, nullptr), OSWRAP_E_ID);
    EXPECT_EQ(id, 0);
    for (uint16_t bad : {uint16_t(0), uint16_t(101)}) {
        EXPECT_EQ(oswrap_deleteSemaphore(bad), OSWRAP_E_ID);
        EXPECT_EQ(oswrap_signalSemaphore(bad), OSWRAP_E_ID);
        EXPECT_EQ(oswrap_waitSemaphore(bad), OSWRAP_E_ID);
    }
    EXPECT_EQ(oswrap_deleteSemaphore(10), OSWRAP_E_STATE) << "never created";
    EXPECT_EQ(oswrap_deleteSemaphore(77), OSWRAP_OK);
    EXPECT_EQ(oswrap_deleteSemaphore(77), OSWRAP_E_STATE);
    EXPECT_EQ(oswrap_signalSemaphore(77), OSWRAP_E_STATE);
    ASSERT_EQ(oswrap_createSemaphore(&id, &attr), OSWRAP_OK);
    EXPECT_EQ(id, 77);
}

TEST_F(Oswrap, SemaphoreCountsAndStopsAtTheMaximum)
{
    OswrapSemAttr attr;
    attr.initialCount = 2;
    uint16_t id = 0;
    ASSERT_EQ(oswrap_createSemaphore(&id, &attr), OSWRAP_OK);
    EXPECT_EQ(oswrap_waitSemaphore(id), OSWRAP_OK);
    EXPECT_EQ(oswrap_waitSemaphore(id), OSWRAP_OK);

    // Count 0: a waiter blocks until another thread signals.
    std::atomic<bool> done{false};
    std::thread waiter([&] {
        EXPECT_EQ(oswrap_waitSemaphore(id), OSWRAP_OK);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(done.load());
    EXPECT_EQ(oswrap_signalSemaphore(id), OSWRAP_OK);
    waiter.join();
    EXPECT_TRUE(done.load());

    uint16_t full = 0;
    attr.initialCount = 0x7FFFFFFF;
    ASSERT_EQ(oswrap_createSemaphore(&full, &attr), OSWRAP_OK);
    EXPECT_EQ(oswrap_signalSemaphore(full), OSWRAP_E_SYSTEM);
    attr.initialCount = -1;
    EXPECT_EQ(oswrap_createSemaphore(&full, &attr), OSWRAP_E_SYSTEM);
}

TEST_F(Oswrap, DeletingASemaphoreReleasesItsWaiters)
{
    OswrapSemAttr attr;
    uint16_t id = 0;
    ASSERT_EQ(oswrap_createSemaphore(&id, &attr), OSWRAP_OK);
    std::atomic<OswrapResult> result{1};
    std::thread waiter([&] { result = oswrap_waitSemaphore(id); });
    // Delete only once the waiter really blocks: a late waiter would take the
    // successor's unit and leave the final wait below blocked for good.
    const bool blocked = waitFor([&] {
        std::lock_guard<std::mutex> guard(oswrap_detail::state().lock);
        return oswrap_detail::state().semaphores[id].waiters == 1;
    }, 30000);
    if (!blocked) {
        oswrap_signalSemaphore(id);
        waiter.join();
        FAIL() << "the waiter never blocked on the semaphore";
    }
    ASSERT_EQ(oswrap_deleteSemaphore(id), OSWRAP_OK);
    // Its successor in the same entry must not satisfy the old waiter.
    attr.initialCount = 1;
    uint16_t again = 0;
    ASSERT_EQ(oswrap_createSemaphore(&again, &attr), OSWRAP_OK);
    ASSERT_EQ(again, id);
    waiter.join();
    EXPECT_EQ(result.load(), OSWRAP_E_STATE);
    EXPECT_EQ(oswrap_waitSemaphore(again), OSWRAP_OK) << "the unit of the new semaphore is still there";
}

// Tasks use a count-1 semaphore as a lock around a plain counter.
TEST_F(Oswrap, SemaphoreAsLockUnderContention)
{
    constexpr int kTasks = 4;
    constexpr int kRounds = 5000;
    struct Shared {
        uint16_t sem = 0;
        long counter = 0; // deliberately not atomic: the semaphore guards it
        std::atomic<int> failures{0};
        std::atomic<int> finished{0};
    } shared;
    OswrapSemAttr sattr;
    sattr.initialCount = 1;
    ASSERT_EQ(oswrap_createSemaphore(&shared.sem, &sattr), OSWRAP_OK);

    OswrapTaskAttr attr;
    attr.entry = [](void* arg) {
        auto& s = *static_cast<Shared*>(arg);
        for (int i = 0; i < kRounds; ++i) {
            if (oswrap_waitSemaphore(s.sem) != OSWRAP_OK)
                ++s.failures;
            const long seen = s.counter;
            if ((i & 63) == 0)
                std::this_thread::yield();
            s.counter = seen + 1;
            if (oswrap_signalSemaphore(s.sem) != OSWRAP_OK)
                ++s.failures;
        }
        ++s.finished;
    };
    std::vector<uint16_t> ids(kTasks);
    for (auto& id : ids)
        ASSERT_EQ(oswrap_createTask(&id, &attr), OSWRAP_OK);
    for (auto id : ids)
        ASSERT_EQ(oswrap_startTask(id, &shared), OSWRAP_OK);
    ASSERT_TRUE(waitFor([&] { return shared.finished.load() == kTasks; }, 60000));
    for (auto id : ids)
        EXPECT_EQ(oswrap_deleteTask(id), OSWRAP_OK);
    EXPECT_EQ(shared.failures.load(), 0);
    EXPECT_EQ(shared.counter, long{kTasks} * kRounds);
}
