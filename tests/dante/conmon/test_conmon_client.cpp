// The client against fake_conmon.py over real UDP on loopback: connecting
// (and stepping down), requests and their slots, events, and a service
// that goes away.
#include "dante/conmon/conmon_client.h"

#include "tests/dante/conmon/conmon_fake.h"
#include "tests/dante/conmon/conmon_test_bytes.h"

#include <gtest/gtest.h>

#include <memory>
#include <net/if.h>
#include <string>
#include <sys/socket.h>
#include <vector>

using namespace conmontest;

namespace {

// What the callbacks saw, reached through the client's context.
struct Seen {
    std::vector<aud_error> results;
    std::vector<conmon_client_request*> requests;
    int socketsChanged = 0;
    int networksChanged = 0;
    int nameChanged = 0;
    int domainChanged = 0;
    std::vector<std::vector<std::string>> subscriptionBatches;
    std::vector<std::string> messages; // "type/flag/payload hex" or "control/payload hex"
    std::vector<std::string> senderNames;
};

Seen* seen(conmon_client* c)
{
    return static_cast<Seen*>(conmon_client_context(c));
}

void onResponse(conmon_client* c, conmon_client_request* r, aud_error e)
{
    seen(c)->results.push_back(e);
    seen(c)->requests.push_back(r);
}

void onSubscriptions(conmon_client* c, size_t n, const conmon_client_subscription* const* changed)
{
    std::vector<std::string> batch;
    for (size_t i = 0; i < n; ++i)
        batch.push_back(std::string(changed[i]->device_name) + "=" + std::to_string(changed[i]->status));
    seen(c)->subscriptionBatches.push_back(batch);
}

void onMonitoring(
    conmon_client* c, uint16_t type, uint16_t flag, const conmon_envelope* env, const uint8_t* payload, size_t length)
{
    seen(c)->messages.push_back(std::to_string(type) + "/" + std::to_string(flag) + "/" + qtest::hex(payload, length));
    const conmon_instance_id id{env->device_id, env->process_id};
    const char* name = conmon_client_get_sender_name(c, &id);
    seen(c)->senderNames.push_back(name ? name : "-");
}

void onControl(conmon_client* c, const conmon_envelope*, const uint8_t* payload, size_t length)
{
    seen(c)->messages.push_back("control/" + qtest::hex(payload, length));
}

using ClientPtr = std::unique_ptr<conmon_client, void (*)(conmon_client*)>;

class ConmonClientTest : public ::testing::Test {
protected:
    // A client for 127.0.0.1:port with the callbacks above.
    ClientPtr makeClient(uint16_t port, uint16_t version = CONMON_VERSION_DEFAULT)
    {
        const conmon_client_config config = configFor("quillon-dfa", port, version);
        conmon_client* c = nullptr;
        EXPECT_EQ(conmon_client_new_config(m_env.get(), &config, &c), AUD_SUCCESS);
        conmon_client_set_context(c, &m_seen);
        conmon_client_set_subscriptions_changed_callback(c, onSubscriptions);
        conmon_client_set_sockets_changed_callback(c, [](conmon_client* x) { ++seen(x)->socketsChanged; });
        conmon_client_set_networks_changed_callback(c, [](conmon_client* x) { ++seen(x)->networksChanged; });
        conmon_client_set_device_name_changed_callback(c, [](conmon_client* x) { ++seen(x)->nameChanged; });
        conmon_client_set_dns_domain_changed_callback(c, [](conmon_client* x) { ++seen(x)->domainChanged; });
        return ClientPtr(c, conmon_client_free);
    }

    // Connects and waits for the completion.
    void connect(conmon_client* c, FakeService* fake)
    {
        conmon_client_request* handle = nullptr;
        ASSERT_EQ(conmon_client_connect(c, onResponse, &handle), AUD_SUCCESS);
        EXPECT_EQ(conmon_client_get_state(c), CONMON_CLIENT_CONNECTING);
        ASSERT_TRUE(pumpUntil(c, fake, [&] { return !m_seen.results.empty(); }));
        ASSERT_EQ(m_seen.results[0], AUD_SUCCESS);
        ASSERT_EQ(m_seen.requests[0], handle);
        ASSERT_EQ(conmon_client_get_state(c), CONMON_CLIENT_CONNECTED);
        m_seen.results.clear();
        m_seen.requests.clear();
    }

    // Waits for n more completions.
    bool completions(conmon_client* c, FakeService* fake, size_t n)
    {
        return pumpUntil(c, fake, [&] { return m_seen.results.size() >= n; });
    }

    static uint16_t port() { return qtest::freePort(SOCK_DGRAM); }

    EnvRef m_env;
    Seen m_seen;
};

TEST_F(ConmonClientTest, ConnectsAtTheNewestVersion)
{
    FakeService fake(port(), {});
    ASSERT_TRUE(fake.ready());
    auto c = makeClient(fake.port());
    connect(c.get(), &fake);
    EXPECT_EQ(fake.count("RECV", {"\"op\":256", "\"ver\":5376", "\"len\":44", "\"name\":\"quillon-dfa\""}), 1u);
    EXPECT_STREQ(conmon_client_get_device_name(c.get()), "quillon-pc");
    EXPECT_STREQ(conmon_client_get_dns_domain(c.get()), "local.");
    char id[CONMON_INSTANCE_ID_TEXT_SIZE];
    EXPECT_STREQ(conmon_instance_id_text(conmon_client_get_local_id(c.get()), id, sizeof id), "001dc1fffe000001:4242");
    const conmon_interfaces* ifs = conmon_client_get_interfaces(c.get());
    ASSERT_NE(ifs, nullptr);
    ASSERT_EQ(ifs->count, 1);
    EXPECT_EQ(ifs->entries[0].words[CONMON_WORD_INDEX], if_nametoindex("lo"));
    aud_interface lo;
    ASSERT_EQ(conmon_client_get_resolved_interface(c.get(), 0, &lo), AUD_SUCCESS);
    EXPECT_STREQ(lo.adapter_name, "lo");
    conmon_client_request* again = nullptr;
    EXPECT_EQ(conmon_client_connect(c.get(), onResponse, &again), AUD_INVALIDSTATE);

    conmon_client_disconnect(c.get());
    EXPECT_EQ(conmon_client_get_state(c.get()), CONMON_CLIENT_NO_CONNECTION);
    EXPECT_EQ(conmon_client_get_device_name(c.get()), nullptr);
    EXPECT_TRUE(fake.await("RECV", {"\"op\":257"}));
    EXPECT_EQ(m_seen.socketsChanged, 0); // a manual close does not notify
}

TEST_F(ConmonClientTest, StepsDownToAnOlderService)
{
    FakeService fake(port(), {"--knob", "step_down=0x1300"});
    ASSERT_TRUE(fake.ready());
    auto c = makeClient(fake.port());
    connect(c.get(), &fake);
    // The second Connect is the short form at the service's version.
    EXPECT_EQ(fake.count("RECV", {"\"op\":256", "\"ver\":5376", "\"len\":44"}), 1u);
    EXPECT_EQ(fake.count("RECV", {"\"op\":256", "\"ver\":4864", "\"len\":22", "\"nul\":true"}), 1u);
    // Later requests speak 0x1300 too.
    ASSERT_EQ(conmon_client_subscribe_global(c.get(), onResponse, nullptr, CONMON_CHANNEL_STATUS), AUD_SUCCESS);
    EXPECT_TRUE(fake.await("RECV", {"\"op\":784", "\"ver\":4864", "\"len\":25"}, c.get()));
}

TEST_F(ConmonClientTest, NoServiceRefusesTheConnect)
{
    auto c = makeClient(port());
    conmon_client_request* handle = nullptr;
    ASSERT_EQ(conmon_client_connect(c.get(), onResponse, &handle), AUD_SUCCESS);
    ASSERT_TRUE(pumpUntil(c.get(), nullptr, [&] { return !m_seen.results.empty(); }));
    EXPECT_EQ(m_seen.results[0], AUD_CONNREFUSED);
    EXPECT_EQ(conmon_client_get_state(c.get()), CONMON_CLIENT_NO_CONNECTION);
    EXPECT_EQ(m_seen.socketsChanged, 1);
    aud_fdset set;
    aud_fdset_zero(&set);
    EXPECT_EQ(conmon_client_get_sockets(c.get(), &set), AUD_INVALIDSTATE);
    EXPECT_EQ(conmon_client_subscribe_global(c.get(), onResponse, nullptr, 2), AUD_NOTCONN);
}

TEST_F(ConmonClientTest, ServiceGoneWhileConnectedCloses)
{
    FakeService fake(port(), {});
    ASSERT_TRUE(fake.ready());
    auto c = makeClient(fake.port());
    connect(c.get(), &fake);
    fake.command("close");
    ASSERT_TRUE(fake.await("CLOSED", {}));
    ASSERT_EQ(conmon_client_subscribe_global(c.get(), onResponse, nullptr, CONMON_CHANNEL_STATUS), AUD_SUCCESS);
    ASSERT_TRUE(
        pumpUntil(c.get(), nullptr, [&] { return conmon_client_get_state(c.get()) == CONMON_CLIENT_NO_CONNECTION; }));
    EXPECT_EQ(m_seen.socketsChanged, 1);
    EXPECT_FALSE(conmon_client_is_subscribed(c.get(), CONMON_CHANNEL_STATUS));
    // It does not come back by itself, and a new connect is allowed.
    fake.command("open");
    ASSERT_TRUE(fake.await("OPENED", {}));
    m_seen.results.clear();
    connect(c.get(), &fake);
}

TEST_F(ConmonClientTest, ResponseWithAnotherOpcodeIsInvalidData)
{
    FakeService fake(port(), {"--knob", "reply_opcode=0x0300:0x0301"});
    ASSERT_TRUE(fake.ready());
    auto c = makeClient(fake.port());
    connect(c.get(), &fake);
    ASSERT_EQ(conmon_client_register_monitoring_messages(
                  c.get(), onResponse, nullptr, CONMON_CHANNEL_STATUS, true, onMonitoring),
        AUD_SUCCESS);
    ASSERT_TRUE(completions(c.get(), &fake, 1));
    EXPECT_EQ(m_seen.results[0], AUD_INVALIDDATA);
}

TEST_F(ConmonClientTest, ErrorStatusCompletesWithItsMappedCode)
{
    FakeService fake(port(), {"--knob", "reply_status=0x0300:13,0x0310:3"});
    ASSERT_TRUE(fake.ready());
    auto c = makeClient(fake.port());
    connect(c.get(), &fake);
    ASSERT_EQ(conmon_client_register_control_messages(c.get(), onResponse, nullptr, onControl), AUD_SUCCESS);
    ASSERT_EQ(conmon_client_subscribe_global(c.get(), onResponse, nullptr, CONMON_CHANNEL_STATUS), AUD_SUCCESS);
    ASSERT_TRUE(completions(c.get(), &fake, 2));
    EXPECT_EQ(m_seen.results[0], AUD_NOTFOUND);
    EXPECT_EQ(m_seen.results[1], AUD_VERSION);
}

TEST_F(ConmonClientTest, UnmatchedAndRepeatedSequenceNumbersAreDropped)
{
    for (const char* mode : {"seq=invent", "seq=repeat"}) {
        SCOPED_TRACE(mode);
        m_seen = Seen{};
        FakeService fake(port(), {"--knob", mode});
        ASSERT_TRUE(fake.ready());
        auto c = makeClient(fake.port());
        connect(c.get(), &fake);
        ASSERT_EQ(conmon_client_register_control_messages(c.get(), onResponse, nullptr, onControl), AUD_SUCCESS);
        ASSERT_TRUE(completions(c.get(), &fake, 1));
        // Let the extra reply arrive too: it finds no request.
        ASSERT_TRUE(fake.await("SENT", {"reply"}, c.get()));
        pumpUntil(
            c.get(), &fake, [] { return false; }, 200);
        EXPECT_EQ(m_seen.results, std::vector<aud_error>{AUD_SUCCESS});
        EXPECT_EQ(conmon_client_get_state(c.get()), CONMON_CLIENT_CONNECTED);
    }
}

TEST_F(ConmonClientTest, AllSlotsBusyGivesNoBuffersAndSendsNothing)
{
    FakeService fake(port(), {"--knob", "drop=0x0300"});
    ASSERT_TRUE(fake.ready());
    auto c = makeClient(fake.port());
    EXPECT_EQ(conmon_client_set_request_slots(c.get(), 2), 2u);
    connect(c.get(), &fake);
    EXPECT_EQ(conmon_client_set_request_slots(c.get(), 24), 2u); // the table exists now
    conmon_client_request* first = nullptr;
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(conmon_client_register_control_messages(c.get(), onResponse, &first, onControl), AUD_SUCCESS);
    EXPECT_EQ(conmon_client_register_control_messages(c.get(), onResponse, nullptr, onControl), AUD_NOBUFS);
    // A request without callback or handle needs no slot; once it shows up
    // at the fake, every earlier datagram has too.
    ASSERT_EQ(conmon_client_unsubscribe_global(c.get(), nullptr, nullptr, CONMON_CHANNEL_STATUS), AUD_SUCCESS);
    ASSERT_TRUE(fake.await("RECV", {"\"op\":785", "\"seq\":0"}, c.get()));
    EXPECT_EQ(fake.count("RECV", {"\"op\":768"}), 2u);
    // Releasing a handle frees its slot without a callback.
    conmon_client_request_release(c.get(), first);
    EXPECT_EQ(conmon_client_register_control_messages(c.get(), onResponse, nullptr, onControl), AUD_SUCCESS);
    EXPECT_TRUE(m_seen.results.empty());
}

TEST_F(ConmonClientTest, FireAndForgetIsMarkedWhenTheServerAsks)
{
    FakeService fake(port(), {"--knob", "flags=1"});
    ASSERT_TRUE(fake.ready());
    auto c = makeClient(fake.port());
    connect(c.get(), &fake);
    ASSERT_EQ(conmon_client_subscribe_global(c.get(), nullptr, nullptr, CONMON_CHANNEL_STATUS), AUD_SUCCESS);
    EXPECT_TRUE(fake.await("RECV", {"\"op\":784", "\"status\":61440"}, c.get()));
    EXPECT_TRUE(conmon_client_is_subscribed(c.get(), CONMON_CHANNEL_STATUS));
}

TEST_F(ConmonClientTest, RegistrationsSubscriptionsAndTheirEvents)
{
    FakeService fake(port(), {"--device", "BROX-1", "--device", "PELL-1"});
    ASSERT_TRUE(fake.ready());
    auto c = makeClient(fake.port());
    connect(c.get(), &fake);
    EXPECT_EQ(conmon_client_register_monitoring_messages(
                  c.get(), onResponse, nullptr, CONMON_CHANNEL_METERING, true, onMonitoring),
        AUD_NOTINITIALISED);
    ASSERT_EQ(conmon_client_register_monitoring_messages(
                  c.get(), onResponse, nullptr, CONMON_CHANNEL_STATUS, true, onMonitoring),
        AUD_SUCCESS);
    ASSERT_EQ(conmon_client_register_control_messages(c.get(), onResponse, nullptr, onControl), AUD_SUCCESS);
    ASSERT_EQ(conmon_client_subscribe_global(c.get(), onResponse, nullptr, CONMON_CHANNEL_STATUS), AUD_SUCCESS);
    ASSERT_TRUE(completions(c.get(), &fake, 3));
    EXPECT_EQ(m_seen.results, (std::vector<aud_error>{AUD_SUCCESS, AUD_SUCCESS, AUD_SUCCESS}));
    EXPECT_TRUE(conmon_client_is_subscribed(c.get(), CONMON_CHANNEL_STATUS));
    EXPECT_EQ(fake.count("RECV", {"\"op\":768", "\"type\":2", "\"other\":1", "\"w14\":0"}), 1u);
    EXPECT_EQ(fake.count("RECV", {"\"op\":784", "\"name\":\"\"", "\"tail_zero\":true"}), 1u);
    ASSERT_EQ(m_seen.subscriptionBatches.size(), 1u);
    EXPECT_EQ(m_seen.subscriptionBatches[0], (std::vector<std::string>{"BROX-1=2", "PELL-1=2"}));

    // Subscriptions Changed: one changed status, then the same list again.
    fake.command("subs BROX-1 0x0012");
    ASSERT_TRUE(pumpUntil(c.get(), &fake, [&] { return m_seen.subscriptionBatches.size() == 2; }));
    EXPECT_EQ(m_seen.subscriptionBatches[1], std::vector<std::string>{"BROX-1=18"});
    fake.command("subs");
    ASSERT_TRUE(fake.await("SENT", {"subs"}, c.get()));
    pumpUntil(
        c.get(), &fake, [] { return false; }, 200);
    EXPECT_EQ(m_seen.subscriptionBatches.size(), 2u);

    // Channel messages reach the handler of their type and flag; a named
    // one lends its sender name while it is delivered.
    const std::string env = "ffff001c0000006300000000000000aa417564696e61746501020304";
    fake.command("chmsg 2 1 " + env);
    fake.command("named 2 1 STRANGER " + env);
    fake.command("chmsg 2 0 " + env); // own device: nobody registered
    fake.command("chmsg 0 1 ffff001c0000006300000000000000aa417564696e6174650a0b0c0d");
    ASSERT_TRUE(pumpUntil(c.get(), &fake, [&] { return m_seen.messages.size() == 3; }));
    pumpUntil(
        c.get(), &fake, [] { return false; }, 200);
    EXPECT_EQ(m_seen.messages, (std::vector<std::string>{"2/1/01020304", "2/1/01020304", "control/0a0b0c0d"}));
    EXPECT_EQ(m_seen.senderNames, (std::vector<std::string>{"-", "STRANGER"}));

    // Name and domain events call back only on a change.
    fake.command("name quillon-pc");
    fake.command("name studio-pc");
    fake.command("domain studio.");
    ASSERT_TRUE(pumpUntil(c.get(), &fake, [&] { return m_seen.domainChanged == 1; }));
    pumpUntil(
        c.get(), &fake, [] { return false; }, 200);
    EXPECT_EQ(m_seen.nameChanged, 1);
    EXPECT_STREQ(conmon_client_get_device_name(c.get()), "studio-pc");
    EXPECT_STREQ(conmon_client_get_dns_domain(c.get()), "studio.");

    ASSERT_EQ(conmon_client_unsubscribe_global(c.get(), onResponse, nullptr, CONMON_CHANNEL_STATUS), AUD_SUCCESS);
    EXPECT_FALSE(conmon_client_is_subscribed(c.get(), CONMON_CHANNEL_STATUS));
}

TEST_F(ConmonClientTest, ControlAndMonitoringMessagesReachTheService)
{
    FakeService fake(port(), {"--device", "BROX-1"});
    ASSERT_TRUE(fake.ready());
    auto c = makeClient(fake.port());
    connect(c.get(), &fake);
    const uint8_t query[] = {0x07, 0x1f, 0x00, 0x61, 0x00, 0x0f, 0x42, 0x40};
    ASSERT_EQ(conmon_client_send_control_message(
                  c.get(), onResponse, nullptr, "BROX-1", 0xFFFF, nullptr, query, sizeof query, nullptr),
        AUD_SUCCESS);
    ASSERT_TRUE(completions(c.get(), &fake, 1));
    EXPECT_EQ(m_seen.results[0], AUD_SUCCESS);
    EXPECT_TRUE(fake.await("DEVREQ", {"\"device\":\"BROX-1\"", "\"type\":97", "\"request\":1000000"}));
    EXPECT_EQ(fake.count("RECV", {"\"env_len\":32", "\"pid\":4242", "\"vendor\":\"417564696e617465\""}), 1u);

    EXPECT_EQ(
        conmon_client_send_control_message(c.get(), onResponse, nullptr, "BROX-1", 0xFFFF, nullptr, query, 7, nullptr),
        AUD_MSGSIZE);
    static uint8_t big[CONMON_PAYLOAD_MAX + 1];
    EXPECT_EQ(conmon_client_send_monitoring_message(
                  c.get(), onResponse, nullptr, CONMON_CHANNEL_LOCAL, 0xFFFF, nullptr, big, sizeof big),
        AUD_INVALIDPARAMETER);
    EXPECT_EQ(conmon_client_send_monitoring_message(
                  c.get(), onResponse, nullptr, CONMON_CHANNEL_SERIAL, 0xFFFF, nullptr, query, 8),
        AUD_NOTINITIALISED);
    const conmon_id64 vendor = {{'V', 'a', 'l', 'd', 'o', 'r', 0, 0}};
    ASSERT_EQ(conmon_client_send_monitoring_message(
                  c.get(), onResponse, nullptr, CONMON_CHANNEL_LOCAL, 0x0102, &vendor, query, 2),
        AUD_SUCCESS);
    EXPECT_TRUE(fake.await("RECV", {"\"op\":1024", "\"type\":4", "\"word\":258", "\"payload\":\"071f\""}, c.get()));
}

TEST_F(ConmonClientTest, ReleasingTheConnectHandleCloses)
{
    FakeService fake(port(), {"--knob", "drop=0x0100"});
    ASSERT_TRUE(fake.ready());
    auto c = makeClient(fake.port());
    conmon_client_request* handle = nullptr;
    ASSERT_EQ(conmon_client_connect(c.get(), onResponse, &handle), AUD_SUCCESS);
    ASSERT_TRUE(fake.await("DROP", {}));
    conmon_client_request_release(c.get(), handle);
    EXPECT_EQ(conmon_client_get_state(c.get()), CONMON_CLIENT_NO_CONNECTION);
    EXPECT_TRUE(fake.await("RECV", {"\"op\":257"}));
    EXPECT_TRUE(m_seen.results.empty());
}

} // namespace
