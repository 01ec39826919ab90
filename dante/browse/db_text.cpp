// See db_text.h.
#include "dante/browse/db_text.h"

bool db_parse_unsigned(const std::string& text, uint64_t max, uint64_t* out)
{
    if (text.empty())
        return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        const auto digit = static_cast<uint64_t>(c - '0');
        if (v > (max - digit) / 10)
            return false;
        v = v * 10 + digit;
    }
    *out = v;
    return true;
}
