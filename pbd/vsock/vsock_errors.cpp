#include "pbd/vsock/vsock_errors.h"

#include <cerrno>

namespace {

struct Entry {
    int err;
    VSockResult code;
};

constexpr VSockResult OBJ = VSOCK_E_OBJ;
constexpr VSockResult PARAM = VSOCK_E_PARAM;
constexpr VSockResult RES = VSOCK_E_RESOURCE;
constexpr VSockResult PEND = VSOCK_E_PENDING;
constexpr VSockResult TIME = VSOCK_E_TIMEOUT;

// EBADF stands beside ENOTSOCK (an invalid handle), ENFILE beside EMFILE,
// ENOMEM beside ENOBUFS and EPIPE beside ESHUTDOWN: they are the same faults
// as the system reports them here.
const Entry kSocket[] = {{EPROTOTYPE, PARAM}, {EPROTONOSUPPORT, PARAM}, {ESOCKTNOSUPPORT, PARAM}, {EAFNOSUPPORT, PARAM},
    {EINVAL, PARAM}, {EMFILE, RES}, {ENFILE, RES}, {ENOBUFS, RES}, {ENOMEM, RES}, {ENETDOWN, OBJ}};

const Entry kBind[] = {{EACCES, OBJ}, {EINVAL, OBJ}, {EADDRINUSE, OBJ}, {ENETDOWN, OBJ}, {EFAULT, PARAM},
    {ENOTSOCK, PARAM}, {EBADF, PARAM}, {EADDRNOTAVAIL, PARAM}, {ENOBUFS, RES}, {ENOMEM, RES}};

const Entry kListen[] = {{EINVAL, OBJ}, {EOPNOTSUPP, OBJ}, {EADDRINUSE, OBJ}, {ENETDOWN, OBJ}, {EISCONN, OBJ},
    {ENOTSOCK, PARAM}, {EBADF, PARAM}, {EMFILE, RES}, {ENFILE, RES}, {ENOBUFS, RES}, {ENOMEM, RES}};

const Entry kAccept[] = {{EINTR, OBJ}, {EINVAL, OBJ}, {EOPNOTSUPP, OBJ}, {ENETDOWN, OBJ}, {ECONNRESET, OBJ},
    {ECONNABORTED, OBJ}, {EFAULT, PARAM}, {ENOTSOCK, PARAM}, {EBADF, PARAM}, {EMFILE, RES}, {ENFILE, RES},
    {ENOBUFS, RES}, {ENOMEM, RES}, {EAGAIN, PEND}, {EWOULDBLOCK, PEND}};

// Connect: a non-blocking connect under way reports EINPROGRESS.
const Entry kConnect[] = {{EINTR, OBJ}, {EACCES, OBJ}, {EINVAL, OBJ}, {EALREADY, OBJ}, {EADDRINUSE, OBJ},
    {ENETDOWN, OBJ}, {EISCONN, OBJ}, {ECONNREFUSED, OBJ}, {ENOBUFS, RES}, {ENOMEM, RES}, {EAGAIN, PEND},
    {EWOULDBLOCK, PEND}, {EINPROGRESS, PEND}, {ETIMEDOUT, TIME}};

const Entry kSend[] = {{EINTR, OBJ}, {EACCES, OBJ}, {EINVAL, OBJ}, {EOPNOTSUPP, OBJ}, {ENETDOWN, OBJ}, {ENETRESET, OBJ},
    {ECONNABORTED, OBJ}, {ECONNRESET, OBJ}, {ENOTCONN, OBJ}, {ESHUTDOWN, OBJ}, {EPIPE, OBJ}, {EHOSTUNREACH, OBJ},
    {EFAULT, PARAM}, {ENOTSOCK, PARAM}, {EBADF, PARAM}, {EMSGSIZE, PARAM}, {ENOBUFS, RES}, {ENOMEM, RES},
    {EAGAIN, PEND}, {EWOULDBLOCK, PEND}, {ETIMEDOUT, TIME}};

const Entry kSendTo[] = {{EINTR, OBJ}, {EACCES, OBJ}, {EINVAL, OBJ}, {EOPNOTSUPP, OBJ}, {ENETDOWN, OBJ},
    {ENETRESET, OBJ}, {ECONNABORTED, OBJ}, {ECONNRESET, OBJ}, {ENOTCONN, OBJ}, {ESHUTDOWN, OBJ}, {EPIPE, OBJ},
    {EHOSTUNREACH, OBJ}, {ENETUNREACH, OBJ}, {EFAULT, PARAM}, {ENOTSOCK, PARAM}, {EBADF, PARAM}, {EDESTADDRREQ, PARAM},
    {EMSGSIZE, PARAM}, {EAFNOSUPPORT, PARAM}, {EADDRNOTAVAIL, PARAM}, {ENOBUFS, RES}, {ENOMEM, RES}, {EAGAIN, PEND},
    {EWOULDBLOCK, PEND}, {ETIMEDOUT, TIME}};

const Entry kRecv[] = {{EINTR, OBJ}, {EINVAL, OBJ}, {EOPNOTSUPP, OBJ}, {ENETDOWN, OBJ}, {ENETRESET, OBJ},
    {ECONNABORTED, OBJ}, {ECONNRESET, OBJ}, {ENOTCONN, OBJ}, {ESHUTDOWN, OBJ}, {EFAULT, PARAM}, {ENOTSOCK, PARAM},
    {EBADF, PARAM}, {EMSGSIZE, PARAM}, {EAGAIN, PEND}, {EWOULDBLOCK, PEND}, {ETIMEDOUT, TIME}};

const Entry kRecvFrom[] = {{EINTR, OBJ}, {EINVAL, OBJ}, {EOPNOTSUPP, OBJ}, {ENETDOWN, OBJ}, {ENETRESET, OBJ},
    {EISCONN, OBJ}, {ESHUTDOWN, OBJ}, {EFAULT, PARAM}, {ENOTSOCK, PARAM}, {EBADF, PARAM}, {EMSGSIZE, PARAM},
    {EAGAIN, PEND}, {EWOULDBLOCK, PEND}, {ETIMEDOUT, TIME}};

const Entry kClose[]
    = {{EINTR, OBJ}, {ENETDOWN, OBJ}, {ENOTSOCK, PARAM}, {EBADF, PARAM}, {EAGAIN, PEND}, {EWOULDBLOCK, PEND}};

const Entry kIoctl[] = {{ENETDOWN, OBJ}, {EFAULT, PARAM}, {ENOTSOCK, PARAM}, {EBADF, PARAM}};

const Entry kSetSockOpt[] = {{ENETDOWN, OBJ}, {ENETRESET, OBJ}, {ENOTCONN, OBJ}, {EFAULT, PARAM}, {EINVAL, PARAM},
    {ENOTSOCK, PARAM}, {EBADF, PARAM}, {ENOPROTOOPT, PARAM}};

const Entry kGetSockOpt[]
    = {{ENETDOWN, OBJ}, {EFAULT, PARAM}, {EINVAL, PARAM}, {ENOTSOCK, PARAM}, {EBADF, PARAM}, {ENOPROTOOPT, PARAM}};

template <size_t N> VSockResult lookup(const Entry (&table)[N], int err, VSockResult otherwise)
{
    for (const Entry& e : table) {
        if (e.err == err)
            return e.code;
    }
    return otherwise;
}

} // namespace

VSockResult vsock_translateError(VSockCall call, int err)
{
    if (err == 0)
        return VSOCK_OK;
    switch (call) {
    case VSockCall::Socket:
        return lookup(kSocket, err, VSOCK_E_SOCKET);
    case VSockCall::Bind:
        return lookup(kBind, err, VSOCK_E_SOCKET);
    case VSockCall::Listen:
        return lookup(kListen, err, VSOCK_E_SOCKET);
    case VSockCall::Accept:
        return lookup(kAccept, err, VSOCK_E_SOCKET);
    case VSockCall::Connect:
        return lookup(kConnect, err, VSOCK_E_PARAM);
    case VSockCall::Send:
        return lookup(kSend, err, VSOCK_E_SOCKET);
    case VSockCall::SendTo:
        return lookup(kSendTo, err, VSOCK_E_SOCKET);
    case VSockCall::Recv:
        return lookup(kRecv, err, VSOCK_E_SOCKET);
    case VSockCall::RecvFrom:
        return lookup(kRecvFrom, err, VSOCK_E_SOCKET);
    case VSockCall::Close:
        return lookup(kClose, err, VSOCK_E_SOCKET);
    case VSockCall::Ioctl:
        return lookup(kIoctl, err, VSOCK_E_SOCKET);
    case VSockCall::SetSockOpt:
        return lookup(kSetSockOpt, err, VSOCK_E_SOCKET);
    case VSockCall::GetSockOpt:
        return lookup(kGetSockOpt, err, VSOCK_E_SOCKET);
    }
    return VSOCK_E_SOCKET;
}
