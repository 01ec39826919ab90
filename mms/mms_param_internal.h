// Element helpers shared by the files of ParameterNode. Internal to the
// memory library.
#pragma once

#include "mms/mms_image.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace MMS {
namespace paramimpl {

inline float wordToFloat(uint32_t word)
{
    float f;
    std::memcpy(&f, &word, sizeof f);
    return f;
}

inline uint32_t load(const uint8_t* p, uint32_t width)
{
    switch (width) {
    case 1:
        return *p;
    case 2:
        return imageLoad16(p);
    default:
        return imageLoad32(p);
    }
}

inline int64_t signExtend(uint32_t raw, uint32_t width)
{
    switch (width) {
    case 1:
        return static_cast<int8_t>(raw);
    case 2:
        return static_cast<int16_t>(raw);
    default:
        return static_cast<int32_t>(raw);
    }
}

inline size_t textLength(const uint8_t* p, uint32_t maximum)
{
    const void* nul = std::memchr(p, 0, maximum);
    return nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - p) : maximum;
}

} // namespace paramimpl
} // namespace MMS
