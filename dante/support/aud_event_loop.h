// The event-loop interface through which clients may hand their sockets and
// timers to a shared loop. No loop is ever made on this platform (the agent
// polls each client's sockets itself), so aud_env_event_loop() is always
// null and every operation here answers INVALIDPARAMETER without effect;
// clients test for the loop and take their own path instead.
#pragma once

#include "dante/support/aud_error.h"
#include "dante/support/aud_socket.h"
#include "dante/support/aud_time.h"

struct aud_event_loop;
struct aud_timer;

// reason 0: expired.
using aud_timer_fn = void (*)(unsigned reason, aud_timer* timer);
using aud_socket_watch_fn = void (*)(aud_socket s, void* context);

// Socket watch sets and modes.
constexpr unsigned AUD_WATCH_READ = 0;
constexpr unsigned AUD_WATCH_WRITE = 1;
constexpr unsigned AUD_WATCH_EXCEPTION = 2;
constexpr unsigned AUD_WATCH_ADD_OR_CHANGE = 0;
constexpr unsigned AUD_WATCH_CHANGE_ONLY = 1;
constexpr unsigned AUD_WATCH_ADD_ONLY = 2;

aud_error aud_timer_start_periodic(aud_event_loop* loop, aud_timer_fn fn, const aud_time* first, const aud_time* period,
    void* context, aud_timer** out);
aud_error aud_timer_start_once(
    aud_event_loop* loop, aud_timer_fn fn, const aud_time* at, const aud_time* delay, void* context, aud_timer** out);
aud_error aud_timer_new_stopped(aud_event_loop* loop, aud_timer_fn fn, void* context, aud_timer** out);
aud_error aud_timer_restart_periodic(aud_timer* timer, const aud_time* first, const aud_time* period);
aud_error aud_timer_restart_once(aud_timer* timer, const aud_time* at, const aud_time* delay);
aud_error aud_timer_stop(aud_timer* timer);
aud_error aud_timer_delete(aud_timer* timer);
// Null: no timer exists.
const aud_time* aud_timer_expiry(const aud_timer* timer);
void* aud_timer_context(const aud_timer* timer);

aud_error aud_socket_watch(
    aud_event_loop* loop, aud_socket s, unsigned set, aud_socket_watch_fn fn, void* context, unsigned mode);
