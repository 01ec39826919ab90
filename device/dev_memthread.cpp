#include "device/dev_memthread.h"

#include "device/dev_archiver.h"

#include <memory>

namespace Quil {

MemThread::MemThread(QObject* parent)
    : QThread(parent)
{
}

MemThread::~MemThread()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    wait();
    // The thread's last step released this lock: taking it once more orders
    // everything the loop did before the members go (QThread's own join is
    // invisible to the race detector).
    std::lock_guard<std::mutex> guard(m_lock);
}

JResult MemThread::wakeup()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_pending = true;
    }
    m_wake.notify_all();
    return DEV_OK;
}

void MemThread::run()
{
    std::unique_lock<std::mutex> lock(m_lock);
    while (!m_stop) {
        if (m_pending) {
            // Taken before the emission: a wake-up during it sets the flag
            // again and the loop runs once more.
            m_pending = false;
            emit signalMemChanged();
            continue;
        }
        m_wake.wait(lock, [this] { return m_pending || m_stop; });
    }
    m_pending = false;
}

namespace {

std::mutex& instanceLock()
{
    static std::mutex lock;
    return lock;
}

std::unique_ptr<MemThread>& instance()
{
    static std::unique_ptr<MemThread> thread;
    return thread;
}

} // namespace

JResult createMemThread()
{
    std::lock_guard<std::mutex> guard(instanceLock());
    if (instance())
        return DEV_E_FAIL;
    instance() = std::make_unique<MemThread>();
    instance()->start();
    return DEV_OK;
}

JResult destroyMemThread()
{
    std::unique_ptr<MemThread> thread;
    {
        std::lock_guard<std::mutex> guard(instanceLock());
        thread = std::move(instance());
    }
    // Joined outside the lock: the thread's last emission needs no lock of ours.
    thread.reset();
    return DEV_OK;
}

JResult registerMemArchiver(MMSArchiver* archiver)
{
    std::lock_guard<std::mutex> guard(instanceLock());
    if (!instance() || !archiver)
        return DEV_E_FAIL;
    const bool connected
        = QObject::connect(archiver, &MMSArchiver::update, instance().get(), &MemThread::wakeup, Qt::QueuedConnection);
    return connected ? DEV_OK : DEV_E_FAIL;
}

JResult registerMemListener(QObject* receiver)
{
    std::lock_guard<std::mutex> guard(instanceLock());
    if (!instance() || !receiver)
        return DEV_E_FAIL;
    const bool connected
        = QObject::connect(instance().get(), SIGNAL(signalMemChanged()), receiver, SLOT(slotMemChanged()));
    return connected ? DEV_OK : DEV_E_FAIL;
}

JResult unregisterMemListener(QObject* receiver)
{
    std::lock_guard<std::mutex> guard(instanceLock());
    if (!instance() || !receiver)
        return DEV_E_FAIL;
    const bool disconnected
        = QObject::disconnect(instance().get(), SIGNAL(signalMemChanged()), receiver, SLOT(slotMemChanged()));
    return disconnected ? DEV_OK : DEV_E_FAIL;
}

} // namespace Quil
