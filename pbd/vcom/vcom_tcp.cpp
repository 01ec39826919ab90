// Buffered TCP connection: receive and send streams fed by 10,000-byte
// chunks that the service fills and drains on its own thread.
#include "pbd/vcom/vcom_internal.h"

#include "pbd/jlib/jlib_heap.h"

namespace VCOM {

namespace {

VComHeapBlock heapBlock(const char* tag, uint32_t size)
{
    return VComHeapBlock(static_cast<unsigned char*>(jlib_heapAlloc(0, tag, size)));
}

} // namespace

VComAbstractTcpSocket::VComAbstractTcpSocket()
    : m_receiveChunk(heapBlock("VComAbstractSocket::m_pReceiveBuff", VCOM_TCP_CHUNK_SIZE))
    , m_sendChunk(heapBlock("VComAbstractSocket::m_pSendBuff", VCOM_TCP_CHUNK_SIZE))
{
    m_receiveStream.allocate(0, VCOM_TCP_STREAM_SIZE);
    m_sendStream.allocate(0, VCOM_TCP_STREAM_SIZE);
}

VComAbstractTcpSocket::~VComAbstractTcpSocket()
{
    // The service may still write into the receive chunk or read the send
    // chunk: close before the chunks go.
    closeSocket();
}

VComResult VComAbstractTcpSocket::onDisconnectRequest(int32_t)
{
    record(VCOM_EV_DISCONNECT, [](VComPendingEvents&) {});
    return VCOM_OK;
}

VComResult VComAbstractTcpSocket::onSendResult(int32_t result)
{
    recordSendResult(result, &m_sendPosition, &m_sendRemaining);
    return VCOM_OK;
}

VComResult VComAbstractTcpSocket::startReceiving()
{
    if (!m_receiveChunk)
        return VCOM_E_FAIL;
    const VSockResult rc = vsock_recv(m_serviceId, m_receiveChunk.get(), VCOM_TCP_CHUNK_SIZE, -1, m_receiveChunk.get());
    if (rc == VSOCK_E_PENDING)
        return VCOM_PENDING;
    if (rc == VSOCK_E_OBJ) {
        onReceiveResult(rc);
        return VCOM_OK;
    }
    return vcom_translate(rc);
}

bool VComAbstractTcpSocket::takeHeldChunk()
{
    if (m_savedLength <= 0 || !m_receiveChunk)
        return false;
    const uint32_t length = static_cast<uint32_t>(m_savedLength);
    if (m_receiveStream.freeSpace() < length)
        return false;
    m_receiveStream.write(m_receiveChunk.get(), length);
    m_savedLength = 0;
    return true;
}

VComResult VComAbstractTcpSocket::flush()
{
    if (!m_sendChunk)
        return VCOM_E_FAIL;
    if (m_state != VCOM_STATE_OPEN)
        return VCOM_E_STATE;
    if (m_sendBusy || m_sendStream.count() == 0)
        return VCOM_OK;
    const uint32_t length = static_cast<uint32_t>(m_sendStream.read(m_sendChunk.get(), VCOM_TCP_CHUNK_SIZE));
    {
        std::lock_guard<std::mutex> guard(socketLock());
        m_sendPosition = 0;
        m_sendRemaining = length;
    }
    return handOverSend(vsock_send(m_serviceId, m_sendChunk.get(), length, -1, m_sendChunk.get()));
}

VComResult VComAbstractTcpSocket::read(void* buffer, uint32_t size, uint32_t* countOut)
{
    if (countOut)
        *countOut = 0;
    if (!buffer)
        return VCOM_E_ARG;
    if (m_state != VCOM_STATE_OPEN)
        return VCOM_E_STATE;
    const size_t n = m_receiveStream.read(static_cast<unsigned char*>(buffer), size);
    if (countOut)
        *countOut = static_cast<uint32_t>(n);
    if (n == 0)
        return VCOM_OK;
    record(VCOM_EV_RECEIVE_NOTIFY, [](VComPendingEvents&) {});
    return VCOM_MORE;
}

VComResult VComAbstractTcpSocket::write(const void* data, uint32_t length, uint32_t* countOut)
{
    if (countOut)
        *countOut = 0;
    if (!data || length == 0)
        return VCOM_E_ARG;
    if (m_state != VCOM_STATE_OPEN)
        return VCOM_E_STATE;
    const size_t taken = m_sendStream.write(static_cast<const unsigned char*>(data), length);
    if (countOut)
        *countOut = static_cast<uint32_t>(taken);
    const VComResult rc = flush();
    // Less than everything taken is told apart from PENDING (1) and MORE (2)
    // by its failure code; *countOut says what was taken and will be sent.
    return taken == length ? rc : VCOM_E_INCOMPLETE;
}

VComResult VComAbstractTcpSocket::dispatch(IVComCallback* callback, uint8_t reserved, const VComPendingEvents& events)
{
    const uint8_t flags = events.flags;
    const int32_t user = m_userId;
    if (flags & VCOM_EV_CONNECTED) {
        m_state = VCOM_STATE_OPEN;
        callback->OnConnected(user, reserved);
        startReceiving();
    }
    if (flags & VCOM_EV_CONNECT_FAILED) {
        closeSocket();
        callback->OnConnectionFailed(user, reserved, VCOM_REASON_CONNECT);
        return VCOM_OK;
    }
    if (flags & VCOM_EV_DISCONNECT) {
        closeSocket();
        callback->OnDisconnected(user, reserved);
        return VCOM_OK;
    }
    if (flags & VCOM_EV_RECEIVE_RESULT) {
        const int32_t n = events.receiveResult;
        if (n > 0) {
            m_savedLength = n;
            if (takeHeldChunk()) {
                callback->OnReceive(user, reserved);
                if (m_state == VCOM_STATE_OPEN)
                    startReceiving();
            } else {
                // Held until the owner has read enough; its reads queue the
                // notification that offers the chunk again, so an owner that
                // does not drain is not woken over and over.
                callback->OnReceive(user, reserved);
                if (takeHeldChunk() && m_state == VCOM_STATE_OPEN)
                    startReceiving();
            }
        } else if (n == 0) {
            callback->OnDisconnected(user, reserved);
            closeSocket();
            return VCOM_OK;
        } else {
            callback->OnConnectionFailed(user, reserved, VCOM_REASON_RECEIVE);
            closeSocket();
            return VCOM_OK;
        }
    }
    const bool moved = takeHeldChunk();
    if (moved && m_state == VCOM_STATE_OPEN)
        startReceiving();
    if ((flags & VCOM_EV_RECEIVE_NOTIFY) || moved)
        callback->OnReceive(user, reserved);
    if (flags & VCOM_EV_SEND_RESULT)
        return dispatchSend(callback, reserved, events.sendResult);
    return VCOM_OK;
}

VComResult VComAbstractTcpSocket::dispatchSend(IVComCallback* callback, uint8_t reserved, int32_t result)
{
    const int32_t user = m_userId;
    uint32_t position = 0;
    uint32_t remaining = 0;
    {
        std::lock_guard<std::mutex> guard(socketLock());
        position = m_sendPosition;
        remaining = m_sendRemaining;
    }
    if (result <= 0 && result != VSOCK_E_PENDING) {
        // The chunk is lost; without clearing send-busy nothing would ever
        // be sent again while write kept taking bytes.
        m_sendBusy = 0;
        {
            std::lock_guard<std::mutex> guard(socketLock());
            m_sendRemaining = 0;
        }
        if (result == VSOCK_E_OBJ) {
            // The connection is gone: close it, so that it is reported once.
            closeSocket();
            callback->OnDisconnected(user, reserved);
        } else {
            callback->OnCommunicationFailed(user, reserved, sendFailureReason(result));
        }
        return VCOM_OK;
    }
    if (remaining == 0) {
        m_sendBusy = 0;
        callback->OnSend(user, reserved);
        if (m_state == VCOM_STATE_OPEN)
            flush();
        return VCOM_OK;
    }
    handOverSend(vsock_send(m_serviceId, m_sendChunk.get() + position, remaining, -1, m_sendChunk.get()));
    return VCOM_OK;
}

// ---------------------------------------------------------------------------

VComTcpClientSocket::~VComTcpClientSocket()
{
    closeSocket();
}

VComResult VComTcpClientSocket::onConnectResult(int32_t result)
{
    if (result < 0) {
        record(VCOM_EV_CONNECT_FAILED, [](VComPendingEvents&) {});
        return VCOM_OK;
    }
    record(VCOM_EV_CONNECTED, [this](VComPendingEvents&) {
        m_peerAddress.set(m_connectEndpoint.address);
        m_peerPort = m_connectEndpoint.port;
    });
    return VCOM_OK;
}

VComResult VComTcpClientSocket::connect(
    const VComSocketAddress& localAddress, const VComSocketAddress& remoteAddress, uint16_t remotePort)
{
    if (m_state != VCOM_STATE_CLOSED)
        return VCOM_E_STATE;
    {
        std::lock_guard<std::mutex> guard(socketLock());
        m_pending = VComPendingEvents{};
        m_sendPosition = 0;
        m_sendRemaining = 0;
    }
    VSockOpenParams params{};
    params.mode = VSOCK_MODE_CONNECT;
    params.local.port = 0;
    params.local.address = localAddress.record();
    if (params.local.address.family == 0)
        params.local.address.family = remoteAddress.record().family;
    VSockEventOptions options = vcom_eventOptions();
    if (m_ownerInput)
        options.flags |= VSOCK_EVF_OWNER_INPUT;
    const VSockResult id = vsock_open(&params, &options);
    if (id < 0) {
        // Left "connecting", the socket could never be used again.
        resetSocket();
        return vcom_translate(id);
    }
    m_type = VCOM_TYPE_TCP_CLIENT;
    m_state = VCOM_STATE_CONNECTING;
    {
        std::lock_guard<std::mutex> guard(socketLock());
        m_connectEndpoint.port = remotePort;
        m_connectEndpoint.address = remoteAddress.record();
    }
    if (registerSocket(id) < 0) {
        closeSocket();
        return VCOM_E_RESOURCE;
    }
    VSockEndpoint endpoint{};
    endpoint.port = remotePort;
    endpoint.address = remoteAddress.record();
    const VSockResult rc = vsock_connect(id, &endpoint, -1);
    if (rc == VSOCK_OK) {
        onConnectResult(0);
        return VCOM_OK;
    }
    if (rc == VSOCK_E_PENDING)
        return VCOM_PENDING;
    closeSocket();
    return vcom_translate(rc);
}

} // namespace VCOM
