// The layout loader on arbitrary bytes: Expat reads the XML, and our
// handlers must neither crash nor loop whatever elements, attributes and
// values arrive. What gets defined is then walked once.

#include "mms/mms_field.h"
#include "mms/mms_loader.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

using namespace MMS;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > 65536)
        return 0;
    // An exact-size heap block, so any read past the end is caught.
    std::vector<char> text(data, data + size);
    Base field(nullptr);
    const uint32_t mode = size % 4 == 0 ? LOAD_LAYOUT : LOAD_ACTIVATE;
    const JResult r = mms_loadDefinitionFromMemory(
        &field, nullptr, 0, "fz", 3, text.data(), static_cast<uint32_t>(text.size()), mode);
    if (r != 0 && (static_cast<uint32_t>(r) & 0xFFFF0000u) != 0x80010000u)
        abort(); // only the loader's own codes
    uint8_t state = 0;
    field.getState(&state);
    if (state != FIELD_ACTIVE)
        return 0;
    uint32_t elements = 0;
    if (field.getElementCount(&elements, "fz") < 0)
        return 0;
    uint32_t tags[MMS_MAX_DEPTH], indexes[MMS_MAX_DEPTH], count = 0;
    uint32_t prevTags[MMS_MAX_DEPTH], prevIndexes[MMS_MAX_DEPTH], prevCount = 0;
    for (uint32_t n = 0; n <= elements; ++n) {
        if (field.getNextElement(tags, indexes, &count, MMS_MAX_DEPTH, "fz", prevTags, prevIndexes, prevCount) != 0)
            return 0;
        for (uint32_t i = 0; i < count; ++i) {
            prevTags[i] = tags[i];
            prevIndexes[i] = indexes[i];
        }
        prevCount = count;
    }
    abort(); // the walk must end after the last element
}
