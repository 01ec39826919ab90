// The locked field (MMS::Field): every operation of an MMS::Base run while
// the unit's MMS::IMutex holds lock B, lock A or both; and two ready-made
// mutexes: two recursive locks, and none at all.
#pragma once

#include "mms/mms_field.h"
#include "mms/mms_wrap.h"

#include <mutex>

namespace MMS {

class Field : public IField {
public:
    // mutex: shared by the fields of one unit, not owned, may be null (no
    // locking); it must outlive the field.
    Field(IEventFlagTrigger* trigger, IMutex* mutex, IMemoryAllocator* tree = nullptr, IMemoryAllocator* data = nullptr,
        IMemoryAllocator* list = nullptr);
    ~Field() override = default;
    Field(const Field&) = delete;
    Field& operator=(const Field&) = delete;

    IEventFlagTrigger* getTrigger() const override { return m_base.getTrigger(); }
    IMutex* getMutex() const override { return m_mutex; }
    // The key MMS_KEY_INVALID (-1) is refused with MMS_E_ARG.
    JResult addNotifier(uint32_t mask, uint32_t key, uint32_t pageCount, bool notifyNow) override;

    MMS_FIELD_OPERATIONS(MMS_FIELD_DECLARE_OVERRIDE)

    // Copies the image of function source over function destination of this
    // field: two null names, or two names equal in their first 24
    // characters, give MMS_E_ARG.
    JResult copyFunction(const char* source, const char* destination, uint32_t flags, uint32_t key) override;
    // Copies into a function of another field, holding both fields' locks
    // (taken in one global order, so opposite copies can't deadlock).
    JResult copyFunctionToLocked(
        const char* source, Field* destinationField, const char* destination, uint32_t flags, uint32_t key) override;

    JResult addFunctionFromBufferEx(const char* listName, const FunctionInfo* info, uint32_t flags);
    JResult setFunctionImage(const char* function, const FunctionInfo& info, uint32_t flags, uint32_t key);
    // The same as copyFunctionToLocked: the source is never read unlocked.
    JResult copyFunctionTo(
        const char* source, Field* destinationField, const char* destination, uint32_t flags, uint32_t key);

private:
    JResult copyAcross(
        const char* source, Field* destinationField, const char* destination, uint32_t flags, uint32_t key);

    Base m_base;
    IMutex* m_mutex;
};

// Two independent recursive locks; a failed try answers MMS_E_LOCK_BUSY.
class RecursiveMutex : public IMutex {
public:
    JResult lockA() override;
    JResult unlockA() override;
    JResult tryLockA() override;
    JResult lockB() override;
    JResult unlockB() override;
    JResult tryLockB() override;

private:
    std::recursive_mutex m_a;
    std::recursive_mutex m_b;
};

// Locks nothing; every call answers 0.
class NullMutex : public IMutex {
public:
    JResult lockA() override { return 0; }
    JResult unlockA() override { return 0; }
    JResult tryLockA() override { return 0; }
    JResult lockB() override { return 0; }
    JResult unlockB() override { return 0; }
    JResult tryLockB() override { return 0; }
};

} // namespace MMS
