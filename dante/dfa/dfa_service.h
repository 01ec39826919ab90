// Whether the PC's Dante control-and-monitoring service ("conmon") runs.
// The check goes through a probe, so tests can stand in for the system; the
// default probe reads /proc/net/udp and /proc/net/udp6 of the caller's
// network namespace: the service runs when a UDP socket is bound to its port
// on 127.0.0.1 or the wildcard address.
#pragma once

#include "dante/dfa/dfa_internal.h"

#include <cstddef>
#include <cstdint>

// Service states, with the service control manager's numbers.
constexpr uint32_t DFA_SERVICE_STOPPED = 1;
constexpr uint32_t DFA_SERVICE_START_PENDING = 2;
constexpr uint32_t DFA_SERVICE_STOP_PENDING = 3;
constexpr uint32_t DFA_SERVICE_RUNNING = 4;
constexpr uint32_t DFA_SERVICE_CONTINUE_PENDING = 5;
constexpr uint32_t DFA_SERVICE_PAUSE_PENDING = 6;
constexpr uint32_t DFA_SERVICE_PAUSED = 7;

constexpr uint16_t DFA_CONMON_PORT = 8900;

struct DfaServiceProbe {
    // Fills *state. DFA_REASON_OS when the source of states cannot be read,
    // DFA_REASON_SERVICE when the service's state cannot be queried.
    DfaStatus (*query)(void* context, const char16_t* service, uint32_t* state);
    void* context;
};

// Replaces the probe (null restores the /proc probe). Call while the agent
// is stopped.
void dfa_set_service_probe(const DfaServiceProbe* probe);

// The start's service check of "conmon", with its log lines: 0 when
// running, DFA_REASON_SERVICE when not, DFA_REASON_OS when the states
// cannot be read.
DfaStatus dfa_service_check();

// Name of a state ("SERVICE_RUNNING"; "unknown" outside 1..7).
const char* dfa_service_state_name(uint32_t state);

// Looks through /proc/net/udp-style tables for a socket bound to port on
// 127.0.0.1 or the wildcard (IPv6: ::, ::1 or ::ffff:127.0.0.1).
// DFA_REASON_OS when no table can be read.
DfaStatus dfa_service_udp_bound(const char* const* tables, size_t count, uint16_t port, bool* bound);
