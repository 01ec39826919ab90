// MMS::Field: each operation of the base under the locks its table entry
// names; the copies between functions and fields; the two mutexes.

#include "mms/mms_lockedfield.h"

#include <cassert>
#include <cstring>
#include <functional>

namespace MMS {

Field::Field(
    IEventFlagTrigger* trigger, IMutex* mutex, IMemoryAllocator* tree, IMemoryAllocator* data, IMemoryAllocator* list)
    : m_base(trigger, tree, data, list)
    , m_mutex(mutex)
{
    // Copies and listeners take the locks again on the same thread.
    assert(mms_mutexIsRecursive(mutex));
}

#define MMS_FIELD_FORWARD(lock, name, params, args)                                                                    \
    JResult Field::name params                                                                                         \
    {                                                                                                                  \
        MutexLock guard(m_mutex, lock);                                                                                \
        return m_base.name args;                                                                                       \
    }

MMS_FIELD_OPERATIONS(MMS_FIELD_FORWARD)

JResult Field::addNotifier(uint32_t mask, uint32_t key, uint32_t pageCount, bool notifyNow)
{
    if (key == MMS_KEY_INVALID)
        return MMS_E_ARG;
    MutexLock guard(m_mutex, MMS_LOCK_AB);
    return m_base.addNotifier(mask, key, pageCount, notifyNow);
}

JResult Field::addFunctionFromBufferEx(const char* listName, const FunctionInfo* info, uint32_t flags)
{
    MutexLock guard(m_mutex, MMS_LOCK_AB);
    return m_base.addFunctionFromBufferEx(listName, info, flags);
}

JResult Field::setFunctionImage(const char* function, const FunctionInfo& info, uint32_t flags, uint32_t key)
{
    MutexLock guard(m_mutex, MMS_LOCK_AB);
    return m_base.setFunctionImage(function, info, flags, key);
}

JResult Field::copyFunction(const char* source, const char* destination, uint32_t flags, uint32_t key)
{
    MutexLock guard(m_mutex, MMS_LOCK_AB);
    if (source == nullptr && destination == nullptr)
        return MMS_E_ARG;
    if (source != nullptr && destination != nullptr && std::strncmp(source, destination, MMS_NAME_SIZE) == 0)
        return MMS_E_ARG;
    FunctionInfo info;
    JResult r = m_base.getFunctionInfo(&info, source);
    if (r < 0)
        return r;
    // One null name and the other naming the first function are the same
    // function too; copying it onto itself would overlap its own data.
    FunctionInfo target;
    if (m_base.getFunctionInfo(&target, destination) >= 0 && target.data == info.data)
        return MMS_E_ARG;
    return m_base.setFunctionImage(destination, info, flags, key);
}

JResult Field::copyFunctionToLocked(
    const char* source, Field* destinationField, const char* destination, uint32_t flags, uint32_t key)
{
    return copyAcross(source, destinationField, destination, flags, key);
}

JResult Field::copyFunctionTo(
    const char* source, Field* destinationField, const char* destination, uint32_t flags, uint32_t key)
{
    // Reading the source unlocked would race with its writers, so this copy
    // locks like the locked one.
    return copyAcross(source, destinationField, destination, flags, key);
}

JResult Field::copyAcross(
    const char* source, Field* destinationField, const char* destination, uint32_t flags, uint32_t key)
{
    if (destinationField == nullptr)
        return MMS_E_ARG;
    if (destinationField == this)
        return copyFunction(source, destination, flags, key);
    // Both fields' locks in one global order (every lock B by mutex address,
    // then every lock A), so two copies in opposite directions can't wait
    // on each other, and each single operation (B, then A) fits the order.
    IMutex* first = m_mutex;
    IMutex* second = destinationField->m_mutex;
    if (std::less<IMutex*>()(second, first))
        std::swap(first, second);
    MutexLock firstB(first, MMS_LOCK_B);
    MutexLock secondB(second, MMS_LOCK_B);
    MutexLock firstA(first, MMS_LOCK_A);
    MutexLock secondA(second, MMS_LOCK_A);
    FunctionInfo info;
    const JResult r = m_base.getFunctionInfo(&info, source);
    if (r < 0)
        return r;
    return destinationField->setFunctionImage(destination, info, flags, key);
}

// --- mutexes ---------------------------------------------------------------------------------

JResult RecursiveMutex::lockA()
{
    m_a.lock();
    return 0;
}

JResult RecursiveMutex::unlockA()
{
    m_a.unlock();
    return 0;
}

JResult RecursiveMutex::tryLockA()
{
    return m_a.try_lock() ? 0 : MMS_E_LOCK_BUSY;
}

JResult RecursiveMutex::lockB()
{
    m_b.lock();
    return 0;
}

JResult RecursiveMutex::unlockB()
{
    m_b.unlock();
    return 0;
}

JResult RecursiveMutex::tryLockB()
{
    return m_b.try_lock() ? 0 : MMS_E_LOCK_BUSY;
}

} // namespace MMS
