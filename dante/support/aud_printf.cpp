#include "dante/support/aud_printf.h"

#include "dante/support/aud_text.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace {

constexpr size_t kMaxConversion = 31;
constexpr size_t kScratch = 2052;

// Where formatted bytes go: copied while room is left, always counted.
struct Out {
    char* buffer;
    size_t size;
    size_t total = 0;

    void put(const char* bytes, size_t n)
    {
        if (buffer && total + 1 < size) {
            const size_t room = size - 1 - total;
            memcpy(buffer + total, bytes, n < room ? n : room);
        }
        total += n;
    }
    void finish()
    {
        if (buffer && size > 0)
            buffer[total < size ? total : size - 1] = '\0';
    }
};

enum class Length { Int, Char, Short, Long, Bits32, Bits64, Pointer, Wide, Bad };

Length lengthOf(const std::string& l)
{
    if (l.empty())
        return Length::Int;
    if (l == "hh")
        return Length::Char;
    if (l == "h")
        return Length::Short;
    if (l == "l")
        return Length::Long;
    if (l == "ll" || l == "I64")
        return Length::Bits64;
    if (l == "I32")
        return Length::Bits32;
    if (l == "I")
        return Length::Pointer;
    if (l == "w")
        return Length::Wide;
    return Length::Bad;
}

// One parsed conversion: the flags, width and precision as written, the
// count of "*" among them, the length and the conversion character.
struct Conversion {
    std::string flags; // flags, width and precision, as written
    std::string precisionText;
    int stars = 0;
    bool starPrecision = false;
    bool hasPrecision = false;
    Length length = Length::Int;
    char type = 0;
    size_t consumed = 0; // characters of the format, "%" included
};

bool parseConversion(const char* f, Conversion* c)
{
    size_t i = 1;
    while (f[i] && strchr("-+0 #", f[i]))
        ++i;
    if (f[i] == '*') {
        ++c->stars;
        ++i;
    } else {
        while (f[i] >= '0' && f[i] <= '9')
            ++i;
    }
    const size_t beforePrecision = i;
    if (f[i] == '.') {
        c->hasPrecision = true;
        ++i;
        if (f[i] == '*') {
            ++c->stars;
            c->starPrecision = true;
            ++i;
        } else {
            while (f[i] >= '0' && f[i] <= '9')
                ++i;
        }
    }
    c->flags.assign(f + 1, beforePrecision - 1);
    c->precisionText.assign(f + beforePrecision, i - beforePrecision);
    const size_t lengthStart = i;
    while (f[i] && strchr("2346hIlw", f[i]))
        ++i;
    c->length = lengthOf(std::string(f + lengthStart, i - lengthStart));
    if (!f[i] || !strchr("cdeEfFgGinopsSuxX", f[i]) || c->length == Length::Bad)
        return false;
    c->type = f[i];
    c->consumed = i + 1;
    return c->consumed <= kMaxConversion;
}

// Formats one conversion alone with the C library and appends the piece.
template <typename... A> void piece(Out& out, const std::string& spec, A... args)
{
    char scratch[kScratch];
    const int n = snprintf(scratch, sizeof scratch, spec.c_str(), args...);
    if (n < 0)
        return;
    if (size_t(n) < sizeof scratch) {
        out.put(scratch, size_t(n));
        return;
    }
    std::unique_ptr<char[]> big(new (std::nothrow) char[size_t(n) + 1]);
    if (!big)
        return;
    snprintf(big.get(), size_t(n) + 1, spec.c_str(), args...);
    out.put(big.get(), size_t(n));
}

template <typename T> void withStars(Out& out, const std::string& spec, const int* star, int stars, T value)
{
    if (stars == 0)
        piece(out, spec, value);
    else if (stars == 1)
        piece(out, spec, star[0], value);
    else
        piece(out, spec, star[0], star[1], value);
}

long long signedArgument(Length length, va_list& args)
{
    switch (length) {
    case Length::Char:
        return static_cast<signed char>(va_arg(args, int));
    case Length::Short:
        return static_cast<short>(va_arg(args, int));
    case Length::Long:
        return va_arg(args, long);
    case Length::Bits64:
        return va_arg(args, int64_t);
    case Length::Pointer:
        return va_arg(args, intptr_t);
    default:
        return static_cast<int32_t>(va_arg(args, int));
    }
}

unsigned long long unsignedArgument(Length length, va_list& args)
{
    switch (length) {
    case Length::Char:
        return static_cast<unsigned char>(va_arg(args, unsigned));
    case Length::Short:
        return static_cast<unsigned short>(va_arg(args, unsigned));
    case Length::Long:
        return va_arg(args, unsigned long);
    case Length::Bits64:
        return va_arg(args, uint64_t);
    case Length::Pointer:
        return va_arg(args, uintptr_t);
    default:
        return static_cast<uint32_t>(va_arg(args, unsigned));
    }
}

void storeCount(Length length, size_t total, va_list& args)
{
    void* target = va_arg(args, void*);
    if (!target)
        return;
    const long long n = total > LLONG_MAX ? LLONG_MAX : static_cast<long long>(total);
    switch (length) {
    case Length::Char:
        *static_cast<signed char*>(target) = static_cast<signed char>(n);
        break;
    case Length::Short:
        *static_cast<short*>(target) = static_cast<short>(n);
        break;
    case Length::Long:
        *static_cast<long*>(target) = static_cast<long>(n);
        break;
    case Length::Bits64:
        *static_cast<int64_t*>(target) = n;
        break;
    case Length::Pointer:
        *static_cast<intptr_t*>(target) = static_cast<intptr_t>(n);
        break;
    default:
        *static_cast<int*>(target) = static_cast<int>(n);
        break;
    }
}

bool isWideText(const Conversion& c)
{
    if (c.type == 'S')
        return c.length != Length::Short;
    return c.length == Length::Long || c.length == Length::Wide;
}

// Text conversions: narrow ones go to the C library as they are; UTF-16
// ones are turned into UTF-8 first and printed with their flags and width.
void formatText(Out& out, const Conversion& c, const int* star, va_list& args)
{
    const bool wide = isWideText(c);
    if (!wide && c.type == 's') {
        withStars(out, "%" + c.flags + c.precisionText + "s", star, c.stars, va_arg(args, const char*));
        return;
    }
    if (!wide && c.type == 'S') {
        withStars(out, "%" + c.flags + c.precisionText + "s", star, c.stars, va_arg(args, const char*));
        return;
    }
    if (!wide) { // narrow %c
        withStars(out, "%" + c.flags + c.precisionText + "c", star, c.stars, va_arg(args, int));
        return;
    }
    std::string utf8;
    if (c.type == 'c') {
        const char16_t unit = static_cast<char16_t>(va_arg(args, int));
        aud_utf16_append_utf8(&utf8, &unit, 1);
        if (unit == 0)
            utf8.assign(1, '\0');
    } else {
        const char16_t* text = va_arg(args, const char16_t*);
        size_t units = SIZE_MAX;
        if (c.hasPrecision) {
            const int p = c.starPrecision ? star[c.stars - 1] : atoi(c.precisionText.c_str() + 1);
            if (p >= 0)
                units = size_t(p);
        }
        if (text)
            aud_utf16_append_utf8(&utf8, text, units);
        else
            utf8 = "(null)";
    }
    // The width is all that is left to apply; a "*" width still takes its value.
    const std::string spec = "%" + c.flags + ".*s";
    const int length = utf8.size() > INT_MAX ? INT_MAX : int(utf8.size());
    if (c.stars > 0 && !(c.stars == 1 && c.starPrecision))
        piece(out, spec, star[0], length, utf8.data());
    else
        piece(out, spec, length, utf8.data());
}

void formatConversion(Out& out, const Conversion& c, va_list& args)
{
    int star[2] = {0, 0};
    for (int s = 0; s < c.stars; ++s)
        star[s] = va_arg(args, int);
    const std::string head = "%" + c.flags + c.precisionText;
    switch (c.type) {
    case 'd':
    case 'i':
        withStars(out, head + "ll" + c.type, star, c.stars, signedArgument(c.length, args));
        break;
    case 'o':
    case 'u':
    case 'x':
    case 'X':
        withStars(out, head + "ll" + c.type, star, c.stars, unsignedArgument(c.length, args));
        break;
    case 'e':
    case 'E':
    case 'f':
    case 'F':
    case 'g':
    case 'G':
        withStars(out, head + c.type, star, c.stars, va_arg(args, double));
        break;
    case 'p':
        withStars(out, head + "p", star, c.stars, va_arg(args, void*));
        break;
    case 'n':
        storeCount(c.length, out.total, args);
        break;
    default:
        formatText(out, c, star, args);
        break;
    }
}

bool isEscapeFollower(char ch)
{
    return ch && strchr("\"'?\\abfnrtv", ch);
}

} // namespace

int aud_vsnprintf(char* buffer, size_t size, const char* format, va_list args)
{
    if (!format)
        return -1;
    Out out{buffer, size};
    va_list ap;
    va_copy(ap, args);
    for (const char* f = format; *f;) {
        if (f[0] == '\\' && isEscapeFollower(f[1])) {
            out.put(f, 2);
            f += 2;
        } else if (f[0] != '%') {
            out.put(f, 1);
            ++f;
        } else if (f[1] == '%') {
            out.put("%", 1);
            f += 2;
        } else {
            Conversion c;
            if (parseConversion(f, &c)) {
                formatConversion(out, c, ap);
                f += c.consumed;
            } else {
                ++f; // an incomplete conversion: drop the "%" only
            }
        }
    }
    va_end(ap);
    out.finish();
    return out.total > size_t(INT_MAX) ? -1 : int(out.total);
}

int aud_snprintf(char* buffer, size_t size, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int n = aud_vsnprintf(buffer, size, format, args);
    va_end(args);
    return n;
}

int aud_vasprintf(char** out, const char* format, va_list args)
{
    if (!out || !format)
        return -1;
    va_list measure;
    va_copy(measure, args);
    const int n = aud_vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (n < 0)
        return -1;
    char* text = static_cast<char*>(malloc(size_t(n) + 1));
    if (!text)
        return -1;
    aud_vsnprintf(text, size_t(n) + 1, format, args);
    *out = text;
    return n;
}
