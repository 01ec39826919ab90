#include "mms/mms_root.h"

#include "jlib/jvariant.h"

#include <cstring>
#include <new>

namespace MMS {

using JLIB::JVariant;
using JLIB::JVariantArray;

namespace {

constexpr uint32_t kMaxTags = MMS_MAX_DEPTH;
// For name forms without indexes: no resolved path is deeper than this.
constexpr uint32_t kAnyDepth = kMaxTags;
// Longest name-path text: five names, their slashes and a NUL.
constexpr uint32_t kMaxPathText = MMS_MAX_DEPTH * (MMS_NAME_SIZE + 1) + 1;

uint32_t ceilBytes(uint32_t bits)
{
    return static_cast<uint32_t>((static_cast<uint64_t>(bits) + 7) / 8);
}

size_t nameLength(const char* name)
{
    size_t n = 0;
    while (n < MMS_NAME_SIZE && name[n] != 0)
        ++n;
    return n;
}

bool sameName(const char* a, const char* b)
{
    const size_t n = nameLength(a);
    return n == nameLength(b) && std::memcmp(a, b, n) == 0;
}

// Nodes are cut back to back from one block: each takes a whole number of
// alignment units so the next one starts aligned.
constexpr size_t kNodeAlign
    = alignof(CollectionNode) > alignof(ParameterNode) ? alignof(CollectionNode) : alignof(ParameterNode);
constexpr size_t alignedSize(size_t size)
{
    return (size + kNodeAlign - 1) / kNodeAlign * kNodeAlign;
}
constexpr size_t kCollectionNodeSize = alignedSize(sizeof(CollectionNode));
constexpr size_t kParameterNodeSize = alignedSize(sizeof(ParameterNode));

} // namespace

// --- TreeNodeCollector --------------------------------------------------------

TreeNodeCollector::~TreeNodeCollector()
{
    release();
}

JResult TreeNodeCollector::create(SharedMemWrapper* wrapper, uint32_t collections, uint32_t parameters)
{
    if (wrapper == nullptr)
        return MMS_E_INNER;
    release();
    m_wrapper = wrapper;
    m_collectionCapacity = collections;
    m_parameterCapacity = parameters;
    if (collections == 0 && parameters == 0)
        return MMS_OK;
    const uint64_t size = static_cast<uint64_t>(collections) * kCollectionNodeSize
        + static_cast<uint64_t>(parameters) * kParameterNodeSize;
    if (size > 0x7FFFFFFFu)
        return MMS_E_ARG;
    m_block = static_cast<uint8_t*>(wrapper->allocate(static_cast<size_t>(size)));
    if (m_block == nullptr)
        return MMS_E_MEMORY;
    std::memset(m_block, 0, static_cast<size_t>(size));
    m_blockSize = static_cast<size_t>(size);
    m_owned = true;
    return MMS_OK;
}

void* TreeNodeCollector::cut(size_t size, bool collection)
{
    void* node = nullptr;
    if (m_block == nullptr) {
        if (m_wrapper == nullptr || m_collectionCapacity != 0 || m_parameterCapacity != 0)
            return nullptr;
        node = m_wrapper->allocate(size);
        if (node == nullptr)
            return nullptr;
        std::memset(node, 0, size);
        m_separate.push_back(node);
    } else {
        // The counts came from the definition: more nodes than counted are
        // refused rather than cut past the block.
        const uint32_t used = collection ? m_collectionsUsed : m_parametersUsed;
        const uint32_t capacity = collection ? m_collectionCapacity : m_parameterCapacity;
        if (used >= capacity || m_blockUsed + size > m_blockSize)
            return nullptr;
        node = m_block + m_blockUsed;
        m_blockUsed += size;
    }
    ++(collection ? m_collectionsUsed : m_parametersUsed);
    m_last = node;
    m_lastIsCollection = collection;
    return node;
}

CollectionNode* TreeNodeCollector::newCollection()
{
    void* memory = cut(kCollectionNodeSize, true);
    return memory == nullptr ? nullptr : new (memory) CollectionNode();
}

ParameterNode* TreeNodeCollector::newParameter()
{
    void* memory = cut(kParameterNodeSize, false);
    return memory == nullptr ? nullptr : new (memory) ParameterNode();
}

void TreeNodeCollector::takeBack(const void* node)
{
    if (node == nullptr || node != m_last)
        return;
    const size_t size = m_lastIsCollection ? kCollectionNodeSize : kParameterNodeSize;
    --(m_lastIsCollection ? m_collectionsUsed : m_parametersUsed);
    if (m_block != nullptr) {
        m_blockUsed -= size;
        std::memset(m_block + m_blockUsed, 0, size);
    } else {
        m_wrapper->free(m_separate.back());
        m_separate.pop_back();
    }
    m_last = nullptr;
}

void TreeNodeCollector::release()
{
    if (m_wrapper != nullptr) {
        for (void* node : m_separate)
            m_wrapper->free(node);
        if (m_owned && m_block != nullptr)
            m_wrapper->free(m_block);
    }
    m_separate.clear();
    m_block = nullptr;
    m_blockSize = m_blockUsed = 0;
    m_owned = false;
    m_collectionsUsed = m_parametersUsed = 0;
    m_collectionCapacity = m_parameterCapacity = 0;
    m_last = nullptr;
}

// Where a collection record and its data lie, for copies and images.
struct Root::CopyPlan {
    TreePosition position;
    size_t recordAt = 0; // in the definition block
    uint64_t recordLength = 0;
    uint64_t dataOffset = 0; // of the first copied element
    uint64_t dataLength = 0;
    uint32_t firstChange = 0; // own change index of the first copied element
    uint32_t changeSpan = 0; // change indexes of the copied elements
    uint32_t elements = 0; // copied collection elements
    bool whole = false;
};

// --- Root: construction ---------------------------------------------------------

Root::Root(SharedMemWrapper* treeWrapper, SharedMemWrapper* dataWrapper, SharedMemWrapper* listWrapper)
    : m_treeWrapper(treeWrapper)
    , m_dataWrapper(dataWrapper)
    , m_listWrapper(listWrapper)
{
}

Root::~Root()
{
    releaseAll();
}

void Root::releaseAll()
{
    // Handlers go first: they may look at the tree while they are released.
    if (m_handlers != nullptr) {
        for (uint32_t i = 0; i < m_handlerCount; ++i) {
            if (m_handlers[i] == nullptr || !m_handlersOwned)
                continue;
            // The handler's owned object goes with the function, before the
            // handler is released.
            m_handlers[i]->ownedObject().reset();
            m_handlers[i]->release();
        }
        if (m_handlersOwned)
            m_treeWrapper->free(m_handlers);
    }
    m_handlers = nullptr;
    m_handlerCount = 0;
    m_handlerWrappers.clear();
    if (m_root != nullptr && (m_treeOwned || m_adoptedTables))
        m_root->releaseTables(m_treeWrapper);
    m_root = nullptr;
    m_collector.release();
    m_pool.release(m_treeWrapper);
    m_tagInfo.releaseDefinitionQuiet(m_treeWrapper);
    if (m_dataOwned)
        m_dataWrapper->free(m_data);
    m_data = nullptr;
    m_dataSize = 0;
    m_tasks.release(m_listWrapper);
    if (m_sourcesOwned)
        m_listWrapper->free(m_sources);
    m_sources = nullptr;
    m_sourceCount = 0;
    m_state = 0;
}

JResult Root::define(const char* functionName, uint32_t collections, uint32_t parameters, uint32_t stringSize)
{
    if (m_state != 0 || m_treeWrapper == nullptr || m_dataWrapper == nullptr || m_listWrapper == nullptr)
        return MMS_E_INNER;
    // One more collection node for the function level.
    const uint32_t collectionNodes = collections == 0 && parameters == 0 ? 0 : collections + 1;
    if (collections == 0xFFFFFFFFu || m_tasks.create(m_listWrapper) < 0
        || m_collector.create(m_treeWrapper, collectionNodes, parameters) < 0
        || m_pool.create(m_treeWrapper, stringSize) < 0) {
        releaseAll();
        return MMS_E_INNER;
    }
    CollectionNode* root = m_collector.newCollection();
    if (root == nullptr || root->construct(functionName, 1) < 0) {
        releaseAll();
        return MMS_E_INNER;
    }
    m_root = root;
    m_treeOwned = true;
    if (m_collector.inBlock())
        m_flags |= 0x80;
    m_tagInfo.setName(functionName);
    m_state = ROOT_DEFINING;
    return MMS_OK;
}

JResult Root::requireState(uint8_t state) const
{
    return m_state == state ? MMS_OK : MMS_E_STATE;
}

JResult Root::allocateHandlerTable(uint32_t count)
{
    if (count == 0)
        return MMS_E_ARG;
    const size_t bytes = sizeof(ICollectionHandler*) * count;
    m_handlers = static_cast<ICollectionHandler**>(m_treeWrapper->allocate(bytes));
    if (m_handlers == nullptr)
        return MMS_E_MEMORY;
    std::memset(m_handlers, 0, bytes);
    m_handlerCount = count;
    m_handlersOwned = true;
    m_handlerWrappers.clear();
    m_handlerWrappers.resize(count);
    return MMS_OK;
}

// The definition block: one collection record per collection, its parameter
// records, then its child collections' records.
namespace {

uint64_t recordSize(const CollectionNode& node)
{
    uint64_t size = COLLECTION_RECORD_SIZE + uint64_t{PARAMETER_RECORD_SIZE} * node.parameterCount();
    for (uint32_t i = 0; i < node.collectionCount(); ++i)
        size += recordSize(*node.collectionAt(i));
    return size;
}

JResult writeRecords(const CollectionNode& node, uint8_t* out, uint32_t arraySize)
{
    const uint32_t parameterBytes = PARAMETER_RECORD_SIZE * node.parameterCount();
    const uint64_t childBytes = recordSize(node) - COLLECTION_RECORD_SIZE - parameterBytes;
    JResult r = buildCollectionRecord(out, node.name(), parameterBytes, static_cast<uint32_t>(childBytes),
        node.data.base, node.data.stride, arraySize);
    if (r < 0)
        return MMS_E_INNER;
    uint8_t* at = out + COLLECTION_RECORD_SIZE;
    for (uint32_t i = 0; i < node.parameterCount(); ++i) {
        const ParameterNode& p = *node.parameterAt(i);
        const uint32_t width = p.elementWidth();
        // The record's width field holds 16 bits.
        if (width > 0xFFFF || p.arraySize() > 0xFFFF)
            return MMS_E_INNER;
        r = buildParameterRecord(
            at, p.name(), static_cast<uint16_t>(width), static_cast<uint16_t>(p.arraySize()), p.type());
        if (r < 0)
            return MMS_E_INNER;
        at += PARAMETER_RECORD_SIZE;
    }
    for (uint32_t i = 0; i < node.collectionCount(); ++i) {
        const CollectionNode& child = *node.collectionAt(i);
        r = writeRecords(child, at, child.arraySize());
        if (r < 0)
            return r;
        at += recordSize(child);
    }
    return MMS_OK;
}

} // namespace

JResult Root::buildDefinitionBlock(std::vector<uint8_t>* out) const
{
    const uint64_t size = recordSize(*m_root);
    if (size > 0x7FFFFFFFu)
        return MMS_E_INNER;
    out->assign(static_cast<size_t>(size), 0);
    return writeRecords(*m_root, out->data(), 1);
}

JResult Root::layout(bool writeDefaults)
{
    LayoutTotals totals;
    if (m_root == nullptr || m_root->layout(&totals) < 0)
        return MMS_E_INNER;
    if (totals.dataSize == 0 || totals.changeCount == 0 || totals.collectionCount == 0)
        return MMS_E_ARG;
    m_parameterCount = totals.parameterCount;
    m_elementCount = totals.elementCount;

    m_data = static_cast<uint8_t*>(m_dataWrapper->allocate(totals.dataSize));
    if (m_data == nullptr)
        return MMS_E_MEMORY;
    std::memset(m_data, 0, totals.dataSize);
    m_dataSize = totals.dataSize;
    m_dataOwned = true;
    if (m_tasks.setSizes(ceilBytes(totals.changeCount), ceilBytes(totals.collectionElements)) < 0)
        return MMS_E_ARG;
    m_sources = static_cast<uint8_t*>(m_listWrapper->allocate(totals.changeCount));
    if (m_sources == nullptr)
        return MMS_E_MEMORY;
    std::memset(m_sources, 0, totals.changeCount);
    m_sourceCount = totals.changeCount;
    m_sourcesOwned = true;

    std::vector<uint8_t> block;
    if (buildDefinitionBlock(&block) < 0
        || m_tagInfo.copyDefinition(m_treeWrapper, block.data(), static_cast<uint32_t>(block.size())) < 0)
        return MMS_E_INNER;
    const JResult r = allocateHandlerTable(totals.collectionCount);
    if (r < 0)
        return r;
    if (writeDefaults) {
        WriterOptions none;
        const WriteContext context = writeContext(nullptr, none, false);
        if (m_root->writeDefaults(treeData(), context, false) < 0)
            return MMS_E_UNDEFINED;
    }
    return MMS_OK;
}

JResult Root::finishDefinition(bool writeDefaults)
{
    if (m_state == ROOT_LAID_OUT)
        return MMS_OK;
    JResult r = requireState(ROOT_DEFINING);
    if (r < 0)
        return r;
    r = layout(writeDefaults);
    if (r >= 0 || r == MMS_E_UNDEFINED)
        m_state = ROOT_LAID_OUT;
    return r;
}

JResult Root::activate(bool writeDefaults)
{
    if (m_state == ROOT_ACTIVE)
        return MMS_FOUND;
    JResult r = MMS_OK;
    if (m_state == ROOT_DEFINING) {
        r = finishDefinition(writeDefaults);
        if (r < 0 && r != MMS_E_UNDEFINED)
            return r;
    } else if (m_state != ROOT_LAID_OUT) {
        return MMS_E_STATE;
    }
    m_state = ROOT_ACTIVE;
    return r;
}

JResult Root::installSetOrderNotify(ISetOrderNotify* object)
{
    JResult r = requireState(ROOT_ACTIVE);
    if (r < 0)
        return r;
    // A refusal is a failure code, so that callers testing the sign see it.
    if (object == nullptr)
        return MMS_E_ARG;
    if (m_notify.installed())
        return MMS_E_EXISTS;
    r = m_notify.install(object);
    return r < 0 ? MMS_E_EXISTS : MMS_OK;
}

JResult Root::setFunctionName(const char* name)
{
    const JResult r = requireState(ROOT_DEFINING);
    if (r < 0)
        return r;
    m_tagInfo.setName(name);
    return MMS_OK;
}

JResult Root::getFunctionName(char* out24) const
{
    const JResult r = requireState(ROOT_ACTIVE);
    return r < 0 ? r : m_tagInfo.getName(out24);
}

JResult Root::setFunctionAlias(const char* alias)
{
    const JResult r = requireState(ROOT_DEFINING);
    if (r < 0)
        return r;
    m_tagInfo.setAlias(alias);
    return MMS_OK;
}

JResult Root::getFunctionAlias(char* out12) const
{
    const JResult r = requireState(ROOT_ACTIVE);
    return r < 0 ? r : m_tagInfo.getAlias(out12);
}

// --- Keys ---------------------------------------------------------------------------

JResult Root::addKey(uint32_t key, uint32_t mask, uint32_t pageCount)
{
    return m_tasks.addKey(m_listWrapper, mask, key, pageCount);
}

JResult Root::releaseKey(uint32_t key)
{
    return m_tasks.releaseKey(m_listWrapper, key);
}

JResult Root::advanceFirstCursor(uint32_t key)
{
    return m_tasks.advanceFirstCursor(key);
}

JResult Root::advanceSecondCursor(uint32_t key)
{
    return m_tasks.advanceSecondCursor(key);
}

JResult Root::markAllForKey(uint32_t key)
{
    return m_tasks.markAll(key);
}

JResult Root::clearAllForKey(uint32_t key)
{
    return m_tasks.clearAll(key);
}

// --- Definition -----------------------------------------------------------------------

JResult Root::resolve(const char* path, uint32_t length, uint32_t* tags, uint32_t* count) const
{
    *count = 0;
    if (path == nullptr || length == 0)
        return MMS_OK;
    return m_root->resolveNamePath(path, length, tags, kMaxTags, count);
}

// The name forms: the path is resolved in the state the tag form needs, and the
// caller's indexes must reach at least as deep as the path.
template <typename TagForm>
JResult Root::byName(uint8_t state, const char* path, uint32_t length, uint32_t indexCount, TagForm tagForm) const
{
    if (m_state != state)
        return MMS_E_STATE;
    uint32_t tags[kMaxTags];
    uint32_t depth = 0;
    const JResult r = resolve(path, length, tags, &depth);
    if (r < 0)
        return r;
    if (indexCount < depth)
        return MMS_E_PATH;
    return tagForm(tags, depth);
}

// The walks by name: the previous position comes in as a name path, the step
// finds the next one by tags, and that goes out as name path text.
template <typename Step>
JResult Root::walkByName(char* outPath, uint32_t size, uint32_t* outIndexes, uint32_t* outCount, uint32_t max,
    const char* prevPath, uint32_t prevLength, uint32_t prevCount, bool leadingSlash, Step step) const
{
    if (m_state != ROOT_ACTIVE)
        return MMS_E_STATE;
    if (outPath == nullptr || outIndexes == nullptr || outCount == nullptr)
        return MMS_E_ARG;
    return byName(ROOT_ACTIVE, prevPath, prevLength, prevCount, [&](const uint32_t* prevTags, uint32_t depth) {
        uint32_t tags[kMaxTags];
        const JResult r = step(tags, max < kMaxTags ? max : kMaxTags, prevTags, depth);
        return r < 0 ? r : m_root->buildNamePath(tags, *outCount, outPath, size, leadingSlash);
    });
}

// The queries of an active root: state first, then the caller's out pointer,
// then the query itself.
template <typename Use> JResult Root::whenActive(const void* out, Use use) const
{
    const JResult r = requireState(ROOT_ACTIVE);
    if (r < 0)
        return r;
    return out == nullptr ? MMS_E_ARG : use();
}

// The same for a query of the node at a tag path.
template <typename Use>
JResult Root::withDefinition(const void* out, const uint32_t* tags, uint32_t count, Use use) const
{
    return whenActive(out, [&] {
        TreePosition position;
        const JResult r = m_root->locateDefinition(tags, count, &position);
        return r < 0 ? r : use(static_cast<const TreePosition&>(position));
    });
}

// The same for a query of the parameter at a tag path.
template <typename Use>
JResult Root::withParameter(const void* out, const uint32_t* tags, uint32_t count, Use use) const
{
    return whenActive(out, [&] {
        const ParameterNode* parameter = nullptr;
        const JResult r = locateParameter(tags, count, &parameter);
        return r < 0 ? r : use(*parameter);
    });
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
    r = m_root->checkDefine(parentTags, depth, name, &parent);
    if (r < 0)
        return r;
    CollectionNode* node = m_collector.newCollection();
    if (node == nullptr)
        return MMS_E_MEMORY;
    r = node->construct(name, arraySize);
    if (r >= 0)
        r = m_root->defineCollection(m_treeWrapper, parentTags, depth, node, outTag);
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
    r = m_root->checkDefine(parentTags, depth, def.name, &parent);
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
        r = m_root->defineParameter(m_treeWrapper, parentTags, depth, node, outTag);
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

// --- Images -----------------------------------------------------------------------------

// Offset of the record of the collection at a tag path in the definition block.
JResult Root::recordOffset(const uint32_t* tags, uint32_t count, size_t* out) const
{
    const uint8_t* block = m_tagInfo.definition();
    const size_t length = m_tagInfo.definitionLength();
    size_t at = 0;
    const CollectionNode* node = m_root;
    for (uint32_t level = 0; level < count; ++level) {
        const uint32_t parameters = node->parameterCount();
        if (tags[level] < parameters || tags[level] >= node->childCount())
            return MMS_E_PATH;
        const uint32_t child = tags[level] - parameters;
        const uint8_t* c = collectionAt(block, length, at);
        if (c == nullptr)
            return MMS_E_INNER;
        size_t next = at + COLLECTION_RECORD_SIZE + imageLoad32(c + ImageLayout::COL_PARAMETER_BYTES);
        for (uint32_t i = 0; i < child; ++i) {
            const uint64_t end = collectionEnd(block, length, next);
            if (end <= next || end > length)
                return MMS_E_INNER;
            next = static_cast<size_t>(end);
        }
        at = next;
        node = node->collectionAt(child);
    }
    *out = at;
    return MMS_OK;
}

// indexes null: every index 0. whole: every element of the collection.
JResult Root::planCopy(const uint32_t* tags, const uint32_t* indexes, uint32_t count, bool whole, CopyPlan* plan) const
{
    if (count != 0 && tags == nullptr)
        return MMS_E_ARG;
    TreePosition& position = plan->position;
    JResult r = indexes != nullptr || count == 0 ? m_root->locate(tags, indexes, count, &position)
                                                 : m_root->locateDefinition(tags, count, &position);
    if (r < 0)
        return r;
    if (position.parameter != nullptr)
        return MMS_E_PATH;
    const CollectionNode& node = *position.endCollection;
    r = recordOffset(tags, count, &plan->recordAt);
    if (r < 0)
        return r;
    const uint64_t end = collectionEnd(m_tagInfo.definition(), m_tagInfo.definitionLength(), plan->recordAt);
    if (end <= plan->recordAt || end > m_tagInfo.definitionLength())
        return MMS_E_INNER;
    plan->recordLength = end - plan->recordAt;
    plan->whole = whole && count != 0;
    plan->elements = plan->whole ? node.arraySize() : 1;
    const uint32_t skipped = plan->whole ? position.elementIndex : 0;
    plan->dataOffset = position.dataOffset - uint64_t{skipped} * node.data.stride;
    plan->dataLength = uint64_t{plan->elements} * node.data.stride;
    plan->firstChange = position.changeIndex - skipped * node.changes.stride;
    plan->changeSpan = plan->elements * node.changes.stride;
    if (plan->dataOffset + plan->dataLength > m_dataSize)
        return MMS_E_INNER;
    return MMS_OK;
}

// The record (offset 0; array size 1 unless whole) and then the data.
JResult Root::writeCopy(const CopyPlan& plan, uint8_t* buffer, uint32_t size) const
{
    if (plan.recordLength + plan.dataLength > size)
        return MMS_E_ARG;
    size_t written = 0;
    const JResult r = copyCollectionRecord(buffer, size, m_tagInfo.definition(), m_tagInfo.definitionLength(),
        plan.recordAt, plan.whole ? 0 : 1, &written);
    if (r < 0)
        return r;
    if (written != plan.recordLength)
        return MMS_E_INNER;
    std::memcpy(buffer + written, m_data + plan.dataOffset, static_cast<size_t>(plan.dataLength));
    return MMS_OK;
}

// Clears the copied elements' bits, then the enclosing elements' own bits
// that have nothing left below them.
void Root::clearCopied(const CopyPlan& plan, uint8_t* page) const
{
    if (page == nullptr || !mms_anyBit(page, plan.firstChange, plan.changeSpan))
        return;
    mms_clearBits(page, plan.firstChange, plan.changeSpan);
    m_root->clearEmptyEnclosing(plan.position, page, 0);
}

// The copy of a position into out, after the checks both copy forms share. The
// page of marks to clear comes back, for when the caller's whole result stands.
JResult Root::copyInto(uint8_t* out, uint32_t size, const uint32_t* tags, const uint32_t* indexes, uint32_t count,
    const ExportOptions& options, CopyPlan* plan, uint8_t** page)
{
    if (count != 0 && indexes == nullptr)
        return MMS_E_PATH;
    if (options.clear && (*page = m_tasks.page(options.key)) == nullptr)
        return MMS_E_ARG;
    const JResult r = planCopy(tags, indexes, count, options.wholeCollection, plan);
    return r < 0 ? r : writeCopy(*plan, out, size);
}

JResult Root::getImageSize(uint32_t* out, const uint32_t* tags, uint32_t count) const
{
    return getImageSize(out, tags, count, false);
}

JResult Root::getImageSize(uint32_t* out, const uint32_t* tags, uint32_t count, bool wholeCollection) const
{
    JResult r = requireState(ROOT_ACTIVE);
    if (r < 0)
        return r;
    if (out == nullptr)
        return MMS_E_ARG;
    CopyPlan plan;
    r = planCopy(tags, nullptr, count, wholeCollection, &plan);
    if (r < 0)
        return r;
    const uint64_t total = IMAGE_HEADER_SIZE + plan.recordLength + plan.dataLength;
    if (total > 0xFFFFFFFFu)
        return MMS_E_ARG;
    *out = static_cast<uint32_t>(total);
    return MMS_OK;
}

JResult Root::getImageSizeByName(uint32_t* out, const char* path, uint32_t length, bool wholeCollection) const
{
    return byName(ROOT_ACTIVE, path, length, kAnyDepth,
        [&](const uint32_t* tags, uint32_t depth) { return getImageSize(out, tags, depth, wholeCollection); });
}

JResult Root::exportImage(uint8_t* buffer, uint32_t* outLength, uint32_t size, const uint32_t* tags,
    const uint32_t* indexes, uint32_t count, int order) const
{
    return const_cast<Root*>(this)->exportImage(buffer, outLength, size, tags, indexes, count, order, ExportOptions());
}

JResult Root::exportImage(uint8_t* buffer, uint32_t* outLength, uint32_t size, const uint32_t* tags,
    const uint32_t* indexes, uint32_t count, int order, const ExportOptions& options)
{
    JResult r = requireState(ROOT_ACTIVE);
    if (r < 0)
        return r;
    if (buffer == nullptr || outLength == nullptr || size <= IMAGE_HEADER_SIZE)
        return MMS_E_ARG;
    if (order < IMAGE_ORDER_HOST || order > IMAGE_ORDER_BIG)
        return MMS_E_ARG;
    CopyPlan plan;
    uint8_t* page = nullptr;
    r = copyInto(buffer + IMAGE_HEADER_SIZE, size - IMAGE_HEADER_SIZE, tags, indexes, count, options, &plan, &page);
    if (r < 0)
        return r;
    const auto length1 = static_cast<uint32_t>(plan.recordLength);
    const auto length2 = static_cast<uint32_t>(plan.dataLength);
    uint8_t* part1 = buffer + IMAGE_HEADER_SIZE;
    r = convertForExport(part1, length1, part1 + length1, length2, order);
    if (r >= 0)
        r = m_tagInfo.writeImageHeader(buffer, length1, length2, order);
    if (r < 0)
        return r;
    // Only a complete image takes the marks away.
    clearCopied(plan, page);
    *outLength = IMAGE_HEADER_SIZE + length1 + length2;
    return MMS_OK;
}

JResult Root::exportImageByName(uint8_t* buffer, uint32_t* outLength, uint32_t size, const char* path, uint32_t length,
    const uint32_t* indexes, uint32_t count, int order, const ExportOptions& options)
{
    return byName(ROOT_ACTIVE, path, length, count, [&](const uint32_t* tags, uint32_t depth) {
        return exportImage(buffer, outLength, size, tags, indexes, depth, order, options);
    });
}

JResult Root::copyCollection(uint8_t* buffer, uint32_t size, uint32_t* outLength, const uint32_t* tags,
    const uint32_t* indexes, uint32_t count, const ExportOptions& options)
{
    JResult r = requireState(ROOT_ACTIVE);
    if (r < 0)
        return r;
    if (buffer == nullptr || outLength == nullptr)
        return MMS_E_ARG;
    CopyPlan plan;
    uint8_t* page = nullptr;
    r = copyInto(buffer, size, tags, indexes, count, options, &plan, &page);
    if (r < 0)
        return r;
    clearCopied(plan, page);
    *outLength = static_cast<uint32_t>(plan.recordLength + plan.dataLength);
    return MMS_OK;
}

namespace {

// Passes every mark on and keeps a copy of the change bits, so that the
// collection handlers can be shown what an import changed.
class RecordingHolder : public IDirtyFlagHolder {
public:
    RecordingHolder(IDirtyFlagHolder* inner, std::vector<uint8_t>* bits)
        : m_inner(inner)
        , m_bits(bits)
    {
    }
    void markChange(uint32_t bit) override
    {
        m_inner->markChange(bit);
        if (bit / 8 < m_bits->size())
            mms_setBit(m_bits->data(), bit);
    }
    void markImportFlag(uint32_t bit) override { m_inner->markImportFlag(bit); }
    void markImportSearch(uint32_t bit) override { m_inner->markImportSearch(bit); }

private:
    IDirtyFlagHolder* m_inner;
    std::vector<uint8_t>* m_bits;
};

} // namespace

// Each changed element below a handler is handed to the handlers on its path
// as a set of that value would be.
JResult Root::runImportHandlers(const uint8_t* changed, const WriterOptions& writer, JResult result)
{
    std::vector<uint8_t> bits(changed, changed + m_tasks.pageSize());
    uint32_t tags[kMaxTags], indexes[kMaxTags], count = 0;
    uint32_t prevTags[kMaxTags] = {}, prevIndexes[kMaxTags] = {}, prevCount = 0;
    // Each step finds a later element, so the element count bounds the walk.
    for (uint64_t step = 0; step <= m_elementCount; ++step) {
        if (m_root->findNext(bits.data(), 0, prevTags, prevIndexes, prevCount, false, tags, indexes, kMaxTags, &count)
            < 0)
            break;
        if (handlerOnPath(tags, count)) {
            JVariant value;
            if (m_root->getValue(treeData(), tags, indexes, count, &value) >= 0) {
                const JResult r = runHandlers(value, tags, indexes, count, writer, result);
                if (r < 0)
                    return r;
                result = r;
            }
        }
        std::memcpy(prevTags, tags, sizeof tags);
        std::memcpy(prevIndexes, indexes, sizeof indexes);
        prevCount = count;
    }
    return result;
}

JResult Root::importInto(uint8_t* image, uint32_t length, const uint8_t* companion, uint32_t companionLength,
    const uint32_t* tags, const uint32_t* indexes, uint32_t count, uint32_t flags, const WriterOptions& writer)
{
    JResult r = requireState(ROOT_ACTIVE);
    if (r < 0)
        return r;
    if (image == nullptr || length == 0)
        return MMS_E_ARG;
    if (count != 0 && (tags == nullptr || indexes == nullptr))
        return MMS_E_PATH;
    CopyPlan plan;
    if (count != 0 && (r = planCopy(tags, indexes, count, false, &plan)) < 0)
        return r;
    const uint8_t* protect = nullptr;
    uint32_t protectLength = 0;
    r = checkCompanionImage(&m_tagInfo, &protect, &protectLength, companion, companionLength);
    if (r < 0)
        return r;
    if (protect != nullptr && protectLength != m_dataSize)
        return MMS_E_ARG;
    bool same = false;
    uint8_t *part1 = nullptr, *part2 = nullptr;
    uint32_t length1 = 0, length2 = 0;
    int mode = 0;
    r = splitImage(&m_tagInfo, &same, &part1, &length1, &part2, &length2, &mode, image, length);
    if (r < 0)
        return r;
    // Converted all at once or not at all; the header follows only after success.
    r = convertForImport(part1, length1, part2, length2, mode);
    if (r < 0)
        return r;
    if (mode != 0)
        swapImageHeader(image);
    if (count == 0) {
        // A definition that reads the same is imported by position.
        if (!same)
            same = length1 == m_tagInfo.definitionLength() && std::memcmp(part1, m_tagInfo.definition(), length1) == 0;
    } else {
        // The header's digest covers the exported record, never the
        // function's block: compare the record itself, with the stored
        // array size.
        same = false;
        if (length1 == plan.recordLength && length1 >= COLLECTION_RECORD_SIZE) {
            std::vector<uint8_t> own(length1);
            const uint32_t storedArray = imageLoad32(part1 + ImageLayout::COL_ARRAY_SIZE);
            size_t written = 0;
            same = storedArray != 0
                && copyCollectionRecord(own.data(), own.size(), m_tagInfo.definition(), m_tagInfo.definitionLength(),
                       plan.recordAt, storedArray, &written)
                    >= 0
                && written == length1 && std::memcmp(own.data(), part1, length1) == 0;
        }
    }
    DirtyFlagHolder holder(&m_tasks, (flags & IMPORT_SKIP_MASK_2) ? 2u : 0u, writer.own, writer.key);
    std::vector<uint8_t> changed;
    RecordingHolder recorder(&holder, &changed);
    const bool handlers = (flags & IMPORT_RUN_HANDLERS) != 0 && m_handlersInstalled != 0;
    if (handlers)
        changed.assign(m_tasks.pageSize(), 0);
    IDirtyFlagHolder* dirty = handlers ? static_cast<IDirtyFlagHolder*>(&recorder) : &holder;
    const WriteContext context = writeContext(dirty, writer, true);
    r = count == 0
        ? m_root->importImage(treeData(), part1, length1, part2, length2, same, protect, context)
        : m_root->importImageAt(treeData(), plan.position, part1, length1, part2, length2, same, protect, context);
    if (r >= 0 && (r & MMS_CHANGED) && count != 0) {
        // The enclosing collection elements received a change too.
        for (uint32_t level = 0; level < count; ++level) {
            TreePosition enclosing;
            if (m_root->locate(tags, indexes, level, &enclosing) >= 0) {
                dirty->markImportFlag(enclosing.collectionElement);
                dirty->markImportSearch(enclosing.collectionElement);
            }
        }
    }
    if (r >= 0 && (r & MMS_CHANGED) && handlers)
        r = runImportHandlers(changed.data(), writer, r);
    return r;
}

JResult Root::importImage(uint8_t* image, uint32_t length, const uint8_t* companion, uint32_t companionLength,
    uint32_t flags, const WriterOptions& writer)
{
    return importInto(image, length, companion, companionLength, nullptr, nullptr, 0, flags, writer);
}

JResult Root::importImage(uint8_t* image, uint32_t length, const uint8_t* companion, uint32_t companionLength,
    const uint32_t* tags, const uint32_t* indexes, uint32_t count, uint32_t flags, const WriterOptions& writer)
{
    return importInto(image, length, companion, companionLength, tags, indexes, count, flags, writer);
}

JResult Root::importImageByName(uint8_t* image, uint32_t length, const uint8_t* companion, uint32_t companionLength,
    const char* path, uint32_t pathLength, const uint32_t* indexes, uint32_t count, uint32_t flags,
    const WriterOptions& writer)
{
    return byName(ROOT_ACTIVE, path, pathLength, count, [&](const uint32_t* tags, uint32_t depth) {
        return importInto(image, length, companion, companionLength, tags, indexes, depth, flags, writer);
    });
}

JResult Root::importImageCopy(const uint8_t* image, uint32_t length, const uint8_t* companion, uint32_t companionLength,
    uint32_t flags, const WriterOptions& writer)
{
    return importImageCopy(image, length, companion, companionLength, nullptr, nullptr, 0, flags, writer);
}

JResult Root::importImageCopy(const uint8_t* image, uint32_t length, const uint8_t* companion, uint32_t companionLength,
    const uint32_t* tags, const uint32_t* indexes, uint32_t count, uint32_t flags, const WriterOptions& writer)
{
    if (image == nullptr || length == 0)
        return MMS_E_ARG;
    std::vector<uint8_t> copy(image, image + length);
    return importInto(copy.data(), length, companion, companionLength, tags, indexes, count, flags, writer);
}

JResult Root::importImageCopyByName(const uint8_t* image, uint32_t length, const uint8_t* companion,
    uint32_t companionLength, const char* path, uint32_t pathLength, const uint32_t* indexes, uint32_t count,
    uint32_t flags, const WriterOptions& writer)
{
    if (image == nullptr || length == 0)
        return MMS_E_ARG;
    std::vector<uint8_t> copy(image, image + length);
    return importImageByName(
        copy.data(), length, companion, companionLength, path, pathLength, indexes, count, flags, writer);
}

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

// --- RootList ------------------------------------------------------------------------------

void RootList::RootDeleter::operator()(Root* root) const
{
    mms_wrapDelete(root);
}

RootList::RootList(IMemoryAllocator* tree, IMemoryAllocator* data, IMemoryAllocator* list)
    : m_treeWrapper(tree)
    , m_dataWrapper(data)
    , m_listWrapper(list)
{
}

RootList::~RootList()
{
    m_nodes.clear();
}

JResult RootList::checkName(const char* name) const
{
    if (name == nullptr)
        return MMS_E_ARG;
    const size_t n = nameLength(name);
    if (n == 0 || n >= MMS_NAME_SIZE)
        return MMS_E_ARG;
    for (const Node& node : m_nodes) {
        if (sameName(node.name, name))
            return MMS_E_EXISTS;
    }
    return MMS_OK;
}

JResult RootList::insert(const char* name, Root* root)
{
    std::unique_ptr<Root, RootDeleter> owner(root);
    if (root == nullptr)
        return MMS_E_ARG;
    const JResult r = checkName(name);
    if (r < 0)
        return r;
    Node node{};
    std::memcpy(node.name, name, nameLength(name));
    node.root = std::move(owner);
    m_nodes.push_back(std::move(node));
    return MMS_OK;
}

JResult RootList::define(
    const char* listName, const char* functionName, uint32_t collections, uint32_t parameters, uint32_t stringSize)
{
    // Checked first, so a duplicate leaves everything as it was.
    JResult r = checkName(listName);
    if (r < 0)
        return r;
    std::unique_ptr<Root, RootDeleter> root(mms_wrapNew<Root>(&m_treeWrapper, &m_dataWrapper, &m_listWrapper));
    if (!root)
        return MMS_E_MEMORY;
    r = root->define(functionName, collections, parameters, stringSize);
    if (r < 0)
        return r;
    return insert(listName, root.release());
}

JResult RootList::addFromImage(const char* listName, const FunctionInfo& info)
{
    JResult r = checkName(listName);
    if (r < 0)
        return r;
    std::unique_ptr<Root, RootDeleter> root(mms_wrapNew<Root>(&m_treeWrapper, &m_dataWrapper, &m_listWrapper));
    if (!root)
        return MMS_E_MEMORY;
    r = root->createFromInfo(info);
    if (r < 0)
        return r;
    return insert(listName, root.release());
}

JResult RootList::addFromBuffer(const char* listName, const FunctionInfo& info, uint32_t flags, bool treeOwned)
{
    JResult r = checkName(listName);
    if (r < 0)
        return r;
    std::unique_ptr<Root, RootDeleter> root(mms_wrapNew<Root>(&m_treeWrapper, &m_dataWrapper, &m_listWrapper));
    if (!root)
        return MMS_E_MEMORY;
    r = root->createFromBuffer(info, flags, treeOwned);
    if (r < 0)
        return r;
    return insert(listName, root.release());
}

Root* RootList::find(const char* name) const
{
    if (m_nodes.empty())
        return nullptr;
    if (name == nullptr)
        return m_nodes.front().root.get();
    for (const Node& node : m_nodes) {
        if (sameName(node.name, name))
            return node.root.get();
    }
    return nullptr;
}

Root* RootList::find(size_t index) const
{
    return index < m_nodes.size() ? m_nodes[index].root.get() : nullptr;
}

JResult RootList::nameAt(size_t index, char* out24) const
{
    if (index >= m_nodes.size())
        return MMS_E_PATH;
    if (out24 == nullptr)
        return MMS_E_ARG;
    std::memcpy(out24, m_nodes[index].name, MMS_NAME_SIZE);
    return MMS_OK;
}

JResult RootList::remove(const char* name)
{
    if (name == nullptr)
        return MMS_E_ARG;
    for (auto it = m_nodes.begin(); it != m_nodes.end(); ++it) {
        if (sameName(it->name, name)) {
            m_nodes.erase(it);
            return MMS_OK;
        }
    }
    return MMS_OK;
}

} // namespace MMS
