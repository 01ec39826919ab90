// Decodes arbitrary bytes one sequence at a time. Checks: no read outside
// the input (the sanitizers watch), every step makes progress or stops at a
// cut-off tail, every byte below 0x80 comes out as its own code point, and
// whatever decodes cleanly survives an encode/decode round trip.
#include "pbd/jlib/junicode.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Exact-size copy so that any read past the end is caught.
    std::vector<uint8_t> input(data, data + size);
    const uint8_t* in = input.empty() ? nullptr : input.data();

    size_t pos = 0;
    while (pos < size) {
        JLIB::JUnicode ch;
        size_t used = 0;
        const JResult r = ch.fromUtf8(in + pos, size - pos, &used);
        if (ch.code() >= 0x110000)
            std::abort();
        if (used == 0) {
            // Only a sequence cut off by the end of the data may stay
            // unconsumed, and such a tail never holds an ASCII byte.
            if (r != JLIB_UNICODE_E_SHORT)
                std::abort();
            for (size_t i = pos; i < size; ++i)
                if (in[i] < 0x80)
                    std::abort();
            break;
        }
        if (used > size - pos || used > 6)
            std::abort();
        if (in[pos] < 0x80 && (r != JLIB_OK || used != 1 || ch.code() != in[pos]))
            std::abort();
        for (size_t i = 1; i < used; ++i)
            if (in[pos + i] < 0x80)
                std::abort(); // an ASCII byte swallowed into a sequence
        if (r == JLIB_OK) {
            uint8_t buf[6];
            size_t written = 0;
            JLIB::JUnicode back;
            size_t again = 0;
            if (ch.toUtf8(buf, sizeof buf, &written) != JLIB_OK || back.fromUtf8(buf, written, &again) != JLIB_OK
                || back != ch || again != written)
                std::abort();
        }
        pos += used;
    }
    return 0;
}
