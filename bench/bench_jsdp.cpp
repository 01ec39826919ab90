// Datagrams per second the discovery engine takes in (receives, parses and
// merges) and how many it drops, with a burst sender in the same network
// namespace. The program makes its own namespace (it needs the right to) so
// that the bursts never leave the machine; 64 sender sockets on 127.0.1.x
// send announcements to the engine's channel on 127.0.0.1.
//
// Arguments of BM_Burst: datagrams per burst, sending rate in datagrams per
// second (0 = as fast as the sender can). Counters: "handled" (rate over the
// time until the engine stopped taking datagrams in) and "dropped" per burst.
#include "pbd/jsdp/jsdp.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint16_t kPort = 54330;
constexpr int kSenders = 64;

struct Bed {
    std::vector<int> senders;
    std::vector<std::vector<uint8_t>> packets; // one per sender and counter value
    sockaddr_in engine{};
    bool ready = false;
};

Bed& bed()
{
    static Bed b;
    return b;
}

uint32_t received()
{
    JsdpStats s{};
    jsdp_getStats(&s);
    return s.received;
}

bool setUp()
{
    Bed& b = bed();
    if (unshare(CLONE_NEWNET) != 0) {
        perror("unshare(CLONE_NEWNET)");
        return false;
    }
    if (system("ip link set lo up") != 0)
        return false;
    if (oswrap_init() != OSWRAP_OK || vsock_init() != VSOCK_OK || jsdp_startService() != JSDP_OK)
        return false;
    for (int i = 0; i < 500 && jsdp_getState() == JSDP_STATE_NOINIT; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));

    static const char type[] = "_jpa-scp";
    static const char payload[] = "model=BroxL-D";
    JsdpChannelConfig ch;
    ch.mode = 1; // announcer: no answers are queued, only parse and merge
    vsock_textToAddress(VSOCK_FAMILY_IPV4, "127.0.0.1", &ch.ownAddress);
    vsock_textToAddress(VSOCK_FAMILY_IPV4, "255.0.0.0", &ch.netmask);
    ch.port = kPort;
    ch.serviceType = type;
    ch.serviceTypeLength = 8;
    ch.periodMs = 3000;
    ch.payload = reinterpret_cast<const uint8_t*>(payload);
    ch.payloadLength = sizeof payload - 1;
    if (jsdp_open(&ch, 1) != JSDP_OK)
        return false;

    b.engine.sin_family = AF_INET;
    b.engine.sin_port = htons(kPort);
    inet_pton(AF_INET, "127.0.0.1", &b.engine.sin_addr);
    for (int i = 0; i < kSenders; ++i) {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl((127u << 24) | (1u << 8) | static_cast<uint32_t>(i + 1));
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0)
            return false;
        b.senders.push_back(fd);
    }
    // Packets whose payload changes every time, so that every merge is a change.
    for (int i = 0; i < 1024; ++i) {
        const std::string text = "model=BroxL-D#" + std::to_string(i);
        JsdpChannelConfig unit = ch;
        unit.mode = 1;
        vsock_textToAddress(VSOCK_FAMILY_IPV4, "127.0.1.1", &unit.ownAddress);
        unit.payload = reinterpret_cast<const uint8_t*>(text.data());
        unit.payloadLength = static_cast<uint16_t>(text.size());
        std::vector<uint8_t> packet(JSDP_BUFFER_SIZE);
        size_t length = 0;
        jsdp_buildPacket(&unit, packet.data(), packet.size(), &length);
        packet.resize(length);
        b.packets.push_back(packet);
    }
    // Let the channel's socket open.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    b.ready = true;
    return true;
}

// Sends one burst to the given receiver and waits until its count has not
// moved for 50 ms; returns the datagrams taken in and the time they took.
uint32_t burst(const sockaddr_in& to, int count, int64_t rate, uint32_t (*counter)(), double* seconds)
{
    Bed& b = bed();
    const uint32_t before = counter();
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        if (rate > 0) {
            const auto due = start + std::chrono::nanoseconds(i * 1000000000LL / rate);
            while (Clock::now() < due) { }
        }
        const std::vector<uint8_t>& p = b.packets[static_cast<size_t>(i) % b.packets.size()];
        sendto(b.senders[static_cast<size_t>(i) % kSenders], p.data(), p.size(), 0,
            reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    uint32_t last = counter();
    auto lastChange = Clock::now();
    while (Clock::now() - lastChange < std::chrono::milliseconds(50)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const uint32_t now = counter();
        if (now != last) {
            last = now;
            lastChange = Clock::now();
        }
    }
    *seconds = std::chrono::duration<double>(lastChange - start).count();
    return last - before;
}

void runBursts(benchmark::State& state, const sockaddr_in& to, uint32_t (*counter)())
{
    const int count = static_cast<int>(state.range(0));
    const int64_t rate = state.range(1);
    uint64_t dropped = 0, handled = 0;
    for (auto _ : state) {
        double seconds = 0;
        const uint32_t got = burst(to, count, rate, counter, &seconds);
        handled += got;
        dropped += static_cast<uint64_t>(count) - got;
        state.SetIterationTime(seconds);
    }
    state.counters["handled"] = benchmark::Counter(static_cast<double>(handled), benchmark::Counter::kIsRate);
    state.counters["dropped"] = benchmark::Counter(static_cast<double>(dropped), benchmark::Counter::kAvgIterations);
}

void BM_Burst(benchmark::State& state)
{
    if (!bed().ready) {
        state.SkipWithError("no network namespace (needs CAP_SYS_ADMIN)");
        return;
    }
    runBursts(state, bed().engine, received);
}
BENCHMARK(BM_Burst)
    ->Args({2000, 10000})
    ->Args({2000, 25000})
    ->Args({2000, 50000})
    ->Args({2000, 100000})
    ->Args({2000, 0})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The floor: one thread in a blocking recv loop on a plain socket with the
// default receive buffer, taking the same bursts and doing nothing else.
std::atomic<uint32_t> g_plainReceived{0};

uint32_t plainReceived()
{
    return g_plainReceived.load();
}

void BM_BurstPlainSocket(benchmark::State& state)
{
    if (!bed().ready) {
        state.SkipWithError("no network namespace (needs CAP_SYS_ADMIN)");
        return;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(kPort + 1);
    inet_pton(AF_INET, "127.0.0.1", &at.sin_addr);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
        state.SkipWithError("no plain socket");
        return;
    }
    // A receive time-out bounds the loop should the stop not wake it.
    const timeval tick{0, 100000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick);
    std::atomic<bool> stop{false};
    std::thread receiver([fd, &stop] {
        uint8_t buffer[JSDP_BUFFER_SIZE];
        while (!stop.load()) {
            if (recv(fd, buffer, sizeof buffer, 0) > 0)
                g_plainReceived.fetch_add(1);
        }
    });
    runBursts(state, at, plainReceived);
    stop = true;
    shutdown(fd, SHUT_RDWR);
    receiver.join();
    close(fd);
}
BENCHMARK(BM_BurstPlainSocket)
    ->Args({2000, 10000})
    ->Args({2000, 25000})
    ->Args({2000, 50000})
    ->Args({2000, 100000})
    ->Args({2000, 0})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (!setUp())
        fprintf(stderr, "bench_jsdp: no test bed; BM_Burst is skipped\n");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    jsdp_close();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    jsdp_stopService();
    vsock_term();
    oswrap_shutdown();
    return 0;
}
