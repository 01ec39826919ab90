// MMS::Base: image sizes, exports and imports, one function or all of them.

#include "mms/mms_field.h"
#include "mms/mms_field_internal.h"

#include "mms/mms_image.h"

#include <cstring>
#include <new>

namespace MMS {

using namespace fieldimpl;

// --- images ---------------------------------------------------------------------------------

template <class Import>
JResult Base::importInto(const char* function, uint32_t flags, const WriterOptions& writer, Import import)
{
    Root* root = nullptr;
    JResult r = select(&root, function, FIELD_ACTIVE);
    if (r < 0)
        return r;
    r = import(root);
    if (r < 0)
        return r;
    if ((r & MMS_CHANGED) && !(flags & IMPORT_NO_TRIGGER))
        fire(root, writer.own, writer.key);
    return MMS_OK;
}

JResult Base::importImageCopy(const uint8_t* image, uint32_t length, const uint8_t* definitionImage,
    uint32_t definitionLength, const char* function, const uint32_t* tags, const uint32_t* indexes, uint32_t count,
    uint32_t flags, const WriterOptions& writer)
{
    return importInto(function, flags, writer, [&](Root* root) {
        return root->importImageCopy(
            image, length, definitionImage, definitionLength, tags, indexes, count, flags, writer);
    });
}

JResult Base::importImageCopyByName(const uint8_t* image, uint32_t length, const uint8_t* definitionImage,
    uint32_t definitionLength, const char* function, const char* path, uint32_t pathLength, const uint32_t* indexes,
    uint32_t count, uint32_t flags, const WriterOptions& writer)
{
    return indexedByName(function, path, pathLength, count, [&](Root*, const uint32_t* tags, uint32_t depth) {
        return importImageCopy(
            image, length, definitionImage, definitionLength, function, tags, indexes, depth, flags, writer);
    });
}

JResult Base::importImage(uint8_t* image, uint32_t length, const uint8_t* definitionImage, uint32_t definitionLength,
    const char* function, const uint32_t* tags, const uint32_t* indexes, uint32_t count, uint32_t flags,
    const WriterOptions& writer)
{
    return importInto(function, flags, writer, [&](Root* root) {
        return root->importImage(image, length, definitionImage, definitionLength, tags, indexes, count, flags, writer);
    });
}

JResult Base::importImageByName(uint8_t* image, uint32_t length, const uint8_t* definitionImage,
    uint32_t definitionLength, const char* function, const char* path, uint32_t pathLength, const uint32_t* indexes,
    uint32_t count, uint32_t flags, const WriterOptions& writer)
{
    return indexedByName(function, path, pathLength, count, [&](Root*, const uint32_t* tags, uint32_t depth) {
        return importImage(
            image, length, definitionImage, definitionLength, function, tags, indexes, depth, flags, writer);
    });
}

JResult Base::importAllCopy(
    const uint8_t* buffer, uint32_t length, const char* functionPath, uint32_t pathLength, const WriterOptions& writer)
{
    const JResult r = requireState(FIELD_ACTIVE);
    if (r < 0)
        return r;
    if (buffer == nullptr || length == 0)
        return MMS_E_ARG;
    std::vector<uint8_t> copy(buffer, buffer + length);
    return importAll(copy.data(), length, functionPath, pathLength, writer);
}

JResult Base::importRecord(Root* root, uint8_t* image, uint32_t length, const WriterOptions& writer)
{
    const JResult r = root->importImage(image, length, nullptr, 0, 0, writer);
    if (r < 0)
        return r;
    afterChange(root, r, writer.own, writer.key);
    return MMS_OK;
}

JResult Base::importAll(
    uint8_t* buffer, uint32_t length, const char* functionPath, uint32_t pathLength, const WriterOptions& writer)
{
    JResult r = requireState(FIELD_ACTIVE);
    if (r < 0)
        return r;
    uint8_t header[MDF_HEADER_SIZE];
    int swapMode = 0;
    if (buffer == nullptr || length < 8 || readMdfHeader(header, &swapMode, buffer, length) < 0)
        return MMS_E_ARG;
    // A header shorter than its fixed fields is no bundle: its records would
    // be read from inside the header.
    if (buffer[3] < MDF_HEADER_SIZE)
        return MMS_E_ARG;
    const uint32_t records = imageLoad32(header + ImageLayout::MDF_COUNT);

    if (functionPath != nullptr && pathLength != 0) {
        char name[MMS_NAME_SIZE];
        firstPathName(functionPath, pathLength, name);
        size_t position = 0;
        uint8_t record[MDR_RECORD_SIZE];
        if (records == 0 || findFunctionRecord(&position, record, buffer, length, records, name, swapMode) < 0)
            return MMS_E_NO_MATCH;
        Root* root = m_roots->find(name);
        if (root == nullptr)
            return kNoFunction;
        return importRecord(
            root, buffer + position + record[3], imageLoad32(record + ImageLayout::MDR_IMAGE_LENGTH), writer);
    }

    // The whole walk is checked before anything is imported, so a corrupt
    // image changes nothing.
    struct Entry {
        uint64_t image;
        uint32_t length;
        char name[MMS_NAME_SIZE];
    };
    std::vector<Entry> entries;
    uint64_t position = buffer[3];
    for (uint32_t n = 0; n < records && position < length; ++n) {
        uint8_t record[MDR_RECORD_SIZE];
        if (position + MDR_RECORD_SIZE > length
            || readMdrRecord(record, buffer + position, length - position, swapMode) < 0
            || std::memcmp(record, "MDR", 3) != 0 || record[3] < MDR_RECORD_SIZE)
            return MMS_E_ARG;
        Entry entry{position + record[3], imageLoad32(record + ImageLayout::MDR_IMAGE_LENGTH), {}};
        if (entry.image + entry.length > length
            || checkImage(buffer + entry.image, entry.length, ImageCheck::Whole) < 0)
            return MMS_E_ARG;
        std::memcpy(entry.name, record + ImageLayout::MDR_NAME, MMS_NAME_SIZE - 1);
        entries.push_back(entry);
        position = entry.image + entry.length;
    }
    // A count that promises more records than the buffer holds: cut short.
    if (entries.size() < records)
        return MMS_E_ARG;
    JResult result = MMS_OK;
    for (const Entry& entry : entries) {
        Root* root = m_roots->find(entry.name);
        r = root ? importRecord(root, buffer + entry.image, entry.length, writer) : kNoFunction;
        result = mms_combine(result, r);
    }
    return result < 0 ? result : MMS_OK;
}

JResult Base::getTotalImageSize(uint32_t* out)
{
    JResult r = requireState(FIELD_ACTIVE);
    if (r < 0)
        return r;
    if (out == nullptr)
        return MMS_E_ARG;
    uint64_t total = 0;
    for (size_t i = 0; i < m_roots->count(); ++i) {
        uint32_t size = 0;
        r = m_roots->find(i)->getImageSize(&size, nullptr, 0);
        if (r < 0)
            return r;
        total += uint64_t{size} + MDR_RECORD_SIZE;
    }
    if (total != 0)
        total += MDF_HEADER_SIZE;
    if (total > UINT32_MAX)
        return MMS_E_ARG;
    *out = static_cast<uint32_t>(total);
    return MMS_OK;
}

JResult Base::exportAll(uint8_t* buffer, uint32_t* outLength, uint32_t size, int order)
{
    return exportAll(buffer, outLength, size, false, order, 0);
}

JResult Base::exportAll(uint8_t* buffer, uint32_t* outLength, uint32_t size, bool clear, int order, uint32_t key)
{
    const JResult r = requireState(FIELD_ACTIVE);
    if (r < 0)
        return r;
    if (buffer == nullptr || outLength == nullptr || size < MDF_HEADER_SIZE || order < IMAGE_ORDER_HOST
        || order > IMAGE_ORDER_BIG)
        return MMS_E_ARG;
    // Marks are cleared function by function: a bundle that cannot be
    // written whole must not take any of them away.
    uint32_t total = 0;
    if (clear && (getTotalImageSize(&total) < 0 || size < total))
        return MMS_E_ARG;
    ExportOptions options;
    options.clear = clear;
    options.key = key;
    return exportAllInto(buffer, outLength, size, order, options);
}

JResult Base::exportAllInto(
    uint8_t* buffer, uint32_t* outLength, uint32_t size, int order, const ExportOptions& options)
{
    uint32_t used = MDF_HEADER_SIZE;
    uint32_t count = 0;
    for (size_t i = 0; i < m_roots->count(); ++i) {
        // A function that does not fit fails the export: a shortened image
        // would lose functions without a word.
        if (size - used < MDR_RECORD_SIZE)
            return MMS_E_ARG;
        uint8_t* record = buffer + used;
        buildMdrRecord(record);
        m_roots->nameAt(i, reinterpret_cast<char*>(record + ImageLayout::MDR_NAME));
        record[ImageLayout::MDR_NAME + MMS_NAME_SIZE - 1] = 0;
        uint32_t length = 0;
        const JResult r = m_roots->find(i)->exportImage(
            record + MDR_RECORD_SIZE, &length, size - used - MDR_RECORD_SIZE, nullptr, nullptr, 0, order, options);
        if (r < 0)
            return r;
        imageStore32(record + ImageLayout::MDR_IMAGE_LENGTH, length);
        swapMdrRecord(record, order);
        used += MDR_RECORD_SIZE + length;
        ++count;
    }
    uint8_t header[MDF_HEADER_SIZE];
    buildMdfHeader(header);
    imageStore32(header + ImageLayout::MDF_COUNT, count);
    setMdfByteOrder(header, order);
    std::memcpy(buffer, header, MDF_HEADER_SIZE);
    *outLength = used;
    return MMS_OK;
}

// The short forms: one element at the path, no marks cleared.
JResult Base::getImageSize(uint32_t* out, const char* function, const uint32_t* tags, uint32_t count)
{
    return getImageSize(out, function, tags, count, false);
}

JResult Base::getImageSizeByName(uint32_t* out, const char* function, const char* path, uint32_t length)
{
    return getImageSizeByName(out, function, path, length, false);
}

JResult Base::exportImage(uint8_t* buffer, uint32_t* outLength, uint32_t size, const char* function,
    const uint32_t* tags, const uint32_t* indexes, uint32_t count, int order)
{
    return exportImage(buffer, outLength, size, function, tags, indexes, count, order, ExportOptions());
}

JResult Base::exportImageByName(uint8_t* buffer, uint32_t* outLength, uint32_t size, const char* function,
    const char* path, uint32_t length, const uint32_t* indexes, uint32_t count, int order)
{
    return exportImageByName(buffer, outLength, size, function, path, length, indexes, count, order, ExportOptions());
}

JResult Base::getImageSize(
    uint32_t* out, const char* function, const uint32_t* tags, uint32_t count, bool wholeCollection)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return r < 0 ? r : root->getImageSize(out, tags, count, wholeCollection);
}

JResult Base::getImageSizeByName(
    uint32_t* out, const char* function, const char* path, uint32_t length, bool wholeCollection)
{
    Root* root = nullptr;
    uint32_t tags[MMS_MAX_DEPTH], depth = 0;
    const JResult r = selectPath(&root, function, path, length, tags, &depth, FIELD_ACTIVE);
    return r < 0 ? r : root->getImageSize(out, tags, depth, wholeCollection);
}

JResult Base::exportImage(uint8_t* buffer, uint32_t* outLength, uint32_t size, const char* function,
    const uint32_t* tags, const uint32_t* indexes, uint32_t count, int order, const ExportOptions& options)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return r < 0 ? r : root->exportImage(buffer, outLength, size, tags, indexes, count, order, options);
}

JResult Base::exportImageByName(uint8_t* buffer, uint32_t* outLength, uint32_t size, const char* function,
    const char* path, uint32_t length, const uint32_t* indexes, uint32_t count, int order, const ExportOptions& options)
{
    return indexedByName(function, path, length, count, [&](Root* root, const uint32_t* tags, uint32_t depth) {
        return root->exportImage(buffer, outLength, size, tags, indexes, depth, order, options);
    });
}

} // namespace MMS
