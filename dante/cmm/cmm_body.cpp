#include "dante/cmm/cmm_body.h"

#include "dante/cmm/dgcp2_element.h"

#include <cstdio>

namespace {

// Stops at the first failing step; each step is one element operation.
#define CMM_TRY(expr)                                                                                                  \
    do {                                                                                                               \
        const aud_error cmmTryError = (expr);                                                                          \
        if (cmmTryError != AUD_SUCCESS)                                                                                \
            return cmmTryError;                                                                                        \
    } while (0)

aud_error writeInterface(dgcp2_message* msg, const cmm_interface& itf, uint16_t* offset)
{
    uint16_t name = 0, mac = 0;
    CMM_TRY(dgcp2_append_array(msg, 2, offset));
    CMM_TRY(dgcp2_append_wstring(msg, itf.name, CMM_INTERFACE_NAME_UNITS - 1, &name));
    CMM_TRY(dgcp2_append_bytes(msg, itf.mac, CMM_MAC_SIZE, &mac));
    CMM_TRY(dgcp2_set_slot(msg, *offset, 0, name));
    return dgcp2_set_slot(msg, *offset, 1, mac);
}

aud_error writeInterfaceList(dgcp2_message* msg, const cmm_interface* entries, uint16_t count, uint16_t* offset)
{
    CMM_TRY(dgcp2_append_array(msg, count, offset));
    for (uint16_t i = 0; i < count; ++i) {
        uint16_t itf = 0;
        CMM_TRY(writeInterface(msg, entries[i], &itf));
        CMM_TRY(dgcp2_set_slot(msg, *offset, i, itf));
    }
    return AUD_SUCCESS;
}

aud_error writeProcess(dgcp2_message* msg, const cmm_process& p, uint16_t* offset)
{
    char name[CMM_PROCESS_NAME_SIZE];
    snprintf(name, sizeof name, "%.*s", int(sizeof name - 1), p.name);
    uint16_t text = 0, id = 0;
    CMM_TRY(dgcp2_append_array(msg, 3, offset));
    CMM_TRY(dgcp2_append_string(msg, name, &text));
    CMM_TRY(dgcp2_append_u32(msg, p.process_id, &id));
    CMM_TRY(dgcp2_set_slot(msg, *offset, 0, text));
    CMM_TRY(dgcp2_set_slot(msg, *offset, 1, id));
    return dgcp2_set_slot(msg, *offset, 2, p.lock ? 1 : 0);
}

aud_error readInterface(const dgcp2_message* msg, uint16_t offset, cmm_interface* out)
{
    uint16_t count = 0, name = 0, mac = 0;
    CMM_TRY(dgcp2_read_array(msg, offset, &count));
    if (count < 2)
        return AUD_NODATA;
    CMM_TRY(dgcp2_read_slot(msg, offset, 0, &name));
    CMM_TRY(dgcp2_read_slot(msg, offset, 1, &mac));
    CMM_TRY(dgcp2_read_wstring(msg, name, out->name, CMM_INTERFACE_NAME_UNITS));
    return dgcp2_read_bytes(msg, mac, out->mac, CMM_MAC_SIZE);
}

aud_error readInterfaceList(
    const dgcp2_message* msg, uint16_t offset, cmm_interface* entries, size_t max, uint16_t* kept)
{
    uint16_t count = 0;
    CMM_TRY(dgcp2_read_array(msg, offset, &count));
    const uint16_t n = count < max ? count : uint16_t(max);
    for (uint16_t i = 0; i < n; ++i) {
        uint16_t itf = 0;
        CMM_TRY(dgcp2_read_slot(msg, offset, i, &itf));
        CMM_TRY(readInterface(msg, itf, &entries[i]));
    }
    *kept = n;
    return AUD_SUCCESS;
}

aud_error readProcess(const dgcp2_message* msg, uint16_t offset, cmm_process* out)
{
    uint16_t count = 0, name = 0, id = 0, lock = 0;
    CMM_TRY(dgcp2_read_array(msg, offset, &count));
    if (count < 3)
        return AUD_NODATA;
    CMM_TRY(dgcp2_read_slot(msg, offset, 0, &name));
    CMM_TRY(dgcp2_read_slot(msg, offset, 1, &id));
    CMM_TRY(dgcp2_read_slot(msg, offset, 2, &lock));
    CMM_TRY(dgcp2_read_string(msg, name, out->name, sizeof out->name));
    CMM_TRY(dgcp2_read_u32(msg, id, &out->process_id));
    out->lock = lock != 0;
    return AUD_SUCCESS;
}

// The root array with at least `needed` slots, read into `slots`.
aud_error readRoot(const dgcp2_message* msg, uint16_t needed, uint16_t* slots)
{
    if (dgcp2_message_body_length(msg) == 0)
        return AUD_NODATA;
    uint16_t count = 0;
    CMM_TRY(dgcp2_read_array(msg, 0, &count));
    if (count < needed)
        return AUD_NODATA;
    for (uint16_t i = 0; i < needed; ++i)
        CMM_TRY(dgcp2_read_slot(msg, 0, i, &slots[i]));
    return AUD_SUCCESS;
}

} // namespace

aud_error cmm_write_interface_set(dgcp2_message* msg, const cmm_interface_set* set, uint16_t* offset)
{
    if (!msg || !set || !offset || set->count > CMM_INTERFACE_SET_MAX)
        return AUD_INVALIDPARAMETER;
    uint16_t list = 0;
    CMM_TRY(dgcp2_append_array(msg, 1, offset));
    CMM_TRY(writeInterfaceList(msg, set->entries, set->count, &list));
    return dgcp2_set_slot(msg, *offset, 0, list);
}

aud_error cmm_write_connect_request(dgcp2_message* msg, const cmm_process* self)
{
    if (!msg || !self)
        return AUD_INVALIDPARAMETER;
    uint16_t root = 0, name = 0, id = 0;
    CMM_TRY(dgcp2_append_array(msg, 3, &root));
    char text[CMM_PROCESS_NAME_SIZE];
    snprintf(text, sizeof text, "%.*s", int(sizeof text - 1), self->name);
    CMM_TRY(dgcp2_append_string(msg, text, &name));
    CMM_TRY(dgcp2_append_u32(msg, self->process_id, &id));
    CMM_TRY(dgcp2_set_slot(msg, root, 0, name));
    CMM_TRY(dgcp2_set_slot(msg, root, 1, id));
    return dgcp2_set_slot(msg, root, 2, self->lock ? 1 : 0);
}

aud_error cmm_write_set_config(dgcp2_message* msg, const cmm_system_config* config)
{
    if (!msg || !config || config->interfaces.count > CMM_INTERFACE_SET_MAX)
        return AUD_INVALIDPARAMETER;
    uint16_t root = 0, set = 0;
    CMM_TRY(dgcp2_append_array(msg, 3, &root));
    CMM_TRY(dgcp2_set_slot(msg, root, 0, config->mask));
    if (config->mask & CMM_CONFIG_INTERFACES) {
        CMM_TRY(cmm_write_interface_set(msg, &config->interfaces, &set));
        CMM_TRY(dgcp2_set_slot(msg, root, 1, set));
    }
    if (config->mask & CMM_CONFIG_LOCK) {
        fprintf(stderr, "writing lock value %d\n", config->lock ? 1 : 0);
        CMM_TRY(dgcp2_set_slot(msg, root, 2, config->lock ? 1 : 0));
    }
    return AUD_SUCCESS;
}

aud_error cmm_write_options(dgcp2_message* msg, const cmm_options* options)
{
    if (!msg || !options || options->count > CMM_OPTIONS_MAX)
        return AUD_INVALIDPARAMETER;
    uint16_t root = 0, list = 0;
    CMM_TRY(dgcp2_append_array(msg, 1, &root));
    CMM_TRY(writeInterfaceList(msg, options->entries, options->count, &list));
    return dgcp2_set_slot(msg, root, 0, list);
}

aud_error cmm_write_state(dgcp2_message* msg, const cmm_system_state* state)
{
    if (!msg || !state || state->process_count > CMM_PROCESSES_MAX)
        return AUD_INVALIDPARAMETER;
    uint16_t root = 0, name = 0, current = 0, pending = 0, list = 0;
    char device[CMM_DEVICE_NAME_SIZE];
    snprintf(device, sizeof device, "%.*s", int(sizeof device - 1), state->device_name);
    CMM_TRY(dgcp2_append_array(msg, 5, &root));
    CMM_TRY(dgcp2_set_slot(msg, root, 0, state->status));
    CMM_TRY(dgcp2_append_string(msg, device, &name));
    CMM_TRY(dgcp2_set_slot(msg, root, 1, name));
    CMM_TRY(cmm_write_interface_set(msg, &state->current, &current));
    CMM_TRY(dgcp2_set_slot(msg, root, 2, current));
    if (state->pending.count) {
        CMM_TRY(cmm_write_interface_set(msg, &state->pending, &pending));
        CMM_TRY(dgcp2_set_slot(msg, root, 3, pending));
    }
    CMM_TRY(dgcp2_append_array(msg, state->process_count, &list));
    for (uint16_t i = 0; i < state->process_count; ++i) {
        uint16_t p = 0;
        CMM_TRY(writeProcess(msg, state->processes[i], &p));
        CMM_TRY(dgcp2_set_slot(msg, list, i, p));
    }
    return dgcp2_set_slot(msg, root, 4, list);
}

aud_error cmm_read_server_info(const dgcp2_message* msg, cmm_server_info* out)
{
    if (!msg || !out)
        return AUD_INVALIDPARAMETER;
    uint16_t v[4];
    CMM_TRY(readRoot(msg, 4, v));
    if (v[0] > 0xFF || v[1] > 0xFF)
        return AUD_RANGE;
    *out = cmm_server_info{uint8_t(v[0]), uint8_t(v[1]), v[2], v[3]};
    return AUD_SUCCESS;
}

aud_error cmm_read_interface_set(const dgcp2_message* msg, uint16_t offset, cmm_interface_set* out)
{
    if (!msg || !out)
        return AUD_INVALIDPARAMETER;
    uint16_t count = 0, list = 0;
    CMM_TRY(dgcp2_read_array(msg, offset, &count));
    if (count < 1)
        return AUD_NODATA;
    CMM_TRY(dgcp2_read_slot(msg, offset, 0, &list));
    cmm_interface_set set{};
    CMM_TRY(readInterfaceList(msg, list, set.entries, CMM_INTERFACE_SET_MAX, &set.count));
    *out = set;
    return AUD_SUCCESS;
}

aud_error cmm_read_options(const dgcp2_message* msg, cmm_options* out)
{
    if (!msg || !out)
        return AUD_INVALIDPARAMETER;
    uint16_t list = 0;
    CMM_TRY(readRoot(msg, 1, &list));
    cmm_options options{};
    CMM_TRY(readInterfaceList(msg, list, options.entries, CMM_OPTIONS_MAX, &options.count));
    *out = options;
    return AUD_SUCCESS;
}

aud_error cmm_read_state(const dgcp2_message* msg, cmm_system_state* out)
{
    if (!msg || !out)
        return AUD_INVALIDPARAMETER;
    uint16_t s[5];
    CMM_TRY(readRoot(msg, 5, s));
    cmm_system_state state{};
    state.status = s[0];
    CMM_TRY(dgcp2_read_string(msg, s[1], state.device_name, sizeof state.device_name));
    CMM_TRY(cmm_read_interface_set(msg, s[2], &state.current));
    if (s[3])
        CMM_TRY(cmm_read_interface_set(msg, s[3], &state.pending));
    uint16_t count = 0;
    CMM_TRY(dgcp2_read_array(msg, s[4], &count));
    state.process_count = count < CMM_PROCESSES_MAX ? count : uint16_t(CMM_PROCESSES_MAX);
    for (uint16_t i = 0; i < state.process_count; ++i) {
        uint16_t p = 0;
        CMM_TRY(dgcp2_read_slot(msg, s[4], i, &p));
        CMM_TRY(readProcess(msg, p, &state.processes[i]));
    }
    *out = state;
    return AUD_SUCCESS;
}
