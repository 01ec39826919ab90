// The engine's tables, shared by the caller-side procedures and the service
// task. Everything here is guarded by the main lock, except the event slots
// (socket lock) and the fields marked atomic.
#pragma once

#include "pbd/jsdp/jsdp.h"

#include <atomic>
#include <cassert>

namespace jsdp_detail {

// Wake flags of the service task.
constexpr uint32_t kFlagTick = 0x80000000u;
constexpr uint32_t kFlagOpenClose = 0x40000000u;
constexpr uint32_t kFlagDispatch = 0x20000000u;
constexpr uint32_t kFlagOther = 0x10000000u;
constexpr uint32_t kFlagSocketEvents = 0x8000000u;
constexpr uint32_t kFlagReceive = 0x4000000u;
constexpr uint32_t kFlagSend = 0x2000000u;
constexpr uint32_t kFlagMask = 0xFE000000u;

// Event slot bits.
constexpr uint32_t kEventData = 1;
constexpr uint32_t kEventSent = 2;

enum class SendState { Idle, Queued, Busy, Done };

struct Channel {
    bool enabled;
    uint8_t mode; // non-zero announcer
    uint8_t packet[JSDP_BUFFER_SIZE];
    size_t packetLength;
    uint16_t port;
    VSockAddress own;
    VSockAddress netmask;
    VSockAddress group;
    uint32_t periodMs;
    OswrapTimer period;
};

// Reset as a whole (`= SocketSlot{}`), so a new field cannot be left out.
struct SocketSlot {
    int id = -1; // -1 none
    uint32_t readable = 0;
    uint8_t buffer[JSDP_BUFFER_SIZE];
    // A send queue of one packet.
    bool queued = false;
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    VSockEndpoint destination{};
    SendState sendState = SendState::Idle;
    int32_t sendResult = 0;
    bool failed = false;
    uint32_t oversizeSeen = 0; // the socket service's drop count already counted
};

struct EventSlot {
    int id = -1; // -1 none
    uint32_t bits = 0;
    int32_t sendResult = 0;
    int32_t lastReceive = 0;
    uint32_t receiveCount = 0;
};

struct Subscriber {
    bool inUse;
    uint16_t key; // the subscribing task's id; 0 for a thread that is no task
    JsdpCallback callback;
    void* context;
};

struct Engine {
    std::atomic<int> state{JSDP_STATE_NOINIT};
    uint16_t mainLock = 0; // "JSDPMAIN"
    uint16_t socketLock = 0; // "JSDPVSOCK"
    // The task that runs the engine now (0 none); notify() wakes it.
    std::atomic<uint16_t> task{0};
    std::atomic<uint32_t> ageingMs{JSDP_AGEING_MS};

    Channel channels[JSDP_MAX_CHANNELS];
    SocketSlot sockets[JSDP_MAX_CHANNELS];
    EventSlot events[JSDP_MAX_CHANNELS];
    JsdpService services[JSDP_MAX_SERVICES];
    Subscriber subscribers[JSDP_MAX_SUBSCRIBERS];
    JsdpStats stats;
};

Engine& engine();

void lockMain();
void unlockMain();
void lockSockets();
void unlockSockets();
// True while this thread holds the main lock (for debug checks).
bool mainHeld();
#define JSDP_ASSERT_MAIN_HELD() assert(jsdp_detail::mainHeld())

// Holds "JSDPMAIN" for a scope; with take false it holds nothing (a caller
// inside a subscriber callback already holds it).
class MainLock {
public:
    explicit MainLock(bool take = true);
    ~MainLock();
    MainLock(const MainLock&) = delete;
    MainLock& operator=(const MainLock&) = delete;

private:
    const bool m_taken;
};

// Holds "JSDPVSOCK" for a scope.
class SocketsLock {
public:
    SocketsLock() { lockSockets(); }
    ~SocketsLock() { unlockSockets(); }
    SocketsLock(const SocketsLock&) = delete;
    SocketsLock& operator=(const SocketsLock&) = delete;
};

// What the service task is woken for.
enum class Wake { Dispatch, OpenClose, SocketEvents, Other };
void notify(Wake reason);

// Runs every callback of a subscriber-facing call with the marker set that
// refuses re-entry into the engine.
bool inCallback();
void callSubscriber(const Subscriber& s, const JsdpService& service, int alive);

// Resets every table; done once, by the first service task.
void resetTables();

} // namespace jsdp_detail
