// The blink timer: one process-wide 50 ms sequencer of the GUI thread (40
// steps, a 2-second cycle) that every blinking indicator follows, so that
// all LEDs of all panels flash in step.
//
// The timer is made on first use once the application object exists and is
// deleted while that object is being destroyed (before the event dispatcher
// goes); without an application object there is no timer and the functions
// below report failure or "off".
#pragma once

#include <QTimer>

#include <cstdint>

namespace Quil {

constexpr int32_t BLINK_OK = 0;
constexpr int32_t BLINK_E_FAIL = static_cast<int32_t>(0x80000000u);

// The length of one blink step.
constexpr int BLINK_INTERVAL_MS = 50;
// Steps in one blink cycle.
constexpr uint32_t BLINK_STEPS = 40;

class BlinkTimer : public QTimer {
    Q_OBJECT
public:
    explicit BlinkTimer(QObject* parent = nullptr);

    // Connects the timer's own timeout to onTimeout; only the first call
    // wires, a second is refused (false) so the sequence never double-steps.
    bool wire();
    bool isWired() const { return m_wired; }
    // The current step, 0..39.
    uint32_t step() const { return m_step; }

signals:
    void stateChanged(uint32_t state);

public slots:
    // Advances one step (39 wraps to 0) and emits stateChanged with it.
    void onTimeout();

private:
    bool m_wired = false;
    uint32_t m_step = 0;
};

// The process-wide timer; null when there is no application object.
BlinkTimer* blinkTimer();

// Sets the interval to 50 ms, wires and starts the timer. Only the first call
// per application does anything; every call returns BLINK_OK (BLINK_E_FAIL
// without an application).
int32_t startBlinkTimer();

// Connects the blink timer's stateChanged(uint32_t) to `slot` of `receiver`
// (a SLOT() or SIGNAL() signature) with the automatic connection type.
// BLINK_OK, or BLINK_E_FAIL when there is no timer or Qt refuses.
int32_t connectBlinkTimer(const QObject* receiver, const char* slot);
// The same for a member function of the receiver taking the step.
template <class Receiver> int32_t connectBlinkTimer(const Receiver* receiver, void (Receiver::*slot)(uint32_t))
{
    BlinkTimer* timer = blinkTimer();
    if (!timer || !receiver || !slot)
        return BLINK_E_FAIL;
    return QObject::connect(timer, &BlinkTimer::stateChanged, receiver, slot) ? BLINK_OK : BLINK_E_FAIL;
}

// Whether blink pattern `pattern` is on at `step` (pure): 1 is always on,
// 2 to 5 follow their 40-bit strings, every other value is always off.
bool blinkPatternOn(int pattern, uint32_t step);
// blinkPatternOn at the blink timer's current step (step 0 without a timer).
bool blinkPhase(int pattern);

} // namespace Quil
