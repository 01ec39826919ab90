// The manager's slots, its forwarders and the table that turns sequence
// events into application callbacks.
#include "fwupdate/mfu/mfu_manager.h"

#include "pbd/OSWRAP/oswrap.h"

#include <cstring>
#include <new>
#include <string>

namespace {

// Holds the "MFUTASK" semaphore for a scope.
class TaskLock {
public:
    TaskLock()
        : m_held(mfu_taskLock() == MFU_OK)
    {
    }
    ~TaskLock()
    {
        if (m_held)
            mfu_taskUnlock();
    }
    TaskLock(const TaskLock&) = delete;
    TaskLock& operator=(const TaskLock&) = delete;

private:
    bool m_held;
};

const char* errorName(uint32_t errorType)
{
    switch (errorType) {
    case MFU_SEQUENCE_ERR_CONNECTION:
        return "MFU_SEQUENCE_ERR_CONNECTION";
    case MFU_SEQUENCE_ERR_GET_INFO:
        return "MFU_SEQUENCE_ERR_GET_INFO";
    case MFU_SEQUENCE_ERR_TRANSFER:
        return "MFU_SEQUENCE_ERR_TRANSFER";
    case MFU_SEQUENCE_ERR_WRITE:
        return "MFU_SEQUENCE_ERR_WRITE";
    case MFU_SEQUENCE_ERR_OTHER:
        return "MFU_SEQUENCE_ERR_OTHER";
    default:
        return "UNKNOWN";
    }
}

} // namespace

FirmwareUpdateManager::FirmwareUpdateManager()
{
    m_started = mfu_taskStart(this, &m_taskId) == MFU_OK;
}

FirmwareUpdateManager::~FirmwareUpdateManager()
{
    destroy();
}

MfuResult FirmwareUpdateManager::destroy()
{
    if (m_started) {
        mfu_taskStop();
        m_started = false;
    }
    TaskLock lock;
    for (auto& sequence : m_sequences)
        sequence.reset();
    return MFU_OK;
}

MfuResult FirmwareUpdateManager::addDevice(uint32_t index, const char* pcAddress, const char* unitAddress,
    const char* filePath, uint32_t expectedModel, const char* packageVersion)
{
    // A 32nd unit would write past the slots.
    if (index >= MFU_MAX_UNITS)
        return MFU_E_FAIL;
    TaskLock lock;
    if (m_sequences[index]) {
        mfu_log("[ERROR][FirmwareUpdateManager::addDevice] failed in adding device: device already exist");
        return MFU_E_ARG;
    }
    std::unique_ptr<QuilMfuSequence> sequence(new (std::nothrow) QuilMfuSequence());
    if (!sequence)
        return MFU_E_ABORTED;
    if (sequence->initialize(this, index, pcAddress, unitAddress, filePath, expectedModel, packageVersion) < 0) {
        mfu_log("[ERROR][FirmwareUpdateManager::addDevice] failed in adding device: Initialize Failed");
        sequence->destroy();
        return MFU_E_INIT;
    }
    m_sequences[index] = std::move(sequence);
    return MFU_OK;
}

MfuResult FirmwareUpdateManager::removeDevice(uint32_t index)
{
    if (index >= MFU_MAX_UNITS)
        return MFU_E_FAIL;
    TaskLock lock;
    m_sequences[index].reset();
    return MFU_OK;
}

MfuResult FirmwareUpdateManager::getReady(uint32_t index)
{
    if (index >= MFU_MAX_UNITS)
        return MFU_E_FAIL;
    TaskLock lock;
    return m_sequences[index] ? m_sequences[index]->getReady() : MFU_E_FAIL;
}

MfuResult FirmwareUpdateManager::startUpdate(uint32_t index)
{
    if (index >= MFU_MAX_UNITS)
        return MFU_E_FAIL;
    TaskLock lock;
    return m_sequences[index] ? m_sequences[index]->startUpdate() : MFU_E_FAIL;
}

int32_t FirmwareUpdateManager::versionRelation(uint32_t index)
{
    if (index >= MFU_MAX_UNITS)
        return -1;
    TaskLock lock;
    return m_sequences[index] ? m_sequences[index]->versionRelation() : -1;
}

MfuResult FirmwareUpdateManager::unitVersion(uint32_t index, char* buffer16)
{
    if (index >= MFU_MAX_UNITS || !buffer16)
        return MFU_E_FAIL;
    TaskLock lock;
    return m_sequences[index] ? m_sequences[index]->unitVersion(buffer16, 16) : MFU_E_FAIL;
}

uint32_t FirmwareUpdateManager::transferPercent(uint32_t index)
{
    if (index >= MFU_MAX_UNITS)
        return 0;
    TaskLock lock;
    return m_sequences[index] ? m_sequences[index]->transferPercent() : 0;
}

uint32_t FirmwareUpdateManager::writePercent(uint32_t index)
{
    if (index >= MFU_MAX_UNITS)
        return 0;
    TaskLock lock;
    return m_sequences[index] ? m_sequences[index]->writePercent() : 0;
}

int32_t FirmwareUpdateManager::wake(uint32_t index)
{
    if (index >= MFU_MAX_UNITS || !m_started)
        return MFU_E_FAIL;
    return oswrap_setTaskFlags(m_taskId, mfu_wakeBit(index)) < 0 ? MFU_E_FAIL : MFU_OK;
}

int32_t FirmwareUpdateManager::versionErrorFlag(uint32_t index)
{
    if (index >= MFU_MAX_UNITS)
        return 0;
    TaskLock lock;
    return m_sequences[index] && m_sequences[index]->versionError() ? 1 : 0;
}

int32_t FirmwareUpdateManager::runCallback(uint32_t index)
{
    if (index >= MFU_MAX_UNITS || !m_sequences[index])
        return MFU_E_FAIL;
    const MfuResult rc = m_sequences[index]->pollSocket();
    if (rc < 0) {
        mfu_logf("[MFU tskRunCallback Error!] : ErrCode = %x\n", static_cast<unsigned>(rc));
        callApp(MFU_APP_ERROR, index);
    }
    return rc;
}

int32_t FirmwareUpdateManager::tick()
{
    for (uint32_t index = 0; index < MFU_MAX_UNITS; ++index) {
        IMfuSequence* sequence = m_sequences[index].get();
        if (!sequence)
            continue;
        sequence->pump();
        const int32_t event = sequence->evaluate();
        report(index, event, sequence->errorType());
    }
    return MFU_OK;
}

uint32_t mfu_eventCallback(int32_t event, uint32_t errorType, std::string* logLine)
{
    logLine->clear();
    switch (event) {
    case MFU_EVENT_START_WAIT:
        *logLine = "[FirmwareUpdateManager] START WAIT";
        return MFU_APP_START_WAIT;
    case MFU_EVENT_TRANSFER_STARTED:
        *logLine = "[FirmwareUpdateManager] TRANSFER STARTED";
        return MFU_APP_TRANSFER_STARTED;
    case MFU_EVENT_WRITE_STARTED:
        *logLine = "[FirmwareUpdateManager] WRITE STARTED";
        return MFU_APP_WRITE_STARTED;
    case MFU_EVENT_TRANSFER_PROGRESS:
        return MFU_APP_TRANSFER_PROGRESS;
    case MFU_EVENT_WRITE_PROGRESS:
        return MFU_APP_WRITE_PROGRESS;
    case MFU_EVENT_FINISHED:
        if (errorType == MFU_SEQUENCE_ERR_NONE) {
            *logLine = "[FirmwareUpdateManager] FINISHED : ErrType = MFU_SEQUENCE_ERR_NONE ";
            return MFU_APP_FINISHED;
        }
        *logLine = std::string("[FirmwareUpdateManager] FINISHED : ErrType = ") + errorName(errorType);
        return MFU_APP_ERROR;
    default:
        return 0;
    }
}

void FirmwareUpdateManager::report(uint32_t index, int32_t event, uint32_t errorType)
{
    std::string line;
    const uint32_t code = mfu_eventCallback(event, errorType, &line);
    if (!line.empty())
        mfu_log(line.c_str());
    if (code != 0)
        callApp(code, index);
}

void FirmwareUpdateManager::callApp(uint32_t code, uint32_t index)
{
    MfuAppCallbackIF* app = m_app.load();
    if (app)
        app->mfuAppCallback(code, index);
}
