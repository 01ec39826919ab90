// UTF-8 from peers and the system (interface names, TXT values) to UTF-16
// and back: bounded writes at every size, and valid text survives the trip.
#include "dante/support/aud_printf.h"
#include "dante/support/aud_text.h"
#include "fuzz/fuzz_check.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 4096)
        return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const char* utf8 = text.c_str(); // up to the first zero byte

    const size_t units = aud_mbs_to_wcs(nullptr, utf8, 0);
    std::vector<char16_t> wide(units + 1, 0xAAAA);
    fuzzCheck(aud_mbs_to_wcs(wide.data(), utf8, wide.size()) == units);
    fuzzCheck(wide[units] == 0);

    // Cut conversions stay inside their buffer and end on a whole character.
    const size_t cut = size % (units + 2);
    std::vector<char16_t> small(cut + 1, 0xAAAA);
    aud_mbs_to_wcs(small.data(), utf8, cut);
    fuzzCheck(small[cut] == 0xAAAA);
    if (cut > 0) {
        const size_t n = std::char_traits<char16_t>::length(small.data());
        fuzzCheck(n < cut);
        fuzzCheck(n == 0 || !(small[n - 1] >= 0xD800 && small[n - 1] <= 0xDBFF));
    }

    // The decoded text is valid UTF-16, so it converts back whole.
    const size_t bytes = aud_wcs_to_mbs(nullptr, wide.data(), 0);
    std::vector<char> back(bytes + 1, '#');
    fuzzCheck(aud_wcs_to_mbs(back.data(), wide.data(), back.size()) == bytes);
    fuzzCheck(back[bytes] == '\0');
    const size_t again = aud_mbs_to_wcs(nullptr, back.data(), 0);
    fuzzCheck(again == units);

    char line[64];
    aud_u16_text(wide.data(), line, 1 + size % sizeof line);
    char formatted[32];
    fuzzCheck(aud_snprintf(formatted, sizeof formatted, "%ls", wide.data()) == int(bytes));
    return 0;
}
