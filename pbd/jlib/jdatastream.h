// Byte storage for the socket and protocol streams, used as a ring: bytes
// are written at the write position and read at the read position, both
// wrapping at the capacity, and the count says how many are held. Once the
// last byte is read, both positions return to 0, so an empty stream always
// has all three fields at 0 and the next write starts at the buffer's start.
//
// The buffer comes from jlib_heapAlloc with the tag "JLIB::JDataStream"
// (zero-filled, behind the 8-byte heap header) and goes back through
// jlib_heapFree; that is the only allocation path of a stream.
#pragma once

#include "pbd/jlib/jlib_result.h"

#include <cstddef>
#include <cstdint>

// putByte() into a full stream.
constexpr JResult JLIB_STREAM_E_FULL = static_cast<JResult>(0x80000001u);
// allocate() with size 0; getByte() from an empty stream.
constexpr JResult JLIB_STREAM_E_EMPTY = static_cast<JResult>(0x80000002u);
// allocate() could not get the buffer.
constexpr JResult JLIB_STREAM_E_MEMORY = static_cast<JResult>(0x80000003u);

namespace JLIB {

template <class T> class JDataStream {
public:
    enum Mode : uint8_t {
        ModeNoStorage = 1,
        ModeOwned = 3,
    };

    JDataStream() = default;
    ~JDataStream() { freeBuffer(); }
    JDataStream(const JDataStream&) = delete;
    JDataStream& operator=(const JDataStream&) = delete;

    // Frees an owned buffer, then takes size elements from heap heapId.
    // Size 0: no storage, JLIB_STREAM_E_EMPTY. Failure: capacity 0, mode 1,
    // JLIB_STREAM_E_MEMORY. Success: positions 0, mode 3, JLIB_OK.
    JResult allocate(unsigned heapId, uint32_t size);

    T* buffer() { return m_buffer; }
    const T* buffer() const { return m_buffer; }
    uint32_t capacity() const { return m_capacity; }
    uint32_t count() const { return m_count; }
    uint32_t freeSpace() const { return m_capacity - m_count; }
    uint32_t writePosition() const { return m_writePos; }
    uint32_t readPosition() const { return m_readPos; }
    uint8_t mode() const { return m_mode; }
    unsigned heapId() const { return m_heapId; }

    // Forgets the content: count and both positions back to 0.
    void clear() { m_count = m_writePos = m_readPos = 0; }

    // One element at the write position; JLIB_STREAM_E_FULL when count
    // equals capacity (always so without storage).
    JResult putByte(T value)
    {
        if (m_count >= m_capacity)
            return JLIB_STREAM_E_FULL;
        m_buffer[m_writePos] = value;
        if (++m_writePos == m_capacity)
            m_writePos = 0;
        ++m_count;
        return JLIB_OK;
    }

    // One element from the read position; JLIB_STREAM_E_EMPTY when none is held.
    JResult getByte(T* value)
    {
        if (m_count == 0)
            return JLIB_STREAM_E_EMPTY;
        *value = m_buffer[m_readPos];
        if (--m_count == 0)
            m_writePos = m_readPos = 0;
        else if (++m_readPos == m_capacity)
            m_readPos = 0;
        return JLIB_OK;
    }

    // Appends as many of the length elements as fit; returns how many.
    size_t write(const T* data, size_t length);
    // Moves up to size elements out; returns how many.
    size_t read(T* out, size_t size);

private:
    void freeBuffer();

    T* m_buffer = nullptr;
    uint32_t m_capacity = 0;
    uint32_t m_count = 0;
    uint32_t m_writePos = 0;
    uint32_t m_readPos = 0;
    uint8_t m_mode = ModeNoStorage;
    unsigned m_heapId = 0;
};

extern template class JDataStream<unsigned char>;

} // namespace JLIB
