// One Brox unit's link, from the rack owner's ConnectReq to ConnectionState
// 2 (13 negotiation requests and 359 gets), against its floor: 372 round
// trips of a plain TCP ping-pong on the same loopback, measured in the same
// run. Then a unit's edit (NOTIFY set) to the memory's paramChanged, and a
// user-interface write to the unit's stored value, p50 and p99 against one
// round trip. Ratios are floor time ÷ our time (higher is better).
#include "bench/bench_budget.h"
#include "bench/bench_link_support.h"
#include "device/link/dev_comm.h"
#include "device/link/dev_vsockobject.h"
#include "device/memory/dev_memthread.h"
#include "device/memory/dev_mmsaccessor.h"
#include "device/memory/dev_object.h"
#include "pbd/jlib/jvariant.h"
#include "tests/sim/sim_brox.h"
#include "tests/sim/sim_unit.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <vector>

using namespace Quil;
using namespace linkbench;

namespace {

constexpr int kAssociationRequests = 372;

simtest::SimUnitConfig broxConfig()
{
    simtest::SimUnitConfig config;
    config.layoutPath = QUILLON_BROX_LAYOUT;
    simtest::useBroxAnswers(&config);
    return config;
}

void BM_AssociationAgainstRoundTrips(benchmark::State& state)
{
    platform();
    simtest::SimUnit unit;
    std::string why;
    if (unit.start(broxConfig(), &why) < 0) {
        state.SkipWithError(why.c_str());
        return;
    }
    EchoFloor echo;
    double total = 0;
    for (auto _ : state) {
        echo.sample(200);
        Link link(unit.port());
        const auto t0 = Clock::now();
        if (!link.connect()) {
            state.SkipWithError("the unit did not connect");
            return;
        }
        const double t = seconds(Clock::now() - t0);
        state.SetIterationTime(t);
        total += t;
    }
    const double floor = kAssociationRequests * echo.median();
    const double ours = total / static_cast<double>(state.iterations());
    state.counters["floor_ms"] = floor * 1e3;
    state.counters["ours_ms"] = ours * 1e3;
    state.counters["ratio"] = floor / ours;
}
BENCHMARK(BM_AssociationAgainstRoundTrips)
    ->UseManualTime()
    ->Iterations(benchbudget::rounds(10))
    ->Unit(benchmark::kMillisecond);

class Watch : public QObject {
    Q_OBJECT
public:
    std::atomic<int> changes{0};
public slots:
    void paramChanged() { ++changes; }
};

// A unit and a connected link to it; false (with the run marked) when
// either fails.
bool startConnected(benchmark::State& state, simtest::SimUnit& unit, std::unique_ptr<Link>* link)
{
    platform();
    std::string why;
    if (unit.start(broxConfig(), &why) < 0) {
        state.SkipWithError(why.c_str());
        return false;
    }
    *link = std::make_unique<Link>(unit.port());
    if (!(*link)->connect()) {
        state.SkipWithError("the unit did not connect");
        return false;
    }
    return true;
}

void report(benchmark::State& state, const std::vector<double>& times, double rtt)
{
    state.counters["p50_us"] = percentile(times, 0.5) * 1e6;
    state.counters["p99_us"] = percentile(times, 0.99) * 1e6;
    state.counters["rtt_us"] = rtt * 1e6;
    state.counters["ratio_p50"] = rtt / std::max(percentile(times, 0.5), 1e-9);
}

void BM_UnitEditToParamChanged(benchmark::State& state)
{
    simtest::SimUnit unit;
    std::unique_ptr<Link> connected;
    if (!startConnected(state, unit, &connected))
        return;
    Link& link = *connected;
    Watch watch;
    link.dev.subscribe("/Backup/OutCh:4/GainLevel:0", &watch, 1, SLOT(paramChanged()));
    EchoFloor echo;
    std::vector<double> times;
    int value = 0;
    for (auto _ : state) {
        echo.sample(5);
        const int before = watch.changes;
        value = value == -300 ? -310 : -300;
        const auto t0 = Clock::now();
        unit.setLocal("Current/OutCh/GainLevel", 4, 0, JLIB::JVariant(value));
        if (!spin([&] { return watch.changes > before; }, 5000)) {
            state.SkipWithError("the edit did not arrive");
            return;
        }
        times.push_back(seconds(Clock::now() - t0));
    }
    report(state, times, echo.median());
}
BENCHMARK(BM_UnitEditToParamChanged)->Iterations(benchbudget::rounds(300));

void BM_UiWriteToUnit(benchmark::State& state)
{
    simtest::SimUnit unit;
    std::unique_ptr<Link> connected;
    if (!startConnected(state, unit, &connected))
        return;
    Link& link = *connected;
    const int32_t index = unit.memory().indexOfAddress("IO:Current/OutCh/DelayTime");
    EchoFloor echo;
    std::vector<double> times;
    int value = 0;
    for (auto _ : state) {
        echo.sample(5);
        value = value == 960 ? 480 : 960;
        const auto t0 = Clock::now();
        link.dev.setValue("/Backup/OutCh:3/DelayTime:0", JLIB::JVariant(value), SOURCE_UI);
        const bool arrived = spin(
            [&] {
                JLIB::JVariant v;
                return unit.memory().read(simtest::SimCell{index, 3, 0}, &v) >= 0
                    && static_cast<int>(v.toInteger()) == value;
            },
            5000);
        if (!arrived) {
            state.SkipWithError("the write did not arrive");
            return;
        }
        times.push_back(seconds(Clock::now() - t0));
    }
    report(state, times, echo.median());
}
BENCHMARK(BM_UiWriteToUnit)->Iterations(benchbudget::rounds(300));

} // namespace

BENCHMARK_MAIN();

#include "bench_device_connection.moc"
