// Root: defining collections and parameters, and the function information.
#include "mms/mms_root.h"
#include "mms/mms_root_internal.h"

#include "pbd/jlib/jvariant.h"

#include <cstring>
#include <new>

namespace MMS {

using JLIB::JVariant;
using JLIB::JVariantArray;
using namespace rootimpl;

// --- Definition -----------------------------------------------------------------------

JResult Root::resolve(const char* path, uint32_t length, uint32_t* tags, uint32_t* count) const
{
    *count = 0;
    if (path == nullptr || length == 0)
        return MMS_OK;
    return m_root->resolveNamePath(path, length, tags, kMaxTags, count);
}

JResult Root::defineCollection(
    uint32_t* outTag, const uint32_t* parentTags, uint32_t depth, const char* name, uint32_t arraySize)
{
    JResult r = requireState(ROOT_DEFINING);
    if (r < 0)
        return r;
    if (outTag == nullptr || (parentTags == nullptr && depth != 0))
        return MMS_E_ARG;
    CollectionNode* parent = nullptr;
    r = m_root->checkDefine(parentTags, depth, name, &parent, &m_names);
    if (r < 0)
        return r;
    CollectionNode* node = m_collector.newCollection();
    if (node == nullptr)
        return MMS_E_MEMORY;
    r = node->construct(name, arraySize);
    if (r >= 0)
        r = parent->adoptChild(m_treeWrapper, node, true, outTag);
    if (r < 0)
        m_collector.takeBack(node);
    return r;
}

JResult Root::defineCollectionByName(
    uint32_t* outTag, const char* parentPath, uint32_t length, const char* name, uint32_t arraySize)
{
    return byName(ROOT_DEFINING, parentPath, length, kAnyDepth,
        [&](const uint32_t* tags, uint32_t depth) { return defineCollection(outTag, tags, depth, name, arraySize); });
}

JResult Root::defineParameter(
    uint32_t* outTag, const uint32_t* parentTags, uint32_t depth, const ParameterDefinition& def)
{
    JResult r = requireState(ROOT_DEFINING);
    if (r < 0)
        return r;
    if (outTag == nullptr || (parentTags == nullptr && depth != 0))
        return MMS_E_ARG;
    // Everything is checked before the pool or the collector gives anything.
    r = ParameterNode::validate(def.name, def.arraySize, def.type);
    if (r < 0)
        return r;
    CollectionNode* parent = nullptr;
    r = m_root->checkDefine(parentTags, depth, def.name, &parent, &m_names);
    if (r < 0)
        return r;

    const uint32_t poolMark = m_pool.usedSize();
    uint32_t unitOffset = 0, unitLength = 0;
    if (def.unit != nullptr && def.unitLength != 0 && def.type != PARAM_STRING) {
        if (m_pool.add(def.unit, def.unitLength, false, &unitOffset, &unitLength) < 0)
            return MMS_E_MEMORY;
    }
    JVariant defaultOffset, nominalOffset;
    const JVariant* defaultValue = def.defaultValue;
    const JVariant* nominal = def.nominal;
    if (def.type == PARAM_STRING) {
        // Texts go into the pool, cut to the element size; the node keeps offsets.
        const uint32_t maxBytes = def.maximum != nullptr ? def.maximum->toInteger() : 0;
        struct Text {
            const JVariant* in;
            JVariant* out;
            const JVariant** use;
        } texts[] = {{def.defaultValue, &defaultOffset, &defaultValue}, {def.nominal, &nominalOffset, &nominal}};
        for (const Text& t : texts) {
            if (t.in == nullptr)
                continue;
            bool ok = false;
            const char* text = t.in->getString(&ok);
            uint32_t offset = 0, length = 0;
            if (!ok || m_pool.add(text, maxBytes, true, &offset, &length) < 0) {
                m_pool.rollback(poolMark);
                return MMS_E_ARG;
            }
            t.out->setUInt32(offset);
            *t.use = t.out;
        }
    }
    ParameterNode* node = m_collector.newParameter();
    if (node == nullptr) {
        m_pool.rollback(poolMark);
        return MMS_E_MEMORY;
    }
    r = node->construct(def.name, def.arraySize, def.type, def.minimum, def.maximum, defaultValue, def.step, nominal,
        unitOffset, unitLength, def.scaling, def.kind);
    if (r >= 0)
        r = parent->adoptChild(m_treeWrapper, node, false, outTag);
    if (r < 0) {
        m_collector.takeBack(node);
        m_pool.rollback(poolMark);
    }
    return r;
}

JResult Root::defineParameterByName(
    uint32_t* outTag, const char* parentPath, uint32_t length, const ParameterDefinition& def)
{
    return byName(ROOT_DEFINING, parentPath, length, kAnyDepth,
        [&](const uint32_t* tags, uint32_t depth) { return defineParameter(outTag, tags, depth, def); });
}

JResult Root::defineUnsupported(const uint32_t* tags, uint32_t count) const
{
    if (m_state != ROOT_DEFINING)
        return MMS_E_STATE;
    if (tags == nullptr && count != 0)
        return MMS_E_ARG;
    return MMS_E_UNSUPPORTED;
}

// --- Function information ------------------------------------------------------------

JResult Root::getFunctionInfo(FunctionInfo* out) const
{
    JResult r = requireState(ROOT_ACTIVE);
    if (r < 0)
        return r;
    if (out == nullptr || out->recordSize != sizeof(FunctionInfo))
        return MMS_E_ARG;
    out->tree = m_root;
    out->treeBlock = m_collector.block();
    out->treeSize = static_cast<uint32_t>(m_collector.blockSize());
    out->pool = m_pool.base();
    out->poolSize = m_pool.usedSize();
    out->definition = m_tagInfo.definition();
    out->definitionSize = m_tagInfo.definitionLength();
    out->data = m_data;
    out->dataSize = m_dataSize;
    out->changeList = m_tasks.base();
    out->changeListSize = m_tasks.size();
    out->pageSize = m_tasks.pageSize();
    out->sources = m_sources;
    out->sourceCount = m_sourceCount;
    out->handlers = m_handlers;
    out->handlerCount = m_handlerCount;
    m_tagInfo.getName(out->name);
    m_tagInfo.getAlias(out->alias);
    out->importSize = m_tasks.importSize();
    out->parameterCount = m_parameterCount;
    out->elementCount = m_elementCount;
    return MMS_OK;
}

namespace {

uint32_t countCollections(const CollectionNode& node)
{
    uint32_t n = 1;
    for (uint32_t i = 0; i < node.collectionCount(); ++i)
        n += countCollections(*node.collectionAt(i));
    return n;
}

uint32_t countParameters(const CollectionNode& node)
{
    uint32_t n = node.parameterCount();
    for (uint32_t i = 0; i < node.collectionCount(); ++i)
        n += countParameters(*node.collectionAt(i));
    return n;
}

} // namespace

JResult Root::getSubtreeInfo(FunctionInfo* out, const uint32_t* tags, uint32_t count) const
{
    JResult r = requireState(ROOT_ACTIVE);
    if (r < 0)
        return r;
    if (out == nullptr || out->recordSize != sizeof(FunctionInfo))
        return MMS_E_ARG;
    // Only nodes of our own block can be described by one block and a node.
    if (!m_collector.inBlock() || !m_treeOwned)
        return MMS_E_STATE;
    CopyPlan plan;
    r = planCopy(tags, nullptr, count, true, &plan);
    if (r < 0)
        return r;
    const CollectionNode& node = *plan.position.endCollection;
    FunctionInfo info;
    info.tree = const_cast<CollectionNode*>(&node);
    info.treeBlock = m_collector.block();
    info.treeSize = static_cast<uint32_t>(m_collector.blockSize());
    info.pool = m_pool.base();
    info.poolSize = m_pool.usedSize();
    info.definition = m_tagInfo.definition() + plan.recordAt;
    info.definitionSize = static_cast<uint32_t>(plan.recordLength);
    info.data = m_data + plan.dataOffset;
    info.dataSize = static_cast<uint32_t>(plan.dataLength);
    // Change pages are kept per function; they stay the function's.
    info.changeList = m_tasks.base();
    info.changeListSize = m_tasks.size();
    info.pageSize = m_tasks.pageSize();
    info.sources = m_sources + plan.firstChange;
    info.sourceCount = plan.changeSpan;
    info.handlers = m_handlers + plan.position.handlerIndex;
    info.handlerCount = node.subtreeCollections;
    std::memcpy(info.name, node.name(), MMS_NAME_SIZE);
    m_tagInfo.getAlias(info.alias);
    info.importSize = m_tasks.importSize();
    info.parameterCount = countParameters(node);
    info.elementCount = node.arraySize() * node.elements.stride;
    *out = info;
    return MMS_OK;
}

JResult Root::getSubtreeInfoByName(FunctionInfo* out, const char* path, uint32_t length) const
{
    return byName(ROOT_ACTIVE, path, length, kAnyDepth,
        [&](const uint32_t* tags, uint32_t depth) { return getSubtreeInfo(out, tags, depth); });
}

JResult Root::createFromInfo(const FunctionInfo& info)
{
    if (m_state != 0 || info.recordSize != sizeof(FunctionInfo) || info.tree == nullptr)
        return MMS_E_ARG;
    const CollectionNode& source = *info.tree;
    JResult r = define(source.name(), countCollections(source) - 1, countParameters(source), 0);
    if (r < 0)
        return r;
    // The pool first, so the parameters' text offsets stay valid.
    m_pool.release(m_treeWrapper);
    if (info.pool != nullptr && info.poolSize != 0 && m_pool.copy(m_treeWrapper, info.pool, info.poolSize) < 0) {
        releaseAll();
        return MMS_E_MEMORY;
    }
    // Rebuild the tree definition by definition: nodes are plain records.
    struct Copier {
        Root* self;
        JResult run(const CollectionNode& from, uint32_t* tags, uint32_t depth)
        {
            for (uint32_t i = 0; i < from.parameterCount(); ++i) {
                ParameterNode* node = self->m_collector.newParameter();
                if (node == nullptr)
                    return MMS_E_MEMORY;
                std::memcpy(static_cast<void*>(node), from.parameterAt(i), sizeof(ParameterNode));
                uint32_t tag = 0;
                const JResult r = self->m_root->defineParameter(self->m_treeWrapper, tags, depth, node, &tag);
                if (r < 0)
                    return r;
            }
            for (uint32_t i = 0; i < from.collectionCount(); ++i) {
                const CollectionNode& child = *from.collectionAt(i);
                uint32_t tag = 0;
                JResult r = self->defineCollection(&tag, tags, depth, child.name(), child.arraySize());
                if (r < 0)
                    return r;
                tags[depth] = tag;
                r = run(child, tags, depth + 1);
                if (r < 0)
                    return r;
            }
            return MMS_OK;
        }
    };
    uint32_t tags[kMaxTags + 1] = {};
    Copier copier{this};
    r = copier.run(source, tags, 0);
    m_tagInfo.setName(info.name);
    m_tagInfo.setAlias(info.alias);
    if (r >= 0)
        r = layout(false);
    if (r >= 0 && (info.data == nullptr || info.dataSize != m_dataSize))
        r = MMS_E_ARG;
    if (r >= 0
        && (info.definitionSize != m_tagInfo.definitionLength()
            || std::memcmp(info.definition, m_tagInfo.definition(), info.definitionSize) != 0))
        r = MMS_E_ARG;
    if (r < 0) {
        releaseAll();
        return r;
    }
    std::memcpy(m_data, info.data, m_dataSize);
    if (info.sources != nullptr && info.sourceCount == m_sourceCount)
        std::memcpy(m_sources, info.sources, m_sourceCount);
    m_state = ROOT_LAID_OUT;
    m_names.clear();
    return MMS_OK;
}

JResult Root::createFromBuffer(const FunctionInfo& info, uint32_t flags, bool treeOwned)
{
    if (m_state != 0 || info.recordSize != sizeof(FunctionInfo) || info.tree == nullptr || info.data == nullptr
        || info.dataSize == 0 || info.sourceCount == 0 || info.pageSize == 0 || info.handlerCount == 0
        || info.definition == nullptr || info.definitionSize == 0)
        return MMS_E_ARG;
    if (m_treeWrapper == nullptr || m_dataWrapper == nullptr || m_listWrapper == nullptr)
        return MMS_E_INNER;
    // The data, source bytes and change pages must hold what the laid-out
    // tree addresses: every set writes at the tree's offsets unchecked.
    const uint32_t changeCount = info.tree->changes.stride;
    if (info.dataSize < info.tree->data.stride || info.sourceCount < changeCount
        || uint64_t{info.pageSize} * 8 < changeCount)
        return MMS_E_ARG;
    m_root = info.tree;
    m_treeOwned = false;
    m_adoptedTables = treeOwned;
    m_flags |= 0x04;
    m_parameterCount = info.parameterCount;
    m_elementCount = info.elementCount;
    JResult r = m_pool.adopt(info.pool, info.poolSize);
    if (r >= 0)
        r = m_tagInfo.attachDefinition(info.definition, info.definitionSize);
    m_tagInfo.setName(info.name);
    m_tagInfo.setAlias(info.alias);
    if (r >= 0) {
        if (flags & BUFFER_COPY_DATA) {
            m_data = static_cast<uint8_t*>(m_dataWrapper->allocate(info.dataSize));
            if (m_data != nullptr)
                std::memcpy(m_data, info.data, info.dataSize);
            m_dataOwned = true;
        } else if (flags & BUFFER_ADOPT) {
            m_data = info.data;
            m_dataOwned = false;
            m_flags |= 0x01;
        } else {
            m_data = static_cast<uint8_t*>(m_dataWrapper->allocate(info.dataSize));
            if (m_data != nullptr)
                std::memset(m_data, 0, info.dataSize);
            m_dataOwned = true;
        }
        m_dataSize = info.dataSize;
        if (m_data == nullptr)
            r = MMS_E_MEMORY;
    }
    if (r >= 0) {
        if ((flags & BUFFER_ADOPT) && info.changeList != nullptr)
            r = m_tasks.adopt(info.changeList, info.changeListSize);
        else
            r = m_tasks.create(m_listWrapper);
    }
    if (r >= 0)
        r = m_tasks.setSizes(info.pageSize, info.importSize);
    if (r >= 0) {
        if ((flags & BUFFER_ADOPT) && info.sources != nullptr) {
            m_sources = info.sources;
            m_sourcesOwned = false;
            m_flags |= 0x10;
        } else {
            m_sources = static_cast<uint8_t*>(m_listWrapper->allocate(info.sourceCount));
            if (m_sources != nullptr)
                std::memset(m_sources, 0, info.sourceCount);
            m_sourcesOwned = true;
        }
        m_sourceCount = info.sourceCount;
        if (m_sources == nullptr)
            r = MMS_E_MEMORY;
    }
    if (r >= 0) {
        if ((flags & (BUFFER_NEW_HANDLERS | BUFFER_COPY_DATA)) || info.handlers == nullptr) {
            r = allocateHandlerTable(info.handlerCount);
        } else {
            m_handlers = info.handlers;
            m_handlerCount = info.handlerCount;
            m_handlersOwned = false;
            m_handlerWrappers.clear();
            m_handlerWrappers.resize(m_handlerCount);
            m_flags |= 0x02;
        }
    }
    if (r < 0) {
        // Adopted parts are left to their owner.
        releaseAll();
        return r;
    }
    m_state = ROOT_LAID_OUT;
    m_names.clear();
    return MMS_OK;
}

JResult Root::setFunctionImage(const FunctionInfo& info, uint32_t flags, uint32_t key)
{
    JResult r = requireState(ROOT_ACTIVE);
    if (r < 0)
        return r;
    if (info.recordSize != sizeof(FunctionInfo) || info.definition == nullptr
        || info.definitionSize != m_tagInfo.definitionLength()
        || std::memcmp(info.definition, m_tagInfo.definition(), info.definitionSize) != 0 || info.data == nullptr
        || info.dataSize != m_dataSize)
        return MMS_E_ARG;
    if (!(flags & IMAGE_TRACK_CHANGES)) {
        std::memcpy(m_data, info.data, m_dataSize);
    } else {
        // Element by element, so that every changed element is marked.
        DirtyFlagHolder holder(&m_tasks, 0, true, key);
        WriterOptions writer;
        writer.key = key;
        writer.own = true;
        const WriteContext context = writeContext(&holder, writer, true);
        uint32_t tags[kMaxTags], indexes[kMaxTags], count = 0;
        uint32_t prevTags[kMaxTags], prevIndexes[kMaxTags], prevCount = 0;
        r = MMS_OK;
        for (uint32_t guard = 0; guard <= m_elementCount; ++guard) {
            const JResult found = m_root->findNext(
                nullptr, 0, prevTags, prevIndexes, prevCount, false, tags, indexes, kMaxTags, &count);
            if (found < 0)
                break;
            std::memcpy(prevTags, tags, sizeof tags);
            std::memcpy(prevIndexes, indexes, sizeof indexes);
            prevCount = count;
            TreeData source = treeData();
            source.data = info.data;
            JVariant value;
            if (m_root->getValue(source, tags, indexes, count, &value) < 0)
                continue;
            r = mms_combine(r, m_root->setValue(treeData(), tags, indexes, count, value, context));
        }
    }
    if ((flags & IMAGE_COPY_SOURCES) && info.sources != nullptr && info.sourceCount == m_sourceCount)
        std::memcpy(m_sources, info.sources, m_sourceCount);
    return r;
}

} // namespace MMS
