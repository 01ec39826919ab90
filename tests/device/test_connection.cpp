// One unit's link end to end on loopback: the rack owner's requests in
// memory, the unit's thread, the real SCP client and socket, and the
// simulated unit.
#include "tests/device/connection_rig.h"

#include "device/memory/dev_meters.h"
#include "pbd/OSWRAP/oswrap.h"

#include <QElapsedTimer>

using namespace conntest;
using devtest::spinFor;
using devtest::spinUntil;

namespace {

class MeterProbe : public QObject {
    Q_OBJECT
public:
    uint8_t last = 0;
public slots:
    void onData(uint8_t, uint8_t data) { last = data; }
};

using DeviceConnection = ConnectionTest;

TEST_F(DeviceConnection, RoadToAConnectedUnit)
{
    preset(unit, "IO:Current/InCh/HAGain", 7, 30);
    preset(unit, "IO:Current/OutCh/DelayTime", 3, 480);
    unit.setMeterLevel(0x55);
    DevCommTimings t = fastTimings();
    t.meterRenewalMs = 1500;
    std::vector<std::string> seen; // outlives the link that reports into it
    auto r = rig(t);
    ASSERT_EQ(0, r->attachResult);
    int ups = 0;
    QObject::connect(&r->comm, &DevComm::connected, [&] { ++ups; });
    EXPECT_FALSE(r->comm.isConnected());

    // ConnectionState 1 while the link negotiates and associates.
    QObject::connect(&r->comm.clientThread()->device(), &ScpDevice::stateChanged, &r->comm,
        [&](State) { seen.push_back(r->connectionState()); });
    r->connectReq();
    ASSERT_TRUE(r->reach(State::Connected));
    ASSERT_TRUE(spinUntil([&] { return r->connectionState() == "2"; }));
    EXPECT_TRUE(r->comm.isConnected());
    ASSERT_TRUE(r->sawFrom(0, State::Connected));
    EXPECT_EQ((std::vector<State>{State::Negotiating, State::Associating, State::Connected}), r->states);
    EXPECT_EQ(1, ups);
    EXPECT_EQ("1", seen.front());
    EXPECT_EQ("0", r->read(kConnectReqPath));

    // The thirteen negotiation requests, then one get per element.
    EXPECT_EQ(2u, wordCount(unit, "devstatus"));
    EXPECT_EQ(10u, wordCount(unit, "devinfo"));
    EXPECT_EQ(1u, wordCount(unit, "scpmode"));
    EXPECT_EQ(359u, wordCount(unit, "get"));
    EXPECT_EQ("\"Stage Left\"", r->read("/DevInfo/devinfo:0/devicename:0"));
    EXPECT_EQ("10000", r->read("/DevInfo/scpmode:0/keepalive:0"));
    EXPECT_EQ("480", r->read("/Backup/OutCh:3/DelayTime:0"));
    EXPECT_EQ("30", r->read("/Backup/InCh:7/HAGain:0"));

    // Meter subscriptions at the first renewal tick after the connect, one
    // per meter with interval 40; levels reach the meter store.
    MeterProbe probe;
    ASSERT_EQ(0, r->dev.connectMeter("Dev/InputLevel", 31, &probe, SLOT(onData(uint8_t, uint8_t))));
    ASSERT_TRUE(spinUntil([&] { return wordCount(unit, "mtrstart") >= 3; }, 5000));
    EXPECT_TRUE(spinUntil([&] {
        r->dev.meters()->notify();
        return probe.last == 0x55;
    }));
    // Nothing the unit reported went back to it.
    EXPECT_EQ(0u, wordCount(unit, "set"));
}

TEST_F(DeviceConnection, EditsTravelBothWays)
{
    auto r = rig();
    ASSERT_TRUE(r->connectAndWait());

    // A user-interface write leaves as one set.
    ASSERT_GE(r->dev.setValue("/Backup/OutCh:3/DelayTime:0", JLIB::JVariant(960), SOURCE_UI), 0);
    ASSERT_TRUE(spinUntil([&] { return unitValue(unit, "IO:Current/OutCh/DelayTime", 3) == 960; }));
    spinFor(200);
    EXPECT_EQ(1u, wordCount(unit, "set"));

    // The unit's own edit lands with the link's source and is not echoed.
    ASSERT_GE(unit.setLocal("Current/OutCh/GainLevel", 4, 0, JLIB::JVariant(-300)), 0);
    ASSERT_TRUE(spinUntil([&] { return r->read("/Backup/OutCh:4/GainLevel:0") == "-300"; }));
    spinFor(200);
    EXPECT_EQ(1u, wordCount(unit, "set"));
}

// The loop sleeps on its socket and its wake-up descriptor together: with an
// idle wait far longer than the case, the unit's replies, a user's write
// and the link's deletion must each wake it at once.
TEST_F(DeviceConnection, LongIdleWaitIsEndedByInputWritesAndDeletion)
{
    DevCommTimings t = fastTimings();
    t.waitMs = 60000;
    auto r = rig(t);
    ASSERT_TRUE(r->connectAndWait());
    EXPECT_EQ(359u, wordCount(unit, "get"));

    ASSERT_GE(r->dev.setValue("/Backup/OutCh:3/DelayTime:0", JLIB::JVariant(960), SOURCE_UI), 0);
    ASSERT_TRUE(spinUntil([&] { return unitValue(unit, "IO:Current/OutCh/DelayTime", 3) == 960; }, 5000));
    ASSERT_GE(unit.setLocal("Current/OutCh/GainLevel", 4, 0, JLIB::JVariant(-300)), 0);
    ASSERT_TRUE(spinUntil([&] { return r->read("/Backup/OutCh:4/GainLevel:0") == "-300"; }, 5000));

    QElapsedTimer deletion;
    deletion.start();
    r.reset();
    EXPECT_LT(deletion.elapsed(), 30000);
}

TEST_F(DeviceConnection, UnitWinsAtConnect)
{
    preset(unit, "IO:Current/OutCh/DelayTime", 2, 240);
    auto r = rig();
    // Edited while offline: not sent, and replaced by the unit's value.
    ASSERT_GE(r->dev.setValue("/Backup/OutCh:2/DelayTime:0", JLIB::JVariant(720), SOURCE_UI), 0);
    spinFor(200);
    ASSERT_TRUE(r->connectAndWait());
    EXPECT_EQ("240", r->read("/Backup/OutCh:2/DelayTime:0"));
    spinFor(200);
    EXPECT_EQ(0u, wordCount(unit, "set"));
    EXPECT_EQ(240, unitValue(unit, "IO:Current/OutCh/DelayTime", 2));
}

TEST_F(DeviceConnection, MutedUnitInExecModeIsUnmuted)
{
    preset(unit, "IO:Current/Dev/ExecMode", 0, 1);
    preset(unit, "IO:Current/Dev/MuteOn", 0, 1);
    auto r = rig();
    ASSERT_TRUE(r->connectAndWait());
    EXPECT_EQ("0", r->read("/Current/Dev:0/MuteOn:0"));
    EXPECT_TRUE(spinUntil([&] { return unitValue(unit, "IO:Current/Dev/MuteOn", 0) == 0; }));
}

TEST_F(DeviceConnection, ConnectRequestWhileConnectedOnlyClearsIt)
{
    auto r = rig();
    ASSERT_TRUE(r->connectAndWait());
    r->connectReq();
    ASSERT_TRUE(spinUntil([&] { return r->read(kConnectReqPath) == "0"; }));
    spinFor(200);
    EXPECT_TRUE(r->statesAfter(State::Connected).empty());
    EXPECT_EQ(1u, unit.stats().accepted);
    EXPECT_EQ("2", r->connectionState());
}

TEST_F(DeviceConnection, DeletingAConnectedLinkLeavesItsMemoryAtRest)
{
    auto dev = std::make_unique<DevObject>(0, MODEL_BROXL_D2);
    {
        DevComm comm(
            nullptr, "key", "127.0.0.1", unit.port(), "BroxL-D2", MODEL_BROXL_D2, 0, "127.0.0.1", fastTimings());
        ASSERT_EQ(0, comm.attachMemory(dev.get(), SOURCE_LINK));
        dev->setValue(kConnectReqPath, JLIB::JVariant(1), SOURCE_UI);
        ASSERT_TRUE(spinUntil([&] { return comm.isConnected(); }));
    }
    JLIB::JVariant value;
    ASSERT_GE(dev->getValue(kConnectionStatePath, &value), 0);
    EXPECT_EQ(0, value.toInteger());
    ASSERT_GE(dev->getValue("/DevInfo/devinfo:0/devicename:0", &value), 0);
    EXPECT_STRNE("Stage Left", value.getString());
    EXPECT_TRUE(spinUntil([&] { return unit.stats().connections == 0; }));
}

// The socket layer has one holder per process; a second one owns nothing and
// stops nothing when it goes.
TEST_F(DeviceConnection, SecondSocketLayerHolderOwnsNothing)
{
    {
        VSockObject second;
        EXPECT_FALSE(second.isReady());
        EXPECT_EQ(OSWRAP_E_STATE, second.osWrapperResult());
    }
    EXPECT_EQ(VSOCK_STATE_READY, vsock_getState());
    auto r = rig();
    EXPECT_TRUE(r->connectAndWait());
}

} // namespace

#include "test_connection.moc"
