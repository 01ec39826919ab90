// Socket classes over the socket service. A socket object never calls its
// user from the service thread: completions are recorded in the object, which
// wakes its owner through an IVComWakeupFunction; the owner thread then calls
// processEvents() and receives the IVComCallback calls there, on its own
// thread, with no socket lock held (so a callback may read and write).
//
// Locks: "SEM_SMAP" (the mapper) is taken before "SEM_SOCK" (one lock shared
// by every socket); both are taken on the service thread while it holds its
// own interface lock, so the owner never holds either while calling vsock_.
#pragma once

#include "pbd/jlib/jdatastream.h"
#include "pbd/vsock/vsock.h"

#include <cstdint>
#include <memory>
#include <mutex>

namespace VCOM {

using VComResult = int32_t;

constexpr VComResult VCOM_OK = 0;
constexpr VComResult VCOM_PENDING = 1; // completes later through the events
constexpr VComResult VCOM_MORE = 2; // read: bytes read, a further notification queued
constexpr VComResult VCOM_E_NULL_BUFFER = static_cast<VComResult>(0x80000002u);
constexpr VComResult VCOM_E_INCOMPLETE = static_cast<VComResult>(0x80000003u); // write took nothing / datagram refused
constexpr VComResult VCOM_E_DGRAM_RESOURCE = static_cast<VComResult>(0x80000004u);
constexpr VComResult VCOM_E_TIMEOUT = static_cast<VComResult>(0x80000005u);
constexpr VComResult VCOM_E_ARG = static_cast<VComResult>(0x80000080u);
constexpr VComResult VCOM_E_STATE = static_cast<VComResult>(0x80000081u);
constexpr VComResult VCOM_E_OBJ = static_cast<VComResult>(0x80000082u);
constexpr VComResult VCOM_E_RESOURCE = static_cast<VComResult>(0x80000083u);
constexpr VComResult VCOM_E_FAIL = static_cast<VComResult>(0x80000084u);
constexpr VComResult VCOM_E_UNSUPPORTED = static_cast<VComResult>(0x80000085u);
constexpr VComResult VCOM_E_MAPPER = static_cast<VComResult>(0x80000000u); // mapper full / not found; bad address text

// Service code -> this layer's code. datagramRead selects the meaning of
// VSOCK_E_RESOURCE.
VComResult vcom_translate(VSockResult code, bool datagramRead = false);

// Socket states and types.
constexpr int32_t VCOM_STATE_CLOSED = 0;
constexpr int32_t VCOM_STATE_CONNECTING = 1;
constexpr int32_t VCOM_STATE_OPEN = 4;
constexpr int32_t VCOM_TYPE_NONE = 0;
constexpr int32_t VCOM_TYPE_TCP_CLIENT = 1;
constexpr int32_t VCOM_TYPE_UDP = 2;

// Pending-event flags.
constexpr uint8_t VCOM_EV_CONNECTED = 0x01;
constexpr uint8_t VCOM_EV_CONNECT_FAILED = 0x02;
constexpr uint8_t VCOM_EV_DISCONNECT = 0x04;
constexpr uint8_t VCOM_EV_RECEIVE_RESULT = 0x10;
constexpr uint8_t VCOM_EV_SEND_RESULT = 0x20;
constexpr uint8_t VCOM_EV_RECEIVE_NOTIFY = 0x40;

// Callback reasons.
constexpr int32_t VCOM_REASON_CONNECT = 0; // OnConnectionFailed: attempt failed
constexpr int32_t VCOM_REASON_SEND_TIMEOUT = 1; // OnCommunicationFailed
constexpr int32_t VCOM_REASON_RECEIVE = 2; // OnConnectionFailed: receive failed; OnCommunicationFailed: ring full

constexpr uint32_t VCOM_TCP_CHUNK_SIZE = 10000;
constexpr uint32_t VCOM_TCP_STREAM_SIZE = 15000;
constexpr uint32_t VCOM_UDP_DATAGRAM_MAX = 1472;
constexpr int VCOM_MAPPER_ENTRIES = 64;

class IVCom;

class IVComCallback {
public:
    virtual int32_t OnConnected(int32_t userId, uint8_t reserved) = 0;
    virtual int32_t OnConnectionFailed(int32_t userId, uint8_t reserved, int32_t reason) = 0;
    virtual int32_t OnDisconnected(int32_t userId, uint8_t reserved) = 0;
    virtual int32_t OnReserved(int32_t userId, uint8_t reserved, int32_t value) = 0;
    virtual int32_t OnReceive(int32_t userId, uint8_t reserved) = 0;
    virtual int32_t OnSend(int32_t userId, uint8_t reserved) = 0;
    virtual int32_t OnCommunicationFailed(int32_t userId, uint8_t reserved, int32_t reason) = 0;
    virtual ~IVComCallback() = default;
};

class IVComWakeupFunction {
public:
    // Called with no socket lock held, possibly on the service thread: set a
    // flag and wake the owner. It may take its own locks and read the socket
    // (peer, state); it must not close or detach it, since the event that
    // woke it is still being routed.
    virtual int32_t wakeup(uint16_t ownerTaskId, IVCom* socket) = 0;
    virtual ~IVComWakeupFunction() = default;
};

class IVCom {
public:
    virtual int32_t attach(int32_t userId, IVComWakeupFunction* wakeup) = 0;
    virtual int32_t detach() = 0;
    virtual int32_t getUserId() const = 0;
    virtual bool isConnected() const = 0;
    virtual int32_t valid() const = 0; // always 1
    virtual IVCom* self() = 0;
    virtual uint32_t writableSpace() const = 0;
    virtual bool isOpen() const = 0;
    // TCP: VCOM_MORE when bytes were read (a further OnReceive is queued), 0
    // when none were there. UDP: one datagram, 0 with *countOut 0 when none.
    virtual VComResult read(void* buffer, uint32_t size, uint32_t* countOut) = 0;
    // TCP: everything taken gives the flush result (0 or VCOM_PENDING);
    // otherwise VCOM_E_INCOMPLETE with *countOut the bytes taken, which are
    // sent (never resend those; only the rest).
    virtual VComResult write(const void* data, uint32_t length, uint32_t* countOut) = 0;
    virtual VComResult disconnect() = 0;
    virtual VComResult processEvents(IVComCallback* callback) = 0;
    virtual ~IVCom() = default;
};

// An address record (family, 16 address bytes, scope id), zero when made.
class VComSocketAddress {
public:
    VComSocketAddress() = default;
    virtual ~VComSocketAddress() = default;

    // Family 4 or 6; VCOM_E_MAPPER for invalid text.
    VComResult setAddressText(uint32_t family, const char* text);
    void set(const VSockAddress& record) { m_record = record; }
    void copyTo(VSockAddress* record) const;
    void clear() { m_record = VSockAddress{}; }
    const VSockAddress& record() const { return m_record; }

private:
    VSockAddress m_record{};
};

struct VComPendingEvents {
    uint8_t flags = 0;
    int32_t acceptResult = 0;
    int32_t receiveResult = 0;
    int32_t sendResult = 0;
};

class VComAbstractSocket : public IVCom {
public:
    VComAbstractSocket();
    ~VComAbstractSocket() override;
    VComAbstractSocket(const VComAbstractSocket&) = delete;
    VComAbstractSocket& operator=(const VComAbstractSocket&) = delete;

    int32_t attach(int32_t userId, IVComWakeupFunction* wakeup) override;
    int32_t detach() override;
    int32_t getUserId() const override { return m_userId; }
    bool isConnected() const override { return m_state == VCOM_STATE_OPEN; }
    int32_t valid() const override { return 1; }
    IVCom* self() override { return this; }
    uint32_t writableSpace() const override { return m_sendStream.freeSpace(); }
    bool isOpen() const override { return m_state == VCOM_STATE_OPEN; }
    VComResult disconnect() override;
    VComResult processEvents(IVComCallback* callback) override;

    // Recording slots: called by the mapper on the service thread, or by the
    // socket itself. Each takes "SEM_SOCK", records, wakes the owner.
    // Connect and accept results are VCOM_E_UNSUPPORTED unless a socket
    // class takes them; a receive result is recorded as it is.
    virtual VComResult onConnectResult(int32_t result);
    virtual VComResult onDisconnectRequest(int32_t ignored) = 0;
    virtual VComResult onAcceptResult(int32_t result);
    virtual VComResult onReceiveResult(int32_t result);
    virtual VComResult onSendResult(int32_t result) = 0;
    virtual VComResult dispatch(IVComCallback* callback, uint8_t reserved, const VComPendingEvents& events) = 0;

    // Before open or connect: the owner takes the input itself
    // (VSOCK_EVF_OWNER_INPUT) and waits for it with vsock_waitInput on
    // serviceSocketId(). UDP: read() takes a datagram the system holds and no
    // receive event comes. TCP: the receive the socket keeps armed completes
    // inside the owner's vsock_waitInput, which wakes the owner as the
    // service would, on the owner's own thread.
    void setOwnerInput(bool on) { m_ownerInput = on; }
    bool ownerInput() const { return m_ownerInput; }

    int32_t state() const { return m_state; }
    int32_t type() const { return m_type; }
    int serviceSocketId() const { return m_serviceId; }
    int mapperIndex() const { return m_mapperIndex; }
    uint16_t ownerTaskId() const { return m_ownerTask; }
    // The connected peer (TCP client), under "SEM_SOCK".
    void peer(VComSocketAddress* address, uint16_t* port) const;

    // The one lock shared by all sockets ("SEM_SOCK"), made on first use.
    static std::mutex& socketLock();

protected:
    // Records flags (and fills the record through fill) under "SEM_SOCK",
    // then wakes the owner after releasing it.
    template <class Fill> void record(uint8_t flag, Fill fill);
    // Calls the wake-up taken under "SEM_SOCK", with it released; detach
    // waits for wake-ups still running on other threads.
    void runWakeup(IVComWakeupFunction* wakeup);
    // What a send handed to the service gives: VCOM_PENDING (send-busy set)
    // or the failure, recorded as a send result and returned translated.
    VComResult handOverSend(VSockResult rc);
    // The OnCommunicationFailed reason of a failed send result.
    static int32_t sendFailureReason(int32_t result);
    // Records a send result; a count sent also advances the position and
    // shrinks the remaining length of the part handed to the service.
    void recordSendResult(int32_t result, uint32_t* position, uint32_t* remaining);
    // Closes the service socket. The socket leaves the mapper first so that
    // no event of a reused service id reaches it; it is reset whatever the
    // service answers, since the service holds the socket no longer either
    // way. Returns the translated close result.
    VComResult closeSocket();
    // Registers with the mapper; VCOM_E_RESOURCE when it is full.
    VComResult registerSocket(int serviceId);
    void resetSocket();

    int32_t m_userId = 0;
    IVComWakeupFunction* m_wakeup = nullptr;
    uint16_t m_ownerTask = 0;
    int m_mapperIndex = -1;
    int m_serviceId = -1;
    int32_t m_type = VCOM_TYPE_NONE;
    int32_t m_state = VCOM_STATE_CLOSED;
    bool m_ownerInput = false;
    JLIB::JDataStream<unsigned char> m_receiveStream;
    JLIB::JDataStream<unsigned char> m_sendStream;
    int32_t m_savedLength = 0;
    uint8_t m_sendBusy = 0;
    VComPendingEvents m_pending; // under "SEM_SOCK"
    int m_wakesRunning = 0; // under "SEM_SOCK"
    VComSocketAddress m_peerAddress; // under "SEM_SOCK"
    uint16_t m_peerPort = 0; // under "SEM_SOCK"
};

// Heap block from jlib_heapAlloc, freed through jlib_heapFree.
struct VComHeapDeleter {
    void operator()(unsigned char* block) const;
};
using VComHeapBlock = std::unique_ptr<unsigned char, VComHeapDeleter>;

class VComAbstractTcpSocket : public VComAbstractSocket {
public:
    VComAbstractTcpSocket();
    ~VComAbstractTcpSocket() override;

    VComResult read(void* buffer, uint32_t size, uint32_t* countOut) override;
    VComResult write(const void* data, uint32_t length, uint32_t* countOut) override;

    VComResult onDisconnectRequest(int32_t ignored) override;
    VComResult onSendResult(int32_t result) override;
    VComResult dispatch(IVComCallback* callback, uint8_t reserved, const VComPendingEvents& events) override;

    // Bytes held in the receive stream, and a chunk held back because it
    // did not fit (0 none).
    uint32_t receivedCount() const { return m_receiveStream.count(); }
    int32_t heldChunkLength() const { return m_savedLength; }

protected:
    VComResult startReceiving();
    VComResult flush();
    // Moves a held chunk into the receive stream when it fits now; true when
    // one was moved.
    bool takeHeldChunk();
    VComResult dispatchSend(IVComCallback* callback, uint8_t reserved, int32_t result);

    VComHeapBlock m_receiveChunk;
    VComHeapBlock m_sendChunk;
    uint32_t m_sendPosition = 0; // under "SEM_SOCK" once handed to the service
    uint32_t m_sendRemaining = 0;
};

class VComTcpClientSocket : public VComAbstractTcpSocket {
public:
    VComTcpClientSocket() = default;
    ~VComTcpClientSocket() override;

    // 0 connected at once, 1 pending (OnConnected or OnConnectionFailed
    // follow), else a failure with the socket closed again.
    VComResult connect(
        const VComSocketAddress& localAddress, const VComSocketAddress& remoteAddress, uint16_t remotePort);

    VComResult onConnectResult(int32_t result) override;

private:
    VSockEndpoint m_connectEndpoint{};
};

class VComUdpSocket : public VComAbstractSocket {
public:
    VComUdpSocket();
    ~VComUdpSocket() override;

    VComResult open(const VComSocketAddress& localAddress, uint16_t localPort);
    VComResult setDestination(const VComSocketAddress& address, uint16_t port);
    VComResult getSourceAddress(VComSocketAddress* addressOut, uint16_t* portOut) const;

    uint32_t writableSpace() const override;
    VComResult read(void* buffer, uint32_t size, uint32_t* countOut) override;
    VComResult write(const void* data, uint32_t length, uint32_t* countOut) override;

    VComResult onDisconnectRequest(int32_t ignored) override;
    VComResult onSendResult(int32_t result) override;
    VComResult dispatch(IVComCallback* callback, uint8_t reserved, const VComPendingEvents& events) override;

private:
    VComSocketAddress m_sourceAddress;
    uint16_t m_sourcePort = 0;
    VComSocketAddress m_destination;
    uint16_t m_destinationPort = 0;
    VComHeapBlock m_datagram;
    uint32_t m_datagramPosition = 0; // under "SEM_SOCK" once handed to the service
    uint32_t m_datagramRemaining = 0;
    uint32_t m_datagramLength = 0;
};

// Routes service events to socket objects by service socket id.
class VComSocketMapper {
public:
    static VComSocketMapper& instance();
    virtual ~VComSocketMapper() = default;

    // Index of the new entry, or VCOM_E_MAPPER when all 64 are taken.
    int32_t add(VComAbstractSocket* socket, int serviceSocketId);
    // 0, or VCOM_E_MAPPER when no entry has the id.
    int32_t remove(int serviceSocketId);
    int32_t highestIndex();

    // The event function handed to vsock_open for every socket.
    static void eventFunction(int socketId, const VSockEvent* event, void* context);

private:
    VComSocketMapper() = default;
    struct Entry {
        VComAbstractSocket* socket = nullptr;
        int serviceId = -1;
    };
    std::mutex m_lock; // "SEM_SMAP"
    Entry m_entries[VCOM_MAPPER_ENTRIES];
    int m_highest = -1;
};

} // namespace VCOM
