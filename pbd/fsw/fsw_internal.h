// Helpers shared by the file-system wrapper's source files.
#pragma once

#include "pbd/fsw/fsw.h"

#include <cstddef>
#include <cstdint>

namespace fsw_detail {

// Sizes and positions stay below 4 GiB.
constexpr uint64_t kLimit = 0x100000000ull;

// FSW_OK for a non-null, strictly valid UTF-8 path; FSW_E_ARGUMENT for null,
// FSW_E_PATH for invalid UTF-8.
FswResult checkPath(const char* path);
// True when the bytes are strictly valid UTF-8 (no overlong forms,
// surrogates or code points above U+10FFFF).
bool isValidUtf8(const char* text, size_t length);
// The wrapper's result for a system error number.
FswResult fromErrno(int error);

} // namespace fsw_detail
