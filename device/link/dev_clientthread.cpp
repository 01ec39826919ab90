#include "device/link/dev_clientthread.h"

#include "device/memory/dev_memthread.h"

#include <QElapsedTimer>

#include <chrono>

namespace Quil {

ScpClientThread::ScpClientThread(const QString& ip, uint16_t port, const QString& localAddress, ModelType deviceType,
    const DevCommTimings& timings, QObject* parent)
    : QThread(parent)
    , m_device(ip, port, localAddress, deviceType, timings)
{
    m_device.setRunMutex(&m_runMutex);
    connect(&m_device, &ScpDevice::connected, this, &ScpClientThread::connected);
    connect(&m_device, &ScpDevice::disconnected, this, &ScpClientThread::disconnected);
    registerMemListener(this);
    m_bindResult = m_device.bindWakeup(this);
    // Last: the loop must never see a device without its client.
    start(QThread::InheritPriority);
}

ScpClientThread::~ScpClientThread()
{
    unregisterMemListener(this);
    {
        std::lock_guard<JLIB::OwnedMutex> lock(m_runMutex);
        m_device.detachMemory();
    }
    {
        std::lock_guard<JLIB::OwnedMutex> lock(m_runMutex);
        m_device.disconnectFromDevice();
    }
    {
        std::lock_guard<JLIB::OwnedMutex> lock(m_runMutex);
        m_stop = true;
    }
    // Through the flags, so that a loop about to wait sees it.
    raise(WAKE_STOP);
    wait();
    // The loop's last pass ended under the run mutex: taking it once more
    // orders everything the thread did before the device goes.
    std::lock_guard<JLIB::OwnedMutex> lock(m_runMutex);
}

int32_t ScpClientThread::wakeup(uint16_t, VCOM::IVCom*)
{
    raise(WAKE_SOCKET);
    return 0;
}

void ScpClientThread::slotMemChanged()
{
    raise(WAKE_MEMORY);
}

void ScpClientThread::raise(uint32_t flags)
{
    bool waiting = false;
    {
        std::lock_guard<std::mutex> lock(m_flagsMutex);
        m_flags |= flags;
        // One signal wakes the loop; later raises before it runs need none.
        waiting = m_waiting;
        m_waiting = false;
    }
    if (waiting)
        m_wake.notify_one();
}

uint32_t ScpClientThread::takeFlags()
{
    std::lock_guard<std::mutex> lock(m_flagsMutex);
    const uint32_t flags = m_flags;
    m_flags = 0;
    return flags;
}

uint32_t ScpClientThread::waitFlags(std::unique_lock<JLIB::OwnedMutex>& run, int ms)
{
    run.unlock();
    uint32_t flags = 0;
    {
        std::unique_lock<std::mutex> lock(m_flagsMutex);
        if (m_flags == 0) {
            m_waiting = true;
            m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_flags != 0; });
            m_waiting = false;
        }
        flags = m_flags;
        m_flags = 0;
    }
    run.lock();
    return flags;
}

void ScpClientThread::run()
{
    const DevCommTimings& t = m_device.timings();
    QElapsedTimer stepTimer;
    QElapsedTimer meterTimer;
    stepTimer.start();
    meterTimer.start();
    for (;;) {
        // Taken and given up every pass, so a link under steady traffic
        // still lets the GUI thread in.
        std::unique_lock<JLIB::OwnedMutex> lock(m_runMutex);
        if (m_stop)
            break;
        uint32_t flags = takeFlags();
        if (flags == 0) {
            flags = waitFlags(lock, t.waitMs);
            if (m_stop)
                break;
        }
        if (stepTimer.elapsed() > t.keepAliveStepMs) {
            m_device.keepAliveTick();
            stepTimer.restart();
        }
        if (meterTimer.elapsed() > t.meterRenewalMs) {
            // Acted on in the next pass.
            raise(WAKE_METERS);
            meterTimer.restart();
        }
        if (flags & WAKE_SOCKET)
            m_device.dispatchSocketEvents();
        if (flags & WAKE_MEMORY)
            m_device.sendChanged();
        if (flags & WAKE_METERS)
            m_device.renewMeters();
        m_device.serviceDeadlines();
    }
}

} // namespace Quil
