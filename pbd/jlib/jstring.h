// A text of code points with a maximum length fixed at construction. The
// whole maximum is reserved up front, so appending never reallocates.
#pragma once

#include "pbd/jlib/jlib_result.h"
#include "pbd/jlib/junicode.h"
#include "pbd/jlib/jvector.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

    // Appends count code points (not from storage this append may move: a
    // text whose storage was released), as far as the maximum length
    // allows; returns how many were appended.
    size_t append(const C* chars, size_t count);
    // Appends other's code points, as far as the maximum length allows;
    // returns how many were appended. A short text is copied as one block.
    size_t append(const JString& other)
    {
        constexpr size_t kBlock = 16;
        const size_t count = other.size();
        const size_t after = this->size() + kBlock;
        if (count <= kBlock && other.capacity() >= kBlock && after <= m_maxLength && after <= this->capacity()) {
            // memmove: other may be this text.
            std::memmove(static_cast<void*>(this->end()), static_cast<const void*>(other.data()), kBlock * sizeof(C));
            this->grow(count);
            return count;
        }
        return append(other.data(), count);
    }

    // Appends one code point per byte of a 7-bit run bytes[0..count), as far
    // as the maximum length allows; returns how many were appended. When the
    // caller may read further (readable bytes from bytes on), whole blocks
    // of 16 are widened at once even for a shorter run, and only the run is
    // kept: decoders then pay no per-byte step for short tokens.
    inline size_t appendAscii(const uint8_t* bytes, size_t count, size_t readable = 0);

    // Compares with a NUL-terminated 8-bit text; mode 1 ignores the case of
    // A to Z. Text bytes 0x80 and above compare as U+FFFD.
    bool equalsAscii(const char* text, int mode) const;

private:
#ifdef __SSE2__
    // Zero-extends 16 bytes to 16 code points.
    static void widenBlock(const uint8_t* bytes, JUnicode* out)
    {
        static_assert(sizeof(JUnicode) == 4, "one 32-bit code per character");
        const __m128i zero = _mm_setzero_si128();
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
        const __m128i low = _mm_unpacklo_epi8(v, zero);
        const __m128i high = _mm_unpackhi_epi8(v, zero);
        auto* to = reinterpret_cast<__m128i*>(out);
        _mm_storeu_si128(to, _mm_unpacklo_epi16(low, zero));
        _mm_storeu_si128(to + 1, _mm_unpackhi_epi16(low, zero));
        _mm_storeu_si128(to + 2, _mm_unpacklo_epi16(high, zero));
        _mm_storeu_si128(to + 3, _mm_unpackhi_epi16(high, zero));
    }
#endif
    // appendAscii past its one-block case.
    size_t appendAsciiRun(const uint8_t* bytes, size_t count, size_t readable);
    // Code points that may be added: the room below the maximum length,
    // reserved when a release took the storage; 0 when that fails.
    size_t roomFor(size_t count)
    {
        const size_t size = this->size();
        const size_t room = m_maxLength > size ? m_maxLength - size : 0;
        const size_t wanted = count < room ? count : room;
        if (wanted > this->capacity() - size && this->reserve(size + wanted) < 0)
            return 0;
        return wanted;
    }

    size_t m_maxLength;
};

template <class C> inline size_t JString<C>::appendAscii(const uint8_t* bytes, size_t count, size_t readable)
{
#ifdef __SSE2__
    if constexpr (std::is_same<C, JUnicode>::value) {
        // The common case of a decoder, a short run with room to spare,
        // without a loop: the code points past the run land in reserved
        // storage and are not counted.
        const size_t after = this->size() + 16;
        if (count <= 16 && readable >= 16 && after <= m_maxLength && after <= this->capacity()) {
            widenBlock(bytes, this->end());
            this->grow(count);
            return count;
        }
    }
#endif
    return appendAsciiRun(bytes, count, readable);
}

extern template class JString<JUnicode>;

} // namespace JLIB
