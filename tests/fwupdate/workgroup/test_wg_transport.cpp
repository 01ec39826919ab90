// The TCP transport against the peer on [::1]: connecting (never to a port
// that refuses), framing across segments and after junk, a unit that closes
// or stops reading, and teardown in every state.
#include "fwupdate/workgroup/wg_transport.h"

#include "fwupdate/workgroup/wg_message.h"
#include "tests/fwupdate/workgroup/wg_fixture.h"
#include "tests/support/netns.h"

#include <gtest/gtest.h>

#include <mutex>

#include <arpa/inet.h>
#include <array>
#include <ctime>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace WG;
using wgtest::pumpUntil;
using wgtest::toHex;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRoundMs = 200;
constexpr int kReadWaitMs = 50;
constexpr int kErrorSleepMs = 300;
constexpr int kJoinMs = 200;
// Python starts slowly on a loaded machine.
constexpr int kPeerLineMs = 30000;

class RecordingOwner : public QObject, public TcpOwnerIF {
public:
    struct Result {
        bool success;
        int kind;
    };
    bool receive(const uint8_t* buffer, uint32_t length) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_messages.push_back(QByteArray(reinterpret_cast<const char*>(buffer), static_cast<int>(length)));
        m_arrivals.push_back(Clock::now());
        return true;
    }
    QObject* connectEventTarget() override { return this; }

    std::vector<QByteArray> messages()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_messages;
    }
    std::vector<Clock::time_point> arrivals()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_arrivals;
    }
    std::vector<Result> results;

protected:
    void customEvent(QEvent* event) override
    {
        if (event->type() == SessionConnectEvent::kType) {
            auto* e = static_cast<SessionConnectEvent*>(event);
            results.push_back({e->success(), e->kind()});
        }
    }

private:
    std::mutex m_lock;
    std::vector<QByteArray> m_messages;
    std::vector<Clock::time_point> m_arrivals;
};

class WorkgroupTransport : public testing::Test {
protected:
    void SetUp() override
    {
        TransportTimes& t = transportTimes();
        t.connectRoundMs = kRoundMs;
        t.readWaitMs = kReadWaitMs;
        t.errorSleepMs = kErrorSleepMs;
        t.threadJoinMs = kJoinMs;
    }

    // Starts the raw peer and connects a transport of kind 2 to it.
    void connectToPeer(const std::vector<std::string>& extra = {})
    {
        std::vector<std::string> args = {"raw"};
        args.insert(args.end(), extra.begin(), extra.end());
        peer = std::make_unique<qtest::ChildProcess>(qtest::pythonPeer("workgroup_peer.py", args), true);
        std::string first;
        ASSERT_TRUE(peer->readLine(&first, kPeerLineMs));
        ASSERT_EQ(first.rfind("PORT ", 0), 0u) << first;
        const int port = std::stoi(first.substr(5));
        transport = std::make_unique<TCPCommunication>(&owner, 2);
        ASSERT_TRUE(transport->connectTo("::1", port));
        ASSERT_TRUE(pumpUntil([&] { return !owner.results.empty(); }, kPeerLineMs));
        ASSERT_TRUE(owner.results[0].success);
        EXPECT_EQ(owner.results[0].kind, 2);
        expectLine("CONNECTED");
    }
    void expectLine(const std::string& wanted)
    {
        std::string line;
        ASSERT_TRUE(peer->readLine(&line, kPeerLineMs)) << "waiting for " << wanted;
        EXPECT_EQ(line, wanted);
    }
    void command(const std::string& text)
    {
        ASSERT_TRUE(peer->writeLine(text));
        std::string word = text.substr(0, text.find(' '));
        expectLine("DONE " + word);
    }

    RecordingOwner owner;
    std::unique_ptr<qtest::ChildProcess> peer;
    std::unique_ptr<TCPCommunication> transport;
};

// A socket bound to a port of [::1] that refuses connects until listen().
struct HeldPort {
    HeldPort()
    {
        fd = ::socket(AF_INET6, SOCK_STREAM, 0);
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_addr = in6addr_loopback;
        socklen_t len = sizeof a;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0
            && getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port = ntohs(a.sin6_port);
    }
    ~HeldPort() { ::close(fd); }
    int fd = -1;
    uint16_t port = 0;
};

TEST_F(WorkgroupTransport, RefusedPortIsRetriedUntilItListens)
{
    HeldPort held;
    ASSERT_NE(held.port, 0);
    TCPCommunication t(&owner, 0);
    ASSERT_TRUE(t.connectTo("::1", held.port));
    // Several rounds of refusals: never a result, above all no success.
    wgtest::pumpFor(kRoundMs * 4);
    EXPECT_TRUE(owner.results.empty());
    const auto listening = Clock::now();
    ASSERT_EQ(::listen(held.fd, 1), 0);
    ASSERT_TRUE(pumpUntil([&] { return !owner.results.empty(); }));
    EXPECT_TRUE(owner.results[0].success);
    EXPECT_EQ(owner.results[0].kind, 0);
    // The next round picks it up.
    EXPECT_LT(Clock::now() - listening, std::chrono::milliseconds(kRoundMs * 10));
    const int accepted = ::accept(held.fd, nullptr, nullptr);
    EXPECT_GE(accepted, 0);
    ::close(accepted);
}

TEST_F(WorkgroupTransport, UnresolvableHostGivesAFailedConnect)
{
    // In a namespace of its own: a name lookup must not leave this machine.
    QTEST_IN_NETNS();
    TCPCommunication t(&owner, 3);
    ASSERT_TRUE(t.connectTo("no-such-unit.invalid", 50000));
    ASSERT_TRUE(pumpUntil([&] { return !owner.results.empty(); }));
    EXPECT_FALSE(owner.results[0].success);
    EXPECT_EQ(owner.results[0].kind, 3);
    EXPECT_FALSE(t.send(buildStatusRequest(1)));
}

TEST_F(WorkgroupTransport, FramesAcrossSegmentsInOrder)
{
    connectToPeer();
    const QByteArray a = buildStatusRequest(0x1111);
    const QByteArray b = buildFirmwareUpdateStart(2, std::array<uint8_t, 16>{}.data(), 7, "name.xml");
    QByteArray vrcp = buildKeepAlive(3);
    vrcp.replace(0, 4, "VRCP");
    command("split " + toHex(a + b) + " 3 2");
    command("send " + toHex(vrcp));
    ASSERT_TRUE(pumpUntil([&] { return owner.messages().size() == 3; }));
    const auto got = owner.messages();
    EXPECT_EQ(got[0], a);
    EXPECT_EQ(got[1], b);
    EXPECT_EQ(got[2], vrcp); // framed and handed over; refusing it is the owner's

    // And the other way: two messages queued back to back arrive whole, in
    // order.
    EXPECT_TRUE(transport->send(buildInterruptRequest(5)));
    EXPECT_TRUE(transport->send(buildInterruptDisconnect(5)));
    expectLine("MSG 1/4 total=28 inner=16 wg=0000000000000005");
    expectLine("MSG 1/6 total=28 inner=16 wg=0000000000000005");
    EXPECT_FALSE(transport->send(QByteArray()));
}

TEST_F(WorkgroupTransport, FramingErrorsAreReadPast)
{
    connectToPeer();
    const QByteArray good = buildStatusRequest(9);
    // Junk: dropped 4 bytes at a time, the stream stays in step.
    command("send 6a756e6b6a756e6b" + toHex(good));
    ASSERT_TRUE(pumpUntil([&] { return owner.messages().size() == 1; }));
    EXPECT_EQ(owner.messages()[0], good);

    // A length of 4: the error road, a pause, then the next message.
    const auto sent = Clock::now();
    command("send 56574d5000000004" + toHex(good));
    ASSERT_TRUE(pumpUntil([&] { return owner.messages().size() == 2; }));
    EXPECT_GE(owner.arrivals()[1] - sent, std::chrono::milliseconds(kErrorSleepMs - 50));

    // A length far above any message: skipped without being kept, and the
    // message after it arrives.
    const uint32_t huge = 2 * 1024 * 1024;
    QByteArray oversize("VWMP", 4);
    for (int shift = 24; shift >= 0; shift -= 8)
        oversize.append(static_cast<char>(huge >> shift));
    oversize.append(static_cast<int>(huge - 8), 'x');
    command("send " + toHex(oversize + good));
    ASSERT_TRUE(pumpUntil([&] { return owner.messages().size() == 3; }));
    EXPECT_EQ(owner.messages()[2], good);
    EXPECT_EQ(owner.messages().size(), 3u);
}

double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

TEST_F(WorkgroupTransport, ClosedStreamLeavesTheReceiverIdle)
{
    connectToPeer();
    ASSERT_TRUE(peer->writeLine("close"));
    expectLine("CLOSED");
    expectLine("DONE close");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const double before = processCpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_LT(processCpuSeconds() - before, 0.1);
    const auto start = Clock::now();
    transport.reset();
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(kJoinMs * 3));
}

TEST_F(WorkgroupTransport, UnitThatStopsReadingBlocksNobody)
{
    connectToPeer({"--rcvbuf", "4096"});
    command("stopread");
    const QByteArray big(60000, '\x5a');
    QByteArray message("VWMP", 4);
    const auto start = Clock::now();
    const QByteArray whole = message + big;
    for (int i = 0; i < 150; ++i)
        ASSERT_TRUE(transport->send(whole));
    // 9 MB cannot all be in flight to a unit that reads nothing: send() only
    // queued them (a send under the queue lock would block here for good).
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    const auto teardown = Clock::now();
    transport.reset();
    EXPECT_LT(Clock::now() - teardown, std::chrono::milliseconds(kJoinMs * 2 + 1000));
}

TEST_F(WorkgroupTransport, LastQueuedMessageGoesOutBeforeTeardown)
{
    connectToPeer();
    ASSERT_TRUE(transport->send(buildManagementDisconnect(0x00aa000000000000ull)));
    transport.reset();
    expectLine("MSG 1/2 total=28 inner=16 wg=00aa000000000000");
    expectLine("EOF");
}

TEST_F(WorkgroupTransport, TeardownWhileRetryingEndsWithinARound)
{
    HeldPort held;
    transportTimes().connectRoundMs = 2000;
    auto t = std::make_unique<TCPCommunication>(&owner, 1);
    ASSERT_TRUE(t->connectTo("::1", held.port));
    wgtest::pumpFor(300);
    const auto start = Clock::now();
    t.reset();
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2000));
    wgtest::pumpFor(50);
    EXPECT_TRUE(owner.results.empty());
}

} // namespace
