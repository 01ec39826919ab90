// Family rules: write guards and change marking, the gain-compensation
// switch, the Sorn user patch, clamping, the high-pass and IO tables.
#include "tests/device/device_test.h"

#include "device/layouts/dev_iotable.h"

#include <thread>
#include <vector>

using namespace devtest;

namespace {

struct GuardCase {
    ModelType type;
    uint8_t source;
    int connectionState; // written by the device link first
    bool wgm; // run mode "WGM"
    const char* path;
    JResult result;
    bool key1; // marked for the user interface
    bool key2; // marked for the device link
};

const GuardCase kGuards[] = {
    // Brox: the unit-owned values of Current refuse the user interface only.
    {MODEL_BROXL_D, SOURCE_UI, 0, false, "/Current/Dev:0/MuteOn:0", DEV_E_FAIL, false, false},
    {MODEL_BROXL_D, SOURCE_UI, 2, false, "/Current/Dev:0/SyncStatus:0", DEV_E_FAIL, false, false},
    {MODEL_BROXL_D, SOURCE_LINK, 0, false, "/Current/Dev:0/MuteOn:0", MMS::MMS_CHANGED, true, false},
    {MODEL_BROXL_D, 0, 0, false, "/Current/Dev:0/MuteOn:0", MMS::MMS_CHANGED, true, true},
    {MODEL_PELLM_D2, SOURCE_UI, 0, false, "/Current/Dev:0/48VLeaderOn:0", MMS::MMS_CHANGED, true, true},
    {MODEL_BROXM_D3, SOURCE_UI, 0, true, "/Backup/InCh:3/HPFOn:0", MMS::MMS_CHANGED, true, true},
    // Events go one way; DevInfo never to the unit.
    {MODEL_BROXL_D, SOURCE_UI, 0, false, "/Event/Dev:0/Identify:0", MMS::MMS_CHANGED, false, true},
    {MODEL_BROXL_D, SOURCE_LINK, 0, false, "/Event/InCh:4/Identify:0", MMS::MMS_CHANGED, true, false},
    {MODEL_BROXL_D, SOURCE_UI, 0, false, "/DevInfo/scpmode:0/keepalive:0", MMS::MMS_CHANGED, true, false},
    {MODEL_BROXL_D, SOURCE_LINK, 0, false, "/DevInfo/scpmode:0/keepalive:0", MMS::MMS_CHANGED, true, false},
    {MODEL_BROXL_D, SOURCE_UI, 0, false, "/DevState/devstate:0/ConnectReq:0", MMS::MMS_CHANGED, true, true},
    // Mavik: connected and not in "WGM", except DevState.
    {MODEL_MAVIK_D, SOURCE_UI, 0, false, "/Current/Dev:0/ExtCtrl:0/On:0", DEV_E_FAIL, false, false},
    {MODEL_MAVIK_D, SOURCE_UI, 1, false, "/Current/SRC:0/On:0", DEV_E_FAIL, false, false},
    {MODEL_MAVIK_D, SOURCE_UI, 3, true, "/Current/SRC:0/On:0", DEV_E_FAIL, false, false},
    {MODEL_MAVIK_D, SOURCE_UI, 2, false, "/Current/SRC:0/On:0", MMS::MMS_CHANGED, true, true},
    {MODEL_MAVIK_D, SOURCE_UI, 2, true, "/Current/SRC:0/On:0", DEV_E_WGM, false, false},
    {MODEL_MAVIK_D, SOURCE_UI, 2, true, "/Event/Dev:0/Identify:0", DEV_E_WGM, false, false},
    {MODEL_MAVIK_D, SOURCE_UI, 0, true, "/DevState/devstate:0/ConnectReq:0", MMS::MMS_CHANGED, true, true},
    {MODEL_MAVIK_D, SOURCE_LINK, 0, true, "/Current/SRC:0/On:0", MMS::MMS_CHANGED, true, false},
    {MODEL_MAVIK_D, 0, 0, true, "/Current/SRC:0/On:0", MMS::MMS_CHANGED, true, true},
    // Sorn: connected, except DevState and Backup; "WGM" means nothing.
    {MODEL_SORN_D, SOURCE_UI, 0, false, "/Current/Dev:0/PanelLock:0", DEV_E_FAIL, false, false},
    {MODEL_SORN_D, SOURCE_UI, 3, false, "/Event/Dev:0/Identify:0", DEV_E_FAIL, false, false},
    {MODEL_SORN_D, SOURCE_UI, 2, true, "/Current/Dev:0/PanelLock:0", MMS::MMS_CHANGED, true, true},
    {MODEL_SORN_D, SOURCE_UI, 0, false, "/Backup/Patch:3/UserPatchSrc:0", MMS::MMS_CHANGED, true, true},
    {MODEL_SORN_D, SOURCE_UI, 1, false, "/DevState/devstate:0/DisconnectReq:0", MMS::MMS_CHANGED, true, true},
    {MODEL_SORN_D, SOURCE_LINK, 0, false, "/Current/Dev:0/PanelLock:0", MMS::MMS_CHANGED, true, false},
    {MODEL_SORN_D, SOURCE_UI, 2, false, "/Event/Dev:0/Identify:0", MMS::MMS_CHANGED, false, true},
};

} // namespace

TEST(DeviceMemoryFamily, GuardsAndMarkingTable)
{
    for (const GuardCase& c : kGuards) {
        SCOPED_TRACE(std::to_string(c.type) + " source " + std::to_string(c.source) + " state "
            + std::to_string(c.connectionState) + (c.wgm ? " WGM " : " ") + c.path);
        Unit unit(c.type);
        ASSERT_GE(unit.write("/DevState/devstate:0/ConnectionState:0", c.connectionState, SOURCE_LINK), 0);
        ASSERT_GE(
            unit.write("/DevInfo/devstatus:0/runmode:0", JLIB::JVariant(c.wgm ? "WGM" : "RUN", 8), SOURCE_LINK), 0);
        const std::string before = unit.read(c.path);
        unit.marked(c.path, SOURCE_UI);
        unit.marked(c.path, SOURCE_LINK);

        const JResult result = unit.write(c.path, 1, c.source);
        // Accepted writes change the value (keepalive is clamped to 1000).
        EXPECT_EQ(c.result, result & ~MMS::MMS_ADJUSTED);
        EXPECT_EQ(result < 0, before == unit.read(c.path));
        EXPECT_EQ(c.key1, unit.marked(c.path, SOURCE_UI));
        EXPECT_EQ(c.key2, unit.marked(c.path, SOURCE_LINK));
    }
}

TEST(DeviceMemoryFamily, StateThatCannotBeReadRefusesNothing)
{
    // A Mavik memory without DevState and DevInfo: nothing to refuse by.
    MMSArchiver archiver;
    ASSERT_EQ(0,
        archiver.loadDefinitionText(
            kLayoutMavikCurrent, static_cast<uint32_t>(strlen(kLayoutMavikCurrent) + 1), "Current"));
    MavikMemObject mavik(0, nullptr, &archiver);
    EXPECT_EQ(MMS::MMS_CHANGED, mavik.setValue(addressOf("/Current/SRC:0/On:0"), JLIB::JVariant(int32_t{1}), 1));
    EXPECT_EQ(
        DEV_E_FAIL, mavik.setValue(addressOf("/DevState/devstate:0/ConnectReq:0"), JLIB::JVariant(int32_t{1}), 1));
}

TEST(DeviceMemoryFamily, GainCompensationSwapsTheChannelGains)
{
    Unit unit(MODEL_BROXL_D);
    ASSERT_GE(unit.write("/Backup/InCh:0/HAGain:0", 30, SOURCE_UI), 0);
    ASSERT_GE(unit.write("/Backup/InCh:0/CompGain:0", 12, SOURCE_UI), 0);
    ASSERT_GE(unit.write("/Backup/InCh:1/HAGain:0", 50, SOURCE_UI), 0);

    struct Step {
        int value;
        uint8_t source;
        const char* haGain;
        const char* compGain;
    };
    const Step steps[] = {
        {1, SOURCE_UI, "30", "30"}, // on: the head-amp gain is kept as compensation gain
        {1, SOURCE_UI, "30", "30"}, // on again: nothing copied
        {0, SOURCE_UI, "30", "30"},
        {0, SOURCE_UI, "30", "30"},
    };
    for (const Step& s : steps)
        ASSERT_GE(unit.write("/Backup/InCh:0/GainCompOn:0", s.value, s.source), 0);
    EXPECT_EQ("30", unit.read("/Backup/InCh:0/CompGain:0"));

    // Switched on, the gains drift apart; switching off restores the kept gain.
    ASSERT_GE(unit.write("/Backup/InCh:0/GainCompOn:0", 1, SOURCE_UI), 0);
    ASSERT_GE(unit.write("/Backup/InCh:0/HAGain:0", 40, SOURCE_UI), 0);
    ASSERT_GE(unit.write("/Backup/InCh:0/CompGain:0", 20, SOURCE_UI), 0);
    ASSERT_GE(unit.write("/Backup/InCh:0/GainCompOn:0", 1, SOURCE_UI), 0);
    EXPECT_EQ("40", unit.read("/Backup/InCh:0/HAGain:0"));
    ASSERT_GE(unit.write("/Backup/InCh:0/GainCompOn:0", 0, SOURCE_UI), 0);
    EXPECT_EQ("20", unit.read("/Backup/InCh:0/HAGain:0"));
    EXPECT_EQ("20", unit.read("/Backup/InCh:0/CompGain:0"));
    // Channel 1 untouched; the device link's writes are never converted.
    EXPECT_EQ("50", unit.read("/Backup/InCh:1/HAGain:0"));
    EXPECT_EQ("-6", unit.read("/Backup/InCh:1/CompGain:0"));
    ASSERT_GE(unit.write("/Backup/InCh:1/GainCompOn:0", 1, SOURCE_LINK), 0);
    EXPECT_EQ("-6", unit.read("/Backup/InCh:1/CompGain:0"));
    // A channel that does not exist fails at the first read.
    EXPECT_LT(unit.write("/Backup/InCh:40/GainCompOn:0", 1, SOURCE_UI), 0);
}

TEST(DeviceMemoryFamily, SornInitialPatchReachesOnlyTheUserInterface)
{
    Unit unit(MODEL_SORN_D);
    EXPECT_EQ("64", unit.read("/Backup/Patch:0/UserPatchSrc:0"));
    EXPECT_EQ("0", unit.read("/Backup/Patch:64/UserPatchSrc:0"));
    EXPECT_EQ("63", unit.read("/Backup/Patch:127/UserPatchSrc:0"));
    EXPECT_TRUE(unit.marked("/Backup/Patch:5/UserPatchSrc:0", SOURCE_UI));
    EXPECT_FALSE(unit.marked("/Backup/Patch:5/UserPatchSrc:0", SOURCE_LINK));
}

TEST(DeviceMemoryFamily, OutOfRangeValuesAreClamped)
{
    struct ClampCase {
        const char* path;
        int32_t value;
        const char* stored;
    };
    const ClampCase cases[] = {
        {"/ListItem/listitem:0/CurSummaryNumReq:0", -1, "0"},
        {"/Backup/InCh:2/HPFFreq:0", 100, "63"},
        {"/Backup/InCh:2/HPFFreq:0", 0, "4"},
        {"/Backup/OutCh:0/GainLevel:0", 5000, "2400"},
    };
    Unit unit(MODEL_BROXL_D);
    for (const ClampCase& c : cases) {
        SCOPED_TRACE(c.path);
        const JResult r = unit.write(c.path, c.value, SOURCE_UI);
        EXPECT_GE(r, 0);
        EXPECT_TRUE(r & MMS::MMS_ADJUSTED);
        EXPECT_EQ(c.stored, unit.read(c.path));
    }
}

TEST(DeviceMemoryFamily, MissingAccessorOrBadPath)
{
    Unit unit(MODEL_BROXL_D);
    JLIB::JVariant value;
    const MemAddress unknown{"Nothing", "a/b", {0, 0}};
    EXPECT_EQ(DEV_E_FAIL, unit.object->setValue(unknown, JLIB::JVariant(int32_t{1}), 1));
    EXPECT_EQ(DEV_E_FAIL, unit.object->getValue(unknown, &value));
    EXPECT_EQ(DEV_E_FAIL, unit.object->getMinimum(unknown, &value));
    EXPECT_EQ(DEV_E_FAIL, unit.object->getDefault(unknown, &value, true));
    // A path without indexes or with too few reaches no element.
    EXPECT_LT(unit.write("/Backup/MeterSetup/PeakHold", 1, SOURCE_UI), 0);
    EXPECT_LT(
        unit.object->setValue(MemAddress{"Backup", "MeterSetup/PeakHold", {0}}, JLIB::JVariant(int32_t{1}), 1), 0);
    EXPECT_EQ("0", unit.read("/Backup/MeterSetup:0/PeakHold:0"));
}

TEST(DeviceMemoryFamily, BroxObjectsMadeOnSeveralThreadsShareOneConversionTable)
{
    std::vector<std::thread> threads;
    std::atomic<int> converted{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            Unit unit(MODEL_BROXL_D + t);
            unit.write("/Backup/InCh:0/HAGain:0", 20 + t, SOURCE_UI);
            unit.write("/Backup/InCh:0/GainCompOn:0", 1, SOURCE_UI);
            if (unit.read("/Backup/InCh:0/CompGain:0") == std::to_string(20 + t))
                ++converted;
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(4, converted);
}

TEST(DeviceMemoryHighPass, TableAndNearestIndex)
{
    EXPECT_EQ(16.0, hpfFrequencyAt(-5));
    EXPECT_EQ(16.0, hpfFrequencyAt(0));
    EXPECT_EQ(double(21.2f), hpfFrequencyAt(5));
    EXPECT_EQ(21.200000762939453, hpfFrequencyAt(5));
    EXPECT_EQ(23.600000381469727, hpfFrequencyAt(7));
    EXPECT_EQ(100.0, hpfFrequencyAt(32));
    EXPECT_EQ(23600.0, hpfFrequencyAt(127));
    EXPECT_EQ(23600.0, hpfFrequencyAt(500));
    for (int i = 1; i < kHpfCount; ++i)
        ASSERT_LT(hpfFrequencyAt(i - 1), hpfFrequencyAt(i)) << i;

    struct NearCase {
        double frequency;
        int index;
    };
    const NearCase cases[] = {
        {-1.0, 0},
        {0.0, 0},
        {16.0, 0},
        {16.4, 0},
        {16.5, 1},
        {16.6, 1},
        {21.2, 5},
        {100.0, 32},
        {103.0, 33},
        {102.9, 32},
        {23600.0, 127},
        {1e9, 127},
        {11500.0, 115},
        {11499.0, 114},
    };
    for (const NearCase& c : cases)
        EXPECT_EQ(c.index, hpfNearestIndex(c.frequency)) << c.frequency;
    // Every entry finds itself.
    for (int i = 0; i < kHpfCount; ++i)
        ASSERT_EQ(i, hpfNearestIndex(hpfFrequencyAt(i))) << i;
}

TEST(DeviceMemoryHighPass, IoParameters)
{
    struct IoCase {
        const char* name;
        int channel;
        int32_t value;
        JResult result;
        const char* path;
        int32_t outValue;
    };
    const IoCase cases[] = {
        {"IO:Current/InCh/HPFFreq", 2, 1000, 0, "/Backup/InCh:2/HPFFreq:0", 32},
        {"IO:Current/InCh/HPFFreq", 0, 236000, 0, "/Backup/InCh:0/HPFFreq:0", 127},
        {"IO:Current/InCh/HPFFreq", 0, -50, 0, "/Backup/InCh:0/HPFFreq:0", 0},
        {"IO:Current/OutCh/AES/GainLevel", 7, -960, 0, "/Backup/OutChAES:7/GainLevel:0", -960},
        {"IO:Current/Headphone/Assign", 1, 58, 0, "/Backup/Headphone:1/Assign:0", 58},
        {"IO:Current/Dev/MuteOn", 0, 1, 0, "", 1},
        {"IO:Event/OutCh/Identify", 3, 1, 0, "", 1},
        {"IO:Current/Dev/Nothing", 0, 1, DEV_E_FAIL, "untouched", 99},
        {"io:current/dev/muteon", 0, 1, DEV_E_FAIL, "untouched", 99},
    };
    for (const IoCase& c : cases) {
        SCOPED_TRACE(c.name);
        QString path = "untouched";
        int32_t value = 99;
        EXPECT_EQ(c.result, convertIoParameter(c.name, c.channel, c.value, &path, &value));
        EXPECT_EQ(QString::fromUtf8(c.path), path);
        EXPECT_EQ(c.outValue, value);
    }
    size_t count = 0;
    const IoTableRow* rows = ioTable(&count);
    ASSERT_EQ(36u, count);
    EXPECT_STREQ("outCh/Identify", rows[35].namePath);
    EXPECT_STREQ("IO:Current/Dev/Wordclock/Fs", rows[20].ioName);
    EXPECT_EQ(0x101u, rows[19].flags);
    EXPECT_EQ(1, rows[29].scope);

    // Every converted path lands in a Brox memory; the high-pass index is
    // clamped into the layout's range.
    Unit unit(MODEL_BROXL_D);
    for (size_t i = 0; i < count; ++i) {
        QString path;
        int32_t value = 0;
        ASSERT_EQ(0, convertIoParameter(rows[i].ioName, 1, 1000, &path, &value));
        if (path.isEmpty())
            continue;
        MemAddress address;
        ASSERT_EQ(0, parseMemPath(path, &address));
        EXPECT_GE(unit.object->setRawValue(address, JLIB::JVariant(value), SOURCE_UI), 0) << rows[i].ioName;
    }
    EXPECT_EQ("32", unit.read("/Backup/InCh:1/HPFFreq:0"));
}
