// The "TFTP" task: waits for task flags at most until the next tick's
// deadline, then, under "TFTPPARENT", serves requests (flag 1), polls
// children (flag 2) and, once the deadline has passed, ticks every server.
// The tick keeps its 100 ms deadline however busy the flags keep the task.
//
// While children wait for their peers, the task waits for their sockets'
// input itself (vsock_waitInput) together with its wake-up descriptor, so an
// answer wakes the task directly and the next packet leaves at once; flags
// are then taken without waiting.
#include "fwupdate/tftp/tftp_task.h"

#include "pbd/OSWRAP/oswrap.h"
#include "pbd/vsock/vsock.h"

#include <algorithm>
#include <mutex>
#include <set>
#include <vector>

#include <sys/eventfd.h>
#include <unistd.h>

namespace {

struct TaskTable {
    std::mutex ownerLock; // serialises join and leave (owners' threads)
    std::atomic<uint16_t> semaphore{0}; // "TFTPPARENT", made once and kept
    std::atomic<uint16_t> taskId{0};
    // Wakes the task while it waits for its children's input; made with
    // the semaphore and kept.
    std::atomic<int> wakeFd{-1};
    // The task sleeps in vsock_waitInput: a signal must write wakeFd.
    std::atomic<bool> waitingForInput{false};
    // Under the semaphore.
    std::vector<TFTPTaskIF*> targets;
    bool stopping = false;
    DummyTFTPTask dummy;

    std::mutex portLock;
    std::set<uint16_t> ports;
};

// Flags the task raised for itself during its own round (a send that
// completed at once, a burst cut short): served before the task waits again,
// without waking anyone.
thread_local bool t_onTask = false;
thread_local uint32_t t_again = 0;
constexpr int kAgainRounds = 8;

TaskTable& table()
{
    static TaskTable t;
    return t;
}

uint32_t now()
{
    uint32_t tick = 0;
    oswrap_getTick(&tick);
    return tick;
}

void forEachTarget(int32_t (TFTPTaskIF::*operation)())
{
    // A target's call never changes the table: owners do, under the
    // semaphore the task holds here.
    for (TFTPTaskIF* target : table().targets)
        (target->*operation)();
}

void wakeInputWait(TaskTable& t)
{
    const int fd = t.wakeFd.load();
    if (fd < 0)
        return;
    const uint64_t one = 1;
    ssize_t n = write(fd, &one, sizeof one);
    (void)n; // a full counter already wakes
}

// Waits for flags at most `left` ms; with inputs to watch, for those too.
// ready[] and *readyCount describe the inputs that hold datagrams.
OswrapResult waitForWork(
    TaskTable& t, const int* ids, uint8_t* ready, int watched, uint32_t left, uint32_t* pattern, int* readyCount)
{
    const uint32_t mask = TFTP_FLAG_REQUESTS | TFTP_FLAG_CHILDREN;
    *readyCount = 0;
    const int fd = t.wakeFd.load();
    if (watched == 0 || fd < 0)
        return oswrap_waitTaskFlags(pattern, mask, left);
    // Announced before the flags are looked at: a flag set after that look
    // finds the announcement and writes the descriptor.
    t.waitingForInput.store(true);
    OswrapResult rc = oswrap_waitTaskFlags(pattern, mask, 0);
    if (rc == OSWRAP_E_TIMEOUT) {
        const VSockResult got = vsock_waitInput(ids, ready, watched, fd, static_cast<int32_t>(left));
        t.waitingForInput.store(false);
        if (got < 0) // no socket service: the flags alone
            return oswrap_waitTaskFlags(pattern, mask, left);
        *readyCount = got;
        rc = oswrap_waitTaskFlags(pattern, mask, 0);
    }
    t.waitingForInput.store(false);
    return rc;
}

void taskMain(void*)
{
    t_onTask = true;
    TaskTable& t = table();
    int ids[VSOCK_MAX_SOCKETS];
    uint8_t ready[VSOCK_MAX_SOCKETS];
    int watched = 0;
    uint32_t deadline = now() + tftp_timings().tickMs;
    for (;;) {
        const int32_t left = static_cast<int32_t>(deadline - now());
        uint32_t pattern = 0;
        int readyCount = 0;
        const OswrapResult rc
            = waitForWork(t, ids, ready, watched, left > 0 ? static_cast<uint32_t>(left) : 0, &pattern, &readyCount);
        if (rc == OSWRAP_E_STOP)
            break;
        if (oswrap_waitSemaphore(t.semaphore) < 0)
            break;
        if (t.stopping) {
            oswrap_signalSemaphore(t.semaphore);
            break;
        }
        if (pattern & TFTP_FLAG_REQUESTS)
            forEachTarget(&TFTPTaskIF::serveRequests);
        if (pattern & TFTP_FLAG_CHILDREN)
            forEachTarget(&TFTPTaskIF::pollChildren);
        if (readyCount > 0) {
            for (TFTPTaskIF* target : t.targets)
                target->serveInputs(ids, ready, watched);
        }
        if (static_cast<int32_t>(now() - deadline) >= 0) {
            forEachTarget(&TFTPTaskIF::tick);
            deadline = now() + tftp_timings().tickMs;
        }
        for (int round = 0; round < kAgainRounds && t_again != 0; ++round) {
            const uint32_t again = t_again;
            t_again = 0;
            if (again & TFTP_FLAG_REQUESTS)
                forEachTarget(&TFTPTaskIF::serveRequests);
            if (again & TFTP_FLAG_CHILDREN)
                forEachTarget(&TFTPTaskIF::pollChildren);
        }
        if (t_again != 0) {
            // Still more: the next wait returns at once.
            oswrap_setTaskFlags(t.taskId.load(), t_again);
            t_again = 0;
        }
        watched = 0;
        for (TFTPTaskIF* target : t.targets)
            watched += target->watchInputs(ids + watched, VSOCK_MAX_SOCKETS - watched);
        oswrap_signalSemaphore(t.semaphore);
    }
    oswrap_exitTask();
}

TFTPResult makeTask(TaskTable& t)
{
    OswrapTaskAttr attr;
    attr.entry = &taskMain;
    attr.priority = TFTP_TASK_PRIORITY;
    attr.stackSize = TFTP_TASK_STACK;
    attr.name = "TFTP";
    uint16_t id = 0;
    if (oswrap_createTask(&id, &attr) < 0)
        return TFTP_E_FAIL;
    t.stopping = false;
    if (oswrap_startTask(id, nullptr) < 0) {
        oswrap_deleteTask(id);
        return TFTP_E_FAIL;
    }
    t.taskId.store(id);
    return TFTP_OK;
}

void stopTask(TaskTable& t)
{
    const uint16_t id = t.taskId.load();
    if (id == 0)
        return;
    oswrap_waitSemaphore(t.semaphore);
    t.stopping = true;
    t.targets.assign(1, &t.dummy);
    oswrap_signalSemaphore(t.semaphore);
    t.taskId.store(0);
    // The stop flag alone does not end a wait for input.
    wakeInputWait(t);
    oswrap_terminateTask(id);
    oswrap_deleteTask(id);
    oswrap_waitSemaphore(t.semaphore);
    t.targets.clear();
    oswrap_signalSemaphore(t.semaphore);
}

} // namespace

TFTPParentLock::TFTPParentLock()
{
    const uint16_t id = table().semaphore;
    m_held = id != 0 && oswrap_waitSemaphore(id) >= 0;
}

TFTPParentLock::~TFTPParentLock()
{
    if (m_held)
        oswrap_signalSemaphore(table().semaphore);
}

TFTPResult tftp_taskJoin(TFTPTaskIF* target)
{
    TaskTable& t = table();
    std::lock_guard<std::mutex> guard(t.ownerLock);
    if (t.semaphore.load() == 0) {
        OswrapSemAttr attr;
        attr.initialCount = 1;
        attr.name = "TFTPPARENT";
        uint16_t id = 0;
        if (oswrap_createSemaphore(&id, &attr) < 0)
            return TFTP_E_FAIL;
        t.semaphore.store(id);
        t.wakeFd.store(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    }
    if (t.taskId.load() == 0 && makeTask(t) != TFTP_OK)
        return TFTP_E_FAIL;
    TFTPParentLock lock;
    t.targets.push_back(target);
    return TFTP_OK;
}

void tftp_taskLeave(TFTPTaskIF* target)
{
    TaskTable& t = table();
    std::lock_guard<std::mutex> guard(t.ownerLock);
    bool last = false;
    {
        TFTPParentLock lock;
        t.targets.erase(std::remove(t.targets.begin(), t.targets.end(), target), t.targets.end());
        last = t.targets.empty();
    }
    if (last)
        stopTask(t);
}

void tftp_taskSignal(uint32_t flags)
{
    if (t_onTask) {
        t_again |= flags;
        return;
    }
    TaskTable& t = table();
    const uint16_t id = t.taskId.load();
    if (id == 0)
        return;
    oswrap_setTaskFlags(id, flags);
    if (t.waitingForInput.load())
        wakeInputWait(t);
}

bool tftp_holdPort(uint16_t port)
{
    TaskTable& t = table();
    std::lock_guard<std::mutex> guard(t.portLock);
    return t.ports.insert(port).second;
}

void tftp_releasePort(uint16_t port)
{
    TaskTable& t = table();
    std::lock_guard<std::mutex> guard(t.portLock);
    t.ports.erase(port);
}
