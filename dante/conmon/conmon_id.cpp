#include "dante/conmon/conmon_id.h"
#include "dante/support/aud_text.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kHexDigits = 2 * CONMON_ID64_SIZE;
constexpr size_t kNameMax = CONMON_DEVICE_NAME_SIZE - 1;

// Length of the even run of hex digits after "_" when the whole text is
// one; 0 when it is not the hex form.
size_t hexForm(const char* text, size_t length)
{
    if (length < 3 || text[0] != '_' || (length - 1) % 2 != 0)
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if (aud_hex_digit(text[i]) < 0)
            return 0;
    }
    return length - 1;
}

} // namespace

const char* conmon_instance_id_text(const conmon_instance_id* id, char* buffer, size_t size)
{
    if (!buffer || size == 0)
        return buffer;
    buffer[0] = '\0';
    if (!id)
        return buffer;
    const uint8_t* d = id->device_id.data;
    snprintf(buffer, size, "%02x%02x%02x%02x%02x%02x%02x%02x:%d", d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7],
        int(id->process_id));
    return buffer;
}

aud_error conmon_id64_from_text_len(conmon_id64* out, const char* text, size_t length, bool allow_long)
{
    if (!out || (!text && length > 0))
        return AUD_INVALIDPARAMETER;
    conmon_id64 id{};
    const size_t digits = hexForm(text, length);
    if (digits > 0) {
        if (digits > kHexDigits && !allow_long)
            return AUD_RANGE;
        const size_t used = digits < kHexDigits ? digits : kHexDigits;
        for (size_t i = 0; i < used; i += 2)
            id.data[i / 2] = uint8_t(aud_hex_digit(text[1 + i]) << 4 | aud_hex_digit(text[2 + i]));
    } else {
        if (length > CONMON_ID64_SIZE && !allow_long)
            return AUD_RANGE;
        if (length > 0)
            memcpy(id.data, text, length < CONMON_ID64_SIZE ? length : CONMON_ID64_SIZE);
    }
    *out = id;
    return AUD_SUCCESS;
}

aud_error conmon_id64_from_text(conmon_id64* out, const char* text)
{
    if (!text)
        return AUD_INVALIDPARAMETER;
    // Never measure further than the longest text either form accepts.
    return conmon_id64_from_text_len(out, text, strnlen(text, kHexDigits + 2), false);
}

aud_error conmon_device_name_check(char* out, const char* name)
{
    if (!out)
        return AUD_INVALIDPARAMETER;
    memset(out, 0, CONMON_DEVICE_NAME_SIZE);
    if (!name)
        return AUD_SUCCESS;
    for (size_t i = 0; name[i]; ++i) {
        if (i == kNameMax)
            return AUD_TRUNCATED;
        const char c = name[i];
        if (c == '.' || c == '=' || c == '@') {
            memset(out, 0, CONMON_DEVICE_NAME_SIZE);
            return AUD_INVALIDDATA;
        }
        out[i] = c;
    }
    return AUD_SUCCESS;
}
