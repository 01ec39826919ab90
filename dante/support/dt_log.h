// The process-wide log of the DNS-SD result processing. Here a higher level
// is more severe: 0 "No error", 1 "Debug", 2 "Info", 3 "Notice",
// 4 "Warning", 5 "Error", 6 "Critical error", 7 "Fatal error", above that
// "Undefined error". By default warnings and worse go to standard error
// with a timestamp.
//
// A kept message (level >= min_level):
// - standard output (flag 0x01), standard error (0x02), file (0x20), when
//   the level reaches stream_level: ["Dec 10 17:22:20 "] + "<level name>: "
//   + text, a newline added when missing, flushed;
// - network (0x10), when the level reaches net_level: ["Dec 10 17:22:20 "]
//   + first letter of the level name + " " + text, cut to 4095 bytes, sent
//   with its terminating zero byte in datagrams of at most 1458 bytes; a
//   failure is logged as "log_socket: network logging failed: ..." at
//   level 3 (never sent to the network again from inside that send).
#pragma once

#include "dante/support/aud_inet.h"
#include "dante/support/aud_socket.h"

#include <cstdint>
#include <cstdio>

constexpr uint32_t DT_LOG_STDOUT = 0x01;
constexpr uint32_t DT_LOG_STDERR = 0x02;
constexpr uint32_t DT_LOG_NETWORK = 0x10;
constexpr uint32_t DT_LOG_FILE = 0x20;

struct dt_log_options {
    uint32_t flags = DT_LOG_STDERR;
    unsigned min_level = 4;
    unsigned stream_level = 4;
    bool stream_timestamps = true;
    FILE* file = nullptr; // the caller's stream
    unsigned net_level = 2;
    bool net_timestamp = false;
    aud_sockaddr net_destination{};
    aud_socket net_socket = AUD_SOCKET_INVALID; // the caller's socket
};

// Reads and replaces the options (the defaults above until replaced).
void dt_log_get_options(dt_log_options* out);
void dt_log_set_options(const dt_log_options* options);

const char* dt_log_level_name(unsigned level);

// Logs a message (formats of aud_printf.h).
void dt_log(unsigned level, const char* format, ...);
