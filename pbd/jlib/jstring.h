// A text of code points with a maximum length fixed at construction. The
// whole maximum is reserved up front, so appending never reallocates.
#pragma once

#include "jlib/jlib_result.h"
#include "jlib/junicode.h"
#include "jlib/jvector.h"

#include <cstddef>
#include <cstdint>

// append() found the maximum length reached.
constexpr JResult JLIB_STRING_E_FULL = static_cast<JResult>(0x80000001u);
// reset() could not reserve the maximum length (same value as above).
constexpr JResult JLIB_STRING_E_MEMORY = static_cast<JResult>(0x80000001u);
// assign() stopped at the maximum length; what fit is kept.
constexpr JResult JLIB_STRING_E_CUT = static_cast<JResult>(0x80000002u);
// assign() was given a null text.
constexpr JResult JLIB_STRING_E_NULL = static_cast<JResult>(0x80000005u);

namespace JLIB {

template <class C> class JString : public JVector<C> {
public:
    // Reserves maxLength code points; the maximum length is the capacity
    // obtained (0 when the reservation failed).
    explicit JString(size_t maxLength, const JAllocator<C>& allocator = JAllocator<C>())
        : JVector<C>(maxLength, allocator)
        , m_maxLength(this->capacity())
    {
    }

    JString(JString&& other) noexcept
        : JVector<C>(std::move(other))
        , m_maxLength(other.m_maxLength)
    {
        other.m_maxLength = 0;
    }
    JString& operator=(JString&& other) noexcept
    {
        JVector<C>::operator=(std::move(other));
        m_maxLength = other.m_maxLength;
        other.m_maxLength = 0;
        return *this;
    }

    size_t maxLength() const { return m_maxLength; }
    size_t length() const { return this->size(); }

    // Empties the text and makes sure the maximum length is reserved; when
    // that fails the maximum length becomes 0 and JLIB_STRING_E_MEMORY is returned.
    JResult reset();

    // Resets, then appends one code point per byte (as setAscii, so bytes
    // 0x80 and above become U+FFFD) up to a NUL or byteCount bytes.
    JResult assign(const char* text, size_t byteCount);
    // Resets, then copies other's code points up to the maximum length.
    JResult assign(const JString& other);

    JResult append(const C& ch)
    {
        if (this->size() >= m_maxLength)
            return JLIB_STRING_E_FULL;
        return this->pushBack(ch);
    }

    // Compares with a NUL-terminated 8-bit text; mode 1 ignores the case of
    // A to Z. Text bytes 0x80 and above compare as U+FFFD.
    bool equalsAscii(const char* text, int mode) const;

private:
    size_t m_maxLength;
};

extern template class JString<JUnicode>;

} // namespace JLIB
