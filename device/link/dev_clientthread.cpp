#include "device/link/dev_clientthread.h"

#include "device/memory/dev_memthread.h"
#include "pbd/vsock/vsock.h"

#include <QElapsedTimer>

#include <chrono>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace Quil {

namespace {

// The link whose loop runs on this thread: its own raises need no signal.
thread_local const ScpClientThread* t_loop = nullptr;

} // namespace

ScpClientThread::ScpClientThread(const QString& ip, uint16_t port, const QString& localAddress, ModelType deviceType,
    const DevCommTimings& timings, QObject* parent)
    : QThread(parent)
    , m_device(ip, port, localAddress, deviceType, timings)
{
    m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_device.setRunMutex(&m_runMutex);
    m_device.setOwnerInput(m_wakeFd >= 0);
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
    if (m_wakeFd >= 0)
        close(m_wakeFd);
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
        // A raise on the loop's thread comes from inside its own wait (the
        // socket's input completed there), which returns by itself.
        waiting = m_waiting && t_loop != this;
        if (waiting)
            m_waiting = false;
    }
    if (!waiting)
        return;
    if (m_wakeFd < 0) {
        m_wake.notify_one();
        return;
    }
    const uint64_t one = 1;
    const ssize_t n = write(m_wakeFd, &one, sizeof one);
    (void)n; // a full counter already wakes
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
    // Looked up under the run mutex; a socket the GUI thread closes or
    // opens meanwhile costs this wait at most its time-out.
    const int socketId = m_device.inputSocketId();
    run.unlock();
    uint32_t flags = 0;
    {
        std::unique_lock<std::mutex> lock(m_flagsMutex);
        if (m_flags == 0) {
            m_waiting = true;
            if (m_wakeFd < 0) {
                m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_flags != 0; });
            } else {
                lock.unlock();
                sleepOnInput(socketId, ms);
                lock.lock();
            }
            m_waiting = false;
        }
        flags = m_flags;
        m_flags = 0;
    }
    run.lock();
    return flags;
}

void ScpClientThread::sleepOnInput(int socketId, int ms)
{
    // Input that arrives completes the socket's receive in here, and its
    // wake raises WAKE_SOCKET on this thread.
    if (vsock_waitInput(&socketId, nullptr, socketId >= 0 ? 1 : 0, m_wakeFd, ms) >= 0)
        return;
    // No socket service (and so no socket): the wake-up descriptor alone.
    pollfd fd{m_wakeFd, POLLIN, 0};
    if (poll(&fd, 1, ms) > 0) {
        uint64_t value = 0;
        const ssize_t n = read(m_wakeFd, &value, sizeof value);
        (void)n;
    }
}

void ScpClientThread::run()
{
    const DevCommTimings& t = m_device.timings();
    QElapsedTimer stepTimer;
    QElapsedTimer meterTimer;
    stepTimer.start();
    meterTimer.start();
    t_loop = this;
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
