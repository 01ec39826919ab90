#include "dante/cmm/dgcp2_element.h"

#include <cstring>

namespace {

uint8_t* body(dgcp2_message* msg)
{
    return dgcp2_message_body(msg);
}

// Reserves `size` bytes at the end after padding to `align`; the padding is
// zeroed. Nothing changes when it does not fit.
aud_error reserve(dgcp2_message* msg, size_t align, size_t size, uint16_t* offset)
{
    if (!msg || !offset)
        return AUD_INVALIDPARAMETER;
    const size_t end = dgcp2_message_body_length(msg);
    const size_t start = (end + align - 1) / align * align;
    if (uint64_t(start) + size > msg->body_capacity)
        return AUD_MSGSIZE;
    memset(body(msg) + end, 0, start - end);
    dgcp2_put_u16(msg->data + 2, uint16_t(msg->header_size + start + size));
    *offset = uint16_t(start);
    return AUD_SUCCESS;
}

// True when `size` bytes at `offset` lie inside the body and offset is aligned.
bool inside(const dgcp2_message* msg, uint64_t offset, uint64_t size, unsigned align)
{
    return offset % align == 0 && offset + size <= dgcp2_message_body_length(msg);
}

} // namespace

aud_error dgcp2_append_array(dgcp2_message* msg, uint16_t count, uint16_t* offset)
{
    const aud_error e = reserve(msg, 2, 2 + 2 * size_t(count), offset);
    if (e != AUD_SUCCESS)
        return e;
    uint8_t* p = body(msg) + *offset;
    dgcp2_put_u16(p, count);
    memset(p + 2, 0, 2 * size_t(count));
    return AUD_SUCCESS;
}

aud_error dgcp2_set_slot(dgcp2_message* msg, uint16_t array, uint16_t index, uint16_t value)
{
    uint16_t count = 0;
    const aud_error e = msg ? dgcp2_read_array(msg, array, &count) : AUD_INVALIDPARAMETER;
    if (e != AUD_SUCCESS)
        return e;
    if (index >= count)
        return AUD_INVALIDPARAMETER;
    dgcp2_put_u16(body(msg) + array + 2 + 2 * size_t(index), value);
    return AUD_SUCCESS;
}

aud_error dgcp2_append_bytes(dgcp2_message* msg, const void* src, size_t size, uint16_t* offset)
{
    const size_t padded = size + (size & 1);
    const aud_error e = reserve(msg, 2, padded, offset);
    if (e != AUD_SUCCESS)
        return e;
    uint8_t* p = body(msg) + *offset;
    memset(p, 0, padded);
    if (src)
        memcpy(p, src, size);
    return AUD_SUCCESS;
}

aud_error dgcp2_append_string(dgcp2_message* msg, const char* text, uint16_t* offset)
{
    if (!text)
        return AUD_INVALIDPARAMETER;
    const size_t length = strnlen(text, DGCP2_MESSAGE_SIZE);
    if (length == DGCP2_MESSAGE_SIZE)
        return AUD_MSGSIZE;
    return dgcp2_append_bytes(msg, text, length + 1, offset);
}

aud_error dgcp2_append_u32(dgcp2_message* msg, uint32_t value, uint16_t* offset)
{
    const aud_error e = reserve(msg, 4, 4, offset);
    if (e != AUD_SUCCESS)
        return e;
    uint8_t* p = body(msg) + *offset;
    dgcp2_put_u16(p, uint16_t(value >> 16));
    dgcp2_put_u16(p + 2, uint16_t(value));
    return AUD_SUCCESS;
}

aud_error dgcp2_append_wstring(dgcp2_message* msg, const char16_t* text, size_t units, uint16_t* offset)
{
    if (!text)
        return AUD_INVALIDPARAMETER;
    size_t n = 0;
    while (n < units && n < DGCP2_MESSAGE_SIZE && text[n])
        ++n;
    const aud_error e = reserve(msg, 4, 4 * n + 4, offset);
    if (e != AUD_SUCCESS)
        return e;
    uint8_t* p = body(msg) + *offset;
    for (size_t i = 0; i < n; ++i, p += 4) {
        dgcp2_put_u16(p, 0);
        dgcp2_put_u16(p + 2, uint16_t(text[i]));
    }
    memset(p, 0, 4);
    return AUD_SUCCESS;
}

aud_error dgcp2_read_array(const dgcp2_message* msg, uint16_t offset, uint16_t* count)
{
    if (!msg || !count || !inside(msg, offset, 2, 2))
        return AUD_INVALIDPARAMETER;
    const uint16_t n = dgcp2_get_u16(dgcp2_message_body(msg) + offset);
    // The slots themselves must be there too, not only the count.
    if (!inside(msg, offset, 2 + 2 * uint64_t(n), 2))
        return AUD_INVALIDPARAMETER;
    *count = n;
    return AUD_SUCCESS;
}

aud_error dgcp2_read_slot(const dgcp2_message* msg, uint16_t array, uint16_t index, uint16_t* value)
{
    uint16_t count = 0;
    const aud_error e = value ? dgcp2_read_array(msg, array, &count) : AUD_INVALIDPARAMETER;
    if (e != AUD_SUCCESS)
        return e;
    if (index >= count)
        return AUD_NODATA;
    *value = dgcp2_get_u16(dgcp2_message_body(msg) + array + 2 + 2 * size_t(index));
    return AUD_SUCCESS;
}

aud_error dgcp2_read_bytes(const dgcp2_message* msg, uint16_t offset, void* dst, size_t size)
{
    if (!msg || (!dst && size) || !inside(msg, offset, size ? size : 1, 2))
        return AUD_INVALIDPARAMETER;
    if (size)
        memcpy(dst, dgcp2_message_body(msg) + offset, size);
    return AUD_SUCCESS;
}

aud_error dgcp2_read_string(const dgcp2_message* msg, uint16_t offset, char* dst, size_t size)
{
    if (!msg || !dst || size == 0 || !inside(msg, offset, 1, 2))
        return AUD_INVALIDPARAMETER;
    const uint8_t* p = dgcp2_message_body(msg) + offset;
    const size_t room = dgcp2_message_body_length(msg) - offset;
    size_t n = 0;
    while (n + 1 < size && n < room && p[n])
        ++n;
    memcpy(dst, p, n);
    dst[n] = '\0';
    return AUD_SUCCESS;
}

aud_error dgcp2_read_u32(const dgcp2_message* msg, uint16_t offset, uint32_t* value)
{
    if (!msg || !value || !inside(msg, offset, 4, 4))
        return AUD_INVALIDPARAMETER;
    const uint8_t* p = dgcp2_message_body(msg) + offset;
    *value = uint32_t(dgcp2_get_u16(p)) << 16 | dgcp2_get_u16(p + 2);
    return AUD_SUCCESS;
}

aud_error dgcp2_read_wstring(const dgcp2_message* msg, uint16_t offset, char16_t* dst, size_t count)
{
    if (!msg || !dst || count == 0 || !inside(msg, offset, 4, 4))
        return AUD_INVALIDPARAMETER;
    const size_t room = (dgcp2_message_body_length(msg) - offset) / 4;
    size_t n = 0;
    for (; n + 1 < count && n < room; ++n) {
        uint32_t value = 0;
        dgcp2_read_u32(msg, uint16_t(offset + 4 * n), &value);
        if (value == 0)
            break;
        if (value > 0xFFFF) {
            // Cutting it to 16 bits would hand on a different character.
            dst[0] = u'\0';
            return AUD_INVALIDPARAMETER;
        }
        dst[n] = char16_t(value);
    }
    dst[n] = u'\0';
    return AUD_SUCCESS;
}
