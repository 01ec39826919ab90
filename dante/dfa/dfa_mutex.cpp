// Mutex pool over OS-wrapper semaphores. The failure lines carry no error
// number ("??"): the operator reads them as they always read.
#include "dante/dfa/dfa_mutex.h"
#include "pbd/OSWRAP/oswrap.h"

#include <cstdio>
#include <mutex>

namespace {

// Slots are made and closed from the agent's task and read by the client's
// thread, so the table has its own lock.
std::mutex g_poolLock;
uint16_t g_slots[DFA_MUTEX_SLOTS] = {};

} // namespace

uint16_t dfa_mutex_create()
{
    std::lock_guard<std::mutex> guard(g_poolLock);
    for (unsigned slot = 0; slot < DFA_MUTEX_SLOTS; ++slot) {
        if (g_slots[slot] != 0)
            continue;
        char name[8];
        std::snprintf(name, sizeof name, "sem%u", slot + 1);
        OswrapSemAttr attr;
        attr.initialCount = 1;
        attr.name = name;
        uint16_t id = 0;
        const OswrapResult r = oswrap_createSemaphore(&id, &attr);
        if (r < 0 || id == 0)
            break;
        g_slots[slot] = id;
        return id;
    }
    dfa_print("[MUTEX ][ERROR]create mutex failed, error_code=??\n");
    return 0;
}

DfaStatus dfa_mutex_take(uint16_t id)
{
    if (id == 0)
        return dfa_reason(DFA_REASON_RANGE);
    if (oswrap_waitSemaphore(id) < 0) {
        dfa_print("[MUTEX ][ERROR]take mutex failed, semId=%d\n", id);
        return dfa_reason(DFA_REASON_OS);
    }
    return DFA_OK;
}

DfaStatus dfa_mutex_release(uint16_t id)
{
    if (id == 0)
        return dfa_reason(DFA_REASON_RANGE);
    if (oswrap_signalSemaphore(id) < 0) {
        dfa_print("[MUTEX ][ERROR]release mutex failed, semId=%d\n", id);
        return dfa_reason(DFA_REASON_OS);
    }
    return DFA_OK;
}

DfaStatus dfa_mutex_close(uint16_t id)
{
    std::lock_guard<std::mutex> guard(g_poolLock);
    for (uint16_t& slot : g_slots) {
        if (id == 0 || slot != id)
            continue;
        const OswrapResult r = oswrap_deleteSemaphore(id);
        slot = 0;
        if (r >= 0)
            return DFA_OK;
        break;
    }
    dfa_print("[MUTEX ][ERROR]close mutex failed, hdl=%d, error_code=??\n", id);
    return dfa_reason(DFA_REASON_OS);
}
