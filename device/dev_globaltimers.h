// The two process-wide 50 ms timers of the GUI thread: the meter timer, which
// makes every unit's meters emit, and the blink timer, the 2-second sequencer
// (40 steps of 50 ms) that every blinking indicator follows so that all LEDs
// of all panels flash in step.
//
// Both timers are made on first use once the application object exists, and
// are deleted while that object is being destroyed (before the event
// dispatcher goes); without an application object there are no timers and
// the functions below report failure or "off".
#pragma once

#include <QTimer>

#include <cstdint>

namespace Quil {

constexpr int32_t GTIMER_OK = 0;
constexpr int32_t GTIMER_E_FAIL = static_cast<int32_t>(0x80000000u);

// Interval of both timers, and the length of one blink step.
constexpr int GTIMER_INTERVAL_MS = 50;
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

// The process-wide timers; null when there is no application object.
BlinkTimer* blinkTimer();
QTimer* meterTimer();

// Made by the program's start-up; holds no data.
class GlobalTimer {
public:
    // Sets both intervals to 50 ms, wires the blink timer and starts the meter
    // timer, then the blink timer. Only the first call per application does
    // anything; every call returns 0 (GTIMER_E_FAIL without an application).
    int32_t startGlobalTimers();
};

// Connects the blink timer's stateChanged(uint32_t) to `slot` of `receiver`
// (a SLOT() or SIGNAL() signature) with the automatic connection type.
// GTIMER_OK, or GTIMER_E_FAIL when there is no timer or Qt refuses.
int32_t connectBlinkTimer(const QObject* receiver, const char* slot);

// Whether blink pattern `pattern` is on at `step` (pure): 1 is always on,
// 2 to 5 follow their 40-bit strings, every other value is always off.
bool blinkPatternOn(int pattern, uint32_t step);
// blinkPatternOn at the blink timer's current step (step 0 without a timer).
bool blinkPhase(int pattern);

} // namespace Quil
