// The device link at a full rack, in one process on loopback: simulated
// units (one serving thread each, every unit on its own port), one link
// thread per unit and the one memory thread that wakes them all. Every row
// reports ours against a floor measured in the same run, as throughput:
// floor time ÷ our time (higher is better).
//
// - Association per family against its round trips (372 Brox, 206 Sorn,
//   59 Mavik) × the median TCP ping-pong round trip.
// - 24 units connecting at once against one alone (wall time).
// - Process CPU per user edit with 1, 8 and 24 connected units, against 1.
// - Unit edit to paramChanged and user write to the unit's value with 24
//   units connected, p50 and p99 against one round trip.
// Round-trip floors are taken between our own rounds, so both see the same
// load.
#include "bench/bench_budget.h"
#include "bench/bench_link_support.h"
#include "device/layouts/dev_modeltypes.h"
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

#include <ctime>
#include <memory>
#include <string>
#include <vector>

using namespace Quil;
using namespace linkbench;

namespace {

constexpr int kRack = 24;

struct Family {
    ModelType type;
    const char* layout;
    int roundTrips;
};

const Family kBrox{MODEL_BROXL_D2, "brox.xml", 372};
const Family kSorn{MODEL_SORN_D, "sorn.xml", 206};
const Family kMavik{MODEL_MAVIK_D, "mavik.xml", 59};

const Family& familyOf(ModelType type)
{
    return servedByKit(type, ModelKit::Sorn) ? kSorn : servedByKit(type, ModelKit::Mavik) ? kMavik : kBrox;
}

simtest::SimUnitConfig configFor(ModelType type, bool meters = true)
{
    simtest::SimUnitConfig config;
    config.layoutPath = std::string(QUILLON_SIM_LAYOUTS) + "/" + familyOf(type).layout;
    if (!servedByKit(type, ModelKit::Brox)) {
        config.meters = {};
        config.devStatus = {{"runmode", "normal"}, {"error", "nothing"}};
    } else {
        simtest::useBroxAnswers(&config);
        if (!meters)
            config.meterItems = {};
    }
    return config;
}

double cpuSeconds(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

DevCommTimings timings()
{
    DevCommTimings t;
    t.meterRenewalMs = 500;
    return t;
}

// A simulated unit and the rack owner's link to it.
struct RackUnit {
    RackUnit(ModelType type, bool meters = true)
        : type(type)
    {
        std::string why;
        ok = unit.start(configFor(type, meters), &why) >= 0;
        if (!ok)
            return;
        dev = std::make_unique<DevObject>(0, type);
        comm = std::make_unique<DevComm>(
            nullptr, "key", "127.0.0.1", unit.port(), "unit", type, 0, "127.0.0.1", timings());
        comm->attachMemory(dev.get(), SOURCE_LINK);
    }
    ~RackUnit()
    {
        if (comm)
            comm->detachMemory();
        comm.reset();
        dev.reset();
        unit.stop();
    }
    void connectReq() { dev->setValue(kConnectReqPath, JLIB::JVariant(1), SOURCE_UI); }
    bool connected() { return comm && comm->isConnected(); }

    const ModelType type;
    simtest::SimUnit unit;
    bool ok = false;
    std::unique_ptr<DevObject> dev;
    std::unique_ptr<DevComm> comm; // goes before dev
};

using Rack = std::vector<std::unique_ptr<RackUnit>>;

// n units of the type, connected at once; false when one failed.
bool connectRack(Rack* rack, int n, ModelType type, bool meters = true)
{
    for (int i = 0; i < n; ++i) {
        rack->push_back(std::make_unique<RackUnit>(type, meters));
        if (!rack->back()->ok)
            return false;
    }
    for (auto& u : *rack)
        u->connectReq();
    return spin([&] {
        for (auto& u : *rack) {
            if (!u->connected())
                return false;
        }
        return true;
    });
}

void BM_AssociationPerFamily(benchmark::State& state)
{
    platform();
    const ModelType type = static_cast<ModelType>(state.range(0));
    EchoFloor floor;
    double total = 0;
    for (auto _ : state) {
        floor.sample(200);
        RackUnit u(type);
        const auto t0 = Clock::now();
        u.connectReq();
        if (!u.ok || !spin([&] { return u.connected(); })) {
            state.SkipWithError("the unit did not connect");
            return;
        }
        const double t = seconds(Clock::now() - t0);
        state.SetIterationTime(t);
        total += t;
    }
    const int trips = familyOf(type).roundTrips;
    const double rtt = floor.median();
    const double ours = total / static_cast<double>(state.iterations());
    state.counters["ours_ms"] = ours * 1e3;
    state.counters["floor_ms"] = trips * rtt * 1e3;
    state.counters["per_trip_us"] = ours / trips * 1e6;
    state.counters["rtt_us"] = rtt * 1e6;
    state.counters["ratio"] = trips * rtt / ours;
}
BENCHMARK(BM_AssociationPerFamily)
    ->Arg(MODEL_BROXL_D2)
    ->Arg(MODEL_SORN_D)
    ->Arg(MODEL_MAVIK_D)
    ->UseManualTime()
    ->Iterations(benchbudget::rounds(10))
    ->Unit(benchmark::kMillisecond);

// Wall time from the connect requests to the last unit at state 2.
double connectSeconds(int n)
{
    Rack rack;
    for (int i = 0; i < n; ++i)
        rack.push_back(std::make_unique<RackUnit>(MODEL_BROXL_D2));
    const auto t0 = Clock::now();
    for (auto& u : rack)
        u->connectReq();
    const bool all = spin([&] {
        for (auto& u : rack) {
            if (!u->connected())
                return false;
        }
        return true;
    });
    return all ? seconds(Clock::now() - t0) : -1;
}

void BM_RackConnectsAtOnce(benchmark::State& state)
{
    platform();
    double one = 0, all = 0;
    for (auto _ : state) {
        const double a = connectSeconds(1), b = connectSeconds(kRack);
        if (a < 0 || b < 0) {
            state.SkipWithError("a unit did not connect");
            return;
        }
        one += a;
        all += b;
        state.SetIterationTime(b);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["one_ms"] = one / n * 1e3;
    state.counters["all24_ms"] = all / n * 1e3;
    state.counters["ratio"] = one / all;
}
BENCHMARK(BM_RackConnectsAtOnce)->UseManualTime()->Iterations(benchbudget::rounds(5))->Unit(benchmark::kMillisecond);

// CPU of every thread but the GUI thread (which spins here), and of the
// GUI thread alone.
struct CpuSplit {
    double others;
    double gui;
};

CpuSplit cpuNow()
{
    const double gui = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    return {cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - gui, gui};
}

// CPU per user edit of one unit with n units connected: the other threads'
// less what the idle rack burns in the same wall time, and the GUI thread's.
CpuSplit cpuPerEdit(int n, int edits)
{
    Rack rack;
    if (!connectRack(&rack, n, MODEL_BROXL_D2, false))
        return {-1, -1};
    RackUnit& u = *rack.front();
    const int32_t index = u.unit.memory().indexOfAddress("IO:Current/OutCh/DelayTime");
    spin([] { return false; }, 200);
    const double idleWall = 1.0;
    const CpuSplit idle0 = cpuNow();
    spin([] { return false; }, static_cast<int>(idleWall * 1000));
    const double idleRate = (cpuNow().others - idle0.others) / idleWall;

    const auto w0 = Clock::now();
    const CpuSplit c0 = cpuNow();
    for (int e = 0; e < edits; ++e) {
        const int value = 100 + e % 2;
        u.dev->setValue("/Backup/OutCh:3/DelayTime:0", JLIB::JVariant(value), SOURCE_UI);
        const bool arrived = spin([&] {
            JLIB::JVariant v;
            return u.unit.memory().read(simtest::SimCell{index, 3, 0}, &v) >= 0
                && static_cast<int>(v.toInteger()) == value;
        });
        if (!arrived)
            return {-1, -1};
    }
    const CpuSplit c1 = cpuNow();
    const double others = c1.others - c0.others - idleRate * seconds(Clock::now() - w0);
    return {others / edits, (c1.gui - c0.gui) / edits};
}

void BM_FanOutCpuPerEdit(benchmark::State& state)
{
    platform();
    CpuSplit c1{}, c8{}, c24{};
    for (auto _ : state) {
        const int edits = benchbudget::amount(400, 20);
        c1 = cpuPerEdit(1, edits);
        c8 = cpuPerEdit(8, edits);
        c24 = cpuPerEdit(kRack, edits);
        if (c1.others < 0 || c8.others < 0 || c24.others < 0) {
            state.SkipWithError("an edit did not arrive");
            return;
        }
    }
    state.counters["cpu1_us"] = c1.others * 1e6;
    state.counters["cpu8_us"] = c8.others * 1e6;
    state.counters["cpu24_us"] = c24.others * 1e6;
    state.counters["ratio8"] = c1.others / c8.others;
    state.counters["ratio24"] = c1.others / c24.others;
}
BENCHMARK(BM_FanOutCpuPerEdit)->Iterations(1)->Unit(benchmark::kMillisecond);

class Watch : public QObject {
    Q_OBJECT
public:
    int changes = 0;
public slots:
    void paramChanged() { ++changes; }
};

void BM_LatencyInAFullRack(benchmark::State& state)
{
    platform();
    Rack rack;
    if (!connectRack(&rack, kRack, MODEL_BROXL_D2, false)) {
        state.SkipWithError("the rack did not connect");
        return;
    }
    RackUnit& u = *rack[kRack / 2];
    Watch watch;
    u.dev->subscribe("/Backup/OutCh:4/GainLevel:0", &watch, SOURCE_UI, SLOT(paramChanged()));
    const int32_t index = u.unit.memory().indexOfAddress("IO:Current/OutCh/DelayTime");
    EchoFloor floor;
    std::vector<double> notify, write;
    int round = 0;
    for (auto _ : state) {
        ++round;
        floor.sample(5);
        const int before = watch.changes;
        auto t0 = Clock::now();
        u.unit.setLocal("Current/OutCh/GainLevel", 4, 0, JLIB::JVariant(round % 2 ? -300 : -310));
        if (!spin([&] { return watch.changes > before; }, 5000)) {
            state.SkipWithError("the unit's edit did not arrive");
            return;
        }
        notify.push_back(seconds(Clock::now() - t0));
        const int value = round % 2 ? 480 : 960;
        t0 = Clock::now();
        u.dev->setValue("/Backup/OutCh:3/DelayTime:0", JLIB::JVariant(value), SOURCE_UI);
        const bool arrived = spin(
            [&] {
                JLIB::JVariant v;
                return u.unit.memory().read(simtest::SimCell{index, 3, 0}, &v) >= 0
                    && static_cast<int>(v.toInteger()) == value;
            },
            5000);
        if (!arrived) {
            state.SkipWithError("the write did not arrive");
            return;
        }
        write.push_back(seconds(Clock::now() - t0));
    }
    const double rtt = floor.median();
    state.counters["rtt_us"] = rtt * 1e6;
    state.counters["notify_p50_us"] = percentile(notify, 0.5) * 1e6;
    state.counters["notify_p99_us"] = percentile(notify, 0.99) * 1e6;
    state.counters["write_p50_us"] = percentile(write, 0.5) * 1e6;
    state.counters["write_p99_us"] = percentile(write, 0.99) * 1e6;
    state.counters["ratio_notify_p50"] = rtt / percentile(notify, 0.5);
    state.counters["ratio_write_p50"] = rtt / percentile(write, 0.5);
}
BENCHMARK(BM_LatencyInAFullRack)->Iterations(benchbudget::rounds(300));

} // namespace

BENCHMARK_MAIN();

#include "bench_dev_link.moc"
