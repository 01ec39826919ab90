// JSDP discovery engine: finds units on the network and tells subscribers
// when a unit is first heard, changes or goes silent.
//
// The engine runs on its own OS-wrapper task ("JSDPSVC"), owns up to two UDP
// channels on the socket service, sends its own packet on each channel,
// receives the packets of other hosts, keeps a table of the services heard,
// ages them and calls the subscribers with the main lock ("JSDPMAIN") held.
// The payload of a packet is opaque to the engine.
//
// Typical use:
//
//     jsdp_startService();               // once; needs oswrap_init, vsock_init
//     jsdp_subscribe(onService, this);   // any thread
//     JsdpChannelConfig ch = ...;        // mode, own MAC and address, port...
//     jsdp_open(&ch, 1);
//     ...
//     jsdp_unsubscribe(onService, this); // no call after this returns
//     jsdp_close();
#pragma once

#include "pbd/OSWRAP/oswrap.h"
#include "pbd/vsock/vsock.h"

#include <cstddef>
#include <cstdint>

using JsdpResult = int32_t;

constexpr JsdpResult JSDP_OK = 0;
constexpr JsdpResult JSDP_E_START = static_cast<JsdpResult>(0x80000001u); // task can't be made or started
constexpr JsdpResult JSDP_E_PARAM = static_cast<JsdpResult>(0x80000002u); // bad arguments
constexpr JsdpResult JSDP_E_BUSY = static_cast<JsdpResult>(0x80000003u); // already closed or closing
constexpr JsdpResult JSDP_E_NOINIT = static_cast<JsdpResult>(0x80000004u); // engine not set up
constexpr JsdpResult JSDP_E_STATE = static_cast<JsdpResult>(0x80000005u); // wrong state or key taken
constexpr JsdpResult JSDP_E_MALFORMED = static_cast<JsdpResult>(0x80000006u); // malformed packet
constexpr JsdpResult JSDP_E_FULL = static_cast<JsdpResult>(0x80000007u); // table full or buffer too small
constexpr JsdpResult JSDP_E_SOCKET = static_cast<JsdpResult>(0x80000008u); // socket failure

// Values the device link uses.
constexpr uint16_t JSDP_DEFAULT_PORT = 54330;
constexpr const char* JSDP_DEFAULT_GROUP = "239.192.0.64";
constexpr const char* JSDP_SERVICE_TYPE_SCP = "_jpa-scp";

// Wire format.
constexpr size_t JSDP_HEADER_SIZE = 33; // every fixed field, with both length fields
constexpr size_t JSDP_MIN_PACKET = 34; // shortest packet accepted
constexpr size_t JSDP_MAX_SERVICE_TYPE = 255;
constexpr size_t JSDP_MAX_PAYLOAD = 1024;
constexpr size_t JSDP_MAX_PACKET = JSDP_HEADER_SIZE + JSDP_MAX_SERVICE_TYPE + JSDP_MAX_PAYLOAD; // 1312
constexpr size_t JSDP_BUFFER_SIZE = 1480; // own-packet and receive buffers
constexpr uint8_t JSDP_FLAG_RESPONDER = 0x80;
constexpr uint8_t JSDP_ADDRESS_KIND_IPV4 = 4;
constexpr uint8_t JSDP_ADDRESS_KIND_IPV6 = 6;

// Table sizes.
constexpr int JSDP_MAX_CHANNELS = 2;
constexpr int JSDP_MAX_SERVICES = 128;
constexpr int JSDP_MAX_SUBSCRIBERS = 5;

// Default periods (ms).
constexpr uint32_t JSDP_AGEING_MS = 6000;
constexpr uint32_t JSDP_TICK_MS = 100;

// Engine states.
constexpr int JSDP_STATE_NOINIT = 0;
constexpr int JSDP_STATE_READY = 1;
constexpr int JSDP_STATE_OPENING = 2;
constexpr int JSDP_STATE_CLOSING = 3;
constexpr int JSDP_STATE_RUNNING = 4;

// One channel, filled by the caller of jsdp_open. The texts and bytes
// pointed to are copied into the channel's own packet at open.
struct JsdpChannelConfig {
    uint8_t mode = 0; // non-zero announcer, 0 responder
    uint8_t ownMac[6] = {}; // hardware address sent in the packets
    uint8_t addressKind = JSDP_ADDRESS_KIND_IPV4;
    VSockAddress ownAddress = {}; // bound and announced address
    VSockAddress netmask = {}; // for the subnet broadcast
    uint16_t port = 0;
    VSockAddress group = {}; // the empty address: the channel has no group
    uint8_t serviceTypeLength = 0;
    const char* serviceType = nullptr;
    uint32_t periodMs = 0; // announcement period; non-zero for an announcer
    uint16_t payloadLength = 0;
    const uint8_t* payload = nullptr;
};

// A service heard on the network, as handed to subscribers.
struct JsdpService {
    uint8_t tag[4];
    uint8_t flags;
    uint8_t addressKind;
    VSockAddress announcedAddress; // family 6 for kind 6, else family 4
    uint8_t mac[6];
    uint8_t serviceTypeLength;
    char serviceType[JSDP_MAX_SERVICE_TYPE];
    uint16_t payloadLength;
    uint8_t payload[JSDP_MAX_PAYLOAD];
    VSockAddress localAddress; // address of the channel that heard it
    VSockAddress senderAddress; // where the datagram came from
    OswrapTimer ageing;
    uint8_t changed; // subscribers not yet told of the last change
    uint8_t alive; // 1 while heard, 0 once it went silent
    uint8_t inUse; // the slot holds a service, alive or gone
};

// Called on the engine's task with the main lock held: alive 1 for a new or
// changed service, 0 for one gone silent. The record is valid only during
// the call. A callback may call jsdp_unsubscribe, jsdp_getState and
// jsdp_getStats; jsdp_open, jsdp_close and jsdp_subscribe are refused there
// with JSDP_E_STATE.
using JsdpCallback = void (*)(const JsdpService* service, int alive, void* context);

// Creates and starts the task "JSDPSVC"; 0 also when it already runs.
JsdpResult jsdp_startService();
// Stops the task (waits up to 5000 ms) and deletes it. Closes no socket: a
// later jsdp_startService carries on with the same channels.
JsdpResult jsdp_stopService();

// Opens `count` (0 to 2) channels. JSDP_E_NOINIT before the task has set the
// engine up, JSDP_E_STATE unless the engine is ready (closed), JSDP_E_PARAM
// for bad records (announcer without period, payload over 1024 bytes, own
// address not IPv4).
JsdpResult jsdp_open(const JsdpChannelConfig* channels, int count);
// Disables the channels; the task closes the sockets and forgets every
// service (without reporting them gone), then the engine is ready again.
JsdpResult jsdp_close();

// Registers a callback from any thread. It is called at once, on the
// calling thread, for every alive service. An OS-wrapper task subscribes
// once (a second time gives JSDP_E_STATE); no thread may register the same
// callback and context twice (JSDP_E_STATE); a sixth subscription gives
// JSDP_E_FULL.
JsdpResult jsdp_subscribe(JsdpCallback callback, void* context);
// Removes the subscription with this callback and context; once it returns,
// the callback is not called again. JSDP_E_PARAM when none matches.
JsdpResult jsdp_unsubscribe(JsdpCallback callback, void* context);

int jsdp_getState();

// Counters since the engine was set up.
struct JsdpStats {
    uint32_t received; // datagrams that arrived on the sockets, oversize ones included
    uint32_t accepted; // valid packets merged or refused for a full table
    uint32_t malformed; // datagrams that are no valid packet
    uint32_t oversize; // datagrams dropped for being larger than the receive buffer
    uint32_t own; // our own packets heard back
    uint32_t tableFull; // valid packets ignored because all records were taken
    uint32_t sent; // packets sent
    uint32_t replies; // responder replies queued
};
void jsdp_getStats(JsdpStats* stats);

// Test seam: the time after which a silent service is reported gone
// (0 restores JSDP_AGEING_MS).
void jsdp_setAgeingTime(uint32_t ms);

// Packet codec, used by the engine and usable on its own.
// Builds the packet of a channel into `buffer` (flags 0x80 for a responder,
// 0 for an announcer); JSDP_E_PARAM for a payload over 1024 bytes or missing
// text or bytes, JSDP_E_FULL when the buffer is too small.
JsdpResult jsdp_buildPacket(const JsdpChannelConfig* channel, uint8_t* buffer, size_t size, size_t* length);
// Parses a received datagram into the packet fields of *service (the
// addresses, timer and state bytes are left alone); JSDP_E_MALFORMED when
// it is no valid packet.
JsdpResult jsdp_parsePacket(const uint8_t* data, size_t length, JsdpService* service);
