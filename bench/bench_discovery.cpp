// The discovery front's share of discovery work.
//
// BM_RecorderRefresh / BM_RecorderFound: the recorder's cost per
// announcement of 128 units (the engine's record limit), through the
// engine's callback: a unit heard again unchanged, and a unit found (the
// table emptied every 128 calls). Peer in the same run, BM_EngineParseMerge:
// the engine's own work per datagram of the same 128 units, parse and merge
// into its 128-record table. Ratio: our rate ÷ the engine's rate.
//
// BM_FirstAnnouncementToFound: from a unit's first announcement sent to the
// engine's channel to foundServSignal on the Qt event loop, one new unit per
// iteration, with the default settings (1 s tick, own announcement every
// 3 s); set against the units' announcement period of 3 s. The program makes
// its own network namespace (needs CAP_SYS_ADMIN) and sends on loopback
// only; without it the row is skipped.
#include "bench/bench_budget.h"
#include "device/discovery/dev_discovery.h"
#include "pbd/jsdp/jsdp_table.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kUnits = JSDP_MAX_SERVICES;
const char* const kModels[] = {"BroxL-D", "BroxM-D", "PellM-D2", "BroxL-D3"};

std::string textBlock(int unit)
{
    const std::string id = "J" + std::to_string(100 + unit);
    std::string b;
    for (const std::string& s : {std::string("Valdor"), std::string(kModels[unit % 4]), id}) {
        b.push_back(static_cast<char>(s.size()));
        b += s;
    }
    return b;
}

// The datagram unit i sends: its own MAC and address on 10.1.0.0/16.
std::vector<uint8_t> datagram(int unit, uint32_t address)
{
    const std::string block = textBlock(unit);
    JsdpChannelConfig c;
    c.mode = 1;
    const uint8_t mac[6] = {0x02, 0x53, 0, 0, static_cast<uint8_t>(unit >> 8), static_cast<uint8_t>(unit)};
    memcpy(c.ownMac, mac, 6);
    c.ownAddress.family = VSOCK_FAMILY_IPV4;
    const uint32_t be = htonl(address);
    memcpy(c.ownAddress.addr, &be, 4);
    c.port = JSDP_DEFAULT_PORT;
    c.serviceType = JSDP_SERVICE_TYPE_SCP;
    c.serviceTypeLength = 8;
    c.periodMs = 3000;
    c.payload = reinterpret_cast<const uint8_t*>(block.data());
    c.payloadLength = static_cast<uint16_t>(block.size());
    std::vector<uint8_t> p(JSDP_BUFFER_SIZE);
    size_t length = 0;
    jsdp_buildPacket(&c, p.data(), p.size(), &length);
    p.resize(length);
    return p;
}

uint32_t unitAddress(int unit)
{
    return (10u << 24) | (1u << 16) | static_cast<uint32_t>(unit + 1);
}

// The 128 services as the engine hands them to subscribers.
const std::vector<JsdpService>& services()
{
    static const std::vector<JsdpService> all = [] {
        std::vector<JsdpService> v(kUnits);
        for (int i = 0; i < kUnits; ++i) {
            const std::vector<uint8_t> p = datagram(i, unitAddress(i));
            jsdp_parsePacket(p.data(), p.size(), &v[static_cast<size_t>(i)]);
        }
        return v;
    }();
    return all;
}

void BM_RecorderRefresh(benchmark::State& state)
{
    Quil::ScpRecorder recorder;
    const std::vector<JsdpService>& all = services();
    for (const JsdpService& s : all)
        Quil::ScpRecorder::onService(&s, 1, &recorder);
    size_t i = 0;
    for (auto _ : state) {
        Quil::ScpRecorder::onService(&all[i], 1, &recorder);
        i = (i + 1) % all.size();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RecorderRefresh);

void BM_RecorderFound(benchmark::State& state)
{
    Quil::ScpRecorder recorder;
    int found = 0;
    QObject::connect(&recorder, &Quil::ScpRecorder::foundDev, [&found](const QString&) { ++found; });
    const std::vector<JsdpService>& all = services();
    size_t i = 0;
    for (auto _ : state) {
        Quil::ScpRecorder::onService(&all[i], 1, &recorder);
        if (++i == all.size()) {
            i = 0;
            recorder.clear();
        }
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["found"] = benchmark::Counter(found, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_RecorderFound);

void BM_EngineParseMerge(benchmark::State& state)
{
    std::vector<std::vector<uint8_t>> packets;
    for (int i = 0; i < kUnits; ++i)
        packets.push_back(datagram(i, unitAddress(i)));
    std::vector<JsdpService> table(kUnits);
    jsdp_tableClear(table.data(), kUnits);
    JsdpService heard{};
    heard.localAddress.family = VSOCK_FAMILY_IPV4;
    heard.senderAddress.family = VSOCK_FAMILY_IPV4;
    size_t i = 0;
    for (auto _ : state) {
        const std::vector<uint8_t>& p = packets[i];
        jsdp_parsePacket(p.data(), p.size(), &heard);
        heard.senderAddress.addr[3] = static_cast<uint8_t>(i); // a service is known by its sender
        benchmark::DoNotOptimize(jsdp_tableMerge(table.data(), kUnits, heard, JSDP_AGEING_MS));
        i = (i + 1) % packets.size();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EngineParseMerge);

// --- From the first announcement to foundServSignal, in a namespace.

struct Net {
    std::unique_ptr<QCoreApplication> app;
    std::unique_ptr<Quil::JsdpZDiscovery> discovery;
    int sender = -1;
    sockaddr_in engine{};
    bool ready = false;
};

Net& net()
{
    static Net n;
    return n;
}

bool setUpNet(int argc, char** argv)
{
    Net& n = net();
    static int appArgc = 1;
    n.app = std::make_unique<QCoreApplication>(appArgc, argv);
    (void)argc;
    if (unshare(CLONE_NEWNET) != 0) {
        perror("unshare(CLONE_NEWNET)");
        return false;
    }
    if (system("ip link set lo up && ip link set lo multicast on") != 0)
        return false;
    if (oswrap_init() != OSWRAP_OK || vsock_init() != VSOCK_OK)
        return false;
    n.discovery = std::make_unique<Quil::JsdpZDiscovery>();
    if (n.discovery->start("02:51:00:00:00:01", "127.0.0.1", "255.0.0.0") != JSDP_OK)
        return false;
    // From an address of its own, so the engine never takes it for its own packet.
    n.sender = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.1.1", &from.sin_addr);
    if (n.sender < 0 || bind(n.sender, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0)
        return false;
    n.engine.sin_family = AF_INET;
    n.engine.sin_port = htons(JSDP_DEFAULT_PORT);
    inet_pton(AF_INET, "127.0.0.1", &n.engine.sin_addr);
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the channel's socket opens
    n.ready = n.sender >= 0;
    return n.ready;
}

void BM_FirstAnnouncementToFound(benchmark::State& state)
{
    Net& n = net();
    if (!n.ready) {
        state.SkipWithError("no network namespace (needs CAP_SYS_ADMIN)");
        return;
    }
    bool found = false;
    const QMetaObject::Connection c = QObject::connect(
        n.discovery.get(), &Quil::JsdpZDiscovery::foundServSignal, [&found](const QString&) { found = true; });
    // Every repetition starts with empty tables, so each unit is new to both.
    n.discovery->stop();
    n.discovery->start("02:51:00:00:00:01", "127.0.0.1", "255.0.0.0");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int unit = 0;
    for (auto _ : state) {
        if (unit == kUnits - 8) {
            // The engine's table is nearly full of units heard once: start afresh.
            state.PauseTiming();
            n.discovery->stop();
            n.discovery->start("02:51:00:00:00:01", "127.0.0.1", "255.0.0.0");
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            unit = 0;
            state.ResumeTiming();
        }
        const std::vector<uint8_t> p = datagram(unit, (127u << 24) | (1u << 16) | static_cast<uint32_t>(unit + 1));
        found = false;
        const auto start = Clock::now();
        sendto(n.sender, p.data(), p.size(), 0, reinterpret_cast<const sockaddr*>(&n.engine), sizeof n.engine);
        while (!found && Clock::now() - start < std::chrono::seconds(2))
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        if (!found) {
            state.SkipWithError("a unit was not found within 2 s");
            break;
        }
        ++unit;
    }
    QObject::disconnect(c);
}
BENCHMARK(BM_FirstAnnouncementToFound)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(benchbudget::rounds(100));

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    setUpNet(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    Net& n = net();
    n.discovery.reset();
    if (n.sender >= 0)
        close(n.sender);
    vsock_term();
    n.app.reset();
    benchmark::Shutdown();
    return 0;
}
