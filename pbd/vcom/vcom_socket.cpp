// What every socket class shares: user binding, the pending-event record,
// registration with the mapper, closing and resetting.
#include "pbd/vcom/vcom_internal.h"

#include "pbd/OSWRAP/oswrap.h"
#include "pbd/jlib/jlib_heap.h"

#include <algorithm>
#include <condition_variable>

namespace VCOM {

namespace {

// Wake-ups running on this thread: a detach from inside one must not wait
// for itself.
thread_local int t_wakeDepth = 0;

std::condition_variable& wakesDone()
{
    static std::condition_variable done;
    return done;
}

} // namespace

std::mutex& VComAbstractSocket::socketLock()
{
    // One lock for all sockets, made exactly once even when the first two
    // sockets are built on different threads at the same time (a function
    // static is initialised under the same guarantee as std::call_once).
    static std::mutex lock;
    return lock;
}

void VComHeapDeleter::operator()(unsigned char* block) const
{
    if (block)
        jlib_heapFree(block);
}

VComAbstractSocket::VComAbstractSocket()
{
    uint16_t task = 0;
    if (oswrap_getTaskId(&task) >= 0)
        m_ownerTask = task;
    socketLock();
}

VComAbstractSocket::~VComAbstractSocket()
{
    if (m_serviceId >= 0 || m_mapperIndex >= 0)
        closeSocket();
}

int32_t VComAbstractSocket::attach(int32_t userId, IVComWakeupFunction* wakeup)
{
    std::lock_guard<std::mutex> guard(socketLock());
    m_userId = userId;
    m_wakeup = wakeup;
    return VCOM_OK;
}

int32_t VComAbstractSocket::detach()
{
    std::unique_lock<std::mutex> guard(socketLock());
    m_userId = 0;
    m_wakeup = nullptr;
    // The wake-up object may go once detach returns: none may still run.
    if (t_wakeDepth == 0)
        wakesDone().wait(guard, [this] { return m_wakesRunning == 0; });
    return VCOM_OK;
}

void VComAbstractSocket::runWakeup(IVComWakeupFunction* wakeup)
{
    ++t_wakeDepth;
    wakeup->wakeup(m_ownerTask, this);
    --t_wakeDepth;
    std::lock_guard<std::mutex> guard(socketLock());
    if (--m_wakesRunning == 0)
        wakesDone().notify_all();
}

VComResult VComAbstractSocket::handOverSend(VSockResult rc)
{
    if (rc == VSOCK_E_PENDING) {
        m_sendBusy = 1;
        return VCOM_PENDING;
    }
    m_sendBusy = 0;
    // Anything but pending is a failure here: a send completes by event.
    const VSockResult failure = rc < 0 ? rc : VSOCK_E_SOCKET;
    onSendResult(failure);
    return vcom_translate(failure);
}

int32_t VComAbstractSocket::sendFailureReason(int32_t result)
{
    return result == VSOCK_E_TIMEOUT ? VCOM_REASON_SEND_TIMEOUT : VCOM_REASON_CONNECT;
}

VComResult VComAbstractSocket::disconnect()
{
    // A request on a closed socket would linger and close the next connection.
    if (m_state == VCOM_STATE_CLOSED)
        return VCOM_E_STATE;
    return onDisconnectRequest(0);
}

VComResult VComAbstractSocket::processEvents(IVComCallback* callback)
{
    if (!callback)
        return VCOM_E_ARG;
    if (m_mapperIndex < 0)
        return VCOM_E_STATE;
    VComPendingEvents events;
    {
        std::lock_guard<std::mutex> guard(socketLock());
        events = m_pending;
        m_pending = VComPendingEvents{};
    }
    return dispatch(callback, 0, events);
}

VComResult VComAbstractSocket::onConnectResult(int32_t)
{
    return VCOM_E_UNSUPPORTED;
}

VComResult VComAbstractSocket::onAcceptResult(int32_t)
{
    return VCOM_E_UNSUPPORTED;
}

VComResult VComAbstractSocket::onReceiveResult(int32_t result)
{
    record(VCOM_EV_RECEIVE_RESULT, [result](VComPendingEvents& e) { e.receiveResult = result; });
    return VCOM_OK;
}

void VComAbstractSocket::recordSendResult(int32_t result, uint32_t* position, uint32_t* remaining)
{
    record(VCOM_EV_SEND_RESULT, [result, position, remaining](VComPendingEvents& e) {
        if (result >= 0) {
            const uint32_t sent = std::min(static_cast<uint32_t>(result), *remaining);
            *position += sent;
            *remaining -= sent;
        }
        e.sendResult = result;
    });
}

void VComAbstractSocket::peer(VComSocketAddress* address, uint16_t* port) const
{
    std::lock_guard<std::mutex> guard(socketLock());
    if (address)
        *address = m_peerAddress;
    if (port)
        *port = m_peerPort;
}

VComResult VComAbstractSocket::registerSocket(int serviceId)
{
    m_serviceId = serviceId;
    const int32_t index = VComSocketMapper::instance().add(this, serviceId);
    if (index < 0)
        return VCOM_E_RESOURCE;
    m_mapperIndex = index;
    return VCOM_OK;
}

VComResult VComAbstractSocket::closeSocket()
{
    if (m_mapperIndex >= 0)
        VComSocketMapper::instance().remove(m_serviceId);
    m_mapperIndex = -1;
    VComResult rc = VCOM_OK;
    if (m_serviceId >= 0)
        rc = vcom_translate(vsock_close(m_serviceId));
    resetSocket();
    return rc;
}

void VComAbstractSocket::resetSocket()
{
    m_serviceId = -1;
    m_mapperIndex = -1;
    m_type = VCOM_TYPE_NONE;
    m_state = VCOM_STATE_CLOSED;
    m_receiveStream.clear();
    m_sendStream.clear();
    m_savedLength = 0;
    m_sendBusy = 0;
    std::lock_guard<std::mutex> guard(socketLock());
    m_pending = VComPendingEvents{};
    m_peerAddress.clear();
    m_peerPort = 0;
}

} // namespace VCOM
