// Model firmware engine: the pieces shared by the command link and the file
// transfer objects. Result codes, the log sink, and the two interfaces
// between the link and a transfer object.
//
// Threads: everything here runs on the MFU task, except a TFTP pull's
// events, which arrive on the TFTP task (TransferTFTP keeps its state in an
// atomic for that reason).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

using MfuResult = int32_t;

constexpr MfuResult MFU_OK = 0;
constexpr MfuResult MFU_E_FAIL = static_cast<MfuResult>(0x80000000u);
constexpr MfuResult MFU_E_ARG = static_cast<MfuResult>(0x80000001u);
constexpr MfuResult MFU_E_ABORTED = static_cast<MfuResult>(0x80000002u);
constexpr MfuResult MFU_E_INIT = static_cast<MfuResult>(0x80000003u);

// Where the engine's log lines go (none by default); the application points
// it at its log. Called on the MFU or TFTP task; must not call back.
using MfuLogSink = std::function<void(const char* line)>;
void mfu_setLogSink(MfuLogSink sink);
void mfu_log(const char* line);
// True while a sink is set.
bool mfu_logging();
// printf-style line, cut at 511 bytes.
void mfu_logf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Bytes to and from the unit while a transfer runs: the command link.
class ITransfererCallback {
public:
    // Everything or a failure (negative).
    virtual int32_t sendBytes(const void* data, uint32_t length) = 0;
    // Up to capacity bytes; *countOut 0 when none waited. Negative on failure.
    virtual int32_t readBytes(void* buffer, uint32_t capacity, uint32_t* countOut) = 0;
    virtual ~ITransfererCallback() = default;
};

constexpr int32_t TRANSFER_STATE_NONE = 0;
constexpr int32_t TRANSFER_STATE_STARTED = 1;
constexpr int32_t TRANSFER_STATE_TRANSFERRING = 2;
constexpr int32_t TRANSFER_STATE_WAIT_EOT = 3;
constexpr int32_t TRANSFER_STATE_FINISHED = 4;
constexpr int32_t TRANSFER_STATE_ABORTED = 5;

constexpr uint32_t TRANSFER_PATH_MAX = 256; // bytes of a transfer's file path

class ITransferProtocol {
public:
    // Releases what the transfer holds (file, server); the destructor calls it.
    virtual MfuResult destroy() = 0;
    virtual MfuResult setCallback(ITransfererCallback* callback) = 0;
    virtual MfuResult setFilePath(const char* path) = 0;
    virtual MfuResult start() = 0;
    virtual MfuResult step() = 0;
    virtual MfuResult end() = 0;
    virtual uint32_t fileSize() const = 0;
    virtual uint32_t bytesSent() const = 0;
    virtual bool finished() const = 0;
    virtual int32_t transferState() const = 0;
    virtual ~ITransferProtocol() = default;
};

// Transfer kinds by name.
constexpr int32_t MFU_TRANSFER_XMODEM_SUM = 0;
constexpr int32_t MFU_TRANSFER_XMODEM_CRC = 1;
constexpr int32_t MFU_TRANSFER_XMODEM_1K = 2;
constexpr int32_t MFU_TRANSFER_TFTP = 3;
constexpr uint32_t MFU_TRANSFER_NAME_MAX = 32;

// Kind of an exactly matching name ("xmodem-sum", "xmodem-crc", "xmodem-1k",
// "tftp"; at most 32 characters), -1 for any other.
int32_t mfu_transferKind(const char* name);
// The object for a name, none for an unknown one. pcAddress: the IPv4 text
// a TFTP pull serves on.
std::unique_ptr<ITransferProtocol> mfu_makeTransfer(const char* name, const char* pcAddress);
