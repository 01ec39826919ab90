// Small helpers shared by fuzz targets: a check that stops the run, and the
// input as a C text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

// A broken property is a finding: stop with the input saved.
inline void fuzzCheck(bool ok)
{
    if (!ok)
        abort();
}

// The input as text when it has no zero byte and at most maxSize bytes.
inline bool fuzzText(const uint8_t* data, size_t size, size_t maxSize, std::string* text)
{
    if (size > maxSize)
        return false;
    text->assign(reinterpret_cast<const char*>(data), size);
    return text->find('\0') == std::string::npos;
}
