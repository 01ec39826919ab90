#include "pbd/jlib/jlib_md5.h"

#include <cstring>

namespace {

constexpr uint32_t kSine[64] = {
    0xd76aa478,
    0xe8c7b756,
    0x242070db,
    0xc1bdceee,
    0xf57c0faf,
    0x4787c62a,
    0xa8304613,
    0xfd469501,
    0x698098d8,
    0x8b44f7af,
    0xffff5bb1,
    0x895cd7be,
    0x6b901122,
    0xfd987193,
    0xa679438e,
    0x49b40821,
    0xf61e2562,
    0xc040b340,
    0x265e5a51,
    0xe9b6c7aa,
    0xd62f105d,
    0x02441453,
    0xd8a1e681,
    0xe7d3fbc8,
    0x21e1cde6,
    0xc33707d6,
    0xf4d50d87,
    0x455a14ed,
    0xa9e3e905,
    0xfcefa3f8,
    0x676f02d9,
    0x8d2a4c8a,
    0xfffa3942,
    0x8771f681,
    0x6d9d6122,
    0xfde5380c,
    0xa4beea44,
    0x4bdecfa9,
    0xf6bb4b60,
    0xbebfbc70,
    0x289b7ec6,
    0xeaa127fa,
    0xd4ef3085,
    0x04881d05,
    0xd9d4d039,
    0xe6db99e5,
    0x1fa27cf8,
    0xc4ac5665,
    0xf4292244,
    0x432aff97,
    0xab9423a7,
    0xfc93a039,
    0x655b59c3,
    0x8f0ccc92,
    0xffeff47d,
    0x85845dd1,
    0x6fa87e4f,
    0xfe2ce6e0,
    0xa3014314,
    0x4e0811a1,
    0xf7537e82,
    0xbd3af235,
    0x2ad7d2bb,
    0xeb86d391,
};

constexpr unsigned kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

inline uint32_t rotl(uint32_t x, unsigned n)
{
    return (x << n) | (x >> (32 - n));
}

template <int Round> inline uint32_t mix(uint32_t b, uint32_t c, uint32_t d)
{
    if (Round == 0)
        return d ^ (b & (c ^ d));
    if (Round == 1)
        return c ^ (d & (b ^ c));
    if (Round == 2)
        return b ^ c ^ d;
    return c ^ (b | ~d);
}

template <int Round> inline unsigned wordIndex(unsigned i)
{
    if (Round == 0)
        return i;
    if (Round == 1)
        return (5 * i + 1) % 16;
    if (Round == 2)
        return (3 * i + 5) % 16;
    return (7 * i) % 16;
}

// One round of 16 steps; a fixed round lets the compiler unroll it.
template <int Round> inline void round16(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d, const uint32_t m[16])
{
#pragma GCC unroll 16
    for (unsigned j = 0; j < 16; ++j) {
        const unsigned i = Round * 16 + j;
        const uint32_t next
            = b + rotl(a + mix<Round>(b, c, d) + kSine[i] + m[wordIndex<Round>(i)], kShift[Round][j % 4]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
}

void transform(uint32_t state[4], const uint8_t block[64])
{
    uint32_t m[16];
    for (int i = 0; i < 16; ++i)
        m[i] = static_cast<uint32_t>(block[i * 4]) | static_cast<uint32_t>(block[i * 4 + 1]) << 8
            | static_cast<uint32_t>(block[i * 4 + 2]) << 16 | static_cast<uint32_t>(block[i * 4 + 3]) << 24;
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    round16<0>(a, b, c, d, m);
    round16<1>(a, b, c, d, m);
    round16<2>(a, b, c, d, m);
    round16<3>(a, b, c, d, m);
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

} // namespace

void jlib_md5Init(jlib_md5_ctx* context)
{
    context->state[0] = 0x67452301;
    context->state[1] = 0xefcdab89;
    context->state[2] = 0x98badcfe;
    context->state[3] = 0x10325476;
    context->bitCount = 0;
    std::memset(context->block, 0, sizeof context->block);
}

void jlib_md5Update(jlib_md5_ctx* context, const void* data, size_t length)
{
    const auto* input = static_cast<const uint8_t*>(data);
    size_t used = static_cast<size_t>((context->bitCount >> 3) & 63);
    context->bitCount += static_cast<uint64_t>(length) << 3;
    if (used) {
        const size_t take = length < 64 - used ? length : 64 - used;
        std::memcpy(context->block + used, input, take);
        input += take;
        length -= take;
        used += take;
        if (used < 64)
            return;
        transform(context->state, context->block);
    }
    for (; length >= 64; input += 64, length -= 64)
        transform(context->state, input);
    if (length)
        std::memcpy(context->block, input, length);
}

void jlib_md5Final(uint8_t digest[16], jlib_md5_ctx* context)
{
    const uint64_t bits = context->bitCount;
    uint8_t lengthBytes[8];
    for (int i = 0; i < 8; ++i)
        lengthBytes[i] = static_cast<uint8_t>(bits >> (8 * i));
    const size_t used = static_cast<size_t>((bits >> 3) & 63);
    // Pad to 56 bytes mod 64: one 0x80 then zeros.
    static const uint8_t padding[64] = {0x80};
    const size_t padLength = used < 56 ? 56 - used : 120 - used;
    jlib_md5Update(context, padding, padLength);
    jlib_md5Update(context, lengthBytes, 8);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            digest[i * 4 + j] = static_cast<uint8_t>(context->state[i] >> (8 * j));
    std::memset(context, 0, sizeof *context);
}
