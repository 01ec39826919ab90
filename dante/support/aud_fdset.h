// The set of sockets a client hands to its owner's wait, in place of a
// select() read set: each socket at most once, at most AUD_FDSET_MAX of
// them, waited on with poll(). A socket is ready after aud_fdset_poll when
// it has data, an error or a hang-up (a receive then reports which).
#pragma once

#include "dante/support/aud_error.h"
#include "dante/support/aud_socket.h"

#include <cstddef>
#include <poll.h>

constexpr size_t AUD_FDSET_MAX = 1024;

struct aud_fdset {
    size_t count;
    pollfd fds[AUD_FDSET_MAX];
};

// Empties the set.
void aud_fdset_zero(aud_fdset* set);
// Adds s once: SUCCESS also when it is already there; NOBUFS when the set is
// full (its members stay as they are); INVALIDPARAMETER for -1 or null.
aud_error aud_fdset_add(aud_fdset* set, aud_socket s);
bool aud_fdset_contains(const aud_fdset* set, aud_socket s);
// NOTFOUND when s is not in the set.
aud_error aud_fdset_remove(aud_fdset* set, aud_socket s);
size_t aud_fdset_count(const aud_fdset* set);

// Waits up to timeout_ms (-1 without limit, 0 to look only) for a member to
// become readable; *ready (may be null) gets the number of ready members.
// An interrupted wait is SUCCESS with none ready.
aud_error aud_fdset_poll(aud_fdset* set, int timeout_ms, size_t* ready);
// Ready in the last aud_fdset_poll.
bool aud_fdset_is_ready(const aud_fdset* set, aud_socket s);
