// A plain byte block taken straight from a heap manager (no header, not
// zero-filled) and freed through it.
#pragma once

#include "pbd/jlib/jlib_heap.h"

#include <cstddef>

namespace JLIB {

template <class T> class JBuffer {
public:
    // Allocates size elements from the heap; when the heap has no manager or
    // the manager fails, data() is null and size() 0.
    JBuffer(unsigned heapId, size_t size, const char* tag);
    ~JBuffer();

    JBuffer(const JBuffer&) = delete;
    JBuffer& operator=(const JBuffer&) = delete;
    JBuffer(JBuffer&& other) noexcept;
    JBuffer& operator=(JBuffer&& other) noexcept;

    T* data() { return m_data; }
    const T* data() const { return m_data; }
    size_t size() const { return m_size; }
    unsigned heapId() const { return m_heapId; }
    const char* tag() const { return m_tag; }

private:
    void free();

    unsigned m_heapId;
    const char* m_tag;
    T* m_data = nullptr;
    size_t m_size = 0;
};

extern template class JBuffer<unsigned char>;

} // namespace JLIB
