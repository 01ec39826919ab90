// Path validation, error mapping and diagnostics.
#include "pbd/fsw/fsw_internal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace fsw_detail {

bool isValidUtf8(const char* text, size_t length)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    size_t i = 0;
    while (i < length) {
        const unsigned char lead = p[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        size_t extra = 0;
        unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            if (lead == 0xE0)
                low = 0xA0; // overlong
            else if (lead == 0xED)
                high = 0x9F; // surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            if (lead == 0xF0)
                low = 0x90; // overlong
            else if (lead == 0xF4)
                high = 0x8F; // above U+10FFFF
        } else {
            return false;
        }
        if (length - i <= extra)
            return false;
        if (p[i + 1] < low || p[i + 1] > high)
            return false;
        for (size_t k = 2; k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
        }
        i += extra + 1;
    }
    return true;
}

FswResult checkPath(const char* path)
{
    if (!path)
        return FSW_E_ARGUMENT;
    return isValidUtf8(path, std::strlen(path)) ? FSW_OK : FSW_E_PATH;
}

FswResult fromErrno(int error)
{
    switch (error) {
    case 0:
        return FSW_OK;
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
        return FSW_E_NOT_FOUND;
    case EEXIST:
        return FSW_E_EXISTS;
    case EBADF:
        return FSW_E_HANDLE;
    case EBUSY:
        return FSW_E_PATH;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
        return FSW_E_ACCESS;
    case EMFILE:
    case ENFILE:
        return FSW_E_TOO_MANY_OPEN;
    case ENOMEM:
        return FSW_E_NO_MEMORY;
    default:
        return FSW_E_OTHER;
    }
}

} // namespace fsw_detail
