// The "#MMS FIELD" block: the exported image of one function of a memory
// field, carried as part 2 of an MBDF block (part 1 stays empty). Setup files
// hold one such block per function of a unit's memory.
#pragma once

#include "FileCache/fcache_MBDF.h"

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

    // Tag "#MMS FIELD" and a part 2 long enough for an image header; when
    // part 2 is held, it must be one whole image (header, definition records
    // and data inside the stated lengths). So a container neither reads nor
    // writes a block whose image is cut short or broken.
    bool isValid() const override;
    uint32_t tagWidth() const override { return 12; }

    // Stores the image of functionName (null: the field's first function)
    // under subName (cut to 12 bytes). 0; FCACHE_E_ARG (0x80000001) when the
    // field refuses the size or the export, or the image would exceed the
    // block limit; FCACHE_E_MEMORY without memory. A failure leaves the block
    // empty.
    virtual JResult setField(const char* subName, MMS::IField* field, const char* functionName);

    // Part 2: the image as exported, ready for the field's import operations.
    const uint8_t* image() const { return part2Data(); }
    uint32_t imageLength() const { return static_cast<uint32_t>(part2Size()); }

private:
    JResult storeImage(const char* subName, MMS::IField* field, const char* functionName);
};

} // namespace MMSFUNC
