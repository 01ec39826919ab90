#include "pbd/jlib/jlib_text.h"

#include "pbd/jlib/jvariant.h"

#include <cmath>
#include <cstring>
#include <limits>

int32_t jlib_isBlank(int32_t c)
{
    return c == ' ' || c == '\t';
}
int32_t jlib_isSpace(int32_t c)
{
    return c == ' ' || (c >= 9 && c <= 13);
}
int32_t jlib_isDigit(int32_t c)
{
    return c >= '0' && c <= '9';
}
int32_t jlib_isLower(int32_t c)
{
    return c >= 'a' && c <= 'z';
}
int32_t jlib_toLower(int32_t c)
{
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

// ---------------------------------------------------------------------------
// Memory and text operations

JResult jlib_memCopy(void* destination, const void* source, size_t n)
{
    if (!destination || !source)
        return JLIB_TEXT_E_NULL;
    std::memmove(destination, source, n);
    return JLIB_OK;
}

JResult jlib_memSet(void* destination, int byte, size_t n)
{
    if (!destination || n == 0)
        return JLIB_TEXT_E_NULL;
    std::memset(destination, byte, n);
    return JLIB_OK;
}

JResult jlib_memCompare(const void* a, const void* b, size_t n)
{
    if (!a || !b)
        return JLIB_TEXT_E_NULL;
    const int order = n ? std::memcmp(a, b, n) : 0;
    return order == 0 ? 0 : order > 0 ? 1 : 2;
}

JResult jlib_strCopy(char* destination, size_t size, const char* source)
{
    if (!destination || !source || size == 0)
        return JLIB_TEXT_E_NULL;
    size_t i = 0;
    for (; i + 1 < size && source[i]; ++i)
        destination[i] = source[i];
    destination[i] = '\0';
    return source[i] ? JLIB_TEXT_E_CUT : JLIB_OK;
}

JResult jlib_strCopyN(char* destination, const char* source, size_t n)
{
    if (!destination || !source || n == 0)
        return JLIB_TEXT_E_NULL;
    size_t i = 0;
    for (; i < n && source[i]; ++i)
        destination[i] = source[i];
    destination[i] = '\0';
    return source[i] ? JLIB_TEXT_CUT : JLIB_OK;
}

JResult jlib_strCompare(const char* a, const char* b, size_t n)
{
    if (!a || !b || n == 0)
        return JLIB_TEXT_E_NULL;
    for (size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<signed char>(a[i]);
        const auto cb = static_cast<signed char>(b[i]);
        if (ca != cb)
            return ca > cb ? 1 : 2;
        if (ca == 0)
            break;
    }
    return 0;
}

JResult jlib_strFindChar(const char* text, int character, size_t n, const char** found)
{
    if (found)
        *found = nullptr;
    if (!text || n == 0)
        return JLIB_TEXT_E_NULL;
    const char wanted = static_cast<char>(character);
    // Only the n bytes of the window are ever read.
    for (size_t i = 0; i < n; ++i) {
        if (text[i] == wanted) {
            if (found)
                *found = text + i;
            return JLIB_OK;
        }
        if (text[i] == '\0')
            break;
    }
    return JLIB_TEXT_E_NOTFOUND;
}

namespace {

// Index of the first NUL among the first window bytes, or window when none.
size_t findNul(const char* text, size_t window)
{
    const void* nul = std::memchr(text, 0, window);
    return nul ? static_cast<size_t>(static_cast<const char*>(nul) - text) : window;
}

JResult measure(const char* text, size_t window, size_t maximum, size_t* length)
{
    if (!text) {
        if (length)
            *length = 0;
        return JLIB_TEXT_E_NULL;
    }
    const size_t at = findNul(text, window);
    const bool fits = at < window && at <= maximum;
    if (length)
        *length = fits ? at : maximum;
    return fits ? JLIB_OK : JLIB_TEXT_E_NOTFOUND;
}

} // namespace

JResult jlib_strLength(const char* text, size_t maximum, size_t* length)
{
    if (maximum == std::numeric_limits<size_t>::max())
        return measure(text, text ? std::strlen(text) + 1 : 0, maximum, length);
    return measure(text, maximum + 1, maximum, length);
}

JResult jlib_strLengthBounded(const char* text, size_t maximum, size_t* length)
{
    return measure(text, maximum, maximum, length);
}

// ---------------------------------------------------------------------------
// Formatter

namespace {

class Output {
public:
    Output(char* buffer, size_t size)
        : m_buffer(buffer)
        , m_room(size - 1)
    {
    }

    void put(char c)
    {
        if (m_count < m_room)
            m_buffer[m_count++] = c;
    }
    void repeat(char c, size_t n)
    {
        for (size_t i = 0; i < n && m_count < m_room; ++i)
            put(c);
    }
    void text(const char* s)
    {
        for (; *s && m_count < m_room; ++s)
            put(*s);
    }
    size_t finish()
    {
        m_buffer[m_count] = '\0';
        return m_count;
    }

private:
    char* m_buffer;
    size_t m_room;
    size_t m_count = 0;
};

struct Spec {
    bool zero = false;
    bool plus = false;
    size_t width = 0;
};

// Digits of value in base (10 or 16), most significant first, into digits;
// returns their count (at most 10 for 32-bit values).
size_t toDigits(uint32_t value, unsigned base, bool upper, char (&digits)[12])
{
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char reversed[12];
    size_t n = 0;
    do {
        reversed[n++] = set[value % base];
        value /= base;
    } while (value);
    for (size_t i = 0; i < n; ++i)
        digits[i] = reversed[n - 1 - i];
    digits[n] = '\0';
    return n;
}

void putNumber(Output& out, const Spec& spec, char sign, uint32_t magnitude, unsigned base, bool upper)
{
    char digits[12];
    const size_t n = toDigits(magnitude, base, upper, digits);
    const size_t used = n + (sign ? 1 : 0);
    const size_t pad = spec.width > used ? spec.width - used : 0;
    if (spec.zero) {
        if (sign)
            out.put(sign);
        out.repeat('0', pad);
    } else {
        out.repeat(' ', pad);
        if (sign)
            out.put(sign);
    }
    out.text(digits);
}

} // namespace

JResult jlib_formatStringV(char* buffer, size_t size, size_t* written, const char* format, va_list args)
{
    if (written)
        *written = 0;
    if (!buffer || !format || size == 0)
        return JLIB_FAIL;
    Output out(buffer, size);
    const char* p = format;
    while (*p) {
        if (*p != '%') {
            out.put(*p++);
            continue;
        }
        ++p;
        if (*p == '%') {
            out.put(*p++);
            continue;
        }
        Spec spec;
        for (;; ++p) {
            if (*p == '0')
                spec.zero = true;
            else if (*p == '+')
                spec.plus = true;
            else
                break;
        }
        for (; jlib_isDigit(*p); ++p) {
            // A width beyond any buffer only pads until the buffer is full.
            if (spec.width < size)
                spec.width = spec.width * 10 + static_cast<size_t>(*p - '0');
        }
        switch (*p) {
        case 'd': {
            const int value = va_arg(args, int);
            const uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
            const char sign = value < 0 ? '-' : (spec.plus && value > 0 ? '+' : '\0');
            putNumber(out, spec, sign, magnitude, 10, false);
            break;
        }
        case 'u':
            putNumber(out, spec, '\0', va_arg(args, unsigned), 10, false);
            break;
        case 'x':
        case 'X':
            putNumber(out, spec, '\0', va_arg(args, unsigned), 16, *p == 'X');
            break;
        case 'c':
            out.put(static_cast<char>(va_arg(args, int)));
            break;
        case 's': {
            const char* s = va_arg(args, const char*);
            if (s)
                out.text(s);
            break;
        }
        case '\0':
            continue; // the format ends inside a conversion
        default:
            out.put(*p); // not a conversion of ours: copied, no argument taken
            break;
        }
        ++p;
    }
    const size_t count = out.finish();
    if (written)
        *written = count;
    return JLIB_OK;
}

JResult jlib_formatString(char* buffer, size_t size, size_t* written, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const JResult result = jlib_formatStringV(buffer, size, written, format, args);
    va_end(args);
    return result;
}

// ---------------------------------------------------------------------------
// Number parsers

namespace {

int digitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    return 99;
}

bool isOneOf(char c, char lower)
{
    return c == lower || c == lower - ('a' - 'A');
}

// Octal or hexadecimal digits of [p, end) as an unsigned 32-bit value.
bool parseUnsigned(const char* p, const char* end, unsigned base, uint32_t* value)
{
    if (p == end)
        return false;
    uint64_t acc = 0;
    for (; p < end; ++p) {
        const int d = digitValue(*p);
        if (d >= static_cast<int>(base))
            return false;
        acc = acc * base + static_cast<unsigned>(d);
        if (acc > 0xFFFFFFFFu)
            return false;
    }
    *value = static_cast<uint32_t>(acc);
    return true;
}

// Powers of ten as long double, exact up to 10^27.
long double powerOfTen(long exponent)
{
    long double result = 1.0L;
    long double factor = 10.0L;
    for (unsigned long e = static_cast<unsigned long>(exponent); e; e >>= 1) {
        if (e & 1)
            result *= factor;
        factor *= factor;
    }
    return result;
}

struct Decimal {
    bool negative = false;
    bool point = false;
    uint64_t mantissa = 0; // up to 19 significant digits
    long scale = 0; // decimal exponent applied to mantissa
    bool overflow = false; // integer part beyond 64 bits
    long exponent = 0; // the 'e' exponent
};

bool scanDecimal(const char* p, const char* end, Decimal* d)
{
    if (p < end && (*p == '+' || *p == '-'))
        d->negative = *p++ == '-';
    bool anyDigit = false;
    for (; p < end; ++p) {
        if (jlib_isDigit(*p)) {
            anyDigit = true;
            const unsigned digit = static_cast<unsigned>(*p - '0');
            if (d->mantissa <= (UINT64_MAX - 9) / 10) {
                d->mantissa = d->mantissa * 10 + digit;
                if (d->point)
                    --d->scale;
            } else if (!d->point) {
                ++d->scale; // digit beyond 64-bit precision; its place still counts
                d->overflow = true;
            }
        } else if (*p == '.' && !d->point) {
            d->point = true;
        } else {
            break;
        }
    }
    if (!anyDigit)
        return false;
    if (p == end)
        return true;
    if (*p != 'e' && *p != 'E')
        return false;
    ++p;
    bool negativeExponent = false;
    if (p < end && (*p == '+' || *p == '-'))
        negativeExponent = *p++ == '-';
    if (p == end)
        return false;
    for (; p < end; ++p) {
        if (!jlib_isDigit(*p))
            return false;
        if (d->exponent < 100000) // far beyond any float; stops the count growing
            d->exponent = d->exponent * 10 + (*p - '0');
    }
    if (negativeExponent)
        d->exponent = -d->exponent;
    return true;
}

bool storeDecimal(const Decimal& d, JLIB::JVariant* variant, int32_t* kind)
{
    if (!d.point && d.exponent == 0) {
        if (d.overflow)
            return false;
        if (d.negative) {
            if (d.mantissa > 0x80000000u)
                return false;
            variant->setInt32(static_cast<int32_t>(0u - static_cast<uint32_t>(d.mantissa)));
            *kind = JLIB_NUMBER_SIGNED;
        } else {
            if (d.mantissa > 0xFFFFFFFFu)
                return false;
            variant->setUInt32(static_cast<uint32_t>(d.mantissa));
            *kind = JLIB_NUMBER_UNSIGNED;
        }
        return true;
    }
    const long scale = d.scale + d.exponent;
    long double value = static_cast<long double>(d.mantissa);
    if (d.mantissa != 0) {
        if (scale >= 0)
            value = scale > 5000 ? HUGE_VALL : value * powerOfTen(scale);
        else
            value = scale < -5000 ? 0.0L : value / powerOfTen(-scale);
    }
    // At or above this the value would round to infinity: beyond float range.
    const long double floatLimit = std::ldexp(1.0L, 128) - std::ldexp(1.0L, 103);
    if (value >= floatLimit)
        return false;
    float result = static_cast<float>(value);
    if (d.negative)
        result = -result;
    *variant = result;
    *kind = JLIB_NUMBER_FLOAT;
    return true;
}

} // namespace

JResult jlib_parseNumberToVariant(JLIB::JVariant* variant, int32_t* kind, const char* text, size_t length)
{
    if (!variant || !kind || !text || length == 0)
        return JLIB_TEXT_E_SIZE;
    const size_t stop = findNul(text, length);
    const JResult ended = stop < length ? JLIB_OK : JLIB_TEXT_ENDED_AT_LENGTH;
    const char* p = text;
    const char* end = text + stop;

    unsigned base = 10;
    if (p < end && isOneOf(*p, 'x')) {
        base = 16;
        ++p;
    } else if (p < end && *p == '0') {
        const char* q = p;
        while (q < end && *q == '0')
            ++q;
        if (q < end && *q >= '1' && *q <= '9') {
            base = 8;
            p = q;
        } else if (q < end && isOneOf(*q, 'x')) {
            base = 16;
            p = q + 1;
        }
        // Decimal keeps its leading zeros: "0", "0.5" and "00e1" need them.
    }

    if (base == 10 && end > p && isOneOf(end[-1], 'f')) {
        --end;
    } else if (end > p && isOneOf(end[-1], 'l')) {
        --end;
        if (end > p && isOneOf(end[-1], 'u'))
            --end;
    } else if (end > p && isOneOf(end[-1], 'u')) {
        --end;
    }

    if (base != 10) {
        uint32_t value = 0;
        if (!parseUnsigned(p, end, base, &value))
            return JLIB_TEXT_E_MALFORMED;
        variant->setUInt32(value);
        *kind = JLIB_NUMBER_UNSIGNED;
        return ended;
    }
    Decimal decimal;
    if (!scanDecimal(p, end, &decimal) || !storeDecimal(decimal, variant, kind))
        return JLIB_TEXT_E_MALFORMED;
    return ended;
}

JResult jlib_strToLong(int32_t* value, const char* text, const char** end, int base, size_t length)
{
    if (!value || !text || base == 1 || base < 0 || base > 36)
        return JLIB_TEXT_E_SIZE;
    size_t i = 0;
    while (i < length && jlib_isBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < length && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    if (base == 0) {
        base = 10;
        if (length - i >= 2 && text[i] == '0') {
            if (isOneOf(text[i + 1], 'x')) {
                base = 16;
                i += 2;
            } else if (jlib_isDigit(text[i + 1])) {
                base = 8;
                ++i;
            }
        }
    }
    // 64-bit accumulation held at the limits; remaining digits are consumed.
    const uint64_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
    uint64_t magnitude = 0;
    bool clipped = false;
    for (; i < length; ++i) {
        const int d = digitValue(text[i]);
        if (d >= base)
            break;
        if (!clipped) {
            magnitude = magnitude * static_cast<unsigned>(base) + static_cast<unsigned>(d);
            if (magnitude > limit) {
                magnitude = limit;
                clipped = true;
            }
        }
    }
    *value = negative ? static_cast<int32_t>(0u - static_cast<uint32_t>(magnitude)) : static_cast<int32_t>(magnitude);
    if (end)
        *end = text + i;
    if (!clipped)
        return JLIB_OK;
    return negative ? JLIB_TEXT_E_UNDERFLOW : JLIB_TEXT_E_OVERFLOW;
}
