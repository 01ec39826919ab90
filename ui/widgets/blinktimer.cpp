#include "ui/widgets/blinktimer.h"

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

// A raw pointer, not a static QObject: the timer must die with the
// application object (a post routine runs first thing in its destructor),
// never at exit.
struct Blink {
    QPointer<QCoreApplication> app;
    BlinkTimer* timer = nullptr;
    bool started = false;
};

Blink& blink()
{
    static Blink b;
    return b;
}

void destroyBlink()
{
    delete blink().timer;
    blink() = Blink{};
}

// Makes the timer for the current application object, once.
Blink* ensureBlink()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return nullptr;
    Blink& b = blink();
    if (b.app != app) {
        if (b.app.isNull() && b.timer)
            destroyBlink(); // left from an application that is gone
        b.app = app;
        b.timer = new BlinkTimer;
        qAddPostRoutine(destroyBlink);
    }
    return &b;
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
    Blink* b = ensureBlink();
    return b ? b->timer : nullptr;
}

int32_t startBlinkTimer()
{
    Blink* b = ensureBlink();
    if (!b)
        return BLINK_E_FAIL;
    if (b->started)
        return BLINK_OK;
    b->timer->wire();
    b->timer->setInterval(BLINK_INTERVAL_MS);
    b->timer->start();
    b->started = true;
    return BLINK_OK;
}

int32_t connectBlinkTimer(const QObject* receiver, const char* slot)
{
    BlinkTimer* timer = blinkTimer();
    if (!timer || !receiver || !slot)
        return BLINK_E_FAIL;
    const bool ok = QObject::connect(timer, SIGNAL(stateChanged(uint32_t)), receiver, slot, Qt::AutoConnection);
    return ok ? BLINK_OK : BLINK_E_FAIL;
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
