#include "fwupdate/package/fwpkg_versions.h"

#include "fwupdate/package/fwpkg_result.h"
#include "pbd/jlib/jlib_bytes.h"
#include "pbd/jlib/jlib_version.h"

JResult fwpkg_readWords(const uint8_t* field, uint32_t width, uint32_t count, std::vector<uint32_t>* words)
{
    if (!field || !words || uint64_t(count) * 4 > width)
        return FWPKG_E_VERSION;
    words->clear();
    words->reserve(count);
    for (uint32_t i = 0; i < count; ++i)
        words->push_back(jlib_load32be(field + 4 * i));
    return FWPKG_OK;
}

JResult fwpkg_firmwareVersionText(uint32_t word, QString* text)
{
    uint32_t release = 0, major = 0, tens = 0, units = 0;
    char letter = 0;
    if (jlib_decodeVersion(&release, &major, &tens, &units, &letter, word) < 0)
        return FWPKG_E_VERSION;
    if (text) {
        *text = QString(release ? QLatin1Char('v') : QLatin1Char('r')) + QString::number(major) + QString::number(tens)
            + QString::number(units) + QLatin1Char(letter);
    }
    return FWPKG_OK;
}

QString fwpkg_danteWordText(uint32_t word)
{
    uint8_t b[4];
    jlib_splitVersionBytes(&b[0], &b[1], &b[2], &b[3], word);
    QString text = QStringLiteral("v");
    for (const uint8_t byte : b)
        text += QString::number(byte);
    return text;
}

QString fwpkg_danteDottedText(uint32_t word)
{
    uint8_t b3 = 0, b2 = 0, b1 = 0;
    jlib_splitVersionBytes(&b3, &b2, &b1, nullptr, word);
    return QStringLiteral("%1.%2.%3").arg(b3).arg(b2).arg(b1);
}
