// The agent's mutex pool: at most 10 mutexes, each an OS-wrapper semaphore
// with initial count 1 named "sem1" to "sem10" after its slot. Not
// re-entrant. A mutex is named by its semaphore id; 0 is no mutex.
#pragma once

#include "dante/dfa/dfa_internal.h"

#include <cstdint>

constexpr unsigned DFA_MUTEX_SLOTS = 10;

// The new mutex's id, or 0 when the semaphore cannot be made or every slot
// is used.
uint16_t dfa_mutex_create();
// Waits without time limit. DFA_REASON_RANGE for id 0, DFA_REASON_OS when
// the wait fails.
DfaStatus dfa_mutex_take(uint16_t id);
// DFA_REASON_RANGE for id 0, DFA_REASON_OS when the release fails.
DfaStatus dfa_mutex_release(uint16_t id);
// Deletes the semaphore and frees its slot; DFA_REASON_OS when that fails.
DfaStatus dfa_mutex_close(uint16_t id);

// Holds a pool mutex for a scope; ok() tells whether it was taken.
class DfaMutexLock {
public:
    explicit DfaMutexLock(uint16_t id)
        : m_id(id)
        , m_status(dfa_mutex_take(id))
    {
    }
    ~DfaMutexLock()
    {
        if (m_status == DFA_OK)
            dfa_mutex_release(m_id);
    }
    DfaMutexLock(const DfaMutexLock&) = delete;
    DfaMutexLock& operator=(const DfaMutexLock&) = delete;
    bool ok() const { return m_status == DFA_OK; }
    DfaStatus status() const { return m_status; }

private:
    uint16_t m_id;
    DfaStatus m_status;
};
