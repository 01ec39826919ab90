// TFTP server (RFC 1350, 512-byte blocks, no options) from which units pull
// firmware files and to which they upload their logs.
//
// Threads: one OS-wrapper task, "TFTP", serves every live server of the
// process. The socket service's thread only marks a server or child as woken
// and sets a task flag (1: datagrams for a server socket, 2: send completions
// for a child); all protocol work, file access and every call to a
// TFTPParentCallbackIF runs on that task under the "TFTPPARENT" semaphore.
// A child's input is the task's own: while children wait for their peers the
// task sleeps on their sockets (and its flags), so each answer wakes the task
// directly and the next packet leaves at once, with no hand-over through the
// service thread; several transfers are served in the same wake-up.
// The owner's calls (setup, start, destroy) take the same semaphore, so a
// parent callback must never destroy its server.
//
// Ports: the server listens on its own port (1999 for the owners here); a
// read is served by a TFTPSender on port 2000 + slot (slots 0..31), a write
// by the one TFTPReceiver on port 2032. A port is held by one server of the
// process at a time: a second server asking for a held port fails start.
//
// Files: a request names a file inside the root folder. Absolute names, ".."
// segments, names longer than 255 bytes and names whose resolved path leaves
// the root (through a link or otherwise) are refused with ERROR 2, and a
// final link is never followed. A write goes to a temporary file beside the
// target, renamed over it after the last block; a failed write leaves the
// old file untouched.
#pragma once

#include "pbd/vcom/vcom.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

using TFTPResult = int32_t;

constexpr TFTPResult TFTP_OK = 0;
constexpr TFTPResult TFTP_E_FAIL = static_cast<TFTPResult>(0x80000000u);

constexpr uint16_t TFTP_DEFAULT_PORT = 69;
constexpr uint16_t TFTP_CHILD_BASE_PORT = 2000;
constexpr int TFTP_SENDER_SLOTS = 32;
// The receiver's slot: its port follows the senders' (2032), so a read and a
// write run at the same time.
constexpr int TFTP_RECEIVER_SLOT = 32;
constexpr int TFTP_CHILD_SLOTS = TFTP_SENDER_SLOTS + 1;

constexpr uint32_t TFTP_ROOT_MAX = 256; // bytes, terminator included
constexpr uint32_t TFTP_NAME_MAX = 256; // bytes of a request's file name
constexpr uint32_t TFTP_PATH_NAME_MAX = 255; // longest name that is served
constexpr uint32_t TFTP_MODE_MAX = 32;
constexpr uint32_t TFTP_BLOCK_SIZE = 512;
constexpr uint32_t TFTP_DATA_MAX = 4 + TFTP_BLOCK_SIZE;
// A received file may not grow past this (a unit's log is far smaller).
constexpr uint64_t TFTP_RECEIVE_LIMIT = 64ull * 1024 * 1024;

// Schedule of the resends and of the task's tick.
constexpr uint32_t TFTP_RESEND_MS = 500;
constexpr uint32_t TFTP_MAX_RESENDS = 5;
constexpr uint32_t TFTP_TICK_MS = 100;

constexpr int32_t TFTP_TASK_PRIORITY = 13;
constexpr uint32_t TFTP_TASK_STACK = 16000;
constexpr uint32_t TFTP_FLAG_REQUESTS = 1;
constexpr uint32_t TFTP_FLAG_CHILDREN = 2;

// Packet opcodes.
constexpr uint16_t TFTP_OP_RRQ = 1;
constexpr uint16_t TFTP_OP_WRQ = 2;
constexpr uint16_t TFTP_OP_DATA = 3;
constexpr uint16_t TFTP_OP_ACK = 4;
constexpr uint16_t TFTP_OP_ERROR = 5;

// Transfer modes as requested; the mode does not change how a file is sent.
constexpr uint8_t TFTP_MODE_OTHER = 0;
constexpr uint8_t TFTP_MODE_NETASCII = 1;
constexpr uint8_t TFTP_MODE_OCTET = 2;

// Internal error codes of a child.
constexpr uint8_t TFTP_ERR_NONE = 0;
constexpr uint8_t TFTP_ERR_ARGUMENT = 1;
constexpr uint8_t TFTP_ERR_NOT_FOUND = 2; // ERROR 1
constexpr uint8_t TFTP_ERR_EXISTS = 3; // ERROR 6
constexpr uint8_t TFTP_ERR_ACCESS = 4; // ERROR 2
constexpr uint8_t TFTP_ERR_DISK_FULL = 5; // ERROR 3
constexpr uint8_t TFTP_ERR_UNEXPECTED = 6; // ERROR 4
constexpr uint8_t TFTP_ERR_UDP = 7;
constexpr uint8_t TFTP_ERR_STATE = 8;
constexpr uint8_t TFTP_ERR_TIMEOUT = 11; // ERROR 0 "timeout!"

// Events to the parent.
constexpr uint32_t TFTP_EVENT_STARTED = 1;
constexpr uint32_t TFTP_EVENT_FINISHED = 2;
constexpr uint32_t TFTP_EVENT_RESENT = 3;
constexpr uint32_t TFTP_EVENT_ABORTED = 4;
constexpr uint32_t TFTP_EVENT_BLOCK_SENT = 5;

// Codes of a child to its server.
constexpr uint32_t TFTP_CHILD_FINISHED = 1;
constexpr uint32_t TFTP_CHILD_RESENT = 2;
constexpr uint32_t TFTP_CHILD_FAILED = 3;
constexpr uint32_t TFTP_CHILD_BLOCK = 4;

// Server states.
constexpr int32_t TFTP_SERVER_CREATED = 0;
constexpr int32_t TFTP_SERVER_SET_UP = 1;
constexpr int32_t TFTP_SERVER_RUNNING = 2;

// Resend and tick periods; tests shorten them. Read when a timer starts.
struct TFTPTimings {
    uint32_t resendMs = TFTP_RESEND_MS;
    uint32_t maxResends = TFTP_MAX_RESENDS;
    uint32_t tickMs = TFTP_TICK_MS;
};
void tftp_setTimings(const TFTPTimings& timings);
TFTPTimings tftp_timings();

// Where the server's log lines go (none by default). The sink is called on
// the TFTP task and must not call back into the server.
using TFTPLogSink = std::function<void(const char* line)>;
void tftp_setLogSink(TFTPLogSink sink);
void tftp_log(const char* line);

class TFTPParentCallbackIF {
public:
    // childId: the sender's slot, 0 for the receiver; event TFTP_EVENT_*.
    virtual int32_t transferEvent(uint16_t childId, uint32_t event) = 0;
    virtual ~TFTPParentCallbackIF() = default;
};

// What the TFTP task calls on each server it serves.
class TFTPTaskIF {
public:
    virtual int32_t tick() = 0;
    virtual int32_t serveRequests() = 0;
    virtual int32_t pollChildren() = 0;
    virtual int32_t destroy() = 0;
    // The inputs the task waits for itself: ids of the service sockets of
    // children waiting for their peer, at most `room`; the count written.
    virtual int watchInputs(int* /*ids*/, int /*room*/) { return 0; }
    // After the wait: ready[i] tells whether socket ids[i] holds a datagram.
    virtual int32_t serveInputs(const int* /*ids*/, const uint8_t* /*ready*/, int /*count*/) { return TFTP_OK; }
    virtual ~TFTPTaskIF() = default;
};

// The task's target once it is stopping: every operation fails.
class DummyTFTPTask : public TFTPTaskIF {
public:
    int32_t tick() override { return TFTP_E_FAIL; }
    int32_t serveRequests() override { return TFTP_E_FAIL; }
    int32_t pollChildren() override { return TFTP_E_FAIL; }
    int32_t destroy() override { return TFTP_E_FAIL; }
};

// What a child calls on its server. slot: 0..31 senders, 32 the receiver.
class TFTPChildCallbackIF {
public:
    virtual int32_t wake() = 0;
    virtual int32_t childEvent(uint16_t slot, uint32_t code) = 0;
    virtual int32_t destroy() = 0;
    virtual ~TFTPChildCallbackIF() = default;
};

class TFTPChild;
struct TFTPPeer;

class TFTPServer : public VCOM::IVComWakeupFunction,
                   public VCOM::IVComCallback,
                   public TFTPTaskIF,
                   public TFTPChildCallbackIF {
public:
    // Joins the TFTP task, making it when none runs.
    TFTPServer();
    ~TFTPServer() override;
    TFTPServer(const TFTPServer&) = delete;
    TFTPServer& operator=(const TFTPServer&) = delete;

    // IPv4 address text, port, root folder (fewer than 256 bytes) and the
    // parent that receives the transfer events. TFTP_E_FAIL for a bad
    // address, a root that does not fit, or a running server.
    TFTPResult setup(const char* address, uint16_t port, const char* rootFolder, TFTPParentCallbackIF* parent);
    // Binds the address and port; only once set up. TFTP_E_FAIL when the
    // port is held or cannot be bound, or the task could not be made.
    TFTPResult start();
    // Data bytes sent so far by sender `index`, 0 when the slot is empty.
    // Lock-free, so a parent may call it from its callback.
    uint32_t bytesSentByChild(int index) const;
    // Leaves the task and releases the children, then the socket. Only this
    // server stops; the task ends with the last server.
    int32_t destroy() override;

    int32_t state() const { return m_state.load(); }

private:
    // TFTPTaskIF
    int32_t tick() override;
    int32_t serveRequests() override;
    int32_t pollChildren() override;
    int watchInputs(int* ids, int room) override;
    int32_t serveInputs(const int* ids, const uint8_t* ready, int count) override;
    // TFTPChildCallbackIF
    int32_t wake() override;
    int32_t childEvent(uint16_t slot, uint32_t code) override;
    // VCOM::IVComWakeupFunction
    int32_t wakeup(uint16_t ownerTaskId, VCOM::IVCom* socket) override;
    // VCOM::IVComCallback
    int32_t OnConnected(int32_t, uint8_t) override { return 0; }
    int32_t OnConnectionFailed(int32_t, uint8_t, int32_t) override { return 0; }
    int32_t OnDisconnected(int32_t, uint8_t) override { return 0; }
    int32_t OnReserved(int32_t, uint8_t, int32_t) override { return 0; }
    int32_t OnReceive(int32_t userId, uint8_t reserved) override;
    int32_t OnSend(int32_t, uint8_t) override { return 0; }
    int32_t OnCommunicationFailed(int32_t, uint8_t, int32_t) override { return 0; }

    void readRequests();
    void handleRequest(const uint8_t* data, size_t length, const VCOM::VComSocketAddress& from, uint16_t fromPort);
    bool servesPeer(const VCOM::VComSocketAddress& address, uint16_t port) const;
    int freeSenderSlot();
    void startChild(int slot, const TFTPPeer& peer, const char* name, uint8_t mode);
    void releaseEnded();
    void releaseAll();
    void parentEvent(int slot, uint32_t event);

    std::atomic<int32_t> m_state{TFTP_SERVER_CREATED};
    bool m_joined = false;
    std::unique_ptr<VCOM::VComUdpSocket> m_socket; // null once destroyed
    VCOM::VComSocketAddress m_address;
    uint16_t m_port = TFTP_DEFAULT_PORT;
    bool m_portHeld = false;
    std::string m_root;
    TFTPParentCallbackIF* m_parent = nullptr;
    std::array<std::unique_ptr<TFTPChild>, TFTP_CHILD_SLOTS> m_children;
    std::array<bool, TFTP_CHILD_SLOTS> m_ended{};
    std::array<std::atomic<uint32_t>, TFTP_SENDER_SLOTS> m_bytesSent{};
    // Set by the socket service's thread, taken by the task.
    std::atomic<bool> m_requestsPending{false};
    std::atomic<bool> m_childrenPending{false};
    bool m_readable = false; // datagrams may be queued on the socket
};
