// Wake-up latency of task event flags: two tasks ping-pong a flag, against
// the same ping-pong between two threads on a bare condition variable.
// Each benchmark iteration is a batch of round trips; items are round trips.
#include "pbd/OSWRAP/oswrap.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

constexpr int kBatch = 1000;
constexpr uint32_t kPing = 0x1;
constexpr uint32_t kGo = 0x2;

// Hands a batch from the benchmark thread to the driver and back.
struct Handoff {
    std::mutex lock;
    std::condition_variable wake;
    bool done = false;

    void finish()
    {
        std::lock_guard<std::mutex> guard(lock);
        done = true;
        wake.notify_one();
    }
    void await()
    {
        std::unique_lock<std::mutex> guard(lock);
        wake.wait(guard, [&] { return done; });
        done = false;
    }
};

struct FlagPair {
    std::atomic<uint16_t> driver{0};
    std::atomic<uint16_t> echo{0};
    Handoff handoff;
};

void echoTask(void* arg)
{
    auto& p = *static_cast<FlagPair*>(arg);
    uint32_t pattern = 0;
    while (oswrap_waitTaskFlags(&pattern, kPing, OSWRAP_WAIT_FOREVER) == OSWRAP_OK)
        oswrap_setTaskFlags(p.driver, kPing);
    oswrap_exitTask();
}

void driverTask(void* arg)
{
    auto& p = *static_cast<FlagPair*>(arg);
    uint32_t pattern = 0;
    while (oswrap_waitTaskFlags(&pattern, kGo, OSWRAP_WAIT_FOREVER) == OSWRAP_OK) {
        for (int i = 0; i < kBatch; ++i) {
            oswrap_setTaskFlags(p.echo, kPing);
            if (oswrap_waitTaskFlags(&pattern, kPing, OSWRAP_WAIT_FOREVER) != OSWRAP_OK)
                break;
        }
        p.handoff.finish();
    }
    oswrap_exitTask();
}

uint16_t spawn(OswrapTaskEntry entry)
{
    OswrapTaskAttr attr;
    attr.entry = entry;
    attr.stackSize = 4096;
    uint16_t id = 0;
    oswrap_createTask(&id, &attr);
    return id;
}

void BM_OswrapFlagPingPong(benchmark::State& state)
{
    oswrap_init();
    FlagPair pair;
    pair.driver = spawn(driverTask);
    pair.echo = spawn(echoTask);
    oswrap_startTask(pair.driver, &pair);
    oswrap_startTask(pair.echo, &pair);
    for (auto _ : state) {
        oswrap_setTaskFlags(pair.driver, kGo);
        pair.handoff.await();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    oswrap_shutdown();
}
BENCHMARK(BM_OswrapFlagPingPong)->UseRealTime();

// The same exchange on one mutex and a condition variable per side.
struct CvPair {
    std::mutex lock;
    std::condition_variable toEcho, toDriver;
    bool ping = false, pong = false, stop = false;
    Handoff handoff;
    std::mutex goLock;
    std::condition_variable goWake;
    bool go = false;
};

void BM_ConditionVariablePingPong(benchmark::State& state)
{
    CvPair p;
    std::thread echo([&] {
        std::unique_lock<std::mutex> guard(p.lock);
        for (;;) {
            p.toEcho.wait(guard, [&] { return p.ping || p.stop; });
            if (p.stop)
                return;
            p.ping = false;
            p.pong = true;
            p.toDriver.notify_one();
        }
    });
    std::thread driver([&] {
        for (;;) {
            {
                std::unique_lock<std::mutex> guard(p.goLock);
                p.goWake.wait(guard, [&] { return p.go || p.stop; });
                if (p.stop)
                    return;
                p.go = false;
            }
            std::unique_lock<std::mutex> guard(p.lock);
            for (int i = 0; i < kBatch; ++i) {
                p.ping = true;
                p.toEcho.notify_one();
                p.toDriver.wait(guard, [&] { return p.pong; });
                p.pong = false;
            }
            guard.unlock();
            p.handoff.finish();
        }
    });
    for (auto _ : state) {
        {
            std::lock_guard<std::mutex> guard(p.goLock);
            p.go = true;
            p.goWake.notify_one();
        }
        p.handoff.await();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    {
        std::lock_guard<std::mutex> a(p.lock), b(p.goLock);
        p.stop = true;
        p.toEcho.notify_one();
        p.goWake.notify_one();
    }
    echo.join();
    driver.join();
}
BENCHMARK(BM_ConditionVariablePingPong)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
