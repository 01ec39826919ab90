#include "mmsfield/mmsfield_block.h"

#include "mms/mms_field.h"
#include "mms/mms_image.h"

#include <mutex>

namespace MMSFUNC {

using namespace FILECACHE;

void mbdf_registerMMSFieldBlockFactory()
{
    mbdf_registerBaseFactories();
    static MBDFBlockFactory<MBDFMMSFieldBlock> factory;
    static std::once_flag once;
    std::call_once(once, [] { mbdf_registerFactory(MBDF_MMS_FIELD_TAG, &factory); });
}

bool MBDFMMSFieldBlock::isValid() const
{
    return tag() == MBDF_MMS_FIELD_TAG && part2Size() != 0;
}

JResult MBDFMMSFieldBlock::checkImage() const
{
    if (!isValid() || !part2Data())
        return FCACHE_E_DATA;
    return MMS::checkImage(part2Data(), part2Size(), MMS::ImageCheck::Whole) < 0 ? FCACHE_E_DATA : FCACHE_OK;
}

JResult MBDFMMSFieldBlock::setField(const char* subName, MMS::IField* field, const char* functionName)
{
    clear();
    const JResult result = storeImage(subName, field, functionName);
    if (result < 0)
        clear();
    return result;
}

JResult MBDFMMSFieldBlock::storeImage(const char* subName, MMS::IField* field, const char* functionName)
{
    if (!field || setTag(MBDF_MMS_FIELD_TAG) < 0 || setSubName(subName) < 0)
        return FCACHE_E_ARG;
    uint32_t size = 0;
    if (field->getImageSizeByName(&size, functionName, nullptr, 0, true) < 0 || size == 0)
        return FCACHE_E_ARG;
    // An image the reader would refuse is not taken at all.
    if (size > MBDF_BLOCK_LIMIT)
        return FCACHE_E_ARG;
    MBDFPart buffer = mbdf_allocPart(size);
    if (!buffer)
        return FCACHE_E_MEMORY;
    uint32_t length = 0;
    MMS::ExportOptions whole;
    whole.wholeCollection = true;
    if (field->exportImageByName(
            buffer.get(), &length, size, functionName, nullptr, 0, nullptr, 0, MBDF_MMS_FIELD_ORDER, whole)
            < 0
        || length == 0 || length > size)
        return FCACHE_E_ARG;
    if (setPart2(buffer.get(), length) < 0 || checkImage() < 0)
        return FCACHE_E_ARG;
    return FCACHE_OK;
}

} // namespace MMSFUNC
