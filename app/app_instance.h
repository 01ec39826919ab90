// The single-instance guard. The first start of the program takes a lock
// file in the user's runtime folder and listens on a local socket named for
// the user; a later start finds the lock held, sends its process id to the
// first one (waiting at most 3000 ms for the answer) and ends with exit
// code 0. The first instance brings its main window to the front on
// activationRequested unless a modal dialog is open.
//
// A lock left behind by a killed instance is taken over: the lock names its
// owner's process, and a lock whose process is gone is stale. When the lock
// or the socket cannot be made, the program runs as the first instance.
#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QLocalSocket;
class QLockFile;

class InstanceChecker : public QObject {
    Q_OBJECT

public:
    // Longest time a later start waits for the first instance.
    static constexpr int kNotifyTimeoutMs = 3000;

    explicit InstanceChecker(QObject* parent = nullptr);
    ~InstanceChecker() override;

    // true when another instance runs (it has been told; this process must
    // end), false when this is the first instance. The arguments are not
    // passed on.
    bool check(int argc, char** argv);

    // The lock file and the socket name this user's instances share.
    static QString lockFilePath();
    static QString serverName();

signals:
    // A later start with this process id asked to raise the main window.
    void activationRequested(qint64 senderPid);

private:
    void listen();
    void onNewConnection();
    void readRequest(QLocalSocket* socket);
    static void notifyRunningInstance();

    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
};
