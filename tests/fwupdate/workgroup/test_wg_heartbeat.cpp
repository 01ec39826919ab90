// Heartbeat datagrams against the independent peer's builder, the receive
// thread on port 50000 and ff02::1, and the IPv6 adapter list, each network
// case in a namespace of its own.
#include "tests/fwupdate/workgroup/wg_fixture.h"

#include "fwupdate/workgroup/wg_adapters.h"
#include "fwupdate/workgroup/wg_heartbeat.h"

#include "tests/support/netns.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <mutex>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using qtest::NetnsBed;
using WG::HeartbeatInfo;

namespace {

// Records every heartbeat it is handed, from the receive thread.
class RecordingSink : public WG::HeartbeatSinkIF {
public:
    explicit RecordingSink(WG::Ipv6AdapterList* adapters = nullptr)
        : m_adapters(adapters)
    {
    }
    void onHeartbeat(const HeartbeatInfo& record) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_records.push_back(record);
    }
    WG::Ipv6AdapterList* adapterList() override { return m_adapters; }
    std::vector<HeartbeatInfo> records()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_records;
    }
    size_t count()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_records.size();
    }

private:
    WG::Ipv6AdapterList* m_adapters;
    std::mutex m_lock;
    std::vector<HeartbeatInfo> m_records;
};

std::vector<QByteArray> peerHeartbeats(const std::vector<std::vector<std::string>>& groups)
{
    std::vector<std::string> args = {"heartbeat"};
    for (size_t i = 0; i < groups.size(); ++i) {
        if (i)
            args.push_back("--");
        args.insert(args.end(), groups[i].begin(), groups[i].end());
    }
    std::vector<QByteArray> out;
    for (const std::string& line : wgtest::peerLines(args))
        if (!line.empty() || out.size() < groups.size())
            out.push_back(wgtest::fromHex(line));
    return out;
}

constexpr uint8_t kFe80One[16] = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};

bool parse(const QByteArray& d, HeartbeatInfo* out)
{
    return WG::parseHeartbeat(
        reinterpret_cast<const uint8_t*>(d.constData()), static_cast<size_t>(d.size()), kFe80One, 12, out);
}

// Sends datagrams to [::1]:50000 from a socket of its own.
void sendToLoopback(const std::vector<QByteArray>& datagrams)
{
    const int fd = ::socket(AF_INET6, SOCK_DGRAM, 0);
    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    to.sin6_addr = in6addr_loopback;
    to.sin6_port = htons(WG::kHeartbeatPort);
    for (const QByteArray& d : datagrams)
        ::sendto(fd, d.constData(), static_cast<size_t>(d.size()), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    ::close(fd);
}

bool waitBound(const WG::Heartbeat& hb)
{
    return qtest::waitFor([&] { return hb.counts().bound.load(); }, 3000);
}

} // namespace

TEST(WorkgroupHeartbeat, ParsesEveryFieldAndTheLinkListsByTheirLengthRules)
{
    const auto d = peerHeartbeats({
        // 0: every fixed field
        {"model=83", "w24=300", "w26=4660", "v28=0x89abcdef", "dev=a1b2c3d4e5f60102", "wg=0251000000010000",
            "name=Mavik", "id=J001-Valdor-Mavik-D-A1B2C3", "status=0x8003", "port=50001", "w136=7", "b138=9", "w140=11",
            "v144=0102030405060708"},
        // 1: 167 bytes, byte 152 non-zero: no list is read
        {"na=2", "a=1:1:11,1:2:22", "len=167"},
        // 2: NA = 2 and 184 bytes: two A entries, B's count at 180, no B entry fits
        {"a=3:1:11,4:2:22", "b=5:3:33", "len=184"},
        // 3: the same, whole: the B entry too
        {"a=3:1:11,4:2:22", "b=5:3:33"},
        // 4: three A entries announced, two held
        {"a=1:1:11,2:2:22,3:3:33", "len=180"},
        // 5: texts with no terminator inside their fields
        {"name=ABCDEFGHIJKLMNOPQRST", "id=0123456789012345678901234567890123456789", "status=0x4142"},
        // 6-8: dropped
        {"len=151"},
        {"magic=VRSM"},
        {"len=0"},
    });
    ASSERT_EQ(d.size(), 9u);

    HeartbeatInfo r;
    ASSERT_TRUE(parse(d[0], &r));
    EXPECT_EQ(r.modelCode, 83);
    EXPECT_EQ(r.announcedWord, 300);
    EXPECT_EQ(r.word26, 4660);
    EXPECT_EQ(r.value28, 0x89abcdefu);
    EXPECT_EQ(r.deviceId, 0xa1b2c3d4e5f60102u);
    EXPECT_EQ(r.mac, 0xa1b2c3d4e5f6u);
    EXPECT_EQ(r.workgroupId, 0x0251000000010000u);
    EXPECT_EQ(r.shortName, "Mavik");
    EXPECT_EQ(r.deviceIdText, "J001-Valdor-Mavik-D-A1B2C3");
    EXPECT_EQ(r.statusWord, 0x8003);
    EXPECT_EQ(r.sessionPort, 50001);
    EXPECT_EQ(r.word136, 7);
    EXPECT_EQ(r.byte138, 9);
    EXPECT_EQ(r.word140, 11);
    EXPECT_EQ(r.value144, 0x0102030405060708u);
    EXPECT_EQ(r.addressText, "fe80:0000:0000:0000:0000:0000:0000:0001");
    EXPECT_EQ(r.scopeId, 12u);
    EXPECT_TRUE(r.linksA.empty());
    EXPECT_TRUE(r.linksB.empty());

    ASSERT_TRUE(parse(d[1], &r));
    EXPECT_EQ(d[1].size(), 167);
    EXPECT_TRUE(r.linksA.empty());
    EXPECT_TRUE(r.linksB.empty());

    ASSERT_TRUE(parse(d[2], &r));
    ASSERT_EQ(r.linksA.size(), 2u);
    EXPECT_EQ(r.linksA[1].stateWord, 4);
    EXPECT_EQ(r.linksA[1].word, 2);
    EXPECT_EQ(r.linksA[1].peerId, 0x22u);
    EXPECT_TRUE(r.linksB.empty());
    ASSERT_TRUE(parse(d[3], &r));
    ASSERT_EQ(r.linksB.size(), 1u);
    EXPECT_EQ(r.linksB[0].stateWord, 5);
    EXPECT_EQ(r.linksB[0].peerId, 0x33u);

    ASSERT_TRUE(parse(d[4], &r));
    EXPECT_EQ(r.linksA.size(), 2u);
    EXPECT_TRUE(r.linksB.empty());

    ASSERT_TRUE(parse(d[5], &r));
    EXPECT_EQ(r.shortName, "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(r.deviceIdText, "01234567890123456789012345678901") << "cut at its field, not run into byte 132";

    for (size_t i = 6; i < d.size(); ++i)
        EXPECT_FALSE(parse(d[i], &r)) << i;
}

TEST(WorkgroupHeartbeat, AddressTextNeverShortens)
{
    uint8_t a[16] = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0x02, 0x51, 0, 0xff, 0xfe, 0, 0, 0x0a};
    EXPECT_EQ(WG::heartbeatAddressText(a), "fe80:0000:0000:0000:0251:00ff:fe00:000a");
}

TEST(WorkgroupHeartbeat, UnicastReachesTheSinkPastEmptyAndForeignDatagrams)
{
    QTEST_IN_NETNS();
    ASSERT_EQ(qtest::runCommand("ip link set lo up"), 0);
    WG::Ipv6AdapterList adapters;
    EXPECT_EQ(adapters.count(), 0u) << "only lo: nothing to join";
    EXPECT_EQ(adapters.selectedMac(), 0u);
    EXPECT_EQ(adapters.selectedInterfaceIndex(), 0u);
    EXPECT_EQ(adapters.at(0), nullptr);
    RecordingSink sink(&adapters);
    WG::Heartbeat heartbeat(&sink);
    ASSERT_TRUE(waitBound(heartbeat));
    EXPECT_EQ(heartbeat.counts().joined.load(), 0u);

    const auto d = peerHeartbeats({{"model=83", "dev=a1b2c3d4e5f60000", "id=J001"}, {"len=100"}});
    // An empty datagram first: it must not end reception.
    sendToLoopback({QByteArray(), d[1], d[0]});
    ASSERT_TRUE(qtest::waitFor([&] { return sink.count() == 1; }, 3000));
    const HeartbeatInfo r = sink.records().front();
    EXPECT_EQ(r.deviceId, 0xa1b2c3d4e5f60000u);
    EXPECT_EQ(r.addressText, "0000:0000:0000:0000:0000:0000:0000:0001");
    EXPECT_EQ(r.scopeId, 0u);
    EXPECT_EQ(heartbeat.counts().dropped.load(), 2u);
    EXPECT_EQ(heartbeat.counts().errors.load(), 0u);
}

TEST(WorkgroupHeartbeat, ABurstIsReadAtOnceNotOnePerWake)
{
    QTEST_IN_NETNS();
    ASSERT_EQ(qtest::runCommand("ip link set lo up"), 0);
    RecordingSink sink;
    WG::Heartbeat heartbeat(&sink);
    ASSERT_TRUE(waitBound(heartbeat));
    const auto d = peerHeartbeats({{"model=80", "dev=0000000000010000"}});
    // One datagram per 100 ms would need 3 s for these.
    sendToLoopback(std::vector<QByteArray>(30, d[0]));
    EXPECT_TRUE(qtest::waitFor([&] { return sink.count() == 30; }, 1200)) << sink.count();
}

TEST(WorkgroupHeartbeat, MulticastOnTheLinkArrivesWithTheInterfaceScope)
{
    QTEST_IN_NETNS();
    NetnsBed bed;
    ASSERT_TRUE(bed.ready()) << bed.error();
    WG::Ipv6AdapterList adapters;
    RecordingSink sink(&adapters);
    WG::Heartbeat heartbeat(&sink);
    ASSERT_TRUE(waitBound(heartbeat));
    ASSERT_TRUE(qtest::waitFor([&] { return heartbeat.counts().joined.load() == 1; }, 2000));

    qtest::ChildProcess unit(bed.inPeer(qtest::pythonPeer("workgroup_peer.py",
        {"beat", "--to", "ff02::1", "--ifname", NetnsBed::kPeerInterface, "--rate", "20", "--seconds", "0.5",
            "model=83", "dev=025100000002beef", "id=J001-Valdor-Mavik-D-A1B2C3"})));
    std::string line;
    ASSERT_TRUE(unit.readLine(&line, 5000));
    EXPECT_EQ(line, "SENT 10");
    ASSERT_TRUE(qtest::waitFor([&] { return sink.count() >= 10; }, 2000)) << sink.count();
    const HeartbeatInfo r = sink.records().back();
    EXPECT_EQ(r.scopeId, if_nametoindex(NetnsBed::kLocalInterface));
    EXPECT_EQ(r.addressText, "fe80:0000:0000:0000:0051:00ff:fe00:0002");
    EXPECT_EQ(r.mac, 0x025100000002u);
}

TEST(Ipv6Adapters, ListsLinkLocalAdaptersOnlyAndSelectsTheFirst)
{
    QTEST_IN_NETNS();
    NetnsBed bed;
    ASSERT_TRUE(bed.ready()) << bed.error();
    // qd0 has only the address units never take, qd1 only fe80::1; qv2's
    // address is still tentative when the list is made.
    const char* steps[] = {
        "ip link add qd0 type veth peer name qd1",
        "ip link set qd0 addrgenmode none",
        "ip link set qd1 addrgenmode none",
        "ip link set qd0 up",
        "ip link set qd1 up",
        "ip addr add fe80::ffff:ffff:fffd/64 dev qd0",
        "ip addr add fe80::1/64 dev qd1",
        "ip link add qv2 type veth peer name qv3",
        "ip link set qv2 addrgenmode none",
        "ip link set qv3 addrgenmode none",
        "sysctl -qw net.ipv6.conf.qv2.accept_dad=1",
        "ip link set qv2 up",
        "ip link set qv3 up",
        "ip addr add fe80::2/64 dev qv2",
    };
    for (const char* step : steps)
        ASSERT_EQ(qtest::runCommand(step), 0) << step;
    WG::Ipv6AdapterList adapters;
    std::string inet6;
    qtest::runCommand("cat /proc/net/if_inet6", &inet6);

    std::vector<std::string> names;
    for (size_t i = 0; i < adapters.count(); ++i)
        names.push_back(adapters.at(i)->description.toStdString());
    EXPECT_EQ(names, (std::vector<std::string>{"qveth0", "qd1"})) << inet6;

    const auto first = adapters.at(0);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->mac, 0x025100000001u);
    EXPECT_EQ(first->interfaceIndex, if_nametoindex(NetnsBed::kLocalInterface));
    EXPECT_EQ(first->addressText, NetnsBed::kLocalLinkLocal);
    EXPECT_EQ(first->friendlyName, first->description);
    uint8_t expected[16];
    inet_pton(AF_INET6, NetnsBed::kLocalLinkLocal, expected);
    EXPECT_EQ(std::memcmp(first->address, expected, 16), 0);
    EXPECT_EQ(adapters.selectedMac() << 16, 0x0251000000010000u) << "the workgroup id";
    EXPECT_EQ(adapters.selectedInterfaceIndex(), first->interfaceIndex);

    const auto one = adapters.at(1);
    ASSERT_TRUE(one);
    EXPECT_EQ(one->addressText, "fe80::1");
    EXPECT_EQ(one->interfaceIndex, if_nametoindex("qd1"));
    EXPECT_EQ(adapters.at(2), nullptr);
}

TEST(Ipv6Adapters, IfInet6LinesAndTheirTransientFlags)
{
    struct Case {
        const char* line;
        bool ok;
        uint32_t index;
        uint32_t flags;
        const char* name;
    };
    const Case cases[] = {
        {"fe80000000000000005100fffe000001 03 40 20 80     qveth0", true, 3, 0x80, "qveth0"},
        {"fe800000000000000000000000000002 0c 40 20 c0 qv2", true, 12, 0xc0, "qv2"},
        {"fe800000000000000000000000000002 0c 40 20 08 qv2\n", true, 12, 0x08, "qv2"},
        {"fe800000000000000000000000000002 0c 40 20 20 qv2", true, 12, 0x20, "qv2"},
        {"fe80000000000000000000000000002 0c 40 20 80 qv2", false, 0, 0, ""}, // 31 digits
        {"fe80000000000000000000000000000g 0c 40 20 80 qv2", false, 0, 0, ""},
        {"fe800000000000000000000000000002 0c 40 20 80", false, 0, 0, ""}, // no name
        {"fe800000000000000000000000000002 0c 40 20 123456789 x", false, 0, 0, ""},
        {"", false, 0, 0, ""},
    };
    for (const Case& c : cases) {
        WG::WgIfInet6Line line;
        EXPECT_EQ(WG::wgadapter_parseIfInet6Line(c.line, std::strlen(c.line), &line), c.ok) << c.line;
        if (!c.ok)
            continue;
        EXPECT_EQ(line.interfaceIndex, c.index) << c.line;
        EXPECT_EQ(line.flags, c.flags) << c.line;
        EXPECT_EQ(line.name, c.name) << c.line;
        EXPECT_EQ(line.address[0], 0xfe);
    }
    EXPECT_TRUE(WG::wgadapter_isTransient(0x40));
    EXPECT_TRUE(WG::wgadapter_isTransient(0x08));
    EXPECT_TRUE(WG::wgadapter_isTransient(0xc0));
    EXPECT_FALSE(WG::wgadapter_isTransient(0x80));
    EXPECT_FALSE(WG::wgadapter_isTransient(0x20));
}
