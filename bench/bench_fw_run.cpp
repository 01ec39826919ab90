// The firmware update window's job chain: eight simulated units, each of
// whose model job takes kJobMs on its unit, updated in one run, against
// the sum of eight runs of one unit each, in the same program run. Both
// include the end-of-run message (answered at once). The counter "ratio"
// is the sum of the single runs over the total of the eight-unit run
// (throughput, ours / peer): the chain between jobs should add nothing
// that counts, so it stays at 1 / 1.1 or above.
#include "bench/bench_budget.h"
#include "bench/bench_gui.h"
#include "tests/ui/fwupdate_ui/run/firmrun_access.h"

#include "ui/fwupdate_ui/fw_firmupdateui.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <memory>

namespace {

using namespace Quil;

constexpr int kUnits = 8;
constexpr int kJobMs = 20;

// A unit's model job: finished kJobMs after its start.
class SimulatedUpdater : public StubModelUpdater {
public:
    int32_t startUpdate(uint32_t index) override
    {
        QPointer<FirmUpdateUI> window = dynamic_cast<FirmUpdateUI*>(m_window);
        QTimer::singleShot(kJobMs, Qt::PreciseTimer, window.data(), [window, index] {
            if (window)
                window->modelCallback(MODEL_CB_FINISHED, index);
        });
        return 0;
    }
};

// Answers every message box as soon as it is open.
void answerMessages()
{
    static QTimer* timer = [] {
        auto* t = new QTimer;
        QObject::connect(t, &QTimer::timeout, [] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                box->done(QMessageBox::Ok);
        });
        t->start(1);
        bench_gui_atExit([t] { delete t; });
        return t;
    }();
    (void)timer;
}

// One run over `units` rows; the time from "Update" to the window ready.
double runMs(int units)
{
    FirmUpdateUI window(nullptr, {}, [](int32_t) { return std::make_unique<SimulatedUpdater>(); });
    FirmRunAccess::setPackage(window, MODEL_BROXL_D, false);
    for (int i = 0; i < units; ++i)
        FirmRunAccess::addRow(window, QStringLiteral("unit%1").arg(i), true, false);
    window.setUiState(FirmUpdateUI::UPDATE_UI_READY);
    QElapsedTimer clock;
    clock.start();
    window.startFirmUpdate();
    while (window.uiState() == FirmUpdateUI::UPDATE_UI_UPDATING && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

void BM_EightUnitsInOneRun(benchmark::State& state)
{
    answerMessages();
    double run = 0;
    double alone = 0;
    for (auto _ : state) {
        const double total = runMs(kUnits);
        double sum = 0;
        for (int i = 0; i < kUnits; ++i)
            sum += runMs(1);
        state.SetIterationTime(total / 1e3);
        run += total;
        alone += sum;
    }
    state.counters["run_ms"] = benchmark::Counter(run, benchmark::Counter::kAvgIterations);
    state.counters["alone_ms"] = benchmark::Counter(alone, benchmark::Counter::kAvgIterations);
    state.counters["ratio"] = run > 0 ? alone / run : 0;
}

} // namespace

BENCHMARK(BM_EightUnitsInOneRun)->Iterations(benchbudget::rounds(5))->UseManualTime()->Unit(benchmark::kMillisecond);
