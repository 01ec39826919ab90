// Shared by the agent's core tests: the OS wrapper started once, a recorder
// of the callback's answers, a fake service probe and a fake glue whose
// answers each test sets.
#pragma once

#include "dante/dfa/dfa.h"
#include "dante/dfa/dfa_glue.h"
#include "dante/dfa/dfa_main.h"
#include "dante/dfa/dfa_service.h"
#include "pbd/OSWRAP/oswrap.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

namespace dfatest {

inline void ensureOswrap()
{
    static const bool started = [] {
        oswrap_init();
        return true;
    }();
    (void)started;
}

struct Answer {
    DfaResult code;
    uint16_t kind;
    uint16_t reqId;
    std::vector<uint8_t> payload;
};

// The callback has no context: one recorder for the process.
class Recorder {
public:
    static Recorder& instance()
    {
        static Recorder recorder;
        return recorder;
    }
    static void callback(DfaResult code, const DfaCallbackInfo* info)
    {
        Recorder& r = instance();
        std::lock_guard<std::mutex> guard(r.m_lock);
        r.m_answers.push_back(
            {code, info->kind, info->req_id, std::vector<uint8_t>(info->payload, info->payload + DFA_PAYLOAD_MAX)});
        r.m_wake.notify_all();
    }
    void clear()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_answers.clear();
    }
    // The answer carrying reqId (false after timeoutMs).
    bool waitFor(uint16_t reqId, Answer* out, int timeoutMs = 3000)
    {
        std::unique_lock<std::mutex> guard(m_lock);
        const bool found = m_wake.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
            for (const Answer& a : m_answers) {
                if (a.reqId == reqId) {
                    *out = a;
                    return true;
                }
            }
            return false;
        });
        return found;
    }
    bool has(uint16_t reqId)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (const Answer& a : m_answers) {
            if (a.reqId == reqId)
                return true;
        }
        return false;
    }
    size_t count()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_answers.size();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::vector<Answer> m_answers;
};

struct FakeProbe {
    std::atomic<DfaStatus> result{DFA_OK};
    std::atomic<uint32_t> state{DFA_SERVICE_RUNNING};
    std::atomic<int> queries{0};

    static DfaStatus query(void* context, const char16_t*, uint32_t* state)
    {
        auto* self = static_cast<FakeProbe*>(context);
        self->queries++;
        *state = self->state.load();
        return self->result.load();
    }
    DfaServiceProbe probe() { return DfaServiceProbe{&FakeProbe::query, this}; }
};

// Glue whose every answer the test sets; its clients come up at once.
struct FakeGlue {
    std::atomic<DfaStatus> deviceListInit{DFA_OK};
    std::atomic<bool> conmonStarted{false};
    std::atomic<bool> conmonFinished{true};
    std::atomic<uint32_t> startBlockMs{0}; // conmon_init_start blocks this long
    std::atomic<int> finishedQueries{0};
    std::atomic<DfaStatus> reasons[DFA_REQ_COUNT] = {};
    std::atomic<DfaResult> upgradeCode{0};
    std::atomic<int> processorCalls{0};
    std::atomic<size_t> lastReady{99};
    std::atomic<int> fillerCalls{0};
    std::atomic<int> socket{-1}; // registered through the conmon hooks when valid
    std::atomic<int> terms{0};
    DfaInterface interfaces[2] = {};

    static FakeGlue* self(void* context) { return static_cast<FakeGlue*>(context); }

    static DfaStatus deviceListInitFn(void* c) { return self(c)->deviceListInit.load(); }
    static void termFn(void* c) { self(c)->terms++; }
    static DfaStatus filler(void* c, aud_fdset* set)
    {
        self(c)->fillerCalls++;
        return aud_fdset_add(set, self(c)->socket.load()) == AUD_SUCCESS ? DFA_OK : dfa_reason(DFA_REASON_OS);
    }
    static int processor(void* c, const aud_fdset*, size_t ready)
    {
        self(c)->lastReady = ready;
        self(c)->processorCalls++;
        return 0;
    }
    static DfaStatus conmonInit(void* c, aud_env*)
    {
        if (self(c)->socket.load() >= 0)
            return dfa_main_set_socket_hooks(1, &filler, &processor, c);
        return DFA_OK;
    }
    static bool started(void* c) { return self(c)->conmonStarted.load(); }
    static DfaStatus start(void* c)
    {
        if (const uint32_t ms = self(c)->startBlockMs.load(); ms > 0)
            dfa_main_block(ms);
        self(c)->conmonStarted = true;
        return DFA_OK;
    }
    static bool finished(void* c)
    {
        self(c)->finishedQueries++;
        return self(c)->conmonFinished.load();
    }
    static DfaStatus current(void* c, DfaInterface* out)
    {
        *out = self(c)->interfaces[0];
        return DFA_OK;
    }
    static DfaStatus reason(void* c, uint16_t kind) { return self(c)->reasons[kind].load(); }
    static DfaStatus browseWindow(void* c, const uint32_t*, size_t, uint16_t, int16_t)
    {
        return reason(c, DFA_REQ_GET_DEVICE_LIST);
    }
    static DfaStatus deviceStat(void* c, const char* name, DfaDeviceStat* out)
    {
        std::memcpy(out->name, name, strnlen(name, sizeof out->name));
        out->link_speed[0] = DFA_LINK_1G;
        return reason(c, DFA_REQ_GET_DEVICE_STAT);
    }
    static DfaStatus startUpdate(void* c, const char*, uint16_t) { return reason(c, DFA_REQ_START_UPDATE); }
    static DfaStatus updateStatus(void* c, const char* name, DfaUpgradeStatus* out, DfaResult* code)
    {
        std::memcpy(out->name, name, strnlen(name, sizeof out->name));
        out->percent = 42;
        *code = self(c)->upgradeCode.load();
        return reason(c, DFA_REQ_GET_UPDATE_STATUS);
    }
    static DfaStatus reboot(void* c, const char*, uint8_t, uint16_t) { return reason(c, DFA_REQ_REBOOT_DEVICE); }
    static DfaStatus ifList(void* c, DfaInterfaceList* out)
    {
        out->count = 2;
        out->interfaces = self(c)->interfaces;
        return reason(c, DFA_REQ_GET_IF_LIST);
    }
    static DfaStatus setIf(void* c, const DfaInterface*, uint16_t) { return reason(c, DFA_REQ_SET_DANTE_IF); }
    static DfaStatus getIf(void* c, DfaInterface* out)
    {
        *out = self(c)->interfaces[1];
        return reason(c, DFA_REQ_GET_DANTE_IF);
    }

    FakeGlue()
    {
        const char16_t first[] = u"eth-dante";
        const char16_t second[] = u"eth-second";
        std::memcpy(interfaces[0].name, first, sizeof first);
        std::memcpy(interfaces[1].name, second, sizeof second);
    }

    DfaGlue glue()
    {
        DfaGlue g{};
        g.context = this;
        g.device_list_init = &deviceListInitFn;
        g.device_list_term = &termFn;
        g.conmon_init = &conmonInit;
        g.conmon_init_started = &started;
        g.conmon_init_start = &start;
        g.conmon_init_finished = &finished;
        g.current_interface = &current;
        g.browse_window = &browseWindow;
        g.device_stat = &deviceStat;
        g.start_update = &startUpdate;
        g.update_status = &updateStatus;
        g.reboot = &reboot;
        g.if_list = &ifList;
        g.set_dante_if = &setIf;
        g.get_dante_if = &getIf;
        return g;
    }
};

} // namespace dfatest
