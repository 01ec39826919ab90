// Character classes, bounded memory and text operations, the small bounded
// formatter and the number parsers of the base library. None of them
// allocates; every read and write stays inside the bounds it is given.
#pragma once

#include "pbd/jlib/jlib_result.h"

#include <cstdarg>
#include <cstddef>
#include <cstdint>

namespace JLIB {
class JVariant;
}

// Result codes of the text and number procedures.
constexpr JResult JLIB_TEXT_E_SIZE = static_cast<JResult>(0x80000001u); // bad argument
constexpr JResult JLIB_TEXT_E_MALFORMED = static_cast<JResult>(0x80000002u); // number text malformed
constexpr JResult JLIB_TEXT_E_NULL = static_cast<JResult>(0x80000003u); // null pointer or zero size
constexpr JResult JLIB_TEXT_E_NOTFOUND = static_cast<JResult>(0x80000004u); // no NUL / character within bound
constexpr JResult JLIB_TEXT_E_CUT = static_cast<JResult>(0x80000005u); // jlib_strCopy had to cut
constexpr JResult JLIB_TEXT_CUT = 5; // jlib_strCopyN cut (informative)
// jlib_strToLong: value held at the largest / smallest 32-bit value.
constexpr JResult JLIB_TEXT_E_OVERFLOW = static_cast<JResult>(0x80000002u);
constexpr JResult JLIB_TEXT_E_UNDERFLOW = static_cast<JResult>(0x80000003u);
// jlib_parseNumberToVariant: the text ended at the given length, not at a NUL.
constexpr JResult JLIB_TEXT_ENDED_AT_LENGTH = 1;

// The value of a hexadecimal digit of either case, -1 for any other
// character code.
constexpr int jlib_hexDigit(uint32_t c)
{
    if (c >= '0' && c <= '9')
        return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return static_cast<int>(c - 'A' + 10);
    return -1;
}

// Kinds stored by jlib_parseNumberToVariant.
constexpr int32_t JLIB_NUMBER_UNSIGNED = 0;
constexpr int32_t JLIB_NUMBER_SIGNED = 1;
constexpr int32_t JLIB_NUMBER_FLOAT = 2;

int32_t jlib_isBlank(int32_t c); // space, tab
int32_t jlib_isSpace(int32_t c); // space, 9..13
int32_t jlib_isDigit(int32_t c);
int32_t jlib_isLower(int32_t c);
int32_t jlib_toLower(int32_t c); // 'A'..'Z' only

JResult jlib_memCopy(void* destination, const void* source, size_t n);
// JLIB_TEXT_E_NULL also for n == 0.
JResult jlib_memSet(void* destination, int byte, size_t n);
// 0 equal, 1 a greater, 2 a smaller (bytes unsigned).
JResult jlib_memCompare(const void* a, const void* b, size_t n);

// Copies at most size - 1 characters and terminates; JLIB_TEXT_E_CUT when cut.
JResult jlib_strCopy(char* destination, size_t size, const char* source);
// Copies at most n characters and terminates (destination holds n + 1 bytes);
// JLIB_TEXT_CUT when the source was longer.
JResult jlib_strCopyN(char* destination, const char* source, size_t n);
// Compares at most n characters as signed bytes: 0 equal, 1 a greater, 2 a smaller.
JResult jlib_strCompare(const char* a, const char* b, size_t n);
// Looks for character among the first n bytes, stopping at a NUL (which is
// found when character is 0). *found is the address or null.
JResult jlib_strFindChar(const char* text, int character, size_t n, const char** found);
// Length of text, reading at most maximum + 1 bytes: 0 when the NUL lies
// within them and the text has at most maximum characters, else
// JLIB_TEXT_E_NOTFOUND with *length = maximum.
JResult jlib_strLength(const char* text, size_t maximum, size_t* length);
// As jlib_strLength but reads at most maximum bytes.
JResult jlib_strLengthBounded(const char* text, size_t maximum, size_t* length);

// Bounded formatter: %% and %d %u %x %X %c %s with the flags '0' and '+' and
// a decimal width; nothing else (no length modifiers, no '-', no precision).
// Output stops at size - 1 characters and is always terminated; *written
// (when given) excludes the NUL. JLIB_FAIL for a null buffer or format or
// size 0.
JResult jlib_formatString(char* buffer, size_t size, size_t* written, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
JResult jlib_formatStringV(char* buffer, size_t size, size_t* written, const char* format, va_list args)
    __attribute__((format(printf, 4, 0)));

// Parses a number text (ended by a NUL or after length bytes) into variant
// as unsigned (kind 0), signed (kind 1) or float (kind 2). Result 0 when the
// text ended at a NUL, JLIB_TEXT_ENDED_AT_LENGTH when at the length;
// JLIB_TEXT_E_SIZE for a null argument or length 0; JLIB_TEXT_E_MALFORMED
// for a malformed text or a value outside its type. On failure the variant
// is left as it was.
JResult jlib_parseNumberToVariant(JLIB::JVariant* variant, int32_t* kind, const char* text, size_t length);
// Text to signed 32-bit integer in base 0 or 2..36, reading at most length
// bytes. The value is always written and held at the 32-bit limits on
// overflow (JLIB_TEXT_E_OVERFLOW / JLIB_TEXT_E_UNDERFLOW); *end (when
// given) is the first character not consumed.
JResult jlib_strToLong(int32_t* value, const char* text, const char** end, int base, size_t length);
