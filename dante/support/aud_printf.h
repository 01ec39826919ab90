// Bounded formatting with the return rule of C99 snprintf, the same on every
// platform: the library's log lines and message texts go through it.
//
// The format is copied character by character; conversions are
//   % [flags -+0 #] [width digits or *] [. precision digits or *]
//     [length: hh h l ll I32 I64 I w] conversion: c d e E f F g G i n o p s S u x X
// and each takes its argument with va_arg of its own type: "ll" and "I64"
// are 64-bit, "I32" 32-bit, "I" pointer-sized, "l" long. "%ls", "%ws" and
// "%S" take a UTF-16 text (const char16_t*), "%lc" and "%wc" a UTF-16 unit
// (char16_t, passed as int); they print UTF-8, unpaired surrogates as U+FFFD.
// A precision on a UTF-16 text counts 16-bit units read.
// Where it differs from the C library on purpose:
// - a backslash followed by one of " ' ? \ a b f n r t v is copied as those
//   two characters (the pair is never taken apart);
// - a "%" that does not start a complete conversion (unknown conversion or
//   length, or a conversion of more than 31 characters) is dropped and the
//   characters after it are copied as ordinary text; it takes no argument.
#pragma once

#include <cstdarg>
#include <cstddef>

// Writes at most size - 1 bytes and a terminator when size > 0 (buffer may be
// null with size 0). Returns the length the whole output has, also when it
// was cut; -1 when that length exceeds INT_MAX or format is null.
int aud_vsnprintf(char* buffer, size_t size, const char* format, va_list args);
int aud_snprintf(char* buffer, size_t size, const char* format, ...);

// Formats into a new text (*out, freed with free()); returns its length, or
// -1 on a null out or format or an allocation failure (*out untouched).
int aud_vasprintf(char** out, const char* format, va_list args);
