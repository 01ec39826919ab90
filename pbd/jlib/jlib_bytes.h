// Byte-order helpers: fixed-order loads and stores of wire and file fields,
// and reversal of 2-, 4- and 8-byte values in place. Every module that reads
// or writes an ordered field uses these, so there is one set to get right.
#pragma once

#include "pbd/jlib/jlib_result.h"

#include <cstddef>
#include <cstdint>
#include <utility>

inline uint16_t jlib_load16be(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}
inline uint32_t jlib_load32be(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8
        | p[3];
}
inline uint64_t jlib_load64be(const uint8_t* p)
{
    return static_cast<uint64_t>(jlib_load32be(p)) << 32 | jlib_load32be(p + 4);
}
inline void jlib_store16be(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
inline void jlib_store32be(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}
inline void jlib_store64be(uint8_t* p, uint64_t v)
{
    jlib_store32be(p, static_cast<uint32_t>(v >> 32));
    jlib_store32be(p + 4, static_cast<uint32_t>(v));
}

inline uint16_t jlib_load16le(const uint8_t* p)
{
    return static_cast<uint16_t>(p[1] << 8 | p[0]);
}
inline uint32_t jlib_load32le(const uint8_t* p)
{
    return static_cast<uint32_t>(p[3]) << 24 | static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8
        | p[0];
}
inline void jlib_store16le(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void jlib_store32le(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// A null value or a size other than 1, 2, 4, 8.
constexpr JResult JLIB_BYTES_E_SIZE = static_cast<JResult>(0x80000001u);

// Size 1 does nothing; sizes other than 1, 2, 4, 8 (or a null value) give
// JLIB_BYTES_E_SIZE.
inline JResult jlib_swapBytes(void* value, size_t size)
{
    if (!value || (size != 1 && size != 2 && size != 4 && size != 8))
        return JLIB_BYTES_E_SIZE;
    auto* bytes = static_cast<uint8_t*>(value);
    for (size_t i = 0; i < size / 2; ++i)
        std::swap(bytes[i], bytes[size - 1 - i]);
    return JLIB_OK;
}
