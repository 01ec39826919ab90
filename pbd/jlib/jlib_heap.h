// Tracked heaps: one allocator interface selected by a small heap id, and the
// jlib_heapAlloc / jlib_heapFree pair that puts an 8-byte header before each
// block. Only heap 0 exists; nothing is ever traced.
#pragma once

#include "pbd/jlib/jlib_result.h"

#include <cstddef>
#include <cstdint>
#include <mutex>

namespace JLIB {

class IHeapManager {
public:
    virtual const char* name() const = 0;
    virtual uint32_t maximumBlockSize() const = 0;
    virtual void* allocate(size_t size, bool trace, const char* tag) = 0;
    virtual JResult free(void* block, bool trace) = 0;
    virtual ~IHeapManager() = default;
};

class GlobalHeapManagerBase : public IHeapManager {
public:
    const char* name() const override { return "GlobalHeapManager"; }
    uint32_t maximumBlockSize() const override { return 0xFFFFFFFFu; }
    void* allocate(size_t size, bool trace, const char* tag) override;
    JResult free(void* block, bool trace) override;
};

class GlobalHeapManager final : public GlobalHeapManagerBase {
public:
    static GlobalHeapManager& instance();

    // Formats with the base library's formatter into the manager's 256-byte
    // buffer and writes it to standard output.
    JResult print(const char* format, ...) __attribute__((format(printf, 2, 3)));

private:
    GlobalHeapManager() = default;
    std::mutex m_lock;
    char m_printBuffer[256] = {};
};

} // namespace JLIB

constexpr int JLIB_HEAP_COUNT = 32;
constexpr uint32_t JLIB_HEAP_MAX_BLOCK = 0xFFFFFF;
constexpr size_t JLIB_HEAP_HEADER_SIZE = 8;

// Manager registered under id 0..31; null for a larger id or an empty entry.
JLIB::IHeapManager* jlib_getHeap(unsigned id);
// The entry's trace switch; 0 when no manager is registered.
int jlib_getHeapTrace(unsigned id);

// A zero-filled block of 1..0xFFFFFF bytes behind an 8-byte header
// (heap id, 24-bit big-endian size, four zero bytes); null on failure.
void* jlib_heapAlloc(unsigned heapId, const char* tag, size_t size);
// Frees a block from jlib_heapAlloc; JLIB_FAIL for null or an unknown heap.
JResult jlib_heapFree(void* data);
