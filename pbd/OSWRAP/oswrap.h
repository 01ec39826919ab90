// OS wrapper: numbered tasks with 32-bit event flags and stop requests,
// numbered counting semaphores, one global lock, a millisecond tick and
// countdown/stopwatch timer records. Objects are named by small 16-bit ids.
// Every procedure returns a 32-bit result code; callers test the sign.
#pragma once

#include "pbd/jlib/jlib_result.h"

#include <cstdint>

using OswrapResult = JResult;

constexpr OswrapResult OSWRAP_OK = 0;
constexpr OswrapResult OSWRAP_TIMER_REACHED = 12;
constexpr OswrapResult OSWRAP_E_ID = static_cast<OswrapResult>(0x80000005u); // bad id or null argument
constexpr OswrapResult OSWRAP_E_NO_TASK = static_cast<OswrapResult>(0x80000007u); // not in use, or caller is no task
constexpr OswrapResult OSWRAP_E_STATE = static_cast<OswrapResult>(0x80000008u); // wrong state / not initialised
constexpr OswrapResult OSWRAP_E_TIMEOUT = static_cast<OswrapResult>(0x8000000Cu);
constexpr OswrapResult OSWRAP_E_NO_ID = static_cast<OswrapResult>(0x80000010u); // no free id
constexpr OswrapResult OSWRAP_E_STOP = static_cast<OswrapResult>(0x80000011u); // stop requested
constexpr OswrapResult OSWRAP_E_SYSTEM = static_cast<OswrapResult>(0x80000013u); // system call failed

// Id ranges. Creation hands out ids from the top downward and never below
// the dynamic floor; the lower ids are accepted by every other procedure.
constexpr uint16_t OSWRAP_MAX_SEMAPHORES = 100;
constexpr uint16_t OSWRAP_SEM_DYNAMIC_FLOOR = 50;
constexpr uint16_t OSWRAP_MAX_TASKS = 50;
constexpr uint16_t OSWRAP_TASK_DYNAMIC_FLOOR = 25;
constexpr unsigned OSWRAP_NAME_LENGTH = 9; // characters kept of an object name

// Task states.
constexpr uint8_t OSWRAP_TASK_RUNNING = 1;
constexpr uint8_t OSWRAP_TASK_DORMANT = 16;

// Event-flag bit 0x10000 is every task's stop request; every wait includes it.
constexpr uint32_t OSWRAP_FLAG_STOP = 0x10000;
// The only flag attribute in use: a successful wait clears the whole pattern.
constexpr uint32_t OSWRAP_FLAG_ATTR_CLEAR_ALL = 4;
// Flag-wait time-out that never expires.
constexpr uint32_t OSWRAP_WAIT_FOREVER = 0xFFFFFFFFu;
// How long terminate and delete wait for a task's thread to end.
constexpr uint32_t OSWRAP_JOIN_TIMEOUT_MS = 5000;
// Smallest stack a task thread gets, whatever it asks for.
constexpr uint32_t OSWRAP_MIN_STACK_SIZE = 256 * 1024;

using OswrapTaskEntry = void (*)(void* argument);

struct OswrapTaskAttr {
    OswrapTaskEntry entry = nullptr;
    int32_t priority = 0; // recorded only; the thread's priority is not changed
    uint32_t stackSize = 0; // bytes; raised to at least OSWRAP_MIN_STACK_SIZE
    const char* name = nullptr;
};

struct OswrapSemAttr {
    int32_t initialCount = 0;
    const char* name = nullptr;
};

// Timer record owned by the caller. No procedure enters the stopwatch state:
// the owner sets `state` to OSWRAP_TIMER_STOPWATCH itself.
constexpr uint8_t OSWRAP_TIMER_IDLE = 0;
constexpr uint8_t OSWRAP_TIMER_STOPWATCH = 1;
constexpr uint8_t OSWRAP_TIMER_RUNNING = 2;
constexpr uint8_t OSWRAP_TIMER_EXPIRED = 3;

struct OswrapTimer {
    uint8_t state = OSWRAP_TIMER_IDLE;
    uint32_t start = 0; // tick in ms
    uint32_t duration = 0; // ms
};

// Lifecycle: init once before any task exists; shutdown stops and deletes
// every task and closes every semaphore. Both give OSWRAP_E_STATE when
// called in the wrong state.
OswrapResult oswrap_init();
OswrapResult oswrap_shutdown();

// Counting semaphores (ids 100 down to 50 for new ones).
OswrapResult oswrap_createSemaphore(uint16_t* id, const OswrapSemAttr* attr);
OswrapResult oswrap_deleteSemaphore(uint16_t id);
OswrapResult oswrap_signalSemaphore(uint16_t id);
// Waits without time limit with the global lock released. A waiter whose
// semaphore is deleted meanwhile returns OSWRAP_E_STATE.
OswrapResult oswrap_waitSemaphore(uint16_t id);

// Tasks (ids 50 down to 25 for new ones). A task runs once per creation.
OswrapResult oswrap_createTask(uint16_t* id, const OswrapTaskAttr* attr);
OswrapResult oswrap_startTask(uint16_t id, void* argument);
// Sets the stop request and waits up to 5000 ms for the thread; a task that
// has not ended by then gives OSWRAP_E_SYSTEM and keeps its entry.
OswrapResult oswrap_terminateTask(uint16_t id);
// Waits up to 5000 ms for a running task, then frees the entry. A thread
// that does not end in time is never forced: its entry stays reserved (not
// reusable) until the thread has ended, and the result is OSWRAP_E_SYSTEM.
OswrapResult oswrap_deleteTask(uint16_t id);
// Marks the calling task dormant and clears its flags and stop request.
// Threads are never killed: the caller returns from its entry function right
// after (returning without calling this has the same effect).
OswrapResult oswrap_exitTask();
// Id of the calling task; 0 and OSWRAP_E_NO_TASK when the caller is no task.
OswrapResult oswrap_getTaskId(uint16_t* id);

// Event flags of a task. Set ORs the pattern into the task's flags and wakes
// it. Wait (calling task only) waits for any bit of mask | 0x10000, then
// delivers the whole pattern and clears it. A stop request gives
// OSWRAP_E_STOP with the stop bit removed from the delivered pattern. The
// time-out (ms, 0 = poll, OSWRAP_WAIT_FOREVER) is a deadline from the call:
// wake-ups without a wanted bit do not extend it. Pattern is 0 on failure.
OswrapResult oswrap_setTaskFlags(uint16_t id, uint32_t pattern);
OswrapResult oswrap_waitTaskFlags(uint32_t* pattern, uint32_t mask, uint32_t timeoutMs);

// Timer records; these need no oswrap_init.
OswrapResult oswrap_clearTimer(OswrapTimer* timer);
OswrapResult oswrap_isTimerStarted(const OswrapTimer* timer);
OswrapResult oswrap_startTimer(OswrapTimer* timer, uint32_t durationMs);
OswrapResult oswrap_checkTimer(OswrapTimer* timer);
OswrapResult oswrap_resetTimerStart(OswrapTimer* timer);
OswrapResult oswrap_getElapsedTime(OswrapTimer* timer, uint32_t* elapsedMs, uint32_t limitMs);

// Millisecond tick of the monotonic clock, wrapping at 2^32.
OswrapResult oswrap_getTick(uint32_t* tick);
OswrapResult oswrap_sleep(uint32_t ms);

// Test seam: replaces the tick source (null restores the monotonic clock),
// so that timer behaviour, wrap-around included, is tested without sleeping.
using OswrapTickSource = uint32_t (*)();
void oswrap_setTickSource(OswrapTickSource source);
