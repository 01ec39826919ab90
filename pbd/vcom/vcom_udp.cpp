// Datagram socket: one outgoing datagram at a time from its own buffer;
// incoming datagrams stay queued in the service until read.
#include "pbd/vcom/vcom_internal.h"

#include "pbd/jlib/jlib_heap.h"

#include <cstring>

namespace VCOM {

VComUdpSocket::VComUdpSocket()
    : m_datagram(
        static_cast<unsigned char*>(jlib_heapAlloc(0, "VComAbstractSocket::m_pSendBuff", VCOM_UDP_DATAGRAM_MAX)))
{
}

VComUdpSocket::~VComUdpSocket()
{
    // A pending send still reads the datagram buffer: close before it goes.
    closeSocket();
}

VComResult VComUdpSocket::open(const VComSocketAddress& localAddress, uint16_t localPort)
{
    if (m_state != VCOM_STATE_CLOSED)
        return VCOM_E_STATE;
    {
        std::lock_guard<std::mutex> guard(socketLock());
        m_pending = VComPendingEvents{};
        m_datagramPosition = 0;
        m_datagramRemaining = 0;
    }
    VSockOpenParams params{};
    params.mode = VSOCK_MODE_DATAGRAM;
    params.local.port = localPort;
    params.local.address = localAddress.record();
    if (params.local.address.family == 0)
        params.local.address.family = VSOCK_FAMILY_IPV4;
    VSockEventOptions options = vcom_eventOptions();
    if (m_ownerInput)
        options.flags |= VSOCK_EVF_OWNER_INPUT;
    const VSockResult id = vsock_open(&params, &options);
    if (id < 0)
        return vcom_translate(id);
    m_type = VCOM_TYPE_UDP;
    if (registerSocket(id) < 0) {
        closeSocket();
        return VCOM_E_RESOURCE;
    }
    m_state = VCOM_STATE_OPEN;
    return VCOM_OK;
}

VComResult VComUdpSocket::setDestination(const VComSocketAddress& address, uint16_t port)
{
    if (m_state != VCOM_STATE_OPEN)
        return VCOM_E_STATE;
    m_destination = address;
    m_destinationPort = port;
    return VCOM_OK;
}

VComResult VComUdpSocket::getSourceAddress(VComSocketAddress* addressOut, uint16_t* portOut) const
{
    if (addressOut)
        *addressOut = m_sourceAddress;
    if (portOut)
        *portOut = m_sourcePort;
    return VCOM_OK;
}

uint32_t VComUdpSocket::writableSpace() const
{
    return m_datagram && !m_sendBusy ? VCOM_UDP_DATAGRAM_MAX : 0;
}

VComResult VComUdpSocket::read(void* buffer, uint32_t size, uint32_t* countOut)
{
    if (countOut)
        *countOut = 0;
    if (m_state != VCOM_STATE_OPEN)
        return VCOM_E_STATE;
    if (!buffer && size > 0)
        return VCOM_E_ARG;
    m_sourceAddress.clear();
    m_sourcePort = 0;
    VSockEndpoint sender{};
    const VSockResult rc = vsock_recvFrom(m_serviceId, buffer, size, &sender, 0);
    if (rc == VSOCK_E_EMPTY)
        return VCOM_OK;
    if (rc < 0)
        return vcom_translate(rc, true);
    if (countOut)
        *countOut = static_cast<uint32_t>(rc);
    m_sourceAddress.set(sender.address);
    m_sourcePort = sender.port;
    return VCOM_OK;
}

VComResult VComUdpSocket::write(const void* data, uint32_t length, uint32_t* countOut)
{
    if (countOut)
        *countOut = 0;
    if (!data || length == 0)
        return VCOM_E_ARG;
    if (!m_datagram)
        return VCOM_E_FAIL;
    if (m_state != VCOM_STATE_OPEN)
        return VCOM_E_STATE;
    if (length > VCOM_UDP_DATAGRAM_MAX || m_sendBusy)
        return VCOM_E_INCOMPLETE;
    memcpy(m_datagram.get(), data, length);
    if (countOut)
        *countOut = length;
    {
        std::lock_guard<std::mutex> guard(socketLock());
        m_datagramPosition = 0;
        m_datagramRemaining = length;
        m_datagramLength = length;
    }
    VSockEndpoint destination{};
    destination.port = m_destinationPort;
    destination.address = m_destination.record();
    return handOverSend(vsock_sendTo(m_serviceId, m_datagram.get(), length, &destination, -1));
}

VComResult VComUdpSocket::onDisconnectRequest(int32_t)
{
    return VCOM_OK;
}

VComResult VComUdpSocket::onSendResult(int32_t result)
{
    recordSendResult(result, &m_datagramPosition, &m_datagramRemaining);
    return VCOM_OK;
}

VComResult VComUdpSocket::dispatch(IVComCallback* callback, uint8_t reserved, const VComPendingEvents& events)
{
    const int32_t user = m_userId;
    if (events.flags & VCOM_EV_RECEIVE_RESULT) {
        const int32_t n = events.receiveResult;
        if (n > 0 || n == VSOCK_E_PENDING) {
            callback->OnReceive(user, reserved);
        } else if (n == 0) {
            callback->OnDisconnected(user, reserved);
            closeSocket();
            return VCOM_OK;
        } else if (n == VSOCK_E_RESOURCE) {
            // The ring was full and a datagram was dropped; the queued ones
            // are still there.
            callback->OnCommunicationFailed(user, reserved, VCOM_REASON_RECEIVE);
            callback->OnReceive(user, reserved);
        } else {
            callback->OnConnectionFailed(user, reserved, VCOM_REASON_RECEIVE);
            closeSocket();
            return VCOM_OK;
        }
    }
    if (!(events.flags & VCOM_EV_SEND_RESULT))
        return VCOM_OK;
    const int32_t r = events.sendResult;
    uint32_t position = 0;
    uint32_t remaining = 0;
    {
        std::lock_guard<std::mutex> guard(socketLock());
        position = m_datagramPosition;
        remaining = m_datagramRemaining;
    }
    if (r <= 0 && r != VSOCK_E_PENDING) {
        // Cleared, or every later datagram would be refused.
        m_sendBusy = 0;
        callback->OnCommunicationFailed(user, reserved, sendFailureReason(r));
        return VCOM_OK;
    }
    if (remaining > 0) {
        VSockEndpoint destination{};
        destination.port = m_destinationPort;
        destination.address = m_destination.record();
        handOverSend(vsock_sendTo(m_serviceId, m_datagram.get() + position, remaining, &destination, -1));
        return VCOM_OK;
    }
    m_sendBusy = 0;
    callback->OnSend(user, reserved);
    return VCOM_OK;
}

} // namespace VCOM
