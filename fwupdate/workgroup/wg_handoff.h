// Hand-offs between the workgroup threads through Qt's event queue, made
// visible to the race detector: Qt's queue runs on locks it cannot see, so
// every post takes one standard mutex, and every receiver takes it once
// before it reads what it was handed.
#pragma once

#include <QEvent>
#include <QMetaObject>
#include <QObject>

#include <mutex>

namespace WG {

std::mutex& handoffLock();

// Posts event to target (which takes ownership).
void postHandoff(QObject* target, QEvent* event);

// First step of a receiver of posted events (customEvent).
inline void acceptHandoff()
{
    std::lock_guard<std::mutex> guard(handoffLock());
}

// Runs work on context's thread, later.
template <typename Work> void queueHandoff(QObject* context, Work work)
{
    std::lock_guard<std::mutex> guard(handoffLock());
    QMetaObject::invokeMethod(
        context,
        [work]() mutable {
            acceptHandoff();
            work();
        },
        Qt::QueuedConnection);
}

} // namespace WG
