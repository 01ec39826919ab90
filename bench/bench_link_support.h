// Helpers of the device-link benchmarks: the process's platform (Qt
// application, socket layer, memory thread), seconds, a bounded spin of the
// Qt event loop, percentiles, the plain TCP ping-pong floor on loopback,
// sampled between our own rounds, and a BroxL-D2's link as the rack owner
// makes it.
#pragma once

#include "device/layouts/dev_devstate.h"
#include "device/link/dev_comm.h"
#include "device/link/dev_vsockobject.h"
#include "device/memory/dev_memthread.h"
#include "device/memory/dev_object.h"
#include "pbd/jlib/jvariant.h"

#include <QCoreApplication>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace linkbench {

using Clock = std::chrono::steady_clock;

struct Platform {
    Platform()
    {
        static int argc = 1;
        static char name[] = "bench_device_link";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QCoreApplication>(argc, argv);
        Quil::createMemThread();
    }
    ~Platform() { Quil::destroyMemThread(); }
    Quil::VSockObject sockets;
    std::unique_ptr<QCoreApplication> app;
};

// Made once, on first use, and gone at exit.
inline Platform& platform()
{
    static Platform p;
    return p;
}

inline double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// Runs the event loop until pred holds; false after timeoutMs.
template <class Pred> bool spin(Pred pred, int timeoutMs = 20000)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (Clock::now() > deadline)
            return false;
        QCoreApplication::processEvents();
    }
    return true;
}

inline double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

// The plain TCP ping-pong floor on loopback: one line feed echoed by a
// thread of its own. The pair stays open so that its round trips can be
// taken between our own rounds; floor and ours then see the same load.
class EchoFloor {
public:
    EchoFloor()
    {
        m_listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        bind(m_listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(m_listener, 1);
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&a), &len);
        const int listener = m_listener;
        m_echo = std::thread([listener] {
            const int c = accept(listener, nullptr, nullptr);
            char b = 0;
            while (read(c, &b, 1) == 1 && write(c, &b, 1) == 1) { }
            close(c);
        });
        m_socket = socket(AF_INET, SOCK_STREAM, 0);
        const int one = 1;
        setsockopt(m_socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        connect(m_socket, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    ~EchoFloor()
    {
        close(m_socket);
        m_echo.join();
        close(m_listener);
    }
    EchoFloor(const EchoFloor&) = delete;
    EchoFloor& operator=(const EchoFloor&) = delete;

    // Takes rounds more round trips.
    void sample(int rounds)
    {
        char b = '\n';
        for (int i = 0; i < rounds; ++i) {
            const auto t0 = Clock::now();
            if (write(m_socket, &b, 1) != 1 || read(m_socket, &b, 1) != 1)
                return;
            m_times.push_back(seconds(Clock::now() - t0));
        }
    }
    // The median of every round trip taken so far.
    double median() const { return percentile(m_times, 0.5); }

private:
    int m_listener = -1;
    int m_socket = -1;
    std::thread m_echo;
    std::vector<double> m_times;
};

// The rack owner's link to a BroxL-D2 on loopback, as the program makes it.
struct Link {
    explicit Link(uint16_t port)
        : dev(0, Quil::MODEL_BROXL_D2)
        , comm(nullptr, "key", "127.0.0.1", port, "BroxL-D2", Quil::MODEL_BROXL_D2, 0, "127.0.0.1")
    {
        comm.attachMemory(&dev, Quil::SOURCE_LINK);
    }
    ~Link() { comm.detachMemory(); }
    bool connect()
    {
        dev.setValue(Quil::kConnectReqPath, JLIB::JVariant(1), Quil::SOURCE_UI);
        return spin([&] { return comm.isConnected(); });
    }
    Quil::DevObject dev;
    Quil::DevComm comm;
};

} // namespace linkbench
