// MMS::Base: the field operations over the list of functions, the listener
// keys registered with every function, the trigger after changes, and the
// multi-function image.

#include "mms/mms_field.h"

#include "mms/mms_image.h"

#include <cstring>
#include <new>

namespace MMS {
namespace {

constexpr JResult kNoFunction = MMS_E_PATH;

// The first element of a function path ("/name/..." or "name/...").
void firstPathName(const char* path, uint32_t length, char* out24)
{
    std::memset(out24, 0, MMS_NAME_SIZE);
    uint32_t at = 0;
    if (length > 0 && path[0] == '/')
        at = 1;
    for (uint32_t n = 0; at < length && path[at] != '/' && path[at] != 0 && n < MMS_NAME_SIZE - 1; ++at, ++n)
        out24[n] = path[at];
}

// A change or import mark of a selected function as a byte (1 set, 0 clear);
// query runs only once the selection succeeded.
template <class Query> JResult readMark(JResult selected, uint8_t* out, Query query)
{
    if (selected < 0)
        return selected;
    if (out == nullptr)
        return MMS_E_ARG;
    bool set = false;
    const JResult r = query(&set);
    *out = set ? 1 : 0;
    return r;
}

} // namespace

Base::Base(IEventFlagTrigger* trigger, IMemoryAllocator* tree, IMemoryAllocator* data, IMemoryAllocator* list)
    : m_trigger(trigger)
    , m_roots(new (std::nothrow) RootList(tree, data, list))
{
    m_state = m_roots ? FIELD_ACTIVE : FIELD_UNUSABLE;
}

Base::~Base() = default;

// --- helpers ---------------------------------------------------------------------

JResult Base::requireState(uint8_t a, uint8_t b) const
{
    return m_state == a || (b != 0 && m_state == b) ? MMS_OK : MMS_E_STATE;
}

JResult Base::select(Root** out, const char* function, uint8_t stateA, uint8_t stateB) const
{
    const JResult r = requireState(stateA, stateB);
    if (r < 0)
        return r;
    *out = m_roots->find(function);
    return *out ? MMS_OK : kNoFunction;
}

JResult Base::resolve(Root* root, const char* path, uint32_t length, uint32_t* tags, uint32_t* count) const
{
    if (path == nullptr && length != 0)
        return MMS_E_ARG;
    if (path == nullptr || length == 0) {
        *count = 0;
        return MMS_OK;
    }
    return root->resolveNamePath(tags, count, MMS_MAX_DEPTH, path, length);
}

JResult Base::selectPath(Root** out, const char* function, const char* path, uint32_t length, uint32_t* tags,
    uint32_t* depth, uint8_t stateA, uint8_t stateB) const
{
    const JResult r = select(out, function, stateA, stateB);
    return r < 0 ? r : resolve(*out, path, length, tags, depth);
}

template <class TagForm>
JResult Base::indexedByName(
    const char* function, const char* path, uint32_t length, uint32_t indexCount, TagForm tagForm) const
{
    Root* root = nullptr;
    uint32_t tags[MMS_MAX_DEPTH], depth = 0;
    const JResult r = selectPath(&root, function, path, length, tags, &depth, FIELD_ACTIVE);
    if (r < 0)
        return r;
    if (indexCount < depth)
        return MMS_E_PATH;
    return tagForm(root, tags, depth);
}

JResult Base::registerKeys(Root* root)
{
    for (size_t i = 0; i < m_keys.size(); ++i) {
        const JResult r = root->addKey(m_keys[i].key, m_keys[i].mask, m_keys[i].pageCount);
        if (r < 0) {
            while (i-- > 0)
                root->releaseKey(m_keys[i].key);
            return r;
        }
    }
    return MMS_OK;
}

void Base::fire(Root* root, bool own, uint32_t key)
{
    if (m_trigger != nullptr)
        m_trigger->trigger(own ? 1u : 0u, key, root->getIdentity());
}

JResult Base::afterChange(Root* root, JResult result, bool own, uint32_t key)
{
    if (result >= 0 && (result & MMS_CHANGED))
        fire(root, own, key);
    return result;
}

// --- lifecycle and definition ----------------------------------------------------------

JResult Base::addNotifier(uint32_t mask, uint32_t key, uint32_t pageCount, bool notifyNow)
{
    JResult r = requireState(FIELD_ACTIVE);
    if (r < 0)
        return r;
    if (!m_roots)
        return MMS_E_INNER;
    if (key == 0)
        return MMS_E_ARG;
    for (const KeyNode& node : m_keys) {
        if (node.key == key)
            return MMS_E_EXISTS;
    }
    const size_t count = m_roots->count();
    for (size_t i = 0; i < count; ++i) {
        r = m_roots->find(i)->addKey(key, mask, pageCount);
        if (r < 0) {
            while (i-- > 0)
                m_roots->find(i)->releaseKey(key);
            return r;
        }
    }
    m_keys.push_back(KeyNode{key, pageCount, mask});
    if (notifyNow) {
        for (size_t i = 0; i < count; ++i)
            m_roots->find(i)->markAllForKey(key);
        if (m_trigger != nullptr) {
            const uint32_t keyRecord[2] = {0, key};
            m_trigger->trigger(1, 0, TaskListIdentity{keyRecord, 0});
        }
    }
    return MMS_OK;
}

JResult Base::removeNotifier(uint32_t key)
{
    const JResult r = requireState(FIELD_ACTIVE);
    if (r < 0)
        return r;
    for (auto it = m_keys.begin(); it != m_keys.end(); ++it) {
        if (it->key != key)
            continue;
        for (size_t i = 0; i < m_roots->count(); ++i)
            m_roots->find(i)->releaseKey(key);
        m_keys.erase(it);
        break;
    }
    return MMS_OK;
}

JResult Base::getState(uint8_t* out)
{
    if (out == nullptr)
        return MMS_E_ARG;
    *out = m_state;
    return MMS_OK;
}

JResult Base::getFunctionState(uint8_t* out, const char* function)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_DEFINING, FIELD_ACTIVE);
    if (r < 0)
        return r;
    if (out == nullptr)
        return MMS_E_ARG;
    *out = root->getState();
    return MMS_OK;
}

JResult Base::reopenDefinition()
{
    const JResult r = requireState(FIELD_DEFINING, FIELD_ACTIVE);
    if (r >= 0)
        m_state = FIELD_DEFINING;
    return r;
}

JResult Base::layoutFunctions(bool writeDefaults)
{
    const JResult r = requireState(FIELD_DEFINING);
    if (r < 0)
        return r;
    bool defaultsFailed = false;
    for (size_t i = 0; i < m_roots->count(); ++i) {
        const JResult step = m_roots->find(i)->finishDefinition(writeDefaults);
        if (step == MMS_E_UNDEFINED)
            defaultsFailed = true;
        else if (step < 0)
            return step;
    }
    return defaultsFailed ? MMS_E_UNDEFINED : MMS_OK;
}

JResult Base::activate(bool writeDefaults)
{
    if (m_state == FIELD_ACTIVE)
        return MMS_OK;
    JResult r = requireState(FIELD_DEFINING);
    if (r < 0)
        return r;
    bool defaultsFailed = false;
    for (size_t i = 0; i < m_roots->count(); ++i) {
        Root* root = m_roots->find(i);
        const JResult step = root->activate(writeDefaults);
        if (step == MMS_FOUND)
            continue;
        if (step == MMS_E_UNDEFINED)
            defaultsFailed = true;
        else if (step < 0)
            return step;
        r = registerKeys(root);
        if (r < 0)
            return r;
        fire(root, true, 0);
    }
    m_state = FIELD_ACTIVE;
    return defaultsFailed ? MMS_E_UNDEFINED : MMS_OK;
}

JResult Base::defineFunction(
    const char* listName, const char* functionName, uint32_t collections, uint32_t parameters, uint32_t stringSize)
{
    const JResult r = requireState(FIELD_DEFINING);
    return r < 0 ? r : m_roots->define(listName, functionName, collections, parameters, stringSize);
}

JResult Base::checkAdd(const char* listName, const FunctionInfo* info) const
{
    const JResult r = requireState(FIELD_DEFINING);
    if (r < 0)
        return r;
    return info == nullptr || listName == nullptr ? MMS_E_ARG : MMS_OK;
}

JResult Base::finishAdd(const char* listName, JResult added)
{
    if (added < 0)
        return added;
    // The new function learns every key; without them it is taken out again.
    const JResult keys = registerKeys(m_roots->find(listName));
    if (keys < 0) {
        m_roots->remove(listName);
        return keys;
    }
    return added;
}

JResult Base::addFunctionFromImage(const char* listName, const FunctionInfo* info)
{
    const JResult r = checkAdd(listName, info);
    return r < 0 ? r : finishAdd(listName, m_roots->addFromImage(listName, *info));
}

JResult Base::addFunctionFromBuffer(const char* listName, const FunctionInfo* info, uint32_t flags)
{
    const JResult r = checkAdd(listName, info);
    return r < 0 ? r : finishAdd(listName, m_roots->addFromBuffer(listName, *info, flags, false));
}

JResult Base::addFunctionFromBufferEx(const char* listName, const FunctionInfo* info, uint32_t flags)
{
    const JResult r = checkAdd(listName, info);
    return r < 0 ? r : finishAdd(listName, m_roots->addFromBuffer(listName, *info, flags, true));
}

JResult Base::removeFunction(const char* function)
{
    const JResult r = requireState(FIELD_DEFINING);
    if (r < 0)
        return r;
    for (size_t i = 0; i < m_roots->count(); ++i) {
        Root* root = m_roots->find(i);
        if (root != m_roots->find(function))
            continue;
        char name[MMS_NAME_SIZE];
        m_roots->nameAt(i, name);
        fire(root, true, 0);
        for (const KeyNode& node : m_keys)
            root->releaseKey(node.key);
        m_roots->remove(name);
        break;
    }
    m_state = FIELD_ACTIVE;
    return MMS_OK;
}

JResult Base::setSetOrderNotify(const char* function, ISetOrderNotify* object)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return r < 0 ? r : root->installSetOrderNotify(object);
}

JResult Base::setFunctionName(const char* function, const char* name)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_DEFINING);
    return r < 0 ? r : root->setFunctionName(name);
}

JResult Base::setFunctionAlias(const char* function, const char* alias)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_DEFINING);
    return r < 0 ? r : root->setFunctionAlias(alias);
}

JResult Base::defineCollection(uint32_t* outTag, const char* function, const uint32_t* parentTags, uint32_t depth,
    const char* name, uint32_t arraySize)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_DEFINING);
    return r < 0 ? r : root->defineCollection(outTag, parentTags, depth, name, arraySize);
}

JResult Base::defineCollectionByName(uint32_t* outTag, const char* function, const char* parentPath, uint32_t length,
    const char* name, uint32_t arraySize)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_DEFINING);
    return r < 0 ? r : root->defineCollectionByName(outTag, parentPath, length, name, arraySize);
}

JResult Base::defineParameter(uint32_t* outTag, const char* function, const uint32_t* parentTags, uint32_t depth,
    const ParameterDefinition& definition)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_DEFINING);
    return r < 0 ? r : root->defineParameter(outTag, parentTags, depth, definition);
}

JResult Base::defineParameterByName(uint32_t* outTag, const char* function, const char* parentPath, uint32_t length,
    const ParameterDefinition& definition)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_DEFINING);
    return r < 0 ? r : root->defineParameterByName(outTag, parentPath, length, definition);
}

JResult Base::notSupportedInDefinition(const char* function, const uint32_t* tags, uint32_t count)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_DEFINING);
    return r < 0 ? r : root->defineUnsupported(tags, count);
}

JResult Base::notSupportedInDefinitionByName(const char* function, const char* path, uint32_t length)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_DEFINING);
    if (r < 0)
        return r;
    return path == nullptr && length != 0 ? MMS_E_ARG : root->defineUnsupported(nullptr, 0);
}

JResult Base::notSupportedInDefinition2(const char* function, const uint32_t* tags, uint32_t count)
{
    return notSupportedInDefinition(function, tags, count);
}

JResult Base::notSupportedInDefinition2ByName(const char* function, const char* path, uint32_t length)
{
    return notSupportedInDefinitionByName(function, path, length);
}

JResult Base::copyFunction(const char*, const char*, uint32_t, uint32_t)
{
    return MMS_E_INNER;
}

JResult Base::copyFunctionToLocked(const char*, Field*, const char*, uint32_t, uint32_t)
{
    return MMS_E_INNER;
}

// --- addressing and cursors --------------------------------------------------------------

JResult Base::resolveNamePath(
    uint32_t* outTags, uint32_t* outCount, uint32_t maxTags, const char* function, const char* path, uint32_t length)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return r < 0 ? r : root->resolveNamePath(outTags, outCount, maxTags, path, length);
}

JResult Base::buildNamePath(
    char* out, uint32_t size, const char* function, const uint32_t* tags, uint32_t count, bool leadingSlash)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return r < 0 ? r : root->buildNamePath(out, size, tags, count, leadingSlash);
}

JResult Base::tagPathFromParameterNumber(
    uint32_t* outTags, uint32_t* outCount, uint32_t maxTags, uint32_t number, const char* function)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return r < 0 ? r : root->tagPathFromParameterNumber(outTags, outCount, maxTags, number);
}

JResult Base::getParameterNumber(uint32_t* out, const char* function, const uint32_t* tags, uint32_t count)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return r < 0 ? r : root->getParameterNumber(out, tags, count);
}

JResult Base::addressFromElementNumber(
    uint32_t* outTags, uint32_t* outIndexes, uint32_t* outCount, uint32_t max, uint32_t number, const char* function)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return r < 0 ? r : root->addressFromElementNumber(outTags, outIndexes, outCount, max, number);
}

JResult Base::namePathFromElementNumber(char* out, uint32_t size, uint32_t* outIndexes, uint32_t* outCount,
    uint32_t max, uint32_t number, const char* function)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return r < 0 ? r : root->namePathFromElementNumber(out, size, outIndexes, outCount, max, number);
}

JResult Base::advanceWritePage(uint32_t key)
{
    const JResult r = requireState(FIELD_ACTIVE);
    if (r < 0)
        return r;
    // A function that does not know the key is simply passed over.
    for (size_t i = 0; i < m_roots->count(); ++i)
        m_roots->find(i)->advanceFirstCursor(key);
    return MMS_OK;
}

JResult Base::advanceReadPage(uint32_t key)
{
    const JResult r = requireState(FIELD_ACTIVE);
    if (r < 0)
        return r;
    for (size_t i = 0; i < m_roots->count(); ++i)
        m_roots->find(i)->advanceSecondCursor(key);
    return MMS_OK;
}

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
    const JResult r = requireState(FIELD_ACTIVE);
    if (r < 0)
        return r;
    if (buffer == nullptr || outLength == nullptr || size < MDF_HEADER_SIZE || order < IMAGE_ORDER_HOST
        || order > IMAGE_ORDER_BIG)
        return MMS_E_ARG;
    return exportAllInto(buffer, outLength, size, order);
}

JResult Base::exportAllInto(uint8_t* buffer, uint32_t* outLength, uint32_t size, int order) const
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
            record + MDR_RECORD_SIZE, &length, size - used - MDR_RECORD_SIZE, nullptr, nullptr, 0, order);
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

JResult Base::getImageSize(uint32_t* out, const char* function, const uint32_t* tags, uint32_t count)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return r < 0 ? r : root->getImageSize(out, tags, count);
}

JResult Base::getImageSizeByName(uint32_t* out, const char* function, const char* path, uint32_t length)
{
    Root* root = nullptr;
    uint32_t tags[MMS_MAX_DEPTH], depth = 0;
    const JResult r = selectPath(&root, function, path, length, tags, &depth, FIELD_ACTIVE);
    return r < 0 ? r : root->getImageSize(out, tags, depth);
}

JResult Base::exportImage(uint8_t* buffer, uint32_t* outLength, uint32_t size, const char* function,
    const uint32_t* tags, const uint32_t* indexes, uint32_t count, int order)
{
    Root* root = nullptr;
    const JResult r = select(&root, function, FIELD_ACTIVE);
    return r < 0 ? r : root->exportImage(buffer, outLength, size, tags, indexes, count, order);
}

JResult Base::exportImageByName(uint8_t* buffer, uint32_t* outLength, uint32_t size, const char* function,
    const char* path, uint32_t length, const uint32_t* indexes, uint32_t count, int order)
{
    return indexedByName(function, path, length, count, [&](Root* root, const uint32_t* tags, uint32_t depth) {
        return root->exportImage(buffer, outLength, size, tags, indexes, depth, order);
    });
}

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
