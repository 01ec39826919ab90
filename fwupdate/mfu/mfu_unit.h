// The link to one unit during a model firmware update: the TCP socket to
// the unit's port 49552, its connection events, the embedded command link
// and one operation per step of the sequence, with the decisions that
// depend on the unit's model (push or pull, sub image, version compare).
//
// Threads: the socket service's thread only calls wakeup(), which wakes the
// MFU task for this unit's index; every other call, and every socket
// callback (delivered by poll()), runs on the MFU task.
#pragma once

#include "fwupdate/mfu/mfu_protocol.h"
#include "fwupdate/mfu/mfu_wakeup.h"
#include "pbd/vcom/vcom.h"

#include <memory>

// Link states.
constexpr uint32_t MFU_LINK_IDLE = 1;
constexpr uint32_t MFU_LINK_CONNECTING = 2;
constexpr uint32_t MFU_LINK_CONNECTED = 3;
constexpr uint32_t MFU_LINK_DISCONNECTING = 4;

// Error codes.
constexpr uint32_t MFU_LINK_ERR_CONNECTION = 1;
constexpr uint32_t MFU_LINK_ERR_STATE = 7;

constexpr uint32_t MFU_LINK_SET_PC = 1u << 0;
constexpr uint32_t MFU_LINK_SET_UNIT = 1u << 1;
constexpr uint32_t MFU_LINK_SET_FILE = 1u << 2;
constexpr uint32_t MFU_LINK_SET_WAKE = 1u << 3;
constexpr uint32_t MFU_LINK_SET_ALL = 0x0F;

constexpr uint32_t MFU_STATUS_MAX = 128;
constexpr uint32_t MFU_SUB_IMAGE_MAX = 32;

class ModelFirmwareUpdate : public VCOM::IVComWakeupFunction, public VCOM::IVComCallback {
public:
    ModelFirmwareUpdate();
    ~ModelFirmwareUpdate() override;
    ModelFirmwareUpdate(const ModelFirmwareUpdate&) = delete;
    ModelFirmwareUpdate& operator=(const ModelFirmwareUpdate&) = delete;

    MfuResult setPcAddress(const char* text);
    MfuResult setUnitAddress(const char* text);
    // Path of at most 259 characters, expected model code, package version
    // text of at most 15 characters.
    MfuResult setFile(const char* path, uint32_t expectedModel, const char* packageVersion);
    MfuResult setWakeTarget(MFUTaskWakeupIF* target, uint32_t index);
    // MFU_OK once all four are set ("OK : INITIALIZED", link state 1).
    MfuResult initialize();

    MfuResult connect();
    // Closes the socket in link states 2 to 4, whatever the command link is
    // doing (the sequence's last step must never leave it open).
    MfuResult disconnect();
    // Delivers the socket's events here; nothing open counts as success.
    MfuResult poll();
    // Closes and releases the socket at once (no more events or wake-ups).
    void release() { releaseSocket(); }

    MfuResult getProtocol() { return m_protocol.sendCommand(CMD_TYPE_GET_PROTOCOL); }
    MfuResult getProductName() { return m_protocol.sendCommand(CMD_TYPE_GET_PRODUCTNAME); }
    MfuResult getVersion() { return m_protocol.sendCommand(CMD_TYPE_GET_VERSION); }
    MfuResult getUpdateState() { return m_protocol.sendCommand(CMD_TYPE_GET_UPDATESTATE); }
    MfuResult erase();
    MfuResult transfer();
    MfuResult startWrite();
    // Fails once the unit has shown no sign of writing for 30 s; else asks
    // for the update state.
    MfuResult writeCheck();

    int32_t compareVersion() const;
    int32_t checkModel(const uint32_t* accepted) const;
    // The sub-image name when the unit has one.
    bool subImage(char* name, size_t size) const;
    // "tftp://a.b.c.d:1999/" + the file's name.
    std::string requestUrl() const;

    uint32_t linkState() const { return m_linkState; }
    uint32_t errorCode() const { return m_errorCode; }
    // The unit went away while connected (closed, reset or failed).
    bool unitLost() const { return m_lost; }
    bool initialized() const { return m_setup == MFU_LINK_SET_ALL; }
    const char* status() const { return m_status; }
    const char* pcAddressText() const { return m_pcText; }
    uint32_t expectedModel() const { return m_expectedModel; }
    FirmwareUpdateProtocol& protocol() { return m_protocol; }
    const FirmwareUpdateProtocol& protocol() const { return m_protocol; }

    // VCOM::IVComWakeupFunction (socket service's thread).
    int32_t wakeup(uint16_t ownerTaskId, VCOM::IVCom* socket) override;
    // VCOM::IVComCallback (from poll()).
    int32_t OnConnected(int32_t userId, uint8_t reserved) override;
    int32_t OnConnectionFailed(int32_t userId, uint8_t reserved, int32_t reason) override;
    int32_t OnDisconnected(int32_t userId, uint8_t reserved) override;
    int32_t OnReserved(int32_t, uint8_t, int32_t) override { return 0; }
    int32_t OnReceive(int32_t userId, uint8_t reserved) override;
    int32_t OnSend(int32_t, uint8_t) override { return 0; }
    int32_t OnCommunicationFailed(int32_t userId, uint8_t reserved, int32_t reason) override;

private:
    void setStatus(const char* text);
    void releaseSocket();

    uint32_t m_linkState = MFU_LINK_IDLE;
    uint32_t m_errorCode = 0;
    bool m_lost = false;
    uint32_t m_setup = 0;
    VCOM::VComSocketAddress m_pcAddress;
    VCOM::VComSocketAddress m_unitAddress;
    char m_pcText[16] = {};
    char m_filePath[MFU_FILE_PATH_MAX] = {};
    uint32_t m_expectedModel = 0;
    char m_packageVersion[MFU_VERSION_MAX] = {};
    MFUTaskWakeupIF* m_target = nullptr;
    uint32_t m_index = 0;
    char m_status[MFU_STATUS_MAX] = {};
    FirmwareUpdateProtocol m_protocol;
    std::unique_ptr<VCOM::VComTcpClientSocket> m_socket;
};
