// The interface list: order and look-ups over a fixed provider, kinds from a
// sysfs tree, and the Linux provider over files the test writes.
#include "dante/support/aud_interface.h"
#include "dante/support/aud_string.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

aud_interface entry(uint32_t index, uint32_t kind, bool loopback = false)
{
    aud_interface e{};
    e.index = index;
    e.pktinfo_index = index;
    e.kind = kind;
    e.loopback = loopback;
    const std::string name = "if" + std::to_string(index);
    aud_strlcpy(e.adapter_name, name.c_str(), sizeof e.adapter_name);
    return e;
}

// Installs a fixed list for one test and puts the Linux provider back.
class FixedInterfaces {
public:
    explicit FixedInterfaces(std::vector<aud_interface> list)
        : m_list(std::move(list))
        , m_provider{aud_interface_fixed_list, &m_list}
    {
        aud_interface_set_provider(&m_provider);
    }
    ~FixedInterfaces() { aud_interface_set_provider(nullptr); }

private:
    std::vector<aud_interface> m_list;
    aud_interface_provider m_provider;
};

std::vector<uint32_t> listedIndexes()
{
    aud_interface* entries = nullptr;
    size_t count = 0;
    EXPECT_EQ(aud_interface_list(&entries, &count), AUD_SUCCESS);
    std::vector<uint32_t> indexes;
    for (size_t i = 0; i < count; ++i)
        indexes.push_back(entries[i].index);
    aud_interface_list_free(entries);
    return indexes;
}

TEST(AudInterface, SortedByKindThenIndex)
{
    FixedInterfaces fixed({entry(1, AUD_INTERFACE_KIND_LOOPBACK, true), entry(12, AUD_INTERFACE_KIND_ORDINARY),
        entry(7, AUD_INTERFACE_KIND_ORDINARY)});
    EXPECT_EQ(listedIndexes(), (std::vector<uint32_t>{7, 12, 1}));

    FixedInterfaces mixed({entry(3, AUD_INTERFACE_KIND_VIRTUAL), entry(9, AUD_INTERFACE_KIND_WIRELESS),
        entry(2, AUD_INTERFACE_KIND_UNKNOWN), entry(4, AUD_INTERFACE_KIND_BLUETOOTH),
        entry(5, AUD_INTERFACE_KIND_ORDINARY)});
    EXPECT_EQ(listedIndexes(), (std::vector<uint32_t>{2, 5, 9, 3, 4}));
}

TEST(AudInterface, LookUps)
{
    FixedInterfaces fixed({entry(12, AUD_INTERFACE_KIND_ORDINARY), entry(1, AUD_INTERFACE_KIND_LOOPBACK, true),
        entry(7, AUD_INTERFACE_KIND_ORDINARY)});
    aud_interface found{};
    ASSERT_EQ(aud_interface_find_by_index(12, &found), AUD_SUCCESS);
    EXPECT_STREQ(found.adapter_name, "if12");
    EXPECT_EQ(aud_interface_find_by_index(99, &found), AUD_NOTFOUND);
    EXPECT_EQ(aud_interface_find_by_index(7, nullptr), AUD_SUCCESS);
    ASSERT_EQ(aud_interface_find_loopback(&found), AUD_SUCCESS);
    EXPECT_EQ(found.index, 1u);
    EXPECT_EQ(aud_interface_find_loopback(nullptr), AUD_INVALIDPARAMETER);
    EXPECT_EQ(aud_interface_list(nullptr, nullptr), AUD_INVALIDPARAMETER);
}

TEST(AudInterface, EmptyListAndNoLoopback)
{
    FixedInterfaces none({});
    aud_interface* entries = reinterpret_cast<aud_interface*>(1);
    size_t count = 99;
    ASSERT_EQ(aud_interface_list_with_env(nullptr, &entries, &count), AUD_SUCCESS);
    EXPECT_EQ(entries, nullptr);
    EXPECT_EQ(count, 0u);
    aud_interface_list_free(nullptr);
    aud_interface found{};
    EXPECT_EQ(aud_interface_find_loopback(&found), AUD_NOTFOUND);
}

TEST(AudInterface, ProviderFailureIsPassedOn)
{
    aud_interface_provider failing{
        [](void*, aud_log_state*, std::vector<aud_interface>*) { return AUD_NOMEMORY; }, nullptr};
    aud_interface_set_provider(&failing);
    aud_interface* entries = nullptr;
    size_t count = 0;
    EXPECT_EQ(aud_interface_list(&entries, &count), AUD_NOMEMORY);
    EXPECT_EQ(entries, nullptr);
    aud_interface_set_provider(nullptr);
}

void makeFolder(const std::string& path)
{
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path;
}

TEST(AudInterface, KindsFromSysfs)
{
    qtest::TempDir sys;
    const std::string root = sys.path();
    makeFolder(sys.file("devices"));
    auto withDevice = [&](const std::string& name) {
        makeFolder(sys.file(name));
        ASSERT_EQ(symlink("../devices", sys.file(name + "/device").c_str()), 0);
    };
    withDevice("eth0");
    withDevice("wlan0");
    makeFolder(sys.file("wlan0/wireless"));
    withDevice("wlp2s0");
    makeFolder(sys.file("wlp2s0/phy80211"));
    withDevice("fw0");
    qtest::writeFile(sys.file("fw0/type"), "24\n");
    withDevice("bnep0");
    qtest::writeFile(sys.file("bnep0/uevent"), "DEVTYPE=bluetooth\nINTERFACE=bnep0\n");
    makeFolder(sys.file("veth0"));
    qtest::writeFile(sys.file("veth0/type"), "1\n");
    qtest::writeFile(sys.file("veth0/uevent"), "INTERFACE=veth0\n");

    const struct {
        const char* name;
        bool loopback;
        uint32_t kind;
    } cases[] = {
        {"eth0", false, AUD_INTERFACE_KIND_ORDINARY},
        {"wlan0", false, AUD_INTERFACE_KIND_WIRELESS},
        {"wlp2s0", false, AUD_INTERFACE_KIND_WIRELESS},
        {"fw0", false, AUD_INTERFACE_KIND_IEEE1394},
        {"bnep0", false, AUD_INTERFACE_KIND_BLUETOOTH},
        {"veth0", false, AUD_INTERFACE_KIND_VIRTUAL},
        {"lo", true, AUD_INTERFACE_KIND_LOOPBACK},
        {"missing0", false, AUD_INTERFACE_KIND_ORDINARY}, // nothing to read: still listed, as ordinary
        {"..", false, AUD_INTERFACE_KIND_ORDINARY},
        {"../devices", false, AUD_INTERFACE_KIND_ORDINARY},
    };
    for (const auto& c : cases)
        EXPECT_EQ(aud_interface_kind_from_sysfs(root.c_str(), c.name, c.loopback), c.kind) << c.name;
}

// The Linux provider over the real getifaddrs, with sysfs, the route table
// and the resolver settings written by the test; "lo" is always there.
class AudInterfaceLinux : public testing::Test {
protected:
    void SetUp() override
    {
        makeFolder(dir.file("net"));
        makeFolder(dir.file("net/lo"));
        qtest::writeFile(dir.file("route"),
            "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
            "lo\t0000007F\t00000000\t0001\t0\t0\t0\t000000FF\t0\t0\t0\n"
            "lo\t00000000\t0100007F\t0003\t0\t0\t0\t00000000\t0\t0\t0\n");
        qtest::writeFile(dir.file("resolv.conf"),
            "# written by the test\nnameserver ::1\nnameserver 10.0.0.53\nnameserver 10.0.0.54\n"
            "domain first.test\nsearch studio.test other.test\n");
        paths = {net.c_str(), route.c_str(), resolv.c_str()};
        provider = aud_interface_linux_provider(&paths);
        aud_interface_set_provider(&provider);
    }
    void TearDown() override { aud_interface_set_provider(nullptr); }

    aud_interface loopback()
    {
        aud_interface found{};
        EXPECT_EQ(aud_interface_find_loopback(&found), AUD_SUCCESS);
        return found;
    }

    qtest::TempDir dir;
    std::string net = dir.file("net");
    std::string route = dir.file("route");
    std::string resolv = dir.file("resolv.conf");
    aud_interface_sources paths{};
    aud_interface_provider provider{};
};

TEST_F(AudInterfaceLinux, LoopbackEntry)
{
    qtest::writeFile(dir.file("net/lo/operstate"), "unknown\n");
    qtest::writeFile(dir.file("net/lo/speed"), "-1\n");
    const aud_interface lo = loopback();
    EXPECT_EQ(std::u16string(lo.name), u"lo");
    EXPECT_STREQ(lo.adapter_name, "lo");
    EXPECT_EQ(lo.index, if_nametoindex("lo"));
    EXPECT_EQ(lo.pktinfo_index, lo.index);
    EXPECT_EQ(lo.kind, uint32_t(AUD_INTERFACE_KIND_LOOPBACK));
    EXPECT_EQ(lo.up, 1);
    EXPECT_EQ(lo.link_speed, 0u); // -1: no speed reported
    EXPECT_EQ(aud_sockaddr_address(&lo.address), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(lo.address.len, 16);
    EXPECT_EQ(aud_sockaddr_address(&lo.netmask), htonl(0xFF000000u));
    EXPECT_EQ(aud_sockaddr_address(&lo.gateway), htonl(INADDR_LOOPBACK));
    char text[AUD_INET_TEXT_SIZE];
    EXPECT_STREQ(aud_inet_ntoa(aud_sockaddr_address(&lo.dns_server), text, sizeof text), "10.0.0.53");
    EXPECT_STREQ(lo.dns_suffix, "studio.test");
}

TEST_F(AudInterfaceLinux, SpeedOnlyWhenUp)
{
    qtest::writeFile(dir.file("net/lo/speed"), "1000\n");
    qtest::writeFile(dir.file("net/lo/operstate"), "up\n");
    EXPECT_EQ(loopback().link_speed, 1000u);
    qtest::writeFile(dir.file("net/lo/operstate"), "down\n");
    const aud_interface down = loopback();
    EXPECT_EQ(down.up, 0);
    EXPECT_EQ(down.link_speed, 0u);
}

} // namespace
