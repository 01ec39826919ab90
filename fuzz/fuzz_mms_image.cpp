// Image import path on untrusted bytes: header, split, byte-order conversion
// (a refused image must leave the buffer as it was), and the walk over
// "MDF"/"MDR" records, which must end however the records are made.

#include "mms/mms_image.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace MMS;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // An exact-size heap block, so any read past the end is caught.
    std::vector<uint8_t> image(data, data + size);
    CollectionTagInfo tag;

    uint8_t header[IMAGE_HEADER_SIZE];
    int mode = 0;
    readImageHeader(header, &mode, image.data(), image.size());

    bool same = false;
    uint8_t *part1 = nullptr, *part2 = nullptr;
    uint32_t length1 = 0, length2 = 0;
    if (splitImage(&tag, &same, &part1, &length1, &part2, &length2, &mode, image.data(), image.size()) >= 0) {
        const std::vector<uint8_t> before = image;
        for (int swapMode : {mode, 1, 2}) {
            if (convertForImport(part1, length1, part2, length2, swapMode) < 0 && image != before)
                abort();
            image = before;
        }
    }
    // Records taken as a definition block on their own.
    if (size >= 8) {
        std::vector<uint8_t> block(image.begin() + 4, image.end());
        std::vector<uint8_t> dataPart(256);
        const std::vector<uint8_t> before = block;
        if (convertForExport(block.data(), block.size(), dataPart.data(), dataPart.size(), 2) < 0 && block != before)
            abort();
        if (convertForExport(block.data(), block.size(), dataPart.data(), dataPart.size(), 1) < 0 && block != before)
            abort();
    }

    size_t position = 0;
    uint8_t record[MDR_RECORD_SIZE];
    findFunctionRecord(&position, record, data, size, 0, "Mixer", 255);
    findFunctionRecord(&position, record, image.data(), image.size(), 3, "", 0);
    uint8_t mdf[MDF_HEADER_SIZE];
    readMdfHeader(mdf, &mode, image.data(), image.size());
    return 0;
}
