// The MFU task: waits up to 10 ms for wake bits, runs the target's socket
// polls for the woken indexes and its tick every 100 ms, all under the
// "MFUTASK" semaphore.
#include "fwupdate/mfu/mfu_manager.h"

#include "pbd/OSWRAP/oswrap.h"

#include <atomic>
#include <mutex>

namespace {

struct TaskState {
    std::mutex lock; // guards the fields below between start and stop
    uint16_t semaphore = 0;
    uint16_t task = 0;
    bool running = false;
};

TaskState& state()
{
    static TaskState s;
    return s;
}

DummyMfuCallbackIF g_dummy;
// Changed only under the semaphore; read by the task under it.
MfuCallbackIF* g_target = &g_dummy;
std::atomic<bool> g_stop{false};

MfuResult ensureSemaphore()
{
    TaskState& s = state();
    if (s.semaphore != 0)
        return MFU_OK;
    OswrapSemAttr attr;
    attr.initialCount = 1;
    attr.name = "MFUTASK";
    if (oswrap_createSemaphore(&s.semaphore, &attr) < 0) {
        s.semaphore = 0;
        mfu_log("[ERROR] Failed to create semaphore.  mfu_task_startup()");
        return MFU_E_FAIL;
    }
    return MFU_OK;
}

void taskMain(void*)
{
    OswrapTimer timer;
    oswrap_startTimer(&timer, MFU_TICK_MS);
    const uint16_t semaphore = state().semaphore;
    for (;;) {
        uint32_t pattern = 0;
        const OswrapResult rc = oswrap_waitTaskFlags(&pattern, MFU_WAKE_MASK, MFU_WAIT_MS);
        if (oswrap_waitSemaphore(semaphore) < 0)
            break;
        if (rc == OSWRAP_E_STOP || g_stop.load()) {
            oswrap_signalSemaphore(semaphore);
            break;
        }
        bool tick = false;
        if (oswrap_checkTimer(&timer) == OSWRAP_TIMER_REACHED) {
            oswrap_startTimer(&timer, MFU_TICK_MS);
            tick = true;
        }
        // Indexes 8 apart share a bit: all of them are polled.
        for (uint32_t index = 0; index < MFU_MAX_UNITS && pattern != 0; ++index) {
            if (pattern & mfu_wakeBit(index))
                g_target->runCallback(index);
        }
        if (tick)
            g_target->tick();
        oswrap_signalSemaphore(semaphore);
    }
    g_stop = false;
}

} // namespace

MfuResult mfu_taskLock()
{
    {
        std::lock_guard<std::mutex> guard(state().lock);
        if (ensureSemaphore() < 0)
            return MFU_E_FAIL;
    }
    return oswrap_waitSemaphore(state().semaphore) < 0 ? MFU_E_FAIL : MFU_OK;
}

void mfu_taskUnlock()
{
    oswrap_signalSemaphore(state().semaphore);
}

MfuResult mfu_taskStart(MfuCallbackIF* target, uint16_t* taskId)
{
    TaskState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.running)
        return MFU_E_FAIL;
    if (ensureSemaphore() < 0)
        return MFU_E_FAIL;
    OswrapTaskAttr attr;
    attr.entry = taskMain;
    attr.priority = MFU_TASK_PRIORITY;
    attr.stackSize = MFU_TASK_STACK;
    attr.name = "MFU";
    uint16_t id = 0;
    if (oswrap_createTask(&id, &attr) < 0) {
        mfu_log("[ERROR] Failed to create task.  mfu_task_startup()");
        return MFU_E_FAIL;
    }
    oswrap_waitSemaphore(s.semaphore);
    g_target = target ? target : &g_dummy;
    g_stop = false;
    oswrap_signalSemaphore(s.semaphore);
    if (oswrap_startTask(id, nullptr) < 0) {
        oswrap_deleteTask(id);
        mfu_log("[ERROR] Failed to create task.  mfu_task_startup()");
        return MFU_E_FAIL;
    }
    s.task = id;
    s.running = true;
    if (taskId)
        *taskId = id;
    return MFU_OK;
}

MfuResult mfu_taskStop()
{
    TaskState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    if (!s.running)
        return MFU_E_FAIL;
    oswrap_waitSemaphore(s.semaphore);
    g_stop = true;
    g_target = &g_dummy;
    oswrap_signalSemaphore(s.semaphore);
    oswrap_terminateTask(s.task);
    oswrap_deleteTask(s.task);
    s.task = 0;
    s.running = false;
    return MFU_OK;
}
