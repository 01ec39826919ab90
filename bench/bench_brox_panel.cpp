// The BroxL-D3 panel's binding costs, each beside its floor in the same run:
// building the bound panel (56 columns, controllers, subscriptions, output
// block) against the same widget tree left unbound; an edit-window page
// change (eight strips rebound) against binding the window once; "All 0dB"
// from the command to the 32nd knob moved through the memory thread against
// the 32 memory writes alone. Offscreen.
#include "device/memory/dev_memthread.h"
#include "device/memory/dev_mmsaccessor.h"
#include "device/memory/dev_object.h"
#include "pbd/jlib/jvariant.h"
#include "ui/panels/brox_mainchunit.h"
#include "ui/panels/brox_uiedit.h"
#include "ui/panels/brox_uimain.h"
#include "ui/skins/zlook.h"
#include "ui/skins/zskins.h"
#include "ui/widgets/zdial.h"

#include <QApplication>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>

#include <memory>

namespace {

class NoHost : public IZMainUICallback {
public:
    int openEditWindow(uint32_t, int, const QVariant&, bool) override { return 0; }
    int closeEditWindows(uint32_t) override { return 0; }
    int showProperties(uint32_t) override { return 0; }
};

void BM_BuildBoundPanel(benchmark::State& state)
{
    Quil::DevObject dev(0, Quil::MODEL_BROXL_D3);
    NoHost host;
    for (auto _ : state) {
        Brox::UIMain panel(11);
        panel.init(0, &dev, &host);
        benchmark::DoNotOptimize(panel.outputColumns().back());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildBoundPanel)->Unit(benchmark::kMillisecond);

// Floor: the same widgets, never bound.
void BM_BuildUnboundPanel(benchmark::State& state)
{
    for (auto _ : state) {
        Brox::UIMain panel(11);
        benchmark::DoNotOptimize(panel.outputColumns().back());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildUnboundPanel)->Unit(benchmark::kMillisecond);

void BM_EditPageChange(benchmark::State& state)
{
    Quil::DevObject dev(0, Quil::MODEL_BROXL_D3);
    NoHost host;
    Brox::UIEdit window(11, nullptr, Qt::Dialog, true);
    window.init(0, &dev, &host);
    int page = 0;
    for (auto _ : state) {
        page = (page + 1) % 3;
        window.setPage(QVariant(page));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EditPageChange);

// Floor: binding the eight strips of a window once.
void BM_EditBindOnce(benchmark::State& state)
{
    Quil::DevObject dev(0, Quil::MODEL_BROXL_D3);
    NoHost host;
    Brox::UIEdit window(11, nullptr, Qt::Dialog, true);
    for (auto _ : state)
        window.init(0, &dev, &host);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EditBindOnce);

// The gain both commands write: nominal 0 dB and the default, alternately.
int gainOf(Quil::DevObject& dev, bool nominal)
{
    JLIB::JVariant value;
    dev.getDefault(QStringLiteral("/Backup/InCh:0/HAGain:0"), &value, nominal);
    return static_cast<int32_t>(value.toInteger());
}

void BM_AllZeroDecibelsToLastKnob(benchmark::State& state)
{
    Quil::DevObject dev(0, Quil::MODEL_BROXL_D3);
    NoHost host;
    Brox::UIMain panel(11);
    panel.init(0, &dev, &host);
    ZDial* last = panel.inputColumns().back()->gainKnob();
    const int targets[2] = {gainOf(dev, true), gainOf(dev, false)};
    bool nominal = false;
    for (auto _ : state) {
        nominal = !nominal;
        if (nominal)
            panel.onAll0dBHaGain();
        else
            panel.onAllDefultHaGain();
        const int target = targets[nominal ? 0 : 1];
        QElapsedTimer clock;
        clock.start();
        while (last->value() != target && clock.elapsed() < 2000)
            QCoreApplication::processEvents();
    }
    state.SetItemsProcessed(state.iterations() * 32);
}
BENCHMARK(BM_AllZeroDecibelsToLastKnob);

// Floor: the 32 memory writes alone.
void BM_DirectGainWrites(benchmark::State& state)
{
    Quil::DevObject dev(0, Quil::MODEL_BROXL_D3);
    const int targets[2] = {gainOf(dev, true), gainOf(dev, false)};
    bool nominal = false;
    for (auto _ : state) {
        nominal = !nominal;
        const JLIB::JVariant value(static_cast<int32_t>(targets[nominal ? 0 : 1]));
        for (int i = 0; i < 32; ++i)
            dev.setValue(QStringLiteral("/Backup/InCh:%1/HAGain:0").arg(i), value, Quil::SOURCE_UI);
    }
    state.SetItemsProcessed(state.iterations() * 32);
}
BENCHMARK(BM_DirectGainWrites);

} // namespace
