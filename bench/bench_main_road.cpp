// The whole program with a full rack: the main window as the entry builds
// it, 24 simulated unit processes on 24 addresses in a namespace bed of the
// program's own (needs CAP_SYS_ADMIN), offscreen.
//
// The units run on the CPUs the program is not pinned to (taskset), as
// units on their own hardware would.
//
//  - Idle CPU over 30 s with the BroxL-D3 panel
//    selected, no meter window, steady values: 24 connected units against
//    the same program with none (ratio: CPU with none ÷ CPU with 24); and
//    the same with the one-line meter window open.
//  - Association: a setup file naming 24 units loaded into the rack, from
//    the placement to the last "connected" slot picture, against the same
//    for one unit (ratio: time for one ÷ time for 24), and the program's
//    CPU per associated unit over the same spans (cpu_ratio: per unit with
//    one ÷ per unit with 24).
//  - NOTIFY to repaint: from the unit's NOTIFY line leaving it to the
//    paintEvent of the bound gain knob, 1000 changes spread over the 24
//    units (each unit's panel selected in turn), p50 and p99, against the
//    NOTIFY-to-paramChanged latency of the device link alone, measured by
//    bench_e2e in the same run (ratio: floor p50 ÷ ours p50).
#include "app/app_prefs.h"
#include "bench/bench_budget.h"
#include "device/link/dev_vsockobject.h"
#include "device/memory/dev_globaltimers.h"
#include "tests/support/gui/modal_driver.h"
#include "tests/support/netns.h"
#include "tests/support/test_support.h"
#include "tests/support/unit_process.h"
#include "ui/main/qlapp.h"
#include "ui/panels/brox_mainchunit.h"
#include "ui/panels/brox_uimain.h"
#include "ui/panels/devlistframe.h"
#include "ui/skins/zlook.h"
#include "ui/skins/zskins.h"
#include "ui/widgets/blinktimer.h"
#include "ui/widgets/zdial.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRack = 24;
const int kIdleSeconds = benchbudget::amount(30);
const int kChanges = benchbudget::amount(1000, kRack);
// Brox models with a gain knob on input 1, in turn along the rack; slot 1
// holds the BroxL-D3 whose panel the idle figure keeps selected.
constexpr Quil::ModelType kModels[]
    = {Quil::MODEL_BROXL_D3, Quil::MODEL_BROXM_D3, Quil::MODEL_BROXL_D2, Quil::MODEL_BROXM_D2};

int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// The process's user + system CPU time in seconds, to the nanosecond (the
// clock ticks of /proc/self/stat are 10 ms, as much as one unit's whole
// association).
double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Runs the event loop for ms, idle between events.
void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until pred holds, sleeping between events: a loop
// that polls would be counted as the program's own CPU time. The tick only
// bounds each sleep, so that the deadline is seen.
template <class Pred> bool spin(Pred pred, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    QTimer tick;
    tick.start(50);
    while (!pred()) {
        if (Clock::now() > deadline)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

// The program as the entry brings it up, on the bed's interface.
struct Program {
    Program()
    {
        Quil::QuilPrefs::instance().setValue(
            Quil::QuilPrefs::kMacAddr, QString::fromLatin1(qtest::NetnsBed::kLocalMac));
        ok = app.init() >= 0 && app.mainWindow() && app.core();
        Quil::GlobalTimer().startGlobalTimers();
        Quil::startBlinkTimer();
    }
    QLMainWindow* window() const { return app.mainWindow(); }
    Quil::QuilObject* core() const { return app.core(); }
    int found() const
    {
        QMap<QString, Quil::DeviceEntry> devices;
        core()->getFoundDevices(&devices);
        return devices.size();
    }
    Quil::VSockObject sockets;
    Quil::QLApp app;
    bool ok = false;
};

struct Road {
    std::unique_ptr<qtest::NetnsBed> bed;
    std::unique_ptr<qtest::UnitRack> units;
    std::unique_ptr<Program> program;
    qtest::TempDir dir;
    bool ready = false;

    bool startUnits()
    {
        if (units)
            return true;
        units = std::make_unique<qtest::UnitRack>(*bed);
        std::vector<qtest::UnitSpec> specs;
        for (int i = 0; i < kRack; ++i) {
            qtest::UnitSpec spec;
            spec.modelType = kModels[i % 4];
            spec.host = 11 + i;
            char id[8];
            snprintf(id, sizeof id, "J0%02X", i + 1);
            spec.unitId = id;
            specs.push_back(spec);
        }
        // The simulated units stand for units on hardware of their own:
        // they start on the CPUs the program is not pinned to, when there
        // are any, so that its figures are not its contest with 24 unit
        // processes for its own CPUs. (A child inherits the mask of the
        // thread that starts it.)
        cpu_set_t program;
        CPU_ZERO(&program);
        sched_getaffinity(0, sizeof program, &program);
        cpu_set_t others;
        CPU_ZERO(&others);
        const long online = sysconf(_SC_NPROCESSORS_ONLN);
        for (int cpu = 0; cpu < online && cpu < CPU_SETSIZE; ++cpu)
            if (!CPU_ISSET(cpu, &program))
                CPU_SET(cpu, &others);
        const bool moved = CPU_COUNT(&others) > 0 && sched_setaffinity(0, sizeof others, &others) == 0;
        const bool started = units->start(specs);
        if (moved)
            sched_setaffinity(0, sizeof program, &program);
        if (!started) {
            fprintf(stderr, "%s\n", units->error().c_str());
            return false;
        }
        return true;
    }
    // A fresh program that has heard every running unit.
    bool restart(int expected)
    {
        program.reset();
        program = std::make_unique<Program>();
        return program->ok && spin([&] { return program->found() == expected; }, 30000);
    }
};

Road& road()
{
    static Road r;
    return r;
}

// A setup file with the first n units on slots 1..n, written by the program.
QString setupFile(int n)
{
    Quil::QuilObject* core = road().program->core();
    const QString path = QString::fromStdString(road().dir.file("rack" + std::to_string(n) + ".quil"));
    for (int i = 0; i < n; ++i) {
        core->mountModel(i, kModels[i % 4]);
        core->rackDevice(i)->setDeviceId(i + 1);
    }
    QString error;
    if (core->saveProject(path, &error) < 0)
        return QString();
    for (int i = 0; i < n; ++i) {
        core->mountModel(i, Quil::MODEL_NONE);
        core->rackDevice(i)->setDeviceId(-1);
    }
    core->questions()->setDirty(false);
    return path;
}

// Answers every question with "No" while it lives.
class NoToQuestions {
public:
    NoToQuestions()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box && box->isVisible() && box->button(QMessageBox::No))
                box->button(QMessageBox::No)->click();
        });
        m_timer.start(10);
    }

private:
    QTimer m_timer;
};

bool allConnected(int n)
{
    DevListFrame* strip = road().program->window()->slotStrip();
    for (int i = 0; i < n; ++i)
        if (strip->button(i)->indicator() != SLOT_CONNECTED)
            return false;
    return true;
}

// CPU seconds per thread name, from /proc/self/task.
std::map<std::string, double> threadCpuSeconds()
{
    std::map<std::string, double> out;
    QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        std::ifstream in(("/proc/self/task/" + tid + "/stat").toStdString());
        std::string line;
        std::getline(in, line);
        const size_t open = line.find('('), close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos)
            continue;
        std::istringstream fields(line.substr(close + 2));
        std::string field;
        double ticks = 0;
        for (int i = 3; fields >> field && i <= 15; ++i)
            if (i >= 14)
                ticks += std::stod(field);
        out[line.substr(open + 1, close - open - 1)] += ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    return out;
}

// The file naming n units loaded into the rack (no file dialog, no
// question); seconds from the placement to the last connected slot, and the
// program's CPU seconds over the same span in cpu.
double openAndConnect(int n, double* cpu)
{
    if (!road().restart(kRack))
        return -1;
    const QString path = setupFile(n);
    if (path.isEmpty())
        return -1;
    // What writing the file left behind (the panels of the units mounted
    // for it, deleted later) is done before the span starts.
    runFor(200);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    NoToQuestions answers;
    QString error;
    const auto threadsBefore = threadCpuSeconds();
    const double cpu0 = cpuSeconds();
    const auto t0 = Clock::now();
    if (road().program->core()->loadProject(path, &error) < 0) {
        fprintf(stderr, "load: %s\n", qPrintable(error));
        return -1;
    }
    if (!spin([&] { return allConnected(n); }, 60000))
        return -1;
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    *cpu = cpuSeconds() - cpu0;
    // Where it went, per thread (clock ticks: 10 ms steps).
    fprintf(stderr, "  association of %d unit(s): %.0f ms, CPU %.1f ms:", n, wall * 1e3, *cpu * 1e3);
    for (const auto& [name, seconds] : threadCpuSeconds()) {
        const auto was = threadsBefore.find(name);
        const double spent = seconds - (was == threadsBefore.end() ? 0.0 : was->second);
        if (spent > 0)
            fprintf(stderr, " %s %.0f ms", name.c_str(), spent * 1e3);
    }
    fprintf(stderr, "\n");
    return wall;
}

// Percent of one core the program uses over kIdleSeconds of its event loop,
// after two seconds to settle; where it went, per thread, on standard error.
double idleCpuPercent()
{
    runFor(2000);
    const auto threadsBefore = threadCpuSeconds();
    const double before = cpuSeconds();
    runFor(kIdleSeconds * 1000);
    const double used = cpuSeconds() - before;
    for (const auto& [name, seconds] : threadCpuSeconds()) {
        const auto was = threadsBefore.find(name);
        const double spent = seconds - (was == threadsBefore.end() ? 0.0 : was->second);
        if (spent > 0)
            fprintf(stderr, "  %-16s %5.2f %% of a core\n", name.c_str(), 100.0 * spent / kIdleSeconds);
    }
    return 100.0 * used / kIdleSeconds;
}

void BM_IdleCpuNoUnits(benchmark::State& state)
{
    if (!road().ready) {
        state.SkipWithError("no namespace bed");
        return;
    }
    for (auto _ : state) {
        if (!road().restart(0)) {
            state.SkipWithError("the program did not start");
            return;
        }
        state.counters["cpu_pct"] = idleCpuPercent();
        state.SetIterationTime(kIdleSeconds);
    }
}

void BM_Association(benchmark::State& state)
{
    if (!road().ready || !road().startUnits()) {
        state.SkipWithError("no units");
        return;
    }
    // Means over the rounds.
    double one = 0, rack = 0, oneCpu = 0, rackCpu = 0;
    int rounds = 0;
    for (auto _ : state) {
        double roundOneCpu = 0, roundRackCpu = 0;
        const double roundOne = openAndConnect(1, &roundOneCpu);
        const double roundRack = openAndConnect(kRack, &roundRackCpu);
        if (roundOne < 0 || roundRack < 0) {
            state.SkipWithError("the rack did not connect");
            return;
        }
        state.SetIterationTime(roundRack);
        one += roundOne;
        rack += roundRack;
        oneCpu += roundOneCpu;
        rackCpu += roundRackCpu;
        ++rounds;
    }
    one /= rounds;
    rack /= rounds;
    oneCpu /= rounds;
    rackCpu /= rounds;
    state.counters["one_ms"] = one * 1e3;
    state.counters["rack24_ms"] = rack * 1e3;
    state.counters["ratio"] = one / rack;
    // Program CPU per associated unit: the goal is the rack's within 1.1
    // times one unit's.
    state.counters["cpu_per_unit1_ms"] = oneCpu * 1e3;
    state.counters["cpu_per_unit24_ms"] = rackCpu / kRack * 1e3;
    state.counters["cpu_ratio"] = oneCpu / (rackCpu / kRack);
}

// Leaves the program from the last association with 24 connected units.
void BM_IdleCpuFullRack(benchmark::State& state)
{
    Program* program = road().program.get();
    if (!program || !allConnected(kRack)) {
        state.SkipWithError("no connected rack");
        return;
    }
    for (auto _ : state) {
        program->window()->setSelectId(0);
        state.counters["cpu_pct"] = idleCpuPercent();
        state.SetIterationTime(kIdleSeconds);
    }
}

// The same idle rack with the one-line meter window open: every unit's
// meters drawn.
void BM_IdleCpuMeterWindow(benchmark::State& state)
{
    Program* program = road().program.get();
    if (!program || !allConnected(kRack)) {
        state.SkipWithError("no connected rack");
        return;
    }
    for (auto _ : state) {
        program->window()->setSelectId(0);
        if (program->window()->showMeterWindow(1) < 0) {
            state.SkipWithError("the meter window did not open");
            return;
        }
        state.counters["cpu_pct"] = idleCpuPercent();
        state.SetIterationTime(kIdleSeconds);
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->inherits("MeterAll"))
                top->close();
        }
        runFor(100);
    }
}

// Notes when a widget last painted.
class PaintClock : public QObject {
public:
    int64_t lastNs = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            lastNs = nowNs();
        return false;
    }
};

// The floor of the same run: the device link alone (bench_e2e), in a child.
bool linkNotifyFloor(double* p50, double* p99)
{
    QProcess child;
    child.start(QStringLiteral(BENCH_E2E_PROGRAM),
        {QStringLiteral("--benchmark_filter=BM_NotifyToParamChanged"), QStringLiteral("--benchmark_format=json")});
    if (!child.waitForFinished(120000))
        return false;
    const QJsonArray runs = QJsonDocument::fromJson(child.readAllStandardOutput()).object()["benchmarks"].toArray();
    if (runs.isEmpty())
        return false;
    *p50 = runs[0].toObject()["notify_p50_us"].toDouble();
    *p99 = runs[0].toObject()["notify_p99_us"].toDouble();
    return *p50 > 0;
}

void BM_NotifyToRepaint(benchmark::State& state)
{
    Program* program = road().program.get();
    if (!program || !allConnected(kRack)) {
        state.SkipWithError("no connected rack");
        return;
    }
    std::vector<double> latencies;
    for (auto _ : state) {
        const int perUnit = kChanges / kRack + 1;
        for (int unit = 0; unit < kRack && static_cast<int>(latencies.size()) < kChanges; ++unit) {
            // Guarded: the old panel is deleted at once, and the new one may
            // take its address.
            const QPointer<QWidget> previous = program->window()->mainPanel();
            const bool shownAlready = program->window()->selectedSlot() == static_cast<uint32_t>(unit);
            program->window()->setSelectId(static_cast<uint>(unit));
            Brox::UIMain* panel = nullptr;
            // The panel is replaced through the event loop.
            if (!spin(
                    [&] {
                        QWidget* shown = program->window()->mainPanel();
                        panel
                            = (shown != previous.data() || shownAlready) ? qobject_cast<Brox::UIMain*>(shown) : nullptr;
                        return panel && panel->isVisible();
                    },
                    5000)) {
                state.SkipWithError("no panel");
                return;
            }
            ZDial* knob = panel->inputColumns()[0]->gainKnob();
            PaintClock clock;
            knob->installEventFilter(&clock);
            runFor(100);
            qtest::UnitProcess& process = (*road().units)[static_cast<size_t>(unit)];
            for (int k = 0; k < perUnit && static_cast<int>(latencies.size()) < kChanges; ++k) {
                const int value = (k % 2) ? 10 : 20;
                clock.lastNs = 0;
                if (!process.set("Current/InCh/HAGain", 0, 0, std::to_string(value))
                    || !spin([&] { return knob->value() == value && clock.lastNs != 0; }, 5000)) {
                    state.SkipWithError("the change did not arrive");
                    return;
                }
                const int64_t sent = static_cast<int64_t>(process.stats()["last_notify_ns"]);
                latencies.push_back(static_cast<double>(clock.lastNs - sent) / 1000.0);
            }
            knob->removeEventFilter(&clock);
        }
        state.SetIterationTime(percentile(latencies, 0.5) / 1e6);
    }
    double floor50 = 0, floor99 = 0;
    if (!linkNotifyFloor(&floor50, &floor99)) {
        state.SkipWithError("bench_e2e did not run");
        return;
    }
    const double ours50 = percentile(latencies, 0.5);
    state.counters["repaint_p50_us"] = ours50;
    state.counters["repaint_p99_us"] = percentile(latencies, 0.99);
    state.counters["link_p50_us"] = floor50;
    state.counters["link_p99_us"] = floor99;
    state.counters["ratio"] = floor50 / ours50;
}

BENCHMARK(BM_IdleCpuNoUnits)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_Association)->UseManualTime()->Iterations(benchbudget::rounds(3))->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdleCpuFullRack)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_IdleCpuMeterWindow)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_NotifyToRepaint)->UseManualTime()->Iterations(1)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    // Settings land in a folder of our own, never the user's.
    const qtest::TempDir home;
    setenv("HOME", home.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home.path() + "/config").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    benchmark::Initialize(&argc, argv);
    QApplication app(argc, argv);
    ZLook::applyPinnedLook();
    ZSkins::init();
    if (unshare(CLONE_NEWNET) == 0) {
        setenv("QUILLON_IN_TEST_NETNS", "1", 1);
        road().bed = std::make_unique<qtest::NetnsBed>();
        road().ready = road().bed->ready();
        if (!road().ready)
            fprintf(stderr, "%s\n", road().bed->error().c_str());
    } else {
        perror("bench_main_road: unshare(CLONE_NEWNET)");
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    road().program.reset();
    road().units.reset();
    return 0;
}
