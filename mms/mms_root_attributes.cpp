// Root: collection handlers, counts and node attributes.
#include "mms/mms_root.h"
#include "mms/mms_root_internal.h"

#include "pbd/jlib/jvariant.h"

#include <cstring>
#include <new>

namespace MMS {

using JLIB::JVariant;
using JLIB::JVariantArray;
using namespace rootimpl;

// --- Handlers -------------------------------------------------------------------------------

// The handler table's slot of the collection at a tag path.
JResult Root::handlerSlot(const uint32_t* tags, uint32_t count, uint32_t* index) const
{
    const JResult r = m_root->handlerIndexOf(tags, count, index);
    if (r < 0)
        return r;
    return *index >= m_handlerCount ? MMS_E_INNER : MMS_OK;
}

JResult Root::installCollectionHandler(const uint32_t* tags, uint32_t count, ICollectionHandler* handler)
{
    JResult r = requireState(ROOT_LAID_OUT);
    if (r < 0)
        return r;
    if (handler == nullptr || (tags == nullptr && count != 0))
        return MMS_E_ARG;
    TreePosition position;
    r = m_root->locateDefinition(tags, count, &position);
    if (r < 0)
        return r;
    if (position.parameter != nullptr)
        return MMS_E_PATH;
    uint32_t index = 0;
    r = handlerSlot(tags, count, &index);
    if (r < 0)
        return r;
    auto wrapper
        = std::make_unique<CollectionWrapper>(const_cast<CollectionNode*>(position.endCollection), m_pool.usedSize());
    r = m_root->setCollectionHandler(m_handlers, m_handlerCount, tags, count, handler, wrapper.get());
    if (r < 0)
        return r;
    m_handlerWrappers[index] = std::move(wrapper);
    ++m_handlersInstalled;
    return MMS_OK;
}

JResult Root::removeCollectionHandler(const uint32_t* tags, uint32_t count)
{
    JResult r = requireState(ROOT_LAID_OUT);
    if (r < 0)
        return r;
    uint32_t index = 0;
    r = handlerSlot(tags, count, &index);
    if (r < 0)
        return r;
    if (m_handlers[index] != nullptr && m_handlersInstalled > 0)
        --m_handlersInstalled;
    m_handlers[index] = nullptr;
    m_handlerWrappers[index].reset();
    return MMS_OK;
}

JResult Root::getCollectionHandler(ICollectionHandler** out, const uint32_t* tags, uint32_t count) const
{
    if (m_state != ROOT_LAID_OUT && m_state != ROOT_ACTIVE)
        return MMS_E_STATE;
    if (out == nullptr)
        return MMS_E_ARG;
    return m_root->getCollectionHandler(m_handlers, m_handlerCount, tags, count, out);
}

JResult Root::installCollectionHandlerByName(const char* path, uint32_t length, ICollectionHandler* handler)
{
    uint32_t tags[kMaxTags];
    uint32_t depth = 0;
    const JResult r = resolvePath(path, length, tags, &depth);
    return r < 0 ? r : installCollectionHandler(tags, depth, handler);
}

JResult Root::removeCollectionHandlerByName(const char* path, uint32_t length)
{
    uint32_t tags[kMaxTags];
    uint32_t depth = 0;
    const JResult r = resolvePath(path, length, tags, &depth);
    return r < 0 ? r : removeCollectionHandler(tags, depth);
}

JResult Root::getCollectionHandlerByName(ICollectionHandler** out, const char* path, uint32_t length) const
{
    uint32_t tags[kMaxTags];
    uint32_t depth = 0;
    const JResult r = resolvePath(path, length, tags, &depth);
    return r < 0 ? r : getCollectionHandler(out, tags, depth);
}

JResult Root::resolvePath(const char* path, uint32_t length, uint32_t* outTags, uint32_t* outCount) const
{
    if (m_root == nullptr)
        return MMS_E_STATE;
    if (outTags == nullptr || outCount == nullptr)
        return MMS_E_ARG;
    return resolve(path, length, outTags, outCount);
}

// --- Counts and attributes ------------------------------------------------------------------

JResult Root::getCollectionNodeCount(uint32_t* out) const
{
    return whenActive(out, [&] {
        *out = m_collector.inBlock() ? m_collector.collectionsUsed() : 0;
        return MMS_OK;
    });
}

JResult Root::getTaskItemBase(const uint8_t** out) const
{
    return whenActive(out, [&] {
        *out = m_tasks.base();
        return MMS_OK;
    });
}

JResult Root::getParameterCount(uint32_t* out) const
{
    return whenActive(out, [&] {
        *out = m_parameterCount;
        return MMS_OK;
    });
}

JResult Root::getElementCount(uint32_t* out) const
{
    return whenActive(out, [&] {
        *out = m_elementCount;
        return MMS_OK;
    });
}

JResult Root::getNameTableSize(uint32_t* out, bool flag) const
{
    return whenActive(out, [&] {
        *out = m_parameterCount * MMS_NAME_SIZE + (flag ? 25 : 0);
        return MMS_OK;
    });
}

JResult Root::getNamePathSize(uint32_t* out, const uint32_t* tags, uint32_t count) const
{
    return whenActive(out, [&] {
        char text[kMaxPathText];
        uint32_t length = 0;
        const JResult r = m_root->buildNamePath(tags, count, text, sizeof text, false, &length);
        if (r < 0)
            return r;
        *out = length + 1;
        return JResult{MMS_OK};
    });
}

JResult Root::getChildCount(uint32_t* out, const uint32_t* tags, uint32_t count) const
{
    return withDefinition(out, tags, count, [&](const TreePosition& at) {
        *out = at.parameter != nullptr ? 0 : at.endCollection->childCount();
        return MMS_OK;
    });
}

JResult Root::getNodeName(char* out24, const uint32_t* tags, uint32_t count) const
{
    return withDefinition(out24, tags, count, [&](const TreePosition& at) {
        std::memcpy(out24, at.parameter != nullptr ? at.parameter->name() : at.endCollection->name(), MMS_NAME_SIZE);
        return MMS_OK;
    });
}

JResult Root::getArraySize(uint32_t* out, const uint32_t* tags, uint32_t count) const
{
    return withDefinition(out, tags, count, [&](const TreePosition& at) {
        *out = at.parameter != nullptr ? at.parameter->arraySize() : at.endCollection->arraySize();
        return MMS_OK;
    });
}

JResult Root::isParameter(bool* out, const uint32_t* tags, uint32_t count) const
{
    return withDefinition(out, tags, count, [&](const TreePosition& at) {
        *out = at.parameter != nullptr;
        return MMS_OK;
    });
}

JResult Root::getLeafCount(uint32_t* out, const uint32_t* tags, uint32_t count) const
{
    return withDefinition(out, tags, count, [&](const TreePosition& at) {
        *out = at.parameter != nullptr ? at.parameter->arraySize() : at.endCollection->elements.stride;
        return MMS_OK;
    });
}

JResult Root::getBitCount(uint32_t* out, const uint32_t* tags, uint32_t count) const
{
    return withDefinition(out, tags, count, [&](const TreePosition& at) {
        *out = at.parameter != nullptr ? at.parameter->arraySize() : at.endCollection->changes.stride;
        return MMS_OK;
    });
}

JResult Root::getElementSize(uint32_t* out, const uint32_t* tags, uint32_t count) const
{
    return withDefinition(out, tags, count, [&](const TreePosition& at) {
        *out = at.parameter != nullptr ? at.parameter->elementWidth() : at.endCollection->data.stride;
        return MMS_OK;
    });
}

JResult Root::getType(uint32_t* out, const uint32_t* tags, uint32_t count) const
{
    return withParameter(out, tags, count, [&](const ParameterNode& p) {
        *out = p.type();
        return MMS_OK;
    });
}

JResult Root::getScaling(uint32_t* out, const uint32_t* tags, uint32_t count) const
{
    return withParameter(out, tags, count, [&](const ParameterNode& p) {
        *out = p.scaling();
        return MMS_OK;
    });
}

JResult Root::getKind(uint32_t* out, const uint32_t* tags, uint32_t count) const
{
    return withParameter(out, tags, count, [&](const ParameterNode& p) {
        *out = p.kind();
        return MMS_OK;
    });
}

JResult Root::getDefault(JVariant* out, const uint32_t* tags, uint32_t count) const
{
    return withParameter(out, tags, count, [&](const ParameterNode& p) { return p.getDefault(out, &m_pool); });
}

JResult Root::getMinimum(JVariant* out, const uint32_t* tags, uint32_t count) const
{
    return withParameter(out, tags, count, [&](const ParameterNode& p) { return p.getMinimum(out); });
}

JResult Root::getMaximum(JVariant* out, const uint32_t* tags, uint32_t count) const
{
    return withParameter(out, tags, count, [&](const ParameterNode& p) { return p.getMaximum(out); });
}

JResult Root::getStep(JVariant* out, const uint32_t* tags, uint32_t count) const
{
    return withParameter(out, tags, count, [&](const ParameterNode& p) { return p.getStep(out); });
}

JResult Root::getNominal(JVariant* out, const uint32_t* tags, uint32_t count) const
{
    return withParameter(out, tags, count, [&](const ParameterNode& p) { return p.getNominal(out, &m_pool); });
}

JResult Root::getUnitLength(uint32_t* out, const uint32_t* tags, uint32_t count) const
{
    return withParameter(out, tags, count, [&](const ParameterNode& p) { return p.getUnitLength(out); });
}

JResult Root::getUnit(char* out24, const uint32_t* tags, uint32_t count) const
{
    return withParameter(out24, tags, count, [&](const ParameterNode& p) {
        std::memset(out24, 0, MMS_NAME_SIZE);
        return p.getUnit(out24, MMS_NAME_SIZE, &m_pool);
    });
}

} // namespace MMS
