// Millisecond tick and sleep.
#include "pbd/OSWRAP/oswrap_internal.h"

#include <time.h>

#include <atomic>
#include <cerrno>

namespace {

std::atomic<OswrapTickSource> g_tickSource{nullptr};

uint32_t monotonicTick()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    // 64-bit milliseconds, then cut: the tick wraps at 2^32 by design.
    const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

} // namespace

uint32_t oswrap_detail::tickNow()
{
    const OswrapTickSource source = g_tickSource.load(std::memory_order_acquire);
    return source ? source() : monotonicTick();
}

void oswrap_setTickSource(OswrapTickSource source)
{
    g_tickSource.store(source, std::memory_order_release);
}

OswrapResult oswrap_getTick(uint32_t* tick)
{
    if (!tick)
        return OSWRAP_E_ID;
    *tick = oswrap_detail::tickNow();
    return OSWRAP_OK;
}

OswrapResult oswrap_sleep(uint32_t ms)
{
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0) {
        if (errno != EINTR)
            return OSWRAP_E_SYSTEM;
    }
    return OSWRAP_OK;
}
