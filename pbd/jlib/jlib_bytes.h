// Byte-order reversal of 2-, 4- and 8-byte values in place.
#pragma once

#include "jlib/jlib_result.h"

#include <cstddef>
#include <cstdint>
#include <utility>

// Size 1 does nothing; sizes other than 1, 2, 4, 8 (or a null value) give
// 0x80000001.
inline JResult jlib_swapBytes(void* value, size_t size)
{
    if (!value || (size != 1 && size != 2 && size != 4 && size != 8))
        return static_cast<JResult>(0x80000001u);
    auto* bytes = static_cast<uint8_t*>(value);
    for (size_t i = 0; i < size / 2; ++i)
        std::swap(bytes[i], bytes[size - 1 - i]);
    return JLIB_OK;
}
