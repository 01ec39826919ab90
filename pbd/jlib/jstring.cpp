#include "pbd/jlib/jstring.h"

#include <cstring>

namespace JLIB {

template <class C> JResult JString<C>::reset()
{
    this->clear();
    if (this->reserve(m_maxLength) < 0) {
        m_maxLength = 0;
        return JLIB_STRING_E_MEMORY;
    }
    return JLIB_OK;
}

template <class C> JResult JString<C>::assign(const char* text, size_t byteCount)
{
    if (!text)
        return JLIB_STRING_E_NULL;
    const JResult r = reset();
    if (r < 0)
        return r;
    for (size_t i = 0; i < byteCount && text[i] != '\0'; ++i) {
        if (this->size() >= m_maxLength)
            return JLIB_STRING_E_CUT;
        C ch;
        ch.setAscii(static_cast<uint8_t>(text[i]));
        this->pushBack(ch);
    }
    return JLIB_OK;
}

template <class C> JResult JString<C>::assign(const JString& other)
{
    if (this == &other)
        return JLIB_OK;
    const JResult r = reset();
    if (r < 0)
        return r;
    for (const C& ch : other) {
        if (this->size() >= m_maxLength)
            return JLIB_STRING_E_CUT;
        this->pushBack(ch);
    }
    return JLIB_OK;
}

template <class C> size_t JString<C>::append(const C* chars, size_t count)
{
    static_assert(std::is_trivially_copyable<C>::value, "copied as bytes");
    const size_t kept = chars ? roomFor(count) : 0;
    if (kept) {
        std::memmove(static_cast<void*>(this->end()), static_cast<const void*>(chars), kept * sizeof(C));
        this->grow(kept);
    }
    return kept;
}

template <class C> size_t JString<C>::appendAsciiRun(const uint8_t* bytes, size_t count, size_t readable)
{
    const size_t kept = bytes ? roomFor(count) : 0;
    C* const out = this->end();
    size_t i = 0;
#ifdef __SSE2__
    if constexpr (std::is_same<C, JUnicode>::value) {
        const size_t spare = this->capacity() - this->size();
        const size_t limit = readable > count ? readable : count;
        for (; i < kept && i + 16 <= limit && i + 16 <= spare; i += 16)
            widenBlock(bytes + i, out + i);
    }
#endif
    for (; i < kept; ++i)
        ::new (static_cast<void*>(out + i)) C(static_cast<uint32_t>(bytes[i]));
    this->grow(kept);
    return kept;
}

template <class C> bool JString<C>::equalsAscii(const char* text, int mode) const
{
    if (!text)
        return false;
    const C* it = this->begin();
    const C* const last = this->end();
    for (; *text != '\0'; ++text, ++it) {
        if (it == last)
            return false;
        C ch;
        ch.setAscii(static_cast<uint8_t>(*text));
        if (mode == 1 ? ch.toLower() != it->toLower() : ch.code() != it->code())
            return false;
    }
    return it == last;
}

template class JString<JUnicode>;

} // namespace JLIB
