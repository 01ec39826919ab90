#include "pbd/jlib/jlib_heap.h"

#include "pbd/jlib/jlib_text.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void jlib_debugBreak(const char* file, int line)
{
    char text[1024];
    std::snprintf(text, sizeof text, "[J_DEBUGBRK] file = %s, line = %d", file, line);
    (void)text; // diagnostics of the base library are discarded
}

void jlib_diag(const char* format, ...)
{
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    (void)text; // diagnostics of the base library are discarded
}

namespace JLIB {

void* GlobalHeapManagerBase::allocate(size_t size, bool, const char*)
{
    return std::malloc(size ? size : 1);
}

JResult GlobalHeapManagerBase::free(void* block, bool)
{
    if (!block)
        return JLIB_FAIL;
    std::free(block);
    return JLIB_OK;
}

GlobalHeapManager& GlobalHeapManager::instance()
{
    static GlobalHeapManager manager;
    return manager;
}

JResult GlobalHeapManager::print(const char* format, ...)
{
    std::lock_guard<std::mutex> guard(m_lock);
    va_list args;
    va_start(args, format);
    jlib_formatStringV(m_printBuffer, sizeof m_printBuffer, nullptr, format, args);
    va_end(args);
    std::fputs(m_printBuffer, stdout);
    return JLIB_OK;
}

} // namespace JLIB

namespace {

struct HeapEntry {
    JLIB::IHeapManager* manager = nullptr;
    uint8_t trace = 0;
};

// Filled on first use: heap 0 is the global manager, every other id is empty.
struct Registry {
    HeapEntry entries[JLIB_HEAP_COUNT];
    Registry() { entries[0].manager = &JLIB::GlobalHeapManager::instance(); }
};

HeapEntry* registry()
{
    static Registry heaps;
    return heaps.entries;
}

} // namespace

JLIB::IHeapManager* jlib_getHeap(unsigned id)
{
    return id < JLIB_HEAP_COUNT ? registry()[id].manager : nullptr;
}

int jlib_getHeapTrace(unsigned id)
{
    if (id >= JLIB_HEAP_COUNT || !registry()[id].manager)
        return 0;
    return registry()[id].trace;
}

void* jlib_heapAlloc(unsigned heapId, const char* tag, size_t size)
{
    JLIB::IHeapManager* heap = jlib_getHeap(heapId);
    if (!heap || size == 0 || size > JLIB_HEAP_MAX_BLOCK)
        return nullptr;
    auto* block = static_cast<uint8_t*>(heap->allocate(size + JLIB_HEAP_HEADER_SIZE, jlib_getHeapTrace(heapId), tag));
    if (!block)
        return nullptr;
    block[0] = static_cast<uint8_t>(heapId);
    block[1] = static_cast<uint8_t>(size >> 16);
    block[2] = static_cast<uint8_t>(size >> 8);
    block[3] = static_cast<uint8_t>(size);
    std::memset(block + 4, 0, 4 + size);
    return block + JLIB_HEAP_HEADER_SIZE;
}

JResult jlib_heapFree(void* data)
{
    if (!data)
        return JLIB_FAIL;
    auto* block = static_cast<uint8_t*>(data) - JLIB_HEAP_HEADER_SIZE;
    JLIB::IHeapManager* heap = jlib_getHeap(block[0]);
    if (!heap)
        return JLIB_FAIL;
    return heap->free(block, jlib_getHeapTrace(block[0])) < 0 ? JLIB_FAIL : JLIB_OK;
}
