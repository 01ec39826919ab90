// The datagram side of the socket service: binding for multicast, sends from
// the socket's own address, the arrival-interface filter and the receive ring.
#include "pbd/vsock/vsock_internal.h"

#include "pbd/vsock/vsock_addr.h"
#include "pbd/vsock/vsock_errors.h"

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vsock_detail {

namespace {

// Index of the interface that holds the IPv4 address, 0 when none does.
unsigned interfaceOf(const uint8_t addr[4])
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return 0;
    unsigned index = 0;
    for (ifaddrs* it = list; it && index == 0; it = it->ifa_next) {
        if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET)
            continue;
        sockaddr_in in;
        memcpy(&in, it->ifa_addr, sizeof in);
        if (memcmp(&in.sin_addr, addr, 4) == 0)
            index = if_nametoindex(it->ifa_name);
    }
    freeifaddrs(list);
    return index;
}

VSockResult bindAny(int fd, uint16_t port)
{
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(port);
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0)
        return vsock_translateError(VSockCall::Bind, errno);
    return VSOCK_OK;
}

// Hands the armed datagram to the system: the bytes taken, or an error
// (VSOCK_E_PENDING while the system has no room).
int32_t datagramSendmsg(Record& r)
{
    sockaddr_storage sa;
    socklen_t saLength = 0;
    if (vsock_endpointToSockaddr(&r.send.destination, &sa, &saLength) < 0)
        return VSOCK_E_PARAM;
    iovec iov{const_cast<uint8_t*>(r.send.data + r.send.sent), r.send.length - r.send.sent};
    msghdr msg{};
    msg.msg_name = &sa;
    msg.msg_namelen = saLength;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) uint8_t control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    if (r.sendFromLocal && r.send.destination.address.family == VSOCK_FAMILY_IPV4) {
        // Leave from the socket's own address although it is bound to any.
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* cm = CMSG_FIRSTHDR(&msg);
        cm->cmsg_level = IPPROTO_IP;
        cm->cmsg_type = IP_PKTINFO;
        cm->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        memcpy(&info.ipi_spec_dst, r.local.address.addr, 4);
        memcpy(CMSG_DATA(cm), &info, sizeof info);
    }
    const ssize_t n = sendmsg(slotFd(r), &msg, MSG_NOSIGNAL);
    return n < 0 ? vsock_translateError(VSockCall::SendTo, errno) : static_cast<int32_t>(n);
}

void datagramSendProgress(int id)
{
    Record& r = g.records[id];
    if (r.send.state == OpState::Armed) {
        const int32_t n = datagramSendmsg(r);
        if (n < 0) {
            if (n != VSOCK_E_PENDING)
                finishSend(id, VSOCK_EV_SENDTO, n);
            return;
        }
        r.send.sent += static_cast<uint32_t>(n);
        r.send.state = OpState::Done;
    }
    if (r.send.state == OpState::Done)
        finishSend(id, VSOCK_EV_SENDTO, static_cast<int32_t>(r.send.sent));
}

void deliverDatagram(int id, int32_t result)
{
    Record& r = g.records[id];
    r.ringState = RingState::Delivering;
    deliver(id, VSOCK_EV_DATAGRAM, result);
    r.ringState = RingState::Listening;
}

// The interface a datagram arrived on, from its IP_PKTINFO; 0 when absent.
unsigned arrivalInterface(msghdr& msg)
{
    unsigned arrival = 0;
    for (cmsghdr* cm = CMSG_FIRSTHDR(&msg); cm; cm = CMSG_NXTHDR(&msg, cm)) {
        if (cm->cmsg_level == IPPROTO_IP && cm->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            memcpy(&info, CMSG_DATA(cm), sizeof info);
            arrival = static_cast<unsigned>(info.ipi_ifindex);
        }
    }
    return arrival;
}

// Moves one datagram the system holds into the ring: its length, 0 when
// none was taken (nothing there, or one the filters drop), or a failure.
int32_t datagramFetch(Record& r)
{
    sockaddr_storage from{};
    iovec iov{r.scratch, sizeof r.scratch};
    alignas(cmsghdr) uint8_t control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(slotFd(r), &msg, MSG_DONTWAIT);
    if (n < 0) {
        // A refused earlier send is no datagram and no failure.
        if (errno == ECONNRESET || errno == ECONNREFUSED)
            return 0;
        const VSockResult rc = vsock_translateError(VSockCall::RecvFrom, errno);
        return rc == VSOCK_E_PENDING ? 0 : rc;
    }
    if (r.arrivalIfIndex != 0 && arrivalInterface(msg) != r.arrivalIfIndex)
        return 0;
    if (msg.msg_flags & MSG_TRUNC) {
        // Larger than the receive buffer: queuing the cut datagram would hand
        // out corrupted data.
        ++r.droppedOversize;
        return 0;
    }
    if (n == 0)
        return 0;
    VSockEndpoint sender{};
    if (vsock_sockaddrToEndpoint(reinterpret_cast<const sockaddr*>(&from), msg.msg_namelen, &sender) < 0)
        return 0;
    const VSockResult rc = vsock_ringAppend(&r.ring, &sender, r.scratch, static_cast<uint32_t>(n));
    return rc >= 0 ? static_cast<int32_t>(n) : rc;
}

void datagramReceive(int id)
{
    const int32_t result = datagramFetch(g.records[id]);
    if (result != 0)
        deliverDatagram(id, result);
}

} // namespace

// Multicast and broadcast reach only sockets bound to the any address here,
// so a datagram socket with its own address binds to any address, receives
// only what arrives on that address's interface, and sends from the address.
VSockResult openDatagram(Record& r, int fd)
{
    const VSockEndpoint& local = r.local;
    if (local.port == 0)
        return setOption(fd, SOL_SOCKET, SO_BROADCAST, 1);
    VSockResult rc = setOption(fd, SOL_SOCKET, SO_REUSEADDR, 1);
    if (rc < 0)
        return rc;
    // Group datagrams only for the groups this socket joined, not for every
    // group some socket of the host joined.
    rc = setOption(fd, IPPROTO_IP, IP_MULTICAST_ALL, 0);
    if (rc < 0)
        return rc;
    if (!vsock_addressIsEmpty(&local.address)) {
        const unsigned ifIndex = interfaceOf(local.address.addr);
        if (ifIndex == 0)
            return vsock_translateError(VSockCall::Bind, EADDRNOTAVAIL);
        rc = setOption(fd, IPPROTO_IP, IP_PKTINFO, 1);
        if (rc < 0)
            return rc;
        in_addr ifAddr;
        memcpy(&ifAddr, local.address.addr, 4);
        if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &ifAddr, sizeof ifAddr) != 0)
            return vsock_translateError(VSockCall::SetSockOpt, errno);
        r.arrivalIfIndex = ifIndex;
        r.sendFromLocal = true;
    }
    rc = bindAny(fd, local.port);
    if (rc < 0)
        return rc;
    return setOption(fd, SOL_SOCKET, SO_BROADCAST, 1);
}

short datagramWantedEvents(const Record& r)
{
    short events = 0;
    if (r.ringState == RingState::Listening && !ownerInput(r))
        events |= POLLIN;
    if (r.send.wantsWritable())
        events |= POLLOUT;
    return events;
}

void datagramDispatch(int id, bool readable, bool writable)
{
    if (readable)
        datagramReceive(id);
    if (writable && g.records[id].state == RecordState::Open)
        datagramSendProgress(id);
}

void closeDatagram(int id)
{
    if (g.records[id].send.outstanding())
        finishSend(id, VSOCK_EV_SENDTO, VSOCK_E_NOTOPEN);
    g.records[id].ringState = RingState::Delivering;
    deliver(id, VSOCK_EV_DATAGRAM, VSOCK_E_NOTOPEN);
}

} // namespace vsock_detail

using namespace vsock_detail;

VSockResult vsock_sendTo(
    int socketId, const void* data, uint32_t length, const VSockEndpoint* destination, int32_t timeoutMs)
{
    if (!data || !destination || length > kMaxTransfer)
        return VSOCK_E_PARAM;
    return withOpenRecord(socketId, [&](Record& r) -> VSockResult {
        if (r.kind != Kind::Datagram || r.send.outstanding())
            return VSOCK_E_OBJ;
        r.send.destination = *destination;
        r.send.data = static_cast<const uint8_t*>(data);
        r.send.length = length;
        r.send.sent = 0;
        r.send.state = OpState::Armed;
        // A datagram the system takes at once completes here, with no
        // hand-off to the service thread (as a stream send taken whole); the
        // event comes before the caller sees PENDING, through the same event
        // function. A full buffer or a failure is left to the service thread.
        const int32_t n = datagramSendmsg(r);
        if (n >= 0) {
            r.send.sent = static_cast<uint32_t>(n);
            finishSend(socketId, VSOCK_EV_SENDTO, n);
            return VSOCK_E_PENDING;
        }
        if (n != VSOCK_E_PENDING) {
            r.send.result = n;
            r.send.state = OpState::Stored;
        }
        startOpTimer(&r.send.timer, timeoutMs);
        wakeService();
        return VSOCK_E_PENDING;
    });
}

VSockResult vsock_recvFrom(int socketId, void* buffer, uint32_t size, VSockEndpoint* sender, int32_t)
{
    if (!buffer && size > 0)
        return VSOCK_E_PARAM;
    return withOpenRecord(socketId, [&](Record& r) -> VSockResult {
        if (r.kind != Kind::Datagram)
            return VSOCK_E_OBJ;
        VSockResult taken = vsock_ringTake(&r.ring, buffer, size, sender);
        if (taken == VSOCK_E_EMPTY && ownerInput(r)) {
            const int32_t fetched = datagramFetch(r);
            if (fetched < 0 && fetched != VSOCK_E_RESOURCE)
                return fetched;
            if (fetched > 0)
                taken = vsock_ringTake(&r.ring, buffer, size, sender);
        }
        if (taken == VSOCK_E_BUFFER) {
            // Left queued, it would block every later datagram behind it.
            vsock_ringDrop(&r.ring);
            ++r.droppedOversize;
        }
        return taken;
    });
}

VSockResult vsock_joinGroup(int socketId, const VSockAddress* group)
{
    if (!group || group->family != VSOCK_FAMILY_IPV4)
        return VSOCK_E_PARAM;
    return withOpenRecord(socketId, [&](Record& r) -> VSockResult {
        if (r.kind != Kind::Datagram || r.local.address.family != VSOCK_FAMILY_IPV4)
            return VSOCK_E_OBJ;
        ip_mreqn request{};
        memcpy(&request.imr_multiaddr, group->addr, 4);
        memcpy(&request.imr_address, r.local.address.addr, 4);
        request.imr_ifindex = static_cast<int>(r.arrivalIfIndex);
        if (setsockopt(slotFd(r), IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) != 0)
            return vsock_translateError(VSockCall::SetSockOpt, errno);
        return VSOCK_OK;
    });
}

uint32_t vsock_droppedOversize(int socketId)
{
    if (!validId(socketId))
        return 0;
    std::lock_guard<JLIB::OwnedMutex> guard(g.lock);
    return g.records[socketId].droppedOversize;
}
