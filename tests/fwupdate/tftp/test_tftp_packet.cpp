// Request parsing, one datagram at a time, and the ERROR packets.
#include "fwupdate/tftp/tftp_packet.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ParseCase {
    const char* name;
    std::string datagram;
    bool isRequest;
    uint16_t opcode;
    std::string file;
    uint8_t mode;
};

std::string bytes(const char* text, size_t n)
{
    return std::string(text, n);
}

TEST(TftpPacket, ParsesOneRequestPerDatagram)
{
    const std::string longName(256, 'n');
    const std::string longMode(32, 'm');
    const ParseCase cases[] = {
        {"read, octet", bytes("\0\1a.bin\0octet\0", 14), true, TFTP_OP_RRQ, "a.bin", TFTP_MODE_OCTET},
        {"write, netascii", bytes("\0\2d/x\0netascii\0", 15), true, TFTP_OP_WRQ, "d/x", TFTP_MODE_NETASCII},
        {"other mode text", bytes("\0\1a\0OCTET\0", 10), true, TFTP_OP_RRQ, "a", TFTP_MODE_OTHER},
        {"options after the mode are ignored",
            bytes("\0\1a\0octet\0tsize\0"
                  "0\0blksize\0"
                  "1468\0timeout\0"
                  "6\0",
                41),
            true, TFTP_OP_RRQ, "a", TFTP_MODE_OCTET},
        {"name of 256 bytes", std::string("\0\1", 2) + longName + std::string("\0octet\0", 7), true, TFTP_OP_RRQ,
            longName, TFTP_MODE_OCTET},
        {"mode of 32 bytes", std::string("\0\1a\0", 4) + longMode + std::string("\0", 1), true, TFTP_OP_RRQ, "a",
            TFTP_MODE_OTHER},
        {"name of 257 bytes", std::string("\0\1", 2) + longName + "n" + std::string("\0octet\0", 7), false, 0, "", 0},
        {"mode of 33 bytes", std::string("\0\1a\0", 4) + longMode + "m" + std::string("\0", 1), false, 0, "", 0},
        {"name without its end", bytes("\0\1abc", 5), false, 0, "", 0},
        {"mode without its end", bytes("\0\1a\0oct", 7), false, 0, "", 0},
        {"DATA", bytes("\0\3\0\1ab", 6), false, 0, "", 0},
        {"ACK", bytes("\0\4\0\1", 4), false, 0, "", 0},
        {"first byte not 0", bytes("\1\1a\0octet\0", 10), false, 0, "", 0},
        {"one byte", bytes("\0", 1), false, 0, "", 0},
        {"empty", "", false, 0, "", 0},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.name);
        // An exact-size copy, so that reading past the datagram is caught.
        std::vector<uint8_t> datagram(c.datagram.begin(), c.datagram.end());
        TFTPRequest request;
        const TFTPResult rc = tftp_parseRequest(datagram.data(), datagram.size(), &request);
        ASSERT_EQ(rc == TFTP_OK, c.isRequest);
        if (!c.isRequest)
            continue;
        EXPECT_EQ(request.opcode, c.opcode);
        EXPECT_EQ(std::string(request.name), c.file);
        EXPECT_EQ(request.modeCode, c.mode);
    }
}

TEST(TftpPacket, ErrorPacketsAndLogLines)
{
    struct Row {
        uint8_t internal;
        std::string packet;
        const char* log;
    };
    const Row rows[] = {
        {TFTP_ERR_NONE, "", nullptr},
        {TFTP_ERR_ARGUMENT, "", nullptr},
        {TFTP_ERR_NOT_FOUND, "00050001", "[ERROR] TFTP: sendError ERR_FILE_NOT_FOUND"},
        {TFTP_ERR_EXISTS, "00050006", "[ERROR] TFTP : sendError ERR_FILE_ALREADY_EXIST"},
        {TFTP_ERR_ACCESS, "00050002", "[ERROR] TFTP : sendError ERR_FILE_ACCESS"},
        {TFTP_ERR_DISK_FULL, "00050003", "[ERROR] TFTP : sendError ERR_DISK_FULL"},
        {TFTP_ERR_UNEXPECTED, "00050004", "[ERROR] TFTP : sendError ERR_UNKNOWN_COMMAND"},
        {TFTP_ERR_UDP, "", nullptr},
        {TFTP_ERR_STATE, "", nullptr},
        {TFTP_ERR_TIMEOUT, "0005000074696d656f75742100", "[ERROR] TFTP : send ERR_TIMEOUT"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.internal));
        uint8_t out[TFTP_ERROR_MAX];
        const size_t n = tftp_makeError(out, row.internal);
        EXPECT_EQ(qtest::hex(out, n), row.packet);
        const char* log = tftp_errorLogLine(row.internal);
        EXPECT_EQ(std::string(log ? log : ""), std::string(row.log ? row.log : ""));
    }
}

} // namespace
