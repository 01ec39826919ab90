// The agent's Dante devices: the list, the query of each new one for its
// versions, interfaces and manufacturer versions, its .dnt check and its
// status record.
//
// Decisions: a device keeps its first 2 interfaces (the reader keeps 4);
// the .dnt slot of a device is the one whose module model id equals the
// device's on all 8 bytes (an all-zero slot matches none).
#include "dante/dfa/dfa_conmon_internal.h"
#include "dante/dfa/dfa_holder.h"
#include "dante/dfa/dfa_main.h"
#include "dante/support/aud_string.h"
#include "dante/support/aud_text.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <sys/stat.h>

namespace dfa_conmon_detail {
namespace {

// A query step asks again after this long without its answer; the whole
// query is given up after kQueryTimeoutSeconds.
constexpr int kQueryStepSeconds = 2;
constexpr int kQueryTimeoutSeconds = 10;

// What a device is asked, in order, and the answer each question awaits.
struct QueryRow {
    uint16_t type;
    uint8_t awaited;
};
constexpr QueryRow kQueryRows[] = {
    {CONMON_CTL_VERSIONS_QUERY, kGotVersions},
    {CONMON_CTL_INTERFACE_QUERY, kGotInterfaces},
    {CONMON_CTL_MANF_VERSIONS_QUERY, kGotManf},
};

} // namespace

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
    switch (q->phase) {
    case QueryPhase::Join:
        g.pendingSlots.push_back(&q->pending);
        q->start = dfa_now();
        q->phase = QueryPhase::Send;
        return 0;
    case QueryPhase::Send:
        if (sendControl(q->name, kQueryRows[q->row].type, &q->pending) == DFA_OK) {
            q->stepTime = dfa_now();
            q->phase = QueryPhase::Await;
        }
        return 0;
    case QueryPhase::Await:
        if (((d->received | d->assumed) & kQueryRows[q->row].awaited) != 0) {
            ++q->row;
            q->phase = q->row < std::size(kQueryRows) ? QueryPhase::Send : QueryPhase::Report;
        } else if (dfa_since(q->stepTime) > kQueryStepSeconds) {
            cancel(&q->pending);
            q->phase = QueryPhase::Send;
        }
        return 0;
    case QueryPhase::Report:
        break;
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

void expireQueries()
{
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

// A conmon version word carries three numbers; its 16-bit third one is the
// third number the window shows and compares with the .dnt file, so it goes
// to the 16-bit field, not to the 32-bit build the word does not carry.
void copyVersion(const conmon_version& v, DfaVersion* out)
{
    *out = DfaVersion{v.major, v.minor, v.build, 0};
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

} // namespace dfa_conmon_detail

using namespace dfa_conmon_detail;

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

void dfa_conmon_forget_devices(void*)
{
    stopQueries();
    g.devices.clear();
}

void dfa_conmon_stop_queries()
{
    stopQueries();
}

void dfa_conmon_keep_file_info(bool keep)
{
    g.keepFiles = keep;
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
