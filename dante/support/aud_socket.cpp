#include "dante/support/aud_socket.h"

#include "dante/support/aud_interface.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool validAddress(const aud_sockaddr* a)
{
    return a && a->len > 0 && a->len <= sizeof a->addr;
}

aud_error moved(ssize_t n, size_t* length)
{
    if (n < 0) {
        const aud_error e = aud_error_last();
        *length = 0;
        return e;
    }
    *length = size_t(n);
    return AUD_SUCCESS;
}

aud_error receive(aud_socket s, void* buffer, size_t* length, int flags, aud_sockaddr* from)
{
    if (s == AUD_SOCKET_INVALID || !buffer || !length)
        return AUD_INVALIDPARAMETER;
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    const ssize_t n = recvfrom(
        s, buffer, *length, flags, from ? reinterpret_cast<sockaddr*>(&peer) : nullptr, from ? &peerLength : nullptr);
    const aud_error e = moved(n, length);
    if (e == AUD_SUCCESS && from) {
        memset(from, 0, sizeof *from);
        const size_t keep = peerLength < sizeof from->addr ? peerLength : sizeof from->addr;
        memcpy(&from->addr, &peer, keep);
        from->len = uint8_t(keep);
    }
    return e;
}

aud_error setBoolean(aud_socket s, int level, int name, int on)
{
    if (s == AUD_SOCKET_INVALID)
        return AUD_INVALIDPARAMETER;
    const int value = on == 1 ? 1 : 0;
    if (setsockopt(s, level, name, &value, sizeof value) != 0)
        return aud_error_last();
    return AUD_SUCCESS;
}

aud_error membership(aud_socket s, uint32_t group, const aud_interface* iface, int option)
{
    if (s == AUD_SOCKET_INVALID || !aud_addr_is_multicast(group))
        return AUD_INVALIDPARAMETER;
    ip_mreqn request{};
    request.imr_multiaddr.s_addr = group;
    request.imr_ifindex = iface ? int(iface->index) : 0;
    if (setsockopt(s, IPPROTO_IP, option, &request, sizeof request) != 0)
        return aud_error_last();
    return AUD_SUCCESS;
}

} // namespace

aud_error aud_socket_udp_open(aud_socket* out, int family)
{
    if (!out || *out != AUD_SOCKET_INVALID)
        return AUD_INVALIDPARAMETER;
    const int s = socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP);
    if (s < 0)
        return aud_error_last();
    *out = s;
    return AUD_SUCCESS;
}

aud_error aud_socket_connect(aud_socket s, const aud_sockaddr* address)
{
    if (s == AUD_SOCKET_INVALID || !validAddress(address))
        return AUD_INVALIDPARAMETER;
    if (connect(s, &address->addr.sa, address->len) != 0)
        return aud_error_last();
    return AUD_SUCCESS;
}

aud_error aud_socket_udp_connect(aud_socket* out, const aud_sockaddr* address)
{
    if (!validAddress(address))
        return AUD_INVALIDPARAMETER;
    aud_error e = aud_socket_udp_open(out, address->addr.sa.sa_family);
    if (e != AUD_SUCCESS)
        return e;
    e = aud_socket_connect(*out, address);
    if (e != AUD_SUCCESS)
        aud_socket_close(out);
    return e;
}

aud_error aud_socket_bind(aud_socket s, const aud_sockaddr* address)
{
    if (s == AUD_SOCKET_INVALID || !validAddress(address))
        return AUD_INVALIDPARAMETER;
    if (bind(s, &address->addr.sa, address->len) != 0)
        return aud_error_last();
    return AUD_SUCCESS;
}

aud_error aud_socket_local_address(aud_socket s, aud_sockaddr* out)
{
    if (s == AUD_SOCKET_INVALID || !out)
        return AUD_INVALIDPARAMETER;
    memset(out, 0, sizeof *out);
    socklen_t length = sizeof out->addr;
    if (getsockname(s, &out->addr.sa, &length) != 0)
        return aud_error_last();
    out->len = uint8_t(length < sizeof out->addr ? length : sizeof out->addr);
    return AUD_SUCCESS;
}

aud_error aud_socket_close(aud_socket* s)
{
    if (!s)
        return AUD_INVALIDPARAMETER;
    if (*s != AUD_SOCKET_INVALID)
        close(*s);
    *s = AUD_SOCKET_INVALID;
    return AUD_SUCCESS;
}

bool aud_socket_valid(aud_socket s)
{
    return s != AUD_SOCKET_INVALID;
}

aud_error aud_socket_recv(aud_socket s, void* buffer, size_t* length)
{
    return receive(s, buffer, length, 0, nullptr);
}

aud_error aud_socket_peek(aud_socket s, void* buffer, size_t* length)
{
    return receive(s, buffer, length, MSG_PEEK, nullptr);
}

aud_error aud_socket_recvfrom(aud_socket s, void* buffer, size_t* length, aud_sockaddr* from)
{
    return receive(s, buffer, length, 0, from);
}

aud_error aud_socket_send(aud_socket s, const void* data, size_t* length)
{
    if (s == AUD_SOCKET_INVALID || !data || !length)
        return AUD_INVALIDPARAMETER;
    return moved(send(s, data, *length, MSG_NOSIGNAL), length);
}

aud_error aud_socket_sendto(aud_socket s, const void* data, size_t* length, const aud_sockaddr* to)
{
    if (s == AUD_SOCKET_INVALID || !data || !length || !validAddress(to))
        return AUD_INVALIDPARAMETER;
    return moved(sendto(s, data, *length, MSG_NOSIGNAL, &to->addr.sa, to->len), length);
}

aud_error aud_socket_recvmsg(aud_socket s, void* buffer, size_t* length, aud_msginfo* info)
{
    if (s == AUD_SOCKET_INVALID || !buffer || !length || !info)
        return AUD_INVALIDPARAMETER;
    const uint8_t asked = info->flags;
    info->flags = 0;
    sockaddr_storage peer{};
    iovec io{buffer, *length};
    alignas(cmsghdr) char control[1024];
    msghdr message{};
    message.msg_name = &peer;
    message.msg_namelen = sizeof peer;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const aud_error e = moved(recvmsg(s, &message, 0), length);
    if (e != AUD_SUCCESS)
        return e;
    if ((asked & AUD_MSGINFO_SOURCE) && peer.ss_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&peer);
        aud_sockaddr_set(&info->source, in->sin_addr.s_addr, ntohs(in->sin_port));
        info->flags |= AUD_MSGINFO_SOURCE;
    }
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO || c->cmsg_len < CMSG_LEN(sizeof(in_pktinfo)))
            continue;
        in_pktinfo packet;
        memcpy(&packet, CMSG_DATA(c), sizeof packet);
        if (asked & AUD_MSGINFO_DESTINATION) {
            aud_sockaddr local{};
            aud_socket_local_address(s, &local);
            aud_sockaddr_set(&info->destination, packet.ipi_addr.s_addr, aud_sockaddr_port(&local));
            info->flags |= AUD_MSGINFO_DESTINATION;
        }
        if (asked & AUD_MSGINFO_INTERFACE) {
            info->interface_index = uint32_t(packet.ipi_ifindex);
            info->flags |= AUD_MSGINFO_INTERFACE;
        }
    }
    return AUD_SUCCESS;
}

aud_error aud_socket_set_blocking(aud_socket s, bool blocking)
{
    if (s == AUD_SOCKET_INVALID)
        return AUD_INVALIDPARAMETER;
    const int flags = fcntl(s, F_GETFL);
    if (flags < 0)
        return aud_error_last();
    const int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    if (fcntl(s, F_SETFL, wanted) != 0)
        return aud_error_last();
    return AUD_SUCCESS;
}

aud_error aud_socket_join_group(aud_socket s, uint32_t group, const aud_interface* iface)
{
    return membership(s, group, iface, IP_ADD_MEMBERSHIP);
}

aud_error aud_socket_leave_group(aud_socket s, uint32_t group, const aud_interface* iface)
{
    return membership(s, group, iface, IP_DROP_MEMBERSHIP);
}

aud_error aud_socket_set_multicast_if(aud_socket s, const aud_interface* iface)
{
    if (s == AUD_SOCKET_INVALID)
        return AUD_INVALIDPARAMETER;
    ip_mreqn request{};
    request.imr_ifindex = iface ? int(iface->index) : 0;
    if (setsockopt(s, IPPROTO_IP, IP_MULTICAST_IF, &request, sizeof request) != 0)
        return aud_error_last();
    return AUD_SUCCESS;
}

aud_error aud_socket_set_multicast_loop(aud_socket s, int on)
{
    return setBoolean(s, IPPROTO_IP, IP_MULTICAST_LOOP, on);
}

aud_error aud_socket_set_pktinfo(aud_socket s, int on)
{
    return setBoolean(s, IPPROTO_IP, IP_PKTINFO, on);
}

aud_error aud_socket_set_reuse_addr(aud_socket s, int on)
{
    return setBoolean(s, SOL_SOCKET, SO_REUSEADDR, on);
}

aud_error aud_socket_set_reuse_port(aud_socket s, int on)
{
    return setBoolean(s, SOL_SOCKET, SO_REUSEPORT, on);
}
