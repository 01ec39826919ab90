// The agent's use of the Dante clients (conmon, browse, cmm). The main loop
// and the request processors reach them only through this table, so the
// glue is replaced as a whole. The table in use at start is the Dante glue
// (conmon, browse and cmm clients); tests may set their own. Every operation runs on the agent's task.
#pragma once

#include "dante/dfa/dfa.h"
#include "dante/dfa/dfa_internal.h"
#include "dante/support/aud_env.h"

#include <cstddef>
#include <cstdint>

struct DfaGlue {
    void* context;

    // Start and clean-up, in the main loop's order (clean-up runs backwards
    // and only for what started).
    DfaStatus (*device_list_init)(void* context);
    void (*device_list_term)(void* context);
    DfaStatus (*browse_init)(void* context, aud_env* env);
    void (*browse_term)(void* context);
    DfaStatus (*conmon_init)(void* context, aud_env* env);
    void (*conmon_term)(void* context);
    DfaStatus (*cmm_init)(void* context, aud_env* env);
    void (*cmm_term)(void* context);
    // Creates the task that brings the configuration manager up.
    DfaStatus (*cmm_start)(void* context);

    // What "dfa_main_check_initialized" waits for.
    bool (*cmm_interface_known)(void* context);
    bool (*conmon_init_started)(void* context);
    DfaStatus (*conmon_init_start)(void* context);
    bool (*conmon_init_finished)(void* context);
    DfaStatus (*current_interface)(void* context, DfaInterface* out);

    // The work behind the request processors; reasons as the agent's.
    void (*forget_devices)(void* context); // stops every query, forgets every device
    size_t (*interface_indexes)(void* context, uint32_t* indexes, size_t capacity);
    DfaStatus (*browse_window)(
        void* context, const uint32_t* indexes, size_t count, uint16_t req_id, int16_t window_seconds);
    DfaStatus (*device_stat)(void* context, const char* name, DfaDeviceStat* out);
    DfaStatus (*start_update)(void* context, const char* name, uint16_t req_id);
    DfaStatus (*update_status)(void* context, const char* name, DfaUpgradeStatus* out, DfaResult* code);
    DfaStatus (*reboot)(void* context, const char* name, uint8_t mode, uint16_t req_id);
    DfaStatus (*if_list)(void* context, DfaInterfaceList* out);
    DfaStatus (*set_dante_if)(void* context, const DfaInterface* interface, uint16_t req_id);
    DfaStatus (*get_dante_if)(void* context, DfaInterface* out);
};

// Replaces the glue (null restores the Dante glue). Call while the agent is
// stopped; operations left null in the table fall back to the stubs'.
void dfa_set_glue(const DfaGlue* glue);
// The glue in use.
const DfaGlue& dfa_glue();
// The stubs: clients that come up at once with no interface name, and
// requests that find their client not ready.
const DfaGlue& dfa_glue_stubs();
// The Dante glue.
const DfaGlue& dfa_glue_dante();
