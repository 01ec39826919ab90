#include "fwupdate/workgroup/wg_transport.h"

#include "fwupdate/workgroup/wg_frame.h"

#include <QCoreApplication>

#include <climits>
#include <poll.h>
#include <thread>

namespace WG {

namespace {

constexpr auto kStopCheck = std::chrono::milliseconds(20);

std::chrono::milliseconds ms(const std::atomic<int>& value)
{
    return std::chrono::milliseconds(value.load());
}

} // namespace

TransportTimes& transportTimes()
{
    static TransportTimes times;
    return times;
}

// ---------------------------------------------------------------------------

void WgThread::run()
{
    work();
    std::lock_guard<std::mutex> guard(m_endLock);
    m_ended = true;
}

bool WgThread::join(long ms)
{
    if (!wait(ms < 0 ? ULONG_MAX : static_cast<unsigned long>(ms)))
        return false;
    std::lock_guard<std::mutex> guard(m_endLock);
    return true;
}

// ---------------------------------------------------------------------------

TCPConnectThread::TCPConnectThread(const QString& host, int port, QObject* parent)
    : WgThread(parent)
    , m_host(host.toLocal8Bit())
    , m_port(QByteArray::number(port))
{
}

TCPConnectThread::~TCPConnectThread()
{
    requestStop();
    join();
    wgsock_close(takeSocket());
}

// Sleeps until the time, in short steps so a stop request is seen; false
// when stopped.
bool TCPConnectThread::pauseUntil(std::chrono::steady_clock::time_point until) const
{
    while (!m_stop) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= until)
            return true;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(until - now, kStopCheck));
    }
    return false;
}

void TCPConnectThread::work()
{
    attempt();
    emit finishedConnectThread();
}

void TCPConnectThread::attempt()
{
    sockaddr_storage address{};
    socklen_t length = 0;
    if (!wgsock_resolve6(m_host.constData(), m_port.constData(), &address, &length))
        return;
    int fd = wgsock_streamSocket(address.ss_family);
    if (fd == WGSOCK_NONE)
        return;
    while (!m_stop) {
        const auto roundEnd = std::chrono::steady_clock::now() + ms(transportTimes().connectRoundMs);
        WgConnect step = wgsock_connect(fd, &address, length);
        if (step == WGSOCK_IN_PROGRESS) {
            // Poll in slices so that a stop request ends the round early.
            int ready = 0;
            while (!m_stop && ready == 0 && std::chrono::steady_clock::now() < roundEnd) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    roundEnd - std::chrono::steady_clock::now());
                ready = wgsock_wait(
                    fd, POLLOUT, static_cast<int>(std::min(left, std::chrono::milliseconds(100)).count()));
            }
            if (ready < 0)
                break; // a poll error ends the attempt without a socket
            if (ready == 0)
                continue; // time-out or stop: connect is called again
            // Writable: on Linux a refused connect is writable too.
            step = wgsock_connectSucceeded(fd) ? WGSOCK_CONNECTED : WGSOCK_REFUSED;
        }
        if (step == WGSOCK_CONNECTED) {
            m_socket = fd;
            return;
        }
        // This socket is spent; the next attempt takes a new one after the
        // rest of the round.
        wgsock_close(fd);
        fd = WGSOCK_NONE;
        if (!pauseUntil(roundEnd))
            return;
        fd = wgsock_streamSocket(address.ss_family);
        if (fd == WGSOCK_NONE)
            return;
    }
    wgsock_close(fd);
}

// ---------------------------------------------------------------------------

TCPThreadTx::TCPThreadTx(SendQueue* queue, int socket, QObject* parent)
    : WgThread(parent)
    , m_queue(queue)
    , m_socket(socket)
{
}

void TCPThreadTx::work()
{
    for (;;) {
        QByteArray entry;
        {
            std::unique_lock<std::mutex> guard(m_queue->lock);
            m_queue->wake.wait(guard, [this] { return !m_queue->entries.empty() || m_queue->stop; });
            if (m_queue->entries.empty())
                return; // stopped with nothing left to send
            entry = std::move(m_queue->entries.front());
            m_queue->entries.pop_front();
        }
        // Sent outside the lock: a unit that stops reading must not block
        // the callers of send(). A failed send drops the entry.
        wgsock_sendAll(m_socket, entry.constData(), static_cast<size_t>(entry.size()));
    }
}

// ---------------------------------------------------------------------------

TCPThreadRx::TCPThreadRx(TcpOwnerIF* owner, int socket, QObject* parent)
    : WgThread(parent)
    , m_owner(owner)
    , m_socket(socket)
{
}

void TCPThreadRx::stop()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_stop = true;
    m_owner = nullptr;
    m_wake.notify_all();
}

void TCPThreadRx::deliver(const uint8_t* message, uint32_t length, void* context)
{
    auto* self = static_cast<TCPThreadRx*>(context);
    if (self->m_owner)
        self->m_owner->receive(message, length);
}

// After the end of the stream every read would give 0 at once; the thread
// rests until the session's own time-outs tear it down.
void TCPThreadRx::waitForStop()
{
    std::unique_lock<std::mutex> guard(m_lock);
    m_wake.wait(guard, [this] { return m_stop; });
}

void TCPThreadRx::work()
{
    WgFrameReader reader(m_socket);
    for (;;) {
        // Bytes already taken off the socket are framed without a poll.
        const bool buffered = wgframe_hasBuffered(&reader);
        const int ready = buffered ? 1 : wgsock_wait(m_socket, POLLIN, transportTimes().readWaitMs);
        long result = 0;
        bool ended = false;
        if (ready > 0) {
            std::lock_guard<std::mutex> guard(m_lock);
            if (!m_stop) {
                result = wgframe_readOne(&reader, &TCPThreadRx::deliver, this);
                ended = result == WGFRAME_END;
            }
        } else if (ready < 0) {
            result = WGFRAME_ERROR;
        }
        if (ended) {
            waitForStop();
            return;
        }
        if (result == WGFRAME_ERROR)
            std::this_thread::sleep_for(ms(transportTimes().errorSleepMs));
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_stop)
                return;
        }
        if (!buffered)
            QCoreApplication::processEvents();
    }
}

// ---------------------------------------------------------------------------

TCPCommunication::TCPCommunication(TcpOwnerIF* owner, int kind, QObject* parent)
    : QObject(parent)
    , m_owner(owner)
    , m_kind(kind)
{
}

TCPCommunication::~TCPCommunication()
{
    if (m_connectThread) {
        disconnect(m_connectThread.get(), nullptr, this, nullptr);
        m_connectThread.reset();
    }
    stopSendThread();
    // Both ways: a receive thread blocked inside a message returns and frees
    // the receive mutex.
    wgsock_shutdown(m_socket, SHUT_RDWR);
    stopReceiveThread();
    {
        std::lock_guard<std::mutex> guard(m_sendLock);
        m_queue.reset();
    }
    wgsock_close(m_socket);
}

void TCPCommunication::stopSendThread()
{
    std::unique_ptr<TCPThreadTx> thread;
    SendQueue* queue = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_sendLock);
        thread = std::move(m_sendThread);
        queue = m_queue.get();
    }
    if (!thread)
        return;
    {
        std::lock_guard<std::mutex> guard(queue->lock);
        queue->stop = true;
        queue->wake.notify_all();
    }
    // Queued messages (a last disconnect request) may still go out; a unit
    // that stopped reading keeps the thread in a send, which the shutdown
    // ends.
    if (!thread->join(transportTimes().threadJoinMs)) {
        wgsock_shutdown(m_socket, SHUT_RDWR);
        thread->join();
    }
}

void TCPCommunication::stopReceiveThread()
{
    if (!m_receiveThread)
        return;
    m_receiveThread->stop();
    if (!m_receiveThread->join(transportTimes().threadJoinMs))
        m_receiveThread->join();
    m_receiveThread.reset();
}

bool TCPCommunication::connectTo(const QString& host, int port)
{
    m_host = host;
    m_port = port;
    if (m_connectThread) {
        disconnect(m_connectThread.get(), nullptr, this, nullptr);
        m_connectThread.reset();
    }
    m_connectThread = std::make_unique<TCPConnectThread>(host, port);
    connect(m_connectThread.get(), &TCPConnectThread::finishedConnectThread, this, &TCPCommunication::slotFnished,
        Qt::QueuedConnection);
    m_connectThread->start(QThread::InheritPriority);
    return true;
}

void TCPCommunication::stopConnecting(int waitMs)
{
    if (!m_connectThread)
        return;
    m_connectThread->requestStop();
    m_connectThread->join(waitMs);
}

bool TCPCommunication::send(const QByteArray& message)
{
    if (message.isEmpty())
        return false;
    std::lock_guard<std::mutex> guard(m_sendLock);
    if (!m_queue || !m_sendThread)
        return false;
    std::lock_guard<std::mutex> queueGuard(m_queue->lock);
    m_queue->entries.emplace_back(message.constData(), message.size());
    m_queue->wake.notify_all();
    return true;
}

void TCPCommunication::slotFnished()
{
    const int fd = m_connectThread ? m_connectThread->takeSocket() : WGSOCK_NONE;
    bool success = false;
    if (fd != WGSOCK_NONE && m_socket == WGSOCK_NONE && wgsock_setBlocking(fd, true) == 0) {
        m_socket = fd;
        std::lock_guard<std::mutex> guard(m_sendLock);
        m_queue = std::make_unique<SendQueue>();
        m_sendThread = std::make_unique<TCPThreadTx>(m_queue.get(), m_socket);
        m_receiveThread = std::make_unique<TCPThreadRx>(m_owner, m_socket);
        m_sendThread->start(QThread::InheritPriority);
        m_receiveThread->start(QThread::InheritPriority);
        success = true;
    } else {
        wgsock_close(fd);
    }
    if (QObject* target = m_owner ? m_owner->connectEventTarget() : nullptr)
        QCoreApplication::postEvent(target, new SessionConnectEvent(success, m_kind));
}

} // namespace WG
