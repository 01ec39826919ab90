#include "dante/conmon/conmon_message.h"

#include "dante/conmon/conmon_bytes.h"

#include <cstring>

using namespace conmon_bytes;

const conmon_id64 CONMON_VENDOR_AUDINATE = {{'A', 'u', 'd', 'i', 'n', 'a', 't', 'e'}};

namespace {

struct Named {
    uint16_t value;
    const char* name;
};

const Named kOpcodes[] = {
    {CONMON_OP_NULL, "NULL"},
    {CONMON_OP_CONNECT, "Connect"},
    {CONMON_OP_DISCONNECT, "Disconnect"},
    {CONMON_OP_SET_DEVICE_NAME, "Set Dante Device Name"},
    {CONMON_OP_SET_REMOTE_CONTROL_ALLOWED, "SET_REMOTE_CONTROL_ALLOWED"},
    {CONMON_OP_REGISTER, "Register"},
    {CONMON_OP_DEREGISTER, "Deregister"},
    {CONMON_OP_SUBSCRIBE, "Subscribe"},
    {CONMON_OP_UNSUBSCRIBE, "Unsubscribe"},
    {CONMON_OP_ENABLE_TX_METERING, "Enable Tx Metering"},
    {CONMON_OP_DISABLE_TX_METERING, "Disable Tx Metering"},
    {CONMON_OP_SEND_MESSAGE, "Send Message"},
    {CONMON_OP_NETWORKS_CHANGED, "Networks Changed"},
    {CONMON_OP_DEVICE_NAME_CHANGED, "Dante Device Name Changed"},
    {CONMON_OP_DNS_DOMAIN_NAME_CHANGED, "DNS_DOMAIN_NAME_CHANGED"},
    {CONMON_OP_CHANNEL_MESSAGE, "Channel Message"},
    {CONMON_OP_NAMED_CHANNEL_MESSAGE, "Named Channel Message"},
    {CONMON_OP_LEGACY_METERING_ADDRESSES, "Legacy Metering Addresses"},
    {CONMON_OP_SUBSCRIPTIONS_CHANGED, "Subscriptions Changed"},
};

const Named kSubscriptionStatus[] = {
    {0x0000, "none"},
    {0x0001, "preparing"},
    {0x0010, "unresolved"},
    {0x0002, "resolved"},
    {0x0011, "unicast"},
    {0x0012, "multicast"},
    {0x0101, "comms error"},
    {0x0102, "no connection"},
    {0x0103, "invalid reply"},
    {0x0110, "tx no channel"},
};

const char* const kStatusNames[]
    = {"Request", "Response", "Event", "Invalid version", "Invalid size", "Invalid opcode", "Invalid status",
        "Invalid data", "Internal error", "Not Supported", "Timeout", "Invalid State", "No Buffers", "Not Found"};

const aud_error kStatusErrors[]
    = {AUD_SUCCESS, AUD_SUCCESS, AUD_SUCCESS, AUD_VERSION, AUD_INVALIDDATA, AUD_INVALIDDATA, AUD_INVALIDDATA,
        AUD_INVALIDDATA, AUD_SYSTEM, AUD_NOTSUPPORTED, AUD_TIMEDOUT, AUD_INVALIDSTATE, AUD_NOBUFS, AUD_NOTFOUND};

const char* const kChannelNames[]
    = {"control", "metering", "status", "broadcast", "local", "serial", "keepalive", "vendor_broadcast", "monitoring"};

template <size_t N> const char* lookup(const Named (&table)[N], uint16_t value)
{
    for (const Named& n : table) {
        if (n.value == value)
            return n.name;
    }
    return nullptr;
}

// Copies a fixed text field (not necessarily terminated) into out, which
// holds field + 1 bytes.
void copyField(char* out, const uint8_t* field, size_t width)
{
    size_t n = 0;
    while (n < width && field[n])
        ++n;
    memcpy(out, field, n);
    out[n] = '\0';
}

// Length of a text bounded by max + 1 characters; max + 1 means too long.
size_t boundedLength(const char* text, size_t max)
{
    return text ? strnlen(text, max + 1) : 0;
}

aud_error begin(uint8_t* out, size_t capacity, size_t* length, size_t need)
{
    if (!out || !length)
        return AUD_INVALIDPARAMETER;
    if (need > capacity || need > 0xFFFF)
        return AUD_NOMEMORY;
    memset(out, 0, need);
    return AUD_SUCCESS;
}

void writeHeader(uint8_t* out, uint16_t version, size_t length, uint16_t seqnum, uint16_t opcode)
{
    const conmon_header h{version, uint16_t(length), seqnum, opcode, CONMON_STATUS_REQUEST};
    conmon_header_write(out, &h);
}

} // namespace

const char* conmon_opcode_name(uint16_t opcode)
{
    return lookup(kOpcodes, opcode);
}

const char* conmon_status_name(uint16_t status)
{
    const uint16_t kind = status & CONMON_STATUS_KIND_MASK;
    return kind < sizeof kStatusNames / sizeof kStatusNames[0] ? kStatusNames[kind] : nullptr;
}

const char* conmon_channel_type_name(uint16_t type)
{
    return type < CONMON_CHANNEL_TYPES ? kChannelNames[type] : nullptr;
}

const char* conmon_subscription_status_name(uint16_t status)
{
    return lookup(kSubscriptionStatus, status);
}

aud_error conmon_status_error(uint16_t status)
{
    const uint16_t kind = status & CONMON_STATUS_KIND_MASK;
    return kind < sizeof kStatusErrors / sizeof kStatusErrors[0] ? kStatusErrors[kind] : AUD_SYSTEM;
}

aud_error conmon_header_read(const uint8_t* data, size_t length, conmon_header* out)
{
    if (!data || !out)
        return AUD_INVALIDPARAMETER;
    if (length < CONMON_HEADER_SIZE)
        return AUD_TRUNCATED;
    *out = {le16(data), le16(data + 2), le16(data + 4), le16(data + 6), le16(data + 8)};
    return AUD_SUCCESS;
}

void conmon_header_write(uint8_t* out, const conmon_header* header)
{
    putLe16(out, header->version);
    putLe16(out + 2, header->length);
    putLe16(out + 4, header->seqnum);
    putLe16(out + 6, header->opcode);
    putLe16(out + 8, header->status);
}

aud_error conmon_build_connect(
    uint8_t* out, size_t capacity, size_t* length, uint16_t version, uint16_t seqnum, const char* name)
{
    const size_t n = boundedLength(name, CONMON_CLIENT_NAME_MAX);
    if (n > CONMON_CLIENT_NAME_MAX)
        return AUD_INVALIDPARAMETER;
    const size_t total = version >= 0x1400 ? 44 : CONMON_HEADER_SIZE + n + 1;
    const aud_error e = begin(out, capacity, length, total);
    if (e != AUD_SUCCESS)
        return e;
    writeHeader(out, version, total, seqnum, CONMON_OP_CONNECT);
    if (n > 0)
        memcpy(out + 10, name, n);
    *length = total;
    return AUD_SUCCESS;
}

aud_error conmon_build_disconnect(uint8_t* out, size_t capacity, size_t* length, uint16_t version, uint16_t seqnum)
{
    const aud_error e = begin(out, capacity, length, CONMON_HEADER_SIZE);
    if (e != AUD_SUCCESS)
        return e;
    writeHeader(out, version, CONMON_HEADER_SIZE, seqnum, CONMON_OP_DISCONNECT);
    *length = CONMON_HEADER_SIZE;
    return AUD_SUCCESS;
}

aud_error conmon_build_register(uint8_t* out, size_t capacity, size_t* length, uint16_t version, uint16_t seqnum,
    bool enable, uint16_t channel_type, bool from_other_devices)
{
    if (channel_type >= CONMON_CHANNEL_TYPES)
        return AUD_INVALIDPARAMETER;
    const size_t total = version >= 0x1100 ? 16 : 14;
    const aud_error e = begin(out, capacity, length, total);
    if (e != AUD_SUCCESS)
        return e;
    writeHeader(out, version, total, seqnum, enable ? CONMON_OP_REGISTER : CONMON_OP_DEREGISTER);
    putLe16(out + 10, channel_type);
    putLe16(out + 12, from_other_devices ? 1 : 0);
    *length = total;
    return AUD_SUCCESS;
}

aud_error conmon_build_subscribe(uint8_t* out, size_t capacity, size_t* length, uint16_t version, uint16_t seqnum,
    bool enable, uint16_t channel_type, const char* device_name)
{
    const size_t n = boundedLength(device_name, CONMON_CLIENT_NAME_MAX);
    if (n > CONMON_CLIENT_NAME_MAX || channel_type >= CONMON_CHANNEL_TYPES)
        return AUD_INVALIDPARAMETER;
    const bool wide = version >= 0x1100;
    const size_t at = wide ? 14 : 12;
    // The stated length runs ten bytes past the name's terminator; they
    // stay zero.
    const size_t total = (wide ? 25 : 23) + n;
    const aud_error e = begin(out, capacity, length, total);
    if (e != AUD_SUCCESS)
        return e;
    writeHeader(out, version, total, seqnum, enable ? CONMON_OP_SUBSCRIBE : CONMON_OP_UNSUBSCRIBE);
    putLe16(out + 10, channel_type);
    if (n > 0)
        memcpy(out + at, device_name, n);
    *length = total;
    return AUD_SUCCESS;
}

void conmon_envelope_write(uint8_t* out, const conmon_envelope* envelope)
{
    putBe16(out, envelope->message_word);
    putBe16(out + 2, envelope->length);
    putBe16(out + 4, envelope->counter);
    putBe16(out + 6, envelope->process_id);
    memcpy(out + 8, envelope->device_id.data, CONMON_ID64_SIZE);
    memcpy(out + 16, envelope->vendor_id.data, CONMON_ID64_SIZE);
}

aud_error conmon_envelope_read(
    const uint8_t* data, size_t length, conmon_envelope* out, const uint8_t** payload, size_t* payload_length)
{
    if (!data || !out || !payload || !payload_length)
        return AUD_INVALIDPARAMETER;
    if (length < CONMON_ENVELOPE_SIZE)
        return AUD_TRUNCATED;
    conmon_envelope env{};
    env.message_word = be16(data);
    env.length = be16(data + 2);
    env.counter = be16(data + 4);
    env.process_id = be16(data + 6);
    memcpy(env.device_id.data, data + 8, CONMON_ID64_SIZE);
    memcpy(env.vendor_id.data, data + 16, CONMON_ID64_SIZE);
    // A length word below the envelope itself would make the payload length
    // wrap; a payload beyond the limit is not one a device sends.
    if (env.length < CONMON_ENVELOPE_SIZE || env.length - CONMON_ENVELOPE_SIZE > CONMON_PAYLOAD_MAX)
        return AUD_INVALIDDATA;
    if (env.length > length)
        return AUD_TRUNCATED;
    *out = env;
    *payload = data + CONMON_ENVELOPE_SIZE;
    *payload_length = env.length - CONMON_ENVELOPE_SIZE;
    return AUD_SUCCESS;
}

aud_error conmon_build_send_message(uint8_t* out, size_t capacity, size_t* length, uint16_t version, uint16_t seqnum,
    uint16_t channel_type, const conmon_id64* target_id, const char* target_name, const conmon_envelope* envelope,
    const uint8_t* payload, size_t payload_length)
{
    if (!envelope || (!payload && payload_length > 0) || payload_length > CONMON_PAYLOAD_MAX
        || channel_type >= CONMON_CHANNEL_TYPES)
        return AUD_INVALIDPARAMETER;
    const bool control = channel_type == CONMON_CHANNEL_CONTROL;
    // The service wants the target's name terminated inside its field.
    const size_t n = boundedLength(target_name, CONMON_CLIENT_NAME_MAX);
    if (control && n > CONMON_CLIENT_NAME_MAX)
        return AUD_INVALIDPARAMETER;
    const size_t at = control ? 52 : 12;
    const size_t total = at + CONMON_ENVELOPE_SIZE + payload_length;
    const aud_error e = begin(out, capacity, length, total);
    if (e != AUD_SUCCESS)
        return e;
    writeHeader(out, version, total, seqnum, CONMON_OP_SEND_MESSAGE);
    putLe16(out + 10, channel_type);
    if (control) {
        if (target_id)
            memcpy(out + 12, target_id->data, CONMON_ID64_SIZE);
        if (n > 0)
            memcpy(out + 20, target_name, n);
    }
    conmon_envelope env = *envelope;
    env.length = uint16_t(CONMON_ENVELOPE_SIZE + payload_length);
    conmon_envelope_write(out + at, &env);
    if (payload_length > 0)
        memcpy(out + at + CONMON_ENVELOPE_SIZE, payload, payload_length);
    *length = total;
    return AUD_SUCCESS;
}

// ---- validation

namespace {

// An envelope length word that a payload can be taken from.
bool envelopeWordSound(uint16_t word)
{
    return word >= CONMON_ENVELOPE_SIZE && word - CONMON_ENVELOPE_SIZE <= CONMON_PAYLOAD_MAX;
}

uint16_t validateConnect(const uint8_t* d, size_t len, uint16_t version, uint16_t kind)
{
    if (kind == CONMON_STATUS_EVENT)
        return CONMON_STATUS_INVALID_STATUS;
    if (kind == CONMON_STATUS_REQUEST) {
        const long n = terminatedWithin(d, len, 10, CONMON_NAME_FIELD);
        if (n < 0)
            return CONMON_STATUS_INVALID_DATA;
        return len >= size_t(n) + 11 ? 0 : CONMON_STATUS_INVALID_SIZE;
    }
    if (version < 0x1200) {
        if (len <= 55)
            return CONMON_STATUS_INVALID_SIZE;
        return uint64_t(le16(d + 54)) * 88 + 56 == len ? 0 : CONMON_STATUS_INVALID_DATA;
    }
    if (len <= 323)
        return CONMON_STATUS_INVALID_SIZE;
    return uint64_t(le16(d + 310)) * le16(d + 312) + le16(d + 314) == len ? 0 : CONMON_STATUS_INVALID_DATA;
}

uint16_t validateRegister(const uint8_t* d, size_t len, uint16_t version, uint16_t kind)
{
    if (kind == CONMON_STATUS_RESPONSE)
        return 0;
    if (kind == CONMON_STATUS_EVENT)
        return CONMON_STATUS_INVALID_STATUS;
    if (len < (version < 0x1100 ? 14u : 16u))
        return CONMON_STATUS_INVALID_SIZE;
    return le16(d + 10) < CONMON_CHANNEL_TYPES && le16(d + 12) <= 1 ? 0 : CONMON_STATUS_INVALID_DATA;
}

// Length a subscription list needs for its count; 0 when the count itself
// is missing.
uint64_t subscriptionListNeed(const uint8_t* d, size_t len, uint16_t version)
{
    if (len < 12)
        return 0;
    return version < 0x1100 ? uint64_t(le16(d + 10)) * 48 + 12 : uint64_t(le16(d + 10)) * 72 + 16;
}

uint16_t validateSubscribe(const uint8_t* d, size_t len, uint16_t version, uint16_t opcode, uint16_t kind)
{
    if (kind == CONMON_STATUS_EVENT)
        return CONMON_STATUS_INVALID_STATUS;
    if (kind == CONMON_STATUS_RESPONSE) {
        if (opcode != CONMON_OP_SUBSCRIBE || len <= 10)
            return 0;
        // The count fills bytes 10-11: an 11-byte list has none to read.
        const uint64_t need = subscriptionListNeed(d, len, version);
        return need != 0 && len >= need ? 0 : CONMON_STATUS_INVALID_SIZE;
    }
    const size_t at = version < 0x1100 ? 12 : 14;
    if (len < at + 2)
        return CONMON_STATUS_INVALID_SIZE;
    const uint16_t type = le16(d + 10);
    if (type < 1 || type >= CONMON_CHANNEL_TYPES || terminatedWithin(d, len, at, CONMON_NAME_FIELD) < 0)
        return CONMON_STATUS_INVALID_DATA;
    return 0;
}

uint16_t validateSendMessage(const uint8_t* d, size_t len, uint16_t kind)
{
    if (kind == CONMON_STATUS_RESPONSE)
        return 0;
    if (kind == CONMON_STATUS_EVENT)
        return CONMON_STATUS_INVALID_STATUS;
    if (len < 36)
        return CONMON_STATUS_INVALID_SIZE;
    const uint16_t type = le16(d + 10);
    if (type != CONMON_CHANNEL_CONTROL) {
        const uint16_t word = be16(d + 14);
        if (type >= CONMON_CHANNEL_TYPES || len < 12u + word || !envelopeWordSound(word))
            return CONMON_STATUS_INVALID_DATA;
        return 0;
    }
    if (len <= 75 || terminatedWithin(d, len, 20, CONMON_NAME_FIELD) < 0)
        return CONMON_STATUS_INVALID_DATA;
    const uint16_t word = be16(d + 54);
    return len >= 52u + word && envelopeWordSound(word) ? 0 : CONMON_STATUS_INVALID_DATA;
}

uint16_t validateNetworks(const uint8_t* d, size_t len, uint16_t version, uint16_t kind)
{
    if (kind != CONMON_STATUS_EVENT)
        return CONMON_STATUS_INVALID_STATUS;
    if (version < 0x1200) {
        if (len < 12)
            return CONMON_STATUS_INVALID_SIZE;
        return uint64_t(le16(d + 10)) * 88 + 12 == len ? 0 : CONMON_STATUS_INVALID_DATA;
    }
    if (len < 16)
        return CONMON_STATUS_INVALID_SIZE;
    // The records are placed by the message's own size and offset, as in a
    // Connect response; the parser reads them by the same words.
    const uint16_t offset = le16(d + 14);
    if (offset < 16)
        return CONMON_STATUS_INVALID_DATA;
    return uint64_t(le16(d + 10)) * le16(d + 12) + offset == len ? 0 : CONMON_STATUS_INVALID_DATA;
}

uint16_t validateChannelMessage(const uint8_t* d, size_t len, uint16_t kind, size_t envelopeAt)
{
    if (kind != CONMON_STATUS_EVENT)
        return CONMON_STATUS_INVALID_STATUS;
    if (len < envelopeAt + CONMON_ENVELOPE_SIZE)
        return CONMON_STATUS_INVALID_SIZE;
    const uint16_t word = be16(d + envelopeAt + 2);
    if (len < envelopeAt + word)
        return CONMON_STATUS_INVALID_SIZE;
    // A length word below 24 would hand the handlers a wrapped payload
    // length.
    return envelopeWordSound(word) ? 0 : CONMON_STATUS_INVALID_DATA;
}

uint16_t validateByOpcode(const uint8_t* d, size_t len, const conmon_header& h)
{
    const uint16_t kind = h.status & CONMON_STATUS_KIND_MASK;
    switch (h.opcode) {
    case CONMON_OP_NULL:
    case CONMON_OP_DISCONNECT:
    case CONMON_OP_ENABLE_TX_METERING:
    case CONMON_OP_DISABLE_TX_METERING:
        return 0;
    case CONMON_OP_CONNECT:
        return validateConnect(d, len, h.version, kind);
    case CONMON_OP_SET_DEVICE_NAME:
    case CONMON_OP_DEVICE_NAME_CHANGED:
        return len > 41 ? 0 : CONMON_STATUS_INVALID_SIZE;
    case CONMON_OP_SET_REMOTE_CONTROL_ALLOWED:
        return len > 11 ? 0 : CONMON_STATUS_INVALID_SIZE;
    case CONMON_OP_DNS_DOMAIN_NAME_CHANGED:
        return len > 265 ? 0 : CONMON_STATUS_INVALID_SIZE;
    case CONMON_OP_REGISTER:
    case CONMON_OP_DEREGISTER:
        return validateRegister(d, len, h.version, kind);
    case CONMON_OP_SUBSCRIBE:
    case CONMON_OP_UNSUBSCRIBE:
        return validateSubscribe(d, len, h.version, h.opcode, kind);
    case CONMON_OP_SEND_MESSAGE:
        return validateSendMessage(d, len, kind);
    case CONMON_OP_NETWORKS_CHANGED:
        return validateNetworks(d, len, h.version, kind);
    case CONMON_OP_CHANNEL_MESSAGE:
        return validateChannelMessage(d, len, kind, 16);
    case CONMON_OP_NAMED_CHANNEL_MESSAGE:
        return validateChannelMessage(d, len, kind, 48);
    case CONMON_OP_LEGACY_METERING_ADDRESSES:
        if (kind != CONMON_STATUS_EVENT)
            return CONMON_STATUS_INVALID_STATUS;
        if (len < 20)
            return CONMON_STATUS_INVALID_SIZE;
        return (uint64_t(le16(d + 16)) + 2 * uint64_t(le16(d + 14))) * 8 + 20 == len ? 0 : CONMON_STATUS_INVALID_SIZE;
    case CONMON_OP_SUBSCRIPTIONS_CHANGED: {
        if (kind != CONMON_STATUS_EVENT)
            return CONMON_STATUS_INVALID_STATUS;
        const uint64_t need = subscriptionListNeed(d, len, h.version);
        return need != 0 && len >= need ? 0 : CONMON_STATUS_INVALID_SIZE;
    }
    default:
        return CONMON_STATUS_NOT_SUPPORTED;
    }
}

} // namespace

uint16_t conmon_message_validate(const uint8_t* data, size_t length)
{
    if (!data || length <= 9)
        return CONMON_STATUS_INVALID_SIZE;
    conmon_header h;
    conmon_header_read(data, length, &h);
    if (h.version < CONMON_VERSION_MIN || h.version > CONMON_VERSION_MAX)
        return CONMON_STATUS_INVALID_VERSION;
    if (h.length != length)
        return CONMON_STATUS_INVALID_SIZE;
    if ((h.status & CONMON_STATUS_KIND_MASK) > CONMON_STATUS_EVENT)
        return 0;
    return validateByOpcode(data, length, h);
}

// ---- parsers

namespace {

void readInterfaceOld(const uint8_t* r, conmon_interface_entry* e)
{
    *e = {};
    e->words[0] = le32(r + 64);
    e->words[2] = le16(r + 74);
    e->words[3] = le32(r + 68);
    e->words[4] = le16(r + 72);
    e->words[5] = le32(r + 76);
    e->words[6] = le32(r + 80);
    e->words[7] = le32(r + 84);
}

void readInterfaceNew(const uint8_t* r, conmon_interface_entry* e)
{
    *e = {};
    e->words[0] = le32(r);
    e->words[1] = le32(r + 4);
    e->words[2] = le16(r + 8);
    e->words[3] = le32(r + 10);
    e->words[4] = le16(r + 14);
    for (size_t i = 0; i < 5; ++i)
        e->words[5 + i] = le32(r + 16 + 4 * i);
}

// Interface records from `first`, each `size` bytes; at most two kept, none
// read when the size is below the least record.
aud_error readInterfaces(
    const uint8_t* d, size_t len, size_t count, size_t first, size_t size, bool oldForm, conmon_interfaces* out)
{
    *out = {};
    if (size < CONMON_INTERFACE_RECORD_MIN)
        return AUD_SUCCESS;
    const size_t kept = count < CONMON_INTERFACES_MAX ? count : CONMON_INTERFACES_MAX;
    for (size_t i = 0; i < kept; ++i) {
        const uint64_t at = first + uint64_t(size) * i;
        if (!fits(len, at, size))
            return AUD_TRUNCATED;
        if (oldForm)
            readInterfaceOld(d + at, &out->entries[i]);
        else
            readInterfaceNew(d + at, &out->entries[i]);
        out->count = uint16_t(i + 1);
    }
    return AUD_SUCCESS;
}

bool parseable(const uint8_t* data, size_t length, const void* out, size_t need)
{
    return data && out && length >= need;
}

} // namespace

aud_error conmon_parse_connect_response(const uint8_t* data, size_t length, conmon_connect_info* out)
{
    if (!data || !out)
        return AUD_INVALIDPARAMETER;
    if (length < CONMON_HEADER_SIZE)
        return AUD_TRUNCATED;
    conmon_connect_info info{};
    const uint16_t version = le16(data);
    aud_error e;
    if (version < 0x1200) {
        if (length < 56)
            return AUD_TRUNCATED;
        // Bytes 10-11 carry no flags in this form.
        copyField(info.device_name, data + 12, CONMON_NAME_FIELD);
        memcpy(info.id.device_id.data, data + 44, CONMON_ID64_SIZE);
        info.id.process_id = le16(data + 52);
        e = readInterfaces(data, length, le16(data + 54), 56, CONMON_INTERFACE_RECORD_OLD, true, &info.interfaces);
    } else {
        if (length < 316)
            return AUD_TRUNCATED;
        info.flags = le16(data + 10);
        copyField(info.device_name, data + 12, CONMON_NAME_FIELD);
        copyField(info.dns_domain, data + 44, CONMON_DOMAIN_FIELD);
        memcpy(info.id.device_id.data, data + 300, CONMON_ID64_SIZE);
        info.id.process_id = le16(data + 308);
        e = readInterfaces(data, length, le16(data + 310), le16(data + 314), le16(data + 312), false, &info.interfaces);
    }
    if (e != AUD_SUCCESS)
        return e;
    *out = info;
    return AUD_SUCCESS;
}

aud_error conmon_parse_networks_changed(const uint8_t* data, size_t length, conmon_interfaces* out)
{
    if (!parseable(data, length, out, 12))
        return data && out ? AUD_TRUNCATED : AUD_INVALIDPARAMETER;
    conmon_interfaces interfaces{};
    aud_error e;
    if (le16(data) < 0x1200) {
        e = readInterfaces(data, length, le16(data + 10), 12, CONMON_INTERFACE_RECORD_OLD, true, &interfaces);
    } else {
        if (length < 16)
            return AUD_TRUNCATED;
        e = readInterfaces(data, length, le16(data + 10), le16(data + 14), le16(data + 12), false, &interfaces);
    }
    if (e == AUD_SUCCESS)
        *out = interfaces;
    return e;
}

namespace {

// The text field right after the header.
aud_error parseTextField(const uint8_t* data, size_t length, char* out, size_t width)
{
    if (!data || !out)
        return AUD_INVALIDPARAMETER;
    if (length < CONMON_HEADER_SIZE + width)
        return AUD_TRUNCATED;
    copyField(out, data + CONMON_HEADER_SIZE, width);
    return AUD_SUCCESS;
}

} // namespace

aud_error conmon_parse_device_name(const uint8_t* data, size_t length, char* out)
{
    return parseTextField(data, length, out, CONMON_NAME_FIELD);
}

aud_error conmon_parse_dns_domain(const uint8_t* data, size_t length, char* out)
{
    return parseTextField(data, length, out, CONMON_DOMAIN_FIELD);
}

aud_error conmon_parse_subscription_list(const uint8_t* data, size_t length, conmon_subscription_list* out)
{
    if (!data || !out)
        return AUD_INVALIDPARAMETER;
    if (length < 12)
        return AUD_TRUNCATED;
    conmon_subscription_list list{};
    list.count = le16(data + 10);
    if (le16(data) < 0x1100) {
        list.apply = 1;
        list.entry_size = 48;
        list.first = 12;
    } else {
        if (length < 16)
            return AUD_TRUNCATED;
        list.apply = le16(data + 12);
        list.entry_size = 72;
        list.first = 16;
    }
    if (!fits(length, list.first, uint64_t(list.count) * list.entry_size))
        return AUD_TRUNCATED;
    *out = list;
    return AUD_SUCCESS;
}

aud_error conmon_parse_subscription_entry(
    const uint8_t* data, size_t length, const conmon_subscription_list* list, size_t i, conmon_subscription_entry* out)
{
    if (!data || !list || !out || (list->entry_size != 48 && list->entry_size != 72))
        return AUD_INVALIDPARAMETER;
    if (i >= list->count)
        return AUD_RANGE;
    const uint64_t at = list->first + uint64_t(list->entry_size) * i;
    if (!fits(length, at, list->entry_size))
        return AUD_TRUNCATED;
    const uint8_t* e = data + at;
    conmon_subscription_entry entry{};
    entry.flags = le16(e);
    entry.channel_type = le16(e + 2);
    copyField(entry.device_name, e + 4, CONMON_NAME_FIELD);
    memcpy(entry.id.device_id.data, e + 36, CONMON_ID64_SIZE);
    entry.id.process_id = le16(e + 44);
    entry.status = le16(e + 46);
    if (list->entry_size == 72) {
        entry.index = le16(e + 48);
        if (le16(data) >= 0x1300) {
            entry.byte50 = e[50];
            entry.byte51 = e[51];
        }
        const uint8_t* b = e + 52;
        entry.addresses.count = le16(b);
        entry.addresses.mask = le16(b + 2);
        for (size_t n = 0; n < CONMON_ADDRESS_NETWORKS; ++n) {
            memcpy(&entry.addresses.networks[n].address, b + 4 + 8 * n, 4);
            entry.addresses.networks[n].port = le16(b + 8 + 8 * n);
        }
    }
    *out = entry;
    return AUD_SUCCESS;
}

aud_error conmon_parse_channel_message(const uint8_t* data, size_t length, conmon_channel_message* out)
{
    if (!data || !out)
        return AUD_INVALIDPARAMETER;
    if (length < 16)
        return AUD_TRUNCATED;
    conmon_channel_message m{};
    m.channel_type = le16(data + 10);
    m.from_other_devices = le16(data + 12);
    m.named = le16(data + 6) == CONMON_OP_NAMED_CHANNEL_MESSAGE;
    size_t at = 16;
    if (m.named) {
        if (length < 48)
            return AUD_TRUNCATED;
        copyField(m.sender_name, data + 16, CONMON_NAME_FIELD);
        at = 48;
    }
    const aud_error e = conmon_envelope_read(data + at, length - at, &m.envelope, &m.payload, &m.payload_length);
    if (e != AUD_SUCCESS)
        return e;
    *out = m;
    return AUD_SUCCESS;
}
