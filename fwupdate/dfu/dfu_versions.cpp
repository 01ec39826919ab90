// What the window reads of the devices and the files: names, phases, module
// types, version triples and their comparison.
#include "fwupdate/dfu/dfu.h"

#include <cstring>

namespace {

DfuVersion triple(const DfaVersion& v)
{
    return DfuVersion{v.major, v.minor, v.bugfix};
}

// -1 when a is lower, 1 when higher, 0 when equal.
int compareTriples(const DfuVersion& a, const DfuVersion& b)
{
    if (a.major != b.major)
        return a.major < b.major ? -1 : 1;
    if (a.minor != b.minor)
        return a.minor < b.minor ? -1 : 1;
    if (a.third != b.third)
        return a.third < b.third ? -1 : 1;
    return 0;
}

bool deviceTriple(const DfaDeviceInfo& info, uint32_t kind, DfuVersion* out)
{
    switch (kind) {
    case DFU_VERSION_DANTE_SW:
        *out = triple(info.dante_sw_version);
        return true;
    case DFU_VERSION_DANTE_FW:
        *out = triple(info.dante_fw_version);
        return true;
    case DFU_VERSION_MANF_FW:
        *out = triple(info.manf_fw_version);
        return true;
    case DFU_VERSION_MANF_SW:
        *out = triple(info.manf_sw_version);
        return true;
    default:
        return false;
    }
}

bool fileTriple(const DntFileInfo& info, const DfuVersion& dante, uint32_t kind, DfuVersion* out)
{
    switch (kind) {
    case DFU_FILE_PART12:
        *out = triple(info.md[0].part12);
        return true;
    case DFU_FILE_DANTE:
        *out = dante;
        return true;
    case DFU_FILE_FW:
        *out = triple(info.md[0].fw);
        return true;
    case DFU_FILE_SW:
        *out = triple(info.md[0].sw);
        return true;
    case DFU_FILE_HEADER:
        *out = DfuVersion{info.major, info.minor, info.build};
        return true;
    default:
        return false;
    }
}

} // namespace

bool DanteFirmwareUpdateModule::getTargetDeviceName(char* out, size_t size) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_target < 0 || out == nullptr || size == 0)
        return false;
    const char* name = m_devices[static_cast<size_t>(m_target)].info.name;
    const size_t length = std::min(strnlen(name, DFA_DEVICE_NAME_SIZE), size - 1);
    std::memcpy(out, name, length);
    out[length] = '\0';
    return true;
}

uint32_t DanteFirmwareUpdateModule::getTargetUpdatePhase() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_target < 0 ? DFU_PHASE_NONE : m_devices[static_cast<size_t>(m_target)].updatePhase;
}

uint16_t DanteFirmwareUpdateModule::getLastFlashPercent() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_lastFlashPercent;
}

uint32_t DanteFirmwareUpdateModule::getDeviceUpdatePhase(const char* name) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    const DfuDevice* d = device(name);
    return d == nullptr ? DFU_PHASE_NONE : d->updatePhase;
}

bool DanteFirmwareUpdateModule::getDeviceModelMatch(const char* name) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    const DfuDevice* d = device(name);
    return d != nullptr && d->modelMatch != 0;
}

bool DanteFirmwareUpdateModule::getDeviceStat(const char* name, DfuDevice* out) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    const DfuDevice* d = device(name);
    if (d == nullptr || out == nullptr)
        return false;
    *out = *d;
    return true;
}

size_t DanteFirmwareUpdateModule::deviceCount() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_devices.size();
}

bool DanteFirmwareUpdateModule::moduleModelId(const char* name, uint8_t* id) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    const DfuDevice* d = device(name);
    if (d == nullptr)
        return false;
    std::memcpy(id, d->info.module_model_id, DFA_MODEL_ID_SIZE);
    return true;
}

uint32_t DanteFirmwareUpdateModule::getDeviceModuleType(const char* name) const
{
    uint8_t id[DFA_MODEL_ID_SIZE];
    if (!moduleModelId(name, id))
        return DFU_MODULE_NONE;
    uint32_t type = DFU_MODULE_NONE;
    return dfa_get_type_of_model_id(&type, id) == DFA_ERR_NOERR ? type : DFU_MODULE_NONE;
}

DfuResult DanteFirmwareUpdateModule::getDntFilePath(const char* name, char16_t* path) const
{
    if (path == nullptr)
        return DFU_E_FAIL;
    uint8_t id[DFA_MODEL_ID_SIZE];
    if (!moduleModelId(name, id))
        return DFU_E_FAIL;
    return dfa_get_dnt_path_for_model(path, DFU_PATH_CHARS, id) == DFA_ERR_NOERR ? DFU_OK : DFU_E_FAIL;
}

DfuResult DanteFirmwareUpdateModule::getDeviceVersion(const char* name, uint32_t kind, DfuVersion* out) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    const DfuDevice* d = device(name);
    if (d == nullptr || out == nullptr || !deviceTriple(d->info, kind, out))
        return DFU_E_FAIL;
    return DFU_OK;
}

DfuResult DanteFirmwareUpdateModule::getFileVersion(size_t slot, uint32_t kind, DfuVersion* out) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (slot >= DFU_SLOTS || out == nullptr || !fileTriple(m_slots[slot].info, m_slots[slot].dante, kind, out))
        return DFU_E_FAIL;
    return DFU_OK;
}

DntFileInfo DanteFirmwareUpdateModule::getFileInfo(size_t slot) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return slot < DFU_SLOTS ? m_slots[slot].info : initialFileInfo();
}

DfuResult DanteFirmwareUpdateModule::setDanteFileVersion(const DfuVersion& version, uint32_t moduleType)
{
    uint8_t id[DFA_MODEL_ID_SIZE];
    if (dfa_get_model_id_of_type(id, moduleType) != DFA_ERR_NOERR)
        return DFU_E_FAIL;
    std::lock_guard<std::mutex> guard(m_lock);
    for (Slot& slot : m_slots) {
        if (std::memcmp(slot.info.platform, id, sizeof id) == 0) {
            slot.dante = version;
            return DFU_OK;
        }
    }
    return DFU_E_FAIL;
}

int DanteFirmwareUpdateModule::compareVersion(const char* name) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    const DfuDevice* d = device(name);
    if (d == nullptr)
        return -1;
    for (const Slot& slot : m_slots) {
        if (std::memcmp(slot.info.platform, d->info.module_model_id, DFA_MODEL_ID_SIZE) != 0)
            continue;
        for (const uint32_t kind : {DFU_VERSION_DANTE_FW, DFU_VERSION_MANF_SW}) {
            DfuVersion file{}, ours{};
            fileTriple(slot.info, slot.dante, kind, &file);
            deviceTriple(d->info, kind, &ours);
            if (const int c = compareTriples(file, ours); c != 0)
                return c;
        }
        return 0;
    }
    return -1;
}
