// The Mavik and Sorn adapters against a real device object and a recording
// client: every row shape in each direction (two-level, three-level and
// literal paths, per-slot and per-byte rows, the 128-entry patch), the reset
// lists, the negotiation check and the association tables.
#include "tests/device/adapter_double.h"
#include "tests/device/device_test.h"

#include "device/link/dev_family.h"
#include "device/link/dev_mavik.h"
#include "device/link/dev_sorn.h"
#include "device/memory/dev_object.h"

#include <cstring>
#include <utility>

using namespace devtest;

namespace {

SCP::ScpText scpText(const char* ascii)
{
    SCP::ScpText t(SCP::SCP_STRING_MAX);
    t.assign(ascii, std::strlen(ascii));
    return t;
}

// One unit with the adapters the factories give for its type, bound as the
// device link binds them.
struct IoLink {
    explicit IoLink(ModelType type)
        : dev(0, type)
        , parameter(createScpParameter(type))
        , reporter(createScpDeviceReporter(type))
    {
        parameter->bind(&dev, SOURCE_LINK);
        parameter->setCallback(&client);
        reporter->bind(&dev, SOURCE_LINK, &client, [] { return true; });
    }
    std::string get(const char* path)
    {
        JLIB::JVariant value;
        return textOf(dev.getValue(QString::fromUtf8(path), &value), value);
    }
    JResult put(const char* path, int32_t value, uint8_t source = SOURCE_LINK)
    {
        return dev.setValue(QString::fromUtf8(path), JLIB::JVariant(value), source);
    }
    std::string defaultOf(const char* path)
    {
        JLIB::JVariant value;
        return textOf(dev.getDefault(QString::fromUtf8(path), &value, false), value);
    }

    DevObject dev;
    RecordingClient client;
    std::unique_ptr<ScpParameter_Quil> parameter;
    std::unique_ptr<ScpDeviceReporter_Quil> reporter;
};

struct RowCase {
    const char* scpName;
    int32_t index;
    int32_t x;
    int32_t wire;
    const char* path;
    bool sends;
};

// Stores the wire value through the SCP name, reads it back, then changes
// the element as the user would and checks whether exactly that row leaves.
void checkRows(ModelType type, const RowCase* begin, const RowCase* end)
{
    for (const RowCase* c = begin; c != end; ++c) {
        SCOPED_TRACE(std::string(c->scpName) + " x " + std::to_string(c->x));
        IoLink link(type);
        int32_t index = -1;
        ASSERT_EQ(0, link.parameter->indexOf(index, scpText(c->scpName)));
        EXPECT_EQ(c->index, index);
        SCP::ScpText name(SCP::SCP_STRING_MAX);
        ASSERT_GE(link.parameter->nameOf(name, index), 0);
        EXPECT_TRUE(SCP::scp_textEquals(name, c->scpName, true));

        EXPECT_EQ(1, link.parameter->storeValue(0, index, c->x, 0, JLIB::JVariant(c->wire)));
        EXPECT_EQ(std::to_string(c->wire), link.get(c->path));
        JLIB::JVariant back;
        ASSERT_EQ(0, link.parameter->readValue(back, index, c->x, 0));
        EXPECT_EQ(c->wire, static_cast<int32_t>(back.toInteger()));
        link.parameter->sendChanged();
        EXPECT_TRUE(link.client.lines.empty()) << "the link's own store is not sent back";

        // Source 0 stands for a local edit that is marked for the link.
        ASSERT_GE(link.put(c->path, 0, 0), 0);
        ASSERT_EQ(0, link.parameter->sendChanged());
        const std::vector<std::string> expected = c->sends
            ? std::vector<std::string>{"changed " + std::to_string(c->index) + " " + std::to_string(c->x) + " 0"}
            : std::vector<std::string>{};
        EXPECT_EQ(expected, link.client.lines);
    }
}

TEST(DeviceMavikSornRows, MavikEveryRowShape)
{
    const RowCase cases[] = {
        {"IO:Current/SRC/On", 0, 0, 1, "/Current/SRC:0/On:0", true},
        // three places, receive-only: a notification lands on the nested path
        {"IO:Current/Dev/ExtCtrl/On", 1, 0, 1, "/Current/Dev:0/ExtCtrl:0/On:0", false},
        {"io:current/inputrate/fsrate", 4, 0, 1, "/Current/InputRate:0/FsRate:0", true},
        {"IO:Current/InStatus/Channel", 8, 0, 1, "/Current/InStatus:0/Channel:0", false},
        // literal paths without places
        {"IO:Current/Dev/SystemStatus", 11, 0, 7, "/Current/Dev:0/SystemStatus:0", false},
        {"IO:Current/Dev/SyncStatus", 12, 0, 3, "/Current/Dev:0/SyncStatus:0", false},
        // three places, the one such row that sends
        {"IO:Current/Dev/MasterWCLK/Sel", 13, 0, 2, "/Current/Dev:0/MasterWCLK:0/Sel:0", true},
        {"IO:Current/Dev/MasterWCLK_Dante/Fs", 17, 0, 4, "/Current/Dev:0/MasterWCLK_Dante:0/Fs:0", false},
        {"IO:Event/Dev/Identify", 19, 0, 1, "/Event/Dev:0/Identify:0", true},
        // address bytes: x is the element
        {"IO:Current/Dev/IPAddress", 21, 3, 192, "/Current/Dev:0/CurrIPAddress:3", false},
        {"IO:NextBoot/Dev/IPSelectMode", 24, 0, 2, "/Current/Dev:0/NextIPSelectMode:0", true},
        {"IO:NextBoot/Dev/DefaultGateway", 27, 2, 254, "/Current/Dev:0/NextDefaultGateway:2", true},
    };
    checkRows(MODEL_MAVIK_D, std::begin(cases), std::end(cases));
}

TEST(DeviceMavikSornRows, SornEveryRowShape)
{
    const RowCase cases[] = {
        {"IO:Current/Dev/MasterWCLK/Sel", 0, 0, 1, "/Current/Dev:0/WordClockSelect:0", true},
        // x fills the element slot
        {"IO:Current/Dev/PowerOn", 3, 1, 1, "/Current/Dev:0/PowerOn:1", false},
        {"IO:Current/Dev/PowerOn", 3, 0, 1, "/Current/Dev:0/PowerOn:0", false},
        // a Current name stored in Backup, x the patch entry
        {"IO:Current/Dev/UserPatch", 5, 127, 3, "/Backup/Patch:127/UserPatchSrc:0", true},
        {"IO:Current/Dev/UserPatch", 5, 0, 9, "/Backup/Patch:0/UserPatchSrc:0", true},
        {"IO:NextBoot/Dev/IPAddress", 11, 3, 10, "/Current/Dev:0/NextIPAddress:3", true},
        {"IO:Current/Dev/SubnetMask", 8, 1, 255, "/Current/Dev:0/CurrSubnetMask:1", false},
        {"IO:Current/Dev/SyncStatus", 15, 0, 2, "/Current/Dev:0/SyncStatus:0", false},
        // x fills the collection slot (the card slot)
        {"IO:Current/Dev/SRCOn", 16, 3, 1, "/Current/Slot:3/SRCOn:0", true},
        {"IO:Current/Dev/SRCLockStatus", 18, 2, 1, "/Current/Slot:2/SRCLockStatus:0", false},
        // memory's name differs from the row's name path; the path format holds
        {"IO:Current/Dev/SLOTInputPortNum", 22, 1, 8, "/Current/Slot:1/SLOTInputPortNum:0", false},
        {"IO:Current/Dev/SLOTOutputPortNum", 23, 3, 16, "/Current/Slot:3/SLOTOutputPortNum:0", false},
        {"IO:Event/Dev/Identify", 24, 0, 1, "/Event/Dev:0/Identify:0", true},
    };
    checkRows(MODEL_SORN_D, std::begin(cases), std::end(cases));
}

TEST(DeviceMavikSornRows, ThreeLevelRowIsSentFromTheMemorysNotification)
{
    // Memory names the nested element with three indices.
    IoLink link(MODEL_MAVIK_D);
    const uint32_t indices[3] = {0, 0, 0};
    ASSERT_EQ(0, link.parameter->notify("Current", "Dev/MasterWCLK/Sel", indices, 3, SOURCE_LINK));
    EXPECT_EQ((std::vector<std::string>{"changed 13 0 0"}), link.client.lines);
    // Receive-only nested rows never leave.
    EXPECT_EQ(ADAPTER_E_FAIL, link.parameter->notify("Current", "Dev/MasterWCLK/Fs", indices, 3, SOURCE_LINK));
    EXPECT_EQ(1u, link.client.lines.size());
}

TEST(DeviceMavikSornRows, BadInputStoresNothing)
{
    struct Case {
        ModelType type;
        const char* scpName;
        int32_t x;
    };
    const Case cases[] = {
        {MODEL_MAVIK_D, "IO:Current/Dev/IPAddress", 4},
        {MODEL_MAVIK_D, "IO:NextBoot/Dev/SubnetMask", -1},
        {MODEL_SORN_D, "IO:Current/Dev/UserPatch", 128},
        {MODEL_SORN_D, "IO:Current/Dev/PowerOn", 2},
        {MODEL_SORN_D, "IO:Current/Dev/CardName", 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.scpName) + " x " + std::to_string(c.x));
        IoLink link(c.type);
        const size_t cached = link.dev.addresses().size();
        int32_t index = -1;
        ASSERT_EQ(0, link.parameter->indexOf(index, scpText(c.scpName)));
        EXPECT_EQ(ADAPTER_E_FAIL, link.parameter->storeValue(0, index, c.x, 0, JLIB::JVariant(1)));
        JLIB::JVariant value;
        EXPECT_EQ(ADAPTER_E_FAIL, link.parameter->readValue(value, index, c.x, 0));
        EXPECT_EQ(cached, link.dev.addresses().size());
    }
    for (const auto& [type, count] : {std::pair{MODEL_MAVIK_D, 28}, std::pair{MODEL_SORN_D, 25}}) {
        IoLink link(type);
        int32_t index = -1;
        EXPECT_EQ(ADAPTER_E_INDEX, link.parameter->indexOf(index, scpText("IO:Current/InCh/48VOn")));
        EXPECT_EQ(ADAPTER_E_INDEX, link.parameter->storeValue(0, count, 0, 0, JLIB::JVariant(1)));
        EXPECT_EQ(ADAPTER_E_INDEX, link.parameter->storeValue(0, -1, 0, 0, JLIB::JVariant(1)));
    }
}

TEST(DeviceMavikSornReset, MavikResetsEveryAddressByte)
{
    IoLink link(MODEL_MAVIK_D);
    const char* const addressRows[] = {"CurrIPAddress", "CurrSubnetMask", "CurrDefaultGateway", "NextIPAddress",
        "NextSubnetMask", "NextDefaultGateway"};
    for (const char* name : addressRows)
        for (int j = 0; j < 4; ++j)
            ASSERT_GE(link.put(("/Current/Dev:0/" + std::string(name) + ":" + std::to_string(j)).c_str(), 10 + j), 0);
    ASSERT_GE(link.put("/Current/Dev:0/MasterWCLK:0/Sel:0", 2), 0);
    ASSERT_GE(link.put("/Current/Dev:0/SystemStatus:0", 5), 0);
    ASSERT_GE(link.put("/Event/Dev:0/Identify:0", 1), 0);

    ASSERT_EQ(0, link.parameter->applyResetList());
    for (const char* name : addressRows)
        for (int j = 0; j < 4; ++j) {
            const std::string p = "/Current/Dev:0/" + std::string(name) + ":" + std::to_string(j);
            EXPECT_EQ(link.defaultOf(p.c_str()), link.get(p.c_str())) << p;
        }
    EXPECT_EQ(link.defaultOf("/Current/Dev:0/MasterWCLK:0/Sel:0"), link.get("/Current/Dev:0/MasterWCLK:0/Sel:0"));
    EXPECT_EQ(link.defaultOf("/Current/Dev:0/SystemStatus:0"), link.get("/Current/Dev:0/SystemStatus:0"));
    EXPECT_EQ("1", link.get("/Event/Dev:0/Identify:0")) << "the identify event is not in the list";
}

TEST(DeviceMavikSornReset, SornResetsEveryElementOfItsList)
{
    IoLink link(MODEL_SORN_D);
    ASSERT_GE(link.put("/Current/Dev:0/PowerOn:1", 1), 0);
    ASSERT_GE(link.put("/Current/Dev:0/NextSubnetMask:3", 255), 0);
    ASSERT_GE(link.put("/Current/Slot:3/SRCOn:0", 1), 0);
    ASSERT_GE(link.put("/Current/Slot:2/SLOTOutputPortNum:0", 16), 0);
    ASSERT_GE(link.put("/Backup/Patch:7/UserPatchSrc:0", 3), 0);
    ASSERT_GE(link.put("/Current/Dev:0/PanelLock:0", 1), 0);
    ASSERT_GE(link.put("/Current/Dev:0/WordClockSelect:0", 1), 0);

    ASSERT_EQ(0, link.parameter->applyResetList());
    for (const char* p : {"/Current/Dev:0/PowerOn:1", "/Current/Dev:0/NextSubnetMask:3", "/Current/Slot:3/SRCOn:0",
             "/Current/Slot:2/SLOTOutputPortNum:0"})
        EXPECT_EQ(link.defaultOf(p), link.get(p)) << p;
    // Not in the list: the user's patch and settings stay.
    EXPECT_EQ("3", link.get("/Backup/Patch:7/UserPatchSrc:0"));
    EXPECT_EQ("1", link.get("/Current/Dev:0/PanelLock:0"));
    EXPECT_EQ("1", link.get("/Current/Dev:0/WordClockSelect:0"));
}

TEST(DeviceMavikSornReporter, NegotiationLooksAtTheErrorAlone)
{
    struct Case {
        const char* runmode;
        const char* error;
        bool accepted;
    };
    const Case cases[] = {
        {"normal", "nothing", true},
        {"WGM", "NOTHING", true},
        {"anything at all", "Nothing", true},
        {"normal", "fan", false},
        {"normal", "nothing2", false},
        {"normal", "", false},
    };
    for (const ModelType type : {MODEL_MAVIK_D, MODEL_SORN_D})
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.runmode) + "/" + c.error + " type " + std::to_string(type));
            IoLink link(type);
            SCP::ScpText run = scpText(c.runmode);
            SCP::ScpText err = scpText(c.error);
            ASSERT_EQ(0, link.reporter->deviceStatus(0, run, scpText("runmode")));
            ASSERT_EQ(0, link.reporter->deviceStatus(0, err, scpText("error")));
            EXPECT_EQ(c.accepted, link.reporter->acceptNegotiation());
        }
}

TEST(DeviceMavikSornReporter, FactoriesGiveTheFamilyClasses)
{
    EXPECT_TRUE(dynamic_cast<ScpParameter_Mavik*>(createScpParameter(MODEL_MAVIK_D).get()));
    EXPECT_TRUE(dynamic_cast<ScpDeviceReporter_Mavik*>(createScpDeviceReporter(MODEL_MAVIK_D).get()));
    EXPECT_TRUE(dynamic_cast<ScpMeterReporter_Mavik*>(createScpMeterReporter(MODEL_MAVIK_D).get()));
    EXPECT_TRUE(dynamic_cast<MavikAssoSeq*>(createAssoSeq(MODEL_MAVIK_D).get()));
    EXPECT_TRUE(dynamic_cast<ScpParameter_Sorn*>(createScpParameter(MODEL_SORN_D).get()));
    EXPECT_TRUE(dynamic_cast<ScpDeviceReporter_Sorn*>(createScpDeviceReporter(MODEL_SORN_D).get()));
    EXPECT_TRUE(dynamic_cast<ScpMeterReporter_Sorn*>(createScpMeterReporter(MODEL_SORN_D).get()));
    EXPECT_TRUE(dynamic_cast<SornAssoSeq*>(createAssoSeq(MODEL_SORN_D).get()));
}

TEST(DeviceMavikSornReporter, NoMetersNoPollNoFix)
{
    for (const ModelType type : {MODEL_MAVIK_D, MODEL_SORN_D}) {
        SCOPED_TRACE(type);
        IoLink link(type);
        auto meter = createScpMeterReporter(type);
        ASSERT_TRUE(meter);
        int32_t count = -1;
        ASSERT_EQ(0, meter->getMeterCount(count));
        EXPECT_EQ(0, count);
        int32_t index = -1;
        EXPECT_EQ(ADAPTER_E_INDEX, meter->indexOf(index, scpText("IO:Current/Dev/InputLevel")));
        const uint8_t bytes[2] = {1, 2};
        EXPECT_EQ(ADAPTER_E_INDEX, meter->meterData(0, bytes, 2, 0));
        EXPECT_EQ(ADAPTER_E_FAIL, link.reporter->pollRequests());
        EXPECT_FALSE(link.parameter->needsPostAssociationFix());
        EXPECT_EQ(ADAPTER_E_FAIL, link.parameter->applyPostAssociationFix());
        EXPECT_TRUE(link.client.lines.empty());
    }
}

// The association as (parameter index, x) pairs in step order.
std::vector<std::pair<int32_t, int32_t>> stepsOf(ModelType type)
{
    auto seq = createAssoSeq(type);
    std::vector<std::pair<int32_t, int32_t>> steps;
    if (!seq)
        return steps;
    for (int32_t i = 0; i < seq->stepCount(); ++i) {
        SCP::ScpConnectStep step{};
        EXPECT_EQ(0, seq->step(step, i));
        EXPECT_EQ(SCP::SCP_STEP_GET, step.kind);
        EXPECT_EQ(0, step.values[2]);
        steps.emplace_back(static_cast<int32_t>(step.values[0]), static_cast<int32_t>(step.values[1]));
    }
    SCP::ScpConnectStep past{};
    EXPECT_LT(seq->step(past, seq->stepCount()), 0);
    return steps;
}

std::vector<std::pair<int32_t, int32_t>> expand(const std::vector<std::pair<int32_t, int32_t>>& rows)
{
    std::vector<std::pair<int32_t, int32_t>> steps;
    for (const auto& [index, elements] : rows)
        for (int32_t x = 0; x < elements; ++x)
            steps.emplace_back(index, x);
    return steps;
}

TEST(DeviceMavikSornAssociation, TablesInOrder)
{
    std::vector<std::pair<int32_t, int32_t>> mavik;
    for (int32_t i = 0; i < 28; ++i)
        mavik.emplace_back(i, (i >= 21 && i <= 27 && i != 24) ? 4 : 1);
    const auto mavikSteps = stepsOf(MODEL_MAVIK_D);
    EXPECT_EQ(46u, mavikSteps.size());
    EXPECT_EQ(expand(mavik), mavikSteps);

    const std::vector<std::pair<int32_t, int32_t>> sorn
        = {{0, 1}, {1, 1}, {2, 1}, {3, 2}, {5, 128}, {6, 1}, {7, 4}, {8, 4}, {9, 4}, {10, 1}, {11, 4}, {12, 4}, {13, 4},
            {14, 1}, {15, 1}, {16, 4}, {17, 4}, {19, 4}, {20, 4}, {21, 4}, {22, 4}, {23, 4}, {18, 4}};
    const auto sornSteps = stepsOf(MODEL_SORN_D);
    EXPECT_EQ(193u, sornSteps.size());
    EXPECT_EQ(expand(sorn), sornSteps);
    ASSERT_FALSE(sornSteps.empty());
    EXPECT_EQ((std::pair<int32_t, int32_t>{18, 3}), sornSteps.back());
}

} // namespace
