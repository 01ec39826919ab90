// UTF-16 texts (interface names, file names handed to peers) and their
// UTF-8 form, which is the multibyte code page here whatever the locale.
#pragma once

#include <cstddef>
#include <string>

// UTF-16 to UTF-8 into dst (size bytes, may be null with size 0 to measure).
// Conversion stops at the first unit that does not convert (an unpaired
// surrogate). Writes only whole characters and terminates when size > 0.
// Returns the length in bytes of everything that converts, so a result
// >= size means the text was cut.
size_t aud_wcs_to_mbs(char* dst, const char16_t* text, size_t size);

// UTF-8 to UTF-16 into dst (count units, may be null with count 0 to
// measure). A byte that does not belong to a valid sequence gives U+FFFD and
// decoding resumes at the next byte that could start one. Writes at most
// count - 1 units, never half a surrogate pair, and terminates when
// count > 0. Returns the length in units of the whole conversion.
size_t aud_mbs_to_wcs(char16_t* dst, const char* text, size_t count);

// A UTF-16 text for a log line, into dst (size bytes, terminated when
// size > 0): when every unit is below 128 the low bytes, else every unit as
// four hexadecimal digits separated by blanks ("0048 00e9"). Returns dst.
const char* aud_u16_text(const char16_t* text, char* dst, size_t size);

// Appends the UTF-8 form of at most `units` units of a UTF-16 text (to its
// terminator when units is SIZE_MAX) to *out; unpaired surrogates become
// U+FFFD. For formatting, which must not stop short.
void aud_utf16_append_utf8(std::string* out, const char16_t* text, size_t units);

// Appends one code point as UTF-8 to *out.
void aud_append_utf8(std::string* out, char32_t cp);

// 0-15 for a hexadecimal digit of either case, else -1.
int aud_hex_digit(char c);
