// What the agent's task offers its glue and processors: the answer through
// the client's callback, the socket hooks of the main loop, the wait that a
// stop ends at once, and the task "dfa_main_check_initialized".
#pragma once

#include "dante/dfa/dfa.h"
#include "dante/dfa/dfa_internal.h"
#include "dante/support/aud_env.h"
#include "dante/support/aud_fdset.h"

#include <cstddef>
#include <cstdint>

// Calls the registered callback. DFA_REASON_MISSING without a payload,
// DFA_REASON_RANGE for a length of 0 or above 1060 or a kind above 9,
// DFA_REASON_NOT_READY with no callback registered; no call is made then.
DfaStatus dfa_main_callback(DfaResult code, DfaCallbackKind kind, uint16_t req_id, const void* payload, size_t length);

// Socket hooks: index 0 browse, 1 conmon. The filler adds its client's
// sockets to the set; the processor runs after every wait (also with none
// ready) and a negative result stops the dispatch of that pass. A null
// filler unregisters. Registering marks the set for a rebuild.
using DfaSocketFiller = DfaStatus (*)(void* context, aud_fdset* set);
using DfaSocketProcessor = int (*)(void* context, const aud_fdset* set, size_t ready);
constexpr int DFA_SOCKET_HOOKS = 2;
DfaStatus dfa_main_set_socket_hooks(int index, DfaSocketFiller filler, DfaSocketProcessor processor, void* context);
// The one extra socket (the cmm client's); AUD_SOCKET_INVALID unregisters.
using DfaExtraProcessor = void (*)(void* context, const aud_fdset* set);
void dfa_main_set_extra_socket(aud_socket socket, DfaExtraProcessor processor, void* context);

// Blocks the agent's task for up to ms. A stop request ends the wait at once
// and every later one too: false then.
bool dfa_main_block(uint32_t ms);
// True once the agent's task has been asked to stop.
bool dfa_main_stopping();

// Creates "dfa_main_check_initialized" with req_id: it answers
// DFA_CBACK_INF_INIT once the clients are up.
DfaStatus dfa_main_post_check_initialized(uint16_t req_id);

// The environment of the running agent (null outside its task's life).
aud_env* dfa_main_env();

// True from a successful dfa_init until the agent's clean-up has ended
// (a callback or a start req_id is held).
bool dfa_main_active();
