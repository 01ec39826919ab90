// Characters the SCP line format gives a meaning, for the decoders and the
// element readers and writers alike.
#pragma once

#include <cstdint>

namespace SCP {

constexpr uint32_t kQuote = '"';
constexpr uint32_t kBackslash = '\\';

// Blank, tab, LF, VT, FF and CR separate tokens.
inline bool isWhite(uint32_t c)
{
    return c == ' ' || (c >= 9 && c <= 13);
}

} // namespace SCP
