// The XMODEM sender: one step per received byte or per silent call.
#include "fwupdate/mfu/mfu_xmodem.h"

#include "pbd/OSWRAP/oswrap.h"
#include "pbd/fsw/fsw.h"

#include <cstring>

namespace {

const uint8_t kCancel[3] = {XMODEM_CAN, XMODEM_CAN, XMODEM_CAN};

} // namespace

namespace {

// One entry per leading byte: what it contributes after eight shifts.
struct CrcTable {
    uint16_t entry[256];
    constexpr CrcTable()
        : entry()
    {
        for (int byte = 0; byte < 256; ++byte) {
            uint16_t crc = static_cast<uint16_t>(byte << 8);
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
            entry[byte] = crc;
        }
    }
};

constexpr CrcTable kCrcTable;

} // namespace

uint16_t xmodem_crc16(const uint8_t* data, uint32_t length)
{
    uint16_t crc = 0;
    for (uint32_t i = 0; i < length; ++i)
        crc = static_cast<uint16_t>((crc << 8) ^ kCrcTable.entry[((crc >> 8) ^ data[i]) & 0xFF]);
    return crc;
}

TransferXModem::TransferXModem(int32_t mode)
    : m_mode(mode)
{
}

TransferXModem::~TransferXModem()
{
    destroy();
}

MfuResult TransferXModem::destroy()
{
    closeFile();
    return MFU_OK;
}

MfuResult TransferXModem::setCallback(ITransfererCallback* callback)
{
    if (!callback)
        return MFU_E_FAIL;
    m_callback = callback;
    return MFU_OK;
}

MfuResult TransferXModem::setFilePath(const char* path)
{
    if (!path || strnlen(path, TRANSFER_PATH_MAX + 1) > TRANSFER_PATH_MAX)
        return MFU_E_FAIL;
    strcpy(m_path, path);
    return MFU_OK;
}

MfuResult TransferXModem::start()
{
    if (m_path[0] == '\0' || m_mode < MFU_TRANSFER_XMODEM_SUM || m_mode > MFU_TRANSFER_XMODEM_1K)
        return MFU_E_FAIL;
    closeFile();
    uint32_t size = 0;
    FswFile* file = nullptr;
    if (fsw_getFileSize(&size, m_path) < 0 || fsw_openFile(&file, m_path, FSW_MODE_READ) < 0)
        return MFU_E_FAIL;
    m_fileSize = size;
    m_sender = XModemSender{};
    m_sender.file = file;
    m_sender.crc = m_mode != MFU_TRANSFER_XMODEM_SUM;
    m_sender.oneK = m_mode == MFU_TRANSFER_XMODEM_1K;
    m_sender.packetLength = static_cast<uint16_t>((m_sender.oneK ? 1024 : 128) + (m_sender.crc ? 5 : 4));
    oswrap_getTick(&m_sender.lastHeard);
    m_state = TRANSFER_STATE_STARTED;
    return MFU_OK;
}

void TransferXModem::closeFile()
{
    if (m_sender.file) {
        if (fsw_closeFile(m_sender.file) < 0)
            m_sender.endCode = XMODEM_END_CLOSE_FAILED;
        m_sender.file = nullptr;
    }
}

void TransferXModem::enterState(int32_t state)
{
    m_state = state;
    if (finished())
        closeFile();
}

MfuResult TransferXModem::step()
{
    if (!m_callback || m_state == TRANSFER_STATE_NONE || finished())
        return finished() ? MFU_OK : MFU_E_FAIL;
    uint8_t byte = 0;
    uint32_t count = 0;
    // A failed read is silence: the link's own checks see a lost unit.
    const int32_t rc = m_callback->readBytes(&byte, 1, &count);
    const int received = rc >= 0 && count == 1 ? byte : -1;

    const uint8_t* out = nullptr;
    uint16_t outLength = 0;
    int32_t result = senderStep(received, &out, &outLength);
    if (out && outLength && m_callback->sendBytes(out, outLength) < 0)
        result = MFU_E_FAIL;

    if (result < 0) {
        mfu_log("[ERROR] !!!!TRANSFER_STATE_ABORTED #1");
        enterState(TRANSFER_STATE_ABORTED);
        return MFU_E_FAIL;
    }
    if (result == XMODEM_DONE) {
        mfu_log("!!!!TRANSFER_STATE_FINISHED #1");
        enterState(TRANSFER_STATE_FINISHED);
    } else if (m_sender.phase == XMODEM_PHASE_EOT) {
        enterState(TRANSFER_STATE_WAIT_EOT);
    } else if (m_sender.phase == XMODEM_PHASE_ENDED) {
        // The unit cancelled: its reply to the file put decides.
        mfu_log("!!!!TRANSFER_STATE_FINISHED #2");
        enterState(TRANSFER_STATE_FINISHED);
    } else {
        enterState(TRANSFER_STATE_TRANSFERRING);
    }
    return MFU_OK;
}

int32_t TransferXModem::senderStep(int byte, const uint8_t** out, uint16_t* outLength)
{
    if (m_sender.phase == XMODEM_PHASE_ENDED) {
        if (m_sender.endCode > 1) {
            mfu_log("[XMODEM END ERROR]");
            return MFU_E_FAIL;
        }
        return XMODEM_DONE;
    }
    return byte >= 0 ? onByte(static_cast<uint8_t>(byte), out, outLength) : onSilence(out, outLength);
}

int32_t TransferXModem::onByte(uint8_t byte, const uint8_t** out, uint16_t* outLength)
{
    XModemSender& s = m_sender;
    s.silentCalls = 0;
    s.silentSeconds = 0;
    oswrap_getTick(&s.lastHeard);
    if (byte == XMODEM_CAN) {
        if (++s.cancels >= 2) {
            mfu_log("[XMODEM] !!!! Received Cancel Command");
            s.endCode = XMODEM_END_CANCELLED;
            finish();
            return XMODEM_RUNNING;
        }
    } else {
        s.cancels = 0;
    }

    if (s.phase == XMODEM_PHASE_START) {
        if (byte == XMODEM_NAK) {
            s.crc = false;
        } else if (byte == XMODEM_CRC_START) {
            if (--s.startCountdown > 0)
                return XMODEM_RUNNING;
            s.crc = true;
        } else {
            return XMODEM_RUNNING;
        }
        // The packet length follows the variant the start chose.
        s.packetLength = static_cast<uint16_t>((s.oneK ? 1024 : 128) + (s.crc ? 5 : 4));
        if (nextBlock() < 0)
            return abort(out, outLength);
    } else if (byte == XMODEM_ACK) {
        if (s.phase == XMODEM_PHASE_EOT) {
            finish();
            return s.endCode > 1 ? MFU_E_FAIL : XMODEM_DONE;
        }
        if (nextBlock() < 0)
            return abort(out, outLength);
    } else if (byte == XMODEM_NAK) {
        if (--s.naksLeft == 0)
            return abort(out, outLength);
    } else {
        return XMODEM_RUNNING;
    }
    *out = s.packet;
    *outLength = s.currentLength;
    return XMODEM_RUNNING;
}

int32_t TransferXModem::onSilence(const uint8_t** out, uint16_t* outLength)
{
    XModemSender& s = m_sender;
    uint32_t now = 0;
    oswrap_getTick(&now);
    if (now - s.lastHeard < XMODEM_SILENT_CALL_MS)
        return XMODEM_RUNNING;
    s.lastHeard = now;
    if (++s.silentCalls < XMODEM_CALLS_PER_SECOND)
        return XMODEM_RUNNING;
    s.silentCalls = 0;
    ++s.silentSeconds;
    mfu_logf("[XMODEM] No Signal... %d(sec)", s.silentSeconds);
    if (s.silentSeconds >= XMODEM_SILENCE_SECONDS)
        return abort(out, outLength);
    if (s.phase == XMODEM_PHASE_DATA || s.phase == XMODEM_PHASE_EOT) {
        *out = s.packet;
        *outLength = s.currentLength;
    }
    return XMODEM_RUNNING;
}

int32_t TransferXModem::nextBlock()
{
    XModemSender& s = m_sender;
    const uint32_t blockSize = s.oneK ? 1024 : 128;
    uint8_t* data = s.packet + 3;
    uint32_t filled = 0;
    while (filled < blockSize) {
        uint32_t n = 0;
        const FswResult rc = fsw_readFile(data + filled, &n, blockSize - filled, s.file);
        if (rc < 0)
            return rc;
        if (rc == FSW_END_OF_FILE || n == 0)
            break;
        filled += n;
    }
    if (filled == 0) {
        s.packet[0] = XMODEM_EOT;
        s.currentLength = 1;
        s.phase = XMODEM_PHASE_EOT;
        return MFU_OK;
    }
    memset(data + filled, XMODEM_PAD, blockSize - filled);
    s.packet[0] = s.oneK ? XMODEM_STX : XMODEM_SOH;
    s.packet[1] = s.block;
    s.packet[2] = static_cast<uint8_t>(~s.block);
    if (s.crc) {
        const uint16_t crc = xmodem_crc16(data, blockSize);
        data[blockSize] = static_cast<uint8_t>(crc >> 8);
        data[blockSize + 1] = static_cast<uint8_t>(crc);
    } else {
        uint8_t sum = 0;
        for (uint32_t i = 0; i < blockSize; ++i)
            sum = static_cast<uint8_t>(sum + data[i]);
        data[blockSize] = sum;
    }
    s.currentLength = s.packetLength;
    ++s.block;
    s.total += filled;
    s.phase = XMODEM_PHASE_DATA;
    return MFU_OK;
}

int32_t TransferXModem::abort(const uint8_t** out, uint16_t* outLength)
{
    m_sender.endCode = XMODEM_END_CANCELLED;
    *out = kCancel;
    *outLength = sizeof(kCancel);
    finish();
    return MFU_E_FAIL;
}

void TransferXModem::finish()
{
    closeFile();
    mfu_log("[XMODEM END]");
    m_sender.phase = XMODEM_PHASE_ENDED;
}
