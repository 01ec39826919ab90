// The socket service's message channel: "VSOK" messages that would carry
// socket operations between a requesting and an answering side. No transport
// is attached; the records, the payload encoding and the frame format are
// kept fixed here.
//
// Header (big-endian): "VSOK", payload length, sequence number, then the
// command tag: row (1, 2 or 4; | 0x80 in a reply), 0, group, argument count.
// Payload: arguments, each a 16-bit big-endian length, the bytes 00 01, the
// bytes, zero padding to a multiple of 4. Frame: 0xC0, the message with
// C0 -> DB DC, DB -> DB DD, C1 -> DB DE, then 0xC1.
#pragma once

#include "pbd/OSWRAP/oswrap.h"
#include "pbd/vsock/vsock.h"

#include <cstdint>
#include <mutex>

constexpr int VSOCK_MSG_LAST_CODE = 54;
constexpr int VSOCK_MSG_NO_MESSAGE = 27; // carries no message
constexpr int VSOCK_MSG_FIRST_REPLY = 28; // replies: code - 28 is the request
constexpr uint32_t VSOCK_MSG_HEADER_SIZE = 16;
constexpr uint32_t VSOCK_MSG_MAX_PAYLOAD = 4096;
// Room for the worst case: every byte escaped, plus the two frame bytes.
constexpr uint32_t VSOCK_MSG_FRAME_SIZE = 2 + 2 * (VSOCK_MSG_HEADER_SIZE + VSOCK_MSG_MAX_PAYLOAD);
constexpr uint32_t VSOCK_MSG_TIMEOUT_MS = 5000;
constexpr int VSOCK_MSG_POOL_SIZE = 16;
constexpr uint8_t VSOCK_MSG_REPLY_BIT = 0x80;

enum VSockRequestState { VSOCK_REQ_FREE = 0, VSOCK_REQ_BUILDING = 1, VSOCK_REQ_QUEUED = 2 };

struct VSockRequest {
    VSockRequest* next;
    int state;
    bool sent;
    OswrapTimer timer;
    uint32_t sequence;
    uint8_t tag[4]; // row (| 0x80 in a reply), 0, group, argument count
    uint32_t payloadLength;
    uint8_t message[VSOCK_MSG_HEADER_SIZE + VSOCK_MSG_MAX_PAYLOAD];
    uint8_t frame[VSOCK_MSG_FRAME_SIZE];
    uint32_t frameLength;
};

struct VSockChannel {
    std::mutex lock;
    VSockRequest pool[VSOCK_MSG_POOL_SIZE];
    VSockRequest* queueHead;
    VSockRequest* queueTail;
    uint32_t nextSequence;
};

// The (row, group) pair of a command code 0..54 other than 27; false otherwise.
bool vsock_msgCodeTag(int code, uint8_t* row, uint8_t* group);

void vsock_msgChannelInit(VSockChannel* channel);

// A free record for the command code, in state 1 with an empty payload.
// Requests (0..26) take the channel's next sequence number; replies (28..54)
// carry replySequence. Null for code 27, a code above 54, no channel or no
// free record.
VSockRequest* vsock_msgTake(VSockChannel* channel, int code, uint32_t replySequence);
// Returns a record to the pool.
void vsock_msgRelease(VSockChannel* channel, VSockRequest* request);

void vsock_msgResetPayload(VSockRequest* request);
// Appends one argument. asInteger: data is a host integer of 1, 2 or 4 bytes,
// stored big-endian. VSOCK_E_OBJ when the record is queued, VSOCK_E_RESOURCE
// when the payload would pass 4096 bytes or hold more than 255 arguments,
// VSOCK_E_PARAM for a bad argument.
VSockResult vsock_msgAppend(VSockRequest* request, const void* data, uint32_t length, bool asInteger);
// An address record with its family and scope id big-endian.
VSockResult vsock_msgAppendAddress(VSockRequest* request, const VSockAddress* address);

// Writes the header, frames the message, starts the 5000 ms timer and queues
// the record (state 2). VSOCK_E_PARAM without channel or record, VSOCK_E_OBJ
// when already queued.
VSockResult vsock_msgSend(VSockChannel* channel, VSockRequest* request);
// The oldest queued record, or null.
VSockRequest* vsock_msgNext(VSockChannel* channel);

// Frames `length` bytes into out (capacity bytes); the framed length, or 0
// when it does not fit.
uint32_t vsock_msgFrame(const uint8_t* message, uint32_t length, uint8_t* out, uint32_t capacity);
