// Values by tag path: get, set, boxes of elements, change bits, defaults and
// the walk to the next changed element.
#include "mms/mms_dirty.h"
#include "mms/mms_tree.h"
#include "mms/mms_wrap.h"
#include "pbd/jlib/jvariant.h"

#include <vector>

using JLIB::JVariant;
using JLIB::JVariantArray;

namespace MMS {

namespace {

// The data image must hold the whole laid-out function.
bool fits(const TreeData& tree, const CollectionNode& root)
{
    return tree.data && tree.dataSize >= root.data.stride;
}

// A parameter element changed: the collection elements on its path are
// marked too, innermost first.
void markPath(const TreePosition& position, const WriteContext& context)
{
    if (!context.dirty)
        return;
    for (uint32_t level = position.levelCount; level-- > 0;)
        context.dirty->markChange(position.levelChange[level]);
}

// Checks a box (first..last per level) and counts its elements.
JResult boxCount(const uint32_t* first, const uint32_t* last, uint32_t depth, uint64_t* count)
{
    if (!first || !last || depth == 0)
        return MMS_E_PATH;
    uint64_t n = 1;
    for (uint32_t k = 0; k < depth; ++k) {
        if (first[k] > last[k])
            return MMS_E_ARG;
        n *= static_cast<uint64_t>(last[k]) - first[k] + 1;
        if (n > UINT32_MAX)
            return MMS_E_ARG;
    }
    *count = n;
    return 0;
}

} // namespace

WriteContext CollectionNode::withTree(const WriteContext& context, const TreeData& tree)
{
    WriteContext c = context;
    if (!c.pool)
        c.pool = tree.pool;
    if (!c.sources)
        c.sources = tree.sources;
    return c;
}

JResult CollectionNode::getValue(const TreeData& tree, const uint32_t* tags, const uint32_t* indexes, uint32_t depth,
    JVariant* out, uint8_t* outSource, uint8_t* page, bool clear) const
{
    if (!out || !fits(tree, *this))
        return MMS_E_ARG;
    TreePosition position;
    JResult r = locate(tags, indexes, depth, &position);
    if (r < 0)
        return r;
    if (!position.parameter)
        return MMS_E_PATH;
    const ElementPlace place = position.place(tree.data);
    r = position.parameter->readElement(out, place.data, position.elementIndex);
    if (r < 0)
        return r;
    const uint32_t change = place.changeIndex + position.elementIndex;
    if (outSource)
        *outSource = tree.sources ? tree.sources[change] : 0;
    JResult result = 0;
    if (clear && page && mms_clearBit(page, change)) {
        result = MMS_CHANGED;
        clearEmptyEnclosing(position, page, 0);
    }
    return result;
}

JResult CollectionNode::setValue(const TreeData& tree, const uint32_t* tags, const uint32_t* indexes, uint32_t depth,
    const JVariant& value, const WriteContext& context, JVariant* oldValue) const
{
    if (!fits(tree, *this))
        return MMS_E_ARG;
    TreePosition position;
    const JResult located = locate(tags, indexes, depth, &position);
    if (located < 0)
        return located;
    if (!position.parameter)
        return MMS_E_PATH;
    const WriteContext c = withTree(context, tree);
    const JResult r
        = position.parameter->setElement(position.place(tree.data), value, position.elementIndex, c, oldValue);
    if (r > 0 && (r & MMS_CHANGED))
        markPath(position, c);
    return r;
}

JResult CollectionNode::setValues(const TreeData& tree, const uint32_t* tags, const uint32_t* first,
    const uint32_t* last, uint32_t depth, const JVariantArray& values, bool repeat, const WriteContext& context) const
{
    if (!fits(tree, *this))
        return MMS_E_ARG;
    uint64_t total = 0;
    JResult r = boxCount(first, last, depth, &total);
    if (r < 0)
        return r;
    TreePosition position;
    if ((r = locate(tags, last, depth, &position)) < 0)
        return r;
    if ((r = locate(tags, first, depth, &position)) < 0)
        return r;
    const ParameterNode* parameter = position.parameter;
    if (!parameter)
        return MMS_E_PATH;
    if (repeat ? values.count() < 1 : values.count() != total)
        return MMS_E_ARG;
    const WriteContext c = withTree(context, tree);

    // Admit every value before writing any: a refused one leaves all as it was.
    std::vector<JVariant> admitted(repeat ? 1 : static_cast<size_t>(total));
    JResult result = 0;
    for (size_t i = 0; i < admitted.size(); ++i) {
        JVariant in;
        if (values.get(&in, static_cast<uint32_t>(i)) < 0)
            return MMS_E_ARG;
        result = mms_combine(result, parameter->admit(&admitted[i], in, c.flags));
        if (result < 0)
            return result;
    }
    uint32_t current[MMS_MAX_DEPTH];
    for (uint32_t k = 0; k < depth; ++k)
        current[k] = first[k];
    for (uint64_t i = 0; i < total; ++i) {
        if ((r = locate(tags, current, depth, &position)) < 0)
            return r;
        const ElementPlace place = position.place(tree.data);
        const uint32_t index = position.elementIndex;
        bool skip = false;
        if (c.filter) {
            const uint8_t lastSource = c.sources ? c.sources[place.changeIndex + index] : 0;
            skip = c.filter->skipWrite(lastSource, c.source);
        }
        if (!skip) {
            const JResult written = parameter->writeElement(place.data, admitted[repeat ? 0 : i], index);
            result = mms_combine(result, written);
            if (written > 0 && (written & MMS_CHANGED)) {
                if (c.dirty)
                    c.dirty->markChange(place.changeIndex + index);
                if (c.notify)
                    c.notify->notify(place.elementNumber + index);
                if (c.sources)
                    c.sources[place.changeIndex + index] = c.source;
                markPath(position, c);
            }
        }
        mms_stepIndexes(first, current, last, depth);
    }
    return result;
}

JResult CollectionNode::readBox(const TreeData& tree, const uint32_t* tags, const uint32_t* first, const uint32_t* last,
    uint32_t depth, JVariantArray* out, uint8_t* sourcesOut, uint8_t* page, bool clear) const
{
    if (!fits(tree, *this) || !out)
        return MMS_E_ARG;
    uint64_t total = 0;
    JResult r = boxCount(first, last, depth, &total);
    if (r < 0)
        return r;
    TreePosition position;
    if ((r = locate(tags, last, depth, &position)) < 0 || (r = locate(tags, first, depth, &position)) < 0)
        return r;
    if (!position.parameter)
        return MMS_E_PATH;
    if (out->count() != total)
        return MMS_E_ARG;
    uint32_t current[MMS_MAX_DEPTH];
    for (uint32_t k = 0; k < depth; ++k)
        current[k] = first[k];
    JResult result = 0;
    for (uint64_t i = 0; i < total; ++i) {
        if ((r = locate(tags, current, depth, &position)) < 0)
            return r;
        const ElementPlace place = position.place(tree.data);
        const uint32_t change = place.changeIndex + position.elementIndex;
        JVariant v;
        if ((r = position.parameter->readElement(&v, place.data, position.elementIndex)) < 0)
            return r;
        if (out->set(static_cast<uint32_t>(i), v) < 0)
            return MMS_E_ARG;
        if (sourcesOut)
            sourcesOut[i] = tree.sources ? tree.sources[change] : 0;
        if (clear && page && mms_clearBit(page, change)) {
            result = MMS_CHANGED;
            clearEmptyEnclosing(position, page, 0);
        }
        mms_stepIndexes(first, current, last, depth);
    }
    return result;
}

JResult CollectionNode::isChanged(
    const uint32_t* tags, const uint32_t* indexes, uint32_t depth, uint8_t* page, bool clear, bool* out) const
{
    if (!page || !out)
        return MMS_E_ARG;
    TreePosition position;
    const JResult r = locate(tags, indexes, depth, &position);
    if (r < 0)
        return r;
    uint32_t bit, span;
    if (position.parameter) {
        bit = position.place(nullptr).changeIndex + position.elementIndex;
        span = 1;
    } else {
        bit = position.changeIndex;
        span = position.endCollection->changes.stride;
    }
    *out = mms_testBit(page, bit);
    if (!clear || !mms_anyBit(page, bit, span))
        return 0;
    mms_clearBits(page, bit, span);
    clearEmptyEnclosing(position, page, 0);
    return MMS_CHANGED;
}

void CollectionNode::clearEmptyEnclosing(const TreePosition& position, uint8_t* bits, uint32_t bitOffset) const
{
    if (!bits)
        return;
    for (uint32_t level = position.levelCount; level-- > 0;) {
        const uint32_t own = bitOffset + position.levelChange[level];
        const uint32_t stride = position.levelStride[level];
        if (stride > 1 && mms_anyBit(bits, own + 1, stride - 1))
            return; // something is still set here, and so in every enclosing element
        mms_clearBit(bits, own);
    }
}

// ------------------------------------------------------------------ defaults

namespace {
struct DefaultsRun {
    const TreeData& tree;
    const WriteContext& context;
    bool track;
    bool failed = false;
};

// Writes the defaults into one collection element; true when it changed.
bool defaultsInElement(
    const CollectionNode& c, uint64_t dataOffset, uint32_t change, uint32_t elementNumber, DefaultsRun& run)
{
    bool changed = false;
    for (uint32_t i = 0; i < c.parameters.count; ++i) {
        const ParameterNode& p = *c.parameterAt(i);
        ElementPlace place;
        place.data = run.tree.data + dataOffset + p.data.base;
        place.changeIndex = change + p.changes.base;
        place.elementNumber = elementNumber + p.elements.base;
        const JResult r = p.writeDefaults(place, run.context, run.track);
        if (r < 0)
            run.failed = true;
        else if (r & MMS_CHANGED)
            changed = true;
    }
    for (uint32_t i = 0; i < c.collections.count; ++i) {
        const CollectionNode& child = *c.collectionAt(i);
        // Every element gets the defaults itself, which is what copying
        // element 0 over the others gives, and compares when tracking.
        for (uint32_t e = 0; e < child.arraySize(); ++e) {
            const uint32_t own = change + child.changes.at(e);
            const bool inner
                = defaultsInElement(child, dataOffset + child.data.base + static_cast<uint64_t>(e) * child.data.stride,
                    own, elementNumber + child.elements.at(e), run);
            if (inner && run.track && run.context.dirty)
                run.context.dirty->markChange(own);
            changed = changed || inner;
        }
    }
    return changed;
}
} // namespace

JResult CollectionNode::writeDefaults(const TreeData& tree, const WriteContext& context, bool track) const
{
    if (!fits(tree, *this))
        return MMS_E_ARG;
    const WriteContext c = withTree(context, tree);
    DefaultsRun run{tree, c, track};
    const bool changed = defaultsInElement(*this, 0, 0, 0, run);
    if (changed && track && c.dirty)
        c.dirty->markChange(0);
    if (run.failed)
        return MMS_E_UNDEFINED;
    return changed ? MMS_CHANGED : 0;
}

// ---------------------------------------------------------------- next walk

namespace {
struct Walk {
    uint8_t* bits;
    uint32_t bitOffset;
    const uint32_t* prevTags;
    const uint32_t* prevIndexes;
    uint32_t prevCount;
    uint32_t* outTags;
    uint32_t* outIndexes;
    uint32_t max;
    uint32_t found = 0; // depth of the found position
};

bool marked(const Walk& w, uint32_t bit)
{
    return !w.bits || mms_testBit(w.bits, w.bitOffset + bit);
}

// Looks inside one collection element (own change index `change`) for the
// next element. follow: this element lies on the previous position's path.
JResult walkElement(const CollectionNode& c, uint32_t change, uint32_t level, bool follow, Walk& w)
{
    follow = follow && level < w.prevCount;
    const uint32_t startTag = follow ? w.prevTags[level] : 0;
    const uint32_t children = c.childCount();
    for (uint32_t tag = startTag; tag < children; ++tag) {
        const bool onPath = follow && tag == startTag;
        if (const ParameterNode* p = c.parameterByTag(tag)) {
            const uint32_t from = onPath ? w.prevIndexes[level] + 1 : 0;
            for (uint32_t i = from; i < p->arraySize(); ++i) {
                if (!marked(w, change + p->changes.at(i)))
                    continue;
                if (level >= w.max)
                    return MMS_E_ARG;
                w.outTags[level] = tag;
                w.outIndexes[level] = i;
                w.found = level + 1;
                return 0;
            }
            continue;
        }
        const CollectionNode& child = *c.collectionByTag(tag);
        const uint32_t from = onPath ? w.prevIndexes[level] : 0;
        for (uint32_t e = from; e < child.arraySize(); ++e) {
            const uint32_t own = change + child.changes.at(e);
            if (!marked(w, own))
                continue; // nothing changed below: skip the subtree
            const JResult r = walkElement(child, own, level + 1, onPath && e == from, w);
            if (r < 0 && r != MMS_E_NO_MATCH)
                return r;
            if (r == 0) {
                if (level >= w.max)
                    return MMS_E_ARG;
                w.outTags[level] = tag;
                w.outIndexes[level] = e;
                return 0;
            }
        }
    }
    return MMS_E_NO_MATCH;
}
} // namespace

JResult CollectionNode::findNext(uint8_t* bits, uint32_t bitOffset, const uint32_t* prevTags,
    const uint32_t* prevIndexes, uint32_t prevCount, bool clear, uint32_t* outTags, uint32_t* outIndexes, uint32_t max,
    uint32_t* outCount) const
{
    if (!outTags || !outIndexes || !outCount)
        return MMS_E_ARG;
    TreePosition position;
    if (prevCount) {
        const JResult r = locate(prevTags, prevIndexes, prevCount, &position);
        if (r < 0)
            return r;
    }
    if (bits && !mms_testBit(bits, bitOffset))
        return MMS_E_NO_MATCH; // the function level's own bit: nothing changed at all
    Walk w{bits, bitOffset, prevTags, prevIndexes, prevCount, outTags, outIndexes, max};
    const JResult r = walkElement(*this, 0, 0, prevCount != 0, w);
    if (r < 0)
        return r;
    *outCount = w.found;
    if (clear && bits && locate(outTags, outIndexes, w.found, &position) == 0) {
        mms_clearBit(bits, bitOffset + position.place(nullptr).changeIndex + position.elementIndex);
        clearEmptyEnclosing(position, bits, bitOffset);
    }
    return 0;
}

namespace {
struct IndexWalk {
    uint8_t* bits;
    uint32_t bitOffset;
    const uint32_t* tags;
    uint32_t depth;
    const uint32_t* prev;
    uint32_t* out;
};

JResult walkIndexes(const CollectionNode& c, uint32_t change, uint32_t level, bool follow, IndexWalk& w)
{
    const bool marked = w.bits != nullptr;
    if (level == w.depth - 1) {
        const ParameterNode& p = *c.parameterByTag(w.tags[level]);
        for (uint32_t i = follow ? w.prev[level] + 1 : 0; i < p.arraySize(); ++i)
            if (!marked || mms_testBit(w.bits, w.bitOffset + change + p.changes.at(i))) {
                w.out[level] = i;
                return 0;
            }
        return MMS_E_NO_MATCH;
    }
    const CollectionNode& child = *c.collectionByTag(w.tags[level]);
    const uint32_t from = follow ? w.prev[level] : 0;
    for (uint32_t e = from; e < child.arraySize(); ++e) {
        const uint32_t own = change + child.changes.at(e);
        if (marked && !mms_testBit(w.bits, w.bitOffset + own))
            continue;
        if (walkIndexes(child, own, level + 1, follow && e == from, w) == 0) {
            w.out[level] = e;
            return 0;
        }
    }
    return MMS_E_NO_MATCH;
}
} // namespace

JResult CollectionNode::findNextIndex(uint8_t* bits, uint32_t bitOffset, const uint32_t* tags, uint32_t depth,
    const uint32_t* prevIndexes, bool clear, uint32_t* outIndexes) const
{
    if (!outIndexes)
        return MMS_E_ARG;
    TreePosition position;
    JResult r = locateDefinition(tags, depth, &position);
    if (r < 0)
        return r;
    if (!position.parameter)
        return MMS_E_PATH;
    if (prevIndexes && (r = locate(tags, prevIndexes, depth, &position)) < 0)
        return r;
    if (bits && !mms_testBit(bits, bitOffset))
        return MMS_E_NO_MATCH;
    IndexWalk w{bits, bitOffset, tags, depth, prevIndexes, outIndexes};
    if ((r = walkIndexes(*this, 0, 0, prevIndexes != nullptr, w)) < 0)
        return r;
    if (clear && bits && locate(tags, outIndexes, depth, &position) == 0) {
        mms_clearBit(bits, bitOffset + position.place(nullptr).changeIndex + position.elementIndex);
        clearEmptyEnclosing(position, bits, bitOffset);
    }
    return 0;
}

JResult CollectionNode::isImportMarked(const uint32_t* tags, const uint32_t* indexes, uint32_t depth,
    uint8_t* importBits, uint8_t* page, bool clear, bool* out) const
{
    if (!importBits || !out)
        return MMS_E_ARG;
    TreePosition position;
    const JResult r = locate(tags, indexes, depth, &position);
    if (r < 0)
        return r;
    if (position.parameter)
        return MMS_E_PATH;
    const uint32_t mark = position.collectionElement;
    *out = mms_testBit(importBits, mark);
    if (!clear || !*out)
        return 0;
    mms_clearBit(importBits, mark);
    const CollectionNode& c = *position.endCollection;
    const bool marksLeft
        = c.collectionElements.stride > 1 && mms_anyBit(importBits, mark + 1, c.collectionElements.stride - 1);
    const bool changesLeft = c.changes.stride > 1 && mms_anyBit(page, position.changeIndex + 1, c.changes.stride - 1);
    if (page && !marksLeft && !changesLeft)
        mms_clearBit(page, position.changeIndex);
    return MMS_CHANGED;
}

} // namespace MMS
