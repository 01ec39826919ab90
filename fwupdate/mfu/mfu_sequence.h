// One unit's model firmware update as numbered steps: connect, check model,
// version and protocols, wait for the start, erase, transfer, check the
// state, write, disconnect. The MFU task pumps and evaluates it every
// 100 ms and polls its socket when the socket wakes the task.
#pragma once

#include "fwupdate/mfu/mfu_unit.h"
#include "pbd/OSWRAP/oswrap.h"

#include <cstdint>

// Error types.
constexpr uint32_t MFU_SEQUENCE_ERR_NONE = 0;
constexpr uint32_t MFU_SEQUENCE_ERR_CONNECTION = 1;
constexpr uint32_t MFU_SEQUENCE_ERR_GET_INFO = 2;
constexpr uint32_t MFU_SEQUENCE_ERR_ERASE = 3;
constexpr uint32_t MFU_SEQUENCE_ERR_TRANSFER = 4;
constexpr uint32_t MFU_SEQUENCE_ERR_WRITE = 5;
constexpr uint32_t MFU_SEQUENCE_ERR_OTHER = 7;

// Events of evaluate().
constexpr int32_t MFU_EVENT_NONE = 0;
constexpr int32_t MFU_EVENT_START_WAIT = 1;
constexpr int32_t MFU_EVENT_TRANSFER_STARTED = 2;
constexpr int32_t MFU_EVENT_WRITE_STARTED = 3;
constexpr int32_t MFU_EVENT_TRANSFER_PROGRESS = 4;
constexpr int32_t MFU_EVENT_WRITE_PROGRESS = 5;
constexpr int32_t MFU_EVENT_FINISHED = 6;

constexpr uint32_t MFU_STEP_WAIT_RUN = 5;
constexpr uint32_t MFU_STEP_TRANSFER = 7;
constexpr uint32_t MFU_STEP_WRITING = 10;
constexpr uint32_t MFU_STEP_DISCONNECT = 11;
constexpr uint32_t MFU_STEP_END = 12;

constexpr MfuResult MFU_E_WRITE = static_cast<MfuResult>(0x80000005u);

class IMfuSequence {
public:
    virtual MfuResult destroy() = 0;
    virtual MfuResult initialize(MFUTaskWakeupIF* target, uint32_t index, const char* pcAddress,
        const char* unitAddress, const char* filePath, uint32_t expectedModel, const char* packageVersion)
        = 0;
    virtual MfuResult getReady() = 0;
    virtual MfuResult startUpdate() = 0;
    virtual MfuResult pollSocket() = 0;
    virtual MfuResult pump() = 0;
    virtual int32_t evaluate() = 0;
    virtual uint32_t errorType() const = 0;
    virtual int32_t versionRelation() const = 0;
    virtual MfuResult unitVersion(char* buffer, uint32_t size) const = 0;
    virtual uint32_t transferPercent() const = 0;
    virtual MfuResult reserved11() { return MFU_E_FAIL; }
    virtual uint32_t writePercent() const = 0;
    virtual bool versionError() const = 0;
    virtual bool reserved14() { return false; }
    virtual MfuResult reserved15() { return MFU_E_FAIL; }
    virtual MfuResult reserved16() { return MFU_E_FAIL; }
    virtual int32_t reserved17() { return -1; }
    virtual int32_t reserved18() { return 0; }
    virtual bool reserved19() { return false; }
    virtual int32_t reserved20() { return 7; }
    virtual MfuResult reserved21() { return MFU_E_FAIL; }
    virtual MfuResult reserved22() { return MFU_E_FAIL; }
    virtual MfuResult reserved23() { return MFU_E_FAIL; }
    virtual ~IMfuSequence() = default;
};

class QuilMfuSequence : public IMfuSequence {
public:
    QuilMfuSequence();
    ~QuilMfuSequence() override;

    MfuResult destroy() override;
    MfuResult initialize(MFUTaskWakeupIF* target, uint32_t index, const char* pcAddress, const char* unitAddress,
        const char* filePath, uint32_t expectedModel, const char* packageVersion) override;
    MfuResult getReady() override;
    MfuResult startUpdate() override;
    MfuResult pollSocket() override;
    MfuResult pump() override;
    int32_t evaluate() override;
    uint32_t errorType() const override { return m_errorType; }
    int32_t versionRelation() const override { return m_versionRelation; }
    MfuResult unitVersion(char* buffer, uint32_t size) const override;
    uint32_t transferPercent() const override;
    uint32_t writePercent() const override { return m_link.protocol().writeProgress(); }
    bool versionError() const override { return m_link.protocol().versionError(); }

    uint32_t step() const { return m_step; }
    bool running() const { return m_running; }
    const char* stepText() const { return m_stepText; }
    ModelFirmwareUpdate& link() { return m_link; }

    static const char* stepName(uint32_t step);

private:
    enum class Verdict { Wait, Advance, Try, Fail };

    Verdict judge();
    Verdict checkAnswer();
    MfuResult act();
    void enter(uint32_t step);
    void advance();
    void fail(uint32_t errorType);
    Verdict countTry();
    int32_t event();

    uint32_t m_step = 0;
    uint32_t m_errorType = MFU_SEQUENCE_ERR_NONE;
    bool m_initialized = false;
    bool m_running = false;
    bool m_writeSteps = false;
    bool m_justEntered = false;
    bool m_actionFailed = false;
    bool m_writeFailed = false;
    int32_t m_versionRelation = 1;
    uint32_t m_retries = 0;
    OswrapTimer m_timer;
    uint8_t m_lastTransferPercent = 0;
    uint8_t m_lastWritePercent = 0;
    char m_stepText[128] = {};
    ModelFirmwareUpdate m_link;
};
