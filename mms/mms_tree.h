// A function's definition tree: the root collection (function level),
// nested collections and parameters as leaves; tags, tag paths, index arrays
// and name paths; the packed layout; values by path; change walks; imports.
//
// Nodes hold no pointers: child tables refer to their entries and children by
// offsets from the table itself, so the nodes can be copied as a block.
#pragma once

#include "mms/mms_param.h"
#include "mms/mms_paramtype.h"
#include "pbd/jlib/jlib_result.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace JLIB {
class JVariant;
class JVariantArray;
} // namespace JLIB

namespace MMS {

class SharedMemWrapper;
class CollectionWrapper;
class CollectionNode;

// Entries of a collection: a count and a self-relative array of self-relative
// offsets to the children (native size, so nodes in separate blocks work).
struct ChildTable {
    uint32_t count = 0;
    int64_t arrayOffset = 0; // from this table to the entry array; 0 = none

    // One more entry (the array grows by doubling through the wrapper):
    // MMS_E_MEMORY without memory, MMS_E_INNER without wrapper.
    JResult append(SharedMemWrapper* wrapper, const void* child);
    // Takes back the last entry (a definition that failed after appending).
    void dropLast();
    // Null when i is not below the count.
    void* entry(uint32_t i) const;
    // Frees the entry array.
    void release(SharedMemWrapper* wrapper);
};

// The object the library makes on the stack for the duration of a handler call.
class ILinkReason {
public:
    virtual ~ILinkReason() = default;
};

// What a handler hands over to the function that holds it; the function
// deletes it when it is destroyed.
class IHandlerObject {
public:
    virtual ~IHandlerObject() = default;
};

// A handler that can take over sets below a collection.
class ICollectionHandler {
public:
    // Low word negative: the set fails; non-zero: taken over (0x800); zero:
    // the set goes on below the collection.
    virtual int64_t handle(const JLIB::JVariant& value, void* callerContext, uint32_t elementIndex,
        const uint32_t* restTags, const uint32_t* restIndexes, uint32_t restCount, ILinkReason* reason,
        void* continuation)
        = 0;
    virtual JResult attach(CollectionWrapper* wrapper) = 0;
    virtual JResult release() = 0;
    // Called once when the function is destroyed, before release(): the
    // object given (may be null) passes to the function, which deletes it.
    virtual std::unique_ptr<IHandlerObject> ownedObject() = 0;
    virtual ~ICollectionHandler() = default;
};

// Totals of a laid-out function.
struct LayoutTotals {
    uint32_t dataSize = 0; // bytes of the data image
    uint32_t changeCount = 0; // change-bit positions (own bits of collection elements included)
    uint32_t elementCount = 0; // parameter elements
    uint32_t imageSize = 0; // bytes of the definition block
    uint32_t collectionElements = 0; // import-mark positions
    uint32_t definitionCount = 0; // definition numbers (collections and parameters)
    uint32_t collectionCount = 0; // collection definitions (handler table entries)
    uint32_t parameterCount = 0; // parameter definitions
};

// The place a tag path with its index array leads to.
struct TreePosition {
    const CollectionNode* collection = nullptr; // holder of the last node (or the last collection itself)
    const ParameterNode* parameter = nullptr; // null when the path ends at a collection
    const CollectionNode* endCollection = nullptr;
    uint32_t depth = 0;
    uint64_t dataOffset = 0; // of the collection element holding the parameter (or the addressed one)
    uint32_t changeIndex = 0; // own change index of that collection element
    uint32_t elementNumber = 0; // element number of that collection element's first leaf
    uint32_t collectionElement = 0; // collection-element number of that collection element
    uint32_t handlerIndex = 0; // handler index of the collection at the end (or holding the parameter)
    uint32_t definitionNumber = 0; // of the end node
    uint32_t elementIndex = 0; // the index at the last level
    uint32_t levelChange[MMS_MAX_DEPTH + 1] = {}; // own change index of the collection element per level
    uint32_t levelStride[MMS_MAX_DEPTH + 1] = {}; // change indexes per element of that collection
    uint32_t levelCount = 0; // collection levels on the way (root counted)

    // Element 0 of the parameter at this position, in data.
    ElementPlace place(uint8_t* data) const;
};

// What value operations over the tree need of the function.
struct TreeData {
    uint8_t* data = nullptr; // data image
    uint32_t dataSize = 0;
    const StringMemoryFactory* pool = nullptr;
    uint8_t* sources = nullptr; // one byte per change index
};

class CollectionNode;

// Names of the children of the collections being defined, so that a define
// finds a duplicate without scanning every sibling (a layout of n parameters
// in one collection loads in linear time). Each collection's set catches up
// with the children added since it was last consulted, so children appended
// by any path are seen. Holds node addresses: cleared whenever the tree is
// rebuilt or the definition ends, which also gives its memory back.
class ChildNameIndex {
public:
    bool contains(const CollectionNode& parent, const char* name24);
    void clear()
    {
        m_sets.clear();
        m_lastParent = nullptr;
        m_last = nullptr;
    }

private:
    // Parameters and collections are counted apart: each table only grows
    // at its end, while tags of collections move when a parameter is added.
    // A name as its 24 zero-padded bytes: kept and looked up without a heap
    // block per name.
    struct Key {
        char bytes[MMS_NAME_SIZE];
    };
    // An open-addressing set of keys (linear probing, at most half full); an
    // all-zero slot is free, as no child has an empty name.
    class KeySet {
    public:
        // False when the key was there already.
        bool insert(const Key& key);
        bool contains(const Key& key) const;

    private:
        static size_t hash(const Key& key);
        size_t find(const Key& key) const; // its slot, or the free slot it would take
        std::vector<Key> m_slots;
        size_t m_count = 0;
    };
    struct Names {
        uint32_t parameters = 0; // already in the set
        uint32_t collections = 0;
        KeySet names;
    };
    static Key keyOf(const char* name24);
    std::unordered_map<const CollectionNode*, Names> m_sets;
    // The last collection asked about: a layout defines its children in a row.
    const CollectionNode* m_lastParent = nullptr;
    Names* m_last = nullptr;
};

class CollectionNode {
public:
    // Name of 1 to 23 characters without space, tab or "/"; array size >= 1
    // (0 is taken as 1). MMS_E_INNER otherwise.
    JResult construct(const char* name, uint32_t arraySize);

    const char* name() const { return m_name; }
    uint32_t arraySize() const { return m_arraySize; }
    bool isParameter() const { return false; }
    uint32_t parameterCount() const { return parameters.count; }
    uint32_t collectionCount() const { return collections.count; }
    uint32_t childCount() const { return parameters.count + collections.count; }
    ParameterNode* parameterAt(uint32_t i) const { return static_cast<ParameterNode*>(parameters.entry(i)); }
    CollectionNode* collectionAt(uint32_t i) const { return static_cast<CollectionNode*>(collections.entry(i)); }
    // Tag -> child: parameter tags come first; null for a tag out of range.
    ParameterNode* parameterByTag(uint32_t tag) const;
    CollectionNode* collectionByTag(uint32_t tag) const;
    // Name (24 bytes) of the child with this tag; null when out of range.
    const char* childName(uint32_t tag) const;

    // Layout pairs (base relative to the parent element; stride per element).
    Pair data; // offset in the parent element; element size
    Pair elements; // first element number; element numbers per element
    Pair changes; // first change index; change indexes per element
    Pair collectionElements; // first collection-element number; per element
    Pair image; // record offset in the parent record; record size
    Pair handler; // number among collection definitions relative to the parent; 1
    uint32_t numberBase = 0;
    uint32_t numberCount = 0;
    uint32_t subtreeCollections = 0; // collection definitions in this subtree, itself included
    ChildTable collections;
    ChildTable parameters;

    // --- definition (on the root) ---

    // Checks that a child named name may go under the parent path: MMS_E_DEPTH
    // for a parent path longer than 4, MMS_E_PATH for a path that does not
    // lead to a collection, MMS_E_EXISTS for a name in use, MMS_E_INNER for a
    // bad name. Takes nothing, so callers check before they store texts.
    // index (may be null: the siblings are scanned) finds duplicates.
    JResult checkDefine(const uint32_t* parentTags, uint32_t depth, const char* name, CollectionNode** parent,
        ChildNameIndex* index = nullptr) const;
    // Appends a constructed node under the parent path; out tag = its tag.
    JResult defineCollection(SharedMemWrapper* wrapper, const uint32_t* parentTags, uint32_t depth,
        CollectionNode* node, uint32_t* outTag, ChildNameIndex* index = nullptr);
    JResult defineParameter(SharedMemWrapper* wrapper, const uint32_t* parentTags, uint32_t depth, ParameterNode* node,
        uint32_t* outTag, ChildNameIndex* index = nullptr);
    // Appends a constructed node as a child of this collection, which
    // checkDefine gave as the parent (nothing is checked again); out tag =
    // its tag.
    JResult adoptChild(SharedMemWrapper* wrapper, const void* node, bool collection, uint32_t* outTag);
    // Frees every child table of the subtree (the nodes belong to their allocator).
    void releaseTables(SharedMemWrapper* wrapper);

    // Lays the subtree out from the root; MMS_E_ARG when a counter would
    // pass 32 bits.
    JResult layout(LayoutTotals* totals);

    // --- addressing ---

    // Follows a tag path (depth tags) with its index array (at least depth
    // entries; may be null for depth 0). MMS_E_PATH for a tag out of range, a
    // parameter before the last level, or an index at or above its array size.
    JResult locate(const uint32_t* tags, const uint32_t* indexes, uint32_t depth, TreePosition* out) const;
    // The same without indexes (every index taken as 0).
    JResult locateDefinition(const uint32_t* tags, uint32_t depth, TreePosition* out) const;
    // Depth of the subtree: 1 plus the deepest child.
    uint32_t subtreeDepth() const;

    // "a/b/c" (an optional leading "/" is skipped) -> tag path. MMS_E_NO_MATCH
    // for an unknown name, MMS_E_PATH when a parameter is not the last name,
    // MMS_E_ARG when maxTags is too small or the text is bad.
    JResult resolveNamePath(
        const char* path, uint32_t length, uint32_t* outTags, uint32_t maxTags, uint32_t* outCount) const;
    // Tag path -> "a/b/c" (leading "/" with the flag) in out (size bytes);
    // *outLength without the NUL when given.
    JResult buildNamePath(const uint32_t* tags, uint32_t depth, char* out, uint32_t size, bool leadingSlash,
        uint32_t* outLength = nullptr) const;

    // Definition number of the node at a tag path (root 0).
    JResult definitionNumber(const uint32_t* tags, uint32_t depth, uint32_t* out) const;
    // Definition number -> tag path. MMS_E_NO_MATCH when there is no such number.
    JResult pathFromDefinitionNumber(uint32_t number, uint32_t* outTags, uint32_t maxTags, uint32_t* outCount) const;
    // Element number of a parameter element -> tag path and index array.
    JResult pathFromElementNumber(
        uint32_t number, uint32_t* outTags, uint32_t* outIndexes, uint32_t max, uint32_t* outCount) const;

    // --- values (root only) ---

    JResult getValue(const TreeData& tree, const uint32_t* tags, const uint32_t* indexes, uint32_t depth,
        JLIB::JVariant* out, uint8_t* outSource = nullptr, uint8_t* page = nullptr, bool clear = false) const;
    // One element. On a change the parameter element's bit and every
    // collection element's bit on the path are marked through the context.
    JResult setValue(const TreeData& tree, const uint32_t* tags, const uint32_t* indexes, uint32_t depth,
        const JLIB::JVariant& value, const WriteContext& context, JLIB::JVariant* oldValue = nullptr) const;
    // Every element of the box between first and last (inclusive per level),
    // values in odometer order (last level fastest), or values[0] for all
    // with repeat. The array must hold exactly the box's element count
    // (at least one with repeat). All or nothing: a refused value leaves the
    // memory unchanged.
    JResult setValues(const TreeData& tree, const uint32_t* tags, const uint32_t* first, const uint32_t* last,
        uint32_t depth, const JLIB::JVariantArray& values, bool repeat, const WriteContext& context) const;
    // Reads the box into out with the source bytes (sourcesOut may be null,
    // else one byte per element); with clear clears the bits read and then
    // the collection bits with nothing left set below. 0x100 when a cleared
    // bit was set.
    JResult readBox(const TreeData& tree, const uint32_t* tags, const uint32_t* first, const uint32_t* last,
        uint32_t depth, JLIB::JVariantArray* out, uint8_t* sourcesOut, uint8_t* page, bool clear) const;
    // Whether the element's (or collection element's) bit is set in page;
    // with clear, a parameter element's bit or a collection element's whole
    // range is cleared (0x100 when set) and enclosing bits with nothing left
    // below are cleared too.
    JResult isChanged(
        const uint32_t* tags, const uint32_t* indexes, uint32_t depth, uint8_t* page, bool clear, bool* out) const;
    // Every parameter's default into all elements; collection element 0 is
    // copied over the others. With track the changes are marked (and each
    // changed collection element's own bit). MMS_E_UNDEFINED when a default can't
    // be written (the rest is still written).
    JResult writeDefaults(const TreeData& tree, const WriteContext& context, bool track) const;

    // Next parameter element after a position (count 0: from the start) in
    // tree order. With bits, only elements whose bit (at bitOffset + change
    // index) is set, and collection elements whose own bit is clear are
    // skipped with their subtree; without bits every element counts. With
    // clear the found bit is cleared and then the enclosing collection bits
    // with nothing left below. 0 with the position; MMS_E_NO_MATCH at the end;
    // MMS_E_ARG when max is too small; MMS_E_PATH for a bad previous path.
    JResult findNext(uint8_t* bits, uint32_t bitOffset, const uint32_t* prevTags, const uint32_t* prevIndexes,
        uint32_t prevCount, bool clear, uint32_t* outTags, uint32_t* outIndexes, uint32_t max,
        uint32_t* outCount) const;

    // The second form: the tag path stays, only the index array advances
    // (prevIndexes null: from the first element). Finds the next element of
    // that one parameter, skipping collection elements whose bit is clear;
    // clearing as findNext. 0 with outIndexes (depth entries); MMS_E_NO_MATCH at
    // the end; MMS_E_PATH when the path does not end at a parameter.
    JResult findNextIndex(uint8_t* bits, uint32_t bitOffset, const uint32_t* tags, uint32_t depth,
        const uint32_t* prevIndexes, bool clear, uint32_t* outIndexes) const;

    // The import-mark bit of a collection element (bit = its collection-element
    // number in importBits). With clear the bit is cleared (0x100 when it was
    // set), and then the element's change bit in page too when neither array
    // has a bit left set inside the element. MMS_E_PATH for a path that ends
    // at a parameter.
    JResult isImportMarked(const uint32_t* tags, const uint32_t* indexes, uint32_t depth, uint8_t* importBits,
        uint8_t* page, bool clear, bool* out) const;

    // Clears the bit of every collection element on the position's path
    // (innermost first) that has no bit set below it any more.
    void clearEmptyEnclosing(const TreePosition& position, uint8_t* bits, uint32_t bitOffset) const;

    // Imports a serialised image's parts (host order) into the data under
    // this root: by position when sameDefinition, else by names. protect
    // (may be null) is laid out like tree.data. Result: 0 with 0x100 when
    // something changed and 0x200 when a value was clamped or skipped;
    // MMS_E_ARG for a malformed image or a name that is a collection's.
    JResult importImage(const TreeData& tree, const uint8_t* part1, uint32_t part1Length, const uint8_t* part2,
        uint32_t part2Length, bool sameDefinition, const uint8_t* protect, const WriteContext& context) const;

    // Imports an image whose top record describes the collection at position
    // (a path that ends at a collection): stored element e goes into element
    // position.elementIndex + e while there is one. Marks as importImage does,
    // and the enclosing collection elements of the position on a change.
    // MMS_E_PATH when the position ends at a parameter.
    JResult importImageAt(const TreeData& tree, const TreePosition& position, const uint8_t* part1,
        uint32_t part1Length, const uint8_t* part2, uint32_t part2Length, bool sameDefinition, const uint8_t* protect,
        const WriteContext& context) const;

    // Handler index of the collection at a tag path (which must end at a
    // collection).
    JResult handlerIndexOf(const uint32_t* tags, uint32_t depth, uint32_t* out) const;
    // Handler indexes of the collections a tag path passes (root first;
    // the parameter's own level is not a collection): out needs MMS_MAX_DEPTH + 1.
    JResult pathHandlerIndexes(const uint32_t* tags, uint32_t depth, uint32_t* out, uint32_t* outCount) const;
    // Stores handler in table[handler index] (tableCount entries): MMS_E_EXISTS
    // when taken; attach failure MMS_E_STATE gives MMS_E_ARG, any other MMS_E_EXISTS.
    JResult setCollectionHandler(ICollectionHandler** table, uint32_t tableCount, const uint32_t* tags, uint32_t depth,
        ICollectionHandler* handler, CollectionWrapper* wrapper) const;
    JResult getCollectionHandler(ICollectionHandler* const* table, uint32_t tableCount, const uint32_t* tags,
        uint32_t depth, ICollectionHandler** out) const;

private:
    // The caller's write context, with the tree's pool and sources where it names none.
    static WriteContext withTree(const WriteContext& context, const TreeData& tree);
    JResult appendChild(SharedMemWrapper* wrapper, const uint32_t* parentTags, uint32_t depth, const char* name,
        const void* node, bool collection, uint32_t* outTag, ChildNameIndex* index);

    char m_name[MMS_NAME_SIZE] = {};
    uint32_t m_arraySize = 0;
};

// Name rule of definitions: 1 to 23 characters within 24 bytes, no space,
// tab or "/".
bool mms_nameValid(const char* name);

// Packs parameters as the layout does: "bit" runs share bytes, other types
// start on a whole byte. Used for a stored image's layout too.
struct PackedCursor {
    uint64_t byte = 0;
    uint32_t bit = 0;
    // Places count elements: bits, or elements of width bytes (a string
    // without maximum has width 0 and takes no bytes); gives the data offset
    // and bit offset of element 0.
    void place(bool bits, uint32_t width, uint32_t count, uint64_t* offset, uint32_t* bitOffset);
    // Completes a partly used byte.
    void finish();
};

static_assert(std::is_trivially_copyable<ParameterNode>::value, "tree nodes are copied as blocks");
static_assert(std::is_trivially_copyable<CollectionNode>::value, "tree nodes are copied as blocks");

} // namespace MMS
