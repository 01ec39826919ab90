// The service control, the socket records and the OS-socket slot table, and
// the service thread that performs all network input and output.
//
// Locks: `stateLock` guards the service state only and is never held while
// `lock` is taken. `lock` guards every record and slot; callers hold it for a
// whole operation and the service thread holds it while it builds its poll
// set and while it services ready sockets, never while it sleeps in poll().
// Event functions run on the service thread with `lock` held.
#include "vsock/vsock.h"

#include "OSWRAP/oswrap.h"
#include "vsock/vsock_addr.h"
#include "vsock/vsock_errors.h"
#include "vsock/vsock_ring.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr uint32_t kScratchBytes = 2048;
// How long vsock_init waits for the service thread to come up.
constexpr int kStartTimeoutMs = 3000;

enum RecordState { kFree = 0, kOpening = 1, kOpen = 3 };
enum Kind { kNone = 0, kDatagram = 1, kStreamClient = 2, kListener = 3, kAccepted = 4 };
enum OpState { kIdle = 0, kArmed = 2, kDone = 3, kStored = 4 };
enum ConnectState { kConnIdle = 0, kConnPending = 2, kConnected = 3, kConnFailed = 4 };
enum RingState { kRingListening = 2, kRingDelivering = 3 };

struct SendOp {
    int state;
    const uint8_t* data;
    uint32_t length;
    uint32_t sent;
    int32_t result;
    OswrapTimer timer;
    void* token;
    VSockEndpoint destination;
};

struct RecvOp {
    int state;
    uint8_t* buffer;
    uint32_t size;
    int32_t result;
    OswrapTimer timer;
    void* token;
};

struct ConnectOp {
    int state;
    int32_t result;
    OswrapTimer timer;
    uint32_t startTick; // for the connect deadline
};

struct Record {
    int state;
    uint32_t mode;
    VSockEndpoint local;
    VSockEventOptions options;
    int slot;
    int kind;
    SendOp send;
    RecvOp recv;
    ConnectOp connect;
    // Listener: accept armed (1) or not (0), its timer, live accepted sockets.
    int acceptState;
    OswrapTimer acceptTimer;
    int liveAccepted;
    // Accepted stream: its listener and peer.
    int listener;
    VSockEndpoint peer;
    // Datagram.
    int ringState;
    VSockRing ring;
    uint8_t scratch[kScratchBytes];
    unsigned arrivalIfIndex; // 0: datagrams from every interface
    bool sendFromLocal; // bound to any address on behalf of local.address
    uint32_t droppedOversize;
};

struct Slot {
    bool inUse;
    int fd;
    int socketId;
    uint32_t generation; // changes whenever the slot is taken or freed
};

struct Service {
    std::mutex controlLock; // serialises vsock_init and vsock_term
    std::mutex stateLock; // the service state
    int state = VSOCK_STATE_OFF;

    std::mutex lock; // records and slots
    Record records[VSOCK_MAX_SOCKETS];
    Slot slots[VSOCK_MAX_OS_SOCKETS];

    // Guarded by `lock`: the wake-up descriptor, and whether calls are taken
    // (false while the service stops, so that no socket opens behind it).
    int wakeFd = -1;
    bool accepting = false;

    uint16_t taskId = 0;
    std::atomic<bool> stopRequest{false};
    std::mutex runLock;
    std::condition_variable runCond;
    bool running = false;
};

Service g;

uint32_t now()
{
    uint32_t tick = 0;
    oswrap_getTick(&tick);
    return tick;
}

// With the lock held.
void wakeService()
{
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
    return oswrap_isTimerStarted(timer) == OSWRAP_OK && oswrap_checkTimer(timer) == OSWRAP_TIMER_REACHED;
}

void deliver(int id, int32_t kind, int32_t result)
{
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

// ---------------------------------------------------------------------------
// Slots.

int takeSlot(int fd, int id)
{
    for (int s = 0; s < VSOCK_MAX_OS_SOCKETS; ++s) {
        Slot& slot = g.slots[s];
        if (!slot.inUse) {
            slot.inUse = true;
            slot.fd = fd;
            slot.socketId = id;
            ++slot.generation;
            return s;
        }
    }
    return -1;
}

void releaseSlot(int s)
{
    Slot& slot = g.slots[s];
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

void clearRecord(int id)
{
    Record& r = g.records[id];
    // The ring storage is left as it is: the indices say it is empty.
    r.state = kFree;
    r.mode = 0;
    r.local = VSockEndpoint{};
    r.options = VSockEventOptions{};
    r.slot = -1;
    r.kind = kNone;
    r.send = SendOp{};
    r.recv = RecvOp{};
    r.connect = ConnectOp{};
    r.acceptState = 0;
    r.acceptTimer = OswrapTimer{};
    r.liveAccepted = 0;
    r.listener = -1;
    r.peer = VSockEndpoint{};
    r.ringState = kRingListening;
    vsock_ringReset(&r.ring);
    r.arrivalIfIndex = 0;
    r.sendFromLocal = false;
    r.droppedOversize = 0;
}

int lowestFreeRecord()
{
    for (int id = 0; id < VSOCK_MAX_SOCKETS; ++id) {
        if (g.records[id].state == kFree)
            return id;
    }
    return -1;
}

// ---------------------------------------------------------------------------
// Opening.

VSockResult setOption(int fd, int level, int name, int value)
{
    if (setsockopt(fd, level, name, &value, sizeof value) != 0)
        return vsock_translateError(VSockCall::SetSockOpt, errno);
    return VSOCK_OK;
}

// Index of the interface that holds the IPv4 address, 0 when none does.
unsigned interfaceOf(const uint8_t addr[4])
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return 0;
    unsigned index = 0;
    for (ifaddrs* it = list; it && index == 0; it = it->ifa_next) {
        if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET)
            continue;
        sockaddr_in in;
        memcpy(&in, it->ifa_addr, sizeof in);
        if (memcmp(&in.sin_addr, addr, 4) == 0)
            index = if_nametoindex(it->ifa_name);
    }
    freeifaddrs(list);
    return index;
}

VSockResult bindAny(int fd, uint16_t port)
{
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(port);
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0)
        return vsock_translateError(VSockCall::Bind, errno);
    return VSOCK_OK;
}

// Multicast and broadcast reach only sockets bound to the any address here,
// so a datagram socket with its own address binds to any address, receives
// only what arrives on that address's interface, and sends from the address.
VSockResult openDatagram(Record& r, int fd)
{
    const VSockEndpoint& local = r.local;
    if (local.port == 0)
        return setOption(fd, SOL_SOCKET, SO_BROADCAST, 1);
    VSockResult rc = setOption(fd, SOL_SOCKET, SO_REUSEADDR, 1);
    if (rc != VSOCK_OK)
        return rc;
    // Group datagrams only for the groups this socket joined, not for every
    // group some socket of the host joined.
    rc = setOption(fd, IPPROTO_IP, IP_MULTICAST_ALL, 0);
    if (rc != VSOCK_OK)
        return rc;
    if (!vsock_addressIsEmpty(&local.address)) {
        const unsigned ifIndex = interfaceOf(local.address.addr);
        if (ifIndex == 0)
            return vsock_translateError(VSockCall::Bind, EADDRNOTAVAIL);
        rc = setOption(fd, IPPROTO_IP, IP_PKTINFO, 1);
        if (rc != VSOCK_OK)
            return rc;
        in_addr ifAddr;
        memcpy(&ifAddr, local.address.addr, 4);
        if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &ifAddr, sizeof ifAddr) != 0)
            return vsock_translateError(VSockCall::SetSockOpt, errno);
        r.arrivalIfIndex = ifIndex;
        r.sendFromLocal = true;
    }
    rc = bindAny(fd, local.port);
    if (rc != VSOCK_OK)
        return rc;
    return setOption(fd, SOL_SOCKET, SO_BROADCAST, 1);
}

VSockResult openListener(const Record& r, int fd)
{
    VSockResult rc = setOption(fd, SOL_SOCKET, SO_REUSEADDR, 1);
    if (rc != VSOCK_OK)
        return rc;
    sockaddr_storage sa;
    socklen_t length = 0;
    rc = vsock_endpointToSockaddr(&r.local, &sa, &length);
    if (rc != VSOCK_OK)
        return rc;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&sa), length) != 0)
        return vsock_translateError(VSockCall::Bind, errno);
    if (listen(fd, SOMAXCONN) != 0)
        return vsock_translateError(VSockCall::Listen, errno);
    return VSOCK_OK;
}

VSockResult makeSocket(int type, int* fdOut)
{
    const int fd = socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return vsock_translateError(VSockCall::Socket, errno);
    *fdOut = fd;
    return VSOCK_OK;
}

// ---------------------------------------------------------------------------
// Readiness.

short wantedEvents(const Record& r)
{
    if (r.state != kOpen)
        return 0;
    short events = 0;
    switch (r.kind) {
    case kDatagram:
        if (r.ringState == kRingListening)
            events |= POLLIN;
        if (r.send.state == kArmed || r.send.state == kDone)
            events |= POLLOUT;
        break;
    case kStreamClient:
        if (r.recv.state == kArmed)
            events |= POLLIN;
        if (r.connect.state == kConnPending || r.send.state == kArmed || r.send.state == kDone)
            events |= POLLOUT;
        break;
    case kListener:
        if (r.acceptState == 1)
            events |= POLLIN;
        break;
    case kAccepted:
        if (r.recv.state == kArmed)
            events |= POLLIN;
        if (r.send.state == kArmed || r.send.state == kDone)
            events |= POLLOUT;
        break;
    default:
        break;
    }
    return events;
}

void finishSend(int id, int32_t kind, int32_t result)
{
    Record& r = g.records[id];
    r.send.state = kDone;
    deliver(id, kind, result);
    r.send = SendOp{};
}

void streamSendProgress(int id)
{
    Record& r = g.records[id];
    if (r.send.state == kArmed) {
        const ssize_t n = send(slotFd(r), r.send.data + r.send.sent, r.send.length - r.send.sent, MSG_NOSIGNAL);
        if (n < 0) {
            const VSockResult rc = vsock_translateError(VSockCall::Send, errno);
            if (rc != VSOCK_E_PENDING)
                finishSend(id, VSOCK_EV_SEND, rc);
            return;
        }
        r.send.sent += static_cast<uint32_t>(n);
        if (r.send.sent < r.send.length)
            return;
        r.send.state = kDone;
    }
    if (r.send.state == kDone)
        finishSend(id, VSOCK_EV_SEND, static_cast<int32_t>(r.send.sent));
}

void streamReceive(int id)
{
    Record& r = g.records[id];
    const ssize_t n = recv(slotFd(r), r.recv.buffer, r.recv.size, 0);
    int32_t result;
    if (n < 0) {
        result = vsock_translateError(VSockCall::Recv, errno);
        // Readiness without data is not a disconnect: stay armed.
        if (result == VSOCK_E_PENDING)
            return;
    } else {
        result = static_cast<int32_t>(n);
    }
    r.recv.state = kDone;
    r.recv.result = result;
    deliver(id, VSOCK_EV_RECV, result);
    r.recv = RecvOp{};
}

void connectCompletion(int id, int32_t result)
{
    Record& r = g.records[id];
    r.connect.result = result;
    r.connect.state = result == VSOCK_OK ? kConnected : kConnFailed;
    deliver(id, VSOCK_EV_CONNECT, result);
    if (r.connect.state != kConnFailed)
        return;
    r.connect.state = kConnIdle;
    // A send handed over while connecting has nowhere to go; left armed it
    // would never complete.
    if (r.send.state == kArmed || r.send.state == kDone)
        finishSend(id, VSOCK_EV_SEND, result);
}

// Ends a connect the system is still trying, so that it can't complete
// behind its owner's back and the socket can connect again.
void abortConnect(int fd)
{
    sockaddr none{};
    none.sa_family = AF_UNSPEC;
    connect(fd, &none, sizeof none);
    // The abort leaves an error behind that a later connect would report.
    int err = 0;
    socklen_t length = sizeof err;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &length);
}

void connectReady(int id)
{
    Record& r = g.records[id];
    int err = 0;
    socklen_t length = sizeof err;
    if (getsockopt(slotFd(r), SOL_SOCKET, SO_ERROR, &err, &length) != 0)
        err = errno;
    VSockResult rc = vsock_translateError(VSockCall::Connect, err);
    if (rc == VSOCK_OK) {
        // Writable without an error can still be a connect under way.
        sockaddr_storage peer;
        socklen_t peerLength = sizeof peer;
        if (getpeername(slotFd(r), reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0)
            rc = errno == ENOTCONN ? VSOCK_E_PENDING : vsock_translateError(VSockCall::Connect, errno);
    }
    if (rc == VSOCK_E_PENDING)
        return; // still under way
    connectCompletion(id, rc);
}

void datagramSendProgress(int id)
{
    Record& r = g.records[id];
    if (r.send.state == kArmed) {
        sockaddr_storage sa;
        socklen_t saLength = 0;
        if (vsock_endpointToSockaddr(&r.send.destination, &sa, &saLength) != VSOCK_OK) {
            finishSend(id, VSOCK_EV_SENDTO, VSOCK_E_PARAM);
            return;
        }
        iovec iov{const_cast<uint8_t*>(r.send.data + r.send.sent), r.send.length - r.send.sent};
        msghdr msg{};
        msg.msg_name = &sa;
        msg.msg_namelen = saLength;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        alignas(cmsghdr) uint8_t control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
        if (r.sendFromLocal && r.send.destination.address.family == VSOCK_FAMILY_IPV4) {
            // Leave from the socket's own address although it is bound to any.
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            cmsghdr* cm = CMSG_FIRSTHDR(&msg);
            cm->cmsg_level = IPPROTO_IP;
            cm->cmsg_type = IP_PKTINFO;
            cm->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
            in_pktinfo info{};
            memcpy(&info.ipi_spec_dst, r.local.address.addr, 4);
            memcpy(CMSG_DATA(cm), &info, sizeof info);
        }
        const ssize_t n = sendmsg(slotFd(r), &msg, MSG_NOSIGNAL);
        if (n < 0) {
            const VSockResult rc = vsock_translateError(VSockCall::SendTo, errno);
            if (rc != VSOCK_E_PENDING)
                finishSend(id, VSOCK_EV_SENDTO, rc);
            return;
        }
        r.send.sent += static_cast<uint32_t>(n);
        r.send.state = kDone;
    }
    if (r.send.state == kDone)
        finishSend(id, VSOCK_EV_SENDTO, static_cast<int32_t>(r.send.sent));
}

void datagramReceive(int id)
{
    Record& r = g.records[id];
    sockaddr_storage from{};
    iovec iov{r.scratch, sizeof r.scratch};
    alignas(cmsghdr) uint8_t control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(slotFd(r), &msg, 0);
    if (n < 0) {
        // A refused earlier send is no datagram and no failure.
        if (errno == ECONNRESET || errno == ECONNREFUSED)
            return;
        const VSockResult rc = vsock_translateError(VSockCall::RecvFrom, errno);
        if (rc == VSOCK_E_PENDING)
            return;
        r.ringState = kRingDelivering;
        deliver(id, VSOCK_EV_DATAGRAM, rc);
        r.ringState = kRingListening;
        return;
    }
    if (r.arrivalIfIndex != 0) {
        unsigned arrival = 0;
        for (cmsghdr* cm = CMSG_FIRSTHDR(&msg); cm; cm = CMSG_NXTHDR(&msg, cm)) {
            if (cm->cmsg_level == IPPROTO_IP && cm->cmsg_type == IP_PKTINFO) {
                in_pktinfo info;
                memcpy(&info, CMSG_DATA(cm), sizeof info);
                arrival = static_cast<unsigned>(info.ipi_ifindex);
            }
        }
        if (arrival != r.arrivalIfIndex)
            return;
    }
    if (msg.msg_flags & MSG_TRUNC) {
        // Larger than the receive buffer: queuing the cut datagram would hand
        // out corrupted data.
        ++r.droppedOversize;
        return;
    }
    if (n == 0)
        return;
    VSockEndpoint sender{};
    if (vsock_sockaddrToEndpoint(reinterpret_cast<const sockaddr*>(&from), msg.msg_namelen, &sender) != VSOCK_OK)
        return;
    const VSockResult rc = vsock_ringAppend(&r.ring, &sender, r.scratch, static_cast<uint32_t>(n));
    r.ringState = kRingDelivering;
    deliver(id, VSOCK_EV_DATAGRAM, rc == VSOCK_OK ? static_cast<int32_t>(n) : rc);
    r.ringState = kRingListening;
}

void acceptReady(int id)
{
    Record& r = g.records[id];
    sockaddr_storage from{};
    socklen_t fromLength = sizeof from;
    const int fd = accept4(slotFd(r), reinterpret_cast<sockaddr*>(&from), &fromLength, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        const VSockResult rc = vsock_translateError(VSockCall::Accept, errno);
        if (rc == VSOCK_E_PENDING)
            return;
        r.acceptState = 0;
        deliver(id, VSOCK_EV_ACCEPT, rc);
        return;
    }
    r.acceptState = 0;
    const int newId = lowestFreeRecord();
    const int s = newId >= 0 ? takeSlot(fd, newId) : -1;
    if (s < 0) {
        close(fd);
        deliver(id, VSOCK_EV_ACCEPT, VSOCK_E_RESOURCE);
        return;
    }
    Record& a = g.records[newId];
    clearRecord(newId);
    a.mode = VSOCK_MODE_CONNECT;
    a.local = r.local;
    a.options = r.options;
    a.slot = s;
    a.kind = kAccepted;
    a.listener = id;
    vsock_sockaddrToEndpoint(reinterpret_cast<const sockaddr*>(&from), fromLength, &a.peer);
    a.connect.state = kConnected;
    setOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
    a.state = kOpen;
    ++r.liveAccepted;
    deliver(id, VSOCK_EV_ACCEPT, newId);
}

void dispatch(int id, short revents)
{
    const short wanted = wantedEvents(g.records[id]);
    const bool failed = revents & (POLLERR | POLLHUP | POLLNVAL);
    const bool readable = (wanted & POLLIN) && ((revents & POLLIN) || failed);
    const bool writable = (wanted & POLLOUT) && ((revents & POLLOUT) || failed);
    Record& r = g.records[id];
    switch (r.kind) {
    case kDatagram:
        if (readable)
            datagramReceive(id);
        if (writable && g.records[id].state == kOpen)
            datagramSendProgress(id);
        break;
    case kStreamClient:
    case kAccepted:
        // While connecting, a receive would take the connect's error away
        // (recv consumes it) and the connect would wait for its deadline.
        if (readable && r.connect.state != kConnPending)
            streamReceive(id);
        if (writable && g.records[id].state == kOpen) {
            if (r.connect.state == kConnPending)
                connectReady(id);
            else if (r.connect.state == kConnected)
                streamSendProgress(id);
        }
        break;
    case kListener:
        if (readable)
            acceptReady(id);
        break;
    default:
        break;
    }
}

// Delivers what needs no readiness: immediate send failures, and connects
// past their deadline. Returns the time until the next deadline (-1 none).
int serviceDeadlines()
{
    int timeout = -1;
    const uint32_t tick = now();
    for (int id = 0; id < VSOCK_MAX_SOCKETS; ++id) {
        Record& r = g.records[id];
        if (r.state != kOpen)
            continue;
        if (r.send.state == kStored)
            finishSend(id, r.kind == kDatagram ? VSOCK_EV_SENDTO : VSOCK_EV_SEND, r.send.result);
        if (r.connect.state == kConnPending) {
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

void serviceLoop(void*)
{
    {
        std::lock_guard<std::mutex> guard(g.runLock);
        g.running = true;
    }
    g.runCond.notify_all();

    pollfd fds[1 + VSOCK_MAX_OS_SOCKETS];
    int slotOf[1 + VSOCK_MAX_OS_SOCKETS];
    uint32_t generationOf[1 + VSOCK_MAX_OS_SOCKETS];
    while (!g.stopRequest.load()) {
        nfds_t count = 1;
        int timeout;
        {
            std::lock_guard<std::mutex> guard(g.lock);
            fds[0] = pollfd{g.wakeFd, POLLIN, 0};
            timeout = serviceDeadlines();
            for (int s = 0; s < VSOCK_MAX_OS_SOCKETS; ++s) {
                const Slot& slot = g.slots[s];
                if (!slot.inUse || slot.socketId < 0)
                    continue;
                const short events = wantedEvents(g.records[slot.socketId]);
                if (!events)
                    continue;
                fds[count] = pollfd{slot.fd, events, 0};
                slotOf[count] = s;
                generationOf[count] = slot.generation;
                ++count;
            }
        }
        const int ready = poll(fds, count, timeout);
        if (g.stopRequest.load())
            break;
        if (ready <= 0)
            continue; // a time-out or an interruption: build the set again
        if (fds[0].revents) {
            uint64_t value;
            ssize_t n = read(fds[0].fd, &value, sizeof value);
            (void)n;
        }
        std::lock_guard<std::mutex> guard(g.lock);
        for (nfds_t i = 1; i < count; ++i) {
            if (!fds[i].revents)
                continue;
            const Slot& slot = g.slots[slotOf[i]];
            // A slot closed or reused since the set was built is not serviced.
            if (!slot.inUse || slot.generation != generationOf[i] || slot.socketId < 0)
                continue;
            dispatch(slot.socketId, fds[i].revents);
        }
    }

    std::lock_guard<std::mutex> guard(g.runLock);
    g.running = false;
}

// ---------------------------------------------------------------------------
// Closing, with the lock held.

VSockResult closeRecord(int id)
{
    Record& r = g.records[id];
    if (r.kind == kListener && r.liveAccepted > 0)
        return VSOCK_E_OBJ;
    if (r.slot >= 0)
        releaseSlot(r.slot);
    r.slot = -1;
    switch (r.kind) {
    case kDatagram:
        if (r.send.state >= 1 && r.send.state <= kStored)
            finishSend(id, VSOCK_EV_SENDTO, VSOCK_E_NOTOPEN);
        r.ringState = kRingDelivering;
        deliver(id, VSOCK_EV_DATAGRAM, VSOCK_E_NOTOPEN);
        break;
    case kStreamClient:
    case kAccepted:
        if (r.kind == kAccepted && validId(r.listener))
            --g.records[r.listener].liveAccepted;
        if (r.connect.state == kConnPending) {
            deliver(id, VSOCK_EV_CONNECT, VSOCK_E_NOTOPEN);
            // A send handed over while connecting ends with the connect.
            if (r.send.state >= 1 && r.send.state <= kStored)
                finishSend(id, VSOCK_EV_SEND, VSOCK_E_NOTOPEN);
        } else if (r.connect.state == kConnected) {
            if (r.send.state >= 1 && r.send.state <= kStored)
                finishSend(id, VSOCK_EV_SEND, VSOCK_E_NOTOPEN);
            if (r.recv.state == kArmed)
                deliver(id, VSOCK_EV_RECV, VSOCK_E_NOTOPEN);
        }
        break;
    case kListener:
        if (r.acceptState == 1)
            deliver(id, VSOCK_EV_ACCEPT, VSOCK_E_NOTOPEN);
        break;
    default:
        break;
    }
    clearRecord(id);
    return VSOCK_OK;
}

// Checks shared by the socket operations; the lock is held.
VSockResult openCheck(int id)
{
    if (!g.accepting)
        return VSOCK_E_OBJ;
    if (!validId(id))
        return VSOCK_E_PARAM;
    const Record& r = g.records[id];
    if (r.state != kOpen || r.slot < 0)
        return VSOCK_E_NOTOPEN;
    return VSOCK_OK;
}

// Runs a socket operation on an open record with the lock held; the
// service's readiness and the id are checked first.
template <typename Operation> VSockResult withOpenRecord(int id, Operation&& operation)
{
    if (!isReady())
        return VSOCK_E_OBJ;
    std::lock_guard<std::mutex> guard(g.lock);
    const VSockResult rc = openCheck(id);
    if (rc != VSOCK_OK)
        return rc;
    return operation(g.records[id]);
}

// A second send or receive while one is armed: still pending, or, once its
// time-out has passed, ended and reported as timed out.
template <typename Op> VSockResult stillArmed(Op* op)
{
    if (opTimedOut(&op->timer)) {
        *op = Op{};
        return VSOCK_E_TIMEOUT;
    }
    return VSOCK_E_PENDING;
}

} // namespace

// ---------------------------------------------------------------------------
// Service control.

int vsock_getState()
{
    std::lock_guard<std::mutex> guard(g.stateLock);
    return g.state;
}

static void closeWakeFd()
{
    std::lock_guard<std::mutex> guard(g.lock);
    if (g.wakeFd >= 0)
        close(g.wakeFd);
    g.wakeFd = -1;
}

static void setState(int state)
{
    std::lock_guard<std::mutex> guard(g.stateLock);
    g.state = state;
}

VSockResult vsock_init()
{
    std::lock_guard<std::mutex> control(g.controlLock);
    if (vsock_getState() != VSOCK_STATE_OFF)
        return VSOCK_OK;

    {
        std::lock_guard<std::mutex> guard(g.lock);
        for (int id = 0; id < VSOCK_MAX_SOCKETS; ++id)
            clearRecord(id);
        for (Slot& slot : g.slots) {
            slot.inUse = false;
            slot.fd = -1;
            slot.socketId = -1;
        }
        g.wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (g.wakeFd < 0)
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
    if (oswrap_createTask(&taskId, &attr) != OSWRAP_OK) {
        closeWakeFd();
        return VSOCK_E_FAIL;
    }
    setState(VSOCK_STATE_STARTING);
    bool up = false;
    if (oswrap_startTask(taskId, nullptr) == OSWRAP_OK) {
        std::unique_lock<std::mutex> guard(g.runLock);
        up = g.runCond.wait_for(guard, std::chrono::milliseconds(kStartTimeoutMs), [] { return g.running; });
    }
    if (!up) {
        g.stopRequest.store(true);
        {
            std::lock_guard<std::mutex> guard(g.lock);
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
        std::lock_guard<std::mutex> guard(g.lock);
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
        std::lock_guard<std::mutex> guard(g.lock);
        g.accepting = false;
        g.stopRequest.store(true);
        wakeService();
    }
    oswrap_terminateTask(g.taskId);
    oswrap_deleteTask(g.taskId);
    g.taskId = 0;
    {
        std::lock_guard<std::mutex> guard(g.lock);
        // Accepted streams first, so that their listeners can close too.
        for (int pass = 0; pass < 2; ++pass) {
            for (int id = 0; id < VSOCK_MAX_SOCKETS; ++id) {
                if (g.records[id].state == kOpen)
                    closeRecord(id);
            }
        }
    }
    closeWakeFd();
    setState(VSOCK_STATE_OFF);
}

// ---------------------------------------------------------------------------
// Sockets.

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

    std::lock_guard<std::mutex> guard(g.lock);
    if (!g.accepting)
        return VSOCK_E_OBJ;
    const int id = lowestFreeRecord();
    if (id < 0)
        return VSOCK_E_RESOURCE;
    Record& r = g.records[id];
    clearRecord(id);
    r.state = kOpening;
    r.mode = params->mode;
    r.local = params->local;
    r.options = *options;
    r.kind = params->mode == VSOCK_MODE_DATAGRAM ? kDatagram
        : params->mode == VSOCK_MODE_LISTEN      ? kListener
                                                 : kStreamClient;
    VSockResult rc = VSOCK_OK;
    if (r.kind != kStreamClient && family != VSOCK_FAMILY_IPV4)
        rc = VSOCK_E_PARAM;
    else if (!freeSlotExists())
        rc = VSOCK_E_RESOURCE;
    int fd = -1;
    if (rc == VSOCK_OK)
        rc = makeSocket(r.kind == kDatagram ? SOCK_DGRAM : SOCK_STREAM, &fd);
    if (rc == VSOCK_OK) {
        if (r.kind == kDatagram)
            rc = openDatagram(r, fd);
        else if (r.kind == kListener)
            rc = openListener(r, fd);
        else
            rc = setOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
    }
    if (rc != VSOCK_OK) {
        if (fd >= 0)
            close(fd);
        clearRecord(id);
        return rc;
    }
    r.slot = takeSlot(fd, id);
    r.state = kOpen;
    wakeService();
    return id;
}

VSockResult vsock_close(int socketId)
{
    if (!isReady())
        return VSOCK_E_OBJ;
    std::lock_guard<std::mutex> guard(g.lock);
    if (!g.accepting)
        return VSOCK_E_OBJ;
    if (!validId(socketId))
        return VSOCK_E_PARAM;
    if (g.records[socketId].state != kOpen)
        return VSOCK_E_NOTOPEN;
    const VSockResult rc = closeRecord(socketId);
    wakeService();
    return rc;
}

VSockResult vsock_connect(int socketId, const VSockEndpoint* remote, int32_t timeoutMs)
{
    if (!remote)
        return VSOCK_E_PARAM;
    return withOpenRecord(socketId, [&](Record& r) -> VSockResult {
        if (r.mode != VSOCK_MODE_CONNECT || r.kind != kStreamClient)
            return VSOCK_E_OBJ;
        if (r.connect.state == kConnPending) {
            if (opTimedOut(&r.connect.timer)) {
                abortConnect(slotFd(r));
                r.connect.state = kConnIdle;
                if (r.send.state == kArmed || r.send.state == kDone) {
                    // Completed by the service thread, like any other end.
                    r.send.result = VSOCK_E_TIMEOUT;
                    r.send.state = kStored;
                    wakeService();
                }
                return VSOCK_E_TIMEOUT;
            }
            return VSOCK_E_PENDING;
        }
        if (r.connect.state == kConnected)
            return VSOCK_E_OBJ;
        sockaddr_storage sa;
        socklen_t length = 0;
        VSockResult rc = vsock_endpointToSockaddr(remote, &sa, &length);
        if (rc != VSOCK_OK)
            return rc;
        if (connect(slotFd(r), reinterpret_cast<const sockaddr*>(&sa), length) == 0) {
            r.connect.state = kConnected;
            return VSOCK_OK;
        }
        rc = vsock_translateError(VSockCall::Connect, errno);
        if (rc != VSOCK_E_PENDING)
            return rc;
        r.connect.state = kConnPending;
        r.connect.startTick = now();
        startOpTimer(&r.connect.timer, timeoutMs);
        wakeService();
        return VSOCK_E_PENDING;
    });
}

VSockResult vsock_send(int socketId, const void* data, uint32_t length, int32_t timeoutMs, void* token)
{
    if (!data || length == 0 || length > 0x7FFFFFFFu)
        return VSOCK_E_PARAM;
    return withOpenRecord(socketId, [&](Record& r) -> VSockResult {
        if (r.kind != kStreamClient && r.kind != kAccepted)
            return VSOCK_E_OBJ;
        if (r.send.state != kIdle)
            return stillArmed(&r.send);
        r.send.token = token;
        r.send.data = static_cast<const uint8_t*>(data);
        r.send.length = length;
        r.send.sent = 0;
        const ssize_t n = send(slotFd(r), data, length, MSG_NOSIGNAL);
        if (n < 0) {
            const VSockResult err = vsock_translateError(VSockCall::Send, errno);
            if (err == VSOCK_E_PENDING) {
                r.send.state = kArmed;
            } else {
                // Completed as an event by the service thread, like any other end.
                r.send.result = err;
                r.send.state = kStored;
            }
        } else {
            r.send.sent = static_cast<uint32_t>(n);
            r.send.state = r.send.sent < length ? kArmed : kDone;
        }
        startOpTimer(&r.send.timer, timeoutMs);
        wakeService();
        return VSOCK_E_PENDING;
    });
}

VSockResult vsock_recv(int socketId, void* buffer, uint32_t size, int32_t timeoutMs, void* token)
{
    if (!buffer || size == 0)
        return VSOCK_E_PARAM;
    return withOpenRecord(socketId, [&](Record& r) -> VSockResult {
        if (r.kind != kStreamClient && r.kind != kAccepted)
            return VSOCK_E_OBJ;
        if (r.recv.state != kIdle)
            return stillArmed(&r.recv);
        r.recv.token = token;
        r.recv.buffer = static_cast<uint8_t*>(buffer);
        r.recv.size = size > 0x7FFFFFFFu ? 0x7FFFFFFFu : size;
        r.recv.state = kArmed;
        startOpTimer(&r.recv.timer, timeoutMs);
        wakeService();
        return VSOCK_E_PENDING;
    });
}

VSockResult vsock_accept(int socketId, int32_t timeoutMs)
{
    return withOpenRecord(socketId, [&](Record& r) -> VSockResult {
        if (r.kind != kListener)
            return VSOCK_E_OBJ;
        if (r.acceptState != 0) {
            if (opTimedOut(&r.acceptTimer)) {
                r.acceptState = 0;
                return VSOCK_E_TIMEOUT;
            }
            return VSOCK_E_PENDING;
        }
        r.acceptState = 1;
        startOpTimer(&r.acceptTimer, timeoutMs);
        wakeService();
        return VSOCK_E_PENDING;
    });
}

VSockResult vsock_sendTo(
    int socketId, const void* data, uint32_t length, const VSockEndpoint* destination, int32_t timeoutMs)
{
    if (!data || !destination || length > 0x7FFFFFFFu)
        return VSOCK_E_PARAM;
    return withOpenRecord(socketId, [&](Record& r) -> VSockResult {
        if (r.kind != kDatagram || r.send.state != kIdle)
            return VSOCK_E_OBJ;
        r.send.destination = *destination;
        r.send.data = static_cast<const uint8_t*>(data);
        r.send.length = length;
        r.send.sent = 0;
        r.send.state = kArmed;
        startOpTimer(&r.send.timer, timeoutMs);
        wakeService();
        return VSOCK_E_PENDING;
    });
}

VSockResult vsock_recvFrom(int socketId, void* buffer, uint32_t size, VSockEndpoint* sender, int32_t)
{
    if (!buffer && size > 0)
        return VSOCK_E_PARAM;
    return withOpenRecord(socketId, [&](Record& r) -> VSockResult {
        if (r.kind != kDatagram)
            return VSOCK_E_OBJ;
        const VSockResult taken = vsock_ringTake(&r.ring, buffer, size, sender);
        if (taken == VSOCK_E_BUFFER) {
            // Left queued, it would block every later datagram behind it.
            vsock_ringDrop(&r.ring);
            ++r.droppedOversize;
        }
        return taken;
    });
}

VSockResult vsock_joinGroup(int socketId, const VSockAddress* group)
{
    if (!group || group->family != VSOCK_FAMILY_IPV4)
        return VSOCK_E_PARAM;
    return withOpenRecord(socketId, [&](Record& r) -> VSockResult {
        if (r.kind != kDatagram || r.local.address.family != VSOCK_FAMILY_IPV4)
            return VSOCK_E_OBJ;
        ip_mreqn request{};
        memcpy(&request.imr_multiaddr, group->addr, 4);
        memcpy(&request.imr_address, r.local.address.addr, 4);
        request.imr_ifindex = static_cast<int>(r.arrivalIfIndex);
        if (setsockopt(slotFd(r), IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) != 0)
            return vsock_translateError(VSockCall::SetSockOpt, errno);
        return VSOCK_OK;
    });
}

uint32_t vsock_droppedOversize(int socketId)
{
    if (!validId(socketId))
        return 0;
    std::lock_guard<std::mutex> guard(g.lock);
    return g.records[socketId].droppedOversize;
}
