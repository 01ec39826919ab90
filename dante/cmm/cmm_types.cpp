#include "dante/cmm/cmm_types.h"

#include "dante/cmm/dgcp2_message.h"

#include <cstring>

const char* cmm_system_status_name(uint16_t status)
{
    static const char* const names[] = {"Unknown", "Ready", "Changing", "Invalid Config", "Options Changed"};
    return status < sizeof names / sizeof names[0] ? names[status] : "???";
}

const char* cmm_message_status_name(uint16_t status)
{
    switch (status) {
    case CMM_MSG_STATUS_INVALID_API:
        return "Invalid API";
    case CMM_MSG_STATUS_INVALID_DATA:
        return "Invalid Data";
    case CMM_MSG_STATUS_INVALID_STATE:
        return "Invalid State";
    case CMM_MSG_STATUS_SYSTEM_ERROR:
        return "System error";
    default:
        return dgcp2_status_name(status);
    }
}

aud_error cmm_status_result(uint16_t status)
{
    switch (status) {
    case 0:
    case 1:
    case 2:
        return AUD_SUCCESS;
    case 16:
    case 20:
    case 21:
    case 22:
        return AUD_VERSION;
    case 32:
    case 33:
    case 34:
    case 35:
        return AUD_MSGSIZE;
    case 48:
    case 49:
    case 64:
    case CMM_MSG_STATUS_INVALID_API:
    case CMM_MSG_STATUS_INVALID_DATA:
        return AUD_INVALIDDATA;
    case 50:
        return AUD_NOTSUPPORTED;
    case DGCP2_STATUS_NOT_CONNECTED:
        return AUD_NOTCONN;
    case DGCP2_STATUS_TOO_MANY_CLIENTS:
        return AUD_NOBUFS;
    case CMM_MSG_STATUS_INVALID_STATE:
        return AUD_INVALIDSTATE;
    default:
        return AUD_SYSTEM;
    }
}

namespace {

size_t nameUnits(const char16_t* name)
{
    size_t n = 0;
    while (n < CMM_INTERFACE_NAME_UNITS && name[n])
        ++n;
    return n;
}

bool sameName(const char16_t* a, const char16_t* b)
{
    const size_t n = nameUnits(a);
    return n == nameUnits(b) && memcmp(a, b, n * sizeof *a) == 0;
}

bool sameText(const char* a, const char* b, size_t size)
{
    return strncmp(a, b, size) == 0;
}

bool sameProcess(const cmm_process& a, const cmm_process& b)
{
    return sameText(a.name, b.name, sizeof a.name) && a.process_id == b.process_id && (a.lock != 0) == (b.lock != 0);
}

} // namespace

bool cmm_interface_equal(const cmm_interface* a, const cmm_interface* b)
{
    return sameName(a->name, b->name) && memcmp(a->mac, b->mac, CMM_MAC_SIZE) == 0;
}

bool cmm_interface_set_equal(const cmm_interface_set* a, const cmm_interface_set* b)
{
    if (a->count != b->count)
        return false;
    for (unsigned i = 0; i < a->count && i < CMM_INTERFACE_SET_MAX; ++i)
        if (!cmm_interface_equal(&a->entries[i], &b->entries[i]))
            return false;
    return true;
}

bool cmm_options_equal(const cmm_options* a, const cmm_options* b)
{
    if (a->count != b->count)
        return false;
    for (unsigned i = 0; i < a->count && i < CMM_OPTIONS_MAX; ++i)
        if (!cmm_interface_equal(&a->entries[i], &b->entries[i]))
            return false;
    return true;
}

bool cmm_system_state_equal(const cmm_system_state* a, const cmm_system_state* b)
{
    if (a->status != b->status || !sameText(a->device_name, b->device_name, sizeof a->device_name)
        || !cmm_interface_set_equal(&a->current, &b->current) || !cmm_interface_set_equal(&a->pending, &b->pending)
        || a->process_count != b->process_count)
        return false;
    for (unsigned i = 0; i < a->process_count && i < CMM_PROCESSES_MAX; ++i)
        if (!sameProcess(a->processes[i], b->processes[i]))
            return false;
    return true;
}

bool cmm_server_info_equal(const cmm_server_info* a, const cmm_server_info* b)
{
    return a->major == b->major && a->minor == b->minor && a->build == b->build && a->max_networks == b->max_networks;
}

void cmm_interface_set_clear(cmm_interface_set* set)
{
    if (set)
        *set = cmm_interface_set{};
}

aud_error cmm_interface_set_add(cmm_interface_set* set, const cmm_interface* entry)
{
    if (!set || !entry || set->count >= CMM_INTERFACE_SET_MAX)
        return AUD_INVALIDPARAMETER;
    set->entries[set->count++] = *entry;
    return AUD_SUCCESS;
}

unsigned cmm_interface_set_count(const cmm_interface_set* set)
{
    return set ? set->count : 0;
}

const cmm_interface* cmm_interface_set_entry(const cmm_interface_set* set, unsigned i)
{
    return set && i < set->count && i < CMM_INTERFACE_SET_MAX ? &set->entries[i] : nullptr;
}

const char16_t* cmm_interface_name(const cmm_interface* entry)
{
    return entry ? entry->name : nullptr;
}

const uint8_t* cmm_interface_mac(const cmm_interface* entry)
{
    return entry ? entry->mac : nullptr;
}

const cmm_interface* cmm_options_find_mac(const cmm_options* options, const uint8_t mac[CMM_MAC_SIZE])
{
    if (!options || !mac)
        return nullptr;
    for (unsigned i = 0; i < options->count && i < CMM_OPTIONS_MAX; ++i)
        if (memcmp(options->entries[i].mac, mac, CMM_MAC_SIZE) == 0)
            return &options->entries[i];
    return nullptr;
}

const cmm_interface* cmm_options_find_name(const cmm_options* options, const char16_t* name)
{
    if (!options || !name)
        return nullptr;
    for (unsigned i = 0; i < options->count && i < CMM_OPTIONS_MAX; ++i)
        if (sameName(options->entries[i].name, name))
            return &options->entries[i];
    return nullptr;
}

unsigned cmm_system_state_process_count(const cmm_system_state* state)
{
    return state ? state->process_count : 0;
}

const cmm_process* cmm_system_state_process(const cmm_system_state* state, unsigned i)
{
    return state && i < state->process_count && i < CMM_PROCESSES_MAX ? &state->processes[i] : nullptr;
}

const cmm_process* cmm_system_state_find_process(const cmm_system_state* state, uint32_t process_id)
{
    for (unsigned i = 0; state && i < state->process_count && i < CMM_PROCESSES_MAX; ++i)
        if (state->processes[i].process_id == process_id)
            return &state->processes[i];
    return nullptr;
}
