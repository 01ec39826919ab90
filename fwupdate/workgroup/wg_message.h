// Workgroup messages on the TCP sessions: a 20-byte header ("VWMP", total
// length, reserved, inner length, class, command, reserved) and a body chosen
// by class and command. Numbers are big-endian. The builders make every
// message the PC sends; decodeMessage reads what a unit sends.
#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>

namespace WG {

constexpr size_t kHeaderSize = 20;
// The PC's side of the negotiated word: a session asks for the smaller of
// this and the word the unit announces.
constexpr uint16_t kDocumentWord = 256;
// A result word with this bit set means the unit refused or failed.
constexpr uint16_t kResultFailure = 0x8000;
constexpr size_t kStatusTextMax = 255;

inline bool resultFailed(uint16_t result)
{
    return (result & kResultFailure) != 0;
}
inline uint16_t negotiatedWord(uint16_t announced)
{
    return announced < kDocumentWord ? announced : kDocumentWord;
}

enum MessageClass : uint8_t {
    ClassKeepAlive = 0,
    ClassSession = 1,
    ClassIdentify = 2,
    ClassFirmware = 3,
};

// Session modes: a management session dispatches classes 1 to 3, an
// interrupt session only the session requests' replies.
enum class SessionMode { Management = 0, Interrupt = 1 };

// Writer pieces: magic, total length, reserved (12 bytes); inner length,
// class, command, reserved (8 bytes).
void appendMessageHeader(QByteArray& out, uint32_t totalLength);
void appendCommandHeader(QByteArray& out, uint32_t innerLength, uint8_t messageClass, uint8_t command);
void putUint64BE(QByteArray& out, uint64_t value);
void putUint16BE(QByteArray& out, uint16_t value);
uint32_t readUint32BE(const uint8_t* data, size_t position);
uint64_t readUint64BE(const uint8_t* data, size_t position);

// 0/1: heldId is the workgroup id the unit currently holds.
QByteArray buildKeepAlive(uint64_t heldId);
// 1/0: the word sent is negotiatedWord(announcedWord).
QByteArray buildManagementRequest(uint64_t ownId, uint16_t announcedWord, uint16_t slotWord);
QByteArray buildManagementDisconnect(uint64_t workgroupId); // 1/2
QByteArray buildInterruptRequest(uint64_t ownId); // 1/4
QByteArray buildInterruptDisconnect(uint64_t ownId); // 1/6
QByteArray buildWorkgroupIdSet(uint64_t workgroupId); // 1/15
QByteArray buildIdentify(uint64_t ownId); // 2/0, identify value 1
// 3/0: the PC's 16-byte link-local address, the port of its file server,
// the file name (no terminator), zero padding to a multiple of 4.
QByteArray buildFirmwareUpdateStart(
    uint64_t ownId, const uint8_t pcAddress[16], uint16_t serverPort, const QByteArray& fileName);
QByteArray buildStatusRequest(uint64_t ownId); // 3/2

// What decodeMessage made of a message.
enum class Decode {
    Refused, // not a dispatchable message: the session answers false
    Ignored, // accepted, nothing to do
    Message, // a typed record in WgMessage
};

// The fields a unit's message carries; which are set depends on class and
// command (see decodeMessage).
struct WgMessage {
    uint8_t messageClass = 0;
    uint8_t command = 0;
    uint64_t deviceId = 0; // 1/1, 1/5, 1/10 (member concerned), 1/17, 2/2, 3/8
    uint16_t result = 0; // result or status word: 1/1, 1/3, 1/5, 1/7, 1/10, 1/14, 3/1, 3/3, 3/5, 3/7
    uint8_t statusBytes[4] = {}; // 3/1: bytes 22, 24, 26, 27
    QByteArray text; // 3/1 status text, at most 255 bytes, up to the first zero
    QByteArray payload; // 3/5, 3/7: the bytes from offset 24 to the end
    uint32_t errorCode = 0; // 3/8
};

// Reads one whole message (as framed by the transport). Refused: shorter
// than the header, or not "VWMP". Ignored: class 0, a command the mode does
// not dispatch, an accepted no-op command, or a message that ends before the
// last field its command reads.
Decode decodeMessage(const uint8_t* data, size_t length, SessionMode mode, WgMessage* out);

} // namespace WG
