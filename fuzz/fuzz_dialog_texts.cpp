// Texts and numbers the unit dialogs take from a unit or the user: a Mavik-D
// firmware text against the IP-setting gate, twelve typed octet fields
// against the static-IP checks, and a summary's count, start and index from
// the unit against the progress arithmetic. Nothing crashes or overflows; a
// setting that passes is a usable unicast address, mask and gateway.
#include "fuzz/fuzz_check.h"
#include "ui/dialogs/devinfodlg.h"
#include "ui/dialogs/devloghandshake.h"
#include "ui/dialogs/ipaddrdlg.h"

#include <QStringList>

#include <cstdint>
#include <cstring>

namespace {

uint32_t pack(const QStringList& texts)
{
    uint32_t value = 0;
    for (const QString& text : texts)
        value = (value << 8) | (text.toUInt() & 0xFFu);
    return value;
}

void checkSetting(const uint8_t* data, size_t size)
{
    // Twelve fields split at 0xFF bytes, each at most 6 characters.
    QStringList fields;
    QByteArray field;
    for (size_t i = 0; i < size && fields.size() < 12; ++i) {
        if (data[i] == 0xFF) {
            fields << QString::fromLatin1(field.left(6));
            field.clear();
        } else {
            field += static_cast<char>(data[i]);
        }
    }
    while (fields.size() < 12) {
        fields << QString::fromLatin1(field.left(6));
        field.clear();
    }
    const QStringList ip = fields.mid(0, 4);
    const QStringList mask = fields.mid(4, 4);
    const QStringList gateway = fields.mid(8, 4);
    const Quil::IpValidation why = Quil::validateStaticIp(ip, mask, gateway);
    if (why.message) {
        fuzzCheck(why.octet >= 0 && why.octet < 4);
        return;
    }
    const uint32_t address = pack(ip);
    const uint32_t netmask = pack(mask);
    const uint32_t router = pack(gateway);
    const uint32_t first = address >> 24;
    fuzzCheck(first >= 1 && first <= 223 && first != 127);
    fuzzCheck(netmask != 0 && ((~netmask & (~netmask + 1u)) == 0));
    fuzzCheck((address & ~netmask) != 0 && (address & ~netmask) != ~netmask);
    fuzzCheck(router != address && (router & netmask) == (address & netmask));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 12)
        return 0;
    int32_t numbers[3];
    std::memcpy(numbers, data, sizeof numbers);
    Quil::handshakePercent(numbers[0], numbers[1], numbers[2]);
    Quil::handshakeIsLast(numbers[0], numbers[1], numbers[2]);
    const QString version = QString::fromUtf8(reinterpret_cast<const char*>(data + 12), static_cast<int>(size - 12));
    const bool takes = Quil::mavikTakesIpSetting(version);
    // Whatever else the text holds, a text that is not a version never passes.
    if (!version.contains(QLatin1Char('.')))
        fuzzCheck(!takes);
    checkSetting(data + 12, size - 12);
    return 0;
}
