// Bodies of the configuration-manager messages, written and read with the
// DGCP2 elements. Readers fill the record only on success; a body that lacks
// required slots gives NODATA, an offset outside the body INVALIDPARAMETER.
//
//   connect request     array of 3: name string, u32 process id, lock flag (value)
//   connect response    at least 4 values: major, minor, build, maximum networks
//   options event       slot 0: an interface list
//   state event / set-config response
//                       at least 5 slots: status (value), device name, current
//                       set, pending set (0: none), process list
//   set-config request  array of 3: mask (value), interface set or 0, lock (value)
//
// Interface set: array of at least 1 slot, slot 0 an interface list. Interface
// list: n slots, each an array of 2: wide-string name and 6-byte MAC. Process
// list: n slots, each an array of 3: name string, u32 process id, lock flag.
#pragma once

#include "dante/cmm/cmm_types.h"
#include "dante/cmm/dgcp2_message.h"

constexpr uint16_t CMM_PROTOCOL = 0x1001;
constexpr uint16_t CMM_OPCODE_OPTIONS = 0x100;
constexpr uint16_t CMM_OPCODE_STATE = 0x101;
constexpr uint16_t CMM_OPCODE_SET_CONFIG = 0x110;

aud_error cmm_write_connect_request(dgcp2_message* msg, const cmm_process* self);
// MSGSIZE when it does not fit; INVALIDPARAMETER for a set of more than 2.
aud_error cmm_write_set_config(dgcp2_message* msg, const cmm_system_config* config);
// The elements of an interface set; its offset in *offset.
aud_error cmm_write_interface_set(dgcp2_message* msg, const cmm_interface_set* set, uint16_t* offset);
aud_error cmm_write_options(dgcp2_message* msg, const cmm_options* options);
aud_error cmm_write_state(dgcp2_message* msg, const cmm_system_state* state);

// A version part above 255 does not fit its 8 bits: RANGE.
aud_error cmm_read_server_info(const dgcp2_message* msg, cmm_server_info* out);
// At most 16 interfaces are kept.
aud_error cmm_read_options(const dgcp2_message* msg, cmm_options* out);
// At most 2 interfaces per set and 16 processes are kept.
aud_error cmm_read_state(const dgcp2_message* msg, cmm_system_state* out);
aud_error cmm_read_interface_set(const dgcp2_message* msg, uint16_t offset, cmm_interface_set* out);
