// The socket service on loopback against plain blocking sockets: echo round
// trip, N sockets pipelined (every socket sends, then every echo is taken),
// bulk throughput, the plain one-way time (a floor for latency figures), and
// the service thread's CPU use while idle.
#include "pbd/OSWRAP/oswrap.h"
#include "pbd/vsock/vsock.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A listening TCP socket on 127.0.0.1 and a port of the system's choice.
int listenLoopback(uint16_t* port, int backlog)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&in), sizeof in);
    listen(fd, backlog);
    socklen_t len = sizeof in;
    getsockname(fd, reinterpret_cast<sockaddr*>(&in), &len);
    *port = ntohs(in.sin_port);
    return fd;
}

// A blocking loopback server: each connection is echoed or drained.
class Server {
public:
    explicit Server(bool echo)
        : m_echo(echo)
    {
        m_listener = listenLoopback(&m_port, 16);
        m_thread = std::thread([this] { run(); });
    }
    ~Server()
    {
        shutdown(m_listener, SHUT_RDWR);
        close(m_listener);
        m_thread.join();
        for (auto& t : m_workers)
            t.join();
    }
    uint16_t port() const { return m_port; }

private:
    void run()
    {
        for (;;) {
            const int fd = accept(m_listener, nullptr, nullptr);
            if (fd < 0)
                return;
            m_workers.emplace_back([this, fd] { serve(fd); });
        }
    }
    void serve(int fd)
    {
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::vector<char> buf(65536);
        for (;;) {
            const ssize_t n = recv(fd, buf.data(), buf.size(), 0);
            if (n <= 0)
                break;
            if (m_echo && send(fd, buf.data(), static_cast<size_t>(n), MSG_NOSIGNAL) != n)
                break;
        }
        close(fd);
    }
    bool m_echo;
    int m_listener = -1;
    uint16_t m_port = 0;
    std::thread m_thread;
    std::vector<std::thread> m_workers;
};

// Completion waiting for one socket of the service.
struct Waiter {
    std::mutex lock;
    std::condition_variable cond;
    int32_t kind = -1;
    int32_t result = 0;
    bool done = false;

    static void handler(int, const VSockEvent* e, void* context)
    {
        auto* self = static_cast<Waiter*>(context);
        {
            std::lock_guard<std::mutex> guard(self->lock);
            self->kind = e->kind;
            self->result = e->result;
            self->done = true;
        }
        self->cond.notify_one();
    }
    int32_t wait()
    {
        std::unique_lock<std::mutex> guard(lock);
        cond.wait(guard, [this] { return done; });
        done = false;
        return result;
    }
};

struct Service {
    Service()
    {
        oswrap_init();
        vsock_init();
    }
    ~Service() { vsock_term(); }
};

// Opens a stream socket with the handler and starts its connect to the
// loopback port; true in *pending when the connect event is still to come.
int openAndConnect(VSockEventFn handler, void* context, uint16_t port, bool* pending)
{
    VSockOpenParams p{};
    p.mode = VSOCK_MODE_CONNECT;
    p.local.address.family = VSOCK_FAMILY_IPV4;
    const VSockEventOptions o{VSOCK_EVF_DELIVER, handler, context};
    const int id = vsock_open(&p, &o);
    VSockEndpoint remote{};
    remote.port = port;
    vsock_textToAddress(VSOCK_FAMILY_IPV4, "127.0.0.1", &remote.address);
    *pending = vsock_connect(id, &remote, -1) == VSOCK_E_PENDING;
    return id;
}

int serviceConnect(Waiter& w, uint16_t port)
{
    bool pending = false;
    const int id = openAndConnect(&Waiter::handler, &w, port, &pending);
    if (pending)
        w.wait();
    return id;
}

int plainConnect(uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = htons(port);
    in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(fd, reinterpret_cast<sockaddr*>(&in), sizeof in);
    return fd;
}

void BM_EchoRoundTripService(benchmark::State& state)
{
    Service service;
    Server server(true);
    Waiter w;
    const int id = serviceConnect(w, server.port());
    const size_t size = static_cast<size_t>(state.range(0));
    std::vector<char> out(size, 'x'), in(size);
    for (auto _ : state) {
        vsock_send(id, out.data(), static_cast<uint32_t>(size), -1, nullptr);
        w.wait();
        size_t got = 0;
        while (got < size) {
            vsock_recv(id, in.data() + got, static_cast<uint32_t>(size - got), -1, nullptr);
            const int32_t n = w.wait();
            if (n <= 0) {
                state.SkipWithError("receive failed");
                break;
            }
            got += static_cast<size_t>(n);
        }
    }
    vsock_close(id);
}
BENCHMARK(BM_EchoRoundTripService)->Arg(64)->Arg(1400);

void BM_EchoRoundTripBlocking(benchmark::State& state)
{
    Server server(true);
    const int fd = plainConnect(server.port());
    const size_t size = static_cast<size_t>(state.range(0));
    std::vector<char> out(size, 'x'), in(size);
    for (auto _ : state) {
        send(fd, out.data(), size, MSG_NOSIGNAL);
        size_t got = 0;
        while (got < size) {
            const ssize_t n = recv(fd, in.data() + got, size - got, 0);
            if (n <= 0) {
                state.SkipWithError("receive failed");
                break;
            }
            got += static_cast<size_t>(n);
        }
    }
    close(fd);
}
BENCHMARK(BM_EchoRoundTripBlocking)->Arg(64)->Arg(1400);

// Completions of many sockets, by socket id. vsock calls must not be made
// with `lock` held: a completion may run its handler on the calling thread.
struct Pipeline {
    std::mutex lock;
    std::condition_variable cond;
    int32_t recvResult[VSOCK_MAX_SOCKETS] = {};
    bool recvDone[VSOCK_MAX_SOCKETS] = {};
    int sendsOutstanding = 0;
    bool connected[VSOCK_MAX_SOCKETS] = {};

    static void handler(int id, const VSockEvent* e, void* context)
    {
        auto* self = static_cast<Pipeline*>(context);
        {
            std::lock_guard<std::mutex> guard(self->lock);
            if (e->kind == VSOCK_EV_CONNECT) {
                self->connected[id] = true;
            } else if (e->kind == VSOCK_EV_SEND) {
                --self->sendsOutstanding;
            } else if (e->kind == VSOCK_EV_RECV) {
                self->recvResult[id] = e->result;
                self->recvDone[id] = true;
            }
        }
        self->cond.notify_one();
    }
};

int pipelineConnect(Pipeline& p, uint16_t port)
{
    bool pending = false;
    const int id = openAndConnect(&Pipeline::handler, &p, port, &pending);
    if (pending) {
        std::unique_lock<std::mutex> guard(p.lock);
        p.cond.wait(guard, [&] { return p.connected[id]; });
    }
    return id;
}

// Every socket sends 64 bytes, then every echo is taken back; the time is
// reported per socket, so a service that overlaps the sockets' waits shows a
// per-socket cost that falls as N grows, as plain sockets' does.
constexpr size_t kPipelineBytes = 64;

void BM_PipelinedService(benchmark::State& state)
{
    Service service;
    Server server(true);
    Pipeline p;
    const int n = static_cast<int>(state.range(0));
    std::vector<int> ids;
    for (int i = 0; i < n; ++i)
        ids.push_back(pipelineConnect(p, server.port()));
    std::vector<char> out(kPipelineBytes, 'p');
    std::vector<std::vector<char>> in(n, std::vector<char>(kPipelineBytes));
    std::vector<size_t> got(n);
    for (auto _ : state) {
        {
            std::lock_guard<std::mutex> guard(p.lock);
            p.sendsOutstanding = n;
            for (int id : ids)
                p.recvDone[id] = false;
        }
        for (int id : ids)
            vsock_send(id, out.data(), kPipelineBytes, -1, nullptr);
        for (int i = 0; i < n; ++i) {
            got[i] = 0;
            vsock_recv(ids[i], in[i].data(), kPipelineBytes, -1, nullptr);
        }
        int left = n;
        while (left > 0) {
            std::vector<int> rearm;
            {
                std::unique_lock<std::mutex> guard(p.lock);
                p.cond.wait(guard, [&] {
                    for (int id : ids)
                        if (p.recvDone[id])
                            return true;
                    return false;
                });
                for (int i = 0; i < n; ++i) {
                    if (!p.recvDone[ids[i]])
                        continue;
                    p.recvDone[ids[i]] = false;
                    const int32_t r = p.recvResult[ids[i]];
                    if (r <= 0) {
                        state.SkipWithError("receive failed");
                        left = 0;
                        break;
                    }
                    got[i] += static_cast<size_t>(r);
                    if (got[i] < kPipelineBytes)
                        rearm.push_back(i);
                    else
                        --left;
                }
            }
            for (int i : rearm)
                vsock_recv(ids[i], in[i].data() + got[i], static_cast<uint32_t>(kPipelineBytes - got[i]), -1, nullptr);
        }
        std::unique_lock<std::mutex> guard(p.lock);
        p.cond.wait(guard, [&] { return p.sendsOutstanding <= 0; });
    }
    state.counters["per_socket_us"] = benchmark::Counter(
        static_cast<double>(n) * state.iterations(), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    for (int id : ids)
        vsock_close(id);
}
BENCHMARK(BM_PipelinedService)->Arg(8)->Arg(24)->UseRealTime();

void BM_PipelinedBlocking(benchmark::State& state)
{
    Server server(true);
    const int n = static_cast<int>(state.range(0));
    std::vector<int> fds;
    for (int i = 0; i < n; ++i)
        fds.push_back(plainConnect(server.port()));
    std::vector<char> out(kPipelineBytes, 'p'), in(kPipelineBytes);
    for (auto _ : state) {
        for (int fd : fds)
            send(fd, out.data(), kPipelineBytes, MSG_NOSIGNAL);
        for (int fd : fds) {
            size_t got = 0;
            while (got < kPipelineBytes) {
                const ssize_t r = recv(fd, in.data() + got, kPipelineBytes - got, 0);
                if (r <= 0) {
                    state.SkipWithError("receive failed");
                    break;
                }
                got += static_cast<size_t>(r);
            }
        }
    }
    state.counters["per_socket_us"] = benchmark::Counter(
        static_cast<double>(n) * state.iterations(), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    for (int fd : fds)
        close(fd);
}
BENCHMARK(BM_PipelinedBlocking)->Arg(8)->Arg(24)->UseRealTime();

// One-way time on a plain loopback connection: from send() on this thread
// to recv() returning on a blocked receiver thread (the least a NOTIFY can
// take from a unit's socket to the thread that reads it).
void BM_OneWayBlocking(benchmark::State& state)
{
    // A TCP loopback pair, as the units' connections are.
    uint16_t port = 0;
    const int listener = listenLoopback(&port, 1);
    const int sender = plainConnect(port);
    const int receiver = accept(listener, nullptr, nullptr);
    close(listener);

    std::atomic<int64_t> arrived{0};
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        char b[64];
        while (!stop.load()) {
            const ssize_t r = recv(receiver, b, sizeof b, 0);
            if (r <= 0)
                return;
            arrived.store(std::chrono::steady_clock::now().time_since_epoch().count());
        }
    });
    char msg[64] = {};
    for (auto _ : state) {
        arrived.store(0);
        const auto start = std::chrono::steady_clock::now();
        send(sender, msg, sizeof msg, MSG_NOSIGNAL);
        int64_t at = 0;
        for (int spin = 0; spin < 100000000 && (at = arrived.load()) == 0; ++spin)
            std::this_thread::yield();
        state.SetIterationTime(static_cast<double>(at - start.time_since_epoch().count()) * 1e-9);
    }
    stop.store(true);
    shutdown(sender, SHUT_RDWR);
    close(sender);
    reader.join();
    close(receiver);
}
BENCHMARK(BM_OneWayBlocking)->UseManualTime();

constexpr size_t kBulkChunk = 1 << 20;

void BM_BulkSendService(benchmark::State& state)
{
    Service service;
    Server server(false);
    Waiter w;
    const int id = serviceConnect(w, server.port());
    std::vector<char> out(kBulkChunk, 'b');
    for (auto _ : state) {
        vsock_send(id, out.data(), static_cast<uint32_t>(out.size()), -1, nullptr);
        if (w.wait() != static_cast<int32_t>(kBulkChunk))
            state.SkipWithError("send failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBulkChunk));
    vsock_close(id);
}
BENCHMARK(BM_BulkSendService)->UseRealTime();

void BM_BulkSendBlocking(benchmark::State& state)
{
    Server server(false);
    const int fd = plainConnect(server.port());
    std::vector<char> out(kBulkChunk, 'b');
    for (auto _ : state) {
        size_t sent = 0;
        while (sent < out.size()) {
            const ssize_t n = send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += static_cast<size_t>(n);
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBulkChunk));
    close(fd);
}
BENCHMARK(BM_BulkSendBlocking)->UseRealTime();

double processCpuMs()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// Ten connected sockets, each with a receive armed and nothing arriving
// (argument 0), or each with an echo waiting unread and no receive armed
// (argument 1: the input must park the socket, not spin the loop); the rest
// of the process sleeps, so its CPU time is the service thread's.
void BM_IdleServiceCpu(benchmark::State& state)
{
    const bool inputWaiting = state.range(0) != 0;
    Service service;
    Server server(true);
    std::vector<std::unique_ptr<Waiter>> waiters;
    std::vector<int> ids;
    static char buffers[10][64];
    for (int i = 0; i < 10; ++i) {
        waiters.push_back(std::make_unique<Waiter>());
        const int id = serviceConnect(*waiters.back(), server.port());
        if (inputWaiting) {
            vsock_send(id, "x", 1, -1, nullptr);
            waiters.back()->wait();
        } else {
            vsock_recv(id, buffers[i], sizeof buffers[i], -1, nullptr);
        }
        ids.push_back(id);
    }
    double cpu = 0;
    for (auto _ : state) {
        const double before = processCpuMs();
        std::this_thread::sleep_for(std::chrono::seconds(2));
        cpu = processCpuMs() - before;
    }
    state.counters["cpu_ms_per_2s"] = cpu;
    for (int id : ids)
        vsock_close(id);
}
BENCHMARK(BM_IdleServiceCpu)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
