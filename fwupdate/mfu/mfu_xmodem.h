// XMODEM sender over the command link: checksum (mode 0), CRC-16 (mode 1)
// or 1k blocks (mode 2). The receiver starts it with NAK (checksum) or with
// its fourth 'C' (CRC); each step reads at most one byte, so ten steps
// without a byte count one second of silence.
#pragma once

#include "fwupdate/mfu/mfu.h"

#include <cstdint>

struct FswFile;

constexpr uint8_t XMODEM_SOH = 0x01;
constexpr uint8_t XMODEM_STX = 0x02;
constexpr uint8_t XMODEM_EOT = 0x04;
constexpr uint8_t XMODEM_ACK = 0x06;
constexpr uint8_t XMODEM_NAK = 0x15;
constexpr uint8_t XMODEM_CAN = 0x18;
constexpr uint8_t XMODEM_CRC_START = 'C';
constexpr uint8_t XMODEM_PAD = 0x1A;

constexpr uint8_t XMODEM_PHASE_START = 0;
constexpr uint8_t XMODEM_PHASE_DATA = 1;
constexpr uint8_t XMODEM_PHASE_EOT = 2;
constexpr uint8_t XMODEM_PHASE_ENDED = 3;

constexpr uint8_t XMODEM_END_OK = 0;
constexpr uint8_t XMODEM_END_CANCELLED = 2;
constexpr uint8_t XMODEM_END_CLOSE_FAILED = 3;

constexpr uint8_t XMODEM_NAK_RETRIES = 25;
constexpr uint32_t XMODEM_START_CS = 4; // the 'C' that starts a CRC transfer
constexpr uint8_t XMODEM_CALLS_PER_SECOND = 10;
// A silent call counts only this long after the last byte or counted call:
// the link also steps on socket wake-ups, far more often than its tick.
constexpr uint32_t XMODEM_SILENT_CALL_MS = 100;
constexpr uint8_t XMODEM_SILENCE_SECONDS = 30;
constexpr uint32_t XMODEM_PACKET_MAX = 1024 + 5;

// CRC-16/XMODEM: polynomial 0x1021, initial value 0.
uint16_t xmodem_crc16(const uint8_t* data, uint32_t length);

// What one sender step gives.
constexpr int32_t XMODEM_RUNNING = 0;
constexpr int32_t XMODEM_DONE = 1;

struct XModemSender {
    uint8_t phase = XMODEM_PHASE_START;
    uint8_t silentCalls = 0;
    uint8_t silentSeconds = 0;
    uint8_t cancels = 0;
    bool crc = false;
    bool oneK = false;
    uint8_t block = 1;
    uint8_t naksLeft = XMODEM_NAK_RETRIES;
    uint32_t startCountdown = XMODEM_START_CS;
    uint16_t packetLength = 0; // of a data packet
    uint8_t packet[XMODEM_PACKET_MAX] = {};
    uint16_t currentLength = 0; // of the packet to (re)send: data or EOT
    uint32_t total = 0;
    uint32_t lastHeard = 0; // tick of the last byte or counted silent call
    uint8_t endCode = XMODEM_END_OK;
    FswFile* file = nullptr;
};

class TransferXModem : public ITransferProtocol {
public:
    explicit TransferXModem(int32_t mode);
    ~TransferXModem() override;
    TransferXModem(const TransferXModem&) = delete;
    TransferXModem& operator=(const TransferXModem&) = delete;

    MfuResult destroy() override;
    MfuResult setCallback(ITransfererCallback* callback) override;
    MfuResult setFilePath(const char* path) override;
    MfuResult start() override;
    MfuResult step() override;
    MfuResult end() override { return MFU_OK; }
    uint32_t fileSize() const override { return m_fileSize; }
    uint32_t bytesSent() const override { return m_sender.total; }
    bool finished() const override { return m_state == TRANSFER_STATE_FINISHED || m_state == TRANSFER_STATE_ABORTED; }
    int32_t transferState() const override { return m_state; }

    int32_t mode() const { return m_mode; }
    const XModemSender& sender() const { return m_sender; }

private:
    // One sender step with a received byte (byte >= 0) or none (-1). A packet
    // to send is left in *out/*outLength. XMODEM_RUNNING, XMODEM_DONE or a
    // failure.
    int32_t senderStep(int byte, const uint8_t** out, uint16_t* outLength);
    int32_t onByte(uint8_t byte, const uint8_t** out, uint16_t* outLength);
    int32_t onSilence(const uint8_t** out, uint16_t* outLength);
    int32_t nextBlock();
    int32_t abort(const uint8_t** out, uint16_t* outLength);
    void finish();
    void closeFile();
    void enterState(int32_t state);

    int32_t m_mode;
    ITransfererCallback* m_callback = nullptr;
    char m_path[TRANSFER_PATH_MAX + 1] = {};
    uint32_t m_fileSize = 0;
    int32_t m_state = TRANSFER_STATE_NONE;
    XModemSender m_sender;
};
