// Helpers shared by the files of Root: name compares, bit counts, the node
// block's alignment, and the templates of the by-name and query forms.
// Internal to the memory library.
#pragma once

#include "mms/mms_root.h"

#include <cstring>

namespace MMS {
namespace rootimpl {
constexpr uint32_t kMaxTags = MMS_MAX_DEPTH;
// For name forms without indexes: no resolved path is deeper than this.
constexpr uint32_t kAnyDepth = kMaxTags;
// Longest name-path text: five names, their slashes and a NUL.
constexpr uint32_t kMaxPathText = MMS_MAX_DEPTH * (MMS_NAME_SIZE + 1) + 1;

inline uint32_t ceilBytes(uint32_t bits)
{
    return static_cast<uint32_t>((static_cast<uint64_t>(bits) + 7) / 8);
}

inline size_t nameLength(const char* name)
{
    size_t n = 0;
    while (n < MMS_NAME_SIZE && name[n] != 0)
        ++n;
    return n;
}

inline bool sameName(const char* a, const char* b)
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
} // namespace rootimpl

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

// The name forms: the path is resolved in the state the tag form needs, and the
// caller's indexes must reach at least as deep as the path.
template <typename TagForm>
JResult Root::byName(uint8_t state, const char* path, uint32_t length, uint32_t indexCount, TagForm tagForm) const
{
    if (m_state != state)
        return MMS_E_STATE;
    uint32_t tags[rootimpl::kMaxTags];
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
        uint32_t tags[rootimpl::kMaxTags];
        const JResult r = step(tags, max < rootimpl::kMaxTags ? max : rootimpl::kMaxTags, prevTags, depth);
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

} // namespace MMS
