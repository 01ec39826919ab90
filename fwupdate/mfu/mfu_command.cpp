// Sending commands: the busy test, the table of command texts and what each
// kind clears and sets.
#include "fwupdate/mfu/mfu_protocol.h"
#include "fwupdate/mfu/mfu_text.h"

#include <cstdio>

namespace {

struct Command {
    const char* name;
    const char* text; // "%s" takes the argument
    uint32_t clears; // answer flags emptied when sent
};

const Command kCommands[MFU_COMMAND_KINDS + 1] = {
    {"", "", 0},
    {"CMD_TYPE_GET_PROTOCOL", "update get protocol", MFU_FLAG_PROTOCOLS},
    {"CMD_TYPE_GET_PRODUCTNAME", "update get productname", MFU_FLAG_PRODUCT_NAME},
    {"CMD_TYPE_GET_VERSION", "update get version", MFU_FLAG_VERSION},
    {"CMD_TYPE_GET_UPDATESTATE", "update get updatestate", MFU_FLAG_UPDATE_STATE},
    {"CMD_TYPE_ERASE", "update erase _flashrom", MFU_FLAG_ERASED},
    {"CMD_TYPE_FILEPUT", "update fileput xmodem-1k", MFU_FLAG_TRANSFERRED},
    {"CMD_TYPE_START_WRITE", "update write", MFU_FLAG_WRITE_STARTED | MFU_FLAG_WRITE_FINISHED},
    {"CMD_TYPE_REBOOT", "update reboot", MFU_FLAG_REBOOT},
    {"CMD_TYPE_REQUEST_GET", "update request get %s", MFU_FLAG_TRANSFERRED},
    {"CMD_TYPE_ERASE SUB", "update erase _flashrom %s", MFU_FLAG_ERASED},
    {"CMD_TYPE_FILEPUT SUB", "update fileput xmodem-1k %s", MFU_FLAG_TRANSFERRED},
    {"CMD_TYPE_GET_MACADDRESS", "update get macaddress", MFU_FLAG_MAC_ADDRESS},
    {"CMD_TYPE_GET_MACADDRESS SUB", "update get macaddress %s", MFU_FLAG_MAC_ADDRESS},
    {"CMD_TYPE_GET_VERSION SUB", "update get version %s", MFU_FLAG_VERSION},
    {"CMD_TYPE_START_WRITE SUB", "update write noforce default %s", MFU_FLAG_WRITE_STARTED | MFU_FLAG_WRITE_FINISHED},
};

bool isQuery(uint32_t kind)
{
    switch (kind) {
    case CMD_TYPE_GET_PROTOCOL:
    case CMD_TYPE_GET_PRODUCTNAME:
    case CMD_TYPE_GET_VERSION:
    case CMD_TYPE_GET_UPDATESTATE:
    case CMD_TYPE_START_WRITE:
    case CMD_TYPE_GET_VERSION_SUB:
    case CMD_TYPE_START_WRITE_SUB:
        return true;
    default:
        return false;
    }
}

bool needsTransfer(uint32_t kind)
{
    return kind == CMD_TYPE_FILEPUT || kind == CMD_TYPE_REQUEST_GET || kind == CMD_TYPE_FILEPUT_SUB;
}

// "\r" + text + "\r" into line; false when it does not fit.
bool frame(char (&line)[MFU_COMMAND_MAX], const Command& command, const char* argument)
{
    char text[MFU_COMMAND_MAX];
    const bool takesArgument = strstr(command.text, "%s") != nullptr;
    const int n = takesArgument ? snprintf(text, sizeof(text), command.text, argument ? argument : "")
                                : snprintf(text, sizeof(text), "%s", command.text);
    if (n < 0 || static_cast<size_t>(n) >= sizeof(text))
        return false;
    const int m = snprintf(line, sizeof(line), "\r%s\r", text);
    return m > 0 && static_cast<size_t>(m) < sizeof(line);
}

} // namespace

const char* FirmwareUpdateProtocol::commandName(uint32_t kind)
{
    return kind <= MFU_COMMAND_KINDS ? kCommands[kind].name : "";
}

bool FirmwareUpdateProtocol::busy()
{
    if (m_isAsking)
        protocolLog("device is busy because of : m_IsAsking ");
    switch (m_state) {
    case UPDATE_STATE_READY:
    case UPDATE_STATE_WRITING:
    case UPDATE_STATE_WRITING_SUB:
        return false;
    case UPDATE_STATE_ERASING:
        protocolLog("device is busy because of : state is ERASING ");
        return true;
    case UPDATE_STATE_TRANSFERING:
        protocolLog("device is busy because of : state is TRANSFERRING ");
        return true;
    case UPDATE_STATE_REBOOTING:
        protocolLog("device is busy because of : state is REBOOTING ");
        return true;
    default:
        protocolLog("device is busy because of : state is OTHERS ");
        return true;
    }
}

MfuResult FirmwareUpdateProtocol::sendCommand(uint32_t kind, const char* argument)
{
    if (busy()) {
        protocolLog("NG! Module Is Busy. ");
        return MFU_E_FAIL;
    }
    if (kind < 1 || kind > MFU_COMMAND_KINDS) {
        protocolLog("NG! Wrong Command. ");
        return MFU_E_FAIL;
    }
    if (needsTransfer(kind) && !m_transfer) {
        protocolLog("NG! Transfer Protocol Is Not Set. ");
        return MFU_E_FAIL;
    }
    const Command& command = kCommands[kind];
    char line[MFU_COMMAND_MAX];
    // A cut line would be a different command to the unit: refuse it.
    if (!frame(line, command, argument)) {
        protocolLog("NG! Command Too Long. ");
        return MFU_E_ARG;
    }
    const int32_t sent = sendBytes(line, static_cast<uint32_t>(strlen(line)));
    if (sent < 0) {
        protocolLog("NG! Cannot Send Command ");
        setUpdateState(UPDATE_STATE_ABORTED);
        return sent;
    }
    m_lastCommand = kind;
    if (kind == CMD_TYPE_START_WRITE || kind == CMD_TYPE_START_WRITE_SUB)
        restartWriteStopwatch();

    m_flags &= ~command.clears;
    switch (kind) {
    case CMD_TYPE_GET_PROTOCOL:
        m_protocols[0] = '\0';
        break;
    case CMD_TYPE_GET_PRODUCTNAME:
        m_productName[0] = '\0';
        break;
    case CMD_TYPE_GET_VERSION:
    case CMD_TYPE_GET_VERSION_SUB:
        m_version[0] = '\0';
        break;
    case CMD_TYPE_START_WRITE:
    case CMD_TYPE_START_WRITE_SUB:
        m_writeProgress = 0;
        break;
    default:
        break;
    }

    if (isQuery(kind))
        setAsking(true, kind);
    else if (kind == CMD_TYPE_ERASE || kind == CMD_TYPE_ERASE_SUB)
        setUpdateState(UPDATE_STATE_ERASING);
    else if (needsTransfer(kind))
        setUpdateState(UPDATE_STATE_TRANSFERING);
    else if (kind == CMD_TYPE_REBOOT)
        setUpdateState(UPDATE_STATE_REBOOTING);
    return MFU_OK;
}
