#include "fwupdate/workgroup/wg_message.h"

#include "pbd/jlib/jlib_bytes.h"

#include <cstring>

namespace WG {

namespace {

constexpr char kMagic[4] = {'V', 'W', 'M', 'P'};

void putUint32BE(QByteArray& out, uint32_t value)
{
    uint8_t bytes[4];
    jlib_store32be(bytes, value);
    out.append(reinterpret_cast<const char*>(bytes), 4);
}

// Messages whose body is a single id: 28 bytes, inner length 16.
QByteArray idMessage(uint8_t messageClass, uint8_t command, uint64_t id)
{
    QByteArray out;
    out.reserve(28);
    appendMessageHeader(out, 28);
    appendCommandHeader(out, 16, messageClass, command);
    putUint64BE(out, id);
    return out;
}

struct Field {
    uint8_t messageClass;
    uint8_t command;
    size_t needed; // end of the last field read; 0 = accepted and ignored
    bool management;
    bool interrupt;
};

// Every command a unit may send that some mode dispatches.
constexpr Field kFields[] = {
    {1, 1, 30, true, true},
    {1, 3, 22, true, true},
    {1, 5, 30, false, true},
    {1, 7, 22, false, true},
    {1, 9, 0, true, false},
    {1, 10, 32, true, false},
    {1, 12, 0, true, false},
    {1, 14, 22, true, false},
    {1, 16, 0, true, false},
    {1, 17, 28, true, false},
    {2, 1, 0, true, false},
    {2, 2, 28, true, false},
    {3, 1, 28, true, false},
    {3, 3, 22, true, false},
    {3, 4, 0, true, false},
    {3, 5, 24, true, false},
    {3, 7, 24, true, false},
    {3, 8, 36, true, false},
};

const Field* findField(uint8_t messageClass, uint8_t command)
{
    for (const Field& f : kFields)
        if (f.messageClass == messageClass && f.command == command)
            return &f;
    return nullptr;
}

QByteArray statusText(const uint8_t* data, size_t length)
{
    // As if copied into a zeroed 256-byte buffer: at most 255 bytes, up to
    // the first zero.
    const size_t available = length - 28;
    const size_t span = available < kStatusTextMax ? available : kStatusTextMax;
    const void* zero = memchr(data + 28, 0, span);
    const size_t n = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - (data + 28)) : span;
    return QByteArray(reinterpret_cast<const char*>(data + 28), static_cast<int>(n));
}

// Only called once the message is known to hold every field it reads.
void readFields(const uint8_t* data, size_t length, WgMessage* out)
{
    const unsigned key = out->messageClass << 8 | out->command;
    switch (key) {
    case 0x0101: // session replies: device id, result
    case 0x0105:
        out->deviceId = readUint64BE(data, 20);
        out->result = jlib_load16be(data + 28);
        break;
    case 0x010A: // pending-link clear: result, member concerned
        out->result = jlib_load16be(data + 20);
        out->deviceId = readUint64BE(data, 24);
        break;
    case 0x0111: // release request
    case 0x0202: // expire notice
        out->deviceId = readUint64BE(data, 20);
        break;
    case 0x0301: // firmware update status
        out->result = jlib_load16be(data + 20);
        out->statusBytes[0] = data[22];
        out->statusBytes[1] = data[24];
        out->statusBytes[2] = data[26];
        out->statusBytes[3] = data[27];
        out->text = statusText(data, length);
        break;
    case 0x0305: // hardware setup replies
    case 0x0307:
        out->result = jlib_load16be(data + 20);
        out->payload = QByteArray(reinterpret_cast<const char*>(data + 24), static_cast<int>(length - 24));
        break;
    case 0x0308: // error report
        out->deviceId = readUint64BE(data, 20);
        out->errorCode = readUint32BE(data, 32);
        break;
    default: // 1/3, 1/7, 1/14, 3/3: a result word
        out->result = jlib_load16be(data + 20);
        break;
    }
}

} // namespace

void appendMessageHeader(QByteArray& out, uint32_t totalLength)
{
    out.append(kMagic, 4);
    putUint32BE(out, totalLength);
    putUint32BE(out, 0);
}

void appendCommandHeader(QByteArray& out, uint32_t innerLength, uint8_t messageClass, uint8_t command)
{
    putUint32BE(out, innerLength);
    out.append(static_cast<char>(messageClass));
    out.append(static_cast<char>(command));
    putUint16BE(out, 0);
}

void putUint64BE(QByteArray& out, uint64_t value)
{
    uint8_t bytes[8];
    jlib_store64be(bytes, value);
    out.append(reinterpret_cast<const char*>(bytes), 8);
}

void putUint16BE(QByteArray& out, uint16_t value)
{
    uint8_t bytes[2];
    jlib_store16be(bytes, value);
    out.append(reinterpret_cast<const char*>(bytes), 2);
}

uint32_t readUint32BE(const uint8_t* data, size_t position)
{
    return jlib_load32be(data + position);
}

uint64_t readUint64BE(const uint8_t* data, size_t position)
{
    return jlib_load64be(data + position);
}

QByteArray buildKeepAlive(uint64_t heldId)
{
    return idMessage(ClassKeepAlive, 1, heldId);
}

QByteArray buildManagementRequest(uint64_t ownId, uint16_t announcedWord, uint16_t slotWord)
{
    QByteArray out;
    out.reserve(36);
    appendMessageHeader(out, 36);
    appendCommandHeader(out, 24, ClassSession, 0);
    putUint64BE(out, ownId);
    putUint16BE(out, negotiatedWord(announcedWord));
    putUint16BE(out, 0);
    putUint16BE(out, slotWord);
    putUint16BE(out, 0);
    return out;
}

QByteArray buildManagementDisconnect(uint64_t workgroupId)
{
    return idMessage(ClassSession, 2, workgroupId);
}

QByteArray buildInterruptRequest(uint64_t ownId)
{
    return idMessage(ClassSession, 4, ownId);
}

QByteArray buildInterruptDisconnect(uint64_t ownId)
{
    return idMessage(ClassSession, 6, ownId);
}

QByteArray buildWorkgroupIdSet(uint64_t workgroupId)
{
    return idMessage(ClassSession, 15, workgroupId);
}

QByteArray buildIdentify(uint64_t ownId)
{
    QByteArray out;
    out.reserve(32);
    appendMessageHeader(out, 32);
    appendCommandHeader(out, 20, ClassIdentify, 0);
    putUint64BE(out, ownId);
    putUint16BE(out, 1);
    putUint16BE(out, 0);
    return out;
}

QByteArray buildFirmwareUpdateStart(
    uint64_t ownId, const uint8_t pcAddress[16], uint16_t serverPort, const QByteArray& fileName)
{
    const uint32_t n = static_cast<uint32_t>(fileName.size());
    const uint32_t padding = (4 - (n + 28) % 4) % 4;
    QByteArray out;
    out.reserve(static_cast<int>(48 + n + padding));
    appendMessageHeader(out, 48 + n + padding);
    appendCommandHeader(out, 36 + n, ClassFirmware, 0);
    putUint64BE(out, ownId);
    out.append(reinterpret_cast<const char*>(pcAddress), 16);
    putUint16BE(out, serverPort);
    putUint16BE(out, 0);
    out.append(fileName);
    out.append(static_cast<int>(padding), '\0');
    return out;
}

QByteArray buildStatusRequest(uint64_t ownId)
{
    return idMessage(ClassFirmware, 2, ownId);
}

Decode decodeMessage(const uint8_t* data, size_t length, SessionMode mode, WgMessage* out)
{
    if (!data || length < kHeaderSize || memcmp(data, kMagic, 4) != 0)
        return Decode::Refused;
    *out = WgMessage();
    out->messageClass = data[16];
    out->command = data[17];
    const Field* field = findField(out->messageClass, out->command);
    if (!field)
        return Decode::Ignored; // class 0, classes above 3, unlisted commands
    const bool dispatched = mode == SessionMode::Management ? field->management : field->interrupt;
    if (!dispatched || field->needed == 0 || length < field->needed)
        return Decode::Ignored;
    readFields(data, length, out);
    return Decode::Message;
}

} // namespace WG
