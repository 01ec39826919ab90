// Memory wrappers, text pool, set-order notify slot and the scoped lock.
#include "mms/mms_wrap.h"

#include "pbd/jlib/jlib_heap.h"

#include <cstring>

namespace MMS {

namespace {
constexpr const char* WRAP_TAG = "MMS Wrap";
}

void* SharedMemWrapper::allocate(size_t size)
{
    if (m_allocator)
        return m_allocator->allocate(size);
    if (size == 0)
        return nullptr;
    return jlib_heapAlloc(0, WRAP_TAG, size);
}

void SharedMemWrapper::free(void* block)
{
    if (!block)
        return;
    if (m_allocator)
        m_allocator->free(block);
    else
        jlib_heapFree(block);
}

void* SharedMemWrapper::reallocate(void* old, size_t oldSize, size_t newSize)
{
    if (newSize == 0) {
        free(old);
        return nullptr;
    }
    void* block = allocate(newSize);
    if (!block)
        return nullptr;
    std::memset(block, 0, newSize);
    if (old && oldSize != 0)
        std::memcpy(block, old, oldSize < newSize ? oldSize : newSize);
    free(old);
    return block;
}

void* mms_wrapAlloc(size_t size, const char* /*place*/)
{
    if (size == 0)
        return nullptr;
    return jlib_heapAlloc(0, WRAP_TAG, size);
}

JResult mms_wrapFree(void* block, const char* /*place*/)
{
    if (block)
        jlib_heapFree(block);
    return 0;
}

SetOrderNotifyWrapper::~SetOrderNotifyWrapper()
{
    delete m_object;
}

JResult SetOrderNotifyWrapper::install(ISetOrderNotify* object)
{
    if (!object || m_object)
        return JLIB_FAIL;
    m_object = object;
    return 0;
}

JResult SetOrderNotifyWrapper::notify(uint32_t elementNumber)
{
    return m_object ? m_object->notify(elementNumber) : 0;
}

JResult StringMemoryFactory::create(SharedMemWrapper* wrapper, uint32_t capacity)
{
    if (m_pool || m_capacity)
        return MMS_E_ARG;
    if (!wrapper)
        return MMS_E_INNER;
    if (capacity == 0)
        return 0;
    auto* pool = static_cast<uint8_t*>(wrapper->allocate(capacity));
    if (!pool)
        return MMS_E_MEMORY;
    std::memset(pool, 0, capacity);
    m_pool = pool;
    m_capacity = capacity;
    m_used = 0;
    m_owned = true;
    return 0;
}

JResult StringMemoryFactory::add(
    const char* text, uint32_t length, bool allowEmpty, uint32_t* outOffset, uint32_t* outLength)
{
    if (!outOffset || !outLength)
        return MMS_E_ARG;
    *outOffset = 0;
    *outLength = 0;
    if (length == 0)
        return 0;
    uint32_t stored = length; // bytes to reserve (no text), or a text cut without NUL
    bool withNul = false;
    if (text) {
        const void* nul = std::memchr(text, 0, length);
        const uint32_t textLength = nul ? static_cast<uint32_t>(static_cast<const char*>(nul) - text) : length;
        if (textLength == 0 && allowEmpty)
            return 0;
        if (textLength < length) {
            stored = textLength + 1;
            withNul = true;
        }
    }
    if (static_cast<uint64_t>(m_used) + stored > m_capacity || !m_pool)
        return MMS_E_ARG;
    uint8_t* at = m_pool + m_used;
    if (text) {
        std::memcpy(at, text, withNul ? stored - 1 : stored);
        if (withNul)
            at[stored - 1] = 0;
    } else {
        std::memset(at, 0, stored);
    }
    *outOffset = m_used;
    *outLength = stored;
    m_used += stored;
    return 0;
}

void StringMemoryFactory::rollback(uint32_t usedSize)
{
    if (usedSize >= m_used || !m_pool)
        return;
    std::memset(m_pool + usedSize, 0, m_used - usedSize);
    m_used = usedSize;
}

JResult StringMemoryFactory::adopt(uint8_t* memory, uint32_t size)
{
    if (!memory || size == 0)
        return 0;
    if (m_pool && m_owned)
        return MMS_E_INNER;
    m_pool = memory;
    m_capacity = size;
    m_used = size;
    m_owned = false;
    return 0;
}

JResult StringMemoryFactory::copy(SharedMemWrapper* wrapper, const uint8_t* memory, uint32_t size)
{
    if (!memory || size == 0)
        return 0;
    const JResult result = create(wrapper, size);
    if (result < 0)
        return result;
    std::memcpy(m_pool, memory, size);
    m_used = size;
    return 0;
}

JResult StringMemoryFactory::release(SharedMemWrapper* wrapper)
{
    if (m_pool && m_owned) {
        if (!wrapper)
            return 0; // nothing to free it with: the block stays allocated
        wrapper->free(m_pool);
    }
    m_pool = nullptr;
    m_capacity = 0;
    m_used = 0;
    m_owned = false;
    return 0;
}

JResult StringMemoryFactory::readText(uint32_t offset, uint32_t maxBytes, char* out) const
{
    if (!out)
        return MMS_E_ARG;
    out[0] = 0;
    if (!m_pool)
        return MMS_E_INNER;
    if (offset >= m_used)
        return MMS_E_ARG;
    const uint32_t available = m_used - offset;
    const uint32_t limit = maxBytes < available ? maxBytes : available;
    const void* nul = std::memchr(m_pool + offset, 0, limit);
    const uint32_t length = nul ? static_cast<uint32_t>(static_cast<const uint8_t*>(nul) - (m_pool + offset)) : limit;
    std::memcpy(out, m_pool + offset, length);
    out[length] = 0;
    return 0;
}

namespace {

bool takesTwice(JResult (IMutex::*lock)(), JResult (IMutex::*tryLock)(), JResult (IMutex::*unlock)(), IMutex* mutex)
{
    (mutex->*lock)();
    const bool again = (mutex->*tryLock)() >= 0;
    if (again)
        (mutex->*unlock)();
    (mutex->*unlock)();
    return again;
}

} // namespace

bool mms_mutexIsRecursive(IMutex* mutex)
{
    if (!mutex)
        return true;
    return takesTwice(&IMutex::lockB, &IMutex::tryLockB, &IMutex::unlockB, mutex)
        && takesTwice(&IMutex::lockA, &IMutex::tryLockA, &IMutex::unlockA, mutex);
}

MutexLock::MutexLock(IMutex* mutex, uint8_t mode)
    : m_mutex(mutex)
    , m_mode(mode)
{
    if (!m_mutex)
        return;
    if (m_mode & MMS_LOCK_B)
        m_mutex->lockB();
    if (m_mode & MMS_LOCK_A)
        m_mutex->lockA();
}

MutexLock::~MutexLock()
{
    if (!m_mutex)
        return;
    if (m_mode & MMS_LOCK_A)
        m_mutex->unlockA();
    if (m_mode & MMS_LOCK_B)
        m_mutex->unlockB();
}

} // namespace MMS
