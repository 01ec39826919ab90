// Byte access of the control-and-monitoring messages. Two orders meet in one
// datagram: the local header and bodies are little-endian (the service's
// host order), the channel-message envelope and the control payloads
// big-endian. Both are spelled out here so the build host never matters.
#pragma once

#include <cstddef>
#include <cstdint>

namespace conmon_bytes {

inline uint16_t le16(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}
inline uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint16_t be16(const uint8_t* p)
{
    return uint16_t(p[0] << 8 | p[1]);
}
inline uint32_t be32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
inline void putLe16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void putLe32(uint8_t* p, uint32_t v)
{
    putLe16(p, uint16_t(v));
    putLe16(p + 2, uint16_t(v >> 16));
}
inline void putBe16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline void putBe32(uint8_t* p, uint32_t v)
{
    putBe16(p, uint16_t(v >> 16));
    putBe16(p + 2, uint16_t(v));
}

// True when `width` bytes at `offset` lie inside `length` (64-bit sums, so
// no offset read from a message can wrap).
inline bool fits(size_t length, uint64_t offset, uint64_t width)
{
    return offset + width <= uint64_t(length);
}

// Length of the NUL-terminated text at `offset` when its terminator lies
// within `field` bytes and inside `length`; -1 otherwise.
inline long terminatedWithin(const uint8_t* data, size_t length, size_t offset, size_t field)
{
    for (size_t i = 0; i < field && offset + i < length; ++i) {
        if (data[offset + i] == 0)
            return long(i);
    }
    return -1;
}

} // namespace conmon_bytes
