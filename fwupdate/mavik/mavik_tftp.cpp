// The server socket, the map of senders and the packet layouts.
#include "fwupdate/mavik/mavik_tftp.h"

#include <QUdpSocket>

#include <atomic>

using namespace MavikTftp;

namespace {

std::atomic<int> g_resendMs{MAVIK_TFTP_RESEND_MS};
std::atomic<int> g_maxResends{MAVIK_TFTP_MAX_RESENDS};

QByteArray header(quint16 opcode, quint16 number)
{
    QByteArray out(4, '\0');
    out[0] = static_cast<char>(opcode >> 8);
    out[1] = static_cast<char>(opcode & 0xFF);
    out[2] = static_cast<char>(number >> 8);
    out[3] = static_cast<char>(number & 0xFF);
    return out;
}

} // namespace

void mavikTftp_setTimings(const MavikTftpTimings& timings)
{
    g_resendMs.store(timings.resendMs);
    g_maxResends.store(timings.maxResends);
}

MavikTftpTimings mavikTftp_timings()
{
    MavikTftpTimings t;
    t.resendMs = g_resendMs.load();
    t.maxResends = g_maxResends.load();
    return t;
}

QByteArray mavikTftp_data(quint16 block, const QByteArray& bytes)
{
    return header(MAVIK_TFTP_DATA, block) + bytes;
}

QByteArray mavikTftp_ack(quint16 block)
{
    return header(MAVIK_TFTP_ACK, block) + QByteArray(1, '\0');
}

QByteArray mavikTftp_error(quint8 code)
{
    QByteArray out = header(MAVIK_TFTP_ERROR, 0);
    out[3] = static_cast<char>(code);
    return out + QByteArray(2, '\0');
}

namespace MavikTftp {

Sender* Senders::find(quint16 peerPort) const
{
    return m_map.value(peerPort).data();
}

void Senders::insert(Sender* sender)
{
    remove(sender->peerPort());
    sender->setParent(this);
    m_map.insert(sender->peerPort(), sender);
}

bool Senders::remove(quint16 peerPort)
{
    const QPointer<Sender> sender = m_map.take(peerPort);
    if (!sender)
        return false;
    sender->retire();
    sender->deleteLater();
    return true;
}

void Senders::removeAll()
{
    for (const QPointer<Sender>& sender : qAsConst(m_map)) {
        if (sender) {
            sender->retire();
            sender->deleteLater();
        }
    }
    m_map.clear();
}

} // namespace MavikTftp

TFTPServer_Mavik::TFTPServer_Mavik(QObject* parent)
    : QObject(parent)
    , m_senders(new Senders(this))
{
    m_opcodes[MAVIK_TFTP_RRQ] = std::make_unique<OpcodeReadReq>(this);
    m_opcodes[MAVIK_TFTP_WRQ] = std::make_unique<OpcodeWriteReq>(this);
    m_opcodes[MAVIK_TFTP_DATA] = std::make_unique<OpcodeData>(this);
    m_opcodes[MAVIK_TFTP_ACK] = std::make_unique<OpcodeAck>(this);
}

TFTPServer_Mavik::~TFTPServer_Mavik()
{
    // Senders and socket are children; their files close with them.
    delete m_senders;
    m_senders = nullptr;
}

bool TFTPServer_Mavik::start(const QHostAddress& address, QObject* owner)
{
    if (m_socket)
        return true;
    m_owner = owner;
    auto socket = std::make_unique<QUdpSocket>();
    // Never SO_REUSEADDR: two servers of the process must not share a port.
    bool bound = socket->bind(address, MAVIK_TFTP_PORT, QAbstractSocket::DontShareAddress);
    for (quint32 port = MAVIK_TFTP_FIRST_SPARE_PORT; !bound && port <= MAVIK_TFTP_LAST_SPARE_PORT; ++port)
        bound = socket->bind(address, static_cast<quint16>(port), QAbstractSocket::DontShareAddress);
    if (!bound)
        return false;
    m_port = socket->localPort();
    m_socket = socket.release();
    m_socket->setParent(this);
    connect(m_socket, &QUdpSocket::readyRead, this, &TFTPServer_Mavik::readPendingDatagrams);
    return true;
}

bool TFTPServer_Mavik::setFile(const QString& firmwareFile, const QString& archivePath, const QString& workFolder)
{
    if (!QFile::exists(firmwareFile))
        return false;
    m_firmwareFile = firmwareFile;
    m_archivePath = archivePath;
    m_workFolder = workFolder;
    return true;
}

void TFTPServer_Mavik::removeSender(quint16 peerPort)
{
    if (m_senders)
        m_senders->remove(peerPort);
}

void TFTPServer_Mavik::destroy()
{
    m_senders->removeAll();
    if (m_socket) {
        m_socket->close();
        m_socket->deleteLater();
        m_socket = nullptr;
    }
    m_port = 0;
}

quint8 TFTPServer_Mavik::dispatch(const QByteArray& datagram, Sender* sender)
{
    if (datagram.size() < 2)
        return MAVIK_TFTP_E_ILLEGAL;
    const quint16 opcode
        = static_cast<quint16>((static_cast<quint8>(datagram[0]) << 8) | static_cast<quint8>(datagram[1]));
    const auto handler = m_opcodes.find(opcode);
    if (handler == m_opcodes.end())
        return MAVIK_TFTP_E_ILLEGAL;
    return handler->second->handle(datagram.mid(2), sender);
}

void TFTPServer_Mavik::accept(std::unique_ptr<Sender> sender, const QByteArray& datagram)
{
    const quint8 code = dispatch(datagram, sender.get());
    if (code != MAVIK_TFTP_OK) {
        sender->sendError(code);
        sender->closeFile();
        return; // the sender goes with the pointer
    }
    m_senders->insert(sender.release());
}

void TFTPServer_Mavik::readPendingDatagrams()
{
    while (m_socket && m_socket->hasPendingDatagrams()) {
        const qint64 size = m_socket->pendingDatagramSize();
        QByteArray datagram(static_cast<int>(qMax<qint64>(size, 0)), '\0');
        QHostAddress from;
        quint16 fromPort = 0;
        if (m_socket->readDatagram(datagram.data(), datagram.size(), &from, &fromPort) < 0)
            continue;
        // A known peer's datagrams reach its sender's own socket.
        if (m_senders->find(fromPort))
            continue;
        auto socket = std::make_unique<QUdpSocket>();
        socket->connectToHost(from, fromPort);
        if (!socket->waitForConnected(MAVIK_TFTP_CONNECT_WAIT_MS))
            continue;
        accept(std::make_unique<Sender>(this, fromPort, socket.release()), datagram);
    }
}

void TFTPServer_Mavik::deliver(quint16 peerPort, const QByteArray& datagram, Sender::Sink sink)
{
    if (Sender* sender = m_senders->find(peerPort)) {
        sender->receive(datagram);
        return;
    }
    accept(std::make_unique<Sender>(this, peerPort, std::move(sink)), datagram);
}
