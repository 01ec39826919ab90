#include "dante/conmon/conmon_client.h"

#include "dante/support/aud_env.h"
#include "dante/support/aud_event_loop.h"
#include "dante/support/aud_log.h"
#include "dante/support/aud_socket.h"
#include "dante/support/aud_string.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <netdb.h>
#include <new>
#include <vector>

struct conmon_client_request {
    bool in_use = false;
    uint16_t seqnum = 0;
    uint16_t opcode = 0;
    conmon_client_response_fn callback = nullptr;
};

namespace {

const char* const kDefaultHost = "127.0.0.1";
const char* const kDefaultService = "8900";

// A received-message handler: control messages from other devices take the
// short form, every other channel type the long one.
struct Handler {
    conmon_control_handler control = nullptr;
    conmon_monitoring_handler monitoring = nullptr;
};

} // namespace

struct conmon_client {
    aud_env* env = nullptr;
    conmon_client_config config{};
    aud_sockaddr server{};
    aud_socket sock = AUD_SOCKET_INVALID;
    conmon_client_state state = CONMON_CLIENT_NO_CONNECTION;
    uint16_t version = CONMON_VERSION_DEFAULT;
    uint16_t seqnum = 0;
    conmon_client_request connectSlot;
    unsigned slotCount = CONMON_CLIENT_DEFAULT_SLOTS;
    // Allocated once at the first connect and never resized, so a request
    // pointer stays valid for the client's life.
    std::vector<conmon_client_request> slots;
    size_t slotsInUse = 0;
    size_t cursor = 0;
    uint16_t serverFlags = 0;
    char deviceName[CONMON_DEVICE_NAME_SIZE] = {};
    char dnsDomain[CONMON_DOMAIN_SIZE] = {};
    conmon_instance_id localId{};
    conmon_interfaces interfaces{};
    std::array<aud_interface, CONMON_INTERFACES_MAX> resolved{};
    std::array<bool, CONMON_INTERFACES_MAX> resolvedValid{};
    std::array<bool, CONMON_CHANNEL_TYPES> subscribed{};
    std::vector<conmon_client_subscription> subscriptions;
    std::array<Handler, CONMON_CHANNEL_TYPES * 2> handlers{};
    const conmon_channel_message* delivering = nullptr;
    std::vector<uint8_t> tx;
    std::vector<uint8_t> rx;
    void* context = nullptr;
    conmon_client_changed_fn networksChanged = nullptr;
    conmon_client_changed_fn deviceNameChanged = nullptr;
    conmon_client_changed_fn dnsDomainChanged = nullptr;
    conmon_client_changed_fn socketsChanged = nullptr;
    conmon_client_subscriptions_fn subscriptionsChanged = nullptr;
};

namespace {

void logLine(const conmon_client* c, unsigned level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    aud_vlog(aud_env_log(c->env), level, format, args);
    va_end(args);
}

const char* errorText(aud_error e, char* buffer)
{
    return aud_strerror(e, buffer);
}

void toState(conmon_client* c, conmon_client_state next, const char* caller, const char* reason)
{
    logLine(c, AUD_LOG_INFO, "%s(%s): %s->%s (%s)\n", "conmon_client_to_state_inner", caller,
        conmon_client_state_name(c->state), conmon_client_state_name(next), reason);
    c->state = next;
}

uint16_t nextSeqnum(conmon_client* c)
{
    if (++c->seqnum == 0)
        c->seqnum = 1;
    return c->seqnum;
}

void setSeqnum(uint8_t* message, uint16_t seqnum)
{
    message[4] = uint8_t(seqnum);
    message[5] = uint8_t(seqnum >> 8);
}

aud_error sendBuffer(conmon_client* c, size_t length)
{
    size_t n = length;
    return aud_socket_send(c->sock, c->tx.data(), &n);
}

conmon_client_request* freeSlot(conmon_client* c)
{
    const size_t count = c->slots.size();
    for (size_t i = 0; i < count; ++i) {
        const size_t at = (c->cursor + i) % count;
        if (!c->slots[at].in_use) {
            c->cursor = (at + 1) % count;
            return &c->slots[at];
        }
    }
    return nullptr;
}

void releaseSlot(conmon_client* c, conmon_client_request* slot)
{
    if (slot->in_use && slot != &c->connectSlot && c->slotsInUse > 0)
        --c->slotsInUse;
    *slot = conmon_client_request{};
}

// Sends the message in the transmit buffer: with a callback or an out
// request through a slot, else without awaiting a response.
aud_error sendRequest(conmon_client* c, size_t length, conmon_client_response_fn callback, conmon_client_request** out,
    const char* caller)
{
    if (c->state == CONMON_CLIENT_NO_CONNECTION || !aud_socket_valid(c->sock))
        return AUD_NOTCONN;
    char text[AUD_STRERROR_SIZE];
    if (callback || out) {
        conmon_client_request* slot = freeSlot(c);
        if (!slot)
            return AUD_NOBUFS;
        uint16_t seqnum = uint16_t(c->tx[4] | c->tx[5] << 8);
        if (seqnum == 0) {
            seqnum = nextSeqnum(c);
            setSeqnum(c->tx.data(), seqnum);
        }
        const aud_error e = sendBuffer(c, length);
        if (e != AUD_SUCCESS) {
            logLine(c, AUD_LOG_DEBUG, "%s: error sending message: %s", caller, errorText(e, text));
            return e;
        }
        slot->in_use = true;
        slot->seqnum = seqnum;
        slot->opcode = uint16_t(c->tx[6] | c->tx[7] << 8);
        slot->callback = callback;
        ++c->slotsInUse;
        if (out)
            *out = slot;
        return AUD_SUCCESS;
    }
    if (c->serverFlags & 0x0001)
        c->tx[9] |= uint8_t(CONMON_STATUS_NO_REPLY >> 8);
    const aud_error e = sendBuffer(c, length);
    if (e != AUD_SUCCESS)
        logLine(c, AUD_LOG_DEBUG, "%s: error sending message: %s", caller, errorText(e, text));
    return e;
}

aud_error sendConnect(conmon_client* c, conmon_client_response_fn callback)
{
    if (c->connectSlot.in_use)
        return AUD_INVALIDSTATE;
    std::fill(c->tx.begin(), c->tx.end(), 0);
    size_t length = 0;
    const uint16_t seqnum = nextSeqnum(c);
    aud_error e = conmon_build_connect(c->tx.data(), c->tx.size(), &length, c->version, seqnum, c->config.name);
    if (e == AUD_SUCCESS)
        e = sendBuffer(c, length);
    if (e != AUD_SUCCESS)
        return e;
    c->connectSlot.in_use = true;
    c->connectSlot.seqnum = seqnum;
    c->connectSlot.opcode = CONMON_OP_CONNECT;
    c->connectSlot.callback = callback;
    return AUD_SUCCESS;
}

void complete(conmon_client* c, conmon_client_request* slot, aud_error result)
{
    const conmon_client_response_fn callback = slot->callback;
    releaseSlot(c, slot);
    if (callback)
        callback(c, slot, result);
}

// Looks every interface up by its system index (W1).
void resolveInterfaces(conmon_client* c, const char* caller)
{
    c->resolvedValid.fill(false);
    for (size_t i = 0; i < c->interfaces.count; ++i) {
        const uint32_t index = c->interfaces.entries[i].words[CONMON_WORD_INDEX];
        if (index == 0)
            continue;
        const aud_error e = aud_interface_find_by_index(index, &c->resolved[i]);
        if (e != AUD_SUCCESS) {
            char text[AUD_STRERROR_SIZE];
            logLine(c, AUD_LOG_ERROR, "%s: Error initialising interfaces: %s", caller, errorText(e, text));
            continue;
        }
        c->resolvedValid[i] = true;
    }
}

bool sameId(const conmon_instance_id& a, const conmon_instance_id& b)
{
    return a.process_id == b.process_id && memcmp(a.device_id.data, b.device_id.data, CONMON_ID64_SIZE) == 0;
}

bool sameAddresses(const conmon_address_block& a, const conmon_address_block& b)
{
    if (a.count != b.count || a.mask != b.mask)
        return false;
    for (size_t i = 0; i < CONMON_ADDRESS_NETWORKS; ++i) {
        if (a.networks[i].address != b.networks[i].address || a.networks[i].port != b.networks[i].port)
            return false;
    }
    return true;
}

bool sameInterfaces(const conmon_interfaces& a, const conmon_interfaces& b)
{
    if (a.count != b.count)
        return false;
    for (size_t i = 0; i < a.count; ++i) {
        if (memcmp(a.entries[i].words, b.entries[i].words, sizeof a.entries[i].words) != 0)
            return false;
    }
    return true;
}

conmon_client_subscription* findRecord(conmon_client* c, const conmon_subscription_entry& e)
{
    for (auto& r : c->subscriptions) {
        if (r.flags != 0 && r.channel_type == e.channel_type && r.index == e.index
            && strcmp(r.device_name, e.device_name) == 0)
            return &r;
    }
    return nullptr;
}

conmon_client_subscription* startRecord(conmon_client* c, const conmon_subscription_entry& e)
{
    for (auto& r : c->subscriptions) {
        if (r.flags == 0) {
            r = conmon_client_subscription{};
            r.flags = CONMON_SUBSCRIPTION_NEW;
            r.channel_type = e.channel_type;
            memcpy(r.device_name, e.device_name, sizeof r.device_name);
            r.index = e.index;
            r.status = e.status;
            return &r;
        }
    }
    return nullptr;
}

// Folds one entry into its record; true when the record is new or changed.
bool mergeEntry(conmon_client_subscription* r, const conmon_subscription_entry& e)
{
    bool changed = false;
    if (e.flags & CONMON_SUBSCRIPTION_HAS_ID) {
        changed |= !(r->flags & CONMON_SUBSCRIPTION_ID_KNOWN) || !sameId(r->id, e.id);
        r->id = e.id;
        r->flags |= CONMON_SUBSCRIPTION_ID_KNOWN;
    }
    if (e.flags & CONMON_SUBSCRIPTION_HAS_ADDRESSES) {
        changed |= !(r->flags & CONMON_SUBSCRIPTION_ADDRESSES_KNOWN) || !sameAddresses(r->addresses, e.addresses);
        r->addresses = e.addresses;
        r->flags |= CONMON_SUBSCRIPTION_ADDRESSES_KNOWN;
    }
    changed |= r->status != e.status || r->byte50 != e.byte50 || r->byte51 != e.byte51;
    r->status = e.status;
    r->byte50 = e.byte50;
    r->byte51 = e.byte51;
    return changed;
}

aud_error mergeSubscriptions(
    conmon_client* c, const uint8_t* data, size_t length, std::vector<const conmon_client_subscription*>* changed)
{
    conmon_subscription_list list{};
    aud_error e = conmon_parse_subscription_list(data, length, &list);
    if (e != AUD_SUCCESS || list.apply == 0)
        return e;
    for (size_t i = 0; i < list.count; ++i) {
        conmon_subscription_entry entry{};
        e = conmon_parse_subscription_entry(data, length, &list, i, &entry);
        if (e != AUD_SUCCESS)
            return e;
        conmon_client_subscription* r = findRecord(c, entry);
        bool isNew = false;
        if (!r) {
            r = startRecord(c, entry);
            if (!r)
                return AUD_NOBUFS;
            isNew = true;
        }
        const bool differs = mergeEntry(r, entry);
        if ((isNew || differs) && changed->size() < CONMON_CLIENT_SUBSCRIPTIONS
            && std::find(changed->begin(), changed->end(), r) == changed->end())
            changed->push_back(r);
    }
    return AUD_SUCCESS;
}

void reportSubscriptions(conmon_client* c, const std::vector<const conmon_client_subscription*>& changed)
{
    if (!changed.empty() && c->subscriptionsChanged)
        c->subscriptionsChanged(c, changed.size(), changed.data());
}

void deliverChannelMessage(conmon_client* c, const uint8_t* data, size_t length)
{
    conmon_channel_message m{};
    if (conmon_parse_channel_message(data, length, &m) != AUD_SUCCESS)
        return;
    // The handler table has two columns: own device (0) and others (1).
    if (m.channel_type >= CONMON_CHANNEL_TYPES || m.from_other_devices > 1) {
        logLine(c, AUD_LOG_INFO, "%s: no handler for channel type %u flag %u", "conmon_client_handle_event_message",
            unsigned(m.channel_type), unsigned(m.from_other_devices));
        return;
    }
    const Handler h = c->handlers[m.channel_type * 2 + m.from_other_devices];
    if (m.named)
        c->delivering = &m;
    if (m.channel_type == CONMON_CHANNEL_CONTROL && h.control)
        h.control(c, &m.envelope, m.payload, m.payload_length);
    else if (h.monitoring)
        h.monitoring(c, m.channel_type, m.from_other_devices, &m.envelope, m.payload, m.payload_length);
    c->delivering = nullptr;
}

void handleEvent(conmon_client* c, const uint8_t* data, size_t length, uint16_t opcode)
{
    const char* caller = "conmon_client_handle_event_message";
    switch (opcode) {
    case CONMON_OP_NETWORKS_CHANGED: {
        conmon_interfaces interfaces{};
        if (conmon_parse_networks_changed(data, length, &interfaces) != AUD_SUCCESS
            || sameInterfaces(interfaces, c->interfaces))
            return;
        c->interfaces = interfaces;
        resolveInterfaces(c, caller);
        if (c->networksChanged)
            c->networksChanged(c);
        return;
    }
    case CONMON_OP_DEVICE_NAME_CHANGED: {
        char name[CONMON_DEVICE_NAME_SIZE];
        if (conmon_parse_device_name(data, length, name) != AUD_SUCCESS || strcmp(name, c->deviceName) == 0)
            return;
        memcpy(c->deviceName, name, sizeof name);
        if (c->deviceNameChanged)
            c->deviceNameChanged(c);
        return;
    }
    case CONMON_OP_DNS_DOMAIN_NAME_CHANGED: {
        char domain[CONMON_DOMAIN_SIZE];
        if (conmon_parse_dns_domain(data, length, domain) != AUD_SUCCESS || strcmp(domain, c->dnsDomain) == 0)
            return;
        memcpy(c->dnsDomain, domain, sizeof domain);
        if (c->dnsDomainChanged)
            c->dnsDomainChanged(c);
        return;
    }
    case CONMON_OP_CHANNEL_MESSAGE:
    case CONMON_OP_NAMED_CHANNEL_MESSAGE:
        deliverChannelMessage(c, data, length);
        return;
    case CONMON_OP_SUBSCRIPTIONS_CHANGED: {
        std::vector<const conmon_client_subscription*> changed;
        mergeSubscriptions(c, data, length, &changed);
        reportSubscriptions(c, changed);
        return;
    }
    default:
        return;
    }
}

conmon_client_request* findRequest(conmon_client* c, uint16_t seqnum)
{
    if (c->connectSlot.in_use && c->connectSlot.seqnum == seqnum)
        return &c->connectSlot;
    for (auto& slot : c->slots) {
        if (slot.in_use && slot.seqnum == seqnum)
            return &slot;
    }
    return nullptr;
}

void handleConnectResponse(
    conmon_client* c, conmon_client_request* slot, const uint8_t* data, size_t length, const conmon_header& h)
{
    const char* caller = "process_message";
    const uint16_t kind = h.status & CONMON_STATUS_KIND_MASK;
    if (kind == CONMON_STATUS_INVALID_SIZE && c->version >= 0x1400 && h.version < 0x1400 && slot == &c->connectSlot) {
        // The service speaks an older version: ask again in its form.
        const conmon_client_response_fn callback = slot->callback;
        c->version = h.version;
        *slot = conmon_client_request{};
        const aud_error e = sendConnect(c, callback);
        if (e != AUD_SUCCESS) {
            // The connect cannot go on: close as a refused one does, so the
            // owner learns of it through the connect callback.
            char text[AUD_STRERROR_SIZE];
            logLine(c, AUD_LOG_DEBUG, "%s: error sending message: %s", caller, errorText(e, text));
            c->connectSlot.in_use = true;
            c->connectSlot.callback = callback;
            conmon_client_disconnect_helper(c, false, e, true);
        }
        return;
    }
    if (kind != CONMON_STATUS_RESPONSE) {
        complete(c, slot, conmon_status_error(h.status));
        return;
    }
    if (slot != &c->connectSlot) {
        logLine(c, AUD_LOG_NOTICE, "%s: connection handle mismatch, ignoring message!\n", caller);
        return;
    }
    conmon_connect_info info{};
    const aud_error e = conmon_parse_connect_response(data, length, &info);
    if (e != AUD_SUCCESS) {
        complete(c, slot, AUD_INVALIDDATA);
        return;
    }
    c->serverFlags = info.flags;
    memcpy(c->deviceName, info.device_name, sizeof c->deviceName);
    memcpy(c->dnsDomain, info.dns_domain, sizeof c->dnsDomain);
    c->localId = info.id;
    c->interfaces = info.interfaces;
    resolveInterfaces(c, caller);
    toState(c, CONMON_CLIENT_CONNECTED, caller, "manual connection completed");
    complete(c, slot, AUD_SUCCESS);
}

bool validType(uint16_t type)
{
    return type < CONMON_CHANNEL_TYPES;
}

bool inMask(const conmon_client* c, uint16_t type)
{
    return validType(type) && (c->config.channel_mask & (1u << type)) != 0;
}

aud_error registerFor(conmon_client* c, conmon_client_response_fn callback, conmon_client_request** out, uint16_t type,
    bool fromOther, bool enable, const char* caller)
{
    if (c->state == CONMON_CLIENT_NO_CONNECTION)
        return AUD_NOTCONN;
    std::fill(c->tx.begin(), c->tx.end(), 0);
    size_t length = 0;
    const aud_error e
        = conmon_build_register(c->tx.data(), c->tx.size(), &length, c->version, 0, enable, type, fromOther);
    return e != AUD_SUCCESS ? e : sendRequest(c, length, callback, out, caller);
}

aud_error subscribeGlobal(conmon_client* c, conmon_client_response_fn callback, conmon_client_request** out,
    uint16_t type, bool enable, const char* caller)
{
    if (!c || !validType(type))
        return AUD_INVALIDPARAMETER;
    if (c->state == CONMON_CLIENT_NO_CONNECTION)
        return AUD_NOTCONN;
    std::fill(c->tx.begin(), c->tx.end(), 0);
    size_t length = 0;
    aud_error e = conmon_build_subscribe(c->tx.data(), c->tx.size(), &length, c->version, 0, enable, type, nullptr);
    if (e == AUD_SUCCESS)
        e = sendRequest(c, length, callback, out, caller);
    if (e == AUD_SUCCESS)
        c->subscribed[type] = enable;
    return e;
}

// Envelope and payload checks shared by both sending operations.
aud_error sendMessage(conmon_client* c, conmon_client_response_fn callback, conmon_client_request** out, uint16_t type,
    const char* targetName, const conmon_id64* targetId, uint16_t word, const conmon_id64* vendor,
    const uint8_t* payload, size_t length, const char* caller)
{
    if ((!payload && length > 0) || length > CONMON_PAYLOAD_MAX)
        return AUD_INVALIDPARAMETER;
    const conmon_id64 vendorId = vendor ? *vendor : CONMON_VENDOR_AUDINATE;
    if (memcmp(vendorId.data, CONMON_VENDOR_AUDINATE.data, CONMON_ID64_SIZE) == 0 && length < 8) {
        if (type == CONMON_CHANNEL_CONTROL)
            logLine(c, AUD_LOG_ERROR, "%s: message (body) size too small %u\n", caller, unsigned(length));
        else
            logLine(c, AUD_LOG_ERROR, "%s: message (body) size too small %u channel type %d\n", caller,
                unsigned(length), int(type));
        return AUD_MSGSIZE;
    }
    if (c->state == CONMON_CLIENT_NO_CONNECTION)
        return AUD_NOTCONN;
    conmon_envelope env{};
    env.message_word = word;
    env.process_id = c->localId.process_id;
    env.device_id = c->localId.device_id;
    env.vendor_id = vendorId;
    std::fill(c->tx.begin(), c->tx.end(), 0);
    size_t total = 0;
    const aud_error e = conmon_build_send_message(
        c->tx.data(), c->tx.size(), &total, c->version, 0, type, targetId, targetName, &env, payload, length);
    return e != AUD_SUCCESS ? e : sendRequest(c, total, callback, out, caller);
}

aud_error resolveServer(conmon_client* c, const char* caller)
{
    if (c->server.len == 0) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_DGRAM;
        hints.ai_protocol = IPPROTO_UDP;
        addrinfo* found = nullptr;
        const int rc = getaddrinfo(kDefaultHost, kDefaultService, &hints, &found);
        if (rc != 0 || !found || found->ai_addrlen > sizeof c->server.addr) {
            logLine(c, AUD_LOG_ERROR, "%s: Unknown address %s port %s", caller, kDefaultHost, kDefaultService);
            if (found)
                freeaddrinfo(found);
            return rc != 0 ? aud_error_from_errno(rc) : AUD_NOTFOUND;
        }
        memcpy(&c->server.addr, found->ai_addr, found->ai_addrlen);
        c->server.len = uint8_t(found->ai_addrlen);
        freeaddrinfo(found);
    }
    if (aud_sockaddr_port(&c->server) == 0)
        aud_sockaddr_set_port(&c->server, CONMON_CLIENT_DEFAULT_PORT);
    return AUD_SUCCESS;
}

aud_error connectInternal(conmon_client* c, conmon_client_response_fn callback, conmon_client_request** out)
{
    const char* caller = "conmon_client_connect_internal";
    if (aud_socket_valid(c->sock)) {
        logLine(c, AUD_LOG_ERROR, "%s: Already connected", caller);
        return AUD_ISCONN;
    }
    if (c->slots.empty())
        c->slots.resize(c->slotCount);
    aud_error e = resolveServer(c, caller);
    if (e != AUD_SUCCESS)
        return e;
    e = aud_socket_udp_connect(&c->sock, &c->server);
    if (e != AUD_SUCCESS) {
        logLine(c, AUD_LOG_ERROR, "%s: Error initialising socket", caller);
        return e;
    }
    logLine(c, AUD_LOG_INFO, "%s: opened conmon client socket %d\n", caller, c->sock);
    if (aud_socket_set_blocking(c->sock, false) != AUD_SUCCESS)
        logLine(c, AUD_LOG_WARNING, "%s: Could not set conmon socket %d to blocking", caller, c->sock);
    if (!aud_env_event_loop(c->env))
        logLine(c, AUD_LOG_NOTICE, "%s: No event loop in env, assuming application is managing sockets", caller);
    c->version = c->config.protocol_version;
    e = sendConnect(c, callback);
    if (e != AUD_SUCCESS) {
        aud_socket_close(&c->sock);
        return e;
    }
    toState(c, CONMON_CLIENT_CONNECTING, "conmon_client_connect", "Connecting");
    if (out)
        *out = &c->connectSlot;
    return AUD_SUCCESS;
}

} // namespace

aud_error conmon_client_config_init(conmon_client_config* config, const char* name)
{
    if (!config || !name || strnlen(name, CONMON_CLIENT_NAME_MAX + 1) > CONMON_CLIENT_NAME_MAX)
        return AUD_INVALIDPARAMETER;
    *config = conmon_client_config{};
    aud_strlcpy(config->name, name, sizeof config->name);
    config->protocol_version = CONMON_VERSION_DEFAULT;
    config->channel_mask = CONMON_CLIENT_DEFAULT_CHANNELS;
    return AUD_SUCCESS;
}

aud_error conmon_client_new(aud_env* env, const char* name, conmon_client** out)
{
    conmon_client_config config;
    const aud_error e = conmon_client_config_init(&config, name);
    return e != AUD_SUCCESS ? e : conmon_client_new_config(env, &config, out);
}

aud_error conmon_client_new_config(aud_env* env, const conmon_client_config* config, conmon_client** out)
{
    if (!env || !config || !out || strnlen(config->name, sizeof config->name) >= sizeof config->name)
        return AUD_INVALIDPARAMETER;
    try {
        auto c = std::make_unique<conmon_client>();
        c->env = env;
        c->config = *config;
        c->server = config->server;
        c->version = config->protocol_version;
        c->subscriptions.resize(CONMON_CLIENT_SUBSCRIPTIONS);
        c->tx.resize(CONMON_MESSAGE_MAX);
        c->rx.resize(CONMON_MESSAGE_MAX);
        // The channel layer would hold sockets for types that travel outside
        // the service; this system's mask has none, so it owns nothing.
        *out = c.release();
    } catch (const std::bad_alloc&) {
        return AUD_NOMEMORY;
    }
    return AUD_SUCCESS;
}

void conmon_client_free(conmon_client* client)
{
    if (!client)
        return;
    conmon_client_disconnect_helper(client, true, AUD_SUCCESS, false);
    delete client;
}

void conmon_client_set_context(conmon_client* client, void* context)
{
    if (client)
        client->context = context;
}

void* conmon_client_context(const conmon_client* client)
{
    return client ? client->context : nullptr;
}

void conmon_client_set_networks_changed_callback(conmon_client* client, conmon_client_changed_fn fn)
{
    if (client)
        client->networksChanged = fn;
}

void conmon_client_set_device_name_changed_callback(conmon_client* client, conmon_client_changed_fn fn)
{
    if (client)
        client->deviceNameChanged = fn;
}

void conmon_client_set_dns_domain_changed_callback(conmon_client* client, conmon_client_changed_fn fn)
{
    if (client)
        client->dnsDomainChanged = fn;
}

void conmon_client_set_sockets_changed_callback(conmon_client* client, conmon_client_changed_fn fn)
{
    if (client)
        client->socketsChanged = fn;
}

void conmon_client_set_subscriptions_changed_callback(conmon_client* client, conmon_client_subscriptions_fn fn)
{
    if (client)
        client->subscriptionsChanged = fn;
}

unsigned conmon_client_set_request_slots(conmon_client* client, unsigned count)
{
    if (!client)
        return 0;
    if (client->slots.empty() && count > 0)
        client->slotCount = count;
    return client->slotCount;
}

conmon_client_state conmon_client_get_state(const conmon_client* client)
{
    return client ? client->state : CONMON_CLIENT_NO_CONNECTION;
}

const char* conmon_client_state_name(unsigned state)
{
    static const char* const names[] = {"NO_CONNECTION", "CONNECTING", "CONNECTED", "RECONNECT_PENDING"};
    return state < 4 ? names[state] : "???";
}

const char* conmon_client_get_device_name(const conmon_client* client)
{
    return client && client->state == CONMON_CLIENT_CONNECTED ? client->deviceName : nullptr;
}

const char* conmon_client_get_dns_domain(const conmon_client* client)
{
    return client && client->state == CONMON_CLIENT_CONNECTED ? client->dnsDomain : nullptr;
}

const conmon_instance_id* conmon_client_get_local_id(const conmon_client* client)
{
    return client && client->state == CONMON_CLIENT_CONNECTED ? &client->localId : nullptr;
}

const conmon_interfaces* conmon_client_get_interfaces(const conmon_client* client)
{
    return client && client->state == CONMON_CLIENT_CONNECTED ? &client->interfaces : nullptr;
}

aud_error conmon_client_get_resolved_interface(const conmon_client* client, size_t i, aud_interface* out)
{
    if (!client || !out)
        return AUD_INVALIDPARAMETER;
    if (client->state != CONMON_CLIENT_CONNECTED || i >= client->interfaces.count || !client->resolvedValid[i])
        return AUD_NOTFOUND;
    *out = client->resolved[i];
    return AUD_SUCCESS;
}

bool conmon_client_is_subscribed(const conmon_client* client, uint16_t channel_type)
{
    return client && validType(channel_type) && client->subscribed[channel_type];
}

const char* conmon_client_get_sender_name(const conmon_client* client, const conmon_instance_id* id)
{
    if (!client || !id)
        return nullptr;
    if (client->state == CONMON_CLIENT_CONNECTED && sameId(*id, client->localId))
        return client->deviceName;
    for (const auto& r : client->subscriptions) {
        if (r.flags != 0 && (r.flags & CONMON_SUBSCRIPTION_ID_KNOWN) && sameId(*id, r.id))
            return r.device_name;
    }
    const conmon_channel_message* m = client->delivering;
    if (m && m->named && m->envelope.process_id == id->process_id
        && memcmp(m->envelope.device_id.data, id->device_id.data, CONMON_ID64_SIZE) == 0)
        return m->sender_name;
    return nullptr;
}

const conmon_client_subscription* conmon_client_get_subscription(const conmon_client* client, size_t i)
{
    return client && i < client->subscriptions.size() ? &client->subscriptions[i] : nullptr;
}

aud_error conmon_client_get_sockets(const conmon_client* client, aud_fdset* set)
{
    if (!client || !set)
        return AUD_INVALIDPARAMETER;
    if (!aud_socket_valid(client->sock))
        return AUD_INVALIDSTATE;
    return aud_fdset_add(set, client->sock);
}

aud_error conmon_client_connect(conmon_client* client, conmon_client_response_fn callback, conmon_client_request** out)
{
    if (!client)
        return AUD_INVALIDPARAMETER;
    if (client->state != CONMON_CLIENT_NO_CONNECTION) {
        logLine(client, AUD_LOG_ERROR, "%s: Invalid state (Already connecting / connected)", "conmon_client_connect");
        return AUD_INVALIDSTATE;
    }
    return connectInternal(client, callback, out);
}

void conmon_client_disconnect(conmon_client* client)
{
    if (!client)
        return;
    logLine(client, AUD_LOG_INFO, "%s: disconnecting", "conmon_client_disconnect");
    conmon_client_disconnect_helper(client, true, AUD_SUCCESS, false);
}

void conmon_client_disconnect_helper(conmon_client* client, bool send_disconnect, aud_error error, bool notify)
{
    conmon_client* c = client;
    if (!c)
        return;
    if (aud_socket_valid(c->sock)) {
        c->interfaces.count = 0;
        if (send_disconnect) {
            size_t length = 0;
            if (conmon_build_disconnect(c->tx.data(), c->tx.size(), &length, c->version, nextSeqnum(c)) == AUD_SUCCESS)
                sendBuffer(c, length);
        }
        aud_socket_close(&c->sock);
        if (notify && c->socketsChanged)
            c->socketsChanged(c);
    }
    for (auto& slot : c->slots)
        slot = conmon_client_request{};
    c->slotsInUse = 0;
    c->subscribed.fill(false);
    memset(c->deviceName, 0, sizeof c->deviceName);
    memset(c->dnsDomain, 0, sizeof c->dnsDomain);
    c->interfaces = conmon_interfaces{};
    c->resolvedValid.fill(false);
    for (auto& r : c->subscriptions)
        r = conmon_client_subscription{};
    c->localId = conmon_instance_id{};
    c->serverFlags = 0;
    if (c->state != CONMON_CLIENT_NO_CONNECTION)
        toState(c, CONMON_CLIENT_NO_CONNECTION, "conmon_client_disconnect_helper", "manual connection disconnected");
    const conmon_client_response_fn callback = c->connectSlot.callback;
    const bool pending = c->connectSlot.in_use;
    c->connectSlot = conmon_client_request{};
    if (notify && pending && callback)
        callback(c, &c->connectSlot, error);
}

aud_error conmon_client_process_sockets(conmon_client* client)
{
    if (!client)
        return AUD_INVALIDPARAMETER;
    conmon_client* c = client;
    const char* caller = "conmon_client_process_sockets";
    if (!aud_socket_valid(c->sock))
        return AUD_INVALIDSTATE;
    size_t length = c->rx.size();
    const aud_error e = aud_socket_recv(c->sock, c->rx.data(), &length);
    switch (e) {
    case AUD_SUCCESS:
        return process_message(c, c->rx.data(), length);
    case AUD_TIMEDOUT:
    case AUD_INTERRUPTED:
        return AUD_SUCCESS;
    case AUD_CONNREFUSED:
    case AUD_CONNRESET:
        if (c->state == CONMON_CLIENT_CONNECTING) {
            logLine(c, AUD_LOG_INFO, "%s: Got a CONNREFUSED while waiting for a connect response, aborting connect\n",
                caller);
            conmon_client_disconnect_helper(c, false, e, true);
            return e;
        }
        if (c->state == CONMON_CLIENT_CONNECTED) {
            // The service is gone: show it instead of keeping a connection
            // that only looks alive. The client still does not reconnect.
            logLine(c, AUD_LOG_INFO, "%s: Got a CONNREFUSED while connected, closing connection\n", caller);
            conmon_client_disconnect_helper(c, false, e, true);
            return e;
        }
        break;
    default:
        break;
    }
    char text[AUD_STRERROR_SIZE];
    logLine(c, AUD_LOG_ERROR, "%s: Error reading socket %d: %s", caller, c->sock, errorText(e, text));
    return e;
}

aud_error process_message(conmon_client* client, const uint8_t* data, size_t length)
{
    if (!client || !data)
        return AUD_INVALIDPARAMETER;
    conmon_client* c = client;
    const char* caller = "process_message";
    const uint16_t status = conmon_message_validate(data, length);
    if (status != 0) {
        logLine(c, AUD_LOG_WARNING, "%s: Error validating: %s!", caller, conmon_status_name(status));
        return AUD_INVALIDDATA;
    }
    conmon_header h;
    conmon_header_read(data, length, &h);
    const uint16_t kind = h.status & CONMON_STATUS_KIND_MASK;
    if (kind == CONMON_STATUS_EVENT) {
        handleEvent(c, data, length, h.opcode);
        return AUD_SUCCESS;
    }
    conmon_client_request* slot = findRequest(c, h.seqnum);
    if (!slot) {
        logLine(c, AUD_LOG_INFO, "%s: Unhandled response seqnum=0x%04x opcode=0x%04x", caller, unsigned(h.seqnum),
            unsigned(h.opcode));
        return AUD_SUCCESS;
    }
    if (slot->opcode != h.opcode) {
        logLine(c, AUD_LOG_WARNING, "%s: Response seqnum=0x%04x has opcode 0x%04x, expected 0x%04x", caller,
            unsigned(h.seqnum), unsigned(h.opcode), unsigned(slot->opcode));
        complete(c, slot, AUD_INVALIDDATA);
        return AUD_SUCCESS;
    }
    switch (h.opcode) {
    case CONMON_OP_CONNECT:
        handleConnectResponse(c, slot, data, length, h);
        return AUD_SUCCESS;
    case CONMON_OP_SET_DEVICE_NAME:
        if (kind == CONMON_STATUS_RESPONSE)
            conmon_parse_device_name(data, length, c->deviceName);
        break;
    case CONMON_OP_SUBSCRIBE:
        if (kind == CONMON_STATUS_RESPONSE && length >= 12) {
            std::vector<const conmon_client_subscription*> changed;
            mergeSubscriptions(c, data, length, &changed);
            complete(c, slot, AUD_SUCCESS);
            reportSubscriptions(c, changed);
            return AUD_SUCCESS;
        }
        break;
    default:
        break;
    }
    complete(c, slot, conmon_status_error(h.status));
    return AUD_SUCCESS;
}

void conmon_client_request_release(conmon_client* client, conmon_client_request* request)
{
    if (!client || !request)
        return;
    if (request == &client->connectSlot) {
        conmon_client_disconnect_helper(client, true, AUD_SUCCESS, false);
        return;
    }
    for (auto& slot : client->slots) {
        if (&slot == request)
            releaseSlot(client, &slot);
    }
}

aud_error conmon_client_register_control_messages(conmon_client* client, conmon_client_response_fn callback,
    conmon_client_request** out, conmon_control_handler handler)
{
    if (!client)
        return AUD_INVALIDPARAMETER;
    client->handlers[CONMON_CHANNEL_CONTROL * 2 + 1] = Handler{handler, nullptr};
    return registerFor(client, callback, out, CONMON_CHANNEL_CONTROL, true, handler != nullptr,
        "conmon_client_register_control_messages");
}

aud_error conmon_client_register_monitoring_messages(conmon_client* client, conmon_client_response_fn callback,
    conmon_client_request** out, uint16_t channel_type, bool from_other_devices, conmon_monitoring_handler handler)
{
    const char* caller = "conmon_client_register_monitoring_messages";
    if (!client)
        return AUD_INVALIDPARAMETER;
    if (!inMask(client, channel_type)) {
        logLine(client, AUD_LOG_ERROR, "%s: not initialised", caller);
        return AUD_NOTINITIALISED;
    }
    client->handlers[channel_type * 2 + (from_other_devices ? 1 : 0)] = Handler{nullptr, handler};
    return registerFor(client, callback, out, channel_type, from_other_devices, handler != nullptr, caller);
}

aud_error conmon_client_subscribe_global(
    conmon_client* client, conmon_client_response_fn callback, conmon_client_request** out, uint16_t channel_type)
{
    return subscribeGlobal(client, callback, out, channel_type, true, "conmon_client_subscribe_global");
}

aud_error conmon_client_unsubscribe_global(
    conmon_client* client, conmon_client_response_fn callback, conmon_client_request** out, uint16_t channel_type)
{
    return subscribeGlobal(client, callback, out, channel_type, false, "conmon_client_unsubscribe_global");
}

aud_error conmon_client_send_control_message(conmon_client* client, conmon_client_response_fn callback,
    conmon_client_request** out, const char* target_name, uint16_t message_word, const conmon_id64* vendor_id,
    const uint8_t* payload, size_t payload_length, const conmon_id64* target_id)
{
    if (!client)
        return AUD_INVALIDPARAMETER;
    return sendMessage(client, callback, out, CONMON_CHANNEL_CONTROL, target_name, target_id, message_word, vendor_id,
        payload, payload_length, "conmon_client_send_control_message");
}

aud_error conmon_client_send_monitoring_message(conmon_client* client, conmon_client_response_fn callback,
    conmon_client_request** out, uint16_t channel_type, uint16_t message_word, const conmon_id64* vendor_id,
    const uint8_t* payload, size_t payload_length)
{
    const char* caller = "conmon_client_send_monitoring_message";
    if (!client)
        return AUD_INVALIDPARAMETER;
    if (!inMask(client, channel_type)) {
        logLine(client, AUD_LOG_ERROR, "%s: not initialised", caller);
        return AUD_NOTINITIALISED;
    }
    return sendMessage(client, callback, out, channel_type, nullptr, nullptr, message_word, vendor_id, payload,
        payload_length, caller);
}
