// The client's own bookkeeping, with a bare loopback socket as the service
// so that messages are written by hand: the sequence counter, the
// subscription table and its merge, the handler table and sender names.
#include "dante/conmon/conmon_client.h"
#include "dante/support/aud_log.h"

#include "tests/dante/conmon/conmon_fake.h"
#include "tests/dante/conmon/conmon_test_bytes.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace conmontest;

namespace {

// A UDP socket on 127.0.0.1 that plays the service one datagram at a time.
class BareService {
public:
    BareService()
    {
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in in{};
        in.sin_family = AF_INET;
        in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof in;
        if (bind(m_fd, reinterpret_cast<sockaddr*>(&in), sizeof in) == 0
            && getsockname(m_fd, reinterpret_cast<sockaddr*>(&in), &len) == 0)
            m_port = ntohs(in.sin_port);
    }
    ~BareService() { close(m_fd); }
    BareService(const BareService&) = delete;
    BareService& operator=(const BareService&) = delete;

    uint16_t port() const { return m_port; }

    // The next datagram, empty after a second without one.
    Bytes receive()
    {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, 1000) <= 0)
            return {};
        Bytes b(CONMON_MESSAGE_MAX);
        socklen_t len = sizeof m_client;
        const ssize_t n = recvfrom(m_fd, b.data(), b.size(), 0, reinterpret_cast<sockaddr*>(&m_client), &len);
        b.resize(n > 0 ? size_t(n) : 0);
        return b;
    }

    void send(const Bytes& b)
    {
        sendto(m_fd, b.data(), b.size(), 0, reinterpret_cast<const sockaddr*>(&m_client), sizeof m_client);
    }

private:
    int m_fd = -1;
    uint16_t m_port = 0;
    sockaddr_in m_client{};
};

uint16_t seqOf(const Bytes& b)
{
    return b.size() >= 6 ? uint16_t(b[4] | b[5] << 8) : 0;
}

struct StateSeen {
    std::vector<aud_error> results;
    std::vector<std::vector<std::string>> batches;
    std::vector<std::string> messages;
    std::vector<std::string> names;
};

StateSeen* stateSeen(conmon_client* c)
{
    return static_cast<StateSeen*>(conmon_client_context(c));
}

void onStateResponse(conmon_client* c, conmon_client_request*, aud_error e)
{
    stateSeen(c)->results.push_back(e);
}

void onStateSubscriptions(conmon_client* c, size_t n, const conmon_client_subscription* const* changed)
{
    std::vector<std::string> batch;
    for (size_t i = 0; i < n; ++i)
        batch.push_back(changed[i]->device_name);
    stateSeen(c)->batches.push_back(batch);
}

void onStateMonitoring(
    conmon_client* c, uint16_t type, uint16_t flag, const conmon_envelope* env, const uint8_t*, size_t)
{
    stateSeen(c)->messages.push_back(std::to_string(type) + "/" + std::to_string(flag));
    const conmon_instance_id id{env->device_id, env->process_id};
    const char* name = conmon_client_get_sender_name(c, &id);
    stateSeen(c)->names.push_back(name ? name : "-");
}

// Subscription entry in the 72-byte form.
struct Entry {
    std::string name;
    uint16_t status = 2;
    std::string id = "1111111111111111";
    uint16_t pid = 1;
    std::string address = "0a000001";
    uint16_t index = 0;
    uint8_t byte50 = 0;
};

Bytes subscriptionList(
    uint16_t opcode, uint16_t status, uint16_t seqnum, const std::vector<Entry>& entries, uint16_t apply = 1)
{
    Writer w = local(0x1300, seqnum, opcode, status, 16 + 72 * entries.size());
    w.le16(10, uint16_t(entries.size())).le16(12, apply);
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        const size_t at = 16 + 72 * i;
        w.le16(at, 3).le16(at + 2, 2).bytes(at + 4, e.name).hex(at + 36, e.id).le16(at + 44, e.pid);
        w.le16(at + 46, e.status).le16(at + 48, e.index);
        w.b[at + 50] = e.byte50;
        w.le16(at + 52, 1).le16(at + 54, 1).hex(at + 56, e.address).le16(at + 60, 8700);
    }
    return w.b;
}

Bytes channelMessage(uint16_t type, uint16_t flag, const std::string& sender, const std::string& idHex, uint16_t pid,
    uint16_t envelopeWord = 28)
{
    const bool named = !sender.empty();
    const size_t at = named ? 48 : 16;
    Writer w = local(0x1300, 0, named ? 0x0511 : 0x0510, 2, at + 28);
    w.le16(10, type).le16(12, flag);
    if (named)
        w.bytes(16, sender);
    w.be16(at, 0xFFFF).be16(at + 2, envelopeWord).be16(at + 6, pid).hex(at + 8, idHex).bytes(at + 16, "Audinate");
    return w.b;
}

class ConmonClientStateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(m_service.port(), 0);
        const conmon_client_config config = configFor("quillon-dfa", m_service.port(), 0x1300);
        conmon_client* c = nullptr;
        ASSERT_EQ(conmon_client_new_config(m_env.get(), &config, &c), AUD_SUCCESS);
        m_client.reset(c);
        conmon_client_set_context(c, &m_seen);
        conmon_client_set_subscriptions_changed_callback(c, onStateSubscriptions);
        ASSERT_EQ(conmon_client_connect(c, onStateResponse, nullptr), AUD_SUCCESS);
        const Bytes connect = m_service.receive();
        ASSERT_EQ(seqOf(connect), 1);
        // A response with name and identity and no interface.
        Writer w = local(0x1300, 1, 0x0100, 1, 324);
        w.bytes(12, "pc-one").hex(300, "0102030405060708").le16(308, 42).le16(312, 36).le16(314, 324);
        m_service.send(w.b);
        ASSERT_TRUE(pumpUntil(c, nullptr, [&] { return !m_seen.results.empty(); }));
        ASSERT_EQ(conmon_client_get_state(c), CONMON_CLIENT_CONNECTED);
        m_seen.results.clear();
    }

    aud_error feed(const Bytes& b) { return process_message(m_client.get(), b.data(), b.size()); }

    EnvRef m_env;
    BareService m_service;
    StateSeen m_seen;
    std::unique_ptr<conmon_client, void (*)(conmon_client*)> m_client{nullptr, conmon_client_free};
};

// A datagram that fails validation is refused, and the log names the step
// that refused it.
TEST_F(ConmonClientStateTest, ARefusedDatagramIsLoggedByProcessMessage)
{
    aud_log_state* log = aud_env_log(m_env.get());
    std::vector<std::string> lines;
    aud_log_set_callback(
        log,
        [](aud_log_state*, void* context, const char*, unsigned, const char* text, size_t length) {
            static_cast<std::vector<std::string>*>(context)->emplace_back(text, length);
        },
        &lines);
    aud_log_set_level(log, AUD_LOG_WARNING);
    aud_log_set_sink_level(log, AUD_LOG_SINK_CALLBACK, AUD_LOG_WARNING);
    EXPECT_EQ(feed(Bytes{0x12, 0x34}), AUD_INVALIDDATA);
    aud_log_set_callback(log, nullptr, nullptr);
    aud_log_set_level(log, 0);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("process_message: Error validating: ", 0), 0u) << lines[0];
}

TEST_F(ConmonClientStateTest, SequenceCounterWrapsToOne)
{
    conmon_client* c = m_client.get();
    uint16_t last = 1;
    for (uint32_t i = 2; i <= 0x10000; ++i) {
        conmon_client_request* r = nullptr;
        ASSERT_EQ(conmon_client_subscribe_global(c, nullptr, &r, CONMON_CHANNEL_STATUS), AUD_SUCCESS);
        conmon_client_request_release(c, r);
        const uint16_t got = seqOf(m_service.receive());
        ASSERT_EQ(got, i <= 0xFFFF ? i : 1u) << "after " << last;
        last = got;
    }
}

TEST_F(ConmonClientStateTest, SubscriptionMergeNewChangedUnchanged)
{
    Entry a{"BROX-1"}, b{"PELL-1"};
    b.id = "2222222222222222";
    ASSERT_EQ(feed(subscriptionList(0x0521, 2, 0, {a, b})), AUD_SUCCESS);
    ASSERT_EQ(m_seen.batches.size(), 1u);
    EXPECT_EQ(m_seen.batches[0], (std::vector<std::string>{"BROX-1", "PELL-1"}));
    const conmon_client_subscription* r = conmon_client_get_subscription(m_client.get(), 0);
    EXPECT_EQ(r->flags, CONMON_SUBSCRIPTION_NEW | CONMON_SUBSCRIPTION_ID_KNOWN | CONMON_SUBSCRIPTION_ADDRESSES_KNOWN);
    EXPECT_EQ(r->addresses.networks[0].port, 8700);

    feed(subscriptionList(0x0521, 2, 0, {a, b})); // unchanged
    EXPECT_EQ(m_seen.batches.size(), 1u);

    Entry a2 = a;
    a2.status = 0x12;
    Entry b2 = b;
    b2.address = "0a000002";
    feed(subscriptionList(0x0521, 2, 0, {a2, b2}));
    ASSERT_EQ(m_seen.batches.size(), 2u);
    EXPECT_EQ(m_seen.batches[1], (std::vector<std::string>{"BROX-1", "PELL-1"}));

    a2.byte50 = 7;
    feed(subscriptionList(0x0521, 2, 0, {a2, b2}));
    ASSERT_EQ(m_seen.batches.size(), 3u);
    EXPECT_EQ(m_seen.batches[2], std::vector<std::string>{"BROX-1"});

    // Another index is another record; a list marked not to apply is not.
    Entry a3 = a2;
    a3.index = 1;
    feed(subscriptionList(0x0521, 2, 0, {a3}, 0));
    EXPECT_EQ(m_seen.batches.size(), 3u);
    feed(subscriptionList(0x0521, 2, 0, {a3}));
    ASSERT_EQ(m_seen.batches.size(), 4u);
    EXPECT_EQ(conmon_client_get_subscription(m_client.get(), 2)->index, 1);
}

TEST_F(ConmonClientStateTest, SubscriptionTableFillsAtNinetySix)
{
    std::vector<Entry> all;
    for (int i = 0; i < 96; ++i)
        all.push_back(Entry{"D" + std::to_string(i)});
    ASSERT_EQ(feed(subscriptionList(0x0521, 2, 0, all)), AUD_SUCCESS);
    ASSERT_EQ(m_seen.batches.size(), 1u);
    EXPECT_EQ(m_seen.batches[0].size(), 96u);
    EXPECT_STREQ(conmon_client_get_subscription(m_client.get(), 95)->device_name, "D95");
    // No record is free for a 97th device: nothing changes.
    ASSERT_EQ(feed(subscriptionList(0x0521, 2, 0, {Entry{"EXTRA"}})), AUD_SUCCESS);
    EXPECT_EQ(m_seen.batches.size(), 1u);
    EXPECT_EQ(conmon_client_get_subscription(m_client.get(), 96), nullptr);
}

TEST_F(ConmonClientStateTest, SubscribeResponseNeedsItsCount)
{
    conmon_client_request* r = nullptr;
    ASSERT_EQ(conmon_client_subscribe_global(m_client.get(), onStateResponse, &r, CONMON_CHANNEL_STATUS), AUD_SUCCESS);
    const uint16_t seq = seqOf(m_service.receive());
    // Eleven bytes: one byte of a count. Dropped, the request stays pending.
    Bytes shortList = local(0x1300, seq, 0x0310, 1, 11).b;
    shortList[10] = 1;
    EXPECT_EQ(feed(shortList), AUD_INVALIDDATA);
    EXPECT_TRUE(m_seen.results.empty());
    EXPECT_TRUE(m_seen.batches.empty());
    ASSERT_EQ(feed(subscriptionList(0x0310, 1, seq, {Entry{"BROX-1"}})), AUD_SUCCESS);
    EXPECT_EQ(m_seen.results, std::vector<aud_error>{AUD_SUCCESS});
    EXPECT_EQ(m_seen.batches.size(), 1u);
}

TEST_F(ConmonClientStateTest, HandlersSitAtTypeTimesTwoPlusFlag)
{
    conmon_client* c = m_client.get();
    const struct {
        uint16_t type;
        bool other;
    } registered[] = {{2, false}, {2, true}, {8, true}, {4, false}};
    for (const auto& r : registered)
        ASSERT_EQ(conmon_client_register_monitoring_messages(c, nullptr, nullptr, r.type, r.other, onStateMonitoring),
            AUD_SUCCESS);
    const struct {
        uint16_t type;
        uint16_t flag;
    } sent[] = {{2, 0}, {2, 1}, {3, 0}, {8, 1}, {8, 0}, {4, 0}, {4, 1}, {1, 1}, {2, 2}, {9, 0}};
    for (const auto& s : sent)
        feed(channelMessage(s.type, s.flag, "", "00000000000000aa", 1));
    EXPECT_EQ(m_seen.messages, (std::vector<std::string>{"2/0", "2/1", "8/1", "4/0"}));

    // Deregistering clears the handler and sends Deregister.
    ASSERT_EQ(conmon_client_register_monitoring_messages(c, nullptr, nullptr, 2, false, nullptr), AUD_SUCCESS);
    feed(channelMessage(2, 0, "", "00000000000000aa", 1));
    EXPECT_EQ(m_seen.messages.size(), 4u);
}

TEST_F(ConmonClientStateTest, EnvelopeShorterThanItselfNeverReachesAHandler)
{
    ASSERT_EQ(conmon_client_register_monitoring_messages(m_client.get(), nullptr, nullptr, 2, true, onStateMonitoring),
        AUD_SUCCESS);
    EXPECT_EQ(feed(channelMessage(2, 1, "", "00000000000000aa", 1, 0)), AUD_INVALIDDATA);
    EXPECT_EQ(feed(channelMessage(2, 1, "NAMED", "00000000000000aa", 1, 23)), AUD_INVALIDDATA);
    EXPECT_TRUE(m_seen.messages.empty());
    EXPECT_EQ(conmon_client_get_state(m_client.get()), CONMON_CLIENT_CONNECTED);
}

TEST_F(ConmonClientStateTest, SenderNameOrder)
{
    conmon_client* c = m_client.get();
    ASSERT_EQ(conmon_client_register_monitoring_messages(c, nullptr, nullptr, 2, true, onStateMonitoring), AUD_SUCCESS);
    Entry known{"BROX-1"};
    known.id = "00000000000000bb";
    known.pid = 5;
    feed(subscriptionList(0x0521, 2, 0, {known}));
    feed(channelMessage(2, 1, "SELF-ALIAS", "0102030405060708", 42)); // local identity first
    feed(channelMessage(2, 1, "OTHER-NAME", "00000000000000bb", 5)); // then the table
    feed(channelMessage(2, 1, "STRANGER", "00000000000000cc", 5)); // then the message itself
    feed(channelMessage(2, 1, "", "00000000000000cc", 5)); // plain: nobody knows
    EXPECT_EQ(m_seen.names, (std::vector<std::string>{"pc-one", "BROX-1", "STRANGER", "-"}));
    const conmon_instance_id stranger{{{0, 0, 0, 0, 0, 0, 0, 0xcc}}, 5};
    EXPECT_EQ(conmon_client_get_sender_name(c, &stranger), nullptr); // only while delivered
}

} // namespace
