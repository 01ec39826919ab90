// Family layouts: every family loads its functions, the spot values of each
// function's definition, and the texts pass the layout schema.
#include "tests/device/device_test.h"

#include "device/layouts/dev_layouts.h"
#include "device/link/dev_family.h"
#include "device/memory/dev_optiondata.h"
#include "mms/mms_lockedfield.h"
#include "tests/support/test_support.h"

#include <algorithm>
#include <cstring>
#include <map>

using namespace devtest;

namespace {

// What one path answers: its value, or a limit or default of its definition.
enum Ask { VALUE, MINIMUM, MAXIMUM, DEFAULT, NOMINAL };

struct Spot {
    ModelType type;
    const char* path;
    Ask ask;
    const char* expected;
};

// Counts show as the last element that answers and the first that doesn't.
const Spot kSpots[] = {
    // Brox Backup
    {MODEL_BROXL_D, "/Backup/InCh:31/48VOn:0", VALUE, "0"},
    {MODEL_BROXL_D, "/Backup/InCh:32/48VOn:0", VALUE, "error"},
    {MODEL_BROXL_D, "/Backup/InCh:0/HPFFreq:0", VALUE, "28"},
    {MODEL_BROXL_D, "/Backup/InCh:0/HPFFreq:0", MINIMUM, "4"},
    {MODEL_BROXL_D, "/Backup/InCh:0/HPFFreq:0", MAXIMUM, "63"},
    {MODEL_BROXL_D, "/Backup/InCh:5/HAGain:0", VALUE, "-6"},
    {MODEL_BROXL_D, "/Backup/InCh:5/CompGain:0", MAXIMUM, "66"},
    {MODEL_BROXL_D, "/Backup/OutCh:23/GainLevel:0", MINIMUM, "-9600"},
    {MODEL_BROXL_D, "/Backup/OutCh:24/GainLevel:0", VALUE, "error"},
    {MODEL_BROXL_D, "/Backup/OutChAES:7/DelayTime:0", MAXIMUM, "1000000"},
    {MODEL_BROXL_D, "/Backup/OutChAES:8/DelayTime:0", VALUE, "error"},
    {MODEL_BROXL_D, "/Backup/Headphone:1/Mono:0", VALUE, "1"},
    {MODEL_BROXL_D, "/Backup/Headphone:2/Mono:0", VALUE, "error"},
    {MODEL_BROXL_D, "/Backup/Headphone:0/Assign:0", MAXIMUM, "58"},
    {MODEL_BROXL_D, "/Backup/MeterSetup:0/PeakHold:0", VALUE, "0"},
    {MODEL_BROXL_D, "/Backup/OutputSetup:0/DelayScale:0", VALUE, "3"},
    {MODEL_BROXL_D, "/Backup/OutputSetup:0/DelayFrame:0", MAXIMUM, "6"},
    // Brox Current
    {MODEL_BROXM_D2, "/Current/Dev:0/WordclockFs:0", VALUE, "96000"},
    {MODEL_BROXM_D2, "/Current/Dev:0/WordclockFs:0", MAXIMUM, "192000"},
    {MODEL_BROXM_D2, "/Current/Dev:0/OutputImpedance:0", VALUE, "\"\""},
    {MODEL_BROXM_D2, "/Current/Dev:0/CurrIPAddress:3", VALUE, "0"},
    {MODEL_BROXM_D2, "/Current/Dev:0/CurrIPAddress:4", VALUE, "error"},
    {MODEL_BROXM_D2, "/Current/Dev:0/SyncStatus:0", MAXIMUM, "13"},
    // Event, DevInfo, DevState
    {MODEL_PELLM_D, "/Event/InCh:31/Identify:0", VALUE, "0"},
    {MODEL_PELLM_D, "/Event/OutCh:23/Identify:0", MAXIMUM, "1"},
    {MODEL_PELLM_D, "/Event/OutCh:24/Identify:0", VALUE, "error"},
    {MODEL_PELLM_D, "/DevInfo/scpmode:0/keepalive:0", VALUE, "10000"},
    {MODEL_PELLM_D, "/DevInfo/scpmode:0/keepalive:0", MINIMUM, "1000"},
    {MODEL_PELLM_D, "/DevInfo/devinfo:0/devicename:0", VALUE, "\"\""},
    {MODEL_PELLM_D, "/DevInfo/devstatus:0/runmode:0", VALUE, "\"\""},
    {MODEL_PELLM_D, "/DevState/devstate:0/DeviceNum:0", MAXIMUM, "125"},
    {MODEL_PELLM_D, "/DevState/devstate:0/ConnectionState:0", VALUE, "0"},
    // Brox ListItem, LogEvent
    {MODEL_BROXL_D3, "/ListItem/listitem:0/CurSummaryItemReq:0", VALUE, "-1"},
    {MODEL_BROXL_D3, "/ListItem/listitem:0/EvtSummaryNum:0", MAXIMUM, "65535"},
    {MODEL_BROXL_D3, "/ListItem/listitem:0/EvtSummaryNumReceived:0", MINIMUM, "-1"},
    {MODEL_BROXL_D3, "/ListItem/listitem:0/CurSummaryItem:0", VALUE, "\"\""},
    {MODEL_BROXL_D3, "/LogEvent/event:0/TftpURISend:0", VALUE, "\"\""},
    // Mavik Current, with its nested collections
    {MODEL_MAVIK_D, "/Current/Dev:0/SystemStatus:0", MAXIMUM, "11"},
    {MODEL_MAVIK_D, "/Current/Dev:0/MasterWCLK:0/Fs:0", VALUE, "1"},
    {MODEL_MAVIK_D, "/Current/Dev:0/MasterWCLK_Dante:0/Fs:0", DEFAULT, "1"},
    {MODEL_MAVIK_D, "/Current/Dev:0/Meter:0/Select:0", MAXIMUM, "4"},
    {MODEL_MAVIK_D, "/Current/InStatus:0/Frame:0", VALUE, "2"},
    {MODEL_MAVIK_D, "/Current/OutStatus:0/Channel:0", VALUE, "0"},
    {MODEL_MAVIK_D, "/Event/Dev:0/Identify:0", VALUE, "0"},
    {MODEL_MAVIK_D, "/Backup/Patch:0/UserPatchSrc:0", VALUE, "error"},
    // Sorn
    {MODEL_SORN_D, "/Backup/Patch:127/UserPatchSrc:0", DEFAULT, "255"},
    {MODEL_SORN_D, "/Backup/Patch:128/UserPatchSrc:0", VALUE, "error"},
    {MODEL_SORN_D, "/Current/Dev:0/PowerOn:1", VALUE, "0"},
    {MODEL_SORN_D, "/Current/Dev:0/PowerOn:2", VALUE, "error"},
    {MODEL_SORN_D, "/Current/Dev:0/QuillonFWUpdateProgress:0", MAXIMUM, "100"},
    {MODEL_SORN_D, "/Current/Slot:3/CardName:0", VALUE, "\"0\""},
    {MODEL_SORN_D, "/Current/Slot:3/SLOTLockStatus:0", MAXIMUM, "4"},
    {MODEL_SORN_D, "/Current/Slot:4/CardName:0", VALUE, "error"},
    {MODEL_SORN_D, "/Event/Dev:0/Identify:0", VALUE, "0"},
    {MODEL_SORN_D, "/Event/InCh:0/Identify:0", VALUE, "error"},
    // Nominal values: the Brox rule, then the definitions.
    {MODEL_BROXL_D, "/Backup/InCh:0/HAGain:0", NOMINAL, "0"},
    {MODEL_BROXL_D, "/Backup/OutCh:0/GainLevel:0", NOMINAL, "0"},
    {MODEL_BROXL_D, "/Backup/InCh:0/HPFFreq:0", NOMINAL, "error"},
    {MODEL_SORN_D, "/Current/Dev:0/PanelLock:0", NOMINAL, "error"},
};

std::string ask(Unit& unit, const Spot& spot)
{
    const MemAddress address = addressOf(spot.path);
    JLIB::JVariant value;
    JResult r = DEV_E_FAIL;
    switch (spot.ask) {
    case VALUE:
        r = unit.object->getValue(address, &value);
        break;
    case MINIMUM:
        r = unit.object->getMinimum(address, &value);
        break;
    case MAXIMUM:
        r = unit.object->getMaximum(address, &value);
        break;
    case DEFAULT:
        r = unit.object->getDefault(address, &value, false);
        break;
    case NOMINAL:
        r = unit.object->getDefault(address, &value, true);
        break;
    }
    return textOf(r, value);
}

} // namespace

TEST(DeviceLayout, EveryFamilyLoadsItsFunctions)
{
    struct FamilyCase {
        ModelType type;
        std::vector<const char*> functions;
    };
    const std::vector<const char*> brox = {"Backup", "Current", "Event", "DevInfo", "DevState", "ListItem", "LogEvent"};
    const FamilyCase cases[] = {
        {MODEL_BROXL_D, brox},
        {MODEL_BROXO_D, brox},
        {MODEL_PELLM_D, brox},
        {MODEL_BROXM_D3, brox},
        {MODEL_MAVIK_D, {"Current", "Event", "DevInfo", "DevState"}},
        {MODEL_SORN_D, {"Backup", "Current", "Event", "DevInfo", "DevState"}},
    };
    for (const FamilyCase& c : cases) {
        SCOPED_TRACE(c.type);
        Unit unit(c.type);
        ASSERT_EQ(0, unit.loadResult);
        ASSERT_TRUE(unit.object);
        for (const char* function : c.functions) {
            EXPECT_TRUE(unit.archiver.field(function)) << function;
            EXPECT_TRUE(unit.object->accessor(function)) << function;
        }
        for (const char* other : {"ListItem", "Backup"}) {
            const bool held
                = std::any_of(c.functions.begin(), c.functions.end(), [&](const char* f) { return !strcmp(f, other); });
            EXPECT_EQ(held, unit.archiver.field(other) != nullptr) << other;
        }
    }
    // No constructor and no object outside 1..12.
    for (ModelType type : {-1, 0, 13, 261}) {
        EXPECT_FALSE(createMemConstructor(type)) << type;
        MMSArchiver archiver;
        EXPECT_EQ(nullptr, createMemObject(type, 0, nullptr, &archiver)) << type;
    }
    EXPECT_TRUE(dynamic_cast<BroxMemObject*>(Unit(MODEL_PELLM_D).object.get()));
    EXPECT_TRUE(dynamic_cast<SornMemObject*>(Unit(MODEL_SORN_D).object.get()));
    EXPECT_TRUE(dynamic_cast<MavikMemObject*>(Unit(MODEL_MAVIK_D).object.get()));
}

TEST(DeviceLayout, SpotValuesOfEveryFunction)
{
    std::map<ModelType, std::unique_ptr<Unit>> units;
    for (const Spot& spot : kSpots) {
        SCOPED_TRACE(spot.path);
        auto& unit = units[spot.type];
        if (!unit)
            unit = std::make_unique<Unit>(spot.type);
        EXPECT_EQ(spot.expected, ask(*unit, spot)) << "ask " << spot.ask;
    }
}

TEST(DeviceLayout, FailedLoadKeepsTheArchiverAsItWas)
{
    const uint32_t kDevStateLength = static_cast<uint32_t>(strlen(kLayoutDevState) + 1);
    MMSArchiver archiver;
    ASSERT_EQ(0, archiver.loadDefinitionText(kLayoutDevState, kDevStateLength, "DevState"));
    // A name already held, null arguments, an empty text.
    EXPECT_EQ(DEV_E_FAIL, archiver.loadDefinitionText(kLayoutDevState, kDevStateLength, "DevState"));
    EXPECT_EQ(DEV_E_FAIL, archiver.loadDefinitionText(nullptr, 10, "X"));
    EXPECT_EQ(DEV_E_FAIL, archiver.loadDefinitionText(kLayoutDevState, 0, "X"));
    EXPECT_EQ(DEV_E_FAIL, archiver.loadDefinitionText(kLayoutDevState, kDevStateLength, nullptr));
    // A broken text is the loader's failure; nothing is kept under the name.
    const char broken[] = "<function name=\"X\"><collections><collection";
    EXPECT_LT(archiver.loadDefinitionText(broken, sizeof broken, "X"), 0);
    EXPECT_FALSE(archiver.field("X"));
    EXPECT_TRUE(archiver.field("DevState"));

    // The constructor goes on after a failure and reports the last one.
    MMSArchiver taken;
    ASSERT_EQ(0, taken.loadDefinitionText(kLayoutDevState, kDevStateLength, "Current"));
    EXPECT_EQ(DEV_E_FAIL, BroxMemConstructor().load(&taken));
    EXPECT_TRUE(taken.field("LogEvent"));

    // From a file, as from memory.
    qtest::TempDir dir;
    ASSERT_TRUE(qtest::writeFile(dir.file("devstate.xml"), kLayoutDevState));
    EXPECT_EQ(0, archiver.loadDefinitionFile(dir.path().c_str(), "devstate.xml", "FromFile"));
    EXPECT_TRUE(archiver.field("FromFile"));
    EXPECT_LT(archiver.loadDefinitionFile(dir.path().c_str(), "missing.xml", "Missing"), 0);
    EXPECT_FALSE(archiver.field("Missing"));
}

TEST(DeviceLayout, TextsPassTheLayoutSchema)
{
    const std::pair<const char*, const char*> texts[] = {
        {"brox_backup", kLayoutBroxBackup},
        {"brox_current", kLayoutBroxCurrent},
        {"brox_listitem", kLayoutBroxListItem},
        {"brox_logevent", kLayoutBroxLogEvent},
        {"event", kLayoutEvent},
        {"devinfo", kLayoutDevInfo},
        {"devstate", kLayoutDevState},
        {"mavik_current", kLayoutMavikCurrent},
        {"sorn_backup", kLayoutSornBackup},
        {"sorn_current", kLayoutSornCurrent},
        {"sorn_event", kLayoutSornEvent},
        {"datainfo", kDataInfoLayout},
    };
    qtest::TempDir dir;
    const std::string schema = qtest::sourcePath("tests/mms/layout.xsd");
    for (const auto& text : texts) {
        const std::string file = dir.file(std::string(text.first) + ".xml");
        ASSERT_TRUE(qtest::writeFile(file, text.second));
        EXPECT_EQ(0, qtest::runCommand("xmllint --noout --schema '" + schema + "' '" + file + "' 2>&1")) << text.first;
    }
}
