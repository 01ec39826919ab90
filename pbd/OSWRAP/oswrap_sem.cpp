// Numbered counting semaphores.
#include "pbd/OSWRAP/oswrap_internal.h"

using namespace oswrap_detail;

namespace {

constexpr int32_t kMaximumCount = 0x7FFFFFFF;

OswrapResult lookupSemaphore(State& s, uint16_t id, Semaphore** sem)
{
    if (id == 0 || id > OSWRAP_MAX_SEMAPHORES)
        return OSWRAP_E_ID;
    if (!s.running || !s.semaphores[id].inUse)
        return OSWRAP_E_STATE;
    *sem = &s.semaphores[id];
    return OSWRAP_OK;
}

} // namespace

OswrapResult oswrap_createSemaphore(uint16_t* id, const OswrapSemAttr* attr)
{
    if (!id)
        return OSWRAP_E_ID;
    *id = 0;
    if (!attr)
        return OSWRAP_E_ID;
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    if (!s.running)
        return OSWRAP_E_STATE;
    if (attr->initialCount < 0)
        return OSWRAP_E_SYSTEM;
    for (uint16_t candidate = OSWRAP_MAX_SEMAPHORES; candidate >= OSWRAP_SEM_DYNAMIC_FLOOR; --candidate) {
        Semaphore& sem = s.semaphores[candidate];
        if (sem.inUse)
            continue;
        sem.inUse = true;
        sem.count = attr->initialCount;
        sem.waiters = 0;
        copyName(sem.name, attr->name);
        *id = candidate;
        return OSWRAP_OK;
    }
    return OSWRAP_E_NO_ID;
}

OswrapResult oswrap_deleteSemaphore(uint16_t id)
{
    return withEntry(lookupSemaphore, id, [](Semaphore& sem, std::unique_lock<std::mutex>&) {
        sem.inUse = false;
        sem.count = 0;
        sem.waiters = 0;
        ++sem.generation;
        sem.wake.notify_all();
        return OSWRAP_OK;
    });
}

OswrapResult oswrap_signalSemaphore(uint16_t id)
{
    return withEntry(lookupSemaphore, id, [](Semaphore& sem, std::unique_lock<std::mutex>&) {
        if (sem.count == kMaximumCount)
            return OSWRAP_E_SYSTEM;
        ++sem.count;
        if (sem.waiters > 0)
            sem.wake.notify_one();
        return OSWRAP_OK;
    });
}

OswrapResult oswrap_waitSemaphore(uint16_t id)
{
    return withEntry(lookupSemaphore, id, [](Semaphore& sem, std::unique_lock<std::mutex>& guard) {
        const uint32_t generation = sem.generation;
        ++sem.waiters;
        sem.wake.wait(guard, [&] { return sem.generation != generation || sem.count > 0; });
        if (sem.generation != generation)
            return OSWRAP_E_STATE; // deleted while waiting; its counters are gone
        --sem.count;
        --sem.waiters;
        return OSWRAP_OK;
    });
}
