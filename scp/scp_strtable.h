// The keys or values of one decoded line: a fixed-capacity table of texts
// shared by the line decoders and the element readers.
#pragma once

#include "scp/scp_element.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace SCP {

// A fixed-capacity table of texts: a decoder's keys or values.
class ScpUnicodeStringTable {
public:
    ScpUnicodeStringTable() = default;
    ScpUnicodeStringTable(const ScpUnicodeStringTable&) = delete;
    ScpUnicodeStringTable& operator=(const ScpUnicodeStringTable&) = delete;

    // Sizes the table (frees old storage first): SCP_E_MISSING for capacity
    // 0, SCP_E_FULL when the storage cannot be had.
    JResult allocate(uint32_t capacity, size_t maxLength);
    // Appends a copy cut to the entry length; SCP_E_SYNTAX when full.
    JResult push(const ScpText& text);
    void clear()
    {
        m_count = 0;
        m_overflowed = false;
    }
    // For a decoder that builds its token in place, saving a copy per
    // token: the next free entry, emptied (null when the table is full),
    // which commitEntry then counts as taken. Its maximum length is the
    // entry limit, entryLimit().
    ScpText* openEntry()
    {
        if (m_count >= m_capacity)
            return nullptr;
        ScpText& entry = m_entries[m_count];
        entry.clear();
        return &entry;
    }
    void commitEntry() { ++m_count; }
    size_t entryLimit() const { return m_maxLength; }
    // Null when the index is not below the count.
    const ScpText* item(uint32_t index) const { return index < m_count ? &m_entries[index] : nullptr; }
    uint32_t count() const { return m_count; }
    uint32_t capacity() const { return m_capacity; }
    bool hasStorage() const { return !m_entries.empty(); }
    // True when a push since the last clear found the table full,
    // so the line lost entries.
    bool overflowed() const { return m_overflowed; }
    // Index of the first entry equal to name (8-bit text), ignoring one pair
    // of surrounding double quotes of the entry; -1 when none or name empty.
    int32_t find(const char* name) const;

private:
    std::vector<ScpText> m_entries;
    uint32_t m_count = 0;
    uint32_t m_capacity = 0; // the entries' count, kept for the per-token checks
    size_t m_maxLength = 0;
    bool m_overflowed = false;
};

} // namespace SCP
