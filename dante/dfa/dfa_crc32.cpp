// CRC-32 with sixteen tables, so each step consumes sixteen bytes.
#include "dante/dfa/dfa_dntchk.h"

#include <array>

namespace {

using Tables = std::array<std::array<uint32_t, 256>, 16>;

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
        for (size_t k = 1; k < 16; ++k)
            t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    return t;
}

constexpr Tables kTables = makeTables();

} // namespace

uint32_t dfa_crc32(uint32_t crc, const uint8_t* data, size_t size)
{
    uint32_t c = ~crc;
    auto word = [](const uint8_t* p) {
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    };
    const auto& t = kTables;
    while (size >= 16) {
        const uint32_t a = c ^ word(data);
        const uint32_t b = word(data + 4);
        const uint32_t d = word(data + 8);
        const uint32_t e = word(data + 12);
        c = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^ t[11][b & 0xFF]
            ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^ t[7][d & 0xFF] ^ t[6][(d >> 8) & 0xFF]
            ^ t[5][(d >> 16) & 0xFF] ^ t[4][d >> 24] ^ t[3][e & 0xFF] ^ t[2][(e >> 8) & 0xFF] ^ t[1][(e >> 16) & 0xFF]
            ^ t[0][e >> 24];
        data += 16;
        size -= 16;
    }
    while (size-- > 0)
        c = kTables[0][(c ^ *data++) & 0xFF] ^ (c >> 8);
    return ~c;
}
