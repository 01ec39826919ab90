#include "scp/scp_strtable.h"

#include <utility>

namespace SCP {

JResult ScpUnicodeStringTable::allocate(uint32_t capacity, size_t maxLength)
{
    m_entries.clear();
    m_entries.shrink_to_fit();
    m_count = 0;
    m_maxLength = 0;
    if (capacity == 0)
        return SCP_E_MISSING;
    // Every entry can hold a whole token, so that take() can trade storage.
    const size_t room = maxLength > SCP_TOKEN_MAX ? maxLength : SCP_TOKEN_MAX;
    m_entries.reserve(capacity);
    for (uint32_t i = 0; i < capacity; ++i) {
        m_entries.emplace_back(room, JLIB::JAllocator<JLIB::JUnicode>("ScpUnicodeStringTable::m_pTable"));
        if (m_entries.back().maxLength() < room) {
            m_entries.clear();
            return SCP_E_FULL;
        }
    }
    m_maxLength = maxLength;
    return SCP_OK;
}

JResult ScpUnicodeStringTable::push(const ScpText& text)
{
    if (m_count >= m_entries.size()) {
        m_overflowed = true;
        return SCP_E_SYNTAX;
    }
    ScpText& entry = m_entries[m_count++];
    entry.clear();
    const size_t n = text.length() < m_maxLength ? text.length() : m_maxLength;
    for (size_t i = 0; i < n; ++i)
        entry.pushBack(text[i]);
    return SCP_OK;
}

JResult ScpUnicodeStringTable::take(ScpText& token)
{
    if (m_count >= m_entries.size()) {
        m_overflowed = true;
        return SCP_E_SYNTAX;
    }
    ScpText& entry = m_entries[m_count];
    if (token.length() > m_maxLength || token.maxLength() != entry.maxLength())
        return push(token);
    std::swap(entry, token);
    ++m_count;
    return SCP_OK;
}

int32_t ScpUnicodeStringTable::find(const char* name) const
{
    if (!name || !*name)
        return -1;
    for (uint32_t i = 0; i < m_count; ++i) {
        if (scp_wordEquals(m_entries[i], name, false))
            return static_cast<int32_t>(i);
    }
    return -1;
}

} // namespace SCP
