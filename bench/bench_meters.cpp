// One 50 ms meter tick of both meter windows over 24 BroxL-D3 units
// (2 x 1392 meters): every unit's meter store reports (the meter timer's
// work), the controllers set the meters, and the dirty meters paint. The
// floor sets the same ZMeters of the same shown windows to precomputed
// values with no controllers and paints the same way. At 100 % and 200 %.
// CPU time per tick is the benchmark's own figure; "paint_ms" is the part
// spent painting. Offscreen.
#include "app/app_quilobject.h"
#include "device/memory/dev_meters.h"
#include "ui/bind/converters.h"
#include "ui/panels/meterall.h"
#include "ui/panels/meterstrip.h"
#include "ui/skins/zlook.h"
#include "ui/skins/zskins.h"
#include "ui/widgets/zmeter.h"

#include <QApplication>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>

#include <array>
#include <memory>
#include <vector>

namespace {

constexpr int kUnits = 24;
constexpr int kRounds = 8; // distinct level patterns, so every meter moves every tick
constexpr int kMetersPerUnit = 58;

struct Block {
    const char* path;
    int count;
};
constexpr Block kBlocks[] = {{"Dev/InputLevel", 32}, {"Dev/OutputLevel", 24}, {"Dev/PhonesLevel", 2}};

uint8_t byteOf(int round, int unit, int channel)
{
    // Levels 66..127 (all visible steps), with the over bit now and then.
    const int level = 66 + (round * 13 + unit * 5 + channel * 3) % 62;
    return static_cast<uint8_t>(channel % 11 == round ? (level | 0x80) : level);
}

// The rack, both windows shown at one zoom, and every meter in tick order.
class Rig {
public:
    explicit Rig(ZoomCode code)
    {
        for (int slot = 0; slot < kUnits; ++slot)
            core.mountModel(slot, Quil::MODEL_BROXL_D3);
        QApplication::processEvents();
        for (int mode : {0, 1}) {
            auto window = std::make_unique<MeterAll>(nullptr, Qt::Dialog, &core);
            window->setLayoutMode(mode);
            window->applyScale(code);
            window->show();
            windows.push_back(std::move(window));
        }
        settle();
        for (int round = 0; round < kRounds; ++round)
            for (int unit = 0; unit < kUnits; ++unit)
                for (int channel = 0; channel < 32; ++channel)
                    bytes[round][unit][channel] = byteOf(round, unit, channel);
    }

    // What the device link leaves in the stores between two ticks.
    void feed(int round)
    {
        for (int unit = 0; unit < kUnits; ++unit) {
            Quil::MemMeters* meters = core.rackDevice(unit)->meters();
            for (const Block& block : kBlocks)
                meters->update(
                    QString::fromLatin1(block.path), bytes[round][unit].data(), static_cast<uint32_t>(block.count));
        }
    }
    // The meter timer's tick: every unit's store reports.
    void notifyAll()
    {
        for (int unit = 0; unit < kUnits; ++unit)
            core.rackDevice(unit)->meters()->notify();
    }
    // Paints what the tick made dirty; returns the nanoseconds it took.
    static int64_t paint()
    {
        QElapsedTimer clock;
        clock.start();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
        return clock.nsecsElapsed();
    }
    static void settle()
    {
        for (int i = 0; i < 20; ++i)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
    }

    std::vector<ZMeter*> allMeters() const
    {
        std::vector<ZMeter*> meters;
        for (const auto& window : windows)
            for (int slot = 0; slot < kUnits; ++slot)
                for (int block = 0; block < MeterStrip::BlockCount; ++block)
                    for (ZMeter* meter : window->strip(slot)->meters(block))
                        meters.push_back(meter);
        return meters;
    }

    Quil::QuilObject core;
    std::vector<std::unique_ptr<MeterAll>> windows;
    std::array<std::array<std::array<uint8_t, 32>, kUnits>, kRounds> bytes{};
};

void report(benchmark::State& state, int64_t meters, int64_t paintNs)
{
    state.SetItemsProcessed(state.iterations() * meters);
    state.counters["paint_ms"]
        = benchmark::Counter(static_cast<double>(paintNs) / 1e6 / static_cast<double>(state.iterations()));
}

void BM_MeterWindowsTick(benchmark::State& state)
{
    Rig rig(static_cast<ZoomCode>(state.range(0)));
    const int64_t meters = static_cast<int64_t>(rig.allMeters().size());
    int round = 0;
    int64_t paintNs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        rig.feed(round);
        round = (round + 1) % kRounds;
        state.ResumeTiming();
        rig.notifyAll();
        paintNs += Rig::paint();
    }
    report(state, meters, paintNs);
}
BENCHMARK(BM_MeterWindowsTick)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// Floor: the same meters of the same windows, set to the levels the tick
// would give (computed beforehand), no stores and no controllers.
void BM_BareMeterRepaint(benchmark::State& state)
{
    Rig rig(static_cast<ZoomCode>(state.range(0)));
    const std::vector<ZMeter*> meters = rig.allMeters();
    const ParamConverterMeter41pix* converter = ParamConverterMeter41pix::instance();
    // Levels per round, in the meters' order (window, slot, block, channel).
    std::vector<std::vector<int>> levels(kRounds);
    for (int round = 0; round < kRounds; ++round) {
        for (size_t window = 0; window < rig.windows.size(); ++window)
            for (int unit = 0; unit < kUnits; ++unit)
                for (const Block& block : kBlocks)
                    for (int channel = 0; channel < block.count; ++channel) {
                        int level = 0;
                        converter->convert(rig.bytes[round][unit][channel] & 0x7F, &level);
                        levels[round].push_back(level);
                    }
    }
    int round = 0;
    int64_t paintNs = 0;
    for (auto _ : state) {
        const std::vector<int>& now = levels[static_cast<size_t>(round)];
        for (size_t i = 0; i < meters.size(); ++i) {
            meters[i]->setValue(now[i]);
            meters[i]->setPeakHold(now[i], now[i] > 0 ? 1 : 0);
        }
        round = (round + 1) % kRounds;
        paintNs += Rig::paint();
    }
    report(state, static_cast<int64_t>(meters.size()), paintNs);
}
BENCHMARK(BM_BareMeterRepaint)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
