// Root: the node collector, construction, the tree block and listener keys.
#include "mms/mms_root.h"
#include "mms/mms_root_internal.h"

#include "pbd/jlib/jvariant.h"

#include <cstring>
#include <new>

namespace MMS {

using JLIB::JVariant;
using JLIB::JVariantArray;
using namespace rootimpl;

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
    m_names.clear();
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
    m_names.clear();
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
    if (r >= 0 || r == MMS_E_UNDEFINED) {
        m_state = ROOT_LAID_OUT;
        m_names.clear();
    }
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
    m_names.clear();
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

} // namespace MMS
