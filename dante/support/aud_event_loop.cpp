#include "dante/support/aud_event_loop.h"

// There is no loop to hand anything to: every request is refused, whatever
// its arguments, and no timer or registration ever exists.

aud_error aud_timer_start_periodic(aud_event_loop*, aud_timer_fn, const aud_time*, const aud_time*, void*, aud_timer**)
{
    return AUD_INVALIDPARAMETER;
}

aud_error aud_timer_start_once(aud_event_loop*, aud_timer_fn, const aud_time*, const aud_time*, void*, aud_timer**)
{
    return AUD_INVALIDPARAMETER;
}

aud_error aud_timer_new_stopped(aud_event_loop*, aud_timer_fn, void*, aud_timer**)
{
    return AUD_INVALIDPARAMETER;
}

aud_error aud_timer_restart_periodic(aud_timer*, const aud_time*, const aud_time*)
{
    return AUD_INVALIDPARAMETER;
}

aud_error aud_timer_restart_once(aud_timer*, const aud_time*, const aud_time*)
{
    return AUD_INVALIDPARAMETER;
}

aud_error aud_timer_stop(aud_timer*)
{
    return AUD_INVALIDPARAMETER;
}

aud_error aud_timer_delete(aud_timer*)
{
    return AUD_INVALIDPARAMETER;
}

const aud_time* aud_timer_expiry(const aud_timer*)
{
    return nullptr;
}

void* aud_timer_context(const aud_timer*)
{
    return nullptr;
}

aud_error aud_socket_watch(aud_event_loop*, aud_socket, unsigned, aud_socket_watch_fn, void*, unsigned)
{
    return AUD_INVALIDPARAMETER;
}
