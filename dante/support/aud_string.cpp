#include "dante/support/aud_string.h"

#include <cstdarg>
#include <cstring>

namespace {

template <typename Char> size_t textLength(const Char* text)
{
    size_t n = 0;
    while (text[n])
        ++n;
    return n;
}

template <typename Char> size_t boundedCopy(Char* dst, const Char* src, size_t size)
{
    const size_t length = textLength(src);
    if (size > 0) {
        const size_t n = length < size - 1 ? length : size - 1;
        memcpy(dst, src, n * sizeof(Char));
        dst[n] = 0;
    }
    return length;
}

} // namespace

size_t aud_strlcpy(char* dst, const char* src, size_t size)
{
    return boundedCopy(dst, src, size);
}

size_t aud_wcslcpy(char16_t* dst, const char16_t* src, size_t size)
{
    return boundedCopy(dst, src, size);
}

size_t aud_wcslen(const char16_t* text)
{
    return textLength(text);
}

size_t aud_strlcat(char* dst, const char* src, size_t size)
{
    const size_t used = strnlen(dst, size);
    if (used == size)
        return size;
    return used + boundedCopy(dst + used, src, size - used);
}

size_t aud_strlcat_list(char* dst, size_t size, const char* text, ...)
{
    const size_t used = strnlen(dst, size);
    if (used == size)
        return size;
    size_t total = used;
    va_list args;
    va_start(args, text);
    for (const char* t = text; t; t = va_arg(args, const char*)) {
        const size_t at = total < size ? total : size - 1;
        total += boundedCopy(dst + at, t, size - at);
    }
    va_end(args);
    return total;
}
