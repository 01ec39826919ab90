#include "dante/support/aud_fdset.h"

#include <cerrno>

namespace {

const pollfd* findMember(const aud_fdset* set, aud_socket s)
{
    for (size_t i = 0; i < set->count; ++i) {
        if (set->fds[i].fd == s)
            return &set->fds[i];
    }
    return nullptr;
}

} // namespace

void aud_fdset_zero(aud_fdset* set)
{
    if (set)
        set->count = 0;
}

aud_error aud_fdset_add(aud_fdset* set, aud_socket s)
{
    if (!set || s == AUD_SOCKET_INVALID)
        return AUD_INVALIDPARAMETER;
    if (findMember(set, s))
        return AUD_SUCCESS;
    if (set->count >= AUD_FDSET_MAX)
        return AUD_NOBUFS;
    set->fds[set->count++] = pollfd{s, POLLIN, 0};
    return AUD_SUCCESS;
}

bool aud_fdset_contains(const aud_fdset* set, aud_socket s)
{
    return set && findMember(set, s) != nullptr;
}

aud_error aud_fdset_remove(aud_fdset* set, aud_socket s)
{
    if (!set)
        return AUD_INVALIDPARAMETER;
    const pollfd* member = findMember(set, s);
    if (!member)
        return AUD_NOTFOUND;
    const size_t at = size_t(member - set->fds);
    set->fds[at] = set->fds[--set->count];
    return AUD_SUCCESS;
}

size_t aud_fdset_count(const aud_fdset* set)
{
    return set ? set->count : 0;
}

aud_error aud_fdset_poll(aud_fdset* set, int timeout_ms, size_t* ready)
{
    if (!set)
        return AUD_INVALIDPARAMETER;
    for (size_t i = 0; i < set->count; ++i)
        set->fds[i].revents = 0;
    const int n = poll(set->fds, nfds_t(set->count), timeout_ms);
    if (n < 0 && errno != EINTR)
        return aud_error_last();
    if (ready)
        *ready = n < 0 ? 0 : size_t(n);
    return AUD_SUCCESS;
}

bool aud_fdset_is_ready(const aud_fdset* set, aud_socket s)
{
    const pollfd* member = set ? findMember(set, s) : nullptr;
    return member && (member->revents & (POLLIN | POLLERR | POLLHUP | POLLNVAL));
}
