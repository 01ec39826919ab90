// Conversions between the address and endpoint records and the system's
// socket addresses (internal to the socket service).
#pragma once

#include "pbd/vsock/vsock.h"

#include <sys/socket.h>

// Fills *out from the endpoint; *length gets the size used.
// VSOCK_E_PARAM for an unknown family.
VSockResult vsock_endpointToSockaddr(const VSockEndpoint* endpoint, sockaddr_storage* out, socklen_t* length);
// Reads an AF_INET or AF_INET6 socket address; VSOCK_E_PARAM otherwise.
VSockResult vsock_sockaddrToEndpoint(const sockaddr* address, socklen_t length, VSockEndpoint* out);

bool vsock_addressIsEmpty(const VSockAddress* address);
