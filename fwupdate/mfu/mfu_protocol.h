// The unit's model firmware command link: text commands framed "\r...\r" on
// TCP port 49552, replies "OK ..." / "ERROR ..." and pushed
// "PUSH updatestate ..." lines, one per CR/LF-terminated line.
//
// FirmwareUpdateProtocol formats the commands, parses what comes back, keeps
// the update state and steps the transfer object while a file goes out.
// Every call comes from one thread (the MFU task); the socket is the unit
// link's, set once connected.
#pragma once

#include "fwupdate/mfu/mfu.h"
#include "pbd/OSWRAP/oswrap.h"
#include "pbd/vcom/vcom.h"

#include <cstdint>
#include <memory>

constexpr uint16_t MFU_UNIT_PORT = 49552;

// Update states of the link.
constexpr uint32_t UPDATE_STATE_NOT_SET = 0;
constexpr uint32_t UPDATE_STATE_READY = 1;
constexpr uint32_t UPDATE_STATE_ABORTED = 2;
constexpr uint32_t UPDATE_STATE_ERASING = 3;
constexpr uint32_t UPDATE_STATE_TRANSFERING = 4;
constexpr uint32_t UPDATE_STATE_WRITING = 5;
constexpr uint32_t UPDATE_STATE_REBOOTING = 6;
constexpr uint32_t UPDATE_STATE_WRITING_SUB = 7;

// Result flags.
constexpr uint32_t MFU_FLAG_PROTOCOLS = 1u << 0;
constexpr uint32_t MFU_FLAG_PRODUCT_NAME = 1u << 1;
constexpr uint32_t MFU_FLAG_VERSION = 1u << 2;
constexpr uint32_t MFU_FLAG_UPDATE_STATE = 1u << 3;
constexpr uint32_t MFU_FLAG_ERASED = 1u << 4;
constexpr uint32_t MFU_FLAG_TRANSFERRED = 1u << 5;
constexpr uint32_t MFU_FLAG_WRITE_STARTED = 1u << 6;
constexpr uint32_t MFU_FLAG_WRITE_FINISHED = 1u << 7;
constexpr uint32_t MFU_FLAG_REBOOT = 1u << 8;
constexpr uint32_t MFU_FLAG_MAC_ADDRESS = 1u << 9;
constexpr uint32_t MFU_FLAG_ERROR = 1u << 31;

// Command kinds.
constexpr uint32_t CMD_TYPE_GET_PROTOCOL = 1;
constexpr uint32_t CMD_TYPE_GET_PRODUCTNAME = 2;
constexpr uint32_t CMD_TYPE_GET_VERSION = 3;
constexpr uint32_t CMD_TYPE_GET_UPDATESTATE = 4;
constexpr uint32_t CMD_TYPE_ERASE = 5;
constexpr uint32_t CMD_TYPE_FILEPUT = 6;
constexpr uint32_t CMD_TYPE_START_WRITE = 7;
constexpr uint32_t CMD_TYPE_REBOOT = 8;
constexpr uint32_t CMD_TYPE_REQUEST_GET = 9;
constexpr uint32_t CMD_TYPE_ERASE_SUB = 10;
constexpr uint32_t CMD_TYPE_FILEPUT_SUB = 11;
constexpr uint32_t CMD_TYPE_GET_MACADDRESS = 12;
constexpr uint32_t CMD_TYPE_GET_MACADDRESS_SUB = 13;
constexpr uint32_t CMD_TYPE_GET_VERSION_SUB = 14;
constexpr uint32_t CMD_TYPE_START_WRITE_SUB = 15;
constexpr uint32_t MFU_COMMAND_KINDS = 15;

// The unit's own update state, parsed from its update-state text.
constexpr uint32_t MFU_UNIT_READY = 1;
constexpr uint32_t MFU_UNIT_READY_REQBOOT = 2;
constexpr uint32_t MFU_UNIT_READY_REQPOWERCYCLE = 3;
constexpr uint32_t MFU_UNIT_BUSY_SELF = 4;
constexpr uint32_t MFU_UNIT_BUSY_OTHER = 5;
constexpr uint32_t MFU_UNIT_FAIL = 6;
constexpr uint32_t MFU_UNIT_FAIL_REQBOOT = 7;
constexpr uint32_t MFU_UNIT_FAIL_REQPOWERCYCLE = 8;
constexpr uint32_t MFU_UNIT_FAIL_REQSERVICE = 9;
constexpr uint32_t MFU_UNIT_FAIL_POWER = 10;

constexpr uint32_t MFU_COMMAND_MAX = 128; // bytes of a framed line, terminator included
constexpr uint32_t MFU_RECEIVE_BUFFER = 10000;
constexpr uint32_t MFU_PROTOCOLS_MAX = 255; // field sizes, terminator included
constexpr uint32_t MFU_PRODUCT_NAME_MAX = 255;
constexpr uint32_t MFU_VERSION_MAX = 16;
constexpr uint32_t MFU_MAC_MAX = 16;
constexpr uint32_t MFU_FILE_PATH_MAX = 260;
constexpr uint32_t MFU_LOG_LINE_MAX = 128;
constexpr uint32_t MFU_WRITE_SILENCE_MS = 30000;

class FirmwareUpdateProtocol : public ITransfererCallback {
public:
    FirmwareUpdateProtocol();
    ~FirmwareUpdateProtocol() override;
    FirmwareUpdateProtocol(const FirmwareUpdateProtocol&) = delete;
    FirmwareUpdateProtocol& operator=(const FirmwareUpdateProtocol&) = delete;

    // ITransfererCallback: to and from the socket; MFU_E_FAIL without one.
    int32_t sendBytes(const void* data, uint32_t length) override;
    int32_t readBytes(void* buffer, uint32_t capacity, uint32_t* countOut) override;

    // Sends one command (kind 1..15; argument for the kinds that take one).
    // MFU_E_FAIL while busy, for a wrong kind or a missing transfer object;
    // MFU_E_ARG for a line over 127 bytes (nothing is sent); the socket's
    // code when the send fails.
    MfuResult sendCommand(uint32_t kind, const char* argument = nullptr);
    // One step of the link: a transfer step while a file goes out, else one
    // read and the lines it completes. MFU_E_ABORTED when the transfer fails.
    MfuResult receive();

    // Non-null socket (not owned) -> READY.
    MfuResult setSocket(VCOM::IVCom* socket);
    // Forgets the socket before its owner releases it.
    void clearSocket()
    {
        m_socket = nullptr;
        m_pending = 0;
    }
    MfuResult setFilePath(const char* path); // at most 259 characters
    MfuResult setTransfer(std::unique_ptr<ITransferProtocol> transfer);
    ITransferProtocol* transfer() const { return m_transfer.get(); }

    // Answer readers: 1 set, 0 not, 2 once after an ERROR reply.
    int32_t answer(uint32_t flag);
    int32_t protocolsReceived() { return answer(MFU_FLAG_PROTOCOLS); }
    int32_t productNameReceived() { return answer(MFU_FLAG_PRODUCT_NAME); }
    int32_t versionReceived() { return answer(MFU_FLAG_VERSION); }
    int32_t updateStateReceived() { return answer(MFU_FLAG_UPDATE_STATE); }
    int32_t eraseFinished() { return answer(MFU_FLAG_ERASED); }
    int32_t transferFinished() { return answer(MFU_FLAG_TRANSFERRED); }
    int32_t writeStarted() { return answer(MFU_FLAG_WRITE_STARTED); }
    int32_t writeFinished() { return answer(MFU_FLAG_WRITE_FINISHED); }
    int32_t rebooted() { return answer(MFU_FLAG_REBOOT); }
    int32_t macAddressReceived() { return answer(MFU_FLAG_MAC_ADDRESS); }

    const char* protocols() const { return m_protocols; }
    const char* productName() const { return m_productName; }
    const char* version() const { return m_version; }
    const char* macAddress() const { return m_macAddress; }
    const char* filePath() const { return m_filePath; }
    uint8_t writeProgress() const { return m_writeProgress; }
    uint32_t unitUpdateState() const { return m_unitState; }
    // Bytes sent x 100 / file size; 0 without a transfer or for an empty file.
    uint32_t transferPercent() const;
    // Milliseconds since the unit last showed it is writing.
    uint32_t writeElapsedMs();

    uint32_t updateState() const { return m_state; }
    uint32_t resultFlags() const { return m_flags; }
    uint32_t lastCommand() const { return m_lastCommand; }
    bool isAsking() const { return m_isAsking; }
    bool versionError() const { return m_versionError; }
    const char* lastProtocolLog() const { return m_protocolLog; }
    const char* lastTransferLog() const { return m_transferLog; }

    static const char* stateName(uint32_t state);
    static const char* commandName(uint32_t kind);
    // Unit update-state code of a text (first matching prefix), 0 for none.
    static uint32_t unitStateCode(const char* text, uint32_t length);

private:
    void setUpdateState(uint32_t state);
    void protocolLog(const char* text);
    void transferLog(const char* text);
    void setAsking(bool asking, uint32_t kind);
    bool busy();
    MfuResult transferStep();
    MfuResult readLines();
    void handleLine(const char* line, uint32_t length);
    void handleOk(const char* text, uint32_t length);
    void handleError(const char* text, uint32_t length);
    MfuResult parseUpdateState(const char* text, uint32_t length);
    void restartWriteStopwatch();

    uint32_t m_state = UPDATE_STATE_NOT_SET;
    std::unique_ptr<ITransferProtocol> m_transfer;
    int32_t m_lastTransferState = TRANSFER_STATE_NONE;
    uint32_t m_flags = 0;
    uint32_t m_unitState = 0;
    uint8_t m_writeProgress = 0;
    bool m_isAsking = false;
    uint32_t m_lastCommand = 0;
    bool m_versionError = false;
    VCOM::IVCom* m_socket = nullptr;
    char m_protocols[MFU_PROTOCOLS_MAX] = {};
    char m_productName[MFU_PRODUCT_NAME_MAX] = {};
    char m_version[MFU_VERSION_MAX] = {};
    char m_macAddress[MFU_MAC_MAX] = {};
    char m_filePath[MFU_FILE_PATH_MAX] = {};
    char m_transferLog[MFU_LOG_LINE_MAX] = {};
    char m_protocolLog[MFU_LOG_LINE_MAX] = {};
    char m_buffer[MFU_RECEIVE_BUFFER];
    uint32_t m_pending = 0;
    OswrapTimer m_writeStopwatch;
};

// Chooses the transfer object from the unit's protocols text ("a|b|c"): the
// first name that builds an object which takes the link's file path and the
// link as callback, while the link is READY, becomes the link's transfer.
// MFU_E_FAIL when no name does.
MfuResult mfu_chooseTransfer(FirmwareUpdateProtocol& link, const char* protocols, const char* pcAddress);
