// The workgroup document's hot paths with 64 units in its tables (32 in the
// workgroup, 32 enumerated): one heartbeat, and one ageing tick over all of
// them, against a floor that finds and updates one record in a std::map
// under a std::mutex. Heartbeats come at up to ten a second and ageing runs
// every 200 ms, so the figures show headroom.
#include "fwupdate/workgroup/wg_document.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include <map>
#include <mutex>

namespace {

constexpr int kUnits = 64;

WG::HeartbeatInfo record(int unit)
{
    WG::HeartbeatInfo r;
    r.deviceId = static_cast<uint64_t>(0x100 + unit) << 16;
    r.mac = r.deviceId >> 16;
    r.modelCode = unit % 2 ? 83 : 48;
    r.statusWord = 1; // no session is opened
    r.announcedWord = 256;
    r.addressText = "fe80:0000:0000:0000:0000:0000:0000:0001";
    r.deviceIdText = QStringLiteral("J%1-Valdor-Mavik-D-A1B2C3").arg(unit % 1000, 3, 10, QLatin1Char('0'));
    r.linksA = {{0, 0, 0x99}};
    return r;
}

void fill(WG::WorkgroupManagerDoc& doc)
{
    for (int i = 0; i < kUnits; ++i) {
        doc.onHeartbeat(record(i));
        if (i % 2 == 0)
            doc.joinMember(record(i).deviceId, false, static_cast<uint16_t>(64 + i % 3));
    }
}

void BM_DocHeartbeat(benchmark::State& state)
{
    WG::WorkgroupManagerDoc doc;
    fill(doc);
    const WG::HeartbeatInfo joined = record(kUnits / 2);
    const WG::HeartbeatInfo seen = record(kUnits / 2 + 1);
    bool flip = false;
    for (auto _ : state) {
        doc.onHeartbeat((flip = !flip) ? joined : seen);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_DocAgeingTick(benchmark::State& state)
{
    WG::WorkgroupManagerDoc doc;
    fill(doc);
    int ticks = 0;
    for (auto _ : state) {
        if (++ticks == 25) {
            state.PauseTiming();
            for (int i = 0; i < kUnits; ++i)
                doc.onHeartbeat(record(i));
            ticks = 0;
            state.ResumeTiming();
        }
        doc.ageMembers();
    }
    state.SetItemsProcessed(state.iterations());
}

struct Record {
    uint16_t countdown = 0;
    uint16_t status = 0;
    uint16_t port = 0;
    uint64_t held = 0;
};

void BM_MapUpdateFloor(benchmark::State& state)
{
    std::mutex lock;
    std::map<uint64_t, Record> records;
    for (int i = 0; i < kUnits; ++i)
        records[record(i).deviceId] = Record{};
    const uint64_t key = record(kUnits / 2).deviceId;
    uint16_t n = 0;
    for (auto _ : state) {
        std::lock_guard<std::mutex> guard(lock);
        Record& r = records.find(key)->second;
        r.countdown = 30;
        r.status = ++n;
        r.port = n;
        r.held = n;
        benchmark::DoNotOptimize(r);
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_DocHeartbeat);
BENCHMARK(BM_DocAgeingTick);
BENCHMARK(BM_MapUpdateFloor);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
