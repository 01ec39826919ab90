#include "fwupdate/workgroup/wg_handoff.h"

#include <QCoreApplication>

namespace WG {

std::mutex& handoffLock()
{
    static std::mutex lock;
    return lock;
}

void postHandoff(QObject* target, QEvent* event)
{
    std::lock_guard<std::mutex> guard(handoffLock());
    QCoreApplication::postEvent(target, event);
}

} // namespace WG
