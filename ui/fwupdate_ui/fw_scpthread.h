// ScpClientThread_fwUpdate: the thread of one firmware-update connection.
// Its loop owns the ScpDevice_fwUpdate: it dispatches socket events and
// steps the keep-alive under the run lock, which it gives up while it waits
// and at the end of every pass, so the row's calls on the GUI thread run
// between two passes and never beside a dispatch.
//
// Lock order: run lock, then flags lock. The socket service's wake-up takes
// the flags lock only, so it never waits for a pass to end.
#pragma once

#include "ui/fwupdate_ui/fw_scpdevice.h"

#include <QThread>

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace Quil {

// The loop's longest wait, and the keep-alive step.
constexpr int FWSCP_WAIT_MS = 50;
constexpr int FWSCP_KEEPALIVE_STEP_MS = 100;
// Wake flag: the socket has events to dispatch.
constexpr uint32_t FWSCP_WAKE_SOCKET = 0x02;

class ScpClientThread_fwUpdate : public QThread, public VCOM::IVComWakeupFunction {
    Q_OBJECT

public:
    ScpClientThread_fwUpdate(uint id, const QString& address, uint16_t port, const QString& localAddress,
        int deviceType, QObject* parent = nullptr);
    // Disconnects, stops the loop and joins it; then the connection goes.
    ~ScpClientThread_fwUpdate() override;

    JResult connectNetwork();
    JResult disconnectNetwork();
    bool isAssociated();
    // Leaves value unchanged for a tag the unit never reported; always 0.
    JResult getDeviceInfo(const QString& tag, QString& value);
    virtual JResult setFWUpdateMode(bool on);
    virtual JResult requestFWUpdateMode();
    virtual JResult sendDanteUpdateProgress(unsigned value);

    uint id() const { return m_id; }

    // VCOM::IVComWakeupFunction: the socket has pending events.
    int32_t wakeup(uint16_t ownerTaskId, VCOM::IVCom* socket) override;

signals:
    void connected(uint id);
    void disconnected(uint id);
    void associated(uint id);
    void receiveFWUpdateMode(uint value);
    void receiveFWUpdateProgress(uint value);
    void receiveFWUpdatemodeChanged(bool isOn);
    // For the row's wiring; the connection itself never times out.
    void connectionTimeout(uint id);

protected:
    void run() override;

private:
    uint32_t takeFlags();

    const uint m_id;
    std::mutex m_flagsLock;
    std::mutex m_runLock;
    std::condition_variable m_wake;
    bool m_stop = false; // under the run lock
    uint32_t m_flags = 0; // under the flags lock
    ScpDevice_fwUpdate m_device;
};

} // namespace Quil
