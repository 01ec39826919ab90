// Small owner classes through which the parameter memory gets its memory,
// its text pool, its set-order notify slot and its locks, and the library's
// free-standing helpers (bit arrays, 24-byte names, "/" paths, index
// stepping, byte swaps).
#pragma once

#include "mms/mms_paramtype.h"
#include "pbd/jlib/jlib_result.h"

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

namespace JLIB {
class JVariant;
class JVariantArray;
} // namespace JLIB

namespace MMS {

class CollectionNode;

// Allocator a program may hand to a field; the system passes none.
class IMemoryAllocator {
public:
    virtual ~IMemoryAllocator() = default;
    virtual void* allocate(size_t size) = 0;
    virtual void free(void* block) = 0;
};

// Allocation through the caller's allocator, or heap 0 with the tag "MMS Wrap".
// Owns nothing.
class SharedMemWrapper {
public:
    explicit SharedMemWrapper(IMemoryAllocator* allocator = nullptr)
        : m_allocator(allocator)
    {
    }

    // Null for size 0 or when no memory is left. Heap-0 blocks are zero-filled.
    void* allocate(size_t size);
    // Null is ignored.
    void free(void* block);
    // New size 0 frees the old block and gives null. Else a zero-filled block
    // of newSize bytes with min(oldSize, newSize) bytes of the old one; the
    // old block is freed. On failure null, and the old block is kept.
    void* reallocate(void* old, size_t oldSize, size_t newSize);

    IMemoryAllocator* allocator() const { return m_allocator; }

private:
    IMemoryAllocator* m_allocator;
};

// The library's own objects come from heap 0 with the tag "MMS Wrap".
// The place tag is ignored.
void* mms_wrapAlloc(size_t size, const char* place = nullptr);
JResult mms_wrapFree(void* block, const char* place = nullptr);

template <typename T, typename... Args> T* mms_wrapNew(Args&&... args)
{
    void* memory = mms_wrapAlloc(sizeof(T));
    return memory ? new (memory) T(std::forward<Args>(args)...) : nullptr;
}

template <typename T> void mms_wrapDelete(T* object)
{
    if (object) {
        object->~T();
        mms_wrapFree(object);
    }
}

// The object told of every changed element's number, one per function.
class ISetOrderNotify {
public:
    virtual ~ISetOrderNotify() = default;
    virtual JResult notify(uint32_t elementNumber) = 0;
};

// Holds (and destroys) the set-order notify object of a function.
class SetOrderNotifyWrapper {
public:
    SetOrderNotifyWrapper() = default;
    ~SetOrderNotifyWrapper();
    SetOrderNotifyWrapper(const SetOrderNotifyWrapper&) = delete;
    SetOrderNotifyWrapper& operator=(const SetOrderNotifyWrapper&) = delete;

    // Takes ownership. Null, or a second install, gives JLIB_FAIL and
    // keeps the first; a refused object stays the caller's.
    JResult install(ISetOrderNotify* object);
    // The installed object's answer; 0 when none is installed.
    JResult notify(uint32_t elementNumber);
    bool installed() const { return m_object != nullptr; }

private:
    ISetOrderNotify* m_object = nullptr;
};

// A function's text pool: texts back to back with their NUL, referred to by
// offset and stored length. The pool never grows past its first capacity.
class StringMemoryFactory {
public:
    StringMemoryFactory() = default;
    // An owned pool must be released through its wrapper first; the
    // destructor frees nothing it can't know how to free.
    ~StringMemoryFactory() = default;
    StringMemoryFactory(const StringMemoryFactory&) = delete;
    StringMemoryFactory& operator=(const StringMemoryFactory&) = delete;

    // MMS_E_ARG when a pool exists, MMS_E_INNER without wrapper, MMS_E_MEMORY
    // when the block can't be had. Capacity 0 gives an empty pool.
    JResult create(SharedMemWrapper* wrapper, uint32_t capacity);
    // Stores a text (or reserves length zero bytes when text is null); see
    // the rules in the source. MMS_E_ARG and nothing stored when it does
    // not fit.
    JResult add(const char* text, uint32_t length, bool allowEmpty, uint32_t* outOffset, uint32_t* outLength);
    // Gives back everything stored at or after usedSize (a definition that
    // failed after storing its texts). Sizes above the used size are ignored.
    void rollback(uint32_t usedSize);
    // Takes a pool from an image (not owned).
    JResult adopt(uint8_t* memory, uint32_t size);
    // A new owned pool holding a copy of size bytes.
    JResult copy(SharedMemWrapper* wrapper, const uint8_t* memory, uint32_t size);
    JResult release(SharedMemWrapper* wrapper);

    uint8_t* base() const { return m_pool; }
    uint32_t usedSize() const { return m_used; }
    uint32_t capacity() const { return m_capacity; }
    bool owned() const { return m_owned; }
    // Copies the text at offset into out (at most maxBytes bytes, cut at a
    // NUL, then terminated; out holds maxBytes + 1). MMS_E_INNER without a
    // pool, MMS_E_ARG when offset lies outside the used part.
    JResult readText(uint32_t offset, uint32_t maxBytes, char* out) const;

private:
    uint8_t* m_pool = nullptr;
    uint32_t m_capacity = 0;
    uint32_t m_used = 0;
    bool m_owned = false;
};

// The key that no listener may register: it stands for "no key" in the
// locked field's calls.
constexpr uint32_t MMS_KEY_INVALID = 0xFFFFFFFFu;

// A try-lock that found the lock held by another thread.
constexpr JResult MMS_E_LOCK_BUSY = JLIB_FAIL;

// The two locks of a unit's memory. Both MUST be recursive: the locked field
// takes a lock its caller may already hold (a copy between two fields of one
// unit takes lock B and lock A of the same mutex twice, and a listener called
// under lock A may read values back). Debug builds assert it when a locked
// field is given its mutex (mms_mutexIsRecursive).
class IMutex {
public:
    virtual JResult lockA() = 0;
    virtual JResult unlockA() = 0;
    virtual JResult tryLockA() = 0;
    virtual JResult lockB() = 0;
    virtual JResult unlockB() = 0;
    virtual JResult tryLockB() = 0;
    virtual ~IMutex() = default;
};

constexpr uint8_t MMS_LOCK_B = 0x01;
constexpr uint8_t MMS_LOCK_A = 0x02;

// Takes each lock of mutex, then tries it again on this thread: a mutex whose
// second take fails is not recursive. Null counts as recursive (no locking).
// Blocks while another thread holds a lock.
bool mms_mutexIsRecursive(IMutex* mutex);

// Scoped lock: B before A, released A before B.
class MutexLock {
public:
    MutexLock(IMutex* mutex, uint8_t mode);
    virtual ~MutexLock();
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    IMutex* m_mutex;
    uint8_t m_mode;
};

class IDirtyFlagHolder;
class IWriteFilter;

// Positions of one set below a collection, handed to CollectionWrapper.
struct CollectionSetContext {
    uint8_t* data = nullptr; // start of the collection element's data
    const StringMemoryFactory* pool = nullptr; // the function's text pool
    IDirtyFlagHolder* dirty = nullptr; // change marking (may be null)
    uint8_t* sources = nullptr; // source bytes, one per change index
    uint32_t changeBase = 0; // change index of the collection element
    uint32_t elementBase = 0; // element number of the collection element's first leaf
    uint8_t source = 0;
    uint32_t flags = 0; // admission flags
    JResult resultFlags = 0; // combined results of the calls made with this context
};

// A view of one collection node, handed to collection handlers. Every
// operation answers MMS_E_STATE when no node is attached and MMS_E_ARG for a
// missing output.
class CollectionWrapper {
public:
    CollectionWrapper(CollectionNode* node = nullptr, uint32_t poolSize = 0)
        : m_node(node)
        , m_poolSize(poolSize)
    {
    }
    virtual ~CollectionWrapper() = default;
    virtual JResult setValue(CollectionSetContext* context, const JLIB::JVariant& value, const uint32_t* tags,
        const uint32_t* indexes, uint32_t count);
    virtual JResult setValues(CollectionSetContext* context, const JLIB::JVariantArray& values, const uint32_t* tags,
        const uint32_t* indexes, uint32_t count);
    virtual JResult getValue(const CollectionSetContext* context, JLIB::JVariant* out, const uint32_t* tags,
        const uint32_t* indexes, uint32_t count);
    virtual JResult getValues(const CollectionSetContext* context, JLIB::JVariantArray* out, const uint32_t* tags,
        const uint32_t* indexes, uint32_t count);
    virtual JResult resolveNamePath(uint32_t* outTags, uint32_t* outCount, const char* path, uint32_t length);
    virtual JResult buildNamePath(char* out, uint32_t size, const uint32_t* tags, uint32_t count);
    virtual JResult getName(char* out24, const uint32_t* tags, uint32_t count);
    virtual JResult getArraySize(uint32_t* out, const uint32_t* tags, uint32_t count);
    virtual JResult getDefault(
        JLIB::JVariant* out, const StringMemoryFactory* pool, const uint32_t* tags, uint32_t count);
    virtual JResult getNominal(
        JLIB::JVariant* out, const StringMemoryFactory* pool, const uint32_t* tags, uint32_t count);
    virtual JResult getMinimum(JLIB::JVariant* out, const uint32_t* tags, uint32_t count);
    virtual JResult getMaximum(JLIB::JVariant* out, const uint32_t* tags, uint32_t count);
    virtual JResult getStep(JLIB::JVariant* out, const uint32_t* tags, uint32_t count);
    virtual JResult getScaling(uint32_t* out, const uint32_t* tags, uint32_t count);
    virtual JResult getKind(uint32_t* out, const uint32_t* tags, uint32_t count);

    CollectionNode* node() const { return m_node; }
    uint32_t poolSize() const { return m_poolSize; }

private:
    CollectionNode* m_node;
    uint32_t m_poolSize;
};

// Bit arrays: bit n lies in byte n / 8 under mask 0x80 >> (n % 8).
JResult mms_setBit(uint8_t* bits, uint32_t n); // 0x100; null gives 0
JResult mms_clearBit(uint8_t* bits, uint32_t n); // 0x100 when it was set, else 0
JResult mms_setBits(uint8_t* bits, uint32_t first, uint32_t count);
JResult mms_clearBits(uint8_t* bits, uint32_t first, uint32_t count);
bool mms_testBit(const uint8_t* bits, uint32_t n);
// True when any bit in [first, first + count) is set.
bool mms_anyBit(const uint8_t* bits, uint32_t first, uint32_t count);

// Copies a name of 1 to 23 characters (NUL within the 24 source bytes) into
// a 24-byte field, NUL-padded; MMS_E_ARG otherwise.
JResult mms_copyName(char* destination24, const char* source);
// Length of a name within 24 bytes (24 when it has no NUL there).
uint32_t mms_nameLength(const char* name24);
// Appends ("/" and) a name to a NUL-terminated path in a buffer of size
// bytes; the slash is written when the path is not empty or leadingSlash is
// set. MMS_E_ARG when it does not fit (path length + slash + name + NUL).
JResult mms_appendName(char* path, uint32_t size, const char* name24, bool leadingSlash);
// Length of path + "/" + name (the slash counted when the path is not empty
// or leadingSlash is set).
uint32_t mms_namePathLength(uint32_t pathLength, const char* name24, bool leadingSlash);
// The first name of a path (up to the first "/"): its length; *rest points
// after the slash (or at the end). Reads at most length bytes.
uint32_t mms_splitPath(const char* path, uint32_t length, const char** rest, uint32_t* restLength);
// "/function/rest": function name and rest; a path not starting with "/" is
// all rest and *functionLength is 0.
void mms_splitFunctionPath(const char* path, uint32_t length, const char** function, uint32_t* functionLength,
    const char** rest, uint32_t* restLength);
// Odometer step of current between first and last (inclusive), last level
// fastest. 0 after a step, 8 when the carry passes the first level (all
// done), MMS_E_PATH when an index lies outside its bounds.
JResult mms_stepIndexes(const uint32_t* first, uint32_t* current, const uint32_t* last, uint32_t count);
inline uint8_t* mms_elementAddress(uint8_t* base, uint32_t index, uint32_t stride)
{
    return base + static_cast<size_t>(index) * stride;
}
inline uint8_t* mms_nodeAddress(uint8_t* base, uint32_t stride, uint32_t index, uint32_t extra)
{
    return base + static_cast<size_t>(stride) * index + extra;
}
// Reverses 2, 4 or 8 bytes in place; other sizes are left alone.
void mms_swapBytes(void* value, uint32_t size);
// True when the host is big-endian.
bool mms_hostIsBigEndian();

} // namespace MMS
