#include "dante/support/aud_log.h"

#include "dante/support/aud_printf.h"
#include "dante/support/aud_string.h"
#include "dante/support/aud_time.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

struct aud_log_state {
    char identity[AUD_LOG_IDENTITY_SIZE] = {};
    unsigned level = 0;
    unsigned sinkLevel[AUD_LOG_SINK_COUNT] = {};
    uint32_t timestamps = AUD_LOG_TIMESTAMP_DEFAULT;
    FILE* file = nullptr;
    aud_socket netSocket[AUD_LOG_DESTINATIONS] = {AUD_SOCKET_INVALID, AUD_SOCKET_INVALID};
    aud_sockaddr netDestination[AUD_LOG_DESTINATIONS] = {};
    aud_log_callback callback = nullptr;
    void* callbackContext = nullptr;
    std::unique_ptr<char[]> buffer; // allocated at the first message
    bool busy = false; // the buffer holds the message being written
};

namespace {

const char* const kLevelNames[] = {"None", "Critical", "Error", "Warning", "Notice", "Info", "Debug", "Verbose"};

bool admits(const aud_log_state* log, unsigned sink, unsigned level)
{
    return level <= log->sinkLevel[sink];
}

void writeStream(FILE* stream, const char* timestamp, unsigned level, const char* text, size_t length)
{
    if (timestamp)
        fprintf(stream, "%15.15s ", timestamp);
    fprintf(stream, "%s ", aud_log_level_name(level));
    fwrite(text, 1, length, stream);
    if (length == 0 || text[length - 1] != '\n')
        fputc('\n', stream);
    fflush(stream);
}

// Sends the message to one destination; the failure to report, if any.
aud_error sendNetwork(
    aud_socket s, const aud_sockaddr* to, const char* timestamp, unsigned level, const char* text, size_t length)
{
    std::string first = timestamp ? std::string(timestamp, strnlen(timestamp, 15)) : std::string();
    first += ' ';
    first += aud_log_level_name(level)[0];
    first += ' ';
    const size_t prefix = first.size();
    const size_t head = length < AUD_LOG_DATAGRAM_MAX - prefix ? length : AUD_LOG_DATAGRAM_MAX - prefix;
    first.append(text, head);
    size_t n = first.size();
    aud_error e = aud_socket_sendto(s, first.data(), &n, to);
    if (e == AUD_SUCCESS && n <= prefix)
        e = AUD_FAULT;
    for (size_t at = head; e == AUD_SUCCESS && at < length; at += n) {
        n = length - at < AUD_LOG_DATAGRAM_MAX ? length - at : AUD_LOG_DATAGRAM_MAX;
        e = aud_socket_sendto(s, text + at, &n, to);
        if (e == AUD_SUCCESS && n == 0)
            e = AUD_FAULT;
    }
    return e;
}

void writeNetwork(aud_log_state* log, const char* timestamp, unsigned level, const char* text, size_t length)
{
    for (unsigned slot = 0; slot < AUD_LOG_DESTINATIONS; ++slot) {
        aud_socket s = log->netSocket[slot];
        if (s == AUD_SOCKET_INVALID)
            continue;
        const aud_error e = sendNetwork(s, &log->netDestination[slot], timestamp, level, text, length);
        if (e == AUD_SUCCESS)
            continue;
        if (e == AUD_NOTSOCK) {
            aud_socket_close(&log->netSocket[slot]);
            aud_log(log, AUD_LOG_ERROR, "aud_log: bad network logging socket %d - network logging disabled: %s (%d)", s,
                aud_error_text(e), int(e));
            continue;
        }
        // The report must not go to the destination that just failed.
        char where[AUD_SOCKADDR_TEXT_SIZE];
        aud_sockaddr_text(&log->netDestination[slot], where, sizeof where);
        log->netSocket[slot] = AUD_SOCKET_INVALID;
        aud_log(log, AUD_LOG_NOTICE, "aud_log: network logging to %s (fd %d) failed: %s (%d)", where, s,
            aud_error_text(e), int(e));
        log->netSocket[slot] = s;
    }
}

void emit(aud_log_state* log, unsigned level, const char* text, size_t length)
{
    char ctime[AUD_CTIME_SIZE] = {};
    if (log->timestamps)
        aud_ctime(nullptr, ctime);
    auto stamp = [&](uint32_t flag) { return (log->timestamps & flag) && ctime[0] ? ctime + 4 : nullptr; };
    if (admits(log, AUD_LOG_SINK_STDOUT, level))
        writeStream(stdout, stamp(AUD_LOG_TIMESTAMP_STDOUT), level, text, length);
    if (admits(log, AUD_LOG_SINK_STDERR, level))
        writeStream(stderr, stamp(AUD_LOG_TIMESTAMP_STDERR), level, text, length);
    if (log->file && admits(log, AUD_LOG_SINK_FILE, level))
        writeStream(log->file, stamp(AUD_LOG_TIMESTAMP_FILE), level, text, length);
    if (admits(log, AUD_LOG_SINK_NETWORK, level))
        writeNetwork(log, stamp(AUD_LOG_TIMESTAMP_NETWORK), level, text, length);
    if (log->callback && admits(log, AUD_LOG_SINK_CALLBACK, level)) {
        char timestamp[16] = {};
        const char* t = stamp(AUD_LOG_TIMESTAMP_CALLBACK);
        if (t)
            memcpy(timestamp, t, 15);
        log->callback(log, log->callbackContext, t ? timestamp : nullptr, level, text, length);
    }
}

} // namespace

aud_error aud_log_new(aud_log_state** out)
{
    if (!out)
        return AUD_INVALIDPARAMETER;
    *out = new (std::nothrow) aud_log_state;
    return *out ? AUD_SUCCESS : AUD_NOMEMORY;
}

void aud_log_free(aud_log_state* log)
{
    if (!log)
        return;
    for (aud_socket& s : log->netSocket)
        aud_socket_close(&s);
    delete log;
}

aud_error aud_log_set_level(aud_log_state* log, unsigned level)
{
    if (!log)
        return AUD_INVALIDPARAMETER;
    log->level = level;
    return AUD_SUCCESS;
}

aud_error aud_log_set_sink_level(aud_log_state* log, unsigned sink, unsigned level)
{
    if (!log || sink >= AUD_LOG_SINK_COUNT)
        return AUD_INVALIDPARAMETER;
    log->sinkLevel[sink] = level;
    return AUD_SUCCESS;
}

aud_error aud_log_set_timestamps(aud_log_state* log, uint32_t flags)
{
    if (!log)
        return AUD_INVALIDPARAMETER;
    log->timestamps = flags;
    return AUD_SUCCESS;
}

aud_error aud_log_set_identity(aud_log_state* log, const char* identity)
{
    if (!log)
        return AUD_INVALIDPARAMETER;
    aud_strlcpy(log->identity, identity ? identity : "", sizeof log->identity);
    return AUD_SUCCESS;
}

aud_error aud_log_set_file(aud_log_state* log, FILE* file)
{
    if (!log)
        return AUD_INVALIDPARAMETER;
    log->file = file;
    return AUD_SUCCESS;
}

aud_error aud_log_set_network(aud_log_state* log, unsigned slot, aud_socket s, const aud_sockaddr* destination)
{
    if (!log || slot >= AUD_LOG_DESTINATIONS || (s != AUD_SOCKET_INVALID && !destination))
        return AUD_INVALIDPARAMETER;
    if (log->netSocket[slot] != s)
        aud_socket_close(&log->netSocket[slot]);
    log->netSocket[slot] = s;
    log->netDestination[slot] = destination ? *destination : aud_sockaddr{};
    return AUD_SUCCESS;
}

aud_socket aud_log_network_socket(const aud_log_state* log, unsigned slot)
{
    return log && slot < AUD_LOG_DESTINATIONS ? log->netSocket[slot] : AUD_SOCKET_INVALID;
}

aud_error aud_log_set_callback(aud_log_state* log, aud_log_callback callback, void* context)
{
    if (!log)
        return AUD_INVALIDPARAMETER;
    log->callback = callback;
    log->callbackContext = context;
    return AUD_SUCCESS;
}

const char* aud_log_level_name(unsigned level)
{
    return level < sizeof kLevelNames / sizeof kLevelNames[0] ? kLevelNames[level] : "Undef";
}

void aud_vlog(aud_log_state* log, unsigned level, const char* format, va_list args)
{
    if (!log || !format || level > log->level)
        return;
    // A message logged while another is being written (a send failure
    // report) gets a buffer of its own so the outer text stays intact.
    std::unique_ptr<char[]> nested;
    char* buffer = nullptr;
    if (!log->busy) {
        if (!log->buffer)
            log->buffer.reset(new (std::nothrow) char[AUD_LOG_BUFFER_SIZE]);
        buffer = log->buffer.get();
    } else {
        nested.reset(new (std::nothrow) char[AUD_LOG_BUFFER_SIZE]);
        buffer = nested.get();
    }
    if (!buffer)
        return; // no memory: the message is dropped
    const int n = aud_vsnprintf(buffer, AUD_LOG_BUFFER_SIZE, format, args);
    if (n < 0)
        return;
    const size_t length = size_t(n) < AUD_LOG_BUFFER_SIZE - 1 ? size_t(n) : AUD_LOG_BUFFER_SIZE - 1;
    const bool outer = !log->busy;
    log->busy = true;
    emit(log, level, buffer, length);
    if (outer)
        log->busy = false;
}

void aud_log(aud_log_state* log, unsigned level, const char* format, ...)
{
    // Filtered lines are the common case: leave before touching the arguments.
    if (!log || level > log->level)
        return;
    va_list args;
    va_start(args, format);
    aud_vlog(log, level, format, args);
    va_end(args);
}
