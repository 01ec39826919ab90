// The engine's tables and the procedures called on the callers' threads:
// open, close, subscribe and unsubscribe.
#include "pbd/jsdp/jsdp_internal.h"
#include "pbd/jsdp/jsdp_table.h"

#include <cstring>

namespace jsdp_detail {

namespace {

Engine g;

// Set while this thread runs a subscriber callback with the main lock held.
thread_local bool t_inCallback = false;
// Depth of the main lock on this thread, for the debug checks.
thread_local int t_mainDepth = 0;

bool hasGroup(const VSockAddress& group)
{
    static const uint8_t zero[4] = {};
    return group.family == VSOCK_FAMILY_IPV4 && memcmp(group.addr, zero, 4) != 0;
}

JsdpResult checkChannel(const JsdpChannelConfig& c)
{
    if (c.mode && c.periodMs == 0)
        return JSDP_E_PARAM;
    if (c.payloadLength > JSDP_MAX_PAYLOAD)
        return JSDP_E_PARAM;
    // The socket service opens IPv4 datagram sockets only; anything else
    // would fail again at every tick without a word.
    if (c.ownAddress.family != VSOCK_FAMILY_IPV4)
        return JSDP_E_PARAM;
    if (c.group.family != 0 && c.group.family != VSOCK_FAMILY_IPV4)
        return JSDP_E_PARAM;
    return JSDP_OK;
}

JsdpResult buildChannel(Channel& ch, const JsdpChannelConfig& c)
{
    JsdpResult rc = checkChannel(c);
    if (rc < 0)
        return rc;
    rc = jsdp_buildPacket(&c, ch.packet, sizeof ch.packet, &ch.packetLength);
    if (rc < 0)
        return rc == JSDP_E_FULL ? JSDP_E_PARAM : rc;
    ch.mode = c.mode;
    ch.port = c.port;
    ch.own = c.ownAddress;
    ch.netmask = c.netmask;
    ch.group = c.group;
    if (!hasGroup(ch.group))
        memset(&ch.group, 0, sizeof ch.group);
    ch.periodMs = c.periodMs;
    oswrap_clearTimer(&ch.period);
    return JSDP_OK;
}

} // namespace

Engine& engine()
{
    return g;
}

void lockMain()
{
    oswrap_waitSemaphore(g.mainLock);
    ++t_mainDepth;
}
void unlockMain()
{
    --t_mainDepth;
    oswrap_signalSemaphore(g.mainLock);
}
bool mainHeld()
{
    return t_mainDepth > 0;
}

MainLock::MainLock(bool take)
    : m_taken(take)
{
    if (m_taken)
        lockMain();
}
MainLock::~MainLock()
{
    if (m_taken)
        unlockMain();
}
void lockSockets()
{
    oswrap_waitSemaphore(g.socketLock);
}
void unlockSockets()
{
    oswrap_signalSemaphore(g.socketLock);
}

void notify(Wake reason)
{
    uint32_t flag = kFlagOther;
    switch (reason) {
    case Wake::Dispatch:
        flag = kFlagDispatch;
        break;
    case Wake::OpenClose:
        flag = kFlagOpenClose;
        break;
    case Wake::SocketEvents:
        flag = kFlagSocketEvents;
        break;
    case Wake::Other:
        break;
    }
    const uint16_t task = g.task.load();
    if (task != 0)
        oswrap_setTaskFlags(task, flag);
}

bool inCallback()
{
    return t_inCallback;
}

void callSubscriber(const Subscriber& s, const JsdpService& service, int alive)
{
    JSDP_ASSERT_MAIN_HELD();
    t_inCallback = true;
    s.callback(&service, alive, s.context);
    t_inCallback = false;
}

void resetTables()
{
    for (int i = 0; i < JSDP_MAX_CHANNELS; ++i) {
        g.channels[i] = Channel{};
        g.sockets[i] = SocketSlot{};
        g.events[i] = EventSlot{};
    }
    jsdp_tableClear(g.services, JSDP_MAX_SERVICES);
    for (Subscriber& s : g.subscribers)
        s = Subscriber{};
    g.stats = JsdpStats{};
}

} // namespace jsdp_detail

using namespace jsdp_detail;

JsdpResult jsdp_open(const JsdpChannelConfig* channels, int count)
{
    if (count < 0 || count > JSDP_MAX_CHANNELS || (count > 0 && !channels))
        return JSDP_E_PARAM;
    if (inCallback())
        return JSDP_E_STATE;
    Engine& e = engine();
    if (e.state.load() == JSDP_STATE_NOINIT)
        return JSDP_E_NOINIT;
    MainLock lock;
    if (e.state.load() != JSDP_STATE_READY)
        return JSDP_E_STATE;
    e.state = JSDP_STATE_OPENING;
    for (int i = 0; i < count; ++i) {
        const JsdpResult rc = buildChannel(e.channels[i], channels[i]);
        if (rc < 0) {
            for (Channel& ch : e.channels)
                ch.enabled = false;
            e.state = JSDP_STATE_READY;
            return rc;
        }
    }
    for (int i = 0; i < JSDP_MAX_CHANNELS; ++i)
        e.channels[i].enabled = i < count;
    e.state = JSDP_STATE_RUNNING;
    notify(Wake::OpenClose);
    return JSDP_OK;
}

JsdpResult jsdp_close()
{
    if (inCallback())
        return JSDP_E_STATE;
    Engine& e = engine();
    if (e.state.load() == JSDP_STATE_NOINIT)
        return JSDP_E_NOINIT;
    MainLock lock;
    const int state = e.state.load();
    if (state == JSDP_STATE_READY || state == JSDP_STATE_CLOSING)
        return JSDP_E_BUSY;
    for (Channel& ch : e.channels)
        ch.enabled = false;
    e.state = JSDP_STATE_CLOSING;
    notify(Wake::OpenClose);
    return JSDP_OK;
}

JsdpResult jsdp_subscribe(JsdpCallback callback, void* context)
{
    if (!callback)
        return JSDP_E_PARAM;
    if (inCallback())
        return JSDP_E_STATE;
    Engine& e = engine();
    if (e.state.load() == JSDP_STATE_NOINIT)
        return JSDP_E_NOINIT;
    uint16_t key = 0;
    oswrap_getTaskId(&key);
    MainLock lock;
    Subscriber* free = nullptr;
    for (Subscriber& s : e.subscribers) {
        if (!s.inUse) {
            if (!free)
                free = &s;
            continue;
        }
        if ((key != 0 && s.key == key) || (s.callback == callback && s.context == context))
            return JSDP_E_STATE;
    }
    if (!free)
        return JSDP_E_FULL;
    *free = Subscriber{true, key, callback, context};
    for (const JsdpService& service : e.services)
        if (service.inUse && service.alive)
            callSubscriber(*free, service, 1);
    return JSDP_OK;
}

JsdpResult jsdp_unsubscribe(JsdpCallback callback, void* context)
{
    Engine& e = engine();
    if (e.state.load() == JSDP_STATE_NOINIT)
        return JSDP_E_NOINIT;
    // Inside a callback this thread already holds the main lock.
    MainLock lock(!inCallback());
    for (Subscriber& s : e.subscribers) {
        if (s.inUse && s.callback == callback && s.context == context) {
            s = Subscriber{};
            return JSDP_OK;
        }
    }
    return JSDP_E_PARAM;
}

int jsdp_getState()
{
    return engine().state.load();
}

void jsdp_getStats(JsdpStats* stats)
{
    if (!stats)
        return;
    Engine& e = engine();
    if (e.state.load() == JSDP_STATE_NOINIT) {
        memset(stats, 0, sizeof *stats);
        return;
    }
    if (inCallback()) {
        *stats = e.stats;
        return;
    }
    MainLock lock;
    *stats = e.stats;
}

void jsdp_setAgeingTime(uint32_t ms)
{
    engine().ageingMs = ms ? ms : JSDP_AGEING_MS;
}
