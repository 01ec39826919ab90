// The agent's use of the control-and-monitoring client: connect and
// register, keep the list of Dante devices, query each new one, send
// upgrade and reboot requests and follow the upgrades.
//
// Decisions: a device keeps its first 2 interfaces (the reader keeps 4);
// the .dnt slot of a device is the one whose module model id equals the
// device's on all 8 bytes (an all-zero slot matches none); control
// messages from other devices are logged and dropped; partition-corruption
// lines print only when the status bits were read. When the service goes
// away the agent forgets every device and answers DFA_ERR_CONMON_ABSENT
// from then on: the client never reconnects, and nothing stale is shown.
#include "dante/conmon/conmon_client.h"
#include "dante/conmon/conmon_payload.h"
#include "dante/dfa/dfa_dntchk.h"
#include "dante/dfa/dfa_glue_parts.h"
#include "dante/dfa/dfa_holder.h"
#include "dante/dfa/dfa_main.h"
#include "dante/dfa/dfa_service.h"
#include "dante/dfa/dfa_task.h"
#include "dante/support/aud_string.h"
#include "dante/support/aud_text.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr uint8_t kGotVersions = 0x01;
constexpr uint8_t kGotInterfaces = 0x02;
constexpr uint8_t kGotManf = 0x04;
constexpr uint8_t kGotAll = 0x07;
constexpr size_t kKeptInterfaces = 2;
constexpr int kQueryStepSeconds = 2;
constexpr int kQueryTimeoutSeconds = 10;
constexpr int kProbeSeconds = 5;
constexpr uint16_t kUpgradeNone = 0;
constexpr uint16_t kUpgradeGetFile = 1;
constexpr uint16_t kUpgradeEndFail = 3;
constexpr uint16_t kUpgradeFlash = 4;
constexpr uint16_t kUpgradeV3 = 0x0300;

enum DeviceState : uint8_t { kNew = 0, kQuerying, kReady, kUpgradeRequested, kUpgrading, kRebooting, kQueryFailed };

struct Device {
    char name[DFA_DEVICE_NAME_SIZE + 1] = {};
    conmon_module_info versions{};
    conmon_device_info manf{};
    conmon_iftable interfaces{};
    uint8_t received = 0;
    uint8_t assumed = 0;
    bool upgradeReceived = false;
    conmon_upgrade_progress upgrade{};
    uint8_t state = kNew;
    uint8_t retries = 0;
    uint16_t reqIds[2] = {};
    DfaUpgradeRequest request{};
};

struct Query {
    DfaTask* task = nullptr;
    char name[DFA_DEVICE_NAME_SIZE + 1] = {};
    conmon_client_request* pending = nullptr;
    int step = 0;
    aud_time stepTime{};
    aud_time start{};
    uint16_t reqId = 0;
};

// The .dnt check of a file, kept while its path, size and modification time
// stay the same: a query must not re-read up to 24 MiB on the agent's task.
struct FileInfoCache {
    char16_t path[DNT_PATH_CHARS] = {};
    off_t size = -1;
    struct timespec mtime { };
    DfaResult code = DFA_ERR_DNT_NOT_FOUND;
    DntFileInfo info{};
};

struct ConmonGlue {
    conmon_client* client = nullptr;
    bool started = false;
    bool finished = false;
    bool absent = false;
    bool ready = false;
    bool socketsChanged = false;
    // The PC's Dante device name, as the service last gave it.
    char pcName[DFA_DEVICE_NAME_SIZE + 1] = {};
    std::vector<std::unique_ptr<Device>> devices;
    std::vector<Query*> queries;
    std::vector<conmon_client_request**> pendingSlots;
    DfaTask* initTask = nullptr;
    DfaTask* watchTask = nullptr;
    aud_time lastProbe{};
    FileInfoCache files[DFA_DNT_SLOTS];
    bool keepFiles = true;
};

ConmonGlue g;

// ---- small helpers

const char* errorText(aud_error e, char (&text)[AUD_STRERROR_SIZE])
{
    return aud_strerror(e, text);
}

Device* findDevice(const char* name)
{
    for (auto& d : g.devices) {
        if (std::strncmp(d->name, name, DFA_DEVICE_NAME_SIZE) == 0)
            return d.get();
    }
    return nullptr;
}

DfaStatus setState(Device* d, uint8_t state)
{
    switch (state) {
    case kNew:
    case kQuerying:
        d->received = 0;
        d->assumed = 0;
        break;
    case kReady:
    case kQueryFailed:
        d->retries = 0;
        break;
    case kUpgradeRequested:
    case kUpgrading:
    case kRebooting:
        break;
    default:
        return dfa_reason(DFA_REASON_RANGE);
    }
    d->state = state;
    return DFA_OK;
}

bool anyUpgrading()
{
    return std::any_of(g.devices.begin(), g.devices.end(),
        [](const auto& d) { return d->state == kUpgradeRequested || d->state == kUpgrading; });
}

void unlockWhenIdle()
{
    if (!anyUpgrading())
        dfa_cmm_lock(false);
}

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

// ---- queries

void queryCleanup(DfaTask* task)
{
    Query* q = *reinterpret_cast<Query**>(dfa_task_param(task));
    cancel(&q->pending);
    dropPendingSlot(&q->pending);
    g.queries.erase(std::remove(g.queries.begin(), g.queries.end(), q), g.queries.end());
    delete q;
}

DfaStatus sendControl(const char* name, uint16_t type, conmon_client_request** pending)
{
    conmon_payload p{};
    if (const aud_error e = conmon_payload_query(&p, type, 0); e != AUD_SUCCESS)
        return dfa_reason(DFA_REASON_QUERY_KIND);
    const aud_error e = conmon_client_send_control_message(
        g.client, &onRequestDone, pending, name, type, nullptr, p.data, p.length, nullptr);
    if (e != AUD_SUCCESS) {
        char text[AUD_STRERROR_SIZE];
        dfa_print("[CONMON][ERROR]conmon_client_send_control_message: %s\n", errorText(e, text));
        return dfa_library_error(e);
    }
    return DFA_OK;
}

void deviceInfo(const Device& d, DfaDeviceInfo* out);

int queryStep(DfaTask* task)
{
    Query* q = *reinterpret_cast<Query**>(dfa_task_param(task));
    Device* d = findDevice(q->name);
    if (d == nullptr) {
        dfa_task_delete(task);
        return 0;
    }
    static const uint16_t kTypes[3]
        = {CONMON_CTL_VERSIONS_QUERY, CONMON_CTL_INTERFACE_QUERY, CONMON_CTL_MANF_VERSIONS_QUERY};
    static const uint8_t kBits[3] = {kGotVersions, kGotInterfaces, kGotManf};
    if (q->step >= 1 && q->step <= 6) {
        const int i = (q->step - 1) / 2;
        if ((q->step & 1) != 0) {
            if (sendControl(q->name, kTypes[i], &q->pending) == DFA_OK) {
                q->stepTime = dfa_now();
                q->step++;
            }
            return 0;
        }
        if (((d->received | d->assumed) & kBits[i]) != 0) {
            q->step++;
        } else if (dfa_since(q->stepTime) > kQueryStepSeconds) {
            cancel(&q->pending);
            q->step--;
        }
        return 0;
    }
    if (q->step == 0) {
        g.pendingSlots.push_back(&q->pending);
        q->start = dfa_now();
        q->step = 1;
        return 0;
    }
    setState(d, kReady);
    dfa_print("[CONMON]callback DFA_CBACK_INF_DEVICE, req_id=0x%04x, %s\n", q->reqId, d->name);
    DfaDeviceInfo info{};
    deviceInfo(*d, &info);
    if (dfa_main_callback(DFA_ERR_NOERR, DFA_CBACK_INF_DEVICE, q->reqId, &info, sizeof info) != DFA_OK)
        dfa_print("[CONMON]callback failed\n");
    dfa_task_delete(task);
    return 0;
}

DfaStatus startQuery(const char* name, uint16_t reqId)
{
    Device* d = findDevice(name);
    if (d == nullptr)
        return dfa_reason(DFA_REASON_NOT_FOUND);
    auto* q = new Query;
    std::memcpy(q->name, d->name, sizeof q->name);
    q->reqId = reqId;
    q->start = dfa_now();
    DfaTask* task = dfa_task_create(&queryStep, &queryCleanup, DFA_KEY_CONMON_QUERY, "dfa_conmon_query");
    if (task == nullptr) {
        delete q;
        return dfa_reason(DFA_REASON_NO_MEMORY);
    }
    std::memcpy(dfa_task_param(task), &q, sizeof q);
    q->task = task;
    g.queries.push_back(q);
    setState(d, kQuerying);
    return DFA_OK;
}

void stopQueries()
{
    // The clean-up takes each out of the list.
    while (!g.queries.empty())
        dfa_task_delete(g.queries.back()->task);
}

// ---- the .dnt file of a device

int slotOf(const Device& d)
{
    const uint8_t* model = d.versions.model_id.data;
    if (dfa_dntchk_id_zero(model))
        return -1;
    for (uint8_t slot = 0; slot < DFA_DNT_SLOTS; ++slot) {
        uint8_t id[DFA_MODEL_ID_SIZE] = {};
        if (dfa_holder_get_model_id(slot, id) == DFA_OK && !dfa_dntchk_id_zero(id) && dfa_dntchk_id_equal(id, model))
            return slot;
    }
    return -1;
}

const FileInfoCache& checkedFile(int slot, const char16_t* path)
{
    FileInfoCache& c = g.files[slot];
    char utf8[4 * DNT_PATH_CHARS];
    aud_wcs_to_mbs(utf8, path, sizeof utf8);
    struct stat st { };
    const bool known = ::stat(utf8, &st) == 0;
    if (known && g.keepFiles && c.size == st.st_size && c.mtime.tv_sec == st.st_mtim.tv_sec
        && c.mtime.tv_nsec == st.st_mtim.tv_nsec
        && std::char_traits<char16_t>::compare(c.path, path, DNT_PATH_CHARS) == 0)
        return c;
    c = FileInfoCache{};
    aud_wcslcpy(c.path, path, DNT_PATH_CHARS);
    std::memcpy(c.info.path, c.path, sizeof c.path);
    c.code = dfa_dntchk_dntfile(c.path, &c.info);
    if (known) {
        c.size = st.st_size;
        c.mtime = st.st_mtim;
    }
    return c;
}

void copyVersion(const conmon_version& v, DfaVersion* out)
{
    *out = DfaVersion{v.major, v.minor, v.bugfix, v.build};
}

void deviceInfo(const Device& d, DfaDeviceInfo* out)
{
    std::memcpy(out->name, d.name, DFA_DEVICE_NAME_SIZE);
    std::memcpy(out->module_model_id, d.versions.model_id.data, DFA_MODEL_ID_SIZE);
    copyVersion(d.versions.software_version, &out->dante_sw_version);
    copyVersion(d.versions.firmware_version, &out->dante_fw_version);
    if ((d.received & kGotManf) != 0) {
        std::memcpy(out->manf_id, d.manf.manufacturer_id.data, DFA_MODEL_ID_SIZE);
        std::memcpy(out->manf_model_id, d.manf.model_id.data, DFA_MODEL_ID_SIZE);
        std::memcpy(out->manf_model_name, d.manf.model_name, sizeof out->manf_model_name);
        copyVersion(d.manf.firmware_version, &out->manf_fw_version);
        copyVersion(d.manf.software_version, &out->manf_sw_version);
    }
    DfaOverride override{};
    if (dfa_holder_get_override(&override) != DFA_OK)
        dfa_print("[CONMON]dfa_holder_get_override failed\n");
    DntFileInfo none{};
    const DntFileInfo* info = &none;
    char16_t path[DNT_PATH_CHARS] = {};
    const int slot = slotOf(d);
    if (slot < 0 || dfa_holder_get_dnt_path(path, DNT_PATH_CHARS, static_cast<uint8_t>(slot)) != DFA_OK) {
        dfa_print("[CONMON]dfa_holder_get_dnt_path failed\n");
    } else {
        const FileInfoCache& file = checkedFile(slot, path);
        if (file.code != DFA_ERR_NOERR)
            dfa_print("[CONMON]dfa_dntchk_dntfile failed, %d, %s\n", file.code, dfa_error_name(file.code));
        else
            info = &file.info;
    }
    if (const DfaResult r = dfa_dntchk_devinfo(&override, info, out); dfa_failed(r))
        dfa_print("[CONMON][ERROR]dfa_dntchk_devinfo failed, %d, %s\n", r, dfa_error_name(r));
}

// ---- upgrades

// ">> <label>= " with the id as 16 hex digits and its 8 bytes as text.
void printId(const char* label, const conmon_id64& id)
{
    char text[CONMON_ID64_SIZE + 1] = {};
    for (size_t i = 0; i < CONMON_ID64_SIZE; ++i)
        text[i] = id.data[i] >= 0x20 && id.data[i] < 0x7F ? static_cast<char>(id.data[i]) : '.';
    const uint8_t* b = id.data;
    dfa_print(
        ">> %s= %02x%02x%02x%02x%02x%02x%02x%02x '%s'\n", label, b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], text);
}

void printDump(const conmon_upgrade_progress& u, const uint8_t* payload, size_t length)
{
    static const char* const kNames[] = {"None", "Get-file", "End-Done", "End-Fail", "Flash-write"};
    dfa_print(">> upgrade state = %u (%s)\n>> last error    = %u\n>> progress      = %u of %u\n", u.state,
        u.state <= 4 ? kNames[u.state] : "???", u.last_error, u.progress, u.total);
    printId("manufacturer  ", u.manufacturer_id);
    printId("model         ", u.model_id);
    conmon_file_location loc{};
    if (conmon_read_upgrade_status(payload, length, &loc) != AUD_SUCCESS)
        return;
    const uint8_t* a = reinterpret_cast<const uint8_t*>(&loc.address);
    const char* path = loc.path != nullptr ? loc.path : "<null>";
    if (loc.protocol == CONMON_LOCATION_LOCAL_FILE)
        dfa_print(">>> Local file: %s\n", path);
    else if (loc.protocol == CONMON_LOCATION_TFTP)
        dfa_print(">>> tftp://%u.%u.%u.%u:%u/%s\n", a[0], a[1], a[2], a[3], loc.port, path);
    else
        dfa_print(">>> <unknown %u>://%u.%u.%u.%u:%u/%s\n", loc.protocol, a[0], a[1], a[2], a[3], loc.port, path);
    if (loc.file_length != 0)
        dfa_print(">>> File len = %u bytes\n", loc.file_length);
}

void onUpgradeStatus(Device* d, const uint8_t* payload, size_t length)
{
    if (d->state == kUpgradeRequested) {
        if (dfa_main_callback(DFA_ERR_NOERR, DFA_CBACK_INF_START_UPDATE, d->reqIds[0], &d->request, sizeof d->request)
            != DFA_OK)
            dfa_print("[CONMON][ERROR]callback failed\n");
        setState(d, kUpgrading);
        d->reqIds[0] = 0;
        d->request = DfaUpgradeRequest{};
    }
    if (d->state != kUpgrading)
        return;
    conmon_upgrade_progress u{};
    if (conmon_read_upgrade_progress(payload, length, &u) != AUD_SUCCESS) {
        dfa_print(">> invalid status message\n");
        return;
    }
    d->upgrade = u;
    d->upgradeReceived = true;
    if (u.state == kUpgradeNone || u.state > kUpgradeFlash)
        return;
    DfaUpgradeStatus record{};
    std::memcpy(record.name, d->name, DFA_DEVICE_NAME_SIZE);
    record.phase = u.state == kUpgradeGetFile ? DFA_PHASE_DOWNLOAD
        : u.state == kUpgradeFlash            ? DFA_PHASE_FLASH
                                              : DFA_PHASE_FINISH;
    record.percent = dfa_conmon_percent(u.progress, u.total);
    const DfaResult code = dfa_conmon_upgrade_code(u.state, u.last_error);
    static const char* const kPhases[] = {"Download", "Flash", "Finish"};
    dfa_print("[CONMON]callback DFA_CBACK_INF_UPDATE_STATUS : %s, %s, %u%%, %s\n", d->name, kPhases[record.phase],
        record.percent, dfa_error_name(code));
    if (dfa_main_callback(code, DFA_CBACK_INF_UPDATE_STATUS, 0, &record, sizeof record) != DFA_OK)
        dfa_print("[CONMON][ERROR]callback failed\n");
    if (record.phase == DFA_PHASE_FINISH) {
        setState(d, kReady);
        unlockWhenIdle();
    }
    printDump(u, payload, length);
}

int watchUpgradeStart(DfaTask* task)
{
    char name[DFA_DEVICE_NAME_SIZE + 1] = {};
    aud_time start{};
    std::memcpy(name, dfa_task_param(task), DFA_DEVICE_NAME_SIZE);
    std::memcpy(&start, dfa_task_param(task) + DFA_DEVICE_NAME_SIZE + 1, sizeof start);
    Device* d = findDevice(name);
    if (d != nullptr && d->state == kUpgradeRequested) {
        if (dfa_since(start) < kQueryTimeoutSeconds)
            return 0;
        if (dfa_main_callback(DFA_ERR_TIMEOUT, DFA_CBACK_INF_START_UPDATE, d->reqIds[0], &d->request, sizeof d->request)
            != DFA_OK)
            dfa_print("[CONMON]callback failed\n");
        setState(d, kReady);
        d->reqIds[0] = 0;
        d->request = DfaUpgradeRequest{};
        unlockWhenIdle();
    }
    dfa_task_delete(task);
    return 0;
}

// ---- monitoring

void onMonitoring(conmon_client* client, uint16_t, uint16_t fromOthers, const conmon_envelope* envelope,
    const uint8_t* payload, size_t length)
{
    if (std::memcmp(envelope->vendor_id.data, CONMON_VENDOR_AUDINATE.data, CONMON_ID64_SIZE) != 0)
        return;
    const conmon_instance_id id{envelope->device_id, envelope->process_id};
    const char* sender = client != nullptr ? conmon_client_get_sender_name(client, &id) : nullptr;
    char text[CONMON_INSTANCE_ID_TEXT_SIZE];
    if (sender == nullptr)
        sender = conmon_instance_id_text(&id, text, sizeof text);
    conmon_control_header header{};
    if (conmon_control_header_read(payload, length, &header) != AUD_SUCCESS) {
        dfa_print("[CONMON]short message from %s dropped\n", sender);
        return;
    }
    dfa_print("[CONMON]conmon_cb_monitoring fired [%s] %s(%s)\n", sender, dfa_conmon_type_name(header.type),
        fromOthers != 0 ? "rx" : "tx");
    Device* d = findDevice(sender);
    if (d == nullptr)
        return;
    if (d->state == kRebooting) {
        dfa_print("[CONMON]restart checked %s\n", d->name);
        d->reqIds[1] = 0;
        startQuery(d->name, 0);
    }
    switch (header.type) {
    case CONMON_CTL_INTERFACE_STATUS: {
        conmon_iftable t{};
        if (conmon_read_interface_table(payload, length, &t) == AUD_SUCCESS) {
            if (t.count > kKeptInterfaces) {
                dfa_print("[CONMON]%s: %u interfaces, %u kept\n", d->name, t.count, unsigned(kKeptInterfaces));
                t.count = kKeptInterfaces;
            }
            d->interfaces = t;
            d->received |= kGotInterfaces;
        }
        break;
    }
    case CONMON_CTL_VERSIONS_STATUS: {
        conmon_module_info m{};
        if (conmon_read_module_info(payload, length, &m) != AUD_SUCCESS)
            break;
        d->versions = m;
        if (m.protocol <= 0x0708)
            d->versions.upgrade_version = 0;
        d->received |= kGotVersions;
        if ((m.capabilities & CONMON_CAPABILITY_MANF_VERSIONS) == 0
            || std::strncmp(reinterpret_cast<const char*>(m.model_id.data), "DvsWin", 6) == 0)
            d->assumed |= kGotManf;
        // The reader gives the status bits only above 0x0703.
        if (m.protocol > 0x0703) {
            if ((m.status_bits & CONMON_MODULE_CAPABILITY_CORRUPT) != 0)
                dfa_print("[CONMON][ERROR]The capability partition is corrupted: status=0x%X\n", m.status_bits);
            if ((m.status_bits & CONMON_MODULE_USER_CORRUPT) != 0)
                dfa_print("[CONMON][ERROR]The user partition is corrupted: status=0x%X\n", m.status_bits);
        }
        break;
    }
    case CONMON_CTL_MANF_VERSIONS_STATUS: {
        conmon_device_info m{};
        if (conmon_read_device_info(payload, length, &m) == AUD_SUCCESS) {
            d->manf = m;
            d->received |= kGotManf;
        }
        break;
    }
    case CONMON_CTL_UPGRADE_STATUS:
        onUpgradeStatus(d, payload, length);
        break;
    default:
        break;
    }
}

// ---- "dfa_conmon_init" and "dfa_conmon_watch_device"

struct InitState {
    int step = 0;
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
        g_init.step = 0;
        dfa_main_block(5000);
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
    g_init.step = 0;
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
    case 0: {
        const aud_error e = conmon_client_connect(g.client, &onConnected, &g_init.connect);
        if (e != AUD_SUCCESS) {
            dfa_print("[CONMON][ERROR]conmon client connect: %s\n", errorText(e, text));
            dfa_main_block(5000);
            return 0;
        }
        g_init.stepTime = dfa_now();
        dfa_main_set_socket_hooks(1, &fillSockets, &processSockets, nullptr);
        g_init.step = 1;
        return 0;
    }
    case 1:
        if (g_init.connect == nullptr && conmon_client_get_state(g.client) == CONMON_CLIENT_CONNECTED) {
            g_init.step = 2;
        } else if (dfa_since(g_init.stepTime) > 5) {
            dfa_print("[CONMON][ERROR]retry conmon client connect\n");
            restartConnect();
        }
        return 0;
    case 2:
        if (!registerAll()) {
            dfa_main_block(2000);
            return 0;
        }
        g_init.stepTime = dfa_now();
        g_init.step = 3;
        return 0;
    case 3:
        if (g_init.local == nullptr) {
            g_init.step = 4;
        } else if (dfa_since(g_init.stepTime) > 5) {
            dfa_print("[CONMON][ERROR]retry conmon client regist\n");
            cancel(&g_init.local);
            g_init.step = 2;
        }
        return 0;
    case 4: {
        const aud_error e
            = conmon_client_subscribe_global(g.client, &onRequestDone, &g_init.subscribe, CONMON_CHANNEL_STATUS);
        if (e != AUD_SUCCESS) {
            dfa_print("[CONMON][ERROR]conmon_client_subscribe_global status: %s\n", errorText(e, text));
            return 0;
        }
        g_init.stepTime = dfa_now();
        g_init.step = 5;
        return 0;
    }
    case 5:
        if (g_init.subscribe == nullptr && conmon_client_is_subscribed(g.client, CONMON_CHANNEL_STATUS)) {
            g_init.step = 6;
        } else if (dfa_since(g_init.stepTime) > 5) {
            dfa_print("[CONMON][ERROR]retry conmon client subscribe global\n");
            cancel(&g_init.subscribe);
            g_init.step = 2;
        }
        return 0;
    default:
        dfa_print("[CONMON]dfa_conmon: INIT_FINISH\n");
        g.finished = true;
        g.lastProbe = dfa_now();
        dfa_task_delete(task);
        return 0;
    }
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
    std::vector<Query*> expired;
    for (Query* q : g.queries) {
        if (dfa_since(q->start) > kQueryTimeoutSeconds)
            expired.push_back(q);
    }
    for (Query* q : expired) {
        char name[DFA_DEVICE_NAME_SIZE + 1];
        std::memcpy(name, q->name, sizeof name);
        dfa_print("[CONMON]timeout %s\n", name);
        dfa_task_delete(q->task);
        Device* d = findDevice(name);
        if (d == nullptr)
            continue;
        if (d->retries > 2) {
            setState(d, kQueryFailed);
            continue;
        }
        dfa_print("[CONMON]retry query %s\n", name);
        const uint8_t retries = d->retries + 1;
        startQuery(name, 0);
        d->retries = retries;
    }
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

DfaStatus needService()
{
    if (g.absent)
        return dfa_reason(DFA_REASON_SERVICE);
    return g.client == nullptr ? dfa_reason(DFA_REASON_NOT_READY) : DFA_OK;
}

uint8_t linkCode(uint16_t speed)
{
    switch (speed) {
    case 0:
        return DFA_LINK_NONE;
    case 10:
        return DFA_LINK_10M;
    case 100:
        return DFA_LINK_100M;
    case 1000:
        return DFA_LINK_1G;
    default:
        return DFA_LINK_OTHER;
    }
}

DfaStatus sendUpgrade(Device* d, const DfaSettings& settings, const char* file, const DfaOverride& override)
{
    conmon_payload p{};
    aud_error e = AUD_SUCCESS;
    if (d->versions.upgrade_version == kUpgradeV3) {
        e = conmon_payload_upgrade_v3(&p);
        conmon_file_location loc{};
        loc.protocol = CONMON_LOCATION_TFTP;
        loc.port = settings.tftp_port;
        std::memcpy(&loc.address, settings.tftp_ipv4, sizeof loc.address);
        loc.path = file;
        if (e == AUD_SUCCESS)
            e = conmon_payload_upgrade_v3_location(&p, &loc);
        if (e == AUD_SUCCESS && override.enabled == 1) {
            conmon_id64 id{};
            std::memcpy(id.data, override.model_id, sizeof id.data);
            e = conmon_payload_upgrade_v3_model_id(&p, &id);
        }
        dfa_print("[CONMON]Flash Request (v3)\n");
    } else {
        const uint8_t* a = settings.tftp_ipv4;
        const uint32_t address = uint32_t(a[0]) << 24 | uint32_t(a[1]) << 16 | uint32_t(a[2]) << 8 | a[3];
        e = conmon_payload_upgrade_legacy(&p, address, settings.tftp_port, file);
        dfa_print("[CONMON]Flash Request (legacy: upgrade_ver=0x%04X)\n", d->versions.upgrade_version);
    }
    if (e != AUD_SUCCESS)
        return dfa_library_error(e);
    const uint16_t type = d->versions.upgrade_version == kUpgradeV3 ? CONMON_CTL_UPGRADE_V3 : CONMON_CTL_UPGRADE_LEGACY;
    e = conmon_client_send_control_message(
        g.client, nullptr, nullptr, d->name, type, nullptr, p.data, p.length, nullptr);
    if (e != AUD_SUCCESS) {
        char text[AUD_STRERROR_SIZE];
        dfa_print("[CONMON][ERROR]conmon_client_send_control_message: %s\n", errorText(e, text));
        return dfa_library_error(e);
    }
    return DFA_OK;
}

} // namespace

// ---- the interface of the glue

DfaStatus dfa_conmon_glue_device_list_init(void*)
{
    g.devices.clear();
    g.queries.clear();
    return DFA_OK;
}

void dfa_conmon_glue_device_list_term(void*)
{
    g.devices.clear();
}

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

void dfa_conmon_forget_devices(void*)
{
    stopQueries();
    g.devices.clear();
}

void dfa_conmon_stop_queries()
{
    stopQueries();
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

void dfa_conmon_keep_file_info(bool keep)
{
    g.keepFiles = keep;
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

DfaStatus dfa_conmon_add_device(const char* name)
{
    if (const DfaStatus r = needService(); r != DFA_OK)
        return r;
    if (name == nullptr)
        return dfa_reason(DFA_REASON_MISSING);
    if (findDevice(name) != nullptr)
        return dfa_reason(DFA_REASON_BUSY);
    auto d = std::make_unique<Device>();
    std::strncpy(d->name, name, DFA_DEVICE_NAME_SIZE);
    g.devices.push_back(std::move(d));
    return startQuery(name, 0);
}

DfaStatus dfa_conmon_list_device(const char* name, uint8_t state)
{
    if (name == nullptr)
        return dfa_reason(DFA_REASON_MISSING);
    if (findDevice(name) != nullptr)
        return dfa_reason(DFA_REASON_BUSY);
    auto d = std::make_unique<Device>();
    std::strncpy(d->name, name, DFA_DEVICE_NAME_SIZE);
    if (const DfaStatus r = setState(d.get(), state); r != DFA_OK)
        return r;
    d->received = kGotAll;
    g.devices.push_back(std::move(d));
    return DFA_OK;
}

DfaStatus dfa_conmon_device_state(const char* name, uint8_t* state)
{
    const Device* d = findDevice(name);
    if (d == nullptr)
        return dfa_reason(DFA_REASON_NOT_FOUND);
    *state = d->state;
    return DFA_OK;
}

DfaStatus dfa_conmon_device_stat(void*, const char* name, DfaDeviceStat* out)
{
    if (const DfaStatus r = needService(); r != DFA_OK)
        return r;
    const Device* d = findDevice(name);
    if (d == nullptr)
        return dfa_reason(DFA_REASON_NOT_FOUND);
    if (((d->received | d->assumed) & kGotAll) != kGotAll)
        return dfa_reason(DFA_REASON_NOT_READY);
    if (d->state != kReady)
        return dfa_reason(DFA_REASON_BUSY);
    std::memcpy(out->name, d->name, DFA_DEVICE_NAME_SIZE);
    if (d->interfaces.count > 0) {
        const conmon_iftable_record& r = d->interfaces.records[0];
        std::memcpy(out->mac, r.mac, sizeof out->mac);
        for (int i = 0; i < 4; ++i)
            out->ipv4[i] = static_cast<uint8_t>(r.address >> (24 - 8 * i));
    }
    out->redundancy = (d->interfaces.flags & 1) != 0 ? 1 : 0;
    for (size_t i = 0; i < 2; ++i)
        out->link_speed[i] = i < d->interfaces.count ? linkCode(d->interfaces.records[i].speed) : DFA_LINK_NONE;
    return DFA_OK;
}

DfaStatus dfa_conmon_update_status(void*, const char* name, DfaUpgradeStatus* out, DfaResult* code)
{
    if (const DfaStatus r = needService(); r != DFA_OK)
        return r;
    const Device* d = findDevice(name);
    if (d == nullptr)
        return dfa_reason(DFA_REASON_NOT_FOUND);
    if (!d->upgradeReceived)
        return dfa_reason(DFA_REASON_NO_STATUS);
    const conmon_upgrade_progress& u = d->upgrade;
    if (u.state < kUpgradeGetFile || u.state > kUpgradeFlash)
        return dfa_reason(DFA_REASON_BUSY);
    std::memcpy(out->name, d->name, DFA_DEVICE_NAME_SIZE);
    out->phase = u.state == kUpgradeGetFile ? DFA_PHASE_DOWNLOAD
        : u.state == kUpgradeFlash          ? DFA_PHASE_FLASH
                                            : DFA_PHASE_FINISH;
    out->percent = dfa_conmon_percent(u.progress, u.total);
    *code = dfa_conmon_upgrade_code(u.state, u.last_error);
    return DFA_OK;
}

DfaStatus dfa_conmon_start_update(void*, const char* name, uint16_t req_id)
{
    if (const DfaStatus r = needService(); r != DFA_OK)
        return r;
    if (name == nullptr)
        return dfa_reason(DFA_REASON_MISSING);
    Device* d = findDevice(name);
    if (d == nullptr)
        return dfa_reason(DFA_REASON_NOT_FOUND);
    if (d->state != kReady)
        return dfa_reason(DFA_REASON_BUSY);
    DfaSettings settings{};
    dfa_holder_get_settings(&settings);
    const int slot = slotOf(*d);
    if (slot < 0)
        return dfa_reason(DFA_REASON_NO_DATA);
    char16_t file[DFA_DNT_NAME_CHARS] = {};
    DfaOverride override{};
    dfa_holder_get_file_name(static_cast<uint8_t>(slot), &file);
    dfa_holder_get_override(&override);
    char mbs[DFA_DNT_NAME_CHARS + 1] = {};
    const size_t n = aud_wcs_to_mbs(mbs, file, DFA_DNT_NAME_CHARS);
    if (file[0] == 0 || n == 0 || n >= DFA_DNT_NAME_CHARS || n != aud_wcs_to_mbs(nullptr, file, 0))
        return dfa_reason(DFA_REASON_NO_DNT);
    if (const DfaStatus r = sendUpgrade(d, settings, mbs, override); r != DFA_OK)
        return r;
    uint8_t param[DFA_DEVICE_NAME_SIZE + 1 + sizeof(aud_time)] = {};
    std::memcpy(param, d->name, DFA_DEVICE_NAME_SIZE);
    const aud_time start = dfa_now();
    std::memcpy(param + DFA_DEVICE_NAME_SIZE + 1, &start, sizeof start);
    DfaTask* task
        = dfa_task_create(&watchUpgradeStart, nullptr, DFA_KEY_CONMON_WATCH, "dfa_conmon_watch_upgrade_start");
    if (task == nullptr)
        return dfa_reason(DFA_REASON_NO_MEMORY);
    std::memcpy(dfa_task_param(task), param, sizeof param);
    d->request = DfaUpgradeRequest{};
    std::memcpy(d->request.name, d->name, DFA_DEVICE_NAME_SIZE);
    std::memcpy(d->request.dnt_file, file, sizeof file);
    d->request.override_flag = override.enabled;
    std::memcpy(d->request.override_model_id, override.model_id, DFA_MODEL_ID_SIZE);
    setState(d, kUpgradeRequested);
    d->reqIds[0] = req_id;
    d->upgradeReceived = false;
    dfa_cmm_lock(true);
    return DFA_OK;
}

DfaStatus dfa_conmon_reboot(void*, const char* name, uint8_t mode, uint16_t req_id)
{
    if (const DfaStatus r = needService(); r != DFA_OK)
        return r;
    if (mode > 1)
        return dfa_reason(DFA_REASON_RANGE);
    Device* d = findDevice(name);
    if (d == nullptr)
        return dfa_reason(DFA_REASON_NOT_FOUND);
    if (d->state != kReady)
        return dfa_reason(DFA_REASON_BUSY);
    conmon_payload p{};
    aud_error e = conmon_payload_reboot(&p, mode);
    if (e != AUD_SUCCESS)
        return dfa_library_error(e);
    dfa_print("[CONMON]reboot %s\n", d->name);
    e = conmon_client_send_control_message(
        g.client, nullptr, nullptr, d->name, CONMON_CTL_REBOOT, nullptr, p.data, p.length, nullptr);
    if (e != AUD_SUCCESS) {
        char text[AUD_STRERROR_SIZE];
        dfa_print("[CONMON][ERROR]conmon_client_send_control_message: %s\n", errorText(e, text));
        return dfa_library_error(e);
    }
    setState(d, kRebooting);
    d->reqIds[1] = req_id;
    return DFA_OK;
}

void dfa_conmon_monitoring(uint16_t channel, const uint8_t* data, size_t length)
{
    conmon_envelope envelope{};
    const uint8_t* payload = nullptr;
    size_t payloadLength = 0;
    if (conmon_envelope_read(data, length, &envelope, &payload, &payloadLength) != AUD_SUCCESS)
        return;
    onMonitoring(g.client, channel, 1, &envelope, payload, payloadLength);
}

DfaResult dfa_conmon_upgrade_code(uint16_t upgrade_state, uint16_t last_error)
{
    if (last_error == 0)
        // A failed upgrade that names no error is still a failure.
        return upgrade_state == kUpgradeEndFail ? DFA_ERR_DAPI_UNKNOWN : DFA_ERR_NOERR;
    switch (last_error) {
    case 0x101:
    case 0x102:
    case 0x103:
    case 0x111:
    case 0x112:
    case 0x121:
    case 0x200:
    case 0x201:
        return static_cast<DfaResult>(0xC000 + last_error);
    default:
        if (last_error >= 0x300 && last_error <= 0x307)
            return static_cast<DfaResult>(0xC000 + last_error);
        return DFA_ERR_DAPI_UNKNOWN;
    }
}

uint16_t dfa_conmon_percent(uint32_t progress, uint32_t total)
{
    if (total == 0)
        return 0;
    const uint64_t percent = uint64_t(progress) * 100 / total;
    return static_cast<uint16_t>(std::min<uint64_t>(percent, 100));
}
