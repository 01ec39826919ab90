// Sessions against the independent unit (workgroup_peer.py session) on
// [::1], with a recording document over real tables and shortened waits.
#include "tests/fwupdate/workgroup/wg_fixture.h"
#include "tests/fwupdate/workgroup/wg_session_fixture.h"

#include "tests/support/netns.h"
#include "tests/support/test_support.h"

#include <QPointer>
#include <gtest/gtest.h>

#include <net/if.h>
#include <thread>

using namespace WG;
using wgtest::RecordingDocument;
using wgtest::Unit;

namespace {

constexpr uint64_t kDev = 0xa1b2c3d4e5f60000ull;
const std::string kSessionOwn = "wg=0251000000010000";

class WorkgroupSession : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (QPointer<WMSession>& s : sessions)
            delete s.data();
    }
    // A member of the table with a session of the given mode attached.
    WMSession* session(WorkgroupData& table, SessionMode mode, uint16_t slot = 0)
    {
        WorkgroupMember m;
        m.deviceId = kDev;
        m.modelType = 83;
        m.catalogueKind = CategoryDevice;
        m.slotWord = slot;
        auto* s = new WMSession(&doc, kDev, 83, negotiatedWord(300), mode);
        sessions.push_back(s);
        std::lock_guard<WG::DocumentMutex> guard(doc.mutex);
        if (!findMember(table, kDev))
            table.add(m, AddAtPosition, false, slot);
        findMember(table, kDev)->session = s;
        return s;
    }
    // A copy of the member, taken under the document mutex (sessions change
    // the tables from their threads), or null.
    std::unique_ptr<WorkgroupMember> member(WorkgroupData& table)
    {
        std::lock_guard<WG::DocumentMutex> guard(doc.mutex);
        const WorkgroupMember* m = findMember(table, kDev);
        return m ? std::make_unique<WorkgroupMember>(*m) : nullptr;
    }
    template <typename Edit> void edit(WorkgroupData& table, Edit change)
    {
        std::lock_guard<WG::DocumentMutex> guard(doc.mutex);
        change(*findMember(table, kDev));
    }
    // A management session the unit has accepted.
    WMSession* joined(Unit& unit)
    {
        WMSession* s = session(doc.workgroup, SessionMode::Management, 0);
        EXPECT_TRUE(s->connectTo("::1", unit.port, ConnectManagement, 0));
        EXPECT_TRUE(unit.expect("MSG 1 1/15"));
        return s;
    }

    wgtest::ShortWaits waits{300};
    RecordingDocument doc;
    std::vector<QPointer<WMSession>> sessions;
};

} // namespace

TEST_F(WorkgroupSession, ManagementRequestAcceptedSetsTheOwnId)
{
    // A connect wait that a loaded machine's reply still beats; the test
    // then waits it out.
    constexpr int kConnectWaitMs = 3000;
    WG::sessionTimes().connectWaitMs = kConnectWaitMs;
    Unit unit;
    WMSession* s = session(doc.workgroup, SessionMode::Management, 3);
    ASSERT_TRUE(s->connectTo("::1", unit.port, ConnectManagement, 0));
    EXPECT_EQ(s->hostText(), "::1");
    ASSERT_TRUE(unit.expect("MSG 1 1/0"));
    EXPECT_EQ(unit.lines.back(), "MSG 1 1/0 total=36 inner=24 " + kSessionOwn + " word=256 slot=3");
    ASSERT_TRUE(unit.expect("MSG 1 1/15", 2 * kConnectWaitMs))
        << ::testing::PrintToString(unit.lines) << ::testing::PrintToString(doc.calls());
    EXPECT_EQ(unit.lines.back(), "MSG 1 1/15 total=28 inner=16 " + kSessionOwn);
    ASSERT_TRUE(wgtest::pumpUntil([&] { return member(doc.workgroup)->heldWorkgroupId == RecordingDocument::kOwnId; }));
    // The reply came in time: the connect wait passes without effect.
    wgtest::pumpFor(kConnectWaitMs + 200);
    EXPECT_TRUE(doc.calls().empty());
    EXPECT_FALSE(s->awaitingReply());
    EXPECT_FALSE(s->connectTo("::1", unit.port, ConnectManagement, 0)) << "one connection per session";
    EXPECT_FALSE(s->connectTo("::1", unit.port, 4, 0));
}

TEST_F(WorkgroupSession, RefusedManagementRequestDropsTheSession)
{
    Unit unit({"--refuse", "1/0"});
    QPointer<WMSession> s = session(doc.workgroup, SessionMode::Management);
    ASSERT_TRUE(s->connectTo("::1", unit.port, ConnectManagement, 0));
    ASSERT_TRUE(wgtest::pumpUntil([&] { return s.isNull(); }));
    EXPECT_EQ(doc.calls(), std::vector<std::string>{"drop " + wgtest::idText(kDev)});
    EXPECT_EQ(member(doc.workgroup), nullptr);
}

TEST_F(WorkgroupSession, UnansweredManagementRequestEndsTheSession)
{
    Unit unit({"--mute", "1/0"});
    QPointer<WMSession> s = session(doc.workgroup, SessionMode::Management);
    ASSERT_TRUE(s->connectTo("::1", unit.port, ConnectManagement, 0));
    ASSERT_TRUE(unit.expect("MSG 1 1/0"));
    ASSERT_TRUE(wgtest::pumpUntil([&] { return s.isNull(); }, 3000));
    EXPECT_EQ(doc.calls(), std::vector<std::string>{"detach " + wgtest::idText(kDev)});
    EXPECT_EQ(doc.deletes, 1);
    EXPECT_EQ(member(doc.workgroup)->session, nullptr);
}

TEST_F(WorkgroupSession, InterruptTasksRunInOrder)
{
    const std::string dev = wgtest::idText(kDev);
    {
        // Interception: the unit leaves its workgroup, then the PC opens a
        // management session to it.
        Unit unit;
        session(doc.enumeration, SessionMode::Interrupt);
        QPointer<WMSession> s = session(doc.workgroup, SessionMode::Interrupt);
        edit(doc.workgroup, [](WorkgroupMember& m) { m.attemptCount = 3; });
        ASSERT_TRUE(s->connectTo("::1", unit.port, ConnectInterception, 0));
        ASSERT_TRUE(wgtest::pumpUntil([&] { return s.isNull(); }, 3000));
        unit.count("MSG", 100);
        EXPECT_EQ(unit.messages(), "MSG 1 1/4; MSG 1 1/2; MSG 1 1/6; ");
        EXPECT_EQ(doc.calls(), (std::vector<std::string>{"detach " + dev, "open " + dev}));
        EXPECT_EQ(member(doc.workgroup)->attemptCount, 0);
        EXPECT_NE(member(doc.enumeration), nullptr);
    }
    {
        Unit unit;
        doc.workgroup.remove(kDev);
        QPointer<WMSession> s = session(doc.enumeration, SessionMode::Interrupt);
        ASSERT_TRUE(s->connectTo("::1", unit.port, ConnectIdentify, 0));
        ASSERT_TRUE(wgtest::pumpUntil([&] { return s.isNull(); }, 3000));
        unit.count("MSG", 100);
        EXPECT_EQ(unit.messages(), "MSG 1 1/4; MSG 1 2/0; MSG 1 1/6; ");
        EXPECT_NE(
            std::find(unit.lines.begin(), unit.lines.end(), "MSG 1 2/0 total=32 inner=20 " + kSessionOwn + " value=1"),
            unit.lines.end());
    }
    {
        Unit unit;
        QPointer<WMSession> s = session(doc.enumeration, SessionMode::Interrupt);
        ASSERT_TRUE(s->connectTo("::1", unit.port, ConnectInitWorkgroupId, 0));
        ASSERT_TRUE(wgtest::pumpUntil([&] { return s.isNull(); }, 3000));
        unit.count("MSG", 100);
        EXPECT_EQ(unit.messages(), "MSG 1 1/4; MSG 1 1/15; MSG 1 1/6; ");
        EXPECT_NE(std::find(unit.lines.begin(), unit.lines.end(), "MSG 1 1/15 total=28 inner=16 wg=0000000000000000"),
            unit.lines.end());
    }
}

TEST_F(WorkgroupSession, RefusedInterceptionStepsLeaveTheEnumeration)
{
    Unit unit({"--refuse", "1/2"});
    session(doc.enumeration, SessionMode::Interrupt);
    QPointer<WMSession> s = session(doc.workgroup, SessionMode::Interrupt);
    ASSERT_TRUE(s->connectTo("::1", unit.port, ConnectInterception, 0));
    ASSERT_TRUE(wgtest::pumpUntil([&] { return s.isNull(); }, 3000));
    unit.count("MSG", 100);
    EXPECT_EQ(unit.messages(), "MSG 1 1/4; MSG 1 1/2; MSG 1 1/6; ");
    EXPECT_EQ(member(doc.enumeration), nullptr);

    // A refused 1/4 ends an interception at once.
    Unit refusing({"--refuse", "1/4"});
    session(doc.enumeration, SessionMode::Interrupt);
    QPointer<WMSession> r = session(doc.workgroup, SessionMode::Interrupt);
    ASSERT_TRUE(r->connectTo("::1", refusing.port, ConnectInterception, 0));
    ASSERT_TRUE(wgtest::pumpUntil([&] { return r.isNull(); }, 3000));
    EXPECT_EQ(member(doc.enumeration), nullptr);
}

TEST_F(WorkgroupSession, FailedInterceptionConnectLeavesTheEnumeration)
{
    // In a namespace of its own: the name lookup must not leave this machine.
    QTEST_IN_NETNS();
    session(doc.enumeration, SessionMode::Interrupt);
    QPointer<WMSession> s = session(doc.workgroup, SessionMode::Interrupt);
    ASSERT_TRUE(s->connectTo("no-such-unit.invalid", 50000, ConnectInterception, 0));
    ASSERT_TRUE(wgtest::pumpUntil([&] { return s.isNull(); }, 3000));
    EXPECT_EQ(member(doc.enumeration), nullptr);
    EXPECT_EQ(doc.calls(), std::vector<std::string>{"detach " + wgtest::idText(kDev)});
}

TEST_F(WorkgroupSession, ManagementMessagesReachTheDocument)
{
    Unit unit({"--mute", "1/2"});
    WMSession* s = joined(unit);
    const std::string dev = wgtest::idText(kDev);
    edit(doc.workgroup, [](WorkgroupMember& m) { m.remoteControlFlag = true; });
    unit.say("unit 1/10 result=0 dev=1234");
    unit.say("unit 1/14 result=0");
    unit.say("unit 2/2 dev=" + dev);
    unit.say("unit 3/8 dev=" + dev + " code=7");
    ASSERT_TRUE(wgtest::pumpUntil([&] { return doc.called("expire-errors"); }, 3000))
        << ::testing::PrintToString(doc.calls());
    EXPECT_EQ(doc.calls(),
        (std::vector<std::string>{"pending 1234 0", "remote-close-done", "error " + dev + " 7", "expire-errors"}));
    EXPECT_FALSE(member(doc.workgroup)->remoteControlFlag);
    EXPECT_TRUE(member(doc.workgroup)->expireFlag);

    // Released by the unit: id cleared, disconnect requested with the own id.
    unit.say("unit 1/17 dev=" + dev);
    ASSERT_TRUE(unit.expect("MSG 1 1/2"));
    EXPECT_EQ(unit.lines.back(), "MSG 1 1/2 total=28 inner=16 " + kSessionOwn);
    EXPECT_NE(std::find(unit.lines.begin(), unit.lines.end(), "MSG 1 1/15 total=28 inner=16 wg=0000000000000000"),
        unit.lines.end());
    EXPECT_TRUE(member(doc.workgroup)->releaseFlag);
    EXPECT_EQ(member(doc.workgroup)->heldWorkgroupId, 0u);
    // The unit accepts the disconnect (1/3): the document drops the session.
    QPointer<WMSession> guard = s;
    unit.say("unit 1/3 result=0");
    ASSERT_TRUE(wgtest::pumpUntil([&] { return guard.isNull(); }, 3000));
    EXPECT_TRUE(doc.called("drop " + dev));
}

TEST_F(WorkgroupSession, FirmwareStatusPolling)
{
    Unit unit;
    WMSession* s = joined(unit);
    wgtest::UpdateReceiver receiver;
    const uint8_t pc[16] = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_FALSE(s->startFirmwareUpdate("", 50111, &receiver, pc));
    EXPECT_FALSE(s->startFirmwareUpdate("fw.xml", 50111, &receiver, nullptr));
    ASSERT_TRUE(s->startFirmwareUpdate("updater_contents.xml", 50111, &receiver, pc));
    ASSERT_TRUE(unit.expect("MSG 1 3/0"));
    EXPECT_EQ(unit.lines.back(),
        "MSG 1 3/0 total=68 inner=56 " + kSessionOwn + " addr=fe80::1 port=50111 name=updater_contents.xml pad=0");

    // Status every 2 ticks: never asked for.
    unit.say("pulse 12 80 3/1 status=2 b22=1 b24=2 b26=3 b27=4 text=writing");
    EXPECT_EQ(unit.count("MSG 1 3/2", 1000), 0);
    ASSERT_TRUE(wgtest::pumpUntil([&] { return receiver.statusTexts.size() >= 12; }));
    EXPECT_EQ(receiver.statusTexts.back(), "writing");
    EXPECT_EQ(receiver.statusWords.back(), 2);
    // Quiet: after 5 ticks, a request on every tick.
    const int asked = unit.count("MSG 1 3/2", 700);
    EXPECT_GE(asked, 8) << unit.messages();
    EXPECT_TRUE(s->firmwareUpdateRunning());
    // Quiet past the limit: the update ends as a failure.
    ASSERT_TRUE(wgtest::pumpUntil([&] { return !receiver.replies.empty(); }, 3000));
    EXPECT_EQ(receiver.replies, std::vector<uint16_t>{1});
    EXPECT_EQ(doc.replies, std::vector<uint16_t>{1});
    EXPECT_FALSE(s->firmwareUpdateRunning());
    unit.count("MSG", 200); // what was asked before the end
    EXPECT_EQ(unit.count("MSG 1 3/2", 300), 0) << "polling stops with the update";
}

TEST_F(WorkgroupSession, FirmwareUpdateEnds)
{
    Unit unit;
    WMSession* s = joined(unit);
    wgtest::UpdateReceiver receiver;
    const uint8_t pc[16] = {0xfe, 0x80};
    ASSERT_TRUE(s->startFirmwareUpdate("a.xml", 69, &receiver, pc));
    unit.say("unit 3/3 result=0");
    ASSERT_TRUE(wgtest::pumpUntil([&] { return !doc.replies.empty() && !receiver.replies.empty(); }));
    wgtest::pumpFor(100);
    EXPECT_EQ(receiver.replies, std::vector<uint16_t>{0});
    EXPECT_EQ(doc.replies, std::vector<uint16_t>{0});

    // Destroyed mid-update: result 1 to both.
    wgtest::UpdateReceiver second;
    ASSERT_TRUE(s->startFirmwareUpdate("a.xml", 69, &second, pc));
    {
        std::lock_guard<WG::DocumentMutex> guard(doc.mutex);
        findMember(doc.workgroup, kDev)->session = nullptr;
    }
    delete s;
    wgtest::pumpFor(50);
    EXPECT_EQ(second.replies, std::vector<uint16_t>{1});
    EXPECT_EQ(doc.replies, (std::vector<uint16_t>{0, 1}));
}

TEST_F(WorkgroupSession, DispatchByMode)
{
    const std::string dev = wgtest::idText(kDev);
    const auto bytes = [](const std::string& hex) { return wgtest::fromHex(hex); };
    const auto built = wgtest::peerLines({"build", "3/1", "status=1", "text=x", "--", "2/2", "dev=" + dev, "--", "3/5",
        "word=9", "payload=ab", "--", "1/1", "result=0", "magic=VRSM"});
    ASSERT_EQ(built.size(), 4u);
    wgtest::UpdateReceiver receiver;
    const uint8_t pc[16] = {};

    WMSession* interrupt = session(doc.enumeration, SessionMode::Interrupt);
    interrupt->startFirmwareUpdate("a", 1, &receiver, pc);
    for (int i = 0; i < 2; ++i) {
        const QByteArray m = bytes(built[i]);
        EXPECT_TRUE(interrupt->receive(reinterpret_cast<const uint8_t*>(m.constData()), m.size()));
    }
    wgtest::pumpFor(50);
    EXPECT_TRUE(receiver.statusTexts.empty()) << "an interrupt session ignores 3/1";
    EXPECT_FALSE(member(doc.enumeration)->expireFlag) << "and 2/2";

    WMSession* management = session(doc.workgroup, SessionMode::Management);
    management->setHardwareSetupReceiver(&receiver);
    const QByteArray setup = bytes(built[2]);
    EXPECT_TRUE(management->receive(reinterpret_cast<const uint8_t*>(setup.constData()), setup.size()));
    const QByteArray foreign = bytes(built[3]);
    EXPECT_FALSE(management->receive(reinterpret_cast<const uint8_t*>(foreign.constData()), foreign.size()));
    doc.on = false;
    EXPECT_FALSE(management->receive(reinterpret_cast<const uint8_t*>(setup.constData()), setup.size()))
        << "refused while the document is disabled";
    ASSERT_TRUE(wgtest::pumpUntil([&] { return receiver.setupTexts.size() == 1; }));
    EXPECT_EQ(receiver.setupTexts[0], "ab");

    // The set-up text stops at a zero byte and is padded with zero characters.
    const QString padded = hardwareSetupText(QByteArray("ab\0cd", 5));
    EXPECT_EQ(padded.size(), 5);
    EXPECT_EQ(padded, QString::fromLatin1("ab\0\0\0", 5));
}

TEST_F(WorkgroupSession, NegativeScopeTakesTheSelectedAdapter)
{
    QTEST_IN_NETNS();
    qtest::NetnsBed bed;
    ASSERT_TRUE(bed.ready()) << bed.error();
    Ipv6AdapterList adapters;
    doc.adapters = &adapters;
    Unit unit;
    WMSession* s = session(doc.workgroup, SessionMode::Management);
    ASSERT_TRUE(s->connectTo("::1", unit.port, ConnectManagement, -1));
    EXPECT_EQ(s->hostText().toStdString(), "::1%" + std::to_string(if_nametoindex(qtest::NetnsBed::kLocalInterface)));
    EXPECT_TRUE(unit.expect("MSG 1 1/15"));
    WMSession* plain = session(doc.workgroup, SessionMode::Management);
    plain->connectTo("fe80::1", 9, ConnectManagement, 7);
    EXPECT_EQ(plain->hostText(), "fe80::1%7");
}

namespace {

std::mutex g_qtWarningsLock;
std::vector<std::string> g_qtWarnings;

void recordQtWarning(QtMsgType, const QMessageLogContext&, const QString& text)
{
    std::lock_guard<std::mutex> guard(g_qtWarningsLock);
    g_qtWarnings.push_back(text.toStdString());
}

} // namespace

TEST_F(WorkgroupSession, SessionsComeAndGoWhileMessagesArrive)
{
    g_qtWarnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(recordQtWarning);
    Unit unit;
    std::atomic<bool> stop{false};
    // Keep-alives as the heartbeat thread sends them: under the document
    // mutex, to whichever members have a session.
    struct Joiner {
        std::atomic<bool>& stop;
        std::thread& thread;
        ~Joiner()
        {
            stop = true;
            if (thread.joinable())
                thread.join();
        }
    };
    std::thread heartbeat([&] {
        while (!stop) {
            {
                std::lock_guard<WG::DocumentMutex> guard(doc.mutex);
                for (const auto& m : doc.workgroup.members())
                    if (m->session)
                        m->session->sendKeepAlive(m->heldWorkgroupId);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    // Pumps events and reads the unit's lines, so its output never fills.
    const auto pump = [&](auto pred, int ms = 5000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!pred()) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            unit.count("", 2);
            unit.lines.clear();
        }
        return true;
    };
    Joiner joiner{stop, heartbeat};
    const uint8_t pc[16] = {0xfe, 0x80};
    wgtest::UpdateReceiver receiver;
    for (int round = 0; round < 4; ++round) {
        std::vector<QPointer<WMSession>> live;
        for (uint64_t i = 1; i <= 3; ++i) {
            WorkgroupMember m;
            m.deviceId = kDev + i;
            m.modelType = 83;
            auto* s = new WMSession(&doc, m.deviceId, 83, 256, SessionMode::Management);
            live.push_back(s);
            {
                std::lock_guard<WG::DocumentMutex> guard(doc.mutex);
                doc.workgroup.add(m, AddAtPosition, false, 0);
                findMember(doc.workgroup, m.deviceId)->session = s;
            }
            ASSERT_TRUE(s->connectTo("::1", unit.port, ConnectManagement, 0));
        }
        ASSERT_TRUE(pump([&] {
            std::lock_guard<WG::DocumentMutex> guard(doc.mutex);
            for (uint64_t i = 1; i <= 3; ++i)
                if (findMember(doc.workgroup, kDev + i)->heldWorkgroupId != RecordingDocument::kOwnId)
                    return false;
            return true;
        })) << round
            << " " << [&] {
                   std::lock_guard<WG::DocumentMutex> guard(doc.mutex);
                   std::string out;
                   for (const auto& m : doc.workgroup.members())
                       out += wgtest::idText(m->deviceId) + "=" + wgtest::idText(m->heldWorkgroupId) + " ";
                   return out + ::testing::PrintToString(doc.calls());
               }();
        live[2]->startFirmwareUpdate("f.xml", 69, &receiver, pc);
        unit.say("pulse 20 2 3/1 status=1 text=x");
        unit.say("pulse 20 2 2/2 dev=" + wgtest::idText(kDev + 3));
        // One through DeleteWMSession, one dropped (deleteLater on its own
        // thread), one deleted here mid-update.
        {
            std::lock_guard<WG::DocumentMutex> guard(doc.mutex);
            findMember(doc.workgroup, kDev + 1)->session = nullptr;
            findMember(doc.workgroup, kDev + 3)->session = nullptr;
        }
        QCoreApplication::postEvent(&doc, new DeleteWMSession(live[0]));
        doc.dropSession(kDev + 2);
        pump([] { return false; }, 20);
        delete live[2].data();
        ASSERT_TRUE(pump([&] { return live[0].isNull() && live[1].isNull(); })) << round;
        std::lock_guard<WG::DocumentMutex> guard(doc.mutex);
        doc.workgroup.remove(kDev + 1);
        doc.workgroup.remove(kDev + 3);
    }
    stop = true;
    heartbeat.join();
    pump([] { return false; }, 50);
    qInstallMessageHandler(previous);
    EXPECT_EQ(receiver.replies.size(), 4u) << "each update ended once, with result 1";
    for (const std::string& w : g_qtWarnings) {
        EXPECT_EQ(w.find("Destroyed while thread"), std::string::npos) << w;
        EXPECT_EQ(w.find("Timers cannot be stopped from another thread"), std::string::npos) << w;
        EXPECT_EQ(w.find("Timers cannot be started from another thread"), std::string::npos) << w;
        EXPECT_EQ(w.find("from another thread"), std::string::npos) << w;
    }
}
