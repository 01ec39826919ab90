// Parameter type codes and the parameter memory's result codes.
// A type code's low byte is the element width in bytes; 0x100 marks unsigned,
// 0x200 text and 0x300 real.
#pragma once

#include "pbd/jlib/jlib_result.h"

#include <cstdint>

namespace MMS {

enum ParamType : uint32_t {
    PARAM_INT8 = 0x001,
    PARAM_INT16 = 0x002,
    PARAM_INT32 = 0x004,
    PARAM_UINT8 = 0x101,
    PARAM_UINT16 = 0x102,
    PARAM_UINT32 = 0x104,
    PARAM_BIT = 0x100,
    PARAM_STRING = 0x201,
    PARAM_FLOAT = 0x304, // "double" is the same type
};

// True for the nine codes above.
bool paramTypeValid(uint32_t type);
// Code of a spelling in layout definitions ("uint8_t", ..., "double", "bit");
// 0 when the text (length bytes, no NUL needed) is none of the ten spellings.
uint32_t paramTypeFromName(const char* text, uint32_t length);
// Width in bytes of one element: 1, 2 or 4; 0 for "bit" and "string"
// (a string's width is its maximum, held by the parameter).
uint32_t paramTypeWidth(uint32_t type);
inline bool paramTypeSigned(uint32_t type)
{
    return type == PARAM_INT8 || type == PARAM_INT16 || type == PARAM_INT32;
}
inline bool paramTypeUnsigned(uint32_t type)
{
    return type == PARAM_UINT8 || type == PARAM_UINT16 || type == PARAM_UINT32 || type == PARAM_BIT;
}

// Result codes of the parameter memory. Informative bits may be combined;
// failures have the top bit set.
constexpr JResult MMS_OK = 0;
constexpr JResult MMS_CHANGED = 0x100; // a stored value changed
constexpr JResult MMS_ADJUSTED = 0x200; // clamped or snapped on the way in
constexpr JResult MMS_HANDLED = 0x800; // a collection handler took the set
constexpr JResult MMS_HANDLED_CHANGED = 0xC00; // ... and values changed
constexpr JResult MMS_FOUND = 0x8000; // first changed element found; active already

constexpr JResult MMS_E_INNER = static_cast<JResult>(0x80000001u);
constexpr JResult MMS_E_ARG = static_cast<JResult>(0x80000002u);
constexpr JResult MMS_E_MEMORY = static_cast<JResult>(0x80000003u);
constexpr JResult MMS_E_STATE = static_cast<JResult>(0x80000004u);
constexpr JResult MMS_E_UNDEFINED = static_cast<JResult>(0x80000005u);
constexpr JResult MMS_E_PATH = static_cast<JResult>(0x80000006u);
constexpr JResult MMS_E_NO_MATCH = static_cast<JResult>(0x80000007u);
constexpr JResult MMS_E_REFUSED = static_cast<JResult>(0x80000008u); // admission: outside a limit or off the grid
constexpr JResult MMS_E_DEPTH = static_cast<JResult>(0x80000008u); // tree: nesting deeper than 4
constexpr JResult MMS_E_EXISTS = static_cast<JResult>(0x80000009u);
constexpr JResult MMS_E_UNSUPPORTED = static_cast<JResult>(0x8000000Au);

// Combines the results of several element operations into one: the first
// failure wins (later failures would only hide which element failed first);
// without a failure the informative bits are or-ed.
inline JResult mms_combine(JResult sofar, JResult next)
{
    if (sofar < 0)
        return sofar;
    if (next < 0)
        return next;
    return sofar | next;
}

// Names of functions, collections and parameters: 24 bytes, NUL-padded.
constexpr uint32_t MMS_NAME_SIZE = 24;
// Deepest tag path: the function level holds up to 4 nested collections.
constexpr uint32_t MMS_MAX_DEPTH = 5;

} // namespace MMS
