// The firmware update window's update run: every ticked side becomes a job;
// the jobs run strictly one at a time, in row order, each unit's model job
// before its Dante job. Only the end of the running job starts the next
// one, so a late or repeated callback can never start a second job while
// one runs, and a failed job never stops the run.
#include "app/app_log.h"
#include "device/layouts/dev_modeltypes.h"
#include "ui/fwupdate_ui/fw_deviceobject.h"
#include "ui/fwupdate_ui/fw_firmupdateui.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include <array>

namespace Quil {

namespace {

bool isEnded(int updateState)
{
    switch (updateState) {
    case DeviceObject::Cancelled:
    case DeviceObject::Finished:
    case DeviceObject::Failed:
    case DeviceObject::Completed:
    case DeviceObject::SeeNote:
        return true;
    default:
        return false;
    }
}

const char* sideName(FirmUpdateUI::RunSide side)
{
    return side == FirmUpdateUI::RunSide::Model ? "Model" : "Dante";
}

} // namespace

const FirmRunMessages& firmRunMessages()
{
    static const FirmRunMessages messages{
        {3, QStringLiteral("CONFIRMATION"),
            QStringLiteral("Cancel update ?\nThis will cancel the update of all waiting devices.")},
        {0, QStringLiteral("UPDATE COMPLETED"), QStringLiteral("Firmware update successfully completed.")},
        {2, QStringLiteral("CAUTION"),
            QStringLiteral("Firmware Update failed for device(s) .\nCheck network connection and try again.")},
        {2, QStringLiteral("CAUTION"),
            QStringLiteral("Firmware Update failed for device(s) .<br>It(They) cannot be updated to this version."
                           "<br><br><font color=red>Note: Please refer to message of the device.</font>")},
        {2, QStringLiteral("CAUTION"),
            QStringLiteral(
                "Firmware Update failed for device(s) .\nNote:  It(They) cannot be updated to this version.")},
    };
    return messages;
}

// Starting the run and its jobs -----------------------------------------------

void FirmUpdateUI::startFirmUpdate()
{
    if (m_uiState != UPDATE_UI_READY) {
        log(QString::asprintf("[ERROR] startFirmUpdate : state %d", m_uiState));
        return;
    }
    setUiState(UPDATE_UI_UPDATING);
    m_jobIndex = -1;
    m_runSide = RunSide::None;
    m_cancelRequested = false;
    updateCancelButton();
    for (const auto& row : m_rows) {
        row->prepareModelUpdate();
        row->prepareDanteUpdate();
    }
    startNextJob();
}

int32_t FirmUpdateUI::findNextJob(RunSide* side)
{
    *side = RunSide::None;
    int32_t index = 0;
    for (const auto& row : m_rows) {
        if (row->modelUpdateState() == DeviceObject::Waiting) {
            *side = RunSide::Model;
            break;
        }
        if (row->danteUpdateState() == DeviceObject::Waiting) {
            *side = RunSide::Dante;
            break;
        }
        ++index;
    }
    m_jobIndex = index;
    return index;
}

int32_t FirmUpdateUI::startNextJob()
{
    RunSide side = RunSide::None;
    const int32_t index = findNextJob(&side);
    m_runSide = RunSide::None;
    if (side == RunSide::None)
        return updateEnd();
    DeviceObject* row = m_rows[static_cast<size_t>(index)].get();
    // The job is the running one before it starts: a failing start ends it
    // through the same path as a failure reported later.
    m_runSide = side;
    m_runId = row->id();
    return side == RunSide::Model ? startModelUpdate(row) : startDanteUpdate(row);
}

int32_t FirmUpdateUI::startModelUpdate(DeviceObject* row)
{
    if (!m_updater || m_updater->startUpdate(row->id()) < 0) {
        log(QStringLiteral("!!! Mfu startUpdate Err"));
        onModelError(row);
        return FWUI_E_FAIL;
    }
    log(QString::asprintf("======= updateStarted Model %u ======", row->id()));
    return 0;
}

int32_t FirmUpdateUI::startDanteUpdate(DeviceObject* row)
{
    const QByteArray name = row->deviceName().toUtf8();
    if (!m_dfu || m_dfu->setTargetDevice(name.constData()) != DFU_OK) {
        log(QStringLiteral("!!! Dfu setTargetDevice Err"));
        onDanteError(row);
        return FWUI_E_FAIL;
    }
    std::array<char16_t, DFU_PATH_CHARS> path{};
    if (m_dfu->getDntFilePath(name.constData(), path.data()) == DFU_OK && path[0] != 0) {
        const QString file = QString::fromUtf16(path.data());
        m_progressMax = static_cast<uint32_t>(QFileInfo(file).size());
        row->setDanteProgressMaximum(static_cast<int>(m_progressMax));
    }
    // The time-out runs from the request: a module that never reports
    // would otherwise hold the run for ever.
    row->startDanteTimeout(m_timings.danteUpdateMs);
    if (m_dfu->reqStartUpdateTargetDevice() != DFU_OK) {
        log(QStringLiteral("!!! Dfu reqStartUpdate Err"));
        onDanteError(row);
        return FWUI_E_FAIL;
    }
    log(QString::asprintf("======= updateStarted Dante %u ======", row->id()));
    return 0;
}

// The running job ----------------------------------------------------------------

DeviceObject* FirmUpdateUI::runningRow() const
{
    return m_runSide == RunSide::None ? nullptr : rowById(m_runId);
}

bool FirmUpdateUI::isRunning(const DeviceObject* row, RunSide side) const
{
    return m_uiState == UPDATE_UI_UPDATING && side != RunSide::None && m_runSide == side && row && row->id() == m_runId
        && runningRow() == row;
}

int32_t FirmUpdateUI::modelRunCallback(uint32_t kind, DeviceObject* row)
{
    if (!isRunning(row, RunSide::Model)) {
        log(QString::asprintf("[ERROR] modelCallback : kind %u for id %u, whose job is not running", kind, row->id()));
        return FWUI_E_FAIL;
    }
    int32_t value = 0;
    switch (kind) {
    case MODEL_CB_TRANSFER_PROGRESS:
        // Other packages report the transfer over the unit's own connection.
        if (!m_thirdGeneration || m_updater->transferPercent(row->id(), &value) < 0)
            return FWUI_E_FAIL;
        return row->showModelProgress(value);
    case MODEL_CB_WRITING_PROGRESS:
        if (m_updater->overallProgress(&value) < 0)
            return FWUI_E_FAIL;
        return row->showModelWriteProgress(value);
    case MODEL_CB_FINISHED:
        return finishModelJob(true);
    default:
        return FWUI_E_FAIL;
    }
}

void FirmUpdateUI::runSideError(DeviceObject* row, RunSide side)
{
    if (isRunning(row, side)) {
        if (side == RunSide::Model)
            finishModelJob(false);
        else
            finishDanteJob(false);
        return;
    }
    const int state = side == RunSide::Model ? row->modelUpdateState() : row->danteUpdateState();
    if (state == DeviceObject::Waiting) {
        // Not started: recorded, and the running job goes on.
        if (side == RunSide::Model)
            row->setModelUpdateState(DeviceObject::Failed);
        else
            row->setDanteUpdateState(DeviceObject::Failed);
        return;
    }
    if (isEnded(state)) {
        log(QString::asprintf("[ERROR] %s error for id %u after its job ended", sideName(side), row->id()));
        return;
    }
    log(QString::asprintf("[ERROR] %s error for id %u outside its job", sideName(side), row->id()));
}

int32_t FirmUpdateUI::finishModelJob(bool ok)
{
    DeviceObject* row = runningRow();
    if (m_runSide != RunSide::Model || !row)
        return FWUI_E_FAIL;
    int state = DeviceObject::Finished;
    if (!ok)
        state = m_updater && m_updater->versionError(row->id()) != 0 ? DeviceObject::SeeNote : DeviceObject::Failed;
    row->setModelUpdateState(state);
    return startNextJob();
}

int32_t FirmUpdateUI::finishDanteJob(bool ok)
{
    DeviceObject* row = runningRow();
    if (m_runSide != RunSide::Dante || !row)
        return FWUI_E_FAIL;
    row->stopDanteTimeout();
    const int state = row->danteUpdateState();
    if (state != DeviceObject::Failed && state != DeviceObject::Finished)
        row->setDanteUpdateState(ok ? DeviceObject::Finished : DeviceObject::Failed);
    return startNextJob();
}

int32_t FirmUpdateUI::danteUpdateStatusChanged(DeviceObject* row)
{
    if (!isRunning(row, RunSide::Dante)) {
        log(QStringLiteral("[ERROR] receiveDfuAppCallback : status of a Dante job that is not running"));
        return FWUI_E_FAIL;
    }
    const uint32_t phase = m_dfu ? m_dfu->getTargetUpdatePhase() : DFU_PHASE_NONE;
    switch (phase) {
    case DFU_PHASE_NONE:
    case DFU_PHASE_DOWNLOAD:
        row->startDanteTimeout(m_timings.danteUpdateMs);
        return row->setDanteUpdateState(DeviceObject::Transferring);
    case DFU_PHASE_FLASH:
        row->startDanteTimeout(m_timings.danteUpdateMs);
        row->setDanteUpdateState(DeviceObject::Writing);
        return row->showDanteProgress(m_dfu->getLastFlashPercent());
    case DFU_PHASE_FINISH:
        return finishDanteJob(true);
    default:
        return 0;
    }
}

int32_t FirmUpdateUI::receiveDfuSendDataCallback(uint childId, uint type, QString targetDeviceLabel)
{
    // The log adds the line feed each text ends with.
    switch (type) {
    case TFTP_EVENT_STARTED:
        log(QString::asprintf("DfuSendCallback : Start Sending : id=%u", childId));
        return 0;
    case TFTP_EVENT_FINISHED:
        log(QString::asprintf("DfuSendCallback : Finish Sending : id=%u", childId));
        return 0;
    case TFTP_EVENT_RESENT:
        log(QString::asprintf("DfuSendCallback : Resend : id=%u", childId));
        return 0;
    default:
        break;
    }
    if (type != TFTP_EVENT_ABORTED && type != TFTP_EVENT_BLOCK_SENT) {
        log(QString::asprintf("[ERROR] DfuSendCallback : type %u", type));
        return FWUI_E_FAIL;
    }
    if (type == TFTP_EVENT_ABORTED)
        log(QString::asprintf("[ERROR] DfuSendCallback : Send Error! : id=%u", childId));
    DeviceObject* row = targetDeviceLabel.isEmpty() ? nullptr : rowByDeviceName(targetDeviceLabel);
    if (!row) {
        log(QStringLiteral("[ERROR] DfuSendCallback : no device labelled ") + targetDeviceLabel);
        return FWUI_E_FAIL;
    }
    if (type == TFTP_EVENT_ABORTED) {
        onDanteError(row);
        return 0;
    }
    emit signalDanteTransferProgressValue(static_cast<int>(m_dfu ? m_dfu->getTftpChildBytes(childId) : 0));
    return 0;
}

void FirmUpdateUI::danteTransferProgressValueChanged(int value)
{
    // The running job's row is the one at the job index: unit ids are no
    // indexes once rows were deleted.
    DeviceObject* row = m_jobIndex >= 0 && static_cast<size_t>(m_jobIndex) < m_rows.size()
        ? m_rows[static_cast<size_t>(m_jobIndex)].get()
        : nullptr;
    if (!row || !isRunning(row, RunSide::Dante)) {
        log(QString::asprintf("[ERROR] danteTransferProgressValueChanged : no Dante job at %d", m_jobIndex));
        return;
    }
    row->showDanteProgress(value);
}

void FirmUpdateUI::onTimerDanteUpdateFailed(uint32_t id)
{
    DeviceObject* row = rowById(id);
    if (!row) {
        log(QString::asprintf("[ERROR] onTimerDanteUpdateFailed : no device id %u", id));
        return;
    }
    log(QString::asprintf("!!! Timeout : Dante update id %u", id));
    onDanteError(row);
}

// Cancel and the end of the run ------------------------------------------------

int32_t FirmUpdateUI::cancelUpdate()
{
    if (m_uiState != UPDATE_UI_UPDATING) {
        log(QString::asprintf("[ERROR] cancelUpdate : state %d", m_uiState));
        return FWUI_E_FAIL;
    }
    if (showMessage(this, firmRunMessages().cancelUpdate) != QMessageBox::Yes)
        return 0;
    // The question is modal while callbacks go on: the run may have ended.
    if (m_uiState != UPDATE_UI_UPDATING)
        return 0;
    m_cancelRequested = true;
    updateCancelButton();
    for (const auto& row : m_rows) {
        row->cancelModelWaiting();
        row->cancelDanteWaiting();
    }
    return 0;
}

bool FirmUpdateUI::anyVersionError() const
{
    if (!m_updater)
        return false;
    for (const auto& row : m_rows)
        if (m_updater->versionError(row->id()) != 0)
            return true;
    return false;
}

int32_t FirmUpdateUI::updateEnd()
{
    log(QStringLiteral("======= updateEnd All ======"));
    m_jobIndex = -1;
    m_runSide = RunSide::None;
    const FirmRunMessages& messages = firmRunMessages();
    const FirmMessage* message = &messages.completed;
    if (anyUpdateFailed()) {
        message = &messages.failed;
        if (anyVersionError()) {
            const ModelTraits* traits = modelTraits(m_packageType);
            const FirmNote note = traits ? traits->firmware.failedNote : FirmNote::None;
            if (note == FirmNote::Rich)
                message = &messages.failedNoteRich;
            else if (note == FirmNote::Plain)
                message = &messages.failedNote;
        }
    }
    showMessage(this, *message);
    for (const auto& row : m_rows) {
        if (row->modelState() == DeviceObject::Updating)
            row->endModelRun();
        if (row->danteState() == DeviceObject::Updating)
            row->endDanteRun();
        const int model = row->modelUpdateState();
        if (model == DeviceObject::Failed || model == DeviceObject::SeeNote)
            m_modelFailed.append(row->serviceName());
        if (row->danteUpdateState() == DeviceObject::Failed)
            m_danteFailed.append(row->serviceName());
    }
    setUiState(UPDATE_UI_READY);
    return processPendingLists();
}

} // namespace Quil
