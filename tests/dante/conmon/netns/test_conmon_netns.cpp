// The client's interfaces resolved through the system's own list, inside
// the test's network namespace, where the fake names a real interface.
#include "dante/conmon/conmon_client.h"

#include "tests/dante/conmon/conmon_fake.h"
#include "tests/support/netns.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <memory>
#include <net/if.h>
#include <sys/socket.h>

using namespace conmontest;

namespace {

int g_networksChanged = 0;
int g_completed = 0;

TEST(ConmonNetns, NetworksChangedResolvesRealInterfaces)
{
    QTEST_IN_NETNS();
    qtest::NetnsBed bed;
    ASSERT_TRUE(bed.ready()) << bed.error();
    FakeService fake(qtest::freePort(SOCK_DGRAM), {});
    ASSERT_TRUE(fake.ready());
    EnvRef env;
    const conmon_client_config config = configFor("quillon-dfa", fake.port());
    conmon_client* raw = nullptr;
    ASSERT_EQ(conmon_client_new_config(env.get(), &config, &raw), AUD_SUCCESS);
    std::unique_ptr<conmon_client, void (*)(conmon_client*)> c(raw, conmon_client_free);
    conmon_client_set_networks_changed_callback(c.get(), [](conmon_client*) { ++g_networksChanged; });
    ASSERT_EQ(conmon_client_connect(
                  c.get(), [](conmon_client*, conmon_client_request*, aud_error) { ++g_completed; }, nullptr),
        AUD_SUCCESS);
    ASSERT_TRUE(pumpUntil(c.get(), &fake, [] { return g_completed == 1; }));
    ASSERT_EQ(conmon_client_get_state(c.get()), CONMON_CLIENT_CONNECTED);

    fake.command(std::string("networks ") + qtest::NetnsBed::kLocalInterface + " lo");
    ASSERT_TRUE(pumpUntil(c.get(), &fake, [] { return g_networksChanged == 1; }));
    const conmon_interfaces* ifs = conmon_client_get_interfaces(c.get());
    ASSERT_EQ(ifs->count, 2);
    EXPECT_EQ(ifs->entries[0].words[CONMON_WORD_INDEX], if_nametoindex(qtest::NetnsBed::kLocalInterface));
    aud_interface veth;
    ASSERT_EQ(conmon_client_get_resolved_interface(c.get(), 0, &veth), AUD_SUCCESS);
    EXPECT_STREQ(veth.adapter_name, qtest::NetnsBed::kLocalInterface);
    EXPECT_EQ(aud_sockaddr_address(&veth.address), inet_addr(qtest::NetnsBed::kLocalAddress));
    // W7 carries the same address as it travels.
    EXPECT_EQ(ifs->entries[0].words[CONMON_WORD_ADDRESS], le32toh(inet_addr(qtest::NetnsBed::kLocalAddress)));
    aud_interface lo;
    ASSERT_EQ(conmon_client_get_resolved_interface(c.get(), 1, &lo), AUD_SUCCESS);
    EXPECT_TRUE(lo.loopback);

    // The same list again is no change; an index that does not exist
    // resolves to nothing.
    fake.command(std::string("networks ") + qtest::NetnsBed::kLocalInterface + " lo");
    fake.command("networks 999=10.9.9.9");
    ASSERT_TRUE(pumpUntil(c.get(), &fake, [] { return g_networksChanged == 2; }));
    EXPECT_EQ(conmon_client_get_resolved_interface(c.get(), 0, &veth), AUD_NOTFOUND);
}

} // namespace
