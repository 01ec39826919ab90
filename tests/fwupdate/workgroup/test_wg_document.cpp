// The workgroup document: heartbeat records injected into onHeartbeat, real
// sessions against the unit peer on [::1], ageing ticks called by the test.
// Tests that need the PC's own workgroup id run in a namespace with the bed,
// whose qveth0 gives it (02:51:00:00:00:01 << 16).
#include "tests/fwupdate/workgroup/wg_fixture.h"
#include "tests/fwupdate/workgroup/wg_session_fixture.h"

#include "fwupdate/mavik/mavik_tftp.h"
#include "fwupdate/workgroup/wg_document.h"
#include "fwupdate/workgroup/wg_handoff.h"
#include "fwupdate/workgroup/wg_tables.h"

#include "tests/support/netns.h"
#include "tests/support/test_support.h"

#include <QPointer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace WG;
using wgtest::Unit;

namespace {

constexpr uint64_t kOwn = 0x0251000000010000ull;
constexpr uint64_t kForeign = 0x0999000000010000ull;

struct Beat {
    uint64_t dev = 0xa1b2c3d4e5f60000ull;
    uint16_t code = 83;
    uint64_t held = 0;
    uint16_t status = 1;
    uint16_t port = 0;
    std::vector<HeartbeatLink> a, b;
    uint32_t scope = 0;
    std::string id = "J001-Valdor-Mavik-D-A1B2C3";
    HeartbeatInfo record() const
    {
        HeartbeatInfo r;
        r.deviceId = dev;
        r.mac = dev >> 16;
        r.modelCode = code;
        r.workgroupId = held;
        r.statusWord = status;
        r.sessionPort = port;
        r.announcedWord = 300;
        r.linksA = a;
        r.linksB = b;
        r.scopeId = scope;
        r.addressText = "0000:0000:0000:0000:0000:0000:0000:0001";
        r.deviceIdText = QString::fromStdString(id);
        return r;
    }
};

std::vector<uint64_t> ids(const std::vector<WorkgroupMember>& members)
{
    std::vector<uint64_t> out;
    for (const WorkgroupMember& m : members)
        out.push_back(m.deviceId);
    return out;
}

const WorkgroupMember* find(const std::vector<WorkgroupMember>& members, uint64_t id)
{
    for (const WorkgroupMember& m : members)
        if (m.deviceId == id)
            return &m;
    return nullptr;
}

// Records the events the document posts to the update manager.
class Manager : public QObject {
public:
    int wakes = 0;

protected:
    void customEvent(QEvent* e) override
    {
        acceptHandoff();
        if (e->type() == kWakeManagerEvent)
            ++wakes;
    }
};

class WorkgroupDoc : public ::testing::Test {
protected:
    wgtest::ShortWaits waits{200};

    // Joins an enumerated unit to the workgroup table.
    void join(WorkgroupManagerDoc& doc, const Beat& beat)
    {
        doc.onHeartbeat(beat.record());
        ASSERT_TRUE(doc.joinMember(beat.dev, false, 0));
    }
    // A workgroup member with a management session the unit accepted.
    void manage(WorkgroupManagerDoc& doc, Unit& unit, Beat beat)
    {
        beat.port = static_cast<uint16_t>(unit.port);
        beat.status = 1;
        join(doc, beat);
        beat.status = 0; // unit state 0: the document opens a session
        doc.onHeartbeat(beat.record());
        ASSERT_TRUE(unit.expect("MSG 1 1/15"));
        ASSERT_TRUE(wgtest::pumpUntil([&] { return find(doc.snapshot(false), beat.dev)->session != nullptr; }));
    }
};

} // namespace

TEST_F(WorkgroupDoc, NewUnitsAreEnumeratedSortedOrIgnored)
{
    WorkgroupManagerDoc doc;
    Beat mavik1, fader, mavik2, busy, linked, stranger;
    mavik1.dev = 0x10000;
    fader.dev = 0x20000;
    fader.code = 48;
    mavik2.dev = 0x30000;
    busy.dev = 0x40000;
    busy.status = 4;
    linked.dev = 0x50000;
    linked.b = {{0x0004, 0, 0x99}};
    stranger.dev = 0x60000;
    stranger.code = 99;
    for (const Beat& b : {mavik1, fader, mavik2, busy, linked, stranger})
        doc.onHeartbeat(b.record());
    const auto seen = doc.snapshot(true);
    EXPECT_EQ(ids(seen), (std::vector<uint64_t>{0x10000, 0x30000, 0x20000})) << "by kind and model";
    EXPECT_EQ(seen[0].displayName, "Mavik-D (A1:B2:C3)");
    EXPECT_EQ(seen[0].catalogueKind, CategoryDevice);
    EXPECT_EQ(seen[0].countdown, kMemberCountdown);
    EXPECT_EQ(seen[0].membership, MembershipFree);
    EXPECT_TRUE(doc.snapshot(false).empty());
    EXPECT_EQ(doc.liveSessions(), 0);
}

TEST_F(WorkgroupDoc, DawLinksFillTheIdSets)
{
    WorkgroupManagerDoc doc;
    Beat daw;
    daw.code = 1;
    daw.a = {{0x0001, 0, 0x11}, {0x0000, 0, 0x22}, {0x0003, 0, 0x33}};
    daw.b = {{0x0002, 0, 0x44}};
    doc.onHeartbeat(daw.record());
    EXPECT_EQ(doc.idSet(false), (std::vector<uint64_t>{0x11, 0x33}));
    EXPECT_EQ(doc.idSet(true), std::vector<uint64_t>{0x44});
    EXPECT_EQ(doc.snapshot(true).at(0).linkStateA, 1);
}

TEST_F(WorkgroupDoc, StaleOwnIdIsClearedBySessionTask)
{
    QTEST_IN_NETNS();
    qtest::NetnsBed bed;
    ASSERT_TRUE(bed.ready()) << bed.error();
    WorkgroupManagerDoc doc;
    ASSERT_EQ(doc.ownWorkgroupId(), kOwn);
    Unit unit;
    Beat stale;
    stale.held = kOwn;
    stale.port = static_cast<uint16_t>(unit.port);
    doc.onHeartbeat(stale.record());
    ASSERT_EQ(doc.snapshot(true).size(), 1u);
    ASSERT_TRUE(unit.expect("MSG 1 1/6"));
    EXPECT_EQ(unit.messages(), "MSG 1 1/4; MSG 1 1/15; MSG 1 1/6; ");
    EXPECT_NE(std::find(unit.lines.begin(), unit.lines.end(), "MSG 1 1/15 total=28 inner=16 wg=0000000000000000"),
        unit.lines.end());
    ASSERT_TRUE(wgtest::pumpUntil([&] { return doc.liveSessions() == 0; }));
}

TEST_F(WorkgroupDoc, WithoutAnAdapterAFreeUnitIsNoStaleClaim)
{
    QTEST_IN_NETNS(); // only lo: the own id is 0
    WorkgroupManagerDoc doc;
    ASSERT_EQ(doc.ownWorkgroupId(), 0u);
    Beat free;
    free.port = 9;
    doc.onHeartbeat(free.record());
    EXPECT_EQ(doc.snapshot(true).size(), 1u);
    EXPECT_EQ(doc.liveSessions(), 0) << "id 0 is no claim to clear";
}

TEST_F(WorkgroupDoc, ManagementAttemptsStopAtThree)
{
    WorkgroupManagerDoc doc;
    Unit unit({"--mute", "1/0"});
    Beat beat;
    beat.port = static_cast<uint16_t>(unit.port);
    join(doc, beat);
    beat.status = 0;
    // Each heartbeat finds no session once the last one timed out.
    for (int i = 0; i < 8; ++i) {
        doc.onHeartbeat(beat.record());
        unit.count("", 300);
    }
    int connections = 0;
    for (const std::string& l : unit.lines)
        connections += l.rfind("CONNECTED", 0) == 0;
    EXPECT_EQ(connections, 3);
    auto member = doc.snapshot(false).at(0);
    EXPECT_EQ(member.attemptCount, 3);
    EXPECT_FALSE(member.attemptsExhausted) << "cleared by the attempt that was not made";
    EXPECT_EQ(doc.liveSessions(), 0);
    EXPECT_EQ(doc.snapshot(false).size(), 1u);
    // Taken into the workgroup afresh, the count starts again.
    doc.removeMember(beat.dev, 0);
    join(doc, beat);
    doc.onHeartbeat(beat.record());
    EXPECT_TRUE(unit.expect("CONNECTED 4"));
    ASSERT_TRUE(wgtest::pumpUntil([&] { return doc.liveSessions() == 0; }, 3000));

    // A refused request: the unit leaves the workgroup table.
    Unit refusing({"--refuse", "1/0"});
    Beat other;
    other.dev = 0x0123450000ull;
    other.port = static_cast<uint16_t>(refusing.port);
    join(doc, other);
    other.status = 0;
    doc.onHeartbeat(other.record());
    ASSERT_TRUE(wgtest::pumpUntil([&] { return doc.snapshot(false).size() == 1; }, 3000));
    EXPECT_TRUE(doc.releasedList().contains(other.dev));
    ASSERT_TRUE(wgtest::pumpUntil([&] { return doc.liveSessions() == 0; }));
}

TEST_F(WorkgroupDoc, KeepAliveAndUnknownCodes)
{
    WorkgroupManagerDoc doc;
    Unit unit;
    Beat beat;
    manage(doc, unit, beat);
    // A heartbeat of a code without a kind: only the countdown and the
    // keep-alive.
    doc.ageMembers();
    const auto before = doc.snapshot(false).at(0);
    Beat odd = beat;
    odd.code = 99;
    odd.status = 3;
    odd.held = kForeign;
    doc.onHeartbeat(odd.record());
    ASSERT_TRUE(unit.expect("MSG 1 0/1"));
    const auto m = doc.snapshot(false).at(0);
    EXPECT_EQ(m.countdown, kMemberCountdown);
    EXPECT_EQ(m.modelType, 83);
    EXPECT_EQ(m.statusWord, before.statusWord);
    EXPECT_EQ(m.heldWorkgroupId, before.heldWorkgroupId);
    EXPECT_EQ(m.connected, before.connected);
}

TEST_F(WorkgroupDoc, RemovedOnceInTheReleasedList)
{
    WorkgroupManagerDoc doc;
    Beat beat;
    join(doc, beat);
    doc.removeMember(beat.dev, 0);
    EXPECT_TRUE(doc.snapshot(false).empty());
    join(doc, beat);
    doc.removeMember(beat.dev, 0);
    doc.removeMember(beat.dev, 0);
    EXPECT_EQ(doc.releasedList(), QList<uint64_t>{beat.dev});
}

TEST_F(WorkgroupDoc, AgeingAndExpiry)
{
    WorkgroupManagerDoc doc;
    Unit unit;
    Beat seen;
    seen.dev = 0x70000;
    doc.onHeartbeat(seen.record());
    Beat member;
    manage(doc, unit, member);
    for (int i = 0; i < 29; ++i)
        doc.ageMembers();
    EXPECT_EQ(doc.snapshot(true).size(), 1u) << "29 ticks: still listed";
    doc.onHeartbeat(member.record()); // the member keeps announcing
    doc.ageMembers();
    EXPECT_TRUE(doc.snapshot(true).empty()) << "30 ticks after the last heartbeat";

    // 2/2 from the unit: gone at the next tick, the session closed.
    unit.say("unit 2/2 dev=" + wgtest::idText(member.dev));
    ASSERT_TRUE(wgtest::pumpUntil([&] { return doc.snapshot(false).at(0).expireFlag; }));
    doc.ageMembers();
    const auto m = doc.snapshot(false).at(0);
    EXPECT_EQ(m.session, nullptr);
    EXPECT_FALSE(m.connected);
    EXPECT_EQ(m.countdown, 0);
    EXPECT_EQ(m.attemptCount, 0);
    ASSERT_TRUE(unit.expect("MSG 1 1/2"));
    ASSERT_TRUE(wgtest::pumpUntil([&] { return doc.liveSessions() == 0; }));
}

TEST_F(WorkgroupDoc, ReleasedMemberMovesToTheEnumeration)
{
    WorkgroupManagerDoc doc;
    Unit unit({"--mute", "1/2"});
    Beat beat;
    manage(doc, unit, beat);
    // The unit asks to be released, then announces another workgroup.
    unit.say("unit 1/17 dev=" + wgtest::idText(beat.dev));
    ASSERT_TRUE(unit.expect("MSG 1 1/2"));
    ASSERT_TRUE(wgtest::pumpUntil([&] { return doc.snapshot(false).at(0).releaseFlag; }));
    beat.held = kForeign;
    beat.status = 3;
    doc.onHeartbeat(beat.record());
    EXPECT_TRUE(doc.snapshot(false).empty());
    const auto seen = doc.snapshot(true);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].membership, MembershipForeign);
    EXPECT_FALSE(seen[0].releaseFlag);
}

TEST_F(WorkgroupDoc, ReleasedMemberWithoutARoleIsStillListed)
{
    WorkgroupManagerDoc doc;
    Beat portavo, lyrand, trakker;
    portavo.dev = 0x10000;
    portavo.code = 1;
    lyrand.dev = 0x20000;
    lyrand.code = 3;
    trakker.dev = 0x30000;
    trakker.code = 2;
    doc.onHeartbeat(portavo.record());
    doc.onHeartbeat(lyrand.record());
    doc.onHeartbeat(trakker.record());
    ASSERT_TRUE(doc.joinMember(portavo.dev, false, 1));
    ASSERT_TRUE(doc.joinMember(lyrand.dev, false, 2));
    ASSERT_TRUE(doc.joinMember(trakker.dev, false, 1));
    {
        std::lock_guard<DocumentMutex> guard(doc.documentMutex());
        findMember(*doc.workgroupTable(), trakker.dev)->releaseFlag = true;
    }
    // Both Trakker roles are held by the others: the catalogue places it
    // nowhere, yet it must not vanish from both tables.
    trakker.held = kForeign;
    doc.onHeartbeat(trakker.record());
    EXPECT_EQ(ids(doc.snapshot(false)), (std::vector<uint64_t>{portavo.dev, lyrand.dev}));
    const auto seen = doc.snapshot(true);
    ASSERT_EQ(ids(seen), std::vector<uint64_t>{trakker.dev});
    EXPECT_EQ(seen[0].membership, MembershipForeign);
}

TEST_F(WorkgroupDoc, RenamedBoxWithoutAFreeRoleStaysJoined)
{
    QTEST_IN_NETNS();
    qtest::NetnsBed bed; // for the own workgroup id
    ASSERT_TRUE(bed.ready()) << bed.error();
    WorkgroupManagerDoc doc;
    ASSERT_EQ(doc.ownWorkgroupId(), kOwn);
    std::vector<Beat> boxes(9);
    for (size_t i = 0; i < boxes.size(); ++i) {
        boxes[i].dev = (0x100 + i) << 16;
        boxes[i].code = 80;
        boxes[i].id = "box" + std::to_string(i);
        boxes[i].held = kOwn;
        boxes[i].a = {{1, 0, 0x99}}; // linked: the own id is not stale
        doc.onHeartbeat(boxes[i].record());
        ASSERT_TRUE(doc.joinMember(boxes[i].dev, false, static_cast<uint16_t>(96 + i % 8)));
    }
    // A new name places a box anew; with eight others holding roles there
    // is no place, and it stays as it was.
    boxes[8].id = "renamed";
    doc.onHeartbeat(boxes[8].record());
    const auto joined = doc.snapshot(false);
    ASSERT_EQ(joined.size(), 9u);
    const WorkgroupMember* renamed = find(joined, boxes[8].dev);
    ASSERT_NE(renamed, nullptr);
    EXPECT_EQ(renamed->deviceIdText, "renamed");
    EXPECT_EQ(renamed->slotWord, 96);
}

TEST_F(WorkgroupDoc, FirmwarePreparation)
{
    QTemporaryDir dir;
    const QString firmware = dir.filePath("updater_contents.xml");
    QFile f(firmware);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("<MAVIK-D/>");
    f.close();
    WorkgroupManagerDoc doc;
    QString error;
    EXPECT_FALSE(doc.prepareFirmwareUpdate(firmware, dir.path(), "p.zip", &error));
    EXPECT_EQ(error, "No Device");
    Beat idle;
    idle.dev = 0x80000;
    join(doc, idle);
    error.clear();
    EXPECT_FALSE(doc.prepareFirmwareUpdate(firmware, dir.path(), "p.zip", &error));
    EXPECT_EQ(error, "No Device") << "no member holds a session";

    Unit unit;
    Beat beat;
    manage(doc, unit, beat);
    EXPECT_FALSE(doc.prepareFirmwareUpdate(dir.filePath("missing.xml"), dir.path(), "p.zip", &error));
    EXPECT_EQ(error, "Invalid file");
    EXPECT_FALSE(doc.hasFileServer(beat.dev)) << "a failed preparation leaves no server";
    ASSERT_TRUE(doc.prepareFirmwareUpdate(firmware, dir.path(), "p.zip", &error));
    EXPECT_TRUE(doc.hasFileServer(beat.dev));

    // The reply ends the member's server; with none left the manager goes.
    Manager manager;
    doc.setFirmwareManager(&manager);
    ASSERT_TRUE(wgtest::pumpUntil([&] { return manager.wakes == 1; }));
    QCoreApplication::postEvent(&doc, new FirmUpdateReplyEvent(0, beat.dev));
    ASSERT_TRUE(wgtest::pumpUntil([&] { return !doc.hasFileServer(beat.dev); }));
    EXPECT_EQ(doc.firmwareManager(), nullptr);

    ASSERT_TRUE(doc.prepareFirmwareUpdate(firmware, dir.path(), "p.zip", &error));
    doc.removeMember(beat.dev, 0);
    EXPECT_FALSE(doc.hasFileServer(beat.dev)) << "removing the member ends its server";
}

TEST_F(WorkgroupDoc, NoPortToBindIsReported)
{
    QTEST_IN_NETNS(); // the ports held here are the namespace's own
    QTemporaryDir dir;
    const QString firmware = dir.filePath("f.xml");
    QFile f(firmware);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    ASSERT_EQ(qtest::runCommand("ip link set lo up"), 0);
    WorkgroupManagerDoc doc;
    Unit unit;
    Beat beat;
    manage(doc, unit, beat);
    // Every port the server may take is held by another socket.
    rlimit old{};
    getrlimit(RLIMIT_NOFILE, &old);
    rlimit wide = old;
    wide.rlim_cur = wide.rlim_max = std::max<rlim_t>(old.rlim_max, 16384);
    if (setrlimit(RLIMIT_NOFILE, &wide) != 0)
        GTEST_SKIP() << "cannot hold every update port";
    std::vector<int> holders;
    const auto hold = [&](uint16_t port) {
        const int fd = ::socket(AF_INET6, SOCK_DGRAM, 0);
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_addr = in6addr_any;
        a.sin6_port = htons(port);
        if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
            holders.push_back(fd);
        else if (fd >= 0)
            ::close(fd);
    };
    hold(MAVIK_TFTP_PORT);
    for (uint32_t port = MAVIK_TFTP_FIRST_SPARE_PORT; port <= MAVIK_TFTP_LAST_SPARE_PORT; ++port)
        hold(static_cast<uint16_t>(port));
    ASSERT_EQ(holders.size(), 2u + MAVIK_TFTP_LAST_SPARE_PORT - MAVIK_TFTP_FIRST_SPARE_PORT)
        << "69 and the spare range";
    QString error;
    const bool ok = doc.prepareFirmwareUpdate(firmware, dir.path(), "p.zip", &error);
    for (int fd : holders)
        ::close(fd);
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, "Cannot use update port");
    EXPECT_FALSE(doc.hasFileServer(beat.dev));
}

TEST_F(WorkgroupDoc, UpdateStartsOnTheMembersAdapter)
{
    QTEST_IN_NETNS();
    qtest::NetnsBed bed;
    ASSERT_TRUE(bed.ready()) << bed.error();
    QTemporaryDir dir;
    const QString firmware = dir.filePath("updater_contents.xml");
    QFile f(firmware);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    WorkgroupManagerDoc doc;
    Unit unit;
    Beat beat;
    beat.scope = if_nametoindex(qtest::NetnsBed::kLocalInterface);
    manage(doc, unit, beat);
    QString error;
    ASSERT_TRUE(doc.prepareFirmwareUpdate(firmware, dir.path(), "p.zip", &error)) << error.toStdString();
    wgtest::UpdateReceiver receiver;
    EXPECT_FALSE(doc.startMemberUpdate(0x1234, "updater_contents.xml", &receiver));
    ASSERT_TRUE(doc.startMemberUpdate(beat.dev, "updater_contents.xml", &receiver));
    ASSERT_TRUE(unit.expect("MSG 1 3/0"));
    EXPECT_NE(unit.lines.back().find(std::string("addr=") + qtest::NetnsBed::kLocalLinkLocal), std::string::npos)
        << unit.lines.back();

    // A member whose scope no adapter has gets no start.
    beat.scope = 999;
    doc.onHeartbeat(beat.record());
    EXPECT_FALSE(doc.startMemberUpdate(beat.dev, "updater_contents.xml", &receiver));
}

TEST_F(WorkgroupDoc, DestroyedWithSessionsOpen)
{
    QTEST_IN_NETNS();
    ASSERT_EQ(qtest::runCommand("ip link set lo up"), 0);
    std::vector<QPointer<WMSession>> sessions;
    {
        WorkgroupManagerDoc doc;
        Unit unit;
        Beat member;
        manage(doc, unit, member);
        Unit muted({"--mute", "1/4"});
        Beat seen;
        seen.dev = 0x90000;
        seen.port = static_cast<uint16_t>(muted.port);
        doc.onHeartbeat(seen.record());
        doc.startInterruptTask(seen.dev, TaskIdentify);
        ASSERT_TRUE(muted.expect("MSG 1 1/4"));
        for (const auto& m : doc.snapshot(false))
            sessions.push_back(m.session);
        for (const auto& m : doc.snapshot(true))
            sessions.push_back(m.session);
        ASSERT_EQ(sessions.size(), 2u);
        EXPECT_EQ(doc.liveSessions(), 2);
    }
    for (const QPointer<WMSession>& s : sessions)
        EXPECT_TRUE(s.isNull());
}

TEST_F(WorkgroupDoc, HeartbeatsSessionsAndAgeingAtOnce)
{
    WorkgroupManagerDoc doc;
    Unit unit;
    Beat managed;
    manage(doc, unit, managed);
    std::atomic<bool> stop{false};
    // The heartbeat thread: the managed unit and a stream of others.
    std::thread beats([&] {
        for (uint64_t i = 0; !stop; ++i) {
            doc.onHeartbeat(managed.record());
            Beat other;
            other.dev = (0x100 + i % 40) << 16;
            other.code = i % 3 == 0 ? 83 : i % 3 == 1 ? 1 : 99;
            other.status = static_cast<uint16_t>(i % 2 ? 1 : 3);
            doc.onHeartbeat(other.record());
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    // The unit's messages reach the document on the session's threads.
    unit.say("pulse 40 5 1/10 result=0 dev=" + wgtest::idText(managed.dev));
    unit.say("pulse 20 5 3/8 code=1 dev=" + wgtest::idText(managed.dev));
    for (int tick = 0; tick < 60; ++tick) {
        doc.ageMembers();
        wgtest::pumpFor(5);
        unit.count("", 1);
    }
    stop = true;
    beats.join();
    const auto joined = doc.snapshot(false);
    const auto seen = doc.snapshot(true);
    for (const WorkgroupMember& m : seen)
        EXPECT_EQ(find(joined, m.deviceId), nullptr) << "never in both tables";
    EXPECT_LE(seen.size(), 40u);
}
