// Import of a serialised image's definition records and data into the tree:
// by position when the definitions are equal, else by name, converting
// element widths. Every record and data extent is checked against the bytes
// present before use.
#include "mms/mms_dirty.h"
#include "mms/mms_image.h"
#include "mms/mms_tree.h"
#include "mms/mms_wrap.h"

#include <cstring>

namespace MMS {

namespace {

namespace L = ImageLayout;

// One collection record of the image, checked to lie inside the block.
struct StoredCollection {
    const uint8_t* header = nullptr;
    uint64_t paramsBegin = 0, paramsEnd = 0, childrenEnd = 0; // offsets in part 1
    uint32_t offset = 0, elementSize = 0, arraySize = 0;
};

bool readCollection(const uint8_t* part1, uint64_t length, uint64_t at, uint64_t limit, StoredCollection* out)
{
    if (at + COLLECTION_RECORD_SIZE > limit || limit > length)
        return false;
    const uint8_t* h = part1 + at;
    if (std::memcmp(h, "COL", 3) != 0 || h[3] != COLLECTION_RECORD_SIZE)
        return false;
    out->header = h;
    out->paramsBegin = at + COLLECTION_RECORD_SIZE;
    out->paramsEnd = out->paramsBegin + imageLoad32(h + L::COL_PARAMETER_BYTES);
    out->childrenEnd = out->paramsEnd + imageLoad32(h + L::COL_CHILD_BYTES);
    out->offset = imageLoad32(h + L::COL_OFFSET);
    out->elementSize = imageLoad32(h + L::COL_ELEMENT_SIZE);
    out->arraySize = imageLoad32(h + L::COL_ARRAY_SIZE);
    return out->childrenEnd <= limit && (out->paramsEnd - out->paramsBegin) % PARAMETER_RECORD_SIZE == 0;
}

// Name of a record (24 bytes at 4 for "COL", at 8 for "PR") and its length.
uint32_t recordName(const uint8_t* field24, const char** name)
{
    *name = reinterpret_cast<const char*>(field24);
    return mms_nameLength(*name);
}

bool nameIs(const char* own24, const char* name, uint32_t length)
{
    return mms_nameLength(own24) == length && std::memcmp(own24, name, length) == 0;
}

struct Import {
    const TreeData& tree;
    const uint8_t* part1;
    uint64_t part1Length;
    const uint8_t* part2;
    uint64_t part2Length;
    bool sameDefinition;
    const uint8_t* protect;
    const WriteContext& context;
};

// Where one collection element of the tree lies.
struct ElementAt {
    uint64_t dataOffset;
    uint32_t change; // own change index
    uint32_t elementNumber; // of its first leaf
    uint32_t collectionElement; // its import-mark position
};

JResult importElement(const CollectionNode& c, const StoredCollection& s, uint64_t storedBase, const ElementAt& at,
    uint32_t level, Import& im);

// A collection element that received a change: its own change bit and its
// import marks.
void markElement(const ElementAt& at, const WriteContext& context)
{
    if (!context.dirty)
        return;
    context.dirty->markChange(at.change);
    context.dirty->markImportFlag(at.collectionElement);
    context.dirty->markImportSearch(at.collectionElement);
}

// Imports stored collection s into every matching element of c.
JResult importCollection(const CollectionNode& c, const StoredCollection& s, uint64_t storedParentBase,
    const ElementAt& parent, uint32_t level, Import& im)
{
    JResult result = 0;
    const uint32_t n = s.arraySize < c.arraySize() ? s.arraySize : c.arraySize();
    for (uint32_t e = 0; e < n; ++e) {
        const uint64_t storedBase = storedParentBase + s.offset + static_cast<uint64_t>(s.elementSize) * e;
        const ElementAt at{parent.dataOffset + c.data.base + static_cast<uint64_t>(e) * c.data.stride,
            parent.change + c.changes.at(e), parent.elementNumber + c.elements.at(e),
            parent.collectionElement + c.collectionElements.at(e)};
        const JResult r = importElement(c, s, storedBase, at, level, im);
        if (r < 0)
            return r;
        if (r & MMS_CHANGED)
            markElement(at, im.context);
        result |= r;
    }
    return result;
}

JResult importElement(const CollectionNode& c, const StoredCollection& s, uint64_t storedBase, const ElementAt& element,
    uint32_t level, Import& im)
{
    const uint64_t dataOffset = element.dataOffset;
    const uint32_t change = element.change;
    const uint32_t elementNumber = element.elementNumber;
    JResult result = 0;
    // Parameters, placed in the stored data by the packing rule.
    PackedCursor cursor;
    uint32_t position = 0;
    for (uint64_t at = s.paramsBegin; at < s.paramsEnd; at += PARAMETER_RECORD_SIZE, ++position) {
        const uint8_t* record = im.part1 + at;
        if (std::memcmp(record, "PR", 2) != 0 || record[2] != PARAMETER_RECORD_SIZE)
            return MMS_E_ARG;
        const uint32_t width = imageLoad16(record + L::PR_WIDTH);
        const uint32_t count = imageLoad16(record + L::PR_ARRAY_SIZE);
        const bool bits = record[L::PR_SWAP_CLASS] == IMAGE_SWAP_UNSIGNED && width == 0;
        uint64_t storedOffset = 0;
        uint32_t storedBit = 0;
        cursor.place(bits, width, count, &storedOffset, &storedBit);

        const ParameterNode* p = nullptr;
        const char* name = nullptr;
        const uint32_t nameLength = recordName(record + L::PR_NAME, &name);
        if (im.sameDefinition || nameLength == 0) {
            p = c.parameterAt(position);
        } else {
            for (uint32_t i = 0; i < c.parameters.count && !p; ++i)
                if (nameIs(c.parameterAt(i)->name(), name, nameLength))
                    p = c.parameterAt(i);
            for (uint32_t i = 0; i < c.collections.count && !p; ++i)
                if (nameIs(c.collectionAt(i)->name(), name, nameLength))
                    return MMS_E_ARG; // a parameter's data can't go into a collection
        }
        if (!p)
            continue; // unknown: skipped
        const uint64_t from = storedBase + storedOffset;
        if (from > im.part2Length)
            return MMS_E_ARG;
        ElementPlace place;
        place.data = im.tree.data + dataOffset + p->data.base;
        place.changeIndex = change + p->changes.base;
        place.elementNumber = elementNumber + p->elements.base;
        const uint8_t* protect = im.protect ? im.protect + dataOffset + p->data.base : nullptr;
        const JResult r
            = p->importElements(place, record, im.part2 + from, storedBit, im.part2Length - from, protect, im.context);
        if (r < 0)
            return r;
        result |= r;
    }
    cursor.finish();

    // Child collections: only those of the tree are followed, so the tree's
    // depth bounds the recursion.
    uint32_t childPosition = 0;
    for (uint64_t at = s.paramsEnd; at < s.childrenEnd; ++childPosition) {
        StoredCollection child;
        if (!readCollection(im.part1, im.part1Length, at, s.childrenEnd, &child))
            return MMS_E_ARG;
        at = child.childrenEnd;
        const CollectionNode* target = nullptr;
        const char* name = nullptr;
        const uint32_t nameLength = recordName(child.header + L::COL_NAME, &name);
        if (im.sameDefinition) {
            target = c.collectionAt(childPosition);
        } else {
            for (uint32_t i = 0; i < c.collections.count && !target; ++i)
                if (nameIs(c.collectionAt(i)->name(), name, nameLength))
                    target = c.collectionAt(i);
        }
        if (!target || level + 1 >= MMS_MAX_DEPTH + 1)
            continue;
        const JResult r = importCollection(*target, child, storedBase, element, level + 1, im);
        if (r < 0)
            return r;
        result |= r;
    }
    return result;
}

} // namespace

JResult CollectionNode::importImage(const TreeData& tree, const uint8_t* part1, uint32_t part1Length,
    const uint8_t* part2, uint32_t part2Length, bool sameDefinition, const uint8_t* protect,
    const WriteContext& context) const
{
    if (!tree.data || tree.dataSize < data.stride || !part1 || (!part2 && part2Length))
        return MMS_E_ARG;
    StoredCollection root;
    if (!readCollection(part1, part1Length, 0, part1Length, &root))
        return MMS_E_ARG;
    const WriteContext c = withTree(context, tree);
    static const uint8_t empty = 0;
    Import im{tree, part1, part1Length, part2 ? part2 : &empty, part2Length, sameDefinition, protect, c};
    // The function level is one element at offset 0 of the data.
    const ElementAt at{0, 0, 0, 0};
    const JResult r = importElement(*this, root, root.offset, at, 0, im);
    if (r < 0)
        return r;
    if (r & MMS_CHANGED)
        markElement(at, c);
    return r;
}

JResult CollectionNode::importImageAt(const TreeData& tree, const TreePosition& position, const uint8_t* part1,
    uint32_t part1Length, const uint8_t* part2, uint32_t part2Length, bool sameDefinition, const uint8_t* protect,
    const WriteContext& context) const
{
    if (!tree.data || tree.dataSize < data.stride || !part1 || (!part2 && part2Length))
        return MMS_E_ARG;
    const CollectionNode* target = position.endCollection;
    if (position.parameter || !target || position.levelCount == 0)
        return MMS_E_PATH;
    StoredCollection stored;
    if (!readCollection(part1, part1Length, 0, part1Length, &stored))
        return MMS_E_ARG;
    const WriteContext c = withTree(context, tree);
    static const uint8_t empty = 0;
    Import im{tree, part1, part1Length, part2 ? part2 : &empty, part2Length, sameDefinition, protect, c};
    const uint32_t first = position.elementIndex;
    const uint32_t available = target->arraySize() - first;
    const uint32_t n = stored.arraySize < available ? stored.arraySize : available;
    JResult result = 0;
    for (uint32_t e = 0; e < n; ++e) {
        const uint64_t storedBase = stored.offset + static_cast<uint64_t>(stored.elementSize) * e;
        const ElementAt at{position.dataOffset + static_cast<uint64_t>(e) * target->data.stride,
            position.changeIndex + e * target->changes.stride, position.elementNumber + e * target->elements.stride,
            position.collectionElement + e * target->collectionElements.stride};
        const JResult r = importElement(*target, stored, storedBase, at, position.depth, im);
        if (r < 0)
            return r;
        if (r & MMS_CHANGED)
            markElement(at, c);
        result |= r;
    }
    // The enclosing collection elements, innermost first.
    if ((result & MMS_CHANGED) && c.dirty)
        for (uint32_t level = position.levelCount - 1; level-- > 0;)
            c.dirty->markChange(position.levelChange[level]);
    return result;
}

} // namespace MMS
