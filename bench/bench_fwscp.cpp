// One firmware-update connection from connectNetwork to associated, against
// the scripted unit of tests/peers/scpclient_peer.py on loopback, set
// against the same 13-step negotiation run by a bare SCP client on the
// calling thread with the same unit. The ratio is what the connection thread,
// its wake-ups and the queued signals cost on top of the protocol itself.
#include "bench/bench_budget.h"
#include "pbd/OSWRAP/oswrap.h"
#include "pbd/vsock/vsock.h"
#include "tests/support/test_support.h"
#include "ui/fwupdate_ui/fw_scpthread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace Quil;

constexpr int kRounds = 200;

// A unit that negotiates once per connection, kRounds connections.
std::vector<std::string> unitScript()
{
    std::vector<std::string> s
        = {"answer runmode normal", "answer error nothing", "answer protocolver 1.0", "answer paramsetver 1.0",
            "answer version 2.1.0", "answer productname BroxL-D", "answer manufacturer Valdor", "answer category IO",
            "answer deviceid J012", "answer devicename Stage", "answer inputport 16", "answer outputport 8"};
    for (int i = 0; i < kRounds + 5; ++i) {
        if (i)
            s.push_back("accept");
        s.push_back("serve 60000");
    }
    return s;
}

// The unit and a reader that keeps its output pipe from filling.
struct Peer {
    Peer()
        : process(qtest::pythonPeer("scpclient_peer.py", unitScript()))
        , port(qtest::peerPort(process))
        , drain([this] {
            std::string line;
            while (!stop) {
                if (process.readLine(&line, 50))
                    gone += line == "GONE";
            }
        })
    {
    }
    ~Peer()
    {
        stop = true;
        drain.join();
    }
    bool waitGone(int count)
    {
        return qtest::waitFor([&] { return gone >= count; }, 5000);
    }
    qtest::ChildProcess process;
    uint16_t port;
    std::atomic<bool> stop{false};
    std::atomic<int> gone{0};
    std::thread drain;
};

// Sleeps in the event loop until pred holds (the queued signals wake it).
bool spinUntil(const std::function<bool()>& pred)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    QEventLoop loop;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void Thread(benchmark::State& state)
{
    Peer peer;
    ScpClientThread_fwUpdate link(1, "127.0.0.1", peer.port, "127.0.0.1", 1);
    int associated = 0;
    int disconnected = 0;
    QObject::connect(&link, &ScpClientThread_fwUpdate::associated, [&](uint) { ++associated; });
    QObject::connect(&link, &ScpClientThread_fwUpdate::disconnected, [&](uint) { ++disconnected; });
    // Wakes the waiting event loop now and then, so a lost signal ends in
    // the deadline rather than a hang.
    QTimer tick;
    tick.start(100);
    int round = 0;
    for (auto _ : state) {
        if (link.connectNetwork() != 0 || !spinUntil([&] { return associated > round; })) {
            state.SkipWithError("no association");
            break;
        }
        state.PauseTiming();
        ++round;
        link.disconnectNetwork();
        if (!spinUntil([&] { return disconnected >= round; }) || !peer.waitGone(round)) {
            state.SkipWithError("no disconnect");
            break;
        }
        state.ResumeTiming();
    }
}

// The bare client's side: woken by the socket, negotiating on this thread.
class Bare : public VCOM::IVComWakeupFunction, public SCP::IScpSynchronizeObserver, public IScpDeviceInfo {
public:
    int32_t wakeup(uint16_t, VCOM::IVCom*) override
    {
        {
            std::lock_guard<std::mutex> guard(lock);
            woken = true;
        }
        cond.notify_all();
        return 0;
    }
    JResult negotiated(SCP::ScpClient*) override
    {
        done = true;
        return 0;
    }
    JResult associated(SCP::ScpClient*) override { return 0; }
    JResult set(const QString& tag, const QString& value) override
    {
        info[tag] += value;
        return 0;
    }
    JResult get(const QString& tag, QString& value) override
    {
        value = info.value(tag, value);
        return 0;
    }
    bool pump(VCOM::VComTcpClientSocket& socket, SCP::ScpClient& client, const std::function<bool()>& pred)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!pred()) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            std::unique_lock<std::mutex> guard(lock);
            cond.wait_for(guard, std::chrono::milliseconds(50), [this] { return woken; });
            woken = false;
            guard.unlock();
            socket.processEvents(&client);
        }
        return true;
    }
    std::mutex lock;
    std::condition_variable cond;
    bool woken = false;
    bool done = false;
    QMap<QString, QString> info;
};

void BareClient(benchmark::State& state)
{
    Peer peer;
    Bare bare;
    VCOM::VComSocketAddress address;
    address.setAddressText(VSOCK_FAMILY_IPV4, "127.0.0.1");
    ScpDeviceReporter_fwUpdate reporter(&bare);
    ScpParameter_fwUpdate parameter;
    SCP::ScpMeterReporter meter;
    ScpNegoSeq_fwUpdate nego;
    int round = 0;
    for (auto _ : state) {
        VCOM::VComTcpClientSocket socket;
        SCP::ScpClient* client = SCP::ScpClient::create();
        client->attach(nullptr, &socket, &bare, &reporter, &parameter, &meter);
        socket.attach(1, &bare);
        bare.done = false;
        bare.info.clear();
        const bool ok = socket.connect(address, address, peer.port) >= 0 && client->start(&nego) >= 0
            && bare.pump(socket, *client, [&] { return bare.done; });
        state.PauseTiming();
        ++round;
        client->stop();
        socket.disconnect();
        socket.processEvents(client);
        socket.detach();
        SCP::ScpClient::release(client);
        if (!ok || !peer.waitGone(round)) {
            state.SkipWithError("no negotiation");
            break;
        }
        state.ResumeTiming();
    }
}

BENCHMARK(Thread)->Iterations(benchbudget::rounds(kRounds))->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BareClient)->Iterations(benchbudget::rounds(kRounds))->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    oswrap_init();
    if (vsock_init() != VSOCK_OK)
        return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    vsock_term();
    return 0;
}
