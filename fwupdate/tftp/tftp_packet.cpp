// Request parsing and packet building.
#include "fwupdate/tftp/tftp_packet.h"

#include <cstring>

namespace {

struct ErrorRow {
    uint8_t internal;
    uint16_t sent;
    const char* log;
};

// Spelling and spacing of the log lines are as the rest of the program
// writes them; tools grep for them.
constexpr ErrorRow kErrors[] = {
    {TFTP_ERR_NOT_FOUND, 1, "[ERROR] TFTP: sendError ERR_FILE_NOT_FOUND"},
    {TFTP_ERR_EXISTS, 6, "[ERROR] TFTP : sendError ERR_FILE_ALREADY_EXIST"},
    {TFTP_ERR_ACCESS, 2, "[ERROR] TFTP : sendError ERR_FILE_ACCESS"},
    {TFTP_ERR_DISK_FULL, 3, "[ERROR] TFTP : sendError ERR_DISK_FULL"},
    {TFTP_ERR_UNEXPECTED, 4, "[ERROR] TFTP : sendError ERR_UNKNOWN_COMMAND"},
    {TFTP_ERR_TIMEOUT, 0, "[ERROR] TFTP : send ERR_TIMEOUT"},
};

const ErrorRow* findError(uint8_t internal)
{
    for (const ErrorRow& row : kErrors) {
        if (row.internal == internal)
            return &row;
    }
    return nullptr;
}

// Length of the 0x00-ended field at data (at most max bytes before the end
// marker, which must lie inside the datagram), or -1.
long fieldLength(const uint8_t* data, size_t available, size_t max)
{
    const size_t scan = available < max + 1 ? available : max + 1;
    const void* end = memchr(data, 0, scan);
    if (!end)
        return -1;
    return static_cast<const uint8_t*>(end) - data;
}

} // namespace

uint8_t tftp_modeCode(const char* mode)
{
    if (strcmp(mode, "netascii") == 0)
        return TFTP_MODE_NETASCII;
    if (strcmp(mode, "octet") == 0)
        return TFTP_MODE_OCTET;
    return TFTP_MODE_OTHER;
}

TFTPResult tftp_parseRequest(const uint8_t* data, size_t length, TFTPRequest* request)
{
    if (!data || !request || length < 2 || data[0] != 0)
        return TFTP_E_NOT_REQUEST;
    if (data[1] != TFTP_OP_RRQ && data[1] != TFTP_OP_WRQ)
        return TFTP_E_NOT_REQUEST;
    size_t at = 2;
    const long nameLength = fieldLength(data + at, length - at, TFTP_NAME_MAX);
    if (nameLength < 0)
        return TFTP_E_NOT_REQUEST;
    const size_t modeAt = at + static_cast<size_t>(nameLength) + 1;
    const long modeLength = fieldLength(data + modeAt, length - modeAt, TFTP_MODE_MAX);
    if (modeLength < 0)
        return TFTP_E_NOT_REQUEST;
    request->opcode = data[1];
    memcpy(request->name, data + at, static_cast<size_t>(nameLength));
    request->name[nameLength] = '\0';
    memcpy(request->mode, data + modeAt, static_cast<size_t>(modeLength));
    request->mode[modeLength] = '\0';
    request->modeCode = tftp_modeCode(request->mode);
    return TFTP_OK;
}

void tftp_makeDataHeader(uint8_t* out, uint16_t block)
{
    tftp_put16(out, TFTP_OP_DATA);
    tftp_put16(out + 2, block);
}

void tftp_makeAck(uint8_t* out, uint16_t block)
{
    tftp_put16(out, TFTP_OP_ACK);
    tftp_put16(out + 2, block);
}

size_t tftp_makeError(uint8_t* out, uint8_t internalCode)
{
    const ErrorRow* row = findError(internalCode);
    if (!row)
        return 0;
    tftp_put16(out, TFTP_OP_ERROR);
    tftp_put16(out + 2, row->sent);
    if (internalCode != TFTP_ERR_TIMEOUT)
        return 4;
    // Only the time-out carries a message.
    static const char kMessage[] = "timeout!";
    memcpy(out + 4, kMessage, sizeof kMessage);
    return 4 + sizeof kMessage;
}

const char* tftp_errorLogLine(uint8_t internalCode)
{
    const ErrorRow* row = findError(internalCode);
    return row ? row->log : nullptr;
}
