// The TCP connection of one workgroup session: a connect thread makes it,
// a send thread writes queued messages, a receive thread frames what arrives
// and hands each message to the owner on that thread.
#pragma once

#include "fwupdate/workgroup/wg_socket.h"

#include <QByteArray>
#include <QEvent>
#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

namespace WG {

// Waits of the transport, in milliseconds; tests shorten them before they
// make a transport.
struct TransportTimes {
    std::atomic<int> connectRoundMs{2000}; // one connect attempt
    std::atomic<int> readWaitMs{1000}; // the receive thread's poll
    std::atomic<int> errorSleepMs{100}; // after a framing or socket error
    std::atomic<int> threadJoinMs{5000}; // for the send and receive threads at teardown
};
TransportTimes& transportTimes();

// The transport's owner (the session).
class TcpOwnerIF {
public:
    virtual ~TcpOwnerIF() = default;
    // One whole message, on the receive thread; the buffer is freed when the
    // call returns. False when the message was refused.
    virtual bool receive(const uint8_t* buffer, uint32_t length) = 0;
    // Where the connect result (SessionConnectEvent) is posted.
    virtual QObject* connectEventTarget() = 0;
};

class SessionConnectEvent : public QEvent {
public:
    static constexpr QEvent::Type kType = static_cast<QEvent::Type>(1010);
    SessionConnectEvent(bool success, int kind)
        : QEvent(kType)
        , m_success(success)
        , m_kind(kind)
    {
    }
    bool success() const { return m_success; }
    int kind() const { return m_kind; }

private:
    bool m_success;
    int m_kind;
};

// Shared by the transport (producer) and its send thread (consumer); every
// entry owns a copy of one message. Standard locks, so that the race
// detector sees them.
struct SendQueue {
    bool stop = false;
    std::condition_variable wake;
    std::mutex lock;
    std::deque<QByteArray> entries;
};

// A QThread whose end the race detector can see: QThread::wait() joins on
// Qt's own locks, so run() ends by passing a standard mutex, which join()
// passes too before anyone frees what the thread used.
class WgThread : public QThread {
    Q_OBJECT
public:
    using QThread::QThread;
    // Waits up to ms (forever when negative); true once the thread ended.
    bool join(long ms = -1);

protected:
    virtual void work() = 0;

private:
    void run() final;
    std::mutex m_endLock;
    bool m_ended = false;
};

class TCPConnectThread : public WgThread {
    Q_OBJECT
public:
    TCPConnectThread(const QString& host, int port, QObject* parent = nullptr);
    // Asks the thread to stop and waits for it.
    ~TCPConnectThread() override;
    void requestStop() { m_stop = true; }
    // The connected socket, once; WGSOCK_NONE when there is none.
    int takeSocket() { return m_socket.exchange(WGSOCK_NONE); }

signals:
    // Emitted as the last step of run(): QThread::finished() comes after
    // run() has returned, from Qt's side of the thread, where the race
    // detector cannot order it against the owner deleting the thread.
    void finishedConnectThread();

protected:
    void work() override;

private:
    void attempt();
    bool pauseUntil(std::chrono::steady_clock::time_point until) const;

    QByteArray m_host;
    QByteArray m_port;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_socket{WGSOCK_NONE};
};

class TCPThreadTx : public WgThread {
    Q_OBJECT
public:
    TCPThreadTx(SendQueue* queue, int socket, QObject* parent = nullptr);

protected:
    void work() override;

private:
    SendQueue* m_queue;
    const int m_socket;
};

class TCPThreadRx : public WgThread {
    Q_OBJECT
public:
    TCPThreadRx(TcpOwnerIF* owner, int socket, QObject* parent = nullptr);
    // Sets the stop flag and clears the owner under the receive mutex, so no
    // message reaches the owner afterwards.
    void stop();

protected:
    void work() override;

private:
    static void deliver(const uint8_t* message, uint32_t length, void* context);
    void waitForStop();

    TcpOwnerIF* m_owner;
    const int m_socket;
    bool m_stop = false;
    std::mutex m_lock; // the stop flag, the owner and every message read
    std::condition_variable m_wake;
};

class TCPCommunication : public QObject {
    Q_OBJECT
public:
    TCPCommunication(TcpOwnerIF* owner, int kind, QObject* parent = nullptr);
    ~TCPCommunication() override;

    // Starts connecting; the result comes as a SessionConnectEvent.
    bool connectTo(const QString& host, int port);
    // Queues a copy of the message. False for an empty message or when there
    // is no connection to send on.
    bool send(const QByteArray& message);
    // Tells a connect thread that still runs to stop and waits up to waitMs.
    void stopConnecting(int waitMs);

    int kind() const { return m_kind; }
    int port() const { return m_port; }
    const QString& host() const { return m_host; }

signals:
    void signalTcpConnectStatus(bool connected);

public slots:
    void slotFnished();

private:
    void stopSendThread();
    void stopReceiveThread();

    TcpOwnerIF* const m_owner;
    const int m_kind;
    int m_socket = WGSOCK_NONE;
    int m_port = 0;
    QString m_host;
    std::unique_ptr<TCPConnectThread> m_connectThread;
    std::mutex m_sendLock; // the queue and send thread pointers, read by send()
    std::unique_ptr<SendQueue> m_queue;
    std::unique_ptr<TCPThreadTx> m_sendThread;
    std::unique_ptr<TCPThreadRx> m_receiveThread;
};

} // namespace WG
