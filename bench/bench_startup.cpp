// Start-up of the program: from process start to the first expose of the
// main window (empty rack, empty configuration), against a bare Qt program
// that shows an empty QMainWindow of the same size (startup_bare_peer).
// Each iteration starts a fresh process and waits for it to end at its
// first expose. Needs an X display: without one the program runs itself
// again under xvfb-run.
#include "app/app_instance.h"
#include "device/link/dev_vsockobject.h"
#include "device/memory/dev_globaltimers.h"
#include "ui/main/qlapp.h"
#include "ui/skins/zlook.h"
#include "ui/skins/zskins.h"
#include "ui/widgets/blinktimer.h"

#include <QApplication>
#include <QWindow>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

std::string g_self;

class ExitOnExpose : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Expose && static_cast<QWindow*>(watched)->isExposed())
            _exit(0);
        return false;
    }
};

// What the program's entry does up to the event loop; ends at the window's
// first expose.
int runProgram(int argc, char** argv)
{
    QApplication app(argc, argv);
    ZLook::applyPinnedLook();
    ZSkins::init();
    InstanceChecker checker;
    if (checker.check(argc, argv))
        return 3;
    const Quil::VSockObject socketLayer;
    Quil::QLApp quil;
    ExitOnExpose filter;
    // The window is made inside init and shown there: watch every window
    // that appears from now on.
    app.installEventFilter(&filter);
    if (quil.init() < 0)
        return 4;
    Quil::GlobalTimer timers;
    timers.startGlobalTimers();
    Quil::startBlinkTimer();
    return app.exec();
}

// Starts a process and waits for its end; false when it failed.
bool runChild(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void runStarts(benchmark::State& state, const std::vector<std::string>& argv)
{
    for (auto _ : state) {
        if (!runChild(argv)) {
            state.SkipWithError("the program did not reach its first expose");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_StartupQuillon(benchmark::State& state)
{
    runStarts(state, {g_self, "--child-program"});
}
BENCHMARK(BM_StartupQuillon)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_StartupBareQtPeer(benchmark::State& state)
{
    // The main window's size at 100 % with the pinned look.
    runStarts(state, {STARTUP_BARE_PEER, "884", "616"});
}
BENCHMARK(BM_StartupBareQtPeer)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--child-program") == 0)
        return runProgram(argc, argv);
    g_self = argv[0];
    if (!getenv("DISPLAY") && !getenv("QUILLON_BENCH_UNDER_XVFB")) {
        std::vector<char*> args = {const_cast<char*>("xvfb-run"), const_cast<char*>("-a"), const_cast<char*>("-s"),
            const_cast<char*>("-screen 0 1920x1200x24")};
        for (int i = 0; i < argc; ++i)
            args.push_back(argv[i]);
        args.push_back(nullptr);
        setenv("QUILLON_BENCH_UNDER_XVFB", "1", 1);
        execvp("xvfb-run", args.data());
        std::fprintf(stderr, "bench_startup: no display and no xvfb-run\n");
        return 1;
    }
    // A configuration and runtime folder of the run's own: no stored
    // interface, no other instance.
    char config[] = "/tmp/bench_startup.XXXXXX";
    if (!mkdtemp(config))
        return 1;
    setenv("XDG_CONFIG_HOME", config, 1);
    setenv("XDG_RUNTIME_DIR", config, 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(config, ignored);
    return 0;
}
