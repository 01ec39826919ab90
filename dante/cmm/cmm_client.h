// Client of the PC's Dante configuration manager: DGCP2 with the 20-byte
// header and protocol word 0x1001 over a UDP socket connected to 127.0.0.1
// on the server port (8850 unless set). Learns the manager's version, the
// interfaces it offers (options) and the system state, and sets which
// interfaces Dante uses and whether this process holds the interface lock.
//
// Single-threaded, on the owner's task: the owner waits on
// cmm_client_socket() until the next check time and calls
// cmm_client_process. At most one request (connect, disconnect or set
// config) is pending at a time.
//
// The event callback gets the change bits below and a result: the DGCP2
// error when there is one (a refused or reset socket, TIMEDOUT for a silent
// manager), else the completed request's result from its response status.
#pragma once

#include "dante/cmm/cmm_types.h"
#include "dante/cmm/dgcp2_client.h"
#include "dante/support/aud_env.h"
#include "dante/support/aud_socket.h"
#include "dante/support/aud_time.h"

#include <cstdint>
#include <memory>

struct cmm_client;

constexpr uint16_t CMM_DEFAULT_SERVER_PORT = 8850;

// Connection states.
constexpr unsigned CMM_CONNECTION_DISCONNECTED = 0;
constexpr unsigned CMM_CONNECTION_CONNECTING = 1;
constexpr unsigned CMM_CONNECTION_CONNECTED = 2;

// Change bits of the event callback.
constexpr uint32_t CMM_CHANGE_REQUEST_COMPLETED = 0x01;
constexpr uint32_t CMM_CHANGE_CONNECTION = 0x02;
constexpr uint32_t CMM_CHANGE_LOCK = 0x04;
constexpr uint32_t CMM_CHANGE_OPTIONS = 0x08;
constexpr uint32_t CMM_CHANGE_STATE = 0x10;

using cmm_client_event_fn = void (*)(cmm_client* client, uint32_t changes, aud_error result);

// A client with its DGCP2 client (type 2, one request slot). INVALIDPARAMETER
// on a null env or out.
aud_error cmm_client_new(aud_env* env, cmm_client** out);
// Terminates when needed and frees; null is ignored.
void cmm_client_free(cmm_client* client);

struct cmm_client_deleter {
    void operator()(cmm_client* client) const { cmm_client_free(client); }
};
using cmm_client_ptr = std::unique_ptr<cmm_client, cmm_client_deleter>;

// The manager's port (0: 8850); used by the next cmm_client_init.
void cmm_client_set_server_port(cmm_client* client, uint16_t port);
uint16_t cmm_client_server_port(const cmm_client* client);

// Opens the socket, sets up the DGCP2 client (connection-oriented, no
// linger, keepalives every 10 s, manager lost after 31 s of silence) and
// records this process's entry. INVALIDPARAMETER for a null name or one of
// more than 63 bytes, INVALIDSTATE when already initialised; socket and
// DGCP2 errors as they come.
aud_error cmm_client_init(cmm_client* client, const char* process_name);
// Closes the socket and forgets the pending request and the records.
void cmm_client_terminate(cmm_client* client);

// INVALIDSTATE while a request is pending or when not initialised.
aud_error cmm_client_connect(cmm_client* client);
// When not disconnected: drops the pending request and sends a disconnect.
aud_error cmm_client_disconnect(cmm_client* client);
// INVALIDSTATE while a request is pending or when not connected;
// INVALIDPARAMETER for a null config or a set of more than 2.
aud_error cmm_client_set_system_config(cmm_client* client, const cmm_system_config* config);
// Receives and handles what the manager sent; *next as dgcp2_client_process.
aud_error cmm_client_process(cmm_client* client, aud_time* next);

// The DGCP2 handler the client installs.
void cmm_client_on_event(dgcp2_client* dgcp2, const dgcp2_client_event* event);

void cmm_client_set_context(cmm_client* client, void* context);
void* cmm_client_context(const cmm_client* client);
void cmm_client_set_event_callback(cmm_client* client, cmm_client_event_fn callback);

unsigned cmm_client_connection_state(const cmm_client* client);
const cmm_process* cmm_client_process_entry(const cmm_client* client);
aud_socket cmm_client_socket(const cmm_client* client);
dgcp2_client* cmm_client_dgcp2(cmm_client* client);
bool cmm_client_request_pending(const cmm_client* client);
// Null until known.
const cmm_server_info* cmm_client_server_info(const cmm_client* client);
const cmm_options* cmm_client_options(const cmm_client* client);
const cmm_system_state* cmm_client_system_state(const cmm_client* client);
// The current configuration while the known status is nonzero, the pending
// one while it is 2 "Changing"; null otherwise.
const cmm_interface_set* cmm_client_current_config(const cmm_client* client);
const cmm_interface_set* cmm_client_pending_config(const cmm_client* client);
// The name of the known system status ("Unknown" while none is known).
const char* cmm_client_status_name(const cmm_client* client);

// The interface set the owner assembles for its next request.
cmm_interface_set* cmm_client_interface_set(cmm_client* client);
void cmm_client_interface_set_clear(cmm_client* client);
// Adds the options entry with this MAC: INVALIDPARAMETER when the set holds 2
// already, INVALIDDATA when no option has it.
aud_error cmm_client_interface_set_add_mac(cmm_client* client, const uint8_t mac[CMM_MAC_SIZE]);
const cmm_interface* cmm_client_find_option_mac(const cmm_client* client, const uint8_t mac[CMM_MAC_SIZE]);
const cmm_interface* cmm_client_find_option_name(const cmm_client* client, const char16_t* name);
