// The rack owner's share of bringing units into the rack.
//
// BM_RackPlacing24: 24 units announced at once through the discovery
// front's recorder (as the engine reports them) until every one is placed:
// its slot found by unit id, a fresh device object mounted, its connection
// made and attached, DeviceNum and SlotState written. Quiet time 0, so the
// figure is the work, not the wait. The units' addresses are loopback
// addresses where nothing listens; the links only start connecting.
// Peer in the same run, BM_FrontFound24: the bare discovery front reporting
// the same 24 announcements as foundServSignal on the event loop. Ratio:
// our rate of placed units ÷ the front's rate of reported units.
// BM_Mount24 splits ours: mounting the same 24 models with no unit behind
// them (device objects only, no connection).
#include "app/app_quilobject.h"
#include "app/app_rackobject.h"
#include "device/link/dev_vsockobject.h"
#include "device/memory/dev_memthread.h"
#include "tests/device/discovery_records.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kUnits = Quil::kRackSlotCount;
const char* const kModels[] = {"BroxL-D3", "BroxM-D2", "BroxL-D", "PellM-D2"};

std::vector<JsdpService> announcements()
{
    std::vector<JsdpService> out;
    for (int i = 0; i < kUnits; ++i) {
        disctest::Announcement a;
        char text[32];
        std::snprintf(text, sizeof text, "J%03X", i + 1);
        a.unitId = text;
        std::snprintf(text, sizeof text, "02:53:00:00:01:%02x", i + 1);
        a.mac = text;
        a.address = "127.0.2." + std::to_string(i + 1);
        a.model = kModels[i % 4];
        out.push_back(disctest::serviceOf(a));
    }
    return out;
}

void announceAll(Quil::JsdpZDiscovery& front, const std::vector<JsdpService>& units)
{
    for (const JsdpService& s : units)
        Quil::ScpRecorder::onService(&s, 1, front.recorder());
}

// Off the clock: the object goes (joining its links) with its queued reports.
template <typename T> void dropUntimed(benchmark::State& state, std::unique_ptr<T>& object)
{
    state.PauseTiming();
    object.reset();
    QCoreApplication::processEvents();
    state.ResumeTiming();
}

template <typename Pred> void spinUntil(Pred pred)
{
    while (!pred())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
}

void BM_RackPlacing24(benchmark::State& state)
{
    const auto units = announcements();
    for (auto _ : state) {
        state.PauseTiming();
        auto rack = std::make_unique<Quil::QuilObject>();
        rack->setPendingInterval(0);
        for (int i = 0; i < kUnits; ++i)
            rack->rackSlot(i)->setDeviceId(i + 1);
        state.ResumeTiming();
        announceAll(*rack->discovery(), units);
        spinUntil([&] {
            for (int i = 0; i < kUnits; ++i)
                if (!rack->hasConnection(i))
                    return false;
            return true;
        });
        dropUntimed(state, rack);
    }
    state.SetItemsProcessed(state.iterations() * kUnits);
}
BENCHMARK(BM_RackPlacing24)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Mount24(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        auto rack = std::make_unique<Quil::QuilObject>();
        state.ResumeTiming();
        for (int i = 0; i < kUnits; ++i)
            rack->mountModel(i, Quil::modelTypeFromName(kModels[i % 4]));
        dropUntimed(state, rack);
    }
    state.SetItemsProcessed(state.iterations() * kUnits);
}
BENCHMARK(BM_Mount24)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FrontFound24(benchmark::State& state)
{
    const auto units = announcements();
    for (auto _ : state) {
        state.PauseTiming();
        auto front = std::make_unique<Quil::JsdpZDiscovery>();
        int found = 0;
        QObject::connect(front.get(), &Quil::JsdpZDiscovery::foundServSignal, front.get(), [&] { ++found; });
        state.ResumeTiming();
        announceAll(*front, units);
        spinUntil([&] { return found == kUnits; });
        dropUntimed(state, front);
    }
    state.SetItemsProcessed(state.iterations() * kUnits);
}
BENCHMARK(BM_FrontFound24)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const Quil::VSockObject sockets;
    if (!sockets.isReady() || Quil::createMemThread() != 0) {
        std::fprintf(stderr, "socket layer or memory thread could not start\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Quil::destroyMemThread();
    return 0;
}
