// Shared state of the socket service: the service control, the socket
// records and the OS-socket slot table. The service loop, the stream side and
// the datagram side each live in their own source and meet here.
//
// Locks: `stateLock` guards the service state only and is never held while
// `lock` is taken. `lock` guards every record and slot; callers hold it for a
// whole operation and the service thread holds it while it builds its poll
// set and while it services ready sockets, never while it sleeps in poll().
// Event functions run with `lock` held.
#pragma once

#include "pbd/vsock/vsock.h"

#include "pbd/OSWRAP/oswrap.h"
#include "pbd/jlib/jlib_mutex.h"
#include "pbd/vsock/vsock_ring.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vsock_detail {

constexpr uint32_t kScratchBytes = 2048;
// Largest length a send or a receive hands to the system at once.
constexpr uint32_t kMaxTransfer = 0x7FFFFFFFu;

enum class RecordState { Free, Opening, Open };
enum class Kind { None, Datagram, StreamClient, Listener, Accepted };
// Idle: nothing outstanding. Armed: waits for readiness. Done: finished, its
// event not yet delivered. Stored: ended by the caller's thread with a result
// the service thread delivers.
enum class OpState { Idle, Armed, Done, Stored };
enum class ConnectState { Idle, Pending, Connected, Failed };
enum class RingState { Listening, Delivering };
enum class AcceptState { Idle, Armed };

struct SendOp {
    OpState state = OpState::Idle;
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    uint32_t sent = 0;
    int32_t result = 0;
    OswrapTimer timer{};
    void* token = nullptr;
    VSockEndpoint destination{};

    bool outstanding() const { return state != OpState::Idle; }
    bool wantsWritable() const { return state == OpState::Armed || state == OpState::Done; }
};

struct RecvOp {
    OpState state = OpState::Idle;
    uint8_t* buffer = nullptr;
    uint32_t size = 0;
    int32_t result = 0;
    OswrapTimer timer{};
    void* token = nullptr;
};

struct ConnectOp {
    ConnectState state = ConnectState::Idle;
    int32_t result = 0;
    OswrapTimer timer{};
    uint32_t startTick = 0; // for the connect deadline
};

// Everything a record resets when it is freed or reused, in one place so a
// new field cannot be left out of the reset.
struct RecordFields {
    RecordState state = RecordState::Free;
    uint32_t mode = 0;
    VSockEndpoint local{};
    VSockEventOptions options{};
    int slot = -1;
    Kind kind = Kind::None;
    SendOp send;
    RecvOp recv;
    ConnectOp connect;
    // Listener: accept armed or not, its timer, live accepted sockets.
    AcceptState acceptState = AcceptState::Idle;
    OswrapTimer acceptTimer{};
    int liveAccepted = 0;
    // Connected stream: input arrived while no receive was armed, so the
    // socket is left out of the poll set until a receive takes it (it would
    // stay readable and spin the loop otherwise).
    bool inputWaiting = false;
    // Whether the poll set the service thread sleeps on now watches this
    // socket's input: a receive that must wait wakes the service only when
    // it does not.
    bool inputPolled = false;
    // The last receive of this stream took less than it asked for, so the
    // system most likely holds nothing more: the next receive waits for the
    // poll instead of trying a read that would only say "nothing yet".
    bool drained = false;
    // Accepted stream: its listener and peer.
    int listener = -1;
    VSockEndpoint peer{};
    // Datagram.
    RingState ringState = RingState::Listening;
    unsigned arrivalIfIndex = 0; // 0: datagrams from every interface
    bool sendFromLocal = false; // bound to any address on behalf of local.address
    uint32_t droppedOversize = 0;
};

struct Record : RecordFields {
    // Storage only: the ring's indices say whether it holds anything.
    VSockRing ring;
    uint8_t scratch[kScratchBytes];
};

struct Slot {
    bool inUse;
    int fd;
    int socketId;
    uint32_t generation; // changes whenever the slot is taken or freed
    // The readiness the service's event set asks of fd (0: fd is not in it).
    uint32_t watched;
};

struct Service {
    std::mutex controlLock; // serialises vsock_init and vsock_term
    std::mutex stateLock; // the service state
    int state = VSOCK_STATE_OFF;

    JLIB::OwnedMutex lock; // records and slots
    Record records[VSOCK_MAX_SOCKETS];
    Slot slots[VSOCK_MAX_OS_SOCKETS];

    // Guarded by `lock`: the wake-up descriptor, and whether calls are taken
    // (false while the service stops, so that no socket opens behind it).
    int wakeFd = -1;
    // The event set the service thread sleeps on: the wake-up descriptor and
    // every socket with something to wait for. It is kept from pass to pass
    // and changed only where a socket's wants changed, so a wake-up costs
    // the system the ready sockets only, not every open one.
    int epollFd = -1;
    bool accepting = false;

    uint16_t taskId = 0;
    std::atomic<bool> stopRequest{false};
    std::mutex runLock;
    std::condition_variable runCond;
    bool running = false;
};

extern Service g;

// Debug builds check the "with the lock held" contracts below.
#define VSOCK_ASSERT_LOCKED() JLIB_ASSERT_HELD(vsock_detail::g.lock)

uint32_t now();
bool isReady();
bool validId(int id);

// The functions below run with `lock` held.
void wakeService();
void startOpTimer(OswrapTimer* timer, int32_t timeoutMs);
bool opTimedOut(OswrapTimer* timer);
void deliver(int id, int32_t kind, int32_t result);
int slotFd(const Record& r);
int takeSlot(int fd, int id);
void clearRecord(int id);
int lowestFreeRecord();
VSockResult setOption(int fd, int level, int name, int value);
// Ends an outstanding send with its event.
void finishSend(int id, int32_t kind, int32_t result);

// Stream side.
VSockResult openListener(const Record& r, int fd);
// A stream client with a non-empty local address leaves from it (port 0);
// an empty one connects unbound.
VSockResult openStreamClient(const Record& r, int fd);
short streamWantedEvents(const Record& r);
void streamDispatch(int id, bool readable, bool writable);
void listenerDispatch(int id, bool readable);
void connectCompletion(int id, int32_t result);
void abortConnect(int fd);
void closeStream(int id);
void closeListener(int id);

// Datagram side.
VSockResult openDatagram(Record& r, int fd);
short datagramWantedEvents(const Record& r);
void datagramDispatch(int id, bool readable, bool writable);
void closeDatagram(int id);

// The owner takes the socket's input itself (VSOCK_EVF_OWNER_INPUT).
inline bool ownerInput(const Record& r)
{
    return (r.options.flags & VSOCK_EVF_OWNER_INPUT) != 0;
}

// An owner-input stream whose armed receive waits for its owner's
// vsock_waitInput to find the input.
bool streamAwaitsOwner(const Record& r);
// Completes that receive when the system holds data, the end or an error
// for it (its event delivered on the caller's thread); false when the input
// was not there after all and the receive stays armed.
bool streamOwnerReceive(int id);

// Runs a socket operation on an open record with the lock held; the
// service's readiness and the id are checked first.
VSockResult openCheck(int id);
template <typename Operation> VSockResult withOpenRecord(int id, Operation&& operation)
{
    if (!isReady())
        return VSOCK_E_OBJ;
    std::lock_guard<JLIB::OwnedMutex> guard(g.lock);
    const VSockResult rc = openCheck(id);
    if (rc < 0)
        return rc;
    return operation(g.records[id]);
}

} // namespace vsock_detail
