// One function's parameter memory (MMS::Root): its collection tree, data
// image, text pool, change-tracking list, per-element source bytes and
// collection-handler table; the field's list of functions (MMS::RootList);
// and the allocator of tree nodes (MMS::TreeNodeCollector).
#pragma once

#include "mms/mms_change.h"
#include "mms/mms_image.h"
#include "mms/mms_paramtype.h"
#include "mms/mms_tree.h"
#include "mms/mms_wrap.h"
#include "pbd/jlib/jlib_result.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace JLIB {
class JVariant;
class JVariantArray;
} // namespace JLIB

namespace MMS {

enum RootState : uint8_t { ROOT_DEFINING = 1, ROOT_LAID_OUT = 2, ROOT_ACTIVE = 3 };

// Flags of Root::createFromBuffer.
enum BufferFlags : uint32_t {
    BUFFER_ADOPT = 0x01, // adopt data, change list and source bytes
    BUFFER_NEW_HANDLERS = 0x02, // a fresh handler table instead of the adopted one
    BUFFER_COPY_DATA = 0x04, // own copy of the data (and a fresh handler table)
};

// Flags of Root::setFunctionImage.
enum FunctionImageFlags : uint32_t {
    IMAGE_TRACK_CHANGES = 0x01, // copy element by element, marking changes
    IMAGE_COPY_SOURCES = 0x02, // copy the per-element source bytes too
};

// Flags of Root::importImage.
enum ImportFlags : uint32_t {
    IMPORT_SKIP_MASK_2 = 0x01, // keys whose mask includes 2 are not marked
    IMPORT_NO_TRIGGER = 0x02, // for the field: no trigger
    IMPORT_RUN_HANDLERS = 0x10, // the collection handlers see each changed element
};

// How exportImage and copyCollection take a collection at a path.
struct ExportOptions {
    bool wholeCollection = false; // every element of the collection (else the one addressed)
    bool clear = false; // clear the copied elements' change bits on key's current page
    uint32_t key = 0;
};

// Exchanged between functions of this library: everything a function's
// memory consists of.
struct FunctionInfo {
    uint32_t recordSize = sizeof(FunctionInfo);
    CollectionNode* tree = nullptr; // root collection node
    uint8_t* treeBlock = nullptr; // the collector's block (null when nodes are separate)
    uint32_t treeSize = 0;
    uint8_t* pool = nullptr;
    uint32_t poolSize = 0; // used bytes
    uint8_t* definition = nullptr;
    uint32_t definitionSize = 0;
    uint8_t* data = nullptr;
    uint32_t dataSize = 0;
    uint8_t* changeList = nullptr;
    uint32_t changeListSize = 0;
    uint32_t pageSize = 0;
    uint8_t* sources = nullptr;
    uint32_t sourceCount = 0; // change-bit positions
    ICollectionHandler** handlers = nullptr;
    uint32_t handlerCount = 0; // collection definitions
    char name[MMS_NAME_SIZE] = {};
    char alias[IMAGE_ALIAS_SIZE] = {};
    uint32_t importSize = 0;
    uint32_t parameterCount = 0;
    uint32_t elementCount = 0;
};

// What defineParameter takes besides the parent path. The five values are
// null when absent.
struct ParameterDefinition {
    const char* name = nullptr;
    uint32_t type = 0;
    uint32_t arraySize = 1;
    const JLIB::JVariant* minimum = nullptr;
    const JLIB::JVariant* maximum = nullptr;
    const JLIB::JVariant* defaultValue = nullptr;
    const JLIB::JVariant* step = nullptr;
    const JLIB::JVariant* nominal = nullptr;
    const char* unit = nullptr;
    uint32_t unitLength = 0; // with the NUL; 0 = no unit
    uint32_t scaling = 1;
    uint32_t kind = 0;
};

// The writer of a changing call.
struct WriterOptions {
    uint8_t source = 0;
    bool own = false;
    uint32_t conv = 0; // admission flags
    uint32_t key = 0;
    IWriteFilter* filter = nullptr;
};

// Cuts tree nodes from one zero-filled block sized by the definition's
// counts, or makes each node a separate block when both counts are 0.
class TreeNodeCollector {
public:
    TreeNodeCollector() = default;
    ~TreeNodeCollector();
    TreeNodeCollector(const TreeNodeCollector&) = delete;
    TreeNodeCollector& operator=(const TreeNodeCollector&) = delete;

    JResult create(SharedMemWrapper* wrapper, uint32_t collections, uint32_t parameters);
    // Null when the kind's count is used up (never past the block) or without memory.
    CollectionNode* newCollection();
    ParameterNode* newParameter();
    // Gives back the node made last (a definition that failed).
    void takeBack(const void* node);
    void release();

    bool inBlock() const { return m_block != nullptr; }
    uint8_t* block() const { return m_block; }
    size_t blockSize() const { return m_blockSize; }
    uint32_t collectionsUsed() const { return m_collectionsUsed; }
    uint32_t parametersUsed() const { return m_parametersUsed; }

private:
    void* cut(size_t size, bool collection);

    SharedMemWrapper* m_wrapper = nullptr;
    bool m_owned = false;
    uint32_t m_collectionCapacity = 0;
    uint32_t m_parameterCapacity = 0;
    uint32_t m_collectionsUsed = 0;
    uint32_t m_parametersUsed = 0;
    uint8_t* m_block = nullptr;
    size_t m_blockSize = 0;
    size_t m_blockUsed = 0;
    const void* m_last = nullptr;
    bool m_lastIsCollection = false;
    std::vector<void*> m_separate; // nodes made one by one
};

class Root {
public:
    Root(SharedMemWrapper* treeWrapper, SharedMemWrapper* dataWrapper, SharedMemWrapper* listWrapper);
    virtual ~Root();
    Root(const Root&) = delete;
    Root& operator=(const Root&) = delete;

    // Construction (one of the three, once).
    JResult define(const char* functionName, uint32_t collections, uint32_t parameters, uint32_t stringSize);
    JResult createFromInfo(const FunctionInfo& info);
    // treeOwned: the adopted tree's child tables are released with this root.
    JResult createFromBuffer(const FunctionInfo& info, uint32_t flags, bool treeOwned);

    // Lifecycle.
    uint8_t getState() const { return m_state; }
    JResult finishDefinition(bool writeDefaults);
    JResult activate(bool writeDefaults);
    // Takes ownership on success. A null object or a second installation is
    // refused with a failure code.
    JResult installSetOrderNotify(ISetOrderNotify* object);
    JResult setFunctionName(const char* name);
    JResult getFunctionName(char* out24) const;
    JResult setFunctionAlias(const char* alias);
    JResult getFunctionAlias(char* out12) const;
    JResult getFunctionLabel(char* out12) const { return getFunctionAlias(out12); }

    // Listener keys.
    JResult addKey(uint32_t key, uint32_t mask, uint32_t pageCount);
    JResult releaseKey(uint32_t key);
    JResult advanceFirstCursor(uint32_t key);
    JResult advanceSecondCursor(uint32_t key);
    JResult markAllForKey(uint32_t key);
    JResult clearAllForKey(uint32_t key);

    // Definition.
    JResult defineCollection(
        uint32_t* outTag, const uint32_t* parentTags, uint32_t depth, const char* name, uint32_t arraySize);
    JResult defineCollectionByName(
        uint32_t* outTag, const char* parentPath, uint32_t length, const char* name, uint32_t arraySize);
    JResult defineParameter(
        uint32_t* outTag, const uint32_t* parentTags, uint32_t depth, const ParameterDefinition& definition);
    JResult defineParameterByName(
        uint32_t* outTag, const char* parentPath, uint32_t length, const ParameterDefinition& definition);
    // The definition operations this library does not support.
    JResult defineUnsupported(const uint32_t* tags, uint32_t count) const;

    // Function information.
    JResult getFunctionInfo(FunctionInfo* out) const;
    JResult setFunctionImage(const FunctionInfo& info, uint32_t flags, uint32_t key);

    // Addressing.
    JResult resolveNamePath(
        uint32_t* outTags, uint32_t* outCount, uint32_t maxTags, const char* path, uint32_t length) const;
    JResult buildNamePath(char* out, uint32_t size, const uint32_t* tags, uint32_t count, bool leadingSlash) const;
    JResult getParameterNumber(uint32_t* out, const uint32_t* tags, uint32_t count) const;
    JResult tagPathFromParameterNumber(uint32_t* outTags, uint32_t* outCount, uint32_t maxTags, uint32_t number) const;
    JResult addressFromElementNumber(
        uint32_t* outTags, uint32_t* outIndexes, uint32_t* outCount, uint32_t max, uint32_t number) const;
    JResult namePathFromElementNumber(
        char* out, uint32_t size, uint32_t* outIndexes, uint32_t* outCount, uint32_t max, uint32_t number) const;

    // Values.
    JResult setValue(const JLIB::JVariant& value, const uint32_t* tags, const uint32_t* indexes, uint32_t count,
        const WriterOptions& writer);
    JResult setValueByName(const JLIB::JVariant& value, const char* path, uint32_t length, const uint32_t* indexes,
        uint32_t count, const WriterOptions& writer);
    JResult setValues(const JLIB::JVariantArray& values, const uint32_t* tags, const uint32_t* first,
        const uint32_t* last, uint32_t count, bool repeat, const WriterOptions& writer);
    JResult setValuesByName(const JLIB::JVariantArray& values, const char* path, uint32_t length, const uint32_t* first,
        const uint32_t* last, uint32_t count, bool repeat, const WriterOptions& writer);
    JResult resetToDefaults(uint8_t source, bool own, uint32_t key);
    JResult convertValue(JLIB::JVariant* value, const uint32_t* tags, uint32_t count, uint32_t conv) const;
    JResult convertValueByName(JLIB::JVariant* value, const char* path, uint32_t length, uint32_t conv) const;
    JResult getValue(JLIB::JVariant* out, uint8_t* outSource, const uint32_t* tags, const uint32_t* indexes,
        uint32_t count, bool clear, uint32_t key);
    JResult getValueByName(JLIB::JVariant* out, uint8_t* outSource, const char* path, uint32_t length,
        const uint32_t* indexes, uint32_t count, bool clear, uint32_t key);
    JResult getValueRange(JLIB::JVariantArray* out, const uint32_t* tags, const uint32_t* first, const uint32_t* last,
        uint32_t count) const;
    JResult getValueRangeByName(JLIB::JVariantArray* out, const char* path, uint32_t length, const uint32_t* first,
        const uint32_t* last, uint32_t count) const;

    // Change queries.
    JResult isChanged(
        bool* out, const uint32_t* tags, const uint32_t* indexes, uint32_t count, bool clear, uint32_t key);
    JResult isChangedByName(bool* out, const char* path, uint32_t length, const uint32_t* indexes, uint32_t count,
        bool clear, uint32_t key);
    JResult isImportMarked(
        bool* out, const uint32_t* tags, const uint32_t* indexes, uint32_t count, bool clear, uint32_t key);
    JResult isImportMarkedByName(bool* out, const char* path, uint32_t length, const uint32_t* indexes, uint32_t count,
        bool clear, uint32_t key);
    JResult hasImportMarks(bool* out, uint32_t key) const;
    JResult getNextChanged(uint32_t* outTags, uint32_t* outIndexes, uint32_t* outCount, uint32_t max,
        const uint32_t* prevTags, const uint32_t* prevIndexes, uint32_t prevCount, bool clear, uint32_t key);
    JResult getNextChangedByName(char* outPath, uint32_t size, uint32_t* outIndexes, uint32_t* outCount, uint32_t max,
        const char* prevPath, uint32_t prevLength, const uint32_t* prevIndexes, uint32_t prevCount, bool clear,
        uint32_t key, bool leadingSlash);
    JResult getNextElement(uint32_t* outTags, uint32_t* outIndexes, uint32_t* outCount, uint32_t max,
        const uint32_t* prevTags, const uint32_t* prevIndexes, uint32_t prevCount) const;
    JResult getNextMarked(uint32_t* outTags, uint32_t* outIndexes, uint32_t* outCount, uint32_t max,
        const uint32_t* prevTags, const uint32_t* prevIndexes, uint32_t prevCount, uint8_t* bits, uint32_t bitOffset,
        bool clear) const;
    // Position as a name path text, as getNextChangedByName.
    JResult getNextElementByName(char* outPath, uint32_t size, uint32_t* outIndexes, uint32_t* outCount, uint32_t max,
        const char* prevPath, uint32_t prevLength, const uint32_t* prevIndexes, uint32_t prevCount,
        bool leadingSlash) const;
    JResult getNextMarkedByName(char* outPath, uint32_t size, uint32_t* outIndexes, uint32_t* outCount, uint32_t max,
        const char* prevPath, uint32_t prevLength, const uint32_t* prevIndexes, uint32_t prevCount, uint8_t* bits,
        uint32_t bitOffset, bool clear, bool leadingSlash) const;

    // Images of the function (empty path) or of one collection element.
    JResult getImageSize(uint32_t* out, const uint32_t* tags, uint32_t count) const;
    // wholeCollection: of every element of the collection at the path.
    JResult getImageSize(uint32_t* out, const uint32_t* tags, uint32_t count, bool wholeCollection) const;
    JResult getImageSizeByName(uint32_t* out, const char* path, uint32_t length, bool wholeCollection = false) const;
    JResult exportImage(uint8_t* buffer, uint32_t* outLength, uint32_t size, const uint32_t* tags,
        const uint32_t* indexes, uint32_t count, int order) const;
    JResult exportImage(uint8_t* buffer, uint32_t* outLength, uint32_t size, const uint32_t* tags,
        const uint32_t* indexes, uint32_t count, int order, const ExportOptions& options);
    JResult exportImageByName(uint8_t* buffer, uint32_t* outLength, uint32_t size, const char* path, uint32_t length,
        const uint32_t* indexes, uint32_t count, int order, const ExportOptions& options = ExportOptions());
    // The collection record at a path (offset 0; array size 1, or the
    // collection's with wholeCollection), then the data of the element or of
    // the whole collection, in host order. The buffer must hold both
    // (MMS_E_ARG otherwise). With options.clear the copied elements' change
    // bits are cleared on the key's current page, and the enclosing
    // collection elements' bits when nothing is left set below them.
    JResult copyCollection(uint8_t* buffer, uint32_t size, uint32_t* outLength, const uint32_t* tags,
        const uint32_t* indexes, uint32_t count, const ExportOptions& options);
    // Imports an image of the whole function. The caller's buffer is
    // converted to host order only when the whole image checks out.
    // companion (may be null): an image of this function's definition whose
    // data part is the protect mask.
    JResult importImage(uint8_t* image, uint32_t length, const uint8_t* companion, uint32_t companionLength,
        uint32_t flags, const WriterOptions& writer);
    // The same on a copy: the caller's buffer is never changed.
    JResult importImageCopy(const uint8_t* image, uint32_t length, const uint8_t* companion, uint32_t companionLength,
        uint32_t flags, const WriterOptions& writer);
    // Into the collection element at a path (count 0: the whole function):
    // the image is one a path export made (its top record describes that
    // collection); stored element e goes into element index + e while there
    // is one. The companion is an image of the whole function as above.
    JResult importImage(uint8_t* image, uint32_t length, const uint8_t* companion, uint32_t companionLength,
        const uint32_t* tags, const uint32_t* indexes, uint32_t count, uint32_t flags, const WriterOptions& writer);
    JResult importImageByName(uint8_t* image, uint32_t length, const uint8_t* companion, uint32_t companionLength,
        const char* path, uint32_t pathLength, const uint32_t* indexes, uint32_t count, uint32_t flags,
        const WriterOptions& writer);
    JResult importImageCopy(const uint8_t* image, uint32_t length, const uint8_t* companion, uint32_t companionLength,
        const uint32_t* tags, const uint32_t* indexes, uint32_t count, uint32_t flags, const WriterOptions& writer);
    JResult importImageCopyByName(const uint8_t* image, uint32_t length, const uint8_t* companion,
        uint32_t companionLength, const char* path, uint32_t pathLength, const uint32_t* indexes, uint32_t count,
        uint32_t flags, const WriterOptions& writer);

    // Function information of the subtree at a collection path (count 0: the
    // whole function): its node, record, data and source bytes of every
    // element, its handler-table entries; the change list stays the
    // function's. Only for a tree that lies in the collector's block and is
    // owned (MMS_E_STATE otherwise).
    JResult getSubtreeInfo(FunctionInfo* out, const uint32_t* tags, uint32_t count) const;
    JResult getSubtreeInfoByName(FunctionInfo* out, const char* path, uint32_t length) const;

    // Collection handlers (state 2).
    JResult installCollectionHandler(const uint32_t* tags, uint32_t count, ICollectionHandler* handler);
    JResult removeCollectionHandler(const uint32_t* tags, uint32_t count);
    JResult getCollectionHandler(ICollectionHandler** out, const uint32_t* tags, uint32_t count) const;
    JResult installCollectionHandlerByName(const char* path, uint32_t length, ICollectionHandler* handler);
    JResult removeCollectionHandlerByName(const char* path, uint32_t length);
    JResult getCollectionHandlerByName(ICollectionHandler** out, const char* path, uint32_t length) const;
    uint32_t installedHandlerCount() const { return m_handlersInstalled; }

    // Name path -> tag path in any state after definition began (an empty
    // path gives count 0). For the name-path twins of the field.
    JResult resolvePath(const char* path, uint32_t length, uint32_t* outTags, uint32_t* outCount) const;

    // Counts and attributes.
    JResult getCollectionNodeCount(uint32_t* out) const;
    JResult getTaskItemBase(const uint8_t** out) const;
    JResult getParameterCount(uint32_t* out) const;
    JResult getElementCount(uint32_t* out) const;
    TaskListIdentity getIdentity() const { return m_tasks.identity(); }
    JResult getNameTableSize(uint32_t* out, bool flag) const;
    JResult getNamePathSize(uint32_t* out, const uint32_t* tags, uint32_t count) const;
    JResult getChildCount(uint32_t* out, const uint32_t* tags, uint32_t count) const;
    JResult getNodeName(char* out24, const uint32_t* tags, uint32_t count) const;
    JResult getArraySize(uint32_t* out, const uint32_t* tags, uint32_t count) const;
    JResult isParameter(bool* out, const uint32_t* tags, uint32_t count) const;
    JResult getType(uint32_t* out, const uint32_t* tags, uint32_t count) const;
    JResult getDefault(JLIB::JVariant* out, const uint32_t* tags, uint32_t count) const;
    JResult getMinimum(JLIB::JVariant* out, const uint32_t* tags, uint32_t count) const;
    JResult getMaximum(JLIB::JVariant* out, const uint32_t* tags, uint32_t count) const;
    JResult getStep(JLIB::JVariant* out, const uint32_t* tags, uint32_t count) const;
    JResult getNominal(JLIB::JVariant* out, const uint32_t* tags, uint32_t count) const;
    JResult getUnitLength(uint32_t* out, const uint32_t* tags, uint32_t count) const;
    // The unit text with its NUL (at most 23 characters).
    JResult getUnit(char* out24, const uint32_t* tags, uint32_t count) const;
    JResult getScaling(uint32_t* out, const uint32_t* tags, uint32_t count) const;
    JResult getKind(uint32_t* out, const uint32_t* tags, uint32_t count) const;
    // Parameter elements, change bits and bytes of one element of the node.
    JResult getLeafCount(uint32_t* out, const uint32_t* tags, uint32_t count) const;
    JResult getBitCount(uint32_t* out, const uint32_t* tags, uint32_t count) const;
    JResult getElementSize(uint32_t* out, const uint32_t* tags, uint32_t count) const;

    // For the field and the tests.
    TaskItemList& tasks() { return m_tasks; }
    const CollectionTagInfo& tagInfo() const { return m_tagInfo; }
    const uint8_t* data() const { return m_data; }
    uint32_t dataSize() const { return m_dataSize; }
    const uint8_t* sources() const { return m_sources; }
    const CollectionNode* tree() const { return m_root; }

private:
    JResult requireState(uint8_t state) const;
    JResult layout(bool writeDefaults);
    JResult buildDefinitionBlock(std::vector<uint8_t>* out) const;
    JResult allocateHandlerTable(uint32_t count);
    JResult resolve(const char* path, uint32_t length, uint32_t* tags, uint32_t* count) const;
    JResult locateParameter(const uint32_t* tags, uint32_t count, const ParameterNode** out) const;
    template <typename TagForm>
    JResult byName(uint8_t state, const char* path, uint32_t length, uint32_t indexCount, TagForm tagForm) const;
    template <typename Use> JResult withParameter(const void* out, const uint32_t* tags, uint32_t count, Use use) const;
    template <typename Use>
    JResult withDefinition(const void* out, const uint32_t* tags, uint32_t count, Use use) const;
    template <typename Use> JResult whenActive(const void* out, Use use) const;
    TreeData treeData() const;
    WriteContext writeContext(IDirtyFlagHolder* dirty, const WriterOptions& writer, bool notify);
    JResult runHandlers(const JLIB::JVariant& value, const uint32_t* tags, const uint32_t* indexes, uint32_t count,
        const WriterOptions& writer, JResult firstPass);
    bool handlerOnPath(const uint32_t* tags, uint32_t count) const;
    struct CopyPlan;
    JResult planCopy(const uint32_t* tags, const uint32_t* indexes, uint32_t count, bool whole, CopyPlan* plan) const;
    JResult writeCopy(const CopyPlan& plan, uint8_t* buffer, uint32_t size) const;
    void clearCopied(const CopyPlan& plan, uint8_t* page) const;
    JResult copyInto(uint8_t* out, uint32_t size, const uint32_t* tags, const uint32_t* indexes, uint32_t count,
        const ExportOptions& options, CopyPlan* plan, uint8_t** page);
    JResult handlerSlot(const uint32_t* tags, uint32_t count, uint32_t* index) const;
    JResult runImportHandlers(const uint8_t* changed, const WriterOptions& writer, JResult result);
    JResult importInto(uint8_t* image, uint32_t length, const uint8_t* companion, uint32_t companionLength,
        const uint32_t* tags, const uint32_t* indexes, uint32_t count, uint32_t flags, const WriterOptions& writer);
    template <typename Step>
    JResult walkByName(char* outPath, uint32_t size, uint32_t* outIndexes, uint32_t* outCount, uint32_t max,
        const char* prevPath, uint32_t prevLength, uint32_t prevCount, bool leadingSlash, Step step) const;
    JResult recordOffset(const uint32_t* tags, uint32_t count, size_t* out) const;
    void releaseAll();

    SharedMemWrapper* m_treeWrapper;
    SharedMemWrapper* m_dataWrapper;
    SharedMemWrapper* m_listWrapper;

    uint8_t m_flags = 0;
    uint8_t m_state = 0;
    CollectionNode* m_root = nullptr;
    bool m_treeOwned = true; // our nodes, from our collector
    bool m_adoptedTables = false; // release the adopted tree's child tables on destruction
    uint32_t m_parameterCount = 0;
    uint32_t m_elementCount = 0;
    CollectionTagInfo m_tagInfo;
    StringMemoryFactory m_pool;
    TreeNodeCollector m_collector;
    // Only while defining: dropped whenever the state changes.
    ChildNameIndex m_names;
    SetOrderNotifyWrapper m_notify;
    uint8_t* m_data = nullptr;
    uint32_t m_dataSize = 0;
    bool m_dataOwned = false;
    TaskItemList m_tasks;
    uint8_t* m_sources = nullptr;
    uint32_t m_sourceCount = 0;
    bool m_sourcesOwned = false;
    ICollectionHandler** m_handlers = nullptr;
    uint32_t m_handlerCount = 0;
    bool m_handlersOwned = false;
    uint32_t m_handlersInstalled = 0;
    std::vector<std::unique_ptr<CollectionWrapper>> m_handlerWrappers;
};

// The field's functions by name, in the order they were added.
class RootList {
public:
    // The three allocators (each may be null) back the wrappers shared by every root.
    RootList(IMemoryAllocator* tree = nullptr, IMemoryAllocator* data = nullptr, IMemoryAllocator* list = nullptr);
    ~RootList();
    RootList(const RootList&) = delete;
    RootList& operator=(const RootList&) = delete;

    JResult define(
        const char* listName, const char* functionName, uint32_t collections, uint32_t parameters, uint32_t stringSize);
    JResult addFromImage(const char* listName, const FunctionInfo& info);
    JResult addFromBuffer(const char* listName, const FunctionInfo& info, uint32_t flags, bool treeOwned);

    // Null name: the first root.
    Root* find(const char* name) const;
    Root* find(size_t index) const;
    JResult nameAt(size_t index, char* out24) const;
    size_t count() const { return m_nodes.size(); }
    JResult remove(const char* name);

private:
    struct RootDeleter {
        void operator()(Root* root) const;
    };
    struct Node {
        char name[MMS_NAME_SIZE];
        std::unique_ptr<Root, RootDeleter> root;
    };
    // Checks the name and appends; the root is destroyed on refusal.
    JResult insert(const char* name, Root* root);
    JResult checkName(const char* name) const;

    SharedMemWrapper m_treeWrapper;
    SharedMemWrapper m_dataWrapper;
    SharedMemWrapper m_listWrapper;
    std::vector<Node> m_nodes;
};

} // namespace MMS
