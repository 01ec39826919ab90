// The few socket calls of the workgroup TCP transport, over POSIX sockets.
// Descriptors are plain ints; -1 is "no socket" (0 is a valid descriptor).
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/socket.h>

constexpr int WGSOCK_NONE = -1;

// Result of one connect step.
enum WgConnect {
    WGSOCK_CONNECTED = 0,
    WGSOCK_IN_PROGRESS = 1,
    WGSOCK_REFUSED = 2, // this attempt failed; a new socket may try again
};

// Resolves an IPv6 host text ("fe80::1%3" as it is) and a decimal port
// through getaddrinfo (AF_INET6, SOCK_STREAM, no flags); the first result.
bool wgsock_resolve6(const char* host, const char* port, sockaddr_storage* address, socklen_t* length);
// A non-blocking stream socket of the family, or WGSOCK_NONE.
int wgsock_streamSocket(int family);
int wgsock_setBlocking(int fd, bool blocking);
// connect() on a non-blocking socket.
WgConnect wgsock_connect(int fd, const sockaddr_storage* address, socklen_t length);
// The outcome of a connect that poll() reported writable: SO_ERROR == 0.
bool wgsock_connectSucceeded(int fd);
// poll() for one socket: 1 ready, 0 time-out, -1 error. Interrupts retry
// with the time that is left.
int wgsock_wait(int fd, short events, int timeoutMs);
// recv() until size bytes are in or the stream ends: the count read (fewer
// at end of stream), -1 on an error. Interrupts are retried.
long wgsock_recvExact(int fd, void* buffer, size_t size);
// Sends every byte (partial sends continue); false on an error.
bool wgsock_sendAll(int fd, const void* data, size_t size);
void wgsock_shutdown(int fd, int how);
void wgsock_close(int fd);
