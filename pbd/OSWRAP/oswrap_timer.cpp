// Countdown and stopwatch timer records over the millisecond tick.
#include "pbd/OSWRAP/oswrap_internal.h"

using oswrap_detail::tickNow;

OswrapResult oswrap_clearTimer(OswrapTimer* timer)
{
    if (!timer)
        return OSWRAP_E_ID;
    timer->state = OSWRAP_TIMER_IDLE;
    return OSWRAP_OK;
}

OswrapResult oswrap_isTimerStarted(const OswrapTimer* timer)
{
    if (!timer)
        return OSWRAP_E_ID;
    return timer->state == OSWRAP_TIMER_IDLE ? OSWRAP_E_STATE : OSWRAP_OK;
}

OswrapResult oswrap_startTimer(OswrapTimer* timer, uint32_t durationMs)
{
    if (!timer)
        return OSWRAP_E_ID;
    if (timer->state == OSWRAP_TIMER_STOPWATCH)
        return OSWRAP_E_STATE;
    timer->start = tickNow();
    timer->duration = durationMs;
    timer->state = OSWRAP_TIMER_RUNNING;
    return OSWRAP_OK;
}

OswrapResult oswrap_checkTimer(OswrapTimer* timer)
{
    if (!timer)
        return OSWRAP_E_ID;
    if (timer->state == OSWRAP_TIMER_EXPIRED)
        return OSWRAP_TIMER_REACHED;
    if (timer->state != OSWRAP_TIMER_RUNNING)
        return OSWRAP_E_STATE;
    const uint32_t now = tickNow();
    const uint32_t elapsed = now - timer->start; // modulo 2^32 across the wrap
    if (now < timer->start && elapsed < timer->duration) {
        // The tick wrapped: rebase so that start is below now again.
        timer->start = now;
        timer->duration -= elapsed;
        return OSWRAP_OK;
    }
    if (elapsed >= timer->duration) {
        timer->state = OSWRAP_TIMER_EXPIRED;
        return OSWRAP_TIMER_REACHED;
    }
    return OSWRAP_OK;
}

OswrapResult oswrap_resetTimerStart(OswrapTimer* timer)
{
    if (!timer)
        return OSWRAP_E_ID;
    if (timer->state != OSWRAP_TIMER_IDLE && timer->state != OSWRAP_TIMER_STOPWATCH)
        return OSWRAP_E_STATE;
    timer->start = tickNow();
    return OSWRAP_OK;
}

OswrapResult oswrap_getElapsedTime(OswrapTimer* timer, uint32_t* elapsedMs, uint32_t limitMs)
{
    if (!timer || !elapsedMs)
        return OSWRAP_E_ID;
    if (timer->state != OSWRAP_TIMER_STOPWATCH)
        return OSWRAP_E_STATE;
    *elapsedMs = tickNow() - timer->start;
    return *elapsedMs >= limitMs ? OSWRAP_TIMER_REACHED : OSWRAP_OK;
}
