// Every way a link ends: requests, refusals, faults of the unit, time-outs
// and link loss. Each ends in state 0 with both requests back at 0 and the
// meters cleared, and a new connect reads what changed on the unit meanwhile.
#include "tests/device/connection_rig.h"

#include <algorithm>
#include <functional>
#include <mutex>

using namespace conntest;
using devtest::spinFor;
using devtest::spinUntil;

namespace {

using DeviceConnectionWaysOut = ConnectionTest;

constexpr const char* kInputMeter = "Dev/InputLevel";

class Probe : public QObject {
    Q_OBJECT
public:
    uint8_t last = 0xFF;
public slots:
    void onData(uint8_t, uint8_t data) { last = data; }
};

struct WayOut {
    const char* name;
    // Set the unit up before the connect (may be empty).
    std::function<void(simtest::SimUnit&)> before;
    // What ends the link once it reached `at`.
    State at;
    std::function<void(Rig&, simtest::SimUnit&)> end;
    std::vector<State> tail; // states after `at`
};

const std::vector<WayOut>& waysOut()
{
    static const std::vector<WayOut> table = {
        {"disconnect request while connected", nullptr, State::Connected,
            [](Rig& r, simtest::SimUnit&) { r.disconnectReq(); }, {State::Disconnecting, State::Disconnected}},
        {"unit closes (FIN)", nullptr, State::Connected, [](Rig&, simtest::SimUnit& u) { u.closeAll(); },
            {State::Disconnected}},
        {"unit resets (RST)", nullptr, State::Connected, [](Rig&, simtest::SimUnit& u) { u.resetAll(); },
            {State::Disconnected}},
        {"unit closes in mid-line", nullptr, State::Connected,
            [](Rig& r, simtest::SimUnit& u) {
                u.closeMidLine();
                r.dev.setValue("/Backup/OutCh:1/DelayTime:0", JLIB::JVariant(96), SOURCE_UI);
            },
            {State::Disconnected}},
        // Silent while a set is owed: the read time-out ends it as lost.
        {"silent with an answer owed", nullptr, State::Connected,
            [](Rig& r, simtest::SimUnit& u) {
                u.goSilent(true);
                r.dev.setValue("/Backup/OutCh:1/DelayTime:0", JLIB::JVariant(96), SOURCE_UI);
            },
            {State::Disconnected}},
        // A step without its reply: as a refusal, state 4 then 0.
        {"stall past the step time-out", [](simtest::SimUnit& u) { u.stall(3000); }, State::Negotiating,
            [](Rig&, simtest::SimUnit&) {}, {State::Disconnecting, State::Disconnected}},
        {"ERROR on a step", [](simtest::SimUnit& u) { u.errorNext(); }, State::Negotiating,
            [](Rig&, simtest::SimUnit&) {}, {State::Disconnecting, State::Disconnected}},
        {"disconnect request while negotiating", [](simtest::SimUnit& u) { u.stall(400); }, State::Negotiating,
            [](Rig& r, simtest::SimUnit&) { r.disconnectReq(); }, {State::Disconnecting, State::Disconnected}},
    };
    return table;
}

TEST_F(DeviceConnectionWaysOut, EveryWayEndsAtRestAndReconnects)
{
    for (const WayOut& way : waysOut()) {
        SCOPED_TRACE(way.name);
        simtest::SimUnit u;
        std::string why;
        ASSERT_EQ(0, u.start(broxConfig(), &why)) << why;
        Rig r("127.0.0.1", u.port(), "127.0.0.1");
        Probe probe;
        ASSERT_EQ(0, r.dev.connectMeter(kInputMeter, 0, &probe, SLOT(onData(uint8_t, uint8_t))));
        r.dev.meters()->update("Dev/InputLevel", std::vector<uint8_t>(32, 0x33).data(), 32);
        if (way.before)
            way.before(u);
        r.connectReq();
        ASSERT_TRUE(r.sawFrom(0, way.at));
        way.end(r, u);
        ASSERT_TRUE(r.saw(way.at, State::Disconnected));
        EXPECT_TRUE(spinUntil([&] { return r.connectionState() == "0"; }, 2000));
        EXPECT_EQ(way.tail, r.statesAfter(way.at));
        EXPECT_EQ("0", r.read(kConnectReqPath));
        EXPECT_EQ("0", r.read(kDisconnectReqPath));
        r.dev.meters()->notify();
        EXPECT_TRUE(spinUntil([&] { return probe.last == 0; }, 2000)) << int(probe.last);

        // The unit changes meanwhile; a new request reads it.
        u.goSilent(false);
        u.stall(0);
        preset(u, "IO:Current/OutCh/DelayTime", 5, 1440);
        ASSERT_TRUE(r.connectAndWait());
        EXPECT_EQ("1440", r.read("/Backup/OutCh:5/DelayTime:0"));
    }
}

TEST_F(DeviceConnectionWaysOut, RefusedConnectEndsAtOnce)
{
    // Nothing listens there any more.
    const uint16_t port = unit.port();
    unit.stop();
    Rig r("127.0.0.1", port, "127.0.0.1");
    r.connectReq();
    ASSERT_TRUE(r.saw(State::Negotiating, State::Disconnected));
    EXPECT_TRUE(spinUntil([&] { return r.connectionState() == "0"; }));
    EXPECT_EQ("0", r.read(kConnectReqPath));
    // State 0 still accepts a connect.
    simtest::SimUnitConfig config = broxConfig();
    config.port = port;
    simtest::SimUnit again;
    std::string why;
    ASSERT_EQ(0, again.start(config, &why)) << why;
    EXPECT_TRUE(r.connectAndWait());
}

TEST_F(DeviceConnectionWaysOut, DisconnectRequestWhileAssociatingIsDropped)
{
    auto r = rig();
    r->connectReq();
    ASSERT_TRUE(r->reach(State::Associating));
    r->disconnectReq();
    ASSERT_TRUE(r->reach(State::Connected));
    EXPECT_EQ("0", r->read(kDisconnectReqPath));
}

// While the link is disconnecting (its socket close not yet reported), a
// further request of either kind is not acted on and is written back to 0;
// the close then ends the link once, and a new connect works.
TEST_F(DeviceConnectionWaysOut, RequestsWhileDisconnectingAreDropped)
{
    auto r = rig();
    ASSERT_TRUE(r->connectAndWait());
    // The thread's reports reach the record queued: let them all arrive.
    ASSERT_TRUE(spinUntil([&] { return !r->states.empty() && r->states.back() == State::Connected; }));
    // Holding the run mutex keeps the thread from handling the close
    // report; the requests are handled here as memParamChanged() would.
    r->comm.clientThread()->withDevice([&](ScpDevice& device) {
        r->disconnectReq();
        ASSERT_EQ(0, device.handleRequests());
        ASSERT_EQ(State::Disconnecting, device.state());
        for (const char* path : {kDisconnectReqPath, kConnectReqPath, kDisconnectReqPath}) {
            SCOPED_TRACE(path);
            r->request(path);
            EXPECT_EQ(0, device.handleRequests());
            EXPECT_EQ(State::Disconnecting, device.state());
            EXPECT_EQ("0", r->read(kConnectReqPath));
            EXPECT_EQ("0", r->read(kDisconnectReqPath));
            EXPECT_EQ("3", r->connectionState());
        }
    });
    ASSERT_TRUE(r->saw(State::Disconnecting, State::Disconnected));
    EXPECT_TRUE(spinUntil([&] { return r->connectionState() == "0"; }, 2000));
    spinFor(200);
    EXPECT_EQ(std::vector<State>{State::Disconnected}, r->statesAfter(State::Disconnecting));
    EXPECT_EQ(1, std::count(r->states.begin(), r->states.end(), State::Disconnecting));
    EXPECT_TRUE(r->connectAndWait());
}

TEST_F(DeviceConnectionWaysOut, StatusDecidesForBroxUnits)
{
    struct Case {
        const char* runmode;
        const char* error;
        bool accepted;
    };
    const Case cases[]
        = {{"NORMAL mode", "nothing", true}, {"Emergency", "NOTHING", true}, {"update", "nothing", false},
            {"norma", "nothing", false}, {"normal", "fan stopped", false}, {"normal", "nothing more", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.runmode) + " / " + c.error);
        simtest::SimUnitConfig config = broxConfig();
        config.devStatus["runmode"] = c.runmode;
        config.devStatus["error"] = c.error;
        simtest::SimUnit u;
        std::string why;
        ASSERT_EQ(0, u.start(config, &why)) << why;
        Rig r("127.0.0.1", u.port(), "127.0.0.1");
        r.connectReq();
        if (c.accepted) {
            EXPECT_TRUE(r.reach(State::Connected));
        } else {
            ASSERT_TRUE(r.saw(State::Negotiating, State::Disconnected));
            EXPECT_EQ(
                (std::vector<State>{State::Disconnecting, State::Disconnected}), r.statesAfter(State::Negotiating));
        }
    }
}

// A unit that owes nothing may stay quiet for ever: units do not answer the
// keep-alive line feed.
TEST_F(DeviceConnectionWaysOut, QuietLinkThatOwesNothingStaysUp)
{
    auto r = rig();
    ASSERT_TRUE(r->connectAndWait());
    unit.goSilent(true);
    spinFor(3 * fastTimings().readTimeoutMs);
    EXPECT_EQ(State::Connected, r->state());
    EXPECT_GE(wordCount(unit, "\n") + unit.stats().lines, 1u);
}

} // namespace

#include "test_connection_waysout.moc"
