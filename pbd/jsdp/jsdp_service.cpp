// The service task "JSDPSVC": its loop, the passes run for each wake-up
// flag, and the socket service's event function.
#include "pbd/jsdp/jsdp_internal.h"
#include "pbd/jsdp/jsdp_table.h"

#include <cstring>
#include <mutex>

namespace jsdp_detail {
namespace {

// Datagrams one receive pass takes from a socket before it lets the other
// passes (and a stop request) in.
constexpr int kReceiveBudget = 64;
constexpr int kSendSteps = 100;

std::mutex g_control; // serialises start and stop
uint16_t g_serviceTask = 0; // the task made by jsdp_startService

uint32_t now()
{
    uint32_t tick = 0;
    oswrap_getTick(&tick);
    return tick;
}

// Records the event in its socket's slot, with the socket lock held.
void recordEvent(Engine& e, int socketId, const VSockEvent& event)
{
    for (EventSlot& slot : e.events) {
        if (slot.id != socketId)
            continue;
        if (event.kind == VSOCK_EV_DATAGRAM) {
            slot.bits |= kEventData;
            if (event.result >= 0) {
                ++slot.receiveCount;
                slot.lastReceive = 0;
            } else {
                slot.lastReceive = event.result;
            }
        } else if (event.kind == VSOCK_EV_SENDTO) {
            slot.bits |= kEventSent;
            slot.sendResult = event.result;
        }
        return;
    }
}

void onSocketEvent(int socketId, const VSockEvent* event, void*)
{
    Engine& e = engine();
    {
        SocketsLock lock;
        recordEvent(e, socketId, *event);
    }
    notify(Wake::SocketEvents);
}

void resetSocketSlot(SocketSlot& s)
{
    s = SocketSlot{};
}

void setEventSlot(int i, int socketId)
{
    Engine& e = engine();
    SocketsLock lock;
    e.events[i] = EventSlot{socketId, 0, 0, 0, 0};
}

void closeSocket(int i)
{
    Engine& e = engine();
    SocketSlot& s = e.sockets[i];
    if (s.id >= 0)
        vsock_close(s.id);
    setEventSlot(i, -1);
    resetSocketSlot(s);
}

void queuePacket(SocketSlot& s, const Channel& ch, const VSockEndpoint& destination)
{
    s.queued = true;
    s.data = ch.packet;
    s.length = static_cast<uint32_t>(ch.packetLength);
    s.destination = destination;
}

// The group, or with no group the subnet broadcast, at the channel port.
VSockEndpoint announceDestination(const Channel& ch)
{
    VSockEndpoint to{};
    to.port = ch.port;
    if (ch.group.family == VSOCK_FAMILY_IPV4) {
        to.address = ch.group;
        return to;
    }
    to.address.family = VSOCK_FAMILY_IPV4;
    for (int b = 0; b < 4; ++b)
        to.address.addr[b] = static_cast<uint8_t>(ch.own.addr[b] | ~ch.netmask.addr[b]);
    return to;
}

bool openSocket(int i)
{
    Engine& e = engine();
    Channel& ch = e.channels[i];
    SocketSlot& s = e.sockets[i];
    VSockOpenParams params{};
    params.mode = VSOCK_MODE_DATAGRAM;
    params.local.port = ch.port;
    params.local.address = ch.own;
    const VSockEventOptions options{VSOCK_EVF_DELIVER, onSocketEvent, nullptr};
    const VSockResult id = vsock_open(&params, &options);
    if (id < 0)
        return false;
    resetSocketSlot(s);
    s.id = id;
    // A datagram may have arrived before its event could find the slot.
    s.readable = 1;
    setEventSlot(i, id);
    if (ch.group.family == VSOCK_FAMILY_IPV4 && vsock_joinGroup(id, &ch.group) < 0) {
        // Without the group the channel hears nothing; try again next tick.
        closeSocket(i);
        return false;
    }
    return true;
}

uint32_t openClosePass()
{
    Engine& e = engine();
    if (e.state.load() != JSDP_STATE_CLOSING)
        return kFlagTick;
    for (int i = 0; i < JSDP_MAX_CHANNELS; ++i)
        closeSocket(i);
    // Dropped without telling subscribers: the table starts afresh.
    jsdp_tableClear(e.services, JSDP_MAX_SERVICES);
    e.state = JSDP_STATE_READY;
    return 0;
}

uint32_t tickPass()
{
    Engine& e = engine();
    uint32_t more = 0;
    for (int i = 0; i < JSDP_MAX_CHANNELS; ++i) {
        Channel& ch = e.channels[i];
        SocketSlot& s = e.sockets[i];
        if (!ch.enabled)
            continue;
        bool opened = false;
        if (s.id < 0) {
            if (!openSocket(i))
                continue;
            opened = true;
            more |= kFlagReceive | kFlagSend;
        }
        if (!ch.mode)
            continue;
        if (opened || oswrap_isTimerStarted(&ch.period) < 0 || oswrap_checkTimer(&ch.period) == OSWRAP_TIMER_REACHED) {
            if (!s.queued)
                queuePacket(s, ch, announceDestination(ch));
            oswrap_startTimer(&ch.period, ch.periodMs);
            more |= kFlagSend;
        }
    }
    if (jsdp_tableAge(e.services, JSDP_MAX_SERVICES))
        more |= kFlagDispatch;
    return more;
}

uint32_t socketEventPass()
{
    Engine& e = engine();
    EventSlot taken[JSDP_MAX_CHANNELS];
    {
        SocketsLock lock;
        for (int i = 0; i < JSDP_MAX_CHANNELS; ++i) {
            taken[i] = e.events[i];
            // Keep the socket id: later events must still find their slot.
            e.events[i] = EventSlot{taken[i].id, 0, 0, 0, 0};
        }
    }
    uint32_t more = 0;
    for (int i = 0; i < JSDP_MAX_CHANNELS; ++i) {
        SocketSlot& s = e.sockets[i];
        if (taken[i].id < 0 || taken[i].id != s.id)
            continue;
        if (taken[i].bits & kEventData) {
            s.readable = 1;
            more |= kFlagReceive;
        }
        if ((taken[i].bits & kEventSent) && s.sendState == SendState::Busy) {
            s.sendResult = taken[i].sendResult;
            s.sendState = SendState::Done;
            more |= kFlagSend;
        }
    }
    return more;
}

uint32_t handleDatagram(int i, size_t length, const VSockEndpoint& sender)
{
    Engine& e = engine();
    Channel& ch = e.channels[i];
    SocketSlot& s = e.sockets[i];
    if (jsdp_sameAddress(sender.address, ch.own)) {
        ++e.stats.own;
        return 0;
    }
    JSDP_ASSERT_MAIN_HELD();
    static JsdpService heard; // only the service task uses it, with the main lock held
    if (jsdp_parsePacket(s.buffer, length, &heard) < 0) {
        ++e.stats.malformed;
        return 0;
    }
    ++e.stats.accepted;
    heard.localAddress = ch.own;
    heard.senderAddress = sender.address;
    uint32_t more = 0;
    const JsdpMerge merged = jsdp_tableMerge(e.services, JSDP_MAX_SERVICES, heard, e.ageingMs.load());
    if (merged == JsdpMerge::Changed)
        more |= kFlagDispatch;
    else if (merged == JsdpMerge::Full)
        ++e.stats.tableFull;
    // Only announcers ask: answering responders would make two responders
    // answer each other for ever.
    if (!ch.mode && !(heard.flags & JSDP_FLAG_RESPONDER) && !s.queued) {
        queuePacket(s, ch, sender);
        ++e.stats.replies;
        more |= kFlagSend;
    }
    return more;
}

uint32_t receivePass()
{
    Engine& e = engine();
    uint32_t more = 0;
    for (int i = 0; i < JSDP_MAX_CHANNELS; ++i) {
        SocketSlot& s = e.sockets[i];
        if (s.id < 0 || !s.readable || !e.channels[i].enabled)
            continue;
        for (int n = 0; n < kReceiveBudget && s.readable; ++n) {
            VSockEndpoint sender{};
            const VSockResult rc = vsock_recvFrom(s.id, s.buffer, sizeof s.buffer, &sender, 0);
            if (rc == VSOCK_E_EMPTY) {
                s.readable = 0;
            } else if (rc == VSOCK_E_BUFFER) {
                // Dropped by the socket service (and counted there); the
                // datagrams behind it are still taken.
            } else if (rc < 0) {
                s.readable = 0;
                s.failed = true;
            } else {
                ++e.stats.received;
                more |= handleDatagram(i, static_cast<size_t>(rc), sender);
            }
        }
        // A dropped oversize datagram was received all the same: it counts
        // in both, so that received is every datagram that arrived.
        const uint32_t dropped = vsock_droppedOversize(s.id);
        e.stats.oversize += dropped - s.oversizeSeen;
        e.stats.received += dropped - s.oversizeSeen;
        s.oversizeSeen = dropped;
        if (s.failed)
            closeSocket(i);
        else if (s.readable)
            more |= kFlagReceive;
    }
    return more;
}

uint32_t sendPass()
{
    Engine& e = engine();
    for (int i = 0; i < JSDP_MAX_CHANNELS; ++i) {
        SocketSlot& s = e.sockets[i];
        if (s.id < 0)
            continue;
        for (int step = 0; step < kSendSteps; ++step) {
            if (s.sendState == SendState::Idle) {
                if (!s.queued)
                    break;
                s.sendState = SendState::Queued;
            } else if (s.sendState == SendState::Queued) {
                s.sendState = SendState::Busy;
                const VSockResult rc = vsock_sendTo(s.id, s.data, s.length, &s.destination, -1);
                if (rc != VSOCK_E_PENDING) {
                    s.sendResult = rc;
                    s.sendState = SendState::Done;
                }
            } else if (s.sendState == SendState::Busy) {
                break; // its completion event wakes us
            } else {
                if (s.sendResult >= 0)
                    ++e.stats.sent;
                else if (s.sendResult == VSOCK_E_PARAM)
                    s.failed = true;
                s.queued = false;
                s.sendState = SendState::Idle;
            }
        }
        if (s.failed)
            closeSocket(i);
    }
    return 0;
}

void dispatchPass()
{
    Engine& e = engine();
    for (JsdpService& service : e.services) {
        if (!service.changed)
            continue;
        service.changed = 0;
        for (const Subscriber& sub : e.subscribers)
            if (sub.inUse)
                callSubscriber(sub, service, service.alive);
    }
}

// Runs the passes for `flags` in order, each adding flags for the later
// ones; returns the flags to post again for the next wake-up.
uint32_t handleFlags(uint32_t flags)
{
    uint32_t repost = 0;
    if (flags & kFlagOpenClose)
        flags |= openClosePass();
    if (flags & kFlagTick)
        flags |= tickPass();
    if (flags & kFlagSocketEvents)
        flags |= socketEventPass();
    if (flags & kFlagReceive) {
        const uint32_t more = receivePass();
        repost |= more & kFlagReceive;
        flags |= more & ~kFlagReceive;
    }
    if (flags & kFlagSend)
        sendPass();
    if (flags & kFlagDispatch)
        dispatchPass();
    return repost;
}

// The first task sets the engine up; a later one carries on with it.
bool attach(uint16_t self)
{
    Engine& e = engine();
    if (e.state.load() == JSDP_STATE_NOINIT) {
        OswrapSemAttr mainAttr{1, "JSDPMAIN"};
        OswrapSemAttr socketAttr{1, "JSDPVSOCK"};
        if (oswrap_createSemaphore(&e.mainLock, &mainAttr) < 0)
            return false;
        if (oswrap_createSemaphore(&e.socketLock, &socketAttr) < 0) {
            oswrap_deleteSemaphore(e.mainLock);
            return false;
        }
        MainLock lock;
        resetTables();
        e.state = JSDP_STATE_READY;
    }
    uint16_t none = 0;
    if (!e.task.compare_exchange_strong(none, self))
        return false;
    // Sockets kept open while no task ran may hold datagrams and sends.
    MainLock lock;
    for (SocketSlot& s : e.sockets)
        if (s.id >= 0)
            s.readable = 1;
    return true;
}

void serviceLoop(void*)
{
    Engine& e = engine();
    uint16_t self = 0;
    oswrap_getTaskId(&self);
    const bool attached = attach(self);
    uint32_t nextTick = now() + JSDP_TICK_MS;
    uint32_t flags = kFlagSocketEvents | kFlagReceive | kFlagSend;
    for (;;) {
        if (attached) {
            // The tick runs on elapsed time, so steady traffic cannot hold
            // back announcements, ageing or reopening sockets.
            const int32_t left = static_cast<int32_t>(nextTick - now());
            if (left <= 0) {
                flags |= kFlagTick;
                nextTick = now() + JSDP_TICK_MS;
            }
            if (flags) {
                uint32_t repost = 0;
                {
                    MainLock lock;
                    repost = handleFlags(flags);
                }
                if (repost)
                    oswrap_setTaskFlags(self, repost);
            }
        }
        const int32_t left = static_cast<int32_t>(nextTick - now());
        flags = 0;
        const OswrapResult rc
            = oswrap_waitTaskFlags(&flags, kFlagMask, attached ? static_cast<uint32_t>(left > 0 ? left : 0) : 100);
        if (rc == OSWRAP_E_STOP)
            break;
        flags &= kFlagMask;
    }
    if (attached)
        e.task = 0;
    oswrap_exitTask();
}

} // namespace
} // namespace jsdp_detail

JsdpResult jsdp_startService()
{
    using namespace jsdp_detail;
    std::lock_guard<std::mutex> guard(g_control);
    if (g_serviceTask != 0)
        return JSDP_OK;
    uint16_t id = 0;
    OswrapTaskAttr attr;
    attr.entry = serviceLoop;
    attr.priority = 15;
    attr.stackSize = 4096;
    attr.name = "JSDPSVC";
    if (oswrap_createTask(&id, &attr) < 0)
        return JSDP_E_START;
    if (oswrap_startTask(id, nullptr) < 0) {
        oswrap_deleteTask(id);
        return JSDP_E_START;
    }
    g_serviceTask = id;
    return JSDP_OK;
}

JsdpResult jsdp_stopService()
{
    using namespace jsdp_detail;
    std::lock_guard<std::mutex> guard(g_control);
    if (g_serviceTask == 0)
        return JSDP_OK;
    oswrap_terminateTask(g_serviceTask);
    const OswrapResult rc = oswrap_deleteTask(g_serviceTask);
    g_serviceTask = 0;
    return rc >= 0 ? JSDP_OK : JSDP_E_START;
}
