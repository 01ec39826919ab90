// The Mavik model updater: the version relation, package loading through
// init, the report kinds on their way to the window, and rows updated
// through the real manager, document and sessions.
#include "ui/fwupdate_ui/fw_mavikupdater.h"

#include "tests/fwupdate/workgroup/wg_fixture.h"
#include "tests/fwupdate/workgroup/wg_session_fixture.h"

#include "app/app_log.h"
#include "device/layouts/dev_modeltypes.h"
#include "fwupdate/workgroup/wg_document.h"
#include "tests/support/netns.h"
#include "tests/support/test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <net/if.h>

#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace Quil;
using Calls = std::vector<std::pair<uint32_t, uint32_t>>;

QCoreApplication& app()
{
    static int argc = 1;
    static char name[] = "test_mavik_updater";
    static char* argv[] = {name, nullptr};
    // Qt's own event dispatcher in every thread: glib's hands data between
    // threads on locks the race detector cannot see.
    qputenv("QT_NO_GLIB", "1");
    static QCoreApplication* instance = new QCoreApplication(argc, argv);
    return *instance;
}

constexpr char kUnit1[] = "J001-Valdor-Mavik-D-A1B2C3";
constexpr char kUnit2[] = "J001-Valdor-Mavik-D-A1B2C4";
constexpr uint64_t kDev1 = 0xa1b2c3d4e5f60000ull;
constexpr uint64_t kDev2 = 0xa1b2c3d4e5f70000ull;

// The window: rows by device name, every callback recorded; a row answers
// its unit-id lookup only while it analyses.
class Window : public IModelUICallback {
public:
    std::map<uint32_t, std::string> rows;
    std::map<uint32_t, bool> analysing;
    Calls calls;

    void modelCallback(uint32_t kind, uint32_t unitId) override { calls.emplace_back(kind, unitId); }
    int32_t deviceName(uint32_t unitId, char* name) override
    {
        auto it = rows.find(unitId);
        if (it == rows.end())
            return static_cast<int32_t>(0x80000000u);
        std::memcpy(name, it->second.c_str(), it->second.size() + 1);
        return 0;
    }
    bool unitIdOf(const char* name, uint32_t* unitId) override
    {
        for (const auto& r : rows)
            if (r.second == name && analysing[r.first]) {
                *unitId = r.first;
                return true;
            }
        return false;
    }
    int count(uint32_t kind, uint32_t unitId) const
    {
        int n = 0;
        for (const auto& c : calls)
            n += c == std::make_pair(kind, unitId);
        return n;
    }
};

std::string description(const std::string& version)
{
    const std::string attr = version.empty() ? "" : "<UPDATE_PACKAGE_VERSION VALUE=\"" + version + "\"/>";
    return "<MAVIK-D>\n<ATTRIBUTE>" + attr + "<REBOOT_AFTER_UPDATE VALUE=\"1\"/></ATTRIBUTE>\n</MAVIK-D>\n";
}

// A zip made by python's zipfile from name -> bytes.
QString makePackage(
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
    return QString::fromStdString(zip);
}

class Env {
public:
    Env(const char* name, const QByteArray& value)
        : m_name(name)
        , m_old(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~Env() { qputenv(m_name, m_old); }

private:
    const char* m_name;
    QByteArray m_old;
};

void pumpFor(int ms)
{
    app();
    wgtest::pumpFor(ms);
}

} // namespace

TEST(MavikUpdaterRelation, UnitAgainstPackage)
{
    struct Case {
        const char* unit;
        const char* package;
        int32_t relation;
    } cases[] = {
        {"V201a", "2.01", 0}, {"V201a", "2.1", 0}, // minors are numbers
        {"V201a", "10.05", 1}, // the whole major, not "10.0"
        {"V201a", "2.00", -1}, {"V1099a", "10.99", 0}, {"V1099a", "9.99", -1}, {"V005a", "0.06", 1}, {"", "1.00", 1},
        {"V201a", "", -1}, {"V99999999999999999999999a", "1.0", 1}, // too long to read: 0
    };
    for (const Case& c : cases)
        EXPECT_EQ(mavikVersionRelation(c.unit, c.package), c.relation) << c.unit << " / " << c.package;
}

TEST(MavikUpdaterInit, PackageLoadedOrOneErrorAtIndexZero)
{
    app();
    QTemporaryDir dir;
    QTemporaryDir tmp;
    Env t("TMPDIR", tmp.path().toLocal8Bit());
    qtest::writeFile(dir.filePath("blocker").toStdString(), "x");
    const QByteArray blocked = dir.filePath("blocker/x").toLocal8Bit();
    struct Case {
        const char* what;
        QString zip;
        bool blockFolders;
        int32_t result;
    } cases[] = {
        {"good", makePackage(dir, "good", {{"updater_contents.xml", description("2.01")}}), false, 0},
        {"no version", makePackage(dir, "nover", {{"updater_contents.xml", description("")}}), false,
            static_cast<int32_t>(0x80000000u)},
        {"no writable folder", makePackage(dir, "nofolder", {{"updater_contents.xml", description("2.01")}}), true,
            static_cast<int32_t>(0x80000000u)},
        {"missing file", dir.filePath("missing.zip"), false, static_cast<int32_t>(0x80000000u)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Env t2("TMPDIR", c.blockFolders ? blocked : tmp.path().toLocal8Bit());
        Env h("HOME", c.blockFolders ? blocked : tmp.path().toLocal8Bit());
        Window window;
        ModelFirmUpdater_Mavik updater;
        EXPECT_EQ(updater.init(&window, "198.18.0.1", c.zip, 6, "2.01"), c.result);
        pumpFor(100);
        EXPECT_EQ(window.calls, c.result == 0 ? Calls{} : Calls(1, {MODEL_CB_ERROR, 0}));
        if (c.result != 0) {
            EXPECT_TRUE(QDir(tmp.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
        }
    }
    EXPECT_TRUE(QDir(tmp.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty())
        << "no extraction folder survives its updater";
}

TEST(MavikUpdaterCallbacks, KindsReachTheWindowMappedAndLogged)
{
    app();
    QTemporaryDir dir;
    Env t("TMPDIR", dir.path().toLocal8Bit());
    const QString log = dir.filePath("quillon.log");
    ASSERT_EQ(appLogSetPath(log.toLocal8Bit().constData()), APPLOG_OK);
    Window window;
    ModelFirmUpdater_Mavik updater;
    ASSERT_EQ(
        updater.init(&window, "", makePackage(dir, "p", {{"updater_contents.xml", description("2.01")}}), 6, ""), 0);
    for (uint32_t kind = 0; kind <= 5; ++kind)
        updater.appCallback_devID(kind, 3);
    EXPECT_TRUE(window.calls.empty()) << "reports reach the window through the event loop";
    pumpFor(50);
    EXPECT_EQ(window.calls,
        (Calls{
            {MODEL_CB_WAITING_START, 3}, {MODEL_CB_WRITING_PROGRESS, 3}, {MODEL_CB_FINISHED, 3}, {MODEL_CB_ERROR, 3}}));
    const std::string text = qtest::readFile(log.toStdString());
    for (const char* line : {"Mavik MFU_CALLBACK_WAITING_START : index 3", "Mavik MFU_CALLBACK_PROGRESS : index 3",
             "Mavik MFU_CALLBACK_FINISH : index 3", "Mavik MFU_CALLBACK_ERROR : index 3"})
        EXPECT_NE(text.find(line), std::string::npos) << line;

    // One waiting-start flag serves every row.
    EXPECT_EQ(updater.prepare(0, ""), 0);
    EXPECT_EQ(updater.prepare(1, ""), 0);
    EXPECT_EQ(updater.engine()->setWaitingStart(), MAVIK_E_FAIL);
    updater.setupFinished();
    EXPECT_EQ(updater.engine()->setWaitingStart(), 0);
    int32_t value = -1;
    EXPECT_EQ(updater.transferPercent(0, &value), 0);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(updater.versionError(0), 0);
    updater.releaseEngine();
    EXPECT_EQ(updater.prepare(0, ""), static_cast<int32_t>(0x80000000u));
    EXPECT_EQ(updater.versionRelation(0), -1);
}

namespace {

struct Beat {
    uint64_t dev = kDev1;
    uint64_t held = 0;
    uint16_t status = 1;
    uint16_t port = 0;
    uint32_t scope = 0;
    std::string id = kUnit1;
    WG::HeartbeatInfo record() const
    {
        WG::HeartbeatInfo r;
        r.deviceId = dev;
        r.mac = dev >> 16;
        r.modelCode = MAVIK_MODEL_CODE;
        r.workgroupId = held;
        r.statusWord = status;
        r.sessionPort = port;
        r.value28 = 0x02010000;
        r.announcedWord = 300;
        r.scopeId = scope;
        r.addressText = "0000:0000:0000:0000:0000:0000:0000:0001";
        r.deviceIdText = QString::fromStdString(id);
        return r;
    }
};

} // namespace

TEST(MavikUpdaterRun, TwoRowsWaitThenOneIsUpdated)
{
    QTEST_IN_NETNS();
    qtest::NetnsBed bed;
    ASSERT_TRUE(bed.ready()) << bed.error();
    app();
    mavikManagerTimes().tickMs = 50;
    wgtest::ShortWaits waits(300);
    QTemporaryDir dir;
    Env t("TMPDIR", dir.path().toLocal8Bit());
    Window window;
    window.rows = {{0, kUnit1}, {1, kUnit2}};
    ModelFirmUpdater_Mavik updater;
    ASSERT_EQ(updater.init(&window, "198.18.0.1",
                  makePackage(dir, "fw", {{"updater_contents.xml", description("10.05")}, {"main.bin", "firmware"}}),
                  MODEL_MAVIK_D, "10.05"),
        0);
    ASSERT_TRUE(wgtest::pumpUntil([&] { return updater.engine()->document() != nullptr; }));
    WG::WorkgroupManagerDoc& doc = *updater.engine()->document();
    wgtest::Unit unit1({}, kDev1);
    wgtest::Unit unit2({}, kDev2);
    const uint32_t scope = if_nametoindex(qtest::NetnsBed::kLocalInterface);
    std::vector<Beat> beats(2);
    beats[0].port = static_cast<uint16_t>(unit1.port);
    beats[1] = {kDev2, 0, 1, static_cast<uint16_t>(unit2.port), scope, kUnit2};
    beats[0].scope = scope;
    const auto beating = [&](auto pred, int ms = 5000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!pred()) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            for (const Beat& b : beats)
                doc.onHeartbeat(b.record());
            wgtest::pumpFor(20);
        }
        return true;
    };
    beating([] { return false; }, 100);

    // Both rows analyse: each gets its waiting-start and its version.
    window.analysing = {{0, true}, {1, true}};
    EXPECT_EQ(updater.prepare(0, ""), 0);
    EXPECT_EQ(updater.prepare(1, ""), 0);
    ASSERT_TRUE(beating(
        [&] { return window.count(MODEL_CB_WAITING_START, 0) > 0 && window.count(MODEL_CB_WAITING_START, 1) > 0; }));
    for (uint32_t row : {0u, 1u}) {
        EXPECT_EQ(updater.unitFirmwareVersion(row), "V201a");
        EXPECT_EQ(updater.versionRelation(row), 1) << "10.05 is newer than 2.01";
    }
    updater.setupFinished();
    window.analysing.clear();
    beating([] { return false; }, 100);
    window.calls.clear();

    // Row 1 is updated; row 0's unit is left alone.
    ASSERT_EQ(updater.startUpdate(1), 0);
    beats[1].status = 0;
    ASSERT_TRUE(beating([&] { return unit2.expect("MSG 1 1/15", 10); }));
    ASSERT_TRUE(beating([&] {
        for (const WG::WorkgroupMember& m : doc.snapshot(false))
            if (m.session)
                return true;
        return false;
    }));
    beats[1].status = 3;
    beats[1].held = doc.ownWorkgroupId();
    ASSERT_TRUE(beating([&] { return unit2.expect("MSG 1 3/0", 10); }));
    unit2.say("unit 3/1 b22=50");
    int32_t progress = 0;
    ASSERT_TRUE(beating([&] { return updater.overallProgress(&progress) == 0 && progress == 50; }));
    unit2.say("unit 3/3 result=0");
    ASSERT_TRUE(beating([&] { return window.count(MODEL_CB_FINISHED, 1) == 1; }));
    beating([] { return false; }, 300);
    EXPECT_EQ(window.count(MODEL_CB_FINISHED, 1), 1);
    EXPECT_EQ(window.count(MODEL_CB_ERROR, 1), 0);
    for (const auto& c : window.calls)
        EXPECT_EQ(c.second, 1u) << "reports carry the updated row";
    EXPECT_EQ(unit1.count("MSG", 100), 0) << unit1.messages();
    mavikManagerTimes() = MavikManagerTimes();
}
