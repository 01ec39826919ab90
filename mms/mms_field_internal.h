// Helpers shared by the files of MMS::Base. Internal to the memory library.
#pragma once

#include "mms/mms_field.h"

#include <cstring>

namespace MMS {
namespace fieldimpl {

constexpr JResult kNoFunction = MMS_E_PATH;

// The first element of a function path ("/name/..." or "name/...").
inline void firstPathName(const char* path, uint32_t length, char* out24)
{
    std::memset(out24, 0, MMS_NAME_SIZE);
    uint32_t at = 0;
    if (length > 0 && path[0] == '/')
        at = 1;
    for (uint32_t n = 0; at < length && path[at] != '/' && path[at] != 0 && n < MMS_NAME_SIZE - 1; ++at, ++n)
        out24[n] = path[at];
}

// A change or import mark of a selected function as a byte (1 set, 0 clear);
// query runs only once the selection succeeded.
template <class Query> JResult readMark(JResult selected, uint8_t* out, Query query)
{
    if (selected < 0)
        return selected;
    if (out == nullptr)
        return MMS_E_ARG;
    bool set = false;
    const JResult r = query(&set);
    *out = set ? 1 : 0;
    return r;
}

} // namespace fieldimpl

template <class TagForm>
JResult Base::indexedByName(
    const char* function, const char* path, uint32_t length, uint32_t indexCount, TagForm tagForm) const
{
    Root* root = nullptr;
    uint32_t tags[MMS_MAX_DEPTH], depth = 0;
    const JResult r = selectPath(&root, function, path, length, tags, &depth, FIELD_ACTIVE);
    if (r < 0)
        return r;
    if (indexCount < depth)
        return MMS_E_PATH;
    return tagForm(root, tags, depth);
}
} // namespace MMS
