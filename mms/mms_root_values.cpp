// Root: addressing elements, and reading and writing their values.
#include "mms/mms_root.h"
#include "mms/mms_root_internal.h"

#include "pbd/jlib/jvariant.h"

#include <cstring>
#include <new>

namespace MMS {

using JLIB::JVariant;
using JLIB::JVariantArray;
using namespace rootimpl;

// --- Addressing ---------------------------------------------------------------------

JResult Root::resolveNamePath(
    uint32_t* outTags, uint32_t* outCount, uint32_t maxTags, const char* path, uint32_t length) const
{
    const JResult r = requireState(ROOT_ACTIVE);
    if (r < 0)
        return r;
    if (outTags == nullptr || outCount == nullptr || path == nullptr)
        return MMS_E_ARG;
    return m_root->resolveNamePath(path, length, outTags, maxTags, outCount);
}

JResult Root::buildNamePath(char* out, uint32_t size, const uint32_t* tags, uint32_t count, bool leadingSlash) const
{
    const JResult r = requireState(ROOT_ACTIVE);
    if (r < 0)
        return r;
    if (out == nullptr || (tags == nullptr && count != 0))
        return MMS_E_ARG;
    return m_root->buildNamePath(tags, count, out, size, leadingSlash);
}

JResult Root::getParameterNumber(uint32_t* out, const uint32_t* tags, uint32_t count) const
{
    const JResult r = requireState(ROOT_ACTIVE);
    if (r < 0)
        return r;
    if (out == nullptr || (tags == nullptr && count != 0))
        return MMS_E_ARG;
    return m_root->definitionNumber(tags, count, out);
}

JResult Root::tagPathFromParameterNumber(uint32_t* outTags, uint32_t* outCount, uint32_t maxTags, uint32_t number) const
{
    const JResult r = requireState(ROOT_ACTIVE);
    if (r < 0)
        return r;
    if (outTags == nullptr || outCount == nullptr)
        return MMS_E_ARG;
    return m_root->pathFromDefinitionNumber(number, outTags, maxTags, outCount);
}

JResult Root::addressFromElementNumber(
    uint32_t* outTags, uint32_t* outIndexes, uint32_t* outCount, uint32_t max, uint32_t number) const
{
    const JResult r = requireState(ROOT_ACTIVE);
    if (r < 0)
        return r;
    if (outTags == nullptr || outIndexes == nullptr || outCount == nullptr)
        return MMS_E_ARG;
    return m_root->pathFromElementNumber(number, outTags, outIndexes, max, outCount);
}

JResult Root::namePathFromElementNumber(
    char* out, uint32_t size, uint32_t* outIndexes, uint32_t* outCount, uint32_t max, uint32_t number) const
{
    uint32_t tags[kMaxTags];
    JResult r = addressFromElementNumber(tags, outIndexes, outCount, max < kMaxTags ? max : kMaxTags, number);
    if (r < 0)
        return r;
    return buildNamePath(out, size, tags, *outCount, false);
}

// --- Values ------------------------------------------------------------------------

TreeData Root::treeData() const
{
    TreeData t;
    t.data = m_data;
    t.dataSize = m_dataSize;
    t.pool = &m_pool;
    t.sources = m_sources;
    return t;
}

WriteContext Root::writeContext(IDirtyFlagHolder* dirty, const WriterOptions& writer, bool notify)
{
    WriteContext c;
    c.dirty = dirty;
    c.notify = notify ? &m_notify : nullptr;
    c.sources = m_sources;
    c.filter = writer.filter;
    c.pool = &m_pool;
    c.source = writer.source;
    c.flags = writer.conv;
    return c;
}

bool Root::handlerOnPath(const uint32_t* tags, uint32_t count) const
{
    if (m_handlersInstalled == 0 && m_handlersOwned)
        return false;
    uint32_t indexes[kMaxTags + 1];
    uint32_t levels = 0;
    if (m_root->pathHandlerIndexes(tags, count, indexes, &levels) < 0)
        return false;
    for (uint32_t k = 0; k < levels; ++k) {
        if (indexes[k] < m_handlerCount && m_handlers[indexes[k]] != nullptr)
            return true;
    }
    return false;
}

// Second pass: each handler on the path is told of the changed value. Its
// writes are marked with mask 1, and no set-order notification is sent.
JResult Root::runHandlers(const JVariant& value, const uint32_t* tags, const uint32_t* indexes, uint32_t count,
    const WriterOptions& writer, JResult firstPass)
{
    uint32_t handlerIndexes[kMaxTags + 1];
    uint32_t levels = 0;
    if (m_root->pathHandlerIndexes(tags, count, handlerIndexes, &levels) < 0)
        return firstPass;
    DirtyFlagHolder holder(&m_tasks, 1, writer.own, writer.key);
    JResult result = firstPass;
    for (uint32_t k = 0; k < levels; ++k) {
        if (handlerIndexes[k] >= m_handlerCount || m_handlers[handlerIndexes[k]] == nullptr)
            continue;
        TreePosition position;
        if (m_root->locate(tags, indexes, k, &position) < 0)
            return MMS_E_INNER;
        CollectionSetContext context;
        context.data = m_data + position.dataOffset;
        context.pool = &m_pool;
        context.dirty = &holder;
        context.sources = m_sources;
        context.changeBase = position.changeIndex;
        context.elementBase = position.elementNumber;
        context.source = writer.source;
        context.flags = writer.conv;
        ILinkReason reason;
        const uint32_t elementIndex = k == 0 ? 0 : indexes[k - 1];
        const int64_t answer = m_handlers[handlerIndexes[k]]->handle(
            value, nullptr, elementIndex, tags + k, indexes + k, count - k, &reason, &context);
        const int32_t low = static_cast<int32_t>(static_cast<uint32_t>(answer & 0xFFFFFFFF));
        if (low < 0)
            return MMS_E_INNER;
        if (low != 0)
            result |= (context.resultFlags >= 0 && (context.resultFlags & MMS_CHANGED)) ? MMS_HANDLED_CHANGED
                                                                                        : MMS_HANDLED;
    }
    return result;
}

JResult Root::setValue(
    const JVariant& value, const uint32_t* tags, const uint32_t* indexes, uint32_t count, const WriterOptions& writer)
{
    if (tags == nullptr || indexes == nullptr || count == 0)
        return MMS_E_PATH;
    JResult r = requireState(ROOT_ACTIVE);
    if (r < 0)
        return r;
    DirtyFlagHolder holder(&m_tasks, 0, writer.own, writer.key);
    const WriteContext context = writeContext(&holder, writer, true);
    r = m_root->setValue(treeData(), tags, indexes, count, value, context);
    if (r >= 0 && (r & MMS_CHANGED) && handlerOnPath(tags, count))
        r = runHandlers(value, tags, indexes, count, writer, r);
    return r;
}

JResult Root::setValueByName(const JVariant& value, const char* path, uint32_t length, const uint32_t* indexes,
    uint32_t count, const WriterOptions& writer)
{
    if (path == nullptr || indexes == nullptr || count == 0)
        return MMS_E_PATH;
    return byName(ROOT_ACTIVE, path, length, count,
        [&](const uint32_t* tags, uint32_t depth) { return setValue(value, tags, indexes, depth, writer); });
}

namespace {

// Does the array's element kind suit the parameter's type?
bool arrayFits(const JVariantArray& values, uint32_t type, bool readInto)
{
    const uint32_t width = paramTypeWidth(type);
    switch (values.type()) {
    case JLIB::JVARIANT_INT32:
        return paramTypeSigned(type) && (!readInto || values.elementSize() >= width);
    case JLIB::JVARIANT_UINT32:
        return paramTypeUnsigned(type) && (!readInto || values.elementSize() >= (width == 0 ? 1 : width));
    case JLIB::JVARIANT_FLOAT:
        return type == PARAM_FLOAT && values.elementSize() == 4;
    case JLIB::JVARIANT_STRING:
        return type == PARAM_STRING && !readInto;
    default:
        return false;
    }
}

} // namespace

JResult Root::locateParameter(const uint32_t* tags, uint32_t count, const ParameterNode** out) const
{
    TreePosition position;
    const JResult r = m_root->locateDefinition(tags, count, &position);
    if (r < 0)
        return r;
    if (position.parameter == nullptr)
        return MMS_E_PATH;
    *out = position.parameter;
    return MMS_OK;
}

JResult Root::setValues(const JVariantArray& values, const uint32_t* tags, const uint32_t* first, const uint32_t* last,
    uint32_t count, bool repeat, const WriterOptions& writer)
{
    if (tags == nullptr || first == nullptr || last == nullptr || count == 0)
        return MMS_E_PATH;
    JResult r = requireState(ROOT_ACTIVE);
    if (r < 0)
        return r;
    const ParameterNode* parameter = nullptr;
    r = locateParameter(tags, count, &parameter);
    if (r < 0)
        return r;
    if (!arrayFits(values, parameter->type(), false))
        return MMS_E_ARG;
    DirtyFlagHolder holder(&m_tasks, 0, writer.own, writer.key);
    const WriteContext context = writeContext(&holder, writer, true);
    r = m_root->setValues(treeData(), tags, first, last, count, values, repeat, context);
    if (r < 0 || !(r & MMS_CHANGED) || !handlerOnPath(tags, count))
        return r;
    // Handlers get the new values element by element, in odometer order.
    uint32_t current[kMaxTags];
    std::memcpy(current, first, sizeof(uint32_t) * count);
    JResult result = r;
    for (uint32_t i = 0; i < values.count(); ++i) {
        JVariant value;
        values.get(&value, repeat ? 0 : i);
        const JResult h = runHandlers(value, tags, current, count, writer, result);
        if (h < 0)
            return h;
        result = h;
        if (mms_stepIndexes(first, current, last, count) != 0)
            break;
    }
    return result;
}

JResult Root::setValuesByName(const JVariantArray& values, const char* path, uint32_t length, const uint32_t* first,
    const uint32_t* last, uint32_t count, bool repeat, const WriterOptions& writer)
{
    if (path == nullptr || first == nullptr || last == nullptr || count == 0)
        return MMS_E_PATH;
    return byName(ROOT_ACTIVE, path, length, count, [&](const uint32_t* tags, uint32_t depth) {
        return setValues(values, tags, first, last, depth, repeat, writer);
    });
}

JResult Root::resetToDefaults(uint8_t source, bool own, uint32_t key)
{
    const JResult r = requireState(ROOT_ACTIVE);
    if (r < 0)
        return r;
    DirtyFlagHolder holder(&m_tasks, 0, own, key);
    WriterOptions writer;
    writer.source = source;
    writer.own = own;
    writer.key = key;
    const WriteContext context = writeContext(&holder, writer, true);
    return m_root->writeDefaults(treeData(), context, true);
}

JResult Root::convertValue(JVariant* value, const uint32_t* tags, uint32_t count, uint32_t conv) const
{
    JResult r = requireState(ROOT_ACTIVE);
    if (r < 0)
        return r;
    if (tags == nullptr || count == 0)
        return MMS_E_PATH;
    if (value == nullptr)
        return MMS_E_ARG;
    const ParameterNode* parameter = nullptr;
    r = locateParameter(tags, count, &parameter);
    if (r < 0)
        return r;
    JVariant converted;
    r = parameter->admit(&converted, *value, conv);
    if (r >= 0)
        *value = converted;
    return r;
}

JResult Root::getValue(JVariant* out, uint8_t* outSource, const uint32_t* tags, const uint32_t* indexes, uint32_t count,
    bool clear, uint32_t key)
{
    return whenActive(out, [&] {
        if (tags == nullptr || indexes == nullptr || count == 0)
            return MMS_E_PATH;
        uint8_t* page = key != 0 ? m_tasks.page(key) : nullptr;
        return m_root->getValue(treeData(), tags, indexes, count, out, outSource, page, clear && page != nullptr);
    });
}

JResult Root::getValueByName(JVariant* out, uint8_t* outSource, const char* path, uint32_t length,
    const uint32_t* indexes, uint32_t count, bool clear, uint32_t key)
{
    if (m_state != ROOT_ACTIVE)
        return MMS_E_STATE;
    if (path == nullptr || indexes == nullptr)
        return MMS_E_PATH;
    return byName(ROOT_ACTIVE, path, length, count, [&](const uint32_t* tags, uint32_t depth) {
        return getValue(out, outSource, tags, indexes, depth, clear, key);
    });
}

JResult Root::getValueRange(
    JVariantArray* out, const uint32_t* tags, const uint32_t* first, const uint32_t* last, uint32_t count) const
{
    return whenActive(out, [&] {
        if (tags == nullptr || first == nullptr || last == nullptr || count == 0)
            return MMS_E_PATH;
        const ParameterNode* parameter = nullptr;
        const JResult r = locateParameter(tags, count, &parameter);
        if (r < 0)
            return r;
        uint64_t elements = 1;
        for (uint32_t i = 0; i < count; ++i) {
            if (last[i] < first[i])
                return MMS_E_ARG;
            elements *= uint64_t{last[i]} - first[i] + 1;
            if (elements > 0xFFFFFFFFu)
                return MMS_E_ARG;
        }
        if (elements != out->count() || !arrayFits(*out, parameter->type(), true))
            return MMS_E_ARG;
        return m_root->readBox(treeData(), tags, first, last, count, out, nullptr, nullptr, false);
    });
}

} // namespace MMS
