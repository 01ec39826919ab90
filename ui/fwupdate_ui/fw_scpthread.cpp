#include "ui/fwupdate_ui/fw_scpthread.h"

#include <QElapsedTimer>

#include <chrono>

namespace Quil {

ScpClientThread_fwUpdate::ScpClientThread_fwUpdate(
    uint id, const QString& address, uint16_t port, const QString& localAddress, int deviceType, QObject* parent)
    : QThread(parent)
    , m_id(id)
    , m_device(id, address, port, localAddress, deviceType)
{
    connect(&m_device, &ScpDevice_fwUpdate::connected, this, &ScpClientThread_fwUpdate::connected);
    connect(&m_device, &ScpDevice_fwUpdate::disconnected, this, &ScpClientThread_fwUpdate::disconnected);
    // associated is also the name of the client observer's operation.
    connect(&m_device, qOverload<uint>(&ScpDevice_fwUpdate::associated), this, &ScpClientThread_fwUpdate::associated);
    connect(&m_device, &ScpDevice_fwUpdate::receiveFWUpdateMode, this, &ScpClientThread_fwUpdate::receiveFWUpdateMode);
    connect(&m_device, &ScpDevice_fwUpdate::receiveFWUpdateProgress, this,
        &ScpClientThread_fwUpdate::receiveFWUpdateProgress);
    connect(&m_device, &ScpDevice_fwUpdate::receiveFWUpdatemodeChanged, this,
        &ScpClientThread_fwUpdate::receiveFWUpdatemodeChanged);
    // Before the loop runs, so it never sees a connection without its client.
    m_device.attach(this);
    start(QThread::InheritPriority);
}

ScpClientThread_fwUpdate::~ScpClientThread_fwUpdate()
{
    {
        std::lock_guard<std::mutex> lock(m_runLock);
        m_device.disconnectNetwork();
    }
    {
        std::lock_guard<std::mutex> lock(m_runLock);
        m_stop = true;
    }
    m_wake.notify_all();
    wait();
    // The loop's last pass ended under the run lock: taking it once more
    // orders everything the thread did before the connection goes.
    std::lock_guard<std::mutex> lock(m_runLock);
}

JResult ScpClientThread_fwUpdate::connectNetwork()
{
    std::lock_guard<std::mutex> lock(m_runLock);
    return m_device.connectNetwork();
}

JResult ScpClientThread_fwUpdate::disconnectNetwork()
{
    std::lock_guard<std::mutex> lock(m_runLock);
    return m_device.disconnectNetwork();
}

bool ScpClientThread_fwUpdate::isAssociated()
{
    std::lock_guard<std::mutex> lock(m_runLock);
    return m_device.state() == ScpDevice_fwUpdate::State::Associated;
}

JResult ScpClientThread_fwUpdate::getDeviceInfo(const QString& tag, QString& value)
{
    // The map has its own lock: no need to wait for a pass to end.
    return m_device.get(tag, value);
}

JResult ScpClientThread_fwUpdate::setFWUpdateMode(bool on)
{
    std::lock_guard<std::mutex> lock(m_runLock);
    return m_device.setFWUpdateMode(on);
}

JResult ScpClientThread_fwUpdate::requestFWUpdateMode()
{
    std::lock_guard<std::mutex> lock(m_runLock);
    return m_device.requestFWUpdateMode();
}

JResult ScpClientThread_fwUpdate::sendDanteUpdateProgress(unsigned value)
{
    std::lock_guard<std::mutex> lock(m_runLock);
    return m_device.sendDanteUpdateProgress(value);
}

int32_t ScpClientThread_fwUpdate::wakeup(uint16_t, VCOM::IVCom*)
{
    {
        std::lock_guard<std::mutex> lock(m_flagsLock);
        m_flags |= FWSCP_WAKE_SOCKET;
    }
    m_wake.notify_all();
    return 0;
}

uint32_t ScpClientThread_fwUpdate::takeFlags()
{
    std::lock_guard<std::mutex> lock(m_flagsLock);
    const uint32_t flags = m_flags;
    m_flags = 0;
    return flags;
}

void ScpClientThread_fwUpdate::run()
{
    QElapsedTimer stepTimer;
    stepTimer.start();
    for (;;) {
        // Given up at the end of every pass, so steady traffic still lets
        // the row's calls in.
        std::unique_lock<std::mutex> lock(m_runLock);
        if (m_stop)
            break;
        uint32_t flags = takeFlags();
        if (flags == 0) {
            // A wake between the take and the wait costs at most one wait.
            m_wake.wait_for(lock, std::chrono::milliseconds(FWSCP_WAIT_MS));
            if (m_stop)
                break;
            flags = takeFlags();
        }
        if (stepTimer.elapsed() > FWSCP_KEEPALIVE_STEP_MS) {
            m_device.keepAliveTick();
            stepTimer.restart();
        }
        if (flags & FWSCP_WAKE_SOCKET)
            m_device.dispatchSocketEvents();
    }
}

} // namespace Quil
