#include "device/memory/dev_globaltimers.h"

#include <QCoreApplication>
#include <QPointer>

namespace Quil {
namespace {

// A raw pointer, not a static QObject: the timer must die with the
// application object (a post routine runs first thing in its destructor),
// never at exit.
struct Timers {
    QPointer<QCoreApplication> app;
    QTimer* meter = nullptr;
    bool started = false;
};

Timers& timers()
{
    static Timers t;
    return t;
}

void destroyTimers()
{
    delete timers().meter;
    timers() = Timers{};
}

// Makes the timer for the current application object, once.
Timers* ensureTimers()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return nullptr;
    Timers& t = timers();
    if (t.app != app) {
        if (t.app.isNull() && t.meter)
            destroyTimers(); // left from an application that is gone
        t.app = app;
        t.meter = new QTimer;
        qAddPostRoutine(destroyTimers);
    }
    return &t;
}

} // namespace

QTimer* meterTimer()
{
    Timers* t = ensureTimers();
    return t ? t->meter : nullptr;
}

int32_t GlobalTimer::startGlobalTimers()
{
    Timers* t = ensureTimers();
    if (!t)
        return GTIMER_E_FAIL;
    if (t->started)
        return GTIMER_OK;
    t->meter->setInterval(GTIMER_INTERVAL_MS);
    t->meter->start();
    t->started = true;
    return GTIMER_OK;
}

} // namespace Quil
