// DGCP2 message buffer: a big-endian header of 10 bytes (type 1) or 20 bytes
// (type 2) followed by a body of elements (dgcp2_element.h).
//
//   offset 0  u16 protocol word       offset 6  u16 opcode
//          2  u16 total length        offset 8  u16 status
//          4  u16 sequence number     type 2:  10 u16 client port, 12 client id (8 bytes)
//
// The header's length field is the message length: it starts at the header
// size and grows as elements are appended.
#pragma once

#include "dante/support/aud_error.h"

#include <cstddef>
#include <cstdint>

constexpr size_t DGCP2_MESSAGE_SIZE = 1472;
constexpr uint8_t DGCP2_HEADER_TYPE_1 = 1;
constexpr uint8_t DGCP2_HEADER_TYPE_2 = 2;
constexpr uint16_t DGCP2_HEADER_SIZE_1 = 10;
constexpr uint16_t DGCP2_HEADER_SIZE_2 = 20;
constexpr size_t DGCP2_CLIENT_ID_SIZE = 8;

// Opcodes every user shares.
constexpr uint16_t DGCP2_OPCODE_KEEPALIVE = 0;
constexpr uint16_t DGCP2_OPCODE_CONNECT = 1;
constexpr uint16_t DGCP2_OPCODE_DISCONNECT = 2;

// Message status values.
constexpr uint16_t DGCP2_STATUS_REQUEST = 0;
constexpr uint16_t DGCP2_STATUS_RESPONSE = 1;
constexpr uint16_t DGCP2_STATUS_EVENT = 2;
constexpr uint16_t DGCP2_STATUS_OPCODE_ERROR = 0x30;
constexpr uint16_t DGCP2_STATUS_UNRECOGNISED_OPCODE = 0x31;
constexpr uint16_t DGCP2_STATUS_UNSUPPORTED_OPCODE = 0x32;
constexpr uint16_t DGCP2_STATUS_SERVER_ERROR = 0x80;
constexpr uint16_t DGCP2_STATUS_NOT_CONNECTED = 0x81;
constexpr uint16_t DGCP2_STATUS_TOO_MANY_CLIENTS = 0x82;

struct dgcp2_message {
    uint8_t data[DGCP2_MESSAGE_SIZE];
    uint8_t header_type;
    uint16_t header_size;
    uint16_t body_capacity;
};

// Sets the type (1 or 2, else INVALIDPARAMETER), its sizes, and an empty
// message (length = header size, every header byte 0).
aud_error dgcp2_message_init(dgcp2_message* msg, uint8_t header_type);

// Starts a message: protocol word, length = header size, sequence 0, opcode,
// status 0. The client port and id of a type 2 header are kept.
void dgcp2_message_header_init(dgcp2_message* msg, uint16_t protocol, uint16_t opcode);

// Takes a received datagram: INVALIDPARAMETER for a bad type or a datagram
// above DGCP2_MESSAGE_SIZE, TRUNCATED when it is shorter than the header,
// INVALIDDATA when the header's length differs from its size. Nothing of a
// refused datagram is kept as a valid message.
aud_error dgcp2_message_load(dgcp2_message* msg, uint8_t header_type, const void* bytes, size_t size);

uint16_t dgcp2_message_protocol(const dgcp2_message* msg);
uint16_t dgcp2_message_length(const dgcp2_message* msg);
uint16_t dgcp2_message_seqnum(const dgcp2_message* msg);
uint16_t dgcp2_message_opcode(const dgcp2_message* msg);
uint16_t dgcp2_message_status(const dgcp2_message* msg);
// Type 2 only (0 / zeros for type 1).
uint16_t dgcp2_message_client_port(const dgcp2_message* msg);
void dgcp2_message_client_id(const dgcp2_message* msg, uint8_t out[DGCP2_CLIENT_ID_SIZE]);

void dgcp2_message_set_seqnum(dgcp2_message* msg, uint16_t seqnum);
void dgcp2_message_set_status(dgcp2_message* msg, uint16_t status);
// Writes the client port and id of a type 2 header; nothing for type 1.
void dgcp2_message_set_client(dgcp2_message* msg, uint16_t port, const uint8_t id[DGCP2_CLIENT_ID_SIZE]);

// Body bytes in use (length - header size) and where they start.
uint16_t dgcp2_message_body_length(const dgcp2_message* msg);
const uint8_t* dgcp2_message_body(const dgcp2_message* msg);
uint8_t* dgcp2_message_body(dgcp2_message* msg);

// "Request", "Response", "Event", "Opcode error", "Unrecognised opcode",
// "Unsupported opcode", "Server error", "Not connected", "Too many clients";
// "?" for any other value.
const char* dgcp2_status_name(uint16_t status);

// Big-endian helpers shared by the element code.
inline uint16_t dgcp2_get_u16(const uint8_t* p)
{
    return uint16_t((p[0] << 8) | p[1]);
}
inline void dgcp2_put_u16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
