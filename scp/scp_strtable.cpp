#include "scp/scp_strtable.h"

namespace SCP {

JResult ScpUnicodeStringTable::allocate(uint32_t capacity, size_t maxLength)
{
    m_entries.clear();
    m_entries.shrink_to_fit();
    m_count = 0;
    m_capacity = 0;
    m_maxLength = 0;
    if (capacity == 0)
        return SCP_E_MISSING;
    // Each entry's own maximum is the entry limit, so that appending to an
    // entry in place cuts it there.
    m_entries.reserve(capacity);
    for (uint32_t i = 0; i < capacity; ++i) {
        m_entries.emplace_back(maxLength, JLIB::JAllocator<JLIB::JUnicode>("ScpUnicodeStringTable::m_pTable"));
        if (m_entries.back().maxLength() < maxLength) {
            m_entries.clear();
            return SCP_E_FULL;
        }
    }
    m_capacity = capacity;
    m_maxLength = maxLength;
    return SCP_OK;
}

JResult ScpUnicodeStringTable::push(const ScpText& text)
{
    if (m_count >= m_capacity) {
        m_overflowed = true;
        return SCP_E_SYNTAX;
    }
    ScpText& entry = m_entries[m_count++];
    entry.clear();
    entry.append(text); // cut at the entry's maximum, the entry limit
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
