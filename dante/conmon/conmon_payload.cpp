#include "dante/conmon/conmon_payload.h"

#include "dante/conmon/conmon_bytes.h"

#include <cstring>

using namespace conmon_bytes;

namespace {

// Starts a payload of `length` zero bytes with the common header.
aud_error start(conmon_payload* out, uint16_t type, uint32_t request, size_t length)
{
    if (!out)
        return AUD_INVALIDPARAMETER;
    memset(out, 0, sizeof *out);
    out->capacity = CONMON_PAYLOAD_MAX;
    out->length = length;
    putBe16(out->data, CONMON_CONTROL_PROTOCOL);
    putBe16(out->data + 2, type);
    putBe32(out->data + 4, request);
    return AUD_SUCCESS;
}

bool isUpgradeV3(const conmon_payload* p)
{
    return p && p->length >= 44 && be16(p->data + 2) == CONMON_CTL_UPGRADE_V3;
}

aud_error setId(conmon_payload* p, size_t at, uint32_t flag, const conmon_id64* id)
{
    if (!isUpgradeV3(p) || !id)
        return AUD_INVALIDPARAMETER;
    memcpy(p->data + at, id->data, CONMON_ID64_SIZE);
    putBe32(p->data + 8, be32(p->data + 8) | flag);
    return AUD_SUCCESS;
}

// The common header is present and the reply's protocol word is known.
aud_error replyWord(const uint8_t* payload, size_t length, const void* out, uint16_t* word)
{
    if (!payload || !out)
        return AUD_INVALIDPARAMETER;
    if (length < CONMON_CONTROL_HEADER_SIZE)
        return AUD_TRUNCATED;
    *word = be16(payload);
    return AUD_SUCCESS;
}

// The length a reply of protocol word v needs: the last gate at or below v.
struct Gate {
    uint16_t from;
    size_t need;
};
template <size_t N> size_t neededLength(uint16_t v, const Gate (&gates)[N])
{
    size_t need = 0;
    for (const Gate& g : gates) {
        if (v >= g.from)
            need = g.need;
    }
    return need;
}

// The reply word, and the bytes its gates ask for present.
template <size_t N>
aud_error gatedReply(const uint8_t* payload, size_t length, const void* out, const Gate (&gates)[N], uint16_t* word)
{
    const aud_error e = replyWord(payload, length, out, word);
    if (e != AUD_SUCCESS)
        return e;
    return length < neededLength(*word, gates) ? AUD_TRUNCATED : AUD_SUCCESS;
}

void copyText(char* out, const uint8_t* field, size_t width)
{
    size_t n = 0;
    while (n < width && n < CONMON_INFO_TEXT_SIZE - 1 && field[n])
        ++n;
    memcpy(out, field, n);
    out[n] = '\0';
}

} // namespace

aud_error conmon_control_header_read(const uint8_t* payload, size_t length, conmon_control_header* out)
{
    uint16_t word = 0;
    const aud_error e = replyWord(payload, length, out, &word);
    if (e != AUD_SUCCESS)
        return e;
    *out = {word, be16(payload + 2), be32(payload + 4)};
    return AUD_SUCCESS;
}

aud_error conmon_payload_query(conmon_payload* out, uint16_t type, size_t length)
{
    size_t fixed = 0;
    size_t least = CONMON_CONTROL_HEADER_SIZE;
    switch (type) {
    case CONMON_CTL_INTERFACE_QUERY:
        fixed = 16;
        break;
    case CONMON_CTL_TYPE_33:
        fixed = 40;
        break;
    case CONMON_CTL_TYPE_133:
        fixed = 32;
        break;
    case CONMON_CTL_TYPE_177:
        fixed = 12;
        break;
    case CONMON_CTL_TYPE_129:
        least = 16;
        break;
    case CONMON_CTL_TYPE_131:
        least = 12;
        break;
    case CONMON_CTL_VERSIONS_QUERY:
    case CONMON_CTL_TYPE_135:
    case CONMON_CTL_MANF_VERSIONS_QUERY:
    case CONMON_CTL_TYPE_305:
        break;
    default:
        return AUD_INVALIDPARAMETER;
    }
    if (fixed == 0)
        fixed = length == 0 ? least : length;
    else if (length != 0 && length != fixed)
        return AUD_INVALIDPARAMETER;
    if (fixed < least || fixed > CONMON_PAYLOAD_MAX)
        return AUD_INVALIDPARAMETER;
    // Every field after the common header is zero in these queries.
    return start(out, type, CONMON_QUERY_REQUEST_WORD, fixed);
}

aud_error conmon_payload_reboot(conmon_payload* out, uint16_t mode)
{
    if (mode > 1)
        return AUD_INVALIDPARAMETER;
    const aud_error e = start(out, CONMON_CTL_REBOOT, 0, 12);
    if (e != AUD_SUCCESS)
        return e;
    putBe16(out->data + 8, 0x0001);
    putBe16(out->data + 10, mode);
    return AUD_SUCCESS;
}

aud_error conmon_payload_upgrade_legacy(conmon_payload* out, uint32_t address, uint16_t port, const char* path)
{
    if (!path || strnlen(path, 64) > 63)
        return AUD_INVALIDPARAMETER;
    const aud_error e = start(out, CONMON_CTL_UPGRADE_LEGACY, 0, 80);
    if (e != AUD_SUCCESS)
        return e;
    putBe32(out->data + 8, address);
    putBe16(out->data + 12, port);
    memcpy(out->data + 16, path, strlen(path));
    return AUD_SUCCESS;
}

aud_error conmon_payload_upgrade_v3(conmon_payload* out)
{
    const aud_error e = start(out, CONMON_CTL_UPGRADE_V3, 0, 44);
    if (e != AUD_SUCCESS)
        return e;
    putBe32(out->data + 12, 3);
    return AUD_SUCCESS;
}

aud_error conmon_payload_upgrade_v3_manufacturer_id(conmon_payload* p, const conmon_id64* id)
{
    return setId(p, 24, 0x02, id);
}

aud_error conmon_payload_upgrade_v3_model_id(conmon_payload* p, const conmon_id64* id)
{
    return setId(p, 32, 0x04, id);
}

aud_error conmon_payload_append(conmon_payload* p, size_t size, size_t alignment, size_t* offset)
{
    if (!p || !offset || alignment == 0 || (alignment & (alignment - 1)) != 0 || p->capacity > CONMON_PAYLOAD_MAX
        || p->length > p->capacity)
        return AUD_INVALIDPARAMETER;
    const uint64_t at = (uint64_t(p->length) + alignment - 1) & ~uint64_t(alignment - 1);
    if (at + size > p->capacity)
        return AUD_NOMEMORY;
    memset(p->data + p->length, 0, size_t(at + size) - p->length);
    p->length = size_t(at + size);
    *offset = size_t(at);
    return AUD_SUCCESS;
}

aud_error conmon_payload_upgrade_v3_location(conmon_payload* p, const conmon_file_location* location)
{
    if (!isUpgradeV3(p) || !location)
        return AUD_INVALIDPARAMETER;
    const size_t pathLength = location->path ? strnlen(location->path, CONMON_PAYLOAD_MAX) : 0;
    const conmon_payload before = *p;
    size_t block = 0;
    aud_error e = conmon_payload_append(p, CONMON_LOCATION_BLOCK_SIZE, 4, &block);
    size_t pathAt = 0;
    if (e == AUD_SUCCESS && location->path)
        e = conmon_payload_append(p, pathLength + 1, 1, &pathAt);
    if (e != AUD_SUCCESS) {
        *p = before; // a request that does not fit leaves the payload as it was
        return e;
    }
    uint32_t flags = CONMON_LOCATION_PROTOCOL | CONMON_LOCATION_PORT | CONMON_LOCATION_ADDRESS;
    uint8_t* b = p->data + block;
    putBe16(b + 8, location->protocol);
    putBe16(b + 10, location->port);
    memcpy(b + 12, &location->address, 4);
    if (location->path) {
        flags |= CONMON_LOCATION_PATH;
        putBe16(b + 18, uint16_t(pathAt));
        memcpy(p->data + pathAt, location->path, pathLength);
    }
    if (location->file_length != 0) {
        flags |= CONMON_LOCATION_FILE_LENGTH;
        putBe32(b + 20, location->file_length);
    }
    putBe32(b, flags);
    putBe32(p->data + 8, be32(p->data + 8) | 0x08);
    putBe32(p->data + 16, be32(p->data + 16) | (location->protocol == CONMON_LOCATION_TFTP ? 3 : 1));
    putBe16(p->data + 40, uint16_t(block));
    return AUD_SUCCESS;
}

aud_error conmon_file_location_read(const uint8_t* payload, size_t length, size_t offset, conmon_file_location* out)
{
    if (!payload || !out)
        return AUD_INVALIDPARAMETER;
    if (offset == 0)
        return AUD_NOTFOUND;
    if (!fits(length, offset, CONMON_LOCATION_BLOCK_SIZE))
        return AUD_TRUNCATED;
    if (offset % 4 != 0)
        return AUD_INVALIDDATA;
    const uint8_t* b = payload + offset;
    conmon_file_location loc{};
    loc.flags = be32(b);
    loc.protocol = be16(b + 8);
    loc.port = be16(b + 10);
    memcpy(&loc.address, b + 12, 4);
    loc.file_length = be32(b + 20);
    const uint16_t pathAt = be16(b + 18);
    if (pathAt != 0) {
        if (pathAt >= length || !memchr(payload + pathAt, 0, length - pathAt))
            return AUD_TRUNCATED;
        loc.path = reinterpret_cast<const char*>(payload + pathAt);
    }
    *out = loc;
    return AUD_SUCCESS;
}

conmon_version conmon_version_from_word(uint32_t word)
{
    return {uint8_t(word >> 24), uint8_t(word >> 16), 0, uint16_t(word)};
}

aud_error conmon_read_upgrade_status(const uint8_t* payload, size_t length, conmon_file_location* out)
{
    uint16_t v = 0;
    const aud_error e = replyWord(payload, length, out, &v);
    if (e != AUD_SUCCESS)
        return e;
    if (v <= 0x0708)
        return AUD_VERSION;
    if (length < 16)
        return AUD_TRUNCATED;
    if ((be32(payload + 12) & 0x08) == 0)
        return AUD_NOTFOUND;
    if (length < 26)
        return AUD_TRUNCATED;
    return conmon_file_location_read(payload, length, be16(payload + 24), out);
}

aud_error conmon_read_upgrade_progress(const uint8_t* payload, size_t length, conmon_upgrade_progress* out)
{
    uint16_t v = 0;
    const aud_error e = replyWord(payload, length, out, &v);
    if (e != AUD_SUCCESS)
        return e;
    if (length < 10)
        return AUD_TRUNCATED;
    conmon_upgrade_progress p{};
    p.state = be16(payload + 8);
    if (v > 0x0708 && length >= 16) {
        p.flags = be32(payload + 12);
        struct Need {
            uint32_t bit;
            size_t length;
        };
        const Need needs[] = {{CONMON_UPGRADE_HAS_ERROR, 12}, {CONMON_UPGRADE_HAS_PROGRESS, 24},
            {CONMON_UPGRADE_HAS_MANUFACTURER, 36}, {CONMON_UPGRADE_HAS_MODEL, 44}};
        for (const Need& n : needs) {
            if ((p.flags & n.bit) != 0 && length < n.length)
                return AUD_TRUNCATED;
        }
        if (p.flags & CONMON_UPGRADE_HAS_ERROR)
            p.last_error = be16(payload + 10);
        if (p.flags & CONMON_UPGRADE_HAS_PROGRESS) {
            p.progress = be32(payload + 16);
            p.total = be32(payload + 20);
        }
        if (p.flags & CONMON_UPGRADE_HAS_MANUFACTURER)
            memcpy(p.manufacturer_id.data, payload + 28, CONMON_ID64_SIZE);
        if (p.flags & CONMON_UPGRADE_HAS_MODEL)
            memcpy(p.model_id.data, payload + 36, CONMON_ID64_SIZE);
    }
    *out = p;
    return AUD_SUCCESS;
}

aud_error conmon_read_device_info(const uint8_t* payload, size_t length, conmon_device_info* out)
{
    static const Gate gates[] = {{0, 40}, {0x0606, 44}, {0x0701, 52 + 2 * CONMON_INFO_TEXT_FIELD}, {0x0704, 312}};
    uint16_t v = 0;
    const aud_error e = gatedReply(payload, length, out, gates, &v);
    if (e != AUD_SUCCESS)
        return e;
    conmon_device_info d{};
    d.protocol = v;
    memcpy(d.manufacturer_id.data, payload + 8, CONMON_ID64_SIZE);
    memcpy(d.model_id.data, payload + 16, CONMON_ID64_SIZE);
    d.firmware_word = be32(payload + 32);
    d.software_word = be32(payload + 36);
    d.firmware_version = conmon_version_from_word(d.firmware_word);
    d.software_version = conmon_version_from_word(d.software_word);
    if (v >= 0x0606)
        d.word40 = be32(payload + 40);
    if (v > 0x0700) {
        d.word44 = be32(payload + 44);
        d.word48 = be32(payload + 48);
        copyText(d.manufacturer_name, payload + 52, CONMON_INFO_TEXT_FIELD);
        copyText(d.model_name, payload + 180, CONMON_INFO_TEXT_FIELD);
    }
    if (v >= 0x0704)
        d.word308 = be32(payload + 308);
    *out = d;
    return AUD_SUCCESS;
}

aud_error conmon_read_module_info(const uint8_t* payload, size_t length, conmon_module_info* out)
{
    static const Gate gates[] = {{0, 28}, {0x0200, 32}, {0x0701, 48}, {0x0709, 60}};
    uint16_t v = 0;
    const aud_error e = gatedReply(payload, length, out, gates, &v);
    if (e != AUD_SUCCESS)
        return e;
    conmon_module_info m{};
    m.protocol = v;
    m.firmware_word = be32(payload + 8);
    m.software_word = be32(payload + 12);
    m.firmware_version = conmon_version_from_word(m.firmware_word);
    m.software_version = conmon_version_from_word(m.software_word);
    memcpy(m.model_id.data, payload + 20, CONMON_ID64_SIZE);
    if (v >= 0x0200)
        m.capabilities = be32(payload + 28);
    if (v > 0x0700) {
        m.word40 = be32(payload + 40);
        m.word44 = be32(payload + 44);
    }
    if (v > 0x0703)
        m.status_bits = be32(payload + 36);
    if (v > 0x0708)
        m.upgrade_version = be16(payload + 58);
    *out = m;
    return AUD_SUCCESS;
}

aud_error conmon_read_interface_table(const uint8_t* payload, size_t length, conmon_iftable* out)
{
    uint16_t v = 0;
    const aud_error e = replyWord(payload, length, out, &v);
    if (e != AUD_SUCCESS)
        return e;
    if (length < 10)
        return AUD_TRUNCATED;
    conmon_iftable t{};
    t.protocol = v;
    t.count = be16(payload + 8);
    const uint64_t tail = 12 + uint64_t(t.count) * 28;
    if (!fits(length, 0, tail))
        return AUD_TRUNCATED;
    const size_t kept = t.count < CONMON_IFTABLE_MAX ? t.count : CONMON_IFTABLE_MAX;
    for (size_t i = 0; i < kept; ++i) {
        const uint8_t* r = payload + 12 + 28 * i;
        conmon_iftable_record& rec = t.records[i];
        rec.flags = be32(r);
        rec.speed = be16(r + 4);
        memcpy(rec.mac, r + 6, 6);
        rec.address = be32(r + 12);
        rec.netmask = be32(r + 20);
        rec.gateway = be32(r + 24);
    }
    if (v >= 0x0600) {
        if (!fits(length, tail, 4))
            return AUD_TRUNCATED;
        const uint16_t size = be16(payload + tail);
        const uint16_t first = be16(payload + tail + 2);
        for (size_t i = 0; size != 0 && first != 0 && i < kept; ++i) {
            const uint64_t at = first + uint64_t(size) * i;
            if (!fits(length, at, 20))
                return AUD_TRUNCATED;
            const uint8_t* x = payload + at;
            const uint16_t flags = be16(x);
            conmon_iftable_record& rec = t.records[i];
            rec.has_entry = (flags & CONMON_IFTABLE_ENTRY_VALID) != 0;
            rec.entry_flags = flags & ~CONMON_IFTABLE_ENTRY_VALID;
            for (size_t w = 0; w < 4; ++w)
                rec.entry_words[w] = be32(x + 4 + 4 * w);
        }
    }
    if (v > 0x0601) {
        if (!fits(length, tail + 4, 2))
            return AUD_TRUNCATED;
        t.flags = be16(payload + tail + 4);
    }
    *out = t;
    return AUD_SUCCESS;
}
