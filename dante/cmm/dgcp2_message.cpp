#include "dante/cmm/dgcp2_message.h"

#include <cstring>

namespace {

constexpr size_t kProtocol = 0;
constexpr size_t kLength = 2;
constexpr size_t kSeqnum = 4;
constexpr size_t kOpcode = 6;
constexpr size_t kStatus = 8;
constexpr size_t kClientPort = 10;
constexpr size_t kClientId = 12;

bool setType(dgcp2_message* msg, uint8_t header_type)
{
    if (header_type != DGCP2_HEADER_TYPE_1 && header_type != DGCP2_HEADER_TYPE_2)
        return false;
    msg->header_type = header_type;
    msg->header_size = header_type == DGCP2_HEADER_TYPE_1 ? DGCP2_HEADER_SIZE_1 : DGCP2_HEADER_SIZE_2;
    msg->body_capacity = uint16_t(DGCP2_MESSAGE_SIZE - msg->header_size);
    return true;
}

} // namespace

aud_error dgcp2_message_init(dgcp2_message* msg, uint8_t header_type)
{
    if (!msg || !setType(msg, header_type))
        return AUD_INVALIDPARAMETER;
    memset(msg->data, 0, sizeof msg->data);
    dgcp2_put_u16(msg->data + kLength, msg->header_size);
    return AUD_SUCCESS;
}

void dgcp2_message_header_init(dgcp2_message* msg, uint16_t protocol, uint16_t opcode)
{
    dgcp2_put_u16(msg->data + kProtocol, protocol);
    dgcp2_put_u16(msg->data + kLength, msg->header_size);
    dgcp2_put_u16(msg->data + kSeqnum, 0);
    dgcp2_put_u16(msg->data + kOpcode, opcode);
    dgcp2_put_u16(msg->data + kStatus, DGCP2_STATUS_REQUEST);
}

aud_error dgcp2_message_load(dgcp2_message* msg, uint8_t header_type, const void* bytes, size_t size)
{
    if (!msg || (!bytes && size) || size > DGCP2_MESSAGE_SIZE || dgcp2_message_init(msg, header_type) != AUD_SUCCESS)
        return AUD_INVALIDPARAMETER;
    if (size < msg->header_size)
        return AUD_TRUNCATED;
    if (dgcp2_get_u16(static_cast<const uint8_t*>(bytes) + kLength) != size)
        return AUD_INVALIDDATA;
    memcpy(msg->data, bytes, size);
    return AUD_SUCCESS;
}

uint16_t dgcp2_message_protocol(const dgcp2_message* msg)
{
    return dgcp2_get_u16(msg->data + kProtocol);
}

uint16_t dgcp2_message_length(const dgcp2_message* msg)
{
    return dgcp2_get_u16(msg->data + kLength);
}

uint16_t dgcp2_message_seqnum(const dgcp2_message* msg)
{
    return dgcp2_get_u16(msg->data + kSeqnum);
}

uint16_t dgcp2_message_opcode(const dgcp2_message* msg)
{
    return dgcp2_get_u16(msg->data + kOpcode);
}

uint16_t dgcp2_message_status(const dgcp2_message* msg)
{
    return dgcp2_get_u16(msg->data + kStatus);
}

uint16_t dgcp2_message_client_port(const dgcp2_message* msg)
{
    return msg->header_type == DGCP2_HEADER_TYPE_2 ? dgcp2_get_u16(msg->data + kClientPort) : 0;
}

void dgcp2_message_client_id(const dgcp2_message* msg, uint8_t out[DGCP2_CLIENT_ID_SIZE])
{
    if (msg->header_type == DGCP2_HEADER_TYPE_2)
        memcpy(out, msg->data + kClientId, DGCP2_CLIENT_ID_SIZE);
    else
        memset(out, 0, DGCP2_CLIENT_ID_SIZE);
}

void dgcp2_message_set_seqnum(dgcp2_message* msg, uint16_t seqnum)
{
    dgcp2_put_u16(msg->data + kSeqnum, seqnum);
}

void dgcp2_message_set_status(dgcp2_message* msg, uint16_t status)
{
    dgcp2_put_u16(msg->data + kStatus, status);
}

void dgcp2_message_set_client(dgcp2_message* msg, uint16_t port, const uint8_t id[DGCP2_CLIENT_ID_SIZE])
{
    if (msg->header_type != DGCP2_HEADER_TYPE_2)
        return;
    dgcp2_put_u16(msg->data + kClientPort, port);
    memcpy(msg->data + kClientId, id, DGCP2_CLIENT_ID_SIZE);
}

uint16_t dgcp2_message_body_length(const dgcp2_message* msg)
{
    const uint16_t length = dgcp2_message_length(msg);
    // A length below the header (never the case for a loaded message) is an empty body.
    if (length <= msg->header_size)
        return 0;
    const uint16_t body = uint16_t(length - msg->header_size);
    return body < msg->body_capacity ? body : msg->body_capacity;
}

const uint8_t* dgcp2_message_body(const dgcp2_message* msg)
{
    return msg->data + msg->header_size;
}

uint8_t* dgcp2_message_body(dgcp2_message* msg)
{
    return msg->data + msg->header_size;
}

const char* dgcp2_status_name(uint16_t status)
{
    switch (status) {
    case DGCP2_STATUS_REQUEST:
        return "Request";
    case DGCP2_STATUS_RESPONSE:
        return "Response";
    case DGCP2_STATUS_EVENT:
        return "Event";
    case DGCP2_STATUS_OPCODE_ERROR:
        return "Opcode error";
    case DGCP2_STATUS_UNRECOGNISED_OPCODE:
        return "Unrecognised opcode";
    case DGCP2_STATUS_UNSUPPORTED_OPCODE:
        return "Unsupported opcode";
    case DGCP2_STATUS_SERVER_ERROR:
        return "Server error";
    case DGCP2_STATUS_NOT_CONNECTED:
        return "Not connected";
    case DGCP2_STATUS_TOO_MANY_CLIENTS:
        return "Too many clients";
    default:
        return "?";
    }
}
