// The level-filtered log of an environment. Each client object logs through
// its environment's log; with every level at 0 (the default) nothing is
// printed. A message of level L reaches a sink when L is not above the
// log's overall level nor above that sink's level.
//
// Output of a kept message (text cut to 16,383 bytes):
// - standard output, standard error, the file: ["Dec 10 17:22:20 "] +
//   level name + " " + text, a newline added when missing, flushed;
// - network, to each of two destinations: datagrams of at most 1458 bytes,
//   the first with the prefix ["Dec 10 17:22:20"] + " " + first letter of
//   the level name + " ", the rest of the text in further datagrams without
//   it. A destination that is not a socket is closed and switched off; any
//   other send failure is reported in the log (not to that destination);
// - the callback, with the timestamp (or null), the level and the text.
// There is no debugger sink on this platform; its level is kept.
#pragma once

#include "dante/support/aud_error.h"
#include "dante/support/aud_inet.h"
#include "dante/support/aud_socket.h"

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>

struct aud_log_state;

enum aud_log_level : unsigned {
    AUD_LOG_NONE = 0,
    AUD_LOG_CRITICAL = 1,
    AUD_LOG_ERROR = 2,
    AUD_LOG_WARNING = 3,
    AUD_LOG_NOTICE = 4,
    AUD_LOG_INFO = 5,
    AUD_LOG_DEBUG = 6,
    AUD_LOG_VERBOSE = 7,
};

enum aud_log_sink : unsigned {
    AUD_LOG_SINK_NETWORK = 0,
    AUD_LOG_SINK_STDOUT = 1,
    AUD_LOG_SINK_STDERR = 2,
    AUD_LOG_SINK_FILE = 3,
    AUD_LOG_SINK_DEBUGGER = 4,
    AUD_LOG_SINK_CALLBACK = 5,
    AUD_LOG_SINK_COUNT = 6,
};

// Timestamp flags: which sinks print one.
constexpr uint32_t AUD_LOG_TIMESTAMP_NETWORK = 0x01;
constexpr uint32_t AUD_LOG_TIMESTAMP_STDOUT = 0x02;
constexpr uint32_t AUD_LOG_TIMESTAMP_STDERR = 0x04;
constexpr uint32_t AUD_LOG_TIMESTAMP_FILE = 0x08;
constexpr uint32_t AUD_LOG_TIMESTAMP_CALLBACK = 0x10;
constexpr uint32_t AUD_LOG_TIMESTAMP_DEFAULT = 0x0E;

constexpr size_t AUD_LOG_IDENTITY_SIZE = 128;
constexpr size_t AUD_LOG_BUFFER_SIZE = 16384;
constexpr size_t AUD_LOG_DATAGRAM_MAX = 1458;
constexpr unsigned AUD_LOG_DESTINATIONS = 2;

using aud_log_callback = void (*)(
    aud_log_state* log, void* context, const char* timestamp, unsigned level, const char* text, size_t length);

// A new log with every level 0, default timestamps, no file, no network, no
// callback. INVALIDPARAMETER on null out, NOMEMORY.
aud_error aud_log_new(aud_log_state** out);
// Closes the network sockets it owns and frees it; null is ignored.
void aud_log_free(aud_log_state* log);

// Setters answer INVALIDPARAMETER for a null log or a bad sink/slot.
aud_error aud_log_set_level(aud_log_state* log, unsigned level);
aud_error aud_log_set_sink_level(aud_log_state* log, unsigned sink, unsigned level);
aud_error aud_log_set_timestamps(aud_log_state* log, uint32_t flags);
// At most 127 bytes are kept.
aud_error aud_log_set_identity(aud_log_state* log, const char* identity);
// The stream stays the caller's; null switches the file sink off.
aud_error aud_log_set_file(aud_log_state* log, FILE* file);
// Hands a datagram socket (owned by the log from now on; a socket it held in
// that slot is closed) and its destination to slot 0 or 1. AUD_SOCKET_INVALID
// switches the slot off.
aud_error aud_log_set_network(aud_log_state* log, unsigned slot, aud_socket s, const aud_sockaddr* destination);
// The slot's socket, AUD_SOCKET_INVALID when it is off.
aud_socket aud_log_network_socket(const aud_log_state* log, unsigned slot);
aud_error aud_log_set_callback(aud_log_state* log, aud_log_callback callback, void* context);

// "None", "Critical", "Error", "Warning", "Notice", "Info", "Debug",
// "Verbose"; "Undef" above 7.
const char* aud_log_level_name(unsigned level);

// Logs a message (formats of aud_printf.h). Nothing happens for a null log
// or a level above the overall level. Safe to call from a callback of the
// same log: a nested message is formatted apart and leaves the outer one
// intact.
void aud_log(aud_log_state* log, unsigned level, const char* format, ...);
void aud_vlog(aud_log_state* log, unsigned level, const char* format, va_list args);
