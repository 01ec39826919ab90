// Tables and the global lock shared by the OS wrapper's source files.
#pragma once

#include "pbd/OSWRAP/oswrap.h"

#include <pthread.h>

#include <condition_variable>
#include <mutex>

namespace oswrap_detail {

struct Semaphore {
    bool inUse = false;
    int32_t count = 0;
    uint32_t waiters = 0;
    // Bumped when the entry is freed, so waiters of a deleted semaphore
    // notice it instead of taking a unit of its successor.
    uint32_t generation = 0;
    char name[OSWRAP_NAME_LENGTH + 1] = {};
    std::condition_variable wake;
};

// Everything a task record resets when it is freed or reused, in one place
// so a new field cannot be left out of the reset.
struct TaskFields {
    bool inUse = false;
    // The entry was deleted while its thread still ran: it stays reserved
    // until the thread ends, and then the thread frees it itself.
    bool zombie = false;
    bool started = false;
    bool stopRequest = false;
    OswrapTaskEntry entry = nullptr;
    int32_t priority = 0;
    uint32_t stackSize = 0;
    char name[OSWRAP_NAME_LENGTH + 1] = {};
    int32_t currentPriority = 0;
    uint8_t state = OSWRAP_TASK_DORMANT;
    void* argument = nullptr;

    // Event flags.
    uint32_t pattern = 0;
    uint32_t flagAttributes = OSWRAP_FLAG_ATTR_CLEAR_ALL;

    // Thread: joinable while hasThread; threadEnded once the entry returned.
    bool hasThread = false;
    bool threadEnded = false;
    pthread_t thread{};
};

// The condition variables outlive resets: a waiter may still be on them.
struct Task : TaskFields {
    std::condition_variable flagWake;
    std::condition_variable ended;
};

struct State {
    std::mutex lock; // the global lock
    bool running = false;
    Semaphore semaphores[OSWRAP_MAX_SEMAPHORES + 1];
    Task tasks[OSWRAP_MAX_TASKS + 1];
};

State& state();

// Clears a task record, keeping its condition variables.
void resetTask(Task& task);

// Runs op(entry, guard) with the global lock held once lookup has found the
// entry of id; lookup's failure otherwise. The guard lets op wait.
template <class Entry, class Operation>
OswrapResult withEntry(OswrapResult (*lookup)(State&, uint16_t, Entry**), uint16_t id, Operation&& op)
{
    State& s = state();
    std::unique_lock<std::mutex> guard(s.lock);
    Entry* entry = nullptr;
    if (const OswrapResult r = lookup(s, id, &entry); r < 0)
        return r;
    return op(*entry, guard);
}

// Id of the task running on this thread, 0 for none.
uint16_t currentTaskId();

// Current millisecond tick from the installed source.
uint32_t tickNow();

// Copies at most OSWRAP_NAME_LENGTH characters of a name (null = empty).
void copyName(char (&target)[OSWRAP_NAME_LENGTH + 1], const char* name);

} // namespace oswrap_detail
