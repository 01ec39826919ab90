// Number texts from the fuzzer, handed over in heap buffers of exactly their
// size (no NUL after them), so any read past the given length is reported.
#include "pbd/jlib/jlib_text.h"
#include "pbd/jlib/jvariant.h"

#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the base of jlib_strToLong; the rest is the text.
    const int base = data[0] % 38 - 1; // -1..36, the invalid ones included
    const size_t length = size - 1;
    std::unique_ptr<char[]> text(new char[length ? length : 1]);
    std::memcpy(text.get(), data + 1, length);

    JLIB::JVariant variant;
    int32_t kind = -1;
    const JResult parsed = jlib_parseNumberToVariant(&variant, &kind, text.get(), length);
    if (jlib_succeeded(parsed) && (kind < 0 || kind > 2 || variant.type() == JLIB::JVARIANT_EMPTY))
        __builtin_trap();

    int32_t value = 0;
    const char* end = nullptr;
    const JResult converted = jlib_strToLong(&value, text.get(), &end, base, length);
    if (converted != JLIB_TEXT_E_SIZE && (end < text.get() || end > text.get() + length))
        __builtin_trap();
    return 0;
}
