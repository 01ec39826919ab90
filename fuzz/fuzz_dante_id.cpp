// Identifiers and device names from untrusted text (DNS-SD TXT values, names
// handed in by peers): nothing is read past the given length, the two entry
// points agree, and the name check keeps its limits.
#include "dante/conmon/conmon_id.h"
#include "fuzz/fuzz_check.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // An exact-size copy so the sanitizer sees any read past the length.
    std::unique_ptr<char[]> exact(new char[size ? size : 1]);
    memcpy(exact.get(), data, size);

    conmon_id64 strict{}, lenient{};
    const aud_error e1 = conmon_id64_from_text_len(&strict, exact.get(), size, false);
    const aud_error e2 = conmon_id64_from_text_len(&lenient, exact.get(), size, true);
    fuzzCheck(e1 == AUD_SUCCESS || e1 == AUD_RANGE);
    fuzzCheck(e2 == AUD_SUCCESS); // with the allowance every text gives an identifier
    if (e1 == AUD_SUCCESS)
        fuzzCheck(memcmp(&strict, &lenient, sizeof strict) == 0);

    const std::string text(reinterpret_cast<const char*>(data), size);
    if (text.find('\0') == std::string::npos) {
        conmon_id64 terminated{};
        const aud_error e3 = conmon_id64_from_text(&terminated, text.c_str());
        fuzzCheck(e3 == e1);
        if (e3 == AUD_SUCCESS)
            fuzzCheck(memcmp(&terminated, &strict, sizeof strict) == 0);

        char name[CONMON_DEVICE_NAME_SIZE];
        const aud_error e4 = conmon_device_name_check(name, text.c_str());
        fuzzCheck(name[CONMON_DEVICE_NAME_SIZE - 1] == '\0');
        const size_t firstBad = text.find_first_of(".=@");
        const size_t kept = strlen(name);
        if (e4 == AUD_INVALIDDATA) {
            fuzzCheck(kept == 0 && firstBad < CONMON_DEVICE_NAME_SIZE - 1);
        } else if (e4 == AUD_TRUNCATED) {
            fuzzCheck(kept == CONMON_DEVICE_NAME_SIZE - 1 && text.size() > kept && text.compare(0, kept, name) == 0);
        } else {
            fuzzCheck(e4 == AUD_SUCCESS && text == name);
        }
    }
    return 0;
}
