// Time to find a full rack: 24 simulated unit processes announcing by JSDP
// from their own addresses in a peer namespace, the real discovery front in
// ours, from its start to the 24th foundServSignal, against the units'
// announcement period (ratio: period ÷ time to find, higher is better; 1
// means the rack was complete within one period). The program moves itself
// into a fresh network namespace first (needs CAP_SYS_ADMIN).
#include "bench/bench_budget.h"
#include "device/discovery/dev_discovery.h"
#include "device/link/dev_vsockobject.h"
#include "tests/support/netns.h"
#include "tests/support/unit_process.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include <sched.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRack = 24;
constexpr int kPeriodMs = 1000;

struct Bed {
    std::unique_ptr<QCoreApplication> app;
    std::unique_ptr<Quil::VSockObject> sockets;
    std::unique_ptr<qtest::NetnsBed> bed;
    std::unique_ptr<qtest::UnitRack> units;
    bool ready = false;
};

Bed& bed()
{
    static Bed b;
    return b;
}

bool setUp(char** argv)
{
    Bed& b = bed();
    static int argc = 1;
    b.app = std::make_unique<QCoreApplication>(argc, argv);
    if (unshare(CLONE_NEWNET) != 0) {
        perror("unshare(CLONE_NEWNET)");
        return false;
    }
    // The bed refuses to build outside a namespace of its own: this is one.
    setenv("QUILLON_IN_TEST_NETNS", "1", 1);
    b.bed = std::make_unique<qtest::NetnsBed>();
    if (!b.bed->ready()) {
        fprintf(stderr, "%s\n", b.bed->error().c_str());
        return false;
    }
    b.sockets = std::make_unique<Quil::VSockObject>();
    b.units = std::make_unique<qtest::UnitRack>(*b.bed);
    std::vector<qtest::UnitSpec> specs;
    for (int i = 0; i < kRack; ++i) {
        qtest::UnitSpec spec;
        spec.modelType = 1 + i % 12;
        spec.host = 2 + i;
        spec.announcePeriodMs = kPeriodMs;
        specs.push_back(spec);
    }
    if (!b.units->start(specs)) {
        fprintf(stderr, "%s\n", b.units->error().c_str());
        return false;
    }
    b.ready = true;
    return true;
}

void BM_FindFullRack(benchmark::State& state)
{
    if (!bed().ready) {
        state.SkipWithError("no namespace bed");
        return;
    }
    double total = 0;
    for (auto _ : state) {
        Quil::DiscoveryOptions options;
        options.announcePeriodMs = kPeriodMs;
        Quil::JsdpZDiscovery discovery(nullptr, options);
        std::set<QString> found;
        QObject::connect(&discovery, &Quil::JsdpZDiscovery::foundServSignal, [&](QString key) { found.insert(key); });
        const auto t0 = Clock::now();
        const JsdpResult started
            = discovery.start(qtest::NetnsBed::kLocalMac, qtest::NetnsBed::kLocalAddress, qtest::NetnsBed::kNetmask);
        if (started != JSDP_OK) {
            fprintf(stderr, "start: %x, engine state %d\n", static_cast<unsigned>(started), jsdp_getState());
            state.SkipWithError("discovery did not start");
            return;
        }
        const auto deadline = t0 + std::chrono::milliseconds(10 * kPeriodMs);
        while (found.size() < kRack && Clock::now() < deadline)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const double t = std::chrono::duration<double>(Clock::now() - t0).count();
        discovery.stop();
        if (found.size() < kRack) {
            state.SkipWithError("not every unit was found");
            return;
        }
        state.SetIterationTime(t);
        total += t;
    }
    const double ours = total / static_cast<double>(state.iterations());
    state.counters["find24_ms"] = ours * 1e3;
    state.counters["period_ms"] = kPeriodMs;
    state.counters["ratio"] = kPeriodMs / 1e3 / ours;
}
BENCHMARK(BM_FindFullRack)->UseManualTime()->Iterations(benchbudget::rounds(8))->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (!setUp(argv))
        fprintf(stderr, "bench_dev_link_find: the namespace bed is not available\n");
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // Qt objects go before the application they need; nothing is left for
    // static destruction.
    Bed& b = bed();
    b.units.reset();
    b.bed.reset();
    b.sockets.reset();
    b.app.reset();
    return 0;
}
