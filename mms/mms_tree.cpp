// The definition tree: child tables, definition, layout and addressing.
#include "mms/mms_tree.h"

#include "mms/mms_wrap.h"

#include <cstring>

namespace MMS {

namespace {
inline intptr_t addressOf(const void* p)
{
    return reinterpret_cast<intptr_t>(p);
}
} // namespace

bool mms_nameValid(const char* name)
{
    if (!name)
        return false;
    const uint32_t length = mms_nameLength(name);
    if (length == 0 || length >= MMS_NAME_SIZE)
        return false;
    for (uint32_t i = 0; i < length; ++i)
        if (name[i] == ' ' || name[i] == '\t' || name[i] == '/')
            return false;
    return true;
}

void PackedCursor::place(bool bits, uint32_t width, uint32_t count, uint64_t* offset, uint32_t* bitOffset)
{
    if (bits) {
        *offset = byte;
        *bitOffset = bit;
        const uint64_t total = static_cast<uint64_t>(bit) + count;
        byte += total / 8;
        bit = static_cast<uint32_t>(total % 8);
        return;
    }
    finish();
    *offset = byte;
    *bitOffset = 0;
    byte += static_cast<uint64_t>(width) * count;
}

void PackedCursor::finish()
{
    if (bit != 0) {
        ++byte;
        bit = 0;
    }
}

// ---------------------------------------------------------------- ChildTable

JResult ChildTable::append(SharedMemWrapper* wrapper, const void* child)
{
    if (!wrapper)
        return MMS_E_INNER;
    if (!child)
        return MMS_E_ARG;
    // The array grows by doubling (at least 4 entries), so that n appends
    // copy O(n) entries in all. The capacity is implied by the count: the
    // array is full at 0 and at every power of two from 4 on; dropLast only
    // lowers the count, so the array is never smaller than that implies.
    const bool full = count == 0 || (count >= 4 && (count & (count - 1)) == 0);
    auto* entries = arrayOffset ? reinterpret_cast<int64_t*>(addressOf(this) + arrayOffset) : nullptr;
    if (full) {
        if (count > UINT32_MAX / 2)
            return MMS_E_MEMORY;
        const size_t oldBytes = static_cast<size_t>(count) * sizeof(int64_t);
        const size_t newBytes = static_cast<size_t>(count == 0 ? 4 : 2 * count) * sizeof(int64_t);
        entries = static_cast<int64_t*>(wrapper->reallocate(entries, oldBytes, newBytes));
        if (!entries)
            return MMS_E_MEMORY;
    }
    entries[count] = addressOf(child) - addressOf(this);
    arrayOffset = addressOf(entries) - addressOf(this);
    ++count;
    return 0;
}

void ChildTable::dropLast()
{
    if (count)
        --count;
}

void* ChildTable::entry(uint32_t i) const
{
    if (i >= count || !arrayOffset)
        return nullptr;
    const auto* entries = reinterpret_cast<const int64_t*>(addressOf(this) + arrayOffset);
    return reinterpret_cast<void*>(addressOf(this) + entries[i]);
}

void ChildTable::release(SharedMemWrapper* wrapper)
{
    if (arrayOffset && wrapper)
        wrapper->free(reinterpret_cast<void*>(addressOf(this) + arrayOffset));
    arrayOffset = 0;
    count = 0;
}

// ------------------------------------------------------------ CollectionNode

JResult CollectionNode::construct(const char* name, uint32_t arraySize)
{
    if (!mms_nameValid(name))
        return MMS_E_INNER;
    *this = CollectionNode();
    mms_copyName(m_name, name);
    m_arraySize = arraySize == 0 ? 1 : arraySize;
    handler.stride = 1;
    return 0;
}

ParameterNode* CollectionNode::parameterByTag(uint32_t tag) const
{
    return tag < parameters.count ? parameterAt(tag) : nullptr;
}

CollectionNode* CollectionNode::collectionByTag(uint32_t tag) const
{
    if (tag < parameters.count)
        return nullptr;
    return collectionAt(tag - parameters.count);
}

const char* CollectionNode::childName(uint32_t tag) const
{
    if (const ParameterNode* p = parameterByTag(tag))
        return p->name();
    if (const CollectionNode* c = collectionByTag(tag))
        return c->name();
    return nullptr;
}

namespace {
bool sameTreeName(const char* a24, const char* b24)
{
    const uint32_t la = mms_nameLength(a24);
    return la == mms_nameLength(b24) && std::memcmp(a24, b24, la) == 0;
}

bool sameTreeName(const char* a24, const char* text, uint32_t length)
{
    return mms_nameLength(a24) == length && std::memcmp(a24, text, length) == 0;
}
} // namespace

ChildNameIndex::Key ChildNameIndex::keyOf(const char* name24)
{
    Key key{};
    std::memcpy(key.bytes, name24, mms_nameLength(name24));
    return key;
}

size_t ChildNameIndex::KeySet::hash(const Key& key)
{
    // FNV-1a over the name's bytes up to its padding.
    uint64_t hash = 14695981039346656037ull;
    for (size_t i = 0; i < sizeof key.bytes && key.bytes[i] != 0; ++i)
        hash = (hash ^ static_cast<uint8_t>(key.bytes[i])) * 1099511628211ull;
    return static_cast<size_t>(hash);
}

size_t ChildNameIndex::KeySet::find(const Key& key) const
{
    const size_t mask = m_slots.size() - 1;
    for (size_t i = hash(key) & mask;; i = (i + 1) & mask) {
        const Key& slot = m_slots[i];
        if (slot.bytes[0] == 0 || std::memcmp(slot.bytes, key.bytes, sizeof key.bytes) == 0)
            return i;
    }
}

bool ChildNameIndex::KeySet::contains(const Key& key) const
{
    return key.bytes[0] != 0 && !m_slots.empty() && m_slots[find(key)].bytes[0] != 0;
}

bool ChildNameIndex::KeySet::insert(const Key& key)
{
    if (key.bytes[0] == 0)
        return false;
    if ((m_count + 1) * 2 > m_slots.size()) {
        std::vector<Key> old(m_slots.size() ? m_slots.size() * 2 : 16, Key{});
        old.swap(m_slots);
        for (const Key& k : old) {
            if (k.bytes[0] != 0)
                m_slots[find(k)] = k;
        }
    }
    Key& slot = m_slots[find(key)];
    if (slot.bytes[0] != 0)
        return false;
    slot = key;
    ++m_count;
    return true;
}

bool ChildNameIndex::contains(const CollectionNode& parent, const char* name24)
{
    if (m_lastParent != &parent) {
        m_last = &m_sets[&parent];
        m_lastParent = &parent;
    }
    Names& set = *m_last;
    if (set.parameters > parent.parameterCount() || set.collections > parent.collectionCount())
        set = Names{}; // children went away: start over
    for (; set.parameters < parent.parameterCount(); ++set.parameters)
        set.names.insert(keyOf(parent.parameterAt(set.parameters)->name()));
    for (; set.collections < parent.collectionCount(); ++set.collections)
        set.names.insert(keyOf(parent.collectionAt(set.collections)->name()));
    return set.names.contains(keyOf(name24));
}

JResult CollectionNode::checkDefine(
    const uint32_t* parentTags, uint32_t depth, const char* name, CollectionNode** parent, ChildNameIndex* index) const
{
    if (depth > MMS_MAX_DEPTH - 1)
        return MMS_E_DEPTH;
    if (!mms_nameValid(name))
        return MMS_E_INNER;
    if (depth != 0 && !parentTags)
        return MMS_E_PATH;
    // Only the holder is wanted, not a full position: every collection has
    // at least one element, so element 0 always exists and a path fails only
    // on a tag out of range or a parameter on the way.
    const CollectionNode* holder = this;
    for (uint32_t k = 0; k < depth; ++k) {
        holder = holder->collectionByTag(parentTags[k]);
        if (!holder)
            return MMS_E_PATH;
    }
    if (index) {
        if (index->contains(*holder, name))
            return MMS_E_EXISTS;
        if (parent)
            *parent = const_cast<CollectionNode*>(holder);
        return 0;
    }
    for (uint32_t i = 0; i < holder->parameters.count; ++i)
        if (sameTreeName(holder->parameterAt(i)->name(), name))
            return MMS_E_EXISTS;
    for (uint32_t i = 0; i < holder->collections.count; ++i)
        if (sameTreeName(holder->collectionAt(i)->name(), name))
            return MMS_E_EXISTS;
    if (parent)
        *parent = const_cast<CollectionNode*>(holder);
    return 0;
}

// Appends a node to the parent a definition names. Its tag is its number
// among all the parent's children, parameters first.
JResult CollectionNode::appendChild(SharedMemWrapper* wrapper, const uint32_t* parentTags, uint32_t depth,
    const char* name, const void* node, bool collection, uint32_t* outTag, ChildNameIndex* index)
{
    CollectionNode* parent = nullptr;
    const JResult checked = checkDefine(parentTags, depth, name, &parent, index);
    if (checked < 0)
        return checked;
    return parent->adoptChild(wrapper, node, collection, outTag);
}

JResult CollectionNode::adoptChild(SharedMemWrapper* wrapper, const void* node, bool collection, uint32_t* outTag)
{
    if (!node || !outTag)
        return MMS_E_ARG;
    ChildTable& list = collection ? collections : parameters;
    const JResult appended = list.append(wrapper, node);
    if (appended < 0)
        return appended;
    *outTag = (collection ? parameters.count : 0) + list.count - 1;
    return 0;
}

JResult CollectionNode::defineCollection(SharedMemWrapper* wrapper, const uint32_t* parentTags, uint32_t depth,
    CollectionNode* node, uint32_t* outTag, ChildNameIndex* index)
{
    if (!node || !outTag)
        return MMS_E_ARG;
    return appendChild(wrapper, parentTags, depth, node->name(), node, true, outTag, index);
}

JResult CollectionNode::defineParameter(SharedMemWrapper* wrapper, const uint32_t* parentTags, uint32_t depth,
    ParameterNode* node, uint32_t* outTag, ChildNameIndex* index)
{
    if (!node || !outTag)
        return MMS_E_ARG;
    return appendChild(wrapper, parentTags, depth, node->name(), node, false, outTag, index);
}

void CollectionNode::releaseTables(SharedMemWrapper* wrapper)
{
    for (uint32_t i = 0; i < collections.count; ++i)
        collectionAt(i)->releaseTables(wrapper);
    collections.release(wrapper);
    parameters.release(wrapper);
}

// -------------------------------------------------------------------- layout

namespace {
JResult layoutCollection(CollectionNode& c, LayoutTotals* totals)
{
    PackedCursor cursor;
    uint64_t change = 1, collectionElements = 1, elements = 0, image = 48, number = 1, handler = 1;
    for (uint32_t i = 0; i < c.parameters.count; ++i) {
        ParameterNode& p = *c.parameterAt(i);
        uint64_t offset = 0;
        uint32_t bitOffset = 0;
        cursor.place(p.type() == PARAM_BIT, p.elementWidth(), p.arraySize(), &offset, &bitOffset);
        if (offset > UINT32_MAX)
            return MMS_E_ARG;
        p.data = {static_cast<uint32_t>(offset), p.elementWidth()};
        p.bitOffset = bitOffset;
        p.elements = {static_cast<uint32_t>(elements), 1};
        p.changes = {static_cast<uint32_t>(change), 1};
        p.image = {static_cast<uint32_t>(image), 32};
        p.number = {static_cast<uint32_t>(number), 1};
        elements += p.arraySize();
        change += p.arraySize();
        image += 32;
        number += 1;
        ++totals->parameterCount;
        if (cursor.byte > UINT32_MAX || elements > UINT32_MAX || change > UINT32_MAX || image > UINT32_MAX)
            return MMS_E_ARG;
    }
    cursor.finish();
    // The data size is a 32-bit value: a wrapped one would undersize the image.
    if (cursor.byte > UINT32_MAX)
        return MMS_E_ARG;
    for (uint32_t i = 0; i < c.collections.count; ++i) {
        CollectionNode& child = *c.collectionAt(i);
        const JResult r = layoutCollection(child, totals);
        if (r < 0)
            return r;
        const uint64_t n = child.arraySize();
        child.data.base = static_cast<uint32_t>(cursor.byte);
        child.changes.base = static_cast<uint32_t>(change);
        child.elements.base = static_cast<uint32_t>(elements);
        child.collectionElements.base = static_cast<uint32_t>(collectionElements);
        child.image.base = static_cast<uint32_t>(image);
        child.numberBase = static_cast<uint32_t>(number);
        child.handler = {static_cast<uint32_t>(handler), 1};
        cursor.byte += n * child.data.stride;
        change += n * child.changes.stride;
        elements += n * child.elements.stride;
        collectionElements += n * child.collectionElements.stride;
        image += child.image.stride;
        number += child.numberCount;
        handler += child.subtreeCollections;
        if (cursor.byte > UINT32_MAX || change > UINT32_MAX || elements > UINT32_MAX || collectionElements > UINT32_MAX
            || image > UINT32_MAX)
            return MMS_E_ARG;
    }
    c.data.stride = static_cast<uint32_t>(cursor.byte);
    c.changes.stride = static_cast<uint32_t>(change);
    c.elements.stride = static_cast<uint32_t>(elements);
    c.collectionElements.stride = static_cast<uint32_t>(collectionElements);
    c.image.stride = static_cast<uint32_t>(image);
    c.numberCount = static_cast<uint32_t>(number);
    c.subtreeCollections = static_cast<uint32_t>(handler);
    return 0;
}
} // namespace

JResult CollectionNode::layout(LayoutTotals* totals)
{
    if (!totals)
        return MMS_E_ARG;
    *totals = LayoutTotals();
    const JResult r = layoutCollection(*this, totals);
    if (r < 0)
        return r;
    data.base = changes.base = elements.base = collectionElements.base = image.base = numberBase = 0;
    handler = {0, 1};
    // The function level is one element: its totals are its strides.
    totals->dataSize = data.stride;
    totals->changeCount = changes.stride;
    totals->elementCount = elements.stride;
    totals->imageSize = image.stride;
    totals->collectionElements = collectionElements.stride;
    totals->definitionCount = numberCount;
    totals->collectionCount = subtreeCollections;
    return 0;
}

// ---------------------------------------------------------------- addressing

ElementPlace TreePosition::place(uint8_t* data) const
{
    ElementPlace p;
    if (!parameter)
        return p;
    p.data = data ? data + dataOffset + parameter->data.base : nullptr;
    p.changeIndex = changeIndex + parameter->changes.base;
    p.elementNumber = elementNumber + parameter->elements.base;
    return p;
}

JResult CollectionNode::locate(const uint32_t* tags, const uint32_t* indexes, uint32_t depth, TreePosition* out) const
{
    if (!out)
        return MMS_E_ARG;
    if (depth > MMS_MAX_DEPTH || (depth && (!tags || !indexes)))
        return MMS_E_PATH;
    TreePosition position;
    position.levelChange[0] = 0;
    position.levelStride[0] = changes.stride;
    position.levelCount = 1;
    position.depth = depth;
    const CollectionNode* c = this;
    for (uint32_t k = 0; k < depth; ++k) {
        const uint32_t tag = tags[k];
        const uint32_t index = indexes[k];
        if (const ParameterNode* p = c->parameterByTag(tag)) {
            if (k != depth - 1 || index >= p->arraySize())
                return MMS_E_PATH;
            position.parameter = p;
            position.collection = c;
            position.elementIndex = index;
            position.definitionNumber += p->number.base;
            *out = position;
            return 0;
        }
        const CollectionNode* child = c->collectionByTag(tag);
        if (!child || index >= child->arraySize())
            return MMS_E_PATH;
        position.dataOffset += child->data.base + static_cast<uint64_t>(index) * child->data.stride;
        position.changeIndex += child->changes.at(index);
        position.elementNumber += child->elements.at(index);
        position.collectionElement += child->collectionElements.at(index);
        position.handlerIndex += child->handler.base;
        position.definitionNumber += child->numberBase;
        position.levelChange[position.levelCount] = position.changeIndex;
        position.levelStride[position.levelCount] = child->changes.stride;
        ++position.levelCount;
        c = child;
    }
    position.collection = c;
    position.endCollection = c;
    position.elementIndex = depth ? indexes[depth - 1] : 0;
    *out = position;
    return 0;
}

JResult CollectionNode::locateDefinition(const uint32_t* tags, uint32_t depth, TreePosition* out) const
{
    static const uint32_t zeros[MMS_MAX_DEPTH] = {};
    if (depth > MMS_MAX_DEPTH)
        return MMS_E_PATH;
    return locate(tags, zeros, depth, out);
}

uint32_t CollectionNode::subtreeDepth() const
{
    uint32_t deepest = parameters.count ? 1 : 0;
    for (uint32_t i = 0; i < collections.count; ++i) {
        const uint32_t d = collectionAt(i)->subtreeDepth();
        if (d > deepest)
            deepest = d;
    }
    return 1 + deepest;
}

JResult CollectionNode::resolveNamePath(
    const char* path, uint32_t length, uint32_t* outTags, uint32_t maxTags, uint32_t* outCount) const
{
    if (!outCount || (!path && length) || (!outTags && maxTags))
        return MMS_E_ARG;
    *outCount = 0;
    if (length && path[0] == '/') {
        ++path;
        --length;
    }
    if (length == 0 || path[0] == 0)
        return 0;
    const CollectionNode* c = this;
    uint32_t count = 0;
    const char* rest = path;
    uint32_t restLength = length;
    for (;;) {
        const char* name = rest;
        const uint32_t nameLength = mms_splitPath(name, restLength, &rest, &restLength);
        const bool more = name + nameLength < path + length && name[nameLength] == '/';
        if (!c)
            return MMS_E_PATH; // a parameter was not the last name
        if (nameLength == 0 || nameLength >= MMS_NAME_SIZE)
            return MMS_E_NO_MATCH;
        if (count >= maxTags || count >= MMS_MAX_DEPTH)
            return MMS_E_ARG;
        uint32_t tag = UINT32_MAX;
        const CollectionNode* next = nullptr;
        for (uint32_t i = 0; i < c->parameters.count && tag == UINT32_MAX; ++i)
            if (sameTreeName(c->parameterAt(i)->name(), name, nameLength))
                tag = i;
        for (uint32_t i = 0; i < c->collections.count && tag == UINT32_MAX; ++i)
            if (sameTreeName(c->collectionAt(i)->name(), name, nameLength)) {
                tag = c->parameters.count + i;
                next = c->collectionAt(i);
            }
        if (tag == UINT32_MAX)
            return MMS_E_NO_MATCH;
        outTags[count++] = tag;
        c = next;
        if (!more)
            break;
    }
    *outCount = count;
    return 0;
}

JResult CollectionNode::buildNamePath(
    const uint32_t* tags, uint32_t depth, char* out, uint32_t size, bool leadingSlash, uint32_t* outLength) const
{
    if (!out || size == 0 || (depth && !tags))
        return MMS_E_ARG;
    if (depth > MMS_MAX_DEPTH)
        return MMS_E_PATH;
    out[0] = 0;
    const CollectionNode* c = this;
    uint32_t length = 0;
    for (uint32_t k = 0; k < depth; ++k) {
        if (!c)
            return MMS_E_PATH;
        const char* name = c->childName(tags[k]);
        if (!name)
            return MMS_E_PATH;
        const JResult r = mms_appendName(out, size, name, leadingSlash);
        if (r < 0) {
            out[0] = 0;
            return r;
        }
        length = mms_namePathLength(length, name, leadingSlash);
        c = c->collectionByTag(tags[k]);
    }
    if (outLength)
        *outLength = length;
    return 0;
}

JResult CollectionNode::definitionNumber(const uint32_t* tags, uint32_t depth, uint32_t* out) const
{
    if (!out)
        return MMS_E_ARG;
    TreePosition position;
    const JResult r = locateDefinition(tags, depth, &position);
    if (r < 0)
        return r;
    *out = position.definitionNumber;
    return 0;
}

JResult CollectionNode::pathFromDefinitionNumber(
    uint32_t number, uint32_t* outTags, uint32_t maxTags, uint32_t* outCount) const
{
    if (!outCount || (!outTags && maxTags))
        return MMS_E_ARG;
    const CollectionNode* c = this;
    uint32_t local = number;
    uint32_t count = 0;
    for (;;) {
        if (local >= c->numberCount)
            return MMS_E_NO_MATCH;
        if (local == 0)
            break;
        if (count >= maxTags)
            return MMS_E_ARG;
        if (local <= c->parameters.count) {
            outTags[count++] = local - 1;
            break;
        }
        // Children lie in ascending order of their number bases.
        uint32_t lo = 0, hi = c->collections.count;
        while (hi - lo > 1) {
            const uint32_t mid = (lo + hi) / 2;
            if (c->collectionAt(mid)->numberBase <= local)
                lo = mid;
            else
                hi = mid;
        }
        const CollectionNode* child = c->collectionAt(lo);
        if (!child || child->numberBase > local)
            return MMS_E_NO_MATCH;
        outTags[count++] = c->parameters.count + lo;
        local -= child->numberBase;
        c = child;
    }
    *outCount = count;
    return 0;
}

namespace {
// Of count children in order of base, the last whose base is at or below
// rest (0 when there is none).
template <typename BaseOf> uint32_t lastAtOrBelow(uint32_t count, uint32_t rest, BaseOf baseOf)
{
    uint32_t lo = 0, hi = count;
    while (hi - lo > 1) {
        const uint32_t mid = (lo + hi) / 2;
        if (baseOf(mid) <= rest)
            lo = mid;
        else
            hi = mid;
    }
    return lo;
}
} // namespace

JResult CollectionNode::pathFromElementNumber(
    uint32_t number, uint32_t* outTags, uint32_t* outIndexes, uint32_t max, uint32_t* outCount) const
{
    if (!outCount || ((!outTags || !outIndexes) && max))
        return MMS_E_ARG;
    if (number >= elements.stride)
        return MMS_E_NO_MATCH;
    const CollectionNode* c = this;
    uint32_t rest = number;
    uint32_t count = 0;
    for (;;) {
        if (count >= max)
            return MMS_E_ARG;
        const uint32_t firstChild = c->collections.count ? c->collectionAt(0)->elements.base : c->elements.stride;
        if (rest < firstChild) {
            const uint32_t lo = lastAtOrBelow(
                c->parameters.count, rest, [c](uint32_t i) { return c->parameterAt(i)->elements.base; });
            const ParameterNode* p = c->parameterAt(lo);
            if (!p || rest < p->elements.base || rest - p->elements.base >= p->arraySize())
                return MMS_E_NO_MATCH;
            outTags[count] = lo;
            outIndexes[count] = rest - p->elements.base;
            *outCount = count + 1;
            return 0;
        }
        const uint32_t lo
            = lastAtOrBelow(c->collections.count, rest, [c](uint32_t i) { return c->collectionAt(i)->elements.base; });
        const CollectionNode* child = c->collectionAt(lo);
        if (!child || child->elements.stride == 0)
            return MMS_E_NO_MATCH;
        const uint32_t inside = rest - child->elements.base;
        const uint32_t index = inside / child->elements.stride;
        if (index >= child->arraySize())
            return MMS_E_NO_MATCH;
        outTags[count] = c->parameters.count + lo;
        outIndexes[count] = index;
        ++count;
        rest = inside % child->elements.stride;
        c = child;
    }
}

// ------------------------------------------------------------------ handlers

JResult CollectionNode::handlerIndexOf(const uint32_t* tags, uint32_t depth, uint32_t* out) const
{
    if (!out)
        return MMS_E_ARG;
    TreePosition position;
    const JResult r = locateDefinition(tags, depth, &position);
    if (r < 0)
        return r;
    if (position.parameter)
        return MMS_E_PATH;
    *out = position.handlerIndex;
    return 0;
}

JResult CollectionNode::pathHandlerIndexes(
    const uint32_t* tags, uint32_t depth, uint32_t* out, uint32_t* outCount) const
{
    if (!out || !outCount || (depth && !tags))
        return MMS_E_ARG;
    if (depth > MMS_MAX_DEPTH)
        return MMS_E_PATH;
    const CollectionNode* c = this;
    uint32_t index = 0;
    uint32_t count = 0;
    out[count++] = 0;
    for (uint32_t k = 0; k < depth; ++k) {
        if (c->parameterByTag(tags[k])) {
            if (k != depth - 1)
                return MMS_E_PATH;
            break;
        }
        const CollectionNode* child = c->collectionByTag(tags[k]);
        if (!child)
            return MMS_E_PATH;
        index += child->handler.base;
        out[count++] = index;
        c = child;
    }
    *outCount = count;
    return 0;
}

JResult CollectionNode::setCollectionHandler(ICollectionHandler** table, uint32_t tableCount, const uint32_t* tags,
    uint32_t depth, ICollectionHandler* handler, CollectionWrapper* wrapper) const
{
    if (!table || !handler)
        return MMS_E_ARG;
    uint32_t index = 0;
    const JResult r = handlerIndexOf(tags, depth, &index);
    if (r < 0)
        return r;
    if (index >= tableCount)
        return MMS_E_ARG;
    if (table[index])
        return MMS_E_EXISTS;
    const JResult attached = handler->attach(wrapper);
    if (attached < 0)
        return attached == MMS_E_STATE ? MMS_E_ARG : MMS_E_EXISTS;
    table[index] = handler;
    return 0;
}

JResult CollectionNode::getCollectionHandler(ICollectionHandler* const* table, uint32_t tableCount,
    const uint32_t* tags, uint32_t depth, ICollectionHandler** out) const
{
    if (!table || !out)
        return MMS_E_ARG;
    uint32_t index = 0;
    const JResult r = handlerIndexOf(tags, depth, &index);
    if (r < 0)
        return r;
    if (index >= tableCount)
        return MMS_E_ARG;
    *out = table[index];
    return 0;
}

} // namespace MMS
