#include "dante/support/aud_time.h"

#include <cstdint>
#include <cstring>
#include <ctime>

namespace {

constexpr int64_t kMicro = 1000000;

bool fits32(int64_t v)
{
    return v >= INT32_MIN && v <= INT32_MAX;
}

// Total microseconds of a time, in 64 bits so nothing overflows on the way.
int64_t totalMicro(const aud_time& t)
{
    return int64_t(t.seconds) * kMicro + t.microseconds;
}

aud_error fromTotal(int64_t total, aud_time* out)
{
    int64_t seconds = total / kMicro;
    int64_t micro = total % kMicro;
    if (micro < 0) {
        micro += kMicro;
        --seconds;
    }
    if (!fits32(seconds))
        return AUD_RANGE;
    out->seconds = int32_t(seconds);
    out->microseconds = int32_t(micro);
    return AUD_SUCCESS;
}

aud_error fromTimespec(const timespec& ts, aud_time* out)
{
    if (!fits32(ts.tv_sec))
        return AUD_RANGE;
    out->seconds = int32_t(ts.tv_sec);
    out->microseconds = int32_t(ts.tv_nsec / 1000);
    return AUD_SUCCESS;
}

aud_error readClock(clockid_t id, aud_time* out)
{
    if (!out)
        return AUD_INVALIDPARAMETER;
    timespec ts{};
    if (clock_gettime(id, &ts) != 0)
        return aud_error_last();
    return fromTimespec(ts, out);
}

} // namespace

aud_error aud_time_normalise(aud_time* t)
{
    if (!t)
        return AUD_INVALIDPARAMETER;
    return fromTotal(totalMicro(*t), t);
}

aud_error aud_time_add(aud_time* a, const aud_time* b)
{
    if (!a || !b)
        return AUD_INVALIDPARAMETER;
    return fromTotal(totalMicro(*a) + totalMicro(*b), a);
}

aud_error aud_time_sub(aud_time* a, const aud_time* b)
{
    if (!a || !b)
        return AUD_INVALIDPARAMETER;
    return fromTotal(totalMicro(*a) - totalMicro(*b), a);
}

int aud_time_cmp(const aud_time* a, const aud_time* b)
{
    const int64_t x = totalMicro(*a);
    const int64_t y = totalMicro(*b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

aud_error aud_clock_now(aud_time* out)
{
    return readClock(CLOCK_REALTIME, out);
}

aud_error aud_clock_monotonic(aud_time* out)
{
    return readClock(CLOCK_MONOTONIC, out);
}

aud_error aud_stepped_clock_read(void* context, aud_time* out)
{
    if (!context || !out)
        return AUD_INVALIDPARAMETER;
    *out = static_cast<const aud_stepped_clock*>(context)->now;
    return aud_time_normalise(out);
}

const char* aud_ctime(const aud_time* t, char* buffer)
{
    if (!buffer)
        return "";
    buffer[0] = '\0';
    time_t seconds = 0;
    if (t) {
        aud_time n = *t;
        if (aud_time_normalise(&n) != AUD_SUCCESS)
            return buffer;
        seconds = n.seconds;
    } else {
        seconds = time(nullptr);
    }
    // ctime_r needs 26 bytes and refuses times whose text would not fit.
    char text[AUD_CTIME_SIZE];
    if (!ctime_r(&seconds, text))
        return buffer;
    if (text[8] == '0')
        text[8] = ' ';
    memcpy(buffer, text, AUD_CTIME_SIZE);
    buffer[AUD_CTIME_SIZE - 1] = '\0';
    return buffer;
}
