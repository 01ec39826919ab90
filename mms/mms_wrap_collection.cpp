// CollectionWrapper: a view of one collection node for collection handlers.
// Positions below the node are relative to the collection element the
// caller's context describes.
#include "mms/mms_dirty.h"
#include "mms/mms_tree.h"
#include "mms/mms_wrap.h"
#include "pbd/jlib/jvariant.h"

using JLIB::JVariant;
using JLIB::JVariantArray;

namespace MMS {

namespace {

WriteContext writeContextOf(const CollectionSetContext& c)
{
    WriteContext w;
    w.dirty = c.dirty;
    w.sources = c.sources;
    w.pool = c.pool;
    w.source = c.source;
    w.flags = c.flags;
    return w;
}

// The parameter element at a path below node; a collection there is no element.
JResult parameterAt(
    const CollectionNode* node, const uint32_t* tags, const uint32_t* indexes, uint32_t count, TreePosition* position)
{
    const JResult r = node->locate(tags, indexes, count, position);
    return r >= 0 && !position->parameter ? MMS_E_PATH : r;
}

ElementPlace shifted(const TreePosition& position, const CollectionSetContext& c)
{
    ElementPlace place = position.place(c.data);
    place.changeIndex += c.changeBase;
    place.elementNumber += c.elementBase;
    return place;
}

void markCollectionPath(const TreePosition& position, const CollectionSetContext& c)
{
    if (!c.dirty)
        return;
    for (uint32_t level = position.levelCount; level-- > 0;)
        c.dirty->markChange(c.changeBase + position.levelChange[level]);
}

} // namespace

JResult CollectionWrapper::setValue(
    CollectionSetContext* context, const JVariant& value, const uint32_t* tags, const uint32_t* indexes, uint32_t count)
{
    if (!m_node)
        return MMS_E_STATE;
    if (!context || !context->data)
        return MMS_E_ARG;
    TreePosition position;
    JResult r = parameterAt(m_node, tags, indexes, count, &position);
    if (r >= 0) {
        r = position.parameter->setElement(
            shifted(position, *context), value, position.elementIndex, writeContextOf(*context));
        if (r > 0 && (r & MMS_CHANGED))
            markCollectionPath(position, *context);
    }
    context->resultFlags = mms_combine(context->resultFlags, r);
    return r;
}

JResult CollectionWrapper::setValues(CollectionSetContext* context, const JVariantArray& values, const uint32_t* tags,
    const uint32_t* indexes, uint32_t count)
{
    if (!m_node)
        return MMS_E_STATE;
    if (!context || !context->data)
        return MMS_E_ARG;
    TreePosition position;
    JResult r = parameterAt(m_node, tags, indexes, count, &position);
    if (r >= 0) {
        const uint32_t index = position.elementIndex;
        const uint32_t run = position.parameter->arraySize() - index;
        r = position.parameter->setElements(shifted(position, *context), values, index,
            values.count() < run ? values.count() : run, false, writeContextOf(*context));
        if (r > 0 && (r & MMS_CHANGED))
            markCollectionPath(position, *context);
    }
    context->resultFlags = mms_combine(context->resultFlags, r);
    return r;
}

JResult CollectionWrapper::getValue(
    const CollectionSetContext* context, JVariant* out, const uint32_t* tags, const uint32_t* indexes, uint32_t count)
{
    if (!m_node)
        return MMS_E_STATE;
    if (!context || !context->data || !out)
        return MMS_E_ARG;
    TreePosition position;
    const JResult r = parameterAt(m_node, tags, indexes, count, &position);
    if (r < 0)
        return r;
    return position.parameter->readElement(out, position.place(context->data).data, position.elementIndex);
}

JResult CollectionWrapper::getValues(const CollectionSetContext* context, JVariantArray* out, const uint32_t* tags,
    const uint32_t* indexes, uint32_t count)
{
    if (!m_node)
        return MMS_E_STATE;
    if (!context || !context->data || !out)
        return MMS_E_ARG;
    TreePosition position;
    const JResult r = parameterAt(m_node, tags, indexes, count, &position);
    if (r < 0)
        return r;
    const uint32_t index = position.elementIndex;
    const uint32_t run = position.parameter->arraySize() - index;
    return position.parameter->readChangedElements(shifted(position, *context), index,
        out->count() < run ? out->count() : run, out, 0, nullptr, nullptr, nullptr, false);
}

JResult CollectionWrapper::resolveNamePath(uint32_t* outTags, uint32_t* outCount, const char* path, uint32_t length)
{
    if (!m_node)
        return MMS_E_STATE;
    if (!outTags || !outCount)
        return MMS_E_ARG;
    return m_node->resolveNamePath(path, length, outTags, MMS_MAX_DEPTH, outCount);
}

JResult CollectionWrapper::buildNamePath(char* out, uint32_t size, const uint32_t* tags, uint32_t count)
{
    if (!m_node)
        return MMS_E_STATE;
    if (!out)
        return MMS_E_ARG;
    return m_node->buildNamePath(tags, count, out, size, false);
}

namespace {
// The node at a tag path below node (a parameter or a collection), after the
// checks every attribute query makes.
JResult nodeAt(
    const CollectionNode* node, const void* out, const uint32_t* tags, uint32_t count, TreePosition* position)
{
    if (!node)
        return MMS_E_STATE;
    if (!out)
        return MMS_E_ARG;
    return node->locateDefinition(tags, count, position);
}
} // namespace

#define MMS_PARAMETER_AT(out)                                                                                          \
    TreePosition position;                                                                                             \
    const JResult located = nodeAt(m_node, out, tags, count, &position);                                               \
    if (located < 0)                                                                                                   \
        return located;                                                                                                \
    if (!position.parameter)                                                                                           \
        return MMS_E_PATH;                                                                                             \
    const ParameterNode& p = *position.parameter

JResult CollectionWrapper::getName(char* out24, const uint32_t* tags, uint32_t count)
{
    TreePosition position;
    const JResult r = nodeAt(m_node, out24, tags, count, &position);
    if (r < 0)
        return r;
    return mms_copyName(out24, position.parameter ? position.parameter->name() : position.endCollection->name());
}

JResult CollectionWrapper::getArraySize(uint32_t* out, const uint32_t* tags, uint32_t count)
{
    TreePosition position;
    const JResult r = nodeAt(m_node, out, tags, count, &position);
    if (r < 0)
        return r;
    *out = position.parameter ? position.parameter->arraySize() : position.endCollection->arraySize();
    return 0;
}

JResult CollectionWrapper::getDefault(
    JVariant* out, const StringMemoryFactory* pool, const uint32_t* tags, uint32_t count)
{
    MMS_PARAMETER_AT(out);
    return p.getDefault(out, pool);
}

JResult CollectionWrapper::getNominal(
    JVariant* out, const StringMemoryFactory* pool, const uint32_t* tags, uint32_t count)
{
    MMS_PARAMETER_AT(out);
    return p.getNominal(out, pool);
}

JResult CollectionWrapper::getMinimum(JVariant* out, const uint32_t* tags, uint32_t count)
{
    MMS_PARAMETER_AT(out);
    return p.getMinimum(out);
}

JResult CollectionWrapper::getMaximum(JVariant* out, const uint32_t* tags, uint32_t count)
{
    MMS_PARAMETER_AT(out);
    return p.getMaximum(out);
}

JResult CollectionWrapper::getStep(JVariant* out, const uint32_t* tags, uint32_t count)
{
    MMS_PARAMETER_AT(out);
    return p.getStep(out);
}

JResult CollectionWrapper::getScaling(uint32_t* out, const uint32_t* tags, uint32_t count)
{
    MMS_PARAMETER_AT(out);
    *out = p.scaling();
    return 0;
}

JResult CollectionWrapper::getKind(uint32_t* out, const uint32_t* tags, uint32_t count)
{
    MMS_PARAMETER_AT(out);
    *out = p.kind();
    return 0;
}

#undef MMS_PARAMETER_AT

} // namespace MMS
