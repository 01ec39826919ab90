// A growable vector whose storage comes from a heap manager picked by heap
// id, and the allocator that binds it to that heap. Blocks carry no 8-byte
// header. Failures are result codes; nothing throws.
#pragma once

#include "pbd/jlib/jlib_heap.h"
#include "pbd/jlib/jlib_result.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

// The vector would pass its length limit ("vector<T> too long").
constexpr JResult JLIB_VECTOR_E_TOO_LONG = static_cast<JResult>(0x80000001u);
// The heap could not supply the block.
constexpr JResult JLIB_VECTOR_E_MEMORY = static_cast<JResult>(0x80000002u);

constexpr const char* JLIB_VECTOR_TOO_LONG_TEXT = "vector<T> too long";

namespace JLIB {

template <class T> class JAllocator {
public:
    // A null tag means "JAllocator".
    explicit JAllocator(const char* tag = nullptr, unsigned heapId = 0)
        : m_tag(tag ? tag : "JAllocator")
        , m_heapId(heapId)
    {
    }

    const char* tag() const { return m_tag; }
    unsigned heapId() const { return m_heapId; }

    // The manager of the heap id, or the global manager when none is registered.
    IHeapManager* manager() const
    {
        IHeapManager* heap = jlib_getHeap(m_heapId);
        return heap ? heap : &GlobalHeapManager::instance();
    }

    // Most elements one block can hold.
    size_t maxSize() const { return manager()->maximumBlockSize() / sizeof(T); }

    // Room for n elements (n * sizeof(T) bytes, uninitialised); null on
    // failure or when n passes the limit.
    T* allocate(size_t n) const
    {
        IHeapManager* heap = manager();
        if (n == 0 || n > heap->maximumBlockSize() / sizeof(T))
            return nullptr;
        return static_cast<T*>(heap->allocate(n * sizeof(T), jlib_getHeapTrace(m_heapId) != 0, m_tag));
    }

    void deallocate(T* block) const
    {
        if (block)
            manager()->free(block, jlib_getHeapTrace(m_heapId) != 0);
    }

private:
    const char* m_tag;
    unsigned m_heapId;
};

template <class T> class JVector {
public:
    // Reserves initialCapacity elements; when that fails the vector starts
    // without storage (capacity() tells).
    explicit JVector(size_t initialCapacity = 0, const JAllocator<T>& allocator = JAllocator<T>())
        : m_allocator(allocator)
    {
        if (initialCapacity)
            reserve(initialCapacity);
    }

    // Copies would have to report allocation failures: use copyFrom().
    JVector(const JVector&) = delete;
    JVector& operator=(const JVector&) = delete;

    JVector(JVector&& other) noexcept
        : m_begin(other.m_begin)
        , m_end(other.m_end)
        , m_capEnd(other.m_capEnd)
        , m_allocator(other.m_allocator)
    {
        other.m_begin = other.m_end = other.m_capEnd = nullptr;
    }

    JVector& operator=(JVector&& other) noexcept
    {
        if (this != &other) {
            release();
            m_begin = other.m_begin;
            m_end = other.m_end;
            m_capEnd = other.m_capEnd;
            m_allocator = other.m_allocator;
            other.m_begin = other.m_end = other.m_capEnd = nullptr;
        }
        return *this;
    }

    virtual ~JVector() { release(); }

    size_t size() const { return static_cast<size_t>(m_end - m_begin); }
    size_t capacity() const { return static_cast<size_t>(m_capEnd - m_begin); }
    bool empty() const { return m_begin == m_end; }
    // The length limit: the heap's largest block divided by the element size.
    size_t maxSize() const { return m_allocator.maxSize(); }
    const JAllocator<T>& allocator() const { return m_allocator; }

    T* data() { return m_begin; }
    const T* data() const { return m_begin; }
    T* begin() { return m_begin; }
    T* end() { return m_end; }
    const T* begin() const { return m_begin; }
    const T* end() const { return m_end; }
    T& operator[](size_t i) { return m_begin[i]; }
    const T& operator[](size_t i) const { return m_begin[i]; }

    // Appends a copy of value, which may live inside this vector.
    JResult pushBack(const T& value)
    {
        if (m_end != m_capEnd) {
            ::new (static_cast<void*>(m_end)) T(value);
            ++m_end;
            return JLIB_OK;
        }
        size_t newCapacity = 0;
        const JResult r = grownCapacity(1, &newCapacity);
        if (r < 0)
            return r;
        T* block = m_allocator.allocate(newCapacity);
        if (!block)
            return JLIB_VECTOR_E_MEMORY;
        // Construct the new element before the old block goes away, in case
        // value refers into it.
        const size_t count = size();
        ::new (static_cast<void*>(block + count)) T(value);
        adopt(block, count, newCapacity);
        ++m_end;
        return JLIB_OK;
    }

    // Makes room for at least n elements in total.
    JResult reserve(size_t n)
    {
        if (n <= capacity())
            return JLIB_OK;
        if (n > maxSize())
            return JLIB_VECTOR_E_TOO_LONG;
        T* block = m_allocator.allocate(n);
        if (!block)
            return JLIB_VECTOR_E_MEMORY;
        adopt(block, size(), n);
        return JLIB_OK;
    }

    // Destroys the elements and keeps the storage.
    void clear()
    {
        destroy(m_begin, m_end);
        m_end = m_begin;
    }

    // Destroys the elements, frees the storage and clears the three pointers.
    void release()
    {
        destroy(m_begin, m_end);
        m_allocator.deallocate(m_begin);
        m_begin = m_end = m_capEnd = nullptr;
    }

    // Replaces the contents with copies of other's elements.
    JResult copyFrom(const JVector& other)
    {
        if (this == &other)
            return JLIB_OK;
        clear();
        const JResult r = reserve(other.size());
        if (r < 0)
            return r;
        for (const T& value : other) {
            ::new (static_cast<void*>(m_end)) T(value);
            ++m_end;
        }
        return JLIB_OK;
    }

protected:
    // For bulk writers in derived classes: counts the next n slots of the
    // reserved storage, already constructed in place, as elements.
    void grow(size_t n) { m_end += n; }

    // Capacity after growing for extra more elements: one and a half times
    // the old one, or just what is needed when that is more or when the
    // half would pass the limit.
    JResult grownCapacity(size_t extra, size_t* result) const
    {
        const size_t limit = maxSize();
        const size_t count = size();
        if (extra > limit - count || count > limit)
            return JLIB_VECTOR_E_TOO_LONG;
        const size_t needed = count + extra;
        const size_t old = capacity();
        size_t grown = (old / 2 > limit - old) ? needed : old + old / 2;
        if (grown < needed)
            grown = needed;
        *result = grown;
        return JLIB_OK;
    }

private:
    static void destroy(T* first, T* last)
    {
        if (!std::is_trivially_destructible<T>::value) {
            for (; first != last; ++first)
                first->~T();
        }
    }

    // Moves the first count elements into block and frees the old one.
    void adopt(T* block, size_t count, size_t newCapacity)
    {
        if (std::is_trivially_copyable<T>::value) {
            if (count)
                std::memcpy(static_cast<void*>(block), static_cast<const void*>(m_begin), count * sizeof(T));
        } else {
            for (size_t i = 0; i < count; ++i) {
                ::new (static_cast<void*>(block + i)) T(std::move(m_begin[i]));
                m_begin[i].~T();
            }
        }
        m_allocator.deallocate(m_begin);
        m_begin = block;
        m_end = block + count;
        m_capEnd = block + newCapacity;
    }

    T* m_begin = nullptr;
    T* m_end = nullptr;
    T* m_capEnd = nullptr;
    JAllocator<T> m_allocator;
};

} // namespace JLIB
