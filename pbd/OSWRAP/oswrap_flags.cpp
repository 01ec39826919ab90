// Per-task 32-bit event flags with the stop bit.
#include "pbd/OSWRAP/oswrap_internal.h"

#include <chrono>

using namespace oswrap_detail;

OswrapResult oswrap_setTaskFlags(uint16_t id, uint32_t pattern)
{
    if (id == 0 || id > OSWRAP_MAX_TASKS)
        return OSWRAP_E_ID;
    State& s = state();
    std::unique_lock<std::mutex> guard(s.lock);
    if (!s.running)
        return OSWRAP_E_STATE;
    Task& task = s.tasks[id];
    if (!task.inUse || task.zombie)
        return OSWRAP_E_NO_TASK;
    task.pattern |= pattern;
    // Woken after the lock is released, so the waiter does not wake only to
    // block on it; the tables live as long as the process.
    guard.unlock();
    task.flagWake.notify_all();
    return OSWRAP_OK;
}

OswrapResult oswrap_waitTaskFlags(uint32_t* pattern, uint32_t mask, uint32_t timeoutMs)
{
    if (!pattern)
        return OSWRAP_E_ID;
    *pattern = 0;
    State& s = state();
    std::unique_lock<std::mutex> guard(s.lock);
    if (!s.running)
        return OSWRAP_E_STATE;
    const uint16_t id = currentTaskId();
    if (id == 0 || !s.tasks[id].inUse || s.tasks[id].zombie)
        return OSWRAP_E_NO_TASK;
    Task& task = s.tasks[id];

    const uint32_t wanted = mask | OSWRAP_FLAG_STOP;
    // One deadline for the whole wait: wake-ups for bits outside the mask
    // must not extend it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (task.pattern & wanted) {
            const uint32_t delivered = task.pattern;
            task.pattern = 0; // the flag attribute clears the whole word
            if (delivered & OSWRAP_FLAG_STOP) {
                *pattern = delivered & ~OSWRAP_FLAG_STOP;
                return OSWRAP_E_STOP;
            }
            *pattern = delivered;
            return OSWRAP_OK;
        }
        if (timeoutMs == 0)
            return OSWRAP_E_TIMEOUT;
        if (timeoutMs == OSWRAP_WAIT_FOREVER) {
            task.flagWake.wait(guard);
        } else if (task.flagWake.wait_until(guard, deadline) == std::cv_status::timeout) {
            if (task.pattern & wanted)
                continue;
            return OSWRAP_E_TIMEOUT;
        }
    }
}
