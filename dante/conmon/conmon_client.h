// The client of the PC's control-and-monitoring service: one UDP socket
// connected to the service, over which it connects, registers for and
// subscribes to device messages, sends control and monitoring messages,
// matches responses to requests by sequence number and opcode, and hands
// events to callbacks.
//
// Single-threaded: every call and every callback runs on the owner's
// thread. There is no event loop on this platform, so the owner adds the
// client's socket to its own set (conmon_client_get_sockets) and calls
// conmon_client_process_sockets when it is readable. The client never
// reconnects by itself: a service that goes away shows as NO_CONNECTION.
#pragma once

#include "dante/conmon/conmon_id.h"
#include "dante/conmon/conmon_message.h"
#include "dante/support/aud_error.h"
#include "dante/support/aud_fdset.h"
#include "dante/support/aud_inet.h"
#include "dante/support/aud_interface.h"

#include <cstddef>
#include <cstdint>

struct aud_env;
struct conmon_client;
// A pending request: valid until its completion callback returns or it is
// released.
struct conmon_client_request;

enum conmon_client_state : unsigned {
    CONMON_CLIENT_NO_CONNECTION = 0,
    CONMON_CLIENT_CONNECTING = 1,
    CONMON_CLIENT_CONNECTED = 2,
    CONMON_CLIENT_RECONNECT_PENDING = 3,
};

constexpr uint16_t CONMON_CLIENT_DEFAULT_PORT = 8900;
// control, status, broadcast, local, keepalive, monitoring
constexpr uint32_t CONMON_CLIENT_DEFAULT_CHANNELS = 0x015D;
constexpr unsigned CONMON_CLIENT_DEFAULT_SLOTS = 10;
constexpr size_t CONMON_CLIENT_SUBSCRIPTIONS = 96;

struct conmon_client_config {
    char name[CONMON_NAME_FIELD]; // at most 31 characters
    // Unset (len 0): 127.0.0.1 port 8900, resolved at connect. A zero port
    // becomes 8900.
    aud_sockaddr server;
    uint16_t protocol_version;
    uint32_t channel_mask; // bit n: channel type n
    // Settings of the channel layer for the types that would travel outside
    // the service; none of them is in this system's mask.
    uint16_t metering_port;
    uint32_t metering_address;
    uint32_t read_limit;
    bool keep_going;
};

// The defaults for a client name (INVALIDPARAMETER for null arguments or a
// name longer than 31 characters).
aud_error conmon_client_config_init(conmon_client_config* config, const char* name);

using conmon_client_response_fn = void (*)(conmon_client* client, conmon_client_request* request, aud_error result);
using conmon_client_changed_fn = void (*)(conmon_client* client);

// A record of the subscription table.
struct conmon_client_subscription {
    uint16_t flags; // 0: free; a new record starts with 0x27
    uint16_t channel_type;
    char device_name[CONMON_DEVICE_NAME_SIZE];
    uint16_t index;
    conmon_instance_id id;
    conmon_address_block addresses;
    uint16_t status;
    uint8_t byte50;
    uint8_t byte51;
};
constexpr uint16_t CONMON_SUBSCRIPTION_NEW = 0x27;
constexpr uint16_t CONMON_SUBSCRIPTION_ID_KNOWN = 0x08;
constexpr uint16_t CONMON_SUBSCRIPTION_ADDRESSES_KNOWN = 0x10;

using conmon_client_subscriptions_fn
    = void (*)(conmon_client* client, size_t count, const conmon_client_subscription* const* changed);
// Control messages from other devices.
using conmon_control_handler
    = void (*)(conmon_client* client, const conmon_envelope* envelope, const uint8_t* payload, size_t payload_length);
using conmon_monitoring_handler = void (*)(conmon_client* client, uint16_t channel_type, uint16_t from_other_devices,
    const conmon_envelope* envelope, const uint8_t* payload, size_t payload_length);

// ---- life

// A client with the default configuration for `name`.
aud_error conmon_client_new(aud_env* env, const char* name, conmon_client** out);
// INVALIDPARAMETER for missing arguments, NOMEMORY.
aud_error conmon_client_new_config(aud_env* env, const conmon_client_config* config, conmon_client** out);
// Disconnects (sending Disconnect) and frees; null is ignored.
void conmon_client_free(conmon_client* client);

// ---- setters (at once) and getters
void conmon_client_set_context(conmon_client* client, void* context);
void* conmon_client_context(const conmon_client* client);
void conmon_client_set_networks_changed_callback(conmon_client* client, conmon_client_changed_fn fn);
void conmon_client_set_device_name_changed_callback(conmon_client* client, conmon_client_changed_fn fn);
void conmon_client_set_dns_domain_changed_callback(conmon_client* client, conmon_client_changed_fn fn);
void conmon_client_set_sockets_changed_callback(conmon_client* client, conmon_client_changed_fn fn);
void conmon_client_set_subscriptions_changed_callback(conmon_client* client, conmon_client_subscriptions_fn fn);
// Ignored once the slot table exists (at the first connect); returns the
// count in force.
unsigned conmon_client_set_request_slots(conmon_client* client, unsigned count);

conmon_client_state conmon_client_get_state(const conmon_client* client);
// "NO_CONNECTION", "CONNECTING", "CONNECTED", "RECONNECT_PENDING", "???".
const char* conmon_client_state_name(unsigned state);
// The next three answer only while CONNECTED, else null.
const char* conmon_client_get_device_name(const conmon_client* client);
const char* conmon_client_get_dns_domain(const conmon_client* client);
const conmon_instance_id* conmon_client_get_local_id(const conmon_client* client);
const conmon_interfaces* conmon_client_get_interfaces(const conmon_client* client);
// The system interface that entry i resolved to (NOTFOUND when none).
aud_error conmon_client_get_resolved_interface(const conmon_client* client, size_t i, aud_interface* out);
bool conmon_client_is_subscribed(const conmon_client* client, uint16_t channel_type);
// The name of a device by identity: the local device, then the
// subscription table, then the named channel message being delivered;
// null when none knows it.
const char* conmon_client_get_sender_name(const conmon_client* client, const conmon_instance_id* id);
// Record i of the subscription table (null past the table).
const conmon_client_subscription* conmon_client_get_subscription(const conmon_client* client, size_t i);

// Adds the client's socket to the set (once); INVALIDSTATE without one.
aud_error conmon_client_get_sockets(const conmon_client* client, aud_fdset* set);

// ---- connection

// Connects; the callback completes the returned request. INVALIDSTATE
// unless NO_CONNECTION.
aud_error conmon_client_connect(conmon_client* client, conmon_client_response_fn callback, conmon_client_request** out);
// Sends Disconnect and closes, calling no callback.
void conmon_client_disconnect(conmon_client* client);
// Reads one datagram from the socket and handles it. An empty socket is
// SUCCESS. A refused or reset socket closes the client (NO_CONNECTION,
// sockets-changed called).
aud_error conmon_client_process_sockets(conmon_client* client);
// Handles one received datagram (validated first: INVALIDDATA when it
// fails).
aud_error process_message(conmon_client* client, const uint8_t* data, size_t length);
// Frees a pending request without its callback; the connect request closes
// the connection (with Disconnect).
void conmon_client_request_release(conmon_client* client, conmon_client_request* request);

// ---- requests. Each needs a connection (NOTCONN); with a callback or an
// out request it takes a slot (NOBUFS when none is free), else it is sent
// without awaiting a response.

aud_error conmon_client_register_control_messages(conmon_client* client, conmon_client_response_fn callback,
    conmon_client_request** out, conmon_control_handler handler);
// NOTINITIALISED when the type is not in the channel mask.
aud_error conmon_client_register_monitoring_messages(conmon_client* client, conmon_client_response_fn callback,
    conmon_client_request** out, uint16_t channel_type, bool from_other_devices, conmon_monitoring_handler handler);
aud_error conmon_client_subscribe_global(
    conmon_client* client, conmon_client_response_fn callback, conmon_client_request** out, uint16_t channel_type);
aud_error conmon_client_unsubscribe_global(
    conmon_client* client, conmon_client_response_fn callback, conmon_client_request** out, uint16_t channel_type);
// Payload above 1448 bytes: INVALIDPARAMETER; with the Audinate vendor id,
// below 8 bytes: MSGSIZE. vendor_id null: Audinate.
aud_error conmon_client_send_control_message(conmon_client* client, conmon_client_response_fn callback,
    conmon_client_request** out, const char* target_name, uint16_t message_word, const conmon_id64* vendor_id,
    const uint8_t* payload, size_t payload_length, const conmon_id64* target_id);
aud_error conmon_client_send_monitoring_message(conmon_client* client, conmon_client_response_fn callback,
    conmon_client_request** out, uint16_t channel_type, uint16_t message_word, const conmon_id64* vendor_id,
    const uint8_t* payload, size_t payload_length);

// Closes the connection: with the socket open, clears the interfaces, sends
// Disconnect when asked, closes the socket and calls sockets-changed when
// notifying; then frees every request without its callback and clears the
// subscriptions, names, interfaces and identity. NO_CONNECTION; the connect
// request's callback gets `error` when notifying.
void conmon_client_disconnect_helper(conmon_client* client, bool send_disconnect, aud_error error, bool notify);
