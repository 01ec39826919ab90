// Start and stop of the agent, its task's initialisation, main loop and
// clean-up.
#include "dante/dfa/dfa_main.h"
#include "dante/dfa/dfa_glue.h"
#include "dante/dfa/dfa_holder.h"
#include "dante/dfa/dfa_service.h"
#include "dante/dfa/dfa_task.h"
#include "dante/support/aud_env.h"
#include "pbd/OSWRAP/oswrap.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace {

constexpr uint32_t kLoopWaitMs = 20;
constexpr int32_t kTaskPriority = 12;
constexpr uint32_t kTaskStack = 16000; // raised by the OS wrapper to its minimum

struct Hooks {
    DfaSocketFiller filler = nullptr;
    DfaSocketProcessor processor = nullptr;
    void* context = nullptr;
};

// Everything the main loop owns; touched only on the agent's task.
struct LoopState {
    aud_fdset set{};
    bool changed = true;
    Hooks hooks[DFA_SOCKET_HOOKS];
    aud_socket extra = AUD_SOCKET_INVALID;
    DfaExtraProcessor extraProcessor = nullptr;
    void* extraContext = nullptr;
    aud_env* env = nullptr;
};

LoopState* g_loop = nullptr;

// Start and stop come from the client's thread; the flags below are also
// read and cleared by the agent's task.
std::mutex g_startLock;
uint16_t g_taskId = 0; // under g_startLock
std::atomic<bool> g_run{false};
std::atomic<DfaCallback> g_callback{nullptr};
std::atomic<uint16_t> g_startReqId{0};
std::atomic<bool> g_stopSeen{false};

// Initialisation steps, in order; clean-up undoes the ones that ran,
// backwards.
enum Step : unsigned {
    kTasks = 1u << 0,
    kDevices = 1u << 1,
    kHolder = 1u << 2,
    kEnv = 1u << 3,
    kBrowse = 1u << 4,
    kConmon = 1u << 5,
    kCmm = 1u << 6,
};

bool startAll(LoopState& loop, unsigned* done)
{
    const DfaGlue& glue = dfa_glue();
    auto step = [done](unsigned bit, DfaStatus status) {
        if (status == DFA_OK)
            *done |= bit;
        return status == DFA_OK;
    };
    return step(kTasks, dfa_task_init()) && step(kDevices, glue.device_list_init(glue.context))
        && step(kHolder, dfa_holder_init())
        && step(kEnv, aud_env_setup(&loop.env) == AUD_SUCCESS ? DFA_OK : dfa_reason(DFA_REASON_NO_MEMORY))
        && step(kBrowse, glue.browse_init(glue.context, loop.env))
        && step(kConmon, glue.conmon_init(glue.context, loop.env)) && step(kCmm, glue.cmm_init(glue.context, loop.env))
        && glue.cmm_start(glue.context) == DFA_OK && dfa_main_post_check_initialized(g_startReqId.load()) == DFA_OK;
}

void cleanAll(LoopState& loop, unsigned done)
{
    const DfaGlue& glue = dfa_glue();
    if (done & kCmm)
        glue.cmm_term(glue.context);
    if (done & kConmon)
        glue.conmon_term(glue.context);
    if (done & kBrowse)
        glue.browse_term(glue.context);
    if (done & kEnv)
        aud_env_release(loop.env);
    loop.env = nullptr;
    if (done & kHolder)
        dfa_holder_terminate();
    if (done & kDevices)
        glue.device_list_term(glue.context);
    if (done & kTasks)
        dfa_task_delete_all();
}

DfaStatus rebuildSet(LoopState& loop)
{
    aud_fdset_zero(&loop.set);
    for (const Hooks& hooks : loop.hooks) {
        if (hooks.filler == nullptr)
            continue;
        if (const DfaStatus r = hooks.filler(hooks.context, &loop.set); r != DFA_OK)
            return r;
    }
    if (loop.extra != AUD_SOCKET_INVALID) {
        if (const aud_error e = aud_fdset_add(&loop.set, loop.extra); e != AUD_SUCCESS)
            return dfa_library_error(e);
    }
    loop.changed = false;
    return DFA_OK;
}

void dispatch(LoopState& loop, size_t ready)
{
    for (const Hooks& hooks : loop.hooks) {
        if (hooks.processor != nullptr && hooks.processor(hooks.context, &loop.set, ready) < 0)
            break;
    }
    if (loop.extra != AUD_SOCKET_INVALID && loop.extraProcessor != nullptr)
        loop.extraProcessor(loop.extraContext, &loop.set);
}

void runLoop(LoopState& loop)
{
    while (g_run.load() && !g_stopSeen.load()) {
        dfa_task_pass();
        if (loop.changed && rebuildSet(loop) != DFA_OK)
            break;
        if (aud_fdset_count(&loop.set) == 0) {
            // Nothing to wait on: wait the loop's period anyway, or the
            // passes would spin while the clients connect.
            if (!dfa_main_block(kLoopWaitMs))
                break;
            continue;
        }
        size_t ready = 0;
        const aud_error e = aud_fdset_poll(&loop.set, static_cast<int>(kLoopWaitMs), &ready);
        if (e != AUD_SUCCESS && e != AUD_INTERRUPTED) {
            char text[AUD_STRERROR_SIZE];
            dfa_print("[MAIN  ][ERROR]select(): %s\n", aud_strerror(e, text));
            break;
        }
        dispatch(loop, ready);
    }
}

void agentMain(void* argument)
{
    if (argument == nullptr)
        dfa_print("Option:: NONE\n");
    const auto loop = std::make_unique<LoopState>();
    g_loop = loop.get();
    unsigned done = 0;
    if (startAll(*loop, &done))
        runLoop(*loop);
    g_run.store(false);
    cleanAll(*loop, done);
    g_loop = nullptr;
    g_callback.store(nullptr);
    g_startReqId.store(0);
}

int checkInitialized(DfaTask* task)
{
    const DfaGlue& glue = dfa_glue();
    if (!glue.cmm_interface_known(glue.context))
        return 0;
    if (!glue.conmon_init_started(glue.context) && glue.conmon_init_start(glue.context) != DFA_OK)
        return 0;
    if (!glue.conmon_init_finished(glue.context))
        return 0;
    DfaInterface current{};
    if (glue.current_interface(glue.context, &current) != DFA_OK)
        return 0;
    uint16_t reqId = 0;
    std::memcpy(&reqId, dfa_task_param(task), sizeof reqId);
    char16_t name[DFA_IF_NAME_CHARS + 1] = {};
    std::memcpy(name, current.name, sizeof current.name);
    dfa_print("[MAIN  ]callback DFA_CBACK_INF_INIT, req_id=0x%04X, IF='%ls'\n", reqId, name);
    if (dfa_main_callback(DFA_ERR_NOERR, DFA_CBACK_INF_INIT, reqId, current.name, sizeof current.name) != DFA_OK)
        dfa_print("[MAIN  ][ERROR]callback failed\n");
    dfa_task_delete(task);
    return 0;
}

DfaResult initResult(DfaStatus status)
{
    switch (dfa_reason_of(status)) {
    case DFA_REASON_BUSY:
        return DFA_ERR_DUP_INIT;
    case DFA_REASON_SERVICE:
        return DFA_ERR_CONMON_ABSENT;
    case DFA_REASON_BONJOUR:
        return DFA_ERR_BONJOUR_ABSENT;
    default:
        return DFA_ERR_EXIT;
    }
}

DfaStatus terminateStatus(OswrapResult r)
{
    if (r >= 0)
        return DFA_OK;
    if (r == OSWRAP_E_NO_TASK || r == OSWRAP_E_STATE)
        return dfa_reason(DFA_REASON_TASK_STATE);
    if (r == OSWRAP_E_SYSTEM) {
        dfa_print("[MAIN  ][ERROR]Terminating the OS thread failed, errorcode=\n");
        return dfa_reason(DFA_REASON_TERMINATE);
    }
    return dfa_reason(DFA_REASON_TASK_OTHER);
}

} // namespace

DfaResult dfa_init(DfaCallback callback, uint16_t* req_id)
{
    if (req_id == nullptr)
        return DFA_ERR_PARAM;
    *req_id = 0;
    const uint16_t id = dfa_next_req_id();
    const std::lock_guard<std::mutex> guard(g_startLock);
    if (g_callback.load() != nullptr || g_startReqId.load() != 0)
        return initResult(dfa_reason(DFA_REASON_BUSY));
    if (const DfaStatus r = dfa_service_check(); r != DFA_OK)
        return initResult(r);

    // An agent that ended by itself left its dormant task behind.
    if (g_taskId != 0) {
        oswrap_deleteTask(g_taskId);
        g_taskId = 0;
    }
    g_stopSeen.store(false);
    g_run.store(true);
    g_startReqId.store(id);
    g_callback.store(callback);

    OswrapTaskAttr attr;
    attr.entry = &agentMain;
    attr.priority = kTaskPriority;
    attr.stackSize = kTaskStack;
    attr.name = "dfa";
    uint16_t task = 0;
    if (oswrap_createTask(&task, &attr) < 0 || oswrap_startTask(task, nullptr) < 0) {
        // Undo the start, so the failure is seen and a later start can work.
        if (task != 0)
            oswrap_deleteTask(task);
        g_run.store(false);
        g_callback.store(nullptr);
        g_startReqId.store(0);
        dfa_print("[MAIN  ][ERROR]create task \"dfa\" failed\n");
        return DFA_ERR_EXIT;
    }
    g_taskId = task;
    *req_id = id;
    return DFA_ERR_NOERR;
}

DfaResult dfa_terminate()
{
    const std::lock_guard<std::mutex> guard(g_startLock);
    // The agent clears the flag itself when it ends: set means it still ran.
    const bool wasRunning = g_run.exchange(false);
    const uint16_t task = g_taskId;
    OswrapResult r = oswrap_terminateTask(task);
    // The cleared flag alone may end the agent before the stop request
    // reaches its task, which is then dormant: that is a stop, not a failure.
    if (r == OSWRAP_E_STATE && wasRunning)
        r = OSWRAP_OK;
    const DfaStatus status = terminateStatus(r);
    if (task != 0)
        oswrap_deleteTask(task);
    g_taskId = 0;
    return status == DFA_OK ? DFA_ERR_NOERR : DFA_ERR_UNKNOWN;
}

DfaStatus dfa_main_callback(DfaResult code, DfaCallbackKind kind, uint16_t req_id, const void* payload, size_t length)
{
    if (payload == nullptr)
        return dfa_reason(DFA_REASON_MISSING);
    if (length == 0 || length > DFA_PAYLOAD_MAX || kind > DFA_CBACK_INF_MAX)
        return dfa_reason(DFA_REASON_RANGE);
    const DfaCallback callback = g_callback.load();
    if (callback == nullptr)
        return dfa_reason(DFA_REASON_NOT_READY);
    DfaCallbackInfo info{};
    info.kind = kind;
    info.req_id = req_id;
    std::memcpy(info.payload, payload, length);
    callback(code, &info);
    return DFA_OK;
}

DfaStatus dfa_main_set_socket_hooks(int index, DfaSocketFiller filler, DfaSocketProcessor processor, void* context)
{
    if (index < 0 || index >= DFA_SOCKET_HOOKS)
        return dfa_reason(DFA_REASON_RANGE);
    if (g_loop == nullptr)
        return dfa_reason(DFA_REASON_NOT_READY);
    g_loop->hooks[index] = filler != nullptr ? Hooks{filler, processor, context} : Hooks{};
    g_loop->changed = true;
    return DFA_OK;
}

void dfa_main_set_extra_socket(aud_socket socket, DfaExtraProcessor processor, void* context)
{
    if (g_loop == nullptr)
        return;
    g_loop->extra = socket;
    g_loop->extraProcessor = socket != AUD_SOCKET_INVALID ? processor : nullptr;
    g_loop->extraContext = context;
    g_loop->changed = true;
}

bool dfa_main_block(uint32_t ms)
{
    if (g_stopSeen.load())
        return false;
    uint32_t pattern = 0;
    const OswrapResult r = oswrap_waitTaskFlags(&pattern, 0, ms);
    if (r == OSWRAP_E_STOP) {
        g_stopSeen.store(true);
        return false;
    }
    if (r < 0 && r != OSWRAP_E_TIMEOUT)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms)); // not on a task: no flags to wait on
    return true;
}

bool dfa_main_stopping()
{
    return g_stopSeen.load() || !g_run.load();
}

DfaStatus dfa_main_post_check_initialized(uint16_t req_id)
{
    DfaTask* task
        = dfa_task_create(&checkInitialized, nullptr, DFA_KEY_MAIN_CHECK_INITIALIZED, "dfa_main_check_initialized");
    if (task == nullptr)
        return dfa_reason(DFA_REASON_NO_MEMORY);
    std::memcpy(dfa_task_param(task), &req_id, sizeof req_id);
    return DFA_OK;
}

aud_env* dfa_main_env()
{
    return g_loop != nullptr ? g_loop->env : nullptr;
}

aud_time dfa_now()
{
    aud_time t{};
    if (aud_env* env = dfa_main_env(); env != nullptr)
        aud_env_clock(env, &t);
    else
        aud_clock_monotonic(&t);
    return t;
}

int32_t dfa_since(const aud_time& since)
{
    const aud_time n = dfa_now();
    return dfa_elapsed_seconds(&since, &n);
}

bool dfa_main_active()
{
    return g_callback.load() != nullptr || g_startReqId.load() != 0;
}
