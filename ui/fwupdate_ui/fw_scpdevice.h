// ScpDevice_fwUpdate: the SCP connection a firmware-update unit row keeps
// with its unit. It owns the TCP socket, the SCP client and the protocol
// companions, learns the unit's name and version during negotiation, and
// carries the update-mode and progress values both ways.
//
// It lives on the GUI thread but works on its ScpClientThread_fwUpdate:
// every call is made under that thread's run lock, and the socket's events
// arrive on the connection thread. Signals are emitted there.
#pragma once

#include "pbd/vcom/vcom.h"
#include "scp/scp_client.h"
#include "ui/fwupdate_ui/fw_scpprotocol.h"

#include <QMap>
#include <QObject>
#include <QString>

#include <cstdint>
#include <mutex>

namespace Quil {

class ScpDevice_fwUpdate : public QObject,
                           public VCOM::IVComCallback,
                           public SCP::IScpSynchronizeObserver,
                           public IScpDeviceInfo {
    Q_OBJECT

public:
    enum class State { Idle = 0, Negotiating = 1, Associating = 2, Associated = 3, Disconnecting = 4 };

    ScpDevice_fwUpdate(uint id, const QString& address, uint16_t port, const QString& localAddress, int deviceType,
        QObject* parent = nullptr);
    ~ScpDevice_fwUpdate() override;
    ScpDevice_fwUpdate(const ScpDevice_fwUpdate&) = delete;
    ScpDevice_fwUpdate& operator=(const ScpDevice_fwUpdate&) = delete;

    // Makes and attaches the client; wakeup is told when the socket has
    // events. FWSCP_E_FAIL when no client could be made.
    JResult attach(VCOM::IVComWakeupFunction* wakeup);
    JResult connectNetwork();
    JResult disconnectNetwork();
    JResult keepAliveTick();
    // Runs the socket's pending events, then what had to wait until the
    // client was no longer on the stack.
    JResult dispatchSocketEvents();

    // Requests once associated; FWSCP_E_FAIL (nothing sent) before.
    JResult setFWUpdateMode(bool on);
    JResult requestFWUpdateMode();
    JResult sendDanteUpdateProgress(uint value);

    State state() const { return m_state; }
    uint id() const { return m_id; }
    int deviceType() const { return m_deviceType; }
    bool isTcpUp() const { return m_tcpUp != 0; }

    // VCOM::IVComCallback.
    int32_t OnConnected(int32_t userId, uint8_t reserved) override;
    int32_t OnConnectionFailed(int32_t userId, uint8_t reserved, int32_t reason) override;
    int32_t OnDisconnected(int32_t userId, uint8_t reserved) override;
    int32_t OnReserved(int32_t userId, uint8_t reserved, int32_t value) override;
    int32_t OnReceive(int32_t userId, uint8_t reserved) override;
    int32_t OnSend(int32_t userId, uint8_t reserved) override;
    int32_t OnCommunicationFailed(int32_t userId, uint8_t reserved, int32_t reason) override;

    // SCP::IScpSynchronizeObserver.
    JResult negotiated(SCP::ScpClient* client) override;
    JResult associated(SCP::ScpClient* client) override;
    JResult sequenceFailed(SCP::ScpClient* client, bool association, int32_t stepIndex, JResult result) override;

    // IScpDeviceInfo; set appends to what the tag holds.
    JResult set(const QString& tag, const QString& value) override;
    JResult get(const QString& tag, QString& value) override;

signals:
    void connected(uint id);
    void disconnected(uint id);
    void associated(uint id);
    void receiveFWUpdateMode(uint value);
    void receiveFWUpdateProgress(uint value);
    void receiveFWUpdatemodeChanged(bool isOn);

private:
    // The client's own reply handling answers a SET with an acknowledgement
    // only; this filter hands the value of a SET reply to the parameter
    // table as a GET reply's would be, then lets the client decide.
    class SetReplyTap : public SCP::ScpReceiveFilter {
    public:
        explicit SetReplyTap(ScpDevice_fwUpdate& owner)
            : m_owner(owner)
        {
        }
        bool filter(
            int32_t id, const SCP::ScpUnicodeStringTable& keys, const SCP::ScpUnicodeStringTable& values) override;
        void lineHandled(int32_t id) override;

    private:
        ScpDevice_fwUpdate& m_owner;
    };

    void setState(State state);
    // The link is gone: state 0, TCP down, one disconnected.
    void linkLost();
    void runDeferred();
    JResult request(int32_t index, const JLIB::JVariant* value);

    VCOM::IVComWakeupFunction* m_wakeup = nullptr;
    VCOM::VComTcpClientSocket m_socket;
    VCOM::VComSocketAddress m_remote;
    VCOM::VComSocketAddress m_local;
    uint m_id = 0;
    uint16_t m_port = 0;
    uint8_t m_tcpUp = 0;
    int m_deviceType = 0;
    SCP::ScpClient* m_client = nullptr;
    ScpParameter_fwUpdate m_parameter;
    ScpDeviceReporter_fwUpdate m_reporter{this};
    SCP::ScpMeterReporter m_meter;
    ScpNegoSeq_fwUpdate m_negotiation;
    ScpAssoSeq_fwUpdate m_association;
    std::mutex m_infoLock;
    QMap<QString, QString> m_info; // under m_infoLock
    State m_state = State::Idle;
    SetReplyTap m_tap{*this};
    // Work that must not run inside the client's own handling.
    bool m_closeDue = false;
    bool m_stopClientDue = false;
};

} // namespace Quil
