// One summary line through the dialogs' memory handshake, per item of a
// 1000-line summary: the summary dialog's request write, the memory thread,
// the unit's connection thread, SCP to the simulated unit on loopback, the
// reply stored by the reporter and the queued notification back to the
// dialog. Its peer: the bare LISTITEM round trip to the same unit from a
// plain blocking socket client, in the same run. Ratio = ours ÷ peer in
// items per second (higher is better).
#include "bench/bench_budget.h"
#include "tests/sim/sim_client.h"
#include "tests/sim/sim_unit.h"
#include "tests/support/rack_fixture.h"

#include "ui/dialogs/summarydlg.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kItems = 1000;
constexpr int kSlot = 0;

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// Made on first use and gone at the end of main, never in static
// destruction where Qt's own statics may already be gone.
std::unique_ptr<QApplication> gApp;

QApplication& app()
{
    if (!gApp) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "bench_handshake";
        static char* argv[] = {name, nullptr};
        gApp = std::make_unique<QApplication>(argc, argv);
    }
    return *gApp;
}

// A rack with one BroxL-D2 connected to a simulated unit on a loopback
// address of its own.
struct Bed {
    Bed()
    {
        app();
        simtest::simStartPlatform(false);
        fixture = std::make_unique<racktest::RackFixture>(20);
        for (int n = static_cast<int>(::getpid() % 200); n < 250 && !ready; ++n) {
            const racktest::UnitAnnouncement unit = racktest::loopbackUnit(kSlot + 1, n, "BroxL-D2");
            simtest::SimUnitConfig config;
            config.layoutPath = QUILLON_BROX_LAYOUT;
            config.model = "BroxL-D2";
            config.meters = {};
            config.devStatus = {{"runmode", "normal"}, {"error", "nothing"}};
            config.lists = {{"IO:_CurSummary", {kItems, 0, kItems - 1}}};
            config.address = unit.address;
            config.port = 49280;
            config.unitId = unit.unitId;
            config.mac = unit.mac;
            std::string why;
            if (sim.start(config, &why) < 0)
                continue;
            address = unit.address;
            fixture->announce(unit);
            ready = racktest::RackFixture::spinUntil([&] { return fixture->rack().isConnected(kSlot); }, 15000);
        }
    }
    ~Bed() { sim.stop(); }

    simtest::SimUnit sim;
    std::unique_ptr<racktest::RackFixture> fixture;
    std::string address;
    bool ready = false;
};

std::unique_ptr<Bed>& bedHolder()
{
    static std::unique_ptr<Bed> made;
    return made;
}

Bed& bed()
{
    if (!bedHolder())
        bedHolder() = std::make_unique<Bed>();
    return *bedHolder();
}

void BM_SummaryHandshakePerItem(benchmark::State& state)
{
    Bed& b = bed();
    if (!b.ready) {
        state.SkipWithError("the unit did not connect");
        return;
    }
    double total = 0;
    for (auto _ : state) {
        Quil::SummaryDlg dlg;
        const auto t0 = Clock::now();
        if (dlg.setup(&b.fixture->rack(), kSlot) < 0) {
            state.SkipWithError("set-up failed");
            return;
        }
        QElapsedTimer clock;
        clock.start();
        while (!dlg.buttonBox()->isVisibleTo(&dlg) && !dlg.handshake().failed() && clock.elapsed() < 60000)
            QApplication::processEvents(QEventLoop::AllEvents);
        if (dlg.lines().size() != kItems) {
            state.SkipWithError("the summary did not arrive");
            return;
        }
        const double t = seconds(Clock::now() - t0) / kItems;
        state.SetIterationTime(t);
        total += t;
    }
    state.counters["us_per_item"] = total / static_cast<double>(state.iterations()) * 1e6;
    state.counters["items_per_s"] = static_cast<double>(state.iterations()) / total;
}
BENCHMARK(BM_SummaryHandshakePerItem)
    ->UseManualTime()
    ->Iterations(benchbudget::rounds(5))
    ->Unit(benchmark::kMicrosecond);

// The peer: LISTITEM lines one at a time over a plain socket.
void BM_BareListItemRoundTrip(benchmark::State& state)
{
    Bed& b = bed();
    if (!b.ready) {
        state.SkipWithError("the unit did not connect");
        return;
    }
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(49280);
    ::inet_pton(AF_INET, b.address.c_str(), &to.sin_addr);
    if (::connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0) {
        ::close(s);
        state.SkipWithError("connect failed");
        return;
    }
    double total = 0;
    char reply[512];
    for (auto _ : state) {
        const auto t0 = Clock::now();
        for (int i = 0; i < kItems; ++i) {
            const std::string line = "LISTITEM IO:_CurSummary " + std::to_string(i) + "\n";
            if (::send(s, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
                state.SkipWithError("send failed");
                break;
            }
            // One reply line per request.
            for (bool end = false; !end;) {
                const ssize_t got = ::recv(s, reply, sizeof reply, 0);
                if (got <= 0) {
                    state.SkipWithError("the unit closed");
                    ::close(s);
                    return;
                }
                end = reply[got - 1] == '\n';
            }
        }
        const double t = seconds(Clock::now() - t0) / kItems;
        state.SetIterationTime(t);
        total += t;
    }
    ::close(s);
    state.counters["us_per_item"] = total / static_cast<double>(state.iterations()) * 1e6;
    state.counters["items_per_s"] = static_cast<double>(state.iterations()) / total;
}
BENCHMARK(BM_BareListItemRoundTrip)->UseManualTime()->Iterations(benchbudget::rounds(5))->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    // The rack and its unit go while the application still runs.
    bedHolder().reset();
    benchmark::Shutdown();
    gApp.reset();
    return 0;
}
