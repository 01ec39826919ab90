#include "updater/recovery_bytes.h"

#include "pbd/jlib/jlib_bytes.h"

void appendUint16BE(QByteArray& buffer, uint16_t value)
{
    uint8_t bytes[2];
    jlib_store16be(bytes, value);
    buffer.append(reinterpret_cast<const char*>(bytes), 2);
}

void appendUint32BE(QByteArray& buffer, uint32_t value)
{
    uint8_t bytes[4];
    jlib_store32be(bytes, value);
    buffer.append(reinterpret_cast<const char*>(bytes), 4);
}

uint16_t readUint16BE(const QByteArray& buffer, int offset, bool* ok)
{
    const bool present = offset >= 0 && static_cast<int64_t>(offset) + 2 <= buffer.size();
    if (ok)
        *ok = present;
    return present ? jlib_load16be(reinterpret_cast<const uint8_t*>(buffer.constData()) + offset) : 0;
}

uint32_t readUint32BE(const QByteArray& buffer, int offset, bool* ok)
{
    const bool present = offset >= 0 && static_cast<int64_t>(offset) + 4 <= buffer.size();
    if (ok)
        *ok = present;
    return present ? jlib_load32be(reinterpret_cast<const uint8_t*>(buffer.constData()) + offset) : 0;
}

QByteArray encodeByteParam(uint8_t value)
{
    QByteArray out;
    out.append(static_cast<char>(kRecoveryParamByte));
    out.append(static_cast<char>(value));
    return out;
}

QByteArray encodeByteArrayParam(const QByteArray& bytes)
{
    QByteArray out;
    out.reserve(5 + bytes.size());
    out.append(static_cast<char>(kRecoveryParamBytes));
    appendUint32BE(out, static_cast<uint32_t>(bytes.size()));
    out.append(bytes);
    return out;
}

QByteArray encodeStringParam(const QString& text)
{
    return encodeByteArrayParam(text.toUtf8());
}
