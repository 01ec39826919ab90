// A Mavik and a Sorn unit driven over loopback: the device object, the
// family's adapters and sequences and the real SCP client on one side, the
// simulated unit with its own hand-written layout on the other. The test
// thread pumps the client as the unit's connection thread would.
#include "tests/device/device_test.h"
#include "tests/device/loopback_link.h"

#include "device/link/dev_family.h"
#include "device/link/dev_mavik.h"
#include "device/link/dev_sorn.h"
#include "device/memory/dev_object.h"
#include "device/memory/dev_result.h"
#include "tests/sim/sim_brox.h"
#include "tests/sim/sim_client.h"
#include "tests/sim/sim_unit.h"

#include <functional>

using namespace devtest;
using simtest::SimCell;
using simtest::SimUnit;
using simtest::SimUnitConfig;

namespace {

std::string layout(const char* name)
{
    return std::string(QUILLON_SOURCE_DIR) + "/tests/sim/layouts/" + name;
}

SimUnitConfig ioConfig(const char* layoutName, const char* runmode)
{
    SimUnitConfig config;
    config.layoutPath = layout(layoutName);
    config.meters = {}; // these families have none: mtrstart gets ERROR
    config.devStatus = {{"runmode", runmode}, {"error", "nothing"}};
    config.devInfo = {{"productname", layoutName}, {"devicename", "Rack 2"}};
    return config;
}

class IoUnit {
public:
    explicit IoUnit(const SimUnitConfig& config)
    {
        EXPECT_TRUE(simtest::simStartPlatform(false));
        std::string why;
        started = unit.start(config, &why) == 0;
        EXPECT_TRUE(started) << why;
    }
    ~IoUnit() { unit.stop(); }

    std::string value(const std::string& address, int32_t x)
    {
        JLIB::JVariant v;
        const JResult r = unit.memory().read(SimCell{unit.memory().indexOfAddress(address), x, 0}, &v);
        return textOf(r, v);
    }
    void preset(const std::string& address, int32_t x, int32_t v)
    {
        const int32_t index = unit.memory().indexOfAddress(address);
        ASSERT_GE(index, 0) << address;
        ASSERT_GE(unit.memory().write(SimCell{index, x, 0}, JLIB::JVariant(v), simtest::SOURCE_LINK), 0) << address;
    }
    uint64_t words(const char* word) const
    {
        const auto stats = unit.stats();
        const auto it = stats.words.find(word);
        return it == stats.words.end() ? 0 : it->second;
    }

    SimUnit unit;
    bool started = false;
};

// Every element the association reads, except texts, equals the unit's.
int32_t compareWithUnit(Link& link, IoUnit& unit, int32_t rows)
{
    int32_t compared = 0;
    for (int32_t index = 0; index < rows; ++index) {
        const ScpParamRow* row = link.parameter->row(index);
        const ScpPathFormat* format = link.parameter->pathFormat(index);
        const int32_t xCount = row->xSlot == 0 ? format->collections : row->xSlot == 1 ? format->elements : 1;
        for (int32_t x = 0; x < xCount; ++x) {
            JLIB::JVariant ours;
            EXPECT_EQ(0, link.parameter->readValue(ours, index, x, 0)) << row->scpName << " " << x;
            if (ours.type() == JLIB::JVARIANT_STRING)
                continue;
            EXPECT_EQ(unit.value(row->scpName, x), textOf(0, ours)) << row->scpName << " " << x;
            ++compared;
        }
    }
    return compared;
}

// The hand-written unit layouts hold exactly the adapters' SCP names, each
// with as many x as the adapter's row.
TEST(DeviceMavikSornLoopback, UnitLayoutsMatchTheTables)
{
    const std::pair<ModelType, const char*> families[] = {{MODEL_MAVIK_D, "mavik.xml"}, {MODEL_SORN_D, "sorn.xml"}};
    for (const auto& [type, file] : families) {
        SCOPED_TRACE(file);
        simtest::SimMemory memory;
        std::string why;
        ASSERT_EQ(0, memory.loadFile(layout(file), &why)) << why;
        auto parameter = createScpParameter(type);
        int32_t count = 0;
        parameter->getParameterCount(count);
        EXPECT_EQ(static_cast<size_t>(count), memory.params().size());
        for (int32_t index = 0; index < count; ++index) {
            const ScpParamRow* row = parameter->row(index);
            const ScpPathFormat* format = parameter->pathFormat(index);
            const int32_t xCount = row->xSlot == 0 ? format->collections : row->xSlot == 1 ? format->elements : 1;
            const int32_t unitIndex = memory.indexOfAddress(row->scpName);
            ASSERT_GE(unitIndex, 0) << row->scpName;
            EXPECT_EQ(xCount, memory.params()[static_cast<size_t>(unitIndex)].xCount) << row->scpName;
        }
    }
}

TEST(DeviceMavikSornLoopback, MavikAssociatesInAnyRunModeWithoutMeters)
{
    IoUnit unit(ioConfig("mavik.xml", "WGM"));
    ASSERT_TRUE(unit.started);
    unit.preset("IO:Current/Dev/ExtCtrl/On", 0, 1);
    unit.preset("IO:Current/Dev/MasterWCLK/Sel", 0, 2);
    unit.preset("IO:Current/Dev/SystemStatus", 0, 7);
    unit.preset("IO:Current/InStatus/Frame", 0, 1);
    unit.preset("IO:Current/Dev/IPAddress", 0, 192);
    unit.preset("IO:Current/Dev/IPAddress", 3, 17);
    unit.preset("IO:NextBoot/Dev/DefaultGateway", 2, 254);

    Link link(MODEL_MAVIK_D);
    ASSERT_TRUE(link.connectAndAssociate(unit.unit.port()));
    EXPECT_EQ(46u, unit.words("get"));
    EXPECT_EQ(46, compareWithUnit(link, unit, MAVIK_PARAMETER_COUNT));
    EXPECT_EQ("1", link.read("/Current/Dev:0/ExtCtrl:0/On:0"));
    EXPECT_EQ("2", link.read("/Current/Dev:0/MasterWCLK:0/Sel:0"));
    link.pumpUntil([] { return false; }, 100);
    EXPECT_EQ(0u, unit.words("mtrstart"));
    EXPECT_EQ(0u, unit.words("set")) << "nothing the unit reported went back";

    // Associated, but the unit runs in WGM: the panel may not write.
    EXPECT_EQ(DEV_E_WGM, link.dev.setValue("/Current/Dev:0/MasterWCLK:0/Sel:0", JLIB::JVariant(1), SOURCE_UI));
    link.pumpUntil([] { return false; }, 100);
    EXPECT_EQ(0u, unit.words("set"));
    EXPECT_EQ("2", unit.value("IO:Current/Dev/MasterWCLK/Sel", 0));
}

TEST(DeviceMavikSornLoopback, MavikEditsBothWays)
{
    IoUnit unit(ioConfig("mavik.xml", "normal"));
    ASSERT_TRUE(unit.started);
    Link link(MODEL_MAVIK_D);
    EXPECT_EQ(DEV_E_FAIL, link.dev.setValue("/Current/Dev:0/MasterWCLK:0/Sel:0", JLIB::JVariant(2), SOURCE_UI))
        << "not connected";
    ASSERT_TRUE(link.connectAndAssociate(unit.unit.port()));

    // The three-level row leaves as one set.
    ASSERT_GE(link.dev.setValue("/Current/Dev:0/MasterWCLK:0/Sel:0", JLIB::JVariant(1), SOURCE_UI), 0);
    EXPECT_TRUE(link.pumpUntil([&] { return unit.value("IO:Current/Dev/MasterWCLK/Sel", 0) == "1"; }));
    EXPECT_EQ(1u, unit.words("set"));

    // The unit's own edit of a three-level row lands on the nested path.
    ASSERT_GE(unit.unit.setLocal("Current/Dev/ExtCtrl/On", 0, 0, JLIB::JVariant(1)), 0);
    EXPECT_TRUE(link.pumpUntil([&] { return link.read("/Current/Dev:0/ExtCtrl:0/On:0") == "1"; }));
    link.pumpUntil([] { return false; }, 100);
    EXPECT_EQ(1u, unit.words("set")) << "never echoed";
}

TEST(DeviceMavikSornLoopback, SornReadsThePatchFromTheUnit)
{
    IoUnit unit(ioConfig("sorn.xml", "normal"));
    ASSERT_TRUE(unit.started);
    for (int32_t x = 0; x < 128; ++x)
        unit.preset("IO:Current/Dev/UserPatch", x, (x * 7 + 3) % 256);
    unit.preset("IO:Current/Dev/PowerOn", 1, 1);
    unit.preset("IO:Current/Dev/SRCLockStatus", 3, 1);
    unit.preset("IO:Current/Dev/SLOTInputPortNum", 2, 16);

    Link link(MODEL_SORN_D);
    // Before: the initial patch. While disconnected the patch may be edited,
    // the unit's current state not.
    EXPECT_EQ("64", link.read("/Backup/Patch:0/UserPatchSrc:0"));
    DevObject offline(1, MODEL_SORN_D);
    EXPECT_GE(offline.setValue("/Backup/Patch:1/UserPatchSrc:0", JLIB::JVariant(2), SOURCE_UI), 0);
    EXPECT_EQ(DEV_E_FAIL, offline.setValue("/Current/Slot:0/SRCOn:0", JLIB::JVariant(1), SOURCE_UI));
    ASSERT_TRUE(link.connectAndAssociate(unit.unit.port()));
    EXPECT_EQ(193u, unit.words("get"));
    for (int32_t x = 0; x < 128; ++x)
        EXPECT_EQ(
            std::to_string((x * 7 + 3) % 256), link.read("/Backup/Patch:" + std::to_string(x) + "/UserPatchSrc:0"))
            << x;
    // The 193 elements read, less the four card-name texts, plus the panel
    // lock, which is not read and keeps its default on both sides.
    EXPECT_EQ(190, compareWithUnit(link, unit, SORN_PARAMETER_COUNT - 1));
    EXPECT_EQ("1", link.read("/Current/Dev:0/PowerOn:1"));
    EXPECT_EQ("1", link.read("/Current/Slot:3/SRCLockStatus:0"));
    EXPECT_EQ("16", link.read("/Current/Slot:2/SLOTInputPortNum:0"));
    link.pumpUntil([] { return false; }, 100);
    EXPECT_EQ(0u, unit.words("mtrstart"));
    EXPECT_EQ(0u, unit.words("set"));

    // A patch edit leaves as one set; the unit's power state comes back.
    ASSERT_GE(link.dev.setValue("/Backup/Patch:5/UserPatchSrc:0", JLIB::JVariant(99), SOURCE_UI), 0);
    EXPECT_TRUE(link.pumpUntil([&] { return unit.value("IO:Current/Dev/UserPatch", 5) == "99"; }));
    ASSERT_GE(unit.unit.setLocal("Current/Dev/PowerOn", 1, 0, JLIB::JVariant(0)), 0);
    EXPECT_TRUE(link.pumpUntil([&] { return link.read("/Current/Dev:0/PowerOn:1") == "0"; }));
    link.pumpUntil([] { return false; }, 100);
    EXPECT_EQ(1u, unit.words("set"));
}

} // namespace

namespace {

// An edit made while disconnected is overwritten by the unit's value at
// association; the link must not then send the unit's own value back.
TEST(DeviceMavikSornLoopback, OfflineEditIsNotSentBackAfterAssociation)
{
    struct Case {
        ModelType type;
        const char* path;
        const char* unitAddress;
        int32_t x;
    };
    const Case cases[] = {
        {MODEL_SORN_D, "/Backup/Patch:1/UserPatchSrc:0", "IO:Current/Dev/UserPatch", 1},
        {MODEL_BROXL_D2, "/Backup/OutCh:6/DelayTime:0", "IO:Current/OutCh/DelayTime", 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        SimUnitConfig config = ioConfig("sorn.xml", "normal");
        if (c.type != MODEL_SORN_D) {
            config.layoutPath = layout("brox.xml");
            simtest::useBroxAnswers(&config);
        }
        IoUnit unit(config);
        ASSERT_TRUE(unit.started);
        unit.preset(c.unitAddress, c.x, 10);

        Link link(c.type);
        ASSERT_GE(link.dev.setValue(c.path, JLIB::JVariant(2), SOURCE_UI), 0);
        ASSERT_TRUE(link.connectAndAssociate(unit.unit.port()));
        link.pumpUntil([] { return false; }, 150);
        EXPECT_EQ("10", link.read(c.path));
        EXPECT_EQ("10", unit.value(c.unitAddress, c.x));
        EXPECT_EQ(0u, unit.words("set")) << "the unit's own value went back to it";

        // An edit after association still leaves, once.
        ASSERT_GE(link.dev.setValue(c.path, JLIB::JVariant(3), SOURCE_UI), 0);
        EXPECT_TRUE(link.pumpUntil([&] { return unit.value(c.unitAddress, c.x) == "3"; }));
        EXPECT_EQ(1u, unit.words("set"));
    }
}

} // namespace
