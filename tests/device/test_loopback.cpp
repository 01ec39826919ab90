// One Brox unit's device object, adapters and sequences driving the real
// SCP client over a loopback socket to the simulated unit, which knows the
// family only from its own hand-written layout. The test thread pumps the
// client as the unit's connection thread would.
#include "tests/device/adapter_double.h"
#include "tests/device/device_test.h"
#include "tests/device/loopback_link.h"

#include "device/link/dev_brox.h"
#include "device/link/dev_sequences.h"
#include "device/memory/dev_meters.h"
#include "device/memory/dev_object.h"
#include "tests/sim/sim_client.h"
#include "tests/sim/sim_unit.h"

#include <cstring>
#include <functional>

using namespace devtest;
using simtest::SimCell;
using simtest::SimUnit;
using simtest::SimUnitConfig;
using simtest::SimWaker;

namespace {

const std::string kLayout = std::string(QUILLON_SOURCE_DIR) + "/tests/sim/layouts/brox.xml";

SimUnitConfig broxConfig()
{
    SimUnitConfig config;
    config.layoutPath = kLayout;
    config.meters = {"IO:Current/Dev/InputLevel", "IO:Current/Dev/OutputLevel", "IO:Current/Dev/PhonesLevel"};
    config.meterItems = {32, 24, 2};
    config.devStatus = {{"runmode", "normal"}, {"error", "nothing"}};
    config.devInfo = {{"protocolver", "1.0"}, {"paramsetver", "2.1"}, {"version", "V1.30"}, {"productname", "BroxL-D2"},
        {"manufacturer", "Quillon"}, {"category", "IO"}, {"deviceid", "5"}, {"devicename", "Stage Left"},
        {"inputport", "32"}, {"outputport", "24"}};
    config.lists = {{"IO:_CurSummary", {12, 3, 14}}};
    return config;
}

// The last meter byte a channel showed.
class LoopbackMeterProbe : public QObject {
    Q_OBJECT
public:
    uint8_t last = 0;
public slots:
    void onData(uint8_t, uint8_t data) { last = data; }
};

// The unit's value of (SCP name, x) as a number.
int32_t unitValue(SimUnit& unit, const std::string& address, int32_t x)
{
    const int32_t index = unit.memory().indexOfAddress(address);
    JLIB::JVariant value;
    EXPECT_GE(unit.memory().read(SimCell{index, x, 0}, &value), 0) << address << " " << x;
    return static_cast<int32_t>(value.toInteger());
}

// Sets the unit's own value without a NOTIFY (as if it had it at power-on).
void preset(SimUnit& unit, const std::string& address, int32_t x, int32_t value)
{
    const int32_t index = unit.memory().indexOfAddress(address);
    ASSERT_GE(index, 0) << address;
    ASSERT_GE(unit.memory().write(SimCell{index, x, 0}, JLIB::JVariant(value), simtest::SOURCE_LINK), 0) << address;
}

uint64_t wordCount(SimUnit& unit, const char* word)
{
    const auto stats = unit.stats();
    const auto it = stats.words.find(word);
    return it == stats.words.end() ? 0 : it->second;
}

class SimLoopback : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(simtest::simStartPlatform(false));
        std::string why;
        ASSERT_EQ(0, unit.start(broxConfig(), &why)) << why;
    }
    void TearDown() override { unit.stop(); }

    SimUnit unit;
};

TEST_F(SimLoopback, AssociationLeavesMemoryEqualToTheUnit)
{
    preset(unit, "IO:Current/InCh/48VOn", 3, 1);
    preset(unit, "IO:Current/InCh/HPFFreq", 5, 1000);
    preset(unit, "IO:Current/InCh/HAGain", 7, 30);
    preset(unit, "IO:Current/OutCh/DelayTime", 3, 480);
    preset(unit, "IO:Current/OutCh/AES/GainLevel", 7, -60);
    preset(unit, "IO:Current/Headphone/Assign", 1, 5);
    preset(unit, "IO:Current/Dev/IPAddress", 0, 192);
    preset(unit, "IO:Current/Dev/IPAddress", 3, 10);
    preset(unit, "IO:Current/Dev/Wordclock/Fs", 0, 96000);

    Link link(MODEL_BROXL_D2);
    ASSERT_TRUE(link.connectAndAssociate(unit.port()));
    EXPECT_EQ(359u, wordCount(unit, "get"));
    EXPECT_EQ("\"Stage Left\"", link.read("/DevInfo/devinfo:0/devicename:0"));
    EXPECT_EQ("\"nothing\"", link.read("/DevInfo/devstatus:0/error:0"));
    EXPECT_EQ("10000", link.read("/DevInfo/scpmode:0/keepalive:0"));

    // Every element the association reads, through the adapter's own
    // conversion, equals the unit's.
    int32_t compared = 0;
    for (int32_t index = 0; index <= 32; ++index) {
        const ScpParamRow* row = link.parameter->row(index);
        const ScpPathFormat* format = link.parameter->pathFormat(index);
        if (std::strcmp(row->namePath, "Dev/OutputImpedance") == 0)
            continue; // a text
        const int32_t xCount = row->xSlot == 0 ? format->collections : row->xSlot == 1 ? format->elements : 1;
        for (int32_t x = 0; x < xCount; ++x, ++compared) {
            JLIB::JVariant ours;
            ASSERT_EQ(0, link.parameter->readValue(ours, index, x, 0)) << row->scpName << " " << x;
            EXPECT_EQ(unitValue(unit, row->scpName, x), static_cast<int32_t>(ours.toInteger()))
                << row->scpName << " " << x;
        }
    }
    EXPECT_EQ(358, compared);
    EXPECT_EQ("2", link.read(kConnectionStatePath));
    // Nothing the unit reported went back to it.
    link.pumpUntil([] { return false; }, 100);
    EXPECT_EQ(0u, wordCount(unit, "set"));
}

TEST_F(SimLoopback, MuteIsLiftedAfterAssociationInExecMode)
{
    preset(unit, "IO:Current/Dev/ExecMode", 0, 1);
    preset(unit, "IO:Current/Dev/MuteOn", 0, 1);
    Link link(MODEL_BROXL_D);
    ASSERT_TRUE(link.connectAndAssociate(unit.port()));
    EXPECT_EQ("0", link.read("/Current/Dev:0/MuteOn:0"));
    EXPECT_TRUE(link.pumpUntil([&] { return unitValue(unit, "IO:Current/Dev/MuteOn", 0) == 0; }));
    EXPECT_EQ(1u, wordCount(unit, "set"));
}

TEST_F(SimLoopback, UnitEditsLandAndUserEditsLeaveOnce)
{
    Link link(MODEL_BROXL_D);
    ASSERT_TRUE(link.connectAndAssociate(unit.port()));

    // The unit's own edit arrives as NOTIFY set, stored with the link's
    // source, and is not sent back.
    ASSERT_GE(unit.setLocal("Current/OutCh/GainLevel", 4, 0, JLIB::JVariant(-300)), 0);
    ASSERT_TRUE(link.pumpUntil([&] { return link.read("/Backup/OutCh:4/GainLevel:0") == "-300"; }));
    link.pumpUntil([] { return false; }, 100);
    EXPECT_EQ(0u, wordCount(unit, "set"));

    // A user-interface write leaves as one set.
    ASSERT_GE(link.dev.setValue("/Backup/OutCh:3/DelayTime:0", JLIB::JVariant(960), SOURCE_UI), 0);
    ASSERT_TRUE(link.pumpUntil([&] { return unitValue(unit, "IO:Current/OutCh/DelayTime", 3) == 960; }));
    link.pumpUntil([] { return false; }, 100);
    EXPECT_EQ(1u, wordCount(unit, "set"));
}

TEST_F(SimLoopback, ErrorOnASetRestoresTheUnitsValue)
{
    preset(unit, "IO:Current/OutCh/DelayTime", 2, 480);
    Link link(MODEL_BROXL_D);
    ASSERT_TRUE(link.connectAndAssociate(unit.port()));
    ASSERT_EQ("480", link.read("/Backup/OutCh:2/DelayTime:0"));

    const uint64_t getsBefore = wordCount(unit, "get");
    unit.errorNext();
    ASSERT_GE(link.dev.setValue("/Backup/OutCh:2/DelayTime:0", JLIB::JVariant(100), SOURCE_UI), 0);
    ASSERT_TRUE(link.pumpUntil([&] { return wordCount(unit, "get") >= getsBefore + 24; }));
    EXPECT_TRUE(link.pumpUntil([&] { return link.read("/Backup/OutCh:2/DelayTime:0") == "480"; }));
    EXPECT_EQ(480, unitValue(unit, "IO:Current/OutCh/DelayTime", 2));
    // The restored value is the link's own write: not sent again.
    link.pumpUntil([] { return false; }, 100);
    EXPECT_EQ(1u, wordCount(unit, "set"));
}

TEST_F(SimLoopback, AllThreeMetersReachTheStore)
{
    unit.setMeterLevel(0x55);
    Link link(MODEL_BROXL_D);
    ASSERT_TRUE(link.connectAndAssociate(unit.port()));
    struct Channel {
        const char* meter;
        uint32_t channel;
    };
    const Channel channels[] = {{"Dev/InputLevel", 31}, {"Dev/OutputLevel", 23}, {"Dev/PhonesLevel", 1}};
    std::vector<std::unique_ptr<LoopbackMeterProbe>> probes;
    for (const Channel& c : channels) {
        probes.push_back(std::make_unique<LoopbackMeterProbe>());
        ASSERT_EQ(0, link.dev.connectMeter(c.meter, c.channel, probes.back().get(), SLOT(onData(uint8_t, uint8_t))));
    }
    // One subscription holds; the unit's lines of every meter are taken.
    ASSERT_GE(link.client->mtrStart(0, 50), 0);
    EXPECT_TRUE(link.pumpUntil([&] {
        link.dev.meters()->notify();
        for (const auto& p : probes)
            if (p->last != 0x55)
                return false;
        return true;
    }));
}

TEST_F(SimLoopback, SummaryCountTravelsThroughMemory)
{
    Link link(MODEL_BROXL_D2);
    ASSERT_TRUE(link.connectAndAssociate(unit.port()));
    ASSERT_GE(link.dev.setValue("/ListItem/listitem:0/CurSummaryNumReq:0", JLIB::JVariant(1), SOURCE_UI), 0);
    ASSERT_TRUE(link.pumpUntil([&] { return link.read("/ListItem/listitem:0/CurSummaryNumReceived:0") == "1"; }));
    EXPECT_EQ("12", link.read("/ListItem/listitem:0/CurSummaryNum:0"));
    EXPECT_EQ("14", link.read("/ListItem/listitem:0/CurSummaryEnd:0"));
    EXPECT_EQ(1u, wordCount(unit, "LISTITEMNUM"));

    ASSERT_GE(link.dev.setValue("/LogEvent/event:0/loggingSend:0", JLIB::JVariant("on", 2), SOURCE_UI), 0);
    ASSERT_TRUE(link.pumpUntil([&] { return link.read("/LogEvent/event:0/loggingSend:0") == "\"\""; }));
    EXPECT_EQ(1u, wordCount(unit, "event"));
}

TEST_F(SimLoopback, AResetDropsTheLink)
{
    Link link(MODEL_BROXL_D);
    ASSERT_TRUE(link.connectAndAssociate(unit.port()));
    ASSERT_TRUE(link.client->isConnected());
    unit.resetAll();
    EXPECT_TRUE(link.pumpUntil([&] { return !link.client->isConnected(); }));
    EXPECT_TRUE(link.pumpUntil([&] { return unit.stats().connections == 0; }));
}

TEST_F(SimLoopback, AUnitInErrorIsNotAssociated)
{
    SimUnit failing;
    SimUnitConfig config = broxConfig();
    config.devStatus["error"] = "fan";
    std::string why;
    ASSERT_EQ(0, failing.start(config, &why)) << why;
    Link link(MODEL_BROXL_D);
    ASSERT_TRUE(link.connect(failing.port()));
    EXPECT_TRUE(link.pumpUntil([&] { return link.failed; }));
    EXPECT_FALSE(link.isAssociated);
    EXPECT_EQ(0u, wordCount(failing, "get"));
    EXPECT_EQ("\"fan\"", link.read("/DevInfo/devstatus:0/error:0"));
}

} // namespace

#include "test_loopback.moc"
