// Command factories of the client and the object arrays they allocate.
//
// An object array is one heap block: an 8-byte header (heap id, 24-bit
// big-endian object count, four zero bytes) and the objects after it; the
// address handed out is that of the first object. The block is tagged with
// the objects' class name.
#pragma once

#include "pbd/jlib/jlib_heap.h"
#include "scp/scp_command.h"

#include <cstdint>
#include <new>

namespace JLIB {

constexpr uint32_t JLIB_ARRAY_MAX_COUNT = 0xFFFFFF;

namespace detail {

inline uint8_t* arrayHeader(const void* first)
{
    return static_cast<uint8_t*>(const_cast<void*>(first)) - JLIB_HEAP_HEADER_SIZE;
}
inline uint32_t arrayCount(const uint8_t* header)
{
    return (uint32_t(header[1]) << 16) | (uint32_t(header[2]) << 8) | header[3];
}

// Gives the block back when a constructor leaves arrayNew by unwinding.
template <class T> class ArrayGuard {
public:
    ArrayGuard(IHeapManager* heap, bool trace, uint8_t* block, T* first)
        : m_heap(heap)
        , m_trace(trace)
        , m_block(block)
        , m_first(first)
    {
    }
    ~ArrayGuard()
    {
        if (!m_block)
            return;
        for (uint32_t i = 0; i < constructed; ++i)
            m_first[i].~T();
        m_heap->free(m_block, m_trace);
    }
    ArrayGuard(const ArrayGuard&) = delete;
    ArrayGuard& operator=(const ArrayGuard&) = delete;
    void dismiss() { m_block = nullptr; }
    uint32_t constructed = 0;

private:
    IHeapManager* m_heap;
    bool m_trace;
    uint8_t* m_block;
    T* m_first;
};

} // namespace detail

// count objects of T, default-constructed in order, on heap heapId; null for
// a count outside 1..0xFFFFFF, an unknown heap or a failed allocation.
template <class T> T* arrayNew(unsigned heapId, const char* tag, uint32_t count)
{
    static_assert(alignof(T) <= JLIB_HEAP_HEADER_SIZE, "the header would misalign the objects");
    if (count < 1 || count > JLIB_ARRAY_MAX_COUNT || heapId > 0xFF)
        return nullptr;
    IHeapManager* heap = jlib_getHeap(heapId);
    if (!heap)
        return nullptr;
    const bool trace = jlib_getHeapTrace(heapId) != 0;
    auto* block = static_cast<uint8_t*>(heap->allocate(JLIB_HEAP_HEADER_SIZE + sizeof(T) * size_t(count), trace, tag));
    if (!block)
        return nullptr;
    block[0] = static_cast<uint8_t>(heapId);
    block[1] = static_cast<uint8_t>(count >> 16);
    block[2] = static_cast<uint8_t>(count >> 8);
    block[3] = static_cast<uint8_t>(count);
    block[4] = block[5] = block[6] = block[7] = 0;
    T* first = reinterpret_cast<T*>(block + JLIB_HEAP_HEADER_SIZE);
    detail::ArrayGuard<T> guard(heap, trace, block, first);
    for (; guard.constructed < count; ++guard.constructed)
        new (first + guard.constructed) T();
    guard.dismiss();
    return first;
}

// Destroys the objects first to last and frees the block. T must be the
// type the array was made with. JLIB_FAIL for null, a header
// naming a heap without manager (nothing destroyed), or a refused free.
template <class T> JResult arrayDelete(T* first)
{
    if (!first)
        return JLIB_FAIL;
    uint8_t* block = detail::arrayHeader(first);
    IHeapManager* heap = jlib_getHeap(block[0]);
    if (!heap)
        return JLIB_FAIL;
    const uint32_t count = detail::arrayCount(block);
    for (uint32_t i = 0; i < count; ++i)
        first[i].~T();
    return heap->free(block, jlib_getHeapTrace(block[0]) != 0) < 0 ? JLIB_FAIL : JLIB_OK;
}

} // namespace JLIB

namespace SCP {

class IScpClientCommandFactory {
public:
    virtual ~IScpClientCommandFactory() = default;
    virtual const char* word() const = 0;
    // A new command object of the factory's word, or null.
    virtual ScpClientCommand* create() const = 0;
    // Destroys and frees an object made by this factory's create; SCP_E_FAIL
    // for null or a block whose heap is unknown.
    virtual JResult release(ScpClientCommand* command) const = 0;
};

// The 26 factories in table order, followed by a null pointer.
const IScpClientCommandFactory* const* scp_clientCommandFactories();
// The first factory whose word equals word without regard to case (one pair
// of surrounding double quotes, as JSON values keep them, is not part of the
// word); null for none or an empty word.
const IScpClientCommandFactory* scp_findClientCommandFactory(const ScpText& word);

} // namespace SCP
