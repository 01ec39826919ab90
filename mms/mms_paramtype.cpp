// Type codes of parameters and their spellings in layout definitions.
#include "mms/mms_paramtype.h"

#include <cstring>

namespace MMS {

bool paramTypeValid(uint32_t type)
{
    switch (type) {
    case PARAM_INT8:
    case PARAM_INT16:
    case PARAM_INT32:
    case PARAM_UINT8:
    case PARAM_UINT16:
    case PARAM_UINT32:
    case PARAM_BIT:
    case PARAM_STRING:
    case PARAM_FLOAT:
        return true;
    default:
        return false;
    }
}

uint32_t paramTypeFromName(const char* text, uint32_t length)
{
    static const struct {
        const char* name;
        uint32_t code;
    } spellings[] = {
        {"int8_t", PARAM_INT8},
        {"int16_t", PARAM_INT16},
        {"int32_t", PARAM_INT32},
        {"uint8_t", PARAM_UINT8},
        {"uint16_t", PARAM_UINT16},
        {"uint32_t", PARAM_UINT32},
        {"bit", PARAM_BIT},
        {"string", PARAM_STRING},
        {"float", PARAM_FLOAT},
        {"double", PARAM_FLOAT},
    };
    if (!text)
        return 0;
    const void* nul = std::memchr(text, 0, length);
    const size_t textLength = nul ? static_cast<size_t>(static_cast<const char*>(nul) - text) : length;
    for (const auto& s : spellings)
        if (std::strlen(s.name) == textLength && std::memcmp(s.name, text, textLength) == 0)
            return s.code;
    return 0;
}

uint32_t paramTypeWidth(uint32_t type)
{
    switch (type) {
    case PARAM_INT8:
    case PARAM_UINT8:
        return 1;
    case PARAM_INT16:
    case PARAM_UINT16:
        return 2;
    case PARAM_INT32:
    case PARAM_UINT32:
    case PARAM_FLOAT:
        return 4;
    default:
        return 0;
    }
}

} // namespace MMS
