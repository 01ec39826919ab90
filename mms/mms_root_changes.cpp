// Root: change queries over listener keys' pages and import marks.
#include "mms/mms_root.h"
#include "mms/mms_root_internal.h"

#include "pbd/jlib/jvariant.h"

#include <cstring>
#include <new>

namespace MMS {

using JLIB::JVariant;
using JLIB::JVariantArray;
using namespace rootimpl;

// --- Change queries ------------------------------------------------------------------

JResult Root::isChanged(
    bool* out, const uint32_t* tags, const uint32_t* indexes, uint32_t count, bool clear, uint32_t key)
{
    return whenActive(out, [&] {
        uint8_t* page = m_tasks.page(key);
        if (page == nullptr)
            return MMS_E_ARG;
        return m_root->isChanged(tags, indexes, count, page, clear, out);
    });
}

JResult Root::isChangedByName(
    bool* out, const char* path, uint32_t length, const uint32_t* indexes, uint32_t count, bool clear, uint32_t key)
{
    return byName(ROOT_ACTIVE, path, length, count,
        [&](const uint32_t* tags, uint32_t depth) { return isChanged(out, tags, indexes, depth, clear, key); });
}

JResult Root::isImportMarked(
    bool* out, const uint32_t* tags, const uint32_t* indexes, uint32_t count, bool clear, uint32_t key)
{
    return whenActive(out, [&] {
        TreePosition position;
        const JResult r = m_root->locate(tags, indexes, count, &position);
        if (r < 0)
            return r;
        if (position.parameter != nullptr)
            return MMS_E_PATH;
        uint8_t* flags = m_tasks.importFlags(key);
        if (flags == nullptr)
            return m_tasks.find(key) == 0 ? MMS_E_ARG : (*out = false, MMS_OK);
        *out = mms_testBit(flags, position.collectionElement);
        if (clear && *out)
            return mms_clearBit(flags, position.collectionElement);
        return MMS_OK;
    });
}

JResult Root::hasImportMarks(bool* out, uint32_t key) const
{
    return whenActive(out, [&] {
        if (m_tasks.find(key) == 0)
            return MMS_E_ARG;
        const uint8_t* search = m_tasks.importSearch(key);
        const uint8_t* flags = m_tasks.importFlags(key);
        *out = mms_testBit(search, 0) || mms_testBit(flags, 0);
        return MMS_OK;
    });
}

JResult Root::getNextChanged(uint32_t* outTags, uint32_t* outIndexes, uint32_t* outCount, uint32_t max,
    const uint32_t* prevTags, const uint32_t* prevIndexes, uint32_t prevCount, bool clear, uint32_t key)
{
    const JResult r = requireState(ROOT_ACTIVE);
    if (r < 0)
        return r;
    if (m_root == nullptr)
        return MMS_E_INNER;
    uint8_t* page = m_tasks.page(key);
    if (page == nullptr)
        return MMS_E_ARG;
    return m_root->findNext(page, 0, prevTags, prevIndexes, prevCount, clear, outTags, outIndexes, max, outCount);
}

JResult Root::getNextChangedByName(char* outPath, uint32_t size, uint32_t* outIndexes, uint32_t* outCount, uint32_t max,
    const char* prevPath, uint32_t prevLength, const uint32_t* prevIndexes, uint32_t prevCount, bool clear,
    uint32_t key, bool leadingSlash)
{
    return walkByName(outPath, size, outIndexes, outCount, max, prevPath, prevLength, prevCount, leadingSlash,
        [&](uint32_t* tags, uint32_t levels, const uint32_t* prevTags, uint32_t depth) {
            return getNextChanged(tags, outIndexes, outCount, levels, prevTags, prevIndexes, depth, clear, key);
        });
}

JResult Root::getNextElement(uint32_t* outTags, uint32_t* outIndexes, uint32_t* outCount, uint32_t max,
    const uint32_t* prevTags, const uint32_t* prevIndexes, uint32_t prevCount) const
{
    const JResult r = requireState(ROOT_ACTIVE);
    if (r < 0)
        return r;
    if (max < prevCount)
        return MMS_E_ARG;
    return m_root->findNext(nullptr, 0, prevTags, prevIndexes, prevCount, false, outTags, outIndexes, max, outCount);
}

JResult Root::getNextMarked(uint32_t* outTags, uint32_t* outIndexes, uint32_t* outCount, uint32_t max,
    const uint32_t* prevTags, const uint32_t* prevIndexes, uint32_t prevCount, uint8_t* bits, uint32_t bitOffset,
    bool clear) const
{
    const JResult r = requireState(ROOT_ACTIVE);
    if (r < 0)
        return r;
    if (bits == nullptr)
        return MMS_E_ARG;
    return m_root->findNext(
        bits, bitOffset, prevTags, prevIndexes, prevCount, clear, outTags, outIndexes, max, outCount);
}

JResult Root::convertValueByName(JVariant* value, const char* path, uint32_t length, uint32_t conv) const
{
    return byName(ROOT_ACTIVE, path, length, kAnyDepth,
        [&](const uint32_t* tags, uint32_t depth) { return convertValue(value, tags, depth, conv); });
}

JResult Root::getValueRangeByName(JVariantArray* out, const char* path, uint32_t length, const uint32_t* first,
    const uint32_t* last, uint32_t count) const
{
    return byName(ROOT_ACTIVE, path, length, count,
        [&](const uint32_t* tags, uint32_t depth) { return getValueRange(out, tags, first, last, depth); });
}

JResult Root::isImportMarkedByName(
    bool* out, const char* path, uint32_t length, const uint32_t* indexes, uint32_t count, bool clear, uint32_t key)
{
    return byName(ROOT_ACTIVE, path, length, count,
        [&](const uint32_t* tags, uint32_t depth) { return isImportMarked(out, tags, indexes, depth, clear, key); });
}

JResult Root::getNextElementByName(char* outPath, uint32_t size, uint32_t* outIndexes, uint32_t* outCount, uint32_t max,
    const char* prevPath, uint32_t prevLength, const uint32_t* prevIndexes, uint32_t prevCount, bool leadingSlash) const
{
    return walkByName(outPath, size, outIndexes, outCount, max, prevPath, prevLength, prevCount, leadingSlash,
        [&](uint32_t* tags, uint32_t levels, const uint32_t* prevTags, uint32_t depth) {
            return getNextElement(tags, outIndexes, outCount, levels, prevTags, prevIndexes, depth);
        });
}

JResult Root::getNextMarkedByName(char* outPath, uint32_t size, uint32_t* outIndexes, uint32_t* outCount, uint32_t max,
    const char* prevPath, uint32_t prevLength, const uint32_t* prevIndexes, uint32_t prevCount, uint8_t* bits,
    uint32_t bitOffset, bool clear, bool leadingSlash) const
{
    if (bits == nullptr)
        return MMS_E_ARG;
    return walkByName(outPath, size, outIndexes, outCount, max, prevPath, prevLength, prevCount, leadingSlash,
        [&](uint32_t* tags, uint32_t levels, const uint32_t* prevTags, uint32_t depth) {
            return getNextMarked(
                tags, outIndexes, outCount, levels, prevTags, prevIndexes, depth, bits, bitOffset, clear);
        });
}

} // namespace MMS
