#include "updater/recovery_frame.h"

#include "updater/recovery_bytes.h"

namespace {

uint8_t frameByteSum(const char* data, int64_t length)
{
    uint32_t sum = 0;
    for (int64_t i = 0; i < length; ++i)
        sum += static_cast<uint8_t>(data[i]);
    return static_cast<uint8_t>(sum);
}

void appendMac(QByteArray& frame, const QByteArray& mac)
{
    // Exactly six bytes go on the wire whatever the caller holds.
    for (int i = 0; i < 6; ++i)
        frame.append(i < mac.size() ? mac.at(i) : static_cast<char>(0xFF));
}

} // namespace

QByteArray recovery_buildFrame(const QByteArray& message, uint32_t offset, int pieceLength, uint16_t frameLength,
    uint16_t frameKind, const QByteArray& destinationMac, const QByteArray& sourceMac)
{
    QByteArray frame;
    frame.reserve(pieceLength + kRecoveryFrameOverhead);
    appendUint16BE(frame, frameLength);
    appendUint16BE(frame, frameKind);
    appendMac(frame, destinationMac);
    appendMac(frame, sourceMac);
    appendUint16BE(frame, 0);
    appendUint32BE(frame, static_cast<uint32_t>(message.size()));
    appendUint32BE(frame, offset);
    frame.append(message.constData() + offset, pieceLength);
    frame.append(static_cast<char>(frameByteSum(frame.constData() + 2, frame.size() - 2)));
    return frame;
}

QByteArray recovery_slipEncode(const QByteArray& frame)
{
    // At most every byte doubles, plus the two delimiters.
    QByteArray out(frame.size() * 2 + 2, Qt::Uninitialized);
    char* write = out.data();
    *write++ = static_cast<char>(kSlipEnd);
    for (const char c : frame) {
        const auto byte = static_cast<uint8_t>(c);
        if (byte == kSlipEnd || byte == kSlipEsc) {
            *write++ = static_cast<char>(kSlipEsc);
            *write++ = static_cast<char>(byte == kSlipEnd ? kSlipEscEnd : kSlipEscEsc);
        } else {
            *write++ = c;
        }
    }
    *write++ = static_cast<char>(kSlipEnd);
    out.truncate(static_cast<int>(write - out.constData()));
    return out;
}

RecoveryFrameCutter::Cut RecoveryFrameCutter::cut(QByteArray* frame)
{
    const int first = m_buffer.indexOf(static_cast<char>(kSlipEnd));
    const int second = first < 0 ? -1 : m_buffer.indexOf(static_cast<char>(kSlipEnd), first + 1);
    if (second >= 0) {
        *frame = m_buffer.mid(first, second - first + 1);
        m_buffer.remove(0, second + 1);
        return Cut::Frame;
    }
    if (m_buffer.size() > kRecoveryReceiveCap) {
        m_buffer.clear();
        return Cut::Overflow;
    }
    return Cut::NeedMore;
}

RecoveryDecode recovery_decodeFrame(const QByteArray& frame, QByteArray* message)
{
    message->clear();
    if (frame.size() < 2 || static_cast<uint8_t>(frame.front()) != kSlipEnd
        || static_cast<uint8_t>(frame.back()) != kSlipEnd)
        return RecoveryDecode::Malformed;
    QByteArray decoded;
    decoded.reserve(frame.size() - 2);
    for (int i = 1; i < frame.size() - 1; ++i) {
        const auto byte = static_cast<uint8_t>(frame.at(i));
        if (byte == kSlipEsc && i + 1 < frame.size() - 1) {
            const auto next = static_cast<uint8_t>(frame.at(i + 1));
            if (next == kSlipEscEnd || next == kSlipEscEsc) {
                decoded.append(static_cast<char>(next == kSlipEscEnd ? kSlipEnd : kSlipEsc));
                ++i;
                continue;
            }
        }
        decoded.append(static_cast<char>(byte));
    }
    bool ok = false;
    const uint16_t frameLength = readUint16BE(decoded, 0, &ok);
    if (!ok || static_cast<int64_t>(frameLength) + 2 != decoded.size())
        return RecoveryDecode::Malformed;
    const uint32_t length = readUint32BE(decoded, 18, &ok);
    const int64_t piece = static_cast<int64_t>(decoded.size()) - kRecoveryFrameOverhead;
    if (!ok || piece < 0 || length > piece)
        return RecoveryDecode::Short;
    *message = decoded.mid(kRecoveryPieceOffset, static_cast<int>(length));
    return RecoveryDecode::Ok;
}

namespace {

// Codes of a refused reply, by command number.
uint16_t refusalCode(uint16_t command, uint32_t result)
{
    switch (command) {
    case 1:
        return 9;
    case 2:
        return 10;
    case 4:
        return 12;
    case 13:
        return 11;
    case 5:
        return (result & 0x7FFFFFFFu) == 0xFF ? 20 : 13;
    case 6:
        return result == 0x8000020Au ? 17 : 14;
    case 8:
        return 15;
    case 9:
        return 16;
    default:
        return 0;
    }
}

// The text of a query reply: the second parameter holds a tag of
// `prefix` bytes, one byte, then the text.
bool queryText(const QByteArray& message, int prefix, QString* text, bool* present)
{
    bool ok = false;
    const uint32_t length = readUint32BE(message, 20, &ok);
    if (!ok)
        return false;
    if (static_cast<int64_t>(length) > message.size() - 24 || length < static_cast<uint32_t>(prefix))
        return false;
    *present = length != static_cast<uint32_t>(prefix);
    if (*present)
        *text = QString::fromUtf8(message.constData() + 24 + prefix, static_cast<int>(length) - prefix);
    return true;
}

} // namespace

RecoveryReplyCheck recovery_checkReply(const QByteArray& message)
{
    RecoveryReplyCheck check;
    if (message.size() < 15 || static_cast<uint8_t>(message.at(14)) != kRecoveryParamResult) {
        check.code = kRecoveryCodeWrongCommand;
        return check;
    }
    const uint16_t command = readUint16BE(message, 0, nullptr);
    if (refusalCode(command, 0) == 0)
        return check;
    bool ok = false;
    const uint32_t result = readUint32BE(message, 15, &ok);
    if (!ok) {
        check.code = kRecoveryCodeWrongCommand;
        return check;
    }
    if (static_cast<int32_t>(result) < 0) {
        check.code = refusalCode(command, result);
        return check;
    }
    if (command == 8 || command == 9) {
        bool present = false;
        QString text;
        // The version reply carries "BVER"/"PVER" + 1 byte, the name reply "DNAME" + 1 byte.
        if (!queryText(message, command == 8 ? 5 : 6, &text, &present)) {
            check.code = kRecoveryCodeWrongCommand;
            return check;
        }
        if (present) {
            check.textKind = command == 8 ? RecoveryReplyCheck::Text::Version : RecoveryReplyCheck::Text::Name;
            check.text = text;
        }
    }
    return check;
}
