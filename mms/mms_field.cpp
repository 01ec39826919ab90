// MMS::Base: the field operations over the list of functions, the listener
// keys registered with every function, the trigger after changes, and the
// multi-function image.

#include "mms/mms_field.h"
#include "mms/mms_field_internal.h"

#include "mms/mms_image.h"

#include <cstring>
#include <new>

namespace MMS {

using namespace fieldimpl;

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

} // namespace MMS
