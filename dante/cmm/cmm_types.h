// Records of the configuration-manager client: the PC's network interfaces,
// the processes that talk to the manager, the system state and the
// configuration a client asks for; the manager's status values.
#pragma once

#include "dante/support/aud_error.h"

#include <cstddef>
#include <cstdint>

constexpr size_t CMM_INTERFACE_NAME_UNITS = 64; // 63 UTF-16 units and a terminator
constexpr size_t CMM_MAC_SIZE = 6;
constexpr size_t CMM_INTERFACE_SET_MAX = 2;
constexpr size_t CMM_OPTIONS_MAX = 16;
constexpr size_t CMM_PROCESS_NAME_SIZE = 64;
constexpr size_t CMM_PROCESSES_MAX = 16;
constexpr size_t CMM_DEVICE_NAME_SIZE = 32;

struct cmm_interface {
    char16_t name[CMM_INTERFACE_NAME_UNITS];
    uint8_t mac[CMM_MAC_SIZE];
};
static_assert(sizeof(cmm_interface) == 134, "interface entry layout");

struct cmm_interface_set {
    uint16_t count;
    cmm_interface entries[CMM_INTERFACE_SET_MAX];
};

struct cmm_options {
    uint16_t count;
    cmm_interface entries[CMM_OPTIONS_MAX];
};

struct cmm_process {
    char name[CMM_PROCESS_NAME_SIZE];
    uint32_t process_id;
    uint32_t lock; // nonzero: holds the interface lock
};
static_assert(sizeof(cmm_process) == 72, "process entry layout");

// System status values.
constexpr uint16_t CMM_STATUS_UNKNOWN = 0;
constexpr uint16_t CMM_STATUS_READY = 1;
constexpr uint16_t CMM_STATUS_CHANGING = 2;
constexpr uint16_t CMM_STATUS_INVALID_CONFIG = 3;
constexpr uint16_t CMM_STATUS_OPTIONS_CHANGED = 4;

struct cmm_system_state {
    uint16_t status;
    char device_name[CMM_DEVICE_NAME_SIZE];
    cmm_interface_set current;
    cmm_interface_set pending; // empty when none
    uint16_t process_count;
    cmm_process processes[CMM_PROCESSES_MAX];
};

// Mask bits of a configuration to set.
constexpr uint16_t CMM_CONFIG_INTERFACES = 0x01;
constexpr uint16_t CMM_CONFIG_LOCK = 0x02;

struct cmm_system_config {
    uint16_t mask;
    cmm_interface_set interfaces;
    bool lock;
};

struct cmm_server_info {
    uint8_t major;
    uint8_t minor;
    uint16_t build;
    uint16_t max_networks;
};

// Message status values the manager adds to those of DGCP2.
constexpr uint16_t CMM_MSG_STATUS_INVALID_API = 0x100;
constexpr uint16_t CMM_MSG_STATUS_INVALID_DATA = 0x101;
constexpr uint16_t CMM_MSG_STATUS_INVALID_STATE = 0x102;
constexpr uint16_t CMM_MSG_STATUS_SYSTEM_ERROR = 0x103;

// "Unknown", "Ready", "Changing", "Invalid Config", "Options Changed"; "???".
const char* cmm_system_status_name(uint16_t status);
// The DGCP2 names plus "Invalid API", "Invalid Data", "Invalid State",
// "System error"; "?" for any other value.
const char* cmm_message_status_name(uint16_t status);
// A request's result from its response status.
aud_error cmm_status_result(uint16_t status);

// Record comparisons over the entries in use.
bool cmm_interface_equal(const cmm_interface* a, const cmm_interface* b);
bool cmm_interface_set_equal(const cmm_interface_set* a, const cmm_interface_set* b);
bool cmm_options_equal(const cmm_options* a, const cmm_options* b);
bool cmm_system_state_equal(const cmm_system_state* a, const cmm_system_state* b);
bool cmm_server_info_equal(const cmm_server_info* a, const cmm_server_info* b);

// Interface sets and the lists of a state.
void cmm_interface_set_clear(cmm_interface_set* set);
// Appends a copy; INVALIDPARAMETER when the set holds 2 already.
aud_error cmm_interface_set_add(cmm_interface_set* set, const cmm_interface* entry);
unsigned cmm_interface_set_count(const cmm_interface_set* set);
// Null outside the set.
const cmm_interface* cmm_interface_set_entry(const cmm_interface_set* set, unsigned i);
const char16_t* cmm_interface_name(const cmm_interface* entry);
const uint8_t* cmm_interface_mac(const cmm_interface* entry);
const cmm_interface* cmm_options_find_mac(const cmm_options* options, const uint8_t mac[CMM_MAC_SIZE]);
const cmm_interface* cmm_options_find_name(const cmm_options* options, const char16_t* name);
unsigned cmm_system_state_process_count(const cmm_system_state* state);
const cmm_process* cmm_system_state_process(const cmm_system_state* state, unsigned i);
const cmm_process* cmm_system_state_find_process(const cmm_system_state* state, uint32_t process_id);
