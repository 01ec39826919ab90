// The agent's use of the control-and-monitoring client: connect and
// register ("dfa_conmon_init"), watch the service and the running queries
// ("dfa_conmon_watch_device"), the client's callbacks and socket hooks.
// The devices and their queries, and the upgrades, are in the two
// dfa_glue_conmon_*.cpp files beside this one.
//
// Decisions: control messages from other devices are logged and dropped.
// When the service goes away the agent forgets every device and answers
// DFA_ERR_CONMON_ABSENT from then on: the client never reconnects, and
// nothing stale is shown.
#include "dante/dfa/dfa_conmon_internal.h"
#include "dante/dfa/dfa_dntchk.h"
#include "dante/dfa/dfa_main.h"
#include "dante/dfa/dfa_service.h"

#include <algorithm>
#include <cstring>

namespace dfa_conmon_detail {

ConmonGlue g;

namespace {

// Each waiting step of "dfa_conmon_init" starts over after this long.
constexpr int kInitStepSeconds = 5;
// A failed connect or registration stops the whole agent this long before
// the next try: the service is not hammered.
constexpr uint32_t kConnectFailureBlockMs = 5000;
constexpr uint32_t kRegisterFailureBlockMs = 2000;
// Once set up, the service is looked for this often.
constexpr int kProbeSeconds = 5;

} // namespace

void dropPendingSlot(conmon_client_request** slot)
{
    g.pendingSlots.erase(std::remove(g.pendingSlots.begin(), g.pendingSlots.end(), slot), g.pendingSlots.end());
}

void cancel(conmon_client_request** slot)
{
    if (*slot != nullptr && g.client != nullptr)
        conmon_client_request_release(g.client, *slot);
    *slot = nullptr;
}

// ---- client callbacks

void onRequestDone(conmon_client*, conmon_client_request* request, aud_error result)
{
    char text[AUD_STRERROR_SIZE];
    dfa_print("[CONMON]conmon_cb_complete_request, result=%s, id=0x%p\n", errorText(result, text),
        static_cast<void*>(request));
    for (conmon_client_request** slot : g.pendingSlots) {
        if (*slot == request)
            *slot = nullptr;
    }
}

namespace {

void onSocketsChanged(conmon_client*)
{
    g.socketsChanged = true;
    dfa_print("[CONMON]conmon_cb_sockets_changed fired\n");
}

void onNetworksChanged(conmon_client*)
{
    dfa_print("[CONMON]conmon_cb_networks_changed fired\n");
}

void onSubscriptionsChanged(conmon_client*, size_t, const conmon_client_subscription* const*)
{
    dfa_print("[CONMON]conmon_cb_subscriptions_changed fired\n");
}

void onDeviceNameChanged(conmon_client* client)
{
    const char* name = conmon_client_get_device_name(client);
    if (name == nullptr)
        name = "[null]";
    if (g.client != client) {
        dfa_print("[CONMON]conmon_cb_device_name_changed fired, %s\n", name);
        return;
    }
    dfa_print("[CONMON]conmon_cb_device_name_changed fired, %s to %s\n", g.pcName, name);
    std::strncpy(g.pcName, name, DFA_DEVICE_NAME_SIZE);
}

void onControl(conmon_client*, const conmon_envelope* envelope, const uint8_t*, size_t length)
{
    // Nothing here asks for control messages from other devices.
    dfa_print(
        "[CONMON]control message 0x%04x (%u bytes) dropped\n", envelope->message_word, static_cast<unsigned>(length));
}

void onLocal(conmon_client*, uint16_t, uint16_t, const conmon_envelope* envelope, const uint8_t* payload, size_t length)
{
    conmon_control_header header{};
    if (std::memcmp(envelope->vendor_id.data, CONMON_VENDOR_AUDINATE.data, CONMON_ID64_SIZE) == 0
        && conmon_control_header_read(payload, length, &header) == AUD_SUCCESS && header.type == 0x130)
        g.ready = true;
}

// ---- socket hooks (index 1)

DfaStatus fillSockets(void*, aud_fdset* set)
{
    if (g.client == nullptr)
        return dfa_reason(DFA_REASON_NOT_READY);
    if (const aud_error e = conmon_client_get_sockets(g.client, set); e != AUD_SUCCESS) {
        char text[AUD_STRERROR_SIZE];
        dfa_print("[CONMON][ERROR]conmon client get sockets: %s\n", errorText(e, text));
        // A closed client has no socket: nothing to wait on.
        return e == AUD_INVALIDSTATE ? DFA_OK : dfa_library_error(e);
    }
    return DFA_OK;
}

void serviceGone();

int processSockets(void*, const aud_fdset*, size_t ready)
{
    if (g.client == nullptr || ready == 0)
        return 0;
    // One datagram a call; an empty socket answers at once.
    constexpr int kBurst = 16;
    for (int i = 0; i < kBurst && conmon_client_get_state(g.client) != CONMON_CLIENT_NO_CONNECTION; ++i) {
        if (const aud_error e = conmon_client_process_sockets(g.client); e != AUD_SUCCESS) {
            char text[AUD_STRERROR_SIZE];
            dfa_print("[CONMON][ERROR]conmon client process sockets: %s\n", errorText(e, text));
            break;
        }
    }
    if (g.socketsChanged) {
        g.socketsChanged = false;
        dfa_main_set_socket_hooks(1, &fillSockets, &processSockets, nullptr);
    }
    if (g.finished && conmon_client_get_state(g.client) == CONMON_CLIENT_NO_CONNECTION)
        serviceGone();
    return 0;
}

void unhook()
{
    dfa_main_set_socket_hooks(1, nullptr, nullptr, nullptr);
}

// ---- "dfa_conmon_init" and "dfa_conmon_watch_device"

// The steps of "dfa_conmon_init", in order.
enum class InitStep {
    Connect,
    AwaitConnected,
    Register,
    AwaitRegistered,
    Subscribe,
    AwaitSubscribed,
    Finish,
};

struct InitState {
    InitStep step = InitStep::Connect;
    aud_time stepTime{};
    conmon_client_request* connect = nullptr;
    conmon_client_request* local = nullptr;
    conmon_client_request* subscribe = nullptr;
};

InitState g_init;

void onConnected(conmon_client*, conmon_client_request* request, aud_error result)
{
    char text[AUD_STRERROR_SIZE];
    if (result != AUD_SUCCESS) {
        dfa_print("[CONMON][ERROR]conmon_cb_complete_connect_request, result=%s, id=0x%p\n", errorText(result, text),
            static_cast<void*>(request));
        g_init.connect = nullptr;
        conmon_client_disconnect(g.client);
        unhook();
        g_init.step = InitStep::Connect;
        dfa_main_block(kConnectFailureBlockMs);
        return;
    }
    dfa_print("[CONMON]conmon_cb_complete_connect_request, result=%s, id=0x%p\n", errorText(result, text),
        static_cast<void*>(request));
    g_init.connect = nullptr;
    if (const char* name = conmon_client_get_device_name(g.client); name != nullptr)
        std::strncpy(g.pcName, name, DFA_DEVICE_NAME_SIZE);
}

void restartConnect()
{
    cancel(&g_init.connect);
    conmon_client_disconnect(g.client);
    unhook();
    g_init.step = InitStep::Connect;
}

bool registerAll()
{
    char text[AUD_STRERROR_SIZE];
    struct Row {
        uint16_t channel;
        bool others;
        conmon_monitoring_handler handler;
        const char* line;
    };
    if (const aud_error e = conmon_client_register_control_messages(g.client, nullptr, nullptr, &onControl);
        e != AUD_SUCCESS) {
        dfa_print("[CONMON][ERROR]register control msg failed: %s\n", errorText(e, text));
        return false;
    }
    static const Row kRows[] = {
        {CONMON_CHANNEL_STATUS, false, &onMonitoring, "[CONMON][ERROR]register tx status msg failed: %s\n"},
        {CONMON_CHANNEL_STATUS, true, &onMonitoring, "[CONMON][ERROR]register rx status msg failed: %s\n"},
        {CONMON_CHANNEL_BROADCAST, false, &onMonitoring, "[CONMON][ERROR]register tx broadcast msg failed: %s\n"},
        {CONMON_CHANNEL_BROADCAST, true, &onMonitoring, "[CONMON][ERROR]register rx broadcast msg failed: %s\n"},
    };
    for (const Row& row : kRows) {
        const aud_error e = conmon_client_register_monitoring_messages(
            g.client, nullptr, nullptr, row.channel, row.others, row.handler);
        if (e != AUD_SUCCESS) {
            dfa_print(row.line, errorText(e, text));
            return false;
        }
    }
    const aud_error e = conmon_client_register_monitoring_messages(
        g.client, &onRequestDone, &g_init.local, CONMON_CHANNEL_LOCAL, false, &onLocal);
    if (e != AUD_SUCCESS) {
        dfa_print("[CONMON][ERROR]register tx local msg failed: %s\n", errorText(e, text));
        return false;
    }
    return true;
}

int initStep(DfaTask* task)
{
    char text[AUD_STRERROR_SIZE];
    switch (g_init.step) {
    case InitStep::Connect: {
        const aud_error e = conmon_client_connect(g.client, &onConnected, &g_init.connect);
        if (e != AUD_SUCCESS) {
            dfa_print("[CONMON][ERROR]conmon client connect: %s\n", errorText(e, text));
            dfa_main_block(kConnectFailureBlockMs);
            return 0;
        }
        g_init.stepTime = dfa_now();
        dfa_main_set_socket_hooks(1, &fillSockets, &processSockets, nullptr);
        g_init.step = InitStep::AwaitConnected;
        return 0;
    }
    case InitStep::AwaitConnected:
        if (g_init.connect == nullptr && conmon_client_get_state(g.client) == CONMON_CLIENT_CONNECTED) {
            g_init.step = InitStep::Register;
        } else if (dfa_since(g_init.stepTime) > kInitStepSeconds) {
            dfa_print("[CONMON][ERROR]retry conmon client connect\n");
            restartConnect();
        }
        return 0;
    case InitStep::Register:
        if (!registerAll()) {
            dfa_main_block(kRegisterFailureBlockMs);
            return 0;
        }
        g_init.stepTime = dfa_now();
        g_init.step = InitStep::AwaitRegistered;
        return 0;
    case InitStep::AwaitRegistered:
        if (g_init.local == nullptr) {
            g_init.step = InitStep::Subscribe;
        } else if (dfa_since(g_init.stepTime) > kInitStepSeconds) {
            dfa_print("[CONMON][ERROR]retry conmon client regist\n");
            cancel(&g_init.local);
            g_init.step = InitStep::Register;
        }
        return 0;
    case InitStep::Subscribe: {
        const aud_error e
            = conmon_client_subscribe_global(g.client, &onRequestDone, &g_init.subscribe, CONMON_CHANNEL_STATUS);
        if (e != AUD_SUCCESS) {
            dfa_print("[CONMON][ERROR]conmon_client_subscribe_global status: %s\n", errorText(e, text));
            return 0;
        }
        g_init.stepTime = dfa_now();
        g_init.step = InitStep::AwaitSubscribed;
        return 0;
    }
    case InitStep::AwaitSubscribed:
        if (g_init.subscribe == nullptr && conmon_client_is_subscribed(g.client, CONMON_CHANNEL_STATUS)) {
            g_init.step = InitStep::Finish;
        } else if (dfa_since(g_init.stepTime) > kInitStepSeconds) {
            dfa_print("[CONMON][ERROR]retry conmon client subscribe global\n");
            cancel(&g_init.subscribe);
            g_init.step = InitStep::Register;
        }
        return 0;
    case InitStep::Finish:
        dfa_print("[CONMON]dfa_conmon: INIT_FINISH\n");
        g.finished = true;
        g.lastProbe = dfa_now();
        dfa_task_delete(task);
        return 0;
    }
    return 0;
}

void initCleanup(DfaTask*)
{
    // The task frees itself on the next pass: a restart must not delete it
    // again through a stale pointer.
    g.initTask = nullptr;
    for (conmon_client_request** slot : {&g_init.connect, &g_init.local, &g_init.subscribe}) {
        dropPendingSlot(slot);
        cancel(slot);
    }
}

bool serviceRuns()
{
    const DfaStatus r = dfa_service_check();
    return r == DFA_OK;
}

int watchDevices(DfaTask*)
{
    if (g.finished && dfa_since(g.lastProbe) >= kProbeSeconds) {
        g.lastProbe = dfa_now();
        if (!serviceRuns() || conmon_client_get_state(g.client) == CONMON_CLIENT_NO_CONNECTION) {
            serviceGone();
            return 0;
        }
    }
    expireQueries();
    return 0;
}

void watchCleanup(DfaTask*)
{
    g.watchTask = nullptr;
}

void stopAll()
{
    stopQueries();
    g.devices.clear();
    if (g.initTask != nullptr)
        dfa_task_delete(g.initTask);
    if (g.watchTask != nullptr)
        dfa_task_delete(g.watchTask);
    if (g.client != nullptr) {
        if (conmon_client_is_subscribed(g.client, CONMON_CHANNEL_STATUS))
            conmon_client_unsubscribe_global(g.client, nullptr, nullptr, CONMON_CHANNEL_STATUS);
        if (conmon_client_get_state(g.client) != CONMON_CLIENT_NO_CONNECTION)
            conmon_client_disconnect(g.client);
    }
    unhook();
    g.started = false;
    g.finished = false;
    g.ready = false;
    g.socketsChanged = false;
    g_init = InitState{};
}

void serviceGone()
{
    if (g.absent)
        return;
    dfa_print("[CONMON][ERROR]conmon service gone\n");
    stopAll();
    g.absent = true;
    // Keeps "dfa_main_check_initialized" from starting it again.
    g.started = true;
    const char16_t name[DFA_IF_NAME_CHARS] = {};
    if (dfa_main_callback(DFA_ERR_CONMON_ABSENT, DFA_CBACK_INF_INIT, 0, name, sizeof name) != DFA_OK)
        dfa_print("[CONMON][ERROR]callback failed\n");
}

} // namespace

DfaStatus needService()
{
    if (g.absent)
        return dfa_reason(DFA_REASON_SERVICE);
    return g.client == nullptr ? dfa_reason(DFA_REASON_NOT_READY) : DFA_OK;
}

} // namespace dfa_conmon_detail

using namespace dfa_conmon_detail;

DfaStatus dfa_conmon_glue_init(void*, aud_env* env)
{
    if (env == nullptr)
        return dfa_reason(DFA_REASON_MISSING);
    g.absent = false;
    g.files[0] = FileInfoCache{};
    g.files[1] = FileInfoCache{};
    const aud_error e = conmon_client_new(env, "dfa_conmon_client", &g.client);
    if (e != AUD_SUCCESS) {
        char text[AUD_STRERROR_SIZE];
        dfa_print("[CONMON][ERROR]conmon client new: %s\n", errorText(e, text));
        return dfa_library_error(e);
    }
    conmon_client_set_request_slots(g.client, 24);
    conmon_client_set_sockets_changed_callback(g.client, &onSocketsChanged);
    conmon_client_set_networks_changed_callback(g.client, &onNetworksChanged);
    conmon_client_set_subscriptions_changed_callback(g.client, &onSubscriptionsChanged);
    conmon_client_set_device_name_changed_callback(g.client, &onDeviceNameChanged);
    g.devices.clear();
    g.pendingSlots.clear();
    return DFA_OK;
}

void dfa_conmon_glue_term(void*)
{
    stopAll();
    // The task list may already be gone: forget what it held.
    g.queries.clear();
    g.pendingSlots.clear();
    conmon_client_free(g.client);
    g.client = nullptr;
    g.absent = false;
}

DfaStatus dfa_conmon_init_start(void*)
{
    if (g.client == nullptr)
        return dfa_reason(DFA_REASON_NOT_READY);
    if (g.absent)
        return dfa_reason(DFA_REASON_SERVICE);
    stopAll();
    g.pendingSlots.push_back(&g_init.local);
    g.pendingSlots.push_back(&g_init.subscribe);
    g.initTask = dfa_task_create(&initStep, &initCleanup, DFA_KEY_CONMON_INIT, "dfa_conmon_init");
    g.watchTask = dfa_task_create(&watchDevices, &watchCleanup, DFA_KEY_CONMON_WATCH, "dfa_conmon_watch_device");
    if (g.initTask == nullptr || g.watchTask == nullptr)
        return dfa_reason(DFA_REASON_NO_MEMORY);
    g.started = true;
    return DFA_OK;
}

bool dfa_conmon_init_started(void*)
{
    return g.started;
}

bool dfa_conmon_init_finished(void*)
{
    return g.finished;
}

bool dfa_conmon_absent()
{
    return g.absent;
}

size_t dfa_conmon_interface_indexes(void*, uint32_t* indexes, size_t capacity)
{
    if (g.client == nullptr)
        return 0;
    const conmon_interfaces* ifs = conmon_client_get_interfaces(g.client);
    if (ifs == nullptr)
        return 0;
    size_t n = 0;
    for (size_t i = 0; i < ifs->count && n < capacity && n < 2; ++i)
        indexes[n++] = ifs->entries[i].words[CONMON_WORD_INDEX];
    return n;
}

bool dfa_conmon_is_local(const conmon_instance_id* id)
{
    if (g.client == nullptr || id == nullptr)
        return false;
    const conmon_instance_id* own = conmon_client_get_local_id(g.client);
    if (own == nullptr || dfa_dntchk_id_zero(own->device_id.data))
        return false;
    return std::memcmp(own->device_id.data, id->device_id.data, CONMON_ID64_SIZE) == 0
        && own->process_id == id->process_id;
}
