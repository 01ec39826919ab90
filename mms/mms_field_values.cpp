// MMS::Base: value writes, conversions, marks and collection handlers.

#include "mms/mms_field.h"
#include "mms/mms_field_internal.h"

#include "mms/mms_image.h"

#include <cstring>
#include <new>

namespace MMS {

using namespace fieldimpl;

// --- values ------------------------------------------------------------------------------

JResult Base::setValue(const JLIB::JVariant& value, const char* function, const uint32_t* tags, const uint32_t* indexes,
    uint32_t count, const WriterOptions& writer)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    if (r < 0)
        return r;
    return afterChange(root, root->setValue(value, tags, indexes, count, writer), writer.own, writer.key);
}

JResult Base::setValueByName(const JLIB::JVariant& value, const char* function, const char* path, uint32_t length,
    const uint32_t* indexes, uint32_t count, const WriterOptions& writer)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    if (r < 0)
        return r;
    return afterChange(root, root->setValueByName(value, path, length, indexes, count, writer), writer.own, writer.key);
}

JResult Base::setValues(const JLIB::JVariantArray& values, const char* function, const uint32_t* tags,
    const uint32_t* first, const uint32_t* last, uint32_t count, bool repeat, const WriterOptions& writer)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    if (r < 0)
        return r;
    return afterChange(root, root->setValues(values, tags, first, last, count, repeat, writer), writer.own, writer.key);
}

JResult Base::setValuesByName(const JLIB::JVariantArray& values, const char* function, const char* path,
    uint32_t length, const uint32_t* first, const uint32_t* last, uint32_t count, bool repeat,
    const WriterOptions& writer)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    if (r < 0)
        return r;
    return afterChange(
        root, root->setValuesByName(values, path, length, first, last, count, repeat, writer), writer.own, writer.key);
}

JResult Base::resetToDefaults(const char* function, uint8_t source, bool own, uint32_t key)
{
    Root* root = nullptr;
    JResult r = select(&root, function, FIELD_ACTIVE);
    if (r < 0)
        return r;
    r = root->resetToDefaults(source, own, key);
    // Defaults that could not be written are a warning here.
    if (r == MMS_E_UNDEFINED)
        return MMS_OK;
    return afterChange(root, r, own, key);
}

JResult Base::convertValue(
    JLIB::JVariant* value, const char* function, const uint32_t* tags, uint32_t count, uint32_t conv)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return r < 0 ? r : root->convertValue(value, tags, count, conv);
}

JResult Base::convertValueByName(
    JLIB::JVariant* value, const char* function, const char* path, uint32_t length, uint32_t conv)
{
    Root* root = nullptr;
    uint32_t tags[MMS_MAX_DEPTH], depth = 0;
    const JResult r = selectPath(&root, function, path, length, tags, &depth, FIELD_ACTIVE);
    return r < 0 ? r : root->convertValue(value, tags, depth, conv);
}

JResult Base::isChanged(uint8_t* out, const char* function, const uint32_t* tags, const uint32_t* indexes,
    uint32_t count, bool clear, uint32_t key)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return readMark(r, out, [&](bool* set) { return root->isChanged(set, tags, indexes, count, clear, key); });
}

JResult Base::isChangedByName(uint8_t* out, const char* function, const char* path, uint32_t length,
    const uint32_t* indexes, uint32_t count, bool clear, uint32_t key)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return readMark(
        r, out, [&](bool* set) { return root->isChangedByName(set, path, length, indexes, count, clear, key); });
}

JResult Base::isImportMarked(uint8_t* out, const char* function, const uint32_t* tags, const uint32_t* indexes,
    uint32_t count, bool clear, uint32_t key)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return readMark(r, out, [&](bool* set) { return root->isImportMarked(set, tags, indexes, count, clear, key); });
}

JResult Base::isImportMarkedByName(uint8_t* out, const char* function, const char* path, uint32_t length,
    const uint32_t* indexes, uint32_t count, bool clear, uint32_t key)
{
    return indexedByName(function, path, length, count, [&](Root*, const uint32_t* tags, uint32_t depth) {
        return isImportMarked(out, function, tags, indexes, depth, clear, key);
    });
}

// --- collection handlers --------------------------------------------------------------------

JResult Base::installCollectionHandler(
    const char* function, const uint32_t* tags, uint32_t count, ICollectionHandler* handler)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_DEFINING);
    return r < 0 ? r : root->installCollectionHandler(tags, count, handler);
}

JResult Base::installCollectionHandlerByName(
    const char* function, const char* path, uint32_t length, ICollectionHandler* handler)
{
    Root* root = nullptr;
    uint32_t tags[MMS_MAX_DEPTH], depth = 0;
    const JResult r = selectPath(&root, function, path, length, tags, &depth, FIELD_DEFINING);
    return r < 0 ? r : root->installCollectionHandler(tags, depth, handler);
}

JResult Base::removeCollectionHandler(const char* function, const uint32_t* tags, uint32_t count)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_DEFINING);
    return r < 0 ? r : root->removeCollectionHandler(tags, count);
}

JResult Base::removeCollectionHandlerByName(const char* function, const char* path, uint32_t length)
{
    Root* root = nullptr;
    uint32_t tags[MMS_MAX_DEPTH], depth = 0;
    const JResult r = selectPath(&root, function, path, length, tags, &depth, FIELD_DEFINING);
    return r < 0 ? r : root->removeCollectionHandler(tags, depth);
}

JResult Base::hasCollectionHandler(bool* out, const char* function, const uint32_t* tags, uint32_t count)
{
    if (out == nullptr)
        return MMS_E_ARG;
    ICollectionHandler* handler = nullptr;
    const JResult r = getCollectionHandler(&handler, function, tags, count);
    *out = r >= 0 && handler != nullptr;
    return r;
}

JResult Base::hasCollectionHandlerByName(bool* out, const char* function, const char* path, uint32_t length)
{
    if (out == nullptr)
        return MMS_E_ARG;
    ICollectionHandler* handler = nullptr;
    const JResult r = getCollectionHandlerByName(&handler, function, path, length);
    *out = r >= 0 && handler != nullptr;
    return r;
}

JResult Base::getCollectionHandler(ICollectionHandler** out, const char* function, const uint32_t* tags, uint32_t count)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_DEFINING, FIELD_ACTIVE);
    return r < 0 ? r : root->getCollectionHandler(out, tags, count);
}

JResult Base::getCollectionHandlerByName(
    ICollectionHandler** out, const char* function, const char* path, uint32_t length)
{
    Root* root = nullptr;
    uint32_t tags[MMS_MAX_DEPTH], depth = 0;
    const JResult r = selectPath(&root, function, path, length, tags, &depth, FIELD_DEFINING, FIELD_ACTIVE);
    return r < 0 ? r : root->getCollectionHandler(out, tags, depth);
}

} // namespace MMS
