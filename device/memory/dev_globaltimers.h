// The process-wide 50 ms meter timer of the GUI thread, which makes every
// unit's meters emit. (The blink timer of the indicators is a widget's
// concern: ui/widgets/blinktimer.h.)
//
// The timer is made on first use once the application object exists, and is
// deleted while that object is being destroyed (before the event dispatcher
// goes); without an application object there is no timer and the functions
// below report failure.
#pragma once

#include <QTimer>

#include <cstdint>

namespace Quil {

constexpr int32_t GTIMER_OK = 0;
constexpr int32_t GTIMER_E_FAIL = static_cast<int32_t>(0x80000000u);

// Interval of the meter timer.
constexpr int GTIMER_INTERVAL_MS = 50;

// The process-wide timer; null when there is no application object.
QTimer* meterTimer();

// Made by the program's start-up; holds no data.
class GlobalTimer {
public:
    // Sets the meter timer's interval to 50 ms and starts it. Only the first
    // call per application does anything; every call returns 0
    // (GTIMER_E_FAIL without an application).
    int32_t startGlobalTimers();
};

} // namespace Quil
