// Global lock, tables, init and shutdown of the OS wrapper.
#include "pbd/OSWRAP/oswrap_internal.h"

#include <cstdio>
#include <cstring>

namespace oswrap_detail {

State& state()
{
    // Never destroyed: a task thread that outlived its join time-out may still
    // touch its entry while the process exits.
    static State* const instance = new State;
    return *instance;
}

void resetTask(Task& task)
{
    static_cast<TaskFields&>(task) = TaskFields{};
}

void copyName(char (&target)[OSWRAP_NAME_LENGTH + 1], const char* name)
{
    std::memset(target, 0, sizeof target);
    if (name)
        std::strncpy(target, name, OSWRAP_NAME_LENGTH);
}

} // namespace oswrap_detail

using namespace oswrap_detail;

OswrapResult oswrap_init()
{
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.running)
        return OSWRAP_E_STATE;
    for (Semaphore& sem : s.semaphores) {
        sem.inUse = false;
        sem.count = 0;
        sem.waiters = 0;
        ++sem.generation;
        std::memset(sem.name, 0, sizeof sem.name);
        sem.wake.notify_all();
    }
    // A zombie left by an earlier run keeps its entry until its thread ends.
    for (Task& task : s.tasks) {
        if (!task.zombie)
            resetTask(task);
    }
    s.running = true;
    return OSWRAP_OK;
}

OswrapResult oswrap_shutdown()
{
    State& s = state();
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (!s.running)
            return OSWRAP_E_STATE;
    }
    auto stop = [](uint16_t id) {
        oswrap_terminateTask(id);
        oswrap_deleteTask(id);
    };
    for (uint16_t id = OSWRAP_TASK_DYNAMIC_FLOOR; id <= OSWRAP_MAX_TASKS; ++id)
        stop(id);
    for (uint16_t id = OSWRAP_TASK_DYNAMIC_FLOOR - 1; id >= 1; --id)
        stop(id);

    std::lock_guard<std::mutex> guard(s.lock);
    for (Semaphore& sem : s.semaphores) {
        sem.inUse = false;
        sem.count = 0;
        sem.waiters = 0;
        ++sem.generation;
        sem.wake.notify_all();
    }
    s.running = false;
    return OSWRAP_OK;
}
