// The memory thread: one per process. Every unit's archiver wakes it
// (queued, so wakeup() runs on the thread that made it, the GUI thread);
// it answers with one signalMemChanged per run however many writes woke
// it, and every registered listener then pulls its own unit's marks.
#pragma once

#include "device/memory/dev_result.h"

#include <QThread>

#include <condition_variable>
#include <mutex>

namespace Quil {

class MMSArchiver;

class MemThread : public QThread {
    Q_OBJECT

public:
    explicit MemThread(QObject* parent = nullptr);
    // Stops the loop and joins the thread.
    ~MemThread() override;

signals:
    void signalMemChanged();

public slots:
    JResult wakeup();

protected:
    void run() override;

private:
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_pending = false;
    bool m_stop = false;
};

// The process-wide memory thread; each answers 0 or DEV_E_FAIL.
// Made and started once (DEV_E_FAIL when it exists already).
JResult createMemThread();
// Forgets and deletes it (the thread is stopped and joined).
JResult destroyMemThread();
// archiver.update -> wakeup, queued.
JResult registerMemArchiver(MMSArchiver* archiver);
// signalMemChanged -> receiver's slotMemChanged(), automatic type.
JResult registerMemListener(QObject* receiver);
// DEV_E_FAIL when nothing was connected.
JResult unregisterMemListener(QObject* receiver);

} // namespace Quil
