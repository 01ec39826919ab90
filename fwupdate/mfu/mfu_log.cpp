#include "fwupdate/mfu/mfu.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {

std::mutex g_sinkLock;
MfuLogSink g_sink;
// Lets a line that would go nowhere skip its formatting.
std::atomic<bool> g_hasSink{false};

} // namespace

void mfu_setLogSink(MfuLogSink sink)
{
    std::lock_guard<std::mutex> guard(g_sinkLock);
    g_sink = std::move(sink);
    g_hasSink = static_cast<bool>(g_sink);
}

bool mfu_logging()
{
    return g_hasSink.load(std::memory_order_relaxed);
}

void mfu_log(const char* line)
{
    std::lock_guard<std::mutex> guard(g_sinkLock);
    if (g_sink)
        g_sink(line);
}

void mfu_logf(const char* format, ...)
{
    if (!mfu_logging())
        return;
    char line[512];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    mfu_log(line);
}
