// The holder: the settings that the firmware update front writes and the
// agent reads (TFTP address and port, .dnt folder, two .dnt slots with their
// module model ids, the override record), guarded by its own pool mutex.
// Every access copies under that mutex. Reasons: DFA_REASON_MISSING a
// missing argument, DFA_REASON_RANGE a slot above 1 (or no holder),
// DFA_REASON_PATH_TOO_LONG a text without its terminator.
#pragma once

#include "dante/dfa/dfa.h"
#include "dante/dfa/dfa_internal.h"

#include <cstddef>
#include <cstdint>

constexpr uint8_t DFA_DNT_SLOTS = 2;

// Zeroes the area and makes its mutex (DFA_REASON_OS when it cannot).
DfaStatus dfa_holder_init();
// Closes the mutex and zeroes the area.
void dfa_holder_terminate();

// Stores the record; a folder that is not empty, does not end with '/' or
// '\' and is shorter than 79 characters gets a '/' appended.
DfaStatus dfa_holder_set_settings(const DfaSettings* settings);
DfaStatus dfa_holder_get_settings(DfaSettings* out);
DfaStatus dfa_holder_set_file_name(uint8_t slot, const char16_t* name);
DfaStatus dfa_holder_get_file_name(uint8_t slot, char16_t (*out)[DFA_DNT_NAME_CHARS]);
DfaStatus dfa_holder_set_model_id(uint8_t slot, const uint8_t* model_id);
DfaStatus dfa_holder_get_model_id(uint8_t slot, uint8_t* out);
DfaStatus dfa_holder_set_override(const DfaOverride* record);
DfaStatus dfa_holder_get_override(DfaOverride* out);

// The full path of a slot's file into path (capacity in UTF-16 units, with
// the terminator): the folder, a '/' unless it ends with a separator, then
// the file name without its leading separator. DFA_REASON_NO_STATUS for no
// file name, DFA_REASON_PATH_TOO_LONG when the path does not fit (nothing
// written past capacity).
DfaStatus dfa_holder_get_dnt_path(char16_t* path, size_t capacity, uint8_t slot);
