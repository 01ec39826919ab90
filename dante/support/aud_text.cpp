#include "dante/support/aud_text.h"

#include <cstdint>
#include <cstdio>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool isHigh(char16_t u)
{
    return u >= 0xD800 && u <= 0xDBFF;
}

bool isLow(char16_t u)
{
    return u >= 0xDC00 && u <= 0xDFFF;
}

// Next code point of a UTF-16 text at *pos (below `units`); false for an
// unpaired surrogate, which is left at *pos.
bool next16(const char16_t* text, size_t units, size_t* pos, char32_t* cp)
{
    const char16_t u = text[*pos];
    if (isHigh(u)) {
        if (*pos + 1 < units && isLow(text[*pos + 1])) {
            *cp = 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(text[*pos + 1]) - 0xDC00);
            *pos += 2;
            return true;
        }
        return false;
    }
    if (isLow(u))
        return false;
    *cp = u;
    *pos += 1;
    return true;
}

size_t utf8Length(char32_t cp)
{
    return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
}

size_t encode8(char32_t cp, char* out)
{
    if (cp < 0x80) {
        out[0] = char(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = char(0xC0 | (cp >> 6));
        out[1] = char(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = char(0xE0 | (cp >> 12));
        out[1] = char(0x80 | ((cp >> 6) & 0x3F));
        out[2] = char(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = char(0xF0 | (cp >> 18));
    out[1] = char(0x80 | ((cp >> 12) & 0x3F));
    out[2] = char(0x80 | ((cp >> 6) & 0x3F));
    out[3] = char(0x80 | (cp & 0x3F));
    return 4;
}

bool isContinuation(uint8_t b)
{
    return (b & 0xC0) == 0x80;
}

// Next code point of a terminated UTF-8 text at *p. A broken sequence gives
// U+FFFD and consumes only its lead byte, so decoding resumes at the byte
// that broke it (a line feed is never swallowed).
char32_t next8(const uint8_t** p)
{
    const uint8_t* s = *p;
    const uint8_t lead = s[0];
    size_t need = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        *p = s + 1;
        return lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1, cp = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2, cp = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3, cp = lead & 0x07, minimum = 0x10000;
    } else {
        *p = s + 1;
        return kReplacement;
    }
    for (size_t i = 1; i <= need; ++i) {
        // The terminator is not a continuation byte, so this stops at it.
        if (!isContinuation(s[i])) {
            *p = s + 1;
            return kReplacement;
        }
        cp = (cp << 6) | (s[i] & 0x3F);
    }
    *p = s + 1;
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return kReplacement;
    *p = s + 1 + need;
    return cp;
}

} // namespace

void aud_append_utf8(std::string* out, char32_t cp)
{
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = kReplacement;
    char bytes[4];
    out->append(bytes, encode8(cp, bytes));
}

void aud_utf16_append_utf8(std::string* out, const char16_t* text, size_t units)
{
    size_t pos = 0;
    while (pos < units && text[pos]) {
        char32_t cp = 0;
        if (!next16(text, units, &pos, &cp)) {
            cp = kReplacement;
            ++pos;
        }
        aud_append_utf8(out, cp);
    }
}

size_t aud_wcs_to_mbs(char* dst, const char16_t* text, size_t size)
{
    size_t total = 0;
    size_t written = 0;
    bool room = size > 0;
    const size_t units = SIZE_MAX;
    for (size_t pos = 0; text && text[pos];) {
        char32_t cp = 0;
        if (!next16(text, units, &pos, &cp))
            break;
        const size_t n = utf8Length(cp);
        if (room && written + n < size)
            written += encode8(cp, dst + written);
        else
            room = false;
        total += n;
    }
    if (size > 0)
        dst[written] = '\0';
    return total;
}

size_t aud_mbs_to_wcs(char16_t* dst, const char* text, size_t count)
{
    size_t total = 0;
    size_t written = 0;
    bool room = count > 0;
    const auto* p = reinterpret_cast<const uint8_t*>(text ? text : "");
    while (*p) {
        const char32_t cp = next8(&p);
        const size_t n = cp >= 0x10000 ? 2 : 1;
        if (room && written + n < count) {
            if (n == 2) {
                dst[written++] = char16_t(0xD800 + ((cp - 0x10000) >> 10));
                dst[written++] = char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
            } else {
                dst[written++] = char16_t(cp);
            }
        } else {
            room = false;
        }
        total += n;
    }
    if (count > 0)
        dst[written] = 0;
    return total;
}

const char* aud_u16_text(const char16_t* text, char* dst, size_t size)
{
    if (!dst || size == 0)
        return dst;
    dst[0] = '\0';
    if (!text)
        return dst;
    bool ascii = true;
    for (size_t i = 0; text[i]; ++i)
        ascii = ascii && text[i] < 128;
    size_t at = 0;
    for (size_t i = 0; text[i] && at + 1 < size; ++i) {
        if (ascii) {
            dst[at++] = char(text[i]);
            continue;
        }
        const int n = snprintf(dst + at, size - at, "%s%04x", i ? " " : "", unsigned(text[i]));
        if (n < 0 || size_t(n) >= size - at) {
            dst[at] = '\0'; // no half-written unit
            return dst;
        }
        at += size_t(n);
    }
    dst[at] = '\0';
    return dst;
}

int aud_hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
