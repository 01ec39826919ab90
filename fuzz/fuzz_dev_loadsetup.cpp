// Setup blocks from the fuzzer handed to a Brox unit's loadSetup: option data
// and image both arbitrary, or one of them taken from a valid block so the
// other reaches deep. Whatever the block holds, only "Backup" may change.
#include "device/memory/dev_familymem.h"
#include "device/memory/dev_memconstructor.h"
#include "device/memory/dev_mmsarchiver.h"
#include "fuzz/fuzz_check.h"
#include "mms/mms_lockedfield.h"
#include "mmsfield/mmsfield_block.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct Unit {
    Unit()
    {
        Quil::BroxMemConstructor().load(&archiver);
        object = std::make_unique<Quil::BroxMemObject>(0, Quil::MODEL_BROXL_D, nullptr, &archiver);
        object->saveSetup(0, "Brox", &valid);
    }
    // Every function but Backup, as images.
    std::vector<uint8_t> others() const
    {
        std::vector<uint8_t> all;
        for (const char* f : {"Current", "Event", "DevInfo", "DevState", "ListItem", "LogEvent"}) {
            MMS::Field* field = archiver.field(f);
            uint32_t size = 0;
            field->getImageSizeByName(&size, f, nullptr, 0);
            std::vector<uint8_t> image(size);
            uint32_t length = 0;
            field->exportImageByName(image.data(), &length, size, f, nullptr, 0, nullptr, 0, 1);
            all.insert(all.end(), image.begin(), image.begin() + length);
        }
        return all;
    }
    Quil::MMSArchiver archiver;
    std::unique_ptr<Quil::BroxMemObject> object;
    MMSFUNC::MBDFMMSFieldBlock valid;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Unit unit;
    static const std::vector<uint8_t> untouched = unit.others();
    if (size < 3)
        return 0;
    const uint8_t mode = data[0] % 3;
    const size_t split = std::min<size_t>(size - 1, (size_t{data[1]} << 8 | data[2]));
    const uint8_t* rest = data + 3;
    const size_t restSize = size - 3;
    const size_t cut = std::min(split, restSize);

    MMSFUNC::MBDFMMSFieldBlock block;
    block.setTag(MMSFUNC::MBDF_MMS_FIELD_TAG);
    if (mode == 0) { // both parts from the fuzzer
        block.setPart1(rest, static_cast<uint32_t>(cut));
        block.setPart2(rest + cut, static_cast<uint32_t>(restSize - cut));
    } else if (mode == 1) { // a valid record, any image
        block.setPart1(unit.valid.part1Data(), static_cast<uint32_t>(unit.valid.part1Size()));
        block.setPart2(rest, static_cast<uint32_t>(restSize));
    } else { // any record, the valid image
        block.setPart1(rest, static_cast<uint32_t>(restSize));
        block.setPart2(unit.valid.image(), unit.valid.imageLength());
    }
    unit.object->loadSetup(&block);
    fuzzCheck(unit.others() == untouched);
    return 0;
}
