// MMS::Base: function information, counts, reads, walks and node attributes.

#include "mms/mms_field.h"
#include "mms/mms_field_internal.h"

#include "mms/mms_image.h"

#include <cstring>
#include <new>

namespace MMS {

using namespace fieldimpl;

// --- function information and counts -----------------------------------------------------

JResult Base::getFunctionCount(uint32_t* out)
{
    const JResult r = requireState(FIELD_DEFINING, FIELD_ACTIVE);
    if (r < 0)
        return r;
    if (out == nullptr)
        return MMS_E_ARG;
    *out = static_cast<uint32_t>(m_roots->count());
    return MMS_OK;
}

JResult Base::listFunctions(char* out, uint32_t count)
{
    const JResult r = requireState(FIELD_DEFINING, FIELD_ACTIVE);
    if (r < 0)
        return r;
    // A list that does not fit is refused rather than shortened.
    if (out == nullptr || count < m_roots->count())
        return MMS_E_ARG;
    for (size_t i = 0; i < m_roots->count(); ++i)
        m_roots->nameAt(i, out + i * MMS_NAME_SIZE);
    return MMS_OK;
}

#define MMS_BASE_ROOT_QUERY(name, Out)                                                                                 \
    JResult Base::name(Out out, const char* function)                                                                  \
    {                                                                                                                  \
        Root* root = nullptr;                                                                                          \
        const JResult r = select(&root, function, FIELD_ACTIVE);                                                       \
        return r < 0 ? r : root->name(out);                                                                            \
    }

MMS_BASE_ROOT_QUERY(getCollectionNodeCount, uint32_t*)
MMS_BASE_ROOT_QUERY(getTaskItemBase, const uint8_t**)
MMS_BASE_ROOT_QUERY(getParameterCount, uint32_t*)
MMS_BASE_ROOT_QUERY(getElementCount, uint32_t*)

JResult Base::getFunctionName(char* out24, const char* function)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return r < 0 ? r : root->getFunctionName(out24);
}

JResult Base::getFunctionAlias(char* out12, const char* function)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return r < 0 ? r : root->getFunctionAlias(out12);
}

JResult Base::getNameTableSize(uint32_t* out, const char* function, bool flag)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return r < 0 ? r : root->getNameTableSize(out, flag);
}

JResult Base::getNamePathSize(uint32_t* out, const char* function, const uint32_t* tags, uint32_t count)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return r < 0 ? r : root->getNamePathSize(out, tags, count);
}

JResult Base::hasImportMarks(bool* out, const char* function, uint32_t key)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return r < 0 ? r : root->hasImportMarks(out, key);
}

// --- reads and walks ------------------------------------------------------------------------

JResult Base::getValue(JLIB::JVariant* out, uint8_t* outSource, const char* function, const uint32_t* tags,
    const uint32_t* indexes, uint32_t count, bool clear, uint32_t key)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return r < 0 ? r : root->getValue(out, outSource, tags, indexes, count, clear, key);
}

JResult Base::getValueByName(JLIB::JVariant* out, uint8_t* outSource, const char* function, const char* path,
    uint32_t length, const uint32_t* indexes, uint32_t count, bool clear, uint32_t key)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return r < 0 ? r : root->getValueByName(out, outSource, path, length, indexes, count, clear, key);
}

JResult Base::getValueRange(JLIB::JVariantArray* out, const char* function, const uint32_t* tags, const uint32_t* first,
    const uint32_t* last, uint32_t count)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return r < 0 ? r : root->getValueRange(out, tags, first, last, count);
}

JResult Base::getValueRangeByName(JLIB::JVariantArray* out, const char* function, const char* path, uint32_t length,
    const uint32_t* first, const uint32_t* last, uint32_t count)
{
    return indexedByName(function, path, length, count, [&](Root* root, const uint32_t* tags, uint32_t depth) {
        return root->getValueRange(out, tags, first, last, depth);
    });
}

JResult Base::getNextChanged(uint32_t* outTags, uint32_t* outIndexes, uint32_t* outCount, uint32_t max,
    const char* function, const uint32_t* prevTags, const uint32_t* prevIndexes, uint32_t prevCount, bool clear,
    uint32_t key)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return r < 0
        ? r
        : root->getNextChanged(outTags, outIndexes, outCount, max, prevTags, prevIndexes, prevCount, clear, key);
}

JResult Base::getNextChangedByName(char* outPath, uint32_t size, uint32_t* outIndexes, uint32_t* outCount, uint32_t max,
    const char* function, const char* prevPath, uint32_t prevLength, const uint32_t* prevIndexes, uint32_t prevCount,
    bool clear, uint32_t key, bool leadingSlash)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return r < 0 ? r
                 : root->getNextChangedByName(outPath, size, outIndexes, outCount, max, prevPath, prevLength,
                     prevIndexes, prevCount, clear, key, leadingSlash);
}

JResult Base::getNextElement(uint32_t* outTags, uint32_t* outIndexes, uint32_t* outCount, uint32_t max,
    const char* function, const uint32_t* prevTags, const uint32_t* prevIndexes, uint32_t prevCount)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return r < 0 ? r : root->getNextElement(outTags, outIndexes, outCount, max, prevTags, prevIndexes, prevCount);
}

JResult Base::getNextElementByName(char* outPath, uint32_t size, uint32_t* outIndexes, uint32_t* outCount, uint32_t max,
    const char* function, const char* prevPath, uint32_t prevLength, const uint32_t* prevIndexes, uint32_t prevCount)
{
    return getNextMarkedByName(outPath, size, outIndexes, outCount, max, function, prevPath, prevLength, prevIndexes,
        prevCount, nullptr, 0, false);
}

JResult Base::getNextMarked(uint32_t* outTags, uint32_t* outIndexes, uint32_t* outCount, uint32_t max,
    const char* function, const uint32_t* prevTags, const uint32_t* prevIndexes, uint32_t prevCount, uint8_t* bits,
    uint32_t bitOffset, bool clear)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return r < 0 ? r
                 : root->getNextMarked(
                     outTags, outIndexes, outCount, max, prevTags, prevIndexes, prevCount, bits, bitOffset, clear);
}

// The name-path walk: without bits every element counts (getNextElementByName).
JResult Base::getNextMarkedByName(char* outPath, uint32_t size, uint32_t* outIndexes, uint32_t* outCount, uint32_t max,
    const char* function, const char* prevPath, uint32_t prevLength, const uint32_t* prevIndexes, uint32_t prevCount,
    uint8_t* bits, uint32_t bitOffset, bool clear)
{
    Root* root = nullptr;
    JResult r = select(&root, function, FIELD_ACTIVE);
    if (r < 0)
        return r;
    if (outPath == nullptr || outCount == nullptr)
        return MMS_E_ARG;
    uint32_t prevTags[MMS_MAX_DEPTH], depth = 0;
    if (prevCount != 0) {
        r = resolve(root, prevPath, prevLength, prevTags, &depth);
        if (r < 0)
            return r;
        if (prevCount < depth)
            return MMS_E_PATH;
    }
    uint32_t tags[MMS_MAX_DEPTH], count = 0;
    const uint32_t levels = max < MMS_MAX_DEPTH ? max : MMS_MAX_DEPTH;
    r = bits
        ? root->getNextMarked(tags, outIndexes, &count, levels, prevTags, prevIndexes, depth, bits, bitOffset, clear)
        : root->getNextElement(tags, outIndexes, &count, levels, prevTags, prevIndexes, depth);
    if (r < 0)
        return r;
    *outCount = count;
    return root->buildNamePath(outPath, size, tags, count, false);
}

// --- node and parameter attributes ------------------------------------------------------------

#define MMS_BASE_NODE_GETTER(name, Out)                                                                                \
    JResult Base::name(Out out, const char* function, const uint32_t* tags, uint32_t count)                            \
    {                                                                                                                  \
        Root* root = nullptr;                                                                                          \
        const JResult r = select(&root, function, FIELD_ACTIVE);                                                       \
        return r < 0 ? r : root->name(out, tags, count);                                                               \
    }                                                                                                                  \
    JResult Base::name##ByName(Out out, const char* function, const char* path, uint32_t length)                       \
    {                                                                                                                  \
        Root* root = nullptr;                                                                                          \
        uint32_t tags[MMS_MAX_DEPTH], depth = 0;                                                                       \
        const JResult r = selectPath(&root, function, path, length, tags, &depth, FIELD_ACTIVE);                       \
        return r < 0 ? r : root->name(out, tags, depth);                                                               \
    }

MMS_BASE_NODE_GETTER(getChildCount, uint32_t*)
MMS_BASE_NODE_GETTER(getArraySize, uint32_t*)
MMS_BASE_NODE_GETTER(isParameter, bool*)
MMS_BASE_NODE_GETTER(getLeafCount, uint32_t*)
MMS_BASE_NODE_GETTER(getBitCount, uint32_t*)
MMS_BASE_NODE_GETTER(getElementSize, uint32_t*)
MMS_BASE_NODE_GETTER(getType, uint32_t*)
MMS_BASE_NODE_GETTER(getMinimum, JLIB::JVariant*)
MMS_BASE_NODE_GETTER(getMaximum, JLIB::JVariant*)
MMS_BASE_NODE_GETTER(getDefault, JLIB::JVariant*)
MMS_BASE_NODE_GETTER(getStep, JLIB::JVariant*)
MMS_BASE_NODE_GETTER(getNominal, JLIB::JVariant*)
MMS_BASE_NODE_GETTER(getUnitLength, uint32_t*)
MMS_BASE_NODE_GETTER(getUnit, char*)
MMS_BASE_NODE_GETTER(getScaling, uint32_t*)
MMS_BASE_NODE_GETTER(getKind, uint32_t*)

JResult Base::getNodeName(char* out24, const char* function, const uint32_t* tags, uint32_t count)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return r < 0 ? r : root->getNodeName(out24, tags, count);
}

JResult Base::getChildNameByName(char* out24, const char* function, const char* path, uint32_t length, uint32_t child)
{
    Root* root = nullptr;
    uint32_t tags[MMS_MAX_DEPTH], depth = 0;
    JResult r = selectPath(&root, function, path, length, tags, &depth, FIELD_ACTIVE);
    if (r < 0)
        return r;
    uint32_t children = 0;
    r = root->getChildCount(&children, tags, depth);
    if (r < 0)
        return r;
    // Children are numbered as their tags: parameters first, then collections.
    if (child >= children || depth >= MMS_MAX_DEPTH)
        return MMS_E_PATH;
    tags[depth] = child;
    return root->getNodeName(out24, tags, depth + 1);
}

JResult Base::getAttributes(ParameterAttributes* out, const char* function, const uint32_t* tags, uint32_t count)
{
    Root* root = nullptr;
    JResult r = select(&root, function, FIELD_ACTIVE);
    if (r < 0)
        return r;
    if (out == nullptr)
        return MMS_E_ARG;
    ParameterAttributes attributes;
    r = root->getType(&attributes.type, tags, count);
    if (r < 0)
        return r;
    // Values that are not defined (or do not exist for strings) stay empty.
    root->getMinimum(&attributes.minimum, tags, count);
    root->getMaximum(&attributes.maximum, tags, count);
    root->getDefault(&attributes.defaultValue, tags, count);
    root->getStep(&attributes.step, tags, count);
    root->getNominal(&attributes.nominal, tags, count);
    if (root->getUnitLength(&attributes.unitLength, tags, count) < 0)
        attributes.unitLength = 0;
    char unit[MMS_NAME_SIZE] = {};
    if (attributes.type != PARAM_STRING && root->getUnit(unit, tags, count) >= 0) {
        const size_t n = strnlen(unit, sizeof unit);
        if (n >= 1 && n <= 3)
            std::memcpy(attributes.unit, unit, n);
    }
    root->getScaling(&attributes.scaling, tags, count);
    root->getKind(&attributes.kind, tags, count);
    *out = attributes;
    return MMS_OK;
}

JResult Base::getAttributesByName(ParameterAttributes* out, const char* function, const char* path, uint32_t length)
{
    Root* root = nullptr;
    uint32_t tags[MMS_MAX_DEPTH], depth = 0;
    const JResult r = selectPath(&root, function, path, length, tags, &depth, FIELD_ACTIVE);
    return r < 0 ? r : getAttributes(out, function, tags, depth);
}

JResult Base::getSubtreeInfo(FunctionInfo* out, const char* function, const uint32_t* tags, uint32_t count)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    if (r < 0)
        return r;
    if (out == nullptr || (tags == nullptr && count != 0))
        return MMS_E_ARG;
    *out = FunctionInfo{};
    return count == 0 ? root->getFunctionInfo(out) : root->getSubtreeInfo(out, tags, count);
}

JResult Base::getSubtreeInfoByName(FunctionInfo* out, const char* function, const char* path, uint32_t length)
{
    Root* root = nullptr;
    uint32_t tags[MMS_MAX_DEPTH], depth = 0;
    const JResult r = selectPath(&root, function, path, length, tags, &depth, FIELD_ACTIVE);
    return r < 0 ? r : getSubtreeInfo(out, function, tags, depth);
}

// --- the base's own operations -------------------------------------------------------------

JResult Base::getFunctionInfo(FunctionInfo* out, const char* function) const
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    if (r < 0)
        return r;
    if (out == nullptr)
        return MMS_E_ARG;
    *out = FunctionInfo{};
    return root->getFunctionInfo(out);
}

JResult Base::setFunctionImage(const char* function, const FunctionInfo& info, uint32_t flags, uint32_t key)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return r < 0 ? r : afterChange(root, root->setFunctionImage(info, flags, key), true, key);
}

JResult Base::getFunctionLabel(char* out12, const char* function) const
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return r < 0 ? r : root->getFunctionLabel(out12);
}

JResult Base::clearChanges(const char* function, uint32_t key)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return r < 0 ? r : root->clearAllForKey(key);
}

} // namespace MMS
