// The querier against avahi-daemon in the peer namespace: browse, resolve
// with the arrival index, removal after the daemon withdraws a service, and
// a reconfirm that flushes a device whose daemon died without goodbyes.
#include "tests/dante/dnssd/netns/dnssd_pump.h"

#include "tests/support/avahi_daemon.h"
#include "tests/support/netns.h"

#include <gtest/gtest.h>

#include <net/if.h>

namespace {

using dnssdtest::has;
using dnssdtest::pumpUntil;
using dnssdtest::Seen;
using qtest::AvahiDaemon;
using qtest::NetnsBed;

const std::vector<AvahiDaemon::Service> kServices = {
    {"Rack.1", "_netaudio-arc._udp", 4440, {"arcp_vers=2.7.0", "router_info=Brox"}},
    {"Rack-2", "_netaudio-arc._udp", 4440, {"arcp_vers=2.7.0"}},
};

struct Ref {
    DNSServiceRef ref = nullptr;
    ~Ref() { DNSServiceRefDeallocate(ref); }
};

TEST(DnssdAvahi, BrowseResolveWithdrawAndReconfirm)
{
    if (!AvahiDaemon::installed())
        GTEST_SKIP() << AvahiDaemon::kMissing;
    QTEST_IN_NETNS();
    NetnsBed bed;
    ASSERT_TRUE(bed.ready()) << bed.error();
    AvahiDaemon avahi(bed, kServices);
    ASSERT_TRUE(avahi.ready()) << avahi.error();
    const uint32_t veth = if_nametoindex(NetnsBed::kLocalInterface);

    std::vector<Seen> browsed;
    Ref browse;
    ASSERT_EQ(
        DNSServiceBrowse(&browse.ref, 0, 0, "_netaudio-arc._udp.", "local.", dnssdtest::onBrowse, &browsed), DNSSD_OK);
    ASSERT_TRUE(pumpUntil(
        browse.ref, [&] { return has(browsed, "Rack.1", true) && has(browsed, "Rack-2", true); }, 10000));
    for (const auto& s : browsed)
        EXPECT_EQ(s.index, veth) << s.name;

    std::vector<Seen> resolved;
    Ref resolve;
    ASSERT_EQ(DNSServiceResolve(
                  &resolve.ref, 0, veth, "Rack.1", "_netaudio-arc._udp.", "local.", dnssdtest::onResolve, &resolved),
        DNSSD_OK);
    ASSERT_TRUE(pumpUntil(
        resolve.ref, [&] { return !resolved.empty(); }, 10000));
    EXPECT_EQ(resolved[0].target, avahi.hostName() + ".local.");
    EXPECT_EQ(resolved[0].port, 4440);
    EXPECT_EQ(resolved[0].index, veth);
    uint8_t length = 0;
    const void* info = TXTRecordGetValuePtr(
        static_cast<uint16_t>(resolved[0].txt.size()), resolved[0].txt.data(), "router_info", &length);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(std::string(static_cast<const char*>(info), length), "Brox");

    ASSERT_TRUE(avahi.withdraw("Rack-2"));
    ASSERT_TRUE(pumpUntil(
        browse.ref, [&] { return has(browsed, "Rack-2", false); }, 10000));
    EXPECT_FALSE(has(browsed, "Rack.1", false));

    // Killed: no goodbye, so only a reconfirm removes the device early.
    avahi.kill();
    dnssd_set_reconfirm_time(1000);
    char full[DNSSD_MAX_DOMAIN_NAME];
    ASSERT_EQ(DNSServiceConstructFullName(full, "Rack.1", "_netaudio-arc._udp.", "local."), DNSSD_OK);
    ASSERT_EQ(DNSServiceReconfirmRecord(0, veth, full, 12, 1, 0, nullptr), DNSSD_OK);
    EXPECT_TRUE(pumpUntil(
        browse.ref, [&] { return has(browsed, "Rack.1", false); }, 4000));
    dnssd_set_reconfirm_time(3000);
}

} // namespace
