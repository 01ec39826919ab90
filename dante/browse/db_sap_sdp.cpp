// The SAP header check and the SDP text parser. Every read is bounded by the
// datagram's length; numbers are whole unsigned decimal texts and refused
// when they overflow their field.
#include "dante/browse/db_sap.h"
#include "dante/browse/db_text.h"

#include "dante/support/aud_inet.h"
#include "dante/support/aud_text.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t kValueMax = 128;
constexpr size_t kTokensMax = 10;
const char kPayloadType[] = "application/sdp"; // with its zero byte: 16 bytes

struct SdpRow {
    char type;
    bool required;
    bool repeat;
};

// The order of lines; index 0 is unused so rows keep their numbers.
const SdpRow kSdpRows[21] = {{0, false, false}, {'v', true, false}, {'o', true, false}, {'s', true, false},
    {'i', false, false}, {'u', false, false}, {'e', false, false}, {'p', false, false}, {'c', false, true},
    {'b', false, true}, {'t', true, true}, {'r', false, true}, {'z', false, false}, {'k', false, false},
    {'a', false, true}, {'m', false, true}, {'i', false, false}, {'c', false, true}, {'b', false, true},
    {'k', false, false}, {'a', false, true}};
constexpr int kTimeRow = 10;
constexpr int kRepeatRow = 11;
constexpr int kMediaRow = 15;

// The row of a line of this type after row cur, or -1 when it is out of order.
int nextRow(int cur, char type)
{
    if (type == 't' && (cur == kTimeRow || cur == kRepeatRow))
        return kTimeRow;
    if (type == 'm' && cur >= kMediaRow)
        return kMediaRow;
    if (kSdpRows[cur].type == type && kSdpRows[cur].repeat)
        return cur;
    for (int r = cur + 1; r <= 20; ++r) {
        if (kSdpRows[r].type == type)
            return r;
        if (kSdpRows[r].required)
            return -1;
    }
    return -1;
}

template <typename T> bool parseField(const std::string& text, T* out)
{
    uint64_t v = 0;
    if (!db_parse_unsigned(text, static_cast<T>(~T{0}), &v))
        return false;
    *out = static_cast<T>(v);
    return true;
}

// Splits at any of seps; TRUNCATED beyond 10 parts, INVALIDDATA when count
// (non-zero) is not met.
aud_error split(const std::string& text, const char* seps, size_t count, std::vector<std::string>* out)
{
    out->clear();
    size_t pos = 0;
    const bool blanks = std::strchr(seps, ' ') != nullptr;
    while (pos <= text.size()) {
        if (blanks) {
            pos = text.find_first_not_of(seps, pos);
            if (pos == std::string::npos)
                break;
        }
        size_t end = text.find_first_of(seps, pos);
        if (end == std::string::npos)
            end = text.size();
        if (out->size() == kTokensMax)
            return AUD_TRUNCATED;
        out->push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    if (count && out->size() != count)
        return AUD_INVALIDDATA;
    return AUD_SUCCESS;
}

aud_error copyText(const std::string& value, char* out, size_t size)
{
    if (value.empty())
        return AUD_INVALIDDATA;
    if (value.size() >= size)
        return AUD_TRUNCATED;
    std::memcpy(out, value.c_str(), value.size() + 1);
    return AUD_SUCCESS;
}

aud_error checkInIp4(const std::string& net, const std::string& addr)
{
    return (net == "IN" && addr == "IP4") ? AUD_SUCCESS : AUD_NOTSUPPORTED;
}

aud_error origin(const std::string& v, sdp_session* s)
{
    std::vector<std::string> t;
    aud_error err = split(v, " \t", 6, &t);
    if (err)
        return err;
    if (t[0].size() >= sizeof s->user_name)
        return AUD_TRUNCATED;
    if (!parseField(t[1], &s->session_id) || !parseField(t[2], &s->session_version))
        return AUD_INVALIDDATA;
    if ((err = checkInIp4(t[3], t[4])))
        return err;
    if (aud_inet_aton(t[5].c_str(), &s->origin_address) != AUD_SUCCESS)
        return AUD_INVALIDDATA;
    std::memcpy(s->user_name, t[0].c_str(), t[0].size() + 1);
    s->origin_family = 2;
    s->presence |= SDP_HAS_ORIGIN;
    return AUD_SUCCESS;
}

aud_error connection(const std::string& v, sdp_session* s)
{
    if (s->presence & SDP_HAS_CONNECTION)
        return AUD_ALREADY;
    std::vector<std::string> t;
    std::vector<std::string> parts;
    aud_error err = split(v, " \t", 3, &t);
    if (err)
        return err;
    if ((err = checkInIp4(t[0], t[1])))
        return err;
    if ((err = split(t[2], "/", 0, &parts)))
        return err;
    uint8_t ttl = 0;
    uint8_t count = 1;
    uint32_t address = 0;
    if (parts.size() > 3 || aud_inet_aton(parts[0].c_str(), &address) != AUD_SUCCESS
        || (parts.size() > 1 && !parseField(parts[1], &ttl)) || (parts.size() > 2 && !parseField(parts[2], &count)))
        return AUD_INVALIDDATA;
    s->connection_address = address;
    s->ttl = ttl;
    s->num_addresses = count;
    s->presence |= SDP_HAS_CONNECTION;
    return AUD_SUCCESS;
}

aud_error timing(const std::string& v, sdp_session* s)
{
    if (s->presence & SDP_HAS_TIME)
        return AUD_ALREADY;
    std::vector<std::string> t;
    uint32_t start = 0;
    if (split(v, " \t", 0, &t) != AUD_SUCCESS || t.empty() || !parseField(t[0], &start))
        return AUD_INVALIDDATA;
    s->presence |= SDP_HAS_TIME;
    return AUD_SUCCESS;
}

aud_error media(const std::string& v, sdp_session* s)
{
    if (s->presence & SDP_HAS_MEDIA)
        return AUD_ALREADY;
    std::vector<std::string> t;
    std::vector<std::string> parts;
    aud_error err = split(v, " \t", 0, &t);
    if (err)
        return err;
    if (t.size() < 4)
        return AUD_INVALIDDATA;
    if (t[0] != "audio" || t[2] != "RTP/AVP")
        return AUD_NOTSUPPORTED;
    if ((err = split(t[1], "/", 0, &parts)))
        return err;
    uint16_t port = 0;
    uint16_t count = 1;
    uint8_t payload = 0;
    if (parts.size() > 2 || !parseField(parts[0], &port) || (parts.size() == 2 && !parseField(parts[1], &count))
        || !parseField(t[3], &payload))
        return AUD_INVALIDDATA;
    s->media_port = port;
    s->port_count = count;
    s->payload_type = payload;
    s->presence |= SDP_HAS_MEDIA;
    return AUD_SUCCESS;
}

bool startsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

aud_error keywords(const std::string& v, sdp_session* s)
{
    const size_t colon = v.find(':');
    if (colon == std::string::npos)
        return AUD_INVALIDDATA;
    std::vector<std::string> words;
    if (split(v.substr(colon + 1), " \t", 0, &words) == AUD_TRUNCATED)
        return AUD_TRUNCATED;
    for (const auto& w : words)
        if (!w.empty() && w.size() <= 5 && std::string("Dante").compare(0, w.size(), w) == 0)
            s->dante = 1;
    return AUD_SUCCESS;
}

aud_error rtpmap(const std::string& v, sdp_session* s)
{
    if (s->attributes & SDP_ATTR_RTPMAP)
        return AUD_ALREADY;
    // "rtpmap:<pt> L<bits>/<rate>/<channels>"
    std::vector<std::string> t;
    std::vector<std::string> parts;
    if (split(v.substr(7), " \t", 2, &t) != AUD_SUCCESS || t[1].empty() || t[1][0] != 'L'
        || split(t[1].substr(1), "/", 3, &parts) != AUD_SUCCESS)
        return AUD_NOTSUPPORTED; // not all four values: the line is ignored
    uint8_t payload = 0;
    uint16_t bits = 0;
    uint32_t rate = 0;
    uint16_t channels = 0;
    if (!parseField(t[0], &payload) || !parseField(parts[0], &bits) || !parseField(parts[1], &rate)
        || !parseField(parts[2], &channels))
        return AUD_NOTSUPPORTED;
    if (payload != s->payload_type || (bits != 16 && bits != 24 && bits != 32))
        return AUD_NOTSUPPORTED;
    s->encoding_bits = bits;
    s->sample_rate = rate;
    s->channels = channels;
    s->attributes |= SDP_ATTR_RTPMAP;
    return AUD_SUCCESS;
}

// "ptime:<whole>[.<fraction>]" in microseconds: the fraction is scaled by
// its digit count, so "0.25" is 250 us and "1.5" is 1500 us; digits beyond
// the third are below a microsecond and cut.
aud_error ptime(const std::string& v, sdp_session* s)
{
    if (s->attributes & SDP_ATTR_PTIME)
        return AUD_ALREADY;
    const std::string text = v.substr(6);
    const size_t dot = text.find('.');
    uint32_t whole = 0;
    if (!parseField(text.substr(0, dot), &whole) || whole > 4294967)
        return AUD_INVALIDDATA;
    uint64_t us = uint64_t{whole} * 1000;
    if (dot != std::string::npos) {
        std::string fraction = text.substr(dot + 1);
        uint64_t f = 0;
        if (!db_parse_unsigned(fraction, ~uint64_t{0}, &f) && !fraction.empty())
            return AUD_INVALIDDATA;
        fraction = fraction.substr(0, 3);
        fraction.append(3 - fraction.size(), '0');
        db_parse_unsigned(fraction, 999, &f);
        us += f;
    }
    if (us > 0xFFFFFFFFu)
        return AUD_INVALIDDATA;
    s->packet_time_us = static_cast<uint32_t>(us);
    s->attributes |= SDP_ATTR_PTIME;
    return AUD_SUCCESS;
}

aud_error refclk(const std::string& v, sdp_session* s)
{
    if (s->attributes & SDP_ATTR_REFCLK)
        return AUD_ALREADY;
    std::vector<std::string> parts;
    std::vector<std::string> pairs;
    aud_error err = split(v.substr(std::strlen("ts-refclk:ptp=")), ":", 0, &parts);
    if (err)
        return err;
    if (parts[0] != "IEEE1588-2008")
        return AUD_NOTSUPPORTED;
    if (parts.size() < 2 || split(parts[1], "-", 8, &pairs) != AUD_SUCCESS)
        return AUD_INVALIDDATA;
    uint8_t id[8];
    for (size_t i = 0; i < 8; ++i) {
        if (pairs[i].size() != 2 || aud_hex_digit(pairs[i][0]) < 0 || aud_hex_digit(pairs[i][1]) < 0)
            return AUD_INVALIDDATA;
        id[i] = static_cast<uint8_t>(aud_hex_digit(pairs[i][0]) * 16 + aud_hex_digit(pairs[i][1]));
    }
    if (id[3] != 0xFF || id[4] != 0xFE)
        return AUD_NOTSUPPORTED;
    const std::string domain = parts.size() > 2 ? parts[2] : "";
    if (domain.size() >= sizeof s->ptp_domain)
        return AUD_TRUNCATED;
    const uint8_t gm[6] = {id[0], id[1], id[2], id[5], id[6], id[7]};
    std::memcpy(s->ptp_grandmaster, gm, 6);
    std::memcpy(s->ptp_domain, domain.c_str(), domain.size() + 1);
    s->attributes |= SDP_ATTR_REFCLK;
    return AUD_SUCCESS;
}

aud_error mediaclk(const std::string& v, sdp_session* s)
{
    if (s->attributes & SDP_ATTR_MEDIACLK)
        return AUD_ALREADY;
    const std::string rest = v.substr(std::strlen("mediaclk:"));
    if (!startsWith(rest, "direct=") || !parseField(rest.substr(7), &s->media_clock_offset))
        return AUD_INVALIDDATA;
    s->attributes |= SDP_ATTR_MEDIACLK;
    return AUD_SUCCESS;
}

aud_error attribute(const std::string& v, sdp_session* s)
{
    if (startsWith(v, "keywds"))
        return keywords(v, s);
    if (startsWith(v, "rtpmap:"))
        return rtpmap(v, s);
    if (v == "sendonly" || v == "recvonly" || v == "sendrecv") {
        s->direction = v == "sendonly" ? SDP_DIR_SENDONLY : v == "recvonly" ? SDP_DIR_RECVONLY : SDP_DIR_SENDRECV;
        return AUD_SUCCESS;
    }
    if (startsWith(v, "ptime:"))
        return ptime(v, s);
    if (startsWith(v, "ts-refclk:ptp="))
        return refclk(v, s);
    if (startsWith(v, "mediaclk:"))
        return mediaclk(v, s);
    return AUD_NOTSUPPORTED;
}

aud_error handleLine(int row, const std::string& v, sdp_session* s)
{
    if (v.size() >= kValueMax)
        return AUD_TRUNCATED;
    switch (row) {
    case 2:
        return origin(v, s);
    case 3:
        return copyText(v, s->session_name, sizeof s->session_name);
    case 4:
        return copyText(v, s->session_info, sizeof s->session_info);
    case 8:
        return connection(v, s);
    case 10:
        return timing(v, s);
    case 14:
    case 20:
        return attribute(v, s);
    case kMediaRow:
        return media(v, s);
    case 16:
        return copyText(v, s->title, sizeof s->title);
    default:
        return AUD_SUCCESS; // skipped rows
    }
}

aud_error parseSdp(const char* text, size_t length, sdp_session* s)
{
    size_t pos = 0;
    int row = 0;
    bool skippingMedia = false;
    while (true) {
        while (pos < length && (text[pos] == '\r' || text[pos] == '\n'))
            ++pos;
        if (pos == length)
            return row == 0 ? AUD_INVALIDDATA : AUD_SUCCESS;
        if (length - pos < 2 || !((text[pos] >= 'a' && text[pos] <= 'z') || (text[pos] >= 'A' && text[pos] <= 'Z'))
            || text[pos + 1] != '=')
            return AUD_INVALIDDATA;
        const char type = text[pos];
        size_t end = pos + 2;
        while (end < length && text[end] != '\r' && text[end] != '\n')
            ++end;
        if (end == length)
            return AUD_INVALIDDATA; // the last line has no line end
        const std::string value(text + pos + 2, end - pos - 2);
        pos = end;
        if (row == 0) {
            uint32_t version = 1;
            if (type != 'v')
                return AUD_INVALIDDATA;
            if (!parseField(value, &version) || version != 0)
                return AUD_NOTSUPPORTED;
            row = 1;
            continue;
        }
        const int next = nextRow(row, type);
        if (next < 0)
            return AUD_INVALIDDATA;
        row = next;
        if (row == kMediaRow)
            skippingMedia = false;
        else if (skippingMedia && row > kMediaRow)
            continue;
        const aud_error err = handleLine(row, value, s);
        if (err == AUD_TRUNCATED || err == AUD_NOTSUPPORTED || err == AUD_ALREADY) {
            if (row == kMediaRow)
                skippingMedia = true;
            continue;
        }
        if (err)
            return err;
    }
}

aud_error checkHeader(const uint8_t* p, size_t length, size_t* sdp)
{
    if (length <= 8)
        return AUD_NODATA;
    const uint8_t first = p[0];
    if (first < 0x20 || first > 0x3F || (first & 0x03))
        return AUD_NOTSUPPORTED;
    // An IPv6 originating source is 16 bytes: not read as 4.
    if (first & 0x10)
        return AUD_NOTSUPPORTED;
    const uint16_t hash = static_cast<uint16_t>((p[2] << 8) | p[3]);
    uint32_t source = 0;
    std::memcpy(&source, p + 4, 4);
    if (hash == 0 || source == 0)
        return AUD_INVALIDDATA;
    // Authentication data and the payload type must lie inside the datagram.
    const uint64_t offset = 8 + uint64_t{p[1]} * 4;
    if (offset + sizeof kPayloadType >= length || std::memcmp(p + offset, kPayloadType, sizeof kPayloadType) != 0)
        return AUD_INVALIDDATA;
    *sdp = static_cast<size_t>(offset + sizeof kPayloadType);
    return AUD_SUCCESS;
}

} // namespace

aud_error get_sdp_parsed_structure(const uint8_t* packet, size_t length, sdp_session* out)
{
    if (!packet || !out)
        return AUD_INVALIDPARAMETER;
    size_t sdp = 0;
    const aud_error header = checkHeader(packet, length, &sdp);
    if (header != AUD_SUCCESS) {
        printf("%s : sanity check error\n", "get_sdp_parsed_structure");
        return header;
    }
    *out = sdp_session{};
    out->deletion = (packet[0] >> 2) & 1u;
    out->msg_id_hash = static_cast<uint16_t>((packet[2] << 8) | packet[3]);
    std::memcpy(&out->originating_source, packet + 4, 4);
    out->num_addresses = 1;
    out->port_count = 1;
    const aud_error err = parseSdp(reinterpret_cast<const char*>(packet + sdp), length - sdp, out);
    return err == AUD_SUCCESS ? AUD_SUCCESS : AUD_NOTSUPPORTED;
}
