// Heartbeats: units announce themselves by datagrams to ff02::1, UDP port
// 50000. One receive thread joins that group on every adapter of the
// owner's list, turns each "VWMP" datagram into a HeartbeatInfo and hands
// it to the owner on that thread.
#pragma once

#include "fwupdate/workgroup/wg_transport.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct sockaddr_in6;

namespace WG {

class Ipv6AdapterList;

constexpr uint16_t kHeartbeatPort = 50000;
constexpr size_t kHeartbeatBufferSize = 2048;
// Every field the record takes lies below this offset: shorter datagrams
// are dropped rather than read with stale bytes.
constexpr size_t kHeartbeatMinLength = 152;
// The receive thread wakes this often and reads at most this many datagrams
// per wake, so one receiver keeps hundreds of units listed.
constexpr int kHeartbeatWakeMs = 100;
constexpr int kHeartbeatReadsPerWake = 64;

struct HeartbeatLink {
    uint16_t stateWord = 0;
    uint16_t word = 0;
    uint64_t peerId = 0;
};

struct HeartbeatInfo {
    uint16_t modelCode = 0; // 20
    uint16_t announcedWord = 0; // 24
    uint16_t word26 = 0;
    uint32_t value28 = 0;
    uint64_t mac = 0; // device id >> 16
    uint64_t deviceId = 0; // 36
    uint64_t workgroupId = 0; // 44
    uint16_t statusWord = 0; // 132
    uint16_t sessionPort = 0; // 134
    uint16_t word136 = 0;
    uint8_t byte138 = 0;
    uint16_t word140 = 0;
    uint64_t value144 = 0;
    QString shortName; // 52..67, 8-bit characters up to a zero
    QString deviceIdText; // 68..131, UTF-16 little-endian up to a zero
    std::string addressText; // the sender: 8 groups of 4 lower-case digits
    std::vector<HeartbeatLink> linksA;
    std::vector<HeartbeatLink> linksB;
    uint32_t scopeId = 0; // the PC interface the datagram arrived on
};

// The sender's address as 8 groups of 4 lower-case hex digits, never "::".
std::string heartbeatAddressText(const uint8_t address[16]);

// Reads one datagram. False (nothing written worth keeping) for a datagram
// shorter than kHeartbeatMinLength or without the "VWMP" magic.
bool parseHeartbeat(
    const uint8_t* data, size_t length, const uint8_t senderAddress[16], uint32_t senderScope, HeartbeatInfo* out);

// The owner of the heartbeat receiver (the document).
class HeartbeatSinkIF {
public:
    virtual ~HeartbeatSinkIF() = default;
    // On the receive thread; the record is discarded afterwards.
    virtual void onHeartbeat(const HeartbeatInfo& record) = 0;
    // The adapters whose ff02::1 group the receiver joins.
    virtual Ipv6AdapterList* adapterList() = 0;
};

class Heartbeat;

class UDPThread : public WgThread {
    Q_OBJECT
public:
    explicit UDPThread(Heartbeat* owner);
    void requestStop();

protected:
    void work() override;

private:
    // Reads what waits, up to the bound; false when the socket is gone.
    void drain(int socket);
    bool sleepUnlessStopped();

    Heartbeat* const m_owner;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stop = false;
};

class Heartbeat : public QObject {
    Q_OBJECT
public:
    // Starts the receive thread at once.
    explicit Heartbeat(HeartbeatSinkIF* sink, QObject* parent = nullptr);
    // Stops the receive thread and waits for it.
    ~Heartbeat() override;

    // What the receive thread has seen: useful to tests and the benchmark.
    struct Counts {
        std::atomic<uint64_t> handed{0}; // records given to the sink
        std::atomic<uint64_t> dropped{0}; // empty, short or foreign datagrams
        std::atomic<uint64_t> errors{0}; // receive errors other than "nothing waiting"
        std::atomic<uint32_t> joined{0}; // interfaces whose group was joined
        std::atomic<bool> bound{false};
    };
    const Counts& counts() const { return m_counts; }

private:
    friend class UDPThread;
    HeartbeatSinkIF* const m_sink;
    Counts m_counts;
    std::unique_ptr<UDPThread> m_thread;
};

} // namespace WG
