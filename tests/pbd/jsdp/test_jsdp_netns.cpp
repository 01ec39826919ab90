// The engine on a veth pair against the independent peer in the other
// namespace: discovery, answers, announcements, ageing and bad datagrams.
#include "tests/pbd/jsdp/jsdp_fixture.h"

#include "tests/support/netns.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>

using jsdptest::Channel;
using jsdptest::Heard;
using jsdptest::Recorder;
using qtest::NetnsBed;

namespace {

std::vector<std::string> peer(const NetnsBed& bed, const std::vector<std::string>& args)
{
    std::vector<std::string> all = {args.front(), "--address", NetnsBed::kPeerAddress};
    all.insert(all.end(), args.begin() + 1, args.end());
    return bed.inPeer(qtest::pythonPeer("jsdp_peer.py", all));
}

bool waitReady(qtest::ChildProcess& child)
{
    std::string line;
    return child.started() && child.readLine(&line, 5000) && line == "READY";
}

// Reads the peer's lines for up to timeoutMs; counts those starting with
// `prefix` and keeps the last one.
int countLines(qtest::ChildProcess& child, const std::string& prefix, int timeoutMs, std::string* last = nullptr)
{
    int count = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                  .count();
        if (left <= 0)
            return count;
        std::string line;
        if (!child.readLine(&line, static_cast<int>(left)))
            return count;
        if (line.rfind(prefix, 0) == 0) {
            ++count;
            if (last)
                *last = line;
        }
    }
}

// Every test here: a fresh namespace, the bed, a running engine, a
// subscriber registered from this (non-task) thread.
class JsdpNet : public ::testing::Test {
protected:
    bool setUpNet()
    {
        if (!bed.ready()) {
            ADD_FAILURE() << bed.error();
            return false;
        }
        jsdptest::ensureEngine();
        jsdptest::resetEngine();
        jsdp_setAgeingTime(1000);
        return jsdp_subscribe(Recorder::callback, &recorder) == JSDP_OK;
    }
    void TearDown() override
    {
        if (qtest::insideTestNetns()) {
            jsdp_unsubscribe(Recorder::callback, &recorder);
            jsdptest::resetEngine();
        }
    }
    static bool fromPeer(const Heard& h) { return h.sender == NetnsBed::kPeerAddress; }

    NetnsBed bed;
    Recorder recorder;
};

} // namespace

TEST_F(JsdpNet, FindsAnAnnouncingUnitAnswersItAndReportsItGone)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(setUpNet());
    Channel responder(false, NetnsBed::kLocalAddress, "host=quillon");
    ASSERT_EQ(jsdp_open(responder.fix(), 1), JSDP_OK);

    auto unit = std::make_unique<qtest::ChildProcess>(
        peer(bed, {"announce", "--payload", "model=BroxL-D", "--period", "200", "--seconds", "10"}));
    ASSERT_TRUE(waitReady(*unit));
    ASSERT_TRUE(recorder.waitHeard([](const Heard& h) { return h.alive == 1 && fromPeer(h); }));
    const Heard found = recorder.heard().front();
    EXPECT_EQ(found.announced, NetnsBed::kPeerAddress);
    EXPECT_EQ(found.payload, "model=BroxL-D");
    EXPECT_EQ(found.type, "_jpa-scp");
    EXPECT_EQ(found.flags, 0);
    EXPECT_EQ(found.mac[5], 0x02);

    // Our answer reaches the announcer, flagged as a responder's.
    std::string answer;
    ASSERT_GT(countLines(*unit, "HEARD", 1000, &answer), 0);
    std::ostringstream expected;
    expected << "HEARD 128 4 " << NetnsBed::kLocalAddress << " 02:51:00:00:00:01 _jpa-scp "
             << "686f73743d7175696c6c6f6e " << NetnsBed::kLocalAddress << " 54330";
    EXPECT_EQ(answer, expected.str());

    // A subscriber that comes later is told of it at once.
    Recorder late;
    ASSERT_EQ(jsdp_subscribe(Recorder::callback, &late), JSDP_OK);
    EXPECT_EQ(late.count(), 1u);
    jsdp_unsubscribe(Recorder::callback, &late);

    // Silent for the ageing time: reported gone, once.
    unit.reset();
    ASSERT_TRUE(recorder.waitHeard([](const Heard& h) { return h.alive == 0; }, 4000));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    int gone = 0;
    for (const Heard& h : recorder.heard())
        gone += h.alive == 0;
    EXPECT_EQ(gone, 1);

    // Heard again: alive in the same record.
    const size_t before = recorder.count();
    qtest::ChildProcess again(peer(bed, {"announce", "--payload", "model=BroxL-D", "--seconds", "5"}));
    ASSERT_TRUE(waitReady(again));
    ASSERT_TRUE(jsdptest::waitFor([&] { return recorder.count() > before; }));
    const Heard back = recorder.heard().back();
    EXPECT_EQ(back.alive, 1);
    EXPECT_EQ(back.record, found.record);
}

TEST_F(JsdpNet, AnnouncesEveryPeriodWhileTrafficNeverStops)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(setUpNet());
    Channel announcer(true, NetnsBed::kLocalAddress, "model=Quillon");
    announcer.config.periodMs = 200;
    // The peer announces every 5 ms, so the engine never waits idle.
    qtest::ChildProcess unit(
        peer(bed, {"announce", "--vary", "--payload", "busy", "--period", "5", "--seconds", "10"}));
    ASSERT_TRUE(waitReady(unit));
    ASSERT_EQ(jsdp_open(announcer.fix(), 1), JSDP_OK);

    std::string last;
    const int heard = countLines(unit, "HEARD", 2000, &last);
    EXPECT_GE(heard, 6) << "about 10 announcements in 2 s";
    EXPECT_LE(heard, 14);
    std::ostringstream expected;
    expected << "HEARD 0 4 " << NetnsBed::kLocalAddress << " 02:51:00:00:00:01 _jpa-scp "
             << "6d6f64656c3d5175696c6c6f6e " << NetnsBed::kLocalAddress << " 54330";
    EXPECT_EQ(last, expected.str());
    EXPECT_TRUE(recorder.waitHeard([](const Heard& h) { return fromPeer(h) && h.payload.rfind("busy#", 0) == 0; }));

    JsdpStats stats{};
    jsdp_getStats(&stats);
    EXPECT_EQ(stats.replies, 0u) << "an announcer never answers";
}

TEST_F(JsdpNet, AnnouncesToTheSubnetBroadcastWithoutGroup)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(setUpNet());
    qtest::ChildProcess listener(peer(bed, {"listen", "--group", "none", "--seconds", "5"}));
    ASSERT_TRUE(waitReady(listener));
    Channel announcer(true, NetnsBed::kLocalAddress, "b", /*withGroup=*/false);
    ASSERT_EQ(jsdp_open(announcer.fix(), 1), JSDP_OK);
    EXPECT_GE(countLines(listener, "HEARD 0 4", 1000), 2);
}

TEST_F(JsdpNet, AResponderAnswersAnnouncersOnly)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(setUpNet());
    Channel responder(false, NetnsBed::kLocalAddress, "r");
    ASSERT_EQ(jsdp_open(responder.fix(), 1), JSDP_OK);

    {
        qtest::ChildProcess other(peer(bed, {"announce", "--responder", "--period", "100", "--seconds", "5"}));
        ASSERT_TRUE(waitReady(other));
        ASSERT_TRUE(recorder.waitHeard([](const Heard& h) { return h.flags == JSDP_FLAG_RESPONDER; }));
        EXPECT_EQ(countLines(other, "HEARD", 800), 0) << "a responder's packet is not answered";
    }
    JsdpStats stats{};
    jsdp_getStats(&stats);
    EXPECT_EQ(stats.replies, 0u);

    qtest::ChildProcess unit(peer(bed, {"announce", "--period", "100", "--seconds", "5"}));
    ASSERT_TRUE(waitReady(unit));
    EXPECT_GT(countLines(unit, "HEARD 128", 1500), 0);
}

TEST_F(JsdpNet, CountsAndIgnoresMalformedDatagramsAndGoesOnReceiving)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(setUpNet());
    Channel responder(false, NetnsBed::kLocalAddress, "r");
    ASSERT_EQ(jsdp_open(responder.fix(), 1), JSDP_OK);
    // The socket opens at the first tick after open.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    // A valid announcer packet with payload "ok" from the peer's address.
    const std::string head = "4a534450"
                             "LLLL"
                             "00"
                             "04"
                             "c6120002"
                             "000000000000000000000000"
                             "025100000002"
                             "08"
                             "5f6a70612d736370";
    auto packet = [&](const std::string& payloadHex, int lengthDelta, const std::string& tag = "4a534450") {
        std::string p = head;
        p.replace(0, 8, tag);
        const size_t m = payloadHex.size() / 2;
        char field[16];
        snprintf(field, sizeof field, "%04x", static_cast<unsigned>(m));
        p += field;
        p += payloadHex;
        const size_t l = p.size() / 2 - 6 + lengthDelta; // "LLLL" holds the place of two bytes
        snprintf(field, sizeof field, "%04x", static_cast<unsigned>(l));
        p.replace(8, 4, field);
        return p;
    };
    const std::string ok = packet("6f6b", 0);
    struct Bad {
        const char* name;
        std::string hex;
        bool oversize;
    };
    const Bad bad[] = {
        {"33 bytes", ok.substr(0, 66), false},
        {"wrong tag", packet("6f6b", 0, "4a534451"), false},
        {"L one too many", packet("6f6b", 1), false},
        {"L one too few", packet("6f6b", -1), false},
        {"payload length past the end", ok.substr(0, ok.size() - 2), false},
        {"1400 bytes", packet(std::string(2 * 1358, 'a'), 0), false},
        {"1600 bytes, over the receive buffer", packet(std::string(2 * 1558, 'a'), 0), true},
        {"3000 bytes, over the socket service's buffer", packet(std::string(2 * 2958, 'a'), 0), true},
    };
    std::vector<std::string> args = {"raw", "--to", NetnsBed::kLocalAddress};
    int malformed = 0, oversize = 0;
    for (const Bad& b : bad) {
        args.push_back("--raw");
        args.push_back(b.hex);
        (b.oversize ? oversize : malformed)++;
    }
    args.push_back("--raw");
    args.push_back(ok);
    qtest::ChildProcess sender(peer(bed, args));
    ASSERT_TRUE(waitReady(sender));
    std::string line;
    ASSERT_TRUE(sender.readLine(&line, 5000));
    ASSERT_TRUE(recorder.waitHeard([](const Heard& h) { return fromPeer(h) && h.payload == "ok"; }))
        << "the valid datagram after the bad ones is found";
    EXPECT_EQ(recorder.count(), 1u) << "nothing of the bad ones reached the table";

    JsdpStats stats{};
    jsdp_getStats(&stats);
    EXPECT_EQ(stats.malformed, static_cast<uint32_t>(malformed));
    EXPECT_EQ(stats.oversize, static_cast<uint32_t>(oversize));
    EXPECT_EQ(stats.accepted, 1u);
    // Every datagram that arrived is received, the oversize ones too.
    EXPECT_EQ(stats.received, stats.malformed + stats.oversize + stats.accepted + stats.own);
}

TEST_F(JsdpNet, NoCallAfterUnsubscribeReturns)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(setUpNet());
    Channel responder(false, NetnsBed::kLocalAddress, "r");
    ASSERT_EQ(jsdp_open(responder.fix(), 1), JSDP_OK);

    struct Slow {
        std::atomic<int> calls{0};
        std::atomic<bool> unsubscribed{false};
        std::atomic<int> late{0};
        static void callback(const JsdpService*, int, void* context)
        {
            auto* self = static_cast<Slow*>(context);
            if (self->unsubscribed)
                ++self->late;
            ++self->calls;
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    } slow;
    // One that leaves from inside its own first call.
    struct Once {
        std::atomic<int> calls{0};
        std::atomic<int> result{1};
        static void callback(const JsdpService*, int, void* context)
        {
            auto* self = static_cast<Once*>(context);
            ++self->calls;
            self->result = jsdp_unsubscribe(Once::callback, context);
        }
    } once;
    ASSERT_EQ(jsdp_subscribe(Slow::callback, &slow), JSDP_OK);
    ASSERT_EQ(jsdp_subscribe(Once::callback, &once), JSDP_OK);

    qtest::ChildProcess unit(peer(bed, {"announce", "--vary", "--period", "5", "--seconds", "10"}));
    ASSERT_TRUE(waitReady(unit));
    ASSERT_TRUE(jsdptest::waitFor([&] { return slow.calls >= 20; }));
    ASSERT_EQ(jsdp_unsubscribe(Slow::callback, &slow), JSDP_OK);
    slow.unsubscribed = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(slow.late, 0);
    EXPECT_EQ(once.calls, 1);
    EXPECT_EQ(once.result, JSDP_OK);
    EXPECT_GT(recorder.count(), 20u) << "the others go on being called";
}

TEST_F(JsdpNet, ARestartedServiceCarriesOnWithTheOpenChannels)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(setUpNet());
    Channel responder(false, NetnsBed::kLocalAddress, "r");
    ASSERT_EQ(jsdp_open(responder.fix(), 1), JSDP_OK);
    qtest::ChildProcess unit(peer(bed, {"announce", "--vary", "--period", "50", "--seconds", "10"}));
    ASSERT_TRUE(waitReady(unit));
    ASSERT_TRUE(recorder.waitHeard(fromPeer));

    ASSERT_EQ(jsdp_stopService(), JSDP_OK);
    ASSERT_EQ(jsdp_startService(), JSDP_OK);
    ASSERT_EQ(jsdp_startService(), JSDP_OK) << "a second start makes no second task";
    const size_t before = recorder.count();
    EXPECT_TRUE(jsdptest::waitFor([&] { return recorder.count() > before + 3; }));
    EXPECT_EQ(jsdp_getState(), JSDP_STATE_RUNNING);
}
