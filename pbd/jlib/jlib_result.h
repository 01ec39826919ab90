// Result codes shared by the base library. Results are signed 32-bit values
// tested by sign: 0 and small positives succeed, the top bit marks failure.
#pragma once

#include <cstdint>

using JResult = int32_t;

constexpr JResult JLIB_OK = 0;
constexpr JResult JLIB_FAIL = static_cast<JResult>(0x80000000u);

// Variant family (JVariant, JVariantArray).
constexpr JResult JLIB_VAR_OK = 0x10000;
constexpr JResult JLIB_VAR_E_ARG = static_cast<JResult>(0x80010001u);
constexpr JResult JLIB_VAR_E_MEMORY = static_cast<JResult>(0x80010002u);

inline constexpr bool jlib_failed(JResult r)
{
    return r < 0;
}
inline constexpr bool jlib_succeeded(JResult r)
{
    return r >= 0;
}

// Internal failures call this hook with the source position; it formats the
// report into a local buffer and discards it, so nothing is ever shown.
void jlib_debugBreak(const char* file, int line);
#define JLIB_DEBUGBRK() jlib_debugBreak(__FILE__, __LINE__)

// Diagnostic print hook of the base libraries: formats and discards.
void jlib_diag(const char* format, ...) __attribute__((format(printf, 1, 2)));
