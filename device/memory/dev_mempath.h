// Memory paths: the text address of one element of a unit's memory,
// "/Function/level:index/.../Parameter:index", and its parsed form.
//
//   "/DevState/devstate:0/ConnectionState:0"
//   "/Backup/InCh:3/HPFFreq:0"
//
// A level name holds no "/"; its index follows the level's first ":".
#pragma once

#include "device/memory/dev_result.h"

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

namespace Quil {

// The parsed path; what the device facade caches per unit.
struct MemAddress {
    std::string function; // "Backup"
    std::string namePath; // level names joined with "/": "MeterSetup/PeakHold"
    std::vector<uint32_t> indexes; // one per level, in the same order
};

// The text form of an element: "/" + function, then "/name:index" for each
// level of namePath (split at "/", empty parts kept). DEV_E_FAIL for a null
// argument or when the level count differs from count; *out is then left as
// it was.
JResult buildMemPath(const char* function, const char* namePath, const uint32_t* indexes, uint32_t count, QString* out);
inline JResult buildMemPath(const MemAddress& address, QString* out)
{
    return buildMemPath(address.function.c_str(), address.namePath.c_str(), address.indexes.data(),
        static_cast<uint32_t>(address.indexes.size()), out);
}

// Parses a path. The text must start with "/" and name a function. Each level
// keeps its name (the text before its first ":"); its index counts only when
// the text after that ":" is a decimal number that fits 32 bits (a larger
// number is no index, never a wrapped one). 0 when the levels carry no index
// at all (such a path reaches no element) or one index each; else DEV_E_FAIL
// (also for a text holding a NUL, which no name can).
JResult parseMemPath(const QString& path, MemAddress* out);

// Decimal digits only, at most 32 bits: "4294967296" is no index at all, so
// it can never alias index 0 of another element. *out is left alone on false.
bool readIndex(const QStringRef& text, uint32_t* out);

} // namespace Quil
