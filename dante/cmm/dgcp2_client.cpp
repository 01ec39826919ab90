#include "dante/cmm/dgcp2_client.h"

#include "dante/conmon/conmon_id.h"
#include "dante/support/aud_event_loop.h"
#include "dante/support/aud_log.h"

#include <cstring>
#include <vector>

struct dgcp2_request {
    dgcp2_client* owner = nullptr;
    unsigned index = 0;
    bool in_use = false;
    dgcp2_message message{};
};

struct dgcp2_client {
    aud_env* env = nullptr;
    bool event_loop = false;
    uint8_t header_type = DGCP2_HEADER_TYPE_2;
    bool connection_oriented = false;
    bool linger = false;
    aud_socket socket = AUD_SOCKET_INVALID;
    bool has_server = false;
    aud_sockaddr server{};
    uint8_t client_id[DGCP2_CLIENT_ID_SIZE]{};
    uint16_t client_port = 0;
    unsigned state = DGCP2_STATE_DISCONNECTED;
    uint16_t seqnum = 0;
    bool keepalives = false;
    aud_time send_interval{};
    aud_time receive_timeout{};
    aud_time last_send{};
    aud_time last_receive{};
    aud_time next_check{};
    dgcp2_message keepalive{};
    dgcp2_message received{};
    std::vector<std::unique_ptr<dgcp2_request>> slots;
    unsigned slots_in_use = 0;
    void* context = nullptr;
    dgcp2_client_event_fn handler = nullptr;
};

namespace {

// Datagrams read by one process call; the rest wait for the next call, so a
// flooding peer cannot hold the owner's task.
constexpr unsigned kMaxDatagramsPerProcess = 256;

// The PC's sleep window does not exist on this platform.
bool inSleepWindow(const dgcp2_client*)
{
    return false;
}

aud_log_state* dgcp2LogOf(const dgcp2_client* c)
{
    return aud_env_log(c->env);
}

aud_time now(const dgcp2_client* c)
{
    aud_time t{};
    aud_env_clock(c->env, &t);
    return t;
}

aud_time plus(aud_time t, const aud_time& d)
{
    aud_time_add(&t, &d);
    return t;
}

void notify(dgcp2_client* c, uint32_t flags, dgcp2_request* request, const dgcp2_message* msg, aud_error error)
{
    if (!c->handler)
        return;
    const dgcp2_client_event event{flags, request, msg, error};
    c->handler(c, &event);
}

void release(dgcp2_client* c, dgcp2_request* r)
{
    if (r && r->owner == c && r->in_use) {
        r->in_use = false;
        --c->slots_in_use;
    }
}

// A peer that refuses or resets the connected socket is gone: the client is
// disconnected at once rather than after the keepalive time-out.
bool peerGone(aud_error e)
{
    return e == AUD_CONNRESET || e == AUD_CONNREFUSED;
}

aud_error disconnectOnError(dgcp2_client* c, aud_error e)
{
    c->state = DGCP2_STATE_DISCONNECTED;
    notify(c, DGCP2_EVENT_STATE_CHANGED, nullptr, nullptr, e);
    return e;
}

aud_error checkOpcode(const dgcp2_client* c, uint16_t opcode)
{
    const bool connectOrDisconnect = opcode == DGCP2_OPCODE_CONNECT || opcode == DGCP2_OPCODE_DISCONNECT;
    if (!c->connection_oriented)
        return connectOrDisconnect ? AUD_INVALIDPARAMETER : AUD_SUCCESS;
    switch (c->state) {
    case DGCP2_STATE_DISCONNECTED:
        return opcode == DGCP2_OPCODE_CONNECT ? AUD_SUCCESS : AUD_INVALIDSTATE;
    case DGCP2_STATE_CONNECTING:
    case DGCP2_STATE_DISCONNECTING:
        return opcode == DGCP2_OPCODE_DISCONNECT ? AUD_SUCCESS : AUD_INVALIDSTATE;
    default:
        return opcode == DGCP2_OPCODE_CONNECT ? AUD_INVALIDSTATE : AUD_SUCCESS;
    }
}

dgcp2_request* slotFor(dgcp2_client* c, uint16_t seqnum)
{
    for (auto& r : c->slots)
        if (r->in_use && dgcp2_message_seqnum(&r->message) == seqnum)
            return r.get();
    return nullptr;
}

void handleResponse(dgcp2_client* c, dgcp2_request* r, const dgcp2_message* msg)
{
    const uint16_t opcode = dgcp2_message_opcode(&r->message);
    uint32_t flags = DGCP2_EVENT_RESPONSE;
    if (opcode == DGCP2_OPCODE_CONNECT || opcode == DGCP2_OPCODE_DISCONNECT) {
        if (opcode == DGCP2_OPCODE_CONNECT && c->state == DGCP2_STATE_CONNECTING) {
            c->state
                = dgcp2_message_status(msg) == DGCP2_STATUS_RESPONSE ? DGCP2_STATE_CONNECTED : DGCP2_STATE_DISCONNECTED;
            flags |= DGCP2_EVENT_STATE_CHANGED;
        } else if (opcode == DGCP2_OPCODE_DISCONNECT && c->state != DGCP2_STATE_DISCONNECTED) {
            c->state = DGCP2_STATE_DISCONNECTED;
            flags |= DGCP2_EVENT_STATE_CHANGED;
        }
        // The second call comes after the slot is free, so it carries the
        // response but no request: a handler may read the message either
        // time, and must not take the request for pending again.
        notify(c, flags, r, msg, AUD_SUCCESS);
        release(c, r);
        notify(c, flags, nullptr, msg, AUD_SUCCESS);
        return;
    }
    if (c->connection_oriented && c->state != DGCP2_STATE_CONNECTED)
        return; // kept in use; its owner drops it when the connection ends
    release(c, r);
    notify(c, flags, r, msg, AUD_SUCCESS);
}

void handleDatagram(dgcp2_client* c, const uint8_t* data, size_t size, const aud_sockaddr* from)
{
    aud_log_state* log = dgcp2LogOf(c);
    if (c->has_server && !aud_sockaddr_equal(from, &c->server)) {
        char server[AUD_SOCKADDR_TEXT_SIZE], source[AUD_SOCKADDR_TEXT_SIZE];
        aud_log(log, AUD_LOG_WARNING, "%s: not from server (server=%s address=%s)\n", __func__,
            aud_sockaddr_text(&c->server, server, sizeof server), aud_sockaddr_text(from, source, sizeof source));
        return;
    }
    dgcp2_message* msg = &c->received;
    const aud_error e = dgcp2_message_load(msg, c->header_type, data, size);
    if (e == AUD_TRUNCATED) {
        aud_log(log, AUD_LOG_WARNING, "%s: message too small (%u < %u)\n", __func__, unsigned(size),
            unsigned(msg->header_size));
        return;
    }
    if (e != AUD_SUCCESS) {
        aud_log(log, AUD_LOG_WARNING, "%s: invalid size in message (msg=%u, recved=%u)\n", __func__,
            unsigned(size >= 4 ? dgcp2_get_u16(data + 2) : 0), unsigned(size));
        return;
    }
    const uint16_t status = dgcp2_message_status(msg);
    const uint16_t seqnum = dgcp2_message_seqnum(msg);
    // "Not connected" comes from a server that no longer knows us: no sign of life.
    if (c->keepalives && status != DGCP2_STATUS_NOT_CONNECTED) {
        aud_log(log, AUD_LOG_DEBUG, "%s: Got a server message, updating keepalives...\n", __func__);
        c->last_receive = now(c);
    }
    if (status == DGCP2_STATUS_EVENT) {
        if (c->state == DGCP2_STATE_CONNECTED)
            notify(c, DGCP2_EVENT_MESSAGE, nullptr, msg, AUD_SUCCESS);
        return;
    }
    if (dgcp2_request* r = slotFor(c, seqnum)) {
        handleResponse(c, r, msg);
    } else if (c->keepalives && seqnum == dgcp2_message_seqnum(&c->keepalive)) {
        aud_log(log, AUD_LOG_DEBUG, "%s: Got a keepalive response\n", __func__);
    } else {
        aud_log(log, AUD_LOG_DEBUG,
            "%s: No active request for non-event message with seqnum 0x%04x: ignoring message\n", __func__,
            unsigned(seqnum));
    }
}

} // namespace

aud_error dgcp2_client_new(
    aud_env* env, bool use_event_loop, uint8_t header_type, unsigned request_slots, dgcp2_client** out)
{
    if (!env || !out || (header_type != DGCP2_HEADER_TYPE_1 && header_type != DGCP2_HEADER_TYPE_2))
        return AUD_INVALIDPARAMETER;
    if (use_event_loop && !aud_env_event_loop(env))
        return AUD_INVALIDPARAMETER;
    auto c = std::make_unique<dgcp2_client>();
    c->env = env;
    c->event_loop = use_event_loop;
    c->header_type = header_type;
    dgcp2_message_init(&c->keepalive, header_type);
    dgcp2_message_init(&c->received, header_type);
    if (request_slots) {
        auto r = std::make_unique<dgcp2_request>();
        r->owner = c.get();
        dgcp2_message_init(&r->message, header_type);
        c->slots.push_back(std::move(r));
    }
    *out = c.release();
    return AUD_SUCCESS;
}

void dgcp2_client_free(dgcp2_client* client)
{
    delete client;
}

aud_error dgcp2_client_initialise(dgcp2_client* client, const uint8_t* client_id, aud_socket s,
    bool connection_oriented, bool linger, const aud_sockaddr* server)
{
    if (!client || !aud_socket_valid(s))
        return AUD_INVALIDPARAMETER;
    if (client_id) {
        memcpy(client->client_id, client_id, DGCP2_CLIENT_ID_SIZE);
        client->client_port = 0;
    } else {
        aud_sockaddr local{};
        const aud_error e = aud_socket_local_address(s, &local);
        if (e != AUD_SUCCESS)
            return e;
        memset(client->client_id, 0, sizeof client->client_id);
        client->client_port = aud_sockaddr_port(&local);
    }
    client->socket = s;
    client->connection_oriented = connection_oriented;
    client->linger = linger;
    client->has_server = server != nullptr;
    client->server = server ? *server : aud_sockaddr{};
    for (auto& r : client->slots)
        dgcp2_message_set_client(&r->message, client->client_port, client->client_id);
    dgcp2_message_set_client(&client->keepalive, client->client_port, client->client_id);

    conmon_instance_id id{};
    memcpy(id.device_id.data, client->client_id, DGCP2_CLIENT_ID_SIZE);
    id.process_id = client->client_port;
    char text[CONMON_INSTANCE_ID_TEXT_SIZE];
    aud_log(dgcp2LogOf(client), AUD_LOG_INFO, "%s: Client id is now %s\n", __func__,
        conmon_instance_id_text(&id, text, sizeof text));
    return AUD_SUCCESS;
}

aud_error dgcp2_client_set_keepalives(
    dgcp2_client* client, uint16_t protocol, const aud_time* send_interval, const aud_time* receive_timeout)
{
    if (!client || !protocol || !send_interval || !receive_timeout)
        return AUD_INVALIDPARAMETER;
    client->keepalives = true;
    client->send_interval = *send_interval;
    client->receive_timeout = *receive_timeout;
    aud_time_normalise(&client->send_interval);
    aud_time_normalise(&client->receive_timeout);
    dgcp2_message_header_init(&client->keepalive, protocol, DGCP2_OPCODE_KEEPALIVE);
    dgcp2_message_set_client(&client->keepalive, client->client_port, client->client_id);
    client->last_send = client->last_receive = now(client);
    return AUD_SUCCESS;
}

aud_error dgcp2_client_request_take(dgcp2_client* client, dgcp2_request** out)
{
    if (!client || !out)
        return AUD_INVALIDPARAMETER;
    if (client->slots.empty())
        return AUD_NOTFOUND;
    for (auto& r : client->slots) {
        if (!r->in_use) {
            r->in_use = true;
            ++client->slots_in_use;
            *out = r.get();
            return AUD_SUCCESS;
        }
    }
    return AUD_NOBUFS;
}

void dgcp2_client_request_release(dgcp2_client* client, dgcp2_request* request)
{
    if (client)
        release(client, request);
}

dgcp2_message* dgcp2_request_message(dgcp2_request* request)
{
    return request ? &request->message : nullptr;
}

bool dgcp2_request_in_use(const dgcp2_request* request)
{
    return request && request->in_use;
}

aud_error dgcp2_client_send_message(dgcp2_client* client, dgcp2_message* msg)
{
    if (!client || !msg || !aud_socket_valid(client->socket))
        return AUD_INVALIDPARAMETER;
    const uint16_t seqnum = client->seqnum++;
    dgcp2_message_set_seqnum(msg, seqnum);
    size_t length = dgcp2_message_length(msg);
    aud_log(dgcp2LogOf(client), AUD_LOG_DEBUG, "%s: sending message (seqnum=0x%04x, opcode=0x%04x len=0x%04Ix)\n",
        __func__, unsigned(seqnum), unsigned(dgcp2_message_opcode(msg)), length);
    return client->has_server ? aud_socket_sendto(client->socket, msg->data, &length, &client->server)
                              : aud_socket_send(client->socket, msg->data, &length);
}

aud_error dgcp2_client_send_request(dgcp2_client* client, dgcp2_request* request)
{
    if (!client || !request || request->owner != client || !request->in_use)
        return AUD_INVALIDPARAMETER;
    const uint16_t opcode = dgcp2_message_opcode(&request->message);
    const aud_error allowed = checkOpcode(client, opcode);
    if (allowed != AUD_SUCCESS) {
        release(client, request);
        return allowed;
    }
    const aud_error e = dgcp2_client_send_message(client, &request->message);
    if (e != AUD_SUCCESS) {
        if (!peerGone(e) || client->state == DGCP2_STATE_DISCONNECTED)
            return e;
        if (opcode == DGCP2_OPCODE_DISCONNECT) {
            release(client, request);
            disconnectOnError(client, AUD_SUCCESS);
            return AUD_SUCCESS;
        }
        return disconnectOnError(client, e);
    }
    if (opcode == DGCP2_OPCODE_CONNECT && client->connection_oriented) {
        client->state = DGCP2_STATE_CONNECTING;
        notify(client, DGCP2_EVENT_STATE_CHANGED, request, nullptr, AUD_SUCCESS);
    } else if (opcode == DGCP2_OPCODE_DISCONNECT && client->connection_oriented) {
        if (client->linger) {
            client->state = DGCP2_STATE_DISCONNECTING;
        } else {
            release(client, request);
            client->state = DGCP2_STATE_DISCONNECTED;
        }
        notify(client, DGCP2_EVENT_STATE_CHANGED, request, nullptr, AUD_SUCCESS);
    }
    if (client->keepalives)
        client->last_send = now(client);
    return AUD_SUCCESS;
}

aud_error dgcp2_client_process(dgcp2_client* client, aud_time* next)
{
    if (next)
        *next = aud_time{};
    if (!client || !aud_socket_valid(client->socket))
        return AUD_INVALIDPARAMETER;
    aud_log_state* log = dgcp2LogOf(client);
    uint8_t buffer[DGCP2_MESSAGE_SIZE];
    for (unsigned n = 0; n < kMaxDatagramsPerProcess; ++n) {
        size_t size = sizeof buffer;
        aud_sockaddr from{};
        const aud_error e = client->has_server ? aud_socket_recvfrom(client->socket, buffer, &size, &from)
                                               : aud_socket_recv(client->socket, buffer, &size);
        if (e == AUD_TIMEDOUT) {
            aud_log(log, AUD_LOG_VERBOSE, "%s: timed out\n", __func__);
            if (client->keepalives && !client->event_loop && client->state == DGCP2_STATE_CONNECTED)
                return dgcp2_client_check_keepalives(client, next);
            return AUD_SUCCESS;
        }
        if (peerGone(e)) {
            aud_log(log, AUD_LOG_WARNING, "%s: error recving (%s): disconnecting\n", __func__, aud_error_name(e));
            return disconnectOnError(client, e);
        }
        if (e != AUD_SUCCESS) {
            char text[AUD_STRERROR_SIZE];
            aud_log(log, AUD_LOG_ERROR, "%s: error recving: %s\n", __func__, aud_strerror(e, text));
            return e;
        }
        handleDatagram(client, buffer, size, &from);
    }
    return AUD_SUCCESS;
}

aud_error dgcp2_client_check_keepalives(dgcp2_client* client, aud_time* next)
{
    if (!client)
        return AUD_INVALIDPARAMETER;
    if (!client->keepalives || inSleepWindow(client))
        return AUD_SUCCESS;
    const aud_time t = now(client);
    const aud_time lostAt = plus(client->last_receive, client->receive_timeout);
    if (aud_time_cmp(&t, &lostAt) >= 0) {
        aud_log(dgcp2LogOf(client), AUD_LOG_WARNING, "%s: server has disappeared, disconnecting!\n", __func__);
        client->state = DGCP2_STATE_DISCONNECTED;
        notify(client, DGCP2_EVENT_STATE_CHANGED | DGCP2_EVENT_CONNECTION_LOST, nullptr, nullptr, AUD_TIMEDOUT);
        return AUD_SUCCESS;
    }
    aud_error result = AUD_SUCCESS;
    aud_time sendAt = plus(client->last_send, client->send_interval);
    if (aud_time_cmp(&t, &sendAt) >= 0) {
        aud_log(dgcp2LogOf(client), AUD_LOG_DEBUG,
            "%s: keepalive interval has expired, sending keepalive (seqnum=0x%04x)!\n", __func__,
            unsigned(client->seqnum));
        client->last_send = t;
        sendAt = plus(t, client->send_interval);
        result = dgcp2_client_send_message(client, &client->keepalive);
        if (peerGone(result))
            return disconnectOnError(client, result);
    }
    client->next_check = aud_time_cmp(&lostAt, &sendAt) < 0 ? lostAt : sendAt;
    if (next)
        *next = client->next_check;
    return result;
}

void dgcp2_client_terminate(dgcp2_client* client)
{
    if (!client)
        return;
    client->socket = AUD_SOCKET_INVALID;
    client->seqnum = 0;
    client->state = DGCP2_STATE_DISCONNECTED;
    for (auto& r : client->slots)
        release(client, r.get());
}

void dgcp2_client_set_context(dgcp2_client* client, void* context)
{
    if (client)
        client->context = context;
}

void* dgcp2_client_context(const dgcp2_client* client)
{
    return client ? client->context : nullptr;
}

void dgcp2_client_set_handler(dgcp2_client* client, dgcp2_client_event_fn handler)
{
    if (client)
        client->handler = handler;
}

dgcp2_client_event_fn dgcp2_client_handler(const dgcp2_client* client)
{
    return client ? client->handler : nullptr;
}

unsigned dgcp2_client_state(const dgcp2_client* client)
{
    return client ? client->state : DGCP2_STATE_DISCONNECTED;
}

aud_socket dgcp2_client_socket(const dgcp2_client* client)
{
    return client ? client->socket : AUD_SOCKET_INVALID;
}

uint16_t dgcp2_client_next_seqnum(const dgcp2_client* client)
{
    return client ? client->seqnum : 0;
}
