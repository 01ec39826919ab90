// The local messages exchanged with the PC's control-and-monitoring service:
// the 10-byte header, opcode and status tables, request builders, the
// validation every received message passes before anything reads it, the
// parsers of responses and events, and the 24-byte channel-message envelope.
//
// The header and bodies are little-endian, the envelope big-endian. Every
// builder writes into the caller's buffer and answers NOMEMORY when it does
// not fit; every parser assumes a message that conmon_message_validate
// accepted and still checks each field it reads against the length.
#pragma once

#include "dante/conmon/conmon_id.h"
#include "dante/support/aud_error.h"

#include <cstddef>
#include <cstdint>

constexpr uint16_t CONMON_VERSION_DEFAULT = 0x1500;
constexpr uint16_t CONMON_VERSION_MIN = 0x1000;
constexpr uint16_t CONMON_VERSION_MAX = 0x1FFF;

constexpr size_t CONMON_HEADER_SIZE = 10;
constexpr size_t CONMON_ENVELOPE_SIZE = 24;
constexpr size_t CONMON_PAYLOAD_MAX = 1448;
// Transmit and receive buffers: the largest local message handled.
constexpr size_t CONMON_MESSAGE_MAX = 6940;
// Name fields on the wire and the texts kept from them (with the NUL).
constexpr size_t CONMON_NAME_FIELD = 32;
constexpr size_t CONMON_DOMAIN_FIELD = 256;
constexpr size_t CONMON_DOMAIN_SIZE = CONMON_DOMAIN_FIELD + 1;
// A client name holds at most 31 characters.
constexpr size_t CONMON_CLIENT_NAME_MAX = 31;

enum conmon_opcode : uint16_t {
    CONMON_OP_NULL = 0x0000,
    CONMON_OP_CONNECT = 0x0100,
    CONMON_OP_DISCONNECT = 0x0101,
    CONMON_OP_SET_DEVICE_NAME = 0x0200,
    CONMON_OP_SET_REMOTE_CONTROL_ALLOWED = 0x0210,
    CONMON_OP_REGISTER = 0x0300,
    CONMON_OP_DEREGISTER = 0x0301,
    CONMON_OP_SUBSCRIBE = 0x0310,
    CONMON_OP_UNSUBSCRIBE = 0x0311,
    CONMON_OP_ENABLE_TX_METERING = 0x0320,
    CONMON_OP_DISABLE_TX_METERING = 0x0321,
    CONMON_OP_SEND_MESSAGE = 0x0400,
    CONMON_OP_NETWORKS_CHANGED = 0x0500,
    CONMON_OP_DEVICE_NAME_CHANGED = 0x0501,
    CONMON_OP_DNS_DOMAIN_NAME_CHANGED = 0x0502,
    CONMON_OP_CHANNEL_MESSAGE = 0x0510,
    CONMON_OP_NAMED_CHANNEL_MESSAGE = 0x0511,
    CONMON_OP_LEGACY_METERING_ADDRESSES = 0x0520,
    CONMON_OP_SUBSCRIPTIONS_CHANGED = 0x0521,
};

// Low 12 bits of the header's status word.
enum conmon_status : uint16_t {
    CONMON_STATUS_REQUEST = 0,
    CONMON_STATUS_RESPONSE = 1,
    CONMON_STATUS_EVENT = 2,
    CONMON_STATUS_INVALID_VERSION = 3,
    CONMON_STATUS_INVALID_SIZE = 4,
    CONMON_STATUS_INVALID_OPCODE = 5,
    CONMON_STATUS_INVALID_STATUS = 6,
    CONMON_STATUS_INVALID_DATA = 7,
    CONMON_STATUS_INTERNAL_ERROR = 8,
    CONMON_STATUS_NOT_SUPPORTED = 9,
    CONMON_STATUS_TIMEOUT = 10,
    CONMON_STATUS_INVALID_STATE = 11,
    CONMON_STATUS_NO_BUFFERS = 12,
    CONMON_STATUS_NOT_FOUND = 13,
};
constexpr uint16_t CONMON_STATUS_KIND_MASK = 0x0FFF;
// Top bits of a fire-and-forget request when the server asked for them.
constexpr uint16_t CONMON_STATUS_NO_REPLY = 0xF000;

enum conmon_channel_type : uint16_t {
    CONMON_CHANNEL_CONTROL = 0,
    CONMON_CHANNEL_METERING = 1,
    CONMON_CHANNEL_STATUS = 2,
    CONMON_CHANNEL_BROADCAST = 3,
    CONMON_CHANNEL_LOCAL = 4,
    CONMON_CHANNEL_SERIAL = 5,
    CONMON_CHANNEL_KEEPALIVE = 6,
    CONMON_CHANNEL_VENDOR_BROADCAST = 7,
    CONMON_CHANNEL_MONITORING = 8,
};
constexpr uint16_t CONMON_CHANNEL_TYPES = 9;

struct conmon_header {
    uint16_t version;
    uint16_t length;
    uint16_t seqnum;
    uint16_t opcode;
    uint16_t status;
};

// Names as log lines print them; null for a value outside the tables.
const char* conmon_opcode_name(uint16_t opcode);
// Of the low 12 bits.
const char* conmon_status_name(uint16_t status);
const char* conmon_channel_type_name(uint16_t type);
const char* conmon_subscription_status_name(uint16_t status);
// The error a response's status completes its request with (low 12 bits;
// 0..2 give SUCCESS, an unknown value SYSTEM).
aud_error conmon_status_error(uint16_t status);

// INVALIDPARAMETER for null arguments, TRUNCATED below 10 bytes.
aud_error conmon_header_read(const uint8_t* data, size_t length, conmon_header* out);
void conmon_header_write(uint8_t* out, const conmon_header* header);

// ---- requests. Each writes a whole message (header included) into out
// (capacity bytes) and its length into *length. seqnum 0 leaves the number
// to the sender.

// Short form (name NUL-terminated, 10 + name + 1 bytes) below 0x1400, else
// the 44-byte form. A name longer than 31 characters: INVALIDPARAMETER.
aud_error conmon_build_connect(
    uint8_t* out, size_t capacity, size_t* length, uint16_t version, uint16_t seqnum, const char* name);
aud_error conmon_build_disconnect(uint8_t* out, size_t capacity, size_t* length, uint16_t version, uint16_t seqnum);
// Register when `enable`, else Deregister; 14 bytes below 0x1100, else 16.
aud_error conmon_build_register(uint8_t* out, size_t capacity, size_t* length, uint16_t version, uint16_t seqnum,
    bool enable, uint16_t channel_type, bool from_other_devices);
// Subscribe when `enable`, else Unsubscribe; device_name null or "" for a
// global subscription. The length is 23 + name (below 0x1100) or 25 + name:
// the ten bytes past the name's terminator are zero.
aud_error conmon_build_subscribe(uint8_t* out, size_t capacity, size_t* length, uint16_t version, uint16_t seqnum,
    bool enable, uint16_t channel_type, const char* device_name);

struct conmon_envelope {
    uint16_t message_word;
    uint16_t length; // 24 + payload length
    uint16_t counter;
    uint16_t process_id;
    conmon_id64 device_id;
    conmon_id64 vendor_id;
};

// The vendor id of every payload this system sends: "Audinate".
extern const conmon_id64 CONMON_VENDOR_AUDINATE;

// Send Message. Type 0 (control) carries the target id (null: zero) and
// name; other types only the envelope. The envelope's length word is set
// from payload_length. A payload above 1448 bytes: INVALIDPARAMETER.
aud_error conmon_build_send_message(uint8_t* out, size_t capacity, size_t* length, uint16_t version, uint16_t seqnum,
    uint16_t channel_type, const conmon_id64* target_id, const char* target_name, const conmon_envelope* envelope,
    const uint8_t* payload, size_t payload_length);

// 24 big-endian bytes.
void conmon_envelope_write(uint8_t* out, const conmon_envelope* envelope);
// Reads an envelope and locates its payload: the envelope must lie inside
// `length`, its length word be at least 24 with a payload of at most 1448
// bytes (INVALIDDATA) that lies inside `length` (TRUNCATED).
aud_error conmon_envelope_read(
    const uint8_t* data, size_t length, conmon_envelope* out, const uint8_t** payload, size_t* payload_length);

// ---- validation: 0 ("Request") when the message may be parsed, else the
// status value naming the first failure (3..9).
uint16_t conmon_message_validate(const uint8_t* data, size_t length);

// ---- responses and events

constexpr size_t CONMON_INTERFACES_MAX = 2;
constexpr size_t CONMON_INTERFACE_WORDS = 10;
// Record sizes of the old interface form and the least of the new one.
constexpr size_t CONMON_INTERFACE_RECORD_OLD = 88;
constexpr size_t CONMON_INTERFACE_RECORD_MIN = 36;

// W1..W10 of an interface: W1 is its system interface index, W7 its IPv4
// address (the four bytes as they travel, read as a little-endian word).
struct conmon_interface_entry {
    uint8_t flag;
    uint32_t words[CONMON_INTERFACE_WORDS];
};
struct conmon_interfaces {
    uint16_t count;
    conmon_interface_entry entries[CONMON_INTERFACES_MAX];
};
constexpr size_t CONMON_WORD_INDEX = 0; // W1
constexpr size_t CONMON_WORD_ADDRESS = 6; // W7

struct conmon_connect_info {
    uint16_t flags; // bit 0: mark fire-and-forget requests
    char device_name[CONMON_DEVICE_NAME_SIZE];
    char dns_domain[CONMON_DOMAIN_SIZE];
    conmon_instance_id id;
    conmon_interfaces interfaces;
};

// A Connect response in the form of its own version.
aud_error conmon_parse_connect_response(const uint8_t* data, size_t length, conmon_connect_info* out);
// Networks Changed.
aud_error conmon_parse_networks_changed(const uint8_t* data, size_t length, conmon_interfaces* out);
// Set Dante Device Name response and Dante Device Name Changed: 32 bytes at
// 10. DNS_DOMAIN_NAME_CHANGED: 256 bytes at 10.
aud_error conmon_parse_device_name(const uint8_t* data, size_t length, char* out /* 33 bytes */);
aud_error conmon_parse_dns_domain(const uint8_t* data, size_t length, char* out /* 257 bytes */);

constexpr size_t CONMON_ADDRESS_NETWORKS = 2;
struct conmon_address_block {
    uint16_t count;
    uint16_t mask;
    struct {
        uint32_t address; // as it travels (network order in memory)
        uint16_t port;
    } networks[CONMON_ADDRESS_NETWORKS];
};

// Entry flag bits.
constexpr uint16_t CONMON_SUBSCRIPTION_HAS_ID = 0x0001;
constexpr uint16_t CONMON_SUBSCRIPTION_HAS_ADDRESSES = 0x0002;

struct conmon_subscription_entry {
    uint16_t flags;
    uint16_t channel_type;
    char device_name[CONMON_DEVICE_NAME_SIZE];
    conmon_instance_id id;
    uint16_t status;
    uint16_t index; // the u16 at 48 (0 in the 48-byte form)
    uint8_t byte50; // from 0x1300
    uint8_t byte51;
    conmon_address_block addresses;
};

struct conmon_subscription_list {
    uint16_t count;
    // The u16 at 12 from 0x1100: the list is applied only when it is
    // nonzero; always 1 in the older form.
    uint16_t apply;
    size_t entry_size; // 48 or 72
    size_t first; // 12 or 16
};

// Subscribe response or Subscriptions Changed: count and layout, the count
// checked against the bytes present (TRUNCATED).
aud_error conmon_parse_subscription_list(const uint8_t* data, size_t length, conmon_subscription_list* out);
// Entry i of a list parsed above.
aud_error conmon_parse_subscription_entry(
    const uint8_t* data, size_t length, const conmon_subscription_list* list, size_t i, conmon_subscription_entry* out);

struct conmon_channel_message {
    uint16_t channel_type;
    uint16_t from_other_devices;
    bool named;
    char sender_name[CONMON_DEVICE_NAME_SIZE]; // named messages only
    conmon_envelope envelope;
    const uint8_t* payload; // inside the datagram
    size_t payload_length; // envelope length - 24
};

// Channel Message or Named Channel Message.
aud_error conmon_parse_channel_message(const uint8_t* data, size_t length, conmon_channel_message* out);
