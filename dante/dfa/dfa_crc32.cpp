// CRC-32 with eight tables, so each step consumes eight bytes.
#include "dante/dfa/dfa_dntchk.h"

#include <array>

namespace {

using Tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr Tables makeTables()
{
    Tables t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i)
        for (size_t k = 1; k < 8; ++k)
            t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    return t;
}

constexpr Tables kTables = makeTables();

} // namespace

uint32_t dfa_crc32(uint32_t crc, const uint8_t* data, size_t size)
{
    uint32_t c = ~crc;
    while (size >= 8) {
        const uint32_t lo
            = c ^ (uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 24);
        const uint32_t hi
            = uint32_t(data[4]) | uint32_t(data[5]) << 8 | uint32_t(data[6]) << 16 | uint32_t(data[7]) << 24;
        c = kTables[7][lo & 0xFF] ^ kTables[6][(lo >> 8) & 0xFF] ^ kTables[5][(lo >> 16) & 0xFF] ^ kTables[4][lo >> 24]
            ^ kTables[3][hi & 0xFF] ^ kTables[2][(hi >> 8) & 0xFF] ^ kTables[1][(hi >> 16) & 0xFF]
            ^ kTables[0][hi >> 24];
        data += 8;
        size -= 8;
    }
    while (size-- > 0)
        c = kTables[0][(c ^ *data++) & 0xFF] ^ (c >> 8);
    return ~c;
}
