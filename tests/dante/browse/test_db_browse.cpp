// The browser over a scripted DNS-SD service: resolve scheduling, time-outs
// on a stepped clock, interface filtering, restarts, the TXT handlers and
// the callbacks of a processing pass that ends with an error.
#include "tests/dante/browse/fake_dnssd.h"

#include "dante/browse/db_internal.h"

#include "dante/support/aud_interface.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using fakednssd::Service;

const std::string kArc = "_netaudio-arc._udp.";
const std::string kChan = "_netaudio-chan._udp.";
const std::string kCmc = "_netaudio-cmc._udp.";
const std::string kSafe = "_dante-safe._udp.";
constexpr uint32_t kIndex = 5;

struct Report {
    db_node_kind kind;
    std::string name;
    db_node_event event;
};

class DbBrowseFake : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakednssd::current() = &service;
        db_browse_set_dnssd_ops(fakednssd::ops());
        ASSERT_EQ(aud_env_setup(&env), AUD_SUCCESS);
        clock.now = {1000, 0};
        aud_env_set_clock(env, aud_stepped_clock_read, &clock);
        aud_interface lo{};
        if (aud_interface_find_loopback(&lo) == AUD_SUCCESS)
            loopback = lo.index;
    }
    void TearDown() override
    {
        db_browse_free(browse);
        aud_env_release(env);
        db_browse_set_dnssd_ops(nullptr);
        fakednssd::current() = nullptr;
    }
    void start(uint32_t mask, uint32_t index = kIndex, unsigned maxSockets = 0)
    {
        ASSERT_EQ(db_browse_new(env, mask, &browse), AUD_SUCCESS);
        db_browse_set_context(browse, this);
        db_browse_set_node_changed_callback(browse, [](db_browse* b, const db_node_report* r) {
            static_cast<DbBrowseFake*>(db_browse_get_context(b))
                ->reports.push_back({r->kind, db_node_name(r->node), r->event});
        });
        db_browse_set_tree_changed_callback(
            browse, [](db_browse* b) { ++static_cast<DbBrowseFake*>(db_browse_get_context(b))->treeChanged; });
        db_browse_set_sockets_changed_callback(
            browse, [](db_browse* b) { ++static_cast<DbBrowseFake*>(db_browse_get_context(b))->socketsChanged; });
        if (maxSockets) {
            ASSERT_EQ(db_browse_set_max_sockets(browse, maxSockets), AUD_SUCCESS);
        }
        restart(index);
    }
    void restart(uint32_t index)
    {
        db_browse_config config;
        db_browse_config_init(&config);
        config.interface_indexes[0] = index;
        ASSERT_EQ(db_browse_start_config(browse, &config), AUD_SUCCESS);
    }
    // One pass of the owner's loop.
    aud_error pass(aud_time* deadline = nullptr)
    {
        aud_fdset set;
        aud_fdset_zero(&set);
        EXPECT_EQ(db_browse_get_sockets(browse, &set), AUD_SUCCESS);
        aud_fdset_poll(&set, 0, nullptr);
        return db_browse_process(browse, &set, deadline);
    }
    const db_node* device(const char* name) const { return db_browse_device_named(browse, name); }
    // An advertisement that is resolved with this TXT record at once.
    void found(
        const std::string& type, const std::string& name, const std::vector<std::string>& txt, uint32_t index = kIndex)
    {
        ASSERT_TRUE(service.advertise(type, name, index));
        ASSERT_EQ(pass(), AUD_SUCCESS);
        ASSERT_TRUE(service.answer(name, index, "host-" + name + ".local.", 4440, txt));
        lastResult = pass();
    }

    Service service;
    aud_env* env = nullptr;
    aud_stepped_clock clock{};
    uint32_t loopback = 0;
    db_browse* browse = nullptr;
    std::vector<Report> reports;
    int treeChanged = 0;
    int socketsChanged = 0;
    aud_error lastResult = AUD_SUCCESS;
};

// The requests carry the browser's named replies, and a record that is
// resolving already is not started twice.
TEST_F(DbBrowseFake, RequestsCarryTheNamedRepliesAndAResolveStartsOnce)
{
    start(1u << DB_BROWSE_TYPE_MEDIA_DEVICE);
    ASSERT_NE(service.find(true, kArc), nullptr);
    EXPECT_EQ(service.find(true, kArc)->browseReply, &db_dnssd_browse);
    ASSERT_TRUE(service.advertise(kArc, "dev1", kIndex));
    ASSERT_EQ(pass(), AUD_SUCCESS);
    ASSERT_NE(service.find(false, "dev1"), nullptr);
    EXPECT_EQ(service.find(false, "dev1")->resolveReply, &db_dnssd_resolve);
    ASSERT_EQ(browse->active.size(), 1u);
    EXPECT_EQ(db_resolve_resolve(browse->active.front().get()), AUD_INVALIDSTATE);
    EXPECT_EQ(service.resolves(), 1u);
}

TEST_F(DbBrowseFake, SeventeenAdvertisementsRunSixteenResolves)
{
    start(0x04);
    for (int i = 0; i < 17; ++i)
        ASSERT_TRUE(service.advertise(kCmc, "dev" + std::to_string(i), kIndex));
    for (int i = 0; i < 17; ++i) // one result a pass per socket
        ASSERT_EQ(pass(), AUD_SUCCESS);
    EXPECT_EQ(db_browse_active_resolves(browse), 16u);
    EXPECT_EQ(db_browse_pending_resolves(browse), 1u);
    EXPECT_EQ(service.find(false, "dev16"), nullptr);

    ASSERT_TRUE(service.answer("dev3", kIndex, "dev3.local.", 8800, {"id=0011223344556677", "process=9"}));
    ASSERT_EQ(pass(), AUD_SUCCESS);
    EXPECT_EQ(db_browse_active_resolves(browse), 16u);
    EXPECT_EQ(db_browse_pending_resolves(browse), 0u);
    EXPECT_NE(service.find(false, "dev16"), nullptr);
    const db_node* d = device("dev3");
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(db_node_default_name(d), "dev3");
    EXPECT_EQ(db_node_network_types(d, 0), DB_NODE_TYPE_CONMON);
    EXPECT_EQ(db_node_instance_id(d)->process_id, 9);
    EXPECT_EQ(db_node_instance_id(d)->device_id.data[7], 0x77);
}

TEST_F(DbBrowseFake, ASilentResolveEndsAfterThirtySecondsAndIsReconfirmed)
{
    start(0x04);
    ASSERT_TRUE(service.advertise(kCmc, "My.Dev", kIndex));
    ASSERT_EQ(pass(), AUD_SUCCESS);
    aud_time deadline{};
    ASSERT_EQ(pass(&deadline), AUD_SUCCESS);
    EXPECT_EQ(deadline.seconds, 1030);
    clock.now = {1030, 0};
    ASSERT_EQ(pass(), AUD_SUCCESS);
    EXPECT_EQ(db_browse_active_resolves(browse), 1u) << "not before the deadline";
    clock.now = {1030, 1};
    socketsChanged = 0;
    ASSERT_EQ(pass(&deadline), AUD_SUCCESS);
    EXPECT_EQ(db_browse_active_resolves(browse), 0u);
    EXPECT_EQ(deadline.seconds, 0);
    EXPECT_EQ(socketsChanged, 1);
    ASSERT_EQ(service.reconfirmed.size(), 1u);
    EXPECT_EQ(service.reconfirmed[0].first, kIndex);
    EXPECT_EQ(service.reconfirmed[0].second, "My\\.Dev._netaudio-cmc._udp.local.");
}

TEST_F(DbBrowseFake, AdvertisementsAreFilteredByInterface)
{
    start(0x04);
    ASSERT_TRUE(service.advertise(kCmc, "other", 99));
    ASSERT_EQ(pass(), AUD_SUCCESS);
    ASSERT_EQ(pass(), AUD_SUCCESS);
    EXPECT_EQ(service.resolves(), 0u);
    EXPECT_EQ(db_browse_num_devices(browse), 0u);
    if (loopback) {
        found(kCmc, "self", {"id=0011223344556677", "process=1"}, loopback);
        const db_node* d = device("self");
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(db_node_localhost_types(d), DB_NODE_TYPE_CONMON);
        EXPECT_EQ(db_node_network_types(d, 0), 0u);
    }
}

TEST_F(DbBrowseFake, AnUnknownIndexIsAdoptedAndARestartReportsAnew)
{
    start(0x05, 0);
    found(kArc, "rack", {"arcp_vers=2.7.1", "router_vers=4.2.300", "router_info=Brox", "mf=_00000001"}, 7);
    EXPECT_EQ(db_browse_get_config(browse)->interface_indexes[0], 7u);
    const db_node* d = device("rack");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(db_node_arcp_version(d)->minor, 7);
    EXPECT_EQ(db_node_router_version(d)->build, 300);
    EXPECT_STREQ(db_node_router_info(d), "Brox");
    EXPECT_EQ(db_node_manufacturer_id(d)->data[3], 1);
    // The same device also advertises control and monitoring: one device.
    found(kCmc, "rack", {"id=0011223344556677", "process=2"}, 7);
    ASSERT_EQ(db_browse_num_devices(browse), 1u);
    EXPECT_EQ(db_node_all_types(device("rack")), DB_NODE_TYPE_MEDIA | DB_NODE_TYPE_CONMON);

    ASSERT_EQ(db_browse_stop(browse), AUD_SUCCESS);
    reports.clear();
    restart(8);
    found(kArc, "rack", {"arcp_vers=2.7.1"}, 8);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports[0].event, DB_NODE_ADDED);
    EXPECT_EQ(reports[0].name, "rack");
}

TEST_F(DbBrowseFake, RemovalTakesTheBitAndThenTheDevice)
{
    start(0x0D);
    found(kCmc, "rack", {"id=0011223344556677", "process=2", "vid=FFEEDDCCBBAA9988", "vba=1.2.3.4"});
    found(kSafe, "rack", {"id=0011223344556677", "process=2"});
    ASSERT_EQ(db_node_all_types(device("rack")), DB_NODE_TYPE_CONMON | DB_NODE_TYPE_SAFE_MODE);
    EXPECT_EQ(db_node_vba(device("rack"))[3], 4);
    reports.clear();
    ASSERT_TRUE(service.advertise(kCmc, "rack", kIndex, false));
    ASSERT_EQ(pass(), AUD_SUCCESS);
    ASSERT_NE(device("rack"), nullptr);
    EXPECT_EQ(db_node_all_types(device("rack")), DB_NODE_TYPE_SAFE_MODE);
    EXPECT_EQ(db_node_instance_id(device("rack"))->process_id, 0) << "conmon data goes with its bit";
    EXPECT_EQ(db_node_vendor_id(device("rack"))->data[0], 0);
    ASSERT_TRUE(service.advertise(kSafe, "rack", kIndex, false));
    ASSERT_EQ(pass(), AUD_SUCCESS);
    EXPECT_EQ(device("rack"), nullptr);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].event, DB_NODE_MODIFIED);
    EXPECT_EQ(reports[1].event, DB_NODE_REMOVED);
    EXPECT_GE(treeChanged, 2);
}

TEST_F(DbBrowseFake, ResolvedRecordsThatAddNothing)
{
    start(0x3F);
    struct Case {
        const char* what;
        std::string type;
        std::string name;
        std::vector<std::string> txt;
    } cases[] = {
        {"15 hex digits", kCmc, "c1", {"id=001122334455667", "process=1"}},
        {"not hex", kCmc, "c2", {"id=00112233445566zz", "process=1"}},
        {"no process", kCmc, "c3", {"id=0011223344556677"}},
        {"process above 65535", kCmc, "c4", {"id=0011223344556677", "process=65536"}},
        {"vba part above 255", kCmc, "c5", {"id=0011223344556677", "process=1", "vba=1.2.3.256"}},
        {"vba with three parts", kCmc, "c6", {"id=0011223344556677", "process=1", "vba=1.2.3"}},
        {"short vid", kCmc, "c7", {"id=0011223344556677", "process=1", "vid=0011"}},
        {"empty vid", kCmc, "c8", {"id=0011223344556677", "process=1", "vid="}},
        {"safe mode without id", kSafe, "s1", {"process=1"}},
        {"via without vers_curr", "_netaudio-via._tcp.", "v1", {"id=0011223344556677", "process=1", "vers_min=1.0.0"}},
        {"via bad vers_min", "_netaudio-via._tcp.", "v2",
            {"id=0011223344556677", "process=1", "vers_min=1.0", "vers_curr=1.0.0"}},
        {"channel without @", kChan, "chan1dev", {"id=1", "rate=48000", "enc=24"}},
        {"channel without rate", kChan, "c@d1", {"id=1", "enc=24"}},
        {"channel id above 65535", kChan, "c@d2", {"id=65536", "rate=48000", "enc=24"}},
    };
    for (const auto& c : cases) {
        found(c.type, c.name, c.txt);
        EXPECT_EQ(lastResult, AUD_SUCCESS) << c.what;
        EXPECT_EQ(db_browse_num_devices(browse), 0u) << c.what;
    }
    // A name as long as the row's limit is not even resolved.
    ASSERT_TRUE(service.advertise(kCmc, std::string(32, 'n'), kIndex));
    ASSERT_EQ(pass(), AUD_SUCCESS);
    ASSERT_EQ(pass(), AUD_SUCCESS);
    EXPECT_EQ(service.find(false, std::string(32, 'n')), nullptr);
}

TEST_F(DbBrowseFake, ChannelsLabelsAndFormats)
{
    start(0x02);
    found(kChan, "01@rack", {"id=1", "rate=48000", "enc=24 32 96 80", "default"});
    found(kChan, "Vox@rack", {"id=1", "rate=48000", "enc=24"});
    const db_node* d = device("rack");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(db_node_network_types(d, 0), DB_NODE_TYPE_CHANNEL);
    ASSERT_EQ(db_node_num_channels(d), 1u);
    const db_node* c = db_node_channel_at(d, 0);
    EXPECT_STREQ(db_node_name(c), "01");
    EXPECT_EQ(db_node_channel_id(c), 1);
    const db_format* f = db_node_format(c);
    EXPECT_EQ(f->sample_rate, 48000u);
    EXPECT_EQ(f->first_encoding, 24u);
    EXPECT_EQ(f->pcm_sizes, 0x0Cu); // 3 and 4 bytes
    ASSERT_EQ(f->num_high, 2u);
    EXPECT_EQ(f->high[0], 80u);
    EXPECT_EQ(f->high[1], 96u);
    ASSERT_EQ(db_node_num_labels(c), 1u);
    EXPECT_STREQ(db_node_name(db_node_label_at(c, 0)), "Vox");
    EXPECT_EQ(db_node_parent_device(db_node_label_at(c, 0)), d);

    ASSERT_TRUE(service.advertise(kChan, "Vox@rack", kIndex, false));
    ASSERT_EQ(pass(), AUD_SUCCESS);
    EXPECT_EQ(db_node_num_labels(db_node_channel_at(device("rack"), 0)), 0u);
    ASSERT_TRUE(service.advertise(kChan, "01@rack", kIndex, false));
    ASSERT_EQ(pass(), AUD_SUCCESS);
    EXPECT_EQ(device("rack"), nullptr);
}

// A pass that ends with an error still tells the owner that a resolve it
// ended closed its socket, and that the tree changed.
TEST_F(DbBrowseFake, APassEndingInAnErrorStillRunsItsCallbacks)
{
    start(0x06);
    found(kCmc, "rack", {"id=0011223344556677", "process=2"});
    ASSERT_TRUE(service.advertise(kChan, "01@rack", kIndex));
    ASSERT_EQ(pass(), AUD_SUCCESS);
    ASSERT_EQ(pass(), AUD_SUCCESS);
    socketsChanged = 0;
    treeChanged = 0;
    // Nine encodings: the handler stores NOMEMORY; the resolve still ends.
    ASSERT_TRUE(service.answer("01@rack", kIndex, "rack.local.", 1, {"id=1", "rate=48000", "enc=1 2 3 4 5 6 7 8 9"}));
    EXPECT_EQ(pass(), AUD_NOMEMORY);
    EXPECT_EQ(db_browse_active_resolves(browse), 0u);
    EXPECT_EQ(socketsChanged, 1);

    // A DNS-SD failure on a browse socket after a resolve added a device.
    ASSERT_TRUE(service.advertise(kCmc, "rack2", kIndex));
    ASSERT_EQ(pass(), AUD_SUCCESS);
    ASSERT_EQ(pass(), AUD_SUCCESS);
    treeChanged = 0;
    socketsChanged = 0;
    ASSERT_TRUE(service.answer("rack2", kIndex, "rack2.local.", 1, {"id=0011223344556677", "process=3"}));
    ASSERT_TRUE(service.advertise(kChan, "x@y", kIndex));
    service.find(true, kChan)->processError = DNSSD_ERR_UNKNOWN;
    EXPECT_EQ(pass(), AUD_DNSSDFAIL);
    EXPECT_NE(device("rack2"), nullptr);
    EXPECT_EQ(socketsChanged, 1);
    EXPECT_EQ(treeChanged, 1);
}

TEST_F(DbBrowseFake, SettingsAndStates)
{
    db_browse* b = nullptr;
    EXPECT_EQ(db_browse_new(env, 0, &b), AUD_INVALIDPARAMETER);
    start(0x0D);
    EXPECT_EQ(db_browse_set_max_sockets(browse, 19), AUD_INVALIDSTATE);
    db_browse_config config;
    db_browse_config_init(&config);
    EXPECT_EQ(config.resolve_timeout.seconds, 30);
    EXPECT_EQ(config.network_enable_mask, 0xFFFFFFFFu);
    EXPECT_EQ(db_browse_start_config(browse, &config), AUD_INVALIDSTATE);
    ASSERT_EQ(db_browse_stop(browse), AUD_SUCCESS);
    EXPECT_EQ(db_browse_set_max_sockets(browse, 3), AUD_INVALIDPARAMETER);
    EXPECT_EQ(db_browse_set_max_sockets(browse, 4), AUD_SUCCESS);
    aud_fdset set;
    aud_fdset_zero(&set);
    EXPECT_EQ(db_browse_get_sockets(browse, &set), AUD_INVALIDSTATE);
}

} // namespace
