// Datagram sockets against a plain UDP socket on loopback.
#include "tests/pbd/vcom/test_vcom_support.h"

#include <poll.h>

namespace {

using namespace VCOM;
using vcomtest::address;
using vcomtest::Owner;

// A plain UDP socket on 127.0.0.1 as the other end.
class Plain {
public:
    Plain()
    {
        fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in in{};
        in.sin_family = AF_INET;
        in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&in), sizeof in);
        socklen_t len = sizeof in;
        getsockname(fd, reinterpret_cast<sockaddr*>(&in), &len);
        port = ntohs(in.sin_port);
    }
    ~Plain() { close(fd); }
    void sendTo(uint16_t to, const std::string& data) const
    {
        sockaddr_in in{};
        in.sin_family = AF_INET;
        in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        in.sin_port = htons(to);
        sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&in), sizeof in);
    }
    // One datagram, or "" after a second.
    std::string receive() const
    {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 1000) != 1)
            return "";
        char buffer[4096];
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "";
    }
    int fd;
    uint16_t port = 0;
};

class VcomUdp : public vcomtest::ServiceTest {
protected:
    void SetUp() override
    {
        ServiceTest::SetUp();
        o.socket = &s;
        o.drain = false;
        o.onReceive = [this] {
            char buffer[2048];
            for (int i = 0; i < 100; ++i) {
                uint32_t n = 0;
                if (s.read(buffer, sizeof buffer, &n) != VCOM_OK || n == 0)
                    break;
                datagrams.emplace_back(buffer, n);
                s.getSourceAddress(&from, &fromPort);
            }
        };
        s.attach(3, &o);
        port = qtest::freePort(SOCK_STREAM); // free for UDP as well, most likely
        ASSERT_EQ(s.open(address("127.0.0.1"), port), VCOM_OK);
        ASSERT_EQ(s.setDestination(address("127.0.0.1"), plain.port), VCOM_OK);
    }

    VComUdpSocket s;
    Owner o;
    Plain plain;
    uint16_t port = 0;
    std::vector<std::string> datagrams;
    VComSocketAddress from; // sender of the last datagram read
    uint16_t fromPort = 0;
};

TEST_F(VcomUdp, ReceiveWithSourceAndSendUpToTheLimit)
{
    EXPECT_EQ(s.open(address("127.0.0.1"), 0), VCOM_E_STATE);
    char b[4];
    uint32_t n = 7;
    EXPECT_EQ(s.read(b, sizeof b, &n), VCOM_OK) << "empty queue";
    EXPECT_EQ(n, 0u);

    plain.sendTo(port, "hello");
    plain.sendTo(port, "world");
    ASSERT_TRUE(o.pump([&] { return datagrams.size() == 2; }));
    EXPECT_EQ(datagrams[0], "hello");
    EXPECT_EQ(datagrams[1], "world");
    EXPECT_EQ(fromPort, plain.port);
    EXPECT_EQ(memcmp(from.record().addr, "\x7f\x00\x00\x01", 4), 0);

    const std::string big(VCOM_UDP_DATAGRAM_MAX + 1, 'x');
    EXPECT_EQ(s.write(big.data(), VCOM_UDP_DATAGRAM_MAX + 1, &n), VCOM_E_INCOMPLETE);
    EXPECT_EQ(s.writableSpace(), VCOM_UDP_DATAGRAM_MAX);
    EXPECT_EQ(s.write(big.data(), VCOM_UDP_DATAGRAM_MAX, &n), VCOM_PENDING);
    EXPECT_EQ(n, VCOM_UDP_DATAGRAM_MAX);
    EXPECT_EQ(s.write("y", 1, &n), VCOM_E_INCOMPLETE) << "one datagram at a time";
    EXPECT_EQ(s.writableSpace(), 0u);
    ASSERT_TRUE(o.pump([&] { return o.sends == 1; }));
    EXPECT_EQ(plain.receive(), std::string(VCOM_UDP_DATAGRAM_MAX, 'x'));
    EXPECT_EQ(s.writableSpace(), VCOM_UDP_DATAGRAM_MAX);
}

TEST_F(VcomUdp, AFailedSendDoesNotBlockLaterDatagrams)
{
    ASSERT_EQ(s.setDestination(VComSocketAddress(), 9), VCOM_OK); // nowhere
    uint32_t n = 0;
    EXPECT_GE(s.write("lost", 4, &n), 0);
    ASSERT_TRUE(o.pump([&] { return !o.log.empty(); }));
    EXPECT_EQ(o.log[0], "commfailed:0");
    EXPECT_EQ(s.writableSpace(), VCOM_UDP_DATAGRAM_MAX);

    ASSERT_EQ(s.setDestination(address("127.0.0.1"), plain.port), VCOM_OK);
    EXPECT_EQ(s.write("next", 4, &n), VCOM_PENDING);
    EXPECT_EQ(plain.receive(), "next");
}

TEST_F(VcomUdp, ClosedSocket)
{
    VComUdpSocket closed;
    uint32_t n = 0;
    char b[4];
    EXPECT_EQ(closed.write("a", 1, &n), VCOM_E_STATE);
    EXPECT_EQ(closed.read(b, 4, &n), VCOM_E_STATE);
    EXPECT_EQ(closed.setDestination(address("127.0.0.1"), 1), VCOM_E_STATE);
    EXPECT_EQ(closed.write(nullptr, 1, &n), VCOM_E_ARG);
}

} // namespace
