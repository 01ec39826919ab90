// Free-standing helpers: bit arrays, 24-byte names, "/" paths, index
// stepping, byte swaps and the host byte order.
#include "mms/mms_wrap.h"

#include <cstring>

namespace MMS {

namespace {
inline uint8_t maskOf(uint32_t n)
{
    return static_cast<uint8_t>(0x80u >> (n % 8));
}
} // namespace

JResult mms_setBit(uint8_t* bits, uint32_t n)
{
    if (!bits)
        return 0;
    bits[n / 8] |= maskOf(n);
    return MMS_CHANGED;
}

JResult mms_clearBit(uint8_t* bits, uint32_t n)
{
    if (!bits)
        return 0;
    uint8_t& byte = bits[n / 8];
    if (!(byte & maskOf(n)))
        return 0;
    byte = static_cast<uint8_t>(byte & ~maskOf(n));
    return MMS_CHANGED;
}

namespace {
JResult fillBits(uint8_t* bits, uint32_t first, uint32_t count, bool set)
{
    if (!bits)
        return 0;
    if (count == 0)
        return MMS_CHANGED;
    const uint64_t end = static_cast<uint64_t>(first) + count; // one past the last bit
    uint64_t n = first;
    while (n < end) {
        const uint64_t byteIndex = n / 8;
        const uint32_t from = static_cast<uint32_t>(n % 8);
        const uint64_t byteEnd = (byteIndex + 1) * 8;
        const uint32_t to = static_cast<uint32_t>((end < byteEnd ? end : byteEnd) - byteIndex * 8); // exclusive
        const uint8_t mask = static_cast<uint8_t>((0xFFu >> from) & ~(0xFFu >> to));
        if (set)
            bits[byteIndex] |= mask;
        else
            bits[byteIndex] = static_cast<uint8_t>(bits[byteIndex] & ~mask);
        n = byteIndex * 8 + to;
    }
    return MMS_CHANGED;
}
} // namespace

JResult mms_setBits(uint8_t* bits, uint32_t first, uint32_t count)
{
    return fillBits(bits, first, count, true);
}

JResult mms_clearBits(uint8_t* bits, uint32_t first, uint32_t count)
{
    return fillBits(bits, first, count, false);
}

bool mms_testBit(const uint8_t* bits, uint32_t n)
{
    return bits && (bits[n / 8] & maskOf(n));
}

bool mms_anyBit(const uint8_t* bits, uint32_t first, uint32_t count)
{
    if (!bits)
        return false;
    uint64_t n = first;
    const uint64_t end = static_cast<uint64_t>(first) + count;
    while (n < end && n % 8)
        if (mms_testBit(bits, static_cast<uint32_t>(n++)))
            return true;
    while (n + 8 <= end) {
        if (bits[n / 8])
            return true;
        n += 8;
    }
    while (n < end)
        if (mms_testBit(bits, static_cast<uint32_t>(n++)))
            return true;
    return false;
}

uint32_t mms_nameLength(const char* name24)
{
    if (!name24)
        return 0;
    const void* nul = std::memchr(name24, 0, MMS_NAME_SIZE);
    return nul ? static_cast<uint32_t>(static_cast<const char*>(nul) - name24) : MMS_NAME_SIZE;
}

JResult mms_copyName(char* destination24, const char* source)
{
    if (!destination24 || !source)
        return MMS_E_ARG;
    const uint32_t length = mms_nameLength(source);
    if (length == 0 || length >= MMS_NAME_SIZE)
        return MMS_E_ARG;
    std::memset(destination24, 0, MMS_NAME_SIZE);
    std::memcpy(destination24, source, length);
    return 0;
}

uint32_t mms_namePathLength(uint32_t pathLength, const char* name24, bool leadingSlash)
{
    const uint32_t slash = (pathLength != 0 || leadingSlash) ? 1 : 0;
    return pathLength + slash + mms_nameLength(name24);
}

JResult mms_appendName(char* path, uint32_t size, const char* name24, bool leadingSlash)
{
    if (!path || !name24 || size == 0)
        return MMS_E_ARG;
    const void* nul = std::memchr(path, 0, size);
    if (!nul)
        return MMS_E_ARG;
    const uint32_t pathLength = static_cast<uint32_t>(static_cast<const char*>(nul) - path);
    const uint32_t nameLength = mms_nameLength(name24);
    const uint64_t needed = static_cast<uint64_t>(mms_namePathLength(pathLength, name24, leadingSlash)) + 1;
    if (needed > size)
        return MMS_E_ARG;
    char* at = path + pathLength;
    if (pathLength != 0 || leadingSlash)
        *at++ = '/';
    std::memcpy(at, name24, nameLength);
    at[nameLength] = 0;
    return 0;
}

uint32_t mms_splitPath(const char* path, uint32_t length, const char** rest, uint32_t* restLength)
{
    uint32_t i = 0;
    if (path)
        while (i < length && path[i] != 0 && path[i] != '/')
            ++i;
    const bool slash = path && i < length && path[i] == '/';
    if (rest)
        *rest = path ? path + i + (slash ? 1 : 0) : nullptr;
    if (restLength)
        *restLength = slash ? length - i - 1 : 0;
    return i;
}

void mms_splitFunctionPath(const char* path, uint32_t length, const char** function, uint32_t* functionLength,
    const char** rest, uint32_t* restLength)
{
    if (!path || length == 0 || path[0] != '/') {
        if (function)
            *function = nullptr;
        if (functionLength)
            *functionLength = 0;
        if (rest)
            *rest = path;
        if (restLength)
            *restLength = path ? length : 0;
        return;
    }
    const uint32_t first = mms_splitPath(path + 1, length - 1, rest, restLength);
    if (function)
        *function = path + 1;
    if (functionLength)
        *functionLength = first;
}

JResult mms_stepIndexes(const uint32_t* first, uint32_t* current, const uint32_t* last, uint32_t count)
{
    if (!first || !current || !last)
        return MMS_E_ARG;
    for (uint32_t i = 0; i < count; ++i)
        if (current[i] < first[i] || current[i] > last[i])
            return MMS_E_PATH;
    for (uint32_t level = count; level-- > 0;) {
        if (current[level] < last[level]) {
            ++current[level];
            return 0;
        }
        current[level] = first[level];
    }
    return 8;
}

void mms_swapBytes(void* value, uint32_t size)
{
    if (!value || (size != 2 && size != 4 && size != 8))
        return;
    auto* bytes = static_cast<uint8_t*>(value);
    for (uint32_t i = 0; i < size / 2; ++i) {
        const uint8_t t = bytes[i];
        bytes[i] = bytes[size - 1 - i];
        bytes[size - 1 - i] = t;
    }
}

bool mms_hostIsBigEndian()
{
    const uint8_t bytes[4] = {1, 2, 3, 4};
    uint32_t word = 0;
    std::memcpy(&word, bytes, sizeof word);
    return word == 0x01020304u;
}

} // namespace MMS
