// One Unicode code point with UTF-8, UTF-16, ASCII and Latin-1 conversions.
//
// UTF-8 decoding is deliberately lenient (overlong forms, surrogates and the
// old five- and six-byte forms are taken), but a byte that is not a
// continuation byte (10xxxxxx) is never consumed as one: a broken sequence
// yields U+FFFD and decoding resumes at the offending byte, so ASCII bytes
// such as a line feed always come through.
//
// The decoding and UTF-16 routines are inline because receive paths call
// them once per byte.
#pragma once

#include "pbd/jlib/jlib_result.h"

#include <cstddef>
#include <cstdint>

// Informative success: fromUtf16 combined, or toUtf16 produced, two units.
constexpr JResult JLIB_UNICODE_PAIR = 6;
// Null data or buffer.
constexpr JResult JLIB_UNICODE_E_NULL = static_cast<JResult>(0x80000001u);
// Output buffer too small; nothing written.
constexpr JResult JLIB_UNICODE_E_SMALL = static_cast<JResult>(0x80000002u);
// Not representable in ASCII / Latin-1; the substitute was used.
constexpr JResult JLIB_UNICODE_E_RANGE = static_cast<JResult>(0x80000003u);
// The data ends before the sequence does (nothing consumed).
constexpr JResult JLIB_UNICODE_E_SHORT = static_cast<JResult>(0x80000004u);
// Invalid lead byte or a byte that is not a continuation byte.
constexpr JResult JLIB_UNICODE_E_INVALID = static_cast<JResult>(0x80000005u);
// Code point above U+10FFFF, or a negative 8-bit character.
constexpr JResult JLIB_UNICODE_E_TOO_LARGE = static_cast<JResult>(0x80000007u);

namespace JLIB {

class JUnicode {
public:
    static constexpr uint32_t kReplacement = 0xFFFD;
    static constexpr uint32_t kLimit = 0x110000;

    constexpr JUnicode() = default;
    // Values of 0x110000 and above become U+FFFD.
    constexpr explicit JUnicode(uint32_t code)
        : m_code(code < kLimit ? code : kReplacement)
    {
    }
    // Plain integer literals and characters take the 32-bit path.
    constexpr explicit JUnicode(int code)
        : JUnicode(static_cast<uint32_t>(code))
    {
    }
    // One UTF-16 unit, taken as it is.
    constexpr explicit JUnicode(uint16_t unit)
        : m_code(unit)
    {
    }

    constexpr bool operator==(const JUnicode& other) const { return m_code == other.m_code; }
    constexpr bool operator!=(const JUnicode& other) const { return m_code != other.m_code; }
    constexpr uint32_t code() const { return m_code; }

    // Stores code; 0x110000 and above become U+FFFD with JLIB_UNICODE_E_TOO_LARGE.
    JResult setCode(uint32_t code);
    // Bytes 0x80 and above become U+FFFD with JLIB_UNICODE_E_RANGE.
    JResult setAscii(uint8_t byte);
    // Negative characters (bytes 0x80..0xFF) become U+FFFD with JLIB_UNICODE_E_TOO_LARGE.
    JResult setChar(signed char ch);
    JResult setCode16(uint16_t unit)
    {
        m_code = unit;
        return JLIB_OK;
    }

    // Decodes one UTF-8 sequence from data[0..length). consumed (may be null)
    // receives the bytes used; 0 with JLIB_UNICODE_E_SHORT means "wait for
    // more bytes".
    inline JResult fromUtf8(const uint8_t* data, size_t length, size_t* consumed);
    // Writes 1 to 6 bytes; on failure nothing is written and *written is 0.
    JResult toUtf8(uint8_t* buffer, size_t size, size_t* written) const;

    // A high surrogate followed by a low one combine (2 consumed,
    // JLIB_UNICODE_PAIR); anything else stores first as it is (1 consumed).
    inline JResult fromUtf16(uint16_t first, uint16_t second, size_t* consumed);
    // Below 0x10000: *high = the unit, *low = 0, count 1, result 0. From
    // 0x10000 on: a surrogate pair, count 2, JLIB_UNICODE_PAIR.
    inline JResult toUtf16(uint16_t* high, uint16_t* low, size_t* count) const;

    // A to Z become a to z; nothing else changes.
    constexpr uint32_t toLower() const { return (m_code >= 'A' && m_code <= 'Z') ? m_code + 0x20 : m_code; }
    void makeLower() { m_code = toLower(); }

    // One byte for codes below 128 (ASCII) or 256 (Latin-1); otherwise the
    // substitute and JLIB_UNICODE_E_RANGE.
    JResult toAscii(uint8_t* out, uint8_t substitute) const;
    JResult toLatin1(uint8_t* out, uint8_t substitute) const;

private:
    uint32_t m_code = 0;
};

inline JResult JUnicode::fromUtf8(const uint8_t* data, size_t length, size_t* consumed)
{
    size_t used = 0;
    JResult result = JLIB_OK;
    if (!data) {
        result = JLIB_UNICODE_E_NULL;
    } else if (length == 0) {
        m_code = kReplacement;
        result = JLIB_UNICODE_E_SHORT;
    } else {
        const uint8_t lead = data[0];
        if (lead < 0x80) {
            m_code = lead;
            used = 1;
        } else {
            size_t need;
            uint32_t code;
            if (lead >= 0xC2 && lead <= 0xDF) {
                need = 2;
                code = lead & 0x1Fu;
            } else if (lead >= 0xE0 && lead <= 0xEF) {
                need = 3;
                code = lead & 0x0Fu;
            } else if (lead >= 0xF0 && lead <= 0xF7) {
                need = 4;
                code = lead & 0x07u;
            } else if (lead >= 0xF8 && lead <= 0xFB) {
                need = 5;
                code = lead & 0x03u;
            } else if (lead == 0xFC || lead == 0xFD) {
                need = 6;
                code = lead & 0x01u;
            } else {
                need = 0; // 0x80..0xC1, 0xFE, 0xFF
                code = 0;
            }
            if (need == 0) {
                m_code = kReplacement;
                result = JLIB_UNICODE_E_INVALID;
                used = 1;
            } else {
                // Look at the bytes that are present before deciding the
                // sequence is merely short: a non-continuation byte already
                // breaks it, and must not be held back as pending input.
                const size_t avail = length < need ? length : need;
                size_t i = 1;
                for (; i < avail; ++i) {
                    const uint8_t b = data[i];
                    if ((b & 0xC0u) != 0x80u)
                        break;
                    code = (code << 6) | (b & 0x3Fu);
                }
                if (i < avail) {
                    m_code = kReplacement;
                    result = JLIB_UNICODE_E_INVALID;
                    used = i;
                } else if (avail < need) {
                    m_code = kReplacement;
                    result = JLIB_UNICODE_E_SHORT;
                } else if (code >= kLimit) {
                    m_code = kReplacement;
                    result = JLIB_UNICODE_E_TOO_LARGE;
                    used = need;
                } else {
                    m_code = code;
                    used = need;
                }
            }
        }
    }
    if (consumed)
        *consumed = used;
    return result;
}

inline JResult JUnicode::fromUtf16(uint16_t first, uint16_t second, size_t* consumed)
{
    if (first >= 0xD800 && first <= 0xDBFF && second >= 0xDC00 && second <= 0xDFFF) {
        m_code = 0x10000u + ((uint32_t(first & 0x3FFu) << 10) | (second & 0x3FFu));
        if (consumed)
            *consumed = 2;
        return JLIB_UNICODE_PAIR;
    }
    m_code = first;
    if (consumed)
        *consumed = 1;
    return JLIB_OK;
}

inline JResult JUnicode::toUtf16(uint16_t* high, uint16_t* low, size_t* count) const
{
    uint16_t h, l;
    size_t n;
    JResult result;
    if (m_code < 0x10000u) {
        h = static_cast<uint16_t>(m_code);
        l = 0;
        n = 1;
        result = JLIB_OK;
    } else {
        const uint32_t v = m_code - 0x10000u;
        h = static_cast<uint16_t>(0xD800u | ((v >> 10) & 0x3FFu));
        l = static_cast<uint16_t>(0xDC00u | (m_code & 0x3FFu));
        n = 2;
        result = JLIB_UNICODE_PAIR;
    }
    if (high)
        *high = h;
    if (low)
        *low = l;
    if (count)
        *count = n;
    return result;
}

} // namespace JLIB
