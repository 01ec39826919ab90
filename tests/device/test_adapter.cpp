// The Brox family adapters against a real device object and a recording
// client: the row table in each direction, the reset list, the fix after
// association, the negotiation check, information texts, the second
// generation's requests, and the connect sequences.
#include "tests/device/adapter_double.h"
#include "tests/device/device_test.h"

#include "device/layouts/dev_iotable.h"
#include "device/link/dev_brox.h"
#include "device/link/dev_family.h"
#include "device/link/dev_sequences.h"
#include "device/memory/dev_meters.h"
#include "device/memory/dev_object.h"

#include <cstring>

using namespace devtest;

namespace {

SCP::ScpText text(const char* ascii)
{
    SCP::ScpText t(SCP::SCP_STRING_MAX);
    t.assign(ascii, std::strlen(ascii));
    return t;
}

// One unit with its adapters bound as the device link binds them.
struct AdapterLink {
    explicit AdapterLink(ModelType type, bool negotiated = true)
        : dev(0, type)
        , parameter(createScpParameter(type))
        , reporter(createScpDeviceReporter(type))
        , meter(createScpMeterReporter(type))
        , isNegotiated(negotiated)
    {
        parameter->bind(&dev, SOURCE_LINK);
        parameter->setCallback(&client);
        reporter->bind(&dev, SOURCE_LINK, &client, [this] { return isNegotiated; });
        reporter->setParameterAdapter(parameter.get());
        meter->setRegistry(dev.meters());
    }
    std::string read(const char* path)
    {
        JLIB::JVariant value;
        return textOf(dev.getValue(QString::fromUtf8(path), &value), value);
    }
    JResult write(const char* path, const JLIB::JVariant& value, uint8_t source = SOURCE_LINK)
    {
        return dev.setValue(QString::fromUtf8(path), value, source);
    }
    int32_t indexOf(const char* scpName)
    {
        int32_t index = -1;
        EXPECT_EQ(0, parameter->indexOf(index, text(scpName))) << scpName;
        return index;
    }

    DevObject dev;
    RecordingClient client;
    std::unique_ptr<ScpParameter_Quil> parameter;
    std::unique_ptr<ScpDeviceReporter_Quil> reporter;
    std::unique_ptr<ScpMeterReporter_Quil> meter;
    bool isNegotiated;
};

const ModelType kTypes[] = {MODEL_BROXL_D, MODEL_PELLM_D, MODEL_BROXL_D2};

TEST(DeviceAdapterRows, StoreAndReadEachTableKind)
{
    struct Case {
        const char* scpName;
        int32_t x;
        int32_t wire; // as the unit sends it
        const char* path;
        std::string memory; // as memory holds it
    };
    const Case cases[] = {
        // per channel
        {"IO:Current/InCh/48VOn", 31, 1, "/Backup/InCh:31/48VOn:0", "1"},
        {"io:current/outch/delaytime", 3, 480, "/Backup/OutCh:3/DelayTime:0", "480"},
        {"IO:Current/OutCh/AES/GainLevel", 7, -60, "/Backup/OutChAES:7/GainLevel:0", "-60"},
        {"IO:Current/InCh/HPFFreq", 5, 1000, "/Backup/InCh:5/HPFFreq:0", std::to_string(hpfNearestIndex(100.0))},
        // per unit: x is not used
        {"IO:Current/Dev/MuteOn", 0, 1, "/Current/Dev:0/MuteOn:0", "1"},
        {"IO:Current/Dev/Wordclock/Fs", 0, 48000, "/Current/Dev:0/WordclockFs:0", "48000"},
        // address bytes: x is the element
        {"IO:Current/Dev/IPAddress", 2, 168, "/Current/Dev:0/CurrIPAddress:2", "168"},
        {"IO:NextBoot/Dev/SubnetMask", 3, 255, "/Current/Dev:0/NextSubnetMask:3", "255"},
    };
    for (const ModelType type : kTypes)
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.scpName) + " type " + std::to_string(type));
            AdapterLink link(type);
            const int32_t index = link.indexOf(c.scpName);
            EXPECT_GE(link.parameter->storeValue(0, index, c.x, 0, JLIB::JVariant(c.wire)), 0);
            EXPECT_EQ(c.memory, link.read(c.path));
            JLIB::JVariant back;
            ASSERT_EQ(0, link.parameter->readValue(back, index, c.x, 0));
            EXPECT_EQ(c.wire, static_cast<int32_t>(back.toInteger()));
            // The link's own store is not marked for the link: nothing is sent back.
            link.parameter->sendChanged();
            EXPECT_TRUE(link.client.lines.empty());
        }
}

TEST(DeviceAdapterRows, StoreReportsWhetherTheValueChanged)
{
    AdapterLink link(MODEL_BROXL_D);
    const int32_t index = link.indexOf("IO:Current/InCh/HAGain");
    EXPECT_EQ(1, link.parameter->storeValue(0, index, 4, 0, JLIB::JVariant(12)));
    EXPECT_EQ(0, link.parameter->storeValue(0, index, 4, 0, JLIB::JVariant(12)));
}

TEST(DeviceAdapterRows, OutOfRangeIndicesAndUnknownNamesStoreNothing)
{
    AdapterLink link(MODEL_BROXL_D);
    int32_t index = 0;
    EXPECT_EQ(ADAPTER_E_INDEX, link.parameter->indexOf(index, text("IO:Current/InCh/Nothing")));
    EXPECT_EQ(ADAPTER_E_INDEX, link.parameter->indexOf(index, text("IO:Current/InCh/48VOnX")));
    EXPECT_EQ(ADAPTER_E_INDEX, link.parameter->storeValue(0, 36, 0, 0, JLIB::JVariant(1)));
    EXPECT_EQ(ADAPTER_E_INDEX, link.parameter->storeValue(0, -1, 0, 0, JLIB::JVariant(1)));

    struct Case {
        const char* scpName;
        int32_t x;
        int32_t y;
    };
    // x (or y) from the wire must stay inside the row: an unchecked one
    // names an element that does not exist and stays in the address cache.
    const Case cases[] = {
        {"IO:Current/InCh/48VOn", 32, 0},
        {"IO:Current/InCh/48VOn", -1, 0},
        {"IO:Current/OutCh/AES/DelayOn", 8, 0},
        {"IO:Current/Dev/IPAddress", 4, 0},
        {"IO:Current/Headphone/Mono", 2000000000, 0},
    };
    const size_t cached = link.dev.addresses().size();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.scpName) + " x " + std::to_string(c.x));
        const int32_t i = link.indexOf(c.scpName);
        EXPECT_EQ(ADAPTER_E_FAIL, link.parameter->storeValue(0, i, c.x, c.y, JLIB::JVariant(1)));
        JLIB::JVariant value;
        EXPECT_EQ(ADAPTER_E_FAIL, link.parameter->readValue(value, i, c.x, c.y));
    }
    EXPECT_EQ(cached, link.dev.addresses().size());

    // A value the memory refuses is not stored.
    const int32_t delay = link.indexOf("IO:Current/OutCh/DelayOn");
    EXPECT_EQ(ADAPTER_E_FAIL, link.parameter->storeValue(0, delay, 0, 0, JLIB::JVariant("text", 4)));
}

TEST(DeviceAdapterRows, ChangedElementsAreSentOnlyForSendingRows)
{
    for (const ModelType type : kTypes) {
        SCOPED_TRACE(type);
        AdapterLink link(type);
        ASSERT_GE(link.write("/Backup/OutCh:3/DelayTime:0", JLIB::JVariant(96), SOURCE_UI), 0);
        ASSERT_GE(link.write("/Event/InCh:4/Identify:0", JLIB::JVariant(1), SOURCE_UI), 0);
        ASSERT_GE(link.write("/Current/Dev:0/NextIPAddress:3", JLIB::JVariant(9), 0), 0);
        // Receive-only: marked, but never sent.
        ASSERT_GE(link.write("/Current/Dev:0/48VMasterOn:0", JLIB::JVariant(1), 0), 0);
        ASSERT_EQ(0, link.parameter->sendChanged());
        EXPECT_EQ((std::vector<std::string>{"changed 7 3 0", "changed 27 3 0", "changed 34 4 0"}), link.client.lines);
        link.client.lines.clear();
        ASSERT_EQ(0, link.parameter->sendChanged());
        EXPECT_TRUE(link.client.lines.empty()) << "the scan clears the marks";
    }
}

// A device that cannot list its marks, so the adapter looks at every
// element of its table: the reference for the visit of marked elements.
class ListlessDev : public DevObject {
public:
    using DevObject::DevObject;
    JResult changedElements(const QString&, uint8_t, size_t, std::vector<MemAddress>*) const override
    {
        return DEV_E_FAIL;
    }
};

// Whether the marks are visited alone (few) or the whole table is looked at
// (many, or a device that cannot list them), the unit hears the same
// changes in the same order, each once.
TEST(DeviceAdapterRows, FewOrManyMarksSendTheSameChangesInTableOrder)
{
    std::vector<std::string> paths;
    {
        AdapterLink probe(MODEL_BROXL_D);
        int32_t count = 0;
        probe.parameter->getParameterCount(count);
        for (int32_t a = 0; a < count; ++a) {
            const ScpPathFormat* f = probe.parameter->pathFormat(a);
            if (!f || !(probe.parameter->row(a)->flags & ROW_SEND))
                continue;
            for (int32_t i = 0; i < f->collections; ++i) {
                QString p;
                formatMemPath(f->format, {i, 0, 0, 0}, &p);
                paths.push_back(p.toStdString());
            }
        }
    }
    ASSERT_GT(paths.size(), 60u);
    for (const size_t marks : {size_t{2}, size_t{3}, size_t{20}, size_t{60}, paths.size()}) {
        SCOPED_TRACE(marks);
        AdapterLink listing(MODEL_BROXL_D);
        ListlessDev plainDev(0, MODEL_BROXL_D);
        AdapterLink plain(MODEL_BROXL_D);
        plain.parameter->bind(&plainDev, SOURCE_LINK);
        // Memory order (channel first) and table order (parameter first)
        // differ for these two; the rest are written back to front, every
        // third one, so write order differs from both.
        std::vector<std::string> chosen = {"/Backup/InCh:5/48VOn:0", "/Backup/InCh:2/HAGain:0"};
        for (size_t k = 2; k < marks; ++k)
            chosen.push_back(paths[paths.size() - 1 - 3 * k % paths.size()]);
        for (const std::string& p : chosen) {
            const QString path = QString::fromStdString(p);
            JLIB::JVariant value;
            ASSERT_GE(listing.dev.getValue(path, &value), 0) << p;
            const JLIB::JVariant next(static_cast<int32_t>(value.toInteger() == 0 ? 1 : 0));
            // Text elements take no number: the two devices refuse alike.
            EXPECT_EQ(
                listing.dev.setRawValue(path, next, SOURCE_UI) < 0, plainDev.setRawValue(path, next, SOURCE_UI) < 0)
                << p;
        }
        ASSERT_EQ(0, listing.parameter->sendChanged());
        ASSERT_EQ(0, plain.parameter->sendChanged());
        EXPECT_FALSE(listing.client.lines.empty());
        EXPECT_EQ(plain.client.lines, listing.client.lines);
        listing.client.lines.clear();
        ASSERT_EQ(0, listing.parameter->sendChanged());
        EXPECT_TRUE(listing.client.lines.empty()) << "the visit clears the marks";
    }
}

TEST(DeviceAdapterRows, NotifyChangedRefusesASlotPastTheGivenIndices)
{
    AdapterLink link(MODEL_BROXL_D);
    const int32_t one[1] = {2};
    // NextIPAddress fills the element slot (1): one index is not enough.
    EXPECT_EQ(ADAPTER_E_FAIL, link.parameter->notifyChanged("Current", "Dev/NextIPAddress", one, 1, SOURCE_LINK));
    EXPECT_TRUE(link.client.lines.empty());
    const int32_t four[4] = {0, 2, 0, 0};
    EXPECT_EQ(0, link.parameter->notifyChanged("Current", "Dev/NextIPAddress", four, 4, SOURCE_LINK));
    EXPECT_EQ(0, link.parameter->notifyChanged("Backup", "InCh/HAGain", one, 1, SOURCE_LINK));
    EXPECT_EQ((std::vector<std::string>{"changed 27 2 0", "changed 4 2 0"}), link.client.lines);
    EXPECT_EQ(ADAPTER_E_FAIL, link.parameter->notifyChanged("Current", "Dev/48VMasterOn", four, 4, SOURCE_LINK));
    EXPECT_EQ(ADAPTER_E_FAIL, link.parameter->notifyChanged("Current", "Dev/Unknown", four, 4, SOURCE_LINK));
    EXPECT_EQ(ADAPTER_E_FAIL, link.parameter->notifyChanged(nullptr, "Dev/MuteOn", four, 4, SOURCE_LINK));
}

TEST(DeviceAdapterRows, PathFormatsFillAtMostFourPlaces)
{
    const PathIndices indices = {1, 2, 3, 4};
    struct Case {
        const char* format;
        const char* expected; // null: refused
    };
    const Case cases[] = {
        {"/Backup/InCh:%d/48VOn:%d", "/Backup/InCh:1/48VOn:2"},
        {"/Current/Out:%d/Patch:%d/Src:%d", "/Current/Out:1/Patch:2/Src:3"}, // three places
        {"/Current/Dev:0/Mode:0", "/Current/Dev:0/Mode:0"}, // none
        {"/A:%d/B:%d/C:%d/D:%d", "/A:1/B:2/C:3/D:4"},
        {"/A:%d/B:%d/C:%d/D:%d/E:%d", nullptr}, // a fifth would read past the array
        {"/A:%s", nullptr},
        {"/A:%", nullptr},
        {"/A:100%%", "/A:100%"},
    };
    for (const Case& c : cases) {
        QString out = "untouched";
        const JResult r = formatMemPath(c.format, indices, &out);
        if (c.expected) {
            EXPECT_EQ(0, r) << c.format;
            EXPECT_EQ(c.expected, out.toStdString());
        } else {
            EXPECT_EQ(ADAPTER_E_FAIL, r) << c.format;
            EXPECT_EQ("untouched", out.toStdString());
        }
    }
}

TEST(DeviceAdapterRows, HighPassConversionBothWays)
{
    AdapterLink link(MODEL_BROXL_D);
    // Memory holds indices 4 to 63 (20 Hz to 600 Hz or so).
    for (int i : {4, 5, 28, 63}) {
        ASSERT_GE(link.write("/Backup/InCh:0/HPFFreq:0", JLIB::JVariant(i)), 0);
        JLIB::JVariant wire;
        ASSERT_EQ(0, link.parameter->readValue(wire, BROX_HPF_FREQ, 0, 0));
        EXPECT_EQ(static_cast<int32_t>(hpfFrequencyAt(i) * 10.0 + 0.5), static_cast<int32_t>(wire.toInteger()));
        ASSERT_GE(link.parameter->storeValue(0, BROX_HPF_FREQ, 1, 0, wire), 0);
        EXPECT_EQ(std::to_string(i), link.read("/Backup/InCh:1/HPFFreq:0"));
    }
}

TEST(DeviceAdapterRows, ResetListRestoresUnitOwnedValues)
{
    AdapterLink link(MODEL_BROXL_D);
    ASSERT_GE(link.write("/Current/Dev:0/48VMasterOn:0", JLIB::JVariant(1)), 0);
    ASSERT_GE(link.write("/Current/Dev:0/CurrIPAddress:3", JLIB::JVariant(77)), 0);
    ASSERT_GE(link.write("/Current/Dev:0/WordclockFs:0", JLIB::JVariant(96000)), 0);
    const std::string fsBefore = link.read("/Current/Dev:0/WordclockFs:0");
    JLIB::JVariant def;
    ASSERT_GE(link.dev.getDefault("/Current/Dev:0/48VMasterOn:0", &def, false), 0);
    ASSERT_EQ(0, link.parameter->applyResetList());
    EXPECT_EQ(std::to_string(def.toInteger()), link.read("/Current/Dev:0/48VMasterOn:0"));
    EXPECT_NE("77", link.read("/Current/Dev:0/CurrIPAddress:3"));
    EXPECT_EQ(fsBefore, link.read("/Current/Dev:0/WordclockFs:0")) << "20 is not in the list";
}

TEST(DeviceAdapterRows, PostAssociationFix)
{
    struct Case {
        int execMode;
        int muteOn;
        bool needed;
    };
    const Case cases[] = {{1, 1, true}, {1, 0, false}, {0, 1, false}, {2, 1, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.execMode) + " " + std::to_string(c.muteOn));
        AdapterLink link(MODEL_BROXL_D);
        ASSERT_GE(link.write("/Current/Dev:0/ExecMode:0", JLIB::JVariant(c.execMode)), 0);
        ASSERT_GE(link.write("/Current/Dev:0/MuteOn:0", JLIB::JVariant(c.muteOn)), 0);
        EXPECT_EQ(c.needed, link.parameter->needsPostAssociationFix());
    }
    AdapterLink link(MODEL_BROXL_D);
    ASSERT_GE(link.write("/Current/Dev:0/ExecMode:0", JLIB::JVariant(1)), 0);
    ASSERT_GE(link.write("/Current/Dev:0/MuteOn:0", JLIB::JVariant(1)), 0);
    ASSERT_GE(link.parameter->applyPostAssociationFix(), 0);
    EXPECT_EQ("0", link.read("/Current/Dev:0/MuteOn:0"));
    EXPECT_EQ((std::vector<std::string>{"changed 19 0 0"}), link.client.lines);
}

TEST(DeviceAdapterReporter, AcceptNegotiation)
{
    struct Case {
        const char* runmode;
        const char* error;
        bool accepted;
    };
    const Case cases[] = {
        {"normal", "nothing", true},
        {"NORMAL-boot", "Nothing", true},
        {"emergency", "nothing", true},
        {"emergency2", "nothing", false},
        {"norma", "nothing", false},
        {"normal", "fan", false},
        {"", "nothing", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.runmode) + "/" + c.error);
        AdapterLink link(MODEL_BROXL_D);
        SCP::ScpText run = text(c.runmode);
        SCP::ScpText err = text(c.error);
        ASSERT_EQ(0, link.reporter->deviceStatus(0, run, text("runmode")));
        ASSERT_EQ(0, link.reporter->deviceStatus(0, err, text("ERROR")));
        EXPECT_EQ(c.accepted, link.reporter->acceptNegotiation());
    }
}

TEST(DeviceAdapterReporter, InformationTextsAreCutAndUnknownTagsRefused)
{
    AdapterLink link(MODEL_BROXL_D);
    SCP::ScpText name(SCP::SCP_STRING_MAX);
    for (int i = 0; i < 70; ++i)
        name.append(JLIB::JUnicode(uint32_t('a' + i % 26)));
    ASSERT_EQ(0, link.reporter->deviceInfo(0, name, text("devicename")));
    const std::string stored = link.read("/DevInfo/devinfo:0/devicename:0");
    EXPECT_EQ(63u + 2, stored.size()) << stored;

    SCP::ScpText wide = text("ab");
    wide.append(JLIB::JUnicode(uint32_t(0x263A)));
    wide.append(JLIB::JUnicode(uint32_t('c')));
    ASSERT_EQ(0, link.reporter->deviceInfo(0, wide, text("productname")));
    EXPECT_EQ("\"ab c\"", link.read("/DevInfo/devinfo:0/productname:0"));

    SCP::ScpText any = text("x");
    EXPECT_EQ(ADAPTER_E_FAIL, link.reporter->deviceInfo(0, any, text("unitid")));
    EXPECT_EQ(ADAPTER_E_FAIL, link.reporter->deviceMode(0, text("normal")));

    ASSERT_EQ(0, link.reporter->resetInfo());
    EXPECT_EQ("\"\"", link.read("/DevInfo/devinfo:0/productname:0"));
    EXPECT_EQ("10000", link.read("/DevInfo/scpmode:0/keepalive:0"));
}

TEST(DeviceAdapterReporter, ErrorOnASetReadsTheUnitsValueBack)
{
    AdapterLink link(MODEL_BROXL_D);
    ASSERT_EQ(0, link.reporter->replyError(0, text("set"), text("IO:Current/OutCh/DelayTime")));
    EXPECT_EQ(24u, link.client.count("get 7 "));
    EXPECT_EQ("get 7 23 0", link.client.lines.back());
    link.client.lines.clear();
    ASSERT_EQ(0, link.reporter->replyError(0, text("set"), text("IO:Current/Dev/MuteOn")));
    EXPECT_EQ((std::vector<std::string>{"get 19 0 0"}), link.client.lines);
    link.client.lines.clear();
    // Other words and unknown names ask for nothing.
    link.reporter->replyError(0, text("get"), text("IO:Current/Dev/MuteOn"));
    link.reporter->replyError(0, text("set"), text("IO:Nothing"));
    EXPECT_TRUE(link.client.lines.empty());
}

TEST(DeviceAdapterBrox2, SummaryListHandshakes)
{
    AdapterLink link(MODEL_BROXL_D2);
    ASSERT_GE(link.write("/ListItem/listitem:0/CurSummaryNumReq:0", JLIB::JVariant(1), SOURCE_UI), 0);
    ASSERT_EQ(0, link.reporter->pollRequests());
    ASSERT_EQ(0, link.reporter->pollRequests());
    EXPECT_EQ((std::vector<std::string>{"listItemNum IO:_CurSummary"}), link.client.lines);
    ASSERT_GE(link.reporter->listItemNumber(text("io:_cursummary"), 12, 3, 14), 0);
    EXPECT_EQ("12", link.read("/ListItem/listitem:0/CurSummaryNum:0"));
    EXPECT_EQ("3", link.read("/ListItem/listitem:0/CurSummaryStart:0"));
    EXPECT_EQ("14", link.read("/ListItem/listitem:0/CurSummaryEnd:0"));
    EXPECT_EQ("1", link.read("/ListItem/listitem:0/CurSummaryNumReceived:0"));

    ASSERT_GE(link.write("/ListItem/listitem:0/EvtSummaryItemReq:0", JLIB::JVariant(5), SOURCE_UI), 0);
    ASSERT_EQ(0, link.reporter->pollRequests());
    EXPECT_EQ("listItem IO:_EvtSummary 5", link.client.lines.back());
    EXPECT_EQ("-1", link.read("/ListItem/listitem:0/EvtSummaryItemReq:0"));
    ASSERT_GE(link.reporter->listItem(text("IO:_EvtSummary"), 5, JLIB::JVariant("boot", 4)), 0);
    EXPECT_EQ("\"boot\"", link.read("/ListItem/listitem:0/EvtSummaryItem:0"));
    EXPECT_EQ("1", link.read("/ListItem/listitem:0/EvtSummaryItemReceived:0"));
}

TEST(DeviceAdapterBrox2, FailedAndUnsentRequestsAreReportedAtOnce)
{
    // The client refuses the request.
    AdapterLink refused(MODEL_BROXM_D2);
    refused.client.failRequests = true;
    ASSERT_GE(refused.write("/ListItem/listitem:0/EvtSummaryNumReq:0", JLIB::JVariant(1), SOURCE_UI), 0);
    ASSERT_EQ(0, refused.reporter->pollRequests());
    EXPECT_EQ("-1", refused.read("/ListItem/listitem:0/EvtSummaryNumReceived:0"));

    // Not negotiated yet: the client would drop the request and answer 0.
    AdapterLink early(MODEL_BROXL_D3, false);
    ASSERT_GE(early.write("/ListItem/listitem:0/CurSummaryItemReq:0", JLIB::JVariant(2), SOURCE_UI), 0);
    ASSERT_GE(early.write("/LogEvent/event:0/loggingSend:0", JLIB::JVariant("on", 2), SOURCE_UI), 0);
    ASSERT_GE(early.write("/LogEvent/event:0/TftpURISend:0", JLIB::JVariant("tftp://h/f", 10), SOURCE_UI), 0);
    ASSERT_EQ(0, early.reporter->pollRequests());
    EXPECT_TRUE(early.client.lines.empty());
    EXPECT_EQ("-1", early.read("/ListItem/listitem:0/CurSummaryItemReceived:0"));
    EXPECT_EQ("-1", early.read("/ListItem/listitem:0/CurSummaryItemReq:0"));
    EXPECT_EQ("\"on\"", early.read("/LogEvent/event:0/loggingSend:0"));
    EXPECT_EQ("\"tftp://h/f\"", early.read("/LogEvent/event:0/TftpURISend:0"));
    // Once negotiated they leave.
    early.isNegotiated = true;
    ASSERT_EQ(0, early.reporter->pollRequests());
    EXPECT_EQ((std::vector<std::string>{"event logging on", "event tftpuri tftp://h/f"}), early.client.lines);
    EXPECT_EQ("\"\"", early.read("/LogEvent/event:0/TftpURISend:0"));
}

TEST(DeviceAdapterBrox2, LoggingIsSentOncePerRequest)
{
    AdapterLink link(MODEL_BROXL_D2);
    ASSERT_GE(link.write("/LogEvent/event:0/loggingSend:0", JLIB::JVariant("start", 5), SOURCE_UI), 0);
    for (int wake = 0; wake < 5; ++wake)
        link.reporter->pollRequests();
    EXPECT_EQ(1u, link.client.count("event logging start"));
    // The unit answers: the request is done; a new one is sent again.
    ASSERT_GE(link.reporter->event(0, text("logging"), text("")), 0);
    EXPECT_EQ("\"\"", link.read("/LogEvent/event:0/loggingSend:0"));
    link.reporter->pollRequests();
    ASSERT_GE(link.write("/LogEvent/event:0/loggingSend:0", JLIB::JVariant("start", 5), SOURCE_UI), 0);
    link.reporter->pollRequests();
    link.reporter->pollRequests();
    EXPECT_EQ(2u, link.client.count("event logging start"));
    // A link set up anew may send it again.
    link.reporter->bind(&link.dev, SOURCE_LINK, &link.client, [] { return true; });
    link.reporter->pollRequests();
    EXPECT_EQ(3u, link.client.count("event logging start"));
}

TEST(DeviceAdapterMeters, AllThreeMetersReachTheStore)
{
    AdapterLink link(MODEL_BROXL_D);
    int32_t index = -1;
    const uint8_t bytes[32] = {10, 20, 30};
    const auto level = [](DevObject& dev, const char* meter, uint32_t channel) {
        return dev.meters()->meter(QString::fromLatin1(meter))->channel(channel)->level();
    };
    for (const char* name : {"IO:Current/Dev/InputLevel", "io:current/dev/outputlevel", "IO:Current/Dev/PhonesLevel"}) {
        ASSERT_EQ(0, link.meter->indexOf(index, text(name))) << name;
        EXPECT_EQ(0, link.meter->meterData(0, bytes, 32, index));
    }
    EXPECT_EQ(30, level(link.dev, "Dev/InputLevel", 2));
    EXPECT_EQ(20, level(link.dev, "Dev/OutputLevel", 1));
    EXPECT_EQ(10, level(link.dev, "Dev/PhonesLevel", 0));
    // The meters found on the first lines belong to that store: a link
    // bound to another unit's store feeds that one.
    DevObject other(1, MODEL_BROXL_D);
    link.meter->setRegistry(other.meters());
    const uint8_t more[2] = {40, 50};
    EXPECT_EQ(0, link.meter->meterData(0, more, 2, index));
    EXPECT_EQ(50, level(other, "Dev/PhonesLevel", 1));
    EXPECT_EQ(20, level(link.dev, "Dev/PhonesLevel", 1)) << "the first store is left as it was";
    EXPECT_EQ(ADAPTER_E_INDEX, link.meter->indexOf(index, text("IO:Current/Dev/Other")));
    EXPECT_EQ(ADAPTER_E_INDEX, link.meter->meterData(0, bytes, 3, 3));
    SCP::ScpText name(SCP::SCP_STRING_MAX);
    EXPECT_EQ(ADAPTER_E_INDEX, link.meter->nameOf(name, -1));
}

TEST(DeviceAdapterFactories, ByModelType)
{
    for (ModelType type = 0; type <= 13; ++type) {
        const bool known = type >= 1 && type <= 12;
        EXPECT_EQ(known, createScpParameter(type) != nullptr) << type;
        EXPECT_EQ(known, createScpMeterReporter(type) != nullptr) << type;
        EXPECT_EQ(known, createAssoSeq(type) != nullptr) << type;
        EXPECT_EQ(known, createNegoSeq(type) != nullptr) << type;
        auto reporter = createScpDeviceReporter(type);
        EXPECT_EQ(known, reporter != nullptr) << type;
        const bool second = type == 8 || type == 9 || type == 11 || type == 12;
        EXPECT_EQ(second, dynamic_cast<ScpDeviceReporter_Brox2*>(reporter.get()) != nullptr) << type;
    }
}

TEST(DeviceAdapterSequences, NegotiationSteps)
{
    NegoSeq seq;
    ASSERT_EQ(13, seq.stepCount());
    SCP::ScpConnectStep step;
    ASSERT_EQ(0, seq.step(step, 0));
    EXPECT_EQ(SCP::SCP_STEP_DEVSTATUS, step.kind);
    EXPECT_STREQ("runmode", step.text(0));
    ASSERT_EQ(0, seq.step(step, 11));
    EXPECT_EQ(SCP::SCP_STEP_DEVINFO, step.kind);
    EXPECT_STREQ("outputport", step.text(0));
    ASSERT_EQ(0, seq.step(step, 12));
    EXPECT_EQ(SCP::SCP_STEP_SCPMODE, step.kind);
    EXPECT_STREQ("keepalive", step.text(0));
    EXPECT_STREQ("10000", step.text(1));
    EXPECT_EQ(SEQ_E_FAIL, seq.step(step, 13));
    EXPECT_EQ(SEQ_E_FAIL, seq.step(step, -1));
}

TEST(DeviceAdapterSequences, BroxAssociationSteps)
{
    BroxAssoSeq seq;
    ASSERT_EQ(359, seq.stepCount());
    EXPECT_EQ(33, seq.blockCount());
    struct Case {
        int32_t step;
        int32_t index;
        int32_t x;
    };
    const Case cases[] = {{0, 0, 0}, {31, 0, 31}, {32, 1, 0}, {191, 5, 31}, {192, 6, 0}, {287, 9, 23}, {288, 10, 0},
        {320, 14, 0}, {324, 16, 0}, {331, 23, 0}, {334, 23, 3}, {358, 32, 0}};
    for (const Case& c : cases) {
        SCP::ScpConnectStep step;
        ASSERT_EQ(0, seq.step(step, c.step)) << c.step;
        EXPECT_EQ(SCP::SCP_STEP_GET, step.kind);
        EXPECT_EQ(c.index, step.number(0)) << c.step;
        EXPECT_EQ(c.x, step.number(1)) << c.step;
        EXPECT_EQ(0, step.number(2));
    }
    SCP::ScpConnectStep step;
    EXPECT_EQ(SEQ_E_FAIL, seq.step(step, 359));
    EXPECT_EQ(SEQ_E_FAIL, seq.step(step, -1));

    struct Empty : AssoSeq { };
    Empty empty;
    EXPECT_EQ(0, empty.stepCount());
    EXPECT_EQ(SEQ_E_FAIL, empty.step(step, 0));
}

} // namespace
