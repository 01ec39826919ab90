// Workgroup receive paths.
// - Framed 3/1 status messages sent by a thread over [::1] and delivered by
//   the transport's receive thread to an owner, against the floor of a plain
//   blocking recv loop reading the same bytes.
// - The same messages through a whole management session: each 3/1 becomes
//   a status event posted to a receiver on the main thread (against the
//   transport-only figure above).
// - A 184-byte heartbeat parsed and handed to a sink, against a memcpy of it.
// - In a network namespace with the test bed: heartbeats to ff02::1 from the
//   peer, handled per second at 20 a second (against the one-per-100-ms
//   ceiling of a receiver that reads one datagram per wake), and how many
//   units announcing once a second one receiver keeps hearing.
#include "fwupdate/workgroup/wg_adapters.h"
#include "fwupdate/workgroup/wg_handoff.h"
#include "fwupdate/workgroup/wg_heartbeat.h"
#include "fwupdate/workgroup/wg_message.h"
#include "fwupdate/workgroup/wg_session.h"
#include "fwupdate/workgroup/wg_tables.h"
#include "fwupdate/workgroup/wg_transport.h"

#include "bench/bench_netns.h"
#include "tests/support/test_support.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kBatch = 20000;

// One 3/1 message with a 64-byte status text.
QByteArray statusMessage()
{
    QByteArray m("VWMP", 4);
    const uint32_t total = 28 + 64;
    for (uint32_t v : {total, 0u, total - 12})
        for (int shift = 24; shift >= 0; shift -= 8)
            m.append(static_cast<char>(v >> shift));
    m.append("\x03\x01\x00\x00", 4);
    m.append(8, '\x01');
    m.append(64, 'w');
    return m;
}

QByteArray batchBytes()
{
    const QByteArray one = statusMessage();
    QByteArray all;
    all.reserve(one.size() * kBatch);
    for (int i = 0; i < kBatch; ++i)
        all.append(one);
    return all;
}

struct Listener {
    Listener()
    {
        fd = ::socket(AF_INET6, SOCK_STREAM, 0);
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_addr = in6addr_loopback;
        socklen_t len = sizeof a;
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd, 4);
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin6_port);
    }
    ~Listener() { ::close(fd); }
    int fd = -1;
    uint16_t port = 0;
};

void sendAll(int fd, const QByteArray& bytes)
{
    size_t sent = 0;
    while (sent < static_cast<size_t>(bytes.size())) {
        const ssize_t n = ::send(fd, bytes.constData() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<size_t>(n);
    }
}

class CountingOwner : public QObject, public WG::TcpOwnerIF {
public:
    bool receive(const uint8_t* buffer, uint32_t length) override
    {
        WG::WgMessage m;
        const bool ok = WG::decodeMessage(buffer, length, WG::SessionMode::Management, &m) == WG::Decode::Message;
        count.fetch_add(1, std::memory_order_release);
        return ok;
    }
    QObject* connectEventTarget() override { return this; }
    std::atomic<int> count{0};
    bool connected = false;

protected:
    void customEvent(QEvent* e) override
    {
        if (e->type() == WG::SessionConnectEvent::kType)
            connected = static_cast<WG::SessionConnectEvent*>(e)->success();
    }
};

void BM_TransportReceive(benchmark::State& state)
{
    const QByteArray bytes = batchBytes();
    Listener listener;
    CountingOwner owner;
    WG::TCPCommunication transport(&owner, 0);
    transport.connectTo("::1", listener.port);
    const int peer = ::accept(listener.fd, nullptr, nullptr);
    for (int i = 0; i < 5000 && !owner.connected; ++i) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!owner.connected) {
        state.SkipWithError("no connection");
        ::close(peer);
        return;
    }
    for (auto _ : state) {
        const int target = owner.count.load() + kBatch;
        std::thread sender([&] { sendAll(peer, bytes); });
        while (owner.count.load(std::memory_order_acquire) < target)
            std::this_thread::yield();
        sender.join();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    state.SetBytesProcessed(state.iterations() * bytes.size());
    ::close(peer);
}

void BM_PlainRecvFloor(benchmark::State& state)
{
    const QByteArray bytes = batchBytes();
    Listener listener;
    const int client = ::socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    a.sin6_port = htons(listener.port);
    ::connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a);
    const int peer = ::accept(listener.fd, nullptr, nullptr);
    std::vector<char> buffer(65536);
    for (auto _ : state) {
        std::thread sender([&] { sendAll(peer, bytes); });
        size_t got = 0;
        while (got < static_cast<size_t>(bytes.size())) {
            const ssize_t n = ::recv(client, buffer.data(), buffer.size(), 0);
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        sender.join();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    state.SetBytesProcessed(state.iterations() * bytes.size());
    ::close(peer);
    ::close(client);
}

BENCHMARK(BM_TransportReceive)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainRecvFloor)->UseRealTime()->Unit(benchmark::kMillisecond);

// A document that holds nothing: the session only needs somewhere to report.
class StubDocument : public WG::SessionDocumentIF {
public:
    void detachSession(uint64_t) override { }
    void dropSession(uint64_t) override { }
    void closeSession(uint64_t, bool) override { }
    void openManagementSession(uint64_t) override { }
    void startInterruptTask(uint64_t, int) override { }
    void assignWorkgroupId(uint64_t, uint64_t) override { }
    void recordError(uint64_t, uint32_t) override { }
    void expireErrors() override { }
    void setPendingLink(uint64_t, bool) override { }
    void remoteCloseDone() override { }
    void markConnected(uint64_t) override { }
    WG::DocumentMutex& documentMutex() override { return mutex; }
    WG::WorkgroupData* workgroupTable() override { return &workgroup; }
    WG::EnumData* enumerationTable() override { return &enumeration; }
    uint64_t ownWorkgroupId() const override { return 0x0251000000010000ull; }
    bool enabled() const override { return true; }
    WG::Ipv6AdapterList* adapterList() override { return nullptr; }
    QObject* eventTarget() override { return nullptr; }
    WG::DocumentMutex mutex;
    WG::WorkgroupData workgroup{nullptr, nullptr};
    WG::EnumData enumeration{nullptr, nullptr};
};

class StatusReceiver : public QObject {
public:
    int count = 0;

protected:
    void customEvent(QEvent* e) override
    {
        WG::acceptHandoff();
        if (e->type() == WG::FirmUpdateStatusEvent::kType)
            ++count;
    }
};

void BM_SessionStatus(benchmark::State& state)
{
    const QByteArray bytes = batchBytes();
    Listener listener;
    StubDocument doc;
    StatusReceiver receiver;
    auto* session = new WG::WMSession(&doc, 0x1234560000ull, 83, 256, WG::SessionMode::Management);
    session->connectTo("::1", listener.port, WG::ConnectManagement, 0);
    const int peer = ::accept(listener.fd, nullptr, nullptr);
    const uint8_t pc[16] = {0xfe, 0x80};
    bool started = false;
    for (int i = 0; i < 5000 && !started; ++i) {
        started = session->startFirmwareUpdate("f.xml", 69, &receiver, pc);
        if (!started)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!started) {
        state.SkipWithError("no connection");
        delete session;
        ::close(peer);
        return;
    }
    for (auto _ : state) {
        const int target = receiver.count + kBatch;
        std::thread sender([&] { sendAll(peer, bytes); });
        while (receiver.count < target)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        sender.join();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    delete session;
    QCoreApplication::processEvents();
    ::close(peer);
}

BENCHMARK(BM_SessionStatus)->UseRealTime()->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------

qtest::NetnsBed* g_bed = nullptr;

class CountingSink : public WG::HeartbeatSinkIF {
public:
    void onHeartbeat(const WG::HeartbeatInfo& record) override
    {
        std::lock_guard<std::mutex> guard(lock);
        last = record.deviceId;
        ++count;
    }
    WG::Ipv6AdapterList* adapterList() override { return adapters.get(); }
    std::unique_ptr<WG::Ipv6AdapterList> adapters;
    std::mutex lock;
    uint64_t last = 0;
    uint64_t count = 0;
};

QByteArray heartbeat184()
{
    QByteArray d(184, '\0');
    memcpy(d.data(), "VWMP", 4);
    d[21] = 83;
    d[36] = '\x02';
    d[152] = 2;
    d[180] = 0;
    return d;
}

void BM_HeartbeatParse(benchmark::State& state)
{
    const QByteArray d = heartbeat184();
    const auto* bytes = reinterpret_cast<const uint8_t*>(d.constData());
    const uint8_t sender[16] = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
    CountingSink sink;
    for (auto _ : state) {
        WG::HeartbeatInfo r;
        if (WG::parseHeartbeat(bytes, static_cast<size_t>(d.size()), sender, 3, &r))
            sink.onHeartbeat(r);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_HeartbeatMemcpyFloor(benchmark::State& state)
{
    const QByteArray d = heartbeat184();
    uint8_t copy[184];
    for (auto _ : state) {
        memcpy(copy, d.constData(), sizeof copy);
        benchmark::DoNotOptimize(copy);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_HeartbeatParse);
BENCHMARK(BM_HeartbeatMemcpyFloor);

// Heartbeats from `units` units, `rate` a second in all, for `seconds`, sent
// by the peer to ff02::1; the counters give what the receiver handed over.
void runBeats(benchmark::State& state, int units, double rate, double seconds)
{
    if (!g_bed) {
        state.SkipWithError("no test bed");
        return;
    }
    double handledPerSecond = 0;
    double lost = 0;
    for (auto _ : state) {
        CountingSink sink;
        sink.adapters = std::make_unique<WG::Ipv6AdapterList>();
        WG::Heartbeat receiver(&sink);
        for (int i = 0; i < 300 && receiver.counts().joined.load() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        char rateText[32], secondsText[32];
        snprintf(rateText, sizeof rateText, "%g", rate);
        snprintf(secondsText, sizeof secondsText, "%g", seconds);
        qtest::ChildProcess peer(g_bed->inPeer(qtest::pythonPeer("workgroup_peer.py",
            {"beat", "--to", "ff02::1", "--ifname", qtest::NetnsBed::kPeerInterface, "--rate", rateText, "--seconds",
                secondsText, "--units", std::to_string(units), "model=83", "dev=0251000000020000"})));
        std::string line;
        peer.readLine(&line, static_cast<int>(seconds * 1000) + 10000);
        const long sent = line.rfind("SENT ", 0) == 0 ? std::stol(line.substr(5)) : 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the last wake
        std::lock_guard<std::mutex> guard(sink.lock);
        // Over the sender's own time: python's start is not the receiver's.
        handledPerSecond = static_cast<double>(sink.count) / seconds;
        lost = static_cast<double>(sent) - static_cast<double>(sink.count);
    }
    state.counters["handled_per_s"] = handledPerSecond;
    state.counters["lost"] = lost;
}

void BM_HeartbeatsAt20PerSecond(benchmark::State& state)
{
    runBeats(state, 1, 20, 3);
}

// Every unit announces once a second: `units` datagrams a second in all.
void BM_UnitsOnceASecond(benchmark::State& state)
{
    runBeats(state, static_cast<int>(state.range(0)), static_cast<double>(state.range(0)), 3);
}

BENCHMARK(BM_HeartbeatsAt20PerSecond)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnitsOnceASecond)
    ->Arg(50)
    ->Arg(200)
    ->Arg(500)
    ->Arg(1000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    // The bed first: a namespace of our own (the loopback benchmarks then run
    // on its loopback interface).
    int exitCode = 0;
    const auto bed = benchNetnsBed("bench_workgroup", &exitCode);
    if (!bed && exitCode != 0)
        return exitCode;
    g_bed = bed.get();
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
