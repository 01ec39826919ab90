// What the agent's own files share: internal results with their reasons,
// the Dante error map, the print function and the req_id counter.
#pragma once

#include "dante/dfa/dfa.h"
#include "dante/support/aud_error.h"
#include "dante/support/aud_time.h"

#include <cstdint>

// Internal result of a step: 0 on success, else 0x80000000 plus a reason.
using DfaStatus = int32_t;

constexpr DfaStatus DFA_OK = 0;

// Reasons below DFA_REASON_LIBRARY are the agent's own; from there on they
// carry a Dante client library error (DFA_REASON_LIBRARY + its number).
constexpr uint32_t DFA_REASON_NOT_READY = 4; // client object or state not ready
constexpr uint32_t DFA_REASON_MISSING = 5; // missing argument
constexpr uint32_t DFA_REASON_RANGE = 6; // out of range, or already the current interface
constexpr uint32_t DFA_REASON_NO_DNT = 7; // no .dnt file for the device's module
constexpr uint32_t DFA_REASON_BUSY = 8; // wrong state, change pending
constexpr uint32_t DFA_REASON_LOCKED = 9; // interface locked by a Dante process
constexpr uint32_t DFA_REASON_NO_STATUS = 10; // no upgrade status yet, or empty .dnt file name
constexpr uint32_t DFA_REASON_NO_MEMORY = 11; // no memory, or a task could not be made
constexpr uint32_t DFA_REASON_PATH_TOO_LONG = 12;
constexpr uint32_t DFA_REASON_NOT_FOUND = 13; // device or interface not found
// The Dante services returned no data. DFA_REASON_LIBRARY alone is also the
// library's "success", so a no-data failure carried as DFA_REASON_LIBRARY
// came back as success through the Dante error map; it has its own reason
// and maps to DFA_ERR_DAPI_OTHER.
constexpr uint32_t DFA_REASON_NO_DATA = 14;
constexpr uint32_t DFA_REASON_QUERY_KIND = 16; // a query kind the agent does not send
constexpr uint32_t DFA_REASON_SERVICE = 17; // conmon service not running
constexpr uint32_t DFA_REASON_BONJOUR = 18;
constexpr uint32_t DFA_REASON_TASK_STATE = 19; // OS-wrapper task not in use or wrong state
constexpr uint32_t DFA_REASON_OS = 20; // an operating-system call failed
constexpr uint32_t DFA_REASON_TERMINATE = 21; // the task did not end
constexpr uint32_t DFA_REASON_TASK_OTHER = 22;
constexpr uint32_t DFA_REASON_LIBRARY = 23; // 23 + library error

constexpr DfaStatus dfa_reason(uint32_t reason)
{
    return static_cast<DfaStatus>(0x80000000u + reason);
}
constexpr uint32_t dfa_reason_of(DfaStatus status)
{
    return static_cast<uint32_t>(status) - 0x80000000u;
}
constexpr DfaStatus dfa_library_error(aud_error error)
{
    return dfa_reason(DFA_REASON_LIBRARY + static_cast<uint32_t>(error));
}
constexpr bool dfa_is_library_error(DfaStatus status)
{
    return status < 0 && dfa_reason_of(status) >= DFA_REASON_LIBRARY;
}

// The Dante error map: library success gives 0, TIMEDOUT, RANGE and NOBUFS
// their codes, any other library error (and any other reason)
// DFA_ERR_DAPI_OTHER.
DfaResult dfa_dapi_error(DfaStatus status);

// Print level: 0 nothing, 1 only lines with "[ERROR]" (to standard error),
// 2 everything (the rest to standard output). 2 at start.
void dfa_set_print_level(int level);
int dfa_print_level();
// Formats through aud_vsnprintf ("%ls" takes UTF-16 and prints UTF-8) and
// flushes.
void dfa_print(const char* format, ...);

// The process-wide req_id counter: 1 to 0xFFFF, wrapping to 1.
uint16_t dfa_next_req_id();
// Sets the last id handed out (tests).
void dfa_set_last_req_id(uint16_t id);

// Elapsed whole seconds between two readings of the environment's clock
// (borrowing 1000000 microseconds per second).
int32_t dfa_elapsed_seconds(const aud_time* since, const aud_time* now);
// The agent's clock: its environment's, the monotonic clock before the
// agent has one. Every time-out of the glue reads it.
aud_time dfa_now();
// Whole seconds from `since` to dfa_now().
int32_t dfa_since(const aud_time& since);
