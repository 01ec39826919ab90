// Bounded copies of 8-bit and UTF-16 texts. Every function terminates the
// destination when its size is above 0 and never writes past size.
#pragma once

#include <cstddef>

// Copies at most size - 1 bytes of src and terminates; returns strlen(src),
// so a result >= size means the copy was cut.
size_t aud_strlcpy(char* dst, const char* src, size_t size);

// aud_strlcpy for UTF-16 texts (lengths in 16-bit units).
size_t aud_wcslcpy(char16_t* dst, const char16_t* src, size_t size);

// Appends src within size. When dst already fills size (no terminator in
// its first size bytes) returns size and leaves dst alone; else returns
// strlen(dst) + strlen(src), so a result >= size means the text was cut.
size_t aud_strlcat(char* dst, const char* src, size_t size);

// Appends every text of the null-terminated list in turn, as aud_strlcat
// does; returns the length the whole result would have (size when dst
// already filled size).
size_t aud_strlcat_list(char* dst, size_t size, const char* text, ...);

// Length of a terminated UTF-16 text in 16-bit units.
size_t aud_wcslen(const char16_t* text);
