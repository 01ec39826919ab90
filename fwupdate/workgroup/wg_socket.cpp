#include "fwupdate/workgroup/wg_socket.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <unistd.h>

bool wgsock_resolve6(const char* host, const char* port, sockaddr_storage* address, socklen_t* length)
{
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = 0;
    addrinfo* list = nullptr;
    if (getaddrinfo(host, port, &hints, &list) != 0 || !list)
        return false;
    const bool fits = list->ai_addrlen <= sizeof(sockaddr_storage);
    if (fits) {
        memset(address, 0, sizeof *address);
        memcpy(address, list->ai_addr, list->ai_addrlen);
        *length = list->ai_addrlen;
    }
    freeaddrinfo(list);
    return fits;
}

int wgsock_streamSocket(int family)
{
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return WGSOCK_NONE;
    if (wgsock_setBlocking(fd, false) != 0) {
        ::close(fd);
        return WGSOCK_NONE;
    }
    return fd;
}

int wgsock_setBlocking(int fd, bool blocking)
{
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0)
        return -1;
    return fcntl(fd, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK) < 0 ? -1 : 0;
}

WgConnect wgsock_connect(int fd, const sockaddr_storage* address, socklen_t length)
{
    if (::connect(fd, reinterpret_cast<const sockaddr*>(address), length) == 0)
        return WGSOCK_CONNECTED;
    switch (errno) {
    case EINPROGRESS:
    case EALREADY:
    case EINTR:
        return WGSOCK_IN_PROGRESS;
    case EISCONN:
        return WGSOCK_CONNECTED;
    default:
        return WGSOCK_REFUSED;
    }
}

bool wgsock_connectSucceeded(int fd)
{
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        return false;
    if (error != 0)
        return false;
    // Writable with no error can still mean "not connected" after a reset.
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    return getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) == 0;
}

int wgsock_wait(int fd, short events, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pollfd p{fd, events, 0};
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                  .count();
        const int r = ::poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
        if (r > 0)
            return 1;
        if (r == 0)
            return 0;
        if (errno != EINTR)
            return -1;
    }
}

long wgsock_recvExact(int fd, void* buffer, size_t size)
{
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::recv(fd, static_cast<uint8_t*>(buffer) + got, size - got, 0);
        if (n > 0) {
            got += static_cast<size_t>(n);
            continue;
        }
        if (n == 0)
            break;
        if (errno == EINTR)
            continue;
        return -1;
    }
    return static_cast<long>(got);
}

bool wgsock_sendAll(int fd, const void* data, size_t size)
{
    size_t sent = 0;
    while (sent < size) {
        const ssize_t n = ::send(fd, static_cast<const uint8_t*>(data) + sent, size - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return false;
    }
    return true;
}

void wgsock_shutdown(int fd, int how)
{
    if (fd != WGSOCK_NONE)
        ::shutdown(fd, how);
}

void wgsock_close(int fd)
{
    if (fd != WGSOCK_NONE)
        ::close(fd);
}
