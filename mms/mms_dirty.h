// Where element writes report their changes. A holder is made on the stack
// for one changing call; the tree calls it with change-bit positions.
#pragma once

#include <cstdint>

namespace MMS {

class IDirtyFlagHolder {
public:
    virtual ~IDirtyFlagHolder() = default;
    // A value changed: bit n of the pages that watch this call.
    virtual void markChange(uint32_t bit) = 0;
    // Import marks, per collection element.
    virtual void markImportFlag(uint32_t bit) = 0;
    virtual void markImportSearch(uint32_t bit) = 0;
};

} // namespace MMS
