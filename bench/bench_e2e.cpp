// One simulated Brox unit and the product's device link to it on loopback:
// how long the association takes, and how long a unit-side change takes to
// reach the memory's paramChanged (from the unit's edit, and from the
// NOTIFY line leaving the unit), as median and 99th percentile. The whole
// program's NOTIFY-to-repaint figure (bench_main_road) takes the NOTIFY
// figure of this program as its floor.
#include "bench/bench_budget.h"
#include "bench/bench_link_support.h"
#include "device/link/dev_comm.h"
#include "device/memory/dev_mmsaccessor.h"
#include "device/memory/dev_object.h"
#include "pbd/jlib/jvariant.h"
#include "tests/sim/sim_brox.h"
#include "tests/sim/sim_unit.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

using namespace Quil;
using namespace linkbench;

namespace {

simtest::SimUnitConfig broxConfig()
{
    simtest::SimUnitConfig config;
    config.layoutPath = QUILLON_BROX_LAYOUT;
    simtest::useBroxAnswers(&config);
    config.meterItems = {};
    return config;
}

void BM_Association(benchmark::State& state)
{
    platform();
    simtest::SimUnit unit;
    std::string why;
    if (unit.start(broxConfig(), &why) < 0) {
        state.SkipWithError(why.c_str());
        return;
    }
    for (auto _ : state) {
        Link link(unit.port());
        const auto t0 = Clock::now();
        if (!link.connect()) {
            state.SkipWithError("the unit did not connect");
            return;
        }
        state.SetIterationTime(seconds(Clock::now() - t0));
    }
}
BENCHMARK(BM_Association)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(benchbudget::rounds(20));

// Stamps the moment of each paramChanged on the GUI thread.
class Stamp : public QObject {
    Q_OBJECT
public:
    int changes = 0;
    int64_t lastNs = 0;
public slots:
    void paramChanged()
    {
        lastNs = simtest::simNowNs();
        ++changes;
    }
};

void BM_NotifyToParamChanged(benchmark::State& state)
{
    platform();
    simtest::SimUnit unit;
    std::string why;
    if (unit.start(broxConfig(), &why) < 0) {
        state.SkipWithError(why.c_str());
        return;
    }
    Link link(unit.port());
    if (!link.connect()) {
        state.SkipWithError("the unit did not connect");
        return;
    }
    Stamp stamp;
    link.dev.subscribe("/Backup/OutCh:4/GainLevel:0", &stamp, SOURCE_UI, SLOT(paramChanged()));
    std::vector<double> edit, notify;
    int value = 0;
    for (auto _ : state) {
        value = value == -300 ? -310 : -300;
        const int before = stamp.changes;
        const int64_t begin = simtest::simNowNs();
        unit.setLocal("Current/OutCh/GainLevel", 4, 0, JLIB::JVariant(value));
        if (!spin([&] { return stamp.changes > before; }, 5000)) {
            state.SkipWithError("the edit did not arrive");
            return;
        }
        edit.push_back(static_cast<double>(stamp.lastNs - begin) / 1000.0);
        notify.push_back(static_cast<double>(stamp.lastNs - unit.stats().lastNotifyNs) / 1000.0);
        state.SetIterationTime(static_cast<double>(stamp.lastNs - begin) / 1e9);
    }
    state.counters["edit_p50_us"] = percentile(edit, 0.5);
    state.counters["edit_p99_us"] = percentile(edit, 0.99);
    state.counters["notify_p50_us"] = percentile(notify, 0.5);
    state.counters["notify_p99_us"] = percentile(notify, 0.99);
}
BENCHMARK(BM_NotifyToParamChanged)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(benchbudget::rounds(1000));

} // namespace

BENCHMARK_MAIN();

#include "bench_e2e.moc"
