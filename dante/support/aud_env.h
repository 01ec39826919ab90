// The environment every client object of the Dante library receives at
// creation: one per process, reference-counted, with the log and the
// monotonic clock. The first aud_env_setup runs the platform start; the last
// aud_env_release frees the log. Not thread-safe beyond the reference count:
// the clients use it from one task.
#pragma once

#include "dante/support/aud_error.h"
#include "dante/support/aud_time.h"

#include <cstdint>

struct aud_env;
struct aud_log_state;
struct aud_event_loop;

// Flags of the environment record.
constexpr uint32_t AUD_ENV_FLAG_HEAP_COPY = 0x01;
constexpr uint32_t AUD_ENV_FLAG_OWNS_LOG = 0x02;
constexpr uint32_t AUD_ENV_FLAG_OWNS_LOOP = 0x04;

// Takes a reference and hands out the process's environment. The first call
// runs the platform start and creates the log (NOMEMORY when it cannot);
// later calls only count. INVALIDPARAMETER on null out.
aud_error aud_env_setup(aud_env** out);

// Gives a reference back; null is ignored (SUCCESS). The last release frees
// the log and restores the system monotonic clock. SUCCESS also while
// references remain; INVALIDSTATE when none is held.
aud_error aud_env_release(aud_env* env);

// References held now (0 when env is null).
uint32_t aud_env_references(const aud_env* env);
uint32_t aud_env_flags(const aud_env* env);

// The environment's log (null for a null env).
aud_log_state* aud_env_log(const aud_env* env);

// The environment's event loop: never made on this platform, so always null;
// clients take their path for sockets managed by the application.
aud_event_loop* aud_env_event_loop(const aud_env* env);

// Replaces the monotonic clock (null fn restores CLOCK_MONOTONIC) until the
// last release. INVALIDPARAMETER on null env.
aud_error aud_env_set_clock(aud_env* env, aud_clock_fn fn, void* context);

// "Now" on the environment's monotonic clock, for elapsed times and
// deadlines (the system's monotonic clock when env is null).
aud_error aud_env_clock(const aud_env* env, aud_time* out);
