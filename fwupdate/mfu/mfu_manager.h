// The firmware update manager: the model firmware sequences of up to 31
// units (indexes 0..30), all run by one OS-wrapper task, "MFU", which wakes
// on socket activity of any unit and ticks every 100 ms. The sequences'
// events become callbacks to the application (MfuAppCallbackIF), called on
// the MFU task.
//
// Locks: the "MFUTASK" semaphore is held by the task around each pass and
// taken by every call from other threads that touches the sequences (add,
// remove, the per-index forwarders) or the task's target; the application
// callback runs under it and must not call back into the manager.
#pragma once

#include "fwupdate/mfu/mfu_sequence.h"
#include "fwupdate/mfu/mfu_wakeup.h"

#include <array>
#include <atomic>
#include <memory>
#include <string>

constexpr uint32_t MFU_MAX_UNITS = 31;
constexpr uint32_t MFU_WAKE_BIT = 0x20000;
constexpr uint32_t MFU_WAKE_MASK = 0x1FE0000;
constexpr uint32_t MFU_TICK_MS = 100;
constexpr uint32_t MFU_WAIT_MS = 10;
constexpr int32_t MFU_TASK_PRIORITY = 13;
constexpr uint32_t MFU_TASK_STACK = 16000;

// Application callback codes.
constexpr uint32_t MFU_APP_START_WAIT = 1;
constexpr uint32_t MFU_APP_TRANSFER_STARTED = 2;
constexpr uint32_t MFU_APP_WRITE_STARTED = 3;
constexpr uint32_t MFU_APP_TRANSFER_PROGRESS = 4;
constexpr uint32_t MFU_APP_WRITE_PROGRESS = 5;
constexpr uint32_t MFU_APP_FINISHED = 6;
constexpr uint32_t MFU_APP_ERROR = 7;

// What the task calls on its target.
class MfuCallbackIF {
public:
    virtual int32_t runCallback(uint32_t index) = 0;
    virtual int32_t tick() = 0;
    virtual ~MfuCallbackIF() = default;
};

// The task's target while no manager is attached.
class DummyMfuCallbackIF : public MfuCallbackIF {
public:
    int32_t runCallback(uint32_t index) override { return static_cast<int32_t>(0x80000000u | (index & 0xFFu)); }
    int32_t tick() override { return MFU_E_FAIL; }
};

// What the manager reports to the application (on the MFU task).
class MfuAppCallbackIF {
public:
    virtual void mfuAppCallback(uint32_t code, uint32_t index) = 0;
    virtual ~MfuAppCallbackIF() = default;
};

// The application callback code of a sequence's event (0: none) and the
// line logged for it (empty: none).
uint32_t mfu_eventCallback(int32_t event, uint32_t errorType, std::string* logLine);
// The task's event-flag bit for a unit: indexes 8 apart share one.
constexpr uint32_t mfu_wakeBit(uint32_t index)
{
    return MFU_WAKE_BIT << (index % 8);
}

// The MFU task. Start fails with MFU_E_FAIL while a task runs (the target
// stays as it was); stop makes the dummy the target and ends the task.
MfuResult mfu_taskStart(MfuCallbackIF* target, uint16_t* taskId);
MfuResult mfu_taskStop();
// The "MFUTASK" semaphore (made on first use, kept for the process).
MfuResult mfu_taskLock();
void mfu_taskUnlock();

class FirmwareUpdateManager : public MFUTaskWakeupIF, public MfuCallbackIF {
public:
    // Starts the MFU task with this manager as its target.
    FirmwareUpdateManager();
    ~FirmwareUpdateManager() override;
    FirmwareUpdateManager(const FirmwareUpdateManager&) = delete;
    FirmwareUpdateManager& operator=(const FirmwareUpdateManager&) = delete;

    // MFU_E_FAIL for an index above 30, MFU_E_ARG when the slot is taken,
    // MFU_E_ABORTED when no sequence could be made, MFU_E_INIT when it
    // could not be initialised.
    MfuResult addDevice(uint32_t index, const char* pcAddress, const char* unitAddress, const char* filePath,
        uint32_t expectedModel, const char* packageVersion);
    MfuResult removeDevice(uint32_t index);
    MfuResult getReady(uint32_t index);
    MfuResult startUpdate(uint32_t index);
    int32_t versionRelation(uint32_t index);
    MfuResult unitVersion(uint32_t index, char* buffer16);
    uint32_t transferPercent(uint32_t index);
    uint32_t writePercent(uint32_t index);
    void setAppCallback(MfuAppCallbackIF* callback) { m_app = callback; }
    // Stops the task (when this manager started it), then destroys every
    // sequence. No wake-up or callback arrives once it returns.
    MfuResult destroy();

    bool started() const { return m_started; }
    uint16_t taskId() const { return m_taskId; }

    // MFUTaskWakeupIF (socket service's thread).
    int32_t wake(uint32_t index) override;
    int32_t versionErrorFlag(uint32_t index) override;
    // MfuCallbackIF (MFU task, semaphore held).
    int32_t runCallback(uint32_t index) override;
    int32_t tick() override;

private:
    void report(uint32_t index, int32_t event, uint32_t errorType);
    void callApp(uint32_t code, uint32_t index);

    uint16_t m_taskId = 0;
    bool m_started = false;
    std::atomic<MfuAppCallbackIF*> m_app{nullptr};
    std::array<std::unique_ptr<IMfuSequence>, MFU_MAX_UNITS> m_sequences;
};
