// What the conmon and cmm glue offer each other and the glue table. All of
// it runs on the agent's task.
#pragma once

#include "dante/conmon/conmon_id.h"
#include "dante/dfa/dfa.h"
#include "dante/dfa/dfa_internal.h"
#include "dante/support/aud_env.h"

#include <cstddef>
#include <cstdint>

// ---- conmon glue
DfaStatus dfa_conmon_glue_init(void* context, aud_env* env);
void dfa_conmon_glue_term(void* context);
DfaStatus dfa_conmon_glue_device_list_init(void* context);
void dfa_conmon_glue_device_list_term(void* context);
// Stops everything, then starts "dfa_conmon_init" and its watch task.
DfaStatus dfa_conmon_init_start(void* context);
bool dfa_conmon_init_started(void* context);
bool dfa_conmon_init_finished(void* context);
// True once the service went away: nothing that needs it is served again.
bool dfa_conmon_absent();
void dfa_conmon_forget_devices(void* context);
// Stops every device query still running (the end of a browse window).
void dfa_conmon_stop_queries();
size_t dfa_conmon_interface_indexes(void* context, uint32_t* indexes, size_t capacity);
// Whether a query keeps the .dnt check of a file while its path, size and
// modification time stay the same (on at start; off only to measure it).
void dfa_conmon_keep_file_info(bool keep);
// True when a browsed device is this PC: its instance id is the conmon
// client's own device identity (an unknown identity matches nothing).
bool dfa_conmon_is_local(const conmon_instance_id* id);
// Adds a device by name and starts its query (req_id 0); DFA_REASON_BUSY
// when it is known already.
DfaStatus dfa_conmon_add_device(const char* name);
DfaStatus dfa_conmon_device_stat(void* context, const char* name, DfaDeviceStat* out);
DfaStatus dfa_conmon_start_update(void* context, const char* name, uint16_t req_id);
DfaStatus dfa_conmon_update_status(void* context, const char* name, DfaUpgradeStatus* out, DfaResult* code);
DfaStatus dfa_conmon_reboot(void* context, const char* name, uint8_t mode, uint16_t req_id);
// Lists a device as a finished query leaves it, in the given state, without
// querying it (tests and the fuzz target; DFA_REASON_RANGE for an unknown
// state).
DfaStatus dfa_conmon_list_device(const char* name, uint8_t state);
// The device's state (DFA_REASON_NOT_FOUND when it is not listed).
DfaStatus dfa_conmon_device_state(const char* name, uint8_t* state);
// Hands a device's status or broadcast payload to the monitoring handler,
// as the client would (the fuzz target's way in).
void dfa_conmon_monitoring(uint16_t channel, const uint8_t* envelope_and_payload, size_t length);

// The upgrade error map, with an End-Fail that carries no error made a
// failure.
DfaResult dfa_conmon_upgrade_code(uint16_t upgrade_state, uint16_t last_error);
// progress x 100 / total in 64 bits, 0 for no total, at most 100.
uint16_t dfa_conmon_percent(uint32_t progress, uint32_t total);
// Name of a control message type for log lines ("unknown" when not named).
const char* dfa_conmon_type_name(uint16_t type);

// ---- browse glue
DfaStatus dfa_browse_glue_init(void* context, aud_env* env);
void dfa_browse_glue_term(void* context);
// Starts browsing on the given interfaces (none: the browser's default) and,
// for a window of 0 s or more, the task that closes it with
// DFA_CBACK_INF_DEVICE_LIST; a negative window browses without an end.
DfaStatus dfa_browse_glue_window(
    void* context, const uint32_t* indexes, size_t count, uint16_t req_id, int16_t window_seconds);

// ---- cmm glue
DfaStatus dfa_cmm_glue_init(void* context, aud_env* env);
void dfa_cmm_glue_term(void* context);
DfaStatus dfa_cmm_glue_start(void* context);
bool dfa_cmm_interface_known(void* context);
DfaStatus dfa_cmm_current_interface(void* context, DfaInterface* out);
DfaStatus dfa_cmm_if_list(void* context, DfaInterfaceList* out);
DfaStatus dfa_cmm_set_interface(void* context, const DfaInterface* interface, uint16_t req_id);
DfaStatus dfa_cmm_get_interface(void* context, DfaInterface* out);
// Locks or unlocks the Dante interface: 1 when it is that way already and
// nothing was sent.
DfaStatus dfa_cmm_lock(bool lock);
