#include "pbd/jlib/jdatastream.h"

#include "pbd/jlib/jlib_heap.h"

#include <algorithm>
#include <cstring>

namespace JLIB {

template <class T> JResult JDataStream<T>::allocate(unsigned heapId, uint32_t size)
{
    freeBuffer();
    m_heapId = heapId;
    if (size == 0)
        return JLIB_STREAM_E_EMPTY;
    const uint64_t bytes = uint64_t(size) * sizeof(T);
    void* block = bytes <= JLIB_HEAP_MAX_BLOCK ? jlib_heapAlloc(heapId, "JLIB::JDataStream", bytes) : nullptr;
    if (!block)
        return JLIB_STREAM_E_MEMORY;
    m_buffer = static_cast<T*>(block);
    m_capacity = size;
    m_mode = ModeOwned;
    return JLIB_OK;
}

template <class T> void JDataStream<T>::freeBuffer()
{
    if (m_mode == ModeOwned && m_buffer)
        jlib_heapFree(m_buffer);
    m_buffer = nullptr;
    m_capacity = 0;
    m_mode = ModeNoStorage;
    clear();
}

template <class T> size_t JDataStream<T>::write(const T* data, size_t length)
{
    if (!data)
        return 0;
    const size_t total = std::min<size_t>(length, freeSpace());
    size_t done = 0;
    while (done < total) {
        // At most two pieces: up to the end of the buffer, then from its start.
        const size_t piece = std::min<size_t>(total - done, m_capacity - m_writePos);
        std::memcpy(m_buffer + m_writePos, data + done, piece * sizeof(T));
        m_writePos = static_cast<uint32_t>((m_writePos + piece) % m_capacity);
        done += piece;
    }
    m_count += static_cast<uint32_t>(total);
    return total;
}

template <class T> size_t JDataStream<T>::read(T* out, size_t size)
{
    if (!out)
        return 0;
    const size_t total = std::min<size_t>(size, m_count);
    size_t done = 0;
    while (done < total) {
        const size_t piece = std::min<size_t>(total - done, m_capacity - m_readPos);
        std::memcpy(out + done, m_buffer + m_readPos, piece * sizeof(T));
        m_readPos = static_cast<uint32_t>((m_readPos + piece) % m_capacity);
        done += piece;
    }
    m_count -= static_cast<uint32_t>(total);
    if (m_count == 0)
        m_writePos = m_readPos = 0;
    return total;
}

template class JDataStream<unsigned char>;

} // namespace JLIB
