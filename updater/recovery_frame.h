// Transport frames of the recovery protocol: building, SLIP stuffing,
// cutting delimited frames out of a byte stream, decoding replies and
// reading the fields of a reply message. No I/O here; the update engine
// drives these over its socket.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

constexpr uint8_t kSlipEnd = 0xC0;
constexpr uint8_t kSlipEsc = 0xDB;
constexpr uint8_t kSlipEscEnd = 0xDC;
constexpr uint8_t kSlipEscEsc = 0xDD;

constexpr int kRecoveryPieceSize = 1024;
// Bytes of a transport frame around its piece, before stuffing.
constexpr int kRecoveryFrameOverhead = 27;
// Offset of the piece inside a transport frame.
constexpr int kRecoveryPieceOffset = 26;
// The largest reply frame is one full piece, every byte stuffed, plus the
// delimiters (2 * 1051 + 2); a unit that sends this much without closing a
// frame is not speaking the protocol.
constexpr int kRecoveryReceiveCap = 64 * 1024;

// A message goes out in pieces of 1024 bytes, the last holding the rest.
inline int64_t recovery_pieceCount(int64_t messageLength)
{
    return (messageLength + kRecoveryPieceSize - 1) / kRecoveryPieceSize;
}
inline int recovery_pieceLength(int64_t messageLength, int64_t index)
{
    const int64_t rest = messageLength - index * kRecoveryPieceSize;
    return static_cast<int>(rest < 0 ? 0 : rest < kRecoveryPieceSize ? rest : kRecoveryPieceSize);
}

// One transport frame (not stuffed) for the piece of `message` at `offset`
// of `pieceLength` bytes; `frameLength` is written as given (piece + 25).
QByteArray recovery_buildFrame(const QByteArray& message, uint32_t offset, int pieceLength, uint16_t frameLength,
    uint16_t frameKind, const QByteArray& destinationMac, const QByteArray& sourceMac);

// RFC 1055 stuffing with one 0xC0 in front and one at the end.
QByteArray recovery_slipEncode(const QByteArray& frame);

// Gathers received bytes and hands out one delimited frame at a time.
class RecoveryFrameCutter {
public:
    enum class Cut { Frame, NeedMore, Overflow };

    void clear() { m_buffer.clear(); }
    void append(const QByteArray& bytes) { m_buffer.append(bytes); }
    // How many more bytes may be appended before the cap is passed (one
    // more than that shows the overflow).
    int room() const { return m_buffer.size() > kRecoveryReceiveCap ? 0 : kRecoveryReceiveCap + 1 - m_buffer.size(); }
    int size() const { return m_buffer.size(); }
    // The bytes from the first 0xC0 through the next one; everything up to
    // and including that second 0xC0 leaves the buffer. Overflow empties
    // the buffer once it holds more than the cap with no frame in it.
    Cut cut(QByteArray* frame);

private:
    QByteArray m_buffer;
};

enum class RecoveryDecode {
    Ok, // *message holds the reply message
    Malformed, // not a frame, or its size disagrees with its length field
    Short, // too short for its fields, or the message length runs past the piece
};

// Strips the delimiters of a cut frame, undoes the stuffing (0xDB before any
// other byte is kept with that byte), checks the size against the frame
// length field and takes the message (length at 18) from offset 26.
RecoveryDecode recovery_decodeFrame(const QByteArray& frame, QByteArray* message);

// What a reply message says, before the engine reports it.
struct RecoveryReplyCheck {
    enum class Text { None, Version, Name };
    uint16_t code = 0; // 0 accepted, else the message code of the refusal
    Text textKind = Text::None;
    QString text; // the version or the device name when textKind says so
};

// The outcome of a reply message by its command number (bytes 0-1).
RecoveryReplyCheck recovery_checkReply(const QByteArray& message);

// Message codes the protocol itself produces.
constexpr uint16_t kRecoveryCodeWrongCommand = 18;
constexpr uint16_t kRecoveryCodeIllegalCommand = 19;
