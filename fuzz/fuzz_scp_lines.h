// Shared by the line-decoder fuzz targets: feeds arbitrary bytes to a decoder
// twice, in one piece and in pieces cut where the first input byte says. Both
// runs must give the same lines, and the tables and the token must stay
// within their limits.
#pragma once

#include "scp/scp_codec.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace fuzz_scp_lines {

using Lines = std::vector<std::u32string>;

inline std::u32string flatten(const SCP::ScpAbstractDecoder& decoder)
{
    std::u32string out;
    for (const auto* table : {&decoder.keys(), &decoder.values()}) {
        if (table->count() > SCP::SCP_TABLE_ENTRIES)
            std::abort();
        for (uint32_t i = 0; i < table->count(); ++i) {
            const SCP::ScpText* t = table->item(i);
            if (!t || t->length() > SCP::SCP_VALUE_MAX)
                std::abort();
            for (const auto& ch : *t)
                out += static_cast<char32_t>(ch.code());
            out += U'\x1f';
        }
        out += U'\x1e';
    }
    return out;
}

template <typename Decoder> Lines decode(const uint8_t* data, size_t size, unsigned seed)
{
    Decoder decoder;
    Lines lines;
    size_t start = 0;
    while (start < size) {
        size_t piece = size - start;
        if (seed) {
            seed = seed * 1103515245u + 12345u;
            piece = 1 + (seed >> 16) % 16;
            if (piece > size - start)
                piece = size - start;
        }
        size_t pos = 0;
        while (pos < piece) {
            size_t consumed = 0;
            const JResult r = decoder.feed(data + start + pos, piece - pos, &consumed);
            if (consumed > piece - pos || decoder.token().length() > SCP::SCP_TOKEN_MAX)
                std::abort();
            pos += consumed;
            if (r == SCP::SCP_LINE_COMPLETE) {
                lines.push_back(flatten(decoder));
                decoder.resetAll();
            } else if (r < 0) {
                lines.push_back(U"!");
            } else {
                break;
            }
        }
        start += piece;
    }
    return lines;
}

template <typename Decoder> int run(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const std::vector<uint8_t> stream(data + 1, data + size);
    const uint8_t* bytes = stream.empty() ? nullptr : stream.data();
    const Lines whole = decode<Decoder>(bytes, stream.size(), 0);
    const Lines pieces = decode<Decoder>(bytes, stream.size(), data[0] | 0x100u);
    if (whole != pieces)
        std::abort();
    return 0;
}

} // namespace fuzz_scp_lines
