// One peer's transfer: its socket, its file and its resends.
#include "fwupdate/mavik/mavik_decompress.h"
#include "fwupdate/mavik/mavik_tftp.h"
#include "fwupdate/tftp/tftp.h"

#include <QDir>
#include <QUdpSocket>

#include <sys/stat.h>

namespace MavikTftp {

namespace {

// The code a read request gets for a file that cannot be opened.
quint8 readOpenCode(uint8_t internal)
{
    return internal == TFTP_ERR_NONE ? MAVIK_TFTP_OK : MAVIK_TFTP_E_ACCESS;
}

} // namespace

Sender::Sender(TFTPServer_Mavik* server, quint16 peerPort, QUdpSocket* socket)
    : m_server(server)
    , m_socket(socket)
    , m_peerPort(peerPort)
{
    m_socket->setParent(this);
    connect(m_socket, &QUdpSocket::readyRead, this, &Sender::readPendingDatagrams);
    init();
}

Sender::Sender(TFTPServer_Mavik* server, quint16 peerPort, Sink sink)
    : m_server(server)
    , m_sink(std::move(sink))
    , m_peerPort(peerPort)
{
    init();
}

Sender::~Sender()
{
    closeFile();
}

void Sender::init()
{
    // A child, so that it follows the sender to another thread.
    m_timer.setParent(this);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &Sender::resend);
}

bool Sender::send(const QByteArray& packet)
{
    if (m_retired)
        return false;
    bool sent = false;
    if (m_socket)
        sent = m_socket->write(packet) == packet.size();
    else if (m_sink)
        sent = m_sink(packet);
    if (!sent)
        return false;
    m_lastPacket = packet;
    m_timer.start(mavikTftp_timings().resendMs);
    return true;
}

void Sender::sendError(quint8 code)
{
    send(mavikTftp_error(code));
}

void Sender::receive(const QByteArray& datagram)
{
    m_timer.stop();
    m_resendCount = 0;
    const quint8 code = m_server->dispatch(datagram, this);
    if (code != MAVIK_TFTP_OK)
        sendError(code);
    // A datagram that asked for nothing (a stale ACK) leaves the schedule
    // of the last packet running.
    if (!m_timer.isActive() && !m_lastPacket.isEmpty() && !m_retired)
        m_timer.start(mavikTftp_timings().resendMs);
}

void Sender::readPendingDatagrams()
{
    while (m_socket && m_socket->hasPendingDatagrams()) {
        const qint64 size = m_socket->pendingDatagramSize();
        QByteArray datagram(static_cast<int>(qMax<qint64>(size, 0)), '\0');
        if (m_socket->readDatagram(datagram.data(), datagram.size()) < 0)
            continue;
        receive(datagram);
    }
}

void Sender::retire()
{
    m_retired = true;
    m_timer.stop();
    closeFile();
}

void Sender::resend()
{
    m_timer.stop();
    if (m_lastPacket.isEmpty() || m_retired)
        return;
    ++m_resendCount;
    if (m_resendCount > mavikTftp_timings().maxResends) {
        m_server->removeSender(m_peerPort);
        return;
    }
    send(m_lastPacket);
}

quint8 Sender::openForRead(const QByteArray& name, int mode)
{
    closeFile();
    const uint8_t checked = tftp_checkName(name.constData());
    if (checked != TFTP_ERR_NONE)
        return MAVIK_TFTP_E_ACCESS;
    const std::string root = QFile::encodeName(m_server->workFolder()).toStdString();
    TFTPFd fd;
    uint8_t opened = tftp_openForRead(root, name.constData(), &fd);
    if (opened == TFTP_ERR_NOT_FOUND && !m_server->archivePath().isEmpty()) {
        // Not unpacked yet: take it out of the package for this transfer.
        Decompress decompress;
        QStringList files;
        const bool extracted = decompress.extractMatching(
            m_server->archivePath(), m_server->workFolder(), &files, QString::fromLatin1(name));
        opened = tftp_openForRead(root, name.constData(), &fd);
        if (extracted)
            m_extracted = files;
        if (opened != TFTP_ERR_NONE) {
            for (const QString& file : qAsConst(m_extracted))
                QFile::remove(file);
            m_extracted.clear();
        }
    }
    if (opened != TFTP_ERR_NONE)
        return readOpenCode(opened);
    QIODevice::OpenMode openMode = QIODevice::ReadOnly;
    if (mode != MAVIK_TFTP_MODE_OCTET)
        openMode |= QIODevice::Text;
    if (!m_file.open(fd.get(), openMode, QFileDevice::AutoCloseHandle))
        return MAVIK_TFTP_E_ACCESS;
    fd.release();
    m_kind = Kind::Read;
    return MAVIK_TFTP_OK;
}

quint8 Sender::openForWrite(const QByteArray& name)
{
    closeFile();
    if (tftp_checkName(name.constData()) != TFTP_ERR_NONE)
        return MAVIK_TFTP_E_ACCESS;
    // Never over a file already there: other units may be fetching it.
    const QByteArray path = QFile::encodeName(m_server->workFolder()) + '/' + name;
    struct stat st { };
    if (lstat(path.constData(), &st) == 0)
        return MAVIK_TFTP_E_EXISTS;
    auto file = std::make_unique<TFTPWriteFile>();
    if (file->open(QFile::encodeName(m_server->workFolder()).toStdString(), name.constData()) != TFTP_ERR_NONE)
        return MAVIK_TFTP_E_ACCESS;
    m_writeFile = std::move(file);
    m_kind = Kind::Write;
    return MAVIK_TFTP_OK;
}

bool Sender::fileOpen() const
{
    return m_file.isOpen() || m_writeFile != nullptr;
}

qint64 Sender::readBlock(QByteArray* out)
{
    out->resize(MAVIK_TFTP_BLOCK_SIZE);
    qint64 got = 0;
    // Text mode drops carriage returns, so one read may return less than
    // asked before the end; only the end makes a short block.
    while (got < MAVIK_TFTP_BLOCK_SIZE) {
        const qint64 n = m_file.read(out->data() + got, MAVIK_TFTP_BLOCK_SIZE - got);
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += n;
    }
    out->resize(static_cast<int>(got));
    if (got < MAVIK_TFTP_BLOCK_SIZE) {
        m_file.close();
        for (const QString& file : qAsConst(m_extracted))
            QFile::remove(file);
        m_extracted.clear();
    }
    return got;
}

quint8 Sender::writeBlock(const QByteArray& bytes)
{
    if (!m_writeFile)
        return MAVIK_TFTP_E_ILLEGAL;
    if (m_writeFile->append(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size()))
        != TFTP_ERR_NONE) {
        m_writeFile.reset();
        return MAVIK_TFTP_E_DISK_FULL;
    }
    if (bytes.size() < MAVIK_TFTP_BLOCK_SIZE) {
        const uint8_t committed = m_writeFile->commit();
        m_writeFile.reset();
        if (committed != TFTP_ERR_NONE)
            return MAVIK_TFTP_E_DISK_FULL;
    }
    return MAVIK_TFTP_OK;
}

void Sender::closeFile()
{
    m_file.close();
    m_writeFile.reset(); // an unfinished write leaves no file
    for (const QString& file : qAsConst(m_extracted))
        QFile::remove(file);
    m_extracted.clear();
}

} // namespace MavikTftp
