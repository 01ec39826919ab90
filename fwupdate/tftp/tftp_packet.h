// Packet layouts (big-endian numbers) and the table of internal error codes:
// what goes to the peer and what goes to the log.
#pragma once

#include "fwupdate/tftp/tftp.h"

#include <cstddef>
#include <cstdint>

constexpr TFTPResult TFTP_E_NOT_REQUEST = static_cast<TFTPResult>(0x80000001u);

// Longest ERROR packet: the time-out's, with "timeout!" and its 0x00.
constexpr size_t TFTP_ERROR_MAX = 13;

struct TFTPRequest {
    uint16_t opcode = 0; // TFTP_OP_RRQ or TFTP_OP_WRQ
    char name[TFTP_NAME_MAX + 1] = {};
    char mode[TFTP_MODE_MAX + 1] = {};
    uint8_t modeCode = TFTP_MODE_OTHER;
};

// One request from one whole datagram: opcode, name (at most 256 bytes) and
// mode (at most 32 bytes), each ended by 0x00. Bytes after the mode (the
// options some clients add) are ignored. TFTP_E_NOT_REQUEST otherwise.
TFTPResult tftp_parseRequest(const uint8_t* data, size_t length, TFTPRequest* request);

// 1 "netascii", 2 "octet", 0 any other text.
uint8_t tftp_modeCode(const char* mode);

inline uint16_t tftp_get16(const uint8_t* p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline void tftp_put16(uint8_t* p, uint16_t value)
{
    p[0] = static_cast<uint8_t>(value >> 8);
    p[1] = static_cast<uint8_t>(value);
}

// DATA header into out (4 bytes), the data follow at out + 4.
void tftp_makeDataHeader(uint8_t* out, uint16_t block);
void tftp_makeAck(uint8_t* out, uint16_t block);

// The ERROR packet for an internal code into out (TFTP_ERROR_MAX bytes):
// its length, or 0 when the code sends none.
size_t tftp_makeError(uint8_t* out, uint8_t internalCode);
// The log line of an internal code that sends an ERROR, else null.
const char* tftp_errorLogLine(uint8_t internalCode);
