// Translation of the system's socket errors (errno values) into the socket
// service's result codes, one table per call.
#pragma once

#include "pbd/vsock/vsock.h"

enum class VSockCall {
    Socket,
    Bind,
    Listen,
    Accept,
    Connect, // also the SO_ERROR value of a completed connect
    Send,
    SendTo,
    Recv,
    RecvFrom,
    Close,
    Ioctl, // fcntl and other descriptor controls
    SetSockOpt,
    GetSockOpt,
};

// 0 for 0; otherwise the code of `err` for `call`. Errors not listed for a
// call give VSOCK_E_SOCKET, except for Connect, where they give VSOCK_E_PARAM.
VSockResult vsock_translateError(VSockCall call, int err);
