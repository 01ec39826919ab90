#include "pbd/jlib/jlib_version.h"

#include "pbd/jlib/jlib_text.h"

JResult jlib_decodeVersion(
    uint32_t* releaseFlag, uint32_t* major, uint32_t* minorTens, uint32_t* minorUnits, char* letter, uint32_t word)
{
    const uint32_t kind = word >> 24;
    const uint32_t minor = (word >> 8) & 0xFF;
    const uint32_t letterIndex = word & 0xFF;
    if ((kind != 'V' && kind != 'R') || minor > 99 || letterIndex > 25)
        return JLIB_FAIL;
    if (releaseFlag)
        *releaseFlag = kind == 'V' ? 1 : 0;
    if (major)
        *major = (word >> 16) & 0xFF;
    if (minorTens)
        *minorTens = minor / 10;
    if (minorUnits)
        *minorUnits = minor % 10;
    if (letter)
        *letter = static_cast<char>('a' + letterIndex);
    return JLIB_OK;
}

JResult jlib_formatVersion(char* buffer, size_t size, uint32_t word)
{
    uint32_t release = 0, major = 0, tens = 0, units = 0;
    char letter = 0;
    if (jlib_decodeVersion(&release, &major, &tens, &units, &letter, word) < 0) {
        jlib_strCopy(buffer, size, "V?.???");
        return JLIB_FAIL;
    }
    return jlib_formatString(buffer, size, nullptr, release ? "V%d.%d%d%c" : "R%d.%d%d%c", static_cast<int>(major),
        static_cast<int>(tens), static_cast<int>(units), letter);
}

void jlib_splitVersionBytes(uint8_t* b3, uint8_t* b2, uint8_t* b1, uint8_t* b0, uint32_t word)
{
    if (b3)
        *b3 = static_cast<uint8_t>(word >> 24);
    if (b2)
        *b2 = static_cast<uint8_t>(word >> 16);
    if (b1)
        *b1 = static_cast<uint8_t>(word >> 8);
    if (b0)
        *b0 = static_cast<uint8_t>(word);
}
