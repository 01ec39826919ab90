// Upgrades and reboots of the agent's Dante devices, and the monitoring
// messages that answer them: versions, interfaces and manufacturer versions
// of a queried device, and the UPGRADE_STATUS series of an upgrade.
//
// Decision: partition-corruption lines print only when the status bits
// were read.
#include "dante/dfa/dfa_conmon_internal.h"
#include "dante/dfa/dfa_holder.h"
#include "dante/dfa/dfa_main.h"
#include "dante/support/aud_text.h"

#include <algorithm>
#include <cstring>

namespace dfa_conmon_detail {
namespace {

// A device that sends no UPGRADE_STATUS this long after the request is
// ready again, and the request answered DFA_ERR_TIMEOUT.
constexpr int kUpgradeStartSeconds = 10;

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
        if (dfa_since(start) < kUpgradeStartSeconds)
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

} // namespace dfa_conmon_detail

using namespace dfa_conmon_detail;

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
