#include "device/memory/dev_memthread.h"

#include "device/memory/dev_mmsarchiver.h"

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

namespace {

// Runs one connection change against the instance under its lock; Qt's
// answer (connected or disconnected) becomes 0 or DEV_E_FAIL.
template <class Change> JResult withInstance(const QObject* other, Change change)
{
    std::lock_guard<std::mutex> guard(instanceLock());
    if (!instance() || !other)
        return DEV_E_FAIL;
    return change(instance().get()) ? DEV_OK : DEV_E_FAIL;
}

} // namespace

JResult registerMemArchiver(MMSArchiver* archiver)
{
    return withInstance(archiver, [&](MemThread* thread) {
        return static_cast<bool>(
            QObject::connect(archiver, &MMSArchiver::update, thread, &MemThread::wakeup, Qt::QueuedConnection));
    });
}

JResult registerMemListener(QObject* receiver)
{
    return withInstance(receiver, [&](MemThread* thread) {
        return static_cast<bool>(
            QObject::connect(thread, SIGNAL(signalMemChanged()), receiver, SLOT(slotMemChanged())));
    });
}

JResult unregisterMemListener(QObject* receiver)
{
    return withInstance(receiver, [&](MemThread* thread) {
        return QObject::disconnect(thread, SIGNAL(signalMemChanged()), receiver, SLOT(slotMemChanged()));
    });
}

} // namespace Quil
