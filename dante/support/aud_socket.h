// Thin wrappers over non-blocking BSD datagram sockets, multicast and
// message reception. Every function answers INVALIDPARAMETER for the
// invalid socket (-1) or a null argument it needs, and the converted errno
// (aud_error_from_errno) when its system call fails. An empty socket gives
// TIMEDOUT, an interrupted call INTERRUPTED, and a connected socket whose
// peer refused an earlier datagram CONNREFUSED.
#pragma once

#include "dante/support/aud_error.h"
#include "dante/support/aud_inet.h"

#include <cstddef>
#include <cstdint>

using aud_socket = int;
constexpr aud_socket AUD_SOCKET_INVALID = -1;

struct aud_interface;

// Opens a non-blocking, close-on-exec UDP socket of the family (AF_INET)
// into *out, which must hold AUD_SOCKET_INVALID on entry.
aud_error aud_socket_udp_open(aud_socket* out, int family);
// Connects; later receives report a refused peer as CONNREFUSED.
aud_error aud_socket_connect(aud_socket s, const aud_sockaddr* address);
// Opens for the address's family and connects; on a connect failure the
// socket is closed and *out is AUD_SOCKET_INVALID again.
aud_error aud_socket_udp_connect(aud_socket* out, const aud_sockaddr* address);
aud_error aud_socket_bind(aud_socket s, const aud_sockaddr* address);
// The socket's own address (getsockname) with its length set.
aud_error aud_socket_local_address(aud_socket s, aud_sockaddr* out);
// Closes *s when it is valid and stores AUD_SOCKET_INVALID.
aud_error aud_socket_close(aud_socket* s);
bool aud_socket_valid(aud_socket s);

// *length is the buffer size on entry and the bytes moved on return (0 after
// a failure). Sends never raise SIGPIPE.
aud_error aud_socket_recv(aud_socket s, void* buffer, size_t* length);
aud_error aud_socket_peek(aud_socket s, void* buffer, size_t* length);
// from may be null; otherwise it receives the sender's address.
aud_error aud_socket_recvfrom(aud_socket s, void* buffer, size_t* length, aud_sockaddr* from);
aud_error aud_socket_send(aud_socket s, const void* data, size_t* length);
aud_error aud_socket_sendto(aud_socket s, const void* data, size_t* length, const aud_sockaddr* to);

// Flags of aud_msginfo: asked on entry, obtained on return.
constexpr uint8_t AUD_MSGINFO_SOURCE = 0x01;
constexpr uint8_t AUD_MSGINFO_DESTINATION = 0x02;
constexpr uint8_t AUD_MSGINFO_INTERFACE = 0x08;

struct aud_msginfo {
    uint8_t flags;
    aud_sockaddr source;
    // The datagram's destination address with the socket's own port.
    aud_sockaddr destination;
    // The arrival interface index, whole.
    uint32_t interface_index;
};

// Receives one datagram with recvmsg. The destination and the arrival index
// come from IP_PKTINFO, so they are obtained only on a socket with
// aud_socket_set_pktinfo on; what was obtained is left in info->flags.
aud_error aud_socket_recvmsg(aud_socket s, void* buffer, size_t* length, aud_msginfo* info);

aud_error aud_socket_set_blocking(aud_socket s, bool blocking);

// Joins or leaves a group (network order, must lie in 224.0.0.0/4, else
// INVALIDPARAMETER without a system call) on the entry's interface, named by
// its index, or on any interface when iface is null.
aud_error aud_socket_join_group(aud_socket s, uint32_t group, const aud_interface* iface);
aud_error aud_socket_leave_group(aud_socket s, uint32_t group, const aud_interface* iface);
// Sends multicast out of the entry's interface (by index); null restores the
// routing table's choice.
aud_error aud_socket_set_multicast_if(aud_socket s, const aud_interface* iface);

// Boolean options: only the value 1 means on.
aud_error aud_socket_set_multicast_loop(aud_socket s, int on);
aud_error aud_socket_set_pktinfo(aud_socket s, int on);
aud_error aud_socket_set_reuse_addr(aud_socket s, int on);
// SO_REUSEPORT; callers treat a failure as a warning.
aud_error aud_socket_set_reuse_port(aud_socket s, int on);
