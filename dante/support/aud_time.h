// Times of the Dante client library: seconds and microseconds, the wall clock
// for timestamps, and the monotonic clock for elapsed times and deadlines.
//
// Every operation that takes a time normalises it first, so microseconds lie
// in 0..999,999 (1 s 2,500,000 us is 3 s 500,000 us; -1 s 1,500,000 us is
// 0 s 500,000 us).
#pragma once

#include "dante/support/aud_error.h"

#include <cstddef>
#include <cstdint>

struct aud_time {
    int32_t seconds;
    int32_t microseconds;
};

// Normalises *t in place. RANGE when the seconds would overflow (t unchanged).
aud_error aud_time_normalise(aud_time* t);

// a := a + b, normalised. RANGE on overflow (a unchanged), INVALIDPARAMETER
// on a null argument.
aud_error aud_time_add(aud_time* a, const aud_time* b);

// a := a - b, normalised (borrows whole seconds). Errors as aud_time_add.
aud_error aud_time_sub(aud_time* a, const aud_time* b);

// -1, 0 or 1 as a is before, equal to or after b (both non-null; compared
// as if normalised).
int aud_time_cmp(const aud_time* a, const aud_time* b);

// The wall clock (CLOCK_REALTIME) since 1 January 1970, microseconds
// truncated. For timestamps only: it jumps when the clock is set.
// INVALIDPARAMETER on null out; RANGE past 2038 (seconds are 32-bit).
aud_error aud_clock_now(aud_time* out);

// The monotonic clock (CLOCK_MONOTONIC): never jumps, so every elapsed time
// and deadline is measured with it. INVALIDPARAMETER on null out.
aud_error aud_clock_monotonic(aud_time* out);

// A replacement clock: fills *out with "now". Environments carry one as
// their monotonic clock (aud_env_set_clock), so tests can step time.
using aud_clock_fn = aud_error (*)(void* context, aud_time* out);

// A clock that stands still until the test moves it: context is an
// aud_stepped_clock, whose `now` the test sets or advances.
struct aud_stepped_clock {
    aud_time now;
};
aud_error aud_stepped_clock_read(void* context, aud_time* out);

// Size of the buffer aud_ctime writes (ctime text with its NUL).
constexpr size_t AUD_CTIME_SIZE = 26;

// "Thu Dec 10 17:22:20 2026\n" for the seconds of *t, or of the wall clock
// when t is null, into buffer (AUD_CTIME_SIZE bytes); a day of the month
// below 10 is padded with a blank. Returns buffer, which holds "" when the
// time has no ctime text. Log lines print characters 4..18 ("%15.15s").
const char* aud_ctime(const aud_time* t, char* buffer);
