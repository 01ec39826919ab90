#include "app/app_instance.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <unistd.h>

namespace {

// A request is the sender's process id in decimal and a line feed.
constexpr int kRequestMax = 24;
constexpr int kRetryMs = 50;
const char kReply[] = "1\n";

} // namespace

InstanceChecker::InstanceChecker(QObject* parent)
    : QObject(parent)
{
}

InstanceChecker::~InstanceChecker() = default;

QString InstanceChecker::lockFilePath()
{
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        return QString();
    return runtime + QStringLiteral("/Valdor Quillon Application Mutex.lock");
}

QString InstanceChecker::serverName()
{
    // Local sockets live in a folder every user shares; the uid keeps two
    // users' instances apart.
    return QStringLiteral("Valdor Quillon Application Message-%1").arg(::getuid());
}

bool InstanceChecker::check(int, char**)
{
    if (m_lock)
        return false; // already the first instance
    const QString path = lockFilePath();
    if (path.isEmpty())
        return false;
    auto lock = std::make_unique<QLockFile>(path);
    // Age never makes a lock stale: the first instance may run for days.
    // A lock whose process is gone is stale all the same.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        m_lock = std::move(lock);
        listen();
        return false;
    }
    if (lock->error() != QLockFile::LockFailedError)
        return false; // no guard can be made here
    notifyRunningInstance();
    return true;
}

void InstanceChecker::listen()
{
    auto* server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    // We hold the lock, so a socket file left by a killed instance is stale.
    QLocalServer::removeServer(serverName());
    if (!server->listen(serverName())) {
        delete server;
        return;
    }
    m_server = server;
    connect(m_server, &QLocalServer::newConnection, this, &InstanceChecker::onNewConnection);
}

void InstanceChecker::onNewConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readRequest(socket); });
        // A peer that never finishes its request is dropped.
        QTimer::singleShot(kNotifyTimeoutMs, socket, [socket] { socket->abort(); });
        readRequest(socket);
    }
}

void InstanceChecker::readRequest(QLocalSocket* socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kRequestMax)
            socket->abort();
        return;
    }
    const QByteArray line = socket->readLine(kRequestMax + 1).trimmed();
    bool ok = false;
    const qint64 pid = line.toLongLong(&ok);
    if (ok && pid > 0) {
        emit activationRequested(pid);
        socket->write(kReply);
        socket->flush();
    }
    socket->disconnectFromServer();
}

void InstanceChecker::notifyRunningInstance()
{
    const QDeadlineTimer deadline(kNotifyTimeoutMs);
    QLocalSocket socket;
    // The first instance may hold the lock but not yet listen.
    for (;;) {
        socket.connectToServer(serverName());
        if (socket.waitForConnected(static_cast<int>(std::min<qint64>(deadline.remainingTime(), 500))))
            break;
        socket.abort();
        if (deadline.remainingTime() <= kRetryMs)
            return;
        QThread::msleep(kRetryMs);
    }
    socket.write(QByteArray::number(QCoreApplication::applicationPid()) + '\n');
    if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime())))
        return;
    // The answer only tells that the request was taken; the wait bounds it.
    while (!socket.canReadLine() && deadline.remainingTime() > 0) {
        if (!socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            break;
    }
}
