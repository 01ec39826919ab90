#include "device/dev_globaltimers.h"

#include <QCoreApplication>
#include <QPointer>

namespace Quil {
namespace {

// Forty steps, most significant bit first: bit (step % 8) of byte (step / 8).
constexpr uint8_t kPatterns[4][5] = {
    {0xFF, 0xC0, 0x0F, 0xFC, 0x00}, // 2: two 500 ms flashes
    {0xF8, 0x3E, 0x00, 0x00, 0x00}, // 3: two 250 ms flashes, then off
    {0xF0, 0xF0, 0xF0, 0x00, 0x00}, // 4: three 200 ms flashes, then off
    {0xE3, 0x8E, 0x38, 0x00, 0x00}, // 5: four 150 ms flashes, then off
};

// Raw pointers, not static QObjects: the timers must die with the application
// object (a post routine runs first thing in its destructor), never at exit.
struct Timers {
    QPointer<QCoreApplication> app;
    BlinkTimer* blink = nullptr;
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
    Timers& t = timers();
    delete t.blink;
    delete t.meter;
    t = Timers{};
}

// Makes the timers for the current application object, once.
Timers* ensureTimers()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return nullptr;
    Timers& t = timers();
    if (t.app != app) {
        if (t.app.isNull() && (t.blink || t.meter))
            destroyTimers(); // left from an application that is gone
        t.app = app;
        t.blink = new BlinkTimer;
        t.meter = new QTimer;
        qAddPostRoutine(destroyTimers);
    }
    return &t;
}

} // namespace

BlinkTimer::BlinkTimer(QObject* parent)
    : QTimer(parent)
{
}

bool BlinkTimer::wire()
{
    if (m_wired)
        return false;
    m_wired = static_cast<bool>(connect(this, &QTimer::timeout, this, &BlinkTimer::onTimeout));
    return m_wired;
}

void BlinkTimer::onTimeout()
{
    m_step = m_step + 1 < BLINK_STEPS ? m_step + 1 : 0;
    emit stateChanged(m_step);
}

BlinkTimer* blinkTimer()
{
    Timers* t = ensureTimers();
    return t ? t->blink : nullptr;
}

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
    t->blink->wire();
    t->blink->setInterval(GTIMER_INTERVAL_MS);
    t->meter->start();
    t->blink->start();
    t->started = true;
    return GTIMER_OK;
}

int32_t connectBlinkTimer(const QObject* receiver, const char* slot)
{
    BlinkTimer* timer = blinkTimer();
    if (!timer || !receiver || !slot)
        return GTIMER_E_FAIL;
    const bool ok = QObject::connect(timer, SIGNAL(stateChanged(uint32_t)), receiver, slot, Qt::AutoConnection);
    return ok ? GTIMER_OK : GTIMER_E_FAIL;
}

bool blinkPatternOn(int pattern, uint32_t step)
{
    if (pattern == 1)
        return true;
    if (pattern < 2 || pattern > 5 || step >= BLINK_STEPS)
        return false;
    return (kPatterns[pattern - 2][step / 8] >> (7 - step % 8)) & 1;
}

bool blinkPhase(int pattern)
{
    BlinkTimer* timer = blinkTimer();
    return blinkPatternOn(pattern, timer ? timer->step() : 0);
}

} // namespace Quil
