// The firmware-update SCP connection: its protocol companions alone, then
// the thread and connection against a scripted unit on loopback.
#include "tests/ui/fwupdate_ui/fwscp_bed.h"
#include "ui/fwupdate_ui/fw_scpthread.h"

#include <QObject>

#include <atomic>
#include <map>

namespace {

using namespace Quil;
using fwscptest::spinFor;
using fwscptest::spinUntil;
using fwscptest::Unit;
using fwscptest::unitAnswers;
using fwscptest::operator+;

SCP::ScpText text(const std::u32string& s)
{
    SCP::ScpText t(512);
    for (char32_t c : s)
        t.append(JLIB::JUnicode(static_cast<uint32_t>(c)));
    return t;
}

class InfoMap : public IScpDeviceInfo {
public:
    JResult set(const QString& tag, const QString& value) override
    {
        values[tag] += value;
        return 0;
    }
    JResult get(const QString& tag, QString& value) override
    {
        if (values.count(tag))
            value = values[tag];
        return 0;
    }
    std::map<QString, QString> values;
};

// ---------------------------------------------------------------------------

TEST(FwScpProtocol, NegotiationStepsAndKeptTags)
{
    ScpNegoSeq_fwUpdate nego;
    ASSERT_EQ(nego.stepCount(), 13);
    SCP::ScpConnectStep step;
    ASSERT_EQ(nego.step(step, 12), 0);
    EXPECT_EQ(step.kind, SCP::SCP_STEP_SCPMODE);
    EXPECT_STREQ(step.text(0), "keepalive");
    EXPECT_STREQ(step.text(1), "10000");
    ASSERT_EQ(nego.step(step, 9), 0);
    EXPECT_STREQ(step.text(0), "devicename");
    EXPECT_EQ(step.text(1), nullptr);
    EXPECT_EQ(nego.step(step, 13), FWSCP_E_FAIL);
    EXPECT_EQ(nego.step(step, -1), FWSCP_E_FAIL);
    EXPECT_EQ(ScpAssoSeq_fwUpdate().stepCount(), 0);

    EXPECT_EQ(ScpDeviceReporter_fwUpdate::tagCount(), 13);
    EXPECT_STREQ(ScpDeviceReporter_fwUpdate::tag(2), "keepalive");
    EXPECT_STREQ(ScpDeviceReporter_fwUpdate::tag(12), "outputport");
    EXPECT_EQ(ScpDeviceReporter_fwUpdate::tag(13), nullptr);
}

TEST(FwScpProtocol, ReporterKeepsListedTagsAsLatin1)
{
    InfoMap info;
    ScpDeviceReporter_fwUpdate reporter(&info);
    SCP::ScpText data = text(U"Stage");
    // Every report answers failure; the client ignores it.
    EXPECT_EQ(reporter.deviceInfo(0, data, text(U"DeviceName")), FWSCP_E_FAIL);
    SCP::ScpText more = text(U" \u00e9\u0100\U0001F600x");
    EXPECT_EQ(reporter.deviceStatus(0, more, text(U"devicename")), FWSCP_E_FAIL);
    EXPECT_EQ(info.values[QStringLiteral("devicename")], QString::fromUtf8("Stage \u00e9  x"));

    SCP::ScpText long70 = text(std::u32string(70, U'a'));
    reporter.deviceInfo(0, long70, text(U"version"));
    EXPECT_EQ(info.values[QStringLiteral("version")], QString(63, QLatin1Char('a')));

    // Tags outside the list, a tag of a listed tag's prefix, and DEVMODE.
    SCP::ScpText x = text(U"x");
    reporter.deviceInfo(0, x, text(U"serial"));
    reporter.deviceInfo(0, x, text(U"devicenam"));
    reporter.deviceMode(0, text(U"update"));
    EXPECT_EQ(info.values.size(), 2u);

    JLIB::JVariant value;
    EXPECT_EQ(reporter.lookup("serial", value), FWSCP_E_FAIL);
    EXPECT_EQ(reporter.lookup("version", value), 0);
    EXPECT_EQ(std::string(value.getString()), std::string(63, 'a'));
}

TEST(FwScpProtocol, NegotiationAcceptedOnlyForNothing)
{
    const struct {
        const char32_t* error; // null: never reported
        bool accepted;
    } cases[] = {{U"nothing", true}, {U"NOTHING", true}, {U"NoThInG", true}, {U"none", false}, {U"nothing ", false},
        {U"", false}, {nullptr, false}};
    for (const auto& c : cases) {
        InfoMap info;
        ScpDeviceReporter_fwUpdate reporter(&info);
        if (c.error) {
            SCP::ScpText data = text(c.error);
            reporter.deviceStatus(0, data, text(U"error"));
        }
        EXPECT_EQ(reporter.negotiationAccepted(), c.accepted) << (c.error ? "reported" : "never reported");
    }
}

TEST(FwScpProtocol, ParameterTable)
{
    ScpParameter_fwUpdate table;
    const struct {
        const char32_t* name;
        JResult result;
        int32_t index;
    } lookups[] = {{U"IO:Current/Dev/QuillonFWUpdateMode", 0, 0}, {U"io:current/dev/quillonfwupdateprogress", 0, 1},
        {U"IO:CURRENT/DEV/QUILLONDANTEUPDATEPROGRESS", 0, 2},
        {U"IO:Current/Dev/QuillonFWUpdateModeX", FWSCP_E_INDEX, -1},
        {U"IO:Current/Dev/QuillonFWUpdateMod", FWSCP_E_INDEX, -1}, {U"", FWSCP_E_INDEX, -1}};
    for (const auto& l : lookups) {
        int32_t index = -1;
        EXPECT_EQ(table.indexOf(index, text(l.name)), l.result);
        EXPECT_EQ(index, l.index);
    }
    SCP::ScpText name(SCP::SCP_ALNUM_MAX);
    EXPECT_EQ(table.nameOf(name, 2), 0);
    EXPECT_TRUE(name.equalsAscii("IO:Current/Dev/QuillonDanteUpdateProgress", 0));
    EXPECT_EQ(table.nameOf(name, 3), FWSCP_E_INDEX);
    int32_t count = 0;
    EXPECT_EQ(table.getParameterCount(count), 0);
    EXPECT_EQ(count, 3);

    std::vector<std::pair<int, uint>> seen;
    QObject::connect(&table, &ScpParameter_fwUpdate::receiveFWUpdateMode, [&](uint v) { seen.push_back({0, v}); });
    QObject::connect(&table, &ScpParameter_fwUpdate::receiveFWUpdateProgress, [&](uint v) { seen.push_back({1, v}); });
    EXPECT_EQ(table.storeValue(0, 0, 0, 0, JLIB::JVariant(int32_t(1))), 0);
    EXPECT_EQ(table.storeValue(0, 1, 0, 0, JLIB::JVariant(int32_t(55))), 0);
    EXPECT_EQ(table.storeValue(0, 2, 0, 0, JLIB::JVariant(int32_t(9))), FWSCP_E_FAIL);
    EXPECT_EQ(table.storeValue(0, 3, 0, 0, JLIB::JVariant(int32_t(9))), FWSCP_E_INDEX);
    EXPECT_EQ(seen, (std::vector<std::pair<int, uint>>{{0, 1u}, {1, 55u}}));
    JLIB::JVariant out;
    EXPECT_EQ(table.readValue(out, 0, 0, 0), FWSCP_E_FAIL);
    EXPECT_EQ(table.readValue(out, 3, 0, 0), FWSCP_E_INDEX);
    EXPECT_EQ(out.type(), JLIB::JVARIANT_EMPTY);
}

// ---------------------------------------------------------------------------

// The thread's signals as text, in the order they reached the GUI thread.
struct Recorder {
    explicit Recorder(ScpClientThread_fwUpdate& t)
    {
        auto add = [this](const std::string& s) { events.push_back(s); };
        QObject::connect(&t, &ScpClientThread_fwUpdate::connected, &context,
            [add](uint id) { add("connected " + std::to_string(id)); });
        QObject::connect(&t, &ScpClientThread_fwUpdate::disconnected, &context,
            [add](uint id) { add("disconnected " + std::to_string(id)); });
        QObject::connect(&t, &ScpClientThread_fwUpdate::associated, &context,
            [add](uint id) { add("associated " + std::to_string(id)); });
        QObject::connect(&t, &ScpClientThread_fwUpdate::receiveFWUpdateMode, &context,
            [add](uint v) { add("mode " + std::to_string(v)); });
        QObject::connect(&t, &ScpClientThread_fwUpdate::receiveFWUpdateProgress, &context,
            [add](uint v) { add("progress " + std::to_string(v)); });
        QObject::connect(&t, &ScpClientThread_fwUpdate::receiveFWUpdatemodeChanged, &context,
            [add](bool on) { add(on ? "runmode on" : "runmode off"); });
    }
    int count(const std::string& e) const { return static_cast<int>(std::count(events.begin(), events.end(), e)); }
    bool wait(const std::string& e, int times = 1, int timeoutMs = 5000)
    {
        return spinUntil([&] { return count(e) >= times; }, timeoutMs);
    }
    QObject context;
    std::vector<std::string> events;
};

constexpr uint kId = 7;
const std::string kModeName = "IO:Current/Dev/QuillonFWUpdateMode";

class FwScpLink : public fwscptest::Bed {
protected:
    void start(const std::vector<std::string>& script)
    {
        unit = std::make_unique<Unit>(script);
        ASSERT_NE(unit->port(), 0);
        thread = std::make_unique<ScpClientThread_fwUpdate>(kId, "127.0.0.1", unit->port(), "127.0.0.1", 1);
        recorder = std::make_unique<Recorder>(*thread);
    }
    void TearDown() override
    {
        recorder.reset();
        thread.reset();
        unit.reset();
        Bed::TearDown();
    }
    QString info(const char* tag, const QString& preset = QString())
    {
        QString value = preset;
        EXPECT_EQ(thread->getDeviceInfo(QString::fromLatin1(tag), value), 0);
        return value;
    }

    std::unique_ptr<Unit> unit;
    std::unique_ptr<ScpClientThread_fwUpdate> thread;
    std::unique_ptr<Recorder> recorder;
};

TEST_F(FwScpLink, NegotiatesInOrderAndAssociates)
{
    start(unitAnswers() + std::vector<std::string>{"serve scpmode", "serve 3000"});
    ASSERT_EQ(thread->connectNetwork(), 0);
    ASSERT_TRUE(recorder->wait("associated 7"));
    EXPECT_TRUE(thread->isAssociated());
    const std::vector<std::string> expected = {"devstatus|runmode", "devstatus|error", "devinfo|protocolver",
        "devinfo|paramsetver", "devinfo|version", "devinfo|productname", "devinfo|manufacturer", "devinfo|category",
        "devinfo|deviceid", "devinfo|devicename", "devinfo|inputport", "devinfo|outputport", "scpmode|keepalive|10000"};
    EXPECT_EQ(unit->requests(), expected);
    EXPECT_EQ(recorder->events.front(), "connected 7");
    EXPECT_EQ(info("devicename"), "Stage A");
    EXPECT_EQ(info("version"), "2.1.0");
    EXPECT_EQ(info("keepalive"), "");
    // Never reported: the caller's text stays.
    EXPECT_EQ(info("keepalive", "kept"), "kept");
    EXPECT_EQ(info("serial", "kept"), "kept");
}

TEST_F(FwScpLink, AcceptsOnlyAnErrorOfNothingAndCanReconnectAfterARefusal)
{
    const struct {
        std::string error; // empty: never reported
        bool accepted;
    } cases[] = {{"nothing", true}, {"NOTHING", true}, {"none", false}, {"", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE("error " + c.error);
        start(unitAnswers(c.error)
            + std::vector<std::string>{"serve scpmode", "serve 2000", "accept", "serve scpmode", "serve 2000"});
        ASSERT_EQ(thread->connectNetwork(), 0);
        if (c.accepted) {
            EXPECT_TRUE(recorder->wait("associated 7"));
            TearDown();
            SetUp();
            continue;
        }
        ASSERT_TRUE(recorder->wait("disconnected 7"));
        spinFor(200);
        EXPECT_EQ(recorder->count("associated 7"), 0);
        EXPECT_EQ(recorder->count("disconnected 7"), 1);
        EXPECT_FALSE(thread->isAssociated());
        // The refusal left the connection idle: a new attempt runs.
        EXPECT_EQ(thread->connectNetwork(), 0);
        EXPECT_TRUE(unit->saw("LINE scpmode|keepalive|10000", 2));
        EXPECT_TRUE(recorder->wait("disconnected 7", 2));
        TearDown();
        SetUp();
    }
}

TEST_F(FwScpLink, RunmodeReportsAreComparedExactly)
{
    const struct {
        const char* runmode;
        const char* event;
    } cases[] = {{"update", "runmode on"}, {"Update", "runmode off"}, {"normal", "runmode off"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.runmode);
        start(unitAnswers()
            + std::vector<std::string>{std::string("answer runmode ") + c.runmode, "serve scpmode", "serve 2000"});
        ASSERT_EQ(thread->connectNetwork(), 0);
        ASSERT_TRUE(recorder->wait("associated 7"));
        const auto first = std::find_if(recorder->events.begin(), recorder->events.end(),
            [](const std::string& e) { return e.rfind("runmode", 0) == 0; });
        ASSERT_NE(first, recorder->events.end());
        EXPECT_EQ(*first, c.event);
        EXPECT_EQ(recorder->count("runmode on") + recorder->count("runmode off"), 1);
        TearDown();
        SetUp();
    }
}

TEST_F(FwScpLink, ValuesAreCutAndNarrowedOnTheWayIn)
{
    const std::string seventy(70, 'n');
    start(unitAnswers("nothing", seventy)
        + std::vector<std::string>{"answer productname Br\\u00f6x\\u0416\\u20acD", "serve scpmode", "serve 2000"});
    ASSERT_EQ(thread->connectNetwork(), 0);
    ASSERT_TRUE(recorder->wait("associated 7"));
    EXPECT_EQ(info("devicename"), QString(63, QLatin1Char('n')));
    EXPECT_EQ(info("productname"), QString::fromUtf8("Br\u00f6x  D"));
}

TEST_F(FwScpLink, ModeAndProgressTravelBothWays)
{
    start(unitAnswers()
        + std::vector<std::string>{"serve scpmode", "mark associated", "serve set",
            "send NOTIFY set IO:Current/Dev/QuillonFWUpdateProgress 0 0 42 \\\"42\\\"\\n",
            "send NOTIFY set IO:Current/Dev/QuillonDanteUpdateProgress 0 0 43 \\\"43\\\"\\n", "serve 3000"});
    ASSERT_EQ(thread->connectNetwork(), 0);
    ASSERT_TRUE(recorder->wait("associated 7"));
    recorder->events.clear();

    EXPECT_EQ(thread->setFWUpdateMode(false), 0);
    ASSERT_TRUE(unit->saw("LINE set|" + kModeName + "|0|0|0"));
    // The SET reply carries the unit's value.
    ASSERT_TRUE(recorder->wait("mode 0"));
    ASSERT_TRUE(recorder->wait("progress 42"))
        << ::testing::PrintToString(recorder->events) << ::testing::PrintToString(unit->transcript());
    EXPECT_TRUE(recorder->wait("runmode off"));

    EXPECT_EQ(thread->setFWUpdateMode(true), 0);
    ASSERT_TRUE(recorder->wait("mode 1"));
    EXPECT_TRUE(recorder->wait("runmode on"));
    EXPECT_EQ(thread->requestFWUpdateMode(), 0);
    ASSERT_TRUE(unit->saw("LINE get|" + kModeName + "|0|0"));
    EXPECT_TRUE(recorder->wait("mode 1", 2));

    EXPECT_EQ(thread->sendDanteUpdateProgress(77), 0);
    EXPECT_TRUE(unit->saw("LINE set|IO:Current/Dev/QuillonDanteUpdateProgress|0|0|77"));
    spinFor(100);
    // The Dante progress echo and notification are taken and dropped.
    EXPECT_EQ(recorder->count("progress 43"), 0);
    EXPECT_EQ(recorder->count("progress 77"), 0);
    EXPECT_EQ(recorder->count("progress 42"), 1);
}

TEST_F(FwScpLink, RequestsBeforeAssociationSendNothing)
{
    // The unit never answers, so the negotiation stays at its first step.
    start({"stall"});
    EXPECT_EQ(thread->setFWUpdateMode(true), FWSCP_E_FAIL);
    ASSERT_EQ(thread->connectNetwork(), 0);
    ASSERT_TRUE(unit->saw("LINE devstatus|runmode"));
    EXPECT_EQ(thread->setFWUpdateMode(true), FWSCP_E_FAIL);
    EXPECT_EQ(thread->requestFWUpdateMode(), FWSCP_E_FAIL);
    EXPECT_EQ(thread->sendDanteUpdateProgress(5), FWSCP_E_FAIL);
    EXPECT_EQ(thread->connectNetwork(), FWSCP_E_FAIL);
    spinFor(200);
    EXPECT_EQ(unit->requests(), std::vector<std::string>{"devstatus|runmode"});
}

TEST_F(FwScpLink, ReconnectAfterTheUnitClosesTellsTheNameOnce)
{
    start(unitAnswers()
        + std::vector<std::string>{"serve scpmode", "sleep 200", "close", "accept", "serve scpmode", "serve 3000"});
    ASSERT_EQ(thread->connectNetwork(), 0);
    ASSERT_TRUE(recorder->wait("associated 7"));
    ASSERT_TRUE(recorder->wait("disconnected 7"));
    EXPECT_FALSE(thread->isAssociated());
    ASSERT_EQ(thread->connectNetwork(), 0);
    ASSERT_TRUE(recorder->wait("associated 7", 2));
    EXPECT_EQ(info("devicename"), "Stage A");
    EXPECT_EQ(info("runmode"), "normal");
}

TEST_F(FwScpLink, LocalDisconnectGivesOneDisconnected)
{
    start(unitAnswers() + std::vector<std::string>{"serve scpmode", "serve 5000", "accept", "serve 3000"});
    ASSERT_EQ(thread->connectNetwork(), 0);
    ASSERT_TRUE(recorder->wait("associated 7"));
    EXPECT_EQ(thread->disconnectNetwork(), 0);
    ASSERT_TRUE(recorder->wait("disconnected 7"));
    EXPECT_TRUE(unit->saw("GONE"));
    // A second disconnect finds nothing to close.
    EXPECT_EQ(thread->disconnectNetwork(), 0);
    spinFor(300);
    EXPECT_EQ(recorder->count("disconnected 7"), 1);
    EXPECT_EQ(thread->connectNetwork(), 0);
    EXPECT_TRUE(recorder->wait("connected 7", 2));
}

TEST_F(FwScpLink, KeepAliveLinesReachTheUnit)
{
    // The unit asks for 1000 ms, the client's shortest interval.
    start(unitAnswers() + std::vector<std::string>{"serve scpmode", "keepalive 3000", "serve 3000"});
    ASSERT_EQ(thread->connectNetwork(), 0);
    ASSERT_TRUE(recorder->wait("associated 7"));
    EXPECT_TRUE(unit->saw("KEEPALIVE", 1, 4000));
}

TEST_F(FwScpLink, OwnerCallsDuringTrafficAndDestructionWhileConnecting)
{
    start(unitAnswers()
        + std::vector<std::string>{"serve scpmode",
            "blast 3000 NOTIFY set IO:Current/Dev/QuillonFWUpdateProgress 0 0 9 \\\"9\\\"\\n", "serve 3000"});
    ASSERT_EQ(thread->connectNetwork(), 0);
    ASSERT_TRUE(recorder->wait("associated 7"));
    std::atomic<bool> done{false};
    std::thread caller([&] {
        for (int i = 0; i < 2000 && !done; ++i) {
            QString name;
            thread->getDeviceInfo(QStringLiteral("devicename"), name);
            thread->isAssociated();
            thread->sendDanteUpdateProgress(static_cast<unsigned>(i));
        }
    });
    EXPECT_TRUE(recorder->wait("progress 9", 3000, 10000));
    done = true;
    caller.join();

    // Deleted while the connect is still pending on a unit that never answers.
    for (int i = 0; i < 5; ++i) {
        Unit silent({"stall"});
        auto t = std::make_unique<ScpClientThread_fwUpdate>(9, "127.0.0.1", silent.port(), "127.0.0.1", 1);
        Recorder r(*t);
        EXPECT_EQ(t->connectNetwork(), 0);
        if (i % 2)
            spinFor(5);
        t.reset();
        spinFor(50);
        EXPECT_EQ(r.count("associated 9"), 0);
    }
}

} // namespace

namespace {

// The connection driven on the test thread: woken by the socket, dispatched
// here.
class Driven : public VCOM::IVComWakeupFunction {
public:
    int32_t wakeup(uint16_t, VCOM::IVCom*) override
    {
        woken = true;
        return 0;
    }
    bool pump(ScpDevice_fwUpdate& device, const std::function<bool()>& pred)
    {
        return spinUntil([&] {
            if (woken.exchange(false))
                device.dispatchSocketEvents();
            return pred();
        });
    }
    std::atomic<bool> woken{false};
};

TEST_F(FwScpLink, AStepThatCannotBeSentEndsLikeARefusal)
{
    Unit silent({"stall", "accept", "stall"});
    ScpDevice_fwUpdate device(3, "127.0.0.1", silent.port(), "127.0.0.1", 1);
    Driven driven;
    ASSERT_EQ(device.attach(&driven), 0);
    int disconnects = 0;
    QObject::connect(&device, &ScpDevice_fwUpdate::disconnected, [&](uint) { ++disconnects; });
    ASSERT_EQ(device.connectNetwork(), 0);
    ASSERT_TRUE(driven.pump(device, [&] { return silent.count("LINE devstatus|runmode") == 1; }));
    // What the client reports when a step's request is not taken.
    EXPECT_EQ(device.sequenceFailed(nullptr, false, 1, static_cast<JResult>(0x80000000u)), 0);
    EXPECT_EQ(device.state(), ScpDevice_fwUpdate::State::Disconnecting);
    // The close follows once the dispatch that reported it has returned.
    device.dispatchSocketEvents();
    ASSERT_TRUE(driven.pump(device, [&] { return disconnects == 1; }));
    EXPECT_EQ(device.state(), ScpDevice_fwUpdate::State::Idle);
    EXPECT_TRUE(silent.saw("GONE"));
    EXPECT_EQ(device.connectNetwork(), 0);
    EXPECT_TRUE(driven.pump(device, [&] { return silent.count("LINE devstatus|runmode") == 2; }))
        << ::testing::PrintToString(silent.transcript());
    EXPECT_EQ(disconnects, 1);
}

} // namespace
