// A mutex that knows its owner, so that functions documented as "called with
// the lock held" can assert it in debug builds (std::mutex cannot be asked).
#pragma once

#include <atomic>
#include <cassert>
#include <mutex>
#include <thread>

namespace JLIB {

class OwnedMutex {
public:
    void lock()
    {
        m_mutex.lock();
        m_owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
    }
    bool try_lock()
    {
        if (!m_mutex.try_lock())
            return false;
        m_owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
        return true;
    }
    void unlock()
    {
        m_owner.store(std::thread::id(), std::memory_order_relaxed);
        m_mutex.unlock();
    }
    // True only on the thread that holds the lock: the owner field equals the
    // caller's id only if the caller stored it and has not unlocked since.
    bool heldByCaller() const { return m_owner.load(std::memory_order_relaxed) == std::this_thread::get_id(); }

private:
    std::mutex m_mutex;
    std::atomic<std::thread::id> m_owner{};
};

} // namespace JLIB

#define JLIB_ASSERT_HELD(mutex) assert((mutex).heldByCaller())
