// Datagram sockets on loopback and the socket set.
#include "dante/support/aud_fdset.h"
#include "dante/support/aud_socket.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <memory>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace {

// An open UDP socket bound to 127.0.0.1 on a free port, closed at the end.
struct Bound {
    aud_socket s = AUD_SOCKET_INVALID;
    aud_sockaddr address{};

    Bound()
    {
        EXPECT_EQ(aud_socket_udp_open(&s, AF_INET), AUD_SUCCESS);
        aud_sockaddr any{};
        aud_sockaddr_from_text(&any, AF_INET, "127.0.0.1", 0);
        EXPECT_EQ(aud_socket_bind(s, &any), AUD_SUCCESS);
        EXPECT_EQ(aud_socket_local_address(s, &address), AUD_SUCCESS);
    }
    ~Bound() { aud_socket_close(&s); }
};

bool waitReadable(aud_socket s, int timeoutMs = 2000)
{
    pollfd p{s, POLLIN, 0};
    return poll(&p, 1, timeoutMs) == 1;
}

aud_error sendText(aud_socket s, const std::string& text, const aud_sockaddr* to)
{
    size_t n = text.size();
    const aud_error e = aud_socket_sendto(s, text.data(), &n, to);
    EXPECT_TRUE(e != AUD_SUCCESS || n == text.size());
    return e;
}

TEST(AudSocket, OpenCloseAndTheInvalidSocket)
{
    aud_socket s = 5;
    EXPECT_EQ(aud_socket_udp_open(&s, AF_INET), AUD_INVALIDPARAMETER);
    EXPECT_EQ(s, 5);
    s = AUD_SOCKET_INVALID;
    ASSERT_EQ(aud_socket_udp_open(&s, AF_INET), AUD_SUCCESS);
    EXPECT_TRUE(aud_socket_valid(s));
    EXPECT_NE(fcntl(s, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_NE(fcntl(s, F_GETFD) & FD_CLOEXEC, 0);
    ASSERT_EQ(aud_socket_set_blocking(s, true), AUD_SUCCESS);
    EXPECT_EQ(fcntl(s, F_GETFL) & O_NONBLOCK, 0);
    ASSERT_EQ(aud_socket_set_blocking(s, false), AUD_SUCCESS);
    EXPECT_NE(fcntl(s, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_EQ(aud_socket_close(&s), AUD_SUCCESS);
    EXPECT_EQ(s, AUD_SOCKET_INVALID);
    EXPECT_EQ(aud_socket_close(&s), AUD_SUCCESS);
    EXPECT_EQ(aud_socket_close(nullptr), AUD_INVALIDPARAMETER);

    char buffer[4];
    size_t n = sizeof buffer;
    aud_sockaddr any{};
    aud_sockaddr_any(&any, AF_INET, 0);
    aud_msginfo info{};
    EXPECT_EQ(aud_socket_recv(AUD_SOCKET_INVALID, buffer, &n), AUD_INVALIDPARAMETER);
    EXPECT_EQ(aud_socket_send(AUD_SOCKET_INVALID, buffer, &n), AUD_INVALIDPARAMETER);
    EXPECT_EQ(aud_socket_sendto(AUD_SOCKET_INVALID, buffer, &n, &any), AUD_INVALIDPARAMETER);
    EXPECT_EQ(aud_socket_recvmsg(AUD_SOCKET_INVALID, buffer, &n, &info), AUD_INVALIDPARAMETER);
    EXPECT_EQ(aud_socket_bind(AUD_SOCKET_INVALID, &any), AUD_INVALIDPARAMETER);
    EXPECT_EQ(aud_socket_set_reuse_addr(AUD_SOCKET_INVALID, 1), AUD_INVALIDPARAMETER);
    EXPECT_EQ(aud_socket_set_multicast_if(AUD_SOCKET_INVALID, nullptr), AUD_INVALIDPARAMETER);
}

TEST(AudSocket, FailedConnectLeavesNoSocketOpen)
{
    // An IPv6 family with an IPv4-sized record: the system refuses the connect.
    aud_sockaddr odd{};
    aud_sockaddr_from_text(&odd, AF_INET, "127.0.0.1", 9);
    odd.addr.sa.sa_family = AF_INET6;
    aud_socket s = AUD_SOCKET_INVALID;
    aud_socket probe = AUD_SOCKET_INVALID;
    ASSERT_EQ(aud_socket_udp_open(&probe, AF_INET), AUD_SUCCESS);
    const aud_socket next = probe; // the number the next socket gets
    aud_socket_close(&probe);
    EXPECT_EQ(aud_socket_udp_connect(&s, &odd), AUD_INVALIDPARAMETER);
    EXPECT_EQ(s, AUD_SOCKET_INVALID);
    EXPECT_EQ(fcntl(next, F_GETFD), -1); // closed again
}

TEST(AudSocket, DatagramsOnLoopback)
{
    Bound a, b;
    ASSERT_EQ(a.address.len, 16);
    ASSERT_NE(aud_sockaddr_port(&a.address), 0);
    char buffer[64];
    size_t n = sizeof buffer;
    EXPECT_EQ(aud_socket_recv(a.s, buffer, &n), AUD_TIMEDOUT); // empty: nothing more to do
    EXPECT_EQ(n, 0u);

    ASSERT_EQ(sendText(b.s, "ping", &a.address), AUD_SUCCESS);
    ASSERT_TRUE(waitReadable(a.s));
    n = sizeof buffer;
    ASSERT_EQ(aud_socket_peek(a.s, buffer, &n), AUD_SUCCESS);
    EXPECT_EQ(std::string(buffer, n), "ping");
    n = sizeof buffer;
    aud_sockaddr from{};
    ASSERT_EQ(aud_socket_recvfrom(a.s, buffer, &n, &from), AUD_SUCCESS);
    EXPECT_EQ(std::string(buffer, n), "ping");
    EXPECT_TRUE(aud_sockaddr_equal(&from, &b.address));

    ASSERT_EQ(aud_socket_connect(a.s, &b.address), AUD_SUCCESS);
    n = 4;
    ASSERT_EQ(aud_socket_send(a.s, "pong", &n), AUD_SUCCESS);
    ASSERT_TRUE(waitReadable(b.s));
    n = sizeof buffer;
    ASSERT_EQ(aud_socket_recv(b.s, buffer, &n), AUD_SUCCESS);
    EXPECT_EQ(std::string(buffer, n), "pong");
}

TEST(AudSocket, ConnectedToAClosedPortGivesConnRefused)
{
    aud_sockaddr closed{};
    aud_sockaddr_from_text(&closed, AF_INET, "127.0.0.1", qtest::freePort(SOCK_DGRAM));
    aud_socket s = AUD_SOCKET_INVALID;
    ASSERT_EQ(aud_socket_udp_connect(&s, &closed), AUD_SUCCESS);
    size_t n = 5;
    ASSERT_EQ(aud_socket_send(s, "hello", &n), AUD_SUCCESS);
    ASSERT_TRUE(waitReadable(s)); // the port-unreachable reply
    char buffer[16];
    n = sizeof buffer;
    EXPECT_EQ(aud_socket_recv(s, buffer, &n), AUD_CONNREFUSED);
    aud_socket_close(&s);
}

TEST(AudSocket, RecvmsgReportsDestinationAndArrivalIndex)
{
    Bound a, b;
    ASSERT_EQ(aud_socket_set_pktinfo(a.s, 1), AUD_SUCCESS);
    ASSERT_EQ(sendText(b.s, "first", &a.address), AUD_SUCCESS);
    ASSERT_TRUE(waitReadable(a.s));
    char buffer[64];
    size_t n = sizeof buffer;
    aud_msginfo info{};
    info.flags = AUD_MSGINFO_SOURCE | AUD_MSGINFO_DESTINATION | AUD_MSGINFO_INTERFACE;
    ASSERT_EQ(aud_socket_recvmsg(a.s, buffer, &n, &info), AUD_SUCCESS);
    EXPECT_EQ(std::string(buffer, n), "first");
    EXPECT_EQ(info.flags, AUD_MSGINFO_SOURCE | AUD_MSGINFO_DESTINATION | AUD_MSGINFO_INTERFACE);
    EXPECT_TRUE(aud_sockaddr_equal(&info.source, &b.address));
    EXPECT_TRUE(aud_sockaddr_equal(&info.destination, &a.address));
    EXPECT_EQ(info.interface_index, if_nametoindex("lo"));

    // Without packet information only the source can be told.
    ASSERT_EQ(aud_socket_set_pktinfo(a.s, 0), AUD_SUCCESS);
    ASSERT_EQ(sendText(b.s, "second", &a.address), AUD_SUCCESS);
    ASSERT_TRUE(waitReadable(a.s));
    n = sizeof buffer;
    info.flags = AUD_MSGINFO_SOURCE | AUD_MSGINFO_DESTINATION | AUD_MSGINFO_INTERFACE;
    ASSERT_EQ(aud_socket_recvmsg(a.s, buffer, &n, &info), AUD_SUCCESS);
    EXPECT_EQ(info.flags, AUD_MSGINFO_SOURCE);
    n = sizeof buffer;
    EXPECT_EQ(aud_socket_recvmsg(a.s, buffer, &n, &info), AUD_TIMEDOUT);
}

int option(aud_socket s, int level, int name)
{
    int value = -1;
    socklen_t length = sizeof value;
    getsockopt(s, level, name, &value, &length);
    return value;
}

TEST(AudSocket, BooleanOptionsTakeOnlyOneAsOn)
{
    Bound a;
    const struct {
        aud_error (*set)(aud_socket, int);
        int level;
        int name;
    } options[] = {
        {aud_socket_set_reuse_addr, SOL_SOCKET, SO_REUSEADDR},
        {aud_socket_set_reuse_port, SOL_SOCKET, SO_REUSEPORT},
        {aud_socket_set_pktinfo, IPPROTO_IP, IP_PKTINFO},
        {aud_socket_set_multicast_loop, IPPROTO_IP, IP_MULTICAST_LOOP},
    };
    for (const auto& o : options) {
        ASSERT_EQ(o.set(a.s, 1), AUD_SUCCESS);
        EXPECT_EQ(option(a.s, o.level, o.name), 1) << o.name;
        ASSERT_EQ(o.set(a.s, 2), AUD_SUCCESS);
        EXPECT_EQ(option(a.s, o.level, o.name), 0) << o.name;
    }
}

TEST(AudSocket, GroupOutsideMulticastIsRefusedWithoutASystemCall)
{
    // A descriptor that is not open: any system call on it says EBADF.
    aud_socket closed = AUD_SOCKET_INVALID;
    ASSERT_EQ(aud_socket_udp_open(&closed, AF_INET), AUD_SUCCESS);
    const aud_socket number = closed;
    aud_socket_close(&closed);
    uint32_t group = 0;
    aud_inet_aton("192.168.0.1", &group);
    EXPECT_EQ(aud_socket_join_group(number, group, nullptr), AUD_INVALIDPARAMETER);
    EXPECT_EQ(aud_socket_leave_group(number, group, nullptr), AUD_INVALIDPARAMETER);
    aud_inet_aton("239.255.255.255", &group);
    EXPECT_EQ(aud_socket_join_group(number, group, nullptr), AUD_BADF);
}

TEST(AudFdset, EachSocketOnceAndAtMost1024)
{
    auto set = std::make_unique<aud_fdset>();
    aud_fdset_zero(set.get());
    EXPECT_EQ(aud_fdset_add(set.get(), AUD_SOCKET_INVALID), AUD_INVALIDPARAMETER);
    ASSERT_EQ(aud_fdset_add(set.get(), 7), AUD_SUCCESS);
    ASSERT_EQ(aud_fdset_add(set.get(), 7), AUD_SUCCESS);
    EXPECT_EQ(aud_fdset_count(set.get()), 1u);
    EXPECT_TRUE(aud_fdset_contains(set.get(), 7));
    EXPECT_EQ(aud_fdset_remove(set.get(), 7), AUD_SUCCESS);
    EXPECT_EQ(aud_fdset_remove(set.get(), 7), AUD_NOTFOUND);
    EXPECT_FALSE(aud_fdset_contains(set.get(), 7));

    for (int fd = 1000; fd < 1000 + int(AUD_FDSET_MAX); ++fd)
        ASSERT_EQ(aud_fdset_add(set.get(), fd), AUD_SUCCESS) << fd;
    EXPECT_EQ(aud_fdset_add(set.get(), 5000), AUD_NOBUFS);
    EXPECT_EQ(aud_fdset_add(set.get(), 1000), AUD_SUCCESS); // already a member
    EXPECT_EQ(aud_fdset_count(set.get()), AUD_FDSET_MAX);
    EXPECT_FALSE(aud_fdset_contains(set.get(), 5000));
    for (int fd = 1000; fd < 1000 + int(AUD_FDSET_MAX); ++fd)
        ASSERT_TRUE(aud_fdset_contains(set.get(), fd)) << fd;
}

TEST(AudFdset, PollReportsTheReadySockets)
{
    Bound a, b, c;
    auto set = std::make_unique<aud_fdset>();
    aud_fdset_zero(set.get());
    aud_fdset_add(set.get(), a.s);
    aud_fdset_add(set.get(), b.s);
    size_t ready = 99;
    ASSERT_EQ(aud_fdset_poll(set.get(), 0, &ready), AUD_SUCCESS);
    EXPECT_EQ(ready, 0u);
    ASSERT_EQ(sendText(c.s, "x", &b.address), AUD_SUCCESS);
    ASSERT_EQ(aud_fdset_poll(set.get(), 2000, &ready), AUD_SUCCESS);
    EXPECT_EQ(ready, 1u);
    EXPECT_FALSE(aud_fdset_is_ready(set.get(), a.s));
    EXPECT_TRUE(aud_fdset_is_ready(set.get(), b.s));
    EXPECT_FALSE(aud_fdset_is_ready(set.get(), c.s)); // not a member
}

} // namespace
