#include "mfu/mfu.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {

std::mutex g_sinkLock;
MfuLogSink g_sink;

} // namespace

void mfu_setLogSink(MfuLogSink sink)
{
    std::lock_guard<std::mutex> guard(g_sinkLock);
    g_sink = std::move(sink);
}

void mfu_log(const char* line)
{
    std::lock_guard<std::mutex> guard(g_sinkLock);
    if (g_sink)
        g_sink(line);
}

void mfu_logf(const char* format, ...)
{
    char line[512];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    mfu_log(line);
}
