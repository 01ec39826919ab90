// The firmware update window's unit rows: the state tables, texts, progress
// and blinking on a drawn row, and the connection retries against the
// scripted unit on loopback. Log lines are read back from the log file.
#include "app/app_log.h"
#include "tests/support/gui/gui_support.h"
#include "tests/ui/fwupdate_ui/fwscp_bed.h"
#include "ui/fwupdate_ui/fw_deviceobject.h"

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>
#include <vector>

namespace {

using namespace Quil;
using fwscptest::operator+;

const QString kModel = QStringLiteral("       Model : ");
const QString kDante = QStringLiteral("       Dante : ");

class FirmRow : public fwscptest::Bed {
protected:
    void SetUp() override
    {
        Bed::SetUp();
        appLogSetPath(log.file("AppLog.log").c_str());
        appLogReset();
    }
    void TearDown() override
    {
        row.reset();
        unit.reset();
        Bed::TearDown();
    }
    DeviceObject& linked(const std::vector<std::string>& script, DeviceObjectTimings timings = {})
    {
        unit = std::make_unique<fwscptest::Unit>(script);
        EXPECT_NE(unit->port(), 0);
        timings.blinkMs = blinkMs;
        row = std::make_unique<DeviceObject>(0, 1, timings);
        row->setDiscoveryData("svc", "BroxL-D", 5, unit->port(), "127.0.0.1", "127.0.0.1");
        QObject::connect(row.get(), &DeviceObject::connectedDeviceObj, [this](uint) { ++connected; });
        QObject::connect(row.get(), &DeviceObject::disconnectedDeviceObj, [this](uint) { ++disconnected; });
        EXPECT_EQ(row->createConnection(), 0);
        EXPECT_EQ(row->createConnection(), DEVOBJ_E_FAIL);
        return *row;
    }
    int count(const std::string& line)
    {
        int n = 0;
        for (const std::string& l : logLines())
            n += l == line;
        return n;
    }
    DeviceObject& make(uint id = 0, DeviceObjectTimings timings = {})
    {
        timings.blinkMs = blinkMs;
        row = std::make_unique<DeviceObject>(id, 1, timings);
        row->setDiscoveryData("svc", "BroxL-D", 5, 0, "127.0.0.1", "127.0.0.1");
        row->makeRow(&parent);
        appLogReset();
        return *row;
    }
    std::vector<std::string> logLines()
    {
        std::vector<std::string> lines;
        std::ifstream in(appLogPath());
        for (std::string l; std::getline(in, l);)
            lines.push_back(l);
        return lines;
    }
    template <class T> T* w(const char* name) { return row->rowFrame()->findChild<T*>(QString::fromLatin1(name)); }
    QString text(const char* name) { return w<QLabel>(name)->text(); }

    static constexpr int blinkMs = 40;
    qtest::TempDir log;
    QWidget parent;
    std::unique_ptr<DeviceObject> row;
    std::unique_ptr<fwscptest::Unit> unit;
    int connected = 0;
    int disconnected = 0;
};

// Puts a side into an update state through allowed changes only.
void reach(DeviceObject& r, bool dante, int state)
{
    if (dante)
        r.setDanteUpdateState(DeviceObject::Waiting), r.setDanteUpdateState(state);
    else
        r.setModelUpdateState(DeviceObject::Waiting), r.setModelUpdateState(state);
}

struct Texts {
    const char* update;
    const char* status;
    bool bar;
};
const Texts kTexts[] = {{"", "", false}, {"Waiting", "", false}, {"Cancelled", "", false},
    {"Updating", "Erasing", true}, {"Updating", "Transferring", true}, {"Updating", "Writing", true},
    {"Finished", "", false}, {"Failed", "", false}, {"Completed", "", false}, {"See Note.", "", false}};

TEST_F(FirmRow, UpdateStateTablesFromEveryStateToEveryState)
{
    for (bool dante : {false, true}) {
        const int count = dante ? 9 : 10;
        const char* side = dante ? "DANTE" : "MODEL";
        for (int from = 0; from < count; ++from) {
            for (int to = 0; to < count; ++to) {
                SCOPED_TRACE(std::string(side) + " " + std::to_string(from) + " -> " + std::to_string(to));
                DeviceObject& r = make();
                r.setDanteModule("Brooklyn-3");
                reach(r, dante, from);
                ASSERT_EQ(dante ? r.danteUpdateState() : r.modelUpdateState(), from);
                appLogReset();
                bool allowed = true;
                if (to == DeviceObject::Cancelled)
                    allowed = from == DeviceObject::Waiting;
                else if (!dante && to == DeviceObject::Erasing)
                    allowed = from == DeviceObject::Waiting;
                else if (!dante && to == DeviceObject::Writing)
                    allowed = from == DeviceObject::Waiting || from == DeviceObject::Transferring;
                const JResult rc = dante ? r.setDanteUpdateState(to) : r.setModelUpdateState(to);
                const int now = dante ? r.danteUpdateState() : r.modelUpdateState();
                const int shown = allowed ? to : from;
                const std::string k = dante ? "dante" : "model";
                EXPECT_EQ(text((k + "Update").c_str()).toStdString(), kTexts[shown].update);
                const std::string status = dante && shown == 0 ? "Brooklyn-3" : kTexts[shown].status;
                EXPECT_EQ(text((k + "Status").c_str()).toStdString(), status);
                EXPECT_EQ(w<QProgressBar>((k + "Bar").c_str())->isVisibleTo(row->rowFrame()), kTexts[shown].bar);
                char line[96];
                if (allowed) {
                    EXPECT_EQ(rc, 0);
                    EXPECT_EQ(now, to);
                    snprintf(
                        line, sizeof line, "###### DEVICE OBJECT #5  : %s UPDATE STATE CHANGED : %d ######", side, to);
                    EXPECT_EQ(logLines(), (std::vector<std::string>{"###################################", line}));
                } else {
                    EXPECT_EQ(rc, DEVOBJ_E_FAIL);
                    EXPECT_EQ(now, from);
                    snprintf(line, sizeof line, "[ERROR] ###### DEVICE OBJECT #5  : %s UPDATE STATE CHANGE : %d ######",
                        side, to);
                    EXPECT_EQ(logLines(), (std::vector<std::string>{"!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!", line}));
                }
                if (dante && allowed && to == DeviceObject::Writing) {
                    EXPECT_EQ(w<QProgressBar>("danteBar")->maximum(), 100);
                }
            }
        }
    }
    // Out of range for each side.
    DeviceObject& r = make();
    EXPECT_EQ(r.setModelUpdateState(10), DEVOBJ_E_FAIL);
    EXPECT_EQ(r.setDanteUpdateState(9), DEVOBJ_E_FAIL);
}

TEST_F(FirmRow, SettersBeforeTheRowIsMadeFail)
{
    DeviceObject r(0, 1);
    EXPECT_EQ(r.setModelState(3), DEVOBJ_E_FAIL);
    EXPECT_EQ(r.setDanteState(3), DEVOBJ_E_FAIL);
    EXPECT_EQ(r.setModelUpdateState(1), DEVOBJ_E_FAIL);
    EXPECT_EQ(r.setDanteUpdateState(1), DEVOBJ_E_FAIL);
    EXPECT_EQ(r.showDanteProgress(5), DEVOBJ_E_FAIL);
    EXPECT_EQ(r.dropConnection(), DEVOBJ_E_FAIL);
    EXPECT_FALSE(r.modelChecked());
    EXPECT_FALSE(r.danteChecked());
    EXPECT_EQ(r.makeRow(nullptr), nullptr);
}

TEST_F(FirmRow, AnalysisStatesSetLabelsTickBoxesAndBlinking)
{
    const struct {
        int state;
        bool updatable;
        bool version;
        const char* model;
        const char* dante;
        bool modelEnabled;
        bool danteEnabled;
        bool keepsTick;
        bool modelBlinks;
        bool danteBlinks;
    } cases[] = {
        {0, true, true, "", "", false, false, true, false, false},
        {1, true, true, "       Disconnected", "       Disconnected", false, false, true, false, false},
        {2, true, true, "Analyzing", "Analyzing", false, false, true, true, false},
        {3, true, true, "V1.0", "D4.2", true, true, true, false, false},
        {3, true, false, "", "", false, true, true, false, false},
        {3, false, true, "V1.0", "D4.2", false, false, false, false, false},
        {4, true, true, "V1.0", "D4.2", false, false, true, true, true},
        {5, true, true, "", "", false, false, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("state " + std::to_string(c.state) + (c.updatable ? "" : " not updatable")
            + (c.version ? "" : " no version"));
        DeviceObject& r = make();
        r.setUpdatable(c.updatable);
        r.setModelVersion(c.version ? "V1.0" : "", "V1.1", -1);
        r.setDanteVersion(c.version ? "D4.2" : "", -1);
        w<QCheckBox>("modelCheck")->setChecked(true);
        w<QCheckBox>("danteCheck")->setChecked(true);
        int changes = 0;
        QObject::connect(&r, &DeviceObject::updateStateChanged, [&](int n) { changes += n == 5; });
        ASSERT_EQ(r.setModelState(c.state), 0);
        ASSERT_EQ(r.setDanteState(c.state), 0);
        EXPECT_EQ(changes, 2);
        const auto expected = [&](const QString& prefix, const char* t) {
            return c.state >= 2 ? prefix + QString::fromLatin1(t) : QString::fromLatin1(t);
        };
        EXPECT_EQ(text("modelState"), expected(kModel, c.model));
        EXPECT_EQ(text("danteState"), expected(kDante, c.dante));
        EXPECT_EQ(w<QCheckBox>("modelCheck")->isEnabled(), c.modelEnabled);
        EXPECT_EQ(w<QCheckBox>("danteCheck")->isEnabled(), c.danteEnabled);
        EXPECT_EQ(r.modelChecked(), c.keepsTick);
        EXPECT_EQ(r.danteChecked(), c.keepsTick);
        EXPECT_EQ(r.modelState(), c.state);
        // A blinking status label shows and hides by turns.
        QLabel* model = w<QLabel>("modelStatus");
        QLabel* dante = w<QLabel>("danteStatus");
        EXPECT_FALSE(model->isVisibleTo(row->rowFrame()));
        EXPECT_FALSE(dante->isVisibleTo(row->rowFrame()));
        bool modelShown = false;
        bool danteShown = false;
        qtest::waitUntil(
            [&] {
                modelShown |= model->isVisibleTo(row->rowFrame());
                danteShown |= dante->isVisibleTo(row->rowFrame());
                return false;
            },
            blinkMs * 4);
        EXPECT_EQ(modelShown, c.modelBlinks);
        EXPECT_EQ(danteShown, c.danteBlinks);
    }
    auto lines = logLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 1], "###### DEVICE OBJECT #5  : DANTE STATE CHANGED : 5 ######");
    EXPECT_EQ(lines[lines.size() - 3], "###### DEVICE OBJECT #5  : MODEL STATE CHANGED : 5 ######");
    EXPECT_EQ(row->setModelState(6), DEVOBJ_E_FAIL);
}

TEST_F(FirmRow, BlinkingTogglesEveryIntervalAndStopsHidden)
{
    DeviceObject& r = make();
    r.setModelState(DeviceObject::Analyzing);
    QLabel* status = w<QLabel>("modelStatus");
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(qtest::waitUntil([&] { return status->isVisibleTo(row->rowFrame()); }, 1000));
        ASSERT_TRUE(qtest::waitUntil([&] { return !status->isVisibleTo(row->rowFrame()); }, 1000));
    }
    ASSERT_TRUE(qtest::waitUntil([&] { return status->isVisibleTo(row->rowFrame()); }, 1000));
    r.setModelState(DeviceObject::Analyzed);
    EXPECT_FALSE(status->isVisibleTo(row->rowFrame()));
    QTest::qWait(blinkMs * 3);
    EXPECT_FALSE(status->isVisibleTo(row->rowFrame()));
}

TEST_F(FirmRow, VersionsAnalysisPrepareCancelAndEnd)
{
    // Relation: ticked, update label afterwards.
    const struct {
        const char* version;
        int relation;
        int updateBefore;
        bool ticked;
        const char* shown;
        const char* update;
        JResult rc;
    } cases[] = {
        {"V2.0", 1, 0, true, "V2.0", "", 0},
        {"V2.0", 1, DeviceObject::Finished, false, "V2.0", "Finished", 0},
        {"V2.0", 0, 0, false, "V2.0", "", 0},
        {"V2.0", 0, DeviceObject::Finished, false, "V2.0", "Completed", 0},
        {"V2.0", -1, 0, false, "V2.0", "", 0},
        {"V2.0", 7, 0, false, "V2.0", "", DEVOBJ_E_FAIL},
        {"ERROR!", 1, 0, true, "----", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.version) + " relation " + std::to_string(c.relation));
        DeviceObject& r = make();
        r.setModelUpdateState(c.updateBefore);
        EXPECT_EQ(r.setModelVersion(c.version, "V2.1", c.relation), c.rc);
        EXPECT_EQ(r.modelChecked(), c.ticked);
        EXPECT_EQ(r.packageVersion(), "V2.1");
        EXPECT_EQ(text("modelUpdate").toStdString(), c.update);
        const bool finished = r.modelUpdateState() == DeviceObject::Finished;
        r.modelAnalyzed(true);
        EXPECT_EQ(r.modelState(), finished ? DeviceObject::Done : DeviceObject::Analyzed);
        EXPECT_EQ(text("modelState"), kModel + (finished ? "" : c.shown));
    }

    // A run: analysed, prepared, cancelled while waiting, ended.
    DeviceObject& r = make();
    r.setModelVersion("V1.0", "V2.0", 1);
    EXPECT_EQ(r.prepareModelUpdate(), DEVOBJ_E_FAIL); // not analysed yet
    r.modelAnalyzed(true);
    EXPECT_TRUE(r.modelChecked());
    EXPECT_EQ(r.prepareModelUpdate(), 0);
    EXPECT_EQ(r.modelState(), DeviceObject::Updating);
    EXPECT_EQ(text("modelUpdate"), "Waiting");
    EXPECT_EQ(r.cancelModelWaiting(), 0);
    EXPECT_EQ(text("modelUpdate"), "Cancelled");
    EXPECT_EQ(r.cancelModelWaiting(), DEVOBJ_E_FAIL);
    EXPECT_EQ(r.endModelRun(), 0);
    EXPECT_EQ(r.modelState(), DeviceObject::Analyzed);

    // The Dante side: cancel is logged, Finished ends in Done.
    r.setDanteVersion("D1", 1);
    r.danteAnalyzed(true);
    ASSERT_EQ(r.prepareDanteUpdate(), 0);
    appLogReset();
    EXPECT_EQ(r.cancelDanteWaiting(), 0);
    EXPECT_EQ(logLines().front(), "dante update canceled");
    r.setDanteUpdateState(DeviceObject::Finished);
    EXPECT_EQ(r.endDanteRun(), 0);
    EXPECT_EQ(r.danteState(), DeviceObject::Done);
    EXPECT_EQ(r.endDanteRun(), DEVOBJ_E_FAIL);

    // A failed analysis empties the version and locks the box.
    r.modelAnalyzed(false);
    EXPECT_EQ(text("modelState"), kModel);
    EXPECT_FALSE(w<QCheckBox>("modelCheck")->isEnabled());
    r.markDanteUnavailable();
    EXPECT_TRUE(r.danteVersion().isEmpty());
    EXPECT_FALSE(r.danteChecked());
    EXPECT_TRUE(r.isSelectable(false));
    EXPECT_TRUE(r.isSelectable(true));
    r.setDanteState(DeviceObject::Analyzing);
    EXPECT_FALSE(r.isSelectable(true));
}

TEST_F(FirmRow, TickBoxesTakeClicksOnlyWhenEnabled)
{
    DeviceObject& r = make();
    ASSERT_TRUE(qtest::showAndWait(&parent));
    std::vector<int> changes;
    QObject::connect(&r, &DeviceObject::updateStateChanged, [&](int v) { changes.push_back(v); });
    auto* model = w<QCheckBox>("modelCheck");
    auto* dante = w<QCheckBox>("danteCheck");
    QTest::mouseClick(model, Qt::LeftButton, {}, QPoint(6, model->height() / 2));
    EXPECT_FALSE(r.modelChecked()); // disabled until analysed
    r.setModelVersion("V1.0", "V1.0", 0);
    r.modelAnalyzed(true);
    r.danteAnalyzed(true);
    changes.clear();
    QTest::mouseClick(model, Qt::LeftButton, {}, QPoint(6, model->height() / 2));
    EXPECT_TRUE(r.modelChecked());
    QTest::mouseClick(dante, Qt::LeftButton, {}, QPoint(6, dante->height() / 2));
    EXPECT_TRUE(r.danteChecked());
    QTest::mouseClick(model, Qt::LeftButton, {}, QPoint(6, model->height() / 2));
    EXPECT_FALSE(r.modelChecked());
    // Each tick change is passed on as the check box's own signal.
    EXPECT_EQ(changes, (std::vector<int>{Qt::Checked, Qt::Checked, Qt::Unchecked}));
    EXPECT_TRUE(r.isSelectable(true));
}

TEST_F(FirmRow, ModelProgressFromTheUnit)
{
    DeviceObject& r = make();
    r.setModelUpdateState(DeviceObject::Waiting);
    r.dispTransferProgress_model(49);
    EXPECT_EQ(text("modelStatus"), "Erasing");
    EXPECT_EQ(w<QProgressBar>("modelBar")->value(), 49);
    // Writing cannot follow Erasing.
    r.showModelWriteProgress(60);
    EXPECT_EQ(text("modelStatus"), "Erasing");
    r.dispTransferProgress_model(50);
    EXPECT_EQ(text("modelStatus"), "Transferring");
    r.showModelWriteProgress(70);
    EXPECT_EQ(text("modelStatus"), "Writing");
    EXPECT_EQ(w<QProgressBar>("modelBar")->value(), 70);
}

TEST_F(FirmRow, DanteProgressWithoutAMaximumAndWithALargeFile)
{
    DeviceObject& r = make();
    r.setDanteUpdateState(DeviceObject::Transferring);
    r.setDanteProgressMaximum(0);
    // No maximum: nothing to divide by.
    EXPECT_EQ(r.showDanteProgress(1000), 0);
    r.setDanteProgressMaximum(24 << 20);
    EXPECT_EQ(r.showDanteProgress(12 << 20), 0);
    EXPECT_EQ(w<QProgressBar>("danteBar")->value(), 12 << 20);
}

// ---------------------------------------------------------------------------
// Against the scripted unit.

TEST_F(FirmRow, AnsweringUnitConnectsAndTakesProgress)
{
    DeviceObject& r = linked(fwscptest::unitAnswers() + std::vector<std::string>{"serve scpmode", "serve 8000"});
    ASSERT_EQ(r.connect(), 0);
    ASSERT_TRUE(qtest::waitUntil([&] { return connected == 1; }));
    EXPECT_EQ(r.deviceName(), "Stage A");
    EXPECT_TRUE(r.isAssociated());
    EXPECT_EQ(count("scpConnected 0"), 1);
    EXPECT_EQ(count("scpAssociated 0"), 1);

    r.makeRow(&parent);
    EXPECT_EQ(text("name"), "Stage A");
    r.setDanteUpdateState(DeviceObject::Transferring);
    r.setDanteProgressMaximum(24 << 20);
    // 22 MiB of 24: 91 %, half of it sent (value x 100 needs more than 32 bits).
    r.showDanteProgress(22 << 20);
    r.showDanteProgress((22 << 20) + 1); // the same percentage: nothing sent
    r.setDanteUpdateState(DeviceObject::Writing);
    r.showDanteProgress(40); // 40 / 2 + 50
    r.setDanteUpdateState(DeviceObject::Finished);
    const std::string prefix = "LINE set|IO:Current/Dev/QuillonDanteUpdateProgress|0|0|";
    ASSERT_TRUE(unit->saw(prefix + "100"));
    std::vector<std::string> sent;
    for (const std::string& l : unit->transcript())
        if (l.rfind(prefix, 0) == 0)
            sent.push_back(l.substr(prefix.size()));
    EXPECT_EQ(sent, (std::vector<std::string>{"45", "70", "100"}));

    // Dropped: the unit keeps its row, shown disconnected, and no news of
    // the connection's end reaches the window.
    EXPECT_EQ(r.dropConnection(), 0);
    EXPECT_EQ(r.connection(), nullptr);
    EXPECT_FALSE(r.isAssociated());
    EXPECT_EQ(r.modelState(), DeviceObject::Disconnected);
    EXPECT_EQ(text("danteState"), "       Disconnected");
    EXPECT_EQ(r.sendDanteProgress(1), DEVOBJ_E_FAIL);
    EXPECT_TRUE(unit->saw("GONE"));
    QTest::qWait(200);
    EXPECT_EQ(disconnected, 0);
}

TEST_F(FirmRow, ModeAnswerIsPassedOnOnlyForTheRowsOwnQuery)
{
    DeviceObject& r = linked(fwscptest::unitAnswers() + std::vector<std::string>{"serve scpmode", "serve 8000"});
    ASSERT_EQ(r.connect(), 0);
    ASSERT_TRUE(qtest::waitUntil([&] { return connected == 1; }));
    // The window's answer: a unit in update mode is switched off, one out
    // of it switched on.
    int answers = 0;
    QObject::connect(&r, &DeviceObject::receiveFWUpdatemode, [&](uint, bool on) {
        ++answers;
        r.setUpdateMode(!on);
    });
    std::vector<bool> changes;
    QObject::connect(&r, &DeviceObject::receiveFWUpdatemodeChanged, [&](uint, bool on) { changes.push_back(on); });
    ASSERT_EQ(r.setUpdateMode(false), 0);
    ASSERT_TRUE(qtest::waitUntil([&] { return changes.size() == 1; }));
    ASSERT_EQ(r.queryUpdateMode(), 0);
    ASSERT_TRUE(qtest::waitUntil([&] { return changes.size() == 2; }));
    QTest::qWait(500);
    EXPECT_EQ(answers, 1);
    EXPECT_EQ(changes, (std::vector<bool>{false, true}));
    EXPECT_EQ(unit->count("LINE set|IO:Current/Dev/QuillonFWUpdateMode|0|0|0"), 1);
    EXPECT_EQ(unit->count("LINE set|IO:Current/Dev/QuillonFWUpdateMode|0|0|1"), 1);
}

TEST_F(FirmRow, SilentUnitIsRetriedThreeTimesThenGivenUp)
{
    DeviceObjectTimings t;
    // Long enough for a loaded machine to finish each TCP connect first.
    t.connectionMs = 800;
    DeviceObject& r = linked({"stall", "accept", "stall", "accept", "stall", "accept", "stall"}, t);
    ASSERT_EQ(r.connect(), 0);
    ASSERT_TRUE(qtest::waitUntil([&] { return disconnected == 1; }, 15000));
    QTest::qWait(800);
    EXPECT_EQ(disconnected, 1);
    EXPECT_EQ(connected, 0);
    EXPECT_EQ(count("scpConnected 0"), 4);
    EXPECT_EQ(count("scpDisconnected 0"), 3);
    // The unit prints what it read on its own time.
    EXPECT_TRUE(unit->saw("LINE devstatus|runmode", 4));
    EXPECT_EQ(unit->count("LINE devstatus|runmode"), 4);
}

// Out of sockets at a retry: the connect fails at once, so no link is left
// whose closing would take the next try. The row still spends its tries and
// gives up, instead of waiting for ever.
TEST_F(FirmRow, RetriesWithoutAFreeSocketStillEnd)
{
    DeviceObjectTimings t;
    t.connectionMs = 300;
    DeviceObject& r = linked({"stall", "accept", "stall", "accept", "stall", "accept", "stall"}, t);
    ASSERT_EQ(r.connect(), 0);
    // A taker holds every socket of the service, and takes each one the
    // row's link gives back long before the row's retry comes for it.
    const VSockEventOptions options{VSOCK_EVF_DELIVER, [](int, const VSockEvent*, void*) {}, nullptr};
    VSockOpenParams params{};
    params.mode = VSOCK_MODE_DATAGRAM;
    params.local.address.family = VSOCK_FAMILY_IPV4;
    std::vector<int> held;
    std::atomic<bool> stop{false};
    std::thread taker([&] {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!stop && std::chrono::steady_clock::now() < until) {
            const VSockResult id = vsock_open(&params, &options);
            if (id >= 0)
                held.push_back(id);
            else
                std::this_thread::yield();
        }
    });
    const bool gaveUp = qtest::waitUntil([&] { return disconnected == 1; }, 8000);
    stop = true;
    taker.join();
    for (int id : held)
        vsock_close(id);
    EXPECT_TRUE(gaveUp);
    EXPECT_EQ(connected, 0);
}

TEST_F(FirmRow, UnitWithoutANameIsNotReportedConnected)
{
    std::vector<std::string> script = fwscptest::unitAnswers();
    script.erase(std::find(script.begin(), script.end(), "answer devicename Stage A"));
    DeviceObject& r = linked(script + std::vector<std::string>{"serve scpmode", "serve 5000"});
    ASSERT_EQ(r.connect(), 0);
    ASSERT_TRUE(qtest::waitUntil([&] { return count("!!! devicename Err 0") == 1; }));
    QTest::qWait(200);
    EXPECT_EQ(connected, 0);
    EXPECT_TRUE(r.isAssociated());
}

TEST_F(FirmRow, RowDeletedWhileConnectingLeavesNothingRunning)
{
    DeviceObject& r = linked({"stall"});
    ASSERT_EQ(r.connect(), 0);
    QPointer<ScpClientThread_fwUpdate> thread = r.connection();
    ASSERT_TRUE(thread->isRunning());
    row.reset();
    EXPECT_TRUE(thread.isNull());
    QTest::qWait(300);
    EXPECT_EQ(connected + disconnected, 0);
}

TEST_F(FirmRow, ModeAndDanteTimeoutsReachTheWindow)
{
    DeviceObjectTimings t;
    t.updateModeMs = 150;
    // The first mode set is answered without the unit's runmode report.
    DeviceObject& r = linked(fwscptest::unitAnswers()
            + std::vector<std::string>{"serve scpmode", "wait set",
                "send OK set IO:Current/Dev/QuillonFWUpdateMode 0 0 1\\n", "serve 8000"},
        t);
    std::vector<std::string> events;
    QObject::connect(&r, &DeviceObject::timeoutFWUpdatemodeReceive,
        [&](uint id) { events.push_back("mode timeout " + std::to_string(id)); });
    QObject::connect(&r, &DeviceObject::receiveFWUpdatemodeChanged,
        [&](uint, bool on) { events.push_back(on ? "runmode on" : "runmode off"); });
    QObject::connect(&r, &DeviceObject::danteUpdateFailedByDfa,
        [&](uint32_t id) { events.push_back("dante timeout " + std::to_string(id)); });
    ASSERT_EQ(r.connect(), 0);
    ASSERT_TRUE(qtest::waitUntil([&] { return connected == 1; }));
    events.clear(); // the runmode of the negotiation
    ASSERT_EQ(r.setUpdateMode(true), 0);
    ASSERT_TRUE(qtest::waitUntil([&] { return !events.empty(); }));
    EXPECT_EQ(events, std::vector<std::string>{"mode timeout 0"});
    // Answered with a runmode report: the timer stops.
    ASSERT_EQ(r.setUpdateMode(true), 0);
    ASSERT_TRUE(qtest::waitUntil([&] { return events.size() == 2; }));
    QTest::qWait(400);
    EXPECT_EQ(events, (std::vector<std::string>{"mode timeout 0", "runmode on"}));

    r.startDanteTimeout(50);
    ASSERT_TRUE(qtest::waitUntil([&] { return events.size() == 3; }));
    EXPECT_EQ(events.back(), "dante timeout 0");
    r.startDanteTimeout(50);
    r.stopDanteTimeout();
    QTest::qWait(200);
    EXPECT_EQ(events.size(), 3u);
}

} // namespace
