#include "scp/scp_server_mode.h"

#include "scp/scp_codec.h"
#include "scp/scp_session.h"

namespace SCP {

namespace {

bool isBlank(uint32_t c)
{
    return c == ' ' || c == '\t';
}

// Optional blanks, an optional sign and decimal digits, a double quote
// before and after allowed, at most SCP_MODE_NUMBER_MAX characters; nothing
// else. Values outside 32 bits are refused rather than held at a limit.
bool readNumber(const ScpText& data, int32_t* value)
{
    size_t begin = 0;
    size_t end = data.length();
    if (end > SCP_MODE_NUMBER_MAX)
        return false;
    if (begin < end && data[begin].code() == '"')
        ++begin;
    if (begin < end && data[end - 1].code() == '"')
        --end;
    size_t i = begin;
    while (i < end && isBlank(data[i].code()))
        ++i;
    bool negative = false;
    if (i < end && (data[i].code() == '-' || data[i].code() == '+'))
        negative = data[i++].code() == '-';
    const size_t firstDigit = i;
    int64_t magnitude = 0;
    for (; i < end; ++i) {
        const uint32_t c = data[i].code();
        if (c < '0' || c > '9')
            return false;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > 0x80000000LL)
            return false;
    }
    if (i == firstDigit || (!negative && magnitude > 0x7FFFFFFFLL))
        return false;
    *value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    return true;
}

bool is(const ScpText& text, const char* word)
{
    return scp_wordEquals(text, word, true);
}

} // namespace

JResult scp_modeParse(const ScpText& tag, const ScpText& data, ScpModeSetting* setting)
{
    ScpModeSetting s;
    int32_t number = 0;
    if (is(tag, "format") && (is(data, "raw") || is(data, "json"))) {
        s = {SCP_MODE_FORMAT, is(data, "raw") ? SCP_DECODER_RAW : SCP_DECODER_JSON};
    } else if (is(tag, "encoding") && (is(data, "ascii") || is(data, "utf8"))) {
        s = {SCP_MODE_ENCODING, is(data, "ascii") ? SCP_ENCODING_ASCII : SCP_ENCODING_UTF8};
    } else if (is(tag, "valuetype") && (is(data, "raw") || is(data, "normalized"))) {
        s = {SCP_MODE_VALUETYPE, is(data, "raw") ? SCP_VALUETYPE_RAW : SCP_VALUETYPE_NORMALIZED};
    } else if (is(tag, "resolution") && readNumber(data, &number)
        && number >= static_cast<int32_t>(SCP_RESOLUTION_MIN)) {
        s = {SCP_MODE_RESOLUTION, number};
    } else if (is(tag, "keepalive") && readNumber(data, &number)
        && number >= static_cast<int32_t>(SCP_KEEPALIVE_MIN_MS)) {
        s = {SCP_MODE_KEEPALIVE, number};
    } else {
        return SCP_E_ARG;
    }
    if (setting)
        *setting = s;
    return SCP_OK;
}

} // namespace SCP
