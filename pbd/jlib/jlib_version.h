// Firmware version words: 'V' (release) or 'R' in the top byte, the major
// number in byte 2, the minor number 0..99 in byte 1 and a letter index
// 0..25 in byte 0.
#pragma once

#include "pbd/jlib/jlib_result.h"

#include <cstddef>
#include <cstdint>

// Any output may be null. JLIB_FAIL for a malformed word (outputs untouched).
// *letter is the letter itself ('a' + index).
JResult jlib_decodeVersion(
    uint32_t* releaseFlag, uint32_t* major, uint32_t* minorTens, uint32_t* minorUnits, char* letter, uint32_t word);
// "V1.02d" / "R2.10z"; a malformed word gives "V?.???" and JLIB_FAIL.
JResult jlib_formatVersion(char* buffer, size_t size, uint32_t word);
// The four bytes, most significant first; any output may be null.
void jlib_splitVersionBytes(uint8_t* b3, uint8_t* b2, uint8_t* b1, uint8_t* b0, uint32_t word);
