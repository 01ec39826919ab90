// Root: image size, export and import.
#include "mms/mms_root.h"
#include "mms/mms_root_internal.h"

#include "pbd/jlib/jvariant.h"

#include <cstring>
#include <new>

namespace MMS {

using JLIB::JVariant;
using JLIB::JVariantArray;
using namespace rootimpl;

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

} // namespace MMS
