#include "pbd/vsock/vsock_msg.h"

#include "pbd/jlib/jlib_bytes.h"

#include <cstring>

namespace {

struct CodeTag {
    uint8_t row;
    uint8_t group;
};

// Requests 0..26; the reply to request k is code k + 28 with the same pair.
const CodeTag kRequestTags[27] = {{1, 0}, {1, 1}, {1, 2}, {1, 3}, {1, 4}, {2, 5}, {1, 5}, {2, 6}, {1, 7}, {1, 8},
    {1, 9}, {1, 10}, {2, 11}, {1, 11}, {2, 12}, {4, 12}, {2, 13}, {1, 12}, {2, 14}, {1, 14}, {2, 15}, {1, 15}, {2, 16},
    {1, 16}, {1, 17}, {1, 18}, {2, 19}};

} // namespace

bool vsock_msgCodeTag(int code, uint8_t* row, uint8_t* group)
{
    if (code < 0 || code > VSOCK_MSG_LAST_CODE || code == VSOCK_MSG_NO_MESSAGE)
        return false;
    const CodeTag& t = kRequestTags[code < VSOCK_MSG_FIRST_REPLY ? code : code - VSOCK_MSG_FIRST_REPLY];
    *row = t.row;
    *group = t.group;
    return true;
}

void vsock_msgChannelInit(VSockChannel* channel)
{
    std::lock_guard<std::mutex> guard(channel->lock);
    for (VSockRequest& r : channel->pool) {
        r.next = nullptr;
        r.state = VSOCK_REQ_FREE;
        r.sent = false;
        r.timer = OswrapTimer{};
        r.payloadLength = 0;
        r.frameLength = 0;
    }
    channel->queueHead = nullptr;
    channel->queueTail = nullptr;
    channel->nextSequence = 0;
}

VSockRequest* vsock_msgTake(VSockChannel* channel, int code, uint32_t replySequence)
{
    uint8_t row = 0;
    uint8_t group = 0;
    if (!channel || !vsock_msgCodeTag(code, &row, &group))
        return nullptr;
    std::lock_guard<std::mutex> guard(channel->lock);
    for (VSockRequest& r : channel->pool) {
        if (r.state != VSOCK_REQ_FREE)
            continue;
        const bool reply = code >= VSOCK_MSG_FIRST_REPLY;
        r.next = nullptr;
        r.sent = false;
        r.timer = OswrapTimer{};
        r.sequence = reply ? replySequence : channel->nextSequence++;
        r.tag[0] = static_cast<uint8_t>(row | (reply ? VSOCK_MSG_REPLY_BIT : 0));
        r.tag[1] = 0;
        r.tag[2] = group;
        r.tag[3] = 0;
        r.payloadLength = 0;
        r.frameLength = 0;
        r.state = VSOCK_REQ_BUILDING;
        return &r;
    }
    return nullptr;
}

void vsock_msgRelease(VSockChannel* channel, VSockRequest* request)
{
    if (!channel || !request)
        return;
    std::lock_guard<std::mutex> guard(channel->lock);
    // A queued record leaves the queue first.
    VSockRequest** link = &channel->queueHead;
    VSockRequest* previous = nullptr;
    while (*link && *link != request) {
        previous = *link;
        link = &(*link)->next;
    }
    if (*link) {
        *link = request->next;
        if (channel->queueTail == request)
            channel->queueTail = previous;
    }
    request->next = nullptr;
    request->state = VSOCK_REQ_FREE;
}

void vsock_msgResetPayload(VSockRequest* request)
{
    if (!request)
        return;
    request->tag[3] = 0;
    request->payloadLength = 0;
    request->state = VSOCK_REQ_BUILDING;
}

VSockResult vsock_msgAppend(VSockRequest* request, const void* data, uint32_t length, bool asInteger)
{
    if (!request || (!data && length > 0))
        return VSOCK_E_PARAM;
    if (request->state != VSOCK_REQ_FREE && request->state != VSOCK_REQ_BUILDING)
        return VSOCK_E_OBJ;
    if (asInteger && length != 1 && length != 2 && length != 4)
        return VSOCK_E_PARAM;
    const uint64_t padded = (uint64_t{length} + 3) & ~uint64_t{3};
    if (uint64_t{request->payloadLength} + 4 + padded > VSOCK_MSG_MAX_PAYLOAD)
        return VSOCK_E_RESOURCE;
    // The count is one byte in the header.
    if (request->tag[3] == 0xFF)
        return VSOCK_E_RESOURCE;

    uint8_t* p = request->message + VSOCK_MSG_HEADER_SIZE + request->payloadLength;
    p[0] = static_cast<uint8_t>(length >> 8);
    p[1] = static_cast<uint8_t>(length);
    p[2] = 0;
    p[3] = 1;
    uint8_t* body = p + 4;
    if (asInteger) {
        uint32_t value = 0;
        if (length == 1) {
            uint8_t v;
            memcpy(&v, data, 1);
            value = v;
        } else if (length == 2) {
            uint16_t v;
            memcpy(&v, data, 2);
            value = v;
        } else {
            memcpy(&value, data, 4);
        }
        for (uint32_t i = 0; i < length; ++i)
            body[i] = static_cast<uint8_t>(value >> (8 * (length - 1 - i)));
    } else if (length > 0) {
        memcpy(body, data, length);
    }
    memset(body + length, 0, static_cast<size_t>(padded - length));
    request->payloadLength += static_cast<uint32_t>(4 + padded);
    ++request->tag[3];
    return VSOCK_OK;
}

VSockResult vsock_msgAppendAddress(VSockRequest* request, const VSockAddress* address)
{
    if (!address)
        return VSOCK_E_PARAM;
    uint8_t bytes[sizeof(VSockAddress)];
    jlib_store32be(bytes, address->family);
    memcpy(bytes + 4, address->addr, 16);
    jlib_store32be(bytes + 20, address->scopeId);
    return vsock_msgAppend(request, bytes, sizeof bytes, false);
}

uint32_t vsock_msgFrame(const uint8_t* message, uint32_t length, uint8_t* out, uint32_t capacity)
{
    uint64_t n = 0;
    auto put = [&](uint8_t b) {
        if (n < capacity)
            out[n] = b;
        ++n;
    };
    put(0xC0);
    for (uint32_t i = 0; i < length; ++i) {
        const uint8_t b = message[i];
        if (b == 0xC0) {
            put(0xDB);
            put(0xDC);
        } else if (b == 0xDB) {
            put(0xDB);
            put(0xDD);
        } else if (b == 0xC1) {
            put(0xDB);
            put(0xDE);
        } else {
            put(b);
        }
    }
    put(0xC1);
    return n <= capacity ? static_cast<uint32_t>(n) : 0;
}

VSockResult vsock_msgSend(VSockChannel* channel, VSockRequest* request)
{
    if (!channel || !request)
        return VSOCK_E_PARAM;
    if (request->state >= VSOCK_REQ_QUEUED)
        return VSOCK_E_OBJ;
    uint8_t* h = request->message;
    memcpy(h, "VSOK", 4);
    jlib_store32be(h + 4, request->payloadLength);
    jlib_store32be(h + 8, request->sequence);
    memcpy(h + 12, request->tag, 4);
    request->frameLength
        = vsock_msgFrame(h, VSOCK_MSG_HEADER_SIZE + request->payloadLength, request->frame, sizeof request->frame);
    if (request->frameLength == 0)
        return VSOCK_E_RESOURCE;
    request->state = VSOCK_REQ_QUEUED;
    request->sent = true;
    oswrap_startTimer(&request->timer, VSOCK_MSG_TIMEOUT_MS);
    std::lock_guard<std::mutex> guard(channel->lock);
    request->next = nullptr;
    if (channel->queueTail)
        channel->queueTail->next = request;
    else
        channel->queueHead = request;
    channel->queueTail = request;
    return VSOCK_OK;
}

VSockRequest* vsock_msgNext(VSockChannel* channel)
{
    if (!channel)
        return nullptr;
    std::lock_guard<std::mutex> guard(channel->lock);
    VSockRequest* r = channel->queueHead;
    if (r) {
        channel->queueHead = r->next;
        if (!channel->queueHead)
            channel->queueTail = nullptr;
        r->next = nullptr;
    }
    return r;
}
