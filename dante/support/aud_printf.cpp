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

bool spanIs(const char* s, size_t n, const char* word)
{
    return strlen(word) == n && memcmp(s, word, n) == 0;
}

Length lengthOf(const char* s, size_t n)
{
    if (n == 0)
        return Length::Int;
    if (spanIs(s, n, "hh"))
        return Length::Char;
    if (spanIs(s, n, "h"))
        return Length::Short;
    if (spanIs(s, n, "l"))
        return Length::Long;
    if (spanIs(s, n, "ll") || spanIs(s, n, "I64"))
        return Length::Bits64;
    if (spanIs(s, n, "I32"))
        return Length::Bits32;
    if (spanIs(s, n, "I"))
        return Length::Pointer;
    if (spanIs(s, n, "w"))
        return Length::Wide;
    return Length::Bad;
}

// A C library format for one conversion: "%", the flags, width and
// precision as written, then a length and a conversion of our choosing.
struct Spec {
    char text[kMaxConversion + 8];
    size_t used = 0;

    void add(const char* s, size_t n)
    {
        memcpy(text + used, s, n);
        used += n;
        text[used] = '\0';
    }
    void add(const char* s) { add(s, strlen(s)); }
};

// One parsed conversion.
struct Conversion {
    const char* head; // "%" and the flags, width and precision
    size_t headLength;
    size_t widthLength; // "%" with flags and width only
    int stars = 0;
    bool starPrecision = false;
    bool hasPrecision = false;
    Length length = Length::Int;
    char type = 0;
    size_t consumed = 0; // characters of the format, "%" included

    bool plain() const { return headLength == 1; }
    Spec spec(const char* tail) const
    {
        Spec s;
        s.add(head, headLength);
        s.add(tail);
        return s;
    }
};

void skipDigits(const char* f, size_t* i)
{
    while (f[*i] >= '0' && f[*i] <= '9')
        ++*i;
}

bool parseConversion(const char* f, Conversion* c)
{
    size_t i = 1;
    while (f[i] && strchr("-+0 #", f[i]))
        ++i;
    if (f[i] == '*') {
        ++c->stars;
        ++i;
    } else {
        skipDigits(f, &i);
    }
    c->widthLength = i;
    if (f[i] == '.') {
        c->hasPrecision = true;
        ++i;
        if (f[i] == '*') {
            ++c->stars;
            c->starPrecision = true;
            ++i;
        } else {
            skipDigits(f, &i);
        }
    }
    c->head = f;
    c->headLength = i;
    const size_t lengthStart = i;
    while (f[i] && strchr("2346hIlw", f[i]))
        ++i;
    c->length = lengthOf(f + lengthStart, i - lengthStart);
    if (!f[i] || !strchr("cdeEfFgGinopsSuxX", f[i]) || c->length == Length::Bad)
        return false;
    c->type = f[i];
    c->consumed = i + 1;
    return c->consumed <= kMaxConversion;
}

// Formats one conversion alone with the C library and appends the piece.
template <typename... A> void piece(Out& out, const Spec& spec, A... args)
{
    char scratch[kScratch];
    const int n = snprintf(scratch, sizeof scratch, spec.text, args...);
    if (n < 0)
        return;
    if (size_t(n) < sizeof scratch) {
        out.put(scratch, size_t(n));
        return;
    }
    std::unique_ptr<char[]> big(new (std::nothrow) char[size_t(n) + 1]);
    if (!big)
        return;
    snprintf(big.get(), size_t(n) + 1, spec.text, args...);
    out.put(big.get(), size_t(n));
}

template <typename T> void withStars(Out& out, const Spec& spec, const int* star, int stars, T value)
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

// The common "%d", "%u", "%x" without flags, width or precision, done here.
void putInteger(Out& out, unsigned long long magnitude, bool negative, char type)
{
    const char* digits = type == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
    const unsigned base = type == 'x' || type == 'X' ? 16 : (type == 'o' ? 8 : 10);
    char text[24];
    size_t at = sizeof text;
    do {
        text[--at] = digits[magnitude % base];
        magnitude /= base;
    } while (magnitude);
    if (negative)
        text[--at] = '-';
    out.put(text + at, sizeof text - at);
}

void formatInteger(Out& out, const Conversion& c, const int* star, va_list& args)
{
    const bool isSigned = c.type == 'd' || c.type == 'i';
    if (isSigned) {
        const long long v = signedArgument(c.length, args);
        if (c.plain())
            putInteger(out, v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v),
                v < 0, 'd');
        else
            withStars(out, c.spec(c.type == 'd' ? "lld" : "lli"), star, c.stars, v);
        return;
    }
    const unsigned long long v = unsignedArgument(c.length, args);
    if (c.plain()) {
        putInteger(out, v, false, c.type);
        return;
    }
    const char tail[] = {'l', 'l', c.type, '\0'};
    withStars(out, c.spec(tail), star, c.stars, v);
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

// UTF-16 texts and units become UTF-8 first and are printed with the
// conversion's flags and width; a precision counts 16-bit units read.
void formatWide(Out& out, const Conversion& c, const int* star, va_list& args)
{
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
            const int p = c.starPrecision ? star[c.stars - 1] : atoi(c.head + c.widthLength + 1);
            if (p >= 0)
                units = size_t(p);
        }
        if (text)
            aud_utf16_append_utf8(&utf8, text, units);
        else
            utf8 = "(null)";
    }
    Spec spec;
    spec.add(c.head, c.widthLength);
    spec.add(".*s");
    const int length = utf8.size() > INT_MAX ? INT_MAX : int(utf8.size());
    const bool starWidth = c.stars > 0 && !(c.stars == 1 && c.starPrecision);
    if (starWidth)
        piece(out, spec, star[0], length, utf8.data());
    else
        piece(out, spec, length, utf8.data());
}

void formatText(Out& out, const Conversion& c, const int* star, va_list& args)
{
    if (isWideText(c)) {
        formatWide(out, c, star, args);
        return;
    }
    if (c.type == 'c') {
        const int ch = va_arg(args, int);
        if (c.plain()) {
            const char byte = char(ch);
            out.put(&byte, 1);
        } else {
            withStars(out, c.spec("c"), star, c.stars, ch);
        }
        return;
    }
    const char* text = va_arg(args, const char*);
    if (c.plain()) {
        const char* shown = text ? text : "(null)";
        out.put(shown, strlen(shown));
    } else {
        withStars(out, c.spec("s"), star, c.stars, text);
    }
}

void formatConversion(Out& out, const Conversion& c, va_list& args)
{
    int star[2] = {0, 0};
    for (int s = 0; s < c.stars; ++s)
        star[s] = va_arg(args, int);
    switch (c.type) {
    case 'd':
    case 'i':
    case 'o':
    case 'u':
    case 'x':
    case 'X':
        formatInteger(out, c, star, args);
        break;
    case 'e':
    case 'E':
    case 'f':
    case 'F':
    case 'g':
    case 'G': {
        const char tail[] = {c.type, '\0'};
        withStars(out, c.spec(tail), star, c.stars, va_arg(args, double));
        break;
    }
    case 'p':
        withStars(out, c.spec("p"), star, c.stars, va_arg(args, void*));
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
        const char* run = f;
        while (*f && *f != '%' && *f != '\\')
            ++f;
        out.put(run, size_t(f - run));
        if (!*f)
            break;
        if (f[0] == '\\') {
            const size_t n = isEscapeFollower(f[1]) ? 2 : 1;
            out.put(f, n);
            f += n;
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
