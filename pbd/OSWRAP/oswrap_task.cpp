// Numbered tasks on threads of their own. Stop is cooperative: a task is
// asked to stop through its stop flag and is never killed; a thread that
// does not end in time keeps its entry reserved until it does.
#include "pbd/OSWRAP/oswrap_internal.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

using namespace oswrap_detail;

namespace {

thread_local uint16_t t_taskId = 0;

using Clock = std::chrono::steady_clock;

OswrapResult lookupTask(State& s, uint16_t id, Task** task)
{
    if (id == 0 || id > OSWRAP_MAX_TASKS)
        return OSWRAP_E_ID;
    if (!s.running)
        return OSWRAP_E_STATE;
    Task& t = s.tasks[id];
    if (!t.inUse || t.zombie)
        return OSWRAP_E_NO_TASK;
    *task = &t;
    return OSWRAP_OK;
}

// Marks the task dormant with clear flags, as after its entry returned.
void becomeDormant(Task& task)
{
    task.state = OSWRAP_TASK_DORMANT;
    task.pattern = 0;
    task.stopRequest = false;
}

void* taskMain(void* context)
{
    Task& task = *static_cast<Task*>(context);
    State& s = state();
    OswrapTaskEntry entry = nullptr;
    void* argument = nullptr;
    char name[16] = {};
    {
        std::lock_guard<std::mutex> guard(s.lock);
        entry = task.entry;
        argument = task.argument;
        t_taskId = static_cast<uint16_t>(&task - s.tasks);
        std::memcpy(name, task.name, std::min(sizeof name - 1, strnlen(task.name, sizeof task.name)));
    }
    // The task's name on its thread (at most 15 characters), so that tools
    // listing threads tell the tasks apart.
    if (name[0] != '\0')
        pthread_setname_np(pthread_self(), name);
    entry(argument);

    std::lock_guard<std::mutex> guard(s.lock);
    t_taskId = 0;
    if (task.zombie) {
        // Nobody will join this detached thread: free the entry now that
        // nothing of the task runs any more.
        resetTask(task);
        return nullptr;
    }
    becomeDormant(task);
    task.threadEnded = true;
    task.ended.notify_all();
    return nullptr;
}

// Waits until the task's thread has ended (global lock released meanwhile)
// and joins it. False when it did not end before the deadline.
bool joinThread(std::unique_lock<std::mutex>& guard, Task& task, Clock::time_point deadline)
{
    if (!task.ended.wait_until(guard, deadline, [&] { return task.threadEnded || !task.hasThread; }))
        return false;
    if (task.hasThread) {
        const pthread_t thread = task.thread;
        task.hasThread = false;
        guard.unlock();
        pthread_join(thread, nullptr);
        guard.lock();
    }
    return true;
}

size_t stackSizeFor(uint32_t requested)
{
    size_t size = std::max<size_t>(requested, OSWRAP_MIN_STACK_SIZE);
    const long page = sysconf(_SC_PAGESIZE);
    if (page > 0)
        size = (size + static_cast<size_t>(page) - 1) / static_cast<size_t>(page) * static_cast<size_t>(page);
    return size;
}

Clock::time_point joinDeadline()
{
    return Clock::now() + std::chrono::milliseconds(OSWRAP_JOIN_TIMEOUT_MS);
}

} // namespace

uint16_t oswrap_detail::currentTaskId()
{
    return t_taskId;
}

OswrapResult oswrap_createTask(uint16_t* id, const OswrapTaskAttr* attr)
{
    if (!id)
        return OSWRAP_E_ID;
    *id = 0;
    if (!attr || !attr->entry)
        return OSWRAP_E_ID;
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    if (!s.running)
        return OSWRAP_E_STATE;
    for (uint16_t candidate = OSWRAP_MAX_TASKS; candidate >= OSWRAP_TASK_DYNAMIC_FLOOR; --candidate) {
        Task& task = s.tasks[candidate];
        if (task.inUse)
            continue;
        resetTask(task);
        task.inUse = true;
        task.entry = attr->entry;
        task.priority = attr->priority;
        task.stackSize = attr->stackSize;
        copyName(task.name, attr->name);
        *id = candidate;
        return OSWRAP_OK;
    }
    return OSWRAP_E_NO_ID;
}

OswrapResult oswrap_startTask(uint16_t id, void* argument)
{
    return withEntry(lookupTask, id, [argument](Task& task, std::unique_lock<std::mutex>&) {
        if (task.started)
            return OSWRAP_E_STATE;
        pthread_attr_t attributes;
        if (pthread_attr_init(&attributes) != 0)
            return OSWRAP_E_SYSTEM;
        int rc = pthread_attr_setstacksize(&attributes, stackSizeFor(task.stackSize));
        task.argument = argument;
        task.threadEnded = false;
        pthread_t thread{};
        if (rc == 0)
            rc = pthread_create(&thread, &attributes, taskMain, &task);
        pthread_attr_destroy(&attributes);
        if (rc != 0)
            return OSWRAP_E_SYSTEM;
        task.thread = thread;
        task.hasThread = true;
        task.started = true;
        task.state = OSWRAP_TASK_RUNNING;
        task.currentPriority = task.priority;
        return OSWRAP_OK;
    });
}

OswrapResult oswrap_terminateTask(uint16_t id)
{
    return withEntry(lookupTask, id, [id](Task& task, std::unique_lock<std::mutex>& guard) {
        if (task.state == OSWRAP_TASK_DORMANT || !task.hasThread)
            return OSWRAP_E_STATE;
        task.stopRequest = true;
        task.pattern |= OSWRAP_FLAG_STOP;
        task.flagWake.notify_all();
        if (t_taskId == id)
            return OSWRAP_E_SYSTEM; // a thread can't wait for its own end
        if (!joinThread(guard, task, joinDeadline())) {
            jlib_diag("[E] oswrap_terminateTask - task %u has not ended in time\n", id);
            return OSWRAP_E_SYSTEM;
        }
        return OSWRAP_OK;
    });
}

OswrapResult oswrap_deleteTask(uint16_t id)
{
    return withEntry(lookupTask, id, [id](Task& task, std::unique_lock<std::mutex>& guard) {
        if (task.hasThread) {
            if (t_taskId == id) {
                // Deleting itself: the entry is freed when the entry function
                // returns.
                pthread_detach(task.thread);
                task.hasThread = false;
                task.zombie = true;
                t_taskId = 0;
                return OSWRAP_OK;
            }
            if (!joinThread(guard, task, joinDeadline())) {
                pthread_detach(task.thread);
                task.hasThread = false;
                task.zombie = true;
                jlib_diag(
                    "[E] oswrap_deleteTask - task %u has not ended; its entry stays reserved until it does\n", id);
                return OSWRAP_E_SYSTEM;
            }
            // The wait released the lock: someone else may have deleted it.
            if (!task.inUse || task.zombie)
                return OSWRAP_E_NO_TASK;
        }
        resetTask(task);
        return OSWRAP_OK;
    });
}

OswrapResult oswrap_exitTask()
{
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    const uint16_t id = t_taskId;
    if (id == 0)
        return OSWRAP_E_NO_TASK;
    Task& task = s.tasks[id];
    if (task.inUse && !task.zombie)
        becomeDormant(task);
    t_taskId = 0;
    return OSWRAP_OK;
}

OswrapResult oswrap_getTaskId(uint16_t* id)
{
    if (!id)
        return OSWRAP_E_ID;
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    const uint16_t current = t_taskId;
    if (current == 0 || !s.running || !s.tasks[current].inUse || s.tasks[current].zombie) {
        *id = 0;
        return OSWRAP_E_NO_TASK;
    }
    *id = current;
    return OSWRAP_OK;
}
