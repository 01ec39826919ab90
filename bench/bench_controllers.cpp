// One meter tick of a full unit panel: 58 ControllerForZMeter::meterChanged
// (mask, 41-step conversion of level and peak, meter update) against the
// floor of the same 58 ZMeter updates with levels computed beforehand. The
// ratio is what the controllers add. Offscreen; both in the same run.
#include "device/memory/dev_object.h"
#include "ui/bind/controllers.h"
#include "ui/bind/converters.h"
#include "ui/skins/zlook.h"
#include "ui/skins/zskins.h"
#include "ui/widgets/zmeter.h"

#include <QApplication>
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

constexpr int kMeters = 58; // 32 inputs, 24 outputs, 2 headphones
constexpr int kRounds = 64;

// Meter bytes of one round and meter, over bit included now and then.
uint8_t dataOf(int round, int meter)
{
    return static_cast<uint8_t>((round * 37 + meter * 11) % 256);
}

struct Panel {
    QWidget window;
    std::vector<ZMeter*> meters;
    Panel()
    {
        for (int i = 0; i < kMeters; ++i) {
            auto* m = new ZMeter(&window);
            m->move(i * 11, 4);
            meters.push_back(m);
        }
    }
};

void BM_ControllerMeterTick(benchmark::State& state)
{
    Panel panel;
    Quil::DevObject dev(0, Quil::MODEL_BROXL_D3);
    std::vector<std::unique_ptr<ControllerForZMeter>> controllers;
    const std::pair<const char*, int> groups[]
        = {{"Dev/InputLevel", 32}, {"Dev/OutputLevel", 24}, {"Dev/PhonesLevel", 2}};
    int index = 0;
    for (const auto& [path, channels] : groups) {
        for (int ch = 0; ch < channels; ++ch) {
            auto c = std::make_unique<ControllerForZMeter>(ParamConverterMeter41pix::instance(), nullptr);
            c->attach(panel.meters[static_cast<size_t>(index++)], &dev, QString::fromLatin1(path), ch);
            controllers.push_back(std::move(c));
        }
    }
    int round = 0;
    for (auto _ : state) {
        round = (round + 1) % kRounds;
        for (int i = 0; i < kMeters; ++i)
            controllers[static_cast<size_t>(i)]->meterChanged(dataOf(round + 1, i), dataOf(round, i));
    }
    state.SetItemsProcessed(state.iterations() * kMeters);
}
BENCHMARK(BM_ControllerMeterTick);

// Floor: the meters set directly from levels converted beforehand.
void BM_BareMeterSetValue(benchmark::State& state)
{
    Panel panel;
    std::vector<int> levels(kRounds * kMeters);
    std::vector<int> peaks(kRounds * kMeters);
    for (int r = 0; r < kRounds; ++r) {
        for (int i = 0; i < kMeters; ++i) {
            const size_t k = static_cast<size_t>(r * kMeters + i);
            ParamConverterMeter41pix::instance()->convert(dataOf(r, i) & 0x7F, &levels[k]);
            ParamConverterMeter41pix::instance()->convert(dataOf(r + 1, i) & 0x7F, &peaks[k]);
        }
    }
    int round = 0;
    for (auto _ : state) {
        round = (round + 1) % kRounds;
        for (int i = 0; i < kMeters; ++i) {
            const size_t k = static_cast<size_t>(round * kMeters + i);
            ZMeter* m = panel.meters[static_cast<size_t>(i)];
            m->setValue(levels[k]);
            m->setPeakHold(peaks[k], peaks[k] > 0 ? 1 : 0);
        }
    }
    state.SetItemsProcessed(state.iterations() * kMeters);
}
BENCHMARK(BM_BareMeterSetValue);

} // namespace
