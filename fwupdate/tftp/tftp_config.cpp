// Process-wide settings: the log sink and the resend schedule.
#include "fwupdate/tftp/tftp.h"

#include <mutex>

namespace {

std::mutex g_sinkLock;
TFTPLogSink g_sink;

std::atomic<uint32_t> g_resendMs{TFTP_RESEND_MS};
std::atomic<uint32_t> g_maxResends{TFTP_MAX_RESENDS};
std::atomic<uint32_t> g_tickMs{TFTP_TICK_MS};

} // namespace

void tftp_setLogSink(TFTPLogSink sink)
{
    std::lock_guard<std::mutex> guard(g_sinkLock);
    g_sink = std::move(sink);
}

void tftp_log(const char* line)
{
    std::lock_guard<std::mutex> guard(g_sinkLock);
    if (g_sink)
        g_sink(line);
}

void tftp_setTimings(const TFTPTimings& timings)
{
    g_resendMs.store(timings.resendMs);
    g_maxResends.store(timings.maxResends);
    // A zero tick would spin the task.
    g_tickMs.store(timings.tickMs > 0 ? timings.tickMs : 1);
}

TFTPTimings tftp_timings()
{
    TFTPTimings t;
    t.resendMs = g_resendMs.load();
    t.maxResends = g_maxResends.load();
    t.tickMs = g_tickMs.load();
    return t;
}
