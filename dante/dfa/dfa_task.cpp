// Task control blocks in two sentinel-headed lists.
#include "dante/dfa/dfa_task.h"
#include "dante/dfa/dfa_mutex.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <utility>

namespace {

int deletedMarker(DfaTask*)
{
    return 0;
}

struct TaskLists {
    DfaTask head{};
    DfaTask tail{};
    DfaTask tmpHead{};
    DfaTask tmpTail{};
    uint16_t agentMutex = 0;
};

TaskLists g_lists;
std::atomic<size_t> g_count{0};
// Guards the lists' existence: a post from another thread never touches
// lists or a mutex that init has not made yet or clean-up has removed.
std::mutex g_existLock;
bool g_ready = false;

void setName(DfaTask* task, const char* name)
{
    std::strncpy(task->name, name != nullptr ? name : "", DFA_TASK_NAME_SIZE);
    task->name[DFA_TASK_NAME_SIZE] = '\0';
}

void initSentinel(DfaTask* task, const char* name)
{
    *task = DfaTask{};
    setName(task, name);
    task->integrity = DFA_TASK_INTEGRITY;
}

void link(DfaTask* head, DfaTask* tail)
{
    head->next = tail;
    tail->prev = head;
}

void unlink(DfaTask* task)
{
    task->prev->next = task->next;
    task->next->prev = task->prev;
    task->prev = task->next = nullptr;
}

// Inserts before the first task of the list whose key is greater, so equal
// keys keep their creation order.
void insertOrdered(DfaTask* head, DfaTask* tail, DfaTask* task)
{
    DfaTask* at = head->next;
    while (at != tail && at->key <= task->key)
        at = at->next;
    task->prev = at->prev;
    task->next = at;
    at->prev->next = task;
    at->prev = task;
}

// The lists own their tasks; a task leaves them only to be freed here.
void freeTask(DfaTask* task)
{
    dfa_print("[TASK  ]Delete Task: %s\n", task->name);
    std::unique_ptr<DfaTask> owner(task);
    g_count.fetch_sub(1);
}

std::unique_ptr<DfaTask> makeTask(
    DfaTaskBody body, DfaTaskCleanup cleanup, uint32_t key, const char* name, uint16_t creator)
{
    std::unique_ptr<DfaTask> task(new (std::nothrow) DfaTask{});
    if (!task)
        return task;
    setName(task.get(), name);
    task->key = key;
    task->creator[0] = 1;
    task->creator[1] = creator;
    task->body = body;
    task->cleanup = cleanup;
    task->integrity = DFA_TASK_INTEGRITY;
    return task;
}

} // namespace

DfaStatus dfa_task_init()
{
    std::lock_guard<std::mutex> guard(g_existLock);
    if (g_ready)
        return dfa_reason(DFA_REASON_BUSY);
    const uint16_t mutex = dfa_mutex_create();
    if (mutex == 0)
        return dfa_reason(DFA_REASON_OS);
    initSentinel(&g_lists.head, "TCB Head");
    initSentinel(&g_lists.tail, "TCB Tail");
    initSentinel(&g_lists.tmpHead, "TmpTCB Head");
    initSentinel(&g_lists.tmpTail, "TmpTCB Tail");
    link(&g_lists.head, &g_lists.tail);
    link(&g_lists.tmpHead, &g_lists.tmpTail);
    g_lists.agentMutex = mutex;
    g_count.store(0);
    g_ready = true;
    return DFA_OK;
}

bool dfa_task_ready()
{
    std::lock_guard<std::mutex> guard(g_existLock);
    return g_ready;
}

DfaTask* dfa_task_create(DfaTaskBody body, DfaTaskCleanup cleanup, uint32_t key, const char* name)
{
    if (!dfa_task_ready())
        return nullptr;
    std::unique_ptr<DfaTask> task = makeTask(body, cleanup, key, name, 1);
    if (!task)
        return nullptr;
    dfa_print("[TASK  ]Create Task: %s\n", task->name);
    g_count.fetch_add(1);
    DfaTask* raw = task.release();
    insertOrdered(&g_lists.head, &g_lists.tail, raw);
    return raw;
}

DfaTask* dfa_task_post(
    DfaTaskBody body, DfaTaskCleanup cleanup, uint32_t key, const char* name, const void* param, size_t length)
{
    std::unique_ptr<DfaTask> task = makeTask(body, cleanup, key, name, 2);
    if (!task)
        return nullptr;
    if (param != nullptr)
        std::memcpy(task->param, param, std::min(length, DFA_TASK_PARAM_SIZE));

    std::lock_guard<std::mutex> guard(g_existLock);
    if (!g_ready)
        return nullptr;
    const DfaMutexLock lock(g_lists.agentMutex);
    if (!lock.ok())
        return nullptr;
    dfa_print("[TASK  ]Create Task: %s\n", task->name);
    g_count.fetch_add(1);
    DfaTask* raw = task.release();
    insertOrdered(&g_lists.tmpHead, &g_lists.tmpTail, raw);
    return raw;
}

uint8_t* dfa_task_param(DfaTask* task)
{
    return task != nullptr ? task->param : nullptr;
}

void dfa_task_set_body(DfaTask* task, DfaTaskBody body)
{
    if (task != nullptr && !dfa_task_is_deleted(task))
        task->body = body;
}

bool dfa_task_is_deleted(const DfaTask* task)
{
    return task->body == &deletedMarker;
}

void dfa_task_delete(DfaTask* task)
{
    if (task == nullptr || dfa_task_is_deleted(task))
        return;
    // Marked first, so a clean-up that deletes its own task again is a no-op.
    const DfaTaskCleanup cleanup = task->cleanup;
    task->body = &deletedMarker;
    if (cleanup != nullptr)
        cleanup(task);
}

int dfa_task_pass()
{
    if (!dfa_task_ready())
        return 0;
    DfaTask* const tail = &g_lists.tail;
    // Tasks are only marked during the walk, so `task` stays valid; a task
    // created by a body after the current one runs in this pass.
    for (DfaTask* task = g_lists.head.next; task != tail; task = task->next) {
        if (task->body != nullptr)
            task->body(task);
    }

    for (DfaTask* task = g_lists.head.next; task != tail;) {
        DfaTask* const next = task->next;
        if (dfa_task_is_deleted(task)) {
            unlink(task);
            freeTask(task);
        }
        task = next;
    }

    {
        const DfaMutexLock lock(g_lists.agentMutex);
        if (lock.ok()) {
            while (g_lists.tmpHead.next != &g_lists.tmpTail) {
                DfaTask* const task = g_lists.tmpHead.next;
                unlink(task);
                insertOrdered(&g_lists.head, tail, task);
            }
        }
    }

    int broken = 0;
    for (DfaTask* task = g_lists.head.next; task != tail; task = task->next) {
        if (task->integrity != DFA_TASK_INTEGRITY) {
            dfa_print("[TASK  ] work area is broken %s\n", task->name);
            ++broken;
        }
    }
    return broken;
}

size_t dfa_task_count()
{
    return g_count.load();
}

void dfa_task_delete_all()
{
    uint16_t mutex = 0;
    {
        std::lock_guard<std::mutex> guard(g_existLock);
        if (!g_ready)
            return;
        g_ready = false;
        mutex = g_lists.agentMutex;
        g_lists.agentMutex = 0;
    }
    const std::pair<DfaTask*, DfaTask*> lists[]
        = {{&g_lists.head, &g_lists.tail}, {&g_lists.tmpHead, &g_lists.tmpTail}};
    for (const auto& [head, tail] : lists) {
        while (head->next != tail) {
            DfaTask* const task = head->next;
            unlink(task);
            dfa_task_delete(task);
            freeTask(task);
        }
    }
    dfa_mutex_close(mutex);
}
