// Bounded helpers over the link's texts: a line is (pointer, length) and is
// not terminated; nothing here reads past the length it is given.
#pragma once

#include <cstdint>
#include <cstring>

namespace mfutext {

inline bool startsWith(const char* text, uint32_t length, const char* prefix)
{
    const size_t n = strlen(prefix);
    return length >= n && memcmp(text, prefix, n) == 0;
}

// The rest after skipping n characters; empty when the text is shorter.
inline void skip(const char** text, uint32_t* length, uint32_t n)
{
    const uint32_t k = n < *length ? n : *length;
    *text += k;
    *length -= k;
}

// Copies a text into a field of `size` bytes, cut and terminated.
inline void copyField(char* field, size_t size, const char* text, uint32_t length)
{
    const size_t n = length < size - 1 ? length : size - 1;
    memcpy(field, text, n);
    field[n] = '\0';
}

} // namespace mfutext
