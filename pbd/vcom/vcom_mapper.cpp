// The process-wide table that routes service events to socket objects.
#include "pbd/vcom/vcom.h"

namespace VCOM {

VComSocketMapper& VComSocketMapper::instance()
{
    // Made once, thread-safely, on first use; lives until exit.
    static VComSocketMapper mapper;
    return mapper;
}

int32_t VComSocketMapper::add(VComAbstractSocket* socket, int serviceSocketId)
{
    if (!socket)
        return VCOM_E_MAPPER;
    std::lock_guard<std::mutex> guard(m_lock);
    for (int i = 0; i < VCOM_MAPPER_ENTRIES; ++i) {
        if (!m_entries[i].socket) {
            m_entries[i].socket = socket;
            m_entries[i].serviceId = serviceSocketId;
            if (i > m_highest)
                m_highest = i;
            return i;
        }
    }
    return VCOM_E_MAPPER;
}

int32_t VComSocketMapper::remove(int serviceSocketId)
{
    std::lock_guard<std::mutex> guard(m_lock);
    for (int i = 0; i <= m_highest; ++i) {
        if (m_entries[i].socket && m_entries[i].serviceId == serviceSocketId) {
            m_entries[i] = Entry{};
            if (i == m_highest) {
                while (m_highest >= 0 && !m_entries[m_highest].socket)
                    --m_highest;
            }
            return VCOM_OK;
        }
    }
    return VCOM_E_MAPPER;
}

int32_t VComSocketMapper::highestIndex()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_highest;
}

void VComSocketMapper::eventFunction(int socketId, const VSockEvent* event, void*)
{
    if (!event)
        return;
    VComSocketMapper& mapper = instance();
    std::lock_guard<std::mutex> guard(mapper.m_lock);
    for (int i = 0; i <= mapper.m_highest; ++i) {
        VComAbstractSocket* socket = mapper.m_entries[i].socket;
        if (!socket || mapper.m_entries[i].serviceId != socketId)
            continue;
        switch (event->kind) {
        case VSOCK_EV_ACCEPT:
            socket->onAcceptResult(event->result);
            break;
        case VSOCK_EV_CONNECT:
            socket->onConnectResult(event->result);
            break;
        case VSOCK_EV_RECV:
        case VSOCK_EV_DATAGRAM:
            socket->onReceiveResult(event->result);
            break;
        case VSOCK_EV_SEND:
        case VSOCK_EV_SENDTO:
            socket->onSendResult(event->result);
            break;
        default:
            break;
        }
        return;
    }
}

} // namespace VCOM
