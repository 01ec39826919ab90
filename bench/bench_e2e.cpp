// One simulated unit and its mirror on loopback: how long the association
// of its 403 cells takes, and how long a unit-side change takes to reach the
// mirror's field (from the unit's edit, and from the NOTIFY line leaving the
// unit), as median and 99th percentile.
#include "sim_client.h"
#include "sim_unit.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace simtest;

namespace {

struct Rig {
    SimUnit unit;
    SimWaker waker;
    std::unique_ptr<MirrorClient> mirror;

    bool start()
    {
        if (!simStartPlatform(false))
            return false;
        SimUnitConfig config;
        config.layoutPath = QUILLON_SIM_LAYOUT;
        std::string why;
        if (unit.start(config, &why) < 0) {
            fprintf(stderr, "%s\n", why.c_str());
            return false;
        }
        return true;
    }
    bool connect()
    {
        mirror = std::make_unique<MirrorClient>(waker);
        std::string why;
        return mirror->load(QUILLON_SIM_LAYOUT, &why) == 0 && mirror->connect("127.0.0.1", "127.0.0.1", unit.port())
            && pump([&] { return mirror->connected(); }) && mirror->negotiate() == SCP::SCP_OK
            && pump([&] { return mirror->negotiated(); });
    }
    bool pump(const std::function<bool()>& pred, int timeoutMs = 10000)
    {
        return simPumpUntil(waker, {mirror.get()}, pred, timeoutMs);
    }
};

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

void BM_Association403(benchmark::State& state)
{
    Rig rig;
    if (!rig.start()) {
        state.SkipWithError("unit did not start");
        return;
    }
    for (auto _ : state) {
        if (!rig.connect()) {
            state.SkipWithError("no connection");
            return;
        }
        const auto begin = std::chrono::steady_clock::now();
        rig.mirror->associate();
        if (!rig.pump([&] { return rig.mirror->associated(); })) {
            state.SkipWithError("association timed out");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
        rig.mirror.reset();
    }
    state.counters["cells"] = static_cast<double>(rig.unit.memory().cellCount());
}
BENCHMARK(BM_Association403)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);

void BM_NotifyToField(benchmark::State& state)
{
    Rig rig;
    if (!rig.start() || !rig.connect()) {
        state.SkipWithError("no connection");
        return;
    }
    rig.mirror->associate();
    if (!rig.pump([&] { return rig.mirror->associated(); })) {
        state.SkipWithError("association timed out");
        return;
    }
    SimMemory& m = rig.mirror->memory();
    const SimCell cell{m.indexOfPath("bus/level"), 0, 3};
    std::vector<double> edit, notify;
    int32_t value = 0;
    for (auto _ : state) {
        value = value == -1000 ? 0 : value - 1;
        const std::string expected = std::to_string(value);
        const int64_t begin = simNowNs();
        rig.unit.setLocal("bus/level", 0, 3, JLIB::JVariant(value));
        if (!rig.pump([&] { return m.valueText(cell) == expected; })) {
            state.SkipWithError("value did not arrive");
            return;
        }
        const int64_t stored = m.trigger().lastNs();
        edit.push_back(static_cast<double>(stored - begin) / 1000.0);
        notify.push_back(static_cast<double>(stored - rig.unit.stats().lastNotifyNs) / 1000.0);
        state.SetIterationTime(static_cast<double>(stored - begin) / 1e9);
    }
    state.counters["edit_p50_us"] = percentile(edit, 0.5);
    state.counters["edit_p99_us"] = percentile(edit, 0.99);
    state.counters["notify_p50_us"] = percentile(notify, 0.5);
    state.counters["notify_p99_us"] = percentile(notify, 0.99);
}
BENCHMARK(BM_NotifyToField)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(2000);

} // namespace

BENCHMARK_MAIN();
