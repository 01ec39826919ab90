#include "updater/updater.h"

#include "updater/recovery_bytes.h"
#include "updater/update_file.h"

#include <QHostAddress>
#include <QMutexLocker>
#include <QNetworkInterface>
#include <QStringList>
#include <QTcpSocket>

#include <algorithm>

namespace {

constexpr uint16_t kClassCommand = 0x8000;
constexpr uint16_t kClassQuery = 0x8010;
constexpr uint16_t kFrameKindPlain = 0;
constexpr uint16_t kFrameKindFile = 1;

// Segment plans of large program images.
constexpr int64_t kFirstSegment = 0x10F010;
constexpr int64_t kMiddleSegment = 0x100000;
constexpr int64_t kLastGenericOffset = 0x50F010;
constexpr int kGenericSegments = 6;
constexpr int64_t kZSeriesSecondOffset = 0x18F010;
constexpr int64_t kZSeriesTail = 0x200000;
constexpr int64_t kBrox2Segment = 0x40F010;
constexpr int64_t kSegmentedFrom = 0x200000;
// Progress of a segmented write fills this share; the end brings 100.
constexpr double kSegmentShare = 70.0;

uint8_t byteSum(const QByteArray& bytes, int from, int to)
{
    uint32_t sum = 0;
    for (int i = from; i < to; ++i)
        sum += static_cast<uint8_t>(bytes.at(i));
    return static_cast<uint8_t>(sum);
}

bool sameName(const QString& a, const char* b)
{
    return a.compare(QLatin1String(b), Qt::CaseInsensitive) == 0;
}

} // namespace

Updater::Updater(bool bootMode, QObject* parent)
    : QThread(parent)
    , m_bootMode(bootMode ? 1 : 0)
    , m_destinationMac(6, static_cast<char>(0xFF))
    , m_sourceMac(6, static_cast<char>(0xFF))
    , m_imageTag(bootMode ? QStringLiteral("FIRM:BOOT") : QStringLiteral("FIRM:PROG"))
    , m_versionTag(bootMode ? QStringLiteral("BVER") : QStringLiteral("PVER"))
{
}

Updater::~Updater()
{
    wait();
}

void Updater::setTarget(const QString& host, uint16_t port, const QByteArray& destinationMac)
{
    m_host = host;
    m_port = port;
    if (destinationMac.size() == 6)
        m_destinationMac = destinationMac;
}

void Updater::setUpdateFile(UpdateFile* file)
{
    m_file = file;
}

void Updater::startCommand(int32_t mode)
{
    m_runMode = mode;
    if (!isRunning())
        start(QThread::HighPriority);
}

QString Updater::deviceName() const
{
    QMutexLocker lock(&m_identityLock);
    return m_deviceName;
}

QString Updater::deviceVersion() const
{
    QMutexLocker lock(&m_identityLock);
    return m_deviceVersion;
}

QByteArray Updater::buildMessage(uint16_t command, uint16_t paramCount, uint16_t commandClass, uint16_t argD,
    uint16_t argE, const QByteArray& params)
{
    QByteArray message;
    message.reserve(16 + params.size());
    appendUint16BE(message, command);
    message.append('\0');
    appendUint16BE(message, commandClass);
    appendUint16BE(message, argD);
    appendUint16BE(message, argE);
    appendUint16BE(message, 1);
    message.append(static_cast<char>(byteSum(message, 0, 11)));
    appendUint16BE(message, paramCount);
    message.append(params);
    message.append(static_cast<char>(byteSum(message, 12, message.size())));
    message.append(static_cast<char>(byteSum(message, 0, message.size())));
    return message;
}

void Updater::run()
{
    qRegisterMetaType<uint16_t>("uint16_t");
    qRegisterMetaType<uint32_t>("uint32_t");
    m_progressBase = 0;
    m_progressSpan = 0;
    m_receiveBuffer.clear();

    if (!connectTarget()) {
        emit sendMessage(kCodeConnectFailed);
    } else if (securePathway() && acquireAuthority()) {
        const int32_t mode = m_runMode;
        if (mode == RunConnect)
            runConnect();
        else if (mode == RunUpdate)
            runUpdate();
        releaseAuthority();
        disconnectPathway();
    }
    if (m_socket)
        m_socket->close();
    m_socket.reset();
    emit commandCompleted();
}

bool Updater::connectTarget()
{
    m_socket = std::make_unique<QTcpSocket>();
    // Unbuffered: a frame goes straight to the kernel and a reply is read
    // straight from it, with no notifier work in between.
    m_socket->connectToHost(m_host, m_port, QIODevice::ReadWrite | QIODevice::Unbuffered);
    const bool connected = m_socket->waitForConnected(m_timeouts.connectMs);
    // Every piece waits for its answer: small frames must leave at once.
    if (connected)
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    findLocalMacAddress();
    return connected;
}

void Updater::findLocalMacAddress()
{
    const QHostAddress local = m_socket ? m_socket->localAddress() : QHostAddress();
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& interface : interfaces) {
        const auto flags = interface.flags();
        if (!(flags & QNetworkInterface::IsUp) || (flags & QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
            if (entry.ip().protocol() != QAbstractSocket::IPv4Protocol || entry.ip() != local)
                continue;
            const QStringList parts = interface.hardwareAddress().split(QLatin1Char(':'));
            if (parts.size() != 6)
                break;
            QByteArray mac;
            for (const QString& part : parts)
                mac.append(static_cast<char>(part.toUInt(nullptr, 16)));
            m_sourceMac = mac;
            return;
        }
    }
    m_sourceMac = QByteArray(6, static_cast<char>(0xFF));
}

bool Updater::securePathway()
{
    const QByteArray params = encodeByteParam(1) + encodeStringParam(QString()) + encodeStringParam(QString());
    return sendAndWait(buildMessage(1, 3, kClassCommand, 0, 0, params), kFrameKindPlain, 1, 9);
}

bool Updater::acquireAuthority()
{
    return sendAndWait(buildMessage(2, 1, kClassCommand, 0, 2, encodeByteParam(1)), kFrameKindPlain, 2, 10);
}

bool Updater::releaseAuthority()
{
    return sendAndWait(buildMessage(4, 1, kClassCommand, 0, 2, encodeByteParam(0)), kFrameKindPlain, 3, 12);
}

bool Updater::changeUpdateMode(uint8_t flag)
{
    return sendAndWait(buildMessage(5, 1, kClassCommand, 0, 3, encodeByteParam(flag)), kFrameKindPlain, 5, 13);
}

bool Updater::getVersion()
{
    return sendAndWait(
        buildMessage(8, 1, kClassQuery, 0xF1, 0, encodeStringParam(m_versionTag)), kFrameKindPlain, 7, 15);
}

bool Updater::getDeviceName()
{
    return sendAndWait(
        buildMessage(9, 1, kClassQuery, 0xF1, 0, encodeStringParam(QStringLiteral("DNAME"))), kFrameKindPlain, 8, 16);
}

bool Updater::disconnectPathway()
{
    const QByteArray params = encodeByteParam(0) + encodeStringParam(QString()) + encodeStringParam(QString());
    return sendAndWait(buildMessage(13, 3, kClassCommand, 0, 0, params), kFrameKindPlain, 4, 11);
}

void Updater::runConnect()
{
    if (getDeviceName() && getVersion())
        emit sendMessage(kCodeConnected);
}

void Updater::runUpdate()
{
    const bool segmented = needsSegmentedWrite();
    // An image the write would leave partly unwritten (or no image at all)
    // is refused before the unit is switched over.
    if (!m_file || m_file->imageData().isEmpty() || (segmented && plannedEnd() < m_file->usedLength())) {
        emit sendMessage(kCodeWriteRefused);
        emit sendMessage(kCodeWriteFailed);
        return;
    }
    if (!changeUpdateMode(1))
        return;
    bool written = false;
    if (segmented) {
        m_segmentCounter = 0;
        bool complete = false;
        do {
            written = writeFileSegment(&complete);
        } while (written && !complete);
    } else {
        written = writeFile();
    }
    // The steps after the write report no progress.
    m_progressBase = 0;
    m_progressSpan = 0;
    if (written) {
        emit progress(100);
        emit sendMessage(kCodeUpdated);
    } else {
        emit sendMessage(kCodeWriteFailed);
    }
}

bool Updater::needsSegmentedWrite() const
{
    if (!m_file)
        return false;
    const QString name = deviceName();
    if (!name.isEmpty() && !m_bootMode) {
        if (!sameName(name, "Z-Series") && !sameName(name, "Sorn-D") && !sameName(name, "Brox2")
            && !sameName(name, "P-Series"))
            return false;
    }
    const int64_t used = m_file->usedLength();
    const int64_t size = m_file->fileSize();
    const int64_t length = used == 0 ? size : std::min(used, size);
    return length >= kSegmentedFrom;
}

bool Updater::writeFile()
{
    m_progressSpan = 0;
    const QByteArray params = encodeStringParam(m_imageTag) + encodeByteArrayParam(m_file->data(0, -1));
    return sendAndWait(
        buildMessage(6, 2, kClassCommand, 2, 1, params), kFrameKindFile, kCodeWriteFailed, kCodeWriteRefused);
}

Updater::SegmentPlan Updater::segmentFor(uint16_t counter) const
{
    const int64_t total = m_file->usedLength();
    const QString name = deviceName();
    if (sameName(name, "Z-Series")) {
        const int64_t offset = counter == 0 ? 0 : kZSeriesSecondOffset;
        const int64_t length = offset + kZSeriesTail < total ? kFirstSegment : std::max<int64_t>(0, total - offset);
        return {offset, length, counter >= 1};
    }
    if (sameName(name, "Brox2"))
        return {0, kBrox2Segment, true};
    int64_t offset = 0;
    int64_t length = kFirstSegment;
    if (counter >= 1 && counter <= 4) {
        offset = kFirstSegment + (counter - 1) * kMiddleSegment;
        length = kMiddleSegment;
    } else if (counter >= 5) {
        offset = kLastGenericOffset;
        length = std::max<int64_t>(0, total - kLastGenericOffset);
    }
    return {offset, length, counter + 1 >= kGenericSegments || offset + length >= total};
}

int64_t Updater::plannedEnd() const
{
    int64_t end = 0;
    for (uint16_t counter = 0; counter < kGenericSegments; ++counter) {
        const SegmentPlan plan = segmentFor(counter);
        end = std::max(end, plan.offset + plan.length);
        if (plan.complete)
            break;
    }
    return end;
}

bool Updater::writeFileSegment(bool* complete)
{
    const SegmentPlan plan = segmentFor(m_segmentCounter);
    const double total = m_file->usedLength();
    m_segmentOffset = static_cast<uint32_t>(plan.offset);
    m_segmentLength = static_cast<uint32_t>(plan.length);
    m_progressBase = plan.offset / total * kSegmentShare;
    m_progressSpan = plan.length / total * kSegmentShare;
    const QString tag = m_imageTag + QStringLiteral("%1").arg(m_segmentCounter, 2, 10, QLatin1Char('0'));
    const QByteArray params = encodeStringParam(tag) + encodeByteArrayParam(m_file->data(plan.offset, plan.length));
    ++m_segmentCounter;
    *complete = plan.complete;
    return sendAndWait(
        buildMessage(6, 2, kClassCommand, 2, 1, params), kFrameKindFile, kCodeWriteFailed, kCodeWriteRefused);
}

bool Updater::sendFrame(const QByteArray& message, uint32_t offset, int pieceLength, uint16_t frameKind)
{
    if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState)
        return false;
    const QByteArray frame = recovery_buildFrame(message, offset, pieceLength, static_cast<uint16_t>(pieceLength + 25),
        frameKind, m_destinationMac, m_sourceMac);
    const QByteArray encoded = recovery_slipEncode(frame);
    if (m_socket->write(encoded) != encoded.size())
        return false;
    // Usually the kernel takes the frame at once; otherwise wait for it.
    m_socket->flush();
    return m_socket->bytesToWrite() == 0 || m_socket->waitForBytesWritten(m_timeouts.writeMs);
}

bool Updater::receiveFrame(QByteArray* frame)
{
    char chunk[4096];
    for (;;) {
        switch (m_receiveBuffer.cut(frame)) {
        case RecoveryFrameCutter::Cut::Frame:
            return true;
        case RecoveryFrameCutter::Cut::Overflow:
            return false;
        case RecoveryFrameCutter::Cut::NeedMore:
            break;
        }
        // What the socket holds already is taken before waiting for more.
        const qint64 count = m_socket->read(chunk, std::min<qint64>(sizeof chunk, m_receiveBuffer.room()));
        if (count > 0) {
            m_receiveBuffer.append(QByteArray(chunk, static_cast<int>(count)));
            continue;
        }
        if (count < 0 || !m_socket->waitForReadyRead(m_timeouts.replyMs))
            return false;
    }
}

bool Updater::waitReply(uint16_t replyFailureCode)
{
    QByteArray frame;
    if (!receiveFrame(&frame)) {
        emit sendMessage(replyFailureCode);
        return false;
    }
    static const QByteArray illegal("\xC0\x00\x00\xC0", 4);
    static const QByteArray ack("\xC0\xC0", 2);
    if (frame.size() < 2 || static_cast<uint8_t>(frame.front()) != kSlipEnd
        || static_cast<uint8_t>(frame.back()) != kSlipEnd)
        return false;
    if (frame == illegal) {
        emit sendMessage(kRecoveryCodeIllegalCommand);
        return false;
    }
    if (frame == ack)
        return true;
    QByteArray message;
    switch (decodeFrame(frame, &message)) {
    case RecoveryDecode::Ok:
        break;
    case RecoveryDecode::Short:
        emit sendMessage(kRecoveryCodeWrongCommand);
        emit sendMessage(replyFailureCode);
        return false;
    case RecoveryDecode::Malformed:
        emit sendMessage(replyFailureCode);
        return false;
    }
    if (checkReply(message))
        return true;
    emit sendMessage(replyFailureCode);
    return false;
}

bool Updater::checkReply(const QByteArray& message)
{
    const RecoveryReplyCheck check = recovery_checkReply(message);
    if (check.code != 0) {
        emit sendMessage(check.code);
        return false;
    }
    if (check.textKind != RecoveryReplyCheck::Text::None) {
        QMutexLocker lock(&m_identityLock);
        (check.textKind == RecoveryReplyCheck::Text::Version ? m_deviceVersion : m_deviceName) = check.text;
    }
    return true;
}

bool Updater::sendAndWait(
    const QByteArray& message, uint16_t frameKind, uint16_t sendFailureCode, uint16_t replyFailureCode)
{
    const int64_t length = message.size();
    const int64_t pieces = recovery_pieceCount(length);
    int64_t sent = 0;
    for (int64_t i = 0; i < pieces; ++i) {
        const int64_t offset = i * kRecoveryPieceSize;
        const int piece = recovery_pieceLength(length, i);
        if (!sendFrame(message, static_cast<uint32_t>(offset), piece, frameKind)) {
            emit sendMessage(sendFailureCode);
            return false;
        }
        if (m_progressSpan != 0) {
            sent += piece + kRecoveryFrameOverhead;
            emit progress(static_cast<uint32_t>(m_progressBase + static_cast<double>(sent) / length * m_progressSpan));
        }
        if (!waitReply(replyFailureCode))
            return false;
    }
    return true;
}
