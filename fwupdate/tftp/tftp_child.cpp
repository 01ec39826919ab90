// What both children share: the socket, the outgoing packet, the resend
// timer and the single end of a transfer.
#include "fwupdate/tftp/tftp_child.h"

#include <cstring>
#include <string>

namespace {

constexpr const char* kNotExpected = "[ERROR] TFTP : Received message is not the expected one!";

// The socket classes behind the child's socket interface.
class TFTPUdpSocket : public TFTPChildSocket {
public:
    // The task waits for the peer's answers itself, so an answer reaches the
    // task without a hand-over through the service thread.
    TFTPUdpSocket() { m_socket.setOwnerInput(true); }
    int32_t attach(int32_t userId, VCOM::IVComWakeupFunction* wakeup) override
    {
        return m_socket.attach(userId, wakeup);
    }
    VCOM::VComResult open(const VCOM::VComSocketAddress& local, uint16_t port) override
    {
        return m_socket.open(local, port);
    }
    VCOM::VComResult setDestination(const VCOM::VComSocketAddress& address, uint16_t port) override
    {
        return m_socket.setDestination(address, port);
    }
    VCOM::VComResult read(void* buffer, uint32_t size, uint32_t* count, TFTPPeer* from) override
    {
        const VCOM::VComResult rc = m_socket.read(buffer, size, count);
        if (rc >= 0 && *count > 0 && from)
            m_socket.getSourceAddress(&from->address, &from->port);
        return rc;
    }
    VCOM::VComResult write(const void* data, uint32_t length, uint32_t* count) override
    {
        return m_socket.write(data, length, count);
    }
    bool canWrite() const override { return m_socket.writableSpace() > 0; }
    VCOM::VComResult processEvents(VCOM::IVComCallback* callback) override { return m_socket.processEvents(callback); }
    int inputId() const override { return m_socket.serviceSocketId(); }

private:
    VCOM::VComUdpSocket m_socket;
};

void logFailure(const char* what)
{
    const std::string line = std::string("[ERROR] TFTP : ") + what;
    tftp_log(line.c_str());
}

} // namespace

std::unique_ptr<TFTPChildSocket> tftp_makeUdpSocket()
{
    return std::make_unique<TFTPUdpSocket>();
}

bool TFTPPeer::matches(const VCOM::VComSocketAddress& other, uint16_t otherPort) const
{
    const VSockAddress& a = address.record();
    const VSockAddress& b = other.record();
    return port == otherPort && a.family == b.family && memcmp(a.addr, b.addr, sizeof a.addr) == 0;
}

TFTPChild::TFTPChild(TFTPChildCallbackIF* server, uint16_t slot, std::unique_ptr<TFTPChildSocket> socket)
    : m_server(server)
    , m_slot(slot)
    , m_socket(std::move(socket))
{
}

TFTPChild::~TFTPChild()
{
    // Closed first: after this no wake-up of the service thread reaches us.
    m_socket.reset();
}

uint8_t TFTPChild::start(
    const VCOM::VComSocketAddress& local, const TFTPPeer& peer, uint8_t mode, const std::string& root, const char* name)
{
    if (m_state != TFTP_CHILD_NEW)
        return TFTP_ERR_STATE;
    m_peer = peer;
    m_mode = mode;
    if (m_socket->attach(m_slot + 1, this) < 0) {
        logFailure("UDP start failed");
        return TFTP_ERR_UDP;
    }
    if (m_socket->open(local, static_cast<uint16_t>(TFTP_CHILD_BASE_PORT + m_slot)) < 0) {
        logFailure("UDP listen failed");
        return TFTP_ERR_UDP;
    }
    if (m_socket->setDestination(peer.address, peer.port) < 0) {
        logFailure("UDP setup failed");
        return TFTP_ERR_UDP;
    }
    m_state = TFTP_CHILD_SET_UP;
    return openFile(root, name);
}

void TFTPChild::receive(const uint8_t* data, size_t length, const TFTPPeer& from)
{
    // A datagram from anyone but our peer is no part of this transfer.
    if (ended() || !m_peer.matches(from.address, from.port))
        return;
    onDatagram(data, length);
}

void TFTPChild::tick()
{
    const bool expired = oswrap_checkTimer(&m_timer) == OSWRAP_TIMER_REACHED;
    if (ended()) {
        // The last packet never reported back: end anyway.
        if (expired)
            finishEnd();
        return;
    }
    if (expired && waitsForPeer())
        onResendDue();
}

void TFTPChild::pollIfWoken()
{
    if (!m_woken.exchange(false))
        return;
    m_socket->processEvents(this);
    if (m_readable)
        readDatagrams();
}

int TFTPChild::watchedInput() const
{
    if (!m_socket || ended() || !waitsForPeer())
        return -1;
    return m_socket->inputId();
}

void TFTPChild::serveInput()
{
    if (!m_socket)
        return;
    // The completion of the last send first, so that the answer to this
    // datagram finds the socket free.
    m_socket->processEvents(this);
    if (ended() || !m_socket)
        return;
    uint8_t buffer[TFTP_DATAGRAM_BUFFER];
    uint32_t count = 0;
    TFTPPeer from;
    if (m_socket->read(buffer, sizeof buffer, &count, &from) < 0 || count == 0)
        return;
    receive(buffer, count, from);
}

void TFTPChild::readDatagrams()
{
    uint8_t buffer[TFTP_DATAGRAM_BUFFER];
    for (int i = 0; i < TFTP_READ_BURST; ++i) {
        uint32_t count = 0;
        TFTPPeer from;
        if (m_socket->read(buffer, sizeof buffer, &count, &from) < 0 || count == 0) {
            m_readable = false;
            return;
        }
        receive(buffer, count, from);
    }
    // More may be queued, and no new event announces them: come back in the
    // next round.
    m_woken.store(true);
    m_server->wake();
}

int32_t TFTPChild::wakeup(uint16_t, VCOM::IVCom*)
{
    // Already woken: the server knows, and the coming poll takes every event.
    if (m_woken.exchange(true))
        return TFTP_OK;
    return m_server->wake();
}

int32_t TFTPChild::OnReceive(int32_t, uint8_t)
{
    // Read once the send completion of the same round has been taken, so
    // that an answer finds the socket free.
    m_readable = true;
    return 0;
}

int32_t TFTPChild::OnSend(int32_t, uint8_t)
{
    if (m_outPending) {
        if (!flush() && !ended())
            fail(TFTP_ERR_UDP);
        return 0;
    }
    if (ended())
        finishEnd();
    return 0;
}

int32_t TFTPChild::OnCommunicationFailed(int32_t, uint8_t, int32_t reason)
{
    // A full receive ring only dropped a datagram; the peer sends it again.
    if (reason == VCOM::VCOM_REASON_RECEIVE)
        return 0;
    m_outPending = false;
    if (ended()) {
        finishEnd();
        return 0;
    }
    logFailure(m_outFailureLog ? m_outFailureLog : "UDP send failed.");
    fail(TFTP_ERR_UDP);
    return 0;
}

int32_t TFTPChild::OnConnectionFailed(int32_t, uint8_t, int32_t)
{
    // The socket is closed: nothing more can be sent or received.
    m_outPending = false;
    if (ended())
        finishEnd();
    else
        fail(TFTP_ERR_UDP);
    return 0;
}

bool TFTPChild::transmit(const uint8_t* packet, size_t length, const char* failureLog)
{
    if (packet != m_packet)
        memcpy(m_packet, packet, length);
    m_packetLength = length;
    m_outFailureLog = failureLog;
    return flush();
}

bool TFTPChild::flush()
{
    if (!m_socket->canWrite()) {
        // The previous datagram is still leaving; this one follows on OnSend.
        m_outPending = true;
        return true;
    }
    m_outPending = false;
    uint32_t count = 0;
    const VCOM::VComResult rc = m_socket->write(m_packet, static_cast<uint32_t>(m_packetLength), &count);
    if (rc == VCOM::VCOM_OK || rc == VCOM::VCOM_PENDING)
        return true;
    logFailure(m_outFailureLog);
    return false;
}

void TFTPChild::restartTimer()
{
    oswrap_startTimer(&m_timer, tftp_timings().resendMs);
}

void TFTPChild::resendOrTimeOut(const char* failureLog)
{
    if (m_resends >= tftp_timings().maxResends) {
        m_state = TFTP_CHILD_TIMED_OUT;
        fail(TFTP_ERR_TIMEOUT);
        return;
    }
    ++m_resends;
    if (!transmit(m_packet, m_packetLength, failureLog)) {
        fail(TFTP_ERR_UDP);
        return;
    }
    restartTimer();
    report(TFTP_CHILD_RESENT);
}

void TFTPChild::fail(uint8_t code)
{
    if (ended())
        return;
    m_error = code;
    if (const char* line = tftp_errorLogLine(code))
        tftp_log(line);
    uint8_t packet[TFTP_ERROR_MAX];
    const size_t length = tftp_makeError(packet, code);
    if (length > 0 && m_state != TFTP_CHILD_NEW)
        transmit(packet, length, "UDP send failed.");
    end(TFTP_CHILD_FAILED);
}

void TFTPChild::end(uint32_t code)
{
    if (ended())
        return;
    m_endCode = code;
    // Bounds the wait for the last packet's send completion.
    restartTimer();
    if (!m_outPending && m_socket->canWrite())
        finishEnd();
}

void TFTPChild::finishEnd()
{
    if (m_reported)
        return;
    m_reported = true;
    report(m_endCode);
}

// ---------------------------------------------------------------------------

uint8_t TFTPSender::openFile(const std::string& root, const char* name)
{
    return tftp_openForRead(root, name, &m_file);
}

void TFTPSender::sendNextBlock()
{
    const long n = tftp_readBlock(m_file.get(), m_packet + 4, TFTP_BLOCK_SIZE);
    if (n < 0) {
        fail(TFTP_ERR_ACCESS);
        return;
    }
    ++m_block;
    tftp_makeDataHeader(m_packet, m_block);
    m_bytes += static_cast<uint32_t>(n);
    // A file whose length is a multiple of 512 ends with an empty block.
    m_state = n == static_cast<long>(TFTP_BLOCK_SIZE) ? TFTP_CHILD_SENDING : TFTP_CHILD_LAST;
    if (!transmit(m_packet, 4 + static_cast<size_t>(n), "UDP send failed.")) {
        fail(TFTP_ERR_UDP);
        return;
    }
    report(TFTP_CHILD_BLOCK);
    restartTimer();
}

void TFTPSender::onDatagram(const uint8_t* data, size_t length)
{
    if (!waitsForPeer())
        return;
    if (length != 4 || tftp_get16(data) != TFTP_OP_ACK) {
        tftp_log(kNotExpected);
        fail(TFTP_ERR_UNEXPECTED);
        return;
    }
    if (tftp_get16(data + 2) != m_block) {
        tftp_log("[WARRNING] TFTP: Received message Last Blok does not match. wait for next packet.");
        return;
    }
    m_resends = 0;
    if (m_state == TFTP_CHILD_SENDING)
        sendNextBlock();
    else
        end(TFTP_CHILD_FINISHED);
}

// ---------------------------------------------------------------------------

uint8_t TFTPReceiver::openFile(const std::string& root, const char* name)
{
    return m_file.open(root, name);
}

void TFTPReceiver::begin()
{
    m_state = TFTP_CHILD_RECEIVING;
    if (!sendAck(0))
        return;
    m_block = 1;
    report(TFTP_CHILD_BLOCK);
    restartTimer();
}

bool TFTPReceiver::sendAck(uint16_t block)
{
    uint8_t ack[4];
    tftp_makeAck(ack, block);
    if (transmit(ack, sizeof ack, "UDP Ack send failed."))
        return true;
    fail(TFTP_ERR_UDP);
    return false;
}

void TFTPReceiver::onDatagram(const uint8_t* data, size_t length)
{
    if (m_state != TFTP_CHILD_RECEIVING)
        return;
    // Shorter than its header or longer than a block: not a DATA packet.
    if (length < 4 || length > TFTP_DATA_MAX || tftp_get16(data) != TFTP_OP_DATA) {
        tftp_log(kNotExpected);
        fail(TFTP_ERR_UNEXPECTED);
        return;
    }
    const uint16_t block = tftp_get16(data + 2);
    if (block != m_block) {
        tftp_log("[WARRNING] TFTP: Received message Last Blok does not match. wait for next packet.");
        // Our ACK of the previous block was lost: acknowledge it again.
        if (block == static_cast<uint16_t>(m_block - 1) && sendAck(block))
            restartTimer();
        return;
    }
    uint8_t code = m_file.append(data + 4, length - 4);
    if (code != TFTP_ERR_NONE) {
        fail(code);
        return;
    }
    m_bytes += static_cast<uint32_t>(length - 4);
    const bool last = length < TFTP_DATA_MAX;
    if (last) {
        if ((code = m_file.commit()) != TFTP_ERR_NONE) {
            fail(code);
            return;
        }
        m_state = TFTP_CHILD_LAST;
    }
    if (!sendAck(block))
        return;
    if (last) {
        end(TFTP_CHILD_FINISHED); // reported once the ACK has left
        return;
    }
    ++m_block;
    m_resends = 0;
    report(TFTP_CHILD_BLOCK);
    restartTimer();
}
