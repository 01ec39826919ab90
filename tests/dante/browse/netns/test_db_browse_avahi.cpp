// The browser as the firmware agent runs it (media, conmon and safe-mode
// types, 19 sockets) over the real querier, against avahi-daemon publishing
// fake devices in the peer namespace.
#include "dante/browse/db_browse.h"

#include "tests/support/avahi_daemon.h"
#include "tests/support/netns.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <net/if.h>
#include <string>
#include <vector>

namespace {

using qtest::AvahiDaemon;
using qtest::NetnsBed;

struct Seen {
    std::vector<std::string> added;
};

TEST(DbBrowseAvahi, MediaAndConmonAdvertisementsMakeOneDevice)
{
    if (!AvahiDaemon::installed())
        GTEST_SKIP() << AvahiDaemon::kMissing;
    QTEST_IN_NETNS();
    NetnsBed bed;
    ASSERT_TRUE(bed.ready()) << bed.error();
    AvahiDaemon avahi(bed,
        {
            {"rack", "_netaudio-arc._udp", 4440, {"arcp_vers=2.7.1", "arcp_min=2.0.0", "router_info=Brox", "mf=_0001"}},
            {"rack", "_netaudio-cmc._udp", 8800, {"id=0011223344556677", "process=4", "vid=FFEEDDCCBBAA9988"}},
            {"stuck", "_dante-safe._udp", 8700, {"id=8899AABBCCDDEEFF", "process=1"}},
        });
    ASSERT_TRUE(avahi.ready()) << avahi.error();

    aud_env* env = nullptr;
    ASSERT_EQ(aud_env_setup(&env), AUD_SUCCESS);
    db_browse* browse = nullptr;
    ASSERT_EQ(db_browse_new(env, 0x0D, &browse), AUD_SUCCESS);
    ASSERT_EQ(db_browse_set_max_sockets(browse, 19), AUD_SUCCESS);
    Seen seen;
    db_browse_set_context(browse, &seen);
    db_browse_set_node_changed_callback(browse, [](db_browse* b, const db_node_report* r) {
        if (r->kind == DB_NODE_DEVICE && r->event == DB_NODE_ADDED)
            static_cast<Seen*>(db_browse_get_context(b))->added.push_back(db_node_name(r->node));
    });
    db_browse_config config;
    db_browse_config_init(&config);
    config.interface_indexes[0] = if_nametoindex(NetnsBed::kLocalInterface);
    ASSERT_EQ(db_browse_start_config(browse, &config), AUD_SUCCESS);

    auto complete = [&] {
        const db_node* rack = db_browse_device_named(browse, "rack");
        const db_node* stuck = db_browse_device_named(browse, "stuck");
        return rack && stuck && db_node_network_types(rack, 0) == (DB_NODE_TYPE_MEDIA | DB_NODE_TYPE_CONMON);
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!complete() && std::chrono::steady_clock::now() < deadline) {
        aud_fdset set;
        aud_fdset_zero(&set);
        ASSERT_EQ(db_browse_get_sockets(browse, &set), AUD_SUCCESS);
        aud_fdset_poll(&set, 200, nullptr);
        ASSERT_EQ(db_browse_process(browse, &set, nullptr), AUD_SUCCESS);
    }
    ASSERT_TRUE(complete());
    const db_node* rack = db_browse_device_named(browse, "rack");
    EXPECT_EQ(std::count(seen.added.begin(), seen.added.end(), "rack"), 1);
    EXPECT_EQ(db_node_instance_id(rack)->process_id, 4);
    EXPECT_EQ(db_node_arcp_version(rack)->build, 1);
    EXPECT_STREQ(db_node_router_info(rack), "Brox");
    EXPECT_EQ(std::string(db_node_default_name(rack)), avahi.hostName());
    EXPECT_EQ(db_node_network_types(db_browse_device_named(browse, "stuck"), 0), DB_NODE_TYPE_SAFE_MODE);
    db_browse_free(browse);
    aud_env_release(env);
}

} // namespace
