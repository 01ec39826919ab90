// Workgroup receive path: framed 3/1 status messages sent by a thread over
// [::1] and delivered by the transport's receive thread to an owner, against
// the floor of a plain blocking recv loop reading the same bytes.
#include "fwupdate/workgroup/wg_message.h"
#include "fwupdate/workgroup/wg_transport.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <atomic>
#include <memory>
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

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
