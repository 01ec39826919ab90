#include "pbd/jlib/junicode.h"

namespace JLIB {

JResult JUnicode::setCode(uint32_t code)
{
    if (code >= kLimit) {
        m_code = kReplacement;
        return JLIB_UNICODE_E_TOO_LARGE;
    }
    m_code = code;
    return JLIB_OK;
}

JResult JUnicode::setAscii(uint8_t byte)
{
    if (byte >= 0x80) {
        m_code = kReplacement;
        return JLIB_UNICODE_E_RANGE;
    }
    m_code = byte;
    return JLIB_OK;
}

JResult JUnicode::setChar(signed char ch)
{
    if (ch < 0) {
        m_code = kReplacement;
        return JLIB_UNICODE_E_TOO_LARGE;
    }
    m_code = static_cast<uint32_t>(ch);
    return JLIB_OK;
}

JResult JUnicode::toUtf8(uint8_t* buffer, size_t size, size_t* written) const
{
    if (written)
        *written = 0;
    if (!buffer)
        return JLIB_UNICODE_E_NULL;
    const uint32_t c = m_code;
    size_t n;
    uint8_t prefix;
    if (c < 0x80) {
        n = 1;
        prefix = 0;
    } else if (c < 0x800) {
        n = 2;
        prefix = 0xC0;
    } else if (c <= 0xFFFF) {
        n = 3;
        prefix = 0xE0;
    } else if (c <= 0x1FFFFF) {
        n = 4;
        prefix = 0xF0;
    } else if (c <= 0x3FFFFFF) {
        n = 5;
        prefix = 0xF8;
    } else {
        n = 6;
        prefix = 0xFC;
    }
    if (size < n)
        return JLIB_UNICODE_E_SMALL;
    uint32_t rest = c;
    for (size_t i = n - 1; i > 0; --i) {
        buffer[i] = static_cast<uint8_t>(0x80u | (rest & 0x3Fu));
        rest >>= 6;
    }
    buffer[0] = static_cast<uint8_t>(prefix | rest);
    if (written)
        *written = n;
    return JLIB_OK;
}

JResult JUnicode::toAscii(uint8_t* out, uint8_t substitute) const
{
    if (m_code < 0x80) {
        *out = static_cast<uint8_t>(m_code);
        return JLIB_OK;
    }
    *out = substitute;
    return JLIB_UNICODE_E_RANGE;
}

JResult JUnicode::toLatin1(uint8_t* out, uint8_t substitute) const
{
    if (m_code < 0x100) {
        *out = static_cast<uint8_t>(m_code);
        return JLIB_OK;
    }
    *out = substitute;
    return JLIB_UNICODE_E_RANGE;
}

} // namespace JLIB
