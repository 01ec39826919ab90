// Hand-written messages for the control-and-monitoring tests: hex text and
// a small byte builder, so expected bytes never come from the code under
// test; and the version-3 upgrade request several tests send.
#pragma once

#include "dante/conmon/conmon_payload.h"
#include "tests/support/test_support.h"

#include <arpa/inet.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace conmontest {

using Bytes = std::vector<uint8_t>;

// Hex digits, blanks ignored.
inline Bytes unhex(const std::string& text)
{
    Bytes out;
    int high = -1;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            continue;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(uint8_t(high << 4 | v));
            high = -1;
        }
    }
    return out;
}

// Hex text as the test support prints bytes, for comparisons.
inline std::string want(const std::string& text)
{
    const Bytes b = unhex(text);
    return qtest::hex(b.data(), b.size());
}

inline std::string zeros(size_t n)
{
    return std::string(2 * n, '0');
}

// A buffer written field by field at fixed offsets; grows as needed.
struct Writer {
    Bytes b;
    explicit Writer(size_t n = 0)
        : b(n)
    {
    }
    void grow(size_t end)
    {
        if (b.size() < end)
            b.resize(end);
    }
    Writer& le16(size_t at, uint16_t v)
    {
        grow(at + 2);
        b[at] = uint8_t(v);
        b[at + 1] = uint8_t(v >> 8);
        return *this;
    }
    Writer& le32(size_t at, uint32_t v)
    {
        le16(at, uint16_t(v));
        return le16(at + 2, uint16_t(v >> 16));
    }
    Writer& be16(size_t at, uint16_t v)
    {
        grow(at + 2);
        b[at] = uint8_t(v >> 8);
        b[at + 1] = uint8_t(v);
        return *this;
    }
    Writer& be32(size_t at, uint32_t v)
    {
        be16(at, uint16_t(v >> 16));
        return be16(at + 2, uint16_t(v));
    }
    Writer& bytes(size_t at, const std::string& text)
    {
        grow(at + text.size());
        memcpy(b.data() + at, text.data(), text.size());
        return *this;
    }
    Writer& hex(size_t at, const std::string& text)
    {
        const Bytes x = unhex(text);
        grow(at + x.size());
        memcpy(b.data() + at, x.data(), x.size());
        return *this;
    }
};

// A local message: header (length = the body's end unless given) + body.
inline Writer local(uint16_t version, uint16_t seqnum, uint16_t opcode, uint16_t status, size_t length)
{
    Writer w(length);
    w.le16(0, version).le16(2, uint16_t(length)).le16(4, seqnum).le16(6, opcode).le16(8, status);
    return w;
}

// A version-3 upgrade for model "BROX24" from TFTP 127.0.0.1:1999, a file
// of 4096 bytes.
inline aud_error upgradeV3(conmon_payload* p, const char* path)
{
    aud_error e = conmon_payload_upgrade_v3(p);
    const conmon_id64 model = {{'B', 'R', 'O', 'X', '2', '4', 0, 0}};
    if (e == AUD_SUCCESS)
        e = conmon_payload_upgrade_v3_model_id(p, &model);
    conmon_file_location loc{};
    loc.protocol = CONMON_LOCATION_TFTP;
    loc.port = 1999;
    loc.address = htonl(0x7F000001);
    loc.path = path;
    loc.file_length = 4096;
    return e == AUD_SUCCESS ? conmon_payload_upgrade_v3_location(p, &loc) : e;
}

} // namespace conmontest
