// The Mavik update manager: packages unpacked from real zip files, the
// workgroup document fed heartbeat records, sessions against the unit peer
// on [::1] and the PC adapter of the namespace bed.
#include "tests/fwupdate/workgroup/wg_fixture.h"
#include "tests/fwupdate/workgroup/wg_session_fixture.h"

#include "fwupdate/mavik/manager/mavik_manager.h"
#include "fwupdate/workgroup/wg_document.h"
#include "fwupdate/workgroup/wg_session.h"

#include "tests/support/netns.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <net/if.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

using namespace WG;

namespace {

constexpr char kUnitText[] = "J001-Valdor-Mavik-D-A1B2C3";
constexpr uint64_t kDev1 = 0xa1b2c3d4e5f60000ull;
constexpr uint64_t kDev2 = 0xa1b2c3d4e5f70000ull;

std::string description(const std::string& root, const std::string& version)
{
    std::string attr = version.empty() ? "" : "<UPDATE_PACKAGE_VERSION VALUE=\"" + version + "\"/>";
    return "<" + root + ">\n<ATTRIBUTE>" + attr + "<REBOOT_AFTER_UPDATE VALUE=\"1\"/></ATTRIBUTE>\n</" + root + ">\n";
}

// A zip made by python's zipfile from name -> bytes.
std::string makePackage(
    const QTemporaryDir& dir, const std::string& name, const std::vector<std::pair<std::string, std::string>>& files)
{
    const std::string src = dir.filePath(QString::fromStdString(name + ".src")).toStdString();
    const std::string zip = dir.filePath(QString::fromStdString(name + ".zip")).toStdString();
    QDir().mkpath(QString::fromStdString(src));
    std::string list;
    for (const auto& f : files) {
        qtest::writeFile(src + "/" + f.first, f.second);
        list += " '" + f.first + "'";
    }
    qtest::runCommand("cd '" + src
        + "' && /usr/bin/python3 -c 'import sys,zipfile; z=zipfile.ZipFile(sys.argv[1],\"w\");"
          " [z.write(n) for n in sys.argv[2:]]; z.close()' '"
        + zip + "'" + list);
    return zip;
}

std::string mavtestPattern(size_t size)
{
    std::string out(size, '\0');
    for (size_t i = 0; i < size; ++i)
        out[i] = static_cast<char>((i * 7 + 3) % 256);
    return out;
}

std::string readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string("<missing>");
}

using Reports = std::vector<std::pair<uint32_t, uint32_t>>;

// n failure reports for row.
Reports errors(size_t n, uint32_t row)
{
    return Reports(n, {MAVIK_CB_ERROR, row});
}

// The owner: rows by unit text, every report recorded.
class Owner : public MfuAppCallbackIF_Mavik {
public:
    std::map<uint32_t, QString> rows;
    Reports reports;

    void appCallback_devID(uint32_t kind, uint32_t row) override { reports.emplace_back(kind, row); }
    void rowUnitText(uint32_t row, QString* text) override
    {
        auto it = rows.find(row);
        if (it != rows.end())
            *text = it->second;
    }
    bool rowForUnitText(const QString& text, uint32_t* row) override
    {
        for (const auto& r : rows)
            if (r.second == text) {
                *row = r.first;
                return true;
            }
        return false;
    }
    int count(uint32_t kind) const
    {
        int n = 0;
        for (const auto& r : reports)
            n += r.first == kind;
        return n;
    }
};

// Shortened clocks for one test.
class FastClock {
public:
    FastClock(int tickMs, int readyTicks)
    {
        mavikManagerTimes().tickMs = tickMs;
        mavikManagerTimes().readyTicks = readyTicks;
    }
    ~FastClock() { mavikManagerTimes() = MavikManagerTimes(); }
};

// Overrides an environment variable for the test.
class Env {
public:
    Env(const char* name, const std::string& value)
        : m_name(name)
        , m_old(qgetenv(name))
    {
        qputenv(name, QByteArray::fromStdString(value));
    }
    ~Env() { qputenv(m_name, m_old); }

private:
    const char* m_name;
    QByteArray m_old;
};

struct Beat {
    uint64_t dev = kDev1;
    uint16_t code = MAVIK_MODEL_CODE;
    uint64_t held = 0; // the workgroup id the unit holds
    uint16_t status = 1;
    uint16_t port = 0;
    uint32_t version = 0x02010000;
    uint32_t scope = 0;
    std::string id = kUnitText;
    HeartbeatInfo record() const
    {
        HeartbeatInfo r;
        r.deviceId = dev;
        r.mac = dev >> 16;
        r.modelCode = code;
        r.workgroupId = held;
        r.statusWord = status;
        r.sessionPort = port;
        r.value28 = version;
        r.announcedWord = 300;
        r.scopeId = scope;
        r.addressText = "0000:0000:0000:0000:0000:0000:0000:0001";
        r.deviceIdText = QString::fromStdString(id);
        return r;
    }
};

const WorkgroupMember* find(const std::vector<WorkgroupMember>& members, uint64_t id)
{
    for (const WorkgroupMember& m : members)
        if (m.deviceId == id)
            return &m;
    return nullptr;
}

} // namespace

TEST(MavikManagerFolder, NextFreeNameIsTakenPrivately)
{
    QTemporaryDir dir;
    for (const char* taken : {"pkg", "pkg1", "pkg2"})
        ASSERT_TRUE(QDir(dir.path()).mkdir(taken));
    const QString made = mavik_makeExtractionFolder(dir.path(), "pkg");
    EXPECT_EQ(made, dir.path() + "/pkg3/");
    struct stat st { };
    ASSERT_EQ(::stat(QFile::encodeName(made).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    qtest::writeFile(dir.filePath("file").toStdString(), "x");
    EXPECT_TRUE(mavik_makeExtractionFolder(dir.filePath("file"), "pkg").isEmpty()) << "a base that is no folder";
}

TEST(MavikManagerPackage, LoadUnpacksAndRewritesTheDescription)
{
    QTemporaryDir dir;
    Env tmp("TMPDIR", dir.path().toStdString());
    const std::string firmware = mavtestPattern(3000);
    const std::string zip = makePackage(
        dir, "MavikFW", {{"updater_contents.xml", description("mavik-d", "10.05")}, {"main.bin", firmware}});
    Owner owner;
    QString folder;
    {
        FirmwareUpdateManager_Mavik manager;
        manager.setCallback(&owner);
        ASSERT_TRUE(manager.loadPackage(QString::fromStdString(zip)));
        folder = manager.extractionFolder();
        EXPECT_EQ(folder, dir.path() + "/MavikFW/");
        EXPECT_EQ(readAll(folder + "main.bin"), firmware);
        EXPECT_NE(readAll(manager.descriptionPath()).find("REBOOT_AFTER_UPDATE VALUE=\"0\""), std::string::npos);
        QString version;
        manager.getPackageVersion(&version);
        EXPECT_EQ(version, "10.0");
        EXPECT_EQ(manager.packageVersion(), "10.05");

        // A second load replaces the first folder.
        ASSERT_TRUE(manager.loadPackage(QString::fromStdString(zip)));
        EXPECT_EQ(QDir(dir.path()).entryList({"MavikFW", "MavikFW1"}, QDir::Dirs).size(), 1);
        folder = manager.extractionFolder();
        EXPECT_FALSE(manager.loadPackage(QString()));
    }
    EXPECT_FALSE(QFileInfo::exists(folder)) << "no extraction folder survives the manager";
    EXPECT_TRUE(owner.reports.empty());
}

TEST(MavikManagerPackage, FailuresLeaveNoFolder)
{
    QTemporaryDir dir;
    QTemporaryDir home;
    qtest::writeFile(dir.filePath("blocker").toStdString(), "x");
    const std::string noVersion = makePackage(dir, "noversion", {{"updater_contents.xml", description("MAVIK-D", "")}});
    const std::string noDescription = makePackage(dir, "nodesc", {{"main.bin", "abc"}});
    const std::string good = makePackage(dir, "good", {{"updater_contents.xml", description("MAVIK-D", "2.01")}});
    qtest::writeFile(dir.filePath("broken.zip").toStdString(), "PK\x03\x04 not really");
    const std::string blocker = dir.filePath("blocker").toStdString();
    struct Case {
        const char* what;
        std::string zip;
        std::string tmp;
        std::string home;
        bool loads;
        bool reported; // appCallback_devID(4, 0)
    } cases[] = {
        {"no version", noVersion, "", "", false, false},
        {"no description", noDescription, "", "", false, true},
        {"not a zip", dir.filePath("broken.zip").toStdString(), "", "", false, true},
        {"temporary folder unusable: home", good, blocker + "/t", "", true, false},
        {"no folder at all", good, blocker + "/t", blocker + "/h", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir tmp;
        Env t("TMPDIR", c.tmp.empty() ? tmp.path().toStdString() : c.tmp);
        Env h("HOME", c.home.empty() ? home.path().toStdString() : c.home);
        Owner owner;
        FirmwareUpdateManager_Mavik manager;
        manager.setCallback(&owner);
        EXPECT_EQ(manager.loadPackage(QString::fromStdString(c.zip)), c.loads);
        EXPECT_EQ(owner.reports, errors(c.reported ? 1 : 0, 0));
        if (c.loads) {
            EXPECT_TRUE(manager.extractionFolder().startsWith(home.path() + "/"))
                << manager.extractionFolder().toStdString();
        } else {
            EXPECT_TRUE(manager.extractionFolder().isEmpty());
            EXPECT_TRUE(QDir(tmp.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
        }
        manager.loadPackage(QString()); // waiting flag cleared, folder kept
    }
    EXPECT_TRUE(QDir(home.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty())
        << "the folder made in home went with its manager";
}

namespace {

constexpr uint32_t kRow = 2;

// A manager with a loaded package and its document up, inside the bed.
class MavikManagerRun : public ::testing::Test {
protected:
    FastClock clock{100, 50};
    wgtest::ShortWaits waits{300};
    QTemporaryDir dir;
    Owner owner;
    std::vector<Beat> beats;
    std::unique_ptr<FirmwareUpdateManager_Mavik> manager;

    void start(const std::string& root = "mavik-d")
    {
        Env tmp("TMPDIR", dir.path().toStdString());
        const std::string zip = makePackage(
            dir, "MavikFW", {{"updater_contents.xml", description(root, "2.01")}, {"main.bin", mavtestPattern(5000)}});
        owner.rows[kRow] = kUnitText;
        manager = std::make_unique<FirmwareUpdateManager_Mavik>();
        manager->setCallback(&owner);
        ASSERT_TRUE(manager->loadPackage(QString::fromStdString(zip)));
        ASSERT_TRUE(wgtest::pumpUntil([&] { return manager->document() != nullptr; }));
    }
    WorkgroupManagerDoc& doc() { return *manager->document(); }
    void beat()
    {
        for (const Beat& b : beats)
            doc().onHeartbeat(b.record());
    }
    // Runs events, the units announcing themselves, until pred holds.
    template <typename Pred> bool beating(Pred pred, int ms = 5000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!pred()) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            beat();
            wgtest::pumpFor(20);
        }
        return true;
    }
    bool expect(wgtest::Unit& unit, const std::string& prefix)
    {
        return beating([&] { return unit.expect(prefix, 10); });
    }
    // Units beating on the bed's adapter, then the row started: the
    // sessions opened and established.
    void bringUp(std::vector<wgtest::Unit*> units, uint32_t scope = 0, uint64_t firstDev = kDev1)
    {
        const uint64_t devs[] = {firstDev, kDev2};
        for (size_t i = 0; i < units.size(); ++i) {
            Beat b;
            b.dev = devs[i];
            b.port = static_cast<uint16_t>(units[i]->port);
            b.scope = scope ? scope : if_nametoindex(qtest::NetnsBed::kLocalInterface);
            beats.push_back(b);
        }
        beat();
        ASSERT_EQ(manager->startUpdate(kRow), 0);
        EXPECT_EQ(manager->runState(), FirmwareUpdateManager_Mavik::WaitingForSessions);
        for (Beat& b : beats)
            b.status = 0; // no session: the document opens one
        for (wgtest::Unit* u : units)
            ASSERT_TRUE(expect(*u, "MSG 1 1/15"));
        ASSERT_TRUE(beating([&] {
            for (const Beat& b : beats) {
                const auto members = doc().snapshot(false);
                const WorkgroupMember* m = find(members, b.dev);
                if (!m || !m->session)
                    return false;
            }
            return true;
        }));
        for (Beat& b : beats) {
            b.status = 3; // the session taken: the unit holds the PC's id
            b.held = doc().ownWorkgroupId();
        }
    }
    bool idle()
    {
        return beating([&] { return manager->runState() == FirmwareUpdateManager_Mavik::Idle; });
    }
};

} // namespace

TEST_F(MavikManagerRun, TwoUnitsUpdatedOnOneRow)
{
    QTEST_IN_NETNS();
    qtest::NetnsBed bed;
    ASSERT_TRUE(bed.ready()) << bed.error();
    start();
    wgtest::Unit u1({}, kDev1);
    wgtest::Unit u2({}, kDev2);
    {
        Beat b;
        beats.push_back(b);
        beat();
        beats.clear();
    }
    QString text = "unchanged";
    manager->getUnitVersion(kRow, &text, 16);
    EXPECT_EQ(text, "V201a");
    manager->getUnitVersion(kRow, &text, 3);
    EXPECT_EQ(text, "V20");
    text = "unchanged";
    manager->getUnitVersion(7, &text, 16);
    EXPECT_EQ(text, "unchanged") << "a row without a unit text matches no member";

    EXPECT_EQ(manager->setWaitingStart(), 0);
    EXPECT_EQ(manager->setWaitingStart(), MAVIK_E_FAIL);
    ASSERT_TRUE(beating([&] { return owner.count(MAVIK_CB_WAITING_START) > 0; }));
    EXPECT_EQ(owner.reports.back(), std::make_pair(uint32_t(MAVIK_CB_WAITING_START), kRow));
    manager->clearWaitingStart();
    owner.reports.clear();

    bringUp({&u1, &u2});
    ASSERT_TRUE(expect(u1, "MSG 1 3/0"));
    ASSERT_TRUE(expect(u2, "MSG 1 3/0"));
    EXPECT_NE(u1.lines.back().find("updater_contents.xml"), std::string::npos) << u1.lines.back();
    // The unit's fetch: its server hands out the unpacked package as it stands.
    const std::string start = u1.lines.back();
    const size_t at = start.find(" port=");
    ASSERT_NE(at, std::string::npos) << start;
    const std::string port = std::to_string(std::stoi(start.substr(at + 6)));
    const std::string fetched = dir.filePath("fetched").toStdString();
    for (const char* file : {"updater_contents.xml", "main.bin"}) {
        SCOPED_TRACE(file);
        qtest::ChildProcess tftp({"tftp", "-6", "-m", "binary", "::1", port, "-c", "get", file, fetched});
        int status = -1;
        ASSERT_TRUE(beating([&] { return (status = tftp.wait(5)) != -1; }));
        EXPECT_EQ(status, 0);
        EXPECT_EQ(qtest::readFile(fetched), readAll(manager->extractionFolder() + file));
    }
    EXPECT_EQ(qtest::readFile(fetched), mavtestPattern(5000));
    ASSERT_TRUE(beating([&] { return owner.count(MAVIK_CB_PROGRESS) == 2; }));
    EXPECT_EQ(manager->runState(), FirmwareUpdateManager_Mavik::Started);

    uint32_t progress = 0;
    u1.say("unit 3/1 b22=40");
    u2.say("unit 3/1 b22=80");
    ASSERT_TRUE(beating([&] { return manager->getProgress(&progress) == 0 && progress == 60; }));
    u1.say("unit 3/1 b22=20");
    beating([] { return false; }, 500);
    manager->getProgress(&progress);
    EXPECT_EQ(progress, 60u) << "progress never goes down";

    u1.say("unit 3/3 result=0");
    u2.say("unit 3/3 result=8");
    ASSERT_TRUE(idle());
    EXPECT_EQ(owner.count(MAVIK_CB_FINISH), 1);
    EXPECT_EQ(owner.count(MAVIK_CB_ERROR), 0) << "code 8 ends the session without a report";
    EXPECT_TRUE(doc().snapshot(false).empty());
    manager->getProgress(&progress);
    EXPECT_EQ(progress, 0u);
    for (const auto& r : owner.reports)
        EXPECT_EQ(r.second, kRow);
}

TEST_F(MavikManagerRun, NoMemberForTheRow)
{
    QTEST_IN_NETNS();
    start("OTHER-MODEL");
    Beat b;
    beats.push_back(b);
    beat();
    EXPECT_EQ(manager->startUpdate(kRow), MAVIK_E_FAIL) << "another package root finds no member";
    Env tmp("TMPDIR", dir.path().toStdString());
    const std::string zip = makePackage(dir, "again", {{"updater_contents.xml", description("MAVIK-D", "2.01")}});
    ASSERT_TRUE(manager->loadPackage(QString::fromStdString(zip)));
    owner.rows[kRow] = "J001-Valdor-Mavik-D-A1B2C4";
    EXPECT_EQ(manager->startUpdate(kRow), MAVIK_E_FAIL) << "another unit text";
    beats[0].code = 84;
    beats[0].dev = kDev2;
    beats[0].id = "J001-Valdor-Mavik-D-A1B2C5";
    owner.rows[kRow] = "J001-Valdor-Mavik-D-A1B2C5";
    beat();
    EXPECT_EQ(manager->startUpdate(kRow), MAVIK_E_FAIL) << "another model";
    EXPECT_EQ(owner.reports, errors(3, kRow));
    EXPECT_EQ(manager->runState(), FirmwareUpdateManager_Mavik::Idle);
}

TEST_F(MavikManagerRun, SessionsNeverReadyFailOnePerTick)
{
    QTEST_IN_NETNS();
    mavikManagerTimes().readyTicks = 3;
    start();
    for (uint64_t dev : {kDev1, kDev2}) {
        Beat b;
        b.dev = dev;
        doc().onHeartbeat(b.record());
    }
    ASSERT_EQ(manager->startUpdate(kRow), 0);
    // No more heartbeats: no session ever opens.
    ASSERT_TRUE(wgtest::pumpUntil([&] { return manager->runState() == FirmwareUpdateManager_Mavik::Idle; }));
    EXPECT_EQ(owner.reports, errors(2, kRow));
    EXPECT_TRUE(doc().snapshot(false).empty());
}

TEST_F(MavikManagerRun, PreparationRefusedFailsTheRunOnce)
{
    QTEST_IN_NETNS();
    start();
    Beat b;
    doc().onHeartbeat(b.record());
    ASSERT_EQ(manager->startUpdate(kRow), 0);
    doc().removeMember(kDev1, 0); // nothing left to prepare: "No Device"
    ASSERT_TRUE(wgtest::pumpUntil([&] { return !owner.reports.empty(); }));
    wgtest::pumpFor(400);
    EXPECT_EQ(owner.reports, errors(1, kRow));
    EXPECT_EQ(manager->runState(), FirmwareUpdateManager_Mavik::Idle);
}

TEST_F(MavikManagerRun, RefusedFailedOrSilentUnitsReportOnce)
{
    QTEST_IN_NETNS();
    qtest::NetnsBed bed;
    ASSERT_TRUE(bed.ready()) << bed.error();
    start();
    {
        SCOPED_TRACE("a member on no adapter of the PC: the start is refused");
        wgtest::Unit unit({}, kDev1);
        bringUp({&unit}, 999);
        ASSERT_TRUE(idle());
        beating([] { return false; }, 400);
        EXPECT_EQ(owner.reports, errors(1, kRow));
        EXPECT_TRUE(doc().snapshot(false).empty());
    }
    owner.reports.clear();
    beats.clear();
    {
        SCOPED_TRACE("the unit reports a failed update");
        wgtest::Unit unit({}, kDev1);
        bringUp({&unit});
        ASSERT_TRUE(expect(unit, "MSG 1 3/0"))
            << unit.messages() << " reports " << owner.reports.size() << " state " << manager->runState();
        unit.say("unit 3/3 result=1");
        ASSERT_TRUE(idle());
        EXPECT_EQ(owner.count(MAVIK_CB_ERROR), 1);
        EXPECT_EQ(owner.count(MAVIK_CB_FINISH), 0);
    }
    owner.reports.clear();
    beats.clear();
    {
        SCOPED_TRACE("the unit falls silent after the start: its session gives up");
        wgtest::Unit unit({}, kDev2);
        bringUp({&unit}, 0, kDev2);
        ASSERT_TRUE(expect(unit, "MSG 1 3/0"));
        ASSERT_TRUE(idle());
        EXPECT_EQ(owner.count(MAVIK_CB_ERROR), 1);
        EXPECT_EQ(owner.count(MAVIK_CB_FINISH), 0);
    }
}

// The whole road against a simulated unit in the bed's peer namespace: its
// heartbeats arrive by multicast, the document opens its session over the
// link-local addresses, and the unit fetches its files with tftp -6.
TEST_F(MavikManagerRun, SimulatedUnitUpdatedOverTheLink)
{
    QTEST_IN_NETNS();
    qtest::NetnsBed bed;
    ASSERT_TRUE(bed.ready()) << bed.error();
    start();
    const QString out = dir.filePath("unit");
    ASSERT_TRUE(QDir().mkpath(out));
    // The system python: a version manager's shim takes seconds to start.
    qtest::ChildProcess unit(
        bed.inPeer({"/usr/bin/python3", "-u", qtest::peerPath("workgroup_unit.py"), "--ifname",
            qtest::NetnsBed::kPeerInterface, "--dev", wgtest::idText(kDev1), "--id", kUnitText, "--files", "main.bin",
            "--out", out.toStdString(), "--hold", "300", "--seconds", "60"}),
        true);
    std::vector<std::string> lines;
    auto saw = [&](const std::string& prefix) {
        std::string line;
        while (unit.readLine(&line, 5))
            lines.push_back(line);
        for (const std::string& l : lines)
            if (l.rfind(prefix, 0) == 0)
                return true;
        return false;
    };
    auto unitSays = [&](const std::string& prefix) { return wgtest::pumpUntil([&] { return saw(prefix); }, 10000); };
    auto joined = [&] {
        std::string all;
        for (const std::string& l : lines)
            all += l + "\n";
        return all;
    };
    ASSERT_TRUE(unitSays("PORT ")) << joined();
    ASSERT_TRUE(wgtest::pumpUntil(
        [&] {
            const auto members = doc().snapshot(true);
            return find(members, kDev1) != nullptr;
        },
        5000))
        << "the unit's heartbeats never arrived";
    QString version;
    manager->getUnitVersion(kRow, &version, 16);
    EXPECT_EQ(version, "V201a");

    ASSERT_EQ(manager->startUpdate(kRow), 0);
    uint32_t highest = 0;
    ASSERT_TRUE(wgtest::pumpUntil(
        [&] {
            uint32_t progress = 0;
            if (manager->getProgress(&progress) == 0)
                highest = std::max(highest, progress);
            return saw("FINISHED 0");
        },
        10000))
        << joined();
    EXPECT_EQ(highest, 100u) << "the unit's two steps of 50";
    ASSERT_TRUE(idle()) << joined();
    EXPECT_TRUE(saw("MSG 1/0")) << joined();
    EXPECT_TRUE(saw("FETCHED updater_contents.xml")) << joined();
    EXPECT_FALSE(saw("FETCH-FAILED")) << joined();
    for (const char* file : {"updater_contents.xml", "main.bin"}) {
        SCOPED_TRACE(file);
        EXPECT_EQ(readAll(out + "/" + file), readAll(manager->extractionFolder() + file));
    }
    EXPECT_EQ(readAll(out + "/main.bin"), mavtestPattern(5000));
    EXPECT_GE(owner.count(MAVIK_CB_PROGRESS), 1);
    EXPECT_EQ(owner.count(MAVIK_CB_FINISH), 1);
    EXPECT_EQ(owner.count(MAVIK_CB_ERROR), 0);
    unit.writeLine("quit");
}
