// Quil::DevComm: the rack owner's handle on one unit's link. It lives in
// the GUI thread and owns the unit's ScpClientThread; the link itself is
// driven through the unit's memory (ConnectReq, DisconnectReq) and reports
// in ConnectionState.
#pragma once

#include "device/link/dev_clientthread.h"

#include <QObject>
#include <QString>

#include <memory>

namespace Quil {

class DevComm : public QObject {
    Q_OBJECT

public:
    DevComm(QObject* parent, const QString& deviceKey, const QString& ip, uint16_t port, const QString& modelName,
        ModelType deviceType, int slotIndex, const QString& localAddress,
        const DevCommTimings& timings = DevCommTimings());
    // Joins the unit's thread; the rack unmounts connections before their
    // device objects.
    ~DevComm() override;

    bool isConnected();
    JResult attachMemory(IZDev* device, int source);
    JResult detachMemory();

    const QString& deviceKey() const { return m_deviceKey; }
    const QString& ipAddress() const { return m_ip; }
    uint16_t port() const { return m_port; }
    const QString& modelName() const { return m_modelName; }
    int slotIndex() const { return m_slotIndex; }
    const QString& localAddress() const { return m_localAddress; }
    // Null only when it could not be made.
    ScpClientThread* clientThread() const { return m_thread.get(); }

signals:
    void connected();
    void disconnected();

private:
    QString m_deviceKey;
    QString m_ip;
    uint16_t m_port;
    QString m_modelName;
    int m_slotIndex;
    QString m_localAddress;
    std::unique_ptr<ScpClientThread> m_thread;
};

} // namespace Quil
