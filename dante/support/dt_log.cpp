#include "dante/support/dt_log.h"

#include "dante/support/aud_printf.h"
#include "dante/support/aud_time.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

namespace {

const char* const kNames[]
    = {"No error", "Debug", "Info", "Notice", "Warning", "Error", "Critical error", "Fatal error"};

constexpr size_t kNetLine = 4096;
constexpr size_t kDatagram = 1458;

std::mutex g_lock;
dt_log_options g_options;
bool g_netBusy = false;

void writeStream(FILE* stream, const char* timestamp, unsigned level, const char* text)
{
    if (timestamp)
        fprintf(stream, "%15.15s ", timestamp);
    const size_t length = strlen(text);
    fprintf(stream, "%s: %s", dt_log_level_name(level), text);
    if (length == 0 || text[length - 1] != '\n')
        fputc('\n', stream);
    fflush(stream);
}

aud_error sendLine(const dt_log_options& o, const char* timestamp, unsigned level, const char* text)
{
    char line[kNetLine];
    const int n = timestamp ? snprintf(line, sizeof line, "%15.15s %c %s", timestamp, dt_log_level_name(level)[0], text)
                            : snprintf(line, sizeof line, "%c %s", dt_log_level_name(level)[0], text);
    if (n < 0)
        return AUD_INVALIDDATA;
    const size_t total = (size_t(n) < sizeof line ? size_t(n) : sizeof line - 1) + 1; // with the zero byte
    for (size_t at = 0; at < total;) {
        size_t chunk = total - at < kDatagram ? total - at : kDatagram;
        const aud_error e = aud_socket_sendto(o.net_socket, line + at, &chunk, &o.net_destination);
        if (e != AUD_SUCCESS)
            return e;
        if (chunk == 0)
            return AUD_FAULT;
        at += chunk;
    }
    return AUD_SUCCESS;
}

} // namespace

void dt_log_get_options(dt_log_options* out)
{
    if (!out)
        return;
    std::lock_guard<std::mutex> hold(g_lock);
    *out = g_options;
}

void dt_log_set_options(const dt_log_options* options)
{
    std::lock_guard<std::mutex> hold(g_lock);
    g_options = options ? *options : dt_log_options{};
}

const char* dt_log_level_name(unsigned level)
{
    return level < sizeof kNames / sizeof kNames[0] ? kNames[level] : "Undefined error";
}

void dt_log(unsigned level, const char* format, ...)
{
    dt_log_options o;
    dt_log_get_options(&o);
    if (level < o.min_level || !format)
        return;
    char* text = nullptr;
    va_list args;
    va_start(args, format);
    const int n = aud_vasprintf(&text, format, args);
    va_end(args);
    if (n < 0)
        return;
    std::unique_ptr<char, void (*)(void*)> hold(text, free);
    char ctime[AUD_CTIME_SIZE] = {};
    aud_ctime(nullptr, ctime);
    const char* stamp = ctime[0] ? ctime + 4 : nullptr;
    if (level >= o.stream_level) {
        const char* t = o.stream_timestamps ? stamp : nullptr;
        if (o.flags & DT_LOG_STDOUT)
            writeStream(stdout, t, level, text);
        if (o.flags & DT_LOG_STDERR)
            writeStream(stderr, t, level, text);
        if ((o.flags & DT_LOG_FILE) && o.file)
            writeStream(o.file, t, level, text);
    }
    if ((o.flags & DT_LOG_NETWORK) && level >= o.net_level && o.net_socket != AUD_SOCKET_INVALID) {
        {
            std::lock_guard<std::mutex> busy(g_lock);
            if (g_netBusy)
                return;
            g_netBusy = true;
        }
        const aud_error e = sendLine(o, o.net_timestamp ? stamp : nullptr, level, text);
        if (e != AUD_SUCCESS)
            dt_log(3, "%s: network logging failed: %s (%d)", "log_socket", aud_error_text(e), int(e));
        std::lock_guard<std::mutex> busy(g_lock);
        g_netBusy = false;
    }
}
