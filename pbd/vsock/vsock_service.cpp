// The service control, the socket records and slots, and the service thread's
// loop: it brings its event set up to date, sleeps in epoll_wait() until a
// socket is ready, work is posted or a connect deadline falls due, and hands
// ready sockets to the stream or datagram side.
#include "pbd/vsock/vsock_internal.h"

#include "pbd/vsock/vsock_errors.h"

#include <cerrno>
#include <chrono>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vsock_detail {

Service g;

namespace {

// How long vsock_init waits for the service thread to come up.
constexpr int kStartTimeoutMs = 3000;

// The event set's tag of the wake-up descriptor; a socket's tag is its slot
// and the slot's generation.
constexpr uint64_t kWakeTag = ~uint64_t{0};

uint64_t slotTag(int s)
{
    return (static_cast<uint64_t>(g.slots[s].generation) << 32) | static_cast<uint32_t>(s);
}

// Takes the slot's descriptor out of the event set (before it is closed: a
// descriptor another process inherited for a moment would keep it there).
void unwatch(Slot& slot)
{
    if (slot.watched && g.epollFd >= 0 && slot.fd >= 0)
        epoll_ctl(g.epollFd, EPOLL_CTL_DEL, slot.fd, nullptr);
    slot.watched = 0;
}

} // namespace

uint32_t now()
{
    uint32_t tick = 0;
    oswrap_getTick(&tick);
    return tick;
}

void wakeService()
{
    VSOCK_ASSERT_LOCKED();
    const uint64_t one = 1;
    if (g.wakeFd >= 0) {
        ssize_t n = write(g.wakeFd, &one, sizeof one);
        (void)n; // a full counter already means "wake up"
    }
}

bool isReady()
{
    std::lock_guard<std::mutex> guard(g.stateLock);
    return g.state == VSOCK_STATE_READY;
}

bool validId(int id)
{
    return id >= 0 && id < VSOCK_MAX_SOCKETS;
}

void startOpTimer(OswrapTimer* timer, int32_t timeoutMs)
{
    if (timeoutMs < 0)
        oswrap_clearTimer(timer);
    else
        oswrap_startTimer(timer, static_cast<uint32_t>(timeoutMs));
}

bool opTimedOut(OswrapTimer* timer)
{
    return oswrap_isTimerStarted(timer) >= 0 && oswrap_checkTimer(timer) == OSWRAP_TIMER_REACHED;
}

void deliver(int id, int32_t kind, int32_t result)
{
    VSOCK_ASSERT_LOCKED();
    const Record& r = g.records[id];
    if ((r.options.flags & VSOCK_EVF_DELIVER) && r.options.handler) {
        const VSockEvent event{kind, result};
        r.options.handler(id, &event, r.options.context);
    }
}

int slotFd(const Record& r)
{
    return r.slot >= 0 ? g.slots[r.slot].fd : -1;
}

void finishSend(int id, int32_t kind, int32_t result)
{
    Record& r = g.records[id];
    r.send.state = OpState::Done;
    deliver(id, kind, result);
    r.send = SendOp{};
}

VSockResult setOption(int fd, int level, int name, int value)
{
    if (setsockopt(fd, level, name, &value, sizeof value) != 0)
        return vsock_translateError(VSockCall::SetSockOpt, errno);
    return VSOCK_OK;
}

// ---------------------------------------------------------------------------
// Slots and records.

int takeSlot(int fd, int id)
{
    VSOCK_ASSERT_LOCKED();
    for (int s = 0; s < VSOCK_MAX_OS_SOCKETS; ++s) {
        Slot& slot = g.slots[s];
        if (!slot.inUse) {
            slot.inUse = true;
            slot.fd = fd;
            slot.socketId = id;
            ++slot.generation;
            slot.watched = 0;
            return s;
        }
    }
    return -1;
}

namespace {

void releaseSlot(int s)
{
    Slot& slot = g.slots[s];
    unwatch(slot);
    if (slot.fd >= 0)
        close(slot.fd);
    slot.inUse = false;
    slot.fd = -1;
    slot.socketId = -1;
    ++slot.generation;
}

bool freeSlotExists()
{
    for (const Slot& slot : g.slots) {
        if (!slot.inUse)
            return true;
    }
    return false;
}

VSockResult makeSocket(int type, int* fdOut)
{
    const int fd = socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return vsock_translateError(VSockCall::Socket, errno);
    *fdOut = fd;
    return VSOCK_OK;
}

} // namespace

void clearRecord(int id)
{
    VSOCK_ASSERT_LOCKED();
    Record& r = g.records[id];
    static_cast<RecordFields&>(r) = RecordFields{};
    vsock_ringReset(&r.ring);
}

int lowestFreeRecord()
{
    for (int id = 0; id < VSOCK_MAX_SOCKETS; ++id) {
        if (g.records[id].state == RecordState::Free)
            return id;
    }
    return -1;
}

VSockResult openCheck(int id)
{
    VSOCK_ASSERT_LOCKED();
    if (!g.accepting)
        return VSOCK_E_OBJ;
    if (!validId(id))
        return VSOCK_E_PARAM;
    const Record& r = g.records[id];
    if (r.state != RecordState::Open || r.slot < 0)
        return VSOCK_E_NOTOPEN;
    return VSOCK_OK;
}

namespace {

VSockResult closeRecord(int id)
{
    Record& r = g.records[id];
    if (r.kind == Kind::Listener && r.liveAccepted > 0)
        return VSOCK_E_OBJ;
    if (r.slot >= 0)
        releaseSlot(r.slot);
    r.slot = -1;
    switch (r.kind) {
    case Kind::Datagram:
        closeDatagram(id);
        break;
    case Kind::StreamClient:
    case Kind::Accepted:
        closeStream(id);
        break;
    case Kind::Listener:
        closeListener(id);
        break;
    default:
        break;
    }
    clearRecord(id);
    return VSOCK_OK;
}

// ---------------------------------------------------------------------------
// The loop.

short wantedEvents(const Record& r)
{
    if (r.state != RecordState::Open)
        return 0;
    return r.kind == Kind::Datagram ? datagramWantedEvents(r) : streamWantedEvents(r);
}

void dispatch(int id, short revents)
{
    const short wanted = wantedEvents(g.records[id]);
    const bool failed = revents & (POLLERR | POLLHUP | POLLNVAL);
    const bool readable = (wanted & POLLIN) && ((revents & POLLIN) || failed);
    const bool writable = (wanted & POLLOUT) && ((revents & POLLOUT) || failed);
    switch (g.records[id].kind) {
    case Kind::Datagram:
        datagramDispatch(id, readable, writable);
        break;
    case Kind::StreamClient:
    case Kind::Accepted:
        streamDispatch(id, readable, writable);
        break;
    case Kind::Listener:
        listenerDispatch(id, readable);
        break;
    default:
        break;
    }
}

// Delivers what needs no readiness: sends ended on a caller's thread, and
// connects past their deadline. Returns the time until the next deadline
// (-1 none).
int serviceDeadlines()
{
    int timeout = -1;
    const uint32_t tick = now();
    for (int id = 0; id < VSOCK_MAX_SOCKETS; ++id) {
        Record& r = g.records[id];
        if (r.state != RecordState::Open)
            continue;
        if (r.send.state == OpState::Stored)
            finishSend(id, r.kind == Kind::Datagram ? VSOCK_EV_SENDTO : VSOCK_EV_SEND, r.send.result);
        if (r.connect.state == ConnectState::Pending) {
            const uint32_t elapsed = tick - r.connect.startTick;
            if (elapsed >= static_cast<uint32_t>(VSOCK_CONNECT_DEADLINE_MS)) {
                abortConnect(slotFd(r));
                connectCompletion(id, VSOCK_E_TIMEOUT);
            } else {
                const int left = VSOCK_CONNECT_DEADLINE_MS - static_cast<int>(elapsed);
                if (timeout < 0 || left < timeout)
                    timeout = left;
            }
        }
    }
    return timeout;
}

constexpr int kMaxReady = 1 + VSOCK_MAX_OS_SOCKETS;
static_assert(POLLIN == EPOLLIN && POLLOUT == EPOLLOUT && POLLERR == EPOLLERR && POLLHUP == EPOLLHUP,
    "the sides' wanted events are handed to the event set as they are");

// Brings the event set up to date with what each socket waits for, with
// the lock held; returns the wait's time-out. A socket whose wants did not
// change costs no system call.
int updateEventSet()
{
    std::lock_guard<JLIB::OwnedMutex> guard(g.lock);
    const int timeout = serviceDeadlines();
    for (int s = 0; s < VSOCK_MAX_OS_SOCKETS; ++s) {
        Slot& slot = g.slots[s];
        if (!slot.inUse || slot.socketId < 0)
            continue;
        Record& r = g.records[slot.socketId];
        const uint32_t events = static_cast<uint16_t>(wantedEvents(r));
        r.inputPolled = (events & POLLIN) != 0;
        if (events == slot.watched)
            continue;
        if (!events) {
            unwatch(slot);
            continue;
        }
        // POLLIN and POLLOUT have the values of EPOLLIN and EPOLLOUT.
        epoll_event event{};
        event.events = events;
        event.data.u64 = slotTag(s);
        int rc = epoll_ctl(g.epollFd, slot.watched ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, slot.fd, &event);
        if (rc != 0 && errno == EEXIST)
            rc = epoll_ctl(g.epollFd, EPOLL_CTL_MOD, slot.fd, &event);
        if (rc == 0) {
            slot.watched = events;
        } else {
            slot.watched = 0;
            r.inputPolled = false;
        }
    }
    return timeout;
}

void serviceReady(const epoll_event* ready, int count)
{
    std::lock_guard<JLIB::OwnedMutex> guard(g.lock);
    for (int i = 0; i < count; ++i) {
        const uint64_t tag = ready[i].data.u64;
        if (tag == kWakeTag) {
            uint64_t value;
            ssize_t n = read(g.wakeFd, &value, sizeof value);
            (void)n;
            continue;
        }
        const int s = static_cast<int>(tag & 0xFFFFFFFFu);
        if (s < 0 || s >= VSOCK_MAX_OS_SOCKETS)
            continue;
        const Slot& slot = g.slots[s];
        // A slot closed or reused since the event was raised is not serviced.
        if (!slot.inUse || slot.generation != static_cast<uint32_t>(tag >> 32) || slot.socketId < 0)
            continue;
        dispatch(slot.socketId, static_cast<short>(ready[i].events & 0xFFFF));
    }
}

void serviceLoop(void*)
{
    {
        std::lock_guard<std::mutex> guard(g.runLock);
        g.running = true;
    }
    g.runCond.notify_all();

    epoll_event ready[kMaxReady];
    while (!g.stopRequest.load()) {
        const int timeout = updateEventSet();
        const int count = epoll_wait(g.epollFd, ready, kMaxReady, timeout);
        if (g.stopRequest.load())
            break;
        if (count <= 0)
            continue; // a time-out or an interruption: look again
        serviceReady(ready, count);
    }

    std::lock_guard<std::mutex> guard(g.runLock);
    g.running = false;
}

void closeWakeFd()
{
    std::lock_guard<JLIB::OwnedMutex> guard(g.lock);
    if (g.epollFd >= 0)
        close(g.epollFd);
    g.epollFd = -1;
    if (g.wakeFd >= 0)
        close(g.wakeFd);
    g.wakeFd = -1;
}

// The wake-up descriptor and the event set that holds it; false when either
// cannot be made (nothing is left open then).
bool openWakeFd()
{
    g.wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    g.epollFd = epoll_create1(EPOLL_CLOEXEC);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = kWakeTag;
    if (g.wakeFd >= 0 && g.epollFd >= 0 && epoll_ctl(g.epollFd, EPOLL_CTL_ADD, g.wakeFd, &event) == 0)
        return true;
    if (g.epollFd >= 0)
        close(g.epollFd);
    if (g.wakeFd >= 0)
        close(g.wakeFd);
    g.epollFd = -1;
    g.wakeFd = -1;
    return false;
}

void setState(int state)
{
    std::lock_guard<std::mutex> guard(g.stateLock);
    g.state = state;
}

Kind kindOfMode(uint32_t mode)
{
    if (mode == VSOCK_MODE_DATAGRAM)
        return Kind::Datagram;
    return mode == VSOCK_MODE_LISTEN ? Kind::Listener : Kind::StreamClient;
}

} // namespace

} // namespace vsock_detail

using namespace vsock_detail;

// ---------------------------------------------------------------------------
// Service control.

int vsock_getState()
{
    std::lock_guard<std::mutex> guard(g.stateLock);
    return g.state;
}

VSockResult vsock_init()
{
    std::lock_guard<std::mutex> control(g.controlLock);
    if (vsock_getState() != VSOCK_STATE_OFF)
        return VSOCK_OK;

    {
        std::lock_guard<JLIB::OwnedMutex> guard(g.lock);
        for (int id = 0; id < VSOCK_MAX_SOCKETS; ++id)
            clearRecord(id);
        for (Slot& slot : g.slots) {
            slot.inUse = false;
            slot.fd = -1;
            slot.socketId = -1;
            slot.watched = 0;
        }
        if (!openWakeFd())
            return VSOCK_E_FAIL;
    }
    g.stopRequest.store(false);
    {
        std::lock_guard<std::mutex> guard(g.runLock);
        g.running = false;
    }

    OswrapTaskAttr attr;
    attr.entry = serviceLoop;
    attr.priority = 12;
    attr.stackSize = 4096;
    attr.name = "VSOCK";
    uint16_t taskId = 0;
    if (oswrap_createTask(&taskId, &attr) < 0) {
        closeWakeFd();
        return VSOCK_E_FAIL;
    }
    setState(VSOCK_STATE_STARTING);
    bool up = false;
    if (oswrap_startTask(taskId, nullptr) >= 0) {
        std::unique_lock<std::mutex> guard(g.runLock);
        up = g.runCond.wait_for(guard, std::chrono::milliseconds(kStartTimeoutMs), [] { return g.running; });
    }
    if (!up) {
        g.stopRequest.store(true);
        {
            std::lock_guard<JLIB::OwnedMutex> guard(g.lock);
            wakeService();
        }
        oswrap_terminateTask(taskId);
        oswrap_deleteTask(taskId);
        closeWakeFd();
        setState(VSOCK_STATE_OFF);
        return VSOCK_E_FAIL;
    }
    g.taskId = taskId;
    {
        std::lock_guard<JLIB::OwnedMutex> guard(g.lock);
        g.accepting = true;
    }
    setState(VSOCK_STATE_READY);
    return VSOCK_OK;
}

void vsock_term()
{
    std::lock_guard<std::mutex> control(g.controlLock);
    {
        std::lock_guard<std::mutex> guard(g.stateLock);
        if (g.state != VSOCK_STATE_READY)
            return;
        // New calls are refused from here on.
        g.state = VSOCK_STATE_STARTING;
    }
    {
        std::lock_guard<JLIB::OwnedMutex> guard(g.lock);
        g.accepting = false;
        g.stopRequest.store(true);
        wakeService();
    }
    oswrap_terminateTask(g.taskId);
    oswrap_deleteTask(g.taskId);
    g.taskId = 0;
    {
        std::lock_guard<JLIB::OwnedMutex> guard(g.lock);
        // Accepted streams first, so that their listeners can close too.
        for (int pass = 0; pass < 2; ++pass) {
            for (int id = 0; id < VSOCK_MAX_SOCKETS; ++id) {
                if (g.records[id].state == RecordState::Open)
                    closeRecord(id);
            }
        }
    }
    closeWakeFd();
    setState(VSOCK_STATE_OFF);
}

// ---------------------------------------------------------------------------
// Opening and closing.

VSockResult vsock_open(const VSockOpenParams* params, const VSockEventOptions* options)
{
    if (!params || !options)
        return VSOCK_E_PARAM;
    if (params->mode > VSOCK_MODE_CONNECT)
        return VSOCK_E_PARAM;
    const uint32_t family = params->local.address.family;
    if (family != VSOCK_FAMILY_IPV4 && family != VSOCK_FAMILY_IPV6)
        return VSOCK_E_PARAM;
    if (!(options->flags & VSOCK_EVF_DELIVER) || !options->handler)
        return VSOCK_E_PARAM;
    if (!isReady())
        return VSOCK_E_OBJ;

    std::lock_guard<JLIB::OwnedMutex> guard(g.lock);
    if (!g.accepting)
        return VSOCK_E_OBJ;
    const int id = lowestFreeRecord();
    if (id < 0)
        return VSOCK_E_RESOURCE;
    Record& r = g.records[id];
    clearRecord(id);
    r.state = RecordState::Opening;
    r.mode = params->mode;
    r.local = params->local;
    r.options = *options;
    r.kind = kindOfMode(params->mode);
    VSockResult rc = VSOCK_OK;
    if (r.kind != Kind::StreamClient && family != VSOCK_FAMILY_IPV4)
        rc = VSOCK_E_PARAM;
    else if (!freeSlotExists())
        rc = VSOCK_E_RESOURCE;
    int fd = -1;
    if (rc >= 0)
        rc = makeSocket(r.kind == Kind::Datagram ? SOCK_DGRAM : SOCK_STREAM, &fd);
    if (rc >= 0) {
        if (r.kind == Kind::Datagram)
            rc = openDatagram(r, fd);
        else if (r.kind == Kind::Listener)
            rc = openListener(r, fd);
        else
            rc = openStreamClient(r, fd);
    }
    if (rc < 0) {
        if (fd >= 0)
            close(fd);
        clearRecord(id);
        return rc;
    }
    r.slot = takeSlot(fd, id);
    r.state = RecordState::Open;
    wakeService();
    return id;
}

VSockResult vsock_close(int socketId)
{
    if (!isReady())
        return VSOCK_E_OBJ;
    std::lock_guard<JLIB::OwnedMutex> guard(g.lock);
    if (!g.accepting)
        return VSOCK_E_OBJ;
    if (!validId(socketId))
        return VSOCK_E_PARAM;
    if (g.records[socketId].state != RecordState::Open)
        return VSOCK_E_NOTOPEN;
    const VSockResult rc = closeRecord(socketId);
    wakeService();
    return rc;
}

// ---------------------------------------------------------------------------
// Owner input.

VSockResult vsock_waitInput(const int* socketIds, uint8_t* ready, int count, int wakeFd, int32_t timeoutMs)
{
    if (count < 0 || count > VSOCK_MAX_SOCKETS || (count > 0 && !socketIds))
        return VSOCK_E_PARAM;
    if (!isReady())
        return VSOCK_E_OBJ;
    struct Watched {
        int index; // into socketIds
        int slot;
        uint32_t generation;
        bool stream;
    };
    pollfd fds[VSOCK_MAX_SOCKETS + 1];
    Watched watched[VSOCK_MAX_SOCKETS + 1];
    nfds_t n = 0;
    if (wakeFd >= 0)
        fds[n++] = pollfd{wakeFd, POLLIN, 0};
    {
        std::lock_guard<JLIB::OwnedMutex> guard(g.lock);
        for (int i = 0; i < count; ++i) {
            if (ready)
                ready[i] = 0;
            const int id = socketIds[i];
            if (openCheck(id) < 0)
                continue;
            const Record& r = g.records[id];
            const bool datagram = r.kind == Kind::Datagram && ownerInput(r);
            if (!datagram && !streamAwaitsOwner(r))
                continue;
            watched[n] = Watched{i, r.slot, g.slots[r.slot].generation, !datagram};
            fds[n++] = pollfd{slotFd(r), POLLIN, 0};
        }
    }
    // Outside the lock: a socket closed meanwhile only ends the wait early
    // or late; what was found is checked against its slot again below.
    const int rc = poll(fds, n, timeoutMs < 0 ? -1 : timeoutMs);
    if (rc <= 0)
        return 0;
    if (wakeFd >= 0 && fds[0].revents) {
        uint64_t value = 0;
        ssize_t got = read(wakeFd, &value, sizeof value);
        (void)got; // a second reader may have taken it
    }
    int readyCount = 0;
    std::unique_lock<JLIB::OwnedMutex> lock(g.lock, std::defer_lock);
    for (nfds_t k = wakeFd >= 0 ? 1 : 0; k < n; ++k) {
        if (!fds[k].revents)
            continue;
        const Watched& w = watched[k];
        if (w.stream) {
            // The stream's receive is completed here, on the owner's thread:
            // the service thread is never woken for its input.
            if (!lock.owns_lock())
                lock.lock();
            const Slot& slot = g.slots[w.slot];
            if (!slot.inUse || slot.generation != w.generation || !streamOwnerReceive(slot.socketId))
                continue;
        }
        ++readyCount;
        if (ready)
            ready[w.index] = 1;
    }
    return readyCount;
}
