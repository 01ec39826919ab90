// DGCP2 request/response client over one datagram socket: numbers requests,
// matches responses to the pending request by sequence number, tracks the
// connect/disconnect state with the server, sends keepalives and declares the
// server lost when it stays silent, and hands every state change, response
// and event to one handler.
//
// Single-threaded: every call and the handler run on the owner's task. The
// owner waits on the socket and calls dgcp2_client_process when it is
// readable or when the next check time has come. There is no event loop on
// this platform, so keepalives run from dgcp2_client_process.
#pragma once

#include "dante/cmm/dgcp2_message.h"
#include "dante/support/aud_env.h"
#include "dante/support/aud_inet.h"
#include "dante/support/aud_socket.h"
#include "dante/support/aud_time.h"

#include <cstdint>
#include <memory>

struct dgcp2_client;
struct dgcp2_request;

// Connection states.
constexpr unsigned DGCP2_STATE_DISCONNECTED = 0;
constexpr unsigned DGCP2_STATE_CONNECTING = 1;
constexpr unsigned DGCP2_STATE_CONNECTED = 2;
constexpr unsigned DGCP2_STATE_DISCONNECTING = 3;

// Flags of an event.
constexpr uint32_t DGCP2_EVENT_STATE_CHANGED = 0x01;
constexpr uint32_t DGCP2_EVENT_CONNECTION_LOST = 0x02;
constexpr uint32_t DGCP2_EVENT_RESPONSE = 0x04;
constexpr uint32_t DGCP2_EVENT_MESSAGE = 0x08;

struct dgcp2_client_event {
    uint32_t flags;
    // The request a response or state change belongs to, or null.
    dgcp2_request* request;
    // The message received, or null. Valid during the call only.
    const dgcp2_message* message;
    aud_error error;
};

using dgcp2_client_event_fn = void (*)(dgcp2_client* client, const dgcp2_client_event* event);

// A client for `header_type` (1 or 2) with `request_slots` request slots (0
// or 1: a nonzero count gives one). Asking for the event loop when the
// environment has none is refused (INVALIDPARAMETER), as are a null env or
// out and a bad type.
aud_error dgcp2_client_new(
    aud_env* env, bool use_event_loop, uint8_t header_type, unsigned request_slots, dgcp2_client** out);
// Frees the client (null is ignored); terminate first.
void dgcp2_client_free(dgcp2_client* client);

struct dgcp2_client_deleter {
    void operator()(dgcp2_client* client) const { dgcp2_client_free(client); }
};
using dgcp2_client_ptr = std::unique_ptr<dgcp2_client, dgcp2_client_deleter>;

// Takes the socket (which stays the owner's), the client id (null: 8 zero
// bytes and the socket's local port), whether the protocol is
// connection-oriented, whether a disconnect lingers in state 3 until its
// response, and an optional server address (datagrams then go out with
// sendto and any other source is dropped). INVALIDPARAMETER for the invalid
// socket.
aud_error dgcp2_client_initialise(dgcp2_client* client, const uint8_t* client_id, aud_socket s,
    bool connection_oriented, bool linger, const aud_sockaddr* server);

// Turns keepalives on: protocol word (nonzero), send interval and receive
// timeout (both given); INVALIDPARAMETER otherwise.
aud_error dgcp2_client_set_keepalives(
    dgcp2_client* client, uint16_t protocol, const aud_time* send_interval, const aud_time* receive_timeout);

// The request slot: NOBUFS when every slot is in use, NOTFOUND when the
// client has none. Fill dgcp2_request_message (dgcp2_message_header_init,
// then elements), send it, and release it when done with it.
aud_error dgcp2_client_request_take(dgcp2_client* client, dgcp2_request** out);
void dgcp2_client_request_release(dgcp2_client* client, dgcp2_request* request);
dgcp2_message* dgcp2_request_message(dgcp2_request* request);
bool dgcp2_request_in_use(const dgcp2_request* request);

// Sends a request after checking its opcode against the state (a
// connection-oriented client: state 0 only connect, states 1 and 3 only
// disconnect, state 2 anything but connect; a refusal is INVALIDSTATE and
// releases the slot; a client that is not connection-oriented refuses
// connect and disconnect with INVALIDPARAMETER). A connect moves to state 1,
// a disconnect to state 3 (lingering) or 0 (slot released), each with a
// state-changed event. A refused or reset peer (CONNREFUSED, CONNRESET) while
// the client is not disconnected moves it to state 0 with a state-changed
// event; that is success for a disconnect and the error for anything else.
aud_error dgcp2_client_send_request(dgcp2_client* client, dgcp2_request* request);

// Writes the next sequence number into the message and sends it.
aud_error dgcp2_client_send_message(dgcp2_client* client, dgcp2_message* msg);

// Reads every datagram waiting on the socket (at most a bounded number per
// call) and hands them on. When the socket is empty, keepalives are checked
// in state 2 and *next (may be null) gets the next check time; it holds
// {0, 0} when there is none. A refused or reset peer moves to state 0 with a
// state-changed event carrying the error, which is also returned.
aud_error dgcp2_client_process(dgcp2_client* client, aud_time* next);

// Declares the server lost when it stayed silent for the receive timeout
// (state 0, event state changed + connection lost, TIMEDOUT), else sends a
// keepalive when the send interval has passed. *next (may be null) gets the
// earlier of the two deadlines.
aud_error dgcp2_client_check_keepalives(dgcp2_client* client, aud_time* next = nullptr);

// Forgets the socket (the owner closes it) and resets the sequence counter
// and the state.
void dgcp2_client_terminate(dgcp2_client* client);

void dgcp2_client_set_context(dgcp2_client* client, void* context);
void* dgcp2_client_context(const dgcp2_client* client);
void dgcp2_client_set_handler(dgcp2_client* client, dgcp2_client_event_fn handler);
dgcp2_client_event_fn dgcp2_client_handler(const dgcp2_client* client);
unsigned dgcp2_client_state(const dgcp2_client* client);
aud_socket dgcp2_client_socket(const dgcp2_client* client);
// The sequence number the next send uses.
uint16_t dgcp2_client_next_seqnum(const dgcp2_client* client);
