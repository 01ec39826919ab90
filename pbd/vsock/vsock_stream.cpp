// The stream side of the socket service: listeners, connects, accepted and
// client streams, their sends and receives.
#include "pbd/vsock/vsock_internal.h"

#include "pbd/vsock/vsock_addr.h"
#include "pbd/vsock/vsock_errors.h"

#include <algorithm>
#include <cerrno>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vsock_detail {

namespace {

bool isStream(const Record& r)
{
    return r.kind == Kind::StreamClient || r.kind == Kind::Accepted;
}

void streamSendProgress(int id)
{
    Record& r = g.records[id];
    if (r.send.state == OpState::Armed) {
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
        r.send.state = OpState::Done;
    }
    if (r.send.state == OpState::Done)
        finishSend(id, VSOCK_EV_SEND, static_cast<int32_t>(r.send.sent));
}

// Completes the armed receive when the system has data, an end or an error
// for it; false when there is nothing yet and it stays armed.
bool streamReceive(int id)
{
    Record& r = g.records[id];
    const ssize_t n = recv(slotFd(r), r.recv.buffer, r.recv.size, 0);
    int32_t result;
    if (n < 0) {
        result = vsock_translateError(VSockCall::Recv, errno);
        // Readiness without data is not a disconnect: stay armed.
        if (result == VSOCK_E_PENDING)
            return false;
    } else {
        result = static_cast<int32_t>(n);
    }
    // A short read drained the socket; an end (0) stays there for the next
    // receive to find at once.
    r.drained = n > 0 && static_cast<uint32_t>(n) < r.recv.size;
    r.recv.state = OpState::Done;
    r.recv.result = result;
    deliver(id, VSOCK_EV_RECV, result);
    r.recv = RecvOp{};
    return true;
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
        r.acceptState = AcceptState::Idle;
        deliver(id, VSOCK_EV_ACCEPT, rc);
        return;
    }
    r.acceptState = AcceptState::Idle;
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
    a.kind = Kind::Accepted;
    a.listener = id;
    vsock_sockaddrToEndpoint(reinterpret_cast<const sockaddr*>(&from), fromLength, &a.peer);
    a.connect.state = ConnectState::Connected;
    setOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
    a.state = RecordState::Open;
    ++r.liveAccepted;
    deliver(id, VSOCK_EV_ACCEPT, newId);
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

VSockResult openListener(const Record& r, int fd)
{
    VSockResult rc = setOption(fd, SOL_SOCKET, SO_REUSEADDR, 1);
    if (rc < 0)
        return rc;
    sockaddr_storage sa;
    socklen_t length = 0;
    rc = vsock_endpointToSockaddr(&r.local, &sa, &length);
    if (rc < 0)
        return rc;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&sa), length) != 0)
        return vsock_translateError(VSockCall::Bind, errno);
    if (listen(fd, SOMAXCONN) != 0)
        return vsock_translateError(VSockCall::Listen, errno);
    return VSOCK_OK;
}

VSockResult openStreamClient(const Record& r, int fd)
{
    VSockResult rc = setOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
    if (rc < 0)
        return rc;
    const uint8_t* bytes = r.local.address.addr;
    if (std::all_of(bytes, bytes + sizeof r.local.address.addr, [](uint8_t b) { return b == 0; }))
        return VSOCK_OK;
    VSockEndpoint local = r.local;
    local.port = 0;
    sockaddr_storage sa;
    socklen_t length = 0;
    rc = vsock_endpointToSockaddr(&local, &sa, &length);
    if (rc < 0)
        return rc;
    // An address the host does not have fails here, before any packet.
    if (bind(fd, reinterpret_cast<const sockaddr*>(&sa), length) != 0)
        return vsock_translateError(VSockCall::Bind, errno);
    return VSOCK_OK;
}

short streamWantedEvents(const Record& r)
{
    short events = 0;
    if (r.kind == Kind::Listener)
        return r.acceptState == AcceptState::Armed ? POLLIN : 0;
    // A connected stream is watched for input even with no receive armed, so
    // that arming one needs no wake-up; input that comes first parks it. The
    // input of an owner-input stream is its owner's to watch.
    if (!ownerInput(r)
        && (r.recv.state == OpState::Armed || (r.connect.state == ConnectState::Connected && !r.inputWaiting)))
        events |= POLLIN;
    if (r.send.wantsWritable() || (r.kind == Kind::StreamClient && r.connect.state == ConnectState::Pending))
        events |= POLLOUT;
    return events;
}

void streamDispatch(int id, bool readable, bool writable)
{
    Record& r = g.records[id];
    // While connecting, a receive would take the connect's error away
    // (recv consumes it) and the connect would wait for its deadline.
    if (readable && r.connect.state != ConnectState::Pending) {
        if (r.recv.state == OpState::Armed) {
            streamReceive(id);
        } else {
            r.inputWaiting = true;
            r.drained = false;
        }
    }
    if (writable && r.state == RecordState::Open) {
        if (r.connect.state == ConnectState::Pending)
            connectReady(id);
        else if (r.connect.state == ConnectState::Connected)
            streamSendProgress(id);
    }
}

bool streamAwaitsOwner(const Record& r)
{
    return ownerInput(r) && isStream(r) && r.recv.state == OpState::Armed && r.connect.state == ConnectState::Connected;
}

bool streamOwnerReceive(int id)
{
    return streamAwaitsOwner(g.records[id]) && streamReceive(id);
}

void listenerDispatch(int id, bool readable)
{
    if (readable)
        acceptReady(id);
}

void connectCompletion(int id, int32_t result)
{
    Record& r = g.records[id];
    r.connect.result = result;
    r.connect.state = result == VSOCK_OK ? ConnectState::Connected : ConnectState::Failed;
    deliver(id, VSOCK_EV_CONNECT, result);
    if (r.connect.state != ConnectState::Failed)
        return;
    r.connect.state = ConnectState::Idle;
    // A send handed over while connecting has nowhere to go; left armed it
    // would never complete.
    if (r.send.wantsWritable())
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

void closeStream(int id)
{
    Record& r = g.records[id];
    if (r.kind == Kind::Accepted && validId(r.listener))
        --g.records[r.listener].liveAccepted;
    if (r.connect.state == ConnectState::Pending) {
        deliver(id, VSOCK_EV_CONNECT, VSOCK_E_NOTOPEN);
        // A send handed over while connecting ends with the connect.
        if (r.send.outstanding())
            finishSend(id, VSOCK_EV_SEND, VSOCK_E_NOTOPEN);
    } else if (r.connect.state == ConnectState::Connected) {
        if (r.send.outstanding())
            finishSend(id, VSOCK_EV_SEND, VSOCK_E_NOTOPEN);
        if (r.recv.state == OpState::Armed)
            deliver(id, VSOCK_EV_RECV, VSOCK_E_NOTOPEN);
    }
}

void closeListener(int id)
{
    if (g.records[id].acceptState == AcceptState::Armed)
        deliver(id, VSOCK_EV_ACCEPT, VSOCK_E_NOTOPEN);
}

} // namespace vsock_detail

using namespace vsock_detail;

VSockResult vsock_connect(int socketId, const VSockEndpoint* remote, int32_t timeoutMs)
{
    if (!remote)
        return VSOCK_E_PARAM;
    return withOpenRecord(socketId, [&](Record& r) -> VSockResult {
        if (r.mode != VSOCK_MODE_CONNECT || r.kind != Kind::StreamClient)
            return VSOCK_E_OBJ;
        if (r.connect.state == ConnectState::Pending) {
            if (opTimedOut(&r.connect.timer)) {
                abortConnect(slotFd(r));
                r.connect.state = ConnectState::Idle;
                if (r.send.wantsWritable()) {
                    // Completed by the service thread, like any other end.
                    r.send.result = VSOCK_E_TIMEOUT;
                    r.send.state = OpState::Stored;
                    wakeService();
                }
                return VSOCK_E_TIMEOUT;
            }
            return VSOCK_E_PENDING;
        }
        if (r.connect.state == ConnectState::Connected)
            return VSOCK_E_OBJ;
        sockaddr_storage sa;
        socklen_t length = 0;
        VSockResult rc = vsock_endpointToSockaddr(remote, &sa, &length);
        if (rc < 0)
            return rc;
        if (connect(slotFd(r), reinterpret_cast<const sockaddr*>(&sa), length) == 0) {
            r.connect.state = ConnectState::Connected;
            return VSOCK_OK;
        }
        rc = vsock_translateError(VSockCall::Connect, errno);
        if (rc != VSOCK_E_PENDING)
            return rc;
        r.connect.state = ConnectState::Pending;
        r.connect.startTick = now();
        startOpTimer(&r.connect.timer, timeoutMs);
        wakeService();
        return VSOCK_E_PENDING;
    });
}

VSockResult vsock_send(int socketId, const void* data, uint32_t length, int32_t timeoutMs, void* token)
{
    if (!data || length == 0 || length > kMaxTransfer)
        return VSOCK_E_PARAM;
    return withOpenRecord(socketId, [&](Record& r) -> VSockResult {
        if (!isStream(r))
            return VSOCK_E_OBJ;
        if (r.send.outstanding())
            return stillArmed(&r.send);
        r.send.token = token;
        r.send.data = static_cast<const uint8_t*>(data);
        r.send.length = length;
        r.send.sent = 0;
        const ssize_t n = send(slotFd(r), data, length, MSG_NOSIGNAL);
        if (n < 0) {
            const VSockResult err = vsock_translateError(VSockCall::Send, errno);
            if (err == VSOCK_E_PENDING) {
                r.send.state = OpState::Armed;
            } else {
                // Completed as an event by the service thread, like any other end.
                r.send.result = err;
                r.send.state = OpState::Stored;
            }
        } else if (static_cast<uint32_t>(n) == length) {
            // Taken whole: completed here, with no hand-off to the service
            // thread; the event still comes before the caller sees PENDING
            // returned, through the same event function.
            r.send.sent = length;
            finishSend(socketId, VSOCK_EV_SEND, static_cast<int32_t>(length));
            return VSOCK_E_PENDING;
        } else {
            r.send.sent = static_cast<uint32_t>(n);
            r.send.state = OpState::Armed;
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
        if (!isStream(r))
            return VSOCK_E_OBJ;
        if (r.recv.state != OpState::Idle)
            return stillArmed(&r.recv);
        r.recv.token = token;
        r.recv.buffer = static_cast<uint8_t*>(buffer);
        r.recv.size = size > kMaxTransfer ? kMaxTransfer : size;
        r.recv.state = OpState::Armed;
        const bool mayHaveInput = r.inputWaiting || !r.drained;
        r.inputWaiting = false;
        // Data already there completes here; only a receive that must wait
        // goes to the service thread. Not while connecting: the receive
        // would take the connect's error away. After a short read the
        // attempt would almost always come back empty (a system call per
        // line of a trickling stream): the poll watches for the next input.
        if (r.connect.state == ConnectState::Connected && mayHaveInput && streamReceive(socketId))
            return VSOCK_E_PENDING;
        startOpTimer(&r.recv.timer, timeoutMs);
        // The poll set the service sleeps on may already watch this input;
        // an owner-input stream's owner watches it itself.
        if (!r.inputPolled && !ownerInput(r))
            wakeService();
        return VSOCK_E_PENDING;
    });
}

VSockResult vsock_accept(int socketId, int32_t timeoutMs)
{
    return withOpenRecord(socketId, [&](Record& r) -> VSockResult {
        if (r.kind != Kind::Listener)
            return VSOCK_E_OBJ;
        if (r.acceptState != AcceptState::Idle) {
            if (opTimedOut(&r.acceptTimer)) {
                r.acceptState = AcceptState::Idle;
                return VSOCK_E_TIMEOUT;
            }
            return VSOCK_E_PENDING;
        }
        r.acceptState = AcceptState::Armed;
        startOpTimer(&r.acceptTimer, timeoutMs);
        wakeService();
        return VSOCK_E_PENDING;
    });
}
