// The update run of the firmware update window without units: job order,
// cancel, the end messages, the Dante time-out, late and repeated
// callbacks, progress and bad input.
#include "tests/ui/fwupdate_ui/run/firmrun_fixture.h"
#include "ui/fwupdate_ui/fw_updaterfactory.h"

#include <QCheckBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>

namespace {

using namespace Quil;
using firmrun::RunBed;

const FirmRunMessages& kMessages = firmRunMessages();

std::string seenLine(const FirmMessage& m)
{
    return (m.title + "|" + m.body + "\n").toStdString();
}

class FirmRun : public RunBed { };

TEST_F(FirmRun, JobsRunInRowOrderModelBeforeDanteAndEndCompleted)
{
    makeWindow();
    DeviceObject* a = addRow("unitA");
    DeviceObject* b = addRow("unitB");
    qtest::ModalDriver driver;
    driver.pressButton(QStringLiteral("OK"));
    start();
    EXPECT_FALSE(window->form().m_btnUpdate->isEnabled());
    EXPECT_TRUE(window->form().m_btnCancel->isEnabled());
    driveRun();
    ASSERT_TRUE(driver.waitAllAnswered());
    const std::vector<std::string> expected = {
        "======= updateStarted Model 0 ======", "======= updateStarted Dante 0 ======",
        "======= updateStarted Model 1 ======", "======= updateStarted Dante 1 ======", "======= updateEnd All ======"};
    EXPECT_EQ(runLines(), expected);
    EXPECT_EQ(script->starts, (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(messagesOf(driver), seenLine(kMessages.completed));
    EXPECT_EQ(seenLine(kMessages.completed), "UPDATE COMPLETED|Firmware update successfully completed.\n");
    for (DeviceObject* row : {a, b}) {
        EXPECT_EQ(row->modelState(), DeviceObject::Done);
        EXPECT_EQ(row->danteState(), DeviceObject::Done);
        EXPECT_EQ(row->modelUpdateState(), DeviceObject::Finished);
        EXPECT_EQ(row->danteUpdateState(), DeviceObject::Finished);
    }
    EXPECT_EQ(window->uiState(), FirmUpdateUI::UPDATE_UI_READY);
    EXPECT_EQ(window->jobIndex(), -1);
    EXPECT_FALSE(window->form().m_btnCancel->isEnabled());
}

// Cancel during A's model job: everything waiting is cancelled, A's model
// job runs on, and only its result decides the end message.
TEST_F(FirmRun, CancelLeavesTheRunningJobAndCancelsTheWaitingOnes)
{
    const struct {
        uint32_t kind;
        const FirmMessage* end;
        int modelState;
    } rows[] = {
        {MODEL_CB_FINISHED, &kMessages.completed, DeviceObject::Done},
        {MODEL_CB_ERROR, &kMessages.failed, DeviceObject::Analyzed},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.kind);
        makeWindow();
        DeviceObject* a = addRow("unitA");
        DeviceObject* b = addRow("unitB");
        start();
        ASSERT_EQ(window->runningSide(), FirmUpdateUI::RunSide::Model);
        log.clear();
        qtest::ModalDriver driver;
        driver.pressButton(QStringLiteral("Yes"));
        QTest::mouseClick(window->form().m_btnCancel, Qt::LeftButton);
        ASSERT_TRUE(driver.waitAllAnswered());
        EXPECT_FALSE(window->form().m_btnCancel->isEnabled());
        EXPECT_EQ(a->danteUpdateState(), DeviceObject::Cancelled);
        EXPECT_EQ(b->modelUpdateState(), DeviceObject::Cancelled);
        EXPECT_EQ(b->danteUpdateState(), DeviceObject::Cancelled);
        const auto lines = log.lines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "dante update canceled"), 2);
        EXPECT_EQ(window->runningSide(), FirmUpdateUI::RunSide::Model);
        EXPECT_EQ(window->uiState(), FirmUpdateUI::UPDATE_UI_UPDATING);

        qtest::ModalDriver end;
        end.pressButton(QStringLiteral("OK"));
        window->modelCallback(row.kind, a->id());
        ASSERT_TRUE(end.waitAllAnswered());
        EXPECT_EQ(messagesOf(end), seenLine(*row.end));
        EXPECT_EQ(script->starts, std::vector<uint32_t>{0});
        EXPECT_EQ(a->modelState(), row.modelState);
        EXPECT_EQ(a->danteState(), DeviceObject::Analyzed);
        EXPECT_EQ(b->modelState(), DeviceObject::Analyzed);
        window.reset();
        script->starts.clear();
    }
}

// A unit that refuses the version ends "See Note."; the end message by the
// package's device type.
TEST_F(FirmRun, VersionErrorGivesSeeNoteAndTheNoteByPackageType)
{
    const struct {
        int32_t type;
        const FirmMessage* end;
    } rows[] = {
        {MODEL_PELLM_D, &kMessages.failedNote},
        {MODEL_BROXL_D2, &kMessages.failedNoteRich},
        {MODEL_BROXM_D2, &kMessages.failedNoteRich},
        {MODEL_PELLM_D2, &kMessages.failedNote},
        {MODEL_BROXL_D, &kMessages.failed},
        {MODEL_MAVIK_D, &kMessages.failed},
    };
    EXPECT_EQ(kMessages.failedNoteRich.body.toStdString(),
        "Firmware Update failed for device(s) .<br>It(They) cannot be updated to this version.<br><br><font "
        "color=red>Note: Please refer to message of the device.</font>");
    EXPECT_EQ(kMessages.failedNote.body.toStdString(),
        "Firmware Update failed for device(s) .\nNote:  It(They) cannot be updated to this version.");
    EXPECT_EQ(kMessages.failed.body.toStdString(),
        "Firmware Update failed for device(s) .\nCheck network connection and try again.");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.type);
        makeWindow(row.type);
        DeviceObject* a = addRow("unitA", true, false);
        script->versionErrors[a->id()] = 1;
        qtest::ModalDriver driver;
        driver.pressButton(QStringLiteral("OK"));
        start();
        window->modelCallback(MODEL_CB_ERROR, a->id());
        ASSERT_TRUE(driver.waitAllAnswered());
        EXPECT_EQ(messagesOf(driver), seenLine(*row.end));
        EXPECT_EQ(a->modelUpdateState(), DeviceObject::SeeNote);
        EXPECT_EQ(a->modelState(), DeviceObject::Analyzed);
        // The failed unit is queued and analysed again.
        EXPECT_TRUE(log.has("#### State Changed : UPDATE_UI_DEVICE_ANALYZING"));
        window.reset();
        script->versionErrors.clear();
    }
}

// A Dante job whose module goes silent fails after the time-out and the
// next job starts: after a Writing report, and straight after the start
// request (the time-out runs from the request).
TEST_F(FirmRun, SilentDanteJobTimesOutAndTheNextJobStarts)
{
    for (const bool reported : {true, false}) {
        SCOPED_TRACE(reported);
        makeWindow(MODEL_BROXL_D, true, 300);
        DeviceObject* a = addRow("unitA", false, true);
        DeviceObject* b = addRow("unitB", true, false);
        start();
        ASSERT_EQ(window->runningSide(), FirmUpdateUI::RunSide::Dante);
        QTest::qWait(30);
        if (reported) {
            feedStatus(a, DFA_PHASE_FLASH, 12);
            ASSERT_TRUE(qtest::waitUntil([&] { return a->danteUpdateState() == DeviceObject::Writing; }, 3000));
        }
        ASSERT_TRUE(qtest::waitUntil([&] { return a->danteUpdateState() == DeviceObject::Failed; }, 3000));
        EXPECT_EQ(window->runningSide(), FirmUpdateUI::RunSide::Model);
        EXPECT_EQ(runningRow(), b);
        EXPECT_EQ(script->starts, std::vector<uint32_t>{b->id()});
        qtest::ModalDriver driver;
        driver.pressButton(QStringLiteral("OK"));
        window->modelCallback(MODEL_CB_FINISHED, b->id());
        ASSERT_TRUE(driver.waitAllAnswered());
        EXPECT_EQ(messagesOf(driver), seenLine(kMessages.failed));
        EXPECT_TRUE(log.has("#### State Changed : UPDATE_UI_DEVICE_ANALYZING"));
        window.reset();
        script->starts.clear();
    }
}

// An error for a Dante side that only waits marks it Failed and starts
// nothing; the running model job ends normally and the run goes on in order.
TEST_F(FirmRun, UnlabelledDanteErrorDuringAModelJobStartsNoJob)
{
    makeWindow();
    DeviceObject* a = addRow("unitA");
    DeviceObject* b = addRow("unitB");
    start();
    ASSERT_EQ(runningRow(), a);
    window->receiveDfuAppErrorCallback(DFU_STAGE_UPDATE_STATUS, QString());
    EXPECT_EQ(a->danteUpdateState(), DeviceObject::Failed);
    EXPECT_EQ(b->danteUpdateState(), DeviceObject::Failed);
    EXPECT_EQ(b->modelUpdateState(), DeviceObject::Waiting);
    EXPECT_EQ(runningRow(), a);
    EXPECT_EQ(window->runningSide(), FirmUpdateUI::RunSide::Model);
    EXPECT_EQ(script->starts, std::vector<uint32_t>{a->id()});

    window->modelCallback(MODEL_CB_FINISHED, a->id());
    EXPECT_EQ(runningRow(), b);
    EXPECT_EQ(script->starts, (std::vector<uint32_t>{a->id(), b->id()}));
    qtest::ModalDriver driver;
    driver.pressButton(QStringLiteral("OK"));
    window->modelCallback(MODEL_CB_FINISHED, b->id());
    ASSERT_TRUE(driver.waitAllAnswered());
    EXPECT_EQ(messagesOf(driver), seenLine(kMessages.failed));
    EXPECT_EQ(a->modelState(), DeviceObject::Done);
    EXPECT_EQ(a->danteState(), DeviceObject::Analyzed);
}

// Finish and error callbacks for a job that has ended change nothing: the
// next job is not ended by them, and nothing else starts. A failing start
// followed by the engine's own error report (the Mavik adapter) is one
// failure.
TEST_F(FirmRun, LateCallbacksOfAnEndedJobAreIgnored)
{
    makeWindow(MODEL_MAVIK_D);
    DeviceObject* a = addRow("unitA", true, false);
    DeviceObject* b = addRow("unitB", true, false);
    DeviceObject* c = addRow("unitC", true, false);
    script->startResults[a->id()] = FWUI_E_FAIL;
    start();
    EXPECT_EQ(a->modelUpdateState(), DeviceObject::Failed);
    ASSERT_EQ(runningRow(), b);
    window->modelCallback(MODEL_CB_ERROR, a->id());
    window->modelCallback(MODEL_CB_FINISHED, a->id());
    EXPECT_EQ(a->modelUpdateState(), DeviceObject::Failed);
    EXPECT_EQ(runningRow(), b);

    window->modelCallback(MODEL_CB_FINISHED, b->id());
    ASSERT_EQ(runningRow(), c);
    for (uint32_t kind : {MODEL_CB_FINISHED, MODEL_CB_ERROR, MODEL_CB_WRITING_PROGRESS})
        window->modelCallback(kind, b->id());
    EXPECT_EQ(b->modelUpdateState(), DeviceObject::Finished);
    EXPECT_EQ(runningRow(), c);
    EXPECT_EQ(c->modelUpdateState(), DeviceObject::Waiting);
    EXPECT_EQ(script->starts, (std::vector<uint32_t>{a->id(), b->id(), c->id()}));

    qtest::ModalDriver driver;
    driver.pressButton(QStringLiteral("OK"));
    window->modelCallback(MODEL_CB_FINISHED, c->id());
    ASSERT_TRUE(driver.waitAllAnswered());
    const auto lines = runLines();
    EXPECT_EQ(lines.back(), "======= updateEnd All ======");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "======= updateEnd All ======"), 1);
}

// A unit that reboots drops its link while its job runs (both its sides
// become Disconnected): the job's error and the Dante time-out still end the
// running job, and the run goes on.
TEST_F(FirmRun, ErrorsEndTheRunningJobAfterItsLinkDropped)
{
    makeWindow(MODEL_BROXL_D, true, 200);
    DeviceObject* a = addRow("unitA");
    DeviceObject* b = addRow("unitB", true, false);
    start();
    ASSERT_EQ(runningRow(), a);
    ASSERT_EQ(a->dropConnection(), 0);
    ASSERT_EQ(a->modelState(), DeviceObject::Disconnected);
    window->modelCallback(MODEL_CB_ERROR, a->id());
    EXPECT_EQ(a->modelUpdateState(), DeviceObject::Failed);
    ASSERT_EQ(window->runningSide(), FirmUpdateUI::RunSide::Dante);
    EXPECT_EQ(runningRow(), a);
    ASSERT_TRUE(qtest::waitUntil([&] { return a->danteUpdateState() == DeviceObject::Failed; }, 3000));
    EXPECT_EQ(runningRow(), b);
    qtest::ModalDriver driver;
    driver.pressButton(QStringLiteral("OK"));
    window->modelCallback(MODEL_CB_FINISHED, b->id());
    ASSERT_TRUE(driver.waitAllAnswered());
    EXPECT_NE(window->uiState(), FirmUpdateUI::UPDATE_UI_UPDATING);
    EXPECT_EQ(b->modelState(), DeviceObject::Done);
}

// Yes to the cancel question after the run has ended meanwhile changes
// nothing.
TEST_F(FirmRun, CancelAnsweredAfterTheRunEndedDoesNothing)
{
    makeWindow();
    DeviceObject* a = addRow("unitA", true, false);
    start();
    qtest::ModalDriver driver;
    driver.pressButton(QStringLiteral("OK")); // the end message, opened over the question
    driver.pressButton(QStringLiteral("Yes"));
    QTimer::singleShot(0, window.get(), [&] { window->modelCallback(MODEL_CB_FINISHED, a->id()); });
    EXPECT_EQ(window->cancelUpdate(), 0);
    ASSERT_TRUE(driver.waitAllAnswered());
    EXPECT_EQ(window->uiState(), FirmUpdateUI::UPDATE_UI_READY);
    EXPECT_FALSE(FirmRunAccess::cancelRequested(*window));
    EXPECT_EQ(a->modelState(), DeviceObject::Done);
}

// Progress on the running row: third-generation transfer percent, writing
// percent, Dante flash percent and bytes sent; Dante bytes reach the row at
// the job index even when ids are no longer indexes.
TEST_F(FirmRun, ProgressReachesTheRunningRow)
{
    makeWindow(MODEL_BROXL_D3);
    FirmRunAccess::setPackage(*window, MODEL_BROXL_D3, true, true);
    DeviceObject* gone = addRow("unitGone");
    DeviceObject* a = addRow("unitA");
    DeviceObject* b = addRow("unitB", false, true);
    FirmRunAccess::removeRow(*window, gone);
    ASSERT_EQ(a->id(), 1u);
    start();
    ASSERT_EQ(runningRow(), a);
    auto* modelBar = a->rowFrame()->findChild<QProgressBar*>(QStringLiteral("modelBar"));
    script->transfer = 41;
    window->modelCallback(MODEL_CB_TRANSFER_PROGRESS, a->id());
    EXPECT_EQ(a->modelUpdateState(), DeviceObject::Transferring);
    EXPECT_EQ(modelBar->value(), 41);
    script->overall = 63;
    window->modelCallback(MODEL_CB_WRITING_PROGRESS, a->id());
    EXPECT_EQ(a->modelUpdateState(), DeviceObject::Writing);
    EXPECT_EQ(modelBar->value(), 63);
    window->modelCallback(MODEL_CB_FINISHED, a->id());
    ASSERT_TRUE(finishDanteJob(a));
    ASSERT_EQ(runningRow(), b);
    ASSERT_EQ(window->jobIndex(), 1);

    // Bytes sent: the signal carries the front's count for the child, the
    // row at the job index (id 2) shows it, the row with id 1 does not.
    QSignalSpy bytes(window.get(), &FirmUpdateUI::signalDanteTransferProgressValue);
    EXPECT_EQ(window->receiveDfuSendDataCallback(3, TFTP_EVENT_BLOCK_SENT, QStringLiteral("unitB")), 0);
    ASSERT_EQ(bytes.count(), 1);
    EXPECT_EQ(bytes.at(0).at(0).toInt(), 0);
    auto* danteBarA = a->rowFrame()->findChild<QProgressBar*>(QStringLiteral("danteBar"));
    auto* danteBarB = b->rowFrame()->findChild<QProgressBar*>(QStringLiteral("danteBar"));
    const int before = danteBarA->value();
    danteBarB->setMaximum(1000);
    window->danteTransferProgressValueChanged(512);
    EXPECT_EQ(danteBarB->value(), 512);
    EXPECT_EQ(danteBarA->value(), before);
    QTest::qWait(30);
    feedStatus(b, DFA_PHASE_FLASH, 77);
    ASSERT_TRUE(qtest::waitUntil([&] { return danteBarB->value() == 77; }, 3000));
    EXPECT_EQ(b->danteUpdateState(), DeviceObject::Writing);

    // Send-data lines; a send error fails the labelled running job.
    log.clear();
    window->receiveDfuSendDataCallback(3, TFTP_EVENT_STARTED, QStringLiteral("unitB"));
    window->receiveDfuSendDataCallback(3, TFTP_EVENT_FINISHED, QStringLiteral("unitB"));
    window->receiveDfuSendDataCallback(4, TFTP_EVENT_RESENT, QStringLiteral("unitB"));
    qtest::ModalDriver driver;
    driver.pressButton(QStringLiteral("OK"));
    window->receiveDfuSendDataCallback(4, TFTP_EVENT_ABORTED, QStringLiteral("unitB"));
    ASSERT_TRUE(driver.waitAllAnswered());
    const auto lines = log.lines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 4),
        (std::vector<std::string>{"DfuSendCallback : Start Sending : id=3", "DfuSendCallback : Finish Sending : id=3",
            "DfuSendCallback : Resend : id=4", "[ERROR] DfuSendCallback : Send Error! : id=4"}));
    EXPECT_EQ(b->danteUpdateState(), DeviceObject::Failed);
}

// After the run the failed units are analysed again once the window is ready.
TEST_F(FirmRun, FailedUnitsAreAnalysedAgainAfterTheRun)
{
    makeWindow();
    DeviceObject* a = addRow("unitA", true, false);
    addRow("unitB", true, false);
    qtest::ModalDriver driver;
    driver.pressButton(QStringLiteral("OK"));
    start();
    window->modelCallback(MODEL_CB_ERROR, a->id());
    log.clear();
    window->modelCallback(MODEL_CB_FINISHED, window->rows()[1]->id());
    ASSERT_TRUE(driver.waitAllAnswered());
    EXPECT_TRUE(log.has("#### State Changed : UPDATE_UI_READY"));
    EXPECT_TRUE(log.has("#### State Changed : UPDATE_UI_DEVICE_ANALYZING"));
    EXPECT_TRUE(FirmRunAccess::modelFailed(*window).isEmpty());
}

// A unit whose model job failed keeps its update-mode link, but its job in
// the engine has ended: once the run is over it is set up there again (and
// only it), its row is analysed anew, and the next run starts it.
TEST_F(FirmRun, FailedModelJobIsSetUpAgainAndTheNextRunStartsIt)
{
    makeWindow(MODEL_BROXL_D3);
    std::vector<DeviceObject*> rows;
    for (const char* name : {"unitA", "unitB"}) {
        DeviceObject* row = FirmRunAccess::addRow(
            *window, QString::fromLatin1(name), true, false, QStringLiteral("127.0.0.1"), false);
        ASSERT_NE(row, nullptr);
        row->setDanteVersion(QStringLiteral("4.1.2"), 0);
        row->danteAnalyzed(true);
        rows.push_back(row);
    }
    DeviceObject* a = rows[0];
    DeviceObject* b = rows[1];
    FirmRunAccess::requestSetup(*window);
    for (DeviceObject* row : rows)
        window->modelCallback(MODEL_CB_WAITING_START, row->id());
    ASSERT_EQ(window->uiState(), FirmUpdateUI::UPDATE_UI_READY);
    ASSERT_TRUE(a->modelChecked() && b->modelChecked());
    script->prepares.clear();
    {
        qtest::ModalDriver driver;
        driver.pressButton(QStringLiteral("OK"));
        start();
        window->modelCallback(MODEL_CB_ERROR, a->id());
        window->modelCallback(MODEL_CB_FINISHED, b->id());
        ASSERT_TRUE(driver.waitAllAnswered());
    }
    EXPECT_EQ(script->prepares, std::vector<uint32_t>{a->id()});
    EXPECT_EQ(window->uiState(), FirmUpdateUI::UPDATE_UI_DEVICE_ANALYZING);
    EXPECT_EQ(a->modelState(), DeviceObject::Analyzing);
    window->modelCallback(MODEL_CB_WAITING_START, a->id());
    ASSERT_EQ(window->uiState(), FirmUpdateUI::UPDATE_UI_READY);
    EXPECT_TRUE(a->modelChecked());
    EXPECT_FALSE(b->modelChecked());

    script->starts.clear();
    qtest::ModalDriver driver;
    driver.pressButton(QStringLiteral("OK"));
    start();
    window->modelCallback(MODEL_CB_FINISHED, a->id());
    ASSERT_TRUE(driver.waitAllAnswered());
    EXPECT_EQ(script->starts, std::vector<uint32_t>{a->id()});
    EXPECT_EQ(a->modelUpdateState(), DeviceObject::Finished);
    EXPECT_EQ(messagesOf(driver), "UPDATE COMPLETED|Firmware update successfully completed.\n");
}

// Bad input: an error line, a failure and no row or job changes.
TEST_F(FirmRun, BadInputChangesNothing)
{
    makeWindow();
    EXPECT_EQ(window->cancelUpdate(), FWUI_E_FAIL);
    EXPECT_TRUE(log.has("[ERROR] cancelUpdate : state 0"));
    DeviceObject* a = addRow("unitA");
    start();
    const auto snapshot = [&] {
        return std::vector<int>{a->modelUpdateState(), a->danteUpdateState(), window->jobIndex(),
            static_cast<int>(window->runningSide()), static_cast<int>(script->starts.size())};
    };
    const auto before = snapshot();
    log.clear();
    window->modelCallback(MODEL_CB_FINISHED, 77);
    EXPECT_TRUE(log.has("[ERROR] modelCallback : no device id 77"));
    EXPECT_EQ(window->receiveDfuSendDataCallback(1, TFTP_EVENT_ABORTED, QStringLiteral("nobody")), FWUI_E_FAIL);
    EXPECT_EQ(window->receiveDfuSendDataCallback(1, TFTP_EVENT_BLOCK_SENT, QStringLiteral("nobody")), FWUI_E_FAIL);
    EXPECT_EQ(window->receiveDfuSendDataCallback(1, 9, QStringLiteral("unitA")), FWUI_E_FAIL);
    EXPECT_TRUE(log.has("[ERROR] DfuSendCallback : no device labelled nobody"));
    window->receiveDfuAppCallback(DFU_EVENT_UPDATE_STATUS, QStringLiteral("nobody"));
    EXPECT_TRUE(log.has("[ERROR] receiveDfuAppCallback : no device nobody"));
    // Event 4 for the unit whose Dante job only waits.
    window->receiveDfuAppCallback(DFU_EVENT_UPDATE_STATUS, QStringLiteral("unitA"));
    EXPECT_TRUE(log.has("[ERROR] receiveDfuAppCallback : status of a Dante job that is not running"));
    EXPECT_EQ(window->danteUpdateStatusChanged(a), FWUI_E_FAIL);
    window->onTimerDanteUpdateFailed(55);
    EXPECT_TRUE(log.has("[ERROR] onTimerDanteUpdateFailed : no device id 55"));
    EXPECT_EQ(snapshot(), before);
}

} // namespace

// A 32nd fitting unit gets id 31, which the real manager refuses: that
// unit's model analysis fails at once, the other 31 are prepared.
TEST_F(FirmRun, ThirtySecondUnitFailsOnlyItsOwnModelAnalysis)
{
    factory = createModelFirmUpdater;
    packageFile = QString::fromStdString(firmware);
    makeWindow(MODEL_BROXL_D2, false);
    for (int i = 0; i < 32; ++i)
        ASSERT_NE(FirmRunAccess::addRow(*window, QStringLiteral("unit%1").arg(i), true, true,
                      QStringLiteral("127.0.0.%1").arg(i + 2), false),
            nullptr);
    DeviceObject* last = window->rows().back().get();
    ASSERT_EQ(last->id(), 31u);
    FirmRunAccess::requestSetup(*window);
    EXPECT_TRUE(log.has("!!! Mfu addDevice Err 31"));
    EXPECT_TRUE(log.has("[ERROR] Mfu startSetup failed: id = 31"));
    EXPECT_NE(last->modelState(), DeviceObject::Analyzing);
    int refused = 0;
    int prepared = 0;
    for (const std::string& line : log.lines()) {
        refused += line.rfind("!!! Mfu addDevice Err", 0) == 0 ? 1 : 0;
        prepared += line.rfind("Mfu getReady ", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(refused, 1);
    EXPECT_EQ(prepared, 31);
    EXPECT_FALSE(log.has("[ERROR] Mfu startSetup failed: id = 30"));
}
