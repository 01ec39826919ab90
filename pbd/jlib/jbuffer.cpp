#include "pbd/jlib/jbuffer.h"

#include <utility>

namespace JLIB {

template <class T>
JBuffer<T>::JBuffer(unsigned heapId, size_t size, const char* tag)
    : m_heapId(heapId)
    , m_tag(tag)
{
    IHeapManager* heap = jlib_getHeap(heapId);
    if (!heap || size == 0 || size > heap->maximumBlockSize() / sizeof(T))
        return;
    m_data = static_cast<T*>(heap->allocate(size * sizeof(T), jlib_getHeapTrace(heapId) != 0, tag));
    if (m_data)
        m_size = size;
}

template <class T> JBuffer<T>::~JBuffer()
{
    free();
}

template <class T>
JBuffer<T>::JBuffer(JBuffer&& other) noexcept
    : m_heapId(other.m_heapId)
    , m_tag(other.m_tag)
    , m_data(std::exchange(other.m_data, nullptr))
    , m_size(std::exchange(other.m_size, 0))
{
}

template <class T> JBuffer<T>& JBuffer<T>::operator=(JBuffer&& other) noexcept
{
    if (this != &other) {
        free();
        m_heapId = other.m_heapId;
        m_tag = other.m_tag;
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

template <class T> void JBuffer<T>::free()
{
    if (!m_data)
        return;
    // The block came from this heap's manager; it cannot have gone away,
    // since the registry never drops an entry.
    if (IHeapManager* heap = jlib_getHeap(m_heapId))
        heap->free(m_data, jlib_getHeapTrace(m_heapId) != 0);
    m_data = nullptr;
    m_size = 0;
}

template class JBuffer<unsigned char>;

} // namespace JLIB
