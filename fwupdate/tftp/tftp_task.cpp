// The "TFTP" task: waits for task flags at most until the next tick's
// deadline, then, under "TFTPPARENT", serves requests (flag 1), polls
// children (flag 2) and, once the deadline has passed, ticks every server.
// The tick keeps its 100 ms deadline however busy the flags keep the task.
#include "fwupdate/tftp/tftp_task.h"

#include "pbd/OSWRAP/oswrap.h"

#include <algorithm>
#include <mutex>
#include <set>
#include <vector>

namespace {

struct TaskTable {
    std::mutex ownerLock; // serialises join and leave (owners' threads)
    std::atomic<uint16_t> semaphore{0}; // "TFTPPARENT", made once and kept
    std::atomic<uint16_t> taskId{0};
    // Under the semaphore.
    std::vector<TFTPTaskIF*> targets;
    bool stopping = false;
    DummyTFTPTask dummy;

    std::mutex portLock;
    std::set<uint16_t> ports;
};

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

void taskMain(void*)
{
    TaskTable& t = table();
    uint32_t deadline = now() + tftp_timings().tickMs;
    for (;;) {
        const int32_t left = static_cast<int32_t>(deadline - now());
        uint32_t pattern = 0;
        const OswrapResult rc = oswrap_waitTaskFlags(
            &pattern, TFTP_FLAG_REQUESTS | TFTP_FLAG_CHILDREN, left > 0 ? static_cast<uint32_t>(left) : 0);
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
        if (static_cast<int32_t>(now() - deadline) >= 0) {
            forEachTarget(&TFTPTaskIF::tick);
            deadline = now() + tftp_timings().tickMs;
        }
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
    const uint16_t id = table().taskId.load();
    if (id != 0)
        oswrap_setTaskFlags(id, flags);
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
