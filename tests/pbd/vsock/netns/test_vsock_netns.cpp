// Datagrams, broadcast and multicast through the socket service, between the
// test's own network namespace and a peer namespace (see support/netns.h).
#include "tests/pbd/vsock/vsock_test_events.h"

#include "tests/support/netns.h"
#include "tests/support/test_support.h"

#include <memory>
#include <sstream>

namespace {

using qtest::NetnsBed;
using vtest::endpoint;
using vtest::Got;

constexpr uint16_t kPort = 30303;
constexpr const char* kGroup = "239.192.0.64";

class VsockNetns : public vtest::ServiceTest {
protected:
    void SetUp() override
    {
        if (!qtest::insideTestNetns())
            return; // the outer run only starts the inner one
        ServiceTest::SetUp();
    }
    void TearDown() override
    {
        bed.reset();
        if (qtest::insideTestNetns())
            ServiceTest::TearDown();
    }

    // The bed, and a datagram socket `id` on the local address and kPort.
    bool setUpNet()
    {
        bed = std::make_unique<NetnsBed>();
        if (!bed->ready()) {
            ADD_FAILURE() << bed->error();
            return false;
        }
        id = open(VSOCK_MODE_DATAGRAM, NetnsBed::kLocalAddress, kPort);
        EXPECT_GE(id, 0);
        return id >= 0;
    }

    // Reads the peer's next "DGRAM <ip> <port> <len> <hex>" line.
    bool peerDatagram(qtest::ChildProcess& peer, std::string* ip, int* port, std::string* hex)
    {
        std::string line;
        if (!peer.readLine(&line))
            return false;
        std::istringstream in(line);
        std::string word;
        int len = 0;
        in >> word >> *ip >> *port >> len >> *hex;
        return word == "DGRAM";
    }

    std::string takeDatagram(int id, VSockEndpoint* from)
    {
        Got got;
        if (!events.wait(id, VSOCK_EV_DATAGRAM, &got))
            return "<none>";
        if (got.result < 0)
            return "<error>";
        char buf[2048];
        const VSockResult n = vsock_recvFrom(id, buf, sizeof buf, from, -1);
        return n >= 0 ? std::string(buf, static_cast<size_t>(n)) : "<error>";
    }

    std::unique_ptr<NetnsBed> bed;
    int id = -1;
};

TEST_F(VsockNetns, UnicastBothWaysFromTheOwnAddress)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(setUpNet());

    qtest::ChildProcess peer(bed->inPeer(qtest::pythonPeer("vsock_udp_peer.py", {"echo", "0.0.0.0", "4000"})));
    std::string line;
    ASSERT_TRUE(peer.readLine(&line));
    ASSERT_EQ(line, "READY");

    const VSockEndpoint to = endpoint(NetnsBed::kPeerAddress, 4000);
    ASSERT_EQ(vsock_sendTo(id, "hello", 5, &to, -1), VSOCK_E_PENDING);
    Got got;
    ASSERT_TRUE(events.wait(id, VSOCK_EV_SENDTO, &got));
    EXPECT_EQ(got.result, 5);

    // The peer sees our own address and port, although the socket is bound
    // to any address.
    std::string ip, hex;
    int port = 0;
    ASSERT_TRUE(peerDatagram(peer, &ip, &port, &hex));
    EXPECT_EQ(ip, NetnsBed::kLocalAddress);
    EXPECT_EQ(port, kPort);
    EXPECT_EQ(hex, "68656c6c6f");

    VSockEndpoint from;
    EXPECT_EQ(takeDatagram(id, &from), "hello");
    EXPECT_EQ(vtest::text(from.address), NetnsBed::kPeerAddress);
    EXPECT_EQ(from.port, 4000);
}

TEST_F(VsockNetns, BroadcastBothWays)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(setUpNet());
    qtest::ChildProcess peer(bed->inPeer(qtest::pythonPeer("vsock_udp_peer.py", {"echo", "0.0.0.0", "4001"})));
    std::string line;
    ASSERT_TRUE(peer.readLine(&line));

    // Ours to the subnet broadcast reaches the peer; its echo is unicast.
    const VSockEndpoint to = endpoint(NetnsBed::kBroadcast, 4001);
    ASSERT_EQ(vsock_sendTo(id, "bcast", 5, &to, -1), VSOCK_E_PENDING);
    std::string ip, hex;
    int port = 0;
    ASSERT_TRUE(peerDatagram(peer, &ip, &port, &hex));
    EXPECT_EQ(ip, NetnsBed::kLocalAddress);
    EXPECT_EQ(hex, "6263617374");
    VSockEndpoint from;
    EXPECT_EQ(takeDatagram(id, &from), "bcast");

    // The peer's broadcast reaches the socket bound to the unicast address.
    qtest::ChildProcess sender(bed->inPeer(qtest::pythonPeer("vsock_udp_peer.py",
        {"send", NetnsBed::kBroadcast, std::to_string(kPort), "7075736831", "1", NetnsBed::kPeerAddress})));
    ASSERT_TRUE(sender.readLine(&line));
    EXPECT_EQ(takeDatagram(id, &from), "push1");
    EXPECT_EQ(vtest::text(from.address), NetnsBed::kPeerAddress);
}

TEST_F(VsockNetns, MulticastJoinSendAndReceive)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(setUpNet());
    VSockAddress group{};
    ASSERT_EQ(vsock_textToAddress(VSOCK_FAMILY_IPV4, kGroup, &group), VSOCK_OK);

    // Joining works on the socket asked for, and reports failures.
    const int stream = open(VSOCK_MODE_CONNECT);
    EXPECT_EQ(vsock_joinGroup(stream, &group), VSOCK_E_OBJ);
    EXPECT_EQ(vsock_joinGroup(63, &group), VSOCK_E_NOTOPEN);
    VSockAddress v6{};
    ASSERT_EQ(vsock_textToAddress(VSOCK_FAMILY_IPV6, "ff02::1", &v6), VSOCK_OK);
    EXPECT_EQ(vsock_joinGroup(id, &v6), VSOCK_E_PARAM);
    VSockAddress notGroup{};
    ASSERT_EQ(vsock_textToAddress(VSOCK_FAMILY_IPV4, "198.18.0.9", &notGroup), VSOCK_OK);
    EXPECT_LT(vsock_joinGroup(id, &notGroup), 0);
    ASSERT_EQ(vsock_joinGroup(id, &group), VSOCK_OK);
    EXPECT_EQ(vsock_joinGroup(id, &group), VSOCK_E_SOCKET); // already a member

    // A second socket on the same port that did not join hears nothing.
    const int other = open(VSOCK_MODE_DATAGRAM, NetnsBed::kLocalAddress, kPort);
    ASSERT_GE(other, 0);

    // The peer's group datagram arrives.
    std::string line;
    qtest::ChildProcess sender(bed->inPeer(qtest::pythonPeer(
        "vsock_udp_peer.py", {"send", kGroup, std::to_string(kPort), "6d63617374", "1", NetnsBed::kPeerAddress})));
    ASSERT_TRUE(sender.readLine(&line));
    VSockEndpoint from;
    EXPECT_EQ(takeDatagram(id, &from), "mcast");
    EXPECT_EQ(vtest::text(from.address), NetnsBed::kPeerAddress);
    Got got;
    EXPECT_FALSE(events.wait(other, VSOCK_EV_DATAGRAM, &got, 200));

    // Ours to the group leaves on the chosen interface and reaches a peer
    // that joined on its side.
    qtest::ChildProcess peer(bed->inPeer(
        qtest::pythonPeer("vsock_udp_peer.py", {"echo", "0.0.0.0", "4002", kGroup, NetnsBed::kPeerAddress})));
    ASSERT_TRUE(peer.readLine(&line));
    const VSockEndpoint to = endpoint(kGroup, 4002);
    ASSERT_EQ(vsock_sendTo(id, "group", 5, &to, -1), VSOCK_E_PENDING);
    std::string ip, hex;
    int port = 0;
    ASSERT_TRUE(peerDatagram(peer, &ip, &port, &hex));
    EXPECT_EQ(ip, NetnsBed::kLocalAddress);
    EXPECT_EQ(hex, "67726f7570");
}

// A socket opened on the veth address takes only what arrives on the veth
// interface; the same port reached over loopback is not its traffic.
TEST_F(VsockNetns, OtherInterfacesAreFilteredOut)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(setUpNet());
    std::string line;
    qtest::ChildProcess local(
        qtest::pythonPeer("vsock_udp_peer.py", {"send", "127.0.0.1", std::to_string(kPort), "6c6f", "3"}));
    ASSERT_TRUE(local.readLine(&line));
    qtest::ChildProcess remote(bed->inPeer(
        qtest::pythonPeer("vsock_udp_peer.py", {"send", NetnsBed::kLocalAddress, std::to_string(kPort), "7665"})));
    ASSERT_TRUE(remote.readLine(&line));
    VSockEndpoint from;
    EXPECT_EQ(takeDatagram(id, &from), "ve");
    Got got;
    EXPECT_FALSE(events.wait(id, VSOCK_EV_DATAGRAM, &got, 200));
    uint8_t buf[16];
    EXPECT_EQ(vsock_recvFrom(id, buf, sizeof buf, &from, -1), VSOCK_E_EMPTY);
}

TEST_F(VsockNetns, OversizeDatagramFromThePeerIsDroppedAndCounted)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(setUpNet());
    std::string line;
    qtest::ChildProcess peer(bed->inPeer(qtest::pythonPeer(
        "vsock_udp_peer.py", {"sendsizes", NetnsBed::kLocalAddress, std::to_string(kPort), "1472", "8000", "20"})));
    ASSERT_TRUE(peer.readLine(&line));
    VSockEndpoint from;
    EXPECT_EQ(takeDatagram(id, &from).size(), 1472u);
    EXPECT_EQ(takeDatagram(id, &from).size(), 20u);
    EXPECT_EQ(vsock_droppedOversize(id), 1u);
}

} // namespace
