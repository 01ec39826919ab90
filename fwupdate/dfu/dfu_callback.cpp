// The agent's answers, on the agent's task: the interface chain, the device
// list and the upgrade's progress, relayed to the window.
#include "fwupdate/dfu/dfu.h"
#include "fwupdate/dfu/dfu_internal.h"

#include "app/app_log.h"

#include <cstring>

namespace {

// The agent keeps at most this many interfaces.
constexpr uint32_t kInterfacesMax = 16;

template <class T> T payloadAs(const DfaCallbackInfo& info)
{
    static_assert(sizeof(T) <= DFA_PAYLOAD_MAX, "payload record");
    T record;
    std::memcpy(&record, info.payload, sizeof record);
    return record;
}

// Whether the answer's payload starts with a device name; the others carry
// interface or filter records, whose bytes name no device.
bool namesDevice(uint16_t kind)
{
    switch (kind) {
    case DFA_CBACK_INF_DEVICE:
    case DFA_CBACK_INF_DEVICE_STAT:
    case DFA_CBACK_INF_START_UPDATE:
    case DFA_CBACK_INF_UPDATE_STATUS:
    case DFA_CBACK_INF_REBOOT:
        return true;
    default:
        return false;
    }
}

bool stageOfKind(uint16_t kind, uint32_t* stage)
{
    static const uint32_t stages[] = {
        DFU_STAGE_INITIALIZE, // INIT
        DFU_STAGE_DEVICE_LIST, // DEVICE_LIST
        DFU_STAGE_GET_DEVICE, // DEVICE
        DFU_STAGE_DEVICE_STAT, // DEVICE_STAT
        DFU_STAGE_START_UPDATE, // START_UPDATE
        DFU_STAGE_UPDATE_STATUS, // UPDATE_STATUS
        DFU_STAGE_TYPE_REBOOT, // REBOOT
        DFU_STAGE_ETHER_IF_LIST, // IF_LIST
        DFU_STAGE_ETHER_IF, // SET_IF
        DFU_STAGE_DANTE_IF, // GET_IF
    };
    if (kind > DFA_CBACK_INF_MAX)
        return false;
    *stage = stages[kind];
    return true;
}

} // namespace

void DanteFirmwareUpdateModule::dfaCallback(DfaResult code, const DfaCallbackInfo* info)
{
    DanteFirmwareUpdateModule* self = nullptr;
    const auto guard = dfu_lockInstance(&self);
    if (self == nullptr || info == nullptr)
        return;
    if (code == DFA_ERR_NOERR)
        self->handleAnswer(code, *info);
    else
        self->handleError(code, *info);
}

void DanteFirmwareUpdateModule::reportEvent(uint32_t event)
{
    if (IDfuAppCallback* target = callback())
        target->dfuAppCallback(event);
}

void DanteFirmwareUpdateModule::reportError(uint32_t stage, DfaResult code)
{
    if (IDfuAppCallback* target = callback())
        target->dfuAppErrorCallback(DfuErrorInfo{stage, code});
}

void DanteFirmwareUpdateModule::handleAnswer(DfaResult, const DfaCallbackInfo& info)
{
    uint16_t reqId = 0;
    switch (info.kind) {
    case DFA_CBACK_INF_INIT:
        if (const DfaResult r = dfa_req_get_if_list(&reqId); r != DFA_ERR_NOERR)
            reportError(DFU_STAGE_ETHER_IF_LIST, r);
        break;
    case DFA_CBACK_INF_IF_LIST:
        onIfList(info);
        break;
    case DFA_CBACK_INF_GET_IF:
        onGetIf();
        break;
    case DFA_CBACK_INF_SET_IF:
        reportEvent(DFU_EVENT_DANTE_IF);
        break;
    case DFA_CBACK_INF_DEVICE:
        onDevice(info);
        break;
    case DFA_CBACK_INF_DEVICE_STAT:
        onDeviceStat(info);
        break;
    case DFA_CBACK_INF_START_UPDATE:
        onStartUpdate();
        break;
    case DFA_CBACK_INF_UPDATE_STATUS:
        onUpdateStatus(info);
        break;
    default: // DEVICE_LIST and REBOOT: nothing to do
        break;
    }
}

void DanteFirmwareUpdateModule::onIfList(const DfaCallbackInfo& info)
{
    const auto list = payloadAs<DfaInterfaceList>(info);
    {
        // A copy: the agent's array dies at its next list request.
        std::lock_guard<std::mutex> guard(m_lock);
        const uint32_t count = list.interfaces != nullptr ? std::min(list.count, kInterfacesMax) : 0;
        m_interfaces.assign(list.interfaces, list.interfaces + count);
    }
    reportEvent(DFU_EVENT_IF_LIST);
    uint16_t reqId = 0;
    if (const DfaResult r = dfa_req_get_dante_if(&reqId); r != DFA_ERR_NOERR)
        reportError(DFU_STAGE_DANTE_IF, r);
}

void DanteFirmwareUpdateModule::onGetIf()
{
    static const uint8_t kNone[6] = {};
    DfaInterface wanted{};
    bool found = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (std::memcmp(m_mac, kNone, sizeof kNone) == 0)
            return;
        for (const DfaInterface& i : m_interfaces) {
            if (std::memcmp(i.mac, m_mac, sizeof m_mac) == 0) {
                wanted = i;
                found = true;
                break;
            }
        }
    }
    if (!found) {
        reportError(DFU_STAGE_SET_DANTE_IF, 0);
        return;
    }
    uint16_t reqId = 0;
    if (const DfaResult r = dfa_req_set_dante_if(&wanted, &reqId); r != DFA_ERR_NOERR)
        reportError(DFU_STAGE_SET_DANTE_IF, r);
}

void DanteFirmwareUpdateModule::onDevice(const DfaCallbackInfo& info)
{
    const auto device = payloadAs<DfaDeviceInfo>(info);
    addDfuDevice(device);
    char name[DFA_DEVICE_NAME_SIZE + 1] = {};
    std::memcpy(name, device.name, DFA_DEVICE_NAME_SIZE);
    uint16_t reqId = 0;
    if (const DfaResult r = dfa_req_get_device_stat(name, &reqId); r != DFA_ERR_NOERR) {
        reportError(DFU_STAGE_DEVICE_STATUS, r);
        return;
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_listing = 2;
    }
    reportEvent(DFU_EVENT_DEVICE);
}

void DanteFirmwareUpdateModule::onDeviceStat(const DfaCallbackInfo& info)
{
    const auto stat = payloadAs<DfaDeviceStat>(info);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        const int index = findDevice(stat.name);
        if (index >= 0) {
            DfuDevice& d = m_devices[static_cast<size_t>(index)];
            std::memcpy(d.mac, stat.mac, sizeof d.mac);
            std::memcpy(d.ipv4, stat.ipv4, sizeof d.ipv4);
            d.redundancy = stat.redundancy;
            std::memcpy(d.linkSpeed, stat.link_speed, sizeof d.linkSpeed);
        }
    }
    reportEvent(DFU_EVENT_DEVICE_STAT);
}

void DanteFirmwareUpdateModule::onStartUpdate()
{
    char name[DFA_DEVICE_NAME_SIZE + 1] = {};
    getTargetDeviceName(name, sizeof name);
    uint16_t reqId = 0;
    if (const DfaResult r = dfa_req_get_update_status(name, &reqId); r != DFA_ERR_NOERR)
        reportError(DFU_STAGE_START_UPDATE, r);
}

void DanteFirmwareUpdateModule::onUpdateStatus(const DfaCallbackInfo& info)
{
    const auto status = payloadAs<DfaUpgradeStatus>(info);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        const int index = findDevice(status.name);
        if (index < 0)
            return;
        DfuDevice& d = m_devices[static_cast<size_t>(index)];
        switch (status.phase) {
        case DFA_PHASE_DOWNLOAD:
            d.updatePhase = DFU_PHASE_DOWNLOAD;
            break;
        case DFA_PHASE_FLASH:
            m_lastFlashPercent = status.percent;
            d.updatePhase = DFU_PHASE_FLASH;
            break;
        case DFA_PHASE_FINISH:
            d.updatePhase = DFU_PHASE_FINISH;
            break;
        default:
            d.updatePhase = DFU_PHASE_NONE;
            break;
        }
    }
    reportEvent(DFU_EVENT_UPDATE_STATUS);
}

void DanteFirmwareUpdateModule::onListExpired()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        const DntFileInfo& file = m_slots[1].info;
        for (DfuDevice& d : m_devices) {
            if (std::memcmp(d.info.module_model_id, file.platform, DFA_MODEL_ID_SIZE) != 0)
                continue;
            // Exactly: an all-zero id must not match every id here.
            d.modelMatch = std::memcmp(d.info.manf_model_id, file.md[0].model_id, DFA_MODEL_ID_SIZE) == 0 ? 1 : 0;
        }
    }
    reportEvent(DFU_EVENT_DEVICE_LIST);
}

void DanteFirmwareUpdateModule::handleError(DfaResult code, const DfaCallbackInfo& info)
{
    uint32_t stage = 0;
    if (info.kind == DFA_CBACK_INF_DEVICE_LIST && code == DFA_ERR_DURATION_EXPIRE) {
        onListExpired();
        return;
    }
    if (info.kind == DFA_CBACK_INF_SET_IF) {
        switch (code) {
        case DFA_ERR_INTERFACE_SAME:
            reportEvent(DFU_EVENT_DANTE_IF);
            return;
        case DFA_ERR_NOT_FOUND:
            appLogWrite("[ERROR] Set Ether IF: DFA_ERR_NOT_FOUND");
            break;
        case DFA_ERR_INTERFACE_LOCKED:
            appLogWrite("[ERROR] Set Ether IF: DFA_ERR_INTERFACE_LOCKED");
            break;
        case DFA_ERR_INTERFACE_CHANGING:
            appLogWrite("[ERROR] Set Ether IF: DFA_ERR_INTERFACE_CHANGING");
            break;
        default:
            appLogWrite("[ERROR] Set Ether IF: OTHER ERROR");
            break;
        }
    }
    if (!stageOfKind(info.kind, &stage))
        return;
    char name[DFA_DEVICE_NAME_SIZE + 1] = {};
    if (namesDevice(info.kind))
        std::memcpy(name, info.payload, DFA_DEVICE_NAME_SIZE);
    if (IDfuAppCallback* target = callback())
        target->dfuAppDeviceErrorCallback(DfuErrorInfo{stage, code}, name);
}
