// The browser with the AES67 type only, listening for SAP in the test's
// namespace while the independent announcer in the peer namespace announces,
// re-hashes, sends broken packets and deletes.
#include "dante/browse/db_browse.h"
#include "dante/browse/db_sap.h"

#include "tests/support/netns.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <net/if.h>
#include <string>
#include <vector>

namespace {

using qtest::NetnsBed;

struct Heard {
    std::vector<db_node_event> events;
    std::string name;
};

TEST(SapNetns, AnnouncementsOverTheBed)
{
    QTEST_IN_NETNS();
    NetnsBed bed;
    ASSERT_TRUE(bed.ready()) << bed.error();
    aud_env* env = nullptr;
    ASSERT_EQ(aud_env_setup(&env), AUD_SUCCESS);
    db_browse* browse = nullptr;
    ASSERT_EQ(db_browse_new(env, 0x40, &browse), AUD_SUCCESS);
    Heard heard;
    db_browse_set_context(browse, &heard);
    db_browse_set_node_changed_callback(browse, [](db_browse* b, const db_node_report* r) {
        auto* h = static_cast<Heard*>(db_browse_get_context(b));
        h->events.push_back(r->event);
        h->name = r->session->session_name;
    });
    db_browse_config config;
    db_browse_config_init(&config);
    config.interface_indexes[0] = if_nametoindex(NetnsBed::kLocalInterface);
    ASSERT_EQ(db_browse_start_config(browse, &config), AUD_SUCCESS);

    qtest::ChildProcess peer(bed.inPeer(qtest::pythonPeer("sap_announce.py",
                                 {"--interface", NetnsBed::kPeerInterface, "--interval", "0", "--lifetime", "60",
                                     "--session", "name=Stage Left"})),
        true);
    std::string line;
    for (int i = 0; i < 10 && peer.readLine(&line) && line != "ready";)
        ++i;
    ASSERT_EQ(line, "ready");

    auto runUntil = [&](size_t events) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (heard.events.size() < events && std::chrono::steady_clock::now() < deadline) {
            aud_fdset set;
            aud_fdset_zero(&set);
            EXPECT_EQ(db_browse_get_sockets(browse, &set), AUD_SUCCESS);
            aud_fdset_poll(&set, 100, nullptr);
            db_browse_process(browse, &set, nullptr); // broken packets give an error and are dropped
        }
        return heard.events.size() >= events;
    };
    ASSERT_TRUE(peer.writeLine("announce"));
    ASSERT_TRUE(runUntil(1));
    EXPECT_EQ(heard.events[0], DB_NODE_ADDED);
    EXPECT_EQ(heard.name, "Stage Left");
    for (const char* kind : {"compressed", "encrypted", "version2", "ipv6", "zero_hash", "zero_origin", "ptype",
             "no_sdp", "auth_past_end", "short", "no_line_end", "out_of_order", "v1"})
        ASSERT_TRUE(peer.writeLine(std::string("bad ") + kind));
    ASSERT_TRUE(peer.writeLine("announce"));
    ASSERT_TRUE(peer.writeLine("rehash 1311738121"));
    ASSERT_TRUE(runUntil(2));
    EXPECT_EQ(heard.events[1], DB_NODE_MODIFIED);
    // Longer than a small receive buffer: whole datagrams are read.
    ASSERT_TRUE(peer.writeLine("big 1311738121"));
    ASSERT_TRUE(peer.writeLine("delete 1311738121"));
    for (size_t n = 3; n < 6 && heard.events.back() != DB_NODE_REMOVED; ++n)
        runUntil(n);
    EXPECT_EQ(heard.events.back(), DB_NODE_REMOVED);
    EXPECT_EQ(db_browse_sap_count(db_browse_get_sap(browse)), 0u);
    db_browse_free(browse);
    aud_env_release(env);
}

} // namespace
