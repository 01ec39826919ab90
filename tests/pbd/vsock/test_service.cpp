// The socket service against real peers on loopback.
#include "tests/pbd/vsock/vsock_test_events.h"

#include "tests/support/test_support.h"

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>

namespace {

using vtest::endpoint;
using vtest::Got;

class VsockService : public vtest::ServiceTest {
protected:
    // Starts the TCP peer in a mode; returns its port (0 on failure).
    uint16_t startPeer(const std::vector<std::string>& args)
    {
        peer = std::make_unique<qtest::ChildProcess>(qtest::pythonPeer("vsock_tcp_peer.py", args));
        return qtest::peerPort(*peer);
    }

    // A connected stream client, or -1.
    int connected(uint16_t port, uint8_t flags = 0)
    {
        const int id = open(VSOCK_MODE_CONNECT, "0.0.0.0", 0, flags);
        EXPECT_GE(id, 0);
        const VSockEndpoint remote = endpoint("127.0.0.1", port);
        const VSockResult rc = vsock_connect(id, &remote, -1);
        if (rc == VSOCK_E_PENDING) {
            Got got;
            EXPECT_TRUE(events.wait(id, VSOCK_EV_CONNECT, &got));
            EXPECT_EQ(got.result, VSOCK_OK);
            return got.result == VSOCK_OK ? id : -1;
        }
        EXPECT_EQ(rc, VSOCK_OK);
        return rc == VSOCK_OK ? id : -1;
    }

    // Sends everything, waiting for the completion; the event's result.
    int32_t sendAll(int id, const void* data, uint32_t length)
    {
        EXPECT_EQ(vsock_send(id, data, length, -1, nullptr), VSOCK_E_PENDING);
        Got got;
        EXPECT_TRUE(events.wait(id, VSOCK_EV_SEND, &got, 20000));
        return got.result;
    }

    int32_t receive(int id, void* buffer, uint32_t size)
    {
        EXPECT_EQ(vsock_recv(id, buffer, size, -1, nullptr), VSOCK_E_PENDING);
        Got got;
        EXPECT_TRUE(events.wait(id, VSOCK_EV_RECV, &got));
        return got.result;
    }

    std::unique_ptr<qtest::ChildProcess> peer;
};

std::vector<uint8_t> pattern(size_t n)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(i % 251);
    return v;
}

TEST_F(VsockService, InitTermInitLeavesAWorkingService)
{
    EXPECT_EQ(vsock_init(), VSOCK_OK); // already running: nothing new
    EXPECT_EQ(vsock_getState(), VSOCK_STATE_READY);
    const int before = open(VSOCK_MODE_CONNECT);
    ASSERT_GE(before, 0);
    vsock_term();
    EXPECT_EQ(vsock_getState(), VSOCK_STATE_OFF);
    EXPECT_EQ(open(VSOCK_MODE_CONNECT), VSOCK_E_OBJ);
    EXPECT_EQ(vsock_close(before), VSOCK_E_OBJ);
    vsock_term(); // stopping twice is harmless

    // Restarted, the thread really services sockets again: a full echo.
    ASSERT_EQ(vsock_init(), VSOCK_OK);
    const uint16_t port = startPeer({"echo"});
    ASSERT_NE(port, 0);
    const int id = connected(port);
    ASSERT_EQ(id, 0); // the socket left open before the stop was closed by it
    const auto data = pattern(1000);
    EXPECT_EQ(sendAll(id, data.data(), 1000), 1000);
    std::vector<uint8_t> in;
    uint8_t buf[4096];
    for (int i = 0; i < 100 && in.size() < data.size(); ++i) {
        const int32_t n = receive(id, buf, sizeof buf);
        ASSERT_GT(n, 0);
        in.insert(in.end(), buf, buf + n);
    }
    EXPECT_EQ(in, data);
    EXPECT_EQ(vsock_close(id), VSOCK_OK);
}

// Without the OS wrapper no service task can be made: the start fails at
// once and leaves the service off, and a later start works.
TEST_F(VsockService, FailedStartLeavesTheServiceOff)
{
    vsock_term();
    ASSERT_EQ(oswrap_shutdown(), OSWRAP_OK);
    EXPECT_EQ(vsock_init(), VSOCK_E_FAIL);
    EXPECT_EQ(vsock_getState(), VSOCK_STATE_OFF);
    ASSERT_EQ(oswrap_init(), OSWRAP_OK);
    ASSERT_EQ(vsock_init(), VSOCK_OK);
    EXPECT_EQ(vsock_getState(), VSOCK_STATE_READY);
}

TEST_F(VsockService, OpenChecksAndLimits)
{
    VSockOpenParams p{};
    p.mode = VSOCK_MODE_CONNECT;
    p.local = endpoint("0.0.0.0", 0);
    VSockEventOptions o = events.options();
    EXPECT_EQ(vsock_open(nullptr, &o), VSOCK_E_PARAM);
    EXPECT_EQ(vsock_open(&p, nullptr), VSOCK_E_PARAM);
    p.mode = 3;
    EXPECT_EQ(vsock_open(&p, &o), VSOCK_E_PARAM);
    p.mode = VSOCK_MODE_CONNECT;
    p.local.address.family = 5;
    EXPECT_EQ(vsock_open(&p, &o), VSOCK_E_PARAM);
    p.local.address.family = VSOCK_FAMILY_IPV4;
    o.flags = 0;
    EXPECT_EQ(vsock_open(&p, &o), VSOCK_E_PARAM);
    o = events.options();
    o.handler = nullptr;
    EXPECT_EQ(vsock_open(&p, &o), VSOCK_E_PARAM);
    // Only IPv4 datagram sockets and listeners.
    p.mode = VSOCK_MODE_DATAGRAM;
    ASSERT_EQ(vsock_textToAddress(VSOCK_FAMILY_IPV6, "::1", &p.local.address), VSOCK_OK);
    o = events.options();
    EXPECT_EQ(vsock_open(&p, &o), VSOCK_E_PARAM);
    // An address of no interface here cannot be bound.
    EXPECT_EQ(open(VSOCK_MODE_DATAGRAM, "198.19.255.254", 4000), VSOCK_E_PARAM);

    // 32 system sockets, then no slot although records remain; the records
    // freed by the failures are handed out again.
    std::vector<int> ids;
    for (int i = 0; i < VSOCK_MAX_OS_SOCKETS; ++i) {
        const int id = open(VSOCK_MODE_CONNECT);
        ASSERT_EQ(id, i);
        ids.push_back(id);
    }
    EXPECT_EQ(open(VSOCK_MODE_CONNECT), VSOCK_E_RESOURCE);
    EXPECT_EQ(vsock_close(ids[5]), VSOCK_OK);
    EXPECT_EQ(open(VSOCK_MODE_CONNECT), 5);

    EXPECT_EQ(vsock_close(-1), VSOCK_E_PARAM);
    EXPECT_EQ(vsock_close(64), VSOCK_E_PARAM);
    EXPECT_EQ(vsock_close(40), VSOCK_E_NOTOPEN);
    // Operations that do not suit the socket.
    uint8_t buf[4];
    VSockEndpoint from;
    const VSockEndpoint to = endpoint("127.0.0.1", 9);
    EXPECT_EQ(vsock_recvFrom(ids[0], buf, 4, &from, -1), VSOCK_E_OBJ);
    EXPECT_EQ(vsock_sendTo(ids[0], buf, 4, &to, -1), VSOCK_E_OBJ);
    EXPECT_EQ(vsock_accept(ids[0], -1), VSOCK_E_OBJ);
    EXPECT_EQ(vsock_send(40, buf, 4, -1, nullptr), VSOCK_E_NOTOPEN);
}

TEST_F(VsockService, TcpEchoOfABulkTransfer)
{
    const uint16_t port = startPeer({"echo"});
    ASSERT_NE(port, 0);
    const int id = connected(port);
    ASSERT_GE(id, 0);
    // Far more than the socket buffers hold: sends go out in parts while the
    // echo comes back, so receive and send run at the same time.
    const auto data = pattern(3 * 1024 * 1024);
    ASSERT_EQ(vsock_send(id, data.data(), static_cast<uint32_t>(data.size()), -1, nullptr), VSOCK_E_PENDING);
    std::vector<uint8_t> in;
    in.reserve(data.size());
    std::vector<uint8_t> buf(65536);
    for (int i = 0; i < 100000 && in.size() < data.size(); ++i) {
        const int32_t n = receive(id, buf.data(), static_cast<uint32_t>(buf.size()));
        ASSERT_GT(n, 0);
        in.insert(in.end(), buf.begin(), buf.begin() + n);
    }
    Got got;
    ASSERT_TRUE(events.wait(id, VSOCK_EV_SEND, &got));
    EXPECT_EQ(got.result, static_cast<int32_t>(data.size()));
    EXPECT_EQ(in.size(), data.size());
    EXPECT_TRUE(in == data);
    EXPECT_EQ(vsock_close(id), VSOCK_OK);
}

TEST_F(VsockService, SlowReaderGetsEveryByteInOrder)
{
    const uint16_t port = startPeer({"slow"});
    ASSERT_NE(port, 0);
    const int id = connected(port);
    ASSERT_GE(id, 0);
    const size_t size = 2 * 1024 * 1024;
    const auto data = pattern(size);
    EXPECT_EQ(sendAll(id, data.data(), static_cast<uint32_t>(size)), static_cast<int32_t>(size));
    EXPECT_EQ(vsock_close(id), VSOCK_OK);
    std::string line, expected;
    ASSERT_TRUE(peer->readLine(&line, 30000));
    ASSERT_EQ(qtest::runCommand("python3 -c 'import hashlib; print(hashlib.sha256(bytes(i % 251 for i in range("
                      + std::to_string(size) + "))).hexdigest())'",
                  &expected),
        0);
    EXPECT_EQ(line, "GOT " + std::to_string(size) + " " + expected.substr(0, 64));
}

// A send the system takes whole completes on the caller's thread, before the
// call returns, through the same event function; a close right behind it
// must not end that send a second time (as not sent), and the receive still
// armed ends with the close.
TEST_F(VsockService, SendCompletedInTheCallerWhileACloseFollows)
{
    const uint16_t port = startPeer({"echo"});
    ASSERT_NE(port, 0);
    for (int round = 0; round < 20; ++round) {
        const int id = connected(port);
        ASSERT_GE(id, 0);
        uint8_t buf[64];
        ASSERT_EQ(vsock_recv(id, buf, sizeof buf, -1, nullptr), VSOCK_E_PENDING);
        ASSERT_EQ(vsock_send(id, "ping", 4, -1, nullptr), VSOCK_E_PENDING);
        Got got;
        ASSERT_TRUE(events.wait(id, VSOCK_EV_SEND, &got, 0)) << "completed before the call returned";
        EXPECT_EQ(got.result, 4);
        EXPECT_EQ(vsock_close(id), VSOCK_OK);
        EXPECT_FALSE(events.wait(id, VSOCK_EV_SEND, &got, 0)) << "one send, one event";
        ASSERT_TRUE(events.wait(id, VSOCK_EV_RECV, &got));
        EXPECT_TRUE(got.result == 4 || got.result == VSOCK_E_NOTOPEN) << std::hex << got.result;
        EXPECT_EQ(events.pending(), 0u);
    }

    // The peer has closed: the end is already there, so the receive
    // completes at once with 0, after a send the system still took whole.
    const uint16_t closing = startPeer({"close"});
    ASSERT_NE(closing, 0);
    const int id = connected(closing);
    ASSERT_GE(id, 0);
    Got got;
    uint8_t buf[16];
    EXPECT_EQ(receive(id, buf, sizeof buf), 0);
    ASSERT_EQ(vsock_send(id, "x", 1, -1, nullptr), VSOCK_E_PENDING);
    ASSERT_TRUE(events.wait(id, VSOCK_EV_SEND, &got, 0));
    EXPECT_EQ(got.result, 1);
    ASSERT_EQ(vsock_recv(id, buf, sizeof buf, -1, nullptr), VSOCK_E_PENDING);
    ASSERT_TRUE(events.wait(id, VSOCK_EV_RECV, &got, 0)) << "the end was already there";
    EXPECT_TRUE(got.result == 0 || got.result == VSOCK_E_OBJ) << std::hex << got.result;
    EXPECT_EQ(vsock_close(id), VSOCK_OK);
}

TEST_F(VsockService, PeerCloseResetAndRefusal)
{
    // The peer closes: a receive of 0 bytes.
    uint16_t port = startPeer({"close"});
    ASSERT_NE(port, 0);
    int id = connected(port);
    ASSERT_GE(id, 0);
    uint8_t buf[100];
    EXPECT_EQ(receive(id, buf, sizeof buf), 0);
    EXPECT_EQ(vsock_close(id), VSOCK_OK);

    // The peer resets: the receive fails as an unusable connection, and a
    // send that fails at once still completes as an event and leaves the
    // socket able to send again.
    port = startPeer({"reset"});
    ASSERT_NE(port, 0);
    id = connected(port);
    ASSERT_GE(id, 0);
    ASSERT_EQ(vsock_recv(id, buf, sizeof buf, -1, nullptr), VSOCK_E_PENDING);
    EXPECT_EQ(sendAll(id, "!", 1), 1); // the peer resets after one byte
    Got got;
    ASSERT_TRUE(events.wait(id, VSOCK_EV_RECV, &got));
    EXPECT_EQ(got.result, VSOCK_E_OBJ);
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(vsock_send(id, buf, sizeof buf, -1, nullptr), VSOCK_E_PENDING) << round;
        ASSERT_TRUE(events.wait(id, VSOCK_EV_SEND, &got)) << round;
        EXPECT_EQ(got.result, VSOCK_E_OBJ) << round;
    }
    EXPECT_EQ(vsock_close(id), VSOCK_OK);

    // Nobody listens: the connect fails as refused.
    peer.reset();
    id = open(VSOCK_MODE_CONNECT);
    ASSERT_GE(id, 0);
    const VSockEndpoint remote = endpoint("127.0.0.1", port);
    VSockResult rc = vsock_connect(id, &remote, -1);
    if (rc == VSOCK_E_PENDING) {
        Got got;
        ASSERT_TRUE(events.wait(id, VSOCK_EV_CONNECT, &got));
        rc = got.result;
    }
    EXPECT_EQ(rc, VSOCK_E_OBJ);
    EXPECT_EQ(vsock_close(id), VSOCK_OK);

    // A receive armed while connecting must not take the refusal away from
    // the connect, which would then wait for its deadline.
    for (int round = 0; round < 20; ++round) {
        id = open(VSOCK_MODE_CONNECT);
        ASSERT_GE(id, 0);
        if (vsock_connect(id, &remote, -1) == VSOCK_E_PENDING) {
            ASSERT_EQ(vsock_recv(id, buf, sizeof buf, -1, nullptr), VSOCK_E_PENDING);
            Got got;
            ASSERT_TRUE(events.wait(id, VSOCK_EV_CONNECT, &got, 2000)) << round;
            EXPECT_EQ(got.result, VSOCK_E_OBJ) << round;
            ASSERT_TRUE(events.wait(id, VSOCK_EV_RECV, &got, 2000)) << round;
            EXPECT_LE(got.result, 0) << round; // failed, or "closed"
        }
        EXPECT_EQ(vsock_close(id), VSOCK_OK);
    }
}

// An owner-input stream's input is never taken by the service: its armed
// receive completes inside the owner's wait, on the owner's thread, for
// data, for the peer's end and for a reset alike. Sends still complete.
TEST_F(VsockService, OwnerInputStreamIsReceivedInTheOwnersWait)
{
    const int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    ASSERT_GE(wake, 0);
    uint8_t buf[64];
    uint8_t ready = 9;
    Got got;

    uint16_t port = startPeer({"echo"});
    ASSERT_NE(port, 0);
    int id = connected(port, VSOCK_EVF_OWNER_INPUT);
    ASSERT_GE(id, 0);
    // Nothing armed: the stream is left out of the wait, even with input.
    EXPECT_EQ(sendAll(id, "hi", 2), 2);
    EXPECT_EQ(vsock_waitInput(&id, &ready, 1, wake, 200), 0);
    EXPECT_EQ(ready, 0);
    // Input already there completes the receive at once (or, should the
    // echo be late, the next wait does).
    ASSERT_EQ(vsock_recv(id, buf, sizeof buf, -1, nullptr), VSOCK_E_PENDING);
    if (!events.wait(id, VSOCK_EV_RECV, &got, 0)) {
        EXPECT_EQ(vsock_waitInput(&id, &ready, 1, -1, 5000), 1);
        ASSERT_TRUE(events.wait(id, VSOCK_EV_RECV, &got, 0));
    }
    EXPECT_EQ(got.result, 2);

    // Armed with nothing there: the service does not complete it...
    ASSERT_EQ(vsock_recv(id, buf, sizeof buf, -1, nullptr), VSOCK_E_PENDING);
    EXPECT_EQ(sendAll(id, "hello", 5), 5);
    EXPECT_FALSE(events.wait(id, VSOCK_EV_RECV, &got, 300));
    // ...the owner's wait does, before it returns.
    EXPECT_EQ(vsock_waitInput(&id, &ready, 1, wake, 5000), 1);
    EXPECT_EQ(ready, 1);
    ASSERT_TRUE(events.wait(id, VSOCK_EV_RECV, &got, 0));
    EXPECT_EQ(got.result, 5);
    EXPECT_EQ(memcmp(buf, "hello", 5), 0);

    // With a receive armed and no input, the wake-up descriptor ends the
    // wait and the receive stays armed.
    ASSERT_EQ(vsock_recv(id, buf, sizeof buf, -1, nullptr), VSOCK_E_PENDING);
    const uint64_t one = 1;
    ASSERT_EQ(write(wake, &one, sizeof one), static_cast<ssize_t>(sizeof one));
    EXPECT_EQ(vsock_waitInput(&id, &ready, 1, wake, 5000), 0);
    EXPECT_EQ(ready, 0);
    EXPECT_EQ(events.pending(), 0u);
    EXPECT_EQ(vsock_close(id), VSOCK_OK);
    ASSERT_TRUE(events.wait(id, VSOCK_EV_RECV, &got, 0));
    EXPECT_EQ(got.result, VSOCK_E_NOTOPEN);
    // A closed socket is left out.
    EXPECT_EQ(vsock_waitInput(&id, &ready, 1, -1, 0), 0);

    // The peer's end and its reset reach the armed receive the same way.
    port = startPeer({"close"});
    ASSERT_NE(port, 0);
    id = connected(port, VSOCK_EVF_OWNER_INPUT);
    ASSERT_GE(id, 0);
    EXPECT_EQ(vsock_recv(id, buf, sizeof buf, -1, nullptr), VSOCK_E_PENDING);
    if (!events.wait(id, VSOCK_EV_RECV, &got, 0)) { // the end came after the arming
        EXPECT_EQ(vsock_waitInput(&id, &ready, 1, -1, 5000), 1);
        ASSERT_TRUE(events.wait(id, VSOCK_EV_RECV, &got, 0));
    }
    EXPECT_EQ(got.result, 0);
    EXPECT_EQ(vsock_close(id), VSOCK_OK);

    port = startPeer({"reset"});
    ASSERT_NE(port, 0);
    id = connected(port, VSOCK_EVF_OWNER_INPUT);
    ASSERT_GE(id, 0);
    ASSERT_EQ(vsock_recv(id, buf, sizeof buf, -1, nullptr), VSOCK_E_PENDING);
    EXPECT_EQ(sendAll(id, "!", 1), 1);
    EXPECT_FALSE(events.wait(id, VSOCK_EV_RECV, &got, 300));
    EXPECT_EQ(vsock_waitInput(&id, &ready, 1, -1, 5000), 1);
    ASSERT_TRUE(events.wait(id, VSOCK_EV_RECV, &got, 0));
    EXPECT_EQ(got.result, VSOCK_E_OBJ);
    EXPECT_EQ(vsock_close(id), VSOCK_OK);
    close(wake);
}

// A listener whose backlog is full drops new connection requests, so a
// connect to it never completes: the deadline ends it.
TEST_F(VsockService, ConnectDeadlineAndCloseWhileConnecting)
{
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&in), sizeof in), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    socklen_t len = sizeof in;
    getsockname(listener, reinterpret_cast<sockaddr*>(&in), &len);
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        connect(fd, reinterpret_cast<sockaddr*>(&in), sizeof in);
        fillers.push_back(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    const VSockEndpoint remote = endpoint("127.0.0.1", ntohs(in.sin_port));
    const int a = open(VSOCK_MODE_CONNECT);
    const int b = open(VSOCK_MODE_CONNECT);
    ASSERT_GE(b, 0);
    ASSERT_EQ(vsock_connect(a, &remote, -1), VSOCK_E_PENDING);
    // Handed over while connecting: it must end when the connect does.
    ASSERT_EQ(vsock_send(a, "x", 1, -1, nullptr), VSOCK_E_PENDING);
    ASSERT_EQ(vsock_connect(b, &remote, -1), VSOCK_E_PENDING);
    EXPECT_EQ(vsock_connect(b, &remote, -1), VSOCK_E_PENDING); // still under way
    ASSERT_EQ(vsock_send(b, "y", 1, -1, nullptr), VSOCK_E_PENDING);

    // Closing while connecting reports the connect, and the send handed over
    // meanwhile, as ended by the close.
    EXPECT_EQ(vsock_close(b), VSOCK_OK);
    Got got;
    ASSERT_TRUE(events.wait(b, VSOCK_EV_CONNECT, &got, 100));
    EXPECT_EQ(got.result, VSOCK_E_NOTOPEN);
    ASSERT_TRUE(events.wait(b, VSOCK_EV_SEND, &got, 100));
    EXPECT_EQ(got.result, VSOCK_E_NOTOPEN);

    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(events.wait(a, VSOCK_EV_CONNECT, &got, VSOCK_CONNECT_DEADLINE_MS + 3000));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(got.result, VSOCK_E_TIMEOUT);
    EXPECT_GT(took, std::chrono::milliseconds(VSOCK_CONNECT_DEADLINE_MS - 1000));
    ASSERT_TRUE(events.wait(a, VSOCK_EV_SEND, &got, 1000));
    EXPECT_LT(got.result, 0);
    // The attempt is over for the system too: connecting again starts anew.
    EXPECT_EQ(vsock_connect(a, &remote, -1), VSOCK_E_PENDING);
    EXPECT_EQ(vsock_close(a), VSOCK_OK);
    for (int fd : fillers)
        close(fd);
    close(listener);
}

TEST_F(VsockService, ListenerAcceptsAndOutlivesNoAcceptedSocket)
{
    const uint16_t port = qtest::freePort(SOCK_DGRAM); // any free number will do for TCP as well
    const int listener = open(VSOCK_MODE_LISTEN, "127.0.0.1", port);
    ASSERT_GE(listener, 0);
    ASSERT_EQ(vsock_accept(listener, -1), VSOCK_E_PENDING);
    EXPECT_EQ(vsock_accept(listener, -1), VSOCK_E_PENDING);

    const int client = connected(port);
    ASSERT_GE(client, 0);
    Got got;
    ASSERT_TRUE(events.wait(listener, VSOCK_EV_ACCEPT, &got));
    const int accepted = got.result;
    ASSERT_GE(accepted, 0);
    ASSERT_NE(accepted, client);

    // Both directions between two of our own sockets; the accepted socket
    // reports to the listener's event function.
    const char hello[] = "hello";
    EXPECT_EQ(sendAll(client, hello, 5), 5);
    char buf[16] = {};
    EXPECT_EQ(receive(accepted, buf, sizeof buf), 5);
    EXPECT_STREQ(buf, "hello");
    EXPECT_EQ(sendAll(accepted, "back", 4), 4);
    EXPECT_EQ(receive(client, buf, sizeof buf), 4);

    EXPECT_EQ(vsock_close(listener), VSOCK_E_OBJ);
    EXPECT_EQ(vsock_close(accepted), VSOCK_OK);
    EXPECT_EQ(receive(client, buf, sizeof buf), 0);
    EXPECT_EQ(vsock_close(listener), VSOCK_OK);
    EXPECT_EQ(vsock_close(client), VSOCK_OK);
}

TEST_F(VsockService, PendingOperationsEndWhenTheSocketCloses)
{
    const uint16_t port = startPeer({"echo"});
    ASSERT_NE(port, 0);
    const int id = connected(port);
    ASSERT_GE(id, 0);
    uint8_t buf[16];
    ASSERT_EQ(vsock_recv(id, buf, sizeof buf, -1, nullptr), VSOCK_E_PENDING);
    EXPECT_EQ(vsock_close(id), VSOCK_OK);
    Got got;
    ASSERT_TRUE(events.wait(id, VSOCK_EV_RECV, &got, 100));
    EXPECT_EQ(got.result, VSOCK_E_NOTOPEN);
    EXPECT_EQ(vsock_recv(id, buf, sizeof buf, -1, nullptr), VSOCK_E_NOTOPEN);
}

TEST_F(VsockService, ReceiveTimeOutIsReportedOnTheNextCall)
{
    const uint16_t port = startPeer({"echo"});
    ASSERT_NE(port, 0);
    const int id = connected(port);
    ASSERT_GE(id, 0);
    uint8_t buf[16];
    ASSERT_EQ(vsock_recv(id, buf, sizeof buf, 0, nullptr), VSOCK_E_PENDING);
    EXPECT_EQ(vsock_recv(id, buf, sizeof buf, 0, nullptr), VSOCK_E_TIMEOUT);
    // Back to idle: a new receive is armed and completes.
    ASSERT_EQ(vsock_recv(id, buf, sizeof buf, -1, nullptr), VSOCK_E_PENDING);
    EXPECT_EQ(sendAll(id, "ping", 4), 4);
    Got got;
    ASSERT_TRUE(events.wait(id, VSOCK_EV_RECV, &got));
    EXPECT_EQ(got.result, 4);
    EXPECT_EQ(vsock_close(id), VSOCK_OK);
}

// ---------------------------------------------------------------------------
// Datagrams on loopback (multicast and broadcast run in their own namespace).

class VsockDatagram : public vtest::ServiceTest {
protected:
    void SetUp() override
    {
        ServiceTest::SetUp();
        port = qtest::freePort(SOCK_DGRAM);
        id = open(VSOCK_MODE_DATAGRAM, "127.0.0.1", port);
        ASSERT_GE(id, 0);
        sender = socket(AF_INET, SOCK_DGRAM, 0);
        ASSERT_GE(sender, 0);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(sender, reinterpret_cast<sockaddr*>(&any), sizeof any);
    }
    void TearDown() override
    {
        close(sender);
        ServiceTest::TearDown();
    }
    uint16_t senderPort()
    {
        sockaddr_in in{};
        socklen_t len = sizeof in;
        getsockname(sender, reinterpret_cast<sockaddr*>(&in), &len);
        return ntohs(in.sin_port);
    }
    void sendSize(size_t n, uint8_t seed)
    {
        std::vector<uint8_t> data(n, seed);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(
            sendto(sender, data.data(), n, 0, reinterpret_cast<sockaddr*>(&to), sizeof to), static_cast<ssize_t>(n));
    }
    uint16_t port = 0;
    int id = -1;
    int sender = -1;
};

TEST_F(VsockDatagram, QueueBufferAndOversize)
{
    uint8_t buf[4096];
    VSockEndpoint from;
    EXPECT_EQ(vsock_recvFrom(id, buf, sizeof buf, &from, -1), VSOCK_E_EMPTY);

    sendSize(100, 1);
    sendSize(3000, 2); // larger than the receive buffer: never queued cut
    sendSize(2048, 3); // the largest that is queued
    sendSize(10, 4);
    Got got;
    for (int expected : {100, 2048, 10}) {
        ASSERT_TRUE(events.wait(id, VSOCK_EV_DATAGRAM, &got));
        EXPECT_EQ(got.result, expected);
    }
    EXPECT_EQ(vsock_droppedOversize(id), 1u);

    ASSERT_EQ(vsock_recvFrom(id, buf, 100, &from, -1), 100);
    EXPECT_EQ(buf[0], 1);
    EXPECT_EQ(vtest::text(from.address), "127.0.0.1");
    EXPECT_EQ(from.port, senderPort());

    // Too small a buffer: reported, and the datagram is dropped so that the
    // ones behind it can still be read.
    EXPECT_EQ(vsock_recvFrom(id, buf, 2047, &from, -1), VSOCK_E_BUFFER);
    EXPECT_EQ(vsock_droppedOversize(id), 2u);
    ASSERT_EQ(vsock_recvFrom(id, buf, sizeof buf, &from, -1), 10);
    EXPECT_EQ(buf[0], 4);
    EXPECT_EQ(vsock_recvFrom(id, buf, sizeof buf, &from, -1), VSOCK_E_EMPTY);
}

// A socket whose owner takes its input: the service never reads it, the
// owner's thread waits for it (with its own wake-up descriptor) and reads it.
TEST_F(VsockDatagram, OwnerInputIsWaitedForAndReadByTheOwner)
{
    const uint16_t ownPort = qtest::freePort(SOCK_DGRAM);
    VSockOpenParams params{};
    params.mode = VSOCK_MODE_DATAGRAM;
    params.local = vtest::endpoint("127.0.0.1", ownPort);
    VSockEventOptions options = events.options();
    options.flags |= VSOCK_EVF_OWNER_INPUT;
    const int own = vsock_open(&params, &options);
    ASSERT_GE(own, 0);
    const int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    ASSERT_GE(wake, 0);
    const int ids[] = {own, id}; // the service reads `id`: never part of a wait
    uint8_t ready[2] = {9, 9};
    uint8_t buf[64];
    VSockEndpoint from;

    sendSize(3, 7); // to `id`
    EXPECT_EQ(vsock_waitInput(ids, ready, 2, wake, 0), 0);
    EXPECT_EQ(ready[0], 0);
    EXPECT_EQ(ready[1], 0);
    EXPECT_EQ(vsock_recvFrom(own, buf, sizeof buf, &from, -1), VSOCK_E_EMPTY);

    // The wake-up descriptor ends the wait and is drained by it.
    const uint64_t one = 1;
    ASSERT_EQ(write(wake, &one, sizeof one), static_cast<ssize_t>(sizeof one));
    EXPECT_EQ(vsock_waitInput(ids, ready, 2, wake, -1), 0);
    uint64_t count = 0;
    EXPECT_LT(read(wake, &count, sizeof count), 0);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(ownPort);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (const char* text : {"ab", "cde"})
        ASSERT_GT(sendto(sender, text, strlen(text), 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    EXPECT_EQ(vsock_waitInput(ids, ready, 2, wake, 5000), 1);
    EXPECT_EQ(ready[0], 1);
    EXPECT_EQ(ready[1], 0);
    ASSERT_EQ(vsock_recvFrom(own, buf, sizeof buf, &from, -1), 2);
    EXPECT_EQ(from.port, senderPort());
    // Still one queued: the wait says so at once.
    EXPECT_EQ(vsock_waitInput(ids, ready, 1, -1, 5000), 1);
    ASSERT_EQ(vsock_recvFrom(own, buf, sizeof buf, &from, -1), 3);
    EXPECT_EQ(memcmp(buf, "cde", 3), 0);
    EXPECT_EQ(vsock_recvFrom(own, buf, sizeof buf, &from, -1), VSOCK_E_EMPTY);
    Got got;
    EXPECT_FALSE(events.wait(own, VSOCK_EV_DATAGRAM, &got, 200));

    EXPECT_EQ(vsock_waitInput(nullptr, ready, 1, -1, 0), VSOCK_E_PARAM);
    EXPECT_EQ(vsock_waitInput(ids, ready, -1, -1, 0), VSOCK_E_PARAM);
    close(wake);
    EXPECT_EQ(vsock_close(own), VSOCK_OK);
}

TEST_F(VsockDatagram, FullRingDropsNewDatagramsAndKeepsOld)
{
    // 2000 bytes take 500 + 8 words: four fit in 2047 free words.
    for (uint8_t i = 0; i < 6; ++i)
        sendSize(2000, i);
    Got got;
    std::vector<int32_t> results;
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(events.wait(id, VSOCK_EV_DATAGRAM, &got));
        results.push_back(got.result);
    }
    EXPECT_EQ(results, (std::vector<int32_t>{2000, 2000, 2000, 2000, VSOCK_E_RESOURCE, VSOCK_E_RESOURCE}));
    uint8_t buf[2048];
    for (uint8_t i = 0; i < 4; ++i) {
        ASSERT_EQ(vsock_recvFrom(id, buf, sizeof buf, nullptr, -1), 2000);
        EXPECT_EQ(buf[1999], i);
    }
    EXPECT_EQ(vsock_recvFrom(id, buf, sizeof buf, nullptr, -1), VSOCK_E_EMPTY);
    // Room again.
    sendSize(5, 9);
    ASSERT_TRUE(events.wait(id, VSOCK_EV_DATAGRAM, &got));
    EXPECT_EQ(got.result, 5);
}

TEST_F(VsockDatagram, UnboundSocketSendsAndClosingEndsTheSend)
{
    const int unbound = open(VSOCK_MODE_DATAGRAM, "0.0.0.0", 0);
    ASSERT_GE(unbound, 0);
    const char text[] = "datagram";
    const VSockEndpoint to = endpoint("127.0.0.1", port);
    ASSERT_EQ(vsock_sendTo(unbound, text, 8, &to, -1), VSOCK_E_PENDING);
    Got got;
    ASSERT_TRUE(events.wait(unbound, VSOCK_EV_SENDTO, &got));
    EXPECT_EQ(got.result, 8);
    ASSERT_TRUE(events.wait(id, VSOCK_EV_DATAGRAM, &got));
    char buf[16] = {};
    VSockEndpoint from;
    ASSERT_EQ(vsock_recvFrom(id, buf, sizeof buf, &from, -1), 8);
    EXPECT_STREQ(buf, "datagram");
    EXPECT_NE(from.port, 0); // bound by its first send

    EXPECT_EQ(vsock_sendTo(unbound, nullptr, 8, &to, -1), VSOCK_E_PARAM);
    EXPECT_EQ(vsock_sendTo(unbound, text, 8, nullptr, -1), VSOCK_E_PARAM);
    EXPECT_EQ(vsock_close(unbound), VSOCK_OK);
    ASSERT_TRUE(events.wait(unbound, VSOCK_EV_DATAGRAM, &got));
    EXPECT_EQ(got.result, VSOCK_E_NOTOPEN);
}

// ---------------------------------------------------------------------------
// Several threads opening, using and closing sockets at once.

TEST_F(VsockService, ManyThreadsOpenAndCloseSockets)
{
    const uint16_t port = startPeer({"echo"});
    ASSERT_NE(port, 0);
    const uint16_t closedPort = qtest::freePort(SOCK_DGRAM); // nobody listens there
    std::atomic<int> failures{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            vtest::Events own;
            const VSockEventOptions o = own.options();
            for (int i = 0; i < 200 && !stop.load(); ++i) {
                VSockOpenParams p{};
                p.mode = (i + t) % 2 ? VSOCK_MODE_CONNECT : VSOCK_MODE_DATAGRAM;
                p.local = endpoint("127.0.0.1", 0);
                const int id = vsock_open(&p, &o);
                if (id == VSOCK_E_RESOURCE)
                    continue; // all slots taken by the other threads
                if (id < 0) {
                    ++failures;
                    continue;
                }
                // Refused connects and datagrams complete on the service
                // thread while other threads close and reopen records.
                if (p.mode == VSOCK_MODE_CONNECT) {
                    const VSockEndpoint remote = endpoint("127.0.0.1", closedPort);
                    vsock_connect(id, &remote, -1);
                } else {
                    const VSockEndpoint to = endpoint("127.0.0.1", closedPort);
                    vsock_sendTo(id, "x", 1, &to, -1);
                }
                if (i % 3 == 0)
                    std::this_thread::yield();
                if (vsock_close(id) != VSOCK_OK)
                    ++failures;
            }
        });
    }
    // Meanwhile one connection keeps data flowing through the service.
    [&] {
        const int id = connected(port);
        ASSERT_GE(id, 0);
        uint8_t buf[64];
        for (int i = 0; i < 50; ++i) {
            ASSERT_EQ(sendAll(id, "0123456789", 10), 10);
            int got = 0;
            while (got < 10) {
                const int32_t n = receive(id, buf, sizeof buf);
                ASSERT_GT(n, 0);
                got += n;
            }
        }
        EXPECT_EQ(vsock_close(id), VSOCK_OK);
    }();
    stop.store(true);
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures.load(), 0);
}

} // namespace
