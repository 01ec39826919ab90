// The server: its socket takes the requests, one per datagram, answered to
// that datagram's own sender; children carry the transfers.
#include "fwupdate/tftp/tftp_child.h"
#include "fwupdate/tftp/tftp_task.h"

#include <cstdio>
#include <cstring>

TFTPServer::TFTPServer()
    : m_socket(std::make_unique<VCOM::VComUdpSocket>())
{
    m_joined = tftp_taskJoin(this) == TFTP_OK;
}

TFTPServer::~TFTPServer()
{
    destroy();
}

TFTPResult TFTPServer::setup(const char* address, uint16_t port, const char* rootFolder, TFTPParentCallbackIF* parent)
{
    TFTPParentLock lock;
    if (!address || !rootFolder || m_state.load() == TFTP_SERVER_RUNNING)
        return TFTP_E_FAIL;
    // A cut folder would name another folder.
    if (strnlen(rootFolder, TFTP_ROOT_MAX) >= TFTP_ROOT_MAX)
        return TFTP_E_FAIL;
    VCOM::VComSocketAddress parsed;
    if (parsed.setAddressText(4, address) < 0)
        return TFTP_E_FAIL;
    m_address = parsed;
    m_port = port;
    m_root = rootFolder;
    m_parent = parent;
    m_state.store(TFTP_SERVER_SET_UP);
    return TFTP_OK;
}

TFTPResult TFTPServer::start()
{
    TFTPParentLock lock;
    if (m_state.load() != TFTP_SERVER_SET_UP || !m_joined)
        return TFTP_E_FAIL;
    if (!tftp_holdPort(m_port))
        return TFTP_E_FAIL;
    if (!m_socket)
        m_socket = std::make_unique<VCOM::VComUdpSocket>();
    const TFTPResult rc = m_socket->attach(0, this) | m_socket->open(m_address, m_port);
    if (rc < 0) {
        tftp_releasePort(m_port);
        return rc;
    }
    m_portHeld = true;
    m_state.store(TFTP_SERVER_RUNNING);
    return rc;
}

uint32_t TFTPServer::bytesSentByChild(int index) const
{
    if (index < 0 || index >= TFTP_SENDER_SLOTS)
        return 0;
    return m_bytesSent[static_cast<size_t>(index)].load();
}

int32_t TFTPServer::destroy()
{
    if (m_joined) {
        // Once out of the table the task never calls us again.
        tftp_taskLeave(this);
        m_joined = false;
    }
    releaseAll();
    return TFTP_OK;
}

void TFTPServer::releaseAll()
{
    for (size_t slot = 0; slot < m_children.size(); ++slot)
        m_ended[slot] = m_children[slot] != nullptr;
    releaseEnded();
    // Closing the socket ends its wake-ups.
    m_socket.reset();
    if (m_portHeld)
        tftp_releasePort(m_port);
    m_portHeld = false;
    m_state.store(TFTP_SERVER_CREATED);
}

int32_t TFTPServer::tick()
{
    if (m_state.load() != TFTP_SERVER_RUNNING)
        return TFTP_OK;
    for (size_t slot = 0; slot < m_children.size(); ++slot) {
        if (m_children[slot] && !m_ended[slot])
            m_children[slot]->tick();
    }
    releaseEnded();
    return TFTP_OK;
}

int32_t TFTPServer::serveRequests()
{
    if (!m_requestsPending.exchange(false) || m_state.load() != TFTP_SERVER_RUNNING)
        return TFTP_OK;
    m_socket->processEvents(this);
    if (m_readable)
        readRequests();
    releaseEnded();
    return TFTP_OK;
}

int32_t TFTPServer::pollChildren()
{
    if (!m_childrenPending.exchange(false))
        return TFTP_OK;
    for (const std::unique_ptr<TFTPChild>& child : m_children) {
        if (child)
            child->pollIfWoken();
    }
    releaseEnded();
    return TFTP_OK;
}

int TFTPServer::watchInputs(int* ids, int room)
{
    if (m_state.load() != TFTP_SERVER_RUNNING)
        return 0;
    int n = 0;
    for (size_t slot = 0; slot < m_children.size() && n < room; ++slot) {
        if (!m_children[slot] || m_ended[slot])
            continue;
        const int id = m_children[slot]->watchedInput();
        if (id >= 0)
            ids[n++] = id;
    }
    return n;
}

int32_t TFTPServer::serveInputs(const int* ids, const uint8_t* ready, int count)
{
    if (m_state.load() != TFTP_SERVER_RUNNING)
        return TFTP_OK;
    for (size_t slot = 0; slot < m_children.size(); ++slot) {
        if (!m_children[slot] || m_ended[slot])
            continue;
        const int id = m_children[slot]->watchedInput();
        for (int i = 0; id >= 0 && i < count; ++i) {
            if (ids[i] == id && ready[i]) {
                m_children[slot]->serveInput();
                break;
            }
        }
    }
    releaseEnded();
    return TFTP_OK;
}

// The task is signalled only when nothing was pending yet: a pending mark is
// taken before the task looks at the sockets, so it sees the later events too.
int32_t TFTPServer::wake()
{
    if (!m_childrenPending.exchange(true))
        tftp_taskSignal(TFTP_FLAG_CHILDREN);
    return TFTP_OK;
}

int32_t TFTPServer::wakeup(uint16_t, VCOM::IVCom*)
{
    if (!m_requestsPending.exchange(true))
        tftp_taskSignal(TFTP_FLAG_REQUESTS);
    return TFTP_OK;
}

int32_t TFTPServer::OnReceive(int32_t, uint8_t)
{
    m_readable = true;
    return 0;
}

void TFTPServer::readRequests()
{
    uint8_t buffer[TFTP_DATAGRAM_BUFFER];
    for (int i = 0; i < TFTP_READ_BURST; ++i) {
        uint32_t count = 0;
        if (m_socket->read(buffer, sizeof buffer, &count) < 0) {
            tftp_log("[ERROR] TFTP Server failed in receiving message.");
            m_readable = false;
            return;
        }
        if (count == 0) {
            m_readable = false;
            return;
        }
        VCOM::VComSocketAddress from;
        uint16_t fromPort = 0;
        m_socket->getSourceAddress(&from, &fromPort);
        handleRequest(buffer, count, from, fromPort);
    }
    // More may be queued, and no new event announces them: come back in the
    // next round.
    m_requestsPending.store(true);
    tftp_taskSignal(TFTP_FLAG_REQUESTS);
}

void TFTPServer::handleRequest(
    const uint8_t* data, size_t length, const VCOM::VComSocketAddress& from, uint16_t fromPort)
{
    TFTPRequest request;
    if (tftp_parseRequest(data, length, &request) != TFTP_OK)
        return;
    // A repeated request (the client's own resend) must not start a second
    // transfer to the same peer.
    if (servesPeer(from, fromPort))
        return;
    int slot = -1;
    if (request.opcode == TFTP_OP_RRQ)
        slot = freeSenderSlot();
    else if (!m_children[TFTP_RECEIVER_SLOT] && tftp_holdPort(TFTP_CHILD_BASE_PORT + TFTP_RECEIVER_SLOT))
        slot = TFTP_RECEIVER_SLOT;
    if (slot < 0)
        return; // no free child: no answer, the client asks again
    TFTPPeer peer;
    peer.address = from;
    peer.port = fromPort;
    startChild(slot, peer, request.name, request.modeCode);
}

bool TFTPServer::servesPeer(const VCOM::VComSocketAddress& address, uint16_t port) const
{
    for (int slot = 0; slot < TFTP_SENDER_SLOTS; ++slot) {
        if (m_children[static_cast<size_t>(slot)]
            && m_children[static_cast<size_t>(slot)]->peer().matches(address, port))
            return true;
    }
    return false;
}

int TFTPServer::freeSenderSlot()
{
    for (int slot = 0; slot < TFTP_SENDER_SLOTS; ++slot) {
        // A port another server of the process holds is skipped.
        if (!m_children[static_cast<size_t>(slot)] && tftp_holdPort(static_cast<uint16_t>(TFTP_CHILD_BASE_PORT + slot)))
            return slot;
    }
    return -1;
}

void TFTPServer::startChild(int slot, const TFTPPeer& peer, const char* name, uint8_t mode)
{
    const size_t index = static_cast<size_t>(slot);
    const uint16_t id = static_cast<uint16_t>(slot);
    if (slot == TFTP_RECEIVER_SLOT)
        m_children[index] = std::make_unique<TFTPReceiver>(this, id, tftp_makeUdpSocket());
    else
        m_children[index] = std::make_unique<TFTPSender>(this, id, tftp_makeUdpSocket());
    m_ended[index] = false;
    TFTPChild& child = *m_children[index];
    const uint8_t code = child.start(m_address, peer, mode, m_root, name);
    if (code != TFTP_ERR_NONE) {
        child.fail(code);
        return;
    }
    parentEvent(slot, TFTP_EVENT_STARTED);
    child.begin();
}

int32_t TFTPServer::childEvent(uint16_t slot, uint32_t code)
{
    if (slot >= TFTP_CHILD_SLOTS || !m_children[slot])
        return TFTP_E_FAIL;
    switch (code) {
    case TFTP_CHILD_FINISHED:
        m_ended[slot] = true;
        parentEvent(slot, TFTP_EVENT_FINISHED);
        break;
    case TFTP_CHILD_RESENT:
        parentEvent(slot, TFTP_EVENT_RESENT);
        break;
    case TFTP_CHILD_FAILED: {
        m_ended[slot] = true;
        parentEvent(slot, TFTP_EVENT_ABORTED);
        char line[64];
        snprintf(line, sizeof line, "[TFTP SERVER ERROR] TFTP::ERR = %d", m_children[slot]->errorCode());
        tftp_log(line);
        break;
    }
    case TFTP_CHILD_BLOCK:
        if (slot < TFTP_SENDER_SLOTS)
            m_bytesSent[slot].store(m_children[slot]->bytesTransferred());
        parentEvent(slot, TFTP_EVENT_BLOCK_SENT);
        break;
    default:
        return TFTP_E_FAIL;
    }
    return TFTP_OK;
}

void TFTPServer::parentEvent(int slot, uint32_t event)
{
    if (m_parent)
        m_parent->transferEvent(static_cast<uint16_t>(slot == TFTP_RECEIVER_SLOT ? 0 : slot), event);
}

void TFTPServer::releaseEnded()
{
    for (size_t slot = 0; slot < m_children.size(); ++slot) {
        if (!m_ended[slot])
            continue;
        m_ended[slot] = false;
        if (m_children[slot])
            m_children[slot]->closeSocket();
        m_children[slot].reset();
        if (slot < TFTP_SENDER_SLOTS)
            m_bytesSent[slot].store(0);
        tftp_releasePort(static_cast<uint16_t>(TFTP_CHILD_BASE_PORT + slot));
    }
}
