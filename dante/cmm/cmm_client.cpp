#include "dante/cmm/cmm_client.h"

#include "dante/cmm/cmm_body.h"
#include "dante/cmm/cmm_dump.h"
#include "dante/support/aud_inet.h"
#include "dante/support/aud_log.h"
#include "dante/support/aud_platform.h"
#include "dante/support/aud_string.h"

#include <arpa/inet.h>
#include <cstring>

struct cmm_client {
    aud_env* env = nullptr;
    uint16_t server_port = 0;
    aud_socket socket = AUD_SOCKET_INVALID;
    dgcp2_client_ptr dgcp2;
    void* context = nullptr;
    dgcp2_request* pending = nullptr;
    unsigned connection = CMM_CONNECTION_DISCONNECTED;
    cmm_process self{};
    bool has_info = false;
    bool has_options = false;
    bool has_state = false;
    cmm_server_info info{};
    cmm_options options{};
    cmm_system_state state{};
    cmm_interface_set assembling{};
    cmm_client_event_fn callback = nullptr;
};

namespace {

constexpr unsigned kDumpLevel = AUD_LOG_INFO;
constexpr aud_time kKeepaliveInterval{10, 0};
constexpr aud_time kKeepaliveTimeout{31, 0};

aud_log_state* logOf(const cmm_client* c)
{
    return aud_env_log(c->env);
}

// Dropping a request also gives its slot back: the client has one slot, so a
// later disconnect needs it, and a late answer to a dropped request must find
// no slot in use.
bool dropPending(cmm_client* c)
{
    if (!c->pending)
        return false;
    dgcp2_client_request_release(c->dgcp2.get(), c->pending);
    c->pending = nullptr;
    return true;
}

uint32_t _cmm_client_set_connection_state(cmm_client* c, unsigned state)
{
    if (c->connection == state)
        return 0;
    aud_log(logOf(c), AUD_LOG_NOTICE, "%s: state is now %u (was %u)\n", __func__, state, c->connection);
    c->connection = state;
    return CMM_CHANGE_CONNECTION;
}

// Everything learnt from the manager is void once the connection is gone.
uint32_t forgetConnection(cmm_client* c)
{
    uint32_t changes = dropPending(c) ? CMM_CHANGE_REQUEST_COMPLETED : 0;
    c->has_info = false;
    c->info = cmm_server_info{};
    if (c->has_options)
        changes |= CMM_CHANGE_OPTIONS;
    c->has_options = false;
    c->options = cmm_options{};
    if (c->has_state)
        changes |= CMM_CHANGE_STATE;
    c->has_state = false;
    c->state = cmm_system_state{};
    if (c->self.lock) {
        c->self.lock = 0;
        changes |= CMM_CHANGE_LOCK;
    }
    return changes | _cmm_client_set_connection_state(c, CMM_CONNECTION_DISCONNECTED);
}

uint32_t keepOptions(cmm_client* c, const cmm_options& options)
{
    const bool changed = !c->has_options || !cmm_options_equal(&c->options, &options);
    c->options = options;
    c->has_options = true;
    return changed ? CMM_CHANGE_OPTIONS : 0;
}

uint32_t keepState(cmm_client* c, const cmm_system_state& state)
{
    uint32_t changes = !c->has_state || !cmm_system_state_equal(&c->state, &state) ? CMM_CHANGE_STATE : 0;
    c->state = state;
    c->has_state = true;
    // A list without this process says nothing about its lock.
    if (const cmm_process* own = cmm_system_state_find_process(&state, c->self.process_id)) {
        const uint32_t lock = own->lock ? 1 : 0;
        if (lock != c->self.lock)
            changes |= CMM_CHANGE_LOCK;
        c->self.lock = lock;
    }
    return changes;
}

void readServerInfo(cmm_client* c, const dgcp2_message* msg)
{
    cmm_server_info info{};
    const aud_error e = cmm_read_server_info(msg, &info);
    if (e != AUD_SUCCESS) {
        char text[AUD_STRERROR_SIZE];
        aud_log(
            logOf(c), AUD_LOG_WARNING, "%s: Error reading server information: %s\n", __func__, aud_strerror(e, text));
        return;
    }
    c->info = info;
    c->has_info = true;
}

uint32_t readState(cmm_client* c, const dgcp2_message* msg, const char* heading)
{
    cmm_system_state state{};
    const aud_error e = cmm_read_state(msg, &state);
    if (e != AUD_SUCCESS) {
        char text[AUD_STRERROR_SIZE];
        aud_log(logOf(c), AUD_LOG_WARNING, "%s: Error reading state: %s\n", __func__, aud_strerror(e, text));
        return 0; // the last good state stays
    }
    aud_log(logOf(c), kDumpLevel, heading, __func__);
    cmm_dump_state(logOf(c), kDumpLevel, "  ", &state);
    return keepState(c, state);
}

uint32_t onStateChanged(cmm_client* c, unsigned dgcp2State, const dgcp2_message* msg)
{
    switch (dgcp2State) {
    case DGCP2_STATE_CONNECTING:
        return _cmm_client_set_connection_state(c, CMM_CONNECTION_CONNECTING);
    case DGCP2_STATE_CONNECTED:
        // Both handler calls of a connect response carry it; reading it twice changes nothing.
        if (msg)
            readServerInfo(c, msg);
        return _cmm_client_set_connection_state(c, CMM_CONNECTION_CONNECTED);
    default:
        return forgetConnection(c);
    }
}

uint32_t onResponse(cmm_client* c, const dgcp2_client_event* event, bool wasPending, aud_error* result)
{
    uint32_t changes = 0;
    dgcp2_message* request = dgcp2_request_message(event->request);
    if (request && dgcp2_message_opcode(request) == CMM_OPCODE_SET_CONFIG) {
        if (!event->message) {
            aud_log(logOf(c), AUD_LOG_WARNING, "%s: SET_CONFIG failed: no response\n", __func__);
        } else {
            const uint16_t status = dgcp2_message_status(event->message);
            if (status != DGCP2_STATUS_RESPONSE)
                aud_log(logOf(c), AUD_LOG_WARNING, "%s: SET_CONFIG response status=%s\n", __func__,
                    cmm_message_status_name(status));
            changes |= readState(c, event->message, "%s: SET_CONFIG: state is now:\n");
        }
    }
    if (wasPending) {
        if (c->pending == event->request)
            c->pending = nullptr;
        changes |= CMM_CHANGE_REQUEST_COMPLETED;
        *result = event->message ? cmm_status_result(dgcp2_message_status(event->message)) : AUD_SYSTEM;
    }
    return changes;
}

uint32_t onMessage(cmm_client* c, const dgcp2_message* msg)
{
    const uint16_t opcode = dgcp2_message_opcode(msg);
    if (opcode == CMM_OPCODE_OPTIONS) {
        cmm_options options{};
        const aud_error e = cmm_read_options(msg, &options);
        if (e != AUD_SUCCESS) {
            char text[AUD_STRERROR_SIZE];
            aud_log(logOf(c), AUD_LOG_WARNING, "%s: Error reading options: %s\n", __func__, aud_strerror(e, text));
            return 0;
        }
        aud_log(logOf(c), kDumpLevel, "%s: options are:", __func__);
        cmm_dump_options(logOf(c), kDumpLevel, "  ", &options);
        return keepOptions(c, options);
    }
    if (opcode == CMM_OPCODE_STATE)
        return readState(c, msg, "%s: state is:");
    return 0;
}

aud_error sendRequest(cmm_client* c, dgcp2_request* r)
{
    const aud_error e = dgcp2_client_send_request(c->dgcp2.get(), r);
    if (e != AUD_SUCCESS)
        dgcp2_client_request_release(c->dgcp2.get(), r);
    return e;
}

// Takes the slot and starts a request of this opcode.
aud_error startRequest(cmm_client* c, uint16_t opcode, dgcp2_request** out)
{
    const aud_error e = dgcp2_client_request_take(c->dgcp2.get(), out);
    if (e == AUD_SUCCESS)
        dgcp2_message_header_init(dgcp2_request_message(*out), CMM_PROTOCOL, opcode);
    return e;
}

} // namespace

aud_error cmm_client_new(aud_env* env, cmm_client** out)
{
    if (!env || !out)
        return AUD_INVALIDPARAMETER;
    auto c = std::make_unique<cmm_client>();
    c->env = env;
    dgcp2_client* dgcp2 = nullptr;
    const aud_error e = dgcp2_client_new(env, aud_env_event_loop(env) != nullptr, DGCP2_HEADER_TYPE_2, 1, &dgcp2);
    if (e != AUD_SUCCESS)
        return e;
    c->dgcp2.reset(dgcp2);
    dgcp2_client_set_context(dgcp2, c.get());
    *out = c.release();
    return AUD_SUCCESS;
}

void cmm_client_free(cmm_client* client)
{
    if (!client)
        return;
    cmm_client_terminate(client);
    delete client;
}

void cmm_client_set_server_port(cmm_client* client, uint16_t port)
{
    if (client)
        client->server_port = port;
}

uint16_t cmm_client_server_port(const cmm_client* client)
{
    return client && client->server_port ? client->server_port : CMM_DEFAULT_SERVER_PORT;
}

aud_error cmm_client_init(cmm_client* client, const char* process_name)
{
    if (!client || !process_name || strnlen(process_name, CMM_PROCESS_NAME_SIZE) >= CMM_PROCESS_NAME_SIZE)
        return AUD_INVALIDPARAMETER;
    if (aud_socket_valid(client->socket))
        return AUD_INVALIDSTATE;
    aud_sockaddr server{};
    aud_sockaddr_set(&server, htonl(INADDR_LOOPBACK), cmm_client_server_port(client));
    aud_error e = aud_socket_udp_connect(&client->socket, &server);
    if (e != AUD_SUCCESS)
        return e;
    aud_log(logOf(client), AUD_LOG_INFO, "%s: opened cmm client socket %d\n", __func__, client->socket);
    e = aud_socket_set_blocking(client->socket, false);
    if (e == AUD_SUCCESS)
        e = dgcp2_client_initialise(client->dgcp2.get(), nullptr, client->socket, true, false, nullptr);
    if (e == AUD_SUCCESS)
        e = dgcp2_client_set_keepalives(client->dgcp2.get(), CMM_PROTOCOL, &kKeepaliveInterval, &kKeepaliveTimeout);
    uint32_t pid = 0;
    if (e == AUD_SUCCESS)
        e = aud_process_id(&pid);
    if (e != AUD_SUCCESS) {
        dgcp2_client_terminate(client->dgcp2.get());
        aud_socket_close(&client->socket);
        return e;
    }
    dgcp2_client_set_handler(client->dgcp2.get(), cmm_client_on_event);
    client->self = cmm_process{};
    aud_strlcpy(client->self.name, process_name, sizeof client->self.name);
    client->self.process_id = pid;
    return AUD_SUCCESS;
}

void cmm_client_terminate(cmm_client* client)
{
    if (!client)
        return;
    dgcp2_client_terminate(client->dgcp2.get());
    aud_socket_close(&client->socket);
    client->pending = nullptr;
    client->connection = CMM_CONNECTION_DISCONNECTED;
    client->has_info = client->has_options = client->has_state = false;
}

aud_error cmm_client_connect(cmm_client* client)
{
    if (!client || !aud_socket_valid(client->socket))
        return client ? AUD_INVALIDSTATE : AUD_INVALIDPARAMETER;
    if (client->pending)
        return AUD_INVALIDSTATE;
    dgcp2_request* r = nullptr;
    aud_error e = startRequest(client, DGCP2_OPCODE_CONNECT, &r);
    if (e == AUD_SUCCESS)
        e = cmm_write_connect_request(dgcp2_request_message(r), &client->self);
    if (e != AUD_SUCCESS) {
        dgcp2_client_request_release(client->dgcp2.get(), r);
        return e;
    }
    e = sendRequest(client, r);
    if (e == AUD_SUCCESS)
        client->pending = r;
    return e;
}

aud_error cmm_client_disconnect(cmm_client* client)
{
    if (!client)
        return AUD_INVALIDPARAMETER;
    if (client->connection == CMM_CONNECTION_DISCONNECTED)
        return AUD_SUCCESS;
    dropPending(client);
    dgcp2_request* r = nullptr;
    const aud_error e = startRequest(client, DGCP2_OPCODE_DISCONNECT, &r);
    return e == AUD_SUCCESS ? sendRequest(client, r) : e;
}

aud_error cmm_client_set_system_config(cmm_client* client, const cmm_system_config* config)
{
    if (!client || !config || config->interfaces.count > CMM_INTERFACE_SET_MAX)
        return AUD_INVALIDPARAMETER;
    if (client->pending || !aud_socket_valid(client->socket))
        return AUD_INVALIDSTATE;
    dgcp2_request* r = nullptr;
    aud_error e = startRequest(client, CMM_OPCODE_SET_CONFIG, &r);
    if (e == AUD_SUCCESS)
        e = cmm_write_set_config(dgcp2_request_message(r), config);
    if (e != AUD_SUCCESS) {
        dgcp2_client_request_release(client->dgcp2.get(), r);
        return e;
    }
    aud_log(logOf(client), AUD_LOG_INFO, "%s: Sending SET CONFIG request with config:\n", __func__);
    cmm_dump_config(logOf(client), AUD_LOG_INFO, "  ", config);
    e = sendRequest(client, r);
    if (e != AUD_SUCCESS)
        return e;
    aud_log(logOf(client), AUD_LOG_INFO, "%s: Sent request, request id is %p\n", __func__, static_cast<void*>(r));
    client->pending = r;
    return AUD_SUCCESS;
}

aud_error cmm_client_process(cmm_client* client, aud_time* next)
{
    if (!client)
        return AUD_INVALIDPARAMETER;
    return dgcp2_client_process(client->dgcp2.get(), next);
}

void cmm_client_on_event(dgcp2_client* dgcp2, const dgcp2_client_event* event)
{
    auto* c = static_cast<cmm_client*>(dgcp2_client_context(dgcp2));
    if (!c || !event)
        return;
    aud_log(logOf(c), AUD_LOG_DEBUG, "%s: flags=0x%08x\n", __func__, event->flags);
    // Taken before a lost or refused connection drops the request, so the
    // status of a refused connect still reaches the callback as its result.
    const bool wasPending = event->request && event->request == c->pending;
    uint32_t changes = 0;
    aud_error result = AUD_SUCCESS;
    if (event->flags & DGCP2_EVENT_CONNECTION_LOST)
        changes |= forgetConnection(c);
    if (event->flags & DGCP2_EVENT_STATE_CHANGED)
        changes |= onStateChanged(c, dgcp2_client_state(dgcp2), event->message);
    if (event->flags & DGCP2_EVENT_RESPONSE)
        changes |= onResponse(c, event, wasPending, &result);
    if ((event->flags & DGCP2_EVENT_MESSAGE) && event->message)
        changes |= onMessage(c, event->message);
    if (changes && c->callback)
        c->callback(c, changes, event->error != AUD_SUCCESS ? event->error : result);
}

void cmm_client_set_context(cmm_client* client, void* context)
{
    if (client)
        client->context = context;
}

void* cmm_client_context(const cmm_client* client)
{
    return client ? client->context : nullptr;
}

void cmm_client_set_event_callback(cmm_client* client, cmm_client_event_fn callback)
{
    if (client)
        client->callback = callback;
}

unsigned cmm_client_connection_state(const cmm_client* client)
{
    return client ? client->connection : CMM_CONNECTION_DISCONNECTED;
}

const cmm_process* cmm_client_process_entry(const cmm_client* client)
{
    return client ? &client->self : nullptr;
}

aud_socket cmm_client_socket(const cmm_client* client)
{
    return client ? client->socket : AUD_SOCKET_INVALID;
}

dgcp2_client* cmm_client_dgcp2(cmm_client* client)
{
    return client ? client->dgcp2.get() : nullptr;
}

bool cmm_client_request_pending(const cmm_client* client)
{
    return client && client->pending;
}

const cmm_server_info* cmm_client_server_info(const cmm_client* client)
{
    return client && client->has_info ? &client->info : nullptr;
}

const cmm_options* cmm_client_options(const cmm_client* client)
{
    return client && client->has_options ? &client->options : nullptr;
}

const cmm_system_state* cmm_client_system_state(const cmm_client* client)
{
    return client && client->has_state ? &client->state : nullptr;
}

const cmm_interface_set* cmm_client_current_config(const cmm_client* client)
{
    const cmm_system_state* s = cmm_client_system_state(client);
    return s && s->status != CMM_STATUS_UNKNOWN ? &s->current : nullptr;
}

const cmm_interface_set* cmm_client_pending_config(const cmm_client* client)
{
    const cmm_system_state* s = cmm_client_system_state(client);
    return s && s->status == CMM_STATUS_CHANGING ? &s->pending : nullptr;
}

const char* cmm_client_status_name(const cmm_client* client)
{
    const cmm_system_state* s = cmm_client_system_state(client);
    return cmm_system_status_name(s ? s->status : CMM_STATUS_UNKNOWN);
}

cmm_interface_set* cmm_client_interface_set(cmm_client* client)
{
    return client ? &client->assembling : nullptr;
}

void cmm_client_interface_set_clear(cmm_client* client)
{
    if (client)
        cmm_interface_set_clear(&client->assembling);
}

aud_error cmm_client_interface_set_add_mac(cmm_client* client, const uint8_t mac[CMM_MAC_SIZE])
{
    if (!client || !mac || client->assembling.count >= CMM_INTERFACE_SET_MAX)
        return AUD_INVALIDPARAMETER;
    const cmm_interface* entry = cmm_client_find_option_mac(client, mac);
    if (!entry)
        return AUD_INVALIDDATA;
    return cmm_interface_set_add(&client->assembling, entry);
}

const cmm_interface* cmm_client_find_option_mac(const cmm_client* client, const uint8_t mac[CMM_MAC_SIZE])
{
    return cmm_options_find_mac(cmm_client_options(client), mac);
}

const cmm_interface* cmm_client_find_option_name(const cmm_client* client, const char16_t* name)
{
    return cmm_options_find_name(cmm_client_options(client), name);
}
