// TCP client sockets against real peers on loopback.
#include "tests/pbd/vcom/test_vcom_support.h"

#include "tests/support/test_support.h"

#include <arpa/inet.h>
#include <atomic>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace VCOM;
using vcomtest::address;
using vcomtest::Owner;

class VcomTcp : public vcomtest::ServiceTest {
protected:
    uint16_t startPeer(const std::vector<std::string>& args)
    {
        peer = std::make_unique<qtest::ChildProcess>(qtest::pythonPeer("vsock_tcp_peer.py", args));
        return qtest::peerPort(*peer);
    }

    // Connects s (attached to o) and waits for OnConnected.
    bool connectTo(VComTcpClientSocket& s, Owner& o, uint16_t port)
    {
        o.socket = &s;
        s.attach(7, &o);
        const VComResult rc = s.connect(address("127.0.0.1"), address("127.0.0.1"), port);
        EXPECT_TRUE(rc == VCOM_OK || rc == VCOM_PENDING) << std::hex << rc;
        return o.pump([&] { return o.saw("connected"); });
    }

    std::unique_ptr<qtest::ChildProcess> peer;
};

std::string pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i % 251);
    return s;
}

TEST_F(VcomTcp, EchoRoundTripWithPartialWrite)
{
    const uint16_t port = startPeer({"echo"});
    ASSERT_NE(port, 0);
    VComTcpClientSocket s;
    Owner o;
    ASSERT_TRUE(connectTo(s, o, port));
    EXPECT_TRUE(s.isConnected());
    EXPECT_EQ(s.state(), VCOM_STATE_OPEN);
    VComSocketAddress peerAddress;
    uint16_t peerPort = 0;
    s.peer(&peerAddress, &peerPort);
    EXPECT_EQ(peerPort, port);
    EXPECT_EQ(memcmp(peerAddress.record().addr, "\x7f\x00\x00\x01", 4), 0);

    // 20,000 bytes into an empty 15,000-byte stream: 0x80000003 with the
    // count taken, which a result of 1 or 2 could not be told from PENDING
    // or MORE; the caller resends only the rest.
    const std::string data = pattern(20000);
    uint32_t taken = 0;
    EXPECT_EQ(s.write(data.data(), 20000, &taken), VCOM_E_INCOMPLETE);
    EXPECT_EQ(taken, 15000u);
    ASSERT_TRUE(o.pump([&] { return s.writableSpace() >= 5000; }));
    uint32_t rest = 0;
    const VComResult rc = s.write(data.data() + taken, 20000 - taken, &rest);
    EXPECT_GE(rc, 0);
    EXPECT_EQ(rest, 5000u);
    ASSERT_TRUE(o.pump([&] { return o.received.size() >= data.size(); }, 10000));
    EXPECT_EQ(o.received, data);
    EXPECT_GE(o.sends, 2); // chunks of at most 10,000 bytes
}

TEST_F(VcomTcp, PeerCloseReportsOnceAndTheSocketCanConnectAgain)
{
    const uint16_t port = startPeer({"send", "3000"});
    ASSERT_NE(port, 0);
    VComTcpClientSocket s;
    Owner o;
    ASSERT_TRUE(connectTo(s, o, port));
    ASSERT_TRUE(o.pump([&] { return o.saw("disconnected"); }));
    EXPECT_EQ(o.received, pattern(3000));
    o.pump([] { return false; }, 100);
    EXPECT_EQ(o.count("disconnected"), 1);
    EXPECT_EQ(s.state(), VCOM_STATE_CLOSED);
    char b[4];
    uint32_t n = 0;
    EXPECT_EQ(s.read(b, sizeof b, &n), VCOM_E_STATE);
    EXPECT_EQ(s.processEvents(&o), VCOM_E_STATE);
    EXPECT_EQ(s.disconnect(), VCOM_E_STATE);

    o.log.clear();
    o.received.clear();
    ASSERT_TRUE(connectTo(s, o, port));
    ASSERT_TRUE(o.pump([&] { return o.saw("disconnected"); }));
    EXPECT_EQ(o.received.size(), 3000u);
}

TEST_F(VcomTcp, ConnectFailuresLeaveAClosedSocket)
{
    VComTcpClientSocket s;
    Owner o;
    o.socket = &s;
    s.attach(1, &o);

    // Refused by the peer: reported through the events, socket closed. The
    // port is held bound but not listening, so a test running beside this
    // one cannot take it and accept the connection.
    const int holder = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(holder, 0);
    sockaddr_in bound{};
    bound.sin_family = AF_INET;
    bound.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof bound;
    ASSERT_EQ(::bind(holder, reinterpret_cast<const sockaddr*>(&bound), sizeof bound), 0);
    ASSERT_EQ(::getsockname(holder, reinterpret_cast<sockaddr*>(&bound), &length), 0);
    const VComResult rc = s.connect(address("127.0.0.1"), address("127.0.0.1"), ntohs(bound.sin_port));
    if (rc == VCOM_PENDING) {
        EXPECT_EQ(s.connect(address("127.0.0.1"), address("127.0.0.1"), 1), VCOM_E_STATE);
    }
    if (rc >= 0) {
        ASSERT_TRUE(o.pump([&] { return o.saw("failed:0"); }));
    }
    EXPECT_EQ(s.state(), VCOM_STATE_CLOSED);
    ::close(holder);

    // Refused at once (no usable remote address): the call fails, and the
    // socket is not left "connecting" forever.
    VComSocketAddress none;
    EXPECT_LT(s.connect(address("127.0.0.1"), none, 80), 0);
    EXPECT_EQ(s.state(), VCOM_STATE_CLOSED);
    EXPECT_EQ(s.serviceSocketId(), -1);

    // Service down: the open fails, the socket stays usable.
    vsock_term();
    EXPECT_EQ(s.connect(address("127.0.0.1"), address("127.0.0.1"), 80), VCOM_E_OBJ);
    EXPECT_EQ(s.state(), VCOM_STATE_CLOSED);
    ASSERT_EQ(vsock_init(), VSOCK_OK);
    const uint16_t port = startPeer({"echo"});
    EXPECT_TRUE(s.connect(address("127.0.0.1"), address("127.0.0.1"), port) >= 0);
    EXPECT_TRUE(o.pump([&] { return o.saw("connected"); }));
}

TEST_F(VcomTcp, ResetByPeerIsAReceiveFailure)
{
    const uint16_t port = startPeer({"reset"});
    ASSERT_NE(port, 0);
    VComTcpClientSocket s;
    Owner o;
    ASSERT_TRUE(connectTo(s, o, port));
    uint32_t n = 0;
    EXPECT_GE(s.write("x", 1, &n), 0);
    ASSERT_TRUE(o.pump([&] { return o.saw("failed:2") || o.saw("disconnected"); }));
    EXPECT_EQ(s.state(), VCOM_STATE_CLOSED);
    EXPECT_EQ(o.log.size(), 2u) << "connected, then one end report";
}

// Turns the next send completion into a failure, as the service reports one.
class FailingSendSocket : public VComTcpClientSocket {
public:
    VComResult onSendResult(int32_t result) override
    {
        return VComTcpClientSocket::onSendResult(failNext.exchange(false) ? VSOCK_E_SOCKET : result);
    }
    std::atomic<bool> failNext{false};
};

TEST_F(VcomTcp, AFailedSendIsReportedAndLaterWritesStillGoOut)
{
    const uint16_t port = startPeer({"echo"});
    FailingSendSocket s;
    Owner o;
    ASSERT_TRUE(connectTo(s, o, port));
    s.failNext = true;
    uint32_t n = 0;
    EXPECT_EQ(s.write("lost", 4, &n), VCOM_PENDING);
    ASSERT_TRUE(o.pump([&] { return o.saw("commfailed:0"); }));
    EXPECT_TRUE(s.isOpen()) << "a failed send does not close the connection";
    o.received.clear();
    EXPECT_EQ(s.write("ping", 4, &n), VCOM_PENDING) << "not stuck in send-busy";
    ASSERT_TRUE(o.pump([&] { return o.received.find("ping") != std::string::npos; }));
}

// The owner's wake-up takes its own lock and reads the socket, while the
// owner thread holds that lock and reads the socket too. Called with
// "SEM_SOCK" held, the wake-up would deadlock on the socket (or against the
// owner); a deadlock leaves locks held that the teardown needs, so it ends
// the program with a failure instead of hanging.
TEST_F(VcomTcp, AWakeUpThatLocksAndCallsBackDoesNotDeadlock)
{
    class LockingOwner : public Owner {
    public:
        int32_t wakeup(uint16_t task, IVCom* socket) override
        {
            std::lock_guard<std::mutex> guard(ownLock);
            uint16_t port = 0;
            static_cast<VComAbstractSocket*>(socket)->peer(nullptr, &port);
            lastPort.store(port);
            return Owner::wakeup(task, socket);
        }
        std::mutex ownLock;
        std::atomic<uint16_t> lastPort{0};
    };
    const uint16_t port = startPeer({"echo"});
    ASSERT_NE(port, 0);
    VComTcpClientSocket s;
    LockingOwner o;
    bool done = connectTo(s, o, port);
    for (int i = 0; done && i < 50; ++i) {
        uint32_t n = 0;
        s.write("ping", 4, &n);
        {
            std::lock_guard<std::mutex> guard(o.ownLock);
            uint16_t p = 0;
            s.peer(nullptr, &p);
        }
        const size_t want = 4u * (i + 1);
        done = o.pump([&] { return o.received.size() >= want; });
    }
    if (!done) {
        ADD_FAILURE() << "the echo stalled: the wake-up deadlocked";
        std::fflush(stdout);
        std::_Exit(1);
    }
    EXPECT_EQ(o.lastPort.load(), port);
    s.detach();
}

// A wake-up runs without "SEM_SOCK", so detach must wait for one still
// running on the service thread: the owner may free the wake-up object as
// soon as detach returns.
TEST_F(VcomTcp, DetachWaitsForAWakeUpStillRunning)
{
    class SlowOwner : public Owner {
    public:
        int32_t wakeup(uint16_t task, IVCom* socket) override
        {
            // Only on the service thread: the send completes on ours.
            if (slow.load() && std::this_thread::get_id() != owner) {
                started.store(true);
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                finished.store(true);
            }
            return Owner::wakeup(task, socket);
        }
        std::atomic<bool> slow{false}, started{false}, finished{false};
        const std::thread::id owner = std::this_thread::get_id();
    };
    const uint16_t port = startPeer({"echo"});
    ASSERT_NE(port, 0);
    VComTcpClientSocket s;
    SlowOwner o;
    ASSERT_TRUE(connectTo(s, o, port));
    o.slow.store(true);
    uint32_t n = 0;
    s.write("ping", 4, &n);
    // The echo's receive result wakes the owner on the service thread.
    for (int i = 0; i < 500 && !o.started.load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(o.started.load());
    s.detach();
    EXPECT_TRUE(o.finished.load()) << "detach returned while the wake-up still ran";
}

TEST_F(VcomTcp, OwnDisconnect)
{
    const uint16_t port = startPeer({"echo"});
    VComTcpClientSocket s;
    Owner o;
    ASSERT_TRUE(connectTo(s, o, port));
    EXPECT_EQ(s.disconnect(), VCOM_OK);
    ASSERT_TRUE(o.pump([&] { return o.saw("disconnected"); }));
    EXPECT_EQ(s.state(), VCOM_STATE_CLOSED);
    EXPECT_EQ(s.disconnect(), VCOM_E_STATE);
}

TEST_F(VcomTcp, ArgumentAndStateChecks)
{
    VComTcpClientSocket s;
    char b[8] = {};
    uint32_t n = 99;
    struct Case {
        VComResult got;
        VComResult want;
    } cases[] = {
        {s.write(nullptr, 4, &n), VCOM_E_ARG},
        {s.write(b, 0, &n), VCOM_E_ARG},
        {s.write(b, 4, &n), VCOM_E_STATE},
        {s.read(nullptr, 4, &n), VCOM_E_ARG},
        {s.read(b, 4, &n), VCOM_E_STATE},
        {s.onAcceptResult(0), VCOM_E_UNSUPPORTED},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.got, c.want);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(s.valid(), 1);
    EXPECT_EQ(s.self(), &s);
}

TEST_F(VcomTcp, AChunkThatDoesNotFitWaitsWithoutWakingTheOwner)
{
    const uint16_t port = startPeer({"send", "60000"});
    ASSERT_NE(port, 0);
    VComTcpClientSocket s;
    Owner o;
    o.drain = false; // an owner that does not read
    ASSERT_TRUE(connectTo(s, o, port));
    ASSERT_TRUE(o.pump([&] { return s.heldChunkLength() > 0; }));
    EXPECT_GT(s.receivedCount() + static_cast<uint32_t>(s.heldChunkLength()), VCOM_TCP_STREAM_SIZE);
    // Nothing changes until the owner reads: it must not be woken again
    // and again meanwhile.
    o.pump([] { return false; }, 150);
    const int before = o.wakeups();
    o.pump([] { return false; }, 300);
    EXPECT_LE(o.wakeups() - before, 1);

    // Reading offers the held chunk again; everything arrives in order.
    o.drain = true;
    o.drainAll();
    ASSERT_TRUE(o.pump([&] { return o.saw("disconnected"); }, 10000));
    EXPECT_EQ(o.received, pattern(60000));
}

// The service writes into the receive chunk while a receive is armed; the
// socket must be closed before its chunks are freed (run under ASan).
TEST_F(VcomTcp, DestroyWhileDataArrives)
{
    const uint16_t port = startPeer({"send", "200000"});
    ASSERT_NE(port, 0);
    for (int i = 0; i < 10; ++i) {
        auto s = std::make_unique<VComTcpClientSocket>();
        Owner o;
        ASSERT_TRUE(connectTo(*s, o, port));
        s.reset();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Sockets opened and closed on several threads at once: service ids are
// reused at once, and no socket may lose its entry (and its events) to
// another socket's close.
TEST_F(VcomTcp, ConcurrentOpenCloseKeepsEveryRoute)
{
    const uint16_t port = startPeer({"echo"});
    ASSERT_NE(port, 0);
    std::atomic<int> ok{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 8; ++i) {
                VComTcpClientSocket s;
                Owner o;
                o.socket = &s;
                s.attach(i, &o);
                if (s.connect(address("127.0.0.1"), address("127.0.0.1"), port) < 0)
                    continue;
                if (!o.pump([&] { return o.saw("connected"); }, 10000))
                    continue;
                uint32_t n = 0;
                s.write("ping", 4, &n);
                if (o.pump([&] { return o.received == "ping"; }, 10000))
                    ++ok;
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(ok.load(), 32);
    EXPECT_EQ(VComSocketMapper::instance().highestIndex(), -1);
}

} // namespace
