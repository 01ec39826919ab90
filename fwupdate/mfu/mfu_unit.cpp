#include "fwupdate/mfu/mfu_unit.h"

#include "fwupdate/mfu/mfu_rules.h"
#include "fwupdate/mfu/mfu_text.h"

#include <cstdio>
#include <cstring>

ModelFirmwareUpdate::ModelFirmwareUpdate() = default;

ModelFirmwareUpdate::~ModelFirmwareUpdate()
{
    releaseSocket();
}

void ModelFirmwareUpdate::releaseSocket()
{
    m_protocol.clearSocket();
    if (m_socket) {
        // Waits for wake-ups still running on the service's thread.
        m_socket->detach();
        m_socket.reset();
    }
}

void ModelFirmwareUpdate::setStatus(const char* text)
{
    mfutext::copyField(m_status, sizeof(m_status), text, static_cast<uint32_t>(strlen(text)));
}

MfuResult ModelFirmwareUpdate::setPcAddress(const char* text)
{
    if (!text || strnlen(text, sizeof(m_pcText)) >= sizeof(m_pcText))
        return MFU_E_FAIL;
    const MfuResult rc = m_pcAddress.setAddressText(4, text);
    if (rc < 0)
        return rc;
    strcpy(m_pcText, text);
    m_setup |= MFU_LINK_SET_PC;
    return MFU_OK;
}

MfuResult ModelFirmwareUpdate::setUnitAddress(const char* text)
{
    if (!text)
        return MFU_E_FAIL;
    const MfuResult rc = m_unitAddress.setAddressText(4, text);
    if (rc < 0)
        return rc;
    m_setup |= MFU_LINK_SET_UNIT;
    return MFU_OK;
}

MfuResult ModelFirmwareUpdate::setFile(const char* path, uint32_t expectedModel, const char* packageVersion)
{
    if (!path || !packageVersion || strnlen(path, sizeof(m_filePath)) >= sizeof(m_filePath)
        || strnlen(packageVersion, sizeof(m_packageVersion)) >= sizeof(m_packageVersion))
        return MFU_E_FAIL;
    strcpy(m_filePath, path);
    strcpy(m_packageVersion, packageVersion);
    m_expectedModel = expectedModel;
    m_setup |= MFU_LINK_SET_FILE;
    return MFU_OK;
}

MfuResult ModelFirmwareUpdate::setWakeTarget(MFUTaskWakeupIF* target, uint32_t index)
{
    if (!target)
        return MFU_E_FAIL;
    m_target = target;
    m_index = index;
    m_setup |= MFU_LINK_SET_WAKE;
    return MFU_OK;
}

MfuResult ModelFirmwareUpdate::initialize()
{
    if (m_setup != MFU_LINK_SET_ALL)
        return MFU_E_FAIL;
    setStatus("OK : INITIALIZED");
    m_linkState = MFU_LINK_IDLE;
    return MFU_OK;
}

MfuResult ModelFirmwareUpdate::connect()
{
    if (m_linkState != MFU_LINK_IDLE && m_linkState != MFU_LINK_CONNECTING)
        return MFU_E_FAIL;
    releaseSocket();
    m_socket = std::make_unique<VCOM::VComTcpClientSocket>();
    m_socket->attach(static_cast<int32_t>(m_index), this);
    const VCOM::VComResult rc = m_socket->connect(m_pcAddress, m_unitAddress, MFU_UNIT_PORT);
    if (rc < 0) {
        releaseSocket();
        return rc;
    }
    m_lost = false;
    m_linkState = MFU_LINK_CONNECTING;
    setStatus("CONNECTING");
    return MFU_OK;
}

MfuResult ModelFirmwareUpdate::disconnect()
{
    if (m_linkState < MFU_LINK_CONNECTING || m_linkState > MFU_LINK_DISCONNECTING)
        return MFU_E_FAIL;
    m_linkState = MFU_LINK_DISCONNECTING;
    setStatus("DISCONNECTING");
    // A socket the service already closed sends no more events: nothing is
    // left to wait for.
    if (!m_socket || m_socket->disconnect() < 0) {
        releaseSocket();
        m_linkState = MFU_LINK_IDLE;
        setStatus("OK : DISCONNECTED");
    }
    return MFU_OK;
}

MfuResult ModelFirmwareUpdate::poll()
{
    if (!m_socket)
        return MFU_OK;
    const VCOM::VComResult rc = m_socket->processEvents(this);
    return rc == VCOM::VCOM_E_STATE ? MFU_OK : rc;
}

MfuResult ModelFirmwareUpdate::erase()
{
    char name[MFU_SUB_IMAGE_MAX];
    if (subImage(name, sizeof(name)))
        return m_protocol.sendCommand(CMD_TYPE_ERASE_SUB, name);
    return m_protocol.sendCommand(CMD_TYPE_ERASE);
}

MfuResult ModelFirmwareUpdate::transfer()
{
    if (m_linkState != MFU_LINK_CONNECTED)
        return MFU_E_FAIL;
    ITransferProtocol* transfer = m_protocol.transfer();
    const MfuResult started = transfer ? transfer->start() : MFU_E_FAIL;
    if (started < 0) {
        mfu_log("[Error] Build Transferer");
        return started;
    }
    char name[MFU_SUB_IMAGE_MAX];
    if (subImage(name, sizeof(name)))
        return m_protocol.sendCommand(CMD_TYPE_FILEPUT_SUB, name);
    if (mfu_pullsByTftp(m_protocol.productName()))
        return m_protocol.sendCommand(CMD_TYPE_REQUEST_GET, requestUrl().c_str());
    return m_protocol.sendCommand(CMD_TYPE_FILEPUT);
}

std::string ModelFirmwareUpdate::requestUrl() const
{
    const uint8_t* a = m_pcAddress.record().addr;
    char text[64];
    snprintf(text, sizeof(text), "tftp://%d.%d.%d.%d:1999/", a[0], a[1], a[2], a[3]);
    const std::string path(m_filePath);
    const size_t cut = path.find_last_of("\\/");
    return text + (cut == std::string::npos ? path : path.substr(cut + 1));
}

MfuResult ModelFirmwareUpdate::startWrite()
{
    if (m_linkState != MFU_LINK_CONNECTED)
        return MFU_E_FAIL;
    return m_protocol.sendCommand(CMD_TYPE_START_WRITE);
}

MfuResult ModelFirmwareUpdate::writeCheck()
{
    if (m_protocol.writeElapsedMs() > MFU_WRITE_SILENCE_MS) {
        mfu_log("[Error] WRITE Timeout (No Response)");
        return MFU_E_FAIL;
    }
    const MfuResult rc = getUpdateState();
    if (mfu_pullsByTftp(m_protocol.productName()))
        m_protocol.receive();
    return rc;
}

int32_t ModelFirmwareUpdate::compareVersion() const
{
    return mfu_compareVersion(m_packageVersion, m_protocol.version());
}

int32_t ModelFirmwareUpdate::checkModel(const uint32_t* accepted) const
{
    return mfu_checkModel(m_protocol.productName(), m_expectedModel, accepted);
}

bool ModelFirmwareUpdate::subImage(char* name, size_t size) const
{
    return mfu_subImage(m_protocol.productName(), m_protocol.version(), m_packageVersion, name, size);
}

int32_t ModelFirmwareUpdate::wakeup(uint16_t, VCOM::IVCom*)
{
    return m_target ? m_target->wake(m_index) : MFU_E_FAIL;
}

int32_t ModelFirmwareUpdate::OnConnected(int32_t, uint8_t)
{
    if (m_linkState != MFU_LINK_CONNECTING) {
        m_errorCode = MFU_LINK_ERR_STATE;
        return MFU_E_FAIL;
    }
    if (m_protocol.setSocket(m_socket.get()) < 0 || m_protocol.setFilePath(m_filePath) < 0) {
        setStatus("NG : BUILDING UPDATE PROTOCOL");
        return MFU_E_FAIL;
    }
    m_linkState = MFU_LINK_CONNECTED;
    setStatus("CONNECTED");
    return MFU_OK;
}

int32_t ModelFirmwareUpdate::OnConnectionFailed(int32_t, uint8_t, int32_t)
{
    setStatus("NG : CONNECTION FAILED");
    m_errorCode = MFU_LINK_ERR_CONNECTION;
    // A failed receive ends a connection that stood.
    if (m_linkState == MFU_LINK_CONNECTED)
        m_lost = true;
    m_protocol.clearSocket();
    return MFU_OK;
}

int32_t ModelFirmwareUpdate::OnDisconnected(int32_t, uint8_t)
{
    m_protocol.clearSocket();
    if (m_linkState == MFU_LINK_DISCONNECTING) {
        m_linkState = MFU_LINK_IDLE;
        setStatus("OK : DISCONNECTED");
        return MFU_OK;
    }
    m_errorCode = MFU_LINK_ERR_STATE;
    m_lost = true;
    return MFU_OK;
}

int32_t ModelFirmwareUpdate::OnReceive(int32_t, uint8_t)
{
    return m_protocol.receive();
}

int32_t ModelFirmwareUpdate::OnCommunicationFailed(int32_t, uint8_t, int32_t)
{
    m_errorCode = MFU_LINK_ERR_STATE;
    m_lost = true;
    return MFU_OK;
}
