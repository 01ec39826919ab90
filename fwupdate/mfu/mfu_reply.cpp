// Reading what the unit sends: lines out of the byte stream, replies and
// pushed update states, and the unit's update-state texts.
#include "fwupdate/mfu/mfu_protocol.h"
#include "fwupdate/mfu/mfu_text.h"

#include <string>

using mfutext::copyField;
using mfutext::skip;
using mfutext::startsWith;

namespace {

struct UnitState {
    const char* text;
    uint32_t code;
};

// Longer texts first: the first matching prefix wins.
const UnitState kUnitStates[] = {
    {"READY REQBOOT", MFU_UNIT_READY_REQBOOT},
    {"READY REQPOWERCYCLE", MFU_UNIT_READY_REQPOWERCYCLE},
    {"READY", MFU_UNIT_READY},
    {"BUSY SELF", MFU_UNIT_BUSY_SELF},
    {"BUSY OTHER", MFU_UNIT_BUSY_OTHER},
    {"FAIL REQBOOT", MFU_UNIT_FAIL_REQBOOT},
    {"FAIL REQPOWERCYCLE", MFU_UNIT_FAIL_REQPOWERCYCLE},
    {"FAIL REQSERVICE", MFU_UNIT_FAIL_REQSERVICE},
    {"FAIL POWER", MFU_UNIT_FAIL_POWER},
    {"FAIL", MFU_UNIT_FAIL},
};

constexpr uint32_t kPushSkip = 17; // "PUSH updatestate "
constexpr uint32_t kProgressWindow = 16;

bool isLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

bool writing(uint32_t state)
{
    return state == UPDATE_STATE_WRITING || state == UPDATE_STATE_WRITING_SUB;
}

// The number just before the first '%' within the window; -1 when there is
// none or it does not fit a percent byte.
int progressOf(const char* text, uint32_t length)
{
    const uint32_t window = length < kProgressWindow ? length : kProgressWindow;
    const char* percent = static_cast<const char*>(memchr(text, '%', window));
    if (!percent)
        return -1;
    const char* digits = percent;
    while (digits > text && digits[-1] >= '0' && digits[-1] <= '9')
        --digits;
    if (digits == percent)
        return -1;
    int value = 0;
    for (const char* p = digits; p < percent; ++p) {
        value = value * 10 + (*p - '0');
        if (value > 255)
            return -1;
    }
    return value;
}

} // namespace

uint32_t FirmwareUpdateProtocol::unitStateCode(const char* text, uint32_t length)
{
    for (const UnitState& row : kUnitStates) {
        if (startsWith(text, length, row.text))
            return row.code;
    }
    return 0;
}

MfuResult FirmwareUpdateProtocol::readLines()
{
    if (m_pending >= MFU_RECEIVE_BUFFER) {
        // A full buffer without a line end can never complete a line.
        mfu_log("[FirmwareUpdateProtocol] Line Too Long : Dropped");
        m_pending = 0;
    }
    uint32_t count = 0;
    const int32_t rc = readBytes(m_buffer + m_pending, MFU_RECEIVE_BUFFER - m_pending, &count);
    if (rc < 0)
        return rc;
    if (count > MFU_RECEIVE_BUFFER - m_pending)
        return MFU_E_FAIL;
    const uint32_t end = m_pending + count;
    uint32_t start = 0;
    for (;;) {
        while (start < end && isLineEnd(m_buffer[start]))
            ++start;
        uint32_t stop = start;
        while (stop < end && !isLineEnd(m_buffer[stop]))
            ++stop;
        if (stop == end)
            break;
        handleLine(m_buffer + start, stop - start);
        start = stop;
    }
    m_pending = end - start;
    memmove(m_buffer, m_buffer + start, m_pending);
    return MFU_OK;
}

void FirmwareUpdateProtocol::handleLine(const char* line, uint32_t length)
{
    if (mfu_logging())
        mfu_log(("[FirmwareUpdateProtocol] Received One Line : " + std::string(line, length)).c_str());
    const char* text = line;
    uint32_t rest = length;
    const bool pushed = startsWith(text, rest, "PUSH");
    if (pushed) {
        const char* word = line;
        uint32_t wordLength = length;
        skip(&word, &wordLength, 5);
        if (!startsWith(word, wordLength, "updatestate"))
            return;
        skip(&text, &rest, kPushSkip);
    }
    if (startsWith(text, rest, "OK")) {
        skip(&text, &rest, 3);
        if (pushed) {
            if (writing(m_state)) {
                m_flags |= MFU_FLAG_WRITE_FINISHED;
                setUpdateState(UPDATE_STATE_READY);
            }
            return;
        }
        handleOk(text, rest);
        setAsking(false, 0);
    } else if (startsWith(text, rest, "ERROR")) {
        skip(&text, &rest, 6);
        const uint32_t last = m_lastCommand;
        handleError(text, rest);
        // Errors on the MAC address and the sub image's version and write
        // leave the state as it is.
        if (last != CMD_TYPE_GET_MACADDRESS && last != CMD_TYPE_GET_VERSION_SUB && last != CMD_TYPE_START_WRITE_SUB)
            setUpdateState(m_state == UPDATE_STATE_WRITING_SUB ? UPDATE_STATE_READY : UPDATE_STATE_ABORTED);
        setAsking(false, 0);
    }
}

void FirmwareUpdateProtocol::handleOk(const char* text, uint32_t length)
{
    switch (m_state) {
    case UPDATE_STATE_READY:
        switch (m_lastCommand) {
        case CMD_TYPE_GET_PROTOCOL:
            m_flags |= MFU_FLAG_PROTOCOLS;
            copyField(m_protocols, sizeof(m_protocols), text, length);
            mfu_logf("[FirmwareUpdateProtocol] Available Protocols are %s", m_protocols);
            break;
        case CMD_TYPE_GET_PRODUCTNAME:
            m_flags |= MFU_FLAG_PRODUCT_NAME;
            copyField(m_productName, sizeof(m_productName), text, length);
            mfu_logf("[FirmwareUpdateProtocol] Product Name is %s", m_productName);
            break;
        case CMD_TYPE_GET_VERSION:
        case CMD_TYPE_GET_VERSION_SUB:
            m_flags |= MFU_FLAG_VERSION;
            if (length >= 4)
                copyField(m_version, sizeof(m_version), text, length);
            mfu_logf(m_lastCommand == CMD_TYPE_GET_VERSION ? "[FirmwareUpdateProtocol] Version is %s"
                                                           : "[FirmwareUpdateProtocol] Version Sub is %s",
                m_version);
            break;
        case CMD_TYPE_GET_UPDATESTATE:
            m_flags |= MFU_FLAG_UPDATE_STATE;
            parseUpdateState(text, length);
            break;
        case CMD_TYPE_START_WRITE:
            m_flags |= MFU_FLAG_WRITE_STARTED;
            setUpdateState(UPDATE_STATE_WRITING);
            break;
        case CMD_TYPE_START_WRITE_SUB:
            m_flags |= MFU_FLAG_WRITE_STARTED;
            setUpdateState(UPDATE_STATE_WRITING_SUB);
            break;
        case CMD_TYPE_GET_MACADDRESS:
        case CMD_TYPE_GET_MACADDRESS_SUB:
            m_flags |= MFU_FLAG_MAC_ADDRESS;
            if (length >= 12)
                copyField(m_macAddress, sizeof(m_macAddress), text, length);
            mfu_logf(m_lastCommand == CMD_TYPE_GET_MACADDRESS ? "[FirmwareUpdateProtocol] MAC Address is %s"
                                                              : "[FirmwareUpdateProtocol] MAC Address Sub is %s",
                m_macAddress);
            break;
        default:
            break;
        }
        break;
    case UPDATE_STATE_ERASING:
        m_flags |= MFU_FLAG_ERASED;
        mfu_log("[FirmwareUpdateProtocol] Firmware Erased");
        setUpdateState(UPDATE_STATE_READY);
        break;
    case UPDATE_STATE_TRANSFERING:
        m_flags |= MFU_FLAG_TRANSFERRED;
        mfu_log("[FirmwareUpdateProtocol] File Transfer Finished");
        setUpdateState(UPDATE_STATE_READY);
        break;
    case UPDATE_STATE_WRITING:
    case UPDATE_STATE_WRITING_SUB:
        if (m_lastCommand == CMD_TYPE_GET_UPDATESTATE) {
            m_flags |= MFU_FLAG_UPDATE_STATE;
            parseUpdateState(text, length);
        }
        break;
    default:
        break;
    }
}

void FirmwareUpdateProtocol::handleError(const char* text, uint32_t length)
{
    switch (m_state) {
    case UPDATE_STATE_ERASING:
        if (startsWith(text, length, "VERSION")) {
            mfu_log("[FirmwareUpdateProtocol] COMM ERROR : VERSION");
            m_versionError = true;
        }
        break;
    case UPDATE_STATE_TRANSFERING: {
        const char* word = "UNKNOWN";
        for (const char* known : {"COMMAND", "MISC", "STORAGE"}) {
            if (startsWith(text, length, known))
                word = known;
        }
        mfu_logf("[FirmwareUpdateProtocol] COMM ERROR : %s", word);
        break;
    }
    case UPDATE_STATE_WRITING:
    case UPDATE_STATE_WRITING_SUB:
        mfu_log("[FirmwareUpdateProtocol] ERROR ON WRITING");
        parseUpdateState(text, length);
        break;
    default:
        if (m_lastCommand == CMD_TYPE_GET_UPDATESTATE)
            parseUpdateState(text, length);
        break;
    }
    m_flags |= MFU_FLAG_ERROR;
    m_lastCommand = 0;
}

MfuResult FirmwareUpdateProtocol::parseUpdateState(const char* text, uint32_t length)
{
    const uint32_t code = unitStateCode(text, length);
    if (code == 0)
        return MFU_E_FAIL;
    m_unitState = code;
    const char* progress = "";
    uint32_t progressLength = 0;
    switch (code) {
    case MFU_UNIT_READY:
        if (writing(m_state)) {
            m_flags |= MFU_FLAG_WRITE_FINISHED;
            setUpdateState(UPDATE_STATE_READY);
        }
        break;
    case MFU_UNIT_READY_REQBOOT:
    case MFU_UNIT_READY_REQPOWERCYCLE:
        progress = "101%";
        progressLength = 4;
        break;
    case MFU_UNIT_BUSY_SELF:
        progress = text;
        progressLength = length;
        skip(&progress, &progressLength, 10);
        if (writing(m_state))
            restartWriteStopwatch();
        break;
    case MFU_UNIT_BUSY_OTHER:
        progress = text;
        progressLength = length;
        skip(&progress, &progressLength, 11);
        break;
    case MFU_UNIT_FAIL_POWER:
        mfu_log("[FirmwareUpdateProtocol] Device : FAIL POWER");
        break;
    default:
        break;
    }
    const int percent = progressOf(progress, progressLength);
    if (percent >= 0) {
        m_writeProgress = static_cast<uint8_t>(percent);
        restartWriteStopwatch();
    }
    return MFU_OK;
}
