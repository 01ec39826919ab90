#include "dante/cmm/cmm_dump.h"

#include "dante/support/aud_log.h"
#include "dante/support/aud_text.h"

#include <cstring>
#include <string>

namespace {

const char* yesNo(bool b)
{
    return b ? "true" : "false";
}

} // namespace

void cmm_dump_interfaces(
    aud_log_state* log, unsigned level, const char* prefix, const cmm_interface* entries, unsigned count)
{
    for (unsigned i = 0; i < count; ++i) {
        std::string name;
        aud_utf16_append_utf8(&name, entries[i].name, CMM_INTERFACE_NAME_UNITS);
        name.resize(strnlen(name.c_str(), name.size()));
        const uint8_t* m = entries[i].mac;
        aud_log(log, level, "%sInterface %d: %s (%02x:%02x:%02x:%02x:%02x:%02x)\n", prefix, int(i), name.c_str(), m[0],
            m[1], m[2], m[3], m[4], m[5]);
    }
}

void cmm_dump_options(aud_log_state* log, unsigned level, const char* prefix, const cmm_options* options)
{
    cmm_dump_interfaces(log, level, prefix, options->entries, options->count);
}

void cmm_dump_state(aud_log_state* log, unsigned level, const char* prefix, const cmm_system_state* state)
{
    aud_log(log, level, "%sSystem status: %s\n", prefix, cmm_system_status_name(state->status));
    aud_log(log, level, "%sDevice Name: %.*s\n", prefix, int(sizeof state->device_name), state->device_name);
    aud_log(log, level, "%sCurrent config:\n", prefix);
    cmm_dump_interfaces(log, level, prefix, state->current.entries, state->current.count);
    aud_log(log, level, "%sPending config:\n", prefix);
    cmm_dump_interfaces(log, level, prefix, state->pending.entries, state->pending.count);
    aud_log(log, level, "%sProcesses:\n", prefix);
    for (unsigned i = 0; i < state->process_count; ++i) {
        const cmm_process& p = state->processes[i];
        aud_log(log, level, "%s  %d: %.*s %d %s\n", prefix, int(i), int(sizeof p.name), p.name, int(p.process_id),
            yesNo(p.lock != 0));
    }
}

void cmm_dump_config(aud_log_state* log, unsigned level, const char* prefix, const cmm_system_config* config)
{
    if (config->mask & CMM_CONFIG_INTERFACES) {
        aud_log(log, level, "%sConfig:\n", prefix);
        const unsigned n = config->interfaces.count;
        cmm_dump_interfaces(log, level, prefix, config->interfaces.entries,
            n < CMM_INTERFACE_SET_MAX ? n : unsigned(CMM_INTERFACE_SET_MAX));
    }
    if (config->mask & CMM_CONFIG_LOCK)
        aud_log(log, level, "%sLock: %s\n", prefix, yesNo(config->lock));
}
