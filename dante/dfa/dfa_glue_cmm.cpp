// The agent's use of the configuration-manager client: keeps it connected,
// knows the Dante interface, changes and locks it, and reports changes.
//
// The process locale is left alone: setting it is process-wide and racy,
// and every text here is UTF-8 anyway. When the manager goes away
// (connection state 0) the interface is no longer known: the agent says so
// once (DFA_CBACK_INF_GET_IF, req_id 0, DFA_ERR_DAPI_OTHER, zeroed record)
// and requests that need it answer DFA_ERR_PROGRESS.
#include "dante/cmm/cmm_client.h"
#include "dante/dfa/dfa_glue_parts.h"
#include "dante/dfa/dfa_main.h"
#include "dante/dfa/dfa_task.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr int kConnectSeconds = 5;
constexpr int kSetIfSeconds = 5;

// The steps of "dfa_cmm_init": connect; find the current interface among
// the listed ones, or ask for the first; await that change.
enum class CmmInitStep { Connect, FindInterface, AwaitChange };

struct CmmGlue {
    cmm_client* client = nullptr;
    DfaInterface current{};
    bool known = false;
    uint16_t status = 0;
    bool pendingConfig = false;
    bool locked = false;
    uint16_t setReqId = 0;
    DfaInterface requested{};
    aud_time requestTime{};
    std::vector<DfaInterface> list;
    aud_time next{};
    DfaTask* initTask = nullptr;
    CmmInitStep initStep = CmmInitStep::Connect;
    bool connecting = false;
    aud_time connectTime{};
};

CmmGlue cmmGlue;

DfaInterface fromEntry(const cmm_interface* entry)
{
    DfaInterface out{};
    std::memcpy(out.name, entry->name, sizeof out.name);
    std::memcpy(out.mac, entry->mac, sizeof out.mac);
    return out;
}

bool sameName(const DfaInterface& a, const DfaInterface& b)
{
    return std::memcmp(a.name, b.name, sizeof a.name) == 0;
}

bool sameInterface(const DfaInterface& a, const DfaInterface& b)
{
    return sameName(a, b) && std::memcmp(a.mac, b.mac, sizeof a.mac) == 0;
}

DfaStatus readCurrent(DfaInterface* out)
{
    if (cmmGlue.client == nullptr || cmm_client_system_state(cmmGlue.client) == nullptr)
        return dfa_reason(DFA_REASON_LIBRARY);
    const cmm_interface_set* set = cmm_client_current_config(cmmGlue.client);
    const cmm_interface* entry = set != nullptr ? cmm_interface_set_entry(set, 0) : nullptr;
    if (entry == nullptr)
        return dfa_reason(DFA_REASON_LIBRARY);
    *out = fromEntry(entry);
    return DFA_OK;
}

// A change answers with "[ERROR]" on a failed callback, the time-out
// without: the operator's log has always read that way.
void answer(DfaResult code, DfaCallbackKind kind, uint16_t reqId, const DfaInterface& record,
    const char* failed = "[CMM   ][ERROR]callback failed\n")
{
    if (dfa_main_callback(code, kind, reqId, &record, sizeof record) != DFA_OK)
        dfa_print(failed);
}

// Sends a configuration with this one interface.
DfaStatus sendInterface(const DfaInterface& interface)
{
    cmm_client_interface_set_clear(cmmGlue.client);
    if (const aud_error e = cmm_client_interface_set_add_mac(cmmGlue.client, interface.mac); e != AUD_SUCCESS) {
        char text[AUD_STRERROR_SIZE];
        dfa_print("[CMM   ][ERROR] cmm config add iface: %s\n", aud_strerror(e, text));
        return dfa_library_error(e);
    }
    cmm_system_config config{};
    config.mask = CMM_CONFIG_INTERFACES;
    config.interfaces = *cmm_client_interface_set(cmmGlue.client);
    if (const aud_error e = cmm_client_set_system_config(cmmGlue.client, &config); e != AUD_SUCCESS) {
        char text[AUD_STRERROR_SIZE];
        dfa_print("[CMM   ][ERROR] cmm sending config: %s\n", aud_strerror(e, text));
        return dfa_library_error(e);
    }
    return DFA_OK;
}

int watchSetIf(DfaTask* task)
{
    if (cmmGlue.setReqId != 0 && dfa_since(cmmGlue.requestTime) < kSetIfSeconds)
        return 0;
    if (cmmGlue.setReqId != 0) {
        dfa_print("[CMM   ]callback DFA_CBACK_INF_SET_IF, req_id=0x%04X, TIMEOUT\n", cmmGlue.setReqId);
        answer(DFA_ERR_TIMEOUT, DFA_CBACK_INF_SET_IF, cmmGlue.setReqId, cmmGlue.requested, "[CMM   ]callback failed\n");
    }
    dfa_task_delete(task);
    return 0;
}

void onStateChanged()
{
    const cmm_system_state* state = cmm_client_system_state(cmmGlue.client);
    if (state == nullptr)
        return;
    cmmGlue.status = state->status;
    cmmGlue.pendingConfig = state->status == CMM_STATUS_CHANGING;
    // Any holder counts, the agent included: its own upgrade's lock keeps
    // the interface where the modules fetch their files from.
    cmmGlue.locked = false;
    for (unsigned i = 0; i < cmm_system_state_process_count(state); ++i) {
        if (cmm_system_state_process(state, i)->lock != 0)
            cmmGlue.locked = true;
    }
    // Only a settled change counts: one first seen while "Changing" is
    // compared again once the status is 1.
    if (!cmmGlue.known || cmmGlue.status != CMM_STATUS_READY)
        return;
    DfaInterface current{};
    if (readCurrent(&current) != DFA_OK || sameInterface(current, cmmGlue.current))
        return;
    cmmGlue.current = current;
    if (cmmGlue.setReqId != 0 && sameInterface(current, cmmGlue.requested)) {
        dfa_print("[CMM   ]callback DFA_CBACK_INF_SET_IF, req_id=0x%04X, \"%ls\"\n", cmmGlue.setReqId, current.name);
        answer(DFA_ERR_NOERR, DFA_CBACK_INF_SET_IF, cmmGlue.setReqId, current);
        cmmGlue.setReqId = 0;
    } else {
        // Unsolicited, or a change to another interface than the one asked
        // for: either way the client must hear of it. The line keeps the
        // form of a requested change, with req_id 0.
        dfa_print("[CMM   ]callback DFA_CBACK_INF_SET_IF, req_id=0x%04X, \"%ls\"\n", 0u, current.name);
        answer(DFA_ERR_NOERR, DFA_CBACK_INF_GET_IF, 0, current);
    }
    dfa_conmon_init_start(nullptr);
    dfa_main_post_check_initialized(0);
}

void onManagerGone()
{
    const bool wasKnown = cmmGlue.known;
    cmmGlue.known = false;
    cmmGlue.current = DfaInterface{};
    cmmGlue.locked = false;
    if (wasKnown)
        answer(DFA_ERR_DAPI_OTHER, DFA_CBACK_INF_GET_IF, 0, DfaInterface{});
}

// ---- diagnostics of an event

void printInterfaces(const cmm_interface* entries, unsigned count)
{
    for (unsigned i = 0; i < count; ++i) {
        char16_t name[CMM_INTERFACE_NAME_UNITS + 1] = {};
        std::memcpy(name, entries[i].name, sizeof entries[i].name);
        const uint8_t* m = entries[i].mac;
        dfa_print("[CMM   ]  %ls(%02x:%02x:%02x:%02x:%02x:%02x)\n", name, m[0], m[1], m[2], m[3], m[4], m[5]);
    }
}

void printProcess(const cmm_process& p)
{
    char name[CMM_PROCESS_NAME_SIZE + 1] = {};
    std::memcpy(name, p.name, sizeof p.name);
    dfa_print("[CMM   ]  %s: %d (%s)\n", name, static_cast<int>(p.process_id), p.lock != 0 ? "true" : "false");
}

void printConnection(const cmm_client* client)
{
    const unsigned state = cmm_client_connection_state(client);
    static const char* const kStates[] = {"INITIALISED", "CONNECTING", "CONNECTED"};
    dfa_print("[CMM   ]Client connection state is now %s\n", state <= 2 ? kStates[state] : "?");
    const cmm_server_info* info = cmm_client_server_info(client);
    if (state != CMM_CONNECTION_CONNECTED || info == nullptr)
        return;
    dfa_print("[CMM   ]Info is:\n");
    dfa_print("[CMM   ]Version: %u.%u.%u\n", info->major, info->minor, info->build);
    dfa_print("[CMM   ]Max Dante Networks: %u\n", info->max_networks);
}

void printState(const cmm_system_state& state)
{
    char device[CMM_DEVICE_NAME_SIZE + 1] = {};
    std::memcpy(device, state.device_name, sizeof state.device_name);
    dfa_print("[CMM   ]State has changed, now:\n");
    dfa_print("[CMM   ]System status: %s (%04x)\n", cmm_system_status_name(state.status), state.status);
    dfa_print("[CMM   ]Dante device name: %s\n", device);
    dfa_print("[CMM   ]Current config:\n");
    printInterfaces(state.current.entries, std::min<unsigned>(state.current.count, CMM_INTERFACE_SET_MAX));
    dfa_print("[CMM   ]Pending config:\n");
    printInterfaces(state.pending.entries, std::min<unsigned>(state.pending.count, CMM_INTERFACE_SET_MAX));
    dfa_print("[CMM   ]Processes:\n");
    for (unsigned i = 0; i < cmm_system_state_process_count(&state); ++i)
        printProcess(*cmm_system_state_process(&state, i));
}

void printEvent(const cmm_client* client, uint32_t changes)
{
    if ((changes & CMM_CHANGE_CONNECTION) != 0)
        printConnection(client);
    if (const cmm_options* options = cmm_client_options(client);
        (changes & CMM_CHANGE_OPTIONS) != 0 && options != nullptr) {
        dfa_print("[CMM   ]Options have changed, now:\n");
        dfa_print("[CMM   ]Interfaces:\n");
        printInterfaces(options->entries, std::min<unsigned>(options->count, CMM_OPTIONS_MAX));
    }
    if (const cmm_system_state* state = cmm_client_system_state(client);
        (changes & CMM_CHANGE_STATE) != 0 && state != nullptr)
        printState(*state);
    if (const cmm_process* own = cmm_client_process_entry(client); (changes & CMM_CHANGE_LOCK) != 0 && own != nullptr) {
        dfa_print("[CMM   ]Process has changed, now:\n");
        printProcess(*own);
    }
    if ((changes & CMM_CHANGE_REQUEST_COMPLETED) != 0)
        dfa_print("[CMM   ]Request completed\n");
}

void onEvent(cmm_client* client, uint32_t changes, aud_error)
{
    dfa_print("[CMM   ]Got an event, flags=0x%08x\n", changes);
    if ((changes & CMM_CHANGE_STATE) != 0)
        onStateChanged();
    printEvent(client, changes);
    if ((changes & CMM_CHANGE_CONNECTION) != 0 && cmm_client_connection_state(client) == CMM_CONNECTION_DISCONNECTED)
        onManagerGone();
}

void processExtra(void*, const aud_fdset* set)
{
    if (cmmGlue.client == nullptr)
        return;
    const aud_socket s = cmm_client_socket(cmmGlue.client);
    if (!aud_fdset_is_ready(set, s)) {
        const aud_time n = dfa_now();
        if ((cmmGlue.next.seconds == 0 && cmmGlue.next.microseconds == 0) || aud_time_cmp(&n, &cmmGlue.next) < 0)
            return;
    }
    cmmGlue.next = aud_time{};
    cmm_client_process(cmmGlue.client, &cmmGlue.next);
}

bool listed(const DfaInterface& interface)
{
    const cmm_options* options = cmm_client_options(cmmGlue.client);
    return options != nullptr && cmm_options_find_mac(options, interface.mac) != nullptr;
}

int cmmInitTask(DfaTask* task)
{
    if (cmmGlue.initStep == CmmInitStep::Connect) {
        if (cmm_client_request_pending(cmmGlue.client) && !cmmGlue.connecting)
            return 0;
        if (!cmmGlue.connecting) {
            if (const aud_error e = cmm_client_connect(cmmGlue.client); e != AUD_SUCCESS) {
                char text[AUD_STRERROR_SIZE];
                dfa_print("[CMM   ][ERROR] cmm_client_connect: %s\n", aud_strerror(e, text));
                return 0;
            }
            dfa_main_set_extra_socket(cmm_client_socket(cmmGlue.client), &processExtra, nullptr);
            cmmGlue.connectTime = dfa_now();
            cmmGlue.connecting = true;
            return 0;
        }
        if (cmm_client_connection_state(cmmGlue.client) == CMM_CONNECTION_CONNECTED) {
            cmmGlue.initStep = CmmInitStep::FindInterface;
        } else if (dfa_since(cmmGlue.connectTime) > kConnectSeconds) {
            dfa_print("[CMM   ][ERROR]retry cmm client connect\n");
            cmm_client_disconnect(cmmGlue.client);
            cmmGlue.connecting = false;
            dfa_main_set_extra_socket(AUD_SOCKET_INVALID, nullptr, nullptr);
        }
        return 0;
    }
    if (cmmGlue.initStep == CmmInitStep::FindInterface) {
        const cmm_options* options = cmm_client_options(cmmGlue.client);
        if (options == nullptr || cmm_client_system_state(cmmGlue.client) == nullptr)
            return 0;
        DfaInterface current{};
        if (readCurrent(&current) == DFA_OK && listed(current)) {
            cmmGlue.current = current;
            cmmGlue.known = true;
            dfa_task_delete(task);
            return 0;
        }
        if (options->count == 0)
            return 0;
        // The first listed interface, sent without the checks of a client's
        // request: they would refuse while no interface is known.
        const DfaInterface first = fromEntry(&options->entries[0]);
        if (sendInterface(first) == DFA_OK) {
            dfa_print("[CMM   ]Request iface change to \"%ls\"\n", first.name);
            cmmGlue.initStep = CmmInitStep::AwaitChange;
        }
        return 0;
    }
    if (cmmGlue.pendingConfig || cmm_client_request_pending(cmmGlue.client))
        return 0;
    DfaInterface current{};
    if (readCurrent(&current) != DFA_OK)
        return 0;
    cmmGlue.current = current;
    cmmGlue.known = true;
    dfa_task_delete(task);
    return 0;
}

void cmmInitCleanup(DfaTask*)
{
    cmmGlue.initTask = nullptr;
}

} // namespace

DfaStatus dfa_cmm_glue_init(void*, aud_env* env)
{
    if (env == nullptr)
        return dfa_reason(DFA_REASON_MISSING);
    cmmGlue = CmmGlue{};
    if (cmm_client_new(env, &cmmGlue.client) != AUD_SUCCESS || cmmGlue.client == nullptr)
        return dfa_reason(DFA_REASON_LIBRARY);
    if (const aud_error e = cmm_client_init(cmmGlue.client, "fua"); e != AUD_SUCCESS) {
        cmm_client_free(cmmGlue.client);
        cmmGlue.client = nullptr;
        return dfa_library_error(e);
    }
    cmm_client_set_context(cmmGlue.client, nullptr);
    cmm_client_set_event_callback(cmmGlue.client, &onEvent);
    return DFA_OK;
}

void dfa_cmm_glue_term(void*)
{
    dfa_main_set_extra_socket(AUD_SOCKET_INVALID, nullptr, nullptr);
    cmm_client_free(cmmGlue.client);
    cmmGlue = CmmGlue{};
}

DfaStatus dfa_cmm_glue_start(void*)
{
    if (cmmGlue.client == nullptr) {
        dfa_print("[CMM   ][ERROR]start cmm_client initalize failed\n");
        return dfa_reason(DFA_REASON_NOT_READY);
    }
    cmmGlue.initTask = dfa_task_create(&cmmInitTask, &cmmInitCleanup, DFA_KEY_CMM_INIT, "dfa_cmm_init");
    return cmmGlue.initTask != nullptr ? DFA_OK : dfa_reason(DFA_REASON_NO_MEMORY);
}

bool dfa_cmm_interface_known(void*)
{
    return cmmGlue.known;
}

DfaStatus dfa_cmm_current_interface(void*, DfaInterface* out)
{
    if (!cmmGlue.known)
        return dfa_reason(DFA_REASON_NOT_READY);
    *out = cmmGlue.current;
    return DFA_OK;
}

DfaStatus dfa_cmm_get_interface(void*, DfaInterface* out)
{
    if (cmmGlue.client == nullptr || !cmmGlue.known)
        return dfa_reason(DFA_REASON_NOT_READY);
    return readCurrent(out);
}

DfaStatus dfa_cmm_if_list(void*, DfaInterfaceList* out)
{
    if (cmmGlue.client == nullptr || !cmmGlue.known)
        return dfa_reason(DFA_REASON_NOT_READY);
    const cmm_options* options = cmm_client_options(cmmGlue.client);
    if (options == nullptr || options->count == 0)
        return dfa_reason(DFA_REASON_LIBRARY);
    // Replaced at the next request: the receiver copies it in its callback.
    cmmGlue.list.clear();
    for (unsigned i = 0; i < options->count && i < CMM_OPTIONS_MAX; ++i)
        cmmGlue.list.push_back(fromEntry(&options->entries[i]));
    out->count = static_cast<uint32_t>(cmmGlue.list.size());
    out->interfaces = cmmGlue.list.data();
    return DFA_OK;
}

DfaStatus dfa_cmm_set_interface(void*, const DfaInterface* interface, uint16_t req_id)
{
    if (cmmGlue.client == nullptr || !cmmGlue.known)
        return dfa_reason(DFA_REASON_NOT_READY);
    DfaInterface current{};
    if (const DfaStatus r = readCurrent(&current); r != DFA_OK)
        return r;
    if (sameName(*interface, current))
        return dfa_reason(DFA_REASON_RANGE);
    if (cmmGlue.pendingConfig || cmm_client_request_pending(cmmGlue.client))
        return dfa_reason(DFA_REASON_BUSY);
    if (cmmGlue.locked)
        return dfa_reason(DFA_REASON_LOCKED);
    const cmm_options* options = cmm_client_options(cmmGlue.client);
    if (options == nullptr)
        return dfa_reason(DFA_REASON_LIBRARY);
    char16_t name[DFA_IF_NAME_CHARS + 1] = {};
    std::memcpy(name, interface->name, sizeof interface->name);
    const cmm_interface* entry = cmm_options_find_name(options, name);
    if (entry == nullptr)
        return dfa_reason(DFA_REASON_NOT_FOUND);
    const DfaInterface requested = fromEntry(entry);
    if (const DfaStatus r = sendInterface(requested); r != DFA_OK)
        return r;
    dfa_print("[CMM   ]Request iface change to \"%ls\"\n", requested.name);
    cmmGlue.setReqId = req_id;
    cmmGlue.requested = requested;
    cmmGlue.requestTime = dfa_now();
    if (dfa_task_create(&watchSetIf, nullptr, DFA_KEY_CMM_WATCH, "dfa_cmm_watch") == nullptr)
        return dfa_reason(DFA_REASON_NO_MEMORY);
    return DFA_OK;
}

DfaStatus dfa_cmm_lock(bool lock)
{
    if (cmmGlue.client == nullptr || !cmmGlue.known)
        return dfa_reason(DFA_REASON_NOT_READY);
    if (cmmGlue.pendingConfig || cmm_client_request_pending(cmmGlue.client))
        return dfa_reason(DFA_REASON_BUSY);
    const cmm_process* own = cmm_client_process_entry(cmmGlue.client);
    const cmm_system_state* state = cmm_client_system_state(cmmGlue.client);
    const cmm_process* entry
        = own != nullptr && state != nullptr ? cmm_system_state_find_process(state, own->process_id) : nullptr;
    if (entry == nullptr)
        return dfa_reason(DFA_REASON_LIBRARY);
    if ((entry->lock != 0) == lock)
        return 1;
    cmm_system_config config{};
    config.mask = CMM_CONFIG_LOCK;
    config.lock = lock;
    if (const aud_error e = cmm_client_set_system_config(cmmGlue.client, &config); e != AUD_SUCCESS) {
        char text[AUD_STRERROR_SIZE];
        dfa_print("[CMM   ][ERROR] cmm sending config: %s\n", aud_strerror(e, text));
        return dfa_library_error(e);
    }
    dfa_print("[CMM   ]Request iface %s\n", lock ? "LOCK" : "UNLOCK");
    return DFA_OK;
}
