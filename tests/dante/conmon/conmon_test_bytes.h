// Hand-written messages for the control-and-monitoring tests: hex text and
// a small byte builder, so expected bytes never come from the code under
// test.
#pragma once

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

} // namespace conmontest
