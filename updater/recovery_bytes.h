// Big-endian fields and parameter encodings of the recovery protocol.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

void appendUint16BE(QByteArray& buffer, uint16_t value);
void appendUint32BE(QByteArray& buffer, uint32_t value);
// The value at offset; 0 and *ok = false when fewer than 2 (4) bytes remain.
uint16_t readUint16BE(const QByteArray& buffer, int offset, bool* ok);
uint32_t readUint32BE(const QByteArray& buffer, int offset, bool* ok);

// Parameter kinds.
constexpr uint8_t kRecoveryParamByte = 0x01;
constexpr uint8_t kRecoveryParamResult = 0x04;
constexpr uint8_t kRecoveryParamBytes = 0x80;

// 0x01 and the byte.
QByteArray encodeByteParam(uint8_t value);
// 0x80, the 4-byte length and the bytes.
QByteArray encodeByteArrayParam(const QByteArray& bytes);
// As encodeByteArrayParam with the text's UTF-8 bytes (no terminator).
QByteArray encodeStringParam(const QString& text);
