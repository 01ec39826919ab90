// Log lines of the configuration-manager records, each line led by `prefix`.
#pragma once

#include "dante/cmm/cmm_types.h"

struct aud_log_state;

// "<prefix>Interface <i>: <name> (aa:bb:cc:dd:ee:ff)" per entry.
void cmm_dump_interfaces(
    aud_log_state* log, unsigned level, const char* prefix, const cmm_interface* entries, unsigned count);
void cmm_dump_options(aud_log_state* log, unsigned level, const char* prefix, const cmm_options* options);
// Status, device name, current and pending configuration, processes.
void cmm_dump_state(aud_log_state* log, unsigned level, const char* prefix, const cmm_system_state* state);
// "Config:" and its interfaces when given, "Lock: true|false" when given.
void cmm_dump_config(aud_log_state* log, unsigned level, const char* prefix, const cmm_system_config* config);
