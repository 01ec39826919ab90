// TFTP server (RFC 1350 packets, 512-byte blocks, no options) from which a
// Mavik unit fetches the files of an unpacked firmware package.
//
// Runs on the Qt event loop of the thread that owns it; no locks. Each peer
// (by its UDP port) gets a MavikTftp::Sender with a socket of its own
// connected to the peer, the last packet it sent and a resend timer.
//
// Ports: 69 when it can be bound (it needs root), else the first free one of
// 50111 ... 60999. The port is never shared with another socket.
//
// Files: a request names a file in the work folder. Absolute names, ".."
// segments, names longer than 255 bytes and names that resolve outside the
// folder are refused with ERROR 2. A file missing from the folder is taken
// out of the package archive for the one transfer and deleted after its last
// block was read. A write lands in a temporary file that replaces nothing:
// a name that already exists is refused with ERROR 6.
#pragma once

#include "fwupdate/tftp/tftp_file.h"

#include <QByteArray>
#include <QFile>
#include <QHostAddress>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>

class QUdpSocket;
class TFTPServer_Mavik;

constexpr quint16 MAVIK_TFTP_PORT = 69;
constexpr quint16 MAVIK_TFTP_FIRST_SPARE_PORT = 50111;
constexpr quint16 MAVIK_TFTP_LAST_SPARE_PORT = 60999;
constexpr int MAVIK_TFTP_CONNECT_WAIT_MS = 30000;
constexpr int MAVIK_TFTP_BLOCK_SIZE = 512;
constexpr int MAVIK_TFTP_RESEND_MS = 1000;
constexpr int MAVIK_TFTP_MAX_RESENDS = 10;

// Opcodes of the packets.
constexpr quint16 MAVIK_TFTP_RRQ = 1;
constexpr quint16 MAVIK_TFTP_WRQ = 2;
constexpr quint16 MAVIK_TFTP_DATA = 3;
constexpr quint16 MAVIK_TFTP_ACK = 4;
constexpr quint16 MAVIK_TFTP_ERROR = 5;

// Error codes sent in ERROR packets; 0 is success inside the server.
constexpr quint8 MAVIK_TFTP_OK = 0;
constexpr quint8 MAVIK_TFTP_E_NOT_FOUND = 1;
constexpr quint8 MAVIK_TFTP_E_ACCESS = 2;
constexpr quint8 MAVIK_TFTP_E_DISK_FULL = 3;
constexpr quint8 MAVIK_TFTP_E_ILLEGAL = 4;
constexpr quint8 MAVIK_TFTP_E_UNKNOWN_ID = 5; // also answers an unknown mode
constexpr quint8 MAVIK_TFTP_E_EXISTS = 6;

// Transfer modes by index; "octet" is untranslated, the others text.
constexpr int MAVIK_TFTP_MODE_NETASCII = 0;
constexpr int MAVIK_TFTP_MODE_OCTET = 1;
constexpr int MAVIK_TFTP_MODE_MAIL = 2;

// Resend schedule, read whenever a timer starts; tests shorten it.
struct MavikTftpTimings {
    int resendMs = MAVIK_TFTP_RESEND_MS;
    int maxResends = MAVIK_TFTP_MAX_RESENDS;
};
void mavikTftp_setTimings(const MavikTftpTimings& timings);
MavikTftpTimings mavikTftp_timings();

// The packets as the server sends them: DATA with 0..512 bytes, a 5-byte
// ACK (block and a zero byte) and a 6-byte ERROR (code in one byte, empty
// message).
QByteArray mavikTftp_data(quint16 block, const QByteArray& bytes);
QByteArray mavikTftp_ack(quint16 block);
QByteArray mavikTftp_error(quint8 code);

namespace MavikTftp {

class Sender;

// One packet kind. handle() takes the bytes after the opcode and returns the
// TFTP error code to answer with, 0 for success.
class Opcode : public QObject {
    Q_OBJECT
public:
    explicit Opcode(TFTPServer_Mavik* server);
    virtual quint8 handle(const QByteArray& bytes, Sender* sender) = 0;

protected:
    TFTPServer_Mavik* server() const { return m_server; }

private:
    TFTPServer_Mavik* m_server;
};

// Read request: name, mode, then serve().
class OpcodeReadReq : public Opcode {
    Q_OBJECT
public:
    using Opcode::Opcode;
    quint8 handle(const QByteArray& bytes, Sender* sender) override;
    virtual quint8 serve(const QByteArray& name, int mode, Sender* sender);
};

// Write request: parsed as a read request, served as a write.
class OpcodeWriteReq : public OpcodeReadReq {
    Q_OBJECT
public:
    using OpcodeReadReq::OpcodeReadReq;
    quint8 serve(const QByteArray& name, int mode, Sender* sender) override;
};

class OpcodeData : public Opcode {
    Q_OBJECT
public:
    using Opcode::Opcode;
    quint8 handle(const QByteArray& bytes, Sender* sender) override;
};

class OpcodeAck : public Opcode {
    Q_OBJECT
public:
    using Opcode::Opcode;
    quint8 handle(const QByteArray& bytes, Sender* sender) override;
};

// One peer's transfer.
class Sender : public QObject {
    Q_OBJECT
public:
    // Where packets go when the sender has no socket (the test seam); true
    // when the whole packet was taken.
    using Sink = std::function<bool(const QByteArray& packet)>;

    enum class Kind { None, Read, Write };

    // socket: connected to the peer; the sender takes it as a child.
    Sender(TFTPServer_Mavik* server, quint16 peerPort, QUdpSocket* socket);
    Sender(TFTPServer_Mavik* server, quint16 peerPort, Sink sink);
    ~Sender() override;

    quint16 peerPort() const { return m_peerPort; }
    // Sends the packet; only a complete write counts. It becomes the last
    // packet and the resend timer starts.
    bool send(const QByteArray& packet);
    void sendError(quint8 code);
    // A datagram from the peer, as its socket delivers it: the resend count
    // starts again, and an error answers with ERROR.
    void receive(const QByteArray& datagram);

    // Transfer state, kept here and driven by the opcode handlers.
    Kind kind() const { return m_kind; }
    quint16 block() const { return m_block; }
    void setBlock(quint16 block) { m_block = block; }
    const QByteArray& lastPacket() const { return m_lastPacket; }
    int resendCount() const { return m_resendCount; }

    // Opens the file for reading (closing any open one), from the archive
    // when the work folder lacks it; a TFTP error code.
    quint8 openForRead(const QByteArray& name, int mode);
    // Opens a temporary file for a write of the name; a TFTP error code.
    quint8 openForWrite(const QByteArray& name);
    bool fileOpen() const;
    // Up to 512 bytes of the open read file (fewer only at its end); the
    // count or -1. A short block closes the file.
    qint64 readBlock(QByteArray* out);
    // Appends to the write file; fewer than 512 bytes end the write.
    quint8 writeBlock(const QByteArray& bytes);
    void closeFile();
    // Out of the map: no more resends, the file closed.
    void retire();
    bool retired() const { return m_retired; }

public slots:
    void readPendingDatagrams();
    void resend();

private:
    void init();

    TFTPServer_Mavik* m_server;
    QUdpSocket* m_socket = nullptr; // child, null behind the seam
    Sink m_sink;
    quint16 m_peerPort;
    QByteArray m_lastPacket;
    QTimer m_timer;
    quint8 m_resendCount = 0;
    quint16 m_block = 0;
    Kind m_kind = Kind::None;
    bool m_retired = false;
    QFile m_file;
    std::unique_ptr<TFTPWriteFile> m_writeFile;
    // Files taken out of the archive for this transfer; deleted at its end.
    QStringList m_extracted;
};

// The live senders by peer port.
class Senders : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    Sender* find(quint16 peerPort) const;
    // Replaces (and deletes later) any earlier sender of the port.
    void insert(Sender* sender);
    // Deletes the port's sender later; false when there is none.
    bool remove(quint16 peerPort);
    void removeAll();
    int count() const { return m_map.size(); }

private:
    QMap<quint16, QPointer<Sender>> m_map;
};

} // namespace MavikTftp

class TFTPServer_Mavik : public QObject {
    Q_OBJECT
public:
    explicit TFTPServer_Mavik(QObject* parent = nullptr);
    ~TFTPServer_Mavik() override;

    // Binds the address on port 69, else on the first free port of 50111 ...
    // 60999; true once bound (also when it already was).
    bool start(const QHostAddress& address, QObject* owner);
    // The files served: false when the firmware file does not exist.
    bool setFile(const QString& firmwareFile, const QString& archivePath, const QString& workFolder);
    quint16 port() const { return m_port; }
    // The peer's sender leaves the map and is deleted later.
    void removeSender(quint16 peerPort);
    // Every sender is deleted later, then the socket.
    void destroy();

    QString workFolder() const { return m_workFolder; }
    QString archivePath() const { return m_archivePath; }
    QString firmwareFile() const { return m_firmwareFile; }
    QObject* owner() const { return m_owner; }
    int senderCount() const { return m_senders->count(); }

    // Runs the handler of the datagram's opcode: 4 for fewer than 2 bytes
    // or an opcode without handler.
    quint8 dispatch(const QByteArray& datagram, MavikTftp::Sender* sender);
    // Test seam: a datagram from peerPort as if it had come over the
    // network, answers going to sink. A new peer is handled as by the
    // server's socket, a known one as by its sender's.
    void deliver(quint16 peerPort, const QByteArray& datagram, MavikTftp::Sender::Sink sink);

public slots:
    void readPendingDatagrams();

private:
    // A first datagram of a peer: serve it, keep the sender or drop it.
    void accept(std::unique_ptr<MavikTftp::Sender> sender, const QByteArray& datagram);

    quint16 m_port = 0;
    QUdpSocket* m_socket = nullptr; // child while started
    QPointer<QObject> m_owner;
    std::map<quint16, std::unique_ptr<MavikTftp::Opcode>> m_opcodes;
    MavikTftp::Senders* m_senders; // child
    QString m_workFolder;
    QString m_archivePath;
    QString m_firmwareFile;
};
