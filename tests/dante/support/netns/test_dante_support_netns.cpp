// Multicast by interface index, the arrival interface of a datagram and the
// Linux interface list, inside the test's own network namespace (see
// support/netns.h).
#include "dante/support/aud_interface.h"
#include "dante/support/aud_socket.h"

#include "tests/support/netns.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sstream>
#include <string>
#include <sys/mount.h>

namespace {

using qtest::NetnsBed;

constexpr uint16_t kPort = 30411;
constexpr const char* kGroup = "239.192.0.77";

uint32_t ip(const char* text)
{
    uint32_t address = 0;
    EXPECT_EQ(aud_inet_aton(text, &address), AUD_SUCCESS) << text;
    return address;
}

aud_interface interfaceNamed(const char* name)
{
    aud_interface found{};
    EXPECT_EQ(aud_interface_find_by_index(if_nametoindex(name), &found), AUD_SUCCESS) << name;
    return found;
}

// A socket as the multicast clients open one: any-address and the port,
// address re-use, packet information on.
aud_socket openGroupSocket()
{
    aud_socket s = AUD_SOCKET_INVALID;
    EXPECT_EQ(aud_socket_udp_open(&s, AF_INET), AUD_SUCCESS);
    EXPECT_EQ(aud_socket_set_reuse_addr(s, 1), AUD_SUCCESS);
    EXPECT_EQ(aud_socket_set_pktinfo(s, 1), AUD_SUCCESS);
    aud_sockaddr any{};
    aud_sockaddr_any(&any, AF_INET, kPort);
    EXPECT_EQ(aud_socket_bind(s, &any), AUD_SUCCESS);
    return s;
}

// One datagram with its information, or "<none>" after timeoutMs.
std::string receive(aud_socket s, aud_msginfo* info, int timeoutMs = 3000)
{
    pollfd p{s, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) != 1)
        return "<none>";
    char buffer[2048];
    size_t n = sizeof buffer;
    info->flags = AUD_MSGINFO_SOURCE | AUD_MSGINFO_DESTINATION | AUD_MSGINFO_INTERFACE;
    if (aud_socket_recvmsg(s, buffer, &n, info) != AUD_SUCCESS)
        return "<error>";
    return std::string(buffer, n);
}

void peerSends(const NetnsBed& bed, const std::string& hex)
{
    qtest::ChildProcess sender(bed.inPeer(qtest::pythonPeer(
        "vsock_udp_peer.py", {"send", kGroup, std::to_string(kPort), hex, "1", NetnsBed::kPeerAddress})));
    std::string line;
    ASSERT_TRUE(sender.readLine(&line));
    EXPECT_EQ(line, "SENT");
}

TEST(AudSocketNetns, JoinAndLeaveByIndexWithTheArrivalInterface)
{
    QTEST_IN_NETNS();
    NetnsBed bed;
    ASSERT_TRUE(bed.ready()) << bed.error();
    const aud_interface veth = interfaceNamed(NetnsBed::kLocalInterface);
    aud_socket s = openGroupSocket();
    ASSERT_EQ(aud_socket_join_group(s, ip(kGroup), &veth), AUD_SUCCESS);
    EXPECT_EQ(aud_socket_join_group(s, ip("239.255.255.255"), &veth), AUD_SUCCESS);

    peerSends(bed, "6a6f696e6564"); // "joined"
    aud_msginfo info{};
    EXPECT_EQ(receive(s, &info), "joined");
    EXPECT_EQ(info.flags, AUD_MSGINFO_SOURCE | AUD_MSGINFO_DESTINATION | AUD_MSGINFO_INTERFACE);
    EXPECT_EQ(aud_sockaddr_address(&info.source), ip(NetnsBed::kPeerAddress));
    EXPECT_EQ(aud_sockaddr_address(&info.destination), ip(kGroup));
    EXPECT_EQ(aud_sockaddr_port(&info.destination), kPort);
    EXPECT_EQ(info.interface_index, veth.index);

    ASSERT_EQ(aud_socket_leave_group(s, ip(kGroup), &veth), AUD_SUCCESS);
    EXPECT_EQ(aud_socket_leave_group(s, ip(kGroup), &veth), AUD_ADDRNOTAVAIL); // not a member any more
    peerSends(bed, "6c656674"); // "left"
    EXPECT_EQ(receive(s, &info, 300), "<none>");
    aud_socket_close(&s);
}

TEST(AudSocketNetns, MulticastLeavesByTheChosenInterface)
{
    QTEST_IN_NETNS();
    NetnsBed bed;
    ASSERT_TRUE(bed.ready()) << bed.error();
    qtest::ChildProcess peer(bed.inPeer(qtest::pythonPeer(
        "vsock_udp_peer.py", {"echo", "0.0.0.0", std::to_string(kPort), kGroup, NetnsBed::kPeerAddress})));
    std::string line;
    ASSERT_TRUE(peer.readLine(&line));
    ASSERT_EQ(line, "READY");

    // Without a route for the group the system has no interface of its own to choose.
    ASSERT_EQ(qtest::runCommand("ip route del 224.0.0.0/4"), 0);
    aud_socket s = AUD_SOCKET_INVALID;
    ASSERT_EQ(aud_socket_udp_open(&s, AF_INET), AUD_SUCCESS);
    aud_sockaddr group{};
    aud_sockaddr_set(&group, ip(kGroup), kPort);
    size_t n = 3;
    EXPECT_NE(aud_socket_sendto(s, "out", &n, &group), AUD_SUCCESS);

    const aud_interface veth = interfaceNamed(NetnsBed::kLocalInterface);
    ASSERT_EQ(aud_socket_set_multicast_if(s, &veth), AUD_SUCCESS);
    n = 3;
    ASSERT_EQ(aud_socket_sendto(s, "out", &n, &group), AUD_SUCCESS);
    ASSERT_TRUE(peer.readLine(&line));
    std::istringstream words(line);
    std::string word, source, port, length, hex;
    words >> word >> source >> port >> length >> hex;
    EXPECT_EQ(word, "DGRAM");
    EXPECT_EQ(source, NetnsBed::kLocalAddress);
    EXPECT_EQ(hex, "6f7574");
    aud_socket_close(&s);
}

// The arrival index is kept whole: an interface numbered above 255 is told
// apart from the one its low byte names.
TEST(AudSocketNetns, ArrivalIndexAbove255IsKeptWhole)
{
    QTEST_IN_NETNS();
    ASSERT_EQ(qtest::runCommand("ip link set lo up && ip link add qhigh0 index 300 type veth peer name qhigh1"
                                " && ip link set qhigh1 up && ip link set qhigh0 multicast on up"
                                " && ip addr add 198.19.0.1/24 dev qhigh0"),
        0);
    const aud_interface high = interfaceNamed("qhigh0");
    ASSERT_EQ(high.index, 300u);
    EXPECT_EQ(high.pktinfo_index, 300u);
    aud_socket s = openGroupSocket();
    ASSERT_EQ(aud_socket_join_group(s, ip(kGroup), &high), AUD_SUCCESS);
    ASSERT_EQ(aud_socket_set_multicast_if(s, &high), AUD_SUCCESS);
    ASSERT_EQ(aud_socket_set_multicast_loop(s, 1), AUD_SUCCESS);
    aud_sockaddr group{};
    aud_sockaddr_set(&group, ip(kGroup), kPort);
    size_t n = 4;
    ASSERT_EQ(aud_socket_sendto(s, "high", &n, &group), AUD_SUCCESS);
    aud_msginfo info{};
    EXPECT_EQ(receive(s, &info), "high");
    EXPECT_EQ(info.interface_index, 300u);
    aud_socket_close(&s);
}

// A virtual interface with an address: a dummy where the kernel has the
// driver, else one end of a veth pair (the other end gets no address, so it
// is not listed).
std::string addVirtual(const std::string& name, const std::string& address)
{
    if (qtest::runCommand("ip link add " + name + " type dummy 2>/dev/null") != 0
        && qtest::runCommand(
               "ip link add " + name + " type veth peer name " + name + "p && ip link set " + name + "p up")
            != 0)
        return "cannot make " + name;
    if (qtest::runCommand("ip addr add " + address + " dev " + name) != 0)
        return "cannot address " + name;
    return "";
}

// /sys/class/net shows the namespace sysfs was mounted in: mount it again
// in a mount namespace of this process only.
std::string operState(const std::string& name)
{
    std::ifstream in("/sys/class/net/" + name + "/operstate");
    std::string state;
    in >> state;
    return state;
}

bool remountSysfs(std::string* why)
{
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || mount("sysfs", "/sys", "sysfs", 0, nullptr) != 0) {
        *why = strerror(errno);
        return false;
    }
    return true;
}

TEST(AudInterfaceNetns, LinuxProviderSeesVethDummyAndLoopback)
{
    QTEST_IN_NETNS();
    NetnsBed bed;
    ASSERT_TRUE(bed.ready()) << bed.error();
    ASSERT_EQ(addVirtual("qdummy0", "198.19.0.1/24"), "");
    ASSERT_EQ(addVirtual("qdown0", "198.20.0.1/24"), "");
    ASSERT_EQ(qtest::runCommand("ip link set qdummy0 up && ip route add default via 198.18.0.2 dev qveth0"), 0);
    std::string why;
    if (!remountSysfs(&why))
        GTEST_SKIP() << "cannot mount sysfs for this namespace: " << why;
    // The kernel moves an interface's operational state some time after
    // "ip link set up" returns; wait for it rather than race it.
    // A dummy has no carrier: it counts as up once it reads "unknown" and the
    // kernel also flags it running, which can come a moment later.
    ASSERT_TRUE(qtest::waitFor(
        [] {
            aud_interface e{};
            return aud_interface_find_by_index(if_nametoindex("qdummy0"), &e) == AUD_SUCCESS && e.up == 1;
        },
        3000));
    ASSERT_TRUE(qtest::waitFor([] { return operState(NetnsBed::kLocalInterface) == "up"; }, 3000));

    aud_interface* entries = nullptr;
    size_t count = 0;
    ASSERT_EQ(aud_interface_list(&entries, &count), AUD_SUCCESS);
    std::vector<std::string> names;
    for (size_t i = 0; i < count; ++i)
        names.push_back(entries[i].adapter_name);
    aud_interface_list_free(entries);
    // Loopback (kind 2) first, then the virtual ones (kind 4) by index.
    ASSERT_EQ(names.size(), 4u);
    EXPECT_EQ(names[0], "lo");
    const std::vector<std::string> virtuals(names.begin() + 1, names.end());
    EXPECT_EQ(virtuals, (std::vector<std::string>{"qveth0", "qdummy0", "qdown0"}));

    const aud_interface lo = interfaceNamed("lo");
    EXPECT_EQ(lo.kind, uint32_t(AUD_INTERFACE_KIND_LOOPBACK));
    EXPECT_EQ(lo.loopback, 1);

    const aud_interface veth = interfaceNamed(NetnsBed::kLocalInterface);
    EXPECT_EQ(veth.kind, uint32_t(AUD_INTERFACE_KIND_VIRTUAL));
    EXPECT_EQ(std::u16string(veth.name), u"qveth0");
    EXPECT_EQ(veth.up, 1);
    EXPECT_EQ(veth.multicast, 1);
    EXPECT_EQ(veth.loopback, 0);
    EXPECT_EQ(qtest::hex(veth.mac, 8), "0251000000010000");
    EXPECT_EQ(aud_sockaddr_address(&veth.address), ip(NetnsBed::kLocalAddress));
    EXPECT_EQ(aud_sockaddr_address(&veth.netmask), ip(NetnsBed::kNetmask));
    EXPECT_EQ(aud_sockaddr_address(&veth.gateway), ip(NetnsBed::kPeerAddress));
    EXPECT_EQ(veth.pktinfo_index, veth.index);

    const aud_interface dummy = interfaceNamed("qdummy0");
    EXPECT_EQ(dummy.kind, uint32_t(AUD_INTERFACE_KIND_VIRTUAL));
    EXPECT_EQ(dummy.up, 1);
    EXPECT_EQ(dummy.gateway.len, 0);
    const aud_interface down = interfaceNamed("qdown0");
    EXPECT_EQ(down.up, 0);
    EXPECT_EQ(down.link_speed, 0u);
}

} // namespace
