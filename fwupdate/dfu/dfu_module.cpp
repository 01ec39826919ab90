// The front's life, its start operations and the device list.
#include "fwupdate/dfu/dfu.h"
#include "fwupdate/dfu/dfu_internal.h"

#include "app/app_log.h"
#include "pbd/jlib/jlib_result.h"

#include <cstdio>
#include <cstring>

namespace {

std::mutex g_instanceLock;
DanteFirmwareUpdateModule* g_instance = nullptr;

} // namespace

std::unique_lock<std::mutex> dfu_lockInstance(DanteFirmwareUpdateModule** out)
{
    std::unique_lock<std::mutex> guard(g_instanceLock);
    *out = g_instance;
    return guard;
}

DanteFirmwareUpdateModule::DanteFirmwareUpdateModule()
{
    for (Slot& slot : m_slots)
        slot.info = initialFileInfo();
    std::lock_guard<std::mutex> guard(g_instanceLock);
    g_instance = this;
}

DanteFirmwareUpdateModule::~DanteFirmwareUpdateModule()
{
    // Once the agent's task has ended no callback can start; one already
    // running holds the instance lock until it is done.
    dfa_terminate();
    {
        std::lock_guard<std::mutex> guard(g_instanceLock);
        if (g_instance == this)
            g_instance = nullptr;
    }
    takeTftp().reset();
    clearDfuDeviceInfo();
}

DntFileInfo DanteFirmwareUpdateModule::initialFileInfo()
{
    DntFileInfo info{};
    std::memcpy(info.platform, "NoModel", 8);
    std::memcpy(info.manf_id, "NoModel", 8);
    return info;
}

IDfuAppCallback* DanteFirmwareUpdateModule::callback() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_callback;
}

DfuResult DanteFirmwareUpdateModule::InitializeDfa(IDfuAppCallback* callback, const uint8_t* mac)
{
    if (callback == nullptr || mac == nullptr)
        return DFU_E_FAIL;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_callback = callback;
        std::memcpy(m_mac, mac, sizeof m_mac);
    }
    uint16_t reqId = 0;
    switch (dfa_init(&DanteFirmwareUpdateModule::dfaCallback, &reqId)) {
    case DFA_ERR_NOERR:
        m_dfaReady = true;
        return DFU_OK;
    case DFA_ERR_DUP_INIT:
        return DFU_E_DUP_INIT;
    case DFA_ERR_PARAM:
        return DFU_E_PARAM;
    case DFA_ERR_CONMON_ABSENT:
        return DFU_E_CONMON_ABSENT;
    case DFA_ERR_EXIT:
        return DFU_E_EXIT;
    default:
        return DFU_E_FAIL;
    }
}

std::unique_ptr<TFTPServer> DanteFirmwareUpdateModule::takeTftp()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_tftpReady = false;
    return std::move(m_tftp);
}

void DanteFirmwareUpdateModule::releaseTftp()
{
    // Destroyed outside the lock: the server waits for a running transfer
    // event, which may be waiting for the lock.
    takeTftp().reset();
}

DfuResult DanteFirmwareUpdateModule::InitializeTftp(
    const uint8_t* ipv4, uint16_t port, const char16_t* path0, const char16_t* path1)
{
    if (!m_dfaReady) {
        appLogWrite("[ERROR] InitializeTftp: DFA has not initialized");
        return DFU_E_FAIL;
    }
    releaseTftp();
    if (ipv4 == nullptr) {
        appLogWrite("[ERROR] InitializeTftp: setTftpIpAddr");
        return DFU_E_FAIL;
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        std::memcpy(m_tftpIpv4, ipv4, sizeof m_tftpIpv4);
        m_tftpPort = port;
    }
    if (const DfuResult r = setDanteFilePath(path0, path1); r != DFU_OK) {
        appLogWrite("[ERROR] InitializeTftp: setDanteFilePath");
        return r;
    }
    std::array<char16_t, DFA_DNT_NAME_CHARS> folder;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        folder = m_folder;
    }
    if (const DfuResult r = createTftpServer(folder); r != DFU_OK) {
        appLogWrite("[ERROR] InitializeTftp: CreateTftpServer");
        return r;
    }
    m_tftpReady = true;
    return DFU_OK;
}

DfuResult DanteFirmwareUpdateModule::createTftpServer(const std::array<char16_t, DFA_DNT_NAME_CHARS>& folder)
{
    std::string root;
    if (!dfu_utf16ToUtf8(folder.data(), folder.size(), &root) || root.size() >= DFU_ROOT_BYTES)
        return DFU_E_FAIL;
    root += '/';
    char address[16];
    uint16_t port;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        std::snprintf(
            address, sizeof address, "%d.%d.%d.%d", m_tftpIpv4[0], m_tftpIpv4[1], m_tftpIpv4[2], m_tftpIpv4[3]);
        port = m_tftpPort;
    }
    auto server = std::make_unique<TFTPServer>();
    if (server->setup(address, port, root.c_str(), this) != TFTP_OK)
        return DFU_E_FAIL;
    TFTPServer* running = server.get();
    {
        // In place before it starts, so its first event finds it.
        std::lock_guard<std::mutex> guard(m_lock);
        m_tftp = std::move(server);
    }
    if (running->start() != TFTP_OK) {
        releaseTftp();
        return DFU_E_FAIL;
    }
    return DFU_OK;
}

int32_t DanteFirmwareUpdateModule::transferEvent(uint16_t childId, uint32_t event)
{
    IDfuAppCallback* target;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_tftp == nullptr)
            return DFU_E_FAIL;
        target = m_callback;
    }
    if (event >= TFTP_EVENT_STARTED && event <= TFTP_EVENT_BLOCK_SENT && target != nullptr)
        target->dfuSendDataCallback(childId, event);
    return DFU_OK;
}

uint32_t DanteFirmwareUpdateModule::getTftpChildBytes(uint16_t childId) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_tftp != nullptr ? m_tftp->bytesSentByChild(childId) : 0;
}

DfuResult DanteFirmwareUpdateModule::reqDeviceList()
{
    // Emptied first: a device reported right after the post must stay.
    clearDfuDeviceInfo();
    uint16_t reqId = 0;
    const DfaResult r = dfa_req_get_device_list(DFU_LIST_WINDOW_SECONDS, &reqId);
    if (r != DFA_ERR_NOERR) {
        appLogWrite("[ERROR] request device list. Function is DanteFirmwareUpdateModule::reqDeviceList()");
        return r;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    m_listing = 1;
    return DFU_OK;
}

DfuResult DanteFirmwareUpdateModule::setTargetDevice(const char* name)
{
    std::lock_guard<std::mutex> guard(m_lock);
    const int index = findDevice(name);
    if (index < 0)
        return DFU_E_FAIL;
    m_target = index;
    return DFU_OK;
}

DfuResult DanteFirmwareUpdateModule::reqStartUpdateTargetDevice()
{
    char name[DFA_DEVICE_NAME_SIZE + 1] = {};
    getTargetDeviceName(name, sizeof name);
    uint16_t reqId = 0;
    const DfaResult r = dfa_req_start_update(name, &reqId);
    if (r != DFA_ERR_NOERR)
        appLogWrite(
            "[ERROR] request start update. Function is DanteFirmwareUpdateModule::reqStartUpdateTargetDevice()");
    return r;
}

void DanteFirmwareUpdateModule::addDfuDevice(const DfaDeviceInfo& info)
{
    char name[DFA_DEVICE_NAME_SIZE + 1] = {};
    std::memcpy(name, info.name, DFA_DEVICE_NAME_SIZE);
    appLogWrite("[DFU DEVICE LIST] addDfuDevice");
    appLogWrite(name);
    DfuDevice node{};
    node.info = info;
    std::lock_guard<std::mutex> guard(m_lock);
    m_devices.push_back(node);
}

void DanteFirmwareUpdateModule::clearDfuDeviceInfo()
{
    appLogWrite("[DFU DEVICE LIST] clearDfuDeviceInfo");
    std::lock_guard<std::mutex> guard(m_lock);
    m_devices.clear();
    m_target = -1;
}

int DanteFirmwareUpdateModule::findDevice(const char* name) const
{
    char wanted[DFA_DEVICE_NAME_SIZE + 1] = {};
    if (name != nullptr)
        std::strncpy(wanted, name, DFA_DEVICE_NAME_SIZE);
    appLogWrite("[TEMP] start dante devicelabel matching");
    appLogWrite(wanted);
    for (size_t i = 0; i < m_devices.size(); ++i) {
        appLogWrite("[TEMP] matching... ");
        if (std::strncmp(wanted, m_devices[i].info.name, DFA_DEVICE_NAME_SIZE) == 0) {
            appLogWrite("[TEMP] matched! ");
            return static_cast<int>(i);
        }
    }
    jlib_debugBreak(__FILE__, __LINE__);
    appLogWrite("[ERROR] Cannot find Dante Device");
    return -1;
}

const DfuDevice* DanteFirmwareUpdateModule::device(const char* name) const
{
    const int index = findDevice(name);
    return index < 0 ? nullptr : &m_devices[static_cast<size_t>(index)];
}
