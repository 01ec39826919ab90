// The link's state, its setters and readers, and the receive pump.
#include "fwupdate/mfu/mfu_protocol.h"
#include "fwupdate/mfu/mfu_text.h"

#include <string>

FirmwareUpdateProtocol::FirmwareUpdateProtocol()
{
    m_writeStopwatch.state = OSWRAP_TIMER_STOPWATCH;
    oswrap_resetTimerStart(&m_writeStopwatch);
}

FirmwareUpdateProtocol::~FirmwareUpdateProtocol() = default;

const char* FirmwareUpdateProtocol::stateName(uint32_t state)
{
    static const char* const kNames[]
        = {"UPDATE_STATE_NOT_SET", "UPDATE_STATE_READY", "UPDATE_STATE_ABORTED", "UPDATE_STATE_ERASING",
            "UPDATE_STATE_TRANSFERING", "UPDATE_STATE_WRITING", "UPDATE_STATE_REBOOTING", "UPDATE_STATE_WRITING_SUB"};
    return state < sizeof(kNames) / sizeof(kNames[0]) ? kNames[state] : "UPDATE_STATE_UNKNOWN";
}

void FirmwareUpdateProtocol::setUpdateState(uint32_t state)
{
    m_state = state;
    protocolLog((std::string("setUpdateState ") + stateName(state)).c_str());
}

void FirmwareUpdateProtocol::protocolLog(const char* text)
{
    mfutext::copyField(m_protocolLog, sizeof(m_protocolLog), text, static_cast<uint32_t>(strlen(text)));
    mfu_logf("[FirmwareUpdateProtocol] Protocol Log : %s", text);
}

void FirmwareUpdateProtocol::transferLog(const char* text)
{
    mfutext::copyField(m_transferLog, sizeof(m_transferLog), text, static_cast<uint32_t>(strlen(text)));
    mfu_logf("[FirmwareUpdateProtocol] Transfer Log : %s", text);
}

void FirmwareUpdateProtocol::setAsking(bool asking, uint32_t kind)
{
    m_isAsking = asking;
    if (asking)
        protocolLog((std::string("m_isAsking TRUE : ") + commandName(kind)).c_str());
    else
        protocolLog("m_isAsking : FALSE");
}

void FirmwareUpdateProtocol::restartWriteStopwatch()
{
    oswrap_resetTimerStart(&m_writeStopwatch);
}

int32_t FirmwareUpdateProtocol::sendBytes(const void* data, uint32_t length)
{
    if (!m_socket)
        return MFU_E_FAIL;
    uint32_t taken = 0;
    const int32_t rc = m_socket->write(data, length, &taken);
    if (rc < 0)
        return rc;
    return taken == length ? MFU_OK : MFU_E_FAIL;
}

int32_t FirmwareUpdateProtocol::readBytes(void* buffer, uint32_t capacity, uint32_t* countOut)
{
    *countOut = 0;
    if (!m_socket)
        return MFU_E_FAIL;
    return m_socket->read(buffer, capacity, countOut);
}

MfuResult FirmwareUpdateProtocol::setSocket(VCOM::IVCom* socket)
{
    if (!socket)
        return MFU_E_FAIL;
    m_socket = socket;
    m_pending = 0;
    setUpdateState(UPDATE_STATE_READY);
    return MFU_OK;
}

MfuResult FirmwareUpdateProtocol::setFilePath(const char* path)
{
    if (!path || strnlen(path, MFU_FILE_PATH_MAX) >= MFU_FILE_PATH_MAX)
        return MFU_E_FAIL;
    strcpy(m_filePath, path);
    return MFU_OK;
}

MfuResult FirmwareUpdateProtocol::setTransfer(std::unique_ptr<ITransferProtocol> transfer)
{
    m_transfer = std::move(transfer);
    m_lastTransferState = TRANSFER_STATE_NONE;
    return MFU_OK;
}

int32_t FirmwareUpdateProtocol::answer(uint32_t flag)
{
    if (m_flags & MFU_FLAG_ERROR) {
        m_flags &= ~MFU_FLAG_ERROR;
        return 2;
    }
    return (m_flags & flag) ? 1 : 0;
}

uint32_t FirmwareUpdateProtocol::transferPercent() const
{
    if (!m_transfer || m_transfer->fileSize() == 0)
        return 0;
    return static_cast<uint32_t>(uint64_t{m_transfer->bytesSent()} * 100 / m_transfer->fileSize());
}

uint32_t FirmwareUpdateProtocol::writeElapsedMs()
{
    uint32_t elapsed = 0;
    oswrap_getElapsedTime(&m_writeStopwatch, &elapsed, 0xFFFFFFFFu);
    return elapsed;
}

MfuResult FirmwareUpdateProtocol::receive()
{
    switch (m_state) {
    case UPDATE_STATE_TRANSFERING:
        // A pull's server reports its abort on its own task, after which the
        // transfer counts as finished: it still ends the link's transfer.
        if (m_transfer && (!m_transfer->finished() || m_transfer->transferState() == TRANSFER_STATE_ABORTED))
            return transferStep();
        return readLines();
    case UPDATE_STATE_READY:
    case UPDATE_STATE_ERASING:
    case UPDATE_STATE_WRITING:
    case UPDATE_STATE_WRITING_SUB:
        return readLines();
    default:
        return MFU_OK;
    }
}

MfuResult FirmwareUpdateProtocol::transferStep()
{
    m_transfer->step();
    const int32_t state = m_transfer->transferState();
    const bool changed = state != m_lastTransferState;
    m_lastTransferState = state;
    switch (state) {
    case TRANSFER_STATE_WAIT_EOT:
        if (changed)
            transferLog("[proceedTransfering] EOT Waiting...");
        return MFU_OK;
    case TRANSFER_STATE_FINISHED:
        m_isAsking = false;
        transferLog("[proceedTransfering] Transfer Finished");
        return MFU_OK;
    case TRANSFER_STATE_ABORTED:
        m_isAsking = false;
        transferLog("[proceedTransfering] Transfer Aborted");
        setUpdateState(UPDATE_STATE_ABORTED);
        mfu_log("[ERROR] MFU Transfer Aborted!!! (probably cause by 30sec timeout)");
        return MFU_E_ABORTED;
    default:
        return MFU_OK;
    }
}
