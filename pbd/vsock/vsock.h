// The socket service: one service thread ("VSOCK") owns every network socket
// of the program and performs the input and output that must wait. Callers
// never block in the network: an operation completes at once or returns
// VSOCK_E_PENDING, and its completion is delivered through the socket's event
// function, called with the interface lock held: on the service thread, or,
// for a stream send the system takes whole and a stream receive that finds
// data (or the end) at once, on the calling thread before the call returns.
//
// Event functions must not call any vsock_ operation: they record what
// happened and wake their owner, which then collects the result.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Result codes (signed 32-bit; negative = failure). Callers test the sign and
// compare whole values.
using VSockResult = int32_t;

constexpr VSockResult VSOCK_OK = 0;
constexpr VSockResult VSOCK_E_SOCKET = static_cast<VSockResult>(0xFACE0000u);
constexpr VSockResult VSOCK_E_PARAM = static_cast<VSockResult>(0xFACE0001u);
constexpr VSockResult VSOCK_E_NOTOPEN = static_cast<VSockResult>(0xFACE0002u);
constexpr VSockResult VSOCK_E_OBJ = static_cast<VSockResult>(0xFACE0003u);
constexpr VSockResult VSOCK_E_RESOURCE = static_cast<VSockResult>(0xFACE0004u);
constexpr VSockResult VSOCK_E_PENDING = static_cast<VSockResult>(0xFACE0005u);
constexpr VSockResult VSOCK_E_TIMEOUT = static_cast<VSockResult>(0xFACE0006u);
constexpr VSockResult VSOCK_E_BUFFER = static_cast<VSockResult>(0xFACE0007u);
constexpr VSockResult VSOCK_E_EMPTY = static_cast<VSockResult>(0xFACE0008u);
// Text that does not fit or does not parse, and a service that cannot start.
constexpr VSockResult VSOCK_E_FAIL = static_cast<VSockResult>(0x80000000u);

// ---------------------------------------------------------------------------
// Address record (24 bytes): family 4 or 6, the address in network byte order
// (IPv4 uses the first 4 bytes), the IPv6 scope id in host order. All zero is
// the empty address.
constexpr uint32_t VSOCK_FAMILY_IPV4 = 4;
constexpr uint32_t VSOCK_FAMILY_IPV6 = 6;

struct VSockAddress {
    uint32_t family;
    uint8_t addr[16];
    uint32_t scopeId;
};
static_assert(sizeof(VSockAddress) == 24, "the address record is 24 bytes");

// Endpoint record: port in host order, then the address record.
struct VSockEndpoint {
    uint16_t port;
    VSockAddress address;
};

// Text form of an address: family 4 as dotted decimal, family 6 as eight
// upper-case hexadecimal groups with "::" compression ("::FFFF:a.b.c.d" for
// IPv4-mapped addresses). VSOCK_E_PARAM on a null argument, zero size or an
// unknown family; VSOCK_E_FAIL when the text does not fit (with its NUL).
VSockResult vsock_addressToText(const VSockAddress* address, char* text, size_t size);

// Parses family 4 or 6 text into *address (zeroed first). VSOCK_E_PARAM on a
// null argument or an unknown family; VSOCK_E_FAIL for malformed text.
// IPv4 text is exactly four decimal parts 0..255 without leading zeros.
VSockResult vsock_textToAddress(uint32_t family, const char* text, VSockAddress* address);

// Longest text vsock_addressToText can produce, with its NUL.
constexpr size_t VSOCK_ADDRESS_TEXT_MAX = 46;

// ---------------------------------------------------------------------------
// Service control.
constexpr int VSOCK_STATE_OFF = 0;
constexpr int VSOCK_STATE_STARTING = 1;
constexpr int VSOCK_STATE_READY = 2;

// Starts the service thread; 0 also when already started. Needs the OS
// wrapper initialised. VSOCK_E_FAIL when the thread cannot be made or does not
// come up in time. Can be called again after vsock_term.
VSockResult vsock_init();
// Stops the service thread and closes every socket still open.
void vsock_term();
int vsock_getState();

// ---------------------------------------------------------------------------
// Sockets (ids 0..63).
constexpr int VSOCK_MAX_SOCKETS = 64;
constexpr int VSOCK_MAX_OS_SOCKETS = 32;

constexpr uint32_t VSOCK_MODE_DATAGRAM = 0;
constexpr uint32_t VSOCK_MODE_LISTEN = 1;
constexpr uint32_t VSOCK_MODE_CONNECT = 2;

struct VSockOpenParams {
    uint32_t mode;
    VSockEndpoint local;
};

// Event kinds and their result.
constexpr int32_t VSOCK_EV_ACCEPT = 0; // new socket id, or a failure
constexpr int32_t VSOCK_EV_CONNECT = 1; // 0 connected, or a failure
constexpr int32_t VSOCK_EV_SEND = 2; // bytes sent, or a failure
constexpr int32_t VSOCK_EV_RECV = 3; // bytes received (0 = peer closed), or a failure
constexpr int32_t VSOCK_EV_SENDTO = 4; // bytes sent, or a failure
constexpr int32_t VSOCK_EV_DATAGRAM = 5; // datagram length (queued), or a failure

struct VSockEvent {
    int32_t kind;
    int32_t result;
};

// Runs with the interface lock held, on the service thread or on the thread
// of a vsock_send / vsock_recv that completed at once.
using VSockEventFn = void (*)(int socketId, const VSockEvent* event, void* context);

constexpr uint8_t VSOCK_EVF_DELIVER = 0x40;
// The owner takes the input itself: the service thread never watches or
// reads the socket's input, and vsock_waitInput lets the owner's thread sleep
// until input arrives. Datagram sockets: no event 5; vsock_recvFrom takes a
// datagram the system already holds. Stream sockets: a receive completes at
// once when input is there, else when the owner's vsock_waitInput finds it.
// Input then costs one thread hand-over instead of two. Connects and sends
// still complete on the service thread.
constexpr uint8_t VSOCK_EVF_OWNER_INPUT = 0x01;

struct VSockEventOptions {
    uint8_t flags; // VSOCK_EVF_DELIVER required
    VSockEventFn handler; // required
    void* context; // handed back to the handler
};

// Time-out arguments: -1 waits without limit, 0 gives up at the first check
// after the operation became pending, n > 0 milliseconds.
constexpr int32_t VSOCK_WAIT_FOREVER = -1;

// A connect that has not completed after this long fails with VSOCK_E_TIMEOUT
// (event 1), whatever time-out the caller gave.
constexpr int32_t VSOCK_CONNECT_DEADLINE_MS = 5000;

// Returns the new socket id or a failure code.
// Datagram sockets: a port of 0 leaves the socket unbound until its first
// send. With a local address and a port, the socket receives on that address's
// interface only (unicast, broadcast and joined multicast groups) and sends
// from that address.
// Stream clients: a non-empty local address is bound (port 0) before the
// connect, so the link leaves from that interface; an address the host does
// not have gives VSOCK_E_PARAM at once. An empty address connects unbound.
VSockResult vsock_open(const VSockOpenParams* params, const VSockEventOptions* options);
VSockResult vsock_close(int socketId);

// Stream client: 0 connected at once, VSOCK_E_PENDING (event 1 follows).
VSockResult vsock_connect(int socketId, const VSockEndpoint* remote, int32_t timeoutMs);
// Stream: VSOCK_E_PENDING, event 2 with the total sent once the last byte left
// (before the return when the system takes everything at once). The data
// must stay valid until the event.
VSockResult vsock_send(int socketId, const void* data, uint32_t length, int32_t timeoutMs, void* token);
// Stream: arms one receive into buffer; VSOCK_E_PENDING, event 3 follows
// (before the return when data or the end is already there).
VSockResult vsock_recv(int socketId, void* buffer, uint32_t size, int32_t timeoutMs, void* token);
// Listener: arms one accept; VSOCK_E_PENDING, event 0 with the new socket id
// (an accepted stream that inherits the listener's event options).
VSockResult vsock_accept(int socketId, int32_t timeoutMs);

// Datagram: VSOCK_E_PENDING, event 4 follows. The data must stay valid until
// the event.
VSockResult vsock_sendTo(
    int socketId, const void* data, uint32_t length, const VSockEndpoint* destination, int32_t timeoutMs);
// Datagram: takes the oldest queued datagram: its length, VSOCK_E_EMPTY, or
// VSOCK_E_BUFFER when it is longer than size; that datagram is then dropped
// and counted, so that the ones behind it can still be read. sender may be
// null.
VSockResult vsock_recvFrom(int socketId, void* buffer, uint32_t size, VSockEndpoint* sender, int32_t timeoutMs);

// Sleeps until input waits on one of the owner-input sockets, `wakeFd` (an
// eventfd of the caller's, -1 for none; drained when it woke the wait) is
// readable, or timeoutMs passes (-1 without limit). A datagram socket is ready
// when it holds a datagram. A connected stream is watched only while a
// receive is armed on it; when its input (data, the end or an error) comes,
// that receive completes here, its event delivered on the caller's thread
// before the return, and the stream counts as ready. ready[i] (may be null)
// tells whether socket i is ready. The count of ready sockets, 0 on a wake-up
// or a time-out, or VSOCK_E_PARAM for a bad argument. Other sockets are left
// out.
VSockResult vsock_waitInput(const int* socketIds, uint8_t* ready, int count, int wakeFd, int32_t timeoutMs);

// Joins the IPv4 multicast group on the datagram socket's own interface
// (the interface of its local address; any interface when it has none).
VSockResult vsock_joinGroup(int socketId, const VSockAddress* group);

// Datagrams dropped on this socket because they were larger than the
// service's receive buffer (2048 bytes) or than the buffer handed to
// vsock_recvFrom; 0 for an unknown id.
uint32_t vsock_droppedOversize(int socketId);
