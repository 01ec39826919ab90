// The "#MMS FIELD" block: the exported image of one function of a memory
// field, carried as part 2 of an MBDF block (part 1 stays empty). Setup files
// hold one such block per function of a unit's memory.
#pragma once

#include "pbd/FileCache/fcache_MBDF.h"

#include <cstdint>

namespace MMS {
class IField;
}

namespace MMSFUNC {

constexpr const char* MBDF_MMS_FIELD_TAG = "#MMS FIELD";
// Byte order of the images this block writes: little-endian ("LIT").
constexpr int MBDF_MMS_FIELD_ORDER = 1;

// Registers "#MMS FIELD" (and the base factories) once per process. A
// container that reads setup files needs it first; without it the blocks are
// read as plain blocks with the same bytes.
void mbdf_registerMMSFieldBlockFactory();

class MBDFMMSFieldBlock : public FILECACHE::MBDFAbstractBlock {
public:
    MBDFMMSFieldBlock() = default;

    // Tag exactly "#MMS FIELD" and a part 2 that is not empty. The image
    // inside is not judged here: a setup file with one damaged function
    // still opens, and that block alone fails checkImage and the import.
    bool isValid() const override;
    uint32_t tagWidth() const override { return 12; }

    // Stores the image of functionName (null: the field's first function)
    // under subName (cut to 12 bytes): the whole function, no change marks
    // cleared, little-endian. 0; FCACHE_E_ARG when the field refuses the size
    // or the export, or the image would exceed the block limit;
    // FCACHE_E_MEMORY without memory. A failure leaves the block empty.
    virtual JResult setField(const char* subName, MMS::IField* field, const char* functionName);

    // Whether part 2 holds one whole image (header, definition records and
    // data inside the stated lengths): FCACHE_OK, or FCACHE_E_DATA for a
    // damaged image or a part 2 not read. Callers check each block before
    // importing it, so they know which function of a setup file is lost.
    JResult checkImage() const;

    // Part 2: the image as exported, ready for the field's import operations
    // (which refuse a damaged one with nothing changed).
    const uint8_t* image() const { return part2Data(); }
    uint32_t imageLength() const { return static_cast<uint32_t>(part2Size()); }

private:
    JResult storeImage(const char* subName, MMS::IField* field, const char* functionName);
};

} // namespace MMSFUNC
